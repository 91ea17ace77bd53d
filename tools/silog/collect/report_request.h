// A request for silog collect's state report from outside: SIGUSR1 on POSIX systems, Ctrl+Break
// in the console on Windows. Installing it also makes writes to a closed connection fail with an
// error instead of ending the process (SIGPIPE), where the system has that signal.
#pragma once

namespace deruz::silog::collect {

void InstallReportRequest();
// Whether a report was asked for since the last call.
bool TakeReportRequest();
// How to ask, for the help text and the start-up line.
const char* ReportRequestHint();

}  // namespace deruz::silog::collect
