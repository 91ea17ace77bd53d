// The portable native handle on Windows is a file or pipe HANDLE.
#include "logging/base/unique_handle_win32.h"

namespace deruz::logging {

void TSiNativeTraits::Close(TValue AValue) noexcept {
    TSiHFileTraits::Close(reinterpret_cast<HANDLE>(AValue));
}

}  // namespace deruz::logging
