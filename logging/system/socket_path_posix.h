// Shared by the POSIX pipe client and the POSIX viewer listener: the folder that holds the
// sockets standing in for named pipes must belong to the user and be closed to everyone else,
// or another user could stand in for the viewer and read the log.
//
// Thread safety: the functions keep no state.
#pragma once

#include <string>

namespace deruz::logging::posix {

// 0 when the folder that holds the socket APath is a directory (not a link) owned by this user
// with no access for group or others; else an errno value (ENOENT when it is missing, EACCES
// when it is not safe).
int SiCheckSocketFolder(const std::string& APath) noexcept;

// Creates that folder (mode 0700) when missing, then checks it as above.
int SiPrepareSocketFolder(const std::string& APath) noexcept;

}  // namespace deruz::logging::posix
