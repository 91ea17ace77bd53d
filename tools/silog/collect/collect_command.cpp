// silog collect: a practice's log collector. Serves the pipe and/or a TCP port as the viewer
// does (the same server as silog listen and silog view), stores every client's packets in log
// files per host and application, and forwards each to the practice's syslog servers and JSON
// inputs, with an on-disk queue per destination.
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <thread>
#include <vector>

#include "logging/config/lookup_table.h"
#include "logging/viewer/viewer_server.h"
#include "tools/silog/collect/collect_store.h"
#include "tools/silog/collect/forwarder.h"
#include "tools/silog/collect/report_request.h"
#include "tools/silog/commands.h"
#include "tools/silog/interrupt.h"
#include "tools/silog/text_escape.h"

namespace deruz::silog {

namespace {

using namespace deruz::logging;
using namespace deruz::silog::collect;

constexpr const char* kHelp =
    "usage: silog collect --store DIR [--tcp [ADDR:]PORT] [--pipe NAME]\n"
    "                     [--forward DESTINATION]... [--queue-dir DIR]\n"
    "                     [--max-file SIZE] [--max-files N] [--rotate PERIOD]\n"
    "                     [--keep-days N] [--report SECONDS]\n"
    "\n"
    "Collects the logs of a practice's workstations: serves the TCP port PORT (on ADDR,\n"
    "default 127.0.0.1; 0.0.0.0 for every interface) and/or the pipe NAME as a log viewer\n"
    "does, stores every client's packets in binary log files DIR/<host>/<application>-<time>.sil\n"
    "(read them with silog dump or silog view), and forwards every packet, as it arrives, to\n"
    "each DESTINATION:\n"
    "\n"
    "  syslog(host=H, port=P, transport=tcp|udp|tls, facility=F, ...)   RFC 5424 messages;\n"
    "      tcp with octet counting (port 514), udp (514), tls (6514) with ca=FILE (the\n"
    "      authorities that vouch for the server; the system's when left out),\n"
    "      servername=NAME (default H), cert=FILE and key=FILE (a client certificate);\n"
    "      facility a name (user, local0 ... local7) or 0 to 23, default user;\n"
    "      maxlength=N cuts longer messages (default 8192).\n"
    "  json(host=H, port=P)   JSON lines over TCP (port 5170): silog dump --format json's\n"
    "      objects with a \"source\" object (hostName, appName) of the client.\n"
    "\n"
    "  Both take queue=SIZE, the bound of the destination's on-disk queue (default 256mb;\n"
    "  k, kb, mb, gb; a bare number is kilobytes), retry=SECONDS between connection attempts\n"
    "  (default 1; 0: every 0.1 s) and timeout=MS for connecting and sending (default 10000).\n"
    "\n"
    "What a destination cannot take waits in its queue under --queue-dir (default\n"
    "DIR/.queue) and is sent in order once it is back, also after a restart of the collector;\n"
    "a full queue drops its oldest messages and counts them. A file is replaced by a new one\n"
    "when it would pass --max-file (default 64mb) and every --rotate period (hourly, daily\n"
    "(the default), weekly, monthly, none); the newest --max-files of each host and\n"
    "application are kept (default 0: all), and files not written for --keep-days days\n"
    "(default 30; 0 keeps them) are deleted.\n"
    "\n"
    "The state (clients, packets in, stored, and per destination out, queued, dropped) goes\n"
    "to standard error every --report seconds (default 60; 0: never), on request (SIGUSR1,\n"
    "or Ctrl+Break on Windows) and at the end. Runs until interrupted.\n";

bool ParseSizeText(const std::string& AText, std::uint64_t& AValue) {
    TSiLookupTable LTable;
    LTable.Put("size", AText);
    const std::int64_t LValue = LTable.GetSizeValue("size", -1);
    if (LValue <= 0) return false;
    AValue = static_cast<std::uint64_t>(LValue);
    return true;
}

// What a connection's thread remembers of its client.
struct TClientState {
    std::uint64_t Connection = 0;
    TPacketSource Header;
    std::string StoreKey;
    TSiProtocol* Store = nullptr;
};

std::string QueueFolderName(std::size_t AIndex, const TDestinationSettings& ASettings) {
    return std::to_string(AIndex + 1) + "-" +
           (ASettings.Format == TMessageFormat::Json ? "json" : "syslog") + "-" +
           ASettings.Link.Transport + "-" + StoreName(ASettings.Link.Host) + "-" +
           std::to_string(ASettings.Link.Port);
}

}  // namespace

int RunCollect(const std::vector<std::string>& AArgs, TCommandIo& AIo) {
    const TArgs LArgs(AArgs,
                      {"--store", "--tcp", "--pipe", "--forward", "--queue-dir", "--max-file",
                       "--max-files", "--rotate", "--keep-days", "--report"},
                      {"--help"});
    if (LArgs.Flag("--help")) {
        AIo.Out << kHelp;
        return 0;
    }
    std::string LUsage;
    TSiViewerServerOptions LServerOptions;
    TStoreSettings LStoreSettings;
    std::vector<TDestinationSettings> LDestinations;
    std::uint64_t LReportSeconds = 60;
    if (!LArgs.Ok()) {
        LUsage = LArgs.Error();
    } else if (!LArgs.Positional().empty()) {
        LUsage = "unexpected argument '" + LArgs.Positional()[0] + "'";
    } else if (!LArgs.Value("--store")) {
        LUsage = "--store DIR is needed";
    } else if (!LArgs.Value("--tcp") && !LArgs.Value("--pipe")) {
        LUsage = "give --tcp and/or --pipe";
    }
    if (LUsage.empty()) {
        try {
            LStoreSettings.Folder = *LArgs.Value("--store");
            if (const auto LTcp = LArgs.Value("--tcp")) {
                std::string LPort = *LTcp;
                if (const auto LColon = LTcp->rfind(':'); LColon != std::string::npos) {
                    LServerOptions.TcpAddress = LTcp->substr(0, LColon);
                    LPort = LTcp->substr(LColon + 1);
                }
                const unsigned long LValue = std::stoul(LPort);
                if (LValue > 65535) throw std::out_of_range("port");
                LServerOptions.Tcp = true;
                LServerOptions.TcpPort = static_cast<std::uint16_t>(LValue);
            }
            LServerOptions.PipeName = LArgs.Value("--pipe").value_or("");
            if (const auto LSize = LArgs.Value("--max-file");
                LSize && !ParseSizeText(*LSize, LStoreSettings.MaxBytes)) {
                throw std::invalid_argument("--max-file");
            }
            if (const auto LN = LArgs.Value("--max-files")) {
                LStoreSettings.MaxParts = std::stoi(*LN);
            }
            LStoreSettings.Rotate = LArgs.Value("--rotate").value_or("daily");
            if (LStoreSettings.Rotate != "none" && LStoreSettings.Rotate != "hourly" &&
                LStoreSettings.Rotate != "daily" && LStoreSettings.Rotate != "weekly" &&
                LStoreSettings.Rotate != "monthly") {
                throw std::invalid_argument("--rotate");
            }
            if (const auto LN = LArgs.Value("--keep-days")) {
                LStoreSettings.KeepDays = static_cast<std::uint32_t>(std::stoul(*LN));
            }
            if (const auto LN = LArgs.Value("--report")) LReportSeconds = std::stoull(*LN);
        } catch (const std::exception&) {
            LUsage =
                "--tcp takes [ADDR:]PORT (0 to 65535), --max-file a size, --max-files,\n"
                "--keep-days and --report a number, --rotate none, hourly, daily, weekly or "
                "monthly";
        }
    }
    if (LUsage.empty()) {
        for (const std::string& LText : LArgs.Values("--forward")) {
            try {
                LDestinations.push_back(ParseDestination(LText));
            } catch (const std::exception& LError) {
                LUsage = "--forward " + LText + ": " + LError.what();
                break;
            }
        }
    }
    if (!LUsage.empty()) {
        AIo.Err << "silog collect: " << LUsage << "\n" << kHelp;
        return 2;
    }

    std::mutex LOutputLock;
    const auto LSay = [&](const std::string& ALine) {
        std::lock_guard LGuard(LOutputLock);
        AIo.Err << "silog collect: " << ALine << std::endl;
    };

    std::unique_ptr<TCollectStore> LStore;
    std::vector<std::unique_ptr<TForwarder>> LForwarders;
    try {
        LStore = std::make_unique<TCollectStore>(LStoreSettings);
        const std::filesystem::path LQueueRoot =
            LArgs.Value("--queue-dir").value_or((LStoreSettings.Folder / ".queue").string());
        for (std::size_t LI = 0; LI < LDestinations.size(); ++LI) {
            LForwarders.push_back(std::make_unique<TForwarder>(
                LDestinations[LI], LQueueRoot / QueueFolderName(LI, LDestinations[LI])));
        }
    } catch (const std::exception& LError) {
        AIo.Err << "silog collect: " << LError.what() << "\n";
        return 1;
    }
    for (auto& LForwarder : LForwarders) LForwarder->Start();

    std::atomic<std::uint64_t> LIn{0};
    std::mutex LStatesLock;
    std::map<std::uint64_t, std::unique_ptr<TClientState>> LStates;
    std::atomic<std::int64_t> LClients{0};
    TSiViewerServer LServer(LServerOptions);
    const auto LName = [](const TSiViewerConnection& AC) {
        return std::string(AC.Transport == TSiViewerTransport::vtPipe ? "pipe" : "tcp") +
               " client " + std::to_string(AC.Number);
    };
    LServer.OnConnect = [&](const TSiViewerConnection&) { ++LClients; };
    LServer.OnDisconnect = [&](const TSiViewerConnection& AC, const std::string& AError) {
        if (!AC.ClientBanner.empty()) --LClients;
        {
            std::lock_guard LGuard(LStatesLock);
            LStates.erase(AC.Number);
        }
        if (!AError.empty()) LSay(LName(AC) + " disconnected: " + EscapeText(AError));
    };
    LServer.OnListenError = [&](TSiViewerTransport, const std::string& AError) { LSay(AError); };
    LServer.OnPacket = [&](const TSiViewerConnection& AC, TSiPacket& APacket) {
        // A connection is served by one thread for its whole life, which holds its state.
        // (Only trivial types are thread_local: MinGW's emulated thread-local storage has
        // crashed with objects that have destructors.)
        thread_local TClientState* LCurrent = nullptr;
        thread_local std::uint64_t LCurrentNumber = 0;
        if (LCurrent == nullptr || LCurrentNumber != AC.Number) {
            std::lock_guard LGuard(LStatesLock);
            auto& LSlot = LStates[AC.Number];
            if (!LSlot)
                LSlot = std::make_unique<TClientState>(TClientState{AC.Number, {}, {}, nullptr});
            LCurrent = LSlot.get();
            LCurrentNumber = AC.Number;
        }
        TClientState& LState = *LCurrent;
        TPacketSource LSource = LState.Header;
        if (APacket.GetPacketType() == ptLogHeader) {
            const auto& LHeader = static_cast<const TSiLogHeader&>(APacket);
            LState.Header = {LHeader.HostName, LHeader.AppName};
            LSource = LState.Header;
        } else if (APacket.GetPacketType() == ptLogEntry) {
            const auto& LEntry = static_cast<const TSiLogEntry&>(APacket);
            if (!LEntry.HostName.empty()) LSource.HostName = LEntry.HostName;
            if (!LEntry.AppName.empty()) LSource.AppName = LEntry.AppName;
        }
        ++LIn;
        const std::string LKey = LSource.HostName + '\n' + LSource.AppName;
        if (LState.Store == nullptr || LState.StoreKey != LKey) {
            try {
                LState.Store = &LStore->SetFor(LSource);
                LState.StoreKey = LKey;
            } catch (const std::exception& LError) {
                LState.Store = nullptr;
                LSay("cannot store for " + EscapeText(LKey) + ": " + LError.what());
            }
        }
        if (LState.Store != nullptr) LStore->Write(*LState.Store, APacket);
        for (auto& LForwarder : LForwarders) LForwarder->Push(APacket, LSource);
    };

    const auto LReport = [&] {
        std::string LLine = "clients=" + std::to_string(LClients.load()) +
                            " connections=" + std::to_string(LServer.Connections()) +
                            " in=" + std::to_string(LIn.load()) +
                            " stored=" + std::to_string(LStore->Stored()) +
                            " store-errors=" + std::to_string(LStore->Errors()) +
                            " sets=" + std::to_string(LStore->Sets());
        if (LStore->Errors() > 0) LLine += " store-error=\"" + LStore->LastError() + "\"";
        LSay(LLine);
        for (auto& LForwarder : LForwarders) LSay("-> " + LForwarder->Describe());
    };

    try {
        LServer.Start();
    } catch (const std::exception& LError) {
        AIo.Err << "silog collect: " << LError.what() << "\n";
        return 1;
    }
    if (LServerOptions.Tcp) {
        LSay("listening on TCP " + LServerOptions.TcpAddress + ":" +
             std::to_string(LServer.TcpPort()));
    }
    if (!LServerOptions.PipeName.empty()) LSay("listening on pipe " + LServerOptions.PipeName);
    LSay("storing in " + LStoreSettings.Folder.string() +
         "; state on request: " + ReportRequestHint());
    for (auto& LForwarder : LForwarders) {
        LSay("forwarding to " + LForwarder->Settings().Text);
    }

    InstallInterruptHandler();
    InstallReportRequest();
    LStore->Sweep();
    auto LNextReport = std::chrono::steady_clock::now() + std::chrono::seconds(LReportSeconds);
    auto LNextSweep = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    while (!Interrupted()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const auto LNow = std::chrono::steady_clock::now();
        if (TakeReportRequest() || (LReportSeconds != 0 && LNow >= LNextReport)) {
            LReport();
            LNextReport = LNow + std::chrono::seconds(LReportSeconds);
        }
        if (LNow >= LNextSweep) {
            LStore->Sweep();
            LNextSweep = LNow + std::chrono::minutes(10);
        }
    }
    LServer.Stop();
    LStore->Close();
    for (auto& LForwarder : LForwarders) LForwarder->Stop();
    LReport();
    return 0;
}

}  // namespace deruz::silog
