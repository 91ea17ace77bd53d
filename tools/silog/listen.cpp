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
    std::vector<std::string> LValueOptions = {"--pipe",    "--tcp",   "--format",
                                              "--pattern", "--count", "--wait"};
    LValueOptions.insert(LValueOptions.end(), TPacketFilter::Options().begin(),
                         TPacketFilter::Options().end());
    const TArgs LArgs(AArgs, LValueOptions, {"--help", "--once"});
    const bool LOnce = LArgs.Flag("--once");
    std::atomic<bool> LClientGone{false};
    if (LArgs.Flag("--help")) {
        AIo.Out << kHelp;
        return 0;
    }
    const std::string LFormat = LArgs.Value("--format").value_or("text");
    std::string LUsage;
    if (!LArgs.Ok()) {
        LUsage = LArgs.Error();
    } else if (!LArgs.Positional().empty()) {
        LUsage = "unexpected argument '" + LArgs.Positional()[0] + "'";
    } else if (LFormat != "text" && LFormat != "json") {
        LUsage = "unknown format '" + LFormat + "'";
    }
    std::optional<TPacketFilter> LFilter;
    if (LUsage.empty()) LFilter = TPacketFilter::FromArgs(LArgs, LUsage);
    TSiViewerServerOptions LOptions;
    std::uint64_t LCount = 0;
    std::uint64_t LWaitSeconds = kDefaultOnceWait;
    try {
        if (const auto LPort = LArgs.Value("--tcp")) {
            const unsigned long LValue = std::stoul(*LPort);
            if (LValue > 65535) throw std::out_of_range("port");
            LOptions.Tcp = true;
            LOptions.TcpPort = static_cast<std::uint16_t>(LValue);
        }
        if (const auto LN = LArgs.Value("--count")) LCount = std::stoull(*LN);
        if (const auto LN = LArgs.Value("--wait")) LWaitSeconds = std::stoull(*LN);
    } catch (const std::exception&) {
        LUsage = "--tcp takes a port from 0 to 65535, --count and --wait a number";
    }
    if (LUsage.empty() && LArgs.Value("--wait") && !LOnce) LUsage = "--wait needs --once";
    if (!LUsage.empty()) {
        AIo.Err << "silog listen: " << LUsage << "\n" << kHelp;
        return 2;
    }
    LOptions.PipeName = LArgs.Value("--pipe").value_or(LOptions.Tcp ? "" : "silog");

    std::mutex LOutputLock;
    TPacketPrinter LPrinter(AIo.Out, LFormat == "json" ? TOutputFormat::Json : TOutputFormat::Text,
                            LArgs.Value("--pattern").value_or(std::string(CSiDefaultPattern)),
                            AIo.Colour);
    std::atomic<std::uint64_t> LPrinted{0};
    TSiViewerServer LServer(LOptions);
    auto LName = [](const TSiViewerConnection& AC) {
        return std::string(AC.Transport == TSiViewerTransport::vtPipe ? "pipe" : "tcp") +
               " client " + std::to_string(AC.Number);
    };
    LServer.OnConnect = [&](const TSiViewerConnection& AC) {
        std::lock_guard LLock(LOutputLock);
        AIo.Err << "silog: " << LName(AC) << " connected: \"" << EscapeText(AC.ClientBanner) << "\""
                << std::endl;
    };
    LServer.OnDisconnect = [&](const TSiViewerConnection& AC, const std::string& AError) {
        std::lock_guard LLock(LOutputLock);
        AIo.Err << "silog: " << LName(AC) << " disconnected" << (AError.empty() ? "" : ": ")
                << EscapeText(AError) << std::endl;
        if (LOnce) LClientGone.store(true);
    };
    LServer.OnListenError = [&](TSiViewerTransport, const std::string& AError) {
        std::lock_guard LLock(LOutputLock);
        AIo.Err << "silog: " << AError << std::endl;
    };
    LServer.OnPacket = [&](const TSiViewerConnection&, TSiPacket& APacket) {
        std::lock_guard LLock(LOutputLock);
        if (LCount != 0 && LPrinted.load() >= LCount) return;
        if (!LFilter->Matches(APacket)) return;
        LPrinter.Print(APacket);
        if (++LPrinted == LCount) LServer.RequestStop();
    };
    try {
        LServer.Start();
    } catch (const std::exception& LE) {
        AIo.Err << "silog listen: " << LE.what() << "\n";
        return 1;
    }
    if (LOptions.Tcp) {
        std::lock_guard LLock(LOutputLock);
        AIo.Err << "silog: listening on TCP port " << LServer.TcpPort() << std::endl;
    }
    if (!LOptions.PipeName.empty()) {
        std::lock_guard LLock(LOutputLock);
        AIo.Err << "silog: listening on pipe " << LOptions.PipeName << std::endl;
    }
    InstallInterruptHandler();
    const auto LStart = std::chrono::steady_clock::now();
    int LStatus = 0;
    while (!Interrupted() && !LClientGone.load() && (LCount == 0 || LPrinted.load() < LCount)) {
        if (LOnce && LWaitSeconds != 0 && LServer.Connections() == 0 &&
            std::chrono::steady_clock::now() - LStart >= std::chrono::seconds(LWaitSeconds)) {
            std::lock_guard LLock(LOutputLock);
            AIo.Err << "silog listen: no client connected within " << LWaitSeconds << " s"
                    << std::endl;
            LStatus = 1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    LServer.Stop();
    return LStatus;
}

}  // namespace deruz::silog
