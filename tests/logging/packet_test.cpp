// Packets: sizes, constructors, data streams, reference counting and the optional lock;
// the enumeration lookups; TDateTime conversions.
#include "logging/packets/packet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "logging/base/datetime.h"
#include "logging/base/enums.h"
#include "logging/system/clock.h"
#include "logging/system/system_ids.h"

namespace deruz::logging {
namespace {

TSiMemoryStream StreamOf(std::string_view ABytes) {
    TSiMemoryStream LStream;
    LStream.WriteBuffer(ABytes.data(), ABytes.size());
    return LStream;
}

std::string ContentOf(const TSiMemoryStream& AStream) {
    const auto LBytes = AStream.Bytes();
    return {LBytes.begin(), LBytes.end()};
}

struct SizeCase {
    const char* Name;
    std::function<TSiPacketPtr()> Make;
    std::int64_t Size;
};

// Five two-byte characters (10 UTF-8 bytes) and one character beyond the BMP (4 bytes,
// a surrogate pair in UTF-16).
constexpr const char* kFiveUmlauts = "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x84\xC3\x96";
constexpr const char* kEmoji = "\xF0\x9F\x98\x80";

TEST(PacketSize, CountsFixedHeaderTextInUtf16UnitsAndData) {
    const std::vector<SizeCase> LCases = {
        {"empty log entry", [] { return TSiPacketPtr(SiMakeRef<TSiLogEntry>(ltMessage, viNone)); },
         48},
        {"log entry with texts",
         [] {
             auto LEntry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
             LEntry->AppName = "app.exe";
             LEntry->HostName = "PC1";
             LEntry->SessionName = "Main";
             LEntry->Title = "Hello";
             return TSiPacketPtr(LEntry);
         },
         48 + 7 + 3 + 4 + 5},
        {"title of five non-ASCII characters",
         [] {
             auto LEntry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
             LEntry->Title = kFiveUmlauts;
             return TSiPacketPtr(LEntry);
         },
         53},
        {"title beyond the BMP counts a surrogate pair",
         [] {
             auto LEntry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
             LEntry->Title = kEmoji;
             return TSiPacketPtr(LEntry);
         },
         50},
        {"log entry with data",
         [] {
             auto LEntry = SiMakeRef<TSiLogEntry>(ltText, viData);
             TSiMemoryStream LData = StreamOf("0123456789");
             LEntry->SetData(&LData);
             return TSiPacketPtr(LEntry);
         },
         58},
        {"control command", [] { return TSiPacketPtr(SiMakeRef<TSiControlCommand>(ccClearAll)); },
         8},
        {"control command with data",
         [] {
             auto LCommand = SiMakeRef<TSiControlCommand>(ccClearAll);
             TSiMemoryStream LData = StreamOf("abc");
             LCommand->SetData(&LData);
             return TSiPacketPtr(LCommand);
         },
         11},
        {"empty watch", [] { return TSiPacketPtr(SiMakeRef<TSiWatch>(wtString)); }, 20},
        {"watch",
         [] {
             auto LWatch = SiMakeRef<TSiWatch>(wtString);
             LWatch->Name = "count";
             LWatch->Value = kFiveUmlauts;
             return TSiPacketPtr(LWatch);
         },
         30},
        {"empty process flow",
         [] { return TSiPacketPtr(SiMakeRef<TSiProcessFlow>(pfEnterMethod)); }, 28},
        {"process flow",
         [] {
             auto LFlow = SiMakeRef<TSiProcessFlow>(pfEnterMethod);
             LFlow->Title = "Run";
             LFlow->HostName = "PC1";
             return TSiPacketPtr(LFlow);
         },
         34},
        {"log header for PC1 and app.exe",
         [] {
             auto LHeader = SiMakeRef<TSiLogHeader>();
             LHeader->HostName = "PC1";
             LHeader->AppName = "app.exe";
             return TSiPacketPtr(LHeader);
         },
         35},
        {"log header with a non-ASCII host",
         [] {
             auto LHeader = SiMakeRef<TSiLogHeader>();
             LHeader->HostName = kFiveUmlauts;
             return TSiPacketPtr(LHeader);
         },
         4 + 21 + 5},
    };
    for (const SizeCase& LC : LCases) {
        EXPECT_EQ(LC.Make()->GetSize(), LC.Size) << LC.Name;
    }
}

TEST(PacketKind, ConstructorsSetTheirKindAndDefaults) {
    auto LEntry = SiMakeRef<TSiLogEntry>(ltWarning, viData);
    EXPECT_EQ(LEntry->GetPacketType(), ptLogEntry);
    EXPECT_EQ(LEntry->LogEntryType, ltWarning);
    EXPECT_EQ(LEntry->ViewerId, viData);
    EXPECT_EQ(LEntry->Color, clWindow);
    EXPECT_EQ(LEntry->Level, lvMessage);
    EXPECT_EQ(LEntry->ProcessId, SiCurrentProcessId());
    EXPECT_EQ(LEntry->ThreadId, SiCurrentThreadId());

    // The parameterless constructors set only the base defaults.
    auto LBare = SiMakeRef<TSiLogEntry>();
    EXPECT_EQ(LBare->Color, 0);
    EXPECT_EQ(LBare->ThreadId, 0u);
    EXPECT_EQ(LBare->Level, lvMessage);
    EXPECT_EQ(SiMakeRef<TSiControlCommand>()->Level, lvMessage);

    auto LCommand = SiMakeRef<TSiControlCommand>(ccClearWatches);
    EXPECT_EQ(LCommand->GetPacketType(), ptControlCommand);
    EXPECT_EQ(LCommand->Level, lvControl);
    EXPECT_EQ(LCommand->ControlCommandType, ccClearWatches);

    auto LFlow = SiMakeRef<TSiProcessFlow>(pfLeaveThread);
    EXPECT_EQ(LFlow->GetPacketType(), ptProcessFlow);
    EXPECT_EQ(LFlow->ProcessFlowType, pfLeaveThread);
    EXPECT_EQ(LFlow->ThreadId, SiCurrentThreadId());

    EXPECT_EQ(SiMakeRef<TSiWatch>(wtTimestamp)->GetPacketType(), ptWatch);
    EXPECT_EQ(SiMakeRef<TSiLogHeader>()->GetPacketType(), ptLogHeader);
}

TEST(PacketKind, RecordsTheCreatingThread) {
    const std::uint32_t LHere = SiCurrentThreadId();
    std::uint32_t LThere = 0;
    std::uint32_t LThereProcess = 0;
    std::thread LWorker([&] {
        auto LEntry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
        LThere = LEntry->ThreadId;
        LThereProcess = LEntry->ProcessId;
    });
    LWorker.join();
    EXPECT_NE(LThere, LHere);
    EXPECT_NE(LThere, 0u);
    EXPECT_EQ(LThereProcess, SiCurrentProcessId());
}

TEST(PacketKind, LogHeaderContent) {
    auto LHeader = SiMakeRef<TSiLogHeader>();
    LHeader->HostName = "PC1";
    LHeader->AppName = "app.exe";
    EXPECT_EQ(LHeader->GetContent(), "hostname=PC1\r\nappname=app.exe\r\n");
    EXPECT_EQ(LHeader->GetContent().size(), 31u);
}

TEST(PacketData, SetDataCopiesTheWholeSourceAndLeavesItAtItsEnd) {
    auto LEntry = SiMakeRef<TSiLogEntry>(ltBinary, viBinary);
    EXPECT_EQ(LEntry->GetData(), nullptr);
    EXPECT_FALSE(LEntry->HasData());

    TSiMemoryStream LSource = StreamOf("hello world");
    LSource.SetPosition(6);  // the copy starts at the first byte all the same
    LEntry->SetData(&LSource);
    EXPECT_EQ(LSource.GetPosition(), 11);
    ASSERT_NE(LEntry->GetData(), nullptr);
    EXPECT_EQ(ContentOf(*LEntry->GetData()), "hello world");
    EXPECT_TRUE(LEntry->HasData());

    // A second stream replaces the first content, it does not append to it.
    TSiMemoryStream LShorter = StreamOf("bye");
    LEntry->SetData(&LShorter);
    EXPECT_EQ(ContentOf(*LEntry->GetData()), "bye");
    EXPECT_EQ(LEntry->GetSize(), 48 + 3);

    // The packet's own stream given back to it keeps its content.
    LEntry->SetData(LEntry->GetData());
    EXPECT_EQ(ContentOf(*LEntry->GetData()), "bye");
}

TEST(PacketData, SetDataWithoutStreamEmptiesButKeepsTheStream) {
    auto LEntry = SiMakeRef<TSiLogEntry>(ltText, viData);
    LEntry->SetData(nullptr);
    EXPECT_EQ(LEntry->GetData(), nullptr) << "no stream is created for nothing";

    TSiMemoryStream LSource = StreamOf("data");
    LEntry->SetData(&LSource);
    TSiMemoryStream* LData = LEntry->GetData();
    LEntry->SetData(nullptr);
    EXPECT_EQ(LEntry->GetData(), LData);
    EXPECT_EQ(LData->GetSize(), 0);
    EXPECT_FALSE(LEntry->HasData());
    EXPECT_EQ(LEntry->GetSize(), 48);

    auto LCommand = SiMakeRef<TSiControlCommand>(ccClearLog);
    LCommand->SetData(&LSource);
    EXPECT_TRUE(LCommand->HasData());
    LCommand->SetData(nullptr);
    EXPECT_NE(LCommand->GetData(), nullptr);
    EXPECT_FALSE(LCommand->HasData());
}

// A reference-counted object that reports its destruction.
class TTracked : public TSiRefCounted {
  public:
    explicit TTracked(bool& ADestroyed) : FDestroyed(ADestroyed) {}
    ~TTracked() override { FDestroyed = true; }

  private:
    bool& FDestroyed;
};

TEST(PacketReference, LastHolderDestroys) {
    bool LDestroyed = false;
    TSiRef<TTracked> LFirst = SiMakeRef<TTracked>(LDestroyed);
    EXPECT_EQ(LFirst->RefCount(), 1);
    {
        TSiRef<TTracked> LCopy = LFirst;
        EXPECT_EQ(LFirst->RefCount(), 2);
        TSiRef<TTracked> LMoved = std::move(LCopy);
        EXPECT_EQ(LFirst->RefCount(), 2);
        // The moved-from state is the subject here.
        // NOLINTNEXTLINE(bugprone-use-after-move)
        EXPECT_FALSE(LCopy);
    }
    EXPECT_EQ(LFirst->RefCount(), 1);

    // A reference handed out by Detach is given back by hand, and Share takes a new one.
    TTracked* LRaw = LFirst.Detach();
    EXPECT_FALSE(LFirst);
    TSiRef<TTracked> LShared = TSiRef<TTracked>::Share(LRaw);
    EXPECT_EQ(LRaw->RefCount(), 2);
    LRaw->Release();
    EXPECT_FALSE(LDestroyed);
    LShared = nullptr;
    EXPECT_TRUE(LDestroyed);
}

TEST(PacketReference, ConvertsToThePacketBase) {
    TSiRef<TSiWatch> LWatch = SiMakeRef<TSiWatch>(wtInteger);
    TSiPacketPtr LPacket = LWatch;
    EXPECT_EQ(LWatch->RefCount(), 2);
    EXPECT_EQ(LPacket->GetPacketType(), ptWatch);
}

TEST(PacketReference, CountsStayExactUnderConcurrentHolders) {
    bool LDestroyed = false;
    TSiRef<TTracked> LObject = SiMakeRef<TTracked>(LDestroyed);
    constexpr int LKThreads = 4;
    constexpr int LRounds = 20000;
    std::vector<std::thread> LThreads;
    for (int LT = 0; LT < LKThreads; ++LT) {
        LThreads.emplace_back([LObject] {
            for (int LI = 0; LI < LRounds; ++LI) {
                TSiRef<TTracked> LCopy = LObject;
                LCopy.Reset();
            }
        });
    }
    for (std::thread& LThread : LThreads) {
        LThread.join();
    }
    EXPECT_EQ(LObject->RefCount(), 1);
    EXPECT_FALSE(LDestroyed);
    LObject.Reset();
    EXPECT_TRUE(LDestroyed);
}

TEST(PacketLock, LocksOnlyWhenThreadSafe) {
    auto LPacket = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
    auto LTryFromOtherThread = [&] {
        bool LLocked = false;
        std::thread LOther([&] {
            LLocked = LPacket->TryLock();
            if (LLocked) {
                LPacket->Unlock();
            }
        });
        LOther.join();
        return LLocked;
    };

    // Not thread-safe: Lock takes nothing, so another thread is never held up.
    LPacket->Lock();
    EXPECT_TRUE(LTryFromOtherThread());
    LPacket->Unlock();

    LPacket->SetThreadSafe(true);
    EXPECT_TRUE(LPacket->GetThreadSafe());
    LPacket->Lock();
    LPacket->Lock();  // re-entrant for the holding thread
    // Switching on again must keep the lock that is held, not create a new one.
    LPacket->SetThreadSafe(true);
    EXPECT_FALSE(LTryFromOtherThread());
    LPacket->Unlock();
    EXPECT_FALSE(LTryFromOtherThread());
    LPacket->Unlock();
    EXPECT_TRUE(LTryFromOtherThread());

    LPacket->SetThreadSafe(false);
    LPacket->Lock();
    EXPECT_TRUE(LTryFromOtherThread());
    LPacket->Unlock();
}

TEST(PacketLock, SerialisesWritersOfOnePacket) {
    auto LPacket = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
    LPacket->SetThreadSafe(true);
    int LUnguarded = 0;
    std::vector<std::thread> LThreads;
    for (int LT = 0; LT < 4; ++LT) {
        LThreads.emplace_back([&] {
            for (int LI = 0; LI < 10000; ++LI) {
                TSiPacketLock LLock(*LPacket);
                ++LUnguarded;
            }
        });
    }
    for (std::thread& LThread : LThreads) {
        LThread.join();
    }
    EXPECT_EQ(LUnguarded, 40000);
}

TEST(Enumerations, WireCodesAndTheirReverseLookupsAgree) {
    for (std::size_t LI = 0; LI < CSiPacketTypeLookup.size(); ++LI) {
        const auto LType = static_cast<TSiPacketType>(LI);
        EXPECT_EQ(SiPacketTypeFromCode(SiPacketTypeCode(LType)), LType);
    }
    for (std::size_t LI = 0; LI < CSiLogEntryTypeLookup.size(); ++LI) {
        const auto LType = static_cast<TSiLogEntryType>(LI);
        EXPECT_EQ(SiLogEntryTypeFromCode(SiLogEntryTypeCode(LType)), LType);
    }
    for (std::size_t LI = 0; LI < CSiViewerIdLookup.size(); ++LI) {
        const auto LViewer = static_cast<TSiViewerId>(LI);
        EXPECT_EQ(SiViewerIdFromCode(SiViewerIdCode(LViewer)), LViewer);
    }
    EXPECT_EQ(CSiLogEntryTypeString.size(), CSiLogEntryTypeLookup.size());
    EXPECT_EQ(CSiViewerIdString.size(), CSiViewerIdLookup.size());

    // Codes that no value has, and ordinals beyond their tables.
    EXPECT_FALSE(SiPacketTypeFromCode(0));
    EXPECT_FALSE(SiPacketTypeFromCode(2));
    EXPECT_FALSE(SiLogEntryTypeFromCode(4));
    EXPECT_FALSE(SiLogEntryTypeFromCode(-1));
    EXPECT_FALSE(SiViewerIdFromCode(-2));
    EXPECT_FALSE(SiViewerIdFromCode(6));
    EXPECT_FALSE(SiWatchTypeFromOrdinal(8));
    EXPECT_FALSE(SiProcessFlowTypeFromOrdinal(-1));
    EXPECT_EQ(SiControlCommandTypeFromOrdinal(4), ccClearProcessFlow);
    EXPECT_FALSE(SiControlCommandTypeFromOrdinal(5));
    EXPECT_EQ(SiLevelString(static_cast<TSiLevel>(7)), "");
    EXPECT_EQ(SiViewerIdCode(static_cast<TSiViewerId>(200)), -1);
}

TEST(Enumerations, NamesAndSourceViewers) {
    EXPECT_EQ(SiLevelString(lvControl), "Unknown");
    EXPECT_EQ(SiLogEntryTypeString(ltDatabaseStructure), "DatabaseStructure");
    EXPECT_EQ(SiViewerIdString(viMetafile), "Metafile");
    EXPECT_EQ(SiProcessFlowTypeString(pfLeaveProcess), "LeaveProcess");
    EXPECT_EQ(SiWatchTypeString(wtObject), "Object");
    EXPECT_EQ(SiControlCommandTypeString(ccClearAutoViews), "ClearAutoViews");
    EXPECT_EQ(SiFileRotateString(frMonthly), "Monthly");
    EXPECT_EQ(SiSourceIdViewer(siHtml), viHtmlSource);
    EXPECT_EQ(SiSourceIdViewer(siXml), viXmlSource);
    EXPECT_EQ(SiViewerIdCode(SiSourceIdViewer(siPython)), 306);
}

struct DateCase {
    TSiDateTimeParts Parts;
    TDateTime Value;
};

TEST(DateTime, EncodesAndDecodesDaysSinceTheEpochDay) {
    const std::vector<DateCase> LCases = {
        {{1899, 12, 30, 0, 0, 0, 0}, 0.0},    {{1900, 1, 1, 0, 0, 0, 0}, 2.0},
        {{1900, 3, 1, 0, 0, 0, 0}, 61.0},  // 1900 is not a leap year
        {{2000, 1, 1, 12, 0, 0, 0}, 36526.5}, {{2000, 2, 29, 6, 0, 0, 0}, 36585.25},
        {{1899, 12, 29, 6, 0, 0, 0}, -1.25},  // before the epoch day the time counts forward
        {{1, 1, 1, 0, 0, 0, 0}, -693593.0},   {{9999, 12, 31, 0, 0, 0, 0}, 2958465.0},
    };
    for (const DateCase& LC : LCases) {
        EXPECT_DOUBLE_EQ(SiEncodeDateTime(LC.Parts), LC.Value) << LC.Value;
        EXPECT_EQ(SiDecodeDateTime(LC.Value), LC.Parts) << LC.Value;
    }

    const TSiDateTimeParts LPrecise{2024, 7, 15, 23, 59, 59, 999};
    EXPECT_EQ(SiDecodeDateTime(SiEncodeDateTime(LPrecise)), LPrecise);
    // Half a millisecond before midnight rounds to the start of the next day.
    const TDateTime LAlmostMidnight = SiEncodeDateTime({2024, 12, 31}) + 1.0 - 0.4 / 86'400'000;
    EXPECT_EQ(SiDecodeDateTime(LAlmostMidnight), (TSiDateTimeParts{2025, 1, 1}));
}

// Splitting into day and millisecond rounds to the nearest millisecond, halves away from zero,
// as llround does, for dates after and before the epoch day and for the halves themselves.
TEST(DateTime, SplitRoundsToTheNearestMillisecond) {
    const auto LReference = [](TDateTime AValue) {
        double LWhole = 0;
        const double LFraction = std::fabs(std::modf(AValue, &LWhole));
        TSiDayTime LResult{static_cast<std::int64_t>(LWhole),
                           static_cast<std::int64_t>(std::llround(LFraction * 86'400'000.0))};
        if (LResult.Millisecond >= 86'400'000) {
            LResult.Millisecond -= 86'400'000;
            LResult.Day += 1;
        }
        return LResult;
    };
    std::vector<TDateTime> LValues = {0.0,
                                      0.5,
                                      -0.5,
                                      1.0 / 86'400'000 / 2,
                                      46'000.999'999'999,
                                      -693'593.25,
                                      2'958'465.999'999'999'9,
                                      1e16,
                                      -1e16};
    for (int LMs = 0; LMs < 86'400'000; LMs += 1'234'567) {
        for (const double LOffset : {0.0, 0.5, 0.499'999, 0.500'001}) {
            LValues.push_back(46'000 + (LMs + LOffset) / 86'400'000.0);
            LValues.push_back(-46'000 - (LMs + LOffset) / 86'400'000.0);
        }
    }
    for (const TDateTime LValue : LValues) {
        const TSiDayTime LSplit = SiSplitDateTime(LValue);
        const TSiDayTime LExpected = LReference(LValue);
        EXPECT_EQ(LSplit.Day, LExpected.Day) << LValue;
        EXPECT_EQ(LSplit.Millisecond, LExpected.Millisecond) << LValue;
    }
}

TEST(DateTime, SystemClockGivesACalendarTime) {
    const TSiDateTimeParts LUtc = SiUtcTimeParts();
    const TSiDateTimeParts LLocal = SiLocalTimeParts();
    for (const TSiDateTimeParts& LParts : {LUtc, LLocal}) {
        EXPECT_GE(LParts.Year, 2020);
        EXPECT_TRUE(LParts.Month >= 1 && LParts.Month <= 12);
        EXPECT_TRUE(LParts.Day >= 1 && LParts.Day <= 31);
        EXPECT_TRUE(LParts.Hour >= 0 && LParts.Hour <= 23);
        EXPECT_TRUE(LParts.Millisecond >= 0 && LParts.Millisecond <= 999);
    }
    // Local time is within a day of UTC (time zones span at most 26 hours).
    EXPECT_LT(std::fabs(SiEncodeDateTime(LLocal) - SiEncodeDateTime(LUtc)), 1.1);
}

// The cheap reading of log entries is bit for bit the encoded calendar reading of the same
// millisecond, again and again (each second it converts afresh). Where the processor's counter
// keeps the time it is within microseconds of the system clock, so next to a millisecond's
// edge it may read the neighbouring one.
TEST(DateTime, LocalNowIsTheEncodedLocalTime) {
    int LCompared = 0;
    for (int LAttempt = 0; LAttempt < 100'000 && LCompared < 200; ++LAttempt) {
        const TSiDateTimeParts LBefore = SiLocalTimeParts();
        const TDateTime LNow = SiLocalNow();
        const TSiDateTimeParts LAfter = SiLocalTimeParts();
        if (LBefore == LAfter && LBefore.Millisecond > 0 && LBefore.Millisecond < 999) {
            std::vector<TDateTime> LCandidates;
            for (int LStep = -1; LStep <= 1; ++LStep) {
                TSiDateTimeParts LParts = LBefore;
                LParts.Millisecond += LStep;
                LCandidates.push_back(SiEncodeDateTime(LParts));
            }
            ASSERT_NE(std::find(LCandidates.begin(), LCandidates.end(), LNow), LCandidates.end())
                << "read " << LNow << " in millisecond " << LBefore.Millisecond;
            ++LCompared;
        }
    }
    EXPECT_EQ(LCompared, 200);
}

}  // namespace
}  // namespace deruz::logging
