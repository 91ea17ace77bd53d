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
        const auto* source = static_cast<const std::uint8_t*>(ABytes);
        // Names and short titles are copied inline, with two overlapping fixed-size moves,
        // rather than through a call: most texts of a log entry are this short.
        if (ACount >= 8 && ACount <= 16) {
            std::memcpy(FOut, source, 8);
            std::memcpy(FOut + ACount - 8, source + ACount - 8, 8);
        } else if (ACount >= 4 && ACount < 8) {
            std::memcpy(FOut, source, 4);
            std::memcpy(FOut + ACount - 4, source + ACount - 4, 4);
        } else if (ACount > 0) {
            std::memcpy(FOut, source, ACount);
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
            for (std::size_t shift = 0; shift < 8 * sizeof AValue; shift += 8) {
                *FOut++ = static_cast<std::uint8_t>(AValue >> shift);
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
    const auto bytes = AData->Bytes();
    AWriter.Bytes(bytes.data(), bytes.size());
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

    // Only the five final packet classes derive from TSiPacket, so the kind names the class.
    const TSiPacketType type = APacket.GetPacketType();
    std::size_t size = 0;
    switch (type) {
        case ptLogEntry:
            size = CompileLogEntry(static_cast<TSiLogEntry&>(APacket));
            break;
        case ptControlCommand:
            size = CompileControlCommand(static_cast<TSiControlCommand&>(APacket));
            break;
        case ptWatch:
            size = CompileWatch(static_cast<const TSiWatch&>(APacket));
            break;
        case ptProcessFlow:
            size = CompileProcessFlow(static_cast<const TSiProcessFlow&>(APacket));
            break;
        case ptLogHeader:
            size = CompileLogHeader(static_cast<const TSiLogHeader&>(APacket));
            break;
    }
    TByteWriter header(FBuffer.data());
    header.UInt16(SiPacketTypeCode(type));
    header.Int32(Length(size));
    FSize = static_cast<std::int32_t>(size);
    return FSize + static_cast<std::int32_t>(kSiPacketHeaderSize);
}

std::uint8_t* TSiBinaryFormatter::Reserve(std::uint64_t ABodySize) {
    CheckBodySize(ABodySize);
    const std::size_t total = kSiPacketHeaderSize + static_cast<std::size_t>(ABodySize);
    if (FBuffer.size() < total) {
        FBuffer.resize(total);
    }
    return FBuffer.data() + kSiPacketHeaderSize;
}

std::size_t TSiBinaryFormatter::CompileLogEntry(TSiLogEntry& ALogEntry) {
    const std::size_t dataSize = DataSize(ALogEntry.GetData());
    const std::uint64_t size = static_cast<std::uint64_t>(kSiLogEntryHeaderSize) +
                               ALogEntry.AppName.size() + ALogEntry.SessionName.size() +
                               ALogEntry.Title.size() + ALogEntry.HostName.size() + dataSize;
    TByteWriter body(Reserve(size));
    body.Int32(SiLogEntryTypeCode(ALogEntry.LogEntryType));
    body.Int32(SiViewerIdCode(ALogEntry.ViewerId));
    body.Int32(Length(ALogEntry.AppName.size()));
    body.Int32(Length(ALogEntry.SessionName.size()));
    body.Int32(Length(ALogEntry.Title.size()));
    body.Int32(Length(ALogEntry.HostName.size()));
    body.Int32(Length(dataSize));
    body.UInt32(ALogEntry.ProcessId);
    body.UInt32(ALogEntry.ThreadId);
    body.Double(ALogEntry.Timestamp);
    body.Int32(ALogEntry.Color);
    body.Text(ALogEntry.AppName);
    body.Text(ALogEntry.SessionName);
    body.Text(ALogEntry.Title);
    body.Text(ALogEntry.HostName);
    if (dataSize > 0) {
        WriteData(body, ALogEntry.GetData());
    }
    return static_cast<std::size_t>(size);
}

std::size_t TSiBinaryFormatter::CompileControlCommand(TSiControlCommand& AControlCommand) {
    const std::size_t dataSize = DataSize(AControlCommand.GetData());
    const std::uint64_t size = static_cast<std::uint64_t>(kSiControlCommandHeaderSize) + dataSize;
    TByteWriter body(Reserve(size));
    body.Int32(AControlCommand.ControlCommandType);
    body.Int32(Length(dataSize));
    if (dataSize > 0) {
        WriteData(body, AControlCommand.GetData());
    }
    return static_cast<std::size_t>(size);
}

std::size_t TSiBinaryFormatter::CompileWatch(const TSiWatch& AWatch) {
    const std::uint64_t size =
        static_cast<std::uint64_t>(kSiWatchHeaderSize) + AWatch.Name.size() + AWatch.Value.size();
    TByteWriter body(Reserve(size));
    body.Int32(Length(AWatch.Name.size()));
    body.Int32(Length(AWatch.Value.size()));
    body.Int32(AWatch.WatchType);
    body.Double(AWatch.Timestamp);
    body.Text(AWatch.Name);
    body.Text(AWatch.Value);
    return static_cast<std::size_t>(size);
}

std::size_t TSiBinaryFormatter::CompileProcessFlow(const TSiProcessFlow& AProcessFlow) {
    const std::uint64_t size = static_cast<std::uint64_t>(kSiProcessFlowHeaderSize) +
                               AProcessFlow.Title.size() + AProcessFlow.HostName.size();
    TByteWriter body(Reserve(size));
    body.Int32(AProcessFlow.ProcessFlowType);
    body.Int32(Length(AProcessFlow.Title.size()));
    body.Int32(Length(AProcessFlow.HostName.size()));
    body.UInt32(AProcessFlow.ProcessId);
    body.UInt32(AProcessFlow.ThreadId);
    body.Double(AProcessFlow.Timestamp);
    body.Text(AProcessFlow.Title);
    body.Text(AProcessFlow.HostName);
    return static_cast<std::size_t>(size);
}

std::size_t TSiBinaryFormatter::CompileLogHeader(const TSiLogHeader& ALogHeader) {
    // The content is written in its pieces rather than built as one text first.
    const std::uint64_t contentSize = kHostNamePrefix.size() + ALogHeader.HostName.size() +
                                      kLineBreak.size() + kAppNamePrefix.size() +
                                      ALogHeader.AppName.size() + kLineBreak.size();
    const std::uint64_t size = kSiLogHeaderHeaderSize + contentSize;
    TByteWriter body(Reserve(size));
    body.Int32(Length(contentSize));
    body.Text(kHostNamePrefix);
    body.Text(ALogHeader.HostName);
    body.Text(kLineBreak);
    body.Text(kAppNamePrefix);
    body.Text(ALogHeader.AppName);
    body.Text(kLineBreak);
    return static_cast<std::size_t>(size);
}

void TSiBinaryFormatter::Write(TSiStream& AStream) {
    if (FSize <= 0) {
        return;
    }
    // Header and body leave in one piece, large bodies in chunks.
    const std::uint8_t* bytes = FBuffer.data();
    std::size_t remaining = kSiPacketHeaderSize + static_cast<std::size_t>(FSize);
    while (remaining > 0) {
        const std::size_t chunk = std::min(remaining, kWriteChunkSize);
        AStream.WriteBuffer(bytes, chunk);
        bytes += chunk;
        remaining -= chunk;
    }
}

std::span<const std::uint8_t> TSiBinaryFormatter::Body() const noexcept {
    if (FSize <= 0) {
        return {};
    }
    return std::span<const std::uint8_t>(FBuffer).subspan(kSiPacketHeaderSize,
                                                          static_cast<std::size_t>(FSize));
}

std::vector<std::uint8_t> SiFormatBinary(TSiPacket& APacket) {
    TSiBinaryFormatter formatter;
    TSiMemoryStream output;
    formatter.Format(APacket, output);
    const auto bytes = output.Bytes();
    return {bytes.begin(), bytes.end()};
}

}  // namespace deruz::logging
