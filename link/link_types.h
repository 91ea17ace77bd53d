// Result codes, modes and the interface version of the link's exported functions.
#pragma once

#include <cstdint>

#include "control/control_types.h"

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

using control::lmClipboard;
using control::lmMsVirtualChannel;
using control::lmNormal;
using control::TLinkMode;
using control::TWindowHandle;

// Host-supplied procedures; the link stores the one of ONDA_INIT2W and never calls either.
using TProcMsgs = void (*)();
using TProcMsgs2w = void (*)();

}  // namespace deruz::link
