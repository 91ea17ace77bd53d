// The worker of an asynchronous protocol: application threads only queue commands (connect,
// write a packet, disconnect, dispatch), and one thread per connected protocol runs them in
// order, so that logging never waits for a slow pipe, socket or file.
//
// - TSiSchedulerCommand: one queued command with the packet or protocol command it carries.
// - TSiSchedulerQueue: the byte-bounded queue of commands (a write costs its packet's size plus
//   24 bytes, any other command 24 bytes).
// - TSiScheduler: the queue, its lock and the worker thread. When the queue is full a writer
//   either waits for room (throttling) or the oldest queued writes are dropped; connect,
//   disconnect and dispatch commands are never dropped. Once the target has failed, writers
//   never wait. A worker that runs the queue empty in the middle of a run of writes naps for
//   up to kNap before it waits to be woken, so that steady logging costs writers no wake-up
//   calls; a full queue or Stop wakes it at once, and a command queued during the nap waits
//   at most that long (on Windows, as long as the system timer's tick when that is coarser).
//
// - TSiSchedulerTarget: what the worker runs the commands on (an asynchronous protocol). The
//   scheduler knows nothing else of it.
//
// Thread safety: Schedule, RunOrSchedule, Clear, Start, Stop and the property setters may be
// called from any thread; commands run one at a time, on the worker or in RunOrSchedule; the worker
// takes only the scheduler's lock and packet locks itself, and whatever the target takes to run a
// command (the protocol: its event and name locks). Ownership: the queue owns the queued commands,
// and each command holds a reference on what it carries; the scheduler does not own its target,
// which owns it.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "logging/base/intrusive_ptr.h"
#include "logging/packets/packet.h"
#include "logging/protocols/protocol_command.h"

namespace deruz::logging {

enum TSiSchedulerAction : std::uint8_t {
    saConnect,
    saWritePacket,
    saDisconnect,
    saDispatch,
};

class TSiSchedulerCommand;

// Runs the commands of one scheduler on its worker thread.
class TSiSchedulerTarget {
  public:
    // Runs one command; never raises (errors go wherever the target reports them).
    virtual void RunSchedulerCommand(TSiSchedulerCommand& ACommand) noexcept = 0;
    // Once failed, writers no longer wait for room, and a stopping worker drops what is left.
    virtual bool SchedulerTargetFailed() const noexcept = 0;
    // ACount queued or offered writes were dropped (the queue was full or the write larger than
    // the whole queue). Called by the writing thread under the scheduler's lock.
    virtual void SchedulerDroppedWrites(std::uint64_t ACount) noexcept = 0;

  protected:
    ~TSiSchedulerTarget() = default;
};

// A command is owned by exactly one holder at a time (the caller, the queue, then the worker), so
// it is a movable value rather than a shared object; what it carries is reference-counted.
class TSiSchedulerCommand {
  public:
    // A command without state: saConnect or saDisconnect.
    explicit TSiSchedulerCommand(TSiSchedulerAction AAction) : FAction(AAction) {}
    // saWritePacket; takes a reference on APacket.
    explicit TSiSchedulerCommand(TSiPacket& APacket)
        : FPacket(TSiPacketPtr::Share(&APacket)),
          FAction(saWritePacket),
          FSize(APacket.GetSize()) {}
    // saWritePacket run at once (RunOrSchedule), never queued: its size is not needed.
    TSiSchedulerCommand(TSiPacket& APacket, std::nullptr_t)
        : FPacket(TSiPacketPtr::Share(&APacket)), FAction(saWritePacket) {}
    // saDispatch; takes a reference on ACommand.
    explicit TSiSchedulerCommand(TSiProtocolCommand& ACommand)
        : FCommand(TSiProtocolCommandPtr::Share(&ACommand)), FAction(saDispatch) {}

    TSiSchedulerAction Action() const noexcept { return FAction; }
    TSiPacket* Packet() const noexcept { return FPacket.Get(); }
    TSiProtocolCommand* ProtocolCommand() const noexcept { return FCommand.Get(); }
    // The carried packet's size for a write (taken once, when the command was made), else 0.
    std::int64_t Size() const noexcept { return FSize; }

  private:
    TSiPacketPtr FPacket;
    TSiProtocolCommandPtr FCommand;
    TSiSchedulerAction FAction;
    std::int64_t FSize = 0;
};

// First in, first out; not synchronised (the scheduler uses it under its lock).
class TSiSchedulerQueue {
  public:
    static constexpr std::int64_t kItemOverhead = 24;

    void Push(TSiSchedulerCommand ACommand);
    // Removes the oldest command; nothing when empty.
    std::optional<TSiSchedulerCommand> Pop();
    // Drops queued writes from the oldest on, skipping every other command, until at least
    // ABytes (each write counted with its 24 bytes) are freed or the end is reached. Returns
    // the number of writes dropped.
    std::int64_t Trim(std::int64_t ABytes);
    void Clear();

    std::int32_t Count() const noexcept { return static_cast<std::int32_t>(FItems.size()); }
    std::int64_t Size() const noexcept { return FSize; }

  private:
    std::deque<TSiSchedulerCommand> FItems;
    std::int64_t FSize = 0;
};

class TSiScheduler {
  public:
    // The most commands the worker takes per acquisition of the lock.
    static constexpr std::size_t kBatchSize = 16;
    // How long the worker naps when the queue runs empty during a run of writes.
    static constexpr std::chrono::microseconds kNap{500};

    // Created stopped; ATarget runs the commands and must outlive the scheduler.
    explicit TSiScheduler(TSiSchedulerTarget& ATarget);
    // Stops the worker (draining the queue unless the target has failed).
    ~TSiScheduler();
    TSiScheduler(const TSiScheduler&) = delete;
    TSiScheduler& operator=(const TSiScheduler&) = delete;

    // Starts the worker thread; does nothing once started.
    void Start();
    // Refuses further commands and waits until the worker has run what is queued and ended.
    // On the worker thread itself it only refuses further commands (the thread ends once the
    // queue is empty, and is joined later by the destructor on another thread).
    void Stop();

    // Queues ACommand and returns true; false (the command is then dropped, with the reference
    // it holds) when not started, stopped, or when the command alone exceeds the threshold. On a
    // full queue, waits for room when throttling and the target has not failed, else drops the
    // oldest queued writes.
    bool Schedule(TSiSchedulerCommand ACommand);
    // Writes APacket on the calling thread, through the target as the worker would, when
    // nothing is queued and the worker runs no command: so in order after everything queued
    // before, and without handing the packet to another thread. Otherwise queues it as
    // Schedule does. While it runs the calling thread counts as this scheduler's worker
    // (Current, IsWorkerThread). False as Schedule.
    bool RunOrSchedule(TSiPacket& APacket);
    // Drops every queued command.
    void Clear();
    // Wakes a writer waiting for room so that it reads the target's failed state again.
    void WakeWriters();

    std::int64_t Threshold() const;
    void SetThreshold(std::int64_t AValue);
    bool Throttle() const;
    void SetThrottle(bool AValue);

    // Whether the caller runs on this scheduler's worker thread.
    bool IsWorkerThread() const;
    // The scheduler whose worker is the calling thread, or null.
    static TSiScheduler* Current() noexcept;
    TSiSchedulerTarget& Target() const noexcept { return FTarget; }
    // Whether Stop has been called.
    bool Stopping() const noexcept { return FStopped.load(std::memory_order_acquire); }

    // Takes ALock for a worker thread that must never block on it: the lock may be held by a
    // thread that waits for this worker to end. Retries while the lock is taken and gives up
    // (an empty lock) once this scheduler is being stopped.
    std::unique_lock<std::recursive_mutex> LockUnlessStopping(std::recursive_mutex& ALock) const;

  private:
    void Run() noexcept;
    std::size_t Dequeue();
    bool RunCommands(std::size_t ACount);
    bool RunBatch(std::size_t ACount);

    mutable std::mutex FLock;
    // The two events of the queue, as condition variables on FLock. The waiter counts let the
    // other side skip the notification (a system call) when nobody waits.
    std::condition_variable FNotFull;
    std::condition_variable FNotEmpty;
    int FNotFullWaiters = 0;
    int FNotEmptyWaiters = 0;
    // The worker's nap between runs of writes (see Dequeue): whether it naps now, and whether
    // its last look at the queue found work.
    bool FNapping = false;
    bool FBusy = false;
    // Whether commands run now: the worker's batch or a RunOrSchedule; one at a time.
    bool FRunning = false;
    int FIdleWaiters = 0;
    std::condition_variable FIdle;
    // Touched by the worker only.
    std::array<std::optional<TSiSchedulerCommand>, kBatchSize> FBuffer;
    TSiSchedulerQueue FQueue;
    bool FThrottle = true;
    std::int64_t FThreshold = 2048 * 1024;
    bool FStarted = false;
    // Written under FLock; read without it by the worker before each command.
    std::atomic<bool> FStopped{false};
    TSiSchedulerTarget& FTarget;
    std::thread FThread;
    std::thread::id FWorkerId;
};

}  // namespace deruz::logging
