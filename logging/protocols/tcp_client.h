// TSiTcpClient: a small blocking IPv4 TCP client with a connect timeout and send and receive
// timeouts, and TSiTcpClientStream, which presents it as a stream. Used by the "tcp" protocol.
//
// Errors are ESiError with the system's text for the failing socket call, or one of
// "Connection already established", "Timed out while trying to connect", "No socket connection
// established", "Invalid socket handle", "Socket connection has been unexpectedly closed",
// "Viewer banner line longer than 4096 bytes".
//
// Thread safety: none; the owner serialises access. Ownership: the client owns its socket;
// the stream does not own the client.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "logging/base/stream.h"
#include "logging/io/buffered_stream.h"
#include "logging/system/socket.h"

namespace deruz::logging {

// A point in time by which a whole exchange must have ended; TSiDeadline::max() for none.
using TSiDeadline = std::chrono::steady_clock::time_point;

class TSiTcpClient {
  public:
    // The send and receive timeout that every new socket starts with.
    static constexpr std::int32_t kDefaultTimeout = 30000;
    // The longest line ReceiveLn accepts before its LF, in bytes (the viewer's banner line;
    // viewers cap the client's banner line the same way).
    static constexpr std::size_t kMaxLineLength = 4096;

    // AHost is a dotted IPv4 address or a host name (UTF-8).
    TSiTcpClient(std::string AHost, std::uint16_t APort);
    ~TSiTcpClient();
    TSiTcpClient(const TSiTcpClient&) = delete;
    TSiTcpClient& operator=(const TSiTcpClient&) = delete;

    // Connects a new socket, waiting at most ATimeout milliseconds (0 or less: no limit). The
    // new socket gets send and receive timeouts of kDefaultTimeout. On failure the socket is
    // closed again.
    void Connect(std::int32_t ATimeout);
    // Closes the connection, if any.
    void Disconnect() noexcept;

    // Sends all ACount bytes; returns ACount.
    std::size_t Send(const void* ABuffer, std::size_t ACount);
    // Sends all of AFirst and then all of ASecond, gathered into one call where they fit;
    // returns the count of both.
    std::size_t SendPair(const void* AFirst, std::size_t AFirstCount, const void* ASecond,
                         std::size_t ASecondCount);
    // Receives until ACount bytes have arrived or the peer closes the connection; returns the
    // count received.
    std::size_t Receive(void* ABuffer, std::size_t ACount);
    // Receives what has arrived, at least one byte and at most ACount, with one receive from the
    // system; 0 when the peer has closed the connection. Once ADeadline has passed, the system's
    // timeout error is raised and the connection closed.
    std::size_t ReceiveSome(void* ABuffer, std::size_t ACount,
                            TSiDeadline ADeadline = TSiDeadline::max());
    // Sends ALine and LF.
    void SendLn(const std::string& ALine);
    // Receives a line up to its LF; CR and LF are left out. A line that grows beyond
    // kMaxLineLength bytes raises "Viewer banner line longer than 4096 bytes"; once ADeadline
    // has passed, the system's timeout error is raised, however steadily the bytes arrive. Both
    // close the connection.
    std::string ReceiveLn(TSiDeadline ADeadline = TSiDeadline::max());

    // The send and receive timeout last applied to the current socket.
    std::int32_t Timeout() const noexcept { return FTimeout; }
    // Applies AValue (ms) as send and receive timeout of the current socket, unless that socket
    // already has it.
    void SetTimeout(std::int32_t AValue);
    // The receive and send timeouts the current socket really holds; false without a socket.
    bool AppliedTimeouts(std::int32_t& AReceive, std::int32_t& ASend) const noexcept;

    bool Connected() const noexcept { return FConnected; }
    // Whether the peer has closed the connection (or it failed), found without waiting; for
    // peers that never send, such as syslog receivers. False when not connected.
    bool PeerGone() const noexcept { return FConnected && SiSocketPeerGone(FSocket); }
    // The connected socket, for a layer on top of the connection (TLS); kSiInvalidSocket when
    // not connected. The client keeps owning it.
    TSiSocket Socket() const noexcept { return FSocket; }
    const std::string& Host() const noexcept { return FHost; }
    std::uint16_t Port() const noexcept { return FPort; }

  private:
    void BuildSocket();
    std::uint32_t BuildSocketAddress();
    void ChangeBlockingMode(bool ABlocking);
    void InternalConnect(std::uint32_t AAddress, std::int32_t ATimeout);
    void WaitForConnect(std::int32_t ATimeout);
    void Reset() noexcept;
    // Waits until bytes can be read or ADeadline passes (then raises the system's timeout
    // error); returns at once for TSiDeadline::max().
    void WaitReadable(TSiDeadline ADeadline);
    // Closes the socket and raises the system's text for the last socket error.
    [[noreturn]] void RaiseLastSocketError();
    void RequireConnection() const;

    bool FConnected = false;
    TSiSocket FSocket = kSiInvalidSocket;
    std::int32_t FTimeout = kDefaultTimeout;
    std::string FHost;
    std::uint16_t FPort;
};

// Reads and writes through a connected TSiTcpClient; seeking is not supported.
class TSiTcpClientStream final : public TSiStream, public TSiGatherStream {
  public:
    explicit TSiTcpClientStream(TSiTcpClient& AClient) : FTcpClient(AClient) {}

    std::size_t Read(void* ABuffer, std::size_t ACount) override {
        return FTcpClient.Receive(ABuffer, ACount);
    }
    std::size_t Write(const void* ABuffer, std::size_t ACount) override {
        return FTcpClient.Send(ABuffer, ACount);
    }
    std::size_t WritePair(const void* AFirst, std::size_t AFirstCount, const void* ASecond,
                          std::size_t ASecondCount) override {
        return FTcpClient.SendPair(AFirst, AFirstCount, ASecond, ASecondCount);
    }
    std::string ReadLn(TSiDeadline ADeadline = TSiDeadline::max()) {
        return FTcpClient.ReceiveLn(ADeadline);
    }
    void WriteLn(const std::string& ALine) { FTcpClient.SendLn(ALine); }

  private:
    TSiTcpClient& FTcpClient;
};

}  // namespace deruz::logging
