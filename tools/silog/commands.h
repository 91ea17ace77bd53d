// The commands of silog. Each takes the arguments after its name and returns the exit
// status: 0 success, 1 a failure of the work (with the exact error on standard error),
// 2 a usage error.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace deruz::silog {

struct TCommandIo {
    std::istream& In;
    std::ostream& Out;
    std::ostream& Err;
    // Whether Out may carry colour: a terminal, and NO_COLOR not set (see ColourWanted).
    bool Colour = false;
};

int RunCheck(const std::vector<std::string>& AArgs, TCommandIo& AIo);
int RunSend(const std::vector<std::string>& AArgs, TCommandIo& AIo);
int RunDump(const std::vector<std::string>& AArgs, TCommandIo& AIo);
int RunListen(const std::vector<std::string>& AArgs, TCommandIo& AIo);
int RunView(const std::vector<std::string>& AArgs, TCommandIo& AIo);
int RunCollect(const std::vector<std::string>& AArgs, TCommandIo& AIo);

// A small option reader: "--name value" and "--name=value" options, "--flag" flags and the
// remaining positional arguments. Unknown options are a usage error.
class TArgs {
  public:
    TArgs(const std::vector<std::string>& AArgs, const std::vector<std::string>& AValueOptions,
          const std::vector<std::string>& AFlags);
    bool Ok() const { return FError.empty(); }
    const std::string& Error() const { return FError; }
    std::optional<std::string> Value(const std::string& AName) const;
    std::vector<std::string> Values(const std::string& AName) const;
    bool Flag(const std::string& AName) const;
    const std::vector<std::string>& Positional() const { return FPositional; }

  private:
    std::vector<std::pair<std::string, std::string>> FValues;
    std::vector<std::string> FFlags;
    std::vector<std::string> FPositional;
    std::string FError;
};

}  // namespace deruz::silog
