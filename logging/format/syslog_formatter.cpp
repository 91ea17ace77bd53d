// RFC 5424 messages for packets; see syslog_formatter.h for the form and the escaping rules.
#include "logging/format/syslog_formatter.h"

#include <array>
#include <cstdio>

#include "logging/base/datetime.h"
#include "logging/base/enums.h"
#include "logging/base/strings.h"

namespace deruz::logging {

namespace {

// The longest value of one structured-data parameter, in bytes after escaping: the header and
// the structured data together stay far below the shortest message a receiver must take.
constexpr std::size_t kMaxParamBytes = 255;
constexpr std::size_t kMinMaxLength = 480;

constexpr std::array<std::string_view, 24> kFacilities = {
    "kern",   "user",   "mail",     "daemon", "auth",   "syslog", "lpr",    "news",
    "uucp",   "cron",   "authpriv", "ftp",    "ntp",    "audit",  "alert",  "clock",
    "local0", "local1", "local2",   "local3", "local4", "local5", "local6", "local7"};

// Decodes one UTF-8 character at AText[AIndex]; its length in ALength (1 for an invalid byte,
// which gives U+FFFD).
char32_t DecodeUtf8(std::string_view AText, std::size_t AIndex, std::size_t& ALength) noexcept {
    const auto LByte = static_cast<unsigned char>(AText[AIndex]);
    ALength = 1;
    if (LByte < 0x80) {
        return LByte;
    }
    std::size_t LCount = 0;
    char32_t LValue = 0;
    char32_t LMin = 0;
    if ((LByte & 0xE0) == 0xC0) {
        LCount = 2;
        LValue = LByte & 0x1F;
        LMin = 0x80;
    } else if ((LByte & 0xF0) == 0xE0) {
        LCount = 3;
        LValue = LByte & 0x0F;
        LMin = 0x800;
    } else if ((LByte & 0xF8) == 0xF0) {
        LCount = 4;
        LValue = LByte & 0x07;
        LMin = 0x10000;
    } else {
        return 0xFFFD;
    }
    if (AIndex + LCount > AText.size()) {
        return 0xFFFD;
    }
    for (std::size_t LI = 1; LI < LCount; ++LI) {
        const auto LNext = static_cast<unsigned char>(AText[AIndex + LI]);
        if ((LNext & 0xC0) != 0x80) {
            return 0xFFFD;
        }
        LValue = (LValue << 6) | (LNext & 0x3F);
    }
    if (LValue < LMin || LValue > 0x10FFFF || (LValue >= 0xD800 && LValue <= 0xDFFF)) {
        return 0xFFFD;
    }
    ALength = LCount;
    return LValue;
}

// Appends the bytes of one character or its escape, unless that would pass ALimit bytes in
// all; false when it did not fit.
bool AppendBounded(std::string& AOut, std::string_view ABytes, std::size_t ALimit) {
    if (AOut.size() + ABytes.size() > ALimit) {
        return false;
    }
    AOut.append(ABytes);
    return true;
}

// A header field: printable ASCII without blanks, at most AMax bytes, "-" when empty.
void AppendHeaderField(std::string& AOut, std::string_view AText, std::size_t AMax) {
    if (AText.empty()) {
        AOut += '-';
        return;
    }
    const std::size_t LStart = AOut.size();
    for (const char LChar : AText.substr(0, AMax)) {
        const auto LByte = static_cast<unsigned char>(LChar);
        AOut += LByte >= 33 && LByte <= 126 ? LChar : '_';
    }
    // A field of just "-" would read as the nil value.
    if (AOut.size() == LStart + 1 && AOut.back() == '-') {
        AOut.back() = '_';
    }
}

void AppendTimestamp(std::string& AOut, TDateTime AValue, int AOffsetMinutes) {
    if (AValue == 0 || !SiIsCalendarDate(AValue)) {
        AOut += '-';
        return;
    }
    const TSiDateTimeParts LParts = SiDecodeDateTime(AValue);
    const int LOffset = AOffsetMinutes < 0 ? -AOffsetMinutes : AOffsetMinutes;
    char LText[48];
    std::snprintf(LText, sizeof LText, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", LParts.Year,
                  LParts.Month, LParts.Day, LParts.Hour, LParts.Minute, LParts.Second,
                  LParts.Millisecond, AOffsetMinutes < 0 ? '-' : '+', LOffset / 60 % 100,
                  LOffset % 60);
    AOut += LText;
}

void AppendParam(std::string& AOut, std::string_view AName, std::string_view AValue) {
    AOut += ' ';
    AOut += AName;
    AOut += "=\"";
    SiSyslogEscape(AValue, true, AOut.size() + kMaxParamBytes, AOut);
    AOut += '"';
}

// The kind's name, its type's name, and the message text of a packet.
struct TPacketText {
    std::string_view Kind;
    std::string_view Type;
    std::string Message;
};

TPacketText DescribePacket(const TSiPacket& APacket) {
    switch (APacket.GetPacketType()) {
        case ptLogEntry: {
            const auto& LEntry = static_cast<const TSiLogEntry&>(APacket);
            return {"LogEntry", SiLogEntryTypeString(LEntry.LogEntryType), LEntry.Title};
        }
        case ptWatch: {
            const auto& LWatch = static_cast<const TSiWatch&>(APacket);
            return {"Watch", SiWatchTypeString(LWatch.WatchType),
                    LWatch.Name + " = " + LWatch.Value};
        }
        case ptProcessFlow: {
            const auto& LFlow = static_cast<const TSiProcessFlow&>(APacket);
            return {"ProcessFlow", SiProcessFlowTypeString(LFlow.ProcessFlowType), LFlow.Title};
        }
        case ptControlCommand: {
            const auto& LCommand = static_cast<const TSiControlCommand&>(APacket);
            const std::string_view LType = SiControlCommandTypeString(LCommand.ControlCommandType);
            return {"ControlCommand", LType, std::string(LType)};
        }
        case ptLogHeader: {
            const auto& LHeader = static_cast<const TSiLogHeader&>(APacket);
            return {"LogHeader", "LogHeader",
                    "hostname=" + LHeader.HostName + " appname=" + LHeader.AppName};
        }
    }
    return {"Unknown", "Unknown", std::string()};
}

}  // namespace

int SiSyslogSeverity(const TSiPacket& APacket) noexcept {
    switch (APacket.GetPacketType()) {
        case ptLogEntry:
            switch (static_cast<const TSiLogEntry&>(APacket).LogEntryType) {
                case ltFatal:
                    return 2;
                case ltError:
                case ltInternalError:
                case ltAssert:
                    return 3;
                case ltWarning:
                    return 4;
                case ltSeparator:
                case ltEnterMethod:
                case ltLeaveMethod:
                case ltResetCallstack:
                case ltDebug:
                case ltVerbose:
                    return 7;
                default:
                    return 6;
            }
        case ptControlCommand:
            return 5;
        case ptLogHeader:
            return 6;
        case ptWatch:
        case ptProcessFlow:
            return 7;
    }
    return 6;
}

std::string_view SiSyslogFacilityName(int AFacility) noexcept {
    return AFacility >= 0 && AFacility < static_cast<int>(kFacilities.size())
               ? kFacilities[static_cast<std::size_t>(AFacility)]
               : kFacilities[1];
}

std::optional<int> SiSyslogFacility(std::string_view AText) {
    const std::string LText = SiLowerCase(SiTrim(AText));
    for (std::size_t LI = 0; LI < kFacilities.size(); ++LI) {
        if (LText == kFacilities[LI]) {
            return static_cast<int>(LI);
        }
    }
    if (!LText.empty() && LText.size() <= 2 &&
        LText.find_first_not_of("0123456789") == std::string::npos) {
        const int LValue = std::stoi(LText);
        if (LValue < static_cast<int>(kFacilities.size())) {
            return LValue;
        }
    }
    return std::nullopt;
}

void SiSyslogEscape(std::string_view AText, bool AParamValue, std::size_t AMaxBytes,
                    std::string& AOut) {
    std::size_t LIndex = 0;
    while (LIndex < AText.size()) {
        std::size_t LLength = 1;
        const char32_t LChar = DecodeUtf8(AText, LIndex, LLength);
        char LEscape[12];
        std::string_view LBytes;
        if (LChar == '\n') {
            LBytes = "\\n";
        } else if (LChar == '\r') {
            LBytes = "\\r";
        } else if (LChar == '\t') {
            LBytes = "\\t";
        } else if (LChar < 0x20 || LChar == 0x7F) {
            std::snprintf(LEscape, sizeof LEscape, "\\x%02X", static_cast<unsigned>(LChar));
            LBytes = LEscape;
        } else if (LChar == 0x85 || LChar == 0x2028 || LChar == 0x2029) {
            std::snprintf(LEscape, sizeof LEscape, "\\u%04X", static_cast<unsigned>(LChar));
            LBytes = LEscape;
        } else if (LChar == 0xFFFD && LLength == 1) {
            LBytes = "\xEF\xBF\xBD";
        } else if (AParamValue && (LChar == '"' || LChar == '\\' || LChar == ']')) {
            LEscape[0] = '\\';
            LEscape[1] = static_cast<char>(LChar);
            LBytes = std::string_view(LEscape, 2);
        } else {
            LBytes = AText.substr(LIndex, LLength);
        }
        if (!AppendBounded(AOut, LBytes, AMaxBytes)) {
            return;
        }
        LIndex += LLength;
    }
}

void SiFormatSyslog(const TSiPacket& APacket, const TSiSyslogSettings& ASettings,
                    std::string& AOut) {
    const std::size_t LStart = AOut.size();
    const std::size_t LLimit =
        LStart + (ASettings.MaxLength < kMinMaxLength ? kMinMaxLength : ASettings.MaxLength);
    const TPacketText LText = DescribePacket(APacket);
    const int LFacility =
        ASettings.Facility >= 0 && ASettings.Facility < 24 ? ASettings.Facility : 1;

    std::string_view LHost = ASettings.HostName;
    std::string_view LApp = ASettings.AppName;
    std::string_view LSession;
    TDateTime LTime = 0;
    std::uint32_t LProcess = 0;
    std::uint32_t LThread = 0;
    switch (APacket.GetPacketType()) {
        case ptLogEntry: {
            const auto& LEntry = static_cast<const TSiLogEntry&>(APacket);
            if (!LEntry.HostName.empty()) LHost = LEntry.HostName;
            if (!LEntry.AppName.empty()) LApp = LEntry.AppName;
            LSession = LEntry.SessionName;
            LTime = LEntry.Timestamp;
            LProcess = LEntry.ProcessId;
            LThread = LEntry.ThreadId;
            break;
        }
        case ptWatch:
            LTime = static_cast<const TSiWatch&>(APacket).Timestamp;
            break;
        case ptProcessFlow: {
            const auto& LFlow = static_cast<const TSiProcessFlow&>(APacket);
            if (!LFlow.HostName.empty()) LHost = LFlow.HostName;
            LTime = LFlow.Timestamp;
            LProcess = LFlow.ProcessId;
            LThread = LFlow.ThreadId;
            break;
        }
        case ptLogHeader: {
            const auto& LHeader = static_cast<const TSiLogHeader&>(APacket);
            if (!LHeader.HostName.empty()) LHost = LHeader.HostName;
            if (!LHeader.AppName.empty()) LApp = LHeader.AppName;
            break;
        }
        case ptControlCommand:
            break;
    }

    AOut += '<';
    AOut += std::to_string(LFacility * 8 + SiSyslogSeverity(APacket));
    AOut += ">1 ";
    AppendTimestamp(AOut, LTime, ASettings.UtcOffsetMinutes);
    AOut += ' ';
    AppendHeaderField(AOut, LHost, 255);
    AOut += ' ';
    AppendHeaderField(AOut, LApp, 48);
    AOut += ' ';
    AppendHeaderField(AOut, LProcess != 0 ? std::to_string(LProcess) : std::string(), 128);
    AOut += ' ';
    AppendHeaderField(AOut, LText.Kind, 32);

    AOut += " [silog@32473";
    AppendParam(AOut, "kind", LText.Kind);
    AppendParam(AOut, "type", LText.Type);
    if (APacket.GetPacketType() == ptLogEntry) {
        const auto& LEntry = static_cast<const TSiLogEntry&>(APacket);
        AppendParam(AOut, "session", LSession);
        AppendParam(AOut, "viewer", SiViewerIdString(LEntry.ViewerId));
        if (LEntry.HasData()) {
            AppendParam(AOut, "datasize", std::to_string(LEntry.GetData()->Bytes().size()));
        }
    }
    if (APacket.GetPacketType() == ptWatch) {
        AppendParam(AOut, "name", static_cast<const TSiWatch&>(APacket).Name);
    }
    AppendParam(AOut, "app", LApp);
    AppendParam(AOut, "host", LHost);
    if (LProcess != 0) {
        AppendParam(AOut, "pid", std::to_string(LProcess));
    }
    if (LThread != 0) {
        AppendParam(AOut, "tid", std::to_string(LThread));
    }
    AOut += ']';
    if (!LText.Message.empty() && AOut.size() + 1 < LLimit) {
        AOut += ' ';
        SiSyslogEscape(LText.Message, false, LLimit, AOut);
    }
}

}  // namespace deruz::logging
