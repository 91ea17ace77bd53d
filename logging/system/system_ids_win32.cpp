// Thread and process ids on Windows.
#include <windows.h>

#include "logging/system/system_ids.h"

namespace deruz::logging {

std::uint32_t SiCurrentThreadId() noexcept {
    return GetCurrentThreadId();
}

std::uint32_t SiCurrentProcessId() noexcept {
    return GetCurrentProcessId();
}

}  // namespace deruz::logging
