// Ctrl+C (SIGINT) and SIGTERM for the commands that run until interrupted (listen, dump
// --follow): the handler only raises a flag that their loops poll.
#pragma once

namespace deruz::silog {

// Clears the flag and installs the handler for SIGINT and SIGTERM.
void InstallInterruptHandler();
bool Interrupted();

}  // namespace deruz::silog
