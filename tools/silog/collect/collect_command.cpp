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
#include "tools/silog/collect/group_commit.h"
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
    "                     [--keep-days N] [--report SECONDS] [--sync MS]\n"
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
    "  relp(host=H, port=P, tls=true|false, ca=FILE, servername=NAME, cert=FILE,\n"
    "      key=FILE, facility=F, maxlength=N)   RFC 5424 messages over RELP (port 2514),\n"
    "      rsyslog's imrelp: each message counts as delivered once the receiver confirmed it.\n"
    "  json(host=H, port=P)   JSON lines over TCP (port 5170): silog dump --format json's\n"
    "      objects with a \"source\" object (hostName, appName) of the client.\n"
    "\n"
    "  Both take queue=SIZE, the bound of the destination's on-disk queue (default 256mb;\n"
    "  k, kb, mb, gb; a bare number is kilobytes), retry=SECONDS between connection attempts\n"
    "  (default 1; 0: every 0.1 s) and timeout=MS for connecting and sending (default 10000).\n"
    "\n"
    "Every message goes through its destination's queue under --queue-dir (default\n"
    "DIR/.queue) and is sent from there in order, also after a restart of the collector or of\n"
    "the destination; a full queue drops its oldest messages and counts them. A client's\n"
    "packets are acknowledged only once they are in the store and in every queue on disk:\n"
    "one sync of the disk covers every packet that arrived before it, at most every --sync\n"
    "milliseconds (default 0: as soon as the last one is done). A file is replaced by a new one\n"
    "when it would pass --max-file (default 64mb) and every --rotate period (hourly, daily\n"
    "(the default), weekly, monthly, none); the newest --max-files of each host and\n"
    "application are kept (default 0: all), and files not written for --keep-days days\n"
    "(default 30; 0 keeps them) are deleted.\n"
    "\n"
    "The state (clients, packets in, stored, durable, acknowledged, and per destination\n"
    "out, confirmed, queued, dropped, resent, damaged, errors) goes\n"
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
    TStoreSet* Store = nullptr;
    // The number (group commit) of its last packet, and how many are not yet acknowledged.
    std::uint64_t LastNumber = 0;
    std::uint64_t Unacknowledged = 0;
};

// The state of the client that the current connection thread serves. A connection is served
// by one thread for its whole life. (Only trivial types are thread_local: MinGW's emulated
// thread-local storage has crashed with objects that have destructors.)
thread_local TClientState* GCurrent = nullptr;
thread_local std::uint64_t GCurrentNumber = 0;

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
                       "--max-files", "--rotate", "--keep-days", "--report", "--sync"},
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
    std::uint64_t LSyncMilliseconds = 0;
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
            if (const auto LN = LArgs.Value("--sync")) LSyncMilliseconds = std::stoull(*LN);
        } catch (const std::exception&) {
            LUsage =
                "--tcp takes [ADDR:]PORT (0 to 65535), --max-file a size, --max-files,\n"
                "--keep-days, --report and --sync a number, --rotate none, hourly, daily, weekly "
                "or "
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
        LStore = std::make_unique<TCollectStore>(LStoreSettings, LSay);
        const std::filesystem::path LQueueRoot =
            LArgs.Value("--queue-dir").value_or((LStoreSettings.Folder / ".queue").string());
        for (std::size_t LI = 0; LI < LDestinations.size(); ++LI) {
            LForwarders.push_back(std::make_unique<TForwarder>(
                LDestinations[LI], LQueueRoot / QueueFolderName(LI, LDestinations[LI]), LSay));
        }
    } catch (const std::exception& LError) {
        AIo.Err << "silog collect: " << LError.what() << "\n";
        return 1;
    }

    // Acknowledged means durable: in the store and in every destination's queue on disk.
    // Without destinations the store alone must have it; with them, a store that failed (a
    // full disk) holds up nothing, as the queues have every packet.
    TGroupCommit LCommit(std::chrono::milliseconds(LSyncMilliseconds), [&] {
        const bool LStored = LStore->Sync();
        std::vector<std::uint64_t> LTargets;
        LTargets.reserve(LForwarders.size());
        for (auto& LForwarder : LForwarders) LTargets.push_back(LForwarder->Sync());
        for (std::size_t LI = 0; LI < LForwarders.size(); ++LI) {
            // A queue that cannot be written holds its messages in memory until delivered.
            if (!LForwarders[LI]->DurableAt(LTargets[LI])) return false;
        }
        return LStored || !LForwarders.empty();
    });

    std::atomic<std::uint64_t> LIn{0};
    std::atomic<std::uint64_t> LAcknowledged{0};
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
    const auto LStateOf = [&](const TSiViewerConnection& AC) -> TClientState& {
        if (GCurrent == nullptr || GCurrentNumber != AC.Number) {
            std::lock_guard LGuard(LStatesLock);
            auto& LSlot = LStates[AC.Number];
            if (!LSlot) {
                LSlot = std::make_unique<TClientState>();
                LSlot->Connection = AC.Number;
            }
            GCurrent = LSlot.get();
            GCurrentNumber = AC.Number;
        }
        return *GCurrent;
    };
    LServer.OnPacket = [&](const TSiViewerConnection& AC, TSiPacket& APacket) {
        TClientState& LState = LStateOf(AC);
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
                LStore->NoteSetError(LSource, LError.what());
            }
        }
        const bool LStored = LState.Store != nullptr && LStore->Write(*LState.Store, APacket);
        for (auto& LForwarder : LForwarders) LForwarder->Push(APacket, LSource);
        if (!LStored && LForwarders.empty()) {
            // Kept nowhere: the connection ends unacknowledged, and the client sends it again.
            throw std::runtime_error("the packet could not be stored");
        }
        LState.LastNumber = LCommit.Written();
        ++LState.Unacknowledged;
    };
    LServer.OnAcknowledge = [&](const TSiViewerConnection& AC) {
        TClientState& LState = LStateOf(AC);
        if (!LCommit.WaitDurable(LState.LastNumber)) {
            throw std::runtime_error("the collector is stopping");
        }
        LAcknowledged += LState.Unacknowledged;
        LState.Unacknowledged = 0;
    };

    const auto LReport = [&] {
        std::string LLine =
            "clients=" + std::to_string(LClients.load()) +
            " connections=" + std::to_string(LServer.Connections()) +
            " in=" + std::to_string(LIn.load()) + " stored=" + std::to_string(LStore->Stored()) +
            " store-errors=" + std::to_string(LStore->Errors()) +
            " durable=" + std::to_string(LCommit.Durable()) +
            " acknowledged=" + std::to_string(LAcknowledged.load()) +
            " syncs=" + std::to_string(LCommit.Syncs()) + " sets=" + std::to_string(LStore->Sets());
        if (const std::string LError = LStore->LastError(); !LError.empty()) {
            LLine += " store-error=\"" + EscapeText(LError) + "\"";
        }
        LSay(LLine);
        for (auto& LForwarder : LForwarders) LSay("-> " + LForwarder->Describe());
    };

    // Old files go before the port is announced: whoever waits for the announcement finds
    // the store as the collector keeps it.
    LStore->Sweep();
    for (auto& LForwarder : LForwarders) LForwarder->Start();
    LCommit.Start();
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
    // What arrived is made durable and acknowledged; a packet that arrives after that ends its
    // connection unacknowledged (the client sends it again to the next run).
    LCommit.Stop();
    LServer.Stop();
    LStore->Close();
    for (auto& LForwarder : LForwarders) LForwarder->Stop();
    LReport();
    return 0;
}

}  // namespace deruz::silog
