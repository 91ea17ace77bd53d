// The POSIX error codes that the tests expect texts for, and errno as the last error.
#include <errno.h>

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

}  // namespace deruz::logging::testing
