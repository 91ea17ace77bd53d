// TSiFileStream: a TSiStream over one open file of the operating system, for the log files of
// the file and text protocols. Writes go to the system at once (the protocols buffer in front
// of it), so a flush of their buffer is one write to the system.
//
// The file protocol opens its file for writing with read sharing only: a viewer may read the
// log while it is written, a second writer cannot open it. On Windows that is the file's
// sharing mode; on POSIX an exclusive advisory lock (see SiCreateFile).
//
// Thread safety: none; the owning protocol serialises access under its own lock.
// Ownership: the stream owns its file and closes it on destruction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "logging/base/errors.h"
#include "logging/base/stream.h"
#include "logging/base/strings.h"

namespace deruz::logging {

// A file that could not be opened or created. The message is the system's text for the error,
// ErrorCode() the system's code (errno on POSIX, GetLastError on Windows).
class ESiFileError : public ESiError {
  public:
    ESiFileError(const std::string& AMessage, std::uint32_t AErrorCode)
        : ESiError(AMessage), FErrorCode(AErrorCode) {}
    std::uint32_t ErrorCode() const noexcept { return FErrorCode; }

  private:
    std::uint32_t FErrorCode;
};

class TSiFileStream final : public TSiStream {
  public:
    // Opens or creates AFileName; raises ESiFileError when the system refuses.
    TSiFileStream(const std::string& AFileName, TSiFileAccess AAccess, TSiFileCreation ACreation,
                  TSiFileShare AShare = fsRead);

    // Reads up to ACount bytes; 0 at the end, or when the file cannot be read.
    std::size_t Read(void* ABuffer, std::size_t ACount) override;
    // Writes all ACount bytes and returns ACount, or 0 when the system fails (disk full, a
    // lost network share), which WriteBuffer reports as "Stream write error".
    std::size_t Write(const void* ABuffer, std::size_t ACount) override;
    // Raises ESiStreamError when the system cannot move the position.
    std::int64_t Seek(std::int64_t AOffset, TSiSeekOrigin AOrigin) override;
    // Asks the system; raises ESiStreamError on failure.
    std::int64_t GetSize() override;
    // Cuts the file to ASize bytes and moves the position there; raises ESiStreamError ("Stream
    // truncate error") when the system refuses.
    void Truncate(std::int64_t ASize);

    // Makes what was written reach the storage device; false (the reason in
    // SiLastSystemError) on failure.
    bool Sync() noexcept { return FHandle.Sync(); }

    const std::string& FileName() const noexcept { return FFileName; }

  private:
    TSiFileHandle FHandle;
    std::string FFileName;
};

// The system's code for the last write of a TSiFileStream on this thread that failed, and 0
// from then on; 0 when none failed. A caller that gets "Stream write error" from a file
// protocol asks it for the reason (a full disk, a lost share).
std::uint32_t SiTakeFileWriteError() noexcept;

// Moves the position of an open file and returns the new one, or -1 on failure (per platform).
std::int64_t SiSeekFile(TSiFileHandle& AFile, std::int64_t AOffset, TSiSeekOrigin AOrigin) noexcept;
// Cuts an open file to ASize bytes; false on failure (per platform). The position is left alone.
bool SiTruncateFile(TSiFileHandle& AFile, std::int64_t ASize) noexcept;

}  // namespace deruz::logging
