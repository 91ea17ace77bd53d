// IPv4 stream sockets on Windows (Winsock 2).
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>

#include "logging/base/strings.h"
#include "logging/system/socket.h"
#include "logging/system/system_handles_win32.h"

namespace deruz::logging {

namespace {

SOCKET Native(TSiSocket ASocket) {
    return static_cast<SOCKET>(ASocket);
}

// send and recv count in int.
int Chunk(std::size_t ACount) {
    return static_cast<int>(std::min<std::size_t>(ACount, INT_MAX));
}

}  // namespace

int SiSocketStartup() noexcept {
    static const int LGResult = [] {
        WSADATA LData;
        return WSAStartup(MAKEWORD(2, 2), &LData);
    }();
    return LGResult;
}

int SiSocketLastError() noexcept {
    return WSAGetLastError();
}

std::string SiSocketErrorText(int AError) {
    return SiSystemErrorText(static_cast<std::uint32_t>(AError));
}

int SiSocketTimedOutError() noexcept {
    return WSAETIMEDOUT;
}

int SiSocketRefusedError() noexcept {
    return WSAECONNREFUSED;
}

bool SiSocketConnectPending(int AError) noexcept {
    return AError == WSAEWOULDBLOCK;
}

bool SiResolveIPv4(const std::string& AHost, std::uint32_t& AAddress, std::string& AError) {
    const unsigned long LDotted = inet_addr(AHost.c_str());
    if (LDotted != INADDR_NONE) {
        AAddress = LDotted;
        return true;
    }
    // Names are resolved as UTF-16, so a name outside the ANSI code page still resolves.
    const std::u16string LName = SiUtf8ToUtf16(AHost);
    ADDRINFOW LHints{};
    LHints.ai_family = AF_INET;
    LHints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* LResult = nullptr;
    const int LError =
        GetAddrInfoW(reinterpret_cast<const wchar_t*>(LName.c_str()), nullptr, &LHints, &LResult);
    if (LError != 0) {
        AError = SiSystemErrorText(static_cast<std::uint32_t>(LError));
        return false;
    }
    AAddress = reinterpret_cast<const sockaddr_in*>(LResult->ai_addr)->sin_addr.s_addr;
    FreeAddrInfoW(LResult);
    return true;
}

TSiSocket SiSocketCreate() noexcept {
    const SOCKET LSocket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (LSocket == INVALID_SOCKET) {
        return kSiInvalidSocket;
    }
    SetHandleInformation(reinterpret_cast<HANDLE>(LSocket), HANDLE_FLAG_INHERIT, 0);
    return static_cast<TSiSocket>(LSocket);
}

TSiSocket SiSocketCreateDatagram() noexcept {
    const SOCKET LSocket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (LSocket == INVALID_SOCKET) {
        return kSiInvalidSocket;
    }
    SetHandleInformation(reinterpret_cast<HANDLE>(LSocket), HANDLE_FLAG_INHERIT, 0);
    return static_cast<TSiSocket>(LSocket);
}

bool SiSocketConnectedToItself(TSiSocket ASocket) noexcept {
    sockaddr_in LLocal{};
    sockaddr_in LPeer{};
    int LLocalSize = sizeof LLocal;
    int LPeerSize = sizeof LPeer;
    if (getsockname(Native(ASocket), reinterpret_cast<sockaddr*>(&LLocal), &LLocalSize) != 0 ||
        getpeername(Native(ASocket), reinterpret_cast<sockaddr*>(&LPeer), &LPeerSize) != 0) {
        return false;
    }
    return LLocal.sin_port == LPeer.sin_port && LLocal.sin_addr.s_addr == LPeer.sin_addr.s_addr;
}

bool SiSocketPeerGone(TSiSocket ASocket) noexcept {
    // A zero wait: readable means closed, failed or (for these peers) talking out of turn.
    fd_set LRead;
    FD_ZERO(&LRead);
    FD_SET(Native(ASocket), &LRead);
    timeval LTime{};
    // A failing wait tells nothing: the next send reports a real fault.
    return select(0, &LRead, nullptr, nullptr, &LTime) > 0;
}

bool SiSocketSetNoDelay(TSiSocket ASocket) noexcept {
    const BOOL LOn = TRUE;
    return setsockopt(Native(ASocket), IPPROTO_TCP, TCP_NODELAY,
                      reinterpret_cast<const char*>(&LOn), sizeof LOn) == 0;
}

bool SiSocketSetTimeouts(TSiSocket ASocket, std::int32_t AMilliseconds) noexcept {
    const DWORD LValue = AMilliseconds > 0 ? static_cast<DWORD>(AMilliseconds) : 0;
    const char* LData = reinterpret_cast<const char*>(&LValue);
    return setsockopt(Native(ASocket), SOL_SOCKET, SO_RCVTIMEO, LData, sizeof LValue) == 0 &&
           setsockopt(Native(ASocket), SOL_SOCKET, SO_SNDTIMEO, LData, sizeof LValue) == 0;
}

bool SiSocketGetTimeouts(TSiSocket ASocket, std::int32_t& AReceive, std::int32_t& ASend) noexcept {
    DWORD LReceive = 0;
    DWORD LSend = 0;
    int LLength = sizeof LReceive;
    if (getsockopt(Native(ASocket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&LReceive),
                   &LLength) != 0) {
        return false;
    }
    LLength = sizeof LSend;
    if (getsockopt(Native(ASocket), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<char*>(&LSend),
                   &LLength) != 0) {
        return false;
    }
    AReceive = static_cast<std::int32_t>(LReceive);
    ASend = static_cast<std::int32_t>(LSend);
    return true;
}

bool SiSocketSetBlocking(TSiSocket ASocket, bool ABlocking) noexcept {
    u_long LNonBlocking = ABlocking ? 0 : 1;
    return ioctlsocket(Native(ASocket), FIONBIO, &LNonBlocking) == 0;
}

bool SiSocketConnect(TSiSocket ASocket, std::uint32_t AAddress, std::uint16_t APort) noexcept {
    sockaddr_in LAddress{};
    LAddress.sin_family = AF_INET;
    LAddress.sin_port = htons(APort);
    LAddress.sin_addr.s_addr = AAddress;
    return connect(Native(ASocket), reinterpret_cast<const sockaddr*>(&LAddress),
                   sizeof LAddress) == 0;
}

TSiConnectWait SiSocketWaitConnect(TSiSocket ASocket, std::int32_t AMilliseconds) noexcept {
    fd_set LRead;
    fd_set LWrite;
    fd_set LError;
    FD_ZERO(&LRead);
    FD_ZERO(&LWrite);
    FD_ZERO(&LError);
    FD_SET(Native(ASocket), &LRead);
    FD_SET(Native(ASocket), &LWrite);
    FD_SET(Native(ASocket), &LError);
    timeval LTime{};
    LTime.tv_sec = AMilliseconds / 1000;
    LTime.tv_usec = (AMilliseconds % 1000) * 1000;
    const int LResult = select(0, &LRead, &LWrite, &LError, AMilliseconds > 0 ? &LTime : nullptr);
    if (LResult == SOCKET_ERROR) {
        return TSiConnectWait::cwFailed;
    }
    if (LResult == 0) {
        return TSiConnectWait::cwTimedOut;
    }
    const bool LSignalled = FD_ISSET(Native(ASocket), &LRead) ||
                            FD_ISSET(Native(ASocket), &LWrite) ||
                            FD_ISSET(Native(ASocket), &LError);
    return LSignalled ? TSiConnectWait::cwReady : TSiConnectWait::cwNotReady;
}

bool SiSocketWaitReadable(TSiSocket ASocket, std::int32_t AMilliseconds) noexcept {
    fd_set LRead;
    fd_set LError;
    FD_ZERO(&LRead);
    FD_ZERO(&LError);
    FD_SET(Native(ASocket), &LRead);
    FD_SET(Native(ASocket), &LError);
    timeval LTime{};
    LTime.tv_sec = AMilliseconds / 1000;
    LTime.tv_usec = (AMilliseconds % 1000) * 1000;
    const int LResult = select(0, &LRead, nullptr, &LError, &LTime);
    if (LResult == 0) {
        WSASetLastError(SiSocketTimedOutError());
    }
    // Errors count as readable: the receive that follows reports them.
    return LResult > 0;
}

int SiSocketPendingError(TSiSocket ASocket) noexcept {
    int LError = 0;
    int LLength = sizeof LError;
    if (getsockopt(Native(ASocket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&LError),
                   &LLength) != 0) {
        return WSAGetLastError();
    }
    return LError;
}

std::ptrdiff_t SiSocketSend(TSiSocket ASocket, const void* ABuffer, std::size_t ACount) noexcept {
    const int LSent = send(Native(ASocket), static_cast<const char*>(ABuffer), Chunk(ACount), 0);
    return LSent == SOCKET_ERROR ? kSiSocketError : LSent;
}

std::ptrdiff_t SiSocketSendPair(TSiSocket ASocket, const void* AFirst, std::size_t AFirstCount,
                                const void* ASecond, std::size_t ASecondCount) noexcept {
    WSABUF LPieces[2] = {
        {static_cast<ULONG>(Chunk(AFirstCount)), static_cast<char*>(const_cast<void*>(AFirst))},
        {static_cast<ULONG>(Chunk(ASecondCount)), static_cast<char*>(const_cast<void*>(ASecond))}};
    DWORD LSent = 0;
    if (WSASend(Native(ASocket), LPieces, 2, &LSent, 0, nullptr, nullptr) == SOCKET_ERROR) {
        return kSiSocketError;
    }
    return static_cast<std::ptrdiff_t>(LSent);
}

std::ptrdiff_t SiSocketReceive(TSiSocket ASocket, void* ABuffer, std::size_t ACount) noexcept {
    const int LReceived = recv(Native(ASocket), static_cast<char*>(ABuffer), Chunk(ACount), 0);
    return LReceived == SOCKET_ERROR ? kSiSocketError : LReceived;
}

std::ptrdiff_t SiSocketPeek(TSiSocket ASocket, void* ABuffer, std::size_t ACount) noexcept {
    const int LReceived =
        recv(Native(ASocket), static_cast<char*>(ABuffer), Chunk(ACount), MSG_PEEK);
    return LReceived == SOCKET_ERROR ? kSiSocketError : LReceived;
}

void SiSocketClose(TSiSocket ASocket) noexcept {
    shutdown(Native(ASocket), SD_SEND);
    TSiSocketTraits::Close(Native(ASocket));
}

}  // namespace deruz::logging
