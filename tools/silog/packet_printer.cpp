#include "tools/silog/packet_printer.h"

#include <cstdio>
#include <ostream>

#include "logging/base/enums.h"
#include "logging/base/strings.h"

namespace deruz::silog {

using namespace deruz::logging;

namespace {

std::string Number(double AValue) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", AValue);
    return text;
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

TPacketPrinter::TPacketPrinter(std::ostream& AOut, TOutputFormat AFormat,
                               const std::string& APattern)
    : FOut(AOut), FFormat(AFormat), FFormatter(APattern) {}

void TPacketPrinter::Print(TSiPacket& APacket) {
    if (FFormat == TOutputFormat::Json) {
        PrintJson(APacket);
    } else {
        PrintText(APacket);
    }
    FOut.flush();
}

void TPacketPrinter::PrintText(TSiPacket& APacket) {
    switch (APacket.GetPacketType()) {
        case ptLogEntry:
            if (const auto line = FFormatter.FormatLine(APacket)) FOut << *line << "\n";
            break;
        case ptWatch: {
            const auto& w = static_cast<TSiWatch&>(APacket);
            FOut << "watch " << w.Name << " = " << w.Value << " (" << SiWatchTypeString(w.WatchType)
                 << ")\n";
            break;
        }
        case ptProcessFlow: {
            const auto& f = static_cast<TSiProcessFlow&>(APacket);
            FOut << "flow " << SiProcessFlowTypeString(f.ProcessFlowType) << " " << f.Title
                 << " (host " << f.HostName << ", process " << f.ProcessId << ", thread "
                 << f.ThreadId << ")\n";
            break;
        }
        case ptControlCommand: {
            const auto& c = static_cast<TSiControlCommand&>(APacket);
            FOut << "control " << SiControlCommandTypeString(c.ControlCommandType) << "\n";
            break;
        }
        case ptLogHeader: {
            const auto& h = static_cast<TSiLogHeader&>(APacket);
            FOut << "header hostname=" << h.HostName << " appname=" << h.AppName << "\n";
            break;
        }
    }
}

void TPacketPrinter::PrintJson(TSiPacket& APacket) {
    std::string line;
    switch (APacket.GetPacketType()) {
        case ptLogEntry: {
            const auto& e = static_cast<TSiLogEntry&>(APacket);
            line = "{\"packet\":\"LogEntry\",\"logEntryType\":" +
                   JsonString(SiLogEntryTypeString(e.LogEntryType)) +
                   ",\"viewerId\":" + JsonString(SiViewerIdString(e.ViewerId)) +
                   ",\"level\":" + JsonString(SiLevelString(e.Level)) +
                   ",\"appName\":" + JsonString(e.AppName) +
                   ",\"sessionName\":" + JsonString(e.SessionName) +
                   ",\"title\":" + JsonString(e.Title) + ",\"hostName\":" + JsonString(e.HostName) +
                   ",\"processId\":" + std::to_string(e.ProcessId) +
                   ",\"threadId\":" + std::to_string(e.ThreadId) +
                   ",\"timestamp\":" + Number(e.Timestamp) +
                   ",\"color\":" + std::to_string(static_cast<std::uint32_t>(e.Color)) +
                   ",\"data\":" + JsonString(DataHex(e.GetData())) + "}";
            break;
        }
        case ptWatch: {
            const auto& w = static_cast<TSiWatch&>(APacket);
            line = "{\"packet\":\"Watch\",\"name\":" + JsonString(w.Name) +
                   ",\"value\":" + JsonString(w.Value) +
                   ",\"watchType\":" + JsonString(SiWatchTypeString(w.WatchType)) +
                   ",\"timestamp\":" + Number(w.Timestamp) + "}";
            break;
        }
        case ptProcessFlow: {
            const auto& f = static_cast<TSiProcessFlow&>(APacket);
            line = "{\"packet\":\"ProcessFlow\",\"processFlowType\":" +
                   JsonString(SiProcessFlowTypeString(f.ProcessFlowType)) +
                   ",\"title\":" + JsonString(f.Title) + ",\"hostName\":" + JsonString(f.HostName) +
                   ",\"processId\":" + std::to_string(f.ProcessId) +
                   ",\"threadId\":" + std::to_string(f.ThreadId) +
                   ",\"timestamp\":" + Number(f.Timestamp) + "}";
            break;
        }
        case ptControlCommand: {
            const auto& c = static_cast<TSiControlCommand&>(APacket);
            line = "{\"packet\":\"ControlCommand\",\"controlCommandType\":" +
                   JsonString(SiControlCommandTypeString(c.ControlCommandType)) +
                   ",\"data\":" + JsonString(DataHex(c.GetData())) + "}";
            break;
        }
        case ptLogHeader: {
            const auto& h = static_cast<TSiLogHeader&>(APacket);
            line = "{\"packet\":\"LogHeader\",\"hostName\":" + JsonString(h.HostName) +
                   ",\"appName\":" + JsonString(h.AppName) + "}";
            break;
        }
    }
    FOut << line << "\n";
}

}  // namespace deruz::silog
