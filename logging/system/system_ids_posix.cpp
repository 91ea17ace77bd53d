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
    thread_local const auto LId = static_cast<std::uint32_t>(syscall(SYS_gettid));
    return LId;
}

std::uint32_t SiCurrentProcessId() noexcept {
    std::uint32_t LId = gProcessId.load(std::memory_order_relaxed);
    if (LId == 0) {
        // A forked child gets its own id: forget the parent's at fork.
        static const bool LRegistered = pthread_atfork(nullptr, nullptr, &ForgetProcessId) == 0;
        (void)LRegistered;
        LId = static_cast<std::uint32_t>(getpid());
        gProcessId.store(LId, std::memory_order_relaxed);
    }
    return LId;
}

}  // namespace deruz::logging
