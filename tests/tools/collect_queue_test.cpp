// silog collect's on-disk queue: order across take, confirm, rewind and reopen; the bound
// trimming the front while a taken batch is out (the interleaving of a full queue catching
// up); damage of every kind found, counted, named and skipped; the head's save cut short; a
// folder that cannot be written; the earlier format taken over; and the group commit that
// holds acknowledgements until a sync has covered them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tools/silog/collect/disk_queue.h"
#include "tools/silog/collect/group_commit.h"

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

    static std::string Record(int ANumber, std::size_t AWidth = 10) {
        std::string LRecord = std::to_string(ANumber);
        LRecord.resize(AWidth, '.');
        return LRecord;
    }
    static void Append(TDiskQueue& AQueue, int AFirst, int ACount, std::size_t AWidth = 10) {
        for (int LI = AFirst; LI < AFirst + ACount; ++LI) AQueue.Append(Record(LI, AWidth));
    }
    static std::vector<int> Numbers(const TTakenBatch& ABatch) {
        std::vector<int> LNumbers;
        for (const std::string& LRecord : ABatch.Records) LNumbers.push_back(std::stoi(LRecord));
        return LNumbers;
    }
    // Takes and confirms everything, in order, as numbers.
    static std::vector<int> Drain(TDiskQueue& AQueue, std::size_t AChunk = 64) {
        std::vector<int> LNumbers;
        for (;;) {
            const TTakenBatch LBatch = AQueue.Take(AChunk);
            if (LBatch.Empty()) break;
            for (const int LNumber : Numbers(LBatch)) LNumbers.push_back(LNumber);
            AQueue.Confirm(LBatch.Marks);
        }
        return LNumbers;
    }
    static std::vector<int> Range(int AFirst, int ALast) {
        std::vector<int> LNumbers;
        for (int LI = AFirst; LI < ALast; ++LI) LNumbers.push_back(LI);
        return LNumbers;
    }
    std::vector<fs::path> Segments() const {
        std::vector<fs::path> LFiles;
        for (const auto& LFile : fs::directory_iterator(FFolder)) {
            if (LFile.path().extension() == ".seg") LFiles.push_back(LFile.path());
        }
        std::sort(LFiles.begin(), LFiles.end(), [](const fs::path& ALeft, const fs::path& ARight) {
            return std::stoull(ALeft.stem().string()) < std::stoull(ARight.stem().string());
        });
        return LFiles;
    }
    static std::string Joined(const std::vector<std::string>& ALines) {
        std::string LText;
        for (const std::string& LLine : ALines) LText += LLine + "\n";
        return LText;
    }

    fs::path FFolder;
};

TEST_F(DiskQueue, TakeConfirmRewindAndReopenKeepOrder) {
    {
        TDiskQueue LQueue(FFolder, 1 << 20);
        Append(LQueue, 0, 20);
        const TTakenBatch LFirst = LQueue.Take(5 * 10);
        EXPECT_EQ(Numbers(LFirst), Range(0, 5));
        const TTakenBatch LSecond = LQueue.Take(5 * 10);
        EXPECT_EQ(Numbers(LSecond), Range(5, 10));
        LQueue.Confirm(LFirst.Marks);
        EXPECT_EQ(LQueue.Records(), 15u);
        // The connection is lost: the second batch went out unconfirmed and comes again.
        EXPECT_EQ(LQueue.Rewind(), 5u);
        EXPECT_EQ(Numbers(LQueue.Take(3 * 10)), Range(5, 8));
        // A mark of the batch from before the rewind confirms only what has been taken again.
        LQueue.Confirm(LSecond.Marks);
        EXPECT_EQ(LQueue.Records(), 12u);
        EXPECT_TRUE(LQueue.Sync());
        EXPECT_EQ(LQueue.DurableThrough(), 20u);
    }
    // Stopped and opened again: what was not confirmed is sent, in order.
    TDiskQueue LQueue(FFolder, 1 << 20);
    EXPECT_EQ(LQueue.Records(), 12u);
    Append(LQueue, 20, 5);
    EXPECT_EQ(Drain(LQueue), Range(8, 25));
    EXPECT_EQ(LQueue.Dropped(), 0u);
    EXPECT_EQ(LQueue.Damaged(), 0u);
}

TEST_F(DiskQueue, TrimWhileABatchIsOutCountsEveryRecordOnce) {
    // 64 KB: segments of 8 KB; records of 100 bytes plus 10 of framing. A full queue catching
    // up after an outage: a batch is taken from the front segment, and while it is being sent
    // pushes trim that very segment.
    TDiskQueue LQueue(FFolder, 64 * 1024);
    Append(LQueue, 0, 600, 100);
    const std::uint64_t LDroppedBefore = LQueue.Dropped();
    const TTakenBatch LOut = LQueue.Take(2000);
    ASSERT_FALSE(LOut.Empty());
    Append(LQueue, 600, 200, 100);
    ASSERT_GT(LQueue.Dropped(), LDroppedBefore);
    // The batch's confirmation comes after its segment is gone: it moves nothing.
    LQueue.Confirm(LOut.Marks);
    std::vector<int> LDelivered = Numbers(LOut);
    const std::vector<int> LRest = Drain(LQueue, 4096);
    LDelivered.insert(LDelivered.end(), LRest.begin(), LRest.end());
    // Every record was delivered or counted as dropped, never both, and the order held.
    EXPECT_TRUE(std::is_sorted(LDelivered.begin(), LDelivered.end()));
    EXPECT_EQ(std::set<int>(LDelivered.begin(), LDelivered.end()).size(), LDelivered.size());
    EXPECT_EQ(LDelivered.size() + LQueue.Dropped(), 800u);
    EXPECT_EQ(LDelivered.back(), 799);
    EXPECT_EQ(LQueue.Records(), 0u);
}

TEST_F(DiskQueue, RandomInterleavingNeverSkipsOrSticks) {
    std::mt19937 LRandom(20261211);
    TDiskQueue LQueue(FFolder, 32 * 1024);
    int LNext = 0;
    std::vector<int> LDelivered;
    std::vector<TTakenBatch> LOut;
    for (int LStep = 0; LStep < 4000; ++LStep) {
        switch (LRandom() % 6) {
            case 0:
            case 1:
                Append(LQueue, LNext, 1 + static_cast<int>(LRandom() % 20), 60 + LRandom() % 200);
                break;
            case 2:
                LOut.push_back(LQueue.Take(1 + LRandom() % 3000));
                break;
            case 3:
                // The oldest batch out is confirmed.
                if (!LOut.empty()) {
                    for (const int LN : Numbers(LOut.front())) LDelivered.push_back(LN);
                    LQueue.Confirm(LOut.front().Marks);
                    LOut.erase(LOut.begin());
                }
                break;
            case 4:
                if (LRandom() % 8 == 0) {
                    LQueue.Rewind();
                    LOut.clear();
                }
                break;
            default:
                if (LRandom() % 8 == 0) LQueue.Sync();
                break;
        }
        // Numbers appended so far.
        LNext = static_cast<int>(LQueue.Appended());
    }
    for (const TTakenBatch& LBatch : LOut) LQueue.Confirm(LBatch.Marks);
    for (const TTakenBatch& LBatch : LOut) {
        for (const int LN : Numbers(LBatch)) LDelivered.push_back(LN);
    }
    LQueue.Rewind();
    const std::vector<int> LRest = Drain(LQueue, 5000);
    LDelivered.insert(LDelivered.end(), LRest.begin(), LRest.end());
    // Resends may repeat a number; every number is delivered or counted as dropped, once, and
    // the queue ends empty, not stuck.
    const std::set<int> LUnique(LDelivered.begin(), LDelivered.end());
    EXPECT_GT(LQueue.Dropped(), 0u);
    EXPECT_EQ(LUnique.size() + LQueue.Dropped(), static_cast<std::size_t>(LNext));
    EXPECT_EQ(LQueue.Records(), 0u);
    EXPECT_TRUE(LQueue.Take(100).Empty());
    EXPECT_EQ(LQueue.Damaged(), 0u);
}

// Flips the bits of AMask in the byte at AAt of a file.
void Flip(const fs::path& APath, std::size_t AAt, unsigned char AMask) {
    std::fstream LFile(APath, std::ios::in | std::ios::out | std::ios::binary);
    LFile.seekg(static_cast<std::streamoff>(AAt));
    char LByte = 0;
    LFile.read(&LByte, 1);
    LByte = static_cast<char>(LByte ^ AMask);
    LFile.seekp(static_cast<std::streamoff>(AAt));
    LFile.write(&LByte, 1);
}

// Damage as crashes and disks make it: each undamaged record arrives with its own content,
// the damage is counted and its file named, and the queue goes on.
TEST_F(DiskQueue, DamageIsFoundCountedNamedAndSkipped) {
    struct TCase {
        const char* Name;
        // Damages the second of three segments (records 100 to 199 of 300).
        void (*Damage)(const fs::path& ASegment);
        // Records of that segment still expected, at least.
        std::size_t MinKept;
    };
    const TCase LCases[] = {
        {"cut mid-record",
         [](const fs::path& ASegment) { fs::resize_file(ASegment, fs::file_size(ASegment) - 25); },
         98},
        // Record 150 begins at 50 * 90; its length at +2, its text at +10.
        {"low bit of a length", [](const fs::path& ASegment) { Flip(ASegment, 50 * 90 + 2, 0x01); },
         99},
        {"high bit of a length",
         [](const fs::path& ASegment) { Flip(ASegment, 50 * 90 + 4, 0x80); }, 99},
        {"a bit of a text", [](const fs::path& ASegment) { Flip(ASegment, 50 * 90 + 15, 0x04); },
         99},
        {"a magic byte", [](const fs::path& ASegment) { Flip(ASegment, 50 * 90, 0xFF); }, 99},
        {"emptied", [](const fs::path& ASegment) { fs::resize_file(ASegment, 0); }, 0},
    };
    for (const TCase& LCase : LCases) {
        SCOPED_TRACE(LCase.Name);
        fs::remove_all(FFolder);
        {
            // Segments of 9,000 bytes: 100 records of 90 bytes each.
            TDiskQueue LQueue(FFolder, 72000);
            for (int LI = 0; LI < 300; ++LI) {
                LQueue.Append(Record(LI, 80));
                if (LI % 100 == 99) LQueue.Sync();
            }
        }
        const std::vector<fs::path> LFiles = Segments();
        ASSERT_EQ(LFiles.size(), 3u);
        LCase.Damage(LFiles[1]);
        TDiskQueue LQueue(FFolder, 72000);
        const std::string LFindings = Joined(LQueue.TakeFindings());
        std::vector<int> LGot = Drain(LQueue, 1000);
        const std::string LLater = Joined(LQueue.TakeFindings());
        // After the damage, new records still arrive whole.
        LQueue.Append(Record(1000, 80));
        LGot.push_back(Drain(LQueue).at(0));
        std::set<int> LExpected;
        for (int LI = 0; LI < 300; ++LI) LExpected.insert(LI);
        LExpected.insert(1000);
        std::size_t LKept = 0;
        for (const int LN : LGot) {
            EXPECT_TRUE(LExpected.count(LN)) << LN;
            if (LN >= 100 && LN < 200) ++LKept;
        }
        EXPECT_TRUE(std::is_sorted(LGot.begin(), LGot.end()));
        EXPECT_EQ(std::count_if(LGot.begin(), LGot.end(), [](int N) { return N < 100; }), 100);
        EXPECT_EQ(std::count_if(LGot.begin(), LGot.end(), [](int N) { return N >= 200; }), 101);
        EXPECT_GE(LKept, LCase.MinKept);
        EXPECT_GE(LQueue.Damaged() + (LCase.MinKept == 0 ? 1 : 0), 1u);
        EXPECT_NE((LFindings + LLater).find(LFiles[1].filename().string()), std::string::npos)
            << LFindings << LLater;
        EXPECT_EQ(LQueue.Records(), 0u);
    }
}

TEST_F(DiskQueue, HeadSaveCutShortLosesNothing) {
    {
        TDiskQueue LQueue(FFolder, 1 << 20);
        Append(LQueue, 0, 10);
        LQueue.Confirm(LQueue.Take(4 * 10).Marks);
        ASSERT_TRUE(LQueue.Sync());
    }
    // A crash while the next head was written: its new file is left half written beside the
    // saved one, which still counts.
    std::ofstream(FFolder / "head.new") << "9";
    {
        TDiskQueue LQueue(FFolder, 1 << 20);
        EXPECT_EQ(Drain(LQueue), Range(4, 10));
    }
    // A head that is garbage: everything in the folder is sent (again rather than lost).
    fs::remove_all(FFolder);
    {
        TDiskQueue LQueue(FFolder, 1 << 20);
        Append(LQueue, 0, 5);
        LQueue.Sync();
    }
    std::ofstream(FFolder / "head.pos") << "garbage";
    TDiskQueue LQueue(FFolder, 1 << 20);
    EXPECT_EQ(Drain(LQueue), Range(0, 5));
}

TEST_F(DiskQueue, FolderThatCannotBeWrittenKeepsMessagesInMemoryUntilDelivered) {
    // Segments of 4 KB; records of 1,010 bytes.
    TDiskQueue LQueue(FFolder, 32 * 1024);
    Append(LQueue, 0, 5, 1000);
    ASSERT_TRUE(LQueue.Sync());
    ASSERT_EQ(Segments().size(), 1u);
    // The next segment's name is taken by a folder, so no segment can be written: what a
    // folder that denies writing does (root, who runs the tests, is never denied).
    const std::uint64_t LNext = std::stoull(Segments()[0].stem().string()) + 1;
    fs::create_directories(FFolder / (std::to_string(LNext) + ".seg"));
    Append(LQueue, 5, 5, 1000);
    EXPECT_FALSE(LQueue.Sync());
    EXPECT_NE(LQueue.LastError().find(std::to_string(LNext) + ".seg"), std::string::npos)
        << LQueue.LastError();
    // Not durable until delivered; then every record arrives, in order, and idle is idle.
    EXPECT_EQ(LQueue.DurableThrough(), 5u);
    EXPECT_EQ(Drain(LQueue), Range(0, 10));
    EXPECT_EQ(LQueue.DurableThrough(), 10u);
    EXPECT_TRUE(LQueue.Take(100).Empty());
    EXPECT_TRUE(LQueue.Empty());
}

TEST_F(DiskQueue, EarlierFormatIsTakenOver) {
    fs::create_directories(FFolder);
    {
        std::ofstream LOut(FFolder / "1099511627776.q", std::ios::binary);
        for (int LI = 0; LI < 4; ++LI) {
            const std::string LMessage = "<14>1 x " + std::to_string(LI);
            const std::string LFramed = std::to_string(LMessage.size()) + " " + LMessage;
            const auto LSize = static_cast<std::uint32_t>(LFramed.size());
            const char LLength[4] = {static_cast<char>(LSize), 0, 0, 0};
            LOut.write(LLength, 4);
            LOut << LFramed;
        }
    }
    // The first record had been sent.
    std::ofstream(FFolder / "head") << "1099511627776 " << 4 + 11 << "\n";
    TDiskQueue LQueue(FFolder, 1 << 20, [](std::string_view ARecord) {
        return std::string(ARecord.substr(ARecord.find(' ') + 1));
    });
    const TTakenBatch LBatch = LQueue.Take(1000);
    EXPECT_EQ(LBatch.Records, (std::vector<std::string>{"<14>1 x 1", "<14>1 x 2", "<14>1 x 3"}));
    EXPECT_FALSE(fs::exists(FFolder / "1099511627776.q"));
    EXPECT_FALSE(fs::exists(FFolder / "head"));
}

// Acknowledgements wait for the sync that covers them: a waiter released before a sync that
// began after its packet was numbered is exactly the fault of acknowledging too early.
TEST(GroupCommit, ReleasesAWaiterOnlyAfterASyncThatCoveredIt) {
    for (const int LInterval : {0, 3}) {
        // Packets written (each before it is numbered, as the collector does), and the most
        // that a finished sync has covered: what was written when it began.
        std::atomic<std::uint64_t> LWritten{0};
        std::atomic<std::uint64_t> LSyncedThrough{0};
        std::atomic<int> LSyncs{0};
        TGroupCommit* LCommitPtr = nullptr;
        TGroupCommit LCommit(std::chrono::milliseconds(LInterval), [&] {
            const std::uint64_t LThrough = LWritten.load();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            std::uint64_t LBefore = LSyncedThrough.load();
            while (LBefore < LThrough && !LSyncedThrough.compare_exchange_weak(LBefore, LThrough)) {
            }
            ++LSyncs;
            return true;
        });
        LCommitPtr = &LCommit;
        LCommit.Start();
        std::atomic<int> LEarly{0};
        std::vector<std::thread> LClients;
        for (int LT = 0; LT < 4; ++LT) {
            LClients.emplace_back([&] {
                for (int LI = 0; LI < 300; ++LI) {
                    ++LWritten;
                    const std::uint64_t LNumber = LCommitPtr->Written();
                    ASSERT_TRUE(LCommitPtr->WaitDurable(LNumber));
                    if (LSyncedThrough.load() < LNumber) ++LEarly;
                }
            });
        }
        for (std::thread& LClient : LClients) LClient.join();
        EXPECT_EQ(LEarly.load(), 0) << "interval " << LInterval;
        // Group commit: far fewer syncs than packets.
        EXPECT_LT(LSyncs.load(), 1200);
        LCommit.Stop();
        EXPECT_FALSE(LCommit.WaitDurable(LCommit.Written()));
    }
}

}  // namespace
}  // namespace deruz::silog::collect
