// silog view: serves a live log viewer page over HTTP, fed by pipe and TCP clients and by log
// files.
#include <chrono>
#include <optional>
#include <ostream>
#include <thread>

#include "logging/config/lookup_table.h"
#include "tools/silog/commands.h"
#include "tools/silog/interrupt.h"
#include "tools/silog/packet_printer.h"
#include "tools/silog/view/view_app.h"

namespace deruz::silog {

namespace {

constexpr const char* kHelp =
    "usage: silog view [--pipe NAME] [--tcp PORT] [--http [ADDR:]PORT] [--token TOKEN]\n"
    "                  [--key KEY] [--keep N] [--keep-bytes SIZE] [--follow]\n"
    "                  [--print [--pattern PATTERN]] [FILE...]\n"
    "\n"
    "Serves a log viewer page at http://127.0.0.1:4229/ (the address is printed on standard\n"
    "error at start) showing what arrives on the pipe NAME and/or the TCP port PORT, as\n"
    "silog listen receives it, and the packets of the log files FILE (plain, encrypted with\n"
    "--key, memory dumps; with --follow what is appended to them later). Without --pipe,\n"
    "--tcp and FILE it serves the pipe \"silog\". Files are read first, merged by time;\n"
    "live clients follow in arrival order.\n"
    "\n"
    "The page is served on 127.0.0.1 unless --http names another address; any other address\n"
    "needs a token, which is generated at start (or given with --token) and is part of the\n"
    "printed URL. --keep N keeps the newest N entries (default 1000000) and --keep-bytes the\n"
    "newest SIZE bytes of titles and data (default 1g; k, m, g for kilo-, mega-, gigabytes);\n"
    "older ones are dropped and counted. --print also prints every packet that arrives from\n"
    "a client on standard output, as silog listen does (--pattern as there). Runs until\n"
    "interrupted.\n";

bool ParseSize(const std::string& AText, std::uint64_t& AValue) {
    std::size_t LEnd = 0;
    try {
        AValue = std::stoull(AText, &LEnd);
    } catch (const std::exception&) {
        return false;
    }
    const std::string LUnit = AText.substr(LEnd);
    std::uint64_t LFactor = 1;
    if (LUnit == "k" || LUnit == "kb") {
        LFactor = 1024;
    } else if (LUnit == "m" || LUnit == "mb") {
        LFactor = 1024 * 1024;
    } else if (LUnit == "g" || LUnit == "gb") {
        LFactor = 1024 * 1024 * 1024;
    } else if (!LUnit.empty()) {
        return false;
    }
    if (AValue > UINT64_MAX / LFactor) return false;
    AValue *= LFactor;
    return true;
}

bool ParsePort(const std::string& AText, std::uint16_t& APort) {
    if (AText.empty() || AText.find_first_not_of("0123456789") != std::string::npos ||
        AText.size() > 5) {
        return false;
    }
    const unsigned long LValue = std::stoul(AText);
    if (LValue > 65535) return false;
    APort = static_cast<std::uint16_t>(LValue);
    return true;
}

bool IsDottedAddress(const std::string& AText) {
    int LParts = 0;
    std::size_t LStart = 0;
    for (;;) {
        const std::size_t LDot = AText.find('.', LStart);
        const std::string LPart =
            AText.substr(LStart, LDot == std::string::npos ? LDot : LDot - LStart);
        if (LPart.empty() || LPart.size() > 3 ||
            LPart.find_first_not_of("0123456789") != std::string::npos || std::stoi(LPart) > 255) {
            return false;
        }
        ++LParts;
        if (LDot == std::string::npos) break;
        LStart = LDot + 1;
    }
    return LParts == 4;
}

}  // namespace

int RunView(const std::vector<std::string>& AArgs, TCommandIo& AIo) {
    const TArgs LArgs(
        AArgs,
        {"--pipe", "--tcp", "--http", "--token", "--key", "--keep", "--keep-bytes", "--pattern"},
        {"--help", "--follow", "--print"});
    if (LArgs.Flag("--help")) {
        AIo.Out << kHelp;
        return 0;
    }
    view::TViewOptions LOptions;
    std::string LUsage;
    if (!LArgs.Ok()) LUsage = LArgs.Error();
    if (LUsage.empty()) {
        if (const auto LPort = LArgs.Value("--tcp")) {
            LOptions.Tcp = true;
            if (!ParsePort(*LPort, LOptions.TcpPort)) LUsage = "--tcp takes a port from 0 to 65535";
        }
    }
    if (LUsage.empty()) {
        if (const auto LHttp = LArgs.Value("--http")) {
            const std::size_t LColon = LHttp->rfind(':');
            std::string LPort = *LHttp;
            if (LColon != std::string::npos) {
                LOptions.HttpAddress = LHttp->substr(0, LColon);
                LPort = LHttp->substr(LColon + 1);
            }
            if (!ParsePort(LPort, LOptions.HttpPort) || !IsDottedAddress(LOptions.HttpAddress)) {
                LUsage = "--http takes [ADDRESS:]PORT with an IPv4 address";
            }
        }
    }
    if (LUsage.empty()) {
        if (const auto LKeep = LArgs.Value("--keep")) {
            if (!ParseSize(*LKeep, LOptions.Keep) || LOptions.Keep == 0) {
                LUsage = "--keep takes a number above 0";
            }
        }
        if (const auto LBytes = LArgs.Value("--keep-bytes")) {
            if (!ParseSize(*LBytes, LOptions.KeepBytes) || LOptions.KeepBytes == 0) {
                LUsage = "--keep-bytes takes a size above 0 (with k, m or g)";
            }
        }
    }
    if (LUsage.empty()) {
        if (const auto LToken = LArgs.Value("--token")) {
            if (LToken->empty() ||
                LToken->find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                          "0123456789-._~") != std::string::npos) {
                LUsage = "--token takes letters, digits and - . _ ~";
            }
            LOptions.Token = *LToken;
        }
    }
    if (!LUsage.empty()) {
        AIo.Err << "silog view: " << LUsage << "\n" << kHelp;
        return 2;
    }
    if (LUsage.empty() && LArgs.Value("--pattern") && !LArgs.Flag("--print")) {
        LUsage = "--pattern needs --print";
    }
    if (!LUsage.empty()) {
        AIo.Err << "silog view: " << LUsage << "\n" << kHelp;
        return 2;
    }
    LOptions.Files = LArgs.Positional();
    LOptions.Follow = LArgs.Flag("--follow");
    std::optional<TPacketPrinter> LPrinter;
    if (LArgs.Flag("--print")) {
        LPrinter.emplace(AIo.Out, TOutputFormat::Text,
                         LArgs.Value("--pattern").value_or(std::string(logging::CSiDefaultPattern)),
                         AIo.Colour);
        LOptions.Printer = &*LPrinter;
    }
    LOptions.PipeName = LArgs.Value("--pipe").value_or(
        LOptions.Tcp || !LOptions.Files.empty() ? std::string() : std::string("silog"));
    if (LOptions.HttpAddress != "127.0.0.1" && LOptions.Token.empty()) {
        LOptions.Token = view::TViewApi::NewToken();
    }
    if (const auto LKeyText = LArgs.Value("--key")) {
        // The same conversion as the file protocol's "key" option.
        logging::TSiLookupTable LTable;
        LTable.Put("key", *LKeyText);
        LOptions.Key = LTable.GetBytesValue("key", 16, {});
    }

    view::TViewApp LApp(LOptions, AIo.Err);
    try {
        LApp.Start();
    } catch (const std::exception& LE) {
        AIo.Err << "silog view: " << LE.what() << "\n";
        return 1;
    }
    if (!LOptions.PipeName.empty())
        AIo.Err << "silog: listening on pipe " << LOptions.PipeName << "\n";
    if (LOptions.Tcp) AIo.Err << "silog: listening on TCP port " << LApp.TcpPort() << "\n";
    AIo.Err << "silog: view at " << LApp.Url() << std::endl;
    InstallInterruptHandler();
    while (!Interrupted()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    LApp.Stop();
    return 0;
}

}  // namespace deruz::silog
