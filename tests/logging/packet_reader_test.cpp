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
    TSiMemoryStream stream;
    stream.WriteBuffer(ABytes.data(), ABytes.size());
    return stream;
}

// One packet of each kind with every field set to something other than its default.
std::vector<TSiPacketPtr> OneOfEachKind() {
    auto entry = SiMakeRef<TSiLogEntry>(ltDatabaseResult, viTable);
    entry->AppName = "app.exe";
    entry->SessionName = "Main";
    entry->Title =
        "Gr\xC3\xBC\xC3\x9F"
        "e \xF0\x9F\x98\x80";
    entry->HostName = "PC1";
    entry->Color = 0x00336699;
    entry->Timestamp = 45123.75;
    entry->ProcessId = 0xFFFFFFF0u;
    entry->ThreadId = 4242;
    TSiMemoryStream data = StreamOf(std::string("\0\x01\x02 binary\xFF", 11));
    entry->SetData(&data);

    auto command = SiMakeRef<TSiControlCommand>(ccClearAutoViews);
    TSiMemoryStream commandData = StreamOf("abc");
    command->SetData(&commandData);

    auto watch = SiMakeRef<TSiWatch>(wtFloat);
    watch->Name = "ratio";
    watch->Value = "0.25";
    watch->Timestamp = -2.5;

    auto flow = SiMakeRef<TSiProcessFlow>(pfLeaveProcess);
    flow->Title = "Shutdown";
    flow->HostName = "PC2";
    flow->Timestamp = 1.0 / 3.0;

    auto header = SiMakeRef<TSiLogHeader>();
    header->HostName = "PC1";
    header->AppName = "app.exe";

    return {entry, command, watch, flow, header};
}

Bytes Concatenate(const std::vector<TSiPacketPtr>& APackets) {
    Bytes all;
    for (const TSiPacketPtr& packet : APackets) {
        const Bytes bytes = SiFormatBinary(*packet);
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    return all;
}

TEST(PacketReader, RoundTripsEveryPacketKind) {
    const std::vector<TSiPacketPtr> packets = OneOfEachKind();
    const Bytes stream = Concatenate(packets);

    TSiBinaryPacketReader reader(stream);
    for (const TSiPacketPtr& original : packets) {
        ASSERT_FALSE(reader.AtEnd());
        TSiPacketPtr decoded = reader.ReadPacket();
        ASSERT_EQ(decoded->GetPacketType(), original->GetPacketType());
        // Encoding the decoded packet again gives the same bytes only if every field that the
        // format carries came back.
        EXPECT_EQ(SiFormatBinary(*decoded), SiFormatBinary(*original))
            << SiPacketTypeCode(original->GetPacketType());
        EXPECT_EQ(decoded->GetSize(), original->GetSize());
        EXPECT_EQ(decoded->Level, original->Level);
        EXPECT_EQ(decoded->RefCount(), 1);
    }
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_EQ(reader.GetPosition(), stream.size());

    // Spot checks of the decoded values themselves.
    TSiBinaryPacketReader third(stream);
    TSiPacketPtr first = third.ReadPacket();
    const auto& decodedEntry = static_cast<const TSiLogEntry&>(*first);
    EXPECT_EQ(decodedEntry.Title,
              "Gr\xC3\xBC\xC3\x9F"
              "e \xF0\x9F\x98\x80");
    EXPECT_EQ(decodedEntry.ProcessId, 0xFFFFFFF0u);
    EXPECT_EQ(decodedEntry.ViewerId, viTable);
    ASSERT_TRUE(decodedEntry.HasData());
    EXPECT_EQ(decodedEntry.GetData()->GetSize(), 11);
    TSiPacketPtr second = third.ReadPacket();
    EXPECT_EQ(second->Level, lvControl);
    third.ReadPacket();
    third.ReadPacket();
    TSiPacketPtr last = third.ReadPacket();
    const auto& decodedHeader = static_cast<const TSiLogHeader&>(*last);
    EXPECT_EQ(decodedHeader.HostName, "PC1");
    EXPECT_EQ(decodedHeader.AppName, "app.exe");
}

TEST(PacketReader, LogHeaderWithEmptyNamesRoundTrips) {
    auto header = SiMakeRef<TSiLogHeader>();
    const Bytes bytes = SiFormatBinary(*header);
    TSiBinaryPacketReader reader(bytes);
    TSiPacketPtr decoded = reader.ReadPacket();
    EXPECT_EQ(static_cast<const TSiLogHeader&>(*decoded).GetContent(), header->GetContent());
}

TEST(PacketReader, EveryTruncationIsReportedAtTheCutPacket) {
    const Bytes stream = Concatenate(OneOfEachKind());
    std::vector<std::size_t> boundaries = {0};
    {
        TSiBinaryPacketReader reader(stream);
        while (!reader.AtEnd()) {
            reader.ReadPacket();
            boundaries.push_back(reader.GetPosition());
        }
    }
    for (std::size_t length = 0; length < stream.size(); ++length) {
        // An exact-size copy, so that reading past its end is an error the sanitizers see.
        const Bytes prefix(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(length));
        TSiBinaryPacketReader reader(prefix);
        std::size_t complete = 0;
        while (boundaries[complete + 1] <= length) {
            reader.ReadPacket();
            ++complete;
        }
        if (reader.AtEnd()) {
            continue;  // the cut fell between two packets
        }
        const std::size_t start = reader.GetPosition();
        EXPECT_EQ(TSiBinaryPacketReader::CompletePacketSize(std::span(prefix).subspan(start)), 0u)
            << length;
        try {
            reader.ReadPacket();
            ADD_FAILURE() << "a packet cut at " << length << " was accepted";
        } catch (const ESiPacketFormatError& error) {
            EXPECT_EQ(error.Offset(), start) << length;
            EXPECT_NE(std::string(error.what()).find("Truncated packet"), std::string::npos)
                << error.what();
            EXPECT_EQ(reader.GetPosition(), start);
        }
    }
}

TEST(PacketReader, CompletePacketSizeFindsPacketsInAByteStream) {
    const Bytes stream = Concatenate(OneOfEachKind());
    const std::size_t first = TSiBinaryPacketReader::CompletePacketSize(stream);
    TSiBinaryPacketReader reader(stream);
    reader.ReadPacket();
    EXPECT_EQ(first, reader.GetPosition());
    EXPECT_EQ(TSiBinaryPacketReader::CompletePacketSize(std::span(stream).first(first)), first);
    EXPECT_EQ(TSiBinaryPacketReader::CompletePacketSize(std::span(stream).first(5)), 0u);
    const Bytes badType = {0x02, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_THROW(TSiBinaryPacketReader::CompletePacketSize(badType), ESiPacketFormatError);
}

void PutInt32(Bytes& ABytes, std::size_t AOffset, std::int32_t AValue) {
    std::uint32_t value = static_cast<std::uint32_t>(AValue);
    for (int i = 0; i < 4; ++i) {
        ABytes[AOffset + i] = static_cast<std::uint8_t>(value >> (8 * i));
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
    Bytes bytes = PacketBytes(AKind);
    PutInt32(bytes, AOffset, AValue);
    return bytes;
}

TEST(PacketReader, RejectsCorruptInputNamingFaultAndOffset) {
    const Bytes entry = PacketBytes(kEntry);
    const auto entryBody = static_cast<std::int32_t>(entry.size() - 6);
    const std::int32_t kTitleBytes = 12;
    Bytes wrongHeaderText = PacketBytes(kHeader);
    std::memcpy(wrongHeaderText.data() + 10, "hostnome", 8);
    Bytes headerWithoutAppName = {0x07, 0x00, 0x12, 0x00, 0x00, 0x00, 0x0E, 0x00, 0x00, 0x00};
    for (char c : std::string("hostname=PC1\r\n")) {
        headerWithoutAppName.push_back(static_cast<std::uint8_t>(c));
    }
    const Bytes shortEntry = {0x04, 0x00, 0x02, 0x00, 0x00, 0x00, 0x64, 0x00};

    const std::vector<CorruptCase> cases = {
        {"unknown packet type",
         {0x02, 0x00, 0x00, 0x00, 0x00, 0x00},
         "Unknown packet type code 2 at offset 0",
         0},
        {"negative packet size",
         {0x04, 0x00, 0xFF, 0xFF, 0xFF, 0xFF},
         "Negative packet size -1 at offset 2",
         2},
        {"body shorter than its fixed header", shortEntry,
         "Body of the log entry (2 bytes) is shorter than its 48-byte header at offset 6", 6},
        {"unknown log entry type", Mutated(kEntry, 6, 4), "Unknown log entry type 4 at offset 6",
         6},
        {"unknown viewer id", Mutated(kEntry, 10, 7), "Unknown viewer id 7 at offset 10", 10},
        {"negative title length", Mutated(kEntry, 22, -3),
         "Negative TitleLength -3 in log entry body at offset 22", 22},
        {"lengths beyond the body", Mutated(kEntry, 22, 0x7FFFFFFF),
         "Lengths of the log entry give " + std::to_string(entryBody - kTitleBytes + 0x7FFFFFFFLL) +
             " body bytes, the packet header " + std::to_string(entryBody) + " at offset 6",
         6},
        {"lengths short of the body", Mutated(kEntry, 30, 0),
         "Lengths of the log entry give " + std::to_string(entryBody - 11) +
             " body bytes, the packet header " + std::to_string(entryBody) + " at offset 6",
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
        {"log header text not in its form", wrongHeaderText,
         "Log header content is not \"hostname=\" and \"appname=\" lines at offset 10", 10},
        {"log header without the application line", headerWithoutAppName,
         "Log header content is not \"hostname=\" and \"appname=\" lines at offset 10", 10},
    };
    for (const CorruptCase& c : cases) {
        TSiBinaryPacketReader reader(c.Input);
        try {
            reader.ReadPacket();
            ADD_FAILURE() << c.Name << " was accepted";
        } catch (const ESiPacketFormatError& error) {
            EXPECT_EQ(error.what(), c.Message) << c.Name;
            EXPECT_EQ(error.Offset(), c.Offset) << c.Name;
            EXPECT_EQ(reader.GetPosition(), 0u) << c.Name;
        }
    }
}

TEST(PacketReader, ReportsOffsetsFromTheBaseOffsetOfItsBuffer) {
    Bytes bytes = PacketBytes(kWatch);
    const Bytes bad = Mutated(kWatch, 14, 99);
    bytes.insert(bytes.end(), bad.begin(), bad.end());
    TSiBinaryPacketReader reader(bytes, 1000);
    reader.ReadPacket();
    try {
        reader.ReadPacket();
        FAIL() << "the corrupt second packet was accepted";
    } catch (const ESiPacketFormatError& error) {
        EXPECT_EQ(error.Offset(), 1000 + bad.size() + 14);
    }
}

}  // namespace
}  // namespace deruz::logging
