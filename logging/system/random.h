// Random bytes from the operating system's cryptographic source (getrandom on Linux,
// BCryptGenRandom on Windows), for what must never repeat: the IV of an encrypted log file.
//
// Thread safety: may be called from any thread.
#pragma once

#include <cstddef>

namespace deruz::logging {

// Fills ABuffer with ACount random bytes. Raises ESiError with the system's reason when the
// source cannot be read.
void SiRandomBytes(void* ABuffer, std::size_t ACount);

}  // namespace deruz::logging
