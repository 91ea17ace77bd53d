// silog collect's on-disk queue: order across appends, resends put in front and consumption;
// the bound dropping the oldest and counting them; a queue reopened after a stop or a crash.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/silog/collect/disk_queue.h"

namespace deruz::silog::collect {
namespace {

namespace fs = std::filesystem;

class DiskQueue : public ::testing::Test {
  protected:
    void SetUp() override {
        FFolder = fs::temp_directory_path() /
                  ("collect-queue-" +
                   std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(FFolder);
    }
    void TearDown() override { fs::remove_all(FFolder); }

    static TRecordBatch Batch(int AFirst, int ACount, std::size_t AWidth = 10) {
        TRecordBatch LBatch;
        for (int LI = AFirst; LI < AFirst + ACount; ++LI) {
            std::string LRecord = std::to_string(LI);
            LRecord.resize(AWidth, '.');
            LBatch.Add(LRecord);
        }
        return LBatch;
    }
    // Takes everything out, in order, as numbers.
    static std::vector<int> Drain(TDiskQueue& AQueue, std::size_t AChunk = 64) {
        std::vector<int> LNumbers;
        while (!AQueue.Empty()) {
            const TRecordBatch LBatch = AQueue.Peek(AChunk);
            ForEachRecord(LBatch.Bytes, [&](std::string_view ARecord) {
                LNumbers.push_back(std::stoi(std::string(ARecord)));
            });
            AQueue.Consume(LBatch);
        }
        return LNumbers;
    }
    static std::vector<int> Range(int AFirst, int ALast) {
        std::vector<int> LNumbers;
        for (int LI = AFirst; LI < ALast; ++LI) LNumbers.push_back(LI);
        return LNumbers;
    }

    fs::path FFolder;
};

TEST_F(DiskQueue, KeepsOrderAcrossAppendPrependAndReopen) {
    {
        TDiskQueue LQueue(FFolder, 1 << 20);
        LQueue.Append(Batch(10, 5));
        LQueue.Append(Batch(15, 5));
        // Two of the oldest are sent, then come back in front with what was sent before them.
        const TRecordBatch LSent = LQueue.Peek(28);
        EXPECT_EQ(LSent.Records, 2u);
        LQueue.Consume(LSent);
        LQueue.Prepend(Batch(0, 12));
        LQueue.Append(Batch(20, 5));
        EXPECT_EQ(LQueue.Records(), 25u);
        const TRecordBatch LFirst = LQueue.Peek(14 * 3);
        LQueue.Consume(LFirst);
    }
    // Stopped and opened again: it goes on after the three consumed.
    TDiskQueue LQueue(FFolder, 1 << 20);
    EXPECT_EQ(LQueue.Records(), 22u);
    EXPECT_EQ(Drain(LQueue), Range(3, 25));
    EXPECT_EQ(LQueue.Dropped(), 0u);
    TDiskQueue LEmpty(FFolder, 1 << 20);
    EXPECT_TRUE(LEmpty.Empty());
}

TEST_F(DiskQueue, BoundDropsTheOldestAndCountsThem) {
    // 64 KB: segments of 8 KB; records of 100 bytes plus 4 of framing.
    TDiskQueue LQueue(FFolder, 64 * 1024);
    for (int LI = 0; LI < 2000; LI += 100) LQueue.Append(Batch(LI, 100, 100));
    EXPECT_LE(LQueue.Bytes(), 64u * 1024);
    EXPECT_GE(LQueue.Bytes(), 56u * 1024);
    EXPECT_GT(LQueue.Dropped(), 0u);
    EXPECT_EQ(LQueue.Dropped() + LQueue.Records(), 2000u);
    const auto LFirst = static_cast<int>(LQueue.Dropped());
    EXPECT_EQ(Drain(LQueue, 4096), Range(LFirst, 2000));
}

TEST_F(DiskQueue, RecordCutShortByACrashIsLeftOut) {
    {
        TDiskQueue LQueue(FFolder, 1 << 20);
        LQueue.Append(Batch(0, 3));
    }
    for (const auto& LFile : fs::directory_iterator(FFolder)) {
        if (LFile.path().extension() == ".q") {
            std::ofstream LOut(LFile.path(), std::ios::binary | std::ios::app);
            LOut.write("\x20\x00\x00\x00partial", 11);
        }
    }
    TDiskQueue LQueue(FFolder, 1 << 20);
    EXPECT_EQ(LQueue.Records(), 3u);
    LQueue.Append(Batch(3, 2));
    EXPECT_EQ(Drain(LQueue), Range(0, 5));
}

}  // namespace
}  // namespace deruz::silog::collect
