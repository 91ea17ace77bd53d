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
    const TArgs LArgs(AArgs, {"--connections", "--config", "--session", "--level", "--appname"},
                      {"--help"});
    if (LArgs.Flag("--help")) {
        AIo.Out << kHelp;
        return 0;
    }
    const auto LConnections = LArgs.Value("--connections");
    const auto LConfig = LArgs.Value("--config");
    if (!LArgs.Ok() || LConnections.has_value() == LConfig.has_value()) {
        AIo.Err << "silog send: "
                << (LArgs.Ok() ? "give exactly one of --connections and --config" : LArgs.Error())
                << "\n"
                << kHelp;
        return 2;
    }
    TSiLevel LLevel = lvMessage;
    if (const auto LText = LArgs.Value("--level")) {
        TSiLookupTable LTable;
        LTable.Put("level", *LText);
        LLevel = LTable.GetLevelValue("level", lvControl);
        if (LLevel == lvControl) {
            AIo.Err << "silog send: unknown level '" << *LText << "'\n";
            return 2;
        }
    }

    TSiLogger LLogger(LArgs.Value("--appname").value_or("silog"));
    bool LFailed = false;
    LLogger.SetOnError([&](TSiLogger&, const std::exception& AE) {
        AIo.Err << AE.what() << "\n";
        LFailed = true;
    });
    if (LConnections) {
        try {
            LLogger.SetConnections(*LConnections);
        } catch (const std::exception& LE) {
            AIo.Err << LE.what() << "\n";
            return 1;
        }
    } else {
        LLogger.LoadConfiguration(*LConfig);
        if (LFailed) return 1;
    }
    LLogger.SetEnabled(true);

    TSiSession* LSession = LLogger.AddSession(LArgs.Value("--session").value_or("Main"), true);
    auto LSend = [&](const std::string& ATitle) {
        switch (LLevel) {
            case lvDebug:
                LSession->LogDebug(ATitle);
                break;
            case lvVerbose:
                LSession->LogVerbose(ATitle);
                break;
            case lvWarning:
                LSession->LogWarning(ATitle);
                break;
            case lvError:
                LSession->LogError(ATitle);
                break;
            case lvFatal:
                LSession->LogFatal(ATitle);
                break;
            default:
                LSession->LogMessage(ATitle);
                break;
        }
    };
    if (!LArgs.Positional().empty()) {
        for (const auto& LTitle : LArgs.Positional()) LSend(LTitle);
    } else {
        std::string LLine;
        while (std::getline(AIo.In, LLine)) {
            if (!LLine.empty() && LLine.back() == '\r') LLine.pop_back();
            LSend(LLine);
        }
    }
    LLogger.SetEnabled(false);  // disconnects: buffered and queued packets are written now
    // Dropping is allowed (a full backlog, an asynchronous queue without throttling) but never
    // silent.
    if (const std::uint64_t LDropped = LLogger.DroppedPackets(); LDropped > 0) {
        AIo.Err << "silog: " << LDropped << (LDropped == 1 ? " packet" : " packets")
                << " dropped\n";
    }
    return LFailed ? 1 : 0;
}

}  // namespace deruz::silog
