// Decoding the binary packet format: round trips of every packet kind, and truncated or
// corrupt input, which must be rejected with the fault and its offset and never read beyond
// the bytes given.
#include "logging/viewer/packet_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "logging/format/binary_formatter.h"

namespace deruz::logging {
namespace {

using Bytes = std::vector<std::uint8_t>;

TSiMemoryStream StreamOf(std::string_view ABytes) {
    TSiMemoryStream LStream;
    LStream.WriteBuffer(ABytes.data(), ABytes.size());
    return LStream;
}

// One packet of each kind with every field set to something other than its default.
std::vector<TSiPacketPtr> OneOfEachKind() {
    auto LEntry = SiMakeRef<TSiLogEntry>(ltDatabaseResult, viTable);
    LEntry->AppName = "app.exe";
    LEntry->SessionName = "Main";
    LEntry->Title =
        "Gr\xC3\xBC\xC3\x9F"
        "e \xF0\x9F\x98\x80";
    LEntry->HostName = "PC1";
    LEntry->Color = 0x00336699;
    LEntry->Timestamp = 45123.75;
    LEntry->ProcessId = 0xFFFFFFF0u;
    LEntry->ThreadId = 4242;
    TSiMemoryStream LData = StreamOf(std::string("\0\x01\x02 binary\xFF", 11));
    LEntry->SetData(&LData);

    auto LCommand = SiMakeRef<TSiControlCommand>(ccClearAutoViews);
    TSiMemoryStream LCommandData = StreamOf("abc");
    LCommand->SetData(&LCommandData);

    auto LWatch = SiMakeRef<TSiWatch>(wtFloat);
    LWatch->Name = "ratio";
    LWatch->Value = "0.25";
    LWatch->Timestamp = -2.5;

    auto LFlow = SiMakeRef<TSiProcessFlow>(pfLeaveProcess);
    LFlow->Title = "Shutdown";
    LFlow->HostName = "PC2";
    LFlow->Timestamp = 1.0 / 3.0;

    auto LHeader = SiMakeRef<TSiLogHeader>();
    LHeader->HostName = "PC1";
    LHeader->AppName = "app.exe";

    return {LEntry, LCommand, LWatch, LFlow, LHeader};
}

Bytes Concatenate(const std::vector<TSiPacketPtr>& APackets) {
    Bytes LAll;
    for (const TSiPacketPtr& LPacket : APackets) {
        const Bytes LBytes = SiFormatBinary(*LPacket);
        LAll.insert(LAll.end(), LBytes.begin(), LBytes.end());
    }
    return LAll;
}

TEST(PacketReader, RoundTripsEveryPacketKind) {
    const std::vector<TSiPacketPtr> LPackets = OneOfEachKind();
    const Bytes LStream = Concatenate(LPackets);

    TSiBinaryPacketReader LReader(LStream);
    for (const TSiPacketPtr& LOriginal : LPackets) {
        ASSERT_FALSE(LReader.AtEnd());
        TSiPacketPtr LDecoded = LReader.ReadPacket();
        ASSERT_EQ(LDecoded->GetPacketType(), LOriginal->GetPacketType());
        // Encoding the decoded packet again gives the same bytes only if every field that the
        // format carries came back.
        EXPECT_EQ(SiFormatBinary(*LDecoded), SiFormatBinary(*LOriginal))
            << SiPacketTypeCode(LOriginal->GetPacketType());
        EXPECT_EQ(LDecoded->GetSize(), LOriginal->GetSize());
        EXPECT_EQ(LDecoded->Level, LOriginal->Level);
        EXPECT_EQ(LDecoded->RefCount(), 1);
    }
    EXPECT_TRUE(LReader.AtEnd());
    EXPECT_EQ(LReader.GetPosition(), LStream.size());

    // Spot checks of the decoded values themselves.
    TSiBinaryPacketReader LThird(LStream);
    TSiPacketPtr LFirst = LThird.ReadPacket();
    const auto& LDecodedEntry = static_cast<const TSiLogEntry&>(*LFirst);
    EXPECT_EQ(LDecodedEntry.Title,
              "Gr\xC3\xBC\xC3\x9F"
              "e \xF0\x9F\x98\x80");
    EXPECT_EQ(LDecodedEntry.ProcessId, 0xFFFFFFF0u);
    EXPECT_EQ(LDecodedEntry.ViewerId, viTable);
    ASSERT_TRUE(LDecodedEntry.HasData());
    EXPECT_EQ(LDecodedEntry.GetData()->GetSize(), 11);
    TSiPacketPtr LSecond = LThird.ReadPacket();
    EXPECT_EQ(LSecond->Level, lvControl);
    LThird.ReadPacket();
    LThird.ReadPacket();
    TSiPacketPtr LLast = LThird.ReadPacket();
    const auto& LDecodedHeader = static_cast<const TSiLogHeader&>(*LLast);
    EXPECT_EQ(LDecodedHeader.HostName, "PC1");
    EXPECT_EQ(LDecodedHeader.AppName, "app.exe");
}

TEST(PacketReader, LogHeaderWithEmptyNamesRoundTrips) {
    auto LHeader = SiMakeRef<TSiLogHeader>();
    const Bytes LBytes = SiFormatBinary(*LHeader);
    TSiBinaryPacketReader LReader(LBytes);
    TSiPacketPtr LDecoded = LReader.ReadPacket();
    EXPECT_EQ(static_cast<const TSiLogHeader&>(*LDecoded).GetContent(), LHeader->GetContent());
}

TEST(PacketReader, EveryTruncationIsReportedAtTheCutPacket) {
    const Bytes LStream = Concatenate(OneOfEachKind());
    std::vector<std::size_t> LBoundaries = {0};
    {
        TSiBinaryPacketReader LReader(LStream);
        while (!LReader.AtEnd()) {
            LReader.ReadPacket();
            LBoundaries.push_back(LReader.GetPosition());
        }
    }
    for (std::size_t LLength = 0; LLength < LStream.size(); ++LLength) {
        // An exact-size copy, so that reading past its end is an error the sanitizers see.
        const Bytes LPrefix(LStream.begin(),
                            LStream.begin() + static_cast<std::ptrdiff_t>(LLength));
        TSiBinaryPacketReader LReader(LPrefix);
        std::size_t LComplete = 0;
        while (LBoundaries[LComplete + 1] <= LLength) {
            LReader.ReadPacket();
            ++LComplete;
        }
        if (LReader.AtEnd()) {
            continue;  // the cut fell between two packets
        }
        const std::size_t LStart = LReader.GetPosition();
        EXPECT_EQ(TSiBinaryPacketReader::CompletePacketSize(std::span(LPrefix).subspan(LStart)), 0u)
            << LLength;
        try {
            LReader.ReadPacket();
            ADD_FAILURE() << "a packet cut at " << LLength << " was accepted";
        } catch (const ESiPacketFormatError& LError) {
            EXPECT_EQ(LError.Offset(), LStart) << LLength;
            EXPECT_NE(std::string(LError.what()).find("Truncated packet"), std::string::npos)
                << LError.what();
            EXPECT_EQ(LReader.GetPosition(), LStart);
        }
    }
}

TEST(PacketReader, CompletePacketSizeFindsPacketsInAByteStream) {
    const Bytes LStream = Concatenate(OneOfEachKind());
    const std::size_t LFirst = TSiBinaryPacketReader::CompletePacketSize(LStream);
    TSiBinaryPacketReader LReader(LStream);
    LReader.ReadPacket();
    EXPECT_EQ(LFirst, LReader.GetPosition());
    EXPECT_EQ(TSiBinaryPacketReader::CompletePacketSize(std::span(LStream).first(LFirst)), LFirst);
    EXPECT_EQ(TSiBinaryPacketReader::CompletePacketSize(std::span(LStream).first(5)), 0u);
    const Bytes LBadType = {0x02, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_THROW(TSiBinaryPacketReader::CompletePacketSize(LBadType), ESiPacketFormatError);
}

void PutInt32(Bytes& ABytes, std::size_t AOffset, std::int32_t AValue) {
    std::uint32_t LValue = static_cast<std::uint32_t>(AValue);
    for (int LI = 0; LI < 4; ++LI) {
        ABytes[AOffset + LI] = static_cast<std::uint8_t>(LValue >> (8 * LI));
    }
}

Bytes PacketBytes(std::size_t AKindIndex) {
    return SiFormatBinary(*OneOfEachKind()[AKindIndex]);
}

constexpr std::size_t kEntry = 0, kCommand = 1, kWatch = 2, kFlow = 3, kHeader = 4;

struct CorruptCase {
    const char* Name;
    Bytes Input;
    std::string Message;
    std::uint64_t Offset;
};

Bytes Mutated(std::size_t AKind, std::size_t AOffset, std::int32_t AValue) {
    Bytes LBytes = PacketBytes(AKind);
    PutInt32(LBytes, AOffset, AValue);
    return LBytes;
}

TEST(PacketReader, RejectsCorruptInputNamingFaultAndOffset) {
    const Bytes LEntry = PacketBytes(kEntry);
    const auto LEntryBody = static_cast<std::int32_t>(LEntry.size() - 6);
    const std::int32_t LTitleBytes = 12;
    Bytes LWrongHeaderText = PacketBytes(kHeader);
    std::memcpy(LWrongHeaderText.data() + 10, "hostnome", 8);
    Bytes LHeaderWithoutAppName = {0x07, 0x00, 0x12, 0x00, 0x00, 0x00, 0x0E, 0x00, 0x00, 0x00};
    for (char LC : std::string("hostname=PC1\r\n")) {
        LHeaderWithoutAppName.push_back(static_cast<std::uint8_t>(LC));
    }
    const Bytes LShortEntry = {0x04, 0x00, 0x02, 0x00, 0x00, 0x00, 0x64, 0x00};

    const std::vector<CorruptCase> LCases = {
        {"unknown packet type",
         {0x02, 0x00, 0x00, 0x00, 0x00, 0x00},
         "Unknown packet type code 2 at offset 0",
         0},
        {"negative packet size",
         {0x04, 0x00, 0xFF, 0xFF, 0xFF, 0xFF},
         "Negative packet size -1 at offset 2",
         2},
        {"body shorter than its fixed header", LShortEntry,
         "Body of the log entry (2 bytes) is shorter than its 48-byte header at offset 6", 6},
        {"unknown log entry type", Mutated(kEntry, 6, 4), "Unknown log entry type 4 at offset 6",
         6},
        {"unknown viewer id", Mutated(kEntry, 10, 7), "Unknown viewer id 7 at offset 10", 10},
        {"negative title length", Mutated(kEntry, 22, -3),
         "Negative TitleLength -3 in log entry body at offset 22", 22},
        {"lengths beyond the body", Mutated(kEntry, 22, 0x7FFFFFFF),
         "Lengths of the log entry give " +
             std::to_string(LEntryBody - LTitleBytes + 0x7FFFFFFFLL) +
             " body bytes, the packet header " + std::to_string(LEntryBody) + " at offset 6",
         6},
        {"lengths short of the body", Mutated(kEntry, 30, 0),
         "Lengths of the log entry give " + std::to_string(LEntryBody - 11) +
             " body bytes, the packet header " + std::to_string(LEntryBody) + " at offset 6",
         6},
        {"unknown control command type", Mutated(kCommand, 6, 5),
         "Unknown control command type 5 at offset 6", 6},
        {"negative control command data length", Mutated(kCommand, 10, -1),
         "Negative DataLength -1 in control command body at offset 10", 10},
        {"unknown watch type", Mutated(kWatch, 14, 8), "Unknown watch type 8 at offset 14", 14},
        {"unknown process flow type", Mutated(kFlow, 6, 6),
         "Unknown process flow type 6 at offset 6", 6},
        {"log header content length off by one", Mutated(kHeader, 6, 30),
         "Lengths of the log header give 34 body bytes, the packet header 35 at offset 6", 6},
        {"log header text not in its form", LWrongHeaderText,
         "Log header content is not \"hostname=\" and \"appname=\" lines at offset 10", 10},
        {"log header without the application line", LHeaderWithoutAppName,
         "Log header content is not \"hostname=\" and \"appname=\" lines at offset 10", 10},
    };
    for (const CorruptCase& LC : LCases) {
        TSiBinaryPacketReader LReader(LC.Input);
        try {
            LReader.ReadPacket();
            ADD_FAILURE() << LC.Name << " was accepted";
        } catch (const ESiPacketFormatError& LError) {
            EXPECT_EQ(LError.what(), LC.Message) << LC.Name;
            EXPECT_EQ(LError.Offset(), LC.Offset) << LC.Name;
            EXPECT_EQ(LReader.GetPosition(), 0u) << LC.Name;
        }
    }
}

TEST(PacketReader, ReportsOffsetsFromTheBaseOffsetOfItsBuffer) {
    Bytes LBytes = PacketBytes(kWatch);
    const Bytes LBad = Mutated(kWatch, 14, 99);
    LBytes.insert(LBytes.end(), LBad.begin(), LBad.end());
    TSiBinaryPacketReader LReader(LBytes, 1000);
    LReader.ReadPacket();
    try {
        LReader.ReadPacket();
        FAIL() << "the corrupt second packet was accepted";
    } catch (const ESiPacketFormatError& LError) {
        EXPECT_EQ(LError.Offset(), 1000 + LBad.size() + 14);
    }
}

}  // namespace
}  // namespace deruz::logging
