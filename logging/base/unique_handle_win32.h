// Owners of Windows kernel handles. Included only by *_win32.cpp files.
//
// Two kinds, because the system marks a missing handle in two ways: CreateFile and
// CreateNamedPipe return INVALID_HANDLE_VALUE, the other kernel objects (events, processes,
// threads, mappings) return null. Both are closed with CloseHandle.
#pragma once

#include <windows.h>

#include "logging/base/unique_handle.h"

namespace deruz::logging {

// Files and pipes: INVALID_HANDLE_VALUE when there is none.
struct TSiHFileTraits {
    using TValue = HANDLE;
    static TValue Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(TValue AValue) noexcept { CloseHandle(AValue); }
};
using TSiUniqueHFile = TSiUniqueAny<TSiHFileTraits>;

// Events and the other kernel objects: null when there is none.
struct TSiHandleTraits {
    using TValue = HANDLE;
    static TValue Invalid() noexcept { return nullptr; }
    static void Close(TValue AValue) noexcept { CloseHandle(AValue); }
};
using TSiUniqueHandle = TSiUniqueAny<TSiHandleTraits>;

}  // namespace deruz::logging
