// IPv4 stream sockets on POSIX systems.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "logging/base/strings.h"
#include "logging/base/unique_handle_posix.h"
#include "logging/system/gather_write_posix.h"
#include "logging/system/socket.h"

namespace deruz::logging {

namespace {

int Native(TSiSocket ASocket) {
    return static_cast<int>(ASocket);
}

// A blocking call that ran into the socket's timeout reports EAGAIN; the system's timeout
// error says what happened.
std::ptrdiff_t FailTransfer() noexcept {
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        errno = ETIMEDOUT;
    }
    return kSiSocketError;
}

std::int64_t NowMilliseconds() noexcept {
    timespec LNow{};
    ::clock_gettime(CLOCK_MONOTONIC, &LNow);
    return static_cast<std::int64_t>(LNow.tv_sec) * 1000 + LNow.tv_nsec / 1'000'000;
}

}  // namespace

int SiSocketStartup() noexcept {
    return 0;
}

int SiSocketLastError() noexcept {
    return errno;
}

std::string SiSocketErrorText(int AError) {
    return SiSystemErrorText(static_cast<std::uint32_t>(AError));
}

int SiSocketTimedOutError() noexcept {
    return ETIMEDOUT;
}

int SiSocketRefusedError() noexcept {
    return ECONNREFUSED;
}

bool SiSocketConnectPending(int AError) noexcept {
    return AError == EINPROGRESS || AError == EWOULDBLOCK || AError == EAGAIN;
}

bool SiResolveIPv4(const std::string& AHost, std::uint32_t& AAddress, std::string& AError) {
    in_addr LDotted{};
    if (::inet_aton(AHost.c_str(), &LDotted) != 0) {
        AAddress = LDotted.s_addr;
        return true;
    }
    addrinfo LHints{};
    LHints.ai_family = AF_INET;
    LHints.ai_socktype = SOCK_STREAM;
    addrinfo* LResult = nullptr;
    const int LError = ::getaddrinfo(AHost.c_str(), nullptr, &LHints, &LResult);
    if (LError != 0) {
        AError = LError == EAI_SYSTEM ? SiSystemErrorText(static_cast<std::uint32_t>(errno))
                                      : std::string(::gai_strerror(LError));
        return false;
    }
    AAddress = reinterpret_cast<const sockaddr_in*>(LResult->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(LResult);
    return true;
}

TSiSocket SiSocketCreate() noexcept {
    const int LSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    return LSocket < 0 ? kSiInvalidSocket : LSocket;
}

TSiSocket SiSocketCreateDatagram() noexcept {
    const int LSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    return LSocket < 0 ? kSiInvalidSocket : LSocket;
}

bool SiSocketConnectedToItself(TSiSocket ASocket) noexcept {
    sockaddr_in LLocal{};
    sockaddr_in LPeer{};
    socklen_t LLocalSize = sizeof LLocal;
    socklen_t LPeerSize = sizeof LPeer;
    if (::getsockname(Native(ASocket), reinterpret_cast<sockaddr*>(&LLocal), &LLocalSize) != 0 ||
        ::getpeername(Native(ASocket), reinterpret_cast<sockaddr*>(&LPeer), &LPeerSize) != 0) {
        return false;
    }
    return LLocal.sin_port == LPeer.sin_port && LLocal.sin_addr.s_addr == LPeer.sin_addr.s_addr;
}

bool SiSocketPeerGone(TSiSocket ASocket) noexcept {
    char LByte = 0;
    const ssize_t LResult = ::recv(Native(ASocket), &LByte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (LResult < 0) {
        return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
    }
    return true;
}

bool SiSocketSetNoDelay(TSiSocket ASocket) noexcept {
    const int LOn = 1;
    return ::setsockopt(Native(ASocket), IPPROTO_TCP, TCP_NODELAY, &LOn, sizeof LOn) == 0;
}

bool SiSocketSetTimeouts(TSiSocket ASocket, std::int32_t AMilliseconds) noexcept {
    timeval LTime{};
    if (AMilliseconds > 0) {
        LTime.tv_sec = AMilliseconds / 1000;
        LTime.tv_usec = (AMilliseconds % 1000) * 1000;
    }
    return ::setsockopt(Native(ASocket), SOL_SOCKET, SO_RCVTIMEO, &LTime, sizeof LTime) == 0 &&
           ::setsockopt(Native(ASocket), SOL_SOCKET, SO_SNDTIMEO, &LTime, sizeof LTime) == 0;
}

bool SiSocketGetTimeouts(TSiSocket ASocket, std::int32_t& AReceive, std::int32_t& ASend) noexcept {
    timeval LReceive{};
    timeval LSend{};
    socklen_t LLength = sizeof LReceive;
    if (::getsockopt(Native(ASocket), SOL_SOCKET, SO_RCVTIMEO, &LReceive, &LLength) != 0) {
        return false;
    }
    LLength = sizeof LSend;
    if (::getsockopt(Native(ASocket), SOL_SOCKET, SO_SNDTIMEO, &LSend, &LLength) != 0) {
        return false;
    }
    AReceive = static_cast<std::int32_t>(LReceive.tv_sec * 1000 + LReceive.tv_usec / 1000);
    ASend = static_cast<std::int32_t>(LSend.tv_sec * 1000 + LSend.tv_usec / 1000);
    return true;
}

bool SiSocketSetBlocking(TSiSocket ASocket, bool ABlocking) noexcept {
    const int LFlags = ::fcntl(Native(ASocket), F_GETFL);
    if (LFlags < 0) {
        return false;
    }
    const int LNew = ABlocking ? (LFlags & ~O_NONBLOCK) : (LFlags | O_NONBLOCK);
    return ::fcntl(Native(ASocket), F_SETFL, LNew) == 0;
}

bool SiSocketConnect(TSiSocket ASocket, std::uint32_t AAddress, std::uint16_t APort) noexcept {
    sockaddr_in LAddress{};
    LAddress.sin_family = AF_INET;
    LAddress.sin_port = htons(APort);
    LAddress.sin_addr.s_addr = AAddress;
    return ::connect(Native(ASocket), reinterpret_cast<const sockaddr*>(&LAddress),
                     sizeof LAddress) == 0;
}

TSiConnectWait SiSocketWaitConnect(TSiSocket ASocket, std::int32_t AMilliseconds) noexcept {
    const std::int64_t LDeadline = NowMilliseconds() + AMilliseconds;
    for (;;) {
        pollfd LPoll{Native(ASocket), POLLIN | POLLOUT, 0};
        int LWait = -1;
        if (AMilliseconds > 0) {
            LWait = static_cast<int>(std::max<std::int64_t>(0, LDeadline - NowMilliseconds()));
        }
        const int LResult = ::poll(&LPoll, 1, LWait);
        if (LResult < 0 && errno == EINTR) {
            continue;
        }
        if (LResult < 0) {
            return TSiConnectWait::cwFailed;
        }
        if (LResult == 0) {
            return TSiConnectWait::cwTimedOut;
        }
        return LPoll.revents != 0 ? TSiConnectWait::cwReady : TSiConnectWait::cwNotReady;
    }
}

bool SiSocketWaitReadable(TSiSocket ASocket, std::int32_t AMilliseconds) noexcept {
    const std::int64_t LDeadline = NowMilliseconds() + AMilliseconds;
    for (;;) {
        pollfd LPoll{Native(ASocket), POLLIN, 0};
        const auto LWait =
            static_cast<int>(std::max<std::int64_t>(0, LDeadline - NowMilliseconds()));
        const int LResult = ::poll(&LPoll, 1, LWait);
        if (LResult < 0 && errno == EINTR) {
            continue;
        }
        if (LResult == 0) {
            errno = SiSocketTimedOutError();
        }
        // Hang-up and errors count as readable: the receive that follows reports them.
        return LResult > 0;
    }
}

int SiSocketPendingError(TSiSocket ASocket) noexcept {
    int LError = 0;
    socklen_t LLength = sizeof LError;
    if (::getsockopt(Native(ASocket), SOL_SOCKET, SO_ERROR, &LError, &LLength) != 0) {
        return errno;
    }
    return LError;
}

std::ptrdiff_t SiSocketSend(TSiSocket ASocket, const void* ABuffer, std::size_t ACount) noexcept {
    for (;;) {
        const ssize_t LSent = ::send(Native(ASocket), ABuffer, ACount, MSG_NOSIGNAL);
        if (LSent >= 0) {
            return LSent;
        }
        if (errno != EINTR) {
            return FailTransfer();
        }
    }
}

std::ptrdiff_t SiSocketSendPair(TSiSocket ASocket, const void* AFirst, std::size_t AFirstCount,
                                const void* ASecond, std::size_t ASecondCount) noexcept {
    const std::ptrdiff_t LSent =
        posix::SiGatherSend(Native(ASocket), AFirst, AFirstCount, ASecond, ASecondCount);
    return LSent >= 0 ? LSent : FailTransfer();
}

namespace {

std::ptrdiff_t ReceiveWith(TSiSocket ASocket, void* ABuffer, std::size_t ACount,
                           int AFlags) noexcept {
    for (;;) {
        const ssize_t LReceived = ::recv(Native(ASocket), ABuffer, ACount, AFlags);
        if (LReceived >= 0) {
            return LReceived;
        }
        if (errno != EINTR) {
            return FailTransfer();
        }
    }
}

}  // namespace

std::ptrdiff_t SiSocketReceive(TSiSocket ASocket, void* ABuffer, std::size_t ACount) noexcept {
    return ReceiveWith(ASocket, ABuffer, ACount, 0);
}

std::ptrdiff_t SiSocketPeek(TSiSocket ASocket, void* ABuffer, std::size_t ACount) noexcept {
    return ReceiveWith(ASocket, ABuffer, ACount, MSG_PEEK);
}

void SiSocketClose(TSiSocket ASocket) noexcept {
    ::shutdown(Native(ASocket), SHUT_WR);
    TSiFdTraits::Close(Native(ASocket));
}

}  // namespace deruz::logging
