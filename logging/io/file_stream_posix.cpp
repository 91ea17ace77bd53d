// Positioning a log file on POSIX systems.
#include <unistd.h>

#include "logging/io/file_stream.h"

namespace deruz::logging {

std::int64_t SiSeekFile(TSiFileHandle& AFile, std::int64_t AOffset,
                        TSiSeekOrigin AOrigin) noexcept {
    int LWhence = SEEK_SET;
    if (AOrigin == soCurrent) {
        LWhence = SEEK_CUR;
    } else if (AOrigin == soEnd) {
        LWhence = SEEK_END;
    }
    const off_t LPosition =
        ::lseek(static_cast<int>(AFile.Native()), static_cast<off_t>(AOffset), LWhence);
    return LPosition < 0 ? -1 : static_cast<std::int64_t>(LPosition);
}

bool SiTruncateFile(TSiFileHandle& AFile, std::int64_t ASize) noexcept {
    return ::ftruncate(static_cast<int>(AFile.Native()), static_cast<off_t>(ASize)) == 0;
}

}  // namespace deruz::logging
