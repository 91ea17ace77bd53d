// System error codes that the tests expect texts for, and a way to set the calling thread's
// last error, each implemented per platform (system_codes_posix.cpp, system_codes_win32.cpp).
#pragma once

namespace deruz::logging::testing {

// ENOENT / ERROR_FILE_NOT_FOUND: 2 on both systems.
int TestFileNotFoundCode();
int TestConnectionRefusedCode();
int TestTimedOutCode();

// Sets the error that SiGetLastError reads next: errno on POSIX, SetLastError on Windows.
void TestSetLastError(int ACode);

}  // namespace deruz::logging::testing
