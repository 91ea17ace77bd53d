// The link's configuration: which configuration file is in force (the main "deruz64.ini" or
// a copy of it per remote client, computer or user) and the settings read from it.
#pragma once

#include <cstdint>
#include <string>

#include "control/control_platform.h"
#include "link/link_types.h"
#include "link/user_messages.h"
#include "systools/strings.h"

namespace deruz::link {

inline constexpr wchar_t kMainIniName[] = L"deruz64.ini";

// What one initialisation resolved. Before the first, every setting is at its zero value.
struct TLinkConfig {
    std::wstring MainIniFn;  // the main file
    std::wstring IniFn;      // the file in force: the main file or a profile copy
    std::int32_t Debug = 0;  // diagnostic level (from the main file)
    // Names that have a profile of their own (from the main file). Each initialisation
    // appends what it reads to the lists of the configuration it replaces.
    systools::TStringList UserNames;
    systools::TStringList ComputerNames;
    systools::TStringList ClientNames;
    std::uint32_t StartUpDelay = 0;  // ms
    bool UseMutex = false;
    TLinkMode LinkMode = lmNormal;
    bool UsePid = false;
    bool UseMarshalling = false;
    bool DetectOndarix = false;
    bool SetActiveWnd = false;
    std::wstring OxApp;  // "oxprogram", lower-cased; empty: the registry decides
    std::int32_t ForceDentistID = 0;
    std::wstring ForceExtRoleID;
};

// The profile file name: the main file's path without its extension, "_", AppendStr,
// ".ini" ("C:\Link\deruz64_PC01.ini" for "C:\Link\deruz64.ini" and "PC01").
std::wstring CreateCustomIniFn(const std::wstring& AMainIniFn, const std::wstring& APpendStr);

// Resolves the configuration file in force and every setting in it. IniP: the folder the
// host named (may be empty); DllFn: the library's path; InForce: the configuration this one
// replaces (its profile lists are extended). The profile chosen is shown through Messages
// at the Debug level just read; a profile that does not exist yet is copied from the main
// file. Raises "Range check error" for a negative Debug or ForceDentistID.
TLinkConfig ResolveConfiguration(const std::wstring& AIniP, const std::wstring& ADllFn,
                                 const TLinkConfig& AInForce,
                                 const control::TControlPlatform& APlatform,
                                 const TUserMessages& AMessages);

}  // namespace deruz::link
