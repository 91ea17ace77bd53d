// The system clock on Windows: the wall clock, GetTickCount and the performance counter.
#include <windows.h>

#include <cstdint>

#include "logging/system/clock.h"
#include "logging/system/local_second.h"

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

using TReadFileTime = void(WINAPI*)(LPFILETIME);

// The system time in 100 ns units since 1601 (UTC): GetSystemTimePreciseAsFileTime where the
// system has it (Windows 8 on; resolved at run time, as the library still runs on Windows 7),
// else GetSystemTimeAsFileTime, the reading GetLocalTime makes.
TReadFileTime FileTimeReader() noexcept {
    if (HMODULE LKernel = GetModuleHandleW(L"kernel32.dll")) {
        if (FARPROC LPrecise = GetProcAddress(LKernel, "GetSystemTimePreciseAsFileTime")) {
            return reinterpret_cast<TReadFileTime>(reinterpret_cast<void*>(LPrecise));
        }
    }
    return &GetSystemTimeAsFileTime;
}

std::int64_t SystemTime100ns() noexcept {
    static const TReadFileTime LRead = FileTimeReader();
    FILETIME LNow;
    LRead(&LNow);
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(LNow.dwHighDateTime) << 32) |
                                     LNow.dwLowDateTime);
}

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kTicksPerMillisecond = 10'000;

FILETIME AsFileTime(std::int64_t ATime) noexcept {
    const auto LTime = static_cast<std::uint64_t>(ATime);
    return FILETIME{static_cast<DWORD>(LTime), static_cast<DWORD>(LTime >> 32)};
}

// The calendar fields of ATime (100 ns units since 1601, UTC), in local time when ALocal:
// converted with the system's offset in force now, as GetLocalTime converts.
bool ToSystemTime(std::int64_t ATime, bool ALocal, SYSTEMTIME& AFields) noexcept {
    FILETIME LTime = AsFileTime(ATime);
    FILETIME LLocal;
    if (ALocal) {
        if (!FileTimeToLocalFileTime(&LTime, &LLocal)) return false;
        LTime = LLocal;
    }
    return FileTimeToSystemTime(&LTime, &AFields) != FALSE;
}

// Every wall-clock reading comes from the one source, so a timestamp and the calendar
// readings agree to the millisecond.
TSiDateTimeParts ReadParts(bool ALocal) noexcept {
    SYSTEMTIME LFields;
    if (!ToSystemTime(SystemTime100ns(), ALocal, LFields)) {
        if (ALocal) {
            GetLocalTime(&LFields);
        } else {
            GetSystemTime(&LFields);
        }
    }
    return FromSystemTime(LFields);
}

}  // namespace

TSiDateTimeParts SiLocalTimeParts() noexcept {
    return ReadParts(true);
}

TDateTime SiSystemLocalNow() noexcept {
    // Per thread: the last UTC second read, converted to local time afresh at each new second
    // (so a change of the time zone's offset shows within a second), and the last reading.
    thread_local TSiLocalSecond LLast;
    thread_local std::int64_t LLastRead = 0;  // in 100 ns units
    std::int64_t LNow = SystemTime100ns();
    // A small step back of the system time (an adjustment) never takes a thread's timestamps
    // back; a real change of the time shows.
    if (LNow < LLastRead && LLastRead - LNow < 10 * kTicksPerMillisecond) LNow = LLastRead;
    LLastRead = LNow;
    const std::int64_t LSecond = LNow / kTicksPerSecond;
    if (LSecond != LLast.Second) {
        SYSTEMTIME LFields;
        if (!ToSystemTime(LSecond * kTicksPerSecond, true, LFields)) {
            return SiEncodeDateTime(SiLocalTimeParts());
        }
        LLast.Start(LSecond, FromSystemTime(LFields));
    }
    return LLast.At(static_cast<int>(LNow % kTicksPerSecond / kTicksPerMillisecond));
}

TSiDateTimeParts SiUtcTimeParts() noexcept {
    return ReadParts(false);
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
