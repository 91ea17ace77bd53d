// The owner of a POSIX file descriptor (files, sockets, pipes). Included only by *_posix.cpp
// files.
#pragma once

#include <unistd.h>

#include "logging/base/unique_handle.h"

namespace deruz::logging {

struct TSiFdTraits {
    using TValue = int;
    static constexpr TValue Invalid() noexcept { return -1; }
    // Not retried on EINTR: the descriptor is released even then, and a retry could close
    // one that another thread has just opened.
    static void Close(TValue AValue) noexcept { ::close(AValue); }
};
using TSiUniqueFd = TSiUniqueAny<TSiFdTraits>;

}  // namespace deruz::logging
