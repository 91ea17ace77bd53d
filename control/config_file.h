// The link's configuration file as the imaging-application control reads it too: the section
// of the link's settings, the length of its text settings, and "oxprogram", which the
// initialisation reads and every restart reads again.
#pragma once

#include <cstddef>
#include <string>

#include "control/control_platform.h"

namespace deruz::control {

// The link's settings in the configuration file.
inline constexpr wchar_t kIniSection[] = L"OndarixDDE";
// Text settings ("oxprogram", "ForceExtRoleID") are cut to this many characters.
inline constexpr std::size_t kTextChars = 512;

// "oxprogram" of the configuration file File, lower-cased; empty when no file is in force yet.
std::wstring ReadOxProgram(TIniReader& AIni, const std::wstring& AFile);

}  // namespace deruz::control
