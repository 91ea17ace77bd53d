// The memory protocol: its options, the byte-budgeted store, binary and text dumps to a stream,
// dumps to another protocol through the logger core, held packets given out once, and dumps
// that fail part-way.
#include "logging/protocols/memory_protocol.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "logging/core/logger.h"
#include "logging/format/binary_formatter.h"
#include "logging/format/text_formatter.h"
#include "logging/viewer/packet_reader.h"
#include "tests/logging/recording_protocol.h"

namespace deruz::logging {
namespace {

using testing::Entry;
using testing::MakeRecording;

const std::string kSilf = "SILF";
const std::string kBom = "\xEF\xBB\xBF";

class MemoryProtocolTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        TSiProtocolFactory::RegisterProtocol("mem",
                                             [] { return SiMakeProtocol<TSiMemoryProtocol>(); });
    }

    // A connected memory protocol.
    static TSiProtocolPtr Connected(const std::string& AOptions) {
        auto LProtocol = TSiProtocolFactory::GetProtocol("mem", AOptions);
        LProtocol->Connect();
        return LProtocol;
    }

    // Dispatches a dump into a stream and returns what it received.
    static std::string DumpToString(TSiProtocol& AProtocol) {
        TSiMemoryStream LStream;
        TSiMemoryDump LDump(LStream);
        AProtocol.Dispatch(*SiMakeRef<TSiProtocolCommand>(0, &LDump));
        return Text(LStream);
    }

    static std::string Text(const TSiMemoryStream& AStream) {
        const auto LBytes = AStream.Bytes();
        return {LBytes.begin(), LBytes.end()};
    }

    // The titles of the log entries of a binary dump, checking its mark and format on the way;
    // other packets appear as "<watch>", "<flow>", "<control>".
    static std::vector<std::string> BinaryDumpTitles(const std::string& ADump) {
        std::vector<std::string> LTitles;
        EXPECT_EQ(ADump.substr(0, 4), kSilf);
        if (ADump.size() < 4) {
            return LTitles;
        }
        const auto* LBytes = reinterpret_cast<const std::uint8_t*>(ADump.data()) + 4;
        TSiBinaryPacketReader LReader({LBytes, ADump.size() - 4}, 4);
        while (!LReader.AtEnd()) {
            const TSiPacketPtr LPacket = LReader.ReadPacket();
            switch (LPacket->GetPacketType()) {
                case ptLogEntry:
                    LTitles.push_back(static_cast<TSiLogEntry&>(*LPacket).Title);
                    break;
                case ptWatch:
                    LTitles.push_back("<watch>");
                    break;
                case ptProcessFlow:
                    LTitles.push_back("<flow>");
                    break;
                default:
                    LTitles.push_back("<control>");
                    break;
            }
        }
        return LTitles;
    }
};

// Accepts a number of bytes, then refuses every write.
class TShortStream final : public TSiMemoryStream {
  public:
    explicit TShortStream(std::size_t ALimit) : FLimit(ALimit) {}
    std::size_t Write(const void* ABuffer, std::size_t ACount) override {
        const std::size_t LRoom = FLimit - static_cast<std::size_t>(GetSize());
        return TSiMemoryStream::Write(ABuffer, ACount < LRoom ? ACount : LRoom);
    }

  private:
    std::size_t FLimit;
};

TEST_F(MemoryProtocolTest, Options) {
    const auto LDefault = TSiProtocolFactory::GetProtocol("mem", "");
    const std::string LOptions = LDefault->GetOptions();
    EXPECT_TRUE(
        LOptions.ends_with("caption=\"mem\", maxsize=\"2048\", astext=\"false\", "
                           "indent=\"false\", pattern=\"[%timestamp%] %level%: %title%\""))
        << LOptions;

    const auto LSet = TSiProtocolFactory::GetProtocol(
        "mem", "MaxSize=1mb, astext=true, indent=true, pattern=\"%level%, %title%\"");
    EXPECT_NE(LSet->GetOptions().find("maxsize=\"1024\", astext=\"true\", indent=\"true\", "
                                      "pattern=\"%level%, %title%\""),
              std::string::npos);

    try {
        TSiProtocolFactory::GetProtocol("mem", "filename=x");
        ADD_FAILURE() << "no error";
    } catch (const ESiError& LAError) {
        EXPECT_STREQ(LAError.what(), "Option \"filename\" not available for protocol \"mem\"");
    }
}

TEST_F(MemoryProtocolTest, EmptyDumpsAreJustTheirMark) {
    EXPECT_EQ(DumpToString(*Connected("")), kSilf);
    EXPECT_EQ(DumpToString(*Connected("astext=true")), kBom);
}

TEST_F(MemoryProtocolTest, StoreKeepsTheNewestPacketsThatFitInOrder) {
    // Each entry costs 48 + 8 (its title) + 24 = 80 bytes: twelve fit into 1024.
    const auto LProtocol = Connected("maxsize=1");
    std::vector<std::string> LExpected;
    for (int LI = 0; LI < 100; ++LI) {
        char LTitle[16];
        std::snprintf(LTitle, sizeof LTitle, "entry %02d", LI);
        const TSiPacketPtr LEntry = Entry(LTitle);
        ASSERT_EQ(LEntry->GetSize(), 56);
        LProtocol->WritePacket(*LEntry);
        if (LI >= 88) {
            LExpected.push_back(LTitle);
        }
    }
    EXPECT_EQ(BinaryDumpTitles(DumpToString(*LProtocol)), LExpected);
    // Given out once: the next dump has nothing left.
    EXPECT_EQ(DumpToString(*LProtocol), kSilf);
}

TEST_F(MemoryProtocolTest, BinaryDumpReadsBackEveryPacketKind) {
    const auto LProtocol = Connected("");
    auto LEntry = SiMakeRef<TSiLogEntry>(ltWarning, viData);
    LEntry->Title = "with data";
    LEntry->Timestamp = 45413.5;
    TSiMemoryStream LData;
    LData.WriteBuffer("abc", 3);
    LEntry->SetData(&LData);
    auto LWatch = SiMakeRef<TSiWatch>(wtInteger);
    LWatch->Name = "n";
    LWatch->Value = "5";
    auto LFlow = SiMakeRef<TSiProcessFlow>(pfEnterMethod);
    auto LControl = SiMakeRef<TSiControlCommand>(ccClearLog);
    const TSiPacketPtr LLast = Entry("last");
    for (TSiPacket* LPacket :
         {static_cast<TSiPacket*>(LEntry.Get()), static_cast<TSiPacket*>(LWatch.Get()),
          static_cast<TSiPacket*>(LFlow.Get()), static_cast<TSiPacket*>(LControl.Get()),
          LLast.Get()}) {
        LProtocol->WritePacket(*LPacket);
    }
    const std::string LDump = DumpToString(*LProtocol);
    EXPECT_EQ(BinaryDumpTitles(LDump),
              (std::vector<std::string>{"with data", "<watch>", "<flow>", "<control>", "last"}));
    // The packets are laid out exactly as the binary formatter writes them.
    const std::vector<std::uint8_t> LFirst = SiFormatBinary(*LEntry);
    ASSERT_GT(LDump.size(), 4 + LFirst.size());
    EXPECT_EQ(std::memcmp(LDump.data() + 4, LFirst.data(), LFirst.size()), 0);
}

TEST_F(MemoryProtocolTest, TextDumpHasLinesForLogEntriesOnly) {
    const auto LProtocol = Connected("astext=true, indent=true, pattern=\"%level%|%title%\"");
    const TSiPacketPtr LPackets[] = {Entry("Enter"),
                                     SiMakeRef<TSiWatch>(wtString),
                                     Entry("inside", lvWarning),
                                     Entry("Leave"),
                                     SiMakeRef<TSiProcessFlow>(pfLeaveMethod),
                                     Entry("after", lvError)};
    static_cast<TSiLogEntry&>(*LPackets[0]).LogEntryType = ltEnterMethod;
    static_cast<TSiLogEntry&>(*LPackets[3]).LogEntryType = ltLeaveMethod;
    for (const TSiPacketPtr& LPacket : LPackets) {
        LProtocol->WritePacket(*LPacket);
    }
    EXPECT_EQ(DumpToString(*LProtocol), kBom +
                                            "Message|Enter\r\n"
                                            "Warning|   inside\r\n"
                                            "Message|Leave\r\n"
                                            "Error|after\r\n");
    EXPECT_EQ(DumpToString(*LProtocol), kBom);
}

TEST_F(MemoryProtocolTest, DumpsThroughTheLoggerToAStreamAndToAProtocol) {
    TSiLogger LLogger("app.exe");
    std::vector<std::string> LErrors;
    LLogger.SetOnError(
        [&](TSiLogger&, const std::exception& AError) { LErrors.push_back(AError.what()); });
    LLogger.SetConnections("mem(caption=store)");
    LLogger.SetEnabled(true);
    const auto LOg = [&](const std::string& ATitle, TSiLevel ALevel) {
        auto LEntry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
        LEntry->Title = ATitle;
        LEntry->Level = ALevel;
        LLogger.SendLogEntry(*LEntry);
    };

    LOg("one", lvMessage);
    LOg("two", lvError);
    TSiMemoryStream LStream;
    TSiMemoryDump LStreamDump(LStream);
    LLogger.Dispatch("STORE", 17, &LStreamDump);
    EXPECT_TRUE(LStreamDump.Done());
    EXPECT_EQ(LStreamDump.Error(), "");
    EXPECT_EQ(BinaryDumpTitles(Text(LStream)), (std::vector<std::string>{"one", "two"}));

    // A target protocol gets the packets through its level filter, as if they were logged now.
    LOg("three", lvDebug);
    LOg("four", lvWarning);
    const auto LTarget = MakeRecording("level=warning");
    LTarget->Connect();
    TSiMemoryDump LProtocolDump(*LTarget);
    LLogger.Dispatch("store", 0, &LProtocolDump);
    EXPECT_EQ(LTarget->Recorder().Calls(),
              (std::vector<std::string>{"connect", "header:@", "write:four"}));

    TSiMemoryStream LEmpty;
    TSiMemoryDump LEmptyDump(LEmpty);
    LLogger.Dispatch("store", 0, &LEmptyDump);
    EXPECT_EQ(Text(LEmpty), kSilf);
    // A command without a state does nothing and raises nothing.
    LLogger.Dispatch("store", 0, nullptr);
    EXPECT_TRUE(LErrors.empty());
}

TEST_F(MemoryProtocolTest, NothingHappensWhileDisconnected) {
    const auto LProtocol = TSiProtocolFactory::GetProtocol("mem", "");
    TSiMemoryStream LStream;
    TSiMemoryDump LDump(LStream);
    LProtocol->Dispatch(*SiMakeRef<TSiProtocolCommand>(0, &LDump));
    EXPECT_FALSE(LDump.Done());
    EXPECT_EQ(LStream.GetSize(), 0);

    // Disconnecting discards the store.
    LProtocol->Connect();
    LProtocol->WritePacket(*Entry("dropped"));
    LProtocol->Disconnect();
    LProtocol->Connect();
    EXPECT_EQ(DumpToString(*LProtocol), kSilf);
}

TEST_F(MemoryProtocolTest, FailingStreamEndsTheDumpAndKeepsTheRest) {
    const auto LProtocol = Connected("");
    for (const char* LTitle : {"p1", "p2", "p3", "p4"}) {
        LProtocol->WritePacket(*Entry(LTitle));
    }
    // Room for the mark and the first packet (6 + 48 + 2 bytes) only.
    TShortStream LStream(4 + 56);
    TSiMemoryDump LDump(LStream);
    try {
        LProtocol->Dispatch(*SiMakeRef<TSiProtocolCommand>(0, &LDump));
        ADD_FAILURE() << "no error";
    } catch (const ESiProtocolError& LAError) {
        EXPECT_STREQ(LAError.what(), "Stream write error");
        EXPECT_EQ(LAError.ProtocolName(), "mem");
    }
    EXPECT_TRUE(LDump.Done());
    EXPECT_EQ(LDump.Error(), "Stream write error");
    EXPECT_EQ(BinaryDumpTitles(Text(LStream)), std::vector<std::string>{"p1"});
    // The packet that failed is gone; the ones after it are still held.
    EXPECT_EQ(BinaryDumpTitles(DumpToString(*LProtocol)), (std::vector<std::string>{"p3", "p4"}));
}

TEST_F(MemoryProtocolTest, FailingTargetEndsTheDumpAndKeepsTheRest) {
    const auto LProtocol = Connected("");
    for (const char* LTitle : {"p1", "p2", "p3"}) {
        LProtocol->WritePacket(*Entry(LTitle));
    }
    const auto LTarget = MakeRecording("");
    LTarget->Connect();
    LTarget->Recorder().FailWrite = true;
    TSiMemoryDump LDump(*LTarget);
    try {
        LProtocol->Dispatch(*SiMakeRef<TSiProtocolCommand>(0, &LDump));
        ADD_FAILURE() << "no error";
    } catch (const ESiProtocolError& LAError) {
        EXPECT_STREQ(LAError.what(), "write failed");
        EXPECT_EQ(LAError.ProtocolName(), "mem");
    }
    EXPECT_EQ(BinaryDumpTitles(DumpToString(*LProtocol)), (std::vector<std::string>{"p2", "p3"}));
}

TEST_F(MemoryProtocolTest, DumpIntoItselfLeavesTheStoreAlone) {
    const auto LProtocol = Connected("");
    LProtocol->WritePacket(*Entry("kept"));
    TSiMemoryDump LDump(*LProtocol);
    LProtocol->Dispatch(*SiMakeRef<TSiProtocolCommand>(0, &LDump));
    EXPECT_TRUE(LDump.Done());
    EXPECT_EQ(BinaryDumpTitles(DumpToString(*LProtocol)), std::vector<std::string>{"kept"});
}

TEST_F(MemoryProtocolTest, AsynchronousDumpRunsOnTheWorker) {
    const auto LProtocol = Connected("async.enabled=true, astext=true, pattern=%title%");
    LProtocol->WritePacket(*Entry("a"));
    LProtocol->WritePacket(*Entry("b"));
    TSiMemoryStream LStream;
    TSiMemoryDump LDump(LStream);
    LProtocol->Dispatch(*SiMakeRef<TSiProtocolCommand>(0, &LDump));
    ASSERT_TRUE(LDump.WaitFor(std::chrono::seconds(30)));
    EXPECT_EQ(Text(LStream), kBom + "a\r\nb\r\n");
    LProtocol->Disconnect();
}

}  // namespace
}  // namespace deruz::logging
