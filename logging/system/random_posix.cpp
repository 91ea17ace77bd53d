// Random bytes on POSIX systems: getrandom, which blocks only until the kernel's pool has been
// seeded once after boot.
#include <errno.h>
#include <sys/random.h>

#include <cstdint>

#include "logging/base/errors.h"
#include "logging/base/strings.h"
#include "logging/system/random.h"

namespace deruz::logging {

void SiRandomBytes(void* ABuffer, std::size_t ACount) {
    auto* LOut = static_cast<std::uint8_t*>(ABuffer);
    while (ACount > 0) {
        const ssize_t LRead = ::getrandom(LOut, ACount, 0);
        if (LRead < 0) {
            if (errno == EINTR) continue;
            throw ESiError("Cannot read random bytes: " +
                           SiSystemErrorText(static_cast<std::uint32_t>(errno)));
        }
        LOut += LRead;
        ACount -= static_cast<std::size_t>(LRead);
    }
}

}  // namespace deruz::logging
