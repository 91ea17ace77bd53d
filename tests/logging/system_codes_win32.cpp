// The Windows error codes that the tests expect texts for, and SetLastError as the last
// error.
#include <windows.h>
#include <winsock2.h>

#include "tests/logging/system_codes.h"

namespace deruz::logging::testing {

int TestFileNotFoundCode() {
    return ERROR_FILE_NOT_FOUND;
}
int TestConnectionRefusedCode() {
    return WSAECONNREFUSED;
}
int TestTimedOutCode() {
    return WSAETIMEDOUT;
}

void TestSetLastError(int ACode) {
    SetLastError(static_cast<DWORD>(ACode));
}

bool TestLimitFileSize(std::int64_t) {
    return false;
}

void TestUnlimitFileSize() {}

}  // namespace deruz::logging::testing
