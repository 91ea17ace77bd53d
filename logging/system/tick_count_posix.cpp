// The millisecond tick count on POSIX systems: the monotonic clock, truncated to 32 bits so that
// it wraps around as the Windows counter does.
#include <time.h>

#include "logging/system/tick_count.h"

namespace deruz::logging {

std::uint32_t SiSystemTickCount() noexcept {
    timespec LNow{};
    clock_gettime(CLOCK_MONOTONIC, &LNow);
    const auto LMilliseconds = static_cast<std::uint64_t>(LNow.tv_sec) * 1000u +
                               static_cast<std::uint64_t>(LNow.tv_nsec) / 1'000'000u;
    return static_cast<std::uint32_t>(LMilliseconds);
}

}  // namespace deruz::logging
