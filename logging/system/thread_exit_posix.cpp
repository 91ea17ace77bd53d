// The per-thread state on POSIX systems: a thread_local object whose destructor hands the
// state back (the C library keeps the library that holds it loaded until it has run).
#include "logging/system/thread_exit.h"

namespace deruz::logging {

namespace {

struct TThreadState {
    void* State = nullptr;
    TSiThreadExitHook Hook = nullptr;

    TThreadState() = default;
    TThreadState(const TThreadState&) = delete;
    TThreadState& operator=(const TThreadState&) = delete;
    ~TThreadState() {
        void* LState = State;
        State = nullptr;
        if (LState != nullptr && Hook != nullptr) Hook(LState);
    }
};

thread_local TThreadState GThreadState;

}  // namespace

void* SiThreadState() noexcept {
    return GThreadState.State;
}

bool SiSetThreadState(void* AState, TSiThreadExitHook AHook) noexcept {
    GThreadState.State = AState;
    GThreadState.Hook = AHook;
    return true;
}

}  // namespace deruz::logging
