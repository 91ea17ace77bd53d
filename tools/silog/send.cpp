// silog send: logs messages through the library, like logger(1) does for syslog.
#include <cstdint>
#include <istream>
#include <ostream>

#include "logging/config/lookup_table.h"
#include "logging/core/logger.h"
#include "logging/core/session.h"
#include "tools/silog/commands.h"

namespace deruz::silog {

namespace {

constexpr const char* kHelp =
    "usage: silog send (--connections STRING | --config FILE) [--session NAME]\n"
    "                  [--level LEVEL] [--appname NAME] [TITLE...]\n"
    "\n"
    "Logs each TITLE (or, without titles, each line of standard input) as a message of the\n"
    "session NAME (default \"Main\") at LEVEL (debug, verbose, message, warning, error,\n"
    "fatal; default message). --config applies a logging configuration file and then\n"
    "enables logging. Errors of the connections or of the protocols are printed; the exit\n"
    "status is then 1.\n";

}  // namespace

int RunSend(const std::vector<std::string>& AArgs, TCommandIo& AIo) {
    using namespace deruz::logging;
    const TArgs args(AArgs, {"--connections", "--config", "--session", "--level", "--appname"},
                     {"--help"});
    if (args.Flag("--help")) {
        AIo.Out << kHelp;
        return 0;
    }
    const auto connections = args.Value("--connections");
    const auto config = args.Value("--config");
    if (!args.Ok() || connections.has_value() == config.has_value()) {
        AIo.Err << "silog send: "
                << (args.Ok() ? "give exactly one of --connections and --config" : args.Error())
                << "\n"
                << kHelp;
        return 2;
    }
    TSiLevel level = lvMessage;
    if (const auto text = args.Value("--level")) {
        TSiLookupTable table;
        table.Put("level", *text);
        level = table.GetLevelValue("level", lvControl);
        if (level == lvControl) {
            AIo.Err << "silog send: unknown level '" << *text << "'\n";
            return 2;
        }
    }

    TSiLogger logger(args.Value("--appname").value_or("silog"));
    bool failed = false;
    logger.SetOnError([&](TSiLogger&, const std::exception& e) {
        AIo.Err << e.what() << "\n";
        failed = true;
    });
    if (connections) {
        try {
            logger.SetConnections(*connections);
        } catch (const std::exception& e) {
            AIo.Err << e.what() << "\n";
            return 1;
        }
    } else {
        logger.LoadConfiguration(*config);
        if (failed) return 1;
    }
    logger.SetEnabled(true);

    TSiSession* session = logger.AddSession(args.Value("--session").value_or("Main"), true);
    auto send = [&](const std::string& title) {
        switch (level) {
            case lvDebug:
                session->LogDebug(title);
                break;
            case lvVerbose:
                session->LogVerbose(title);
                break;
            case lvWarning:
                session->LogWarning(title);
                break;
            case lvError:
                session->LogError(title);
                break;
            case lvFatal:
                session->LogFatal(title);
                break;
            default:
                session->LogMessage(title);
                break;
        }
    };
    if (!args.Positional().empty()) {
        for (const auto& title : args.Positional()) send(title);
    } else {
        std::string line;
        while (std::getline(AIo.In, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            send(line);
        }
    }
    logger.SetEnabled(false);  // disconnects: buffered and queued packets are written now
    // Dropping is allowed (a full backlog, an asynchronous queue without throttling) but never
    // silent.
    if (const std::uint64_t dropped = logger.DroppedPackets(); dropped > 0) {
        AIo.Err << "silog: " << dropped << (dropped == 1 ? " packet" : " packets") << " dropped\n";
    }
    return failed ? 1 : 0;
}

}  // namespace deruz::silog
