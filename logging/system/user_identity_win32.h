// Who a process runs as, for the viewer pipe's two ends: the client accepts a pipe only from a
// server of its own user, and the viewer lets only its own user reach its pipe. Included only
// by *_win32.cpp files.
//
// Thread safety: the functions keep no state.
#pragma once

// clang-format off
#include <windows.h>
// clang-format on

#include <cstdint>
#include <string>
#include <vector>

namespace deruz::logging {

// The security identifier of a user, as its bytes; empty when it could not be read.
using TSiUserSid = std::vector<std::uint8_t>;

// The user whose token this process runs with.
TSiUserSid SiCurrentUserSid();
// The user of the process AProcessId; empty when the process cannot be opened or its token
// read (as for a process of another user that does not let this one look).
TSiUserSid SiProcessUserSid(DWORD AProcessId);
// Whether ASid is the system account (LocalSystem), which services run as.
bool SiIsLocalSystemSid(const TSiUserSid& ASid);
// The SID in its text form ("S-1-5-21-..."); empty when ASid is empty or not a SID.
std::wstring SiSidText(const TSiUserSid& ASid);

}  // namespace deruz::logging
