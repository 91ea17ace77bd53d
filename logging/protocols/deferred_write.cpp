// The thread's scope of deferred writes.
#include "logging/protocols/deferred_write.h"

namespace deruz::logging {

namespace {

// Open scopes on this thread, and the write that the innermost hand-off left pending. Plain
// values, so that no destructor runs at the thread's end (thread_exit.h).
thread_local int GScopes = 0;
thread_local TSiDeferredWriter* GPending = nullptr;

}  // namespace

TSiDeferredWrites::TSiDeferredWrites() noexcept {
    ++GScopes;
}

TSiDeferredWrites::~TSiDeferredWrites() {
    Run();
    --GScopes;
}

void TSiDeferredWrites::Run() noexcept {
    if (TSiDeferredWriter* LWriter = GPending) {
        GPending = nullptr;
        LWriter->RunDeferredWrite();
    }
}

bool TSiDeferredWrites::Defer(TSiDeferredWriter& AWriter) noexcept {
    if (GScopes == 0) {
        return false;
    }
    Run();
    GPending = &AWriter;
    return true;
}

}  // namespace deruz::logging
