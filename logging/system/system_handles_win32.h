// Owners of Winsock sockets and loaded modules, beside the kernel handles of
// logging/base/unique_handle_win32.h. Included only by *_win32.cpp files (ondahost included).
#pragma once

// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include "logging/base/unique_handle.h"
#include "logging/base/unique_handle_win32.h"

namespace deruz::logging {

struct TSiSocketTraits {
    using TValue = SOCKET;
    static TValue Invalid() noexcept { return INVALID_SOCKET; }
    static void Close(TValue AValue) noexcept { closesocket(AValue); }
};
using TSiUniqueSocket = TSiUniqueAny<TSiSocketTraits>;

// A module from LoadLibrary; Reset unloads it.
struct TSiHModuleTraits {
    using TValue = HMODULE;
    static TValue Invalid() noexcept { return nullptr; }
    static void Close(TValue AValue) noexcept { FreeLibrary(AValue); }
};
using TSiUniqueHModule = TSiUniqueAny<TSiHModuleTraits>;

}  // namespace deruz::logging
