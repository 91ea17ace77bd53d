// The client end of the local viewer pipe, as the system provides it.
//
// On Windows this is a named pipe "\\.\pipe\<name>" opened with CreateFileW. Elsewhere a
// Unix-domain stream socket stands in for it, at the path SiPipeSocketPath gives; log viewers
// (TSiViewerServer, the silog tool) listen on that same path.
//
// Thread safety: the functions keep no state; one handle is used by one thread at a time.
// Ownership: TSiPipeHandle owns the handle and closes it on destruction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "logging/base/unique_handle.h"

namespace deruz::logging {

// Where the pipe called AName lives. On Windows "\\.\pipe\" + AName. Elsewhere
// "$XDG_RUNTIME_DIR/silog/<name>", or "/tmp/silog-<uid>/<name>" when XDG_RUNTIME_DIR is unset
// or not absolute. The name is lower-cased (pipe names ignore case on Windows), and every byte
// other than a-z, 0-9, '-', '_' and a '.' that does not lead the name is written as "%XX", so any
// name maps to exactly one file in that folder.
std::string SiPipeSocketPath(const std::string& AName);

// How long opening a pipe waits while all its instances are busy (Windows).
constexpr std::uint32_t kPipeBusyWaitMs = 1000;

// The error of TSiPipeHandle::Open when the process serving the pipe does not run as this
// process's user (nor as the system account), or its user cannot be confirmed: the log goes to
// nobody else. An application code (bit 29 set), distinct from every system error code.
constexpr std::uint32_t kSiPipeServerNotTrusted = 0x20000001;

// Decides whether the process serving a just-opened pipe (ANative: the open handle or socket)
// may receive this process's log: 0 when it may, else kSiPipeServerNotTrusted.
using TSiPipeServerCheck = std::uint32_t (*)(std::intptr_t ANative);

// The check every Open makes before it reports success: on Windows the server process's user
// (GetNamedPipeServerProcessId and its token) must be this process's user or the system
// account; elsewhere the socket's peer (SO_PEERCRED) must run as this user or as root.
std::uint32_t SiDefaultPipeServerCheck(std::intptr_t ANative) noexcept;

// Makes the check in force (the default, or the one SiSetPipeServerCheck put in its place).
std::uint32_t SiCheckPipeServer(std::intptr_t ANative) noexcept;

// Replaces the check (null: the default) and returns the one in force before. For tests of the
// refusal path where the system has only one user (Wine); not for use while pipes are opened
// on other threads.
TSiPipeServerCheck SiSetPipeServerCheck(TSiPipeServerCheck ACheck) noexcept;

// One open client connection to a viewer's pipe. Move-only.
class TSiPipeHandle {
  public:
    // Opens the pipe called AName for reading and writing. On failure the handle stays closed
    // and the result is the system's error code (ERROR_FILE_NOT_FOUND or ENOENT when no viewer
    // serves the name) or kSiPipeServerNotTrusted; 0 on success. On Windows the pipe is opened
    // at the identification level (the server may learn who the client is, never act as it),
    // and while every instance of the pipe is busy with other clients, it waits for a free one
    // up to kPipeBusyWaitMs (then ERROR_PIPE_BUSY).
    std::uint32_t Open(const std::string& AName);

    bool IsOpen() const noexcept { return static_cast<bool>(FNative); }

    // Reads up to ACount bytes; 0 when the viewer closed the pipe or the read failed.
    std::size_t Read(void* ABuffer, std::size_t ACount) noexcept;
    // Writes up to ACount bytes; returns how many were written, 0 on failure (a viewer that
    // has gone raises no signal).
    std::size_t Write(const void* ABuffer, std::size_t ACount) noexcept;
    // Writes AFirst and then ASecond, with one system call where the system can gather;
    // returns how many bytes of both were written, 0 on failure.
    std::size_t WritePair(const void* AFirst, std::size_t AFirstCount, const void* ASecond,
                          std::size_t ASecondCount) noexcept;

    void Close() noexcept { FNative.Reset(); }

  private:
    TSiUniqueNative FNative;
};

}  // namespace deruz::logging
