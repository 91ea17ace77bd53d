// The link's configuration: which configuration file is in force (the main "deruz64.ini" or
// a copy of it per remote client, computer or user) and the settings read from it.
#pragma once

#include <string>

#include "control/control_platform.h"
#include "control/ondarix_control.h"
#include "link/link_state.h"

namespace deruz::link {

inline constexpr wchar_t kMainIniName[] = L"deruz64.ini";

// The profile file name: the main file's path without its extension, "_", AppendStr,
// ".ini" ("C:\Link\deruz64_PC01.ini" for "C:\Link\deruz64.ini" and "PC01").
std::wstring CreateCustomIniFn(const std::wstring& MainIniFn, const std::wstring& AppendStr);

// Resolves MainIniFn, IniFn, Debug, the profile lists and every setting of the file in
// force. IniP is the folder the host named (may be empty). Raises "Range check error" for
// a negative Debug or ForceDentistID. Host shows the Debug messages.
void ResolveConfiguration(TLinkState& State, const std::wstring& IniP,
                          const control::TControlPlatform& Platform,
                          control::TControlNotices& Host);

}  // namespace deruz::link
