// The group commit of silog collect's acknowledgements; see group_commit.h.
#include "tools/silog/collect/group_commit.h"

namespace deruz::silog::collect {

namespace {

// How long a failed sync waits before it is tried again.
constexpr auto kRetryWait = std::chrono::milliseconds(20);

}  // namespace

TGroupCommit::TGroupCommit(std::chrono::milliseconds AInterval, TSync ASync)
    : FInterval(AInterval), FSync(std::move(ASync)) {}

TGroupCommit::~TGroupCommit() {
    Stop();
}

void TGroupCommit::Start() {
    FThread = std::thread([this] { Run(); });
}

void TGroupCommit::Stop() {
    {
        std::lock_guard LGuard(FLock);
        if (FStopping) return;
        FStopping = true;
    }
    FWanted.notify_all();
    if (FThread.joinable()) FThread.join();
    // What was written until now is made durable, and its waiters get their answer.
    const std::uint64_t LThrough = FWritten.load(std::memory_order_acquire);
    const bool LDone = SyncUntilDone(true);
    std::lock_guard LGuard(FLock);
    if (LDone && LThrough > FDurable) FDurable = LThrough;
    FDurablePublished.store(FDurable);
    FStopped = true;
    FDone.notify_all();
}

bool TGroupCommit::WaitDurable(std::uint64_t ANumber) {
    std::unique_lock LGuard(FLock);
    if (FDurable >= ANumber) return true;
    if (FStopped) return false;
    if (ANumber > FWantedThrough) {
        FWantedThrough = ANumber;
        FWanted.notify_one();
    }
    FDone.wait(LGuard, [&] { return FDurable >= ANumber || FStopped; });
    return FDurable >= ANumber;
}

bool TGroupCommit::SyncUntilDone(bool AOnce) {
    for (;;) {
        bool LOk = false;
        try {
            LOk = FSync();
        } catch (...) {
            LOk = false;
        }
        if (LOk) {
            ++FSyncs;
            return true;
        }
        if (AOnce) return false;
        std::unique_lock LGuard(FLock);
        if (FWanted.wait_for(LGuard, kRetryWait, [this] { return FStopping; })) return false;
    }
}

void TGroupCommit::Run() noexcept {
    auto LLastSync = std::chrono::steady_clock::now() - FInterval;
    for (;;) {
        {
            std::unique_lock LGuard(FLock);
            FWanted.wait(LGuard, [this] { return FStopping || FWantedThrough > FDurable; });
            if (FStopping) return;
            if (FInterval.count() > 0) {
                // At most one sync an interval: what arrives meanwhile joins this one.
                if (FWanted.wait_until(LGuard, LLastSync + FInterval,
                                       [this] { return FStopping; })) {
                    return;
                }
            }
        }
        // Everything numbered before the sync begins is covered by it.
        const std::uint64_t LThrough = FWritten.load(std::memory_order_acquire);
        LLastSync = std::chrono::steady_clock::now();
        if (!SyncUntilDone(false)) return;
        std::lock_guard LGuard(FLock);
        if (LThrough > FDurable) FDurable = LThrough;
        FDurablePublished.store(FDurable);
        FDone.notify_all();
    }
}

}  // namespace deruz::silog::collect
