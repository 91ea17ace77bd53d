// The viewer's listeners on Windows: a named pipe server with overlapped I/O, so that a stop
// event ends every wait, and a Winsock listener whose waits look at the stop flag every 50 ms.
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <utility>

#include "logging/base/errors.h"
#include "logging/base/strings.h"
#include "logging/system/socket.h"
#include "logging/system/system_handles_win32.h"
#include "logging/viewer/viewer_transport.h"

namespace deruz::logging {

namespace {

// ReadFile and WriteFile count in 32 bits, send and recv in int.
constexpr std::size_t kMaxChunk = 1u << 30;

std::string ErrorText(DWORD AError) {
    return SiSystemErrorText(AError);
}

HANDLE NewEvent(BOOL AManualReset) {
    const HANDLE LEvent = CreateEventW(nullptr, AManualReset, FALSE, nullptr);
    if (LEvent == nullptr) {
        throw ESiError(ErrorText(GetLastError()));
    }
    return LEvent;
}

enum class TIoResult { irDone, irFailed, irStopped };

// Completes an overlapped operation on APipe that was just started (AStarted: what the call
// returned), waiting for it or for AStop. ATransferred and AError receive the outcome.
TIoResult FinishIo(HANDLE APipe, OVERLAPPED& AOverlapped, BOOL AStarted, HANDLE AStop,
                   DWORD& ATransferred, DWORD& AError) {
    ATransferred = 0;
    if (!AStarted) {
        AError = GetLastError();
        if (AError != ERROR_IO_PENDING) {
            return TIoResult::irFailed;
        }
        const HANDLE LWaits[2] = {AOverlapped.hEvent, AStop};
        if (WaitForMultipleObjects(2, LWaits, FALSE, INFINITE) != WAIT_OBJECT_0) {
            CancelIo(APipe);
            GetOverlappedResult(APipe, &AOverlapped, &ATransferred, TRUE);
            return TIoResult::irStopped;
        }
    }
    if (!GetOverlappedResult(APipe, &AOverlapped, &ATransferred, FALSE)) {
        AError = GetLastError();
        return TIoResult::irFailed;
    }
    return TIoResult::irDone;
}

class TPipeChannel final : public TSiViewerChannel {
  public:
    TPipeChannel(TSiUniqueHFile APipe, HANDLE AStop)
        : FPipe(std::move(APipe)), FStop(AStop), FEvent(NewEvent(TRUE)) {}

    std::size_t Read(void* ABuffer, std::size_t ACount) override {
        for (;;) {
            OVERLAPPED LOverlapped{};
            LOverlapped.hEvent = FEvent.Get();
            const BOOL LStarted =
                ReadFile(FPipe.Get(), ABuffer, static_cast<DWORD>(std::min(ACount, kMaxChunk)),
                         nullptr, &LOverlapped);
            DWORD LRead = 0;
            DWORD LError = 0;
            switch (FinishIo(FPipe.Get(), LOverlapped, LStarted, FStop, LRead, LError)) {
                case TIoResult::irStopped:
                    return 0;
                case TIoResult::irFailed:
                    if (LError == ERROR_BROKEN_PIPE || LError == ERROR_PIPE_NOT_CONNECTED) {
                        return 0;
                    }
                    throw ESiError(ErrorText(LError));
                case TIoResult::irDone:
                    // A client's empty write completes an empty read; wait for real data.
                    if (LRead > 0 || ACount == 0) {
                        return LRead;
                    }
                    break;
            }
        }
    }

    void Write(const void* ABuffer, std::size_t ACount) override {
        const auto* LData = static_cast<const std::uint8_t*>(ABuffer);
        while (ACount > 0) {
            OVERLAPPED LOverlapped{};
            LOverlapped.hEvent = FEvent.Get();
            const BOOL LStarted =
                WriteFile(FPipe.Get(), LData, static_cast<DWORD>(std::min(ACount, kMaxChunk)),
                          nullptr, &LOverlapped);
            DWORD LWritten = 0;
            DWORD LError = 0;
            switch (FinishIo(FPipe.Get(), LOverlapped, LStarted, FStop, LWritten, LError)) {
                case TIoResult::irStopped:
                    throw ESiError("The viewer was stopped");
                case TIoResult::irFailed:
                    throw ESiError(ErrorText(LError));
                case TIoResult::irDone:
                    LData += LWritten;
                    ACount -= LWritten;
                    break;
            }
        }
    }

  private:
    TSiUniqueHFile FPipe;
    HANDLE FStop;
    TSiUniqueHandle FEvent;
};

class TPipeListener final : public TSiViewerListener {
  public:
    TPipeListener(std::wstring APath, const std::string& AName)
        : FPath(std::move(APath)), FStop(NewEvent(TRUE)), FConnectEvent(NewEvent(TRUE)) {
        const auto LFail = [&](DWORD AError) {
            throw ESiError("Cannot listen on pipe \"" + AName + "\": " + ErrorText(AError));
        };
        // The first-instance flag refuses a name that another viewer serves; not every system
        // honours it, so look for such a viewer first as well.
        if (WaitNamedPipeW(FPath.c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND) {
            LFail(ERROR_ACCESS_DENIED);
        }
        const HANDLE LFirst = CreateInstance(true);
        if (LFirst == INVALID_HANDLE_VALUE) {
            LFail(GetLastError());
        }
        FNext.Reset(LFirst);
    }

    std::unique_ptr<TSiViewerChannel> Accept() override {
        for (;;) {
            if (WaitForSingleObject(FStop.Get(), 0) == WAIT_OBJECT_0) {
                return nullptr;
            }
            if (!FNext) {
                const HANDLE LInstance = CreateInstance(false);
                if (LInstance == INVALID_HANDLE_VALUE) {
                    throw ESiError(ErrorText(GetLastError()));
                }
                FNext.Reset(LInstance);
            }
            OVERLAPPED LOverlapped{};
            LOverlapped.hEvent = FConnectEvent.Get();
            const BOOL LStarted = ConnectNamedPipe(FNext.Get(), &LOverlapped);
            DWORD LTransferred = 0;
            DWORD LError = 0;
            TIoResult LResult = TIoResult::irDone;
            if (!LStarted && GetLastError() == ERROR_PIPE_CONNECTED) {
                LResult = TIoResult::irDone;
            } else {
                LResult =
                    FinishIo(FNext.Get(), LOverlapped, LStarted, FStop.Get(), LTransferred, LError);
            }
            if (LResult == TIoResult::irStopped) {
                return nullptr;
            }
            if (LResult == TIoResult::irFailed) {
                if (LError == ERROR_NO_DATA) {
                    // The client came and went before it was accepted.
                    DisconnectNamedPipe(FNext.Get());
                    continue;
                }
                throw ESiError(ErrorText(LError));
            }
            auto LChannel = std::make_unique<TPipeChannel>(std::move(FNext), FStop.Get());
            // The next instance exists at once, so that a client arriving while this one is
            // served waits its turn instead of finding no pipe at all.
            const HANDLE LNext = CreateInstance(false);
            if (LNext != INVALID_HANDLE_VALUE) {
                FNext.Reset(LNext);
            }
            return LChannel;
        }
    }

    void Stop() noexcept override { SetEvent(FStop.Get()); }

  private:
    HANDLE CreateInstance(bool AFirst) {
        return CreateNamedPipeW(FPath.c_str(),
                                PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                                    (AFirst ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                                PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                                PIPE_UNLIMITED_INSTANCES, 65536, 65536, 0, nullptr);
    }

    std::wstring FPath;
    TSiUniqueHandle FStop;
    TSiUniqueHandle FConnectEvent;
    TSiUniqueHFile FNext;
};

// Waits until ASocket is readable; false once AStopped is set.
bool WaitReadable(SOCKET ASocket, const std::atomic<bool>& AStopped) {
    for (;;) {
        if (AStopped.load()) {
            return false;
        }
        fd_set LRead;
        FD_ZERO(&LRead);
        FD_SET(ASocket, &LRead);
        timeval LTick{0, 50'000};
        const int LResult = select(0, &LRead, nullptr, nullptr, &LTick);
        if (LResult == SOCKET_ERROR) {
            throw ESiError(ErrorText(WSAGetLastError()));
        }
        if (LResult > 0) {
            return true;
        }
    }
}

class TTcpChannel final : public TSiViewerChannel {
  public:
    TTcpChannel(TSiUniqueSocket ASocket, const std::atomic<bool>& AStopped)
        : FSocket(std::move(ASocket)), FStopped(AStopped) {}

    std::size_t Read(void* ABuffer, std::size_t ACount) override {
        if (!WaitReadable(FSocket.Get(), FStopped)) {
            return 0;
        }
        const int LRead = recv(FSocket.Get(), static_cast<char*>(ABuffer),
                               static_cast<int>(std::min<std::size_t>(ACount, INT_MAX)), 0);
        if (LRead == SOCKET_ERROR) {
            throw ESiError(ErrorText(WSAGetLastError()));
        }
        return static_cast<std::size_t>(LRead);
    }

    void Write(const void* ABuffer, std::size_t ACount) override {
        const auto* LData = static_cast<const char*>(ABuffer);
        while (ACount > 0) {
            if (FStopped.load()) {
                throw ESiError("The viewer was stopped");
            }
            const int LSent = send(FSocket.Get(), LData,
                                   static_cast<int>(std::min<std::size_t>(ACount, INT_MAX)), 0);
            if (LSent == SOCKET_ERROR) {
                throw ESiError(ErrorText(WSAGetLastError()));
            }
            LData += LSent;
            ACount -= static_cast<std::size_t>(LSent);
        }
    }

  private:
    TSiUniqueSocket FSocket;
    const std::atomic<bool>& FStopped;
};

class TTcpListener final : public TSiViewerListener {
  public:
    TTcpListener(TSiUniqueSocket ASocket, std::uint16_t APort)
        : FSocket(std::move(ASocket)), FPort(APort) {}

    std::unique_ptr<TSiViewerChannel> Accept() override {
        for (;;) {
            if (!WaitReadable(FSocket.Get(), FStopped)) {
                return nullptr;
            }
            TSiUniqueSocket LClient(accept(FSocket.Get(), nullptr, nullptr));
            if (!LClient) {
                const int LError = WSAGetLastError();
                if (LError == WSAEWOULDBLOCK || LError == WSAECONNRESET) {
                    continue;
                }
                throw ESiError(ErrorText(LError));
            }
            SetHandleInformation(reinterpret_cast<HANDLE>(LClient.Get()), HANDLE_FLAG_INHERIT, 0);
            const BOOL LOn = TRUE;
            setsockopt(LClient.Get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&LOn),
                       sizeof LOn);
            return std::make_unique<TTcpChannel>(std::move(LClient), FStopped);
        }
    }

    void Stop() noexcept override { FStopped.store(true); }
    std::uint16_t Port() const noexcept override { return FPort; }

  private:
    TSiUniqueSocket FSocket;
    std::uint16_t FPort;
    std::atomic<bool> FStopped{false};
};

}  // namespace

std::unique_ptr<TSiViewerListener> SiListenPipe(const std::string& AName) {
    const std::u16string LPath = SiUtf8ToUtf16("\\\\.\\pipe\\" + AName);
    return std::make_unique<TPipeListener>(std::wstring(LPath.begin(), LPath.end()), AName);
}

std::unique_ptr<TSiViewerListener> SiListenTcp(const std::string& AAddress, std::uint16_t APort) {
    const auto LFail = [&](int AError) -> std::unique_ptr<TSiViewerListener> {
        throw ESiError("Cannot listen on " + AAddress + ":" + std::to_string(APort) + ": " +
                       ErrorText(static_cast<DWORD>(AError)));
    };
    if (const int LError = SiSocketStartup(); LError != 0) {
        return LFail(LError);
    }
    sockaddr_in LAddress{};
    LAddress.sin_family = AF_INET;
    LAddress.sin_port = htons(APort);
    if (inet_pton(AF_INET, AAddress.c_str(), &LAddress.sin_addr) != 1) {
        return LFail(WSAEINVAL);
    }
    TSiUniqueSocket LSocket(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!LSocket) {
        return LFail(WSAGetLastError());
    }
    SetHandleInformation(reinterpret_cast<HANDLE>(LSocket.Get()), HANDLE_FLAG_INHERIT, 0);
    // Only this viewer may take the port (no SO_REUSEADDR, which on Windows would let a second
    // listener steal it).
    const BOOL LExclusive = TRUE;
    setsockopt(LSocket.Get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&LExclusive), sizeof LExclusive);
    int LLength = sizeof LAddress;
    if (bind(LSocket.Get(), reinterpret_cast<const sockaddr*>(&LAddress), sizeof LAddress) != 0 ||
        listen(LSocket.Get(), 16) != 0 ||
        getsockname(LSocket.Get(), reinterpret_cast<sockaddr*>(&LAddress), &LLength) != 0) {
        return LFail(WSAGetLastError());
    }
    return std::make_unique<TTcpListener>(std::move(LSocket), ntohs(LAddress.sin_port));
}

}  // namespace deruz::logging
