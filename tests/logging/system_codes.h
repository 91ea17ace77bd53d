// System error codes that the tests expect texts for, and a way to set the calling thread's
// last error, each implemented per platform (system_codes_posix.cpp, system_codes_win32.cpp).
#pragma once

#include <cstdint>

namespace deruz::logging::testing {

// ENOENT / ERROR_FILE_NOT_FOUND: 2 on both systems.
int TestFileNotFoundCode();
int TestConnectionRefusedCode();
int TestTimedOutCode();

// Sets the error that SiGetLastError reads next: errno on POSIX, SetLastError on Windows.
void TestSetLastError(int ACode);

// Lets no file of this process grow beyond ABytes, as a disk that is full: writes beyond fail
// (after a partial write up to the limit). False where the system cannot do it (Windows).
bool TestLimitFileSize(std::int64_t ABytes);
// Lifts the limit again.
void TestUnlimitFileSize();

}  // namespace deruz::logging::testing
