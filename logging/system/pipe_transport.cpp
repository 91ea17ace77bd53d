// The choice of the check that every opened viewer pipe passes before anything is sent; the
// check itself and the pipe are the system's (pipe_transport_posix.cpp, _win32.cpp).
#include "logging/system/pipe_transport.h"

#include <atomic>

namespace deruz::logging {

namespace {

std::atomic<TSiPipeServerCheck> GPipeServerCheck{nullptr};

}  // namespace

std::uint32_t SiCheckPipeServer(std::intptr_t ANative) noexcept {
    const TSiPipeServerCheck LCheck = GPipeServerCheck.load();
    return LCheck != nullptr ? LCheck(ANative) : SiDefaultPipeServerCheck(ANative);
}

TSiPipeServerCheck SiSetPipeServerCheck(TSiPipeServerCheck ACheck) noexcept {
    return GPipeServerCheck.exchange(ACheck);
}

}  // namespace deruz::logging
