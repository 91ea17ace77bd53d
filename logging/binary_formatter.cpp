// The binary packet format: body layouts per packet kind and the packet header.
#include "logging/binary_formatter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>
#include <string_view>

namespace deruz::logging {

namespace {

// A work buffer that held a body larger than this is given back before the next packet, so
// one large packet does not pin its memory for the life of the protocol.
constexpr std::int64_t kGiveBackThreshold = 1'048'576;

// The body reaches the output in pieces of at most this size.
constexpr std::size_t kWriteChunkSize = 1'048'576;

// Fills a fixed header field by field, little-endian whatever the host's byte order.
template <std::size_t N>
class THeaderBytes {
  public:
    void Int32(std::int32_t AValue) noexcept { UInt32(static_cast<std::uint32_t>(AValue)); }

    void UInt32(std::uint32_t AValue) noexcept {
        for (int shift = 0; shift < 32; shift += 8) {
            FBytes[FCount++] = static_cast<std::uint8_t>(AValue >> shift);
        }
    }

    void UInt16(std::uint16_t AValue) noexcept {
        FBytes[FCount++] = static_cast<std::uint8_t>(AValue);
        FBytes[FCount++] = static_cast<std::uint8_t>(AValue >> 8);
    }

    void Double(double AValue) noexcept {
        const auto bits = std::bit_cast<std::uint64_t>(AValue);
        for (int shift = 0; shift < 64; shift += 8) {
            FBytes[FCount++] = static_cast<std::uint8_t>(bits >> shift);
        }
    }

    // Writes the header in one piece; every field must have been filled.
    void WriteTo(TSiStream& AStream) const { AStream.WriteBuffer(FBytes.data(), FCount); }

  private:
    std::array<std::uint8_t, N> FBytes{};
    std::size_t FCount = 0;
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

void WriteText(TSiStream& AStream, std::string_view AText) {
    AStream.WriteBuffer(AText.data(), AText.size());
}

// Copies a packet's whole data stream and rewinds it, so that the next protocol formatting
// the same packet reads it again from the start.
void WriteData(TSiStream& AStream, TSiMemoryStream* AData) {
    if (AData == nullptr) {
        return;
    }
    const auto bytes = AData->Bytes();
    AStream.WriteBuffer(bytes.data(), bytes.size());
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
        FStream.Clear();
    } else {
        FStream.SetPosition(0);
    }
    FSize = 0;
    FPacketCode = SiPacketTypeCode(APacket.GetPacketType());

    // Only the five final packet classes derive from TSiPacket, so the kind names the class.
    switch (APacket.GetPacketType()) {
        case ptLogEntry:
            CompileLogEntry(static_cast<TSiLogEntry&>(APacket));
            break;
        case ptControlCommand:
            CompileControlCommand(static_cast<TSiControlCommand&>(APacket));
            break;
        case ptWatch:
            CompileWatch(static_cast<const TSiWatch&>(APacket));
            break;
        case ptProcessFlow:
            CompileProcessFlow(static_cast<const TSiProcessFlow&>(APacket));
            break;
        case ptLogHeader:
            CompileLogHeader(static_cast<const TSiLogHeader&>(APacket));
            break;
    }
    FSize = static_cast<std::int32_t>(FStream.GetPosition());
    return FSize + static_cast<std::int32_t>(kSiPacketHeaderSize);
}

void TSiBinaryFormatter::CompileLogEntry(TSiLogEntry& ALogEntry) {
    const std::size_t dataSize = ALogEntry.HasData() ? DataSize(ALogEntry.GetData()) : 0;
    CheckBodySize(static_cast<std::uint64_t>(kSiLogEntryHeaderSize) + ALogEntry.AppName.size() +
                  ALogEntry.SessionName.size() + ALogEntry.Title.size() +
                  ALogEntry.HostName.size() + dataSize);

    THeaderBytes<kSiLogEntryHeaderSize> header;
    header.Int32(SiLogEntryTypeCode(ALogEntry.LogEntryType));
    header.Int32(SiViewerIdCode(ALogEntry.ViewerId));
    header.Int32(Length(ALogEntry.AppName.size()));
    header.Int32(Length(ALogEntry.SessionName.size()));
    header.Int32(Length(ALogEntry.Title.size()));
    header.Int32(Length(ALogEntry.HostName.size()));
    header.Int32(Length(dataSize));
    header.UInt32(ALogEntry.ProcessId);
    header.UInt32(ALogEntry.ThreadId);
    header.Double(ALogEntry.Timestamp);
    header.Int32(ALogEntry.Color);
    header.WriteTo(FStream);

    WriteText(FStream, ALogEntry.AppName);
    WriteText(FStream, ALogEntry.SessionName);
    WriteText(FStream, ALogEntry.Title);
    WriteText(FStream, ALogEntry.HostName);
    if (dataSize > 0) {
        WriteData(FStream, ALogEntry.GetData());
    }
}

void TSiBinaryFormatter::CompileControlCommand(TSiControlCommand& AControlCommand) {
    const std::size_t dataSize =
        AControlCommand.HasData() ? DataSize(AControlCommand.GetData()) : 0;
    CheckBodySize(static_cast<std::uint64_t>(kSiControlCommandHeaderSize) + dataSize);

    THeaderBytes<kSiControlCommandHeaderSize> header;
    header.Int32(AControlCommand.ControlCommandType);
    header.Int32(Length(dataSize));
    header.WriteTo(FStream);

    if (dataSize > 0) {
        WriteData(FStream, AControlCommand.GetData());
    }
}

void TSiBinaryFormatter::CompileWatch(const TSiWatch& AWatch) {
    CheckBodySize(static_cast<std::uint64_t>(kSiWatchHeaderSize) + AWatch.Name.size() +
                  AWatch.Value.size());

    THeaderBytes<kSiWatchHeaderSize> header;
    header.Int32(Length(AWatch.Name.size()));
    header.Int32(Length(AWatch.Value.size()));
    header.Int32(AWatch.WatchType);
    header.Double(AWatch.Timestamp);
    header.WriteTo(FStream);

    WriteText(FStream, AWatch.Name);
    WriteText(FStream, AWatch.Value);
}

void TSiBinaryFormatter::CompileProcessFlow(const TSiProcessFlow& AProcessFlow) {
    CheckBodySize(static_cast<std::uint64_t>(kSiProcessFlowHeaderSize) + AProcessFlow.Title.size() +
                  AProcessFlow.HostName.size());

    THeaderBytes<kSiProcessFlowHeaderSize> header;
    header.Int32(AProcessFlow.ProcessFlowType);
    header.Int32(Length(AProcessFlow.Title.size()));
    header.Int32(Length(AProcessFlow.HostName.size()));
    header.UInt32(AProcessFlow.ProcessId);
    header.UInt32(AProcessFlow.ThreadId);
    header.Double(AProcessFlow.Timestamp);
    header.WriteTo(FStream);

    WriteText(FStream, AProcessFlow.Title);
    WriteText(FStream, AProcessFlow.HostName);
}

void TSiBinaryFormatter::CompileLogHeader(const TSiLogHeader& ALogHeader) {
    // The content is written in its pieces rather than built as one text first.
    const std::uint64_t contentSize = kHostNamePrefix.size() + ALogHeader.HostName.size() +
                                      kLineBreak.size() + kAppNamePrefix.size() +
                                      ALogHeader.AppName.size() + kLineBreak.size();
    CheckBodySize(kSiLogHeaderHeaderSize + contentSize);

    THeaderBytes<kSiLogHeaderHeaderSize> header;
    header.Int32(Length(contentSize));
    header.WriteTo(FStream);

    WriteText(FStream, kHostNamePrefix);
    WriteText(FStream, ALogHeader.HostName);
    WriteText(FStream, kLineBreak);
    WriteText(FStream, kAppNamePrefix);
    WriteText(FStream, ALogHeader.AppName);
    WriteText(FStream, kLineBreak);
}

void TSiBinaryFormatter::Write(TSiStream& AStream) {
    if (FSize <= 0) {
        return;
    }
    THeaderBytes<kSiPacketHeaderSize> header;
    header.UInt16(FPacketCode);
    header.Int32(FSize);
    header.WriteTo(AStream);

    const std::uint8_t* body = FStream.Bytes().data();
    std::size_t remaining = static_cast<std::size_t>(FSize);
    while (remaining > 0) {
        const std::size_t chunk = std::min(remaining, kWriteChunkSize);
        AStream.WriteBuffer(body, chunk);
        body += chunk;
        remaining -= chunk;
    }
}

std::span<const std::uint8_t> TSiBinaryFormatter::Body() const noexcept {
    return FStream.Bytes().first(static_cast<std::size_t>(FSize));
}

std::vector<std::uint8_t> SiFormatBinary(TSiPacket& APacket) {
    TSiBinaryFormatter formatter;
    TSiMemoryStream output;
    formatter.Format(APacket, output);
    const auto bytes = output.Bytes();
    return {bytes.begin(), bytes.end()};
}

}  // namespace deruz::logging
