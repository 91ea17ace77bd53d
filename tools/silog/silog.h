// silog: the command-line companion of the logging library. Each command is a function over
// its arguments and standard streams, so tests drive it in process; main() only adapts the
// platform's command line.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace deruz::silog {

// Runs one command line (without the program name); returns the exit status.
int SilogMain(const std::vector<std::string>& AArgs, std::istream& AIn, std::ostream& AOut,
              std::ostream& AErr);

}  // namespace deruz::silog
