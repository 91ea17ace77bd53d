// The worker thread of asynchronous protocols and its command queue.
#include "logging/protocols/scheduler.h"

#include <utility>

namespace deruz::logging {

// --- TSiSchedulerQueue ------------------------------------------------------------------------

void TSiSchedulerQueue::Push(TSiSchedulerCommand ACommand) {
    FSize += ACommand.Size() + kItemOverhead;
    FItems.push_back(std::move(ACommand));
}

std::optional<TSiSchedulerCommand> TSiSchedulerQueue::Pop() {
    if (FItems.empty()) {
        return std::nullopt;
    }
    std::optional<TSiSchedulerCommand> LCommand(std::move(FItems.front()));
    FItems.pop_front();
    FSize -= LCommand->Size() + kItemOverhead;
    return LCommand;
}

std::int64_t TSiSchedulerQueue::Trim(std::int64_t ABytes) {
    std::int64_t LFreed = 0;
    std::int64_t LDropped = 0;
    auto LItem = FItems.begin();
    while (LItem != FItems.end() && LFreed < ABytes) {
        if (LItem->Action() == saWritePacket) {
            const std::int64_t LCost = LItem->Size() + kItemOverhead;
            LFreed += LCost;
            FSize -= LCost;
            ++LDropped;
            LItem = FItems.erase(LItem);
        } else {
            ++LItem;
        }
    }
    return LDropped;
}

void TSiSchedulerQueue::Clear() {
    FItems.clear();
    FSize = 0;
}

// --- TSiScheduler -----------------------------------------------------------------------------

namespace {

// Set on each worker thread to its scheduler.
thread_local TSiScheduler* GCurrentScheduler = nullptr;

}  // namespace

TSiScheduler* TSiScheduler::Current() noexcept {
    return GCurrentScheduler;
}

TSiScheduler::TSiScheduler(TSiSchedulerTarget& ATarget) : FTarget(ATarget) {}

TSiScheduler::~TSiScheduler() {
    Stop();
    // Stop does not join when called on the worker; the owner never destroys the scheduler
    // there, so the thread has ended or is joined here.
    if (FThread.joinable()) {
        FThread.join();
    }
}

void TSiScheduler::Start() {
    std::lock_guard LGuard(FLock);
    if (FStarted) {
        return;
    }
    FThread = std::thread([this] { Run(); });
    FWorkerId = FThread.get_id();
    FStarted = true;
}

void TSiScheduler::Stop() {
    {
        std::lock_guard LGuard(FLock);
        if (!FStarted || FStopped.load(std::memory_order_relaxed)) {
            return;
        }
        FStopped.store(true, std::memory_order_release);
        FNotEmpty.notify_all();
        FNotFull.notify_all();
    }
    if (!IsWorkerThread() && FThread.joinable()) {
        FThread.join();
    }
}

bool TSiScheduler::Schedule(TSiSchedulerCommand ACommand) {
    const std::int64_t LSize = ACommand.Size();
    std::unique_lock LGuard(FLock);
    if (!FStarted || FStopped.load(std::memory_order_relaxed)) {
        return false;
    }
    if (LSize > FThreshold) {
        if (ACommand.Action() == saWritePacket) FTarget.SchedulerDroppedWrites(1);
        return false;
    }
    while (FQueue.Size() + LSize > FThreshold) {
        // A full queue cuts the worker's nap short.
        if (FNapping) {
            FNapping = false;
            FNotEmpty.notify_one();
        }
        // The worker must never wait for itself (an error handler that logs to the protocol it
        // reports for runs there).
        if (!FThrottle || FTarget.SchedulerTargetFailed() ||
            std::this_thread::get_id() == FWorkerId || GCurrentScheduler == this) {
            if (LSize > 0) {
                if (const std::int64_t LDropped = FQueue.Trim(LSize); LDropped > 0) {
                    FTarget.SchedulerDroppedWrites(static_cast<std::uint64_t>(LDropped));
                }
            }
            break;
        }
        ++FNotFullWaiters;
        FNotFull.wait(LGuard);
        --FNotFullWaiters;
        if (FStopped.load(std::memory_order_relaxed)) {
            return false;
        }
    }
    FQueue.Push(std::move(ACommand));
    if (FNotEmptyWaiters > 0) {
        FNotEmpty.notify_one();
    }
    return true;
}

bool TSiScheduler::RunOrSchedule(TSiPacket& APacket) {
    {
        std::unique_lock LGuard(FLock);
        if (!FStarted || FStopped.load(std::memory_order_relaxed)) {
            return false;
        }
        if (FQueue.Count() != 0 || FRunning || GCurrentScheduler != nullptr) {
            LGuard.unlock();
            return Schedule(TSiSchedulerCommand(APacket));
        }
        FRunning = true;
    }
    GCurrentScheduler = this;
    TSiSchedulerCommand LCommand(APacket, nullptr);
    FTarget.RunSchedulerCommand(LCommand);
    GCurrentScheduler = nullptr;
    std::lock_guard LGuard(FLock);
    FRunning = false;
    if (FIdleWaiters > 0) {
        FIdle.notify_all();
    }
    return true;
}

void TSiScheduler::Clear() {
    // Released outside the lock: freeing packets is the slow part.
    TSiSchedulerQueue LDropped;
    {
        std::lock_guard LGuard(FLock);
        std::swap(LDropped, FQueue);
        if (FNotFullWaiters > 0) {
            FNotFull.notify_all();
        }
    }
}

void TSiScheduler::WakeWriters() {
    std::lock_guard LGuard(FLock);
    if (FNotFullWaiters > 0) {
        FNotFull.notify_all();
    }
}

std::int64_t TSiScheduler::Threshold() const {
    std::lock_guard LGuard(FLock);
    return FThreshold;
}

void TSiScheduler::SetThreshold(std::int64_t AValue) {
    std::lock_guard LGuard(FLock);
    FThreshold = AValue;
    if (FNotFullWaiters > 0) {
        FNotFull.notify_all();
    }
}

bool TSiScheduler::Throttle() const {
    std::lock_guard LGuard(FLock);
    return FThrottle;
}

void TSiScheduler::SetThrottle(bool AValue) {
    std::lock_guard LGuard(FLock);
    FThrottle = AValue;
    if (FNotFullWaiters > 0) {
        FNotFull.notify_all();
    }
}

bool TSiScheduler::IsWorkerThread() const {
    if (GCurrentScheduler == this) return true;
    std::lock_guard LGuard(FLock);
    return FStarted && std::this_thread::get_id() == FWorkerId;
}

std::unique_lock<std::recursive_mutex> TSiScheduler::LockUnlessStopping(
    std::recursive_mutex& ALock) const {
    std::unique_lock LGuard(ALock, std::try_to_lock);
    while (!LGuard.owns_lock()) {
        if (Stopping()) {
            return {};
        }
        std::this_thread::yield();
        LGuard.try_lock();
    }
    return LGuard;
}

void TSiScheduler::Run() noexcept {
    GCurrentScheduler = this;
    for (;;) {
        const std::size_t LCount = Dequeue();
        if (LCount == 0 || !RunCommands(LCount)) {
            break;
        }
    }
}

std::size_t TSiScheduler::Dequeue() {
    std::unique_lock LGuard(FLock);
    if (FQueue.Count() == 0 && FBusy && !FStopped.load(std::memory_order_relaxed)) {
        // The queue ran empty in the middle of a run of writes: nap instead of waiting to be
        // woken, so that writers queue the next ones without a notification (a system call on
        // their side for every write, since a worker that keeps up runs the queue empty after
        // almost every one). A full queue or Stop ends the nap early.
        FNapping = true;
        FNotEmpty.wait_for(
            LGuard, kNap, [this] { return !FNapping || FStopped.load(std::memory_order_relaxed); });
        FNapping = false;
    }
    while (FQueue.Count() == 0 && !FStopped.load(std::memory_order_relaxed)) {
        ++FNotEmptyWaiters;
        FNotEmpty.wait(LGuard);
        --FNotEmptyWaiters;
    }
    // A write run by RunOrSchedule on another thread finishes first.
    while (FRunning) {
        ++FIdleWaiters;
        FIdle.wait(LGuard);
        --FIdleWaiters;
    }
    std::size_t LCount = 0;
    while (LCount < kBatchSize) {
        std::optional<TSiSchedulerCommand> LCommand = FQueue.Pop();
        if (!LCommand) {
            break;
        }
        FBuffer[LCount++] = std::move(LCommand);
    }
    if (LCount > 0 && FNotFullWaiters > 0) {
        FNotFull.notify_all();
    }
    FBusy = LCount > 0;
    FRunning = LCount > 0;
    return LCount;
}

bool TSiScheduler::RunCommands(std::size_t ACount) {
    const bool LGoOn = RunBatch(ACount);
    std::lock_guard LGuard(FLock);
    FRunning = false;
    if (FIdleWaiters > 0) {
        FIdle.notify_all();
    }
    return LGoOn;
}

bool TSiScheduler::RunBatch(std::size_t ACount) {
    for (std::size_t LIndex = 0; LIndex < ACount; ++LIndex) {
        const bool LStopped = FStopped.load(std::memory_order_acquire);
        FTarget.RunSchedulerCommand(*FBuffer[LIndex]);
        FBuffer[LIndex].reset();
        // Once stopping, a failed target gets no further work: whatever is still queued would
        // only be dropped by it, one reconnect attempt at a time.
        if (LStopped && FTarget.SchedulerTargetFailed()) {
            Clear();
            for (std::size_t LRest = LIndex + 1; LRest < ACount; ++LRest) {
                FBuffer[LRest].reset();
            }
            return false;
        }
    }
    return true;
}

}  // namespace deruz::logging
