// The "syslog" protocol: RFC 5424 messages over TCP (octet counting) or UDP.
#include "logging/protocols/syslog_protocol.h"

#include <cmath>

#include "logging/base/errors.h"
#include "logging/base/strings.h"
#include "logging/config/connections.h"
#include "logging/system/clock.h"

namespace deruz::logging {

int SiLocalUtcOffsetMinutes() noexcept {
    const double LDays = SiLocalNow() - SiUtcNow();
    return static_cast<int>(std::lround(LDays * 24 * 60 / 15)) * 15;
}

TSiSyslogProtocol::TSiSyslogProtocol() {
    LoadOptions();
}

TSiSyslogProtocol::~TSiSyslogProtocol() {
    CloseDatagram();
}

void TSiSyslogProtocol::BuildOptions(TSiConnectionsBuilder& ABuilder) {
    TSiProtocol::BuildOptions(ABuilder);
    ABuilder.AddOption("host", FHost);
    ABuilder.AddOption("port", FPort);
    ABuilder.AddOption("transport", std::string(FUdp ? "udp" : "tcp"));
    ABuilder.AddOption("facility", std::string(SiSyslogFacilityName(FSettings.Facility)));
    ABuilder.AddOption("timeout", FTimeout);
    ABuilder.AddOption("maxlength", static_cast<std::int32_t>(FSettings.MaxLength));
}

void TSiSyslogProtocol::LoadOptions() {
    TSiProtocol::LoadOptions();
    FHost = GetStringOption("host", "127.0.0.1");
    FPort = static_cast<std::uint16_t>(GetIntegerOption("port", 514));
    const std::string LTransport = SiLowerCase(GetStringOption("transport", "tcp"));
    if (LTransport != "tcp" && LTransport != "udp") {
        throw ESiError("Unknown syslog transport \"" + LTransport +
                       "\" (tcp or udp; for TLS, log to silog collect, which forwards over it)");
    }
    FUdp = LTransport == "udp";
    const std::string LFacility = GetStringOption("facility", "user");
    const std::optional<int> LCode = SiSyslogFacility(LFacility);
    if (!LCode) {
        throw ESiError("Unknown syslog facility \"" + LFacility + "\"");
    }
    FSettings.Facility = *LCode;
    FTimeout = GetIntegerOption("timeout", TSiTcpClient::kDefaultTimeout);
    const std::int32_t LMax = GetIntegerOption("maxlength", 8192);
    FSettings.MaxLength = LMax > 0 ? static_cast<std::size_t>(LMax) : 8192;
    FTcpClient = std::make_unique<TSiTcpClient>(FHost, FPort);
}

bool TSiSyslogProtocol::IsValidOption(const std::string& AKey) const {
    return AKey == "host" || AKey == "port" || AKey == "transport" || AKey == "facility" ||
           AKey == "timeout" || AKey == "maxlength" || TSiProtocol::IsValidOption(AKey);
}

void TSiSyslogProtocol::ConnectTcp() {
    FTcpClient->Connect(FTimeout);
    FTcpClient->SetTimeout(FTimeout);
}

void TSiSyslogProtocol::InternalConnect() {
    FSettings.UtcOffsetMinutes = SiLocalUtcOffsetMinutes();
    FSettings.AppName = AppName();
    FSettings.HostName = HostName();
    if (!FUdp) {
        ConnectTcp();
        return;
    }
    CloseDatagram();
    if (const int LError = SiSocketStartup(); LError != 0) {
        throw ESiError(SiSocketErrorText(LError));
    }
    std::uint32_t LAddress = 0;
    std::string LError;
    if (!SiResolveIPv4(FHost, LAddress, LError)) {
        throw ESiError(LError);
    }
    FDatagram = SiSocketCreateDatagram();
    if (FDatagram == kSiInvalidSocket || !SiSocketConnect(FDatagram, LAddress, FPort)) {
        const int LCode = SiSocketLastError();
        CloseDatagram();
        throw ESiError(SiSocketErrorText(LCode));
    }
    SiSocketSetTimeouts(FDatagram, FTimeout);
}

void TSiSyslogProtocol::CloseDatagram() noexcept {
    if (FDatagram != kSiInvalidSocket) {
        SiSocketClose(FDatagram);
        FDatagram = kSiInvalidSocket;
    }
}

void TSiSyslogProtocol::InternalDisconnect() {
    FTcpClient->Disconnect();
    CloseDatagram();
}

void TSiSyslogProtocol::InternalWritePacket(TSiPacket& APacket) {
    FMessage.clear();
    if (FUdp) {
        SiFormatSyslog(APacket, FSettings, FMessage);
        if (SiSocketSend(FDatagram, FMessage.data(), FMessage.size()) == kSiSocketError) {
            throw ESiError(SiSocketErrorText(SiSocketLastError()));
        }
        return;
    }
    // Octet counting: the length, a blank, the message.
    FMessage.append(10, ' ');
    SiFormatSyslog(APacket, FSettings, FMessage);
    const std::string LLength = std::to_string(FMessage.size() - 10) + ' ';
    const std::size_t LStart = 10 - LLength.size();
    FMessage.replace(LStart, LLength.size(), LLength);
    if (FTcpClient->PeerGone()) {
        FTcpClient->Disconnect();
        ConnectTcp();
    }
    FTcpClient->Send(FMessage.data() + LStart, FMessage.size() - LStart);
}

}  // namespace deruz::logging
