// The byte-bounded packet queue of the protocols' backlog and of the memory protocol.
#include "logging/packets/packet_queue.h"

#include <utility>

namespace deruz::logging {

TSiPacketQueue::~TSiPacketQueue() {
    try {
        Clear();
    } catch (...) {
        // A throwing OnDelete must not escape the destructor; the rest is released unreported.
    }
}

void TSiPacketQueue::Push(TSiPacket& APacket) {
    const std::int64_t LCost = APacket.GetSize() + kItemOverhead;
    FItems.push_back(TSiPacketQueueItem{TSiPacketPtr::Share(&APacket), LCost});
    FSize += LCost;
    Trim();
}

void TSiPacketQueue::PushFront(TSiPacket& APacket) {
    const std::int64_t LCost = APacket.GetSize() + kItemOverhead;
    FItems.push_front(TSiPacketQueueItem{TSiPacketPtr::Share(&APacket), LCost});
    FSize += LCost;
    Trim();
}

TSiPacketPtr TSiPacketQueue::Pop() {
    if (FItems.empty()) {
        return nullptr;
    }
    TSiPacketQueueItem LItem = std::move(FItems.front());
    FItems.pop_front();
    FSize -= LItem.Cost;
    return std::move(LItem.Packet);
}

void TSiPacketQueue::Clear() {
    while (!FItems.empty()) {
        TSiPacketQueueItem LItem = std::move(FItems.front());
        FItems.pop_front();
        FSize -= LItem.Cost;
        Delete(LItem);
    }
    FSize = 0;
}

void TSiPacketQueue::SetBacklog(std::int64_t AValue) {
    FBacklog = AValue;
    Trim();
}

void TSiPacketQueue::Trim() {
    while (FSize > FBacklog && !FItems.empty()) {
        TSiPacketQueueItem LItem = std::move(FItems.front());
        FItems.pop_front();
        FSize -= LItem.Cost;
        ++FTrimmed;
        Delete(LItem);
    }
    if (FItems.empty()) {
        FSize = 0;
    }
}

void TSiPacketQueue::Delete(TSiPacketQueueItem& AItem) {
    if (FOnDelete) {
        FOnDelete(*this, *AItem.Packet);
    }
    AItem.Packet.Reset();
}

}  // namespace deruz::logging
