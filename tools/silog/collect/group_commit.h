// TGroupCommit: silog collect acknowledges a client's packets only once they are durable (in
// the store and in every destination's queue on disk, synced), and one sync covers every
// packet written before it began: a group commit. A connection's thread numbers each packet
// once it has been written everywhere (Written) and, before it acknowledges, waits until a
// sync has covered that number (WaitDurable). The committing thread syncs whenever someone
// waits, at most every AInterval (0: as soon as the last sync is done), so that under load
// each sync covers many packets and a lone client waits about one sync.
//
// Thread safety: every member may be called from any thread but Start and Stop (the owner).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace deruz::silog::collect {

class TGroupCommit {
  public:
    // Makes durable everything written before it was called; false when some of it is not
    // durable yet (it is called again a little later, and the waiters go on waiting).
    using TSync = std::function<bool()>;

    TGroupCommit(std::chrono::milliseconds AInterval, TSync ASync);
    ~TGroupCommit();
    TGroupCommit(const TGroupCommit&) = delete;
    TGroupCommit& operator=(const TGroupCommit&) = delete;

    void Start();
    // Makes durable what was written (one last sync), releases the waiters and stops; waits
    // that begin later return false at once.
    void Stop();

    // A packet has been written everywhere: its number.
    std::uint64_t Written() noexcept {
        return FWritten.fetch_add(1, std::memory_order_acq_rel) + 1;
    }
    // Waits until the packets up to ANumber are durable; false when the commit stopped first.
    bool WaitDurable(std::uint64_t ANumber);

    std::uint64_t Durable() const noexcept { return FDurablePublished.load(); }
    std::uint64_t Syncs() const noexcept { return FSyncs.load(); }

  private:
    void Run() noexcept;
    // One sync, repeated until it succeeds or the commit stops; true when it succeeded.
    bool SyncUntilDone(bool AOnce);

    const std::chrono::milliseconds FInterval;
    TSync FSync;
    std::atomic<std::uint64_t> FWritten{0};

    std::mutex FLock;
    std::condition_variable FWanted;
    std::condition_variable FDone;
    std::uint64_t FDurable = 0;
    std::uint64_t FWantedThrough = 0;
    bool FStopping = false;
    bool FStopped = false;
    std::atomic<std::uint64_t> FDurablePublished{0};
    std::atomic<std::uint64_t> FSyncs{0};
    std::thread FThread;
};

}  // namespace deruz::silog::collect
