// The one boundary through which the library reads the time: the wall clock in local time
// (timestamps, the IV of encrypted files) and in UTC (rotation periods and file names), the
// 32-bit millisecond tick count that reconnect intervals are measured with, and the
// high-resolution counter behind fine timestamps.
//
// The system answers unless a test has put a source of its own in place (SiSetTimeSource); a
// source overrides the readings it fakes and leaves the others to the system. The tick count
// wraps around about every 49.7 days (Windows GetTickCount; elsewhere the monotonic clock in
// milliseconds truncated to 32 bits), so intervals are always the unsigned 32-bit difference
// of two readings.
//
// Thread safety: every reading may be taken from any thread; the source is swapped atomically,
// and a source in place must stay alive until it is replaced.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "logging/base/datetime.h"

namespace deruz::logging {

// The system's own readings (clock_posix.cpp, clock_win32.cpp), whatever source is in place.
TSiDateTimeParts SiLocalTimeParts() noexcept;
TSiDateTimeParts SiUtcTimeParts() noexcept;
// SiEncodeDateTime(SiLocalTimeParts()), made cheaply, as every log entry takes one.
TDateTime SiSystemLocalNow() noexcept;
std::uint32_t SiSystemTickCount() noexcept;
// The high-resolution counter: ticks per second (nothing when there is none, fixed for the
// life of the process) and the current value.
std::optional<std::int64_t> SiPerformanceFrequency() noexcept;
std::optional<std::int64_t> SiSystemPerformanceCounter() noexcept;

// A source of time readings; by default each reading is the system's.
class TSiTimeSource {
  public:
    virtual ~TSiTimeSource() = default;
    virtual TDateTime LocalNow() noexcept { return SiSystemLocalNow(); }
    virtual TDateTime UtcNow() noexcept { return SiEncodeDateTime(SiUtcTimeParts()); }
    virtual std::uint32_t TickCount() noexcept { return SiSystemTickCount(); }
    virtual std::optional<std::int64_t> PerformanceCounter() noexcept {
        return SiSystemPerformanceCounter();
    }
};

// The source in place, or null for the system.
inline std::atomic<TSiTimeSource*> GSiTimeSource{nullptr};

// Test hook: puts ASource in place (null restores the system) and returns the one before.
inline TSiTimeSource* SiSetTimeSource(TSiTimeSource* ASource) noexcept {
    return GSiTimeSource.exchange(ASource, std::memory_order_acq_rel);
}

// The local date and time to the millisecond.
inline TDateTime SiLocalNow() noexcept {
    TSiTimeSource* LSource = GSiTimeSource.load(std::memory_order_acquire);
    return LSource != nullptr ? LSource->LocalNow() : SiSystemLocalNow();
}

// The UTC date and time to the millisecond.
inline TDateTime SiUtcNow() noexcept {
    TSiTimeSource* LSource = GSiTimeSource.load(std::memory_order_acquire);
    return LSource != nullptr ? LSource->UtcNow() : SiEncodeDateTime(SiUtcTimeParts());
}

// The millisecond tick count.
inline std::uint32_t SiGetTickCount() noexcept {
    TSiTimeSource* LSource = GSiTimeSource.load(std::memory_order_acquire);
    return LSource != nullptr ? LSource->TickCount() : SiSystemTickCount();
}

// The high-resolution counter's current value; nothing when there is none.
inline std::optional<std::int64_t> SiPerformanceCounter() noexcept {
    TSiTimeSource* LSource = GSiTimeSource.load(std::memory_order_acquire);
    return LSource != nullptr ? LSource->PerformanceCounter() : SiSystemPerformanceCounter();
}

// Milliseconds from AThen to ANow on the wrapping counter.
constexpr std::uint32_t SiTickDifference(std::uint32_t ANow, std::uint32_t AThen) noexcept {
    return ANow - AThen;
}

}  // namespace deruz::logging
