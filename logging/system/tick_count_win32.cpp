// The millisecond tick count on Windows.
#include <windows.h>

#include "logging/system/tick_count.h"

namespace deruz::logging {

std::uint32_t SiSystemTickCount() noexcept {
    // The 32-bit counter on purpose: the reconnect interval is compared modulo 2^32.
    return GetTickCount();
}

}  // namespace deruz::logging
