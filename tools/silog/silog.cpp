#include "tools/silog/silog.h"

#include <istream>
#include <map>
#include <ostream>

#include "tools/silog/commands.h"

namespace deruz::silog {

namespace {

constexpr const char* kUsage =
    "usage: silog COMMAND [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  check   parse a connections string or configuration file and print its protocols\n"
    "  collect store every client's log per host and application and forward it to syslog\n"
    "  dump    print the packets of log files and memory dumps\n"
    "  listen  serve as a log viewer on a pipe and/or TCP port and print every packet\n"
    "  send    log messages through a connections string or configuration file\n"
    "  view    serve a live log viewer page fed by pipe and TCP clients and log files\n"
    "\n"
    "silog COMMAND --help shows the options of a command.\n";

}  // namespace

bool ColourWanted(bool AIsTerminal, const char* ANoColor) {
    return AIsTerminal && (ANoColor == nullptr || *ANoColor == '\0');
}

int SilogMain(const std::vector<std::string>& AArgs, std::istream& AIn, std::ostream& AOut,
              std::ostream& AErr, bool AColour) {
    if (AArgs.empty() || AArgs[0] == "--help" || AArgs[0] == "-h" || AArgs[0] == "help") {
        (AArgs.empty() ? AErr : AOut) << kUsage;
        return AArgs.empty() ? 2 : 0;
    }
    const std::vector<std::string> LRest(AArgs.begin() + 1, AArgs.end());
    TCommandIo LIo{AIn, AOut, AErr, AColour};
    static const std::map<std::string, int (*)(const std::vector<std::string>&, TCommandIo&)>
        LCommands = {{"check", RunCheck},   {"collect", RunCollect}, {"dump", RunDump},
                     {"listen", RunListen}, {"send", RunSend},       {"view", RunView}};
    const auto LIt = LCommands.find(AArgs[0]);
    if (LIt == LCommands.end()) {
        AErr << "silog: unknown command '" << AArgs[0] << "'\n" << kUsage;
        return 2;
    }
    try {
        return LIt->second(LRest, LIo);
    } catch (const std::exception& LE) {
        AErr << "silog: " << LE.what() << "\n";
        return 1;
    }
}

}  // namespace deruz::silog
