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
        const std::uint32_t LValue = LoadUInt32(FBody.data() + FPosition);
        FPosition += 4;
        return LValue;
    }

    double Double() noexcept {
        const auto LValue = std::bit_cast<double>(LoadUInt64(FBody.data() + FPosition));
        FPosition += 8;
        return LValue;
    }

    // A length field: must not be negative.
    std::int32_t Length(const char* AField) {
        const std::uint64_t LOffset = FieldOffset();
        const std::int32_t LValue = Int32();
        if (LValue < 0) {
            Fail(std::string("Negative ") + AField + " " + std::to_string(LValue) + " in " + FKind +
                     " body",
                 LOffset);
        }
        return LValue;
    }

    // The variable parts must fill the body exactly: neither run past it nor leave bytes over.
    void ExpectVariablePart(std::uint64_t ASize) const {
        const std::uint64_t LAvailable = FBody.size() - FPosition;
        if (ASize != LAvailable) {
            Fail(std::string("Lengths of the ") + FKind + " give " +
                     std::to_string(FPosition + ASize) + " body bytes, the packet header " +
                     std::to_string(FBody.size()),
                 FOffset);
        }
    }

    std::string Text(std::int32_t ALength) {
        std::string LText(reinterpret_cast<const char*>(FBody.data() + FPosition),
                          static_cast<std::size_t>(ALength));
        FPosition += static_cast<std::size_t>(ALength);
        return LText;
    }

    // Copies ALength bytes into a packet's data stream (none for 0).
    template <typename Packet>
    void Data(Packet& APacket, std::int32_t ALength) {
        if (ALength == 0) {
            return;
        }
        TSiMemoryStream LData;
        LData.WriteBuffer(FBody.data() + FPosition, static_cast<std::size_t>(ALength));
        FPosition += static_cast<std::size_t>(ALength);
        APacket.SetData(&LData);
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
    auto LEntry = SiMakeRef<TSiLogEntry>();
    std::uint64_t LOffset = AReader.FieldOffset();
    std::int32_t LCode = AReader.Int32();
    LEntry->LogEntryType = Known(SiLogEntryTypeFromCode(LCode), "log entry type", LCode, LOffset);
    LOffset = AReader.FieldOffset();
    LCode = AReader.Int32();
    LEntry->ViewerId = Known(SiViewerIdFromCode(LCode), "viewer id", LCode, LOffset);
    const std::int32_t LAppNameLength = AReader.Length("AppNameLength");
    const std::int32_t LSessionNameLength = AReader.Length("SessionNameLength");
    const std::int32_t LTitleLength = AReader.Length("TitleLength");
    const std::int32_t LHostNameLength = AReader.Length("HostNameLength");
    const std::int32_t LDataLength = AReader.Length("DataLength");
    LEntry->ProcessId = AReader.UInt32();
    LEntry->ThreadId = AReader.UInt32();
    LEntry->Timestamp = AReader.Double();
    LEntry->Color = AReader.Int32();
    AReader.ExpectVariablePart(static_cast<std::uint64_t>(LAppNameLength) + LSessionNameLength +
                               LTitleLength + LHostNameLength + LDataLength);
    LEntry->AppName = AReader.Text(LAppNameLength);
    LEntry->SessionName = AReader.Text(LSessionNameLength);
    LEntry->Title = AReader.Text(LTitleLength);
    LEntry->HostName = AReader.Text(LHostNameLength);
    AReader.Data(*LEntry, LDataLength);
    return LEntry;
}

TSiPacketPtr ReadControlCommand(TBodyReader& AReader) {
    auto LCommand = SiMakeRef<TSiControlCommand>();
    LCommand->Level = lvControl;
    const std::uint64_t LOffset = AReader.FieldOffset();
    const std::int32_t LOrdinal = AReader.Int32();
    LCommand->ControlCommandType =
        Known(SiControlCommandTypeFromOrdinal(LOrdinal), "control command type", LOrdinal, LOffset);
    const std::int32_t LDataLength = AReader.Length("DataLength");
    AReader.ExpectVariablePart(static_cast<std::uint64_t>(LDataLength));
    AReader.Data(*LCommand, LDataLength);
    return LCommand;
}

TSiPacketPtr ReadWatch(TBodyReader& AReader) {
    auto LWatch = SiMakeRef<TSiWatch>();
    const std::int32_t LNameLength = AReader.Length("NameLength");
    const std::int32_t LValueLength = AReader.Length("ValueLength");
    const std::uint64_t LOffset = AReader.FieldOffset();
    const std::int32_t LOrdinal = AReader.Int32();
    LWatch->WatchType = Known(SiWatchTypeFromOrdinal(LOrdinal), "watch type", LOrdinal, LOffset);
    LWatch->Timestamp = AReader.Double();
    AReader.ExpectVariablePart(static_cast<std::uint64_t>(LNameLength) + LValueLength);
    LWatch->Name = AReader.Text(LNameLength);
    LWatch->Value = AReader.Text(LValueLength);
    return LWatch;
}

TSiPacketPtr ReadProcessFlow(TBodyReader& AReader) {
    auto LFlow = SiMakeRef<TSiProcessFlow>();
    const std::uint64_t LOffset = AReader.FieldOffset();
    const std::int32_t LOrdinal = AReader.Int32();
    LFlow->ProcessFlowType =
        Known(SiProcessFlowTypeFromOrdinal(LOrdinal), "process flow type", LOrdinal, LOffset);
    const std::int32_t LTitleLength = AReader.Length("TitleLength");
    const std::int32_t LHostNameLength = AReader.Length("HostNameLength");
    LFlow->ProcessId = AReader.UInt32();
    LFlow->ThreadId = AReader.UInt32();
    LFlow->Timestamp = AReader.Double();
    AReader.ExpectVariablePart(static_cast<std::uint64_t>(LTitleLength) + LHostNameLength);
    LFlow->Title = AReader.Text(LTitleLength);
    LFlow->HostName = AReader.Text(LHostNameLength);
    return LFlow;
}

TSiPacketPtr ReadLogHeader(TBodyReader& AReader) {
    const std::int32_t LContentLength = AReader.Length("content length");
    AReader.ExpectVariablePart(static_cast<std::uint64_t>(LContentLength));
    const std::uint64_t LOffset = AReader.FieldOffset();
    const std::string LContent = AReader.Text(LContentLength);

    constexpr std::string_view LHostName = "hostname=";
    constexpr std::string_view LKAppName = "\r\nappname=";
    constexpr std::string_view LLineBreak = "\r\n";
    const std::string_view LText = LContent;
    const std::size_t LAppName = LText.find(LKAppName);
    if (!LText.starts_with(LHostName) || LAppName == std::string_view::npos ||
        !LText.ends_with(LLineBreak) || LAppName + LKAppName.size() > LText.size() - 2) {
        Fail("Log header content is not \"hostname=\" and \"appname=\" lines", LOffset);
    }
    auto LHeader = SiMakeRef<TSiLogHeader>();
    LHeader->HostName = std::string(LText.substr(LHostName.size(), LAppName - LHostName.size()));
    const std::size_t LAppNameStart = LAppName + LKAppName.size();
    LHeader->AppName = std::string(LText.substr(LAppNameStart, LText.size() - 2 - LAppNameStart));
    return LHeader;
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
    const std::uint16_t LCode = LoadUInt16(AHeader);
    const std::optional<TSiPacketType> LType = SiPacketTypeFromCode(LCode);
    if (!LType) {
        Fail("Unknown packet type code " + std::to_string(LCode), AOffset);
    }
    const auto LSize = static_cast<std::int32_t>(LoadUInt32(AHeader + 2));
    if (LSize < 0) {
        Fail("Negative packet size " + std::to_string(LSize), AOffset + 2);
    }
    return {*LType, static_cast<std::size_t>(LSize)};
}

}  // namespace

ESiPacketFormatError::ESiPacketFormatError(const std::string& AWhat, std::uint64_t AOffset)
    : ESiError(AWhat + " at offset " + std::to_string(AOffset)), FOffset(AOffset) {}

TSiPacketPtr TSiBinaryPacketReader::ReadPacket() {
    const std::uint64_t LOffset = FBaseOffset + FPosition;
    const std::size_t LAvailable = FBuffer.size() - FPosition;
    if (LAvailable < kSiPacketHeaderSize) {
        Fail("Truncated packet header: " + std::to_string(kSiPacketHeaderSize) + " bytes needed, " +
                 std::to_string(LAvailable) + " available",
             LOffset);
    }
    const auto [type, bodySize] = ReadPacketHeader(FBuffer.data() + FPosition, LOffset);
    const std::size_t LBodyAvailable = LAvailable - kSiPacketHeaderSize;
    if (bodySize > LBodyAvailable) {
        Fail("Truncated packet: body of " + std::to_string(bodySize) + " bytes, " +
                 std::to_string(LBodyAvailable) + " available",
             LOffset);
    }
    const TKindLayout LLayout = LayoutOf(type);
    const std::uint64_t LBodyOffset = LOffset + kSiPacketHeaderSize;
    if (bodySize < LLayout.FixedSize) {
        Fail(std::string("Body of the ") + LLayout.Name + " (" + std::to_string(bodySize) +
                 " bytes) is shorter than its " + std::to_string(LLayout.FixedSize) +
                 "-byte header",
             LBodyOffset);
    }
    TBodyReader LBody(FBuffer.subspan(FPosition + kSiPacketHeaderSize, bodySize), LBodyOffset,
                      LLayout.Name);
    TSiPacketPtr LPacket = LLayout.Read(LBody);
    FPosition += kSiPacketHeaderSize + bodySize;
    return LPacket;
}

std::size_t TSiBinaryPacketReader::CompletePacketSize(std::span<const std::uint8_t> ABytes,
                                                      std::uint64_t ABaseOffset) {
    if (ABytes.size() < kSiPacketHeaderSize) {
        return 0;
    }
    const std::size_t LBodySize = ReadPacketHeader(ABytes.data(), ABaseOffset).second;
    const std::size_t LTotal = kSiPacketHeaderSize + LBodySize;
    return ABytes.size() >= LTotal ? LTotal : 0;
}

}  // namespace deruz::logging
