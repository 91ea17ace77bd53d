// Random bytes on Windows: the system-preferred generator of CNG.
#include <windows.h>
// After windows.h, whose types it uses.
#include <bcrypt.h>

#include <algorithm>
#include <cstdint>

#include "logging/base/errors.h"
#include "logging/base/si_format.h"
#include "logging/system/random.h"

namespace deruz::logging {

void SiRandomBytes(void* ABuffer, std::size_t ACount) {
    auto* LOut = static_cast<std::uint8_t*>(ABuffer);
    while (ACount > 0) {
        const ULONG LChunk = static_cast<ULONG>(std::min<std::size_t>(ACount, 1u << 20));
        const NTSTATUS LStatus =
            BCryptGenRandom(nullptr, LOut, LChunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (LStatus < 0) {
            throw ESiError(SiFormat("Cannot read random bytes: status $%.8x",
                                    {static_cast<std::uint32_t>(LStatus)}));
        }
        LOut += LChunk;
        ACount -= LChunk;
    }
}

}  // namespace deruz::logging
