// Packets: sizes, constructors, data streams, reference counting and the optional lock;
// the enumeration lookups; TDateTime conversions.
#include "logging/packets/packet.h"

#include <gtest/gtest.h>

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
    TSiMemoryStream stream;
    stream.WriteBuffer(ABytes.data(), ABytes.size());
    return stream;
}

std::string ContentOf(const TSiMemoryStream& AStream) {
    const auto bytes = AStream.Bytes();
    return {bytes.begin(), bytes.end()};
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
    const std::vector<SizeCase> cases = {
        {"empty log entry", [] { return TSiPacketPtr(SiMakeRef<TSiLogEntry>(ltMessage, viNone)); },
         48},
        {"log entry with texts",
         [] {
             auto entry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
             entry->AppName = "app.exe";
             entry->HostName = "PC1";
             entry->SessionName = "Main";
             entry->Title = "Hello";
             return TSiPacketPtr(entry);
         },
         48 + 7 + 3 + 4 + 5},
        {"title of five non-ASCII characters",
         [] {
             auto entry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
             entry->Title = kFiveUmlauts;
             return TSiPacketPtr(entry);
         },
         53},
        {"title beyond the BMP counts a surrogate pair",
         [] {
             auto entry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
             entry->Title = kEmoji;
             return TSiPacketPtr(entry);
         },
         50},
        {"log entry with data",
         [] {
             auto entry = SiMakeRef<TSiLogEntry>(ltText, viData);
             TSiMemoryStream data = StreamOf("0123456789");
             entry->SetData(&data);
             return TSiPacketPtr(entry);
         },
         58},
        {"control command", [] { return TSiPacketPtr(SiMakeRef<TSiControlCommand>(ccClearAll)); },
         8},
        {"control command with data",
         [] {
             auto command = SiMakeRef<TSiControlCommand>(ccClearAll);
             TSiMemoryStream data = StreamOf("abc");
             command->SetData(&data);
             return TSiPacketPtr(command);
         },
         11},
        {"empty watch", [] { return TSiPacketPtr(SiMakeRef<TSiWatch>(wtString)); }, 20},
        {"watch",
         [] {
             auto watch = SiMakeRef<TSiWatch>(wtString);
             watch->Name = "count";
             watch->Value = kFiveUmlauts;
             return TSiPacketPtr(watch);
         },
         30},
        {"empty process flow",
         [] { return TSiPacketPtr(SiMakeRef<TSiProcessFlow>(pfEnterMethod)); }, 28},
        {"process flow",
         [] {
             auto flow = SiMakeRef<TSiProcessFlow>(pfEnterMethod);
             flow->Title = "Run";
             flow->HostName = "PC1";
             return TSiPacketPtr(flow);
         },
         34},
        {"log header for PC1 and app.exe",
         [] {
             auto header = SiMakeRef<TSiLogHeader>();
             header->HostName = "PC1";
             header->AppName = "app.exe";
             return TSiPacketPtr(header);
         },
         35},
        {"log header with a non-ASCII host",
         [] {
             auto header = SiMakeRef<TSiLogHeader>();
             header->HostName = kFiveUmlauts;
             return TSiPacketPtr(header);
         },
         4 + 21 + 5},
    };
    for (const SizeCase& c : cases) {
        EXPECT_EQ(c.Make()->GetSize(), c.Size) << c.Name;
    }
}

TEST(PacketKind, ConstructorsSetTheirKindAndDefaults) {
    auto entry = SiMakeRef<TSiLogEntry>(ltWarning, viData);
    EXPECT_EQ(entry->GetPacketType(), ptLogEntry);
    EXPECT_EQ(entry->LogEntryType, ltWarning);
    EXPECT_EQ(entry->ViewerId, viData);
    EXPECT_EQ(entry->Color, clWindow);
    EXPECT_EQ(entry->Level, lvMessage);
    EXPECT_EQ(entry->ProcessId, SiCurrentProcessId());
    EXPECT_EQ(entry->ThreadId, SiCurrentThreadId());

    // The parameterless constructors set only the base defaults.
    auto bare = SiMakeRef<TSiLogEntry>();
    EXPECT_EQ(bare->Color, 0);
    EXPECT_EQ(bare->ThreadId, 0u);
    EXPECT_EQ(bare->Level, lvMessage);
    EXPECT_EQ(SiMakeRef<TSiControlCommand>()->Level, lvMessage);

    auto command = SiMakeRef<TSiControlCommand>(ccClearWatches);
    EXPECT_EQ(command->GetPacketType(), ptControlCommand);
    EXPECT_EQ(command->Level, lvControl);
    EXPECT_EQ(command->ControlCommandType, ccClearWatches);

    auto flow = SiMakeRef<TSiProcessFlow>(pfLeaveThread);
    EXPECT_EQ(flow->GetPacketType(), ptProcessFlow);
    EXPECT_EQ(flow->ProcessFlowType, pfLeaveThread);
    EXPECT_EQ(flow->ThreadId, SiCurrentThreadId());

    EXPECT_EQ(SiMakeRef<TSiWatch>(wtTimestamp)->GetPacketType(), ptWatch);
    EXPECT_EQ(SiMakeRef<TSiLogHeader>()->GetPacketType(), ptLogHeader);
}

TEST(PacketKind, RecordsTheCreatingThread) {
    const std::uint32_t here = SiCurrentThreadId();
    std::uint32_t there = 0;
    std::uint32_t thereProcess = 0;
    std::thread worker([&] {
        auto entry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
        there = entry->ThreadId;
        thereProcess = entry->ProcessId;
    });
    worker.join();
    EXPECT_NE(there, here);
    EXPECT_NE(there, 0u);
    EXPECT_EQ(thereProcess, SiCurrentProcessId());
}

TEST(PacketKind, LogHeaderContent) {
    auto header = SiMakeRef<TSiLogHeader>();
    header->HostName = "PC1";
    header->AppName = "app.exe";
    EXPECT_EQ(header->GetContent(), "hostname=PC1\r\nappname=app.exe\r\n");
    EXPECT_EQ(header->GetContent().size(), 31u);
}

TEST(PacketData, SetDataCopiesTheWholeSourceAndLeavesItAtItsEnd) {
    auto entry = SiMakeRef<TSiLogEntry>(ltBinary, viBinary);
    EXPECT_EQ(entry->GetData(), nullptr);
    EXPECT_FALSE(entry->HasData());

    TSiMemoryStream source = StreamOf("hello world");
    source.SetPosition(6);  // the copy starts at the first byte all the same
    entry->SetData(&source);
    EXPECT_EQ(source.GetPosition(), 11);
    ASSERT_NE(entry->GetData(), nullptr);
    EXPECT_EQ(ContentOf(*entry->GetData()), "hello world");
    EXPECT_TRUE(entry->HasData());

    // A second stream replaces the first content, it does not append to it.
    TSiMemoryStream shorter = StreamOf("bye");
    entry->SetData(&shorter);
    EXPECT_EQ(ContentOf(*entry->GetData()), "bye");
    EXPECT_EQ(entry->GetSize(), 48 + 3);

    // The packet's own stream given back to it keeps its content.
    entry->SetData(entry->GetData());
    EXPECT_EQ(ContentOf(*entry->GetData()), "bye");
}

TEST(PacketData, SetDataWithoutStreamEmptiesButKeepsTheStream) {
    auto entry = SiMakeRef<TSiLogEntry>(ltText, viData);
    entry->SetData(nullptr);
    EXPECT_EQ(entry->GetData(), nullptr) << "no stream is created for nothing";

    TSiMemoryStream source = StreamOf("data");
    entry->SetData(&source);
    TSiMemoryStream* data = entry->GetData();
    entry->SetData(nullptr);
    EXPECT_EQ(entry->GetData(), data);
    EXPECT_EQ(data->GetSize(), 0);
    EXPECT_FALSE(entry->HasData());
    EXPECT_EQ(entry->GetSize(), 48);

    auto command = SiMakeRef<TSiControlCommand>(ccClearLog);
    command->SetData(&source);
    EXPECT_TRUE(command->HasData());
    command->SetData(nullptr);
    EXPECT_NE(command->GetData(), nullptr);
    EXPECT_FALSE(command->HasData());
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
    bool destroyed = false;
    TSiRef<TTracked> first = SiMakeRef<TTracked>(destroyed);
    EXPECT_EQ(first->RefCount(), 1);
    {
        TSiRef<TTracked> copy = first;
        EXPECT_EQ(first->RefCount(), 2);
        TSiRef<TTracked> moved = std::move(copy);
        EXPECT_EQ(first->RefCount(), 2);
        EXPECT_FALSE(copy);
    }
    EXPECT_EQ(first->RefCount(), 1);

    // A reference handed out by Detach is given back by hand, and Share takes a new one.
    TTracked* raw = first.Detach();
    EXPECT_FALSE(first);
    TSiRef<TTracked> shared = TSiRef<TTracked>::Share(raw);
    EXPECT_EQ(raw->RefCount(), 2);
    raw->Release();
    EXPECT_FALSE(destroyed);
    shared = nullptr;
    EXPECT_TRUE(destroyed);
}

TEST(PacketReference, ConvertsToThePacketBase) {
    TSiRef<TSiWatch> watch = SiMakeRef<TSiWatch>(wtInteger);
    TSiPacketPtr packet = watch;
    EXPECT_EQ(watch->RefCount(), 2);
    EXPECT_EQ(packet->GetPacketType(), ptWatch);
}

TEST(PacketReference, CountsStayExactUnderConcurrentHolders) {
    bool destroyed = false;
    TSiRef<TTracked> object = SiMakeRef<TTracked>(destroyed);
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([object] {
            for (int i = 0; i < kRounds; ++i) {
                TSiRef<TTracked> copy = object;
                copy.Reset();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(object->RefCount(), 1);
    EXPECT_FALSE(destroyed);
    object.Reset();
    EXPECT_TRUE(destroyed);
}

TEST(PacketLock, LocksOnlyWhenThreadSafe) {
    auto packet = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
    auto tryFromOtherThread = [&] {
        bool locked = false;
        std::thread other([&] {
            locked = packet->TryLock();
            if (locked) {
                packet->Unlock();
            }
        });
        other.join();
        return locked;
    };

    // Not thread-safe: Lock takes nothing, so another thread is never held up.
    packet->Lock();
    EXPECT_TRUE(tryFromOtherThread());
    packet->Unlock();

    packet->SetThreadSafe(true);
    EXPECT_TRUE(packet->GetThreadSafe());
    packet->Lock();
    packet->Lock();  // re-entrant for the holding thread
    // Switching on again must keep the lock that is held, not create a new one.
    packet->SetThreadSafe(true);
    EXPECT_FALSE(tryFromOtherThread());
    packet->Unlock();
    EXPECT_FALSE(tryFromOtherThread());
    packet->Unlock();
    EXPECT_TRUE(tryFromOtherThread());

    packet->SetThreadSafe(false);
    packet->Lock();
    EXPECT_TRUE(tryFromOtherThread());
    packet->Unlock();
}

TEST(PacketLock, SerialisesWritersOfOnePacket) {
    auto packet = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
    packet->SetThreadSafe(true);
    int unguarded = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                TSiPacketLock lock(*packet);
                ++unguarded;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(unguarded, 40000);
}

TEST(Enumerations, WireCodesAndTheirReverseLookupsAgree) {
    for (std::size_t i = 0; i < CSiPacketTypeLookup.size(); ++i) {
        const auto type = static_cast<TSiPacketType>(i);
        EXPECT_EQ(SiPacketTypeFromCode(SiPacketTypeCode(type)), type);
    }
    for (std::size_t i = 0; i < CSiLogEntryTypeLookup.size(); ++i) {
        const auto type = static_cast<TSiLogEntryType>(i);
        EXPECT_EQ(SiLogEntryTypeFromCode(SiLogEntryTypeCode(type)), type);
    }
    for (std::size_t i = 0; i < CSiViewerIdLookup.size(); ++i) {
        const auto viewer = static_cast<TSiViewerId>(i);
        EXPECT_EQ(SiViewerIdFromCode(SiViewerIdCode(viewer)), viewer);
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
    const std::vector<DateCase> cases = {
        {{1899, 12, 30, 0, 0, 0, 0}, 0.0},    {{1900, 1, 1, 0, 0, 0, 0}, 2.0},
        {{1900, 3, 1, 0, 0, 0, 0}, 61.0},  // 1900 is not a leap year
        {{2000, 1, 1, 12, 0, 0, 0}, 36526.5}, {{2000, 2, 29, 6, 0, 0, 0}, 36585.25},
        {{1899, 12, 29, 6, 0, 0, 0}, -1.25},  // before the epoch day the time counts forward
        {{1, 1, 1, 0, 0, 0, 0}, -693593.0},   {{9999, 12, 31, 0, 0, 0, 0}, 2958465.0},
    };
    for (const DateCase& c : cases) {
        EXPECT_DOUBLE_EQ(SiEncodeDateTime(c.Parts), c.Value) << c.Value;
        EXPECT_EQ(SiDecodeDateTime(c.Value), c.Parts) << c.Value;
    }

    const TSiDateTimeParts precise{2024, 7, 15, 23, 59, 59, 999};
    EXPECT_EQ(SiDecodeDateTime(SiEncodeDateTime(precise)), precise);
    // Half a millisecond before midnight rounds to the start of the next day.
    const TDateTime almostMidnight = SiEncodeDateTime({2024, 12, 31}) + 1.0 - 0.4 / 86'400'000;
    EXPECT_EQ(SiDecodeDateTime(almostMidnight), (TSiDateTimeParts{2025, 1, 1}));
}

// Splitting into day and millisecond rounds to the nearest millisecond, halves away from zero,
// as llround does, for dates after and before the epoch day and for the halves themselves.
TEST(DateTime, SplitRoundsToTheNearestMillisecond) {
    const auto Reference = [](TDateTime AValue) {
        double whole = 0;
        const double fraction = std::fabs(std::modf(AValue, &whole));
        TSiDayTime result{static_cast<std::int64_t>(whole),
                          static_cast<std::int64_t>(std::llround(fraction * 86'400'000.0))};
        if (result.Millisecond >= 86'400'000) {
            result.Millisecond -= 86'400'000;
            result.Day += 1;
        }
        return result;
    };
    std::vector<TDateTime> values = {0.0,
                                     0.5,
                                     -0.5,
                                     1.0 / 86'400'000 / 2,
                                     46'000.999'999'999,
                                     -693'593.25,
                                     2'958'465.999'999'999'9,
                                     1e16,
                                     -1e16};
    for (int ms = 0; ms < 86'400'000; ms += 1'234'567) {
        for (const double offset : {0.0, 0.5, 0.499'999, 0.500'001}) {
            values.push_back(46'000 + (ms + offset) / 86'400'000.0);
            values.push_back(-46'000 - (ms + offset) / 86'400'000.0);
        }
    }
    for (const TDateTime value : values) {
        const TSiDayTime split = SiSplitDateTime(value);
        const TSiDayTime expected = Reference(value);
        EXPECT_EQ(split.Day, expected.Day) << value;
        EXPECT_EQ(split.Millisecond, expected.Millisecond) << value;
    }
}

TEST(DateTime, SystemClockGivesACalendarTime) {
    const TSiDateTimeParts utc = SiUtcTimeParts();
    const TSiDateTimeParts local = SiLocalTimeParts();
    for (const TSiDateTimeParts& parts : {utc, local}) {
        EXPECT_GE(parts.Year, 2020);
        EXPECT_TRUE(parts.Month >= 1 && parts.Month <= 12);
        EXPECT_TRUE(parts.Day >= 1 && parts.Day <= 31);
        EXPECT_TRUE(parts.Hour >= 0 && parts.Hour <= 23);
        EXPECT_TRUE(parts.Millisecond >= 0 && parts.Millisecond <= 999);
    }
    // Local time is within a day of UTC (time zones span at most 26 hours).
    EXPECT_LT(std::fabs(SiEncodeDateTime(local) - SiEncodeDateTime(utc)), 1.1);
}

// The cheap reading of log entries is bit for bit the encoded calendar reading, in the same
// millisecond, again and again (each second it converts afresh).
TEST(DateTime, LocalNowIsTheEncodedLocalTime) {
    int compared = 0;
    for (int attempt = 0; attempt < 100'000 && compared < 200; ++attempt) {
        const TSiDateTimeParts before = SiLocalTimeParts();
        const TDateTime now = SiLocalNow();
        const TSiDateTimeParts after = SiLocalTimeParts();
        if (before == after) {
            ASSERT_EQ(now, SiEncodeDateTime(before));
            ++compared;
        }
    }
    EXPECT_EQ(compared, 200);
}

}  // namespace
}  // namespace deruz::logging
