// TSiLogLane: the asynchronous log path of the logger core without a lock, an allocation or
// formatting on the logging thread. While every protocol of the core is asynchronous and
// throttled and no filter or log-entry handler can see an entry, a session's plain and
// formatted log entries do not become packets on the caller's thread: the caller copies the
// entry's fields, its format text and its arguments into a queue of its own (one
// single-producer, single-consumer queue per thread and core), and the lane's worker thread
// turns them into log entries, formats the titles and hands them to the core, which writes
// them to its protocols.
//
// The budget: each thread's queue starts small and grows by doubling up to the smallest
// async.queue of the core's protocols, so every logging thread may hold up to async.queue
// bytes of entries of its own (an entry costs its fixed fields, about 40 bytes, plus its
// texts and arguments), and one thread that logs fast never makes another wait. A thread
// whose queue is full at that size waits until the worker has made room: nothing is lost.
//
// Order: the entries of one thread reach the protocols in the order logged; entries of
// different threads in the order of their timestamps as far as the queues hold them when the
// worker looks (an entry stamped before another that is still on its way may come after it).
//
// The worker: while entries come it drains them in batches; when none are queued it naps,
// 50 us doubling to 2 ms, so a lone entry waits at most a nap; after 100 ms without entries it
// sleeps until a writer wakes it (a flag the writer reads after queuing: no lock and no system
// call on the writer's side unless the worker sleeps). A thread's queue list is handed back
// when the thread ends through the library's per-thread slot (system/thread_exit.h), not a
// thread_local object with a destructor.
//
// Thread-safety: Push may be called from any thread while the lane is open; Open, Close and
// the worker's delivery run under the core lock, and the queues are read by one thread at a
// time (the worker, or a thread that closes the lane) under the lane's drain lock, taken after
// the core lock. Close empties every queue into the core before it returns, so disabling the
// core, changing its connections or setting a handler flushes what was logged before it. A
// call that runs at the same time as Close may still queue its entry (the writer takes no
// lock and no barrier to learn that the lane closes): the worker, which reads the queues for
// as long as the core lives, delivers it to the protocols then in force, as such a call could
// have come just before or just after the change.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "logging/base/datetime.h"
#include "logging/base/enums.h"
#include "logging/base/intrusive_ptr.h"
#include "logging/base/level.h"
#include "logging/core/lane_entry.h"

namespace deruz::logging {

class TSiLogEntry;
class TSiSession;

// Receives the entries the worker makes, with the core lock held; AContext is the one given
// to the lane.
using TSiLaneDeliver = void (*)(void* AContext, TSiLogEntry& AEntry) noexcept;

class TSiLogLane {
  public:
    class TRing;

    // ACoreLock is the core lock that delivery runs under; ADeliver(AContext, ...) receives
    // the entries.
    TSiLogLane(TSiLaneDeliver ADeliver, void* AContext, std::recursive_mutex& ACoreLock);
    // Drains what is left (as Close) and ends the worker; the caller must not hold the core
    // lock.
    ~TSiLogLane();
    TSiLogLane(const TSiLogLane&) = delete;
    TSiLogLane& operator=(const TSiLogLane&) = delete;

    bool IsOpen() const noexcept { return FOpen.load(std::memory_order_relaxed); }
    // Opens the lane with a budget of AQueueBytes per thread; starts the worker at the first
    // open. Under the core lock.
    void Open(std::int64_t AQueueBytes);
    // Closes the lane and delivers everything queued. Under the core lock.
    void Close();
    // Delivers everything queued so far, the lane staying open: a packet that takes the
    // ordinary path comes after the entries its thread queued before it. Under the core lock;
    // does nothing on a thread that is delivering for the lane.
    void Flush();

    // Queues AEntry for ASession's thread; false when the lane is closed or the entry cannot
    // be queued (the caller then takes the ordinary path). Never raises.
    bool Push(TSiSession& ASession, const TSiLaneEntry& AEntry) noexcept;

    // The queues the lane holds: one for each thread that queued an entry, until that thread
    // has ended (or moved its queue out) and the queue has been emptied. For tests.
    std::size_t QueueCount() const;
    // Whether the worker sleeps until a writer wakes it (rather than napping). For tests.
    bool IsWorkerAsleep() const noexcept { return FSleeping.load(std::memory_order_relaxed); }

  private:
    TRing* ThreadRing();
    void Run() noexcept;
    // Moves queued entries into the core (under the core lock and the drain lock): up to
    // AMost, or all with 0. Returns how many.
    std::size_t Drain(std::size_t AMost);
    // The worker's batch: Drain(kBatch) under both locks; 0 when it fails.
    std::size_t DrainBatch() noexcept;
    // Wakes the worker, and out of its long sleep if it is in one.
    void WakeWorker() noexcept;
    // A log entry to fill: a pooled one that nothing else holds any more, or a new one. The
    // reader's (under the drain lock).
    TSiLogEntry* NewEntry(TSiLogEntryType AType, TSiViewerId AViewerId);

    TSiLaneDeliver FDeliver;
    void* FContext;
    std::recursive_mutex& FCoreLock;
    const std::uint64_t FId;
    std::atomic<bool> FOpen{false};
    std::atomic<std::int64_t> FBudget{0};
    // Guards FRings (registering threads, the worker's list) and the worker's state.
    mutable std::mutex FRingsLock;
    std::vector<std::shared_ptr<TRing>> FRings;
    // One reader of the queues at a time.
    std::mutex FDrainLock;
    std::vector<TSiRef<TSiLogEntry>> FPool;
    std::size_t FPoolNext = 0;
    std::condition_variable FWake;
    bool FStopping = false;
    // Set by the worker before it sleeps until woken (after a spell of idle naps); a writer
    // that reads it set after queuing wakes it. Cleared under FRingsLock.
    std::atomic<bool> FSleeping{false};
    std::thread FWorker;
};

}  // namespace deruz::logging
