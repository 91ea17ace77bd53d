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
    bool LFailed = false;
    Si->SetOnError([&](TSiLogger&, const std::exception& AE) {
        std::fprintf(stderr, "config_sessions: %s\n", AE.what());
        LFailed = true;
    });
    Si->SetVariable("logfile", argv[2]);  // expanded in the file's connections string
    Si->LoadConfiguration(argv[1]);       // connections, enabled, level, session settings

    // Sessions take their settings from the file by name when they are added.
    TSiSession* LNetwork = Si->AddSession("Network");
    TSiSession* LDatabase = Si->AddSession("Database");
    TSiSession* LCache = Si->AddSession("Cache");
    TSiSession* LUi = Si->AddSession("Ui");  // only the defaults

    for (TSiSession* LSession : {&*SiMain, LNetwork, LDatabase, LCache, LUi}) {
        LSession->LogDebug("%s: debug", {LSession->Name()});
        LSession->LogMessage("%s: message", {LSession->Name()});
        LSession->LogError("%s: error", {LSession->Name()});
    }

    Si->SetEnabled(false);
    return LFailed ? 1 : 0;
}
