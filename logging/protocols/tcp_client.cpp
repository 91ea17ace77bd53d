// The blocking TCP client of the "tcp" protocol: the connect timeout through a non-blocking
// connect and a wait, timeouts on every socket, and the error texts.
#include "logging/protocols/tcp_client.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <utility>

#include "logging/base/errors.h"

namespace deruz::logging {

TSiTcpClient::TSiTcpClient(std::string AHost, std::uint16_t APort)
    : FHost(std::move(AHost)), FPort(APort) {}

TSiTcpClient::~TSiTcpClient() {
    Disconnect();
}

void TSiTcpClient::Connect(std::int32_t ATimeout) {
    if (FConnected) {
        throw ESiError("Connection already established");
    }
    if (const int LError = SiSocketStartup(); LError != 0) {
        throw ESiError(SiSocketErrorText(LError));
    }
    const std::uint32_t LAddress = BuildSocketAddress();
    BuildSocket();
    InternalConnect(LAddress, ATimeout);
    if (SiSocketConnectedToItself(FSocket)) {
        // Nothing listens there: a refusal, and the port is let go at once for the server.
        Reset();
        throw ESiError(SiSocketErrorText(SiSocketRefusedError()));
    }
    FConnected = true;
}

std::uint32_t TSiTcpClient::BuildSocketAddress() {
    std::uint32_t LAddress = 0;
    std::string LError;
    if (!SiResolveIPv4(FHost, LAddress, LError)) {
        throw ESiError(LError);
    }
    return LAddress;
}

void TSiTcpClient::BuildSocket() {
    FSocket = SiSocketCreate();
    if (FSocket == kSiInvalidSocket) {
        RaiseLastSocketError();
    }
    // Each packet is one request waiting for its acknowledgement: coalescing small segments
    // would only delay the last piece of a packet until the previous one is acknowledged.
    SiSocketSetNoDelay(FSocket);
    // Every new socket starts from the default, whatever an earlier socket was given, and is
    // remembered as such, so that SetTimeout applies the protocol's own value again.
    if (!SiSocketSetTimeouts(FSocket, kDefaultTimeout)) {
        RaiseLastSocketError();
    }
    FTimeout = kDefaultTimeout;
}

void TSiTcpClient::ChangeBlockingMode(bool ABlocking) {
    if (!SiSocketSetBlocking(FSocket, ABlocking)) {
        RaiseLastSocketError();
    }
}

void TSiTcpClient::InternalConnect(std::uint32_t AAddress, std::int32_t ATimeout) {
    ChangeBlockingMode(false);
    if (!SiSocketConnect(FSocket, AAddress, FPort)) {
        if (!SiSocketConnectPending(SiSocketLastError())) {
            RaiseLastSocketError();
        }
        WaitForConnect(ATimeout);
    }
    ChangeBlockingMode(true);
}

void TSiTcpClient::WaitForConnect(std::int32_t ATimeout) {
    switch (SiSocketWaitConnect(FSocket, ATimeout)) {
        case TSiConnectWait::cwTimedOut:
            Reset();
            throw ESiError("Timed out while trying to connect");
        case TSiConnectWait::cwFailed:
        case TSiConnectWait::cwNotReady:
            RaiseLastSocketError();
        case TSiConnectWait::cwReady:
            break;
    }
    if (const int LError = SiSocketPendingError(FSocket); LError != 0) {
        Reset();
        throw ESiError(SiSocketErrorText(LError));
    }
}

void TSiTcpClient::Reset() noexcept {
    FConnected = false;
    if (FSocket != kSiInvalidSocket) {
        SiSocketClose(FSocket);
        FSocket = kSiInvalidSocket;
    }
}

void TSiTcpClient::Disconnect() noexcept {
    Reset();
}

void TSiTcpClient::RaiseLastSocketError() {
    const int LError = SiSocketLastError();
    Reset();
    throw ESiError(SiSocketErrorText(LError));
}

void TSiTcpClient::RequireConnection() const {
    if (!FConnected) {
        throw ESiError("No socket connection established");
    }
}

std::size_t TSiTcpClient::Send(const void* ABuffer, std::size_t ACount) {
    RequireConnection();
    const auto* LData = static_cast<const std::uint8_t*>(ABuffer);
    std::size_t LSent = 0;
    while (LSent < ACount) {
        const std::ptrdiff_t LResult = SiSocketSend(FSocket, LData + LSent, ACount - LSent);
        if (LResult == kSiSocketError) {
            RaiseLastSocketError();
        }
        if (LResult == 0) {
            break;
        }
        LSent += static_cast<std::size_t>(LResult);
    }
    return LSent;
}

std::size_t TSiTcpClient::SendPair(const void* AFirst, std::size_t AFirstCount, const void* ASecond,
                                   std::size_t ASecondCount) {
    RequireConnection();
    const std::ptrdiff_t LResult =
        SiSocketSendPair(FSocket, AFirst, AFirstCount, ASecond, ASecondCount);
    if (LResult == kSiSocketError) {
        RaiseLastSocketError();
    }
    // The rest of whichever piece the system did not take completely.
    auto LSent = static_cast<std::size_t>(LResult);
    if (LSent < AFirstCount) {
        LSent += Send(static_cast<const std::uint8_t*>(AFirst) + LSent, AFirstCount - LSent);
        if (LSent < AFirstCount) {
            return LSent;
        }
    }
    const std::size_t LSecondSent = LSent - AFirstCount;
    return LSent + Send(static_cast<const std::uint8_t*>(ASecond) + LSecondSent,
                        ASecondCount - LSecondSent);
}

std::size_t TSiTcpClient::Receive(void* ABuffer, std::size_t ACount) {
    RequireConnection();
    auto* LData = static_cast<std::uint8_t*>(ABuffer);
    std::size_t LReceived = 0;
    while (LReceived < ACount) {
        const std::ptrdiff_t LResult =
            SiSocketReceive(FSocket, LData + LReceived, ACount - LReceived);
        if (LResult == kSiSocketError) {
            RaiseLastSocketError();
        }
        if (LResult == 0) {
            break;
        }
        LReceived += static_cast<std::size_t>(LResult);
    }
    return LReceived;
}

std::size_t TSiTcpClient::ReceiveSome(void* ABuffer, std::size_t ACount, TSiDeadline ADeadline) {
    RequireConnection();
    WaitReadable(ADeadline);
    const std::ptrdiff_t LResult = SiSocketReceive(FSocket, ABuffer, ACount);
    if (LResult == kSiSocketError) {
        RaiseLastSocketError();
    }
    return static_cast<std::size_t>(LResult);
}

void TSiTcpClient::WaitReadable(TSiDeadline ADeadline) {
    if (ADeadline == TSiDeadline::max()) {
        return;
    }
    const auto LLeft = std::chrono::duration_cast<std::chrono::milliseconds>(
                           ADeadline - std::chrono::steady_clock::now())
                           .count();
    if (LLeft <= 0) {
        Reset();
        throw ESiError(SiSocketErrorText(SiSocketTimedOutError()));
    }
    const auto LWait = static_cast<std::int32_t>(
        std::min<std::int64_t>(LLeft, std::numeric_limits<std::int32_t>::max()));
    if (!SiSocketWaitReadable(FSocket, LWait)) {
        RaiseLastSocketError();
    }
}

void TSiTcpClient::SendLn(const std::string& ALine) {
    std::string LLine = ALine;
    LLine += '\n';
    Send(LLine.data(), LLine.size());
}

std::string TSiTcpClient::ReceiveLn(TSiDeadline ADeadline) {
    RequireConnection();
    std::string LLine;
    // Bytes before the LF, a CR among them, as the viewer counts its own limit.
    std::size_t LLength = 0;
    char LChunk[kMaxLineLength + 1];
    for (;;) {
        // A peer that sends a byte now and then would renew the socket's receive timeout with
        // each one; the deadline bounds the line as a whole.
        WaitReadable(ADeadline);
        // Whatever has arrived, at most one byte beyond the limit, is looked at without taking
        // it; then exactly the bytes up to the LF are taken, so that nothing after the line is
        // consumed.
        const std::ptrdiff_t LPeeked = SiSocketPeek(FSocket, LChunk, kMaxLineLength + 1 - LLength);
        if (LPeeked == kSiSocketError) {
            RaiseLastSocketError();
        }
        if (LPeeked == 0) {
            throw ESiError("Socket connection has been unexpectedly closed");
        }
        const auto LCount = static_cast<std::size_t>(LPeeked);
        const char* const LEnd = std::find(LChunk, LChunk + LCount, '\n');
        const bool LComplete = LEnd != LChunk + LCount;
        const auto LTaken = static_cast<std::size_t>(LEnd - LChunk) + (LComplete ? 1 : 0);
        if (Receive(LChunk, LTaken) != LTaken) {
            throw ESiError("Socket connection has been unexpectedly closed");
        }
        LLength += static_cast<std::size_t>(LEnd - LChunk);
        if (LLength > kMaxLineLength) {
            Reset();
            throw ESiError("Viewer banner line longer than " + std::to_string(kMaxLineLength) +
                           " bytes");
        }
        std::copy_if(static_cast<const char*>(LChunk), LEnd, std::back_inserter(LLine),
                     [](char AChar) { return AChar != '\r'; });
        if (LComplete) {
            return LLine;
        }
    }
}

void TSiTcpClient::SetTimeout(std::int32_t AValue) {
    if (FSocket == kSiInvalidSocket) {
        throw ESiError("Invalid socket handle");
    }
    if (AValue == FTimeout) {
        return;
    }
    if (!SiSocketSetTimeouts(FSocket, AValue)) {
        RaiseLastSocketError();
    }
    FTimeout = AValue;
}

bool TSiTcpClient::AppliedTimeouts(std::int32_t& AReceive, std::int32_t& ASend) const noexcept {
    return FSocket != kSiInvalidSocket && SiSocketGetTimeouts(FSocket, AReceive, ASend);
}

}  // namespace deruz::logging
