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
    std::size_t end = 0;
    try {
        AValue = std::stoull(AText, &end);
    } catch (const std::exception&) {
        return false;
    }
    const std::string unit = AText.substr(end);
    std::uint64_t factor = 1;
    if (unit == "k" || unit == "kb") {
        factor = 1024;
    } else if (unit == "m" || unit == "mb") {
        factor = 1024 * 1024;
    } else if (unit == "g" || unit == "gb") {
        factor = 1024 * 1024 * 1024;
    } else if (!unit.empty()) {
        return false;
    }
    if (AValue > UINT64_MAX / factor) return false;
    AValue *= factor;
    return true;
}

bool ParsePort(const std::string& AText, std::uint16_t& APort) {
    if (AText.empty() || AText.find_first_not_of("0123456789") != std::string::npos ||
        AText.size() > 5) {
        return false;
    }
    const unsigned long value = std::stoul(AText);
    if (value > 65535) return false;
    APort = static_cast<std::uint16_t>(value);
    return true;
}

bool IsDottedAddress(const std::string& AText) {
    int parts = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = AText.find('.', start);
        const std::string part = AText.substr(start, dot == std::string::npos ? dot : dot - start);
        if (part.empty() || part.size() > 3 ||
            part.find_first_not_of("0123456789") != std::string::npos || std::stoi(part) > 255) {
            return false;
        }
        ++parts;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return parts == 4;
}

}  // namespace

int RunView(const std::vector<std::string>& AArgs, TCommandIo& AIo) {
    const TArgs args(
        AArgs,
        {"--pipe", "--tcp", "--http", "--token", "--key", "--keep", "--keep-bytes", "--pattern"},
        {"--help", "--follow", "--print"});
    if (args.Flag("--help")) {
        AIo.Out << kHelp;
        return 0;
    }
    view::TViewOptions options;
    std::string usage;
    if (!args.Ok()) usage = args.Error();
    if (usage.empty()) {
        if (const auto port = args.Value("--tcp")) {
            options.Tcp = true;
            if (!ParsePort(*port, options.TcpPort)) usage = "--tcp takes a port from 0 to 65535";
        }
    }
    if (usage.empty()) {
        if (const auto http = args.Value("--http")) {
            const std::size_t colon = http->rfind(':');
            std::string port = *http;
            if (colon != std::string::npos) {
                options.HttpAddress = http->substr(0, colon);
                port = http->substr(colon + 1);
            }
            if (!ParsePort(port, options.HttpPort) || !IsDottedAddress(options.HttpAddress)) {
                usage = "--http takes [ADDRESS:]PORT with an IPv4 address";
            }
        }
    }
    if (usage.empty()) {
        if (const auto keep = args.Value("--keep")) {
            if (!ParseSize(*keep, options.Keep) || options.Keep == 0) {
                usage = "--keep takes a number above 0";
            }
        }
        if (const auto bytes = args.Value("--keep-bytes")) {
            if (!ParseSize(*bytes, options.KeepBytes) || options.KeepBytes == 0) {
                usage = "--keep-bytes takes a size above 0 (with k, m or g)";
            }
        }
    }
    if (usage.empty()) {
        if (const auto token = args.Value("--token")) {
            if (token->empty() ||
                token->find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                         "0123456789-._~") != std::string::npos) {
                usage = "--token takes letters, digits and - . _ ~";
            }
            options.Token = *token;
        }
    }
    if (!usage.empty()) {
        AIo.Err << "silog view: " << usage << "\n" << kHelp;
        return 2;
    }
    if (usage.empty() && args.Value("--pattern") && !args.Flag("--print")) {
        usage = "--pattern needs --print";
    }
    if (!usage.empty()) {
        AIo.Err << "silog view: " << usage << "\n" << kHelp;
        return 2;
    }
    options.Files = args.Positional();
    options.Follow = args.Flag("--follow");
    std::optional<TPacketPrinter> printer;
    if (args.Flag("--print")) {
        printer.emplace(AIo.Out, TOutputFormat::Text,
                        args.Value("--pattern").value_or(std::string(logging::CSiDefaultPattern)),
                        AIo.Colour);
        options.Printer = &*printer;
    }
    options.PipeName = args.Value("--pipe").value_or(
        options.Tcp || !options.Files.empty() ? std::string() : std::string("silog"));
    if (options.HttpAddress != "127.0.0.1" && options.Token.empty()) {
        options.Token = view::TViewApi::NewToken();
    }
    if (const auto keyText = args.Value("--key")) {
        // The same conversion as the file protocol's "key" option.
        logging::TSiLookupTable table;
        table.Put("key", *keyText);
        options.Key = table.GetBytesValue("key", 16, {});
    }

    view::TViewApp app(options, AIo.Err);
    try {
        app.Start();
    } catch (const std::exception& e) {
        AIo.Err << "silog view: " << e.what() << "\n";
        return 1;
    }
    if (!options.PipeName.empty())
        AIo.Err << "silog: listening on pipe " << options.PipeName << "\n";
    if (options.Tcp) AIo.Err << "silog: listening on TCP port " << app.TcpPort() << "\n";
    AIo.Err << "silog: view at " << app.Url() << std::endl;
    InstallInterruptHandler();
    while (!Interrupted()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    app.Stop();
    return 0;
}

}  // namespace deruz::silog
