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
    char LText[64];
    std::snprintf(LText, sizeof LText, "%.17g", AValue);
    return LText;
}

std::string JsonTimestamp(TDateTime AValue) {
    const std::string LText = IsoTimestamp(AValue);
    return LText.empty() ? "null" : "\"" + LText + "\"";
}

// The bracketed timestamp that starts the text lines of watches and process flows, in the
// default pattern's format.
std::string TextTimestamp(TDateTime AValue) {
    std::string LText = IsoTimestamp(AValue, ' ');
    if (LText.empty()) LText = Number(AValue);
    return "[" + LText + "] ";
}

// The data of an entry or command as lower-case hexadecimal.
std::string DataHex(const TSiMemoryStream* AData) {
    static const char LHex[] = "0123456789abcdef";
    std::string LText;
    if (AData == nullptr) return LText;
    const auto LBytes = AData->Bytes();
    LText.reserve(LBytes.size() * 2);
    for (std::uint8_t LB : LBytes) {
        LText += LHex[LB >> 4];
        LText += LHex[LB & 15];
    }
    return LText;
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
    static const char LHex[] = "0123456789abcdef";
    std::string LOut = "\"";
    std::size_t LI = 0;
    while (LI < AText.size()) {
        const std::size_t LStart = LI;
        const char32_t LC = SiDecodeUtf8(AText, LI);
        if (LC == U'"') {
            LOut += "\\\"";
        } else if (LC == U'\\') {
            LOut += "\\\\";
        } else if (LC == U'\n') {
            LOut += "\\n";
        } else if (LC == U'\r') {
            LOut += "\\r";
        } else if (LC == U'\t') {
            LOut += "\\t";
        } else if (LC < 0x20) {
            LOut += "\\u00";
            LOut += LHex[LC >> 4];
            LOut += LHex[LC & 15];
        } else if (LC == 0xFFFD &&
                   !(LI - LStart == 3 && AText.substr(LStart, 3) == "\xEF\xBF\xBD")) {
            LOut += "\\ufffd";
        } else {
            LOut.append(AText.substr(LStart, LI - LStart));
        }
    }
    LOut += '"';
    return LOut;
}

std::string IsoTimestamp(TDateTime AValue, char ASeparator) {
    if (!SiIsCalendarDate(AValue)) return {};
    const TSiDateTimeParts LP = SiDecodeDateTime(AValue);
    char LText[40];
    std::snprintf(LText, sizeof LText, "%04d-%02d-%02d%c%02d:%02d:%02d.%03d", LP.Year, LP.Month,
                  LP.Day, ASeparator, LP.Hour, LP.Minute, LP.Second, LP.Millisecond);
    return LText;
}

std::string EntryTypeForLevel(std::string_view APattern) {
    // The pieces as the pattern parser cuts them: literal text up to the next "%", variables
    // from a "%" through the next one. A variable's name ends at its first "," or "{".
    std::string LOut;
    std::size_t LPos = 0;
    while (LPos < APattern.size()) {
        std::size_t LEnd;
        if (APattern[LPos] == '%') {
            const std::size_t LClose = APattern.find('%', LPos + 1);
            LEnd = LClose == std::string_view::npos ? APattern.size() : LClose + 1;
            const std::string_view LPiece = APattern.substr(LPos, LEnd - LPos);
            const std::size_t LNameEnd = LPiece.find_first_of(",{%", 1);
            if (LPiece.size() > 2 && LPiece.back() == '%' && LNameEnd != std::string_view::npos &&
                SiSameText(LPiece.substr(0, LNameEnd), "%level")) {
                LOut += "%logentrytype";
                LOut.append(LPiece.substr(LNameEnd));
            } else {
                LOut.append(LPiece);
            }
        } else {
            LEnd = std::min(APattern.find('%', LPos), APattern.size());
            LOut.append(APattern.substr(LPos, LEnd - LPos));
        }
        LPos = LEnd;
    }
    return LOut;
}

TPacketPrinter::TPacketPrinter(std::ostream& AOut, TOutputFormat AFormat,
                               const std::string& APattern, bool AColour)
    : FOut(AOut), FFormat(AFormat), FColour(AColour), FFormatter(EntryTypeForLevel(APattern)) {}

void TPacketPrinter::Print(TSiPacket& APacket) {
    const std::optional<std::string> LText = Line(APacket);
    if (!LText) return;
    std::string LLine = *LText;
    if (FColour && APacket.GetPacketType() == ptLogEntry) {
        const auto LColour = ColourOf(static_cast<TSiLogEntry&>(APacket).LogEntryType);
        if (!LColour.empty()) LLine = std::string(LColour) + LLine + "\x1b[0m";
    }
    FOut << LLine << "\n";
    FOut.flush();
}

std::optional<std::string> TPacketPrinter::Line(TSiPacket& APacket) {
    return FFormat == TOutputFormat::Json ? JsonLine(APacket) : TextLine(APacket);
}

std::string TPacketPrinter::FlowLine(const TSiProcessFlow& AFlow) {
    int& LDepth = FDepth[{AFlow.HostName, AFlow.ProcessId, AFlow.ThreadId}];
    if (!IsEnter(AFlow.ProcessFlowType) && LDepth > 0) --LDepth;
    std::string LLine = TextTimestamp(AFlow.Timestamp) + "flow " +
                        std::string(static_cast<std::size_t>(LDepth) * 3, ' ') +
                        std::string(SiProcessFlowTypeString(AFlow.ProcessFlowType)) + " " +
                        EscapeText(AFlow.Title) + " (thread " + std::to_string(AFlow.ThreadId) +
                        ", process " + std::to_string(AFlow.ProcessId) + ", host " +
                        EscapeText(AFlow.HostName) + ")";
    if (IsEnter(AFlow.ProcessFlowType) && LDepth < 1000) ++LDepth;
    return LLine;
}

std::optional<std::string> TPacketPrinter::TextLine(TSiPacket& APacket) {
    switch (APacket.GetPacketType()) {
        case ptLogEntry: {
            // The pattern sees a copy whose texts are escaped, so that padding and indentation
            // apply to what is printed.
            const auto& LE = static_cast<TSiLogEntry&>(APacket);
            auto LCopy = SiMakeRef<TSiLogEntry>();
            LCopy->Timestamp = LE.Timestamp;
            LCopy->ViewerId = LE.ViewerId;
            LCopy->LogEntryType = LE.LogEntryType;
            LCopy->AppName = EscapeText(LE.AppName);
            LCopy->HostName = EscapeText(LE.HostName);
            LCopy->SessionName = EscapeText(LE.SessionName);
            LCopy->Title = EscapeText(LE.Title);
            LCopy->Color = LE.Color;
            LCopy->ThreadId = LE.ThreadId;
            LCopy->ProcessId = LE.ProcessId;
            const auto LLine = FFormatter.FormatLine(*LCopy);
            if (!LLine) return std::nullopt;
            return std::string(*LLine);
        }
        case ptWatch: {
            const auto& LW = static_cast<TSiWatch&>(APacket);
            return TextTimestamp(LW.Timestamp) + "watch " + EscapeText(LW.Name) + " = " +
                   EscapeText(LW.Value) + " (" + std::string(SiWatchTypeString(LW.WatchType)) + ")";
        }
        case ptProcessFlow:
            return FlowLine(static_cast<TSiProcessFlow&>(APacket));
        case ptControlCommand: {
            const auto& LC = static_cast<TSiControlCommand&>(APacket);
            std::string LLine =
                "control " + std::string(SiControlCommandTypeString(LC.ControlCommandType));
            if (const std::size_t LSize = DataSize(LC.GetData())) {
                LLine += " (" + std::to_string(LSize) + " bytes of data)";
            }
            return LLine;
        }
        case ptLogHeader: {
            const auto& LH = static_cast<TSiLogHeader&>(APacket);
            return "header hostname=" + EscapeText(LH.HostName) +
                   " appname=" + EscapeText(LH.AppName);
        }
    }
    return std::nullopt;
}

std::string TPacketPrinter::JsonLine(TSiPacket& APacket) {
    switch (APacket.GetPacketType()) {
        case ptLogEntry: {
            const auto& LE = static_cast<TSiLogEntry&>(APacket);
            return "{\"packet\":\"LogEntry\",\"logEntryType\":" +
                   JsonString(SiLogEntryTypeString(LE.LogEntryType)) +
                   ",\"viewerId\":" + JsonString(SiViewerIdString(LE.ViewerId)) +
                   ",\"appName\":" + JsonString(LE.AppName) +
                   ",\"sessionName\":" + JsonString(LE.SessionName) +
                   ",\"title\":" + JsonString(LE.Title) +
                   ",\"hostName\":" + JsonString(LE.HostName) +
                   ",\"processId\":" + std::to_string(LE.ProcessId) +
                   ",\"threadId\":" + std::to_string(LE.ThreadId) +
                   ",\"timestamp\":" + JsonTimestamp(LE.Timestamp) +
                   ",\"timestampRaw\":" + Number(LE.Timestamp) +
                   ",\"color\":" + std::to_string(static_cast<std::uint32_t>(LE.Color)) +
                   ",\"data\":" + JsonString(DataHex(LE.GetData())) + "}";
        }
        case ptWatch: {
            const auto& LW = static_cast<TSiWatch&>(APacket);
            return "{\"packet\":\"Watch\",\"name\":" + JsonString(LW.Name) +
                   ",\"value\":" + JsonString(LW.Value) +
                   ",\"watchType\":" + JsonString(SiWatchTypeString(LW.WatchType)) +
                   ",\"timestamp\":" + JsonTimestamp(LW.Timestamp) +
                   ",\"timestampRaw\":" + Number(LW.Timestamp) + "}";
        }
        case ptProcessFlow: {
            const auto& LF = static_cast<TSiProcessFlow&>(APacket);
            return "{\"packet\":\"ProcessFlow\",\"processFlowType\":" +
                   JsonString(SiProcessFlowTypeString(LF.ProcessFlowType)) +
                   ",\"title\":" + JsonString(LF.Title) +
                   ",\"hostName\":" + JsonString(LF.HostName) +
                   ",\"processId\":" + std::to_string(LF.ProcessId) +
                   ",\"threadId\":" + std::to_string(LF.ThreadId) +
                   ",\"timestamp\":" + JsonTimestamp(LF.Timestamp) +
                   ",\"timestampRaw\":" + Number(LF.Timestamp) + "}";
        }
        case ptControlCommand: {
            const auto& LC = static_cast<TSiControlCommand&>(APacket);
            return "{\"packet\":\"ControlCommand\",\"controlCommandType\":" +
                   JsonString(SiControlCommandTypeString(LC.ControlCommandType)) +
                   ",\"data\":" + JsonString(DataHex(LC.GetData())) + "}";
        }
        case ptLogHeader: {
            const auto& LH = static_cast<TSiLogHeader&>(APacket);
            return "{\"packet\":\"LogHeader\",\"hostName\":" + JsonString(LH.HostName) +
                   ",\"appName\":" + JsonString(LH.AppName) + "}";
        }
    }
    return {};
}

}  // namespace deruz::silog
