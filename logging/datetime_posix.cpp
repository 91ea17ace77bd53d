// System clock readings for POSIX systems.
#include <time.h>

#include "logging/datetime.h"

namespace deruz::logging {

namespace {

// Converting seconds to calendar fields (above all to local time, which consults the time
// zone) costs far more than reading the clock, so each thread keeps the fields of the last
// second it converted.
struct TSecondCache {
    time_t Second = -1;
    struct tm Fields {};
};

TSiDateTimeParts ReadClock(struct tm* (*AConvert)(const time_t*, struct tm*),
                           TSecondCache& ACache) noexcept {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    if (now.tv_sec != ACache.Second) {
        AConvert(&now.tv_sec, &ACache.Fields);
        ACache.Second = now.tv_sec;
    }
    const struct tm& fields = ACache.Fields;
    TSiDateTimeParts parts;
    parts.Year = fields.tm_year + 1900;
    parts.Month = fields.tm_mon + 1;
    parts.Day = fields.tm_mday;
    parts.Hour = fields.tm_hour;
    parts.Minute = fields.tm_min;
    // A leap second (60) is shown as the last second of its minute.
    parts.Second = fields.tm_sec > 59 ? 59 : fields.tm_sec;
    parts.Millisecond = static_cast<int>(now.tv_nsec / 1'000'000);
    return parts;
}

}  // namespace

TSiDateTimeParts SiLocalTimeParts() noexcept {
    thread_local TSecondCache cache;
    return ReadClock(&localtime_r, cache);
}

TSiDateTimeParts SiUtcTimeParts() noexcept {
    thread_local TSecondCache cache;
    return ReadClock(&gmtime_r, cache);
}

}  // namespace deruz::logging
