// The millisecond tick count that the protocols measure their reconnect interval with: a 32-bit
// counter that wraps around about every 49.7 days, so intervals are always taken as the unsigned
// 32-bit difference of two readings.
//
// On Windows the counter is GetTickCount; elsewhere it is the monotonic clock in milliseconds,
// truncated to 32 bits, which wraps the same way. Tests substitute their own source to make the
// interval and the wrap-around reproducible without waiting.
//
// Thread safety: SiGetTickCount may be called from any thread; the source is swapped atomically.
#pragma once

#include <atomic>
#include <cstdint>

namespace deruz::logging {

// A function that returns the current tick count in milliseconds.
using TSiTickCountSource = std::uint32_t (*)();

// The system's counter (tick_count_win32.cpp, tick_count_posix.cpp).
std::uint32_t SiSystemTickCount() noexcept;

// The substituted source, or null for the system's counter.
inline std::atomic<TSiTickCountSource> GSiTickCountSource{nullptr};

// The current tick count from the substituted source, else from the system.
inline std::uint32_t SiGetTickCount() {
    const TSiTickCountSource LSource = GSiTickCountSource.load(std::memory_order_acquire);
    return LSource != nullptr ? LSource() : SiSystemTickCount();
}

// Test hook: makes SiGetTickCount read ASource (null restores the system's counter) and returns
// the source used before.
inline TSiTickCountSource SiSetTickCountSource(TSiTickCountSource ASource) {
    return GSiTickCountSource.exchange(ASource, std::memory_order_acq_rel);
}

// Milliseconds from AThen to ANow on the wrapping counter.
constexpr std::uint32_t SiTickDifference(std::uint32_t ANow, std::uint32_t AThen) noexcept {
    return ANow - AThen;
}

}  // namespace deruz::logging
