// The system clock on Windows: the wall clock, GetTickCount and the performance counter.
#include <windows.h>

#include "logging/system/clock.h"

namespace deruz::logging {

namespace {

TSiDateTimeParts FromSystemTime(const SYSTEMTIME& ATime) noexcept {
    TSiDateTimeParts LParts;
    LParts.Year = ATime.wYear;
    LParts.Month = ATime.wMonth;
    LParts.Day = ATime.wDay;
    LParts.Hour = ATime.wHour;
    LParts.Minute = ATime.wMinute;
    LParts.Second = ATime.wSecond;
    LParts.Millisecond = ATime.wMilliseconds;
    return LParts;
}

}  // namespace

TSiDateTimeParts SiLocalTimeParts() noexcept {
    SYSTEMTIME LNow;
    GetLocalTime(&LNow);
    return FromSystemTime(LNow);
}

TDateTime SiSystemLocalNow() noexcept {
    return SiEncodeDateTime(SiLocalTimeParts());
}

TSiDateTimeParts SiUtcTimeParts() noexcept {
    SYSTEMTIME LNow;
    GetSystemTime(&LNow);
    return FromSystemTime(LNow);
}

std::uint32_t SiSystemTickCount() noexcept {
    // The 32-bit counter on purpose: the reconnect interval is compared modulo 2^32.
    return GetTickCount();
}

std::optional<std::int64_t> SiPerformanceFrequency() noexcept {
    LARGE_INTEGER LFrequency;
    if (!QueryPerformanceFrequency(&LFrequency) || LFrequency.QuadPart <= 0) return std::nullopt;
    return LFrequency.QuadPart;
}

std::optional<std::int64_t> SiSystemPerformanceCounter() noexcept {
    LARGE_INTEGER LCounter;
    if (!QueryPerformanceCounter(&LCounter)) return std::nullopt;
    return LCounter.QuadPart;
}

}  // namespace deruz::logging
