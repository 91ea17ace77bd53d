// The POSIX error codes that the tests expect texts for, errno as the last error, and the
// file-size limit that stands in for a full disk.
#include <errno.h>
#include <signal.h>
#include <sys/resource.h>

#include "tests/logging/system_codes.h"

namespace deruz::logging::testing {

int TestFileNotFoundCode() {
    return ENOENT;
}
int TestConnectionRefusedCode() {
    return ECONNREFUSED;
}
int TestTimedOutCode() {
    return ETIMEDOUT;
}

void TestSetLastError(int ACode) {
    errno = ACode;
}

bool TestLimitFileSize(std::int64_t ABytes) {
    // A write beyond the limit then fails with EFBIG instead of ending the process.
    signal(SIGXFSZ, SIG_IGN);
    rlimit LLimit{};
    if (getrlimit(RLIMIT_FSIZE, &LLimit) != 0) return false;
    LLimit.rlim_cur = static_cast<rlim_t>(ABytes);
    return setrlimit(RLIMIT_FSIZE, &LLimit) == 0;
}

void TestUnlimitFileSize() {
    rlimit LLimit{};
    if (getrlimit(RLIMIT_FSIZE, &LLimit) != 0) return;
    LLimit.rlim_cur = LLimit.rlim_max;
    setrlimit(RLIMIT_FSIZE, &LLimit);
}

}  // namespace deruz::logging::testing
