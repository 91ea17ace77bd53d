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
    Bytes LBytes;
    std::istringstream LInput{std::string(AText)};
    std::string LPair;
    while (LInput >> LPair) {
        LBytes.push_back(static_cast<std::uint8_t>(std::stoi(LPair, nullptr, 16)));
    }
    return LBytes;
}

Bytes Ascii(std::string_view AText) {
    return {AText.begin(), AText.end()};
}

Bytes Join(std::initializer_list<Bytes> AParts) {
    Bytes LAll;
    for (const Bytes& LPart : AParts) {
        LAll.insert(LAll.end(), LPart.begin(), LPart.end());
    }
    return LAll;
}

TSiMemoryStream StreamOf(std::string_view ABytes) {
    TSiMemoryStream LStream;
    LStream.WriteBuffer(ABytes.data(), ABytes.size());
    return LStream;
}

Bytes Format(TSiBinaryFormatter& AFormatter, TSiPacket& APacket) {
    TSiMemoryStream LOutput;
    AFormatter.Format(APacket, LOutput);
    const auto LBytes = LOutput.Bytes();
    return {LBytes.begin(), LBytes.end()};
}

TSiRef<TSiControlCommand> CommandWithData(std::size_t ADataSize) {
    auto LCommand = SiMakeRef<TSiControlCommand>(ccClearLog);
    TSiMemoryStream LData;
    LData.SetSize(static_cast<std::int64_t>(ADataSize));
    LCommand->SetData(&LData);
    return LCommand;
}

// An output stream that records every write and can be told to take only part of each.
class TRecordingStream : public TSiStream {
  public:
    std::size_t Read(void*, std::size_t) override { return 0; }
    std::size_t Write(const void* ABuffer, std::size_t ACount) override {
        const std::size_t LTaken = std::min(ACount, FMaxPerWrite);
        WriteSizes.push_back(ACount);
        const auto* LBytes = static_cast<const std::uint8_t*>(ABuffer);
        Written.insert(Written.end(), LBytes, LBytes + LTaken);
        return LTaken;
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
    const std::vector<GoldenCase> LCases = {
        {"log header for PC1 and App",
         [] {
             auto LHeader = SiMakeRef<TSiLogHeader>();
             LHeader->HostName = "PC1";
             LHeader->AppName = "App";
             return TSiPacketPtr(LHeader);
         },
         Join({Hex("07 00  1F 00 00 00  1B 00 00 00"), Ascii("hostname=PC1\r\nappname=App\r\n")})},
        {"log entry with empty texts and no data",
         [] {
             auto LEntry = SiMakeRef<TSiLogEntry>(ltMessage, viNone);
             LEntry->ProcessId = 0x11223344;
             LEntry->ThreadId = 0x55667788;
             LEntry->Timestamp = 2.0;
             return TSiPacketPtr(LEntry);
         },
         Hex("04 00  30 00 00 00"
             "  64 00 00 00  FF FF FF FF  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00"
             "  00 00 00 00  44 33 22 11  88 77 66 55  00 00 00 00 00 00 00 40  05 00 00 FF")},
        {"log entry with texts and data",
         [] {
             auto LEntry = SiMakeRef<TSiLogEntry>(ltWarning, viData);
             LEntry->AppName = "ap";
             LEntry->SessionName = "s";
             LEntry->Title = "\xC3\xA9";
             LEntry->HostName = "h";
             LEntry->ProcessId = 0x01020304;
             LEntry->ThreadId = 0x0A0B0C0D;
             LEntry->Timestamp = 1.5;
             LEntry->Color = 0x8000;
             TSiMemoryStream LData = StreamOf("xyz");
             LEntry->SetData(&LData);
             return TSiPacketPtr(LEntry);
         },
         Join({Hex("04 00  39 00 00 00"
                   "  65 00 00 00  01 00 00 00  02 00 00 00  01 00 00 00  02 00 00 00"
                   "  01 00 00 00  03 00 00 00  04 03 02 01  0D 0C 0B 0A"
                   "  00 00 00 00 00 00 F8 3F  00 80 00 00"),
               Ascii("aps"), Hex("C3 A9"), Ascii("hxyz")})},
        {"control command with three data bytes",
         [] {
             auto LCommand = SiMakeRef<TSiControlCommand>(ccClearAll);
             TSiMemoryStream LData = StreamOf("abc");
             LCommand->SetData(&LData);
             return TSiPacketPtr(LCommand);
         },
         Join({Hex("01 00  0B 00 00 00  03 00 00 00  03 00 00 00"), Ascii("abc")})},
        {"control command without data",
         [] { return TSiPacketPtr(SiMakeRef<TSiControlCommand>(ccClearProcessFlow)); },
         Hex("01 00  08 00 00 00  04 00 00 00  00 00 00 00")},
        {"watch of type timestamp",
         [] {
             auto LWatch = SiMakeRef<TSiWatch>(wtTimestamp);
             LWatch->Name = "n";
             LWatch->Value = "42";
             LWatch->Timestamp = -1.25;
             return TSiPacketPtr(LWatch);
         },
         Join({Hex("05 00  17 00 00 00  01 00 00 00  02 00 00 00  06 00 00 00"
                   "  00 00 00 00 00 00 F4 BF"),
               Ascii("n42")})},
        {"process flow leaving a thread",
         [] {
             auto LFlow = SiMakeRef<TSiProcessFlow>(pfLeaveThread);
             LFlow->Title = "T";
             LFlow->HostName = "H";
             LFlow->ProcessId = 7;
             LFlow->ThreadId = 9;
             LFlow->Timestamp = 0.5;
             return TSiPacketPtr(LFlow);
         },
         Join({Hex("06 00  1E 00 00 00  03 00 00 00  01 00 00 00  01 00 00 00  07 00 00 00"
                   "  09 00 00 00  00 00 00 00 00 00 E0 3F"),
               Ascii("TH")})},
    };
    for (const GoldenCase& LC : LCases) {
        TSiPacketPtr LPacket = LC.Make();
        TSiBinaryFormatter LFormatter;
        EXPECT_EQ(LFormatter.Compile(*LPacket), static_cast<std::int32_t>(LC.Expected.size()))
            << LC.Name;
        TSiMemoryStream LOutput;
        LFormatter.Write(LOutput);
        EXPECT_EQ(Bytes(LOutput.Bytes().begin(), LOutput.Bytes().end()), LC.Expected) << LC.Name;
    }
}

TEST(BinaryFormatter, TextLengthsCountUtf8BytesWhileSizeCountsCharacters) {
    auto LEntry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
    LEntry->Title = "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x84\xC3\x96";  // five two-byte characters
    EXPECT_EQ(LEntry->GetSize(), 53);
    const Bytes LBytes = SiFormatBinary(*LEntry);
    ASSERT_EQ(LBytes.size(), 6u + 48 + 10);
    EXPECT_EQ(Bytes(LBytes.begin() + 6 + 16, LBytes.begin() + 6 + 20), Hex("0A 00 00 00"));
    EXPECT_EQ(Bytes(LBytes.end() - 10, LBytes.end()), Ascii(LEntry->Title));
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
    auto LEntry = SiMakeRef<TSiLogEntry>(ltText, viData);
    const Bytes LWithoutData = SiFormatBinary(*LEntry);
    TSiMemoryStream LEmpty;
    LEntry->SetData(&LEmpty);
    ASSERT_NE(LEntry->GetData(), nullptr);
    const Bytes LWithEmptyData = SiFormatBinary(*LEntry);
    EXPECT_EQ(LWithEmptyData.size(), 54u);
    EXPECT_EQ(LWithEmptyData, LWithoutData);
}

TEST(BinaryFormatter, DataIsReadFromItsStartAndRewoundForTheNextProtocol) {
    auto LEntry = SiMakeRef<TSiLogEntry>(ltBinary, viBinary);
    TSiMemoryStream LData = StreamOf("0123456789");
    LEntry->SetData(&LData);
    LEntry->GetData()->SetPosition(7);  // left anywhere by an earlier reader

    TSiBinaryFormatter LFirst;
    TSiBinaryFormatter LSecond;
    const Bytes LOnce = Format(LFirst, *LEntry);
    EXPECT_EQ(LEntry->GetData()->GetPosition(), 0);
    const Bytes LTwice = Format(LSecond, *LEntry);
    EXPECT_EQ(LOnce, LTwice);
    EXPECT_EQ(Bytes(LOnce.end() - 10, LOnce.end()), Ascii("0123456789"));
    EXPECT_EQ(Format(LFirst, *LEntry), LOnce);
}

TEST(BinaryFormatter, WritesNothingBeforeTheFirstCompile) {
    TSiBinaryFormatter LFormatter;
    TRecordingStream LOutput;
    LFormatter.Write(LOutput);
    EXPECT_TRUE(LOutput.WriteSizes.empty());
}

TEST(BinaryFormatter, ReusedBufferWritesOnlyTheLatestBody) {
    auto LLarge = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
    LLarge->Title = std::string(5000, 'L');
    auto LSmall = SiMakeRef<TSiWatch>(wtString);
    LSmall->Name = "x";

    TSiBinaryFormatter LReused;
    Format(LReused, *LLarge);
    const std::size_t LCapacity = LReused.WorkBufferCapacity();
    EXPECT_EQ(Format(LReused, *LSmall), SiFormatBinary(*LSmall));
    EXPECT_EQ(LReused.WorkBufferCapacity(), LCapacity) << "a small buffer is kept for reuse";
}

TEST(BinaryFormatter, GivesBackABufferThatGrewPastOneMebibyte) {
    auto LSmall = SiMakeRef<TSiControlCommand>(ccClearLog);
    TSiMemoryStream LSink;

    // A body of exactly 1 MiB is still kept.
    TSiBinaryFormatter LFormatter;
    auto LAtLimit = CommandWithData(1'048'576 - 8);
    EXPECT_EQ(LFormatter.Compile(*LAtLimit), 1'048'576 + 6);
    LFormatter.Compile(*LSmall);
    EXPECT_GE(LFormatter.WorkBufferCapacity(), 1'048'576u);

    // One byte more, and the memory goes back before the next packet is built.
    auto LAboveLimit = CommandWithData(1'048'576 - 7);
    LFormatter.Compile(*LAboveLimit);
    LFormatter.Compile(*LSmall);
    EXPECT_LT(LFormatter.WorkBufferCapacity(), 4096u);
    LFormatter.Write(LSink);
    EXPECT_EQ(Bytes(LSink.Bytes().begin(), LSink.Bytes().end()), SiFormatBinary(*LSmall));
}

TEST(BinaryFormatter, CopiesThePacketInPiecesOfAtMostOneMebibyte) {
    const std::size_t LDataSize = 2'621'440 - 8;  // a body of 2.5 MiB
    auto LCommand = CommandWithData(LDataSize);
    TSiBinaryFormatter LFormatter;
    TRecordingStream LOutput;
    LFormatter.Format(*LCommand, LOutput);
    EXPECT_EQ(LOutput.WriteSizes, (std::vector<std::size_t>{1'048'576, 1'048'576, 524'294}));
    EXPECT_EQ(LOutput.Written.size(), 6 + 2'621'440u);
}

TEST(BinaryFormatter, ShortWritesAreRetriedAndAStalledStreamFails) {
    auto LEntry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
    LEntry->Title = "retry until every byte is out";
    TSiBinaryFormatter LFormatter;

    TRecordingStream LTrickle;
    LTrickle.FMaxPerWrite = 5;
    LFormatter.Format(*LEntry, LTrickle);
    EXPECT_EQ(LTrickle.Written, SiFormatBinary(*LEntry));

    TRecordingStream LStalled;
    LStalled.FMaxPerWrite = 0;
    try {
        LFormatter.Write(LStalled);
        FAIL() << "a stream that takes nothing must fail the write";
    } catch (const ESiStreamError& LError) {
        EXPECT_STREQ(LError.what(), "Stream write error");
    }
}

TEST(BinaryFormatter, WriteNeedsNoPacketAfterCompile) {
    TSiBinaryFormatter LFormatter;
    Bytes LExpected;
    {
        auto LWatch = SiMakeRef<TSiWatch>(wtInteger);
        LWatch->Name = "i";
        LWatch->Value = "1";
        LExpected = SiFormatBinary(*LWatch);
        LFormatter.Compile(*LWatch);
    }  // the last reference is gone before the write
    TSiMemoryStream LOutput;
    LFormatter.Write(LOutput);
    EXPECT_EQ(Bytes(LOutput.Bytes().begin(), LOutput.Bytes().end()), LExpected);
}

}  // namespace
}  // namespace deruz::logging
