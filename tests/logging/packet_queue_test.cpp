// The byte-bounded packet queue: order, the 24-byte item overhead, trimming of the oldest
// packets, and that every discarded packet is reported and released.
#include "logging/packets/packet_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/logging/recording_protocol.h"

namespace deruz::logging {
namespace {

using testing::Entry;

// The titles of the packets passed to OnDelete, in order.
struct DeleteLog {
    std::vector<std::string> Titles;
    void Attach(TSiPacketQueue& AQueue) {
        AQueue.SetOnDelete([this](TSiPacketQueue&, TSiPacket& APacket) {
            Titles.push_back(static_cast<TSiLogEntry&>(APacket).Title);
        });
    }
};

TEST(PacketQueueTest, FifoWithSizeAccounting) {
    TSiPacketQueue LQueue(1 << 20);
    const TSiPacketPtr LFirst = Entry("first");
    const TSiPacketPtr LSecond = Entry("second");
    LQueue.Push(*LFirst);
    LQueue.Push(*LSecond);
    EXPECT_EQ(LQueue.Count(), 2);
    EXPECT_EQ(LQueue.Size(), LFirst->GetSize() + LSecond->GetSize() + 2 * 24);
    EXPECT_EQ(LFirst->RefCount(), 2);  // the queue holds its own reference

    TSiPacketPtr LPopped = LQueue.Pop();
    EXPECT_EQ(LPopped.Get(), LFirst.Get());
    EXPECT_EQ(LQueue.Size(), LSecond->GetSize() + 24);
    LPopped.Reset();
    EXPECT_EQ(LFirst->RefCount(), 1);  // Pop handed the queue's reference over

    EXPECT_EQ(LQueue.Pop().Get(), LSecond.Get());
    EXPECT_FALSE(LQueue.Pop());
    EXPECT_EQ(LQueue.Count(), 0);
    EXPECT_EQ(LQueue.Size(), 0);
}

TEST(PacketQueueTest, PushTrimsOldestBeyondBudget) {
    const TSiPacketPtr LPackets[] = {Entry("a"), Entry("b"), Entry("c"), Entry("d")};
    const std::int64_t LCost = LPackets[0]->GetSize() + 24;  // equal titles lengths, equal costs
    TSiPacketQueue LQueue(2 * LCost);
    DeleteLog LDeleted;
    LDeleted.Attach(LQueue);
    for (const auto& LPacket : LPackets) {
        LQueue.Push(*LPacket);
    }
    EXPECT_EQ(LDeleted.Titles, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(LQueue.Count(), 2);
    EXPECT_EQ(LQueue.Size(), 2 * LCost);
    EXPECT_EQ(LPackets[0]->RefCount(), 1);  // discarded packets are released
    EXPECT_EQ(static_cast<TSiLogEntry&>(*LQueue.Pop()).Title, "c");

    // Lowering the budget trims at once.
    LQueue.SetBacklog(0);
    EXPECT_EQ(LDeleted.Titles, (std::vector<std::string>{"a", "b", "d"}));
    EXPECT_EQ(LQueue.Count(), 0);
}

TEST(PacketQueueTest, PacketLargerThanBudgetDisplacesEverything) {
    TSiPacketQueue LQueue(200);
    DeleteLog LDeleted;
    LDeleted.Attach(LQueue);
    const TSiPacketPtr LSmall = Entry("s");
    const TSiPacketPtr LHuge = Entry(std::string(300, 'h'));
    LQueue.Push(*LSmall);
    LQueue.Push(*LHuge);
    EXPECT_EQ(LDeleted.Titles, (std::vector<std::string>{"s", std::string(300, 'h')}));
    EXPECT_EQ(LQueue.Count(), 0);
    EXPECT_EQ(LQueue.Size(), 0);
    EXPECT_EQ(LHuge->RefCount(), 1);
}

TEST(PacketQueueTest, ClearAndDestructionReleaseEveryPacket) {
    const TSiPacketPtr LPacket = Entry("x");
    {
        TSiPacketQueue LQueue(1 << 20);
        DeleteLog LDeleted;
        LDeleted.Attach(LQueue);
        LQueue.Push(*LPacket);
        LQueue.Push(*LPacket);
        EXPECT_EQ(LPacket->RefCount(), 3);
        LQueue.Clear();
        EXPECT_EQ(LDeleted.Titles, (std::vector<std::string>{"x", "x"}));
        EXPECT_EQ(LQueue.Size(), 0);
        EXPECT_EQ(LPacket->RefCount(), 1);
        LQueue.SetOnDelete(nullptr);
        LQueue.Push(*LPacket);
    }
    EXPECT_EQ(LPacket->RefCount(), 1);
}

}  // namespace
}  // namespace deruz::logging
