// The viewer's listeners on Windows: a named pipe server with overlapped I/O, so that a stop
// event or a deadline ends every wait, and a Winsock listener with non-blocking connections
// whose waits look at the stop flag every 50 ms.
// clang-format off
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>
#include <sddl.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <climits>
#include <deque>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "logging/base/errors.h"
#include "logging/base/strings.h"
#include "logging/system/socket.h"
#include "logging/system/system_handles_win32.h"
#include "logging/system/user_identity_win32.h"
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

enum class TIoResult { irDone, irFailed, irStopped, irTimedOut };

// A wait of ATimeout milliseconds (none: no limit).
DWORD WaitMilliseconds(std::optional<std::uint32_t> ATimeout) {
    return ATimeout ? std::min<DWORD>(*ATimeout, INFINITE - 1) : INFINITE;
}

// Completes an overlapped operation on APipe that was just started (AStarted: what the call
// returned), waiting for it, for AStop or for ATimeout milliseconds. ATransferred and AError
// receive the outcome.
TIoResult FinishIo(HANDLE APipe, OVERLAPPED& AOverlapped, BOOL AStarted, HANDLE AStop,
                   DWORD& ATransferred, DWORD& AError, DWORD ATimeout = INFINITE) {
    ATransferred = 0;
    if (!AStarted) {
        AError = GetLastError();
        if (AError != ERROR_IO_PENDING) {
            return TIoResult::irFailed;
        }
        const HANDLE LWaits[2] = {AOverlapped.hEvent, AStop};
        const DWORD LWait = WaitForMultipleObjects(2, LWaits, FALSE, ATimeout);
        if (LWait != WAIT_OBJECT_0) {
            // The operation is cancelled, and waited for, so that it no longer uses the caller's
            // buffer. One that completed meanwhile counts as done unless the viewer stops.
            CancelIo(APipe);
            const BOOL LDone = GetOverlappedResult(APipe, &AOverlapped, &ATransferred, TRUE);
            if (LWait != WAIT_TIMEOUT) {
                return TIoResult::irStopped;
            }
            return LDone ? TIoResult::irDone : TIoResult::irTimedOut;
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
            switch (FinishIo(FPipe.Get(), LOverlapped, LStarted, FStop, LRead, LError,
                             WaitMilliseconds(Remaining()))) {
                case TIoResult::irStopped:
                    return 0;
                case TIoResult::irTimedOut:
                    throw ESiViewerTimeout();
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
            switch (FinishIo(FPipe.Get(), LOverlapped, LStarted, FStop, LWritten, LError,
                             WaitMilliseconds(Remaining()))) {
                case TIoResult::irStopped:
                    throw ESiError("The viewer was stopped");
                case TIoResult::irTimedOut:
                    throw ESiViewerTimeout();
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

// Serves the pipe with several instances waiting for clients at once, its backlog: a client that
// finds no free instance fails at once (ERROR_PIPE_BUSY), so a burst of applications starting
// together needs more than the one instance a serial server would keep.
class TPipeListener final : public TSiViewerListener {
  public:
    TPipeListener(std::wstring APath, const std::string& AName)
        : FPath(std::move(APath)), FStop(NewEvent(TRUE)) {
        const auto LFail = [&](DWORD AError) {
            throw ESiError("Cannot listen on pipe \"" + AName + "\": " + ErrorText(AError));
        };
        const auto LServed = [&] {
            throw ESiError("Cannot listen on pipe \"" + AName +
                           "\": another process already serves this name");
        };
        // Only this user (and the system account) may reach the pipe: the log carries what the
        // applications do, for this user's eyes.
        const std::wstring LUser = SiSidText(SiCurrentUserSid());
        PSECURITY_DESCRIPTOR LDescriptor = nullptr;
        if (LUser.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                                 (L"D:P(A;;GA;;;" + LUser + L")(A;;GA;;;SY)").c_str(),
                                 SDDL_REVISION_1, &LDescriptor, nullptr)) {
            LFail(GetLastError());
        }
        FDescriptor.reset(LDescriptor);
        FAttributes.nLength = sizeof FAttributes;
        FAttributes.lpSecurityDescriptor = LDescriptor;
        FAttributes.bInheritHandle = FALSE;
        // The first-instance flag refuses a name that another viewer serves; not every system
        // honours it, so look for such a viewer first as well.
        if (WaitNamedPipeW(FPath.c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND) {
            LServed();
        }
        for (std::size_t LIndex = 0; LIndex < kWaiting; ++LIndex) {
            FWaiting.push_back(std::make_unique<TWaiting>());
            FWaiting.back()->Event.Reset(NewEvent(TRUE));
            const DWORD LError = Renew(*FWaiting.back(), LIndex == 0);
            // Only the first instance must exist; the others are added as they can be.
            if (LIndex == 0 && LError == ERROR_ACCESS_DENIED) {
                LServed();
            }
            if (LIndex == 0 && LError != 0) {
                LFail(LError);
            }
        }
    }

    std::unique_ptr<TSiViewerChannel> Accept() override {
        for (;;) {
            if (WaitForSingleObject(FStop.Get(), 0) == WAIT_OBJECT_0) {
                return nullptr;
            }
            if (!FReady.empty()) {
                auto LChannel =
                    std::make_unique<TPipeChannel>(std::move(FReady.front()), FStop.Get());
                FReady.pop_front();
                return LChannel;
            }
            // The stop event first, so that it wins over clients that wait.
            HANDLE LWaits[kWaiting + 1] = {FStop.Get()};
            DWORD LCount = 1;
            for (const auto& LWaiting : FWaiting) {
                if (LWaiting->Pipe || Renew(*LWaiting, false) == 0) {
                    LWaits[LCount++] = LWaiting->Event.Get();
                }
            }
            if (LCount == 1) {
                throw ESiError(ErrorText(GetLastError()));
            }
            const DWORD LResult = WaitForMultipleObjects(LCount, LWaits, FALSE, INFINITE);
            if (LResult == WAIT_OBJECT_0) {
                return nullptr;
            }
            if (LResult >= WAIT_OBJECT_0 + LCount) {
                throw ESiError(ErrorText(GetLastError()));
            }
            // Every instance that a client has reached is taken and replaced at once, not only
            // the one the wait named, so that a burst finds free instances.
            for (const auto& LWaiting : FWaiting) {
                if (!LWaiting->Pipe ||
                    (!LWaiting->Connected &&
                     WaitForSingleObject(LWaiting->Event.Get(), 0) != WAIT_OBJECT_0)) {
                    continue;
                }
                DWORD LTransferred = 0;
                if (LWaiting->Connected ||
                    GetOverlappedResult(LWaiting->Pipe.Get(), &LWaiting->Overlapped, &LTransferred,
                                        FALSE)) {
                    FReady.push_back(std::move(LWaiting->Pipe));
                }
                // Otherwise the client came and went before it was accepted.
                Renew(*LWaiting, false);
            }
        }
    }

    void Stop() noexcept override { SetEvent(FStop.Get()); }

  private:
    // Instances waiting at once; with the stop event, within what one wait can watch (64).
    static constexpr std::size_t kWaiting = 63;

    // One instance waiting for a client; Connected once one is there.
    struct TWaiting {
        TWaiting() = default;
        TWaiting(const TWaiting&) = delete;
        TWaiting& operator=(const TWaiting&) = delete;
        ~TWaiting() {
            // A pending connect writes into Overlapped until it is cancelled and done.
            if (Pipe && !Connected) {
                CancelIoEx(Pipe.Get(), &Overlapped);
                DWORD LTransferred = 0;
                GetOverlappedResult(Pipe.Get(), &Overlapped, &LTransferred, TRUE);
            }
        }

        TSiUniqueHFile Pipe;
        TSiUniqueHandle Event;
        OVERLAPPED Overlapped{};
        bool Connected = false;
    };

    // Makes a new instance in AWaiting and starts waiting for a client on it; 0, or the error
    // (AWaiting then has no instance).
    DWORD Renew(TWaiting& AWaiting, bool AFirst) {
        AWaiting.Pipe.Reset();
        AWaiting.Connected = false;
        // Local clients only: the log of this machine's applications is not served to others.
        const HANDLE LPipe = CreateNamedPipeW(
            FPath.c_str(),
            PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                (AFirst ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
            PIPE_UNLIMITED_INSTANCES, 65536, 65536, 0, &FAttributes);
        if (LPipe == INVALID_HANDLE_VALUE) {
            return GetLastError();
        }
        AWaiting.Pipe.Reset(LPipe);
        AWaiting.Overlapped = OVERLAPPED{};
        AWaiting.Overlapped.hEvent = AWaiting.Event.Get();
        ResetEvent(AWaiting.Event.Get());
        if (ConnectNamedPipe(LPipe, &AWaiting.Overlapped)) {
            AWaiting.Connected = true;
            SetEvent(AWaiting.Event.Get());
            return 0;
        }
        switch (const DWORD LError = GetLastError()) {
            case ERROR_IO_PENDING:
                return 0;
            case ERROR_PIPE_CONNECTED:
                // A client connected between the two calls.
                AWaiting.Connected = true;
                SetEvent(AWaiting.Event.Get());
                return 0;
            default:
                AWaiting.Pipe.Reset();
                return LError;
        }
    }

    std::wstring FPath;
    struct TLocalFree {
        void operator()(void* AMemory) const noexcept { LocalFree(AMemory); }
    };
    // The pipe's security descriptor, declared before the instances made with it.
    std::unique_ptr<void, TLocalFree> FDescriptor;
    SECURITY_ATTRIBUTES FAttributes{};
    TSiUniqueHandle FStop;
    std::vector<std::unique_ptr<TWaiting>> FWaiting;
    // Instances with a client, not yet handed out.
    std::deque<TSiUniqueHFile> FReady;
};

enum class TSocketWait { swReady, swStopped, swTimedOut };

// Waits until ASocket is readable (or writable, AWrite), looking at AStopped every 50 ms, and for
// at most ATimeout() milliseconds when that gives a value.
template <class F>
TSocketWait WaitSocket(SOCKET ASocket, bool AWrite, const std::atomic<bool>& AStopped, F ATimeout) {
    for (;;) {
        if (AStopped.load()) {
            return TSocketWait::swStopped;
        }
        const std::optional<std::uint32_t> LLeft = ATimeout();
        const std::uint32_t LSlice = LLeft ? std::min<std::uint32_t>(*LLeft, 50) : 50;
        fd_set LSet;
        FD_ZERO(&LSet);
        FD_SET(ASocket, &LSet);
        timeval LTick{0, static_cast<long>(LSlice * 1000)};
        const int LResult =
            select(0, AWrite ? nullptr : &LSet, AWrite ? &LSet : nullptr, nullptr, &LTick);
        if (LResult == SOCKET_ERROR) {
            throw ESiError(ErrorText(WSAGetLastError()));
        }
        if (LResult > 0) {
            return TSocketWait::swReady;
        }
        if (LLeft && *LLeft == 0) {
            return TSocketWait::swTimedOut;
        }
    }
}

// A non-blocking socket: a wait for it can end with the stop flag or the deadline.
class TTcpChannel final : public TSiViewerChannel {
  public:
    TTcpChannel(TSiUniqueSocket ASocket, const std::atomic<bool>& AStopped)
        : FSocket(std::move(ASocket)), FStopped(AStopped) {}

    std::size_t Read(void* ABuffer, std::size_t ACount) override {
        for (;;) {
            if (!Wait(false)) {
                return 0;
            }
            const int LRead = recv(FSocket.Get(), static_cast<char*>(ABuffer),
                                   static_cast<int>(std::min<std::size_t>(ACount, INT_MAX)), 0);
            if (LRead != SOCKET_ERROR) {
                return static_cast<std::size_t>(LRead);
            }
            if (const int LError = WSAGetLastError(); LError != WSAEWOULDBLOCK) {
                throw ESiError(ErrorText(LError));
            }
        }
    }

    void Write(const void* ABuffer, std::size_t ACount) override {
        const auto* LData = static_cast<const char*>(ABuffer);
        while (ACount > 0) {
            if (FStopped.load()) {
                throw ESiError("The viewer was stopped");
            }
            const int LSent = send(FSocket.Get(), LData,
                                   static_cast<int>(std::min<std::size_t>(ACount, INT_MAX)), 0);
            if (LSent != SOCKET_ERROR) {
                LData += LSent;
                ACount -= static_cast<std::size_t>(LSent);
                continue;
            }
            if (const int LError = WSAGetLastError(); LError != WSAEWOULDBLOCK) {
                throw ESiError(ErrorText(LError));
            }
            if (!Wait(true)) {
                throw ESiError("The viewer was stopped");
            }
        }
    }

  private:
    // Waits until the socket is ready; false when the viewer stops, ESiViewerTimeout when the
    // deadline passes.
    bool Wait(bool AWrite) {
        switch (WaitSocket(FSocket.Get(), AWrite, FStopped, [this] { return Remaining(); })) {
            case TSocketWait::swReady:
                return true;
            case TSocketWait::swStopped:
                return false;
            case TSocketWait::swTimedOut:
                break;
        }
        throw ESiViewerTimeout();
    }

    TSiUniqueSocket FSocket;
    const std::atomic<bool>& FStopped;
};

class TTcpListener final : public TSiViewerListener {
  public:
    TTcpListener(TSiUniqueSocket ASocket, std::uint16_t APort)
        : FSocket(std::move(ASocket)), FPort(APort) {}

    std::unique_ptr<TSiViewerChannel> Accept() override {
        for (;;) {
            if (WaitSocket(FSocket.Get(), false, FStopped,
                           [] { return std::optional<std::uint32_t>(); }) != TSocketWait::swReady) {
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
            u_long LNonBlocking = 1;
            if (ioctlsocket(LClient.Get(), FIONBIO, &LNonBlocking) != 0) {
                continue;  // Not served: this client alone is closed.
            }
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
        listen(LSocket.Get(), kSiViewerBacklog) != 0 ||
        getsockname(LSocket.Get(), reinterpret_cast<sockaddr*>(&LAddress), &LLength) != 0) {
        return LFail(WSAGetLastError());
    }
    return std::make_unique<TTcpListener>(std::move(LSocket), ntohs(LAddress.sin_port));
}

}  // namespace deruz::logging
