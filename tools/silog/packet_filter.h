// The packet filters of `silog listen` and `silog dump`: --session NAME (repeatable),
// --min-level LEVEL and --since/--until TIME.
//
// A packet is printed when it passes every filter given. A filter prints only what it can
// show to match: --session and --min-level select log entries (the other kinds carry neither
// a session nor an entry type and are left out when either is given); --since and --until
// select the packets that carry a timestamp (log entries, watches, process flows; control
// commands and log headers are left out when either is given).
//
// --min-level compares the entry type, the only severity the binary format carries: Debug <
// Verbose < Message < Warning < Error < Fatal, with InternalError and Assert counted as Error
// (the library always sends them at that level). The other types carry no severity and pass
// only --min-level debug.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logging/base/datetime.h"
#include "logging/packets/packet.h"
#include "tools/silog/commands.h"

namespace deruz::silog {

class TPacketFilter {
  public:
    // The value options that FromArgs reads, for the commands' option lists.
    static const std::vector<std::string>& Options();
    // The filter that the options of AArgs describe, or nothing with AError set (a usage
    // error: an unknown level or a time that cannot be read).
    static std::optional<TPacketFilter> FromArgs(const TArgs& AArgs, std::string& AError);

    bool Matches(const logging::TSiPacket& APacket) const;

  private:
    std::vector<std::string> FSessions;
    int FMinRank = -1;
    std::optional<logging::TSiDayTime> FSince;
    std::optional<logging::TSiDayTime> FUntil;
};

// Reads a local time for --since and --until: "yyyy-mm-dd", "yyyy-mm-dd hh:nn[:ss[.zzz]]"
// (or "T" between date and time) or "hh:nn[:ss[.zzz]]" (today).
std::optional<logging::TDateTime> ParseLocalTime(std::string_view AText);

// The rank of an entry type for --min-level (0 Debug to 5 Fatal), or -1 for the types that
// carry no severity.
int SeverityRank(logging::TSiLogEntryType AType);

}  // namespace deruz::silog
