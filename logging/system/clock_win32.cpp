// The system clock on Windows: the wall clock, GetTickCount and the performance counter.
#include <windows.h>

#include <cstdint>

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
    // Per thread: the start of the last UTC second read, converted to local time and encoded
    // (converted afresh at each new second, so a change of the time zone's offset shows within
    // a second), and the value of the last millisecond read. The sum below is the one
    // SiEncodeDateTime makes, so the value is the same to the last bit. Trivial types only:
    // MinGW's emulated thread-local storage must run no destructor here.
    struct TSecond {
        std::int64_t Second;       // UTC seconds since 1601, or -1
        TDateTime Day;             // the local day, encoded
        TSiDateTimeParts Parts;    // the local date and time at the start of the second
        std::int64_t SecondStart;  // milliseconds of the local day at the start of the second
        int Millisecond;           // the last millisecond read within the second, or -1
        TDateTime Value;
        std::int64_t Last;  // the last reading, in 100 ns units
    };
    thread_local TSecond LLast{-1, 0, {}, 0, -1, 0, 0};
    std::int64_t LNow = SystemTime100ns();
    // A small step back of the system time (an adjustment) never takes a thread's timestamps
    // back; a real change of the time shows.
    if (LNow < LLast.Last && LLast.Last - LNow < 10 * kTicksPerMillisecond) LNow = LLast.Last;
    LLast.Last = LNow;
    const std::int64_t LSecond = LNow / kTicksPerSecond;
    const int LMillisecond = static_cast<int>(LNow % kTicksPerSecond / kTicksPerMillisecond);
    if (LSecond != LLast.Second) {
        SYSTEMTIME LFields;
        if (!ToSystemTime(LSecond * kTicksPerSecond, true, LFields)) {
            return SiEncodeDateTime(SiLocalTimeParts());
        }
        LLast.Parts = FromSystemTime(LFields);
        LLast.Parts.Millisecond = 0;
        LLast.Day =
            SiEncodeDateTime({LLast.Parts.Year, LLast.Parts.Month, LLast.Parts.Day, 0, 0, 0, 0});
        LLast.SecondStart =
            ((static_cast<std::int64_t>(LLast.Parts.Hour) * 60 + LLast.Parts.Minute) * 60 +
             LLast.Parts.Second) *
            1000;
        LLast.Second = LSecond;
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
