// The "syslog" protocol: sends every packet as an RFC 5424 message (syslog_formatter.h) to a
// syslog receiver (rsyslog, syslog-ng, a practice's collector), over TCP with octet counting
// (RFC 6587) or over UDP, one message a datagram (RFC 5426).
//
// Options besides the common ones: "host" (default 127.0.0.1), "port" (514), "transport"
// ("tcp", the default, or "udp"), "facility" (a name such as "user" or "local0", or 0 to 23;
// default "user"), "timeout" (ms for connecting and for every send, default 30000) and
// "maxlength" (the longest message in bytes, default 8192; longer ones are cut). TLS is not
// offered here: it would add a dependency to the library; silog collect forwards over TLS.
//
// No log header is sent: syslog has none, and every message carries the host and application
// names. A syslog receiver never answers, so before each TCP message the protocol looks,
// without waiting, whether the receiver has closed the connection (it restarted, say) and then
// connects again at once, so that the message goes to the new connection instead of being
// lost. UDP has no delivery guarantee at all.
//
// Errors (ESiProtocolError through the framework): those of TSiTcpClient; "Unknown syslog
// transport "<name>" (tcp or udp; ...)" and "Unknown syslog facility "<name>"" when the options are
// loaded (the connections string is then refused); the system's text when a datagram cannot be
// sent.
//
// Thread safety and ownership: as every TSiProtocol (protocol.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "logging/format/syslog_formatter.h"
#include "logging/protocols/protocol.h"
#include "logging/protocols/tcp_client.h"
#include "logging/system/socket.h"

namespace deruz::logging {

// Minutes east of UTC of this machine's local time now, which the packets' local timestamps
// carry (rounded to a quarter hour).
int SiLocalUtcOffsetMinutes() noexcept;

class TSiSyslogProtocol final : public TSiProtocol {
  public:
    TSiSyslogProtocol();
    ~TSiSyslogProtocol() override;

    std::string GetName() const override { return "syslog"; }

  protected:
    void BuildOptions(TSiConnectionsBuilder& ABuilder) override;
    void LoadOptions() override;
    bool IsValidOption(const std::string& AKey) const override;
    void InternalConnect() override;
    void InternalDisconnect() override;
    void InternalWritePacket(TSiPacket& APacket) override;

  private:
    void ConnectTcp();
    void CloseDatagram() noexcept;

    std::string FHost = "127.0.0.1";
    std::uint16_t FPort = 514;
    bool FUdp = false;
    std::int32_t FTimeout = TSiTcpClient::kDefaultTimeout;
    TSiSyslogSettings FSettings;
    std::unique_ptr<TSiTcpClient> FTcpClient;
    TSiSocket FDatagram = kSiInvalidSocket;
    // The message being sent, reused from packet to packet.
    std::string FMessage;
};

}  // namespace deruz::logging
