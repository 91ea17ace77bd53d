// A thin layer over the system's IPv4 stream sockets (Winsock 2 on Windows, BSD sockets
// elsewhere), just wide enough for TSiTcpClient: every decision about timeouts, retries and
// error texts is made above it, once for both systems.
//
// Functions that fail return false (or kSiSocketError) and leave the reason in
// SiSocketLastError(), as the system does. Sends never raise a signal when the peer has gone.
//
// Thread safety: the functions keep no state (SiSocketStartup is safe to call concurrently);
// one socket is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace deruz::logging {

using TSiSocket = std::intptr_t;
inline constexpr TSiSocket kSiInvalidSocket = -1;
inline constexpr std::ptrdiff_t kSiSocketError = -1;

// Starts the socket library once per process (Winsock 2.2); 0, or the system's error code of
// the start. The library stays started until the process ends.
int SiSocketStartup() noexcept;
// The error code of the last failing socket call on this thread.
int SiSocketLastError() noexcept;
// The system's text for a socket error code.
std::string SiSocketErrorText(int AError);
// The system's error code for a socket call that ran out of time (ETIMEDOUT, WSAETIMEDOUT).
int SiSocketTimedOutError() noexcept;
// The system's code for a connection refused (ECONNREFUSED, WSAECONNREFUSED).
int SiSocketRefusedError() noexcept;
// Whether AError means that a non-blocking connect is under way.
bool SiSocketConnectPending(int AError) noexcept;

// The IPv4 address (network byte order) of AHost: a dotted address as written, otherwise the
// first IPv4 address the name resolves to. On failure AError holds the system's text.
bool SiResolveIPv4(const std::string& AHost, std::uint32_t& AAddress, std::string& AError);

// A new IPv4 TCP socket (not inherited by child processes), or kSiInvalidSocket.
TSiSocket SiSocketCreate() noexcept;
// A new IPv4 UDP socket (not inherited by child processes), or kSiInvalidSocket. Connected
// with SiSocketConnect, it sends each SiSocketSend as one datagram to that peer.
TSiSocket SiSocketCreateDatagram() noexcept;
// Sends segments as soon as they are written (no coalescing delay).
bool SiSocketSetNoDelay(TSiSocket ASocket) noexcept;
// Applies AMilliseconds as receive and send timeout; 0 or less means no limit.
bool SiSocketSetTimeouts(TSiSocket ASocket, std::int32_t AMilliseconds) noexcept;
// Reads the receive and send timeouts back from the socket (0: no limit).
bool SiSocketGetTimeouts(TSiSocket ASocket, std::int32_t& AReceive, std::int32_t& ASend) noexcept;
bool SiSocketSetBlocking(TSiSocket ASocket, bool ABlocking) noexcept;
// Starts connecting to AAddress (network byte order) and APort (host byte order).
bool SiSocketConnect(TSiSocket ASocket, std::uint32_t AAddress, std::uint16_t APort) noexcept;

enum class TSiConnectWait : std::uint8_t {
    cwReady,     // the attempt has ended; its outcome is in SiSocketPendingError
    cwTimedOut,  // nothing happened within the time
    cwFailed,    // the wait itself failed (SiSocketLastError)
    cwNotReady,  // the wait returned without the socket in any of its sets
};
// Waits for a non-blocking connect to end, at most AMilliseconds (0 or less: no limit).
TSiConnectWait SiSocketWaitConnect(TSiSocket ASocket, std::int32_t AMilliseconds) noexcept;
// Waits until ASocket has bytes to read or its peer has closed, at most AMilliseconds (more
// than 0). False when the wait fails or the time passes; after a timeout SiSocketLastError
// holds the system's timeout error, the one a receive that ran into its timeout gives.
bool SiSocketWaitReadable(TSiSocket ASocket, std::int32_t AMilliseconds) noexcept;
// Whether the peer of a connected stream socket has closed it, or the connection failed,
// without waiting: a peer that sends nothing (as a syslog receiver) and has not closed gives
// false. Bytes the peer sent count as closed too, since the callers' peers never send any.
bool SiSocketPeerGone(TSiSocket ASocket) noexcept;
// Whether a connected socket is connected to itself: a connect to a port of this host where
// nothing listens may pick that very port as its own and open the connection with itself
// (TCP's simultaneous open), which also keeps the port from the server that comes back.
bool SiSocketConnectedToItself(TSiSocket ASocket) noexcept;
// The outcome of the connection attempt (SO_ERROR): 0 when connected, else the error code; the
// error of getsockopt itself when that fails.
int SiSocketPendingError(TSiSocket ASocket) noexcept;

// Sends or receives up to ACount bytes; the count transferred (0 from Receive: the peer closed
// the connection) or kSiSocketError. A timeout gives the system's timeout error.
std::ptrdiff_t SiSocketSend(TSiSocket ASocket, const void* ABuffer, std::size_t ACount) noexcept;
// Sends AFirst and then ASecond with one call; the count of both transferred.
std::ptrdiff_t SiSocketSendPair(TSiSocket ASocket, const void* AFirst, std::size_t AFirstCount,
                                const void* ASecond, std::size_t ASecondCount) noexcept;
std::ptrdiff_t SiSocketReceive(TSiSocket ASocket, void* ABuffer, std::size_t ACount) noexcept;
// As SiSocketReceive, but the bytes stay in the socket for the next receive.
std::ptrdiff_t SiSocketPeek(TSiSocket ASocket, void* ABuffer, std::size_t ACount) noexcept;

// Shuts down the sending direction and closes the socket.
void SiSocketClose(TSiSocket ASocket) noexcept;

}  // namespace deruz::logging
