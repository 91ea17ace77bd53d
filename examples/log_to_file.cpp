// Logs a few lines to a binary log file; `silog dump FILE` prints them back.
//   log_to_file FILE
#include <silog/silog.h>

#include <cstdio>
#include <exception>
#include <string>

using namespace deruz::logging;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: log_to_file FILE\n");
        return 2;
    }
    // Logging never throws at the code that logs: failures (a file that cannot be opened)
    // go to the error event.
    bool LFailed = false;
    Si->SetOnError([&](TSiLogger&, const std::exception& AE) {
        std::fprintf(stderr, "log_to_file: %s\n", AE.what());
        LFailed = true;
    });
    // One protocol, "file", with its options; a quoted value may hold commas and spaces.
    Si->SetConnections("file(filename=\"" + std::string(argv[1]) + "\")");
    Si->SetEnabled(true);

    SiMain->LogMessage("Hello from log_to_file");
    SiMain->LogWarning("%d of %d disks are %s", {1, 3, "full"});
    TSiSession* LDb = Si->AddSession("Database");
    LDb->LogError("Connection lost");

    Si->SetEnabled(false);  // disconnects the protocols: the file is complete
    return LFailed ? 1 : 0;
}
