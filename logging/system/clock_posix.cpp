// The system clock on POSIX systems: the wall clock, the tick count and the monotonic counter.
#include <time.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>

#if defined(__x86_64__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

#include "logging/system/clock.h"
#include "logging/system/local_second.h"

namespace deruz::logging {

namespace {

std::int64_t SystemRealtimeNs() noexcept {
    timespec LNow{};
    clock_gettime(CLOCK_REALTIME, &LNow);
    return static_cast<std::int64_t>(LNow.tv_sec) * 1'000'000'000 + LNow.tv_nsec;
}

#if defined(__x86_64__)

// The wall clock read from the processor's cycle counter, which costs a fraction of a system
// clock reading: the counter's rate is measured against the system clock over the first 20 ms
// and refined at every re-synchronisation, and the pair (counter, system time) that readings
// count from is taken afresh every 250 ms, so a reading stays within microseconds of the
// system clock and follows a change of the system time within a quarter of a second. Used
// only where the counter runs at a constant rate on every processor (the invariant counter,
// and the kernel itself keeps time with it); elsewhere, and until the rate is known, the
// system clock answers.
class TCycleClock {
  public:
    static TCycleClock& Instance() noexcept {
        static TCycleClock LClock;
        return LClock;
    }

    std::int64_t NowNs() noexcept {
        if (!FUsable) return SystemRealtimeNs();
        const std::uint64_t LNow = __rdtsc();
        std::uint64_t LBaseTicks = 0;
        std::int64_t LBaseNs = 0;
        double LNsPerTick = 0;
        for (;;) {
            const std::uint32_t LBefore = FSequence.load(std::memory_order_acquire);
            // Acquire loads (free on x86) keep the second read of the sequence after them;
            // fences would do the same, but ThreadSanitizer does not follow fences.
            LBaseTicks = FBaseTicks.load(std::memory_order_acquire);
            LBaseNs = FBaseNs.load(std::memory_order_acquire);
            LNsPerTick = FNsPerTick.load(std::memory_order_acquire);
            if ((LBefore & 1u) == 0 && FSequence.load(std::memory_order_relaxed) == LBefore) break;
        }
        const std::uint64_t LElapsed = LNow - LBaseTicks;
        if (LNsPerTick <= 0 || LNow < LBaseTicks ||
            static_cast<double>(LElapsed) * LNsPerTick > kResyncNs) {
            return Resync();
        }
        return LBaseNs + static_cast<std::int64_t>(static_cast<double>(LElapsed) * LNsPerTick);
    }

  private:
    static constexpr double kResyncNs = 250e6;
    static constexpr std::int64_t kFirstMeasureNs = 20'000'000;

    TCycleClock() noexcept {
        unsigned LA = 0, LB = 0, LC = 0, LD = 0;
        const bool LInvariant =
            __get_cpuid(0x80000007u, &LA, &LB, &LC, &LD) != 0 && (LD & (1u << 8)) != 0;
        std::string LSource;
        try {
            std::ifstream LFile("/sys/devices/system/clocksource/clocksource0/current_clocksource");
            std::getline(LFile, LSource);
        } catch (...) {
        }
        FUsable = LInvariant && LSource == "tsc";
        FFirstTicks = __rdtsc();
        FFirstNs = SystemRealtimeNs();
    }

    // The system clock answers; one thread at a time measures the rate and takes a new pair.
    std::int64_t Resync() noexcept {
        std::unique_lock LGuard(FResyncLock, std::try_to_lock);
        const std::uint64_t LTicks = __rdtsc();
        const std::int64_t LNs = SystemRealtimeNs();
        if (!LGuard.owns_lock()) return LNs;
        double LNsPerTick = FNsPerTick.load(std::memory_order_relaxed);
        if (LNs - FFirstNs >= kFirstMeasureNs && LTicks > FFirstTicks) {
            // Over the whole time since the start: the longer, the finer.
            LNsPerTick =
                static_cast<double>(LNs - FFirstNs) / static_cast<double>(LTicks - FFirstTicks);
        }
        // Release stores keep the odd sequence before the new pair (a reader that sees any
        // of it sees the sequence changed).
        FSequence.fetch_add(1, std::memory_order_relaxed);
        FBaseTicks.store(LTicks, std::memory_order_release);
        FBaseNs.store(LNs, std::memory_order_release);
        FNsPerTick.store(LNsPerTick, std::memory_order_release);
        FSequence.fetch_add(1, std::memory_order_release);
        return LNs;
    }

    bool FUsable = false;
    std::uint64_t FFirstTicks = 0;
    std::int64_t FFirstNs = 0;
    std::mutex FResyncLock;
    std::atomic<std::uint32_t> FSequence{0};
    std::atomic<std::uint64_t> FBaseTicks{0};
    std::atomic<std::int64_t> FBaseNs{0};
    std::atomic<double> FNsPerTick{0};
};

std::int64_t RealtimeNs() noexcept {
    return TCycleClock::Instance().NowNs();
}

#else

std::int64_t RealtimeNs() noexcept {
    return SystemRealtimeNs();
}

#endif

// Converting seconds to calendar fields (above all to local time, which consults the time
// zone) costs far more than reading the clock, so each thread keeps the fields of the last
// second it converted.
struct TSecondCache {
    time_t Second = -1;
    struct tm Fields {};
};

TSiDateTimeParts PartsOf(const struct tm& AFields, int AMillisecond) noexcept {
    TSiDateTimeParts LParts;
    LParts.Year = AFields.tm_year + 1900;
    LParts.Month = AFields.tm_mon + 1;
    LParts.Day = AFields.tm_mday;
    LParts.Hour = AFields.tm_hour;
    LParts.Minute = AFields.tm_min;
    // A leap second (60) is shown as the last second of its minute.
    LParts.Second = AFields.tm_sec > 59 ? 59 : AFields.tm_sec;
    LParts.Millisecond = AMillisecond;
    return LParts;
}

TSiDateTimeParts ReadClock(struct tm* (*AConvert)(const time_t*, struct tm*),
                           TSecondCache& ACache) noexcept {
    timespec LNow{};
    clock_gettime(CLOCK_REALTIME, &LNow);
    if (LNow.tv_sec != ACache.Second) {
        AConvert(&LNow.tv_sec, &ACache.Fields);
        ACache.Second = LNow.tv_sec;
    }
    return PartsOf(ACache.Fields, static_cast<int>(LNow.tv_nsec / 1'000'000));
}

}  // namespace

TSiDateTimeParts SiLocalTimeParts() noexcept {
    thread_local TSecondCache LCache;
    return ReadClock(&localtime_r, LCache);
}

TDateTime SiSystemLocalNow() noexcept {
    thread_local TSiLocalSecond LLast;
    thread_local std::int64_t LLastNs = 0;
    std::int64_t LNs = RealtimeNs();
    // The cycle counter's readings, re-synchronised, may step back by a few microseconds: a
    // thread's timestamps never go back for that (a change of the system time still shows).
    if (LNs < LLastNs && LLastNs - LNs < 10'000'000) LNs = LLastNs;
    LLastNs = LNs;
    const auto LSecond = static_cast<time_t>(LNs / 1'000'000'000);
    if (LSecond != LLast.Second) {
        struct tm LFields {};
        localtime_r(&LSecond, &LFields);
        LLast.Start(LSecond, PartsOf(LFields, 0));
    }
    return LLast.At(static_cast<int>(LNs % 1'000'000'000 / 1'000'000));
}

TSiDateTimeParts SiUtcTimeParts() noexcept {
    thread_local TSecondCache LCache;
    return ReadClock(&gmtime_r, LCache);
}

std::uint32_t SiSystemTickCount() noexcept {
    timespec LNow{};
    clock_gettime(CLOCK_MONOTONIC, &LNow);
    const auto LMilliseconds = static_cast<std::uint64_t>(LNow.tv_sec) * 1000u +
                               static_cast<std::uint64_t>(LNow.tv_nsec) / 1'000'000u;
    return static_cast<std::uint32_t>(LMilliseconds);
}

// The monotonic clock in nanoseconds.
std::optional<std::int64_t> SiPerformanceFrequency() noexcept {
    return 1000000000;
}

std::optional<std::int64_t> SiSystemPerformanceCounter() noexcept {
    timespec LNow{};
    if (clock_gettime(CLOCK_MONOTONIC, &LNow) != 0) return std::nullopt;
    return static_cast<std::int64_t>(LNow.tv_sec) * 1000000000 + LNow.tv_nsec;
}

}  // namespace deruz::logging
