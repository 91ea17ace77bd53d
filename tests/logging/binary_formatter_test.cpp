// The binary packet format: byte-exact output for every packet kind, the reused work buffer,
// data stream handling and the way the output reaches its stream.
#include "logging/format/binary_formatter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "logging/viewer/packet_reader.h"

namespace deruz::logging {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Bytes from a text of space-separated hex pairs.
Bytes Hex(std::string_view AText) {
    Bytes bytes;
    std::istringstream input{std::string(AText)};
    std::string pair;
    while (input >> pair) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(pair, nullptr, 16)));
    }
    return bytes;
}

Bytes Ascii(std::string_view AText) {
    return {AText.begin(), AText.end()};
}

Bytes Join(std::initializer_list<Bytes> AParts) {
    Bytes all;
    for (const Bytes& part : AParts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TSiMemoryStream StreamOf(std::string_view ABytes) {
    TSiMemoryStream stream;
    stream.WriteBuffer(ABytes.data(), ABytes.size());
    return stream;
}

Bytes Format(TSiBinaryFormatter& AFormatter, TSiPacket& APacket) {
    TSiMemoryStream output;
    AFormatter.Format(APacket, output);
    const auto bytes = output.Bytes();
    return {bytes.begin(), bytes.end()};
}

TSiRef<TSiControlCommand> CommandWithData(std::size_t ADataSize) {
    auto command = SiMakeRef<TSiControlCommand>(ccClearLog);
    TSiMemoryStream data;
    data.SetSize(static_cast<std::int64_t>(ADataSize));
    command->SetData(&data);
    return command;
}

// An output stream that records every write and can be told to take only part of each.
class TRecordingStream : public TSiStream {
  public:
    std::size_t Read(void*, std::size_t) override { return 0; }
    std::size_t Write(const void* ABuffer, std::size_t ACount) override {
        const std::size_t taken = std::min(ACount, FMaxPerWrite);
        WriteSizes.push_back(ACount);
        const auto* bytes = static_cast<const std::uint8_t*>(ABuffer);
        Written.insert(Written.end(), bytes, bytes + taken);
        return taken;
    }

    std::size_t FMaxPerWrite = SIZE_MAX;
    std::vector<std::size_t> WriteSizes;
    Bytes Written;
};

struct GoldenCase {
    const char* Name;
    std::function<TSiPacketPtr()> Make;
    Bytes Expected;
};

TEST(BinaryFormatter, WritesEveryPacketKindByteExactly) {
    const std::vector<GoldenCase> cases = {
        {"log header for PC1 and App",
         [] {
             auto header = SiMakeRef<TSiLogHeader>();
             header->HostName = "PC1";
             header->AppName = "App";
             return TSiPacketPtr(header);
         },
         Join({Hex("07 00  1F 00 00 00  1B 00 00 00"), Ascii("hostname=PC1\r\nappname=App\r\n")})},
        {"log entry with empty texts and no data",
         [] {
             auto entry = SiMakeRef<TSiLogEntry>(ltMessage, viNone);
             entry->ProcessId = 0x11223344;
             entry->ThreadId = 0x55667788;
             entry->Timestamp = 2.0;
             return TSiPacketPtr(entry);
         },
         Hex("04 00  30 00 00 00"
             "  64 00 00 00  FF FF FF FF  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00"
             "  00 00 00 00  44 33 22 11  88 77 66 55  00 00 00 00 00 00 00 40  05 00 00 FF")},
        {"log entry with texts and data",
         [] {
             auto entry = SiMakeRef<TSiLogEntry>(ltWarning, viData);
             entry->AppName = "ap";
             entry->SessionName = "s";
             entry->Title = "\xC3\xA9";
             entry->HostName = "h";
             entry->ProcessId = 0x01020304;
             entry->ThreadId = 0x0A0B0C0D;
             entry->Timestamp = 1.5;
             entry->Color = 0x8000;
             TSiMemoryStream data = StreamOf("xyz");
             entry->SetData(&data);
             return TSiPacketPtr(entry);
         },
         Join({Hex("04 00  39 00 00 00"
                   "  65 00 00 00  01 00 00 00  02 00 00 00  01 00 00 00  02 00 00 00"
                   "  01 00 00 00  03 00 00 00  04 03 02 01  0D 0C 0B 0A"
                   "  00 00 00 00 00 00 F8 3F  00 80 00 00"),
               Ascii("aps"), Hex("C3 A9"), Ascii("hxyz")})},
        {"control command with three data bytes",
         [] {
             auto command = SiMakeRef<TSiControlCommand>(ccClearAll);
             TSiMemoryStream data = StreamOf("abc");
             command->SetData(&data);
             return TSiPacketPtr(command);
         },
         Join({Hex("01 00  0B 00 00 00  03 00 00 00  03 00 00 00"), Ascii("abc")})},
        {"control command without data",
         [] { return TSiPacketPtr(SiMakeRef<TSiControlCommand>(ccClearProcessFlow)); },
         Hex("01 00  08 00 00 00  04 00 00 00  00 00 00 00")},
        {"watch of type timestamp",
         [] {
             auto watch = SiMakeRef<TSiWatch>(wtTimestamp);
             watch->Name = "n";
             watch->Value = "42";
             watch->Timestamp = -1.25;
             return TSiPacketPtr(watch);
         },
         Join({Hex("05 00  17 00 00 00  01 00 00 00  02 00 00 00  06 00 00 00"
                   "  00 00 00 00 00 00 F4 BF"),
               Ascii("n42")})},
        {"process flow leaving a thread",
         [] {
             auto flow = SiMakeRef<TSiProcessFlow>(pfLeaveThread);
             flow->Title = "T";
             flow->HostName = "H";
             flow->ProcessId = 7;
             flow->ThreadId = 9;
             flow->Timestamp = 0.5;
             return TSiPacketPtr(flow);
         },
         Join({Hex("06 00  1E 00 00 00  03 00 00 00  01 00 00 00  01 00 00 00  07 00 00 00"
                   "  09 00 00 00  00 00 00 00 00 00 E0 3F"),
               Ascii("TH")})},
    };
    for (const GoldenCase& c : cases) {
        TSiPacketPtr packet = c.Make();
        TSiBinaryFormatter formatter;
        EXPECT_EQ(formatter.Compile(*packet), static_cast<std::int32_t>(c.Expected.size()))
            << c.Name;
        TSiMemoryStream output;
        formatter.Write(output);
        EXPECT_EQ(Bytes(output.Bytes().begin(), output.Bytes().end()), c.Expected) << c.Name;
    }
}

TEST(BinaryFormatter, TextLengthsCountUtf8BytesWhileSizeCountsCharacters) {
    auto entry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
    entry->Title = "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x84\xC3\x96";  // five two-byte characters
    EXPECT_EQ(entry->GetSize(), 53);
    const Bytes bytes = SiFormatBinary(*entry);
    ASSERT_EQ(bytes.size(), 6u + 48 + 10);
    EXPECT_EQ(Bytes(bytes.begin() + 6 + 16, bytes.begin() + 6 + 20), Hex("0A 00 00 00"));
    EXPECT_EQ(Bytes(bytes.end() - 10, bytes.end()), Ascii(entry->Title));
}

// Every text length, around the sizes the formatter copies in different ways, reads back
// unchanged, with neighbouring fields intact.
TEST(BinaryFormatter, TextsOfEveryShortLengthReadBack) {
    const std::string LAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMN";
    for (std::size_t LLength = 0; LLength <= 40; ++LLength) {
        auto LEntry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
        LEntry->AppName = LAlphabet.substr(LLength % 7, LLength / 2);
        LEntry->SessionName = LAlphabet.substr(1, LLength);
        LEntry->Title = LAlphabet.substr(2, LLength);
        LEntry->HostName = LAlphabet.substr(3, (LLength * 3) % 17);
        const std::vector<std::uint8_t> LBytes = SiFormatBinary(*LEntry);
        TSiBinaryPacketReader LReader(LBytes);
        const TSiPacketPtr LPacket = LReader.ReadPacket();
        ASSERT_TRUE(LReader.AtEnd()) << LLength;
        const auto& LRead = static_cast<const TSiLogEntry&>(*LPacket);
        EXPECT_EQ(LRead.AppName, LEntry->AppName) << LLength;
        EXPECT_EQ(LRead.SessionName, LEntry->SessionName) << LLength;
        EXPECT_EQ(LRead.Title, LEntry->Title) << LLength;
        EXPECT_EQ(LRead.HostName, LEntry->HostName) << LLength;
    }
}

TEST(BinaryFormatter, EmptyDataStreamWritesNoData) {
    auto entry = SiMakeRef<TSiLogEntry>(ltText, viData);
    const Bytes withoutData = SiFormatBinary(*entry);
    TSiMemoryStream empty;
    entry->SetData(&empty);
    ASSERT_NE(entry->GetData(), nullptr);
    const Bytes withEmptyData = SiFormatBinary(*entry);
    EXPECT_EQ(withEmptyData.size(), 54u);
    EXPECT_EQ(withEmptyData, withoutData);
}

TEST(BinaryFormatter, DataIsReadFromItsStartAndRewoundForTheNextProtocol) {
    auto entry = SiMakeRef<TSiLogEntry>(ltBinary, viBinary);
    TSiMemoryStream data = StreamOf("0123456789");
    entry->SetData(&data);
    entry->GetData()->SetPosition(7);  // left anywhere by an earlier reader

    TSiBinaryFormatter first;
    TSiBinaryFormatter second;
    const Bytes once = Format(first, *entry);
    EXPECT_EQ(entry->GetData()->GetPosition(), 0);
    const Bytes twice = Format(second, *entry);
    EXPECT_EQ(once, twice);
    EXPECT_EQ(Bytes(once.end() - 10, once.end()), Ascii("0123456789"));
    EXPECT_EQ(Format(first, *entry), once);
}

TEST(BinaryFormatter, WritesNothingBeforeTheFirstCompile) {
    TSiBinaryFormatter formatter;
    TRecordingStream output;
    formatter.Write(output);
    EXPECT_TRUE(output.WriteSizes.empty());
}

TEST(BinaryFormatter, ReusedBufferWritesOnlyTheLatestBody) {
    auto large = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
    large->Title = std::string(5000, 'L');
    auto small = SiMakeRef<TSiWatch>(wtString);
    small->Name = "x";

    TSiBinaryFormatter reused;
    Format(reused, *large);
    const std::size_t capacity = reused.WorkBufferCapacity();
    EXPECT_EQ(Format(reused, *small), SiFormatBinary(*small));
    EXPECT_EQ(reused.WorkBufferCapacity(), capacity) << "a small buffer is kept for reuse";
}

TEST(BinaryFormatter, GivesBackABufferThatGrewPastOneMebibyte) {
    auto small = SiMakeRef<TSiControlCommand>(ccClearLog);
    TSiMemoryStream sink;

    // A body of exactly 1 MiB is still kept.
    TSiBinaryFormatter formatter;
    auto atLimit = CommandWithData(1'048'576 - 8);
    EXPECT_EQ(formatter.Compile(*atLimit), 1'048'576 + 6);
    formatter.Compile(*small);
    EXPECT_GE(formatter.WorkBufferCapacity(), 1'048'576u);

    // One byte more, and the memory goes back before the next packet is built.
    auto aboveLimit = CommandWithData(1'048'576 - 7);
    formatter.Compile(*aboveLimit);
    formatter.Compile(*small);
    EXPECT_LT(formatter.WorkBufferCapacity(), 4096u);
    formatter.Write(sink);
    EXPECT_EQ(Bytes(sink.Bytes().begin(), sink.Bytes().end()), SiFormatBinary(*small));
}

TEST(BinaryFormatter, CopiesThePacketInPiecesOfAtMostOneMebibyte) {
    const std::size_t dataSize = 2'621'440 - 8;  // a body of 2.5 MiB
    auto command = CommandWithData(dataSize);
    TSiBinaryFormatter formatter;
    TRecordingStream output;
    formatter.Format(*command, output);
    EXPECT_EQ(output.WriteSizes, (std::vector<std::size_t>{1'048'576, 1'048'576, 524'294}));
    EXPECT_EQ(output.Written.size(), 6 + 2'621'440u);
}

TEST(BinaryFormatter, ShortWritesAreRetriedAndAStalledStreamFails) {
    auto entry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
    entry->Title = "retry until every byte is out";
    TSiBinaryFormatter formatter;

    TRecordingStream trickle;
    trickle.FMaxPerWrite = 5;
    formatter.Format(*entry, trickle);
    EXPECT_EQ(trickle.Written, SiFormatBinary(*entry));

    TRecordingStream stalled;
    stalled.FMaxPerWrite = 0;
    try {
        formatter.Write(stalled);
        FAIL() << "a stream that takes nothing must fail the write";
    } catch (const ESiStreamError& error) {
        EXPECT_STREQ(error.what(), "Stream write error");
    }
}

TEST(BinaryFormatter, WriteNeedsNoPacketAfterCompile) {
    TSiBinaryFormatter formatter;
    Bytes expected;
    {
        auto watch = SiMakeRef<TSiWatch>(wtInteger);
        watch->Name = "i";
        watch->Value = "1";
        expected = SiFormatBinary(*watch);
        formatter.Compile(*watch);
    }  // the last reference is gone before the write
    TSiMemoryStream output;
    formatter.Write(output);
    EXPECT_EQ(Bytes(output.Bytes().begin(), output.Bytes().end()), expected);
}

}  // namespace
}  // namespace deruz::logging
