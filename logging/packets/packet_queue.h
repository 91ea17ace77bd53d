// TSiPacketQueue: a first-in, first-out queue of packets bounded by bytes. A protocol holds
// packets back in one while its backlog is enabled, and the memory protocol keeps its most
// recent packets in one.
//
// Every queued packet costs its nominal size (TSiPacket::GetSize) plus 24 bytes of overhead.
// When a push takes the total above the budget (Backlog), the oldest packets are discarded until
// it fits again; a packet larger than the whole budget thus displaces everything, itself too.
//
// Ownership: the queue holds one reference on every queued packet. Pop hands that reference to
// the caller; every packet the queue discards (trim, Clear, destruction) is first passed to
// OnDelete, if set, and then released.
//
// Not synchronised: the owning protocol uses it under its own lock or on its worker thread.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>

#include "logging/packets/packet.h"

namespace deruz::logging {

class TSiPacketQueue;

// Told about each packet the queue discards, just before the queue releases it.
using TSiPacketQueueEvent = std::function<void(TSiPacketQueue& ASender, TSiPacket& APacket)>;

class TSiPacketQueue {
  public:
    // Bytes each queued packet costs on top of its own size.
    static constexpr std::int64_t kItemOverhead = 24;

    TSiPacketQueue() = default;
    explicit TSiPacketQueue(std::int64_t ABacklog) : FBacklog(ABacklog) {}
    ~TSiPacketQueue();
    TSiPacketQueue(const TSiPacketQueue&) = delete;
    TSiPacketQueue& operator=(const TSiPacketQueue&) = delete;

    // Appends APacket (taking a reference on it), then discards the oldest packets while the
    // queue exceeds its budget.
    void Push(TSiPacket& APacket);
    // Puts APacket (taking a reference on it) in front of every queued packet, as the oldest:
    // for a packet that was sent and has to go again before the queued ones. Then discards the
    // oldest packets while the queue exceeds its budget, as Push does.
    void PushFront(TSiPacket& APacket);
    // Removes the oldest packet and hands over the queue's reference; null when empty.
    TSiPacketPtr Pop();
    // Discards every packet.
    void Clear();

    std::int64_t Backlog() const noexcept { return FBacklog; }
    // Sets the budget in bytes and discards the oldest packets at once if it is exceeded.
    void SetBacklog(std::int64_t AValue);

    const TSiPacketQueueEvent& OnDelete() const noexcept { return FOnDelete; }
    void SetOnDelete(TSiPacketQueueEvent AValue) { FOnDelete = std::move(AValue); }

    std::int32_t Count() const noexcept { return static_cast<std::int32_t>(FItems.size()); }
    // Packets discarded so far because the budget was exceeded (not those Clear discards).
    std::uint64_t Trimmed() const noexcept { return FTrimmed; }
    // The bytes counted against the budget: the sizes of the queued packets plus 24 each.
    std::int64_t Size() const noexcept { return FSize; }

  private:
    struct TSiPacketQueueItem {
        TSiPacketPtr Packet;
        // The cost counted at Push, so that Pop gives back exactly what was added.
        std::int64_t Cost;
    };

    void Trim();
    void Delete(TSiPacketQueueItem& AItem);

    std::deque<TSiPacketQueueItem> FItems;
    std::int64_t FSize = 0;
    std::int64_t FBacklog = 0;
    std::uint64_t FTrimmed = 0;
    TSiPacketQueueEvent FOnDelete;
};

}  // namespace deruz::logging
