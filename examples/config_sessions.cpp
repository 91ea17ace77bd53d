// Takes the connections, the thresholds and each session's level from a configuration file
// (config_sessions.sic beside this file); the file's $logfile$ names where the log goes.
//   config_sessions CONFIG LOGFILE
#include <silog/silog.h>

#include <cstdio>
#include <exception>

using namespace deruz::logging;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: config_sessions CONFIG LOGFILE\n");
        return 2;
    }
    bool failed = false;
    Si->SetOnError([&](TSiLogger&, const std::exception& e) {
        std::fprintf(stderr, "config_sessions: %s\n", e.what());
        failed = true;
    });
    Si->SetVariable("logfile", argv[2]);  // expanded in the file's connections string
    Si->LoadConfiguration(argv[1]);       // connections, enabled, level, session settings

    // Sessions take their settings from the file by name when they are added.
    TSiSession* network = Si->AddSession("Network");
    TSiSession* database = Si->AddSession("Database");
    TSiSession* cache = Si->AddSession("Cache");
    TSiSession* ui = Si->AddSession("Ui");  // only the defaults

    for (TSiSession* session : {&*SiMain, network, database, cache, ui}) {
        session->LogDebug("%s: debug", {session->Name()});
        session->LogMessage("%s: message", {session->Name()});
        session->LogError("%s: error", {session->Name()});
    }

    Si->SetEnabled(false);
    return failed ? 1 : 0;
}
