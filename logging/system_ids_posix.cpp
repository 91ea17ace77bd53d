// Thread and process ids on POSIX systems.
#include <sys/syscall.h>
#include <unistd.h>

#include "logging/system_ids.h"

namespace deruz::logging {

std::uint32_t SiCurrentThreadId() noexcept {
    return static_cast<std::uint32_t>(syscall(SYS_gettid));
}

std::uint32_t SiCurrentProcessId() noexcept {
    return static_cast<std::uint32_t>(getpid());
}

}  // namespace deruz::logging
