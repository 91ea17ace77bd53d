// The link's own diagnostic log: every export and the load steps write through these few
// calls, so where the link's log goes is decided in this one place.
#pragma once

#include <string_view>

namespace deruz::link::linklog {

// Load steps 1 to 6: connect the process logger, create the link's session, enable
// logging and log the start.
void Start();

// One message on the link's session.
void Message(std::string_view text);

// A method track on the link's session: entered now, left when the object goes away.
class TMethodTrack {
  public:
    explicit TMethodTrack(std::string_view name);
    ~TMethodTrack();
    TMethodTrack(const TMethodTrack&) = delete;
    TMethodTrack& operator=(const TMethodTrack&) = delete;

  private:
    std::string_view FName;
};

}  // namespace deruz::link::linklog
