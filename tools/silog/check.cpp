// silog check: what a connections string (or the one in a configuration file) turns into.
#include <ostream>

#include "logging/config/configuration.h"
#include "logging/config/connections.h"
#include "logging/protocols/protocol.h"
#include "tools/silog/commands.h"

namespace deruz::silog {

namespace {

constexpr const char* kHelp =
    "usage: silog check CONNECTIONS\n"
    "       silog check --config FILE\n"
    "\n"
    "Parses the connections string (or the key \"connections\" of a logging configuration\n"
    "file) and prints each protocol with all of its options, as a connections string.\n"
    "On an invalid string prints the exact error and exits with status 1.\n";

}  // namespace

int RunCheck(const std::vector<std::string>& AArgs, TCommandIo& AIo) {
    using namespace deruz::logging;
    const TArgs LArgs(AArgs, {"--config"}, {"--help"});
    if (LArgs.Flag("--help")) {
        AIo.Out << kHelp;
        return 0;
    }
    const auto LConfig = LArgs.Value("--config");
    if (!LArgs.Ok() || (LConfig.has_value() == (LArgs.Positional().size() == 1)) ||
        LArgs.Positional().size() > 1) {
        AIo.Err << "silog check: "
                << (LArgs.Ok() ? "give a connections string or --config" : LArgs.Error()) << "\n"
                << kHelp;
        return 2;
    }
    try {
        std::string LConnections;
        if (LConfig) {
            TSiConfiguration LFile;
            LFile.LoadFromFile(*LConfig);
            if (!LFile.Contains("connections")) {
                throw ESiError("A connections string doesn't exist in the supplied file");
            }
            LConnections = LFile.ReadString("connections", "");
        } else {
            LConnections = LArgs.Positional()[0];
        }
        std::string LText;
        for (const TSiConnectionEntry& LEntry : SiParseConnections(LConnections)) {
            auto LProtocol = TSiProtocolFactory::GetProtocol(LEntry.Protocol, LEntry.Options);
            LText += LProtocol->GetName() + "(" + LProtocol->GetOptions() + ")\n";
        }
        AIo.Out << LText;
        return 0;
    } catch (const std::exception& LE) {
        AIo.Err << LE.what() << "\n";
        return 1;
    }
}

}  // namespace deruz::silog
