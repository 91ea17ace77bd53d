// The system clock on POSIX systems: the wall clock, the tick count and the monotonic counter.
#include <time.h>

#include <cstdint>

#include "logging/system/clock.h"

namespace deruz::logging {

namespace {

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
    // The start of the last second read, encoded; the sum below is the one SiEncodeDateTime
    // makes, so the value is the same to the last bit.
    struct TSecond {
        time_t Second = -1;
        TSiDateTimeParts Parts;
        TDateTime Day = 0;
        std::int64_t SecondStart = 0;  // milliseconds of the day at the start of the second
        // The value of the last millisecond read within that second: entries come in bursts.
        int Millisecond = -1;
        TDateTime Value = 0;
    };
    thread_local TSecond LLast;
    timespec LNow{};
    clock_gettime(CLOCK_REALTIME, &LNow);
    const int LMillisecond = static_cast<int>(LNow.tv_nsec / 1'000'000);
    if (LNow.tv_sec != LLast.Second) {
        struct tm LFields {};
        localtime_r(&LNow.tv_sec, &LFields);
        LLast.Parts = PartsOf(LFields, 0);
        LLast.Day =
            SiEncodeDateTime({LLast.Parts.Year, LLast.Parts.Month, LLast.Parts.Day, 0, 0, 0, 0});
        LLast.SecondStart =
            ((static_cast<std::int64_t>(LLast.Parts.Hour) * 60 + LLast.Parts.Minute) * 60 +
             LLast.Parts.Second) *
            1000;
        LLast.Second = LNow.tv_sec;
        LLast.Millisecond = -1;
    } else if (LMillisecond == LLast.Millisecond) {
        return LLast.Value;
    }
    if (LLast.Day < 0) {
        TSiDateTimeParts LParts = LLast.Parts;
        LParts.Millisecond = LMillisecond;
        LLast.Value = SiEncodeDateTime(LParts);
    } else {
        LLast.Value =
            LLast.Day + static_cast<double>(LLast.SecondStart + LMillisecond) / 86'400'000.0;
    }
    LLast.Millisecond = LMillisecond;
    return LLast.Value;
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
