// silog listen: serves a pipe name and/or a TCP port as a log viewer does and prints every
// packet that arrives.
#include <atomic>
#include <chrono>
#include <csignal>
#include <mutex>
#include <ostream>
#include <thread>

#include "logging/format/text_formatter.h"
#include "logging/viewer/viewer_server.h"
#include "tools/silog/commands.h"
#include "tools/silog/interrupt.h"
#include "tools/silog/packet_filter.h"
#include "tools/silog/packet_printer.h"
#include "tools/silog/text_escape.h"

namespace deruz::silog {

namespace {

using namespace deruz::logging;

constexpr const char* kHelp =
    "usage: silog listen [--pipe NAME] [--tcp PORT] [--format text|json] [--pattern PATTERN]\n"
    "                    [--count N] [--once] [--wait SECONDS] [--session NAME]...\n"
    "                    [--min-level LEVEL] [--since TIME] [--until TIME]\n"
    "\n"
    "Serves as a log viewer: accepts one client after another on the pipe NAME (default\n"
    "\"silog\", the pipe protocol's default) and/or the TCP port PORT, and prints one line per\n"
    "packet to standard output (log entries through PATTERN, default\n"
    "\"[%timestamp%] %level%: %title%\", where %level% is the entry type; JSON objects with\n"
    "--format json). Connections and their errors are reported on standard error. Runs until\n"
    "interrupted, until N packets were printed, or (--once) until the first client\n"
    "disconnects. With --once, a client must connect within SECONDS (default 60; 0 waits\n"
    "for ever), or listen stops with status 1 and says so. The filters are those of\n"
    "silog dump (see silog dump --help).\n";

// How long --once waits for its client unless told otherwise: a script that starts the
// viewer and then a program that fails before it connects must not hang.
constexpr std::uint64_t kDefaultOnceWait = 60;

}  // namespace

int RunListen(const std::vector<std::string>& AArgs, TCommandIo& AIo) {
    std::vector<std::string> valueOptions = {"--pipe",    "--tcp",   "--format",
                                             "--pattern", "--count", "--wait"};
    valueOptions.insert(valueOptions.end(), TPacketFilter::Options().begin(),
                        TPacketFilter::Options().end());
    const TArgs args(AArgs, valueOptions, {"--help", "--once"});
    const bool once = args.Flag("--once");
    std::atomic<bool> clientGone{false};
    if (args.Flag("--help")) {
        AIo.Out << kHelp;
        return 0;
    }
    const std::string format = args.Value("--format").value_or("text");
    std::string usage;
    if (!args.Ok()) {
        usage = args.Error();
    } else if (!args.Positional().empty()) {
        usage = "unexpected argument '" + args.Positional()[0] + "'";
    } else if (format != "text" && format != "json") {
        usage = "unknown format '" + format + "'";
    }
    std::optional<TPacketFilter> filter;
    if (usage.empty()) filter = TPacketFilter::FromArgs(args, usage);
    TSiViewerServerOptions options;
    std::uint64_t count = 0;
    std::uint64_t waitSeconds = kDefaultOnceWait;
    try {
        if (const auto port = args.Value("--tcp")) {
            const unsigned long value = std::stoul(*port);
            if (value > 65535) throw std::out_of_range("port");
            options.Tcp = true;
            options.TcpPort = static_cast<std::uint16_t>(value);
        }
        if (const auto n = args.Value("--count")) count = std::stoull(*n);
        if (const auto n = args.Value("--wait")) waitSeconds = std::stoull(*n);
    } catch (const std::exception&) {
        usage = "--tcp takes a port from 0 to 65535, --count and --wait a number";
    }
    if (usage.empty() && args.Value("--wait") && !once) usage = "--wait needs --once";
    if (!usage.empty()) {
        AIo.Err << "silog listen: " << usage << "\n" << kHelp;
        return 2;
    }
    options.PipeName = args.Value("--pipe").value_or(options.Tcp ? "" : "silog");

    std::mutex outputLock;
    TPacketPrinter printer(AIo.Out, format == "json" ? TOutputFormat::Json : TOutputFormat::Text,
                           args.Value("--pattern").value_or(std::string(CSiDefaultPattern)),
                           AIo.Colour);
    std::atomic<std::uint64_t> printed{0};
    TSiViewerServer server(options);
    auto name = [](const TSiViewerConnection& c) {
        return std::string(c.Transport == TSiViewerTransport::vtPipe ? "pipe" : "tcp") +
               " client " + std::to_string(c.Number);
    };
    server.OnConnect = [&](const TSiViewerConnection& c) {
        std::lock_guard lock(outputLock);
        AIo.Err << "silog: " << name(c) << " connected: \"" << EscapeText(c.ClientBanner) << "\""
                << std::endl;
    };
    server.OnDisconnect = [&](const TSiViewerConnection& c, const std::string& error) {
        std::lock_guard lock(outputLock);
        AIo.Err << "silog: " << name(c) << " disconnected" << (error.empty() ? "" : ": ")
                << EscapeText(error) << std::endl;
        if (once) clientGone.store(true);
    };
    server.OnListenError = [&](TSiViewerTransport, const std::string& error) {
        std::lock_guard lock(outputLock);
        AIo.Err << "silog: " << error << std::endl;
    };
    server.OnPacket = [&](const TSiViewerConnection&, TSiPacket& packet) {
        std::lock_guard lock(outputLock);
        if (count != 0 && printed.load() >= count) return;
        if (!filter->Matches(packet)) return;
        printer.Print(packet);
        if (++printed == count) server.RequestStop();
    };
    try {
        server.Start();
    } catch (const std::exception& e) {
        AIo.Err << "silog listen: " << e.what() << "\n";
        return 1;
    }
    if (options.Tcp) {
        std::lock_guard lock(outputLock);
        AIo.Err << "silog: listening on TCP port " << server.TcpPort() << std::endl;
    }
    if (!options.PipeName.empty()) {
        std::lock_guard lock(outputLock);
        AIo.Err << "silog: listening on pipe " << options.PipeName << std::endl;
    }
    InstallInterruptHandler();
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    while (!Interrupted() && !clientGone.load() && (count == 0 || printed.load() < count)) {
        if (once && waitSeconds != 0 && server.Connections() == 0 &&
            std::chrono::steady_clock::now() - start >= std::chrono::seconds(waitSeconds)) {
            std::lock_guard lock(outputLock);
            AIo.Err << "silog listen: no client connected within " << waitSeconds << " s"
                    << std::endl;
            status = 1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    server.Stop();
    return status;
}

}  // namespace deruz::silog
