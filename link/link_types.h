// Result codes, modes and the interface version of the link's exported functions.
#pragma once

#include <cstdint>

namespace deruz::link {

// Results of the exported functions (signed 32-bit, as the host sees them).
constexpr std::int32_t dde_Ok = 0;
constexpr std::int32_t dde_NoConnect = -1000;
constexpr std::int32_t dde_Error = -1001;
// Declared for hosts that test for them; the link never returns them.
constexpr std::int32_t dde_Busy = -1002;
constexpr std::int32_t dde_Timeout = -1003;
constexpr std::int32_t dde_MissingSep = -1004;
constexpr std::int32_t dde_BadResNumber = -1005;

// Interface version answered by ONDA_GETVER.
constexpr std::int32_t DefDrvVersion = 262;

// How commands reach the imaging application.
enum TLinkMode : std::uint8_t {
    lmNormal = 0,            // the server's automation interface
    lmClipboard = 1,         // the clipboard
    lmMsVirtualChannel = 2,  // configurable, but there is no transport for it
};

// A window handle as the host passes it (pointer-sized).
using TWindowHandle = std::uintptr_t;

// Host-supplied procedures; the link stores the one of ONDA_INIT2W and never calls either.
using TProcMsgs = void (*)();
using TProcMsgs2w = void (*)();

}  // namespace deruz::link
