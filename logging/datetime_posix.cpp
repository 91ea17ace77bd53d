// System clock readings for POSIX systems.
#include <time.h>

#include "logging/datetime.h"

namespace deruz::logging {

namespace {

TSiDateTimeParts ReadClock(struct tm* (*AConvert)(const time_t*, struct tm*)) noexcept {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm fields {};
    AConvert(&now.tv_sec, &fields);
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
    return ReadClock(&localtime_r);
}

TSiDateTimeParts SiUtcTimeParts() noexcept {
    return ReadClock(&gmtime_r);
}

}  // namespace deruz::logging
