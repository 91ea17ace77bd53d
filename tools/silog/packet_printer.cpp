#include "tools/silog/packet_printer.h"

#include <cmath>
#include <cstdio>
#include <ostream>

#include "logging/base/enums.h"
#include "logging/base/strings.h"
#include "tools/silog/text_escape.h"

namespace deruz::silog {

using namespace deruz::logging;

namespace {

// A JSON number, or null for NaN and the infinities, which JSON cannot write.
std::string Number(double AValue) {
    if (!std::isfinite(AValue)) return "null";
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", AValue);
    return text;
}

std::string JsonTimestamp(TDateTime AValue) {
    const std::string text = IsoTimestamp(AValue);
    return text.empty() ? "null" : "\"" + text + "\"";
}

// The bracketed timestamp that starts the text lines of watches and process flows, in the
// default pattern's format.
std::string TextTimestamp(TDateTime AValue) {
    std::string text = IsoTimestamp(AValue, ' ');
    if (text.empty()) text = Number(AValue);
    return "[" + text + "] ";
}

// The data of an entry or command as lower-case hexadecimal.
std::string DataHex(const TSiMemoryStream* AData) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    if (AData == nullptr) return text;
    const auto bytes = AData->Bytes();
    text.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        text += kHex[b >> 4];
        text += kHex[b & 15];
    }
    return text;
}

std::size_t DataSize(const TSiMemoryStream* AData) {
    return AData == nullptr ? 0 : AData->Bytes().size();
}

// SGR colour of a log entry's line by its type; none for the types without a severity.
std::string_view ColourOf(TSiLogEntryType AType) {
    switch (AType) {
        case ltDebug:
        case ltVerbose:
            return "\x1b[2m";
        case ltWarning:
            return "\x1b[33m";
        case ltError:
        case ltInternalError:
        case ltAssert:
            return "\x1b[31m";
        case ltFatal:
            return "\x1b[1;31m";
        default:
            return {};
    }
}

bool IsEnter(TSiProcessFlowType AType) {
    return AType == pfEnterMethod || AType == pfEnterThread || AType == pfEnterProcess;
}

}  // namespace

std::string JsonString(std::string_view AText) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    std::size_t i = 0;
    while (i < AText.size()) {
        const std::size_t start = i;
        const char32_t c = SiDecodeUtf8(AText, i);
        if (c == U'"') {
            out += "\\\"";
        } else if (c == U'\\') {
            out += "\\\\";
        } else if (c == U'\n') {
            out += "\\n";
        } else if (c == U'\r') {
            out += "\\r";
        } else if (c == U'\t') {
            out += "\\t";
        } else if (c < 0x20) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else if (c == 0xFFFD && !(i - start == 3 && AText.substr(start, 3) == "\xEF\xBF\xBD")) {
            out += "\\ufffd";
        } else {
            out.append(AText.substr(start, i - start));
        }
    }
    out += '"';
    return out;
}

std::string IsoTimestamp(TDateTime AValue, char ASeparator) {
    if (!SiIsCalendarDate(AValue)) return {};
    const TSiDateTimeParts p = SiDecodeDateTime(AValue);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d%c%02d:%02d:%02d.%03d", p.Year, p.Month, p.Day,
                  ASeparator, p.Hour, p.Minute, p.Second, p.Millisecond);
    return text;
}

std::string EntryTypeForLevel(std::string_view APattern) {
    // The pieces as the pattern parser cuts them: literal text up to the next "%", variables
    // from a "%" through the next one. A variable's name ends at its first "," or "{".
    std::string out;
    std::size_t pos = 0;
    while (pos < APattern.size()) {
        std::size_t end;
        if (APattern[pos] == '%') {
            const std::size_t close = APattern.find('%', pos + 1);
            end = close == std::string_view::npos ? APattern.size() : close + 1;
            const std::string_view piece = APattern.substr(pos, end - pos);
            const std::size_t nameEnd = piece.find_first_of(",{%", 1);
            if (piece.size() > 2 && piece.back() == '%' && nameEnd != std::string_view::npos &&
                SiSameText(piece.substr(0, nameEnd), "%level")) {
                out += "%logentrytype";
                out.append(piece.substr(nameEnd));
            } else {
                out.append(piece);
            }
        } else {
            end = std::min(APattern.find('%', pos), APattern.size());
            out.append(APattern.substr(pos, end - pos));
        }
        pos = end;
    }
    return out;
}

TPacketPrinter::TPacketPrinter(std::ostream& AOut, TOutputFormat AFormat,
                               const std::string& APattern, bool AColour)
    : FOut(AOut), FFormat(AFormat), FColour(AColour), FFormatter(EntryTypeForLevel(APattern)) {}

void TPacketPrinter::Print(TSiPacket& APacket) {
    const std::optional<std::string> text = Line(APacket);
    if (!text) return;
    std::string line = *text;
    if (FColour && APacket.GetPacketType() == ptLogEntry) {
        const auto colour = ColourOf(static_cast<TSiLogEntry&>(APacket).LogEntryType);
        if (!colour.empty()) line = std::string(colour) + line + "\x1b[0m";
    }
    FOut << line << "\n";
    FOut.flush();
}

std::optional<std::string> TPacketPrinter::Line(TSiPacket& APacket) {
    return FFormat == TOutputFormat::Json ? JsonLine(APacket) : TextLine(APacket);
}

std::string TPacketPrinter::FlowLine(const TSiProcessFlow& AFlow) {
    int& depth = FDepth[{AFlow.HostName, AFlow.ProcessId, AFlow.ThreadId}];
    if (!IsEnter(AFlow.ProcessFlowType) && depth > 0) --depth;
    std::string line = TextTimestamp(AFlow.Timestamp) + "flow " +
                       std::string(static_cast<std::size_t>(depth) * 3, ' ') +
                       std::string(SiProcessFlowTypeString(AFlow.ProcessFlowType)) + " " +
                       EscapeText(AFlow.Title) + " (thread " + std::to_string(AFlow.ThreadId) +
                       ", process " + std::to_string(AFlow.ProcessId) + ", host " +
                       EscapeText(AFlow.HostName) + ")";
    if (IsEnter(AFlow.ProcessFlowType) && depth < 1000) ++depth;
    return line;
}

std::optional<std::string> TPacketPrinter::TextLine(TSiPacket& APacket) {
    switch (APacket.GetPacketType()) {
        case ptLogEntry: {
            // The pattern sees a copy whose texts are escaped, so that padding and indentation
            // apply to what is printed.
            const auto& e = static_cast<TSiLogEntry&>(APacket);
            auto copy = SiMakeRef<TSiLogEntry>();
            copy->Timestamp = e.Timestamp;
            copy->ViewerId = e.ViewerId;
            copy->LogEntryType = e.LogEntryType;
            copy->AppName = EscapeText(e.AppName);
            copy->HostName = EscapeText(e.HostName);
            copy->SessionName = EscapeText(e.SessionName);
            copy->Title = EscapeText(e.Title);
            copy->Color = e.Color;
            copy->ThreadId = e.ThreadId;
            copy->ProcessId = e.ProcessId;
            const auto line = FFormatter.FormatLine(*copy);
            if (!line) return std::nullopt;
            return std::string(*line);
        }
        case ptWatch: {
            const auto& w = static_cast<TSiWatch&>(APacket);
            return TextTimestamp(w.Timestamp) + "watch " + EscapeText(w.Name) + " = " +
                   EscapeText(w.Value) + " (" + std::string(SiWatchTypeString(w.WatchType)) + ")";
        }
        case ptProcessFlow:
            return FlowLine(static_cast<TSiProcessFlow&>(APacket));
        case ptControlCommand: {
            const auto& c = static_cast<TSiControlCommand&>(APacket);
            std::string line =
                "control " + std::string(SiControlCommandTypeString(c.ControlCommandType));
            if (const std::size_t size = DataSize(c.GetData())) {
                line += " (" + std::to_string(size) + " bytes of data)";
            }
            return line;
        }
        case ptLogHeader: {
            const auto& h = static_cast<TSiLogHeader&>(APacket);
            return "header hostname=" + EscapeText(h.HostName) +
                   " appname=" + EscapeText(h.AppName);
        }
    }
    return std::nullopt;
}

std::string TPacketPrinter::JsonLine(TSiPacket& APacket) {
    switch (APacket.GetPacketType()) {
        case ptLogEntry: {
            const auto& e = static_cast<TSiLogEntry&>(APacket);
            return "{\"packet\":\"LogEntry\",\"logEntryType\":" +
                   JsonString(SiLogEntryTypeString(e.LogEntryType)) +
                   ",\"viewerId\":" + JsonString(SiViewerIdString(e.ViewerId)) +
                   ",\"appName\":" + JsonString(e.AppName) +
                   ",\"sessionName\":" + JsonString(e.SessionName) +
                   ",\"title\":" + JsonString(e.Title) + ",\"hostName\":" + JsonString(e.HostName) +
                   ",\"processId\":" + std::to_string(e.ProcessId) +
                   ",\"threadId\":" + std::to_string(e.ThreadId) +
                   ",\"timestamp\":" + JsonTimestamp(e.Timestamp) +
                   ",\"timestampRaw\":" + Number(e.Timestamp) +
                   ",\"color\":" + std::to_string(static_cast<std::uint32_t>(e.Color)) +
                   ",\"data\":" + JsonString(DataHex(e.GetData())) + "}";
        }
        case ptWatch: {
            const auto& w = static_cast<TSiWatch&>(APacket);
            return "{\"packet\":\"Watch\",\"name\":" + JsonString(w.Name) +
                   ",\"value\":" + JsonString(w.Value) +
                   ",\"watchType\":" + JsonString(SiWatchTypeString(w.WatchType)) +
                   ",\"timestamp\":" + JsonTimestamp(w.Timestamp) +
                   ",\"timestampRaw\":" + Number(w.Timestamp) + "}";
        }
        case ptProcessFlow: {
            const auto& f = static_cast<TSiProcessFlow&>(APacket);
            return "{\"packet\":\"ProcessFlow\",\"processFlowType\":" +
                   JsonString(SiProcessFlowTypeString(f.ProcessFlowType)) +
                   ",\"title\":" + JsonString(f.Title) + ",\"hostName\":" + JsonString(f.HostName) +
                   ",\"processId\":" + std::to_string(f.ProcessId) +
                   ",\"threadId\":" + std::to_string(f.ThreadId) +
                   ",\"timestamp\":" + JsonTimestamp(f.Timestamp) +
                   ",\"timestampRaw\":" + Number(f.Timestamp) + "}";
        }
        case ptControlCommand: {
            const auto& c = static_cast<TSiControlCommand&>(APacket);
            return "{\"packet\":\"ControlCommand\",\"controlCommandType\":" +
                   JsonString(SiControlCommandTypeString(c.ControlCommandType)) +
                   ",\"data\":" + JsonString(DataHex(c.GetData())) + "}";
        }
        case ptLogHeader: {
            const auto& h = static_cast<TSiLogHeader&>(APacket);
            return "{\"packet\":\"LogHeader\",\"hostName\":" + JsonString(h.HostName) +
                   ",\"appName\":" + JsonString(h.AppName) + "}";
        }
    }
    return {};
}

}  // namespace deruz::silog
