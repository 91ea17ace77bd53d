// The viewer pipe on POSIX systems: a Unix-domain stream socket in a folder of the user's own.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <utility>

#include "logging/system/gather_write_posix.h"
#include "logging/system/pipe_transport.h"
#include "logging/system/socket_path_posix.h"

namespace deruz::logging {

namespace posix {

namespace {

std::string FolderOf(const std::string& APath) {
    const std::size_t LSlash = APath.rfind('/');
    return LSlash == std::string::npos || LSlash == 0 ? std::string("/") : APath.substr(0, LSlash);
}

}  // namespace

int SiCheckSocketFolder(const std::string& APath) noexcept {
    try {
        struct stat LStat {};
        if (::lstat(FolderOf(APath).c_str(), &LStat) != 0) {
            return errno;
        }
        if (!S_ISDIR(LStat.st_mode) || LStat.st_uid != ::geteuid() || (LStat.st_mode & 077) != 0) {
            return EACCES;
        }
        return 0;
    } catch (...) {
        return ENOMEM;
    }
}

int SiPrepareSocketFolder(const std::string& APath) noexcept {
    try {
        const std::string LFolder = FolderOf(APath);
        if (::mkdir(LFolder.c_str(), 0700) != 0 && errno != EEXIST) {
            return errno;
        }
        return SiCheckSocketFolder(APath);
    } catch (...) {
        return ENOMEM;
    }
}

}  // namespace posix

std::string SiPipeSocketPath(const std::string& AName) {
    std::string LFolder;
    const char* LRuntime = ::getenv("XDG_RUNTIME_DIR");
    if (LRuntime != nullptr && LRuntime[0] == '/') {
        LFolder = std::string(LRuntime) + "/silog";
    } else {
        LFolder = "/tmp/silog-" + std::to_string(::geteuid());
    }
    std::string LName;
    for (std::size_t LIndex = 0; LIndex < AName.size(); ++LIndex) {
        auto LByte = static_cast<unsigned char>(AName[LIndex]);
        if (LByte >= 'A' && LByte <= 'Z') {
            LByte = static_cast<unsigned char>(LByte - 'A' + 'a');
        }
        const bool LPlain = (LByte >= 'a' && LByte <= 'z') || (LByte >= '0' && LByte <= '9') ||
                            LByte == '-' || LByte == '_' || (LByte == '.' && LIndex > 0);
        if (LPlain) {
            LName += static_cast<char>(LByte);
        } else {
            char LEscape[4];
            std::snprintf(LEscape, sizeof LEscape, "%%%02X", LByte);
            LName += LEscape;
        }
    }
    return LFolder + "/" + LName;
}

std::uint32_t SiDefaultPipeServerCheck(std::intptr_t ANative) noexcept {
    // The socket folder is the user's own and closed to others, so only this user (or root)
    // can have made the socket; the peer's credentials say so once more for the listener that
    // holds it now.
    ucred LPeer{};
    socklen_t LSize = sizeof LPeer;
    if (::getsockopt(static_cast<int>(ANative), SOL_SOCKET, SO_PEERCRED, &LPeer, &LSize) != 0) {
        return kSiPipeServerNotTrusted;
    }
    return LPeer.uid == ::geteuid() || LPeer.uid == 0 ? 0 : kSiPipeServerNotTrusted;
}

std::uint32_t TSiPipeHandle::Open(const std::string& AName) {
    Close();
    const std::string LPath = SiPipeSocketPath(AName);
    sockaddr_un LAddress{};
    LAddress.sun_family = AF_UNIX;
    if (LPath.size() >= sizeof LAddress.sun_path) {
        return ENAMETOOLONG;
    }
    if (const int LError = posix::SiCheckSocketFolder(LPath); LError != 0) {
        return static_cast<std::uint32_t>(LError);
    }
    LPath.copy(LAddress.sun_path, LPath.size());
    TSiUniqueNative LSocket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!LSocket) {
        return static_cast<std::uint32_t>(errno);
    }
    if (::connect(static_cast<int>(LSocket.Get()), reinterpret_cast<const sockaddr*>(&LAddress),
                  sizeof LAddress) != 0) {
        return static_cast<std::uint32_t>(errno);
    }
    // Nothing is sent before the listener is known to be this user's.
    if (const std::uint32_t LRefused = SiCheckPipeServer(LSocket.Get()); LRefused != 0) {
        return LRefused;
    }
    FNative = std::move(LSocket);
    return 0;
}

std::size_t TSiPipeHandle::Read(void* ABuffer, std::size_t ACount) noexcept {
    for (;;) {
        const ssize_t LRead = ::recv(static_cast<int>(FNative.Get()), ABuffer, ACount, 0);
        if (LRead >= 0) {
            return static_cast<std::size_t>(LRead);
        }
        if (errno != EINTR) {
            return 0;
        }
    }
}

std::size_t TSiPipeHandle::Write(const void* ABuffer, std::size_t ACount) noexcept {
    for (;;) {
        const ssize_t LWritten =
            ::send(static_cast<int>(FNative.Get()), ABuffer, ACount, MSG_NOSIGNAL);
        if (LWritten >= 0) {
            return static_cast<std::size_t>(LWritten);
        }
        if (errno != EINTR) {
            return 0;
        }
    }
}

std::size_t TSiPipeHandle::WritePair(const void* AFirst, std::size_t AFirstCount,
                                     const void* ASecond, std::size_t ASecondCount) noexcept {
    const std::ptrdiff_t LWritten = posix::SiGatherSend(static_cast<int>(FNative.Get()), AFirst,
                                                        AFirstCount, ASecond, ASecondCount);
    return LWritten < 0 ? 0 : static_cast<std::size_t>(LWritten);
}

}  // namespace deruz::logging
