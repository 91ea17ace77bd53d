// The binary packet format: body layouts per packet kind and the packet header.
#include "logging/format/binary_formatter.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <string_view>

namespace deruz::logging {

namespace {

// A work buffer that held a body larger than this is given back before the next packet, so
// one large packet does not pin its memory for the life of the protocol.
constexpr std::int64_t kGiveBackThreshold = 1'048'576;

// The body reaches the output in pieces of at most this size.
constexpr std::size_t kWriteChunkSize = 1'048'576;

// Writes little-endian fields and byte runs into memory that Compile has sized for them.
// The cursor lives in a register: storing through a uint8_t pointer kept in a member would
// make the compiler reload it after every byte, since such stores may alias anything.
class TByteWriter {
  public:
    explicit TByteWriter(std::uint8_t* AOut) noexcept : FOut(AOut) {}

    void Int32(std::int32_t AValue) noexcept { Put(static_cast<std::uint32_t>(AValue)); }
    void UInt32(std::uint32_t AValue) noexcept { Put(AValue); }
    void UInt16(std::uint16_t AValue) noexcept { Put(AValue); }
    void Double(double AValue) noexcept { Put(std::bit_cast<std::uint64_t>(AValue)); }

    void Bytes(const void* ABytes, std::size_t ACount) noexcept {
        const auto* LSource = static_cast<const std::uint8_t*>(ABytes);
        // Names and short titles are copied inline, with two overlapping fixed-size moves,
        // rather than through a call: most texts of a log entry are this short.
        if (ACount >= 8 && ACount <= 16) {
            std::memcpy(FOut, LSource, 8);
            std::memcpy(FOut + ACount - 8, LSource + ACount - 8, 8);
        } else if (ACount >= 4 && ACount < 8) {
            std::memcpy(FOut, LSource, 4);
            std::memcpy(FOut + ACount - 4, LSource + ACount - 4, 4);
        } else if (ACount > 0) {
            std::memcpy(FOut, LSource, ACount);
        }
        FOut += ACount;
    }
    void Text(std::string_view AText) noexcept { Bytes(AText.data(), AText.size()); }

  private:
    template <class T>
    void Put(T AValue) noexcept {
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(FOut, &AValue, sizeof AValue);
            FOut += sizeof AValue;
        } else {
            for (std::size_t LShift = 0; LShift < 8 * sizeof AValue; LShift += 8) {
                *FOut++ = static_cast<std::uint8_t>(AValue >> LShift);
            }
        }
    }

    std::uint8_t* FOut;
};

// The wire length of a text or data block. The format counts in int32; Compile has already
// checked the body total, so each part fits.
std::int32_t Length(std::size_t ASize) noexcept {
    return static_cast<std::int32_t>(ASize);
}

// Refuses a body that the int32 size field of the packet header cannot express.
void CheckBodySize(std::uint64_t ASize) {
    if (ASize > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        throw ESiFormatError("Packet too large for the binary format");
    }
}

// Copies a packet's whole data stream and rewinds it, so that the next protocol formatting
// the same packet reads it again from the start.
void WriteData(TByteWriter& AWriter, TSiMemoryStream* AData) {
    if (AData == nullptr) {
        return;
    }
    const auto LBytes = AData->Bytes();
    AWriter.Bytes(LBytes.data(), LBytes.size());
    AData->SetPosition(0);
}

std::size_t DataSize(const TSiMemoryStream* AData) {
    return AData != nullptr ? AData->Bytes().size() : 0;
}

constexpr std::string_view kHostNamePrefix = "hostname=";
constexpr std::string_view kAppNamePrefix = "appname=";
constexpr std::string_view kLineBreak = "\r\n";

}  // namespace

std::int32_t TSiBinaryFormatter::Compile(TSiPacket& APacket) {
    if (FSize > kGiveBackThreshold) {
        std::vector<std::uint8_t>().swap(FBuffer);
    }
    FSize = 0;
    FEncoded = {};

    // Only the five final packet classes derive from TSiPacket, so the kind names the class.
    const TSiPacketType LType = APacket.GetPacketType();
    std::size_t LSize = 0;
    switch (LType) {
        case ptLogEntry: {
            auto& LEntry = static_cast<TSiLogEntry&>(APacket);
            if (const auto LEncoded = LEntry.Encoded(); !LEncoded.empty()) {
                // Encoded by the core before its lock: nothing left to do here.
                FEncoded = LEncoded;
                FSize = static_cast<std::int32_t>(LEncoded.size() - kSiPacketHeaderSize);
                return static_cast<std::int32_t>(LEncoded.size());
            }
            LSize = CompileLogEntry(LEntry);
            break;
        }
        case ptControlCommand:
            LSize = CompileControlCommand(static_cast<TSiControlCommand&>(APacket));
            break;
        case ptWatch:
            LSize = CompileWatch(static_cast<const TSiWatch&>(APacket));
            break;
        case ptProcessFlow:
            LSize = CompileProcessFlow(static_cast<const TSiProcessFlow&>(APacket));
            break;
        case ptLogHeader:
            LSize = CompileLogHeader(static_cast<const TSiLogHeader&>(APacket));
            break;
    }
    TByteWriter LHeader(FBuffer.data());
    LHeader.UInt16(SiPacketTypeCode(LType));
    LHeader.Int32(Length(LSize));
    FSize = static_cast<std::int32_t>(LSize);
    return FSize + static_cast<std::int32_t>(kSiPacketHeaderSize);
}

std::uint8_t* TSiBinaryFormatter::Reserve(std::uint64_t ABodySize) {
    CheckBodySize(ABodySize);
    const std::size_t LTotal = kSiPacketHeaderSize + static_cast<std::size_t>(ABodySize);
    if (FBuffer.size() < LTotal) {
        FBuffer.resize(LTotal);
    }
    return FBuffer.data() + kSiPacketHeaderSize;
}

namespace {

// The body size of a log entry, its data excluded.
std::uint64_t LogEntryTextSize(const TSiLogEntry& ALogEntry) noexcept {
    return static_cast<std::uint64_t>(kSiLogEntryHeaderSize) + ALogEntry.AppName.size() +
           ALogEntry.SessionName.size() + ALogEntry.Title.size() + ALogEntry.HostName.size();
}

// Writes a log entry's body up to its data, which is ADataSize bytes long.
void WriteLogEntryBody(TByteWriter& ABody, const TSiLogEntry& ALogEntry,
                       std::size_t ADataSize) noexcept {
    ABody.Int32(SiLogEntryTypeCode(ALogEntry.LogEntryType));
    ABody.Int32(SiViewerIdCode(ALogEntry.ViewerId));
    ABody.Int32(Length(ALogEntry.AppName.size()));
    ABody.Int32(Length(ALogEntry.SessionName.size()));
    ABody.Int32(Length(ALogEntry.Title.size()));
    ABody.Int32(Length(ALogEntry.HostName.size()));
    ABody.Int32(Length(ADataSize));
    ABody.UInt32(ALogEntry.ProcessId);
    ABody.UInt32(ALogEntry.ThreadId);
    ABody.Double(ALogEntry.Timestamp);
    ABody.Int32(ALogEntry.Color);
    ABody.Text(ALogEntry.AppName);
    ABody.Text(ALogEntry.SessionName);
    ABody.Text(ALogEntry.Title);
    ABody.Text(ALogEntry.HostName);
}

}  // namespace

std::size_t SiEncodeLogEntry(const TSiLogEntry& ALogEntry, std::span<std::uint8_t> AOut) noexcept {
    if (ALogEntry.GetData() != nullptr) {
        return 0;
    }
    const std::uint64_t LSize = LogEntryTextSize(ALogEntry);
    if (kSiPacketHeaderSize + LSize > AOut.size()) {
        return 0;
    }
    TByteWriter LWriter(AOut.data());
    LWriter.UInt16(SiPacketTypeCode(ptLogEntry));
    LWriter.Int32(Length(static_cast<std::size_t>(LSize)));
    WriteLogEntryBody(LWriter, ALogEntry, 0);
    return kSiPacketHeaderSize + static_cast<std::size_t>(LSize);
}

std::size_t TSiBinaryFormatter::CompileLogEntry(TSiLogEntry& ALogEntry) {
    const std::size_t LDataSize = DataSize(ALogEntry.GetData());
    const std::uint64_t LSize = LogEntryTextSize(ALogEntry) + LDataSize;
    TByteWriter LBody(Reserve(LSize));
    WriteLogEntryBody(LBody, ALogEntry, LDataSize);
    if (LDataSize > 0) {
        WriteData(LBody, ALogEntry.GetData());
    }
    return static_cast<std::size_t>(LSize);
}

std::size_t TSiBinaryFormatter::CompileControlCommand(TSiControlCommand& AControlCommand) {
    const std::size_t LDataSize = DataSize(AControlCommand.GetData());
    const std::uint64_t LSize = static_cast<std::uint64_t>(kSiControlCommandHeaderSize) + LDataSize;
    TByteWriter LBody(Reserve(LSize));
    LBody.Int32(AControlCommand.ControlCommandType);
    LBody.Int32(Length(LDataSize));
    if (LDataSize > 0) {
        WriteData(LBody, AControlCommand.GetData());
    }
    return static_cast<std::size_t>(LSize);
}

std::size_t TSiBinaryFormatter::CompileWatch(const TSiWatch& AWatch) {
    const std::uint64_t LSize =
        static_cast<std::uint64_t>(kSiWatchHeaderSize) + AWatch.Name.size() + AWatch.Value.size();
    TByteWriter LBody(Reserve(LSize));
    LBody.Int32(Length(AWatch.Name.size()));
    LBody.Int32(Length(AWatch.Value.size()));
    LBody.Int32(AWatch.WatchType);
    LBody.Double(AWatch.Timestamp);
    LBody.Text(AWatch.Name);
    LBody.Text(AWatch.Value);
    return static_cast<std::size_t>(LSize);
}

std::size_t TSiBinaryFormatter::CompileProcessFlow(const TSiProcessFlow& AProcessFlow) {
    const std::uint64_t LSize = static_cast<std::uint64_t>(kSiProcessFlowHeaderSize) +
                                AProcessFlow.Title.size() + AProcessFlow.HostName.size();
    TByteWriter LBody(Reserve(LSize));
    LBody.Int32(AProcessFlow.ProcessFlowType);
    LBody.Int32(Length(AProcessFlow.Title.size()));
    LBody.Int32(Length(AProcessFlow.HostName.size()));
    LBody.UInt32(AProcessFlow.ProcessId);
    LBody.UInt32(AProcessFlow.ThreadId);
    LBody.Double(AProcessFlow.Timestamp);
    LBody.Text(AProcessFlow.Title);
    LBody.Text(AProcessFlow.HostName);
    return static_cast<std::size_t>(LSize);
}

std::size_t TSiBinaryFormatter::CompileLogHeader(const TSiLogHeader& ALogHeader) {
    // The content is written in its pieces rather than built as one text first.
    const std::uint64_t LContentSize = kHostNamePrefix.size() + ALogHeader.HostName.size() +
                                       kLineBreak.size() + kAppNamePrefix.size() +
                                       ALogHeader.AppName.size() + kLineBreak.size();
    const std::uint64_t LSize = kSiLogHeaderHeaderSize + LContentSize;
    TByteWriter LBody(Reserve(LSize));
    LBody.Int32(Length(LContentSize));
    LBody.Text(kHostNamePrefix);
    LBody.Text(ALogHeader.HostName);
    LBody.Text(kLineBreak);
    LBody.Text(kAppNamePrefix);
    LBody.Text(ALogHeader.AppName);
    LBody.Text(kLineBreak);
    return static_cast<std::size_t>(LSize);
}

void TSiBinaryFormatter::Write(TSiStream& AStream) {
    if (FSize <= 0) {
        return;
    }
    // Header and body leave in one piece, large bodies in chunks.
    const std::uint8_t* LBytes = FEncoded.empty() ? FBuffer.data() : FEncoded.data();
    std::size_t LRemaining = kSiPacketHeaderSize + static_cast<std::size_t>(FSize);
    while (LRemaining > 0) {
        const std::size_t LChunk = std::min(LRemaining, kWriteChunkSize);
        AStream.WriteBuffer(LBytes, LChunk);
        LBytes += LChunk;
        LRemaining -= LChunk;
    }
}

std::span<const std::uint8_t> TSiBinaryFormatter::Body() const noexcept {
    if (FSize <= 0) {
        return {};
    }
    const std::span<const std::uint8_t> LPacket =
        FEncoded.empty() ? std::span<const std::uint8_t>(FBuffer) : FEncoded;
    return LPacket.subspan(kSiPacketHeaderSize, static_cast<std::size_t>(FSize));
}

std::vector<std::uint8_t> SiFormatBinary(TSiPacket& APacket) {
    TSiBinaryFormatter LFormatter;
    TSiMemoryStream LOutput;
    LFormatter.Format(APacket, LOutput);
    const auto LBytes = LOutput.Bytes();
    return {LBytes.begin(), LBytes.end()};
}

}  // namespace deruz::logging
