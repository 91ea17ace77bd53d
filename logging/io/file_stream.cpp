// The stream over a log file.
#include "logging/io/file_stream.h"

#include <utility>

namespace deruz::logging {

TSiFileStream::TSiFileStream(const std::string& AFileName, TSiFileAccess AAccess,
                             TSiFileCreation ACreation, TSiFileShare AShare)
    : FFileName(AFileName) {
    std::uint32_t LError = 0;
    FHandle = SiCreateFile(AFileName, AAccess, AShare, ACreation, LError);
    if (!FHandle.IsOpen()) {
        throw ESiFileError(SiSystemErrorText(LError), LError);
    }
}

std::size_t TSiFileStream::Read(void* ABuffer, std::size_t ACount) {
    std::size_t LRead = 0;
    return FHandle.Read(ABuffer, ACount, LRead) ? LRead : 0;
}

namespace {
thread_local std::uint32_t GSiFileWriteError = 0;
}  // namespace

std::uint32_t SiTakeFileWriteError() noexcept {
    return std::exchange(GSiFileWriteError, 0u);
}

std::size_t TSiFileStream::Write(const void* ABuffer, std::size_t ACount) {
    if (FHandle.Write(ABuffer, ACount)) {
        return ACount;
    }
    GSiFileWriteError = SiLastSystemError();
    return 0;
}

std::int64_t TSiFileStream::Seek(std::int64_t AOffset, TSiSeekOrigin AOrigin) {
    const std::int64_t LPosition = SiSeekFile(FHandle, AOffset, AOrigin);
    if (LPosition < 0) {
        throw ESiStreamError("Stream seek error");
    }
    return LPosition;
}

std::int64_t TSiFileStream::GetSize() {
    const std::int64_t LSize = FHandle.Size();
    if (LSize < 0) {
        throw ESiStreamError("Stream size error");
    }
    return LSize;
}

void TSiFileStream::Truncate(std::int64_t ASize) {
    if (ASize < 0 || !SiTruncateFile(FHandle, ASize)) {
        throw ESiStreamError("Stream truncate error");
    }
    Seek(ASize, soBeginning);
}

}  // namespace deruz::logging
