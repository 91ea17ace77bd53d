// The sessions of one logger core: TSiSessionManager keeps them (owning every session added,
// with a name table of the stored ones) and gives each the defaults and the settings that a
// configuration file gives its name (session_defaults.h). Names match without regard to ASCII
// letter case. Only the core uses it (logger.cpp).
//
// Thread-safety: the manager is thread-safe (its own re-entrant lock). Lock order: a session's
// lock before the manager's (renaming), never the reverse; the manager reads a session's name
// without the session's lock (see TSiSession::NameUnshared).
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "logging/base/hash.h"
#include "logging/core/session_defaults.h"

namespace deruz::logging {

class TSiConfiguration;
class TSiSession;

// All sessions of one core in order of adding (owned), a name table of the stored ones, and
// the settings a configuration file gave per session name.
class TSiSessionManager {
  public:
    TSiSessionManager();
    ~TSiSessionManager();

    // Takes ownership and returns the session (null for none). Applies the defaults, then any
    // configured settings for its name.
    TSiSession* Add(std::unique_ptr<TSiSession> ASession, bool AStore);
    // Removes and frees the session.
    void Delete(TSiSession* ASession);
    TSiSession* Get(std::string_view AName);
    // A stored session is renamed from AFrom to ATo.
    void Update(TSiSession* ASession, const std::string& ATo, const std::string& AFrom);
    // Reads the "session.<name>.<setting>" and "sessiondefaults.<setting>" keys.
    void LoadConfiguration(const TSiConfiguration& AConfig);

    TSiSessionDefaults Defaults();
    void SetDefaults(const TSiSessionDefaults& ADefaults);

  private:
    void Configure(TSiSession& ASession, std::string_view AName);
    TSiSession* Stored(std::string_view AName) const noexcept;
    static void Assign(TSiSession& ASession, const TSiSessionInfo& AInfo);
    void LoadInfos(const TSiConfiguration& AConfig);
    void LoadDefaults(const TSiConfiguration& AConfig);

    std::recursive_mutex FCriticalSection;
    std::vector<std::unique_ptr<TSiSession>> FSessionList;
    // Names of the stored sessions (not owned: FSessionList owns them).
    TSiHash<TSiSession*> FSessionTable;
    TSiObjectHash<std::unique_ptr<TSiSessionInfo>> FSessionInfos;
    TSiSessionDefaults FDefaults;
};

}  // namespace deruz::logging
