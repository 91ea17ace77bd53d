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
    deruz::silog::feed::TFeedOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        try {
            if (arg == "--script") {
                options.Script = true;
            } else if (arg == "--count" && i + 1 < argc) {
                options.Count = std::stoull(argv[++i]);
            } else if (arg == "--threads" && i + 1 < argc) {
                options.Threads = static_cast<unsigned>(std::stoul(argv[++i]));
            } else if (arg == "--rate" && i + 1 < argc) {
                options.Rate = std::stod(argv[++i]);
            } else if (arg == "--control" && i + 1 < argc) {
                options.Control = argv[++i];
            } else if (arg == "--appname" && i + 1 < argc) {
                options.AppName = argv[++i];
            } else if (arg == "--help") {
                std::cout << kUsage;
                return 0;
            } else if (!arg.empty() && arg[0] != '-' && options.Connections.empty()) {
                options.Connections = arg;
            } else {
                std::cerr << "view-feed: unexpected argument '" << arg << "'\n" << kUsage;
                return 2;
            }
        } catch (const std::exception&) {
            std::cerr << "view-feed: " << arg << " takes a number\n";
            return 2;
        }
    }
    const int modes =
        (options.Script ? 1 : 0) + (options.Count > 0 ? 1 : 0) + (options.Control.empty() ? 0 : 1);
    if (options.Connections.empty() || modes != 1) {
        std::cerr << kUsage;
        return 2;
    }
    bool failed = false;
    std::cout << deruz::silog::feed::RunFeed(options, std::cerr, failed) << std::endl;
    return failed ? 1 : 0;
}
