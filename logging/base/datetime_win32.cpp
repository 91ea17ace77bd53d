// System clock readings for Windows.
#include <windows.h>

#include "logging/base/datetime.h"

namespace deruz::logging {

namespace {

TSiDateTimeParts FromSystemTime(const SYSTEMTIME& ATime) noexcept {
    TSiDateTimeParts parts;
    parts.Year = ATime.wYear;
    parts.Month = ATime.wMonth;
    parts.Day = ATime.wDay;
    parts.Hour = ATime.wHour;
    parts.Minute = ATime.wMinute;
    parts.Second = ATime.wSecond;
    parts.Millisecond = ATime.wMilliseconds;
    return parts;
}

}  // namespace

TSiDateTimeParts SiLocalTimeParts() noexcept {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return FromSystemTime(now);
}

TDateTime SiLocalNow() noexcept {
    return SiEncodeDateTime(SiLocalTimeParts());
}

TSiDateTimeParts SiUtcTimeParts() noexcept {
    SYSTEMTIME now;
    GetSystemTime(&now);
    return FromSystemTime(now);
}

}  // namespace deruz::logging
