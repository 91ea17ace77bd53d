#include "link/link_log.h"

// The logging library is not wired in yet: until its sessions exist these calls write
// nothing, exactly as the link behaves when no log viewer listens.
namespace deruz::link::linklog {

void Start() {}

void Message(std::string_view) {}

TMethodTrack::TMethodTrack(std::string_view name) : FName(name) {}

TMethodTrack::~TMethodTrack() = default;

}  // namespace deruz::link::linklog
