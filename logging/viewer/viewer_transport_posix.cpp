// The viewer's listeners on POSIX systems: a Unix-domain socket for the pipe, an IPv4 socket
// for TCP. All sockets are non-blocking; every wait is a poll that also watches a wake-up pipe,
// so that Stop reaches a viewer blocked in accept, read or write.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <optional>
#include <utility>

#include "logging/base/errors.h"
#include "logging/base/strings.h"
#include "logging/base/unique_handle_posix.h"
#include "logging/system/pipe_transport.h"
#include "logging/system/socket_path_posix.h"
#include "logging/viewer/viewer_transport.h"

namespace deruz::logging {

namespace {

std::string ErrorText(int AError) {
    return SiSystemErrorText(static_cast<std::uint32_t>(AError));
}

// A pipe that becomes readable, for good, once Signal was called.
class TWake {
  public:
    TWake() {
        int LPipe[2];
        if (::pipe2(LPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            throw ESiError(ErrorText(errno));
        }
        FReadEnd.Reset(LPipe[0]);
        FWriteEnd.Reset(LPipe[1]);
    }
    TWake(const TWake&) = delete;
    TWake& operator=(const TWake&) = delete;
    void Signal() noexcept {
        if (!FSignalled.exchange(true)) {
            const char LByte = 0;
            [[maybe_unused]] const ssize_t LWritten = ::write(FWriteEnd.Get(), &LByte, 1);
        }
    }
    bool Signalled() const noexcept { return FSignalled.load(); }

    enum class TResult { rReady, rStopped, rTimedOut };

    // Waits until ADescriptor has one of AEvents, the wake-up came or ATimeout milliseconds
    // passed (none: no limit). An interrupted wait reports rReady; the caller tries again.
    TResult Wait(int ADescriptor, short AEvents, std::optional<std::uint32_t> ATimeout) const {
        if (Signalled()) {
            return TResult::rStopped;
        }
        pollfd LPoll[2] = {{ADescriptor, AEvents, 0}, {FReadEnd.Get(), POLLIN, 0}};
        const int LTimeout =
            ATimeout ? static_cast<int>(std::min<std::uint32_t>(*ATimeout, INT_MAX)) : -1;
        const int LResult = ::poll(LPoll, 2, LTimeout);
        if (LResult < 0 && errno == EINTR) {
            return TResult::rReady;
        }
        if (LResult < 0) {
            throw ESiError(ErrorText(errno));
        }
        if (LPoll[1].revents != 0) {
            return TResult::rStopped;
        }
        return LResult == 0 ? TResult::rTimedOut : TResult::rReady;
    }

  private:
    TSiUniqueFd FReadEnd;
    TSiUniqueFd FWriteEnd;
    std::atomic<bool> FSignalled{false};
};

bool SetNonBlocking(int ADescriptor) {
    const int LFlags = ::fcntl(ADescriptor, F_GETFL);
    return LFlags >= 0 && ::fcntl(ADescriptor, F_SETFL, LFlags | O_NONBLOCK) == 0;
}

class TPosixChannel final : public TSiViewerChannel {
  public:
    TPosixChannel(TSiUniqueFd ASocket, const TWake& AWake)
        : FSocket(std::move(ASocket)), FWake(AWake) {}

    std::size_t Read(void* ABuffer, std::size_t ACount) override {
        for (;;) {
            const ssize_t LRead = ::recv(FSocket.Get(), ABuffer, ACount, 0);
            if (LRead >= 0) {
                return static_cast<std::size_t>(LRead);
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                throw ESiError(ErrorText(errno));
            }
            switch (FWake.Wait(FSocket.Get(), POLLIN, Remaining())) {
                case TWake::TResult::rStopped:
                    return 0;
                case TWake::TResult::rTimedOut:
                    throw ESiViewerTimeout();
                case TWake::TResult::rReady:
                    break;
            }
        }
    }

    void Write(const void* ABuffer, std::size_t ACount) override {
        const auto* LData = static_cast<const std::uint8_t*>(ABuffer);
        while (ACount > 0) {
            const ssize_t LWritten = ::send(FSocket.Get(), LData, ACount, MSG_NOSIGNAL);
            if (LWritten >= 0) {
                LData += LWritten;
                ACount -= static_cast<std::size_t>(LWritten);
                continue;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                throw ESiError(ErrorText(errno));
            }
            switch (FWake.Wait(FSocket.Get(), POLLOUT, Remaining())) {
                case TWake::TResult::rStopped:
                    throw ESiError("The viewer was stopped");
                case TWake::TResult::rTimedOut:
                    throw ESiViewerTimeout();
                case TWake::TResult::rReady:
                    break;
            }
        }
    }

  private:
    TSiUniqueFd FSocket;
    const TWake& FWake;
};

class TPosixListener final : public TSiViewerListener {
  public:
    // Takes over a bound, listening socket.
    TPosixListener(TSiUniqueFd ASocket, bool ATcp, std::uint16_t APort, std::string APath)
        : FSocket(std::move(ASocket)), FTcp(ATcp), FPort(APort), FPath(std::move(APath)) {
        struct stat LStat {};
        if (!FPath.empty() && ::stat(FPath.c_str(), &LStat) == 0) {
            FDevice = LStat.st_dev;
            FInode = LStat.st_ino;
        }
    }

    ~TPosixListener() override {
        // The socket file goes with the viewer, unless another viewer has replaced it since.
        struct stat LStat {};
        if (!FPath.empty() && ::stat(FPath.c_str(), &LStat) == 0 && LStat.st_dev == FDevice &&
            LStat.st_ino == FInode) {
            ::unlink(FPath.c_str());
        }
    }

    std::unique_ptr<TSiViewerChannel> Accept() override {
        for (;;) {
            if (FWake.Signalled()) {
                return nullptr;
            }
            TSiUniqueFd LClient(
                ::accept4(FSocket.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
            if (LClient) {
                if (FTcp) {
                    const int LOn = 1;
                    ::setsockopt(LClient.Get(), IPPROTO_TCP, TCP_NODELAY, &LOn, sizeof LOn);
                }
                return std::make_unique<TPosixChannel>(std::move(LClient), FWake);
            }
            const int LError = errno;
            if (LError == EINTR || LError == ECONNABORTED) {
                continue;
            }
            if (LError != EAGAIN && LError != EWOULDBLOCK) {
                throw ESiError(ErrorText(LError));
            }
            if (FWake.Wait(FSocket.Get(), POLLIN, std::nullopt) == TWake::TResult::rStopped) {
                return nullptr;
            }
        }
    }

    void Stop() noexcept override { FWake.Signal(); }
    std::uint16_t Port() const noexcept override { return FPort; }

  private:
    TSiUniqueFd FSocket;
    bool FTcp;
    std::uint16_t FPort;
    std::string FPath;
    dev_t FDevice = 0;
    ino_t FInode = 0;
    TWake FWake;
};

// Binds ASocket to APath. A socket file that nobody serves any more (left by a viewer that
// ended abruptly) is replaced; one that a live viewer serves is not.
int BindUnix(int ASocket, const std::string& APath) {
    sockaddr_un LAddress{};
    LAddress.sun_family = AF_UNIX;
    if (APath.size() >= sizeof LAddress.sun_path) {
        return ENAMETOOLONG;
    }
    APath.copy(LAddress.sun_path, APath.size());
    const auto* LRaw = reinterpret_cast<const sockaddr*>(&LAddress);
    if (::bind(ASocket, LRaw, sizeof LAddress) == 0) {
        return 0;
    }
    if (errno != EADDRINUSE) {
        return errno;
    }
    const TSiUniqueFd LProbe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!LProbe) {
        return errno;
    }
    if (::connect(LProbe.Get(), LRaw, sizeof LAddress) == 0 || errno != ECONNREFUSED) {
        return EADDRINUSE;
    }
    ::unlink(APath.c_str());
    return ::bind(ASocket, LRaw, sizeof LAddress) == 0 ? 0 : errno;
}

}  // namespace

std::unique_ptr<TSiViewerListener> SiListenPipe(const std::string& AName) {
    const std::string LPath = SiPipeSocketPath(AName);
    const auto LFail = [&](int AError) -> std::unique_ptr<TSiViewerListener> {
        throw ESiError("Cannot listen on pipe \"" + AName + "\" (" + LPath + "): " +
                       (AError == EADDRINUSE
                            ? std::string("another process already serves this name")
                            : ErrorText(AError)));
    };
    if (const int LError = posix::SiPrepareSocketFolder(LPath); LError != 0) {
        return LFail(LError);
    }
    TSiUniqueFd LSocket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!LSocket) {
        return LFail(errno);
    }
    int LError = BindUnix(LSocket.Get(), LPath);
    if (LError == 0 &&
        (::listen(LSocket.Get(), kSiViewerBacklog) != 0 || !SetNonBlocking(LSocket.Get()))) {
        LError = errno;
        ::unlink(LPath.c_str());
    }
    if (LError != 0) {
        return LFail(LError);
    }
    return std::make_unique<TPosixListener>(std::move(LSocket), false, 0, LPath);
}

std::unique_ptr<TSiViewerListener> SiListenTcp(const std::string& AAddress, std::uint16_t APort) {
    const auto LFail = [&](int AError) -> std::unique_ptr<TSiViewerListener> {
        throw ESiError("Cannot listen on " + AAddress + ":" + std::to_string(APort) + ": " +
                       ErrorText(AError));
    };
    sockaddr_in LAddress{};
    LAddress.sin_family = AF_INET;
    LAddress.sin_port = htons(APort);
    if (::inet_pton(AF_INET, AAddress.c_str(), &LAddress.sin_addr) != 1) {
        return LFail(EINVAL);
    }
    TSiUniqueFd LSocket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!LSocket) {
        return LFail(errno);
    }
    const int LOn = 1;
    ::setsockopt(LSocket.Get(), SOL_SOCKET, SO_REUSEADDR, &LOn, sizeof LOn);
    socklen_t LLength = sizeof LAddress;
    if (::bind(LSocket.Get(), reinterpret_cast<const sockaddr*>(&LAddress), sizeof LAddress) != 0 ||
        ::listen(LSocket.Get(), kSiViewerBacklog) != 0 || !SetNonBlocking(LSocket.Get()) ||
        ::getsockname(LSocket.Get(), reinterpret_cast<sockaddr*>(&LAddress), &LLength) != 0) {
        return LFail(errno);
    }
    return std::make_unique<TPosixListener>(std::move(LSocket), true, ntohs(LAddress.sin_port), "");
}

}  // namespace deruz::logging
