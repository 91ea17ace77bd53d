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
    const std::string port = argv[1];
    const std::string host = argc == 3 ? argv[2] : "127.0.0.1";
    bool failed = false;
    Si->SetOnError([&](TSiLogger&, const std::exception& e) {
        std::fprintf(stderr, "tcp_viewer: %s\n", e.what());
        failed = true;
    });
    // "timeout" (milliseconds) bounds the connect and each send; failures go to the error event.
    Si->SetConnections("tcp(host=" + host + ", port=" + port + ", timeout=5000)");
    Si->SetEnabled(true);  // connects

    SiMain->LogMessage("Hello from tcp_viewer");
    for (int i = 1; i <= 3; ++i) {
        SiMain->LogVerbose("Step %d of %d", {i, 3});
    }
    SiMain->LogWarning("Done");

    Si->SetEnabled(false);  // disconnects; the viewer sees the client go
    return failed ? 1 : 0;
}
