// The settings a logger core gives its sessions: the defaults every new session starts with
// (TSiSessionDefaults), and the settings that a configuration file gives one session name
// (TSiSessionInfo). Plain values; the session manager (session_manager.h) applies them.
#pragma once

#include <string>

#include "logging/base/enums.h"
#include "logging/base/level.h"

namespace deruz::logging {

class TSiSession;

// Settings every new session starts with.
struct TSiSessionDefaults {
    TSiLevel Level = lvDebug;
    bool Active = true;
    TSiColor Color = clWindow;

    // Copies Active, Color and Level into a session.
    void Assign(TSiSession& ASession) const;
};

// Per-session settings from a configuration file; the Has flags tell which it gave.
struct TSiSessionInfo {
    TSiLevel Level = lvDebug;
    TSiColor Color = clWindow;
    bool Active = true;
    std::string Name;
    bool HasLevel = false;
    bool HasColor = false;
    bool HasActive = false;
};

}  // namespace deruz::logging
