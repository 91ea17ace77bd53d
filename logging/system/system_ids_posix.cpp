// Thread and process ids on POSIX systems. Every packet carries both, so they are read from
// the system once (per thread, per process) and kept: a system call per packet would
// dominate the cost of logging.
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

#include "logging/system/system_ids.h"

namespace deruz::logging {

namespace {

std::atomic<std::uint32_t> gProcessId{0};

void ForgetProcessId() noexcept {
    gProcessId.store(0, std::memory_order_relaxed);
}

}  // namespace

std::uint32_t SiCurrentThreadId() noexcept {
    thread_local const auto id = static_cast<std::uint32_t>(syscall(SYS_gettid));
    return id;
}

std::uint32_t SiCurrentProcessId() noexcept {
    std::uint32_t id = gProcessId.load(std::memory_order_relaxed);
    if (id == 0) {
        // A forked child gets its own id: forget the parent's at fork.
        static const bool registered = pthread_atfork(nullptr, nullptr, &ForgetProcessId) == 0;
        (void)registered;
        id = static_cast<std::uint32_t>(getpid());
        gProcessId.store(id, std::memory_order_relaxed);
    }
    return id;
}

}  // namespace deruz::logging
