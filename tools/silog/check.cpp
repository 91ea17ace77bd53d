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
    const TArgs args(AArgs, {"--config"}, {"--help"});
    if (args.Flag("--help")) {
        AIo.Out << kHelp;
        return 0;
    }
    const auto config = args.Value("--config");
    if (!args.Ok() || (config.has_value() == (args.Positional().size() == 1)) ||
        args.Positional().size() > 1) {
        AIo.Err << "silog check: "
                << (args.Ok() ? "give a connections string or --config" : args.Error()) << "\n"
                << kHelp;
        return 2;
    }
    try {
        std::string connections;
        if (config) {
            TSiConfiguration file;
            file.LoadFromFile(*config);
            if (!file.Contains("connections")) {
                throw ESiError("A connections string doesn't exist in the supplied file");
            }
            connections = file.ReadString("connections", "");
        } else {
            connections = args.Positional()[0];
        }
        std::string text;
        for (const TSiConnectionEntry& entry : SiParseConnections(connections)) {
            auto protocol = TSiProtocolFactory::GetProtocol(entry.Protocol, entry.Options);
            text += protocol->GetName() + "(" + protocol->GetOptions() + ")\n";
        }
        AIo.Out << text;
        return 0;
    } catch (const std::exception& e) {
        AIo.Err << e.what() << "\n";
        return 1;
    }
}

}  // namespace deruz::silog
