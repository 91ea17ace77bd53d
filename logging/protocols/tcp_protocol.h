// The "tcp" protocol: sends the binary packets to a log viewer over TCP; the viewer acknowledges
// every packet with 2 bytes.
//
// On each connection: the viewer's banner line is read and discarded, SiClientBanner and LF are
// sent, then the log header; each packet (the log header included) is sent completely and
// answered with 2 bytes whose content is not examined. The "timeout" option bounds the connect
// and the viewer's banner line together, and every send and receive afterwards; it is applied
// to every new socket. The banner line may hold at most 4096 bytes before its LF.
//
// The "window" option is how many packets may be on their way, sent and not yet acknowledged:
// with window=1 every packet waits for its acknowledgement before the write returns; with more,
// the protocol sends on and waits only when the window is full, then takes every
// acknowledgement that has arrived. The acknowledgements still come one per packet and in
// order, so the protocol counts them; the bytes on the wire are the same for every window. A
// packet counts as delivered once its acknowledgement has arrived: the connect waits for the log
// header's, and a disconnect (also the end of a backlog burst without keep-open) waits for all
// outstanding ones, at most "timeout" milliseconds in all. When the connection breaks, the
// packets still unacknowledged (at most the window) are handed back to the framework
// (protocol.h): with the backlog enabled they go into it in front, to be sent again after the
// reconnect (the viewer may then see up to a window of packets twice), without it they count as
// dropped.
//
// Errors (as ESiProtocolError through the framework): those of TSiTcpClient (tcp_client.h);
// "Socket connection has been unexpectedly closed" when the viewer closes during its banner
// line or before an acknowledgement is complete; the system's timeout text when the banner line
// has not ended within the timeout, or the outstanding acknowledgements have not come within it
// at a disconnect; "Viewer banner line longer than 4096 bytes".
//
// Thread safety and ownership: as every TSiProtocol (protocol.h); the protocol owns its
// formatter, client, stream and buffer, and a reference on each unacknowledged packet it keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "logging/format/binary_formatter.h"
#include "logging/io/buffered_stream.h"
#include "logging/protocols/protocol.h"
#include "logging/protocols/tcp_client.h"

namespace deruz::logging {

class TSiTcpProtocol final : public TSiProtocol {
  public:
    // The "window" option's default and its largest value (a larger one means this one).
    static constexpr std::int32_t kDefaultWindow = 64;
    static constexpr std::int32_t kMaxWindow = 1024;

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
    void InternalAwaitDelivery() override;
    void InternalTakeUnacknowledged(std::vector<TSiPacketPtr>& APackets) override;

  private:
    // A packet sent and not yet acknowledged: the packet itself while the backlog may need it
    // again, and whether it is the connection's log header, which is never sent again.
    struct TSiSentPacket {
        TSiPacketPtr Kept;
        bool LogHeader;
    };

    // Replaces the client by one for the current host and port.
    void InitializeTcpClient();
    // Takes acknowledgements until at most AMostLeft packets are unacknowledged; each receive
    // takes all that have arrived, never more than are owed. ADeadline bounds the whole wait.
    void AwaitAcknowledgements(std::size_t AMostLeft, TSiDeadline ADeadline);

    TSiBinaryFormatter FFormatter;
    std::string FHost = "127.0.0.1";
    std::uint16_t FPort = 4228;
    std::int32_t FTimeout = TSiTcpClient::kDefaultTimeout;
    std::int32_t FWindow = kDefaultWindow;
    // In the order sent; the front is the next to be acknowledged.
    std::deque<TSiSentPacket> FUnacknowledged;
    // The first byte of an acknowledgement has arrived without its second.
    bool FHalfAcknowledged = false;
    std::unique_ptr<TSiTcpClientStream> FStream;
    std::unique_ptr<TSiBufferedStream> FBuffer;
    std::unique_ptr<TSiTcpClient> FTcpClient;
};

}  // namespace deruz::logging
