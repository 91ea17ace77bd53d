// Logs to a log viewer over TCP, here `silog listen --tcp PORT`, which prints each line.
//   tcp_viewer PORT [HOST]
#include <silog/silog.h>

#include <cstdio>
#include <exception>
#include <string>

using namespace deruz::logging;

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: tcp_viewer PORT [HOST]\n");
        return 2;
    }
    const std::string LPort = argv[1];
    const std::string LHost = argc == 3 ? argv[2] : "127.0.0.1";
    bool LFailed = false;
    Si->SetOnError([&](TSiLogger&, const std::exception& AE) {
        std::fprintf(stderr, "tcp_viewer: %s\n", AE.what());
        LFailed = true;
    });
    // "timeout" (milliseconds) bounds the connect and each send; failures go to the error event.
    Si->SetConnections("tcp(host=" + LHost + ", port=" + LPort + ", timeout=5000)");
    Si->SetEnabled(true);  // connects

    SiMain->LogMessage("Hello from tcp_viewer");
    for (int LI = 1; LI <= 3; ++LI) {
        SiMain->LogVerbose("Step %d of %d", {LI, 3});
    }
    SiMain->LogWarning("Done");

    Si->SetEnabled(false);  // disconnects; the viewer sees the client go
    return LFailed ? 1 : 0;
}
