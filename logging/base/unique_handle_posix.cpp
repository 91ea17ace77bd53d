// The portable native handle on POSIX systems is a file descriptor.
#include "logging/base/unique_handle_posix.h"

namespace deruz::logging {

void TSiNativeTraits::Close(TValue AValue) noexcept {
    TSiFdTraits::Close(static_cast<int>(AValue));
}

}  // namespace deruz::logging
