// silog: the command-line companion of the logging library. Each command is a function over
// its arguments and standard streams, so tests drive it in process; main() only adapts the
// platform's command line.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace deruz::silog {

// Runs one command line (without the program name); returns the exit status. AColour: whether
// the output may be coloured (see ColourWanted).
int SilogMain(const std::vector<std::string>& AArgs, std::istream& AIn, std::ostream& AOut,
              std::ostream& AErr, bool AColour = false);

// Whether to colour standard output: only on a terminal, and never when the environment
// variable NO_COLOR is set to a non-empty value (ANoColor: its value, or null when unset).
bool ColourWanted(bool AIsTerminal, const char* ANoColor);

}  // namespace deruz::silog
