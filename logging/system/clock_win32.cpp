// The system clock on Windows: the wall clock, GetTickCount and the performance counter.
#include <windows.h>

#include "logging/system/clock.h"

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

TDateTime SiSystemLocalNow() noexcept {
    return SiEncodeDateTime(SiLocalTimeParts());
}

TSiDateTimeParts SiUtcTimeParts() noexcept {
    SYSTEMTIME now;
    GetSystemTime(&now);
    return FromSystemTime(now);
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
