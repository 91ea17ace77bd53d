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
    TSiDateTimeParts parts;
    parts.Year = AFields.tm_year + 1900;
    parts.Month = AFields.tm_mon + 1;
    parts.Day = AFields.tm_mday;
    parts.Hour = AFields.tm_hour;
    parts.Minute = AFields.tm_min;
    // A leap second (60) is shown as the last second of its minute.
    parts.Second = AFields.tm_sec > 59 ? 59 : AFields.tm_sec;
    parts.Millisecond = AMillisecond;
    return parts;
}

TSiDateTimeParts ReadClock(struct tm* (*AConvert)(const time_t*, struct tm*),
                           TSecondCache& ACache) noexcept {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    if (now.tv_sec != ACache.Second) {
        AConvert(&now.tv_sec, &ACache.Fields);
        ACache.Second = now.tv_sec;
    }
    return PartsOf(ACache.Fields, static_cast<int>(now.tv_nsec / 1'000'000));
}

}  // namespace

TSiDateTimeParts SiLocalTimeParts() noexcept {
    thread_local TSecondCache cache;
    return ReadClock(&localtime_r, cache);
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
    thread_local TSecond last;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const int millisecond = static_cast<int>(now.tv_nsec / 1'000'000);
    if (now.tv_sec != last.Second) {
        struct tm fields {};
        localtime_r(&now.tv_sec, &fields);
        last.Parts = PartsOf(fields, 0);
        last.Day =
            SiEncodeDateTime({last.Parts.Year, last.Parts.Month, last.Parts.Day, 0, 0, 0, 0});
        last.SecondStart =
            ((static_cast<std::int64_t>(last.Parts.Hour) * 60 + last.Parts.Minute) * 60 +
             last.Parts.Second) *
            1000;
        last.Second = now.tv_sec;
        last.Millisecond = -1;
    } else if (millisecond == last.Millisecond) {
        return last.Value;
    }
    if (last.Day < 0) {
        TSiDateTimeParts parts = last.Parts;
        parts.Millisecond = millisecond;
        last.Value = SiEncodeDateTime(parts);
    } else {
        last.Value = last.Day + static_cast<double>(last.SecondStart + millisecond) / 86'400'000.0;
    }
    last.Millisecond = millisecond;
    return last.Value;
}

TSiDateTimeParts SiUtcTimeParts() noexcept {
    thread_local TSecondCache cache;
    return ReadClock(&gmtime_r, cache);
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
