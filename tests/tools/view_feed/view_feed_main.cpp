// view-feed: logs a fixed script, or many messages as fast as it can, through the logging
// library to the connections given, and prints on standard output what it sent (JSON).
#include <iostream>
#include <string>

#include "tests/tools/view_feed/feed.h"

namespace {

constexpr const char* kUsage =
    "usage: view-feed --script CONNECTIONS\n"
    "       view-feed --count N [--threads K] [--rate R] CONNECTIONS\n"
    "       view-feed --control COMMAND CONNECTIONS\n"
    "\n"
    "Logs through the logging library to CONNECTIONS (for example\n"
    "\"tcp(host=127.0.0.1,port=4228)\", \"pipe(pipename=silog)\" or\n"
    "\"file(filename=log.sil)\"): with --script a fixed script that covers every packet kind,\n"
    "entry type, viewer, watch type, flow type and control command, with hostile titles;\n"
    "with --count N threads (K, default 1) that log N messages \"message %d\" together as\n"
    "fast as they can, or at R entries per second in all (--rate); with --control one\n"
    "control command (ClearLog, ClearWatches, ClearAutoViews, ClearAll, ClearProcessFlow).\n"
    "Prints a JSON summary of what was sent; errors go to standard error and make the exit\n"
    "status 1.\n";

}  // namespace

int main(int argc, char** argv) {
    deruz::silog::feed::TFeedOptions LOptions;
    for (int LI = 1; LI < argc; ++LI) {
        const std::string LArg = argv[LI];
        try {
            if (LArg == "--script") {
                LOptions.Script = true;
            } else if (LArg == "--count" && LI + 1 < argc) {
                LOptions.Count = std::stoull(argv[++LI]);
            } else if (LArg == "--threads" && LI + 1 < argc) {
                LOptions.Threads = static_cast<unsigned>(std::stoul(argv[++LI]));
            } else if (LArg == "--rate" && LI + 1 < argc) {
                LOptions.Rate = std::stod(argv[++LI]);
            } else if (LArg == "--control" && LI + 1 < argc) {
                LOptions.Control = argv[++LI];
            } else if (LArg == "--appname" && LI + 1 < argc) {
                LOptions.AppName = argv[++LI];
            } else if (LArg == "--help") {
                std::cout << kUsage;
                return 0;
            } else if (!LArg.empty() && LArg[0] != '-' && LOptions.Connections.empty()) {
                LOptions.Connections = LArg;
            } else {
                std::cerr << "view-feed: unexpected argument '" << LArg << "'\n" << kUsage;
                return 2;
            }
        } catch (const std::exception&) {
            std::cerr << "view-feed: " << LArg << " takes a number\n";
            return 2;
        }
    }
    const int LModes = (LOptions.Script ? 1 : 0) + (LOptions.Count > 0 ? 1 : 0) +
                       (LOptions.Control.empty() ? 0 : 1);
    if (LOptions.Connections.empty() || LModes != 1) {
        std::cerr << kUsage;
        return 2;
    }
    bool LFailed = false;
    std::cout << deruz::silog::feed::RunFeed(LOptions, std::cerr, LFailed) << std::endl;
    return LFailed ? 1 : 0;
}
