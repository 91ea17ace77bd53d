// The viewer pipe on Windows: a named pipe in the local pipe namespace.
#include <windows.h>

#include <algorithm>

#include "logging/base/strings.h"
#include "logging/system/pipe_transport.h"
#include "logging/system/user_identity_win32.h"

namespace deruz::logging {

namespace {

HANDLE Handle(const TSiUniqueNative& ANative) {
    return reinterpret_cast<HANDLE>(ANative.Get());
}

// ReadFile and WriteFile count in 32 bits.
constexpr std::size_t kMaxChunk = 1u << 30;

}  // namespace

std::uint32_t SiDefaultPipeServerCheck(std::intptr_t ANative) noexcept {
    try {
        ULONG LServer = 0;
        if (!GetNamedPipeServerProcessId(reinterpret_cast<HANDLE>(ANative), &LServer)) {
            return kSiPipeServerNotTrusted;
        }
        const TSiUserSid LServerUser = SiProcessUserSid(LServer);
        if (LServerUser.empty()) {
            return kSiPipeServerNotTrusted;
        }
        if (LServerUser == SiCurrentUserSid() || SiIsLocalSystemSid(LServerUser)) {
            return 0;
        }
        return kSiPipeServerNotTrusted;
    } catch (...) {
        return kSiPipeServerNotTrusted;
    }
}

std::string SiPipeSocketPath(const std::string& AName) {
    return "\\\\.\\pipe\\" + AName;
}

std::uint32_t TSiPipeHandle::Open(const std::string& AName) {
    Close();
    const std::u16string LPath = SiUtf8ToUtf16(SiPipeSocketPath(AName));
    const auto* LWidePath = reinterpret_cast<const wchar_t*>(LPath.c_str());
    // Every instance of the pipe may be busy with another client for a moment: the viewer
    // makes the next one as soon as it has taken a client. Wait for a free instance, up to
    // kPipeBusyWaitMs in all, rather than fail at once.
    const ULONGLONG LDeadline = GetTickCount64() + kPipeBusyWaitMs;
    for (;;) {
        // Identification level: whoever serves the name may learn who this process is, but
        // cannot act as it (the default level would let a squatting server impersonate the
        // host's user).
        const HANDLE LHandle =
            CreateFileW(LWidePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (LHandle != INVALID_HANDLE_VALUE) {
            FNative.Reset(reinterpret_cast<std::intptr_t>(LHandle));
            // Nothing is sent before the server is known to be this user's.
            const std::uint32_t LRefused = SiCheckPipeServer(FNative.Get());
            if (LRefused != 0) {
                Close();
            }
            return LRefused;
        }
        const DWORD LError = GetLastError();
        const ULONGLONG LNow = GetTickCount64();
        if (LError != ERROR_PIPE_BUSY || LNow >= LDeadline) {
            return LError;
        }
        // Returns when an instance is free (another client may still take it first), or with
        // an error when none became free in time or the pipe has gone: CreateFileW then says why.
        WaitNamedPipeW(LWidePath, static_cast<DWORD>(LDeadline - LNow));
    }
}

std::size_t TSiPipeHandle::Read(void* ABuffer, std::size_t ACount) noexcept {
    DWORD LRead = 0;
    if (!ReadFile(Handle(FNative), ABuffer, static_cast<DWORD>(std::min(ACount, kMaxChunk)), &LRead,
                  nullptr)) {
        return 0;
    }
    return LRead;
}

std::size_t TSiPipeHandle::Write(const void* ABuffer, std::size_t ACount) noexcept {
    DWORD LWritten = 0;
    if (!WriteFile(Handle(FNative), ABuffer, static_cast<DWORD>(std::min(ACount, kMaxChunk)),
                   &LWritten, nullptr)) {
        return 0;
    }
    return LWritten;
}

std::size_t TSiPipeHandle::WritePair(const void* AFirst, std::size_t AFirstCount,
                                     const void* ASecond, std::size_t ASecondCount) noexcept {
    // Pipes have no gathering write: two writes, the second only after all of the first.
    const std::size_t LFirst = Write(AFirst, AFirstCount);
    if (LFirst < AFirstCount) {
        return LFirst;
    }
    return LFirst + Write(ASecond, ASecondCount);
}

}  // namespace deruz::logging
