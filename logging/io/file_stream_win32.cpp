// Positioning a log file on Windows.
#include <windows.h>

#include "logging/io/file_stream.h"

namespace deruz::logging {

std::int64_t SiSeekFile(TSiFileHandle& AFile, std::int64_t AOffset,
                        TSiSeekOrigin AOrigin) noexcept {
    DWORD LMethod = FILE_BEGIN;
    if (AOrigin == soCurrent) {
        LMethod = FILE_CURRENT;
    } else if (AOrigin == soEnd) {
        LMethod = FILE_END;
    }
    LARGE_INTEGER LOffset{};
    LOffset.QuadPart = AOffset;
    LARGE_INTEGER LPosition{};
    if (!SetFilePointerEx(reinterpret_cast<HANDLE>(AFile.Native()), LOffset, &LPosition, LMethod)) {
        return -1;
    }
    return LPosition.QuadPart;
}

bool SiTruncateFile(TSiFileHandle& AFile, std::int64_t ASize) noexcept {
    // The end of file is set at the file pointer, so the pointer is moved there and back.
    const HANDLE LFile = reinterpret_cast<HANDLE>(AFile.Native());
    LARGE_INTEGER LZero{};
    LARGE_INTEGER LPosition{};
    if (!SetFilePointerEx(LFile, LZero, &LPosition, FILE_CURRENT)) return false;
    LARGE_INTEGER LSize{};
    LSize.QuadPart = ASize;
    const bool LDone = SetFilePointerEx(LFile, LSize, nullptr, FILE_BEGIN) && SetEndOfFile(LFile);
    SetFilePointerEx(LFile, LPosition, nullptr, FILE_BEGIN);
    return LDone;
}

}  // namespace deruz::logging
