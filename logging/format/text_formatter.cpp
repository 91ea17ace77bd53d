// The text formatter: one pattern line per log entry, nothing for other packets.
#include "logging/format/text_formatter.h"

#include <limits>

namespace deruz::logging {

namespace {

// A line buffer that held a line longer than this is given back before the next packet, so one
// huge message does not pin its memory for the life of the protocol.
constexpr std::size_t kGiveBackThreshold = 1'048'576;

constexpr std::string_view kLineBreak = "\r\n";

}  // namespace

TSiTextFormatter::TSiTextFormatter(std::string_view APattern) {
    FLine.reserve(256);
    FParser.SetPattern(APattern);
}

std::int32_t TSiTextFormatter::Compile(TSiPacket& APacket) {
    if (FLine.capacity() > kGiveBackThreshold) {
        std::string().swap(FLine);
        FLine.reserve(256);
    } else {
        FLine.clear();
    }
    if (APacket.GetPacketType() != ptLogEntry) {
        return 0;
    }
    // Only TSiLogEntry has the kind ptLogEntry.
    FParser.ExpandTo(static_cast<const TSiLogEntry&>(APacket), FLine);
    FLine += kLineBreak;
    if (FLine.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        FLine.clear();
        throw ESiFormatError("Text line too large");
    }
    return static_cast<std::int32_t>(FLine.size());
}

void TSiTextFormatter::Write(TSiStream& AStream) {
    if (!FLine.empty()) {
        AStream.WriteBuffer(FLine.data(), FLine.size());
    }
}

std::optional<std::string_view> TSiTextFormatter::FormatLine(TSiPacket& APacket) {
    if (Compile(APacket) == 0) {
        return std::nullopt;
    }
    return std::string_view(FLine).substr(0, FLine.size() - kLineBreak.size());
}

std::optional<std::string> SiFormatTextLine(TSiPacket& APacket, std::string_view APattern) {
    TSiTextFormatter LFormatter(APattern);
    const std::optional<std::string_view> LLine = LFormatter.FormatLine(APacket);
    if (!LLine) {
        return std::nullopt;
    }
    return std::string(*LLine);
}

}  // namespace deruz::logging
