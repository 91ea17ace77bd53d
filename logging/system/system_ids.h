// Identifiers of the calling thread and process, as packets record them.
// Safe to call from any thread.
#pragma once

#include <cstdint>

namespace deruz::logging {

// The operating system's id of the calling thread (on Linux the kernel thread id, as tools
// such as top and gdb show it).
std::uint32_t SiCurrentThreadId() noexcept;

std::uint32_t SiCurrentProcessId() noexcept;

}  // namespace deruz::logging
