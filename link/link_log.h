// The link's own diagnostic log: every export and the load steps write through these few
// calls to the link's session `SiLog` of the process logger, so where the link's log goes is
// decided in this one place.
#pragma once

#include <string_view>

#include "logging/core/session.h"

namespace deruz::link::linklog {

// Load steps 1 to 5: the process logger's connections "pipe()", the inspector context
// "FindOptions", the session "DeRuz64" in green, enabling, and the custom context sent
// through the main session.
void Start();

// One message on the link's session.
void Message(std::string_view AText);

// A method track on the link's session: entered now, left when the object goes away.
class TMethodTrack {
  public:
    explicit TMethodTrack(std::string_view AName);
    TMethodTrack(const TMethodTrack&) = delete;
    TMethodTrack& operator=(const TMethodTrack&) = delete;

  private:
    logging::ISiMethodTracker FTracker;
};

// The link's session (null before Start).
logging::TSiSession* SiLog();

}  // namespace deruz::link::linklog
