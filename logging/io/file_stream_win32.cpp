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

}  // namespace deruz::logging
