// Decoding of the binary packet format, with bounds and consistency checks on every field.
#include "logging/viewer/packet_reader.h"

#include <bit>
#include <string_view>

#include "logging/format/binary_formatter.h"

namespace deruz::logging {

namespace {

std::uint16_t LoadUInt16(const std::uint8_t* ABytes) noexcept {
    return static_cast<std::uint16_t>(ABytes[0] | (ABytes[1] << 8));
}

std::uint32_t LoadUInt32(const std::uint8_t* ABytes) noexcept {
    return static_cast<std::uint32_t>(ABytes[0]) | (static_cast<std::uint32_t>(ABytes[1]) << 8) |
           (static_cast<std::uint32_t>(ABytes[2]) << 16) |
           (static_cast<std::uint32_t>(ABytes[3]) << 24);
}

std::uint64_t LoadUInt64(const std::uint8_t* ABytes) noexcept {
    return static_cast<std::uint64_t>(LoadUInt32(ABytes)) |
           (static_cast<std::uint64_t>(LoadUInt32(ABytes + 4)) << 32);
}

[[noreturn]] void Fail(const std::string& AWhat, std::uint64_t AOffset) {
    throw ESiPacketFormatError(AWhat, AOffset);
}

// Reads one packet body field by field. The caller has checked that the body holds at least
// the kind's fixed header, and the variable parts are checked against the body's end before
// they are read.
class TBodyReader {
  public:
    TBodyReader(std::span<const std::uint8_t> ABody, std::uint64_t AOffset, const char* AKind)
        : FBody(ABody), FOffset(AOffset), FKind(AKind) {}

    std::uint64_t FieldOffset() const noexcept { return FOffset + FPosition; }

    std::int32_t Int32() noexcept { return static_cast<std::int32_t>(UInt32()); }

    std::uint32_t UInt32() noexcept {
        const std::uint32_t value = LoadUInt32(FBody.data() + FPosition);
        FPosition += 4;
        return value;
    }

    double Double() noexcept {
        const auto value = std::bit_cast<double>(LoadUInt64(FBody.data() + FPosition));
        FPosition += 8;
        return value;
    }

    // A length field: must not be negative.
    std::int32_t Length(const char* AField) {
        const std::uint64_t offset = FieldOffset();
        const std::int32_t value = Int32();
        if (value < 0) {
            Fail(std::string("Negative ") + AField + " " + std::to_string(value) + " in " + FKind +
                     " body",
                 offset);
        }
        return value;
    }

    // The variable parts must fill the body exactly: neither run past it nor leave bytes over.
    void ExpectVariablePart(std::uint64_t ASize) const {
        const std::uint64_t available = FBody.size() - FPosition;
        if (ASize != available) {
            Fail(std::string("Lengths of the ") + FKind + " give " +
                     std::to_string(FPosition + ASize) + " body bytes, the packet header " +
                     std::to_string(FBody.size()),
                 FOffset);
        }
    }

    std::string Text(std::int32_t ALength) {
        std::string text(reinterpret_cast<const char*>(FBody.data() + FPosition),
                         static_cast<std::size_t>(ALength));
        FPosition += static_cast<std::size_t>(ALength);
        return text;
    }

    // Copies ALength bytes into a packet's data stream (none for 0).
    template <typename Packet>
    void Data(Packet& APacket, std::int32_t ALength) {
        if (ALength == 0) {
            return;
        }
        TSiMemoryStream data;
        data.WriteBuffer(FBody.data() + FPosition, static_cast<std::size_t>(ALength));
        FPosition += static_cast<std::size_t>(ALength);
        APacket.SetData(&data);
    }

  private:
    std::span<const std::uint8_t> FBody;
    std::uint64_t FOffset;
    const char* FKind;
    std::size_t FPosition = 0;
};

template <typename Enum>
Enum Known(std::optional<Enum> AValue, const char* AWhat, std::int32_t ACode,
           std::uint64_t AOffset) {
    if (!AValue) {
        Fail(std::string("Unknown ") + AWhat + " " + std::to_string(ACode), AOffset);
    }
    return *AValue;
}

TSiPacketPtr ReadLogEntry(TBodyReader& AReader) {
    auto entry = SiMakeRef<TSiLogEntry>();
    std::uint64_t offset = AReader.FieldOffset();
    std::int32_t code = AReader.Int32();
    entry->LogEntryType = Known(SiLogEntryTypeFromCode(code), "log entry type", code, offset);
    offset = AReader.FieldOffset();
    code = AReader.Int32();
    entry->ViewerId = Known(SiViewerIdFromCode(code), "viewer id", code, offset);
    const std::int32_t appNameLength = AReader.Length("AppNameLength");
    const std::int32_t sessionNameLength = AReader.Length("SessionNameLength");
    const std::int32_t titleLength = AReader.Length("TitleLength");
    const std::int32_t hostNameLength = AReader.Length("HostNameLength");
    const std::int32_t dataLength = AReader.Length("DataLength");
    entry->ProcessId = AReader.UInt32();
    entry->ThreadId = AReader.UInt32();
    entry->Timestamp = AReader.Double();
    entry->Color = AReader.Int32();
    AReader.ExpectVariablePart(static_cast<std::uint64_t>(appNameLength) + sessionNameLength +
                               titleLength + hostNameLength + dataLength);
    entry->AppName = AReader.Text(appNameLength);
    entry->SessionName = AReader.Text(sessionNameLength);
    entry->Title = AReader.Text(titleLength);
    entry->HostName = AReader.Text(hostNameLength);
    AReader.Data(*entry, dataLength);
    return entry;
}

TSiPacketPtr ReadControlCommand(TBodyReader& AReader) {
    auto command = SiMakeRef<TSiControlCommand>();
    command->Level = lvControl;
    const std::uint64_t offset = AReader.FieldOffset();
    const std::int32_t ordinal = AReader.Int32();
    command->ControlCommandType =
        Known(SiControlCommandTypeFromOrdinal(ordinal), "control command type", ordinal, offset);
    const std::int32_t dataLength = AReader.Length("DataLength");
    AReader.ExpectVariablePart(static_cast<std::uint64_t>(dataLength));
    AReader.Data(*command, dataLength);
    return command;
}

TSiPacketPtr ReadWatch(TBodyReader& AReader) {
    auto watch = SiMakeRef<TSiWatch>();
    const std::int32_t nameLength = AReader.Length("NameLength");
    const std::int32_t valueLength = AReader.Length("ValueLength");
    const std::uint64_t offset = AReader.FieldOffset();
    const std::int32_t ordinal = AReader.Int32();
    watch->WatchType = Known(SiWatchTypeFromOrdinal(ordinal), "watch type", ordinal, offset);
    watch->Timestamp = AReader.Double();
    AReader.ExpectVariablePart(static_cast<std::uint64_t>(nameLength) + valueLength);
    watch->Name = AReader.Text(nameLength);
    watch->Value = AReader.Text(valueLength);
    return watch;
}

TSiPacketPtr ReadProcessFlow(TBodyReader& AReader) {
    auto flow = SiMakeRef<TSiProcessFlow>();
    const std::uint64_t offset = AReader.FieldOffset();
    const std::int32_t ordinal = AReader.Int32();
    flow->ProcessFlowType =
        Known(SiProcessFlowTypeFromOrdinal(ordinal), "process flow type", ordinal, offset);
    const std::int32_t titleLength = AReader.Length("TitleLength");
    const std::int32_t hostNameLength = AReader.Length("HostNameLength");
    flow->ProcessId = AReader.UInt32();
    flow->ThreadId = AReader.UInt32();
    flow->Timestamp = AReader.Double();
    AReader.ExpectVariablePart(static_cast<std::uint64_t>(titleLength) + hostNameLength);
    flow->Title = AReader.Text(titleLength);
    flow->HostName = AReader.Text(hostNameLength);
    return flow;
}

TSiPacketPtr ReadLogHeader(TBodyReader& AReader) {
    const std::int32_t contentLength = AReader.Length("content length");
    AReader.ExpectVariablePart(static_cast<std::uint64_t>(contentLength));
    const std::uint64_t offset = AReader.FieldOffset();
    const std::string content = AReader.Text(contentLength);

    constexpr std::string_view kHostName = "hostname=";
    constexpr std::string_view kAppName = "\r\nappname=";
    constexpr std::string_view kLineBreak = "\r\n";
    const std::string_view text = content;
    const std::size_t appName = text.find(kAppName);
    if (!text.starts_with(kHostName) || appName == std::string_view::npos ||
        !text.ends_with(kLineBreak) || appName + kAppName.size() > text.size() - 2) {
        Fail("Log header content is not \"hostname=\" and \"appname=\" lines", offset);
    }
    auto header = SiMakeRef<TSiLogHeader>();
    header->HostName = std::string(text.substr(kHostName.size(), appName - kHostName.size()));
    const std::size_t appNameStart = appName + kAppName.size();
    header->AppName = std::string(text.substr(appNameStart, text.size() - 2 - appNameStart));
    return header;
}

struct TKindLayout {
    const char* Name;
    std::size_t FixedSize;
    TSiPacketPtr (*Read)(TBodyReader&);
};

TKindLayout LayoutOf(TSiPacketType AType) noexcept {
    switch (AType) {
        case ptLogEntry:
            return {"log entry", kSiLogEntryHeaderSize, &ReadLogEntry};
        case ptControlCommand:
            return {"control command", kSiControlCommandHeaderSize, &ReadControlCommand};
        case ptWatch:
            return {"watch", kSiWatchHeaderSize, &ReadWatch};
        case ptProcessFlow:
            return {"process flow", kSiProcessFlowHeaderSize, &ReadProcessFlow};
        case ptLogHeader:
            break;
    }
    return {"log header", kSiLogHeaderHeaderSize, &ReadLogHeader};
}

// Checks a packet header and returns the packet's kind and body size.
std::pair<TSiPacketType, std::size_t> ReadPacketHeader(const std::uint8_t* AHeader,
                                                       std::uint64_t AOffset) {
    const std::uint16_t code = LoadUInt16(AHeader);
    const std::optional<TSiPacketType> type = SiPacketTypeFromCode(code);
    if (!type) {
        Fail("Unknown packet type code " + std::to_string(code), AOffset);
    }
    const auto size = static_cast<std::int32_t>(LoadUInt32(AHeader + 2));
    if (size < 0) {
        Fail("Negative packet size " + std::to_string(size), AOffset + 2);
    }
    return {*type, static_cast<std::size_t>(size)};
}

}  // namespace

ESiPacketFormatError::ESiPacketFormatError(const std::string& AWhat, std::uint64_t AOffset)
    : ESiError(AWhat + " at offset " + std::to_string(AOffset)), FOffset(AOffset) {}

TSiPacketPtr TSiBinaryPacketReader::ReadPacket() {
    const std::uint64_t offset = FBaseOffset + FPosition;
    const std::size_t available = FBuffer.size() - FPosition;
    if (available < kSiPacketHeaderSize) {
        Fail("Truncated packet header: " + std::to_string(kSiPacketHeaderSize) + " bytes needed, " +
                 std::to_string(available) + " available",
             offset);
    }
    const auto [type, bodySize] = ReadPacketHeader(FBuffer.data() + FPosition, offset);
    const std::size_t bodyAvailable = available - kSiPacketHeaderSize;
    if (bodySize > bodyAvailable) {
        Fail("Truncated packet: body of " + std::to_string(bodySize) + " bytes, " +
                 std::to_string(bodyAvailable) + " available",
             offset);
    }
    const TKindLayout layout = LayoutOf(type);
    const std::uint64_t bodyOffset = offset + kSiPacketHeaderSize;
    if (bodySize < layout.FixedSize) {
        Fail(std::string("Body of the ") + layout.Name + " (" + std::to_string(bodySize) +
                 " bytes) is shorter than its " + std::to_string(layout.FixedSize) + "-byte header",
             bodyOffset);
    }
    TBodyReader body(FBuffer.subspan(FPosition + kSiPacketHeaderSize, bodySize), bodyOffset,
                     layout.Name);
    TSiPacketPtr packet = layout.Read(body);
    FPosition += kSiPacketHeaderSize + bodySize;
    return packet;
}

std::size_t TSiBinaryPacketReader::CompletePacketSize(std::span<const std::uint8_t> ABytes,
                                                      std::uint64_t ABaseOffset) {
    if (ABytes.size() < kSiPacketHeaderSize) {
        return 0;
    }
    const std::size_t bodySize = ReadPacketHeader(ABytes.data(), ABaseOffset).second;
    const std::size_t total = kSiPacketHeaderSize + bodySize;
    return ABytes.size() >= total ? total : 0;
}

}  // namespace deruz::logging
