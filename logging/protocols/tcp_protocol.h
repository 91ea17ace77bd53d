// The "tcp" protocol: sends the binary packets to a log viewer over TCP and waits for the
// viewer's 2-byte acknowledgement of every packet.
//
// On each connection: the viewer's banner line is read and discarded, SiClientBanner and LF are
// sent, then the log header; each packet (the log header included) is sent completely and
// answered with 2 bytes whose content is not examined. The "timeout" option bounds the connect
// and the viewer's banner line together, and every send and receive afterwards; it is applied
// to every new socket. The banner line may hold at most 4096 bytes before its LF.
//
// Errors (as ESiProtocolError through the framework): those of TSiTcpClient (tcp_client.h);
// "Socket connection has been unexpectedly closed" when the viewer closes during its banner
// line or before an acknowledgement is complete; the system's timeout text when the banner line
// has not ended within the timeout; "Viewer banner line longer than 4096 bytes".
//
// Thread safety and ownership: as every TSiProtocol (protocol.h); the protocol owns its
// formatter, client, stream and buffer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "logging/format/binary_formatter.h"
#include "logging/io/buffered_stream.h"
#include "logging/protocols/protocol.h"
#include "logging/protocols/tcp_client.h"

namespace deruz::logging {

class TSiTcpProtocol final : public TSiProtocol {
  public:
    TSiTcpProtocol();

    std::string GetName() const override { return "tcp"; }
    bool WritesBinary() const noexcept override { return true; }

    // The client the protocol connects with; it lives from option loading to the protocol's
    // end. For diagnostics: read it only while no other thread uses the protocol.
    const TSiTcpClient& TcpClient() const noexcept { return *FTcpClient; }

  protected:
    void BuildOptions(TSiConnectionsBuilder& ABuilder) override;
    void LoadOptions() override;
    bool IsValidOption(const std::string& AKey) const override;
    void InternalConnect() override;
    void InternalDisconnect() override;
    void InternalWritePacket(TSiPacket& APacket) override;

  private:
    // Replaces the client by one for the current host and port.
    void InitializeTcpClient();

    TSiBinaryFormatter FFormatter;
    std::string FHost = "127.0.0.1";
    std::uint16_t FPort = 4228;
    std::int32_t FTimeout = TSiTcpClient::kDefaultTimeout;
    std::unique_ptr<TSiTcpClientStream> FStream;
    std::unique_ptr<TSiBufferedStream> FBuffer;
    std::unique_ptr<TSiTcpClient> FTcpClient;
};

}  // namespace deruz::logging
