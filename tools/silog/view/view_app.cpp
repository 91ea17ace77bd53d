#include "tools/silog/view/view_app.h"

#include <chrono>
#include <cmath>
#include <ostream>

#include "logging/core/logger.h"
#include "tools/silog/log_reader.h"
#include "tools/silog/text_escape.h"

namespace deruz::silog::view {

using namespace deruz::logging;

// --- Ingest -----------------------------------------------------------------------------------

TViewIngest::TViewIngest(TViewStore& AStore, std::size_t ACapacity)
    : FStore(AStore), FCapacity(ACapacity) {
    FThread = std::thread([this] { Run(); });
}

TViewIngest::~TViewIngest() {
    Stop();
}

bool TViewIngest::Push(std::uint32_t ASource, TSiPacketPtr APacket) {
    std::unique_lock LGuard(FLock);
    FHasRoom.wait(LGuard, [&] { return FStopping || FQueue.size() < FCapacity; });
    if (FStopping) return false;
    FQueue.emplace_back(ASource, std::move(APacket));
    ++FQueued;
    // The ingest thread is woken when it sleeps for want of packets, or when a batch is full;
    // otherwise it comes back for them within a millisecond.
    if (FIdle || FQueue.size() == kWakeAt) {
        FIdle = false;
        FHasWork.notify_one();
    }
    return true;
}

void TViewIngest::Flush() {
    std::unique_lock LGuard(FLock);
    const std::uint64_t LTarget = FQueued;
    FHasRoom.wait(LGuard, [&] { return FDone >= LTarget || !FThread.joinable(); });
}

void TViewIngest::Stop() {
    {
        std::lock_guard LGuard(FLock);
        FStopping = true;
    }
    FHasWork.notify_all();
    FHasRoom.notify_all();
    if (FThread.joinable()) FThread.join();
}

void TViewIngest::Run() {
    std::vector<std::pair<std::uint32_t, TSiPacketPtr>> LBatch;
    for (;;) {
        {
            std::unique_lock LGuard(FLock);
            FIdle = true;
            FHasWork.wait(LGuard, [&] { return FStopping || !FQueue.empty(); });
            FIdle = false;
            // What comes within a millisecond goes in as one batch (or at once when the queue
            // fills up), so that a busy stream costs no switch of threads per packet.
            FHasWork.wait_for(LGuard, std::chrono::milliseconds(1),
                              [&] { return FStopping || FQueue.size() >= kWakeAt; });
            if (FQueue.empty()) break;  // stopping, and all added
            LBatch.swap(FQueue);
        }
        FHasRoom.notify_all();
        for (auto& [source, packet] : LBatch) {
            try {
                FStore.Add(source, *packet);
            } catch (const std::exception&) {
                // Out of memory for one packet: it is left out, the viewer goes on.
            }
        }
        const std::size_t LCount = LBatch.size();
        LBatch.clear();
        FStore.Notify();
        {
            std::lock_guard LGuard(FLock);
            FDone += LCount;
        }
        FHasRoom.notify_all();
    }
    std::lock_guard LGuard(FLock);
    FHasRoom.notify_all();
}

// --- The application --------------------------------------------------------------------------

TViewApp::TViewApp(TViewOptions AOptions, std::ostream& AErr)
    : FOptions(std::move(AOptions)),
      FErr(AErr),
      FStore(TViewStoreOptions{FOptions.Keep, FOptions.KeepBytes}),
      FIngest(FStore) {}

TViewApp::~TViewApp() {
    Stop();
}

void TViewApp::Report(const std::string& ALine) {
    std::lock_guard LGuard(FErrLock);
    FErr << "silog: " << ALine << std::endl;
}

std::string TViewApp::Url() const {
    const std::string LHost =
        FOptions.HttpAddress == "0.0.0.0" ? std::string("127.0.0.1") : FOptions.HttpAddress;
    std::string LUrl = "http://" + LHost + ":" + std::to_string(HttpPort()) + "/";
    if (!FOptions.Token.empty()) LUrl += "?token=" + FOptions.Token;
    return LUrl;
}

void TViewApp::Start() {
    FStopping = false;
    TViewApiOptions LApiOptions;
    LApiOptions.Token = FOptions.Token;
    LApiOptions.Instance = TViewApi::NewToken().substr(0, 16);
    LApiOptions.Version = TSiLogger::Version();
    FApi = std::make_unique<TViewApi>(FStore, LApiOptions);
    THttpServerOptions LHttpOptions;
    LHttpOptions.Address = FOptions.HttpAddress;
    LHttpOptions.Port = FOptions.HttpPort;
    LHttpOptions.CommonHeaders = TViewApi::CommonHeaders();
    FHttp = std::make_unique<THttpServer>(
        LHttpOptions, [this](const THttpRequest& ARequest, THttpExchange& AExchange) {
            FApi->Handle(ARequest, AExchange);
        });
    FHttp->Start();
    FApi->SetPort(FHttp->Port());
    if (!FOptions.PipeName.empty() || FOptions.Tcp) StartViewer();
    if (FOptions.Files.empty()) {
        FFilesRead = true;
    } else {
        FFileThread = std::thread([this] { ReadFiles(); });
    }
}

void TViewApp::Stop() {
    FStopping = true;
    {
        // Connection threads that wait for the files to be read wake up.
        std::lock_guard LGuard(FSourcesLock);
    }
    if (FViewer) FViewer->Stop();
    if (FFileThread.joinable()) FFileThread.join();
    FIngest.Stop();
    if (FHttp) FHttp->Stop();
    FViewer.reset();
}

void TViewApp::StartViewer() {
    TSiViewerServerOptions LOptions;
    LOptions.PipeName = FOptions.PipeName;
    LOptions.Tcp = FOptions.Tcp;
    LOptions.TcpPort = FOptions.TcpPort;
    FViewer = std::make_unique<TSiViewerServer>(LOptions);
    const auto LSourceOf = [this](const TSiViewerConnection& AConnection) -> std::uint32_t {
        // Each connection is served by a thread of its own, which remembers its source.
        thread_local std::uint64_t LNumber = 0;
        thread_local std::uint32_t LSource = 0;
        thread_local const void* LOwner = nullptr;
        if (LNumber != AConnection.Number || LOwner != this) {
            std::lock_guard LGuard(FSourcesLock);
            const auto LIt = FSources.find(AConnection.Number);
            LNumber = AConnection.Number;
            LOwner = this;
            LSource = LIt == FSources.end() ? 0 : LIt->second;
        }
        return LSource;
    };
    FViewer->OnConnect = [this](const TSiViewerConnection& AC) {
        const bool LPipe = AC.Transport == TSiViewerTransport::vtPipe;
        const std::string LName = LPipe ? FOptions.PipeName
                                        : "tcp port " + std::to_string(FViewer->TcpPort()) +
                                              " client " + std::to_string(AC.Number);
        const std::uint32_t LId = FStore.AddSource(LPipe ? "pipe" : "tcp", LName, "connected");
        FStore.SetSourceBanner(LId, AC.ClientBanner);
        {
            std::lock_guard LGuard(FSourcesLock);
            FSources[AC.Number] = LId;
        }
        Report(std::string(LPipe ? "pipe" : "tcp") + " client " + std::to_string(AC.Number) +
               " connected: \"" + EscapeText(AC.ClientBanner) + "\"");
    };
    FViewer->OnPacket = [this, LSourceOf](const TSiViewerConnection& AC, TSiPacket& APacket) {
        // Live packets come after those of the files.
        while (!FFilesRead.load() && !FStopping.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (FOptions.Printer != nullptr) {
            std::lock_guard LGuard(FPrintLock);
            FOptions.Printer->Print(APacket);
        }
        FIngest.Push(LSourceOf(AC), TSiPacketPtr::Share(&APacket));
    };
    FViewer->OnDisconnect = [this](const TSiViewerConnection& AC, const std::string& AError) {
        std::uint32_t LId = 0;
        {
            std::lock_guard LGuard(FSourcesLock);
            const auto LIt = FSources.find(AC.Number);
            if (LIt != FSources.end()) {
                LId = LIt->second;
                FSources.erase(LIt);
            }
        }
        if (LId != 0) FStore.SetSourceState(LId, "closed", AError);
        Report(std::string(AC.Transport == TSiViewerTransport::vtPipe ? "pipe" : "tcp") +
               " client " + std::to_string(AC.Number) + " disconnected" +
               (AError.empty() ? "" : ": " + EscapeText(AError)));
    };
    FViewer->OnListenError = [this](TSiViewerTransport, const std::string& AError) {
        Report(AError);
    };
    FViewer->Start();
}

void TViewApp::ReadFiles() {
    struct TFile {
        std::string Path;     // as given
        std::string Current;  // the file read now (for a base name, one of its rotated files)
        bool BaseName = false;
        std::uint32_t Source = 0;
        std::unique_ptr<TLogReader> Reader;
        TSiPacketPtr Pending;
        double Key = 0;  // the time the pending packet is merged by
        double Last = -1e300;
        bool Ended = false;
        bool Waiting = false;
    };
    std::vector<TFile> LFiles;
    TLogReaderOptions LOptions;
    LOptions.Key = FOptions.Key;
    LOptions.Follow = FOptions.Follow;
    for (const std::string& LPath : FOptions.Files) {
        TFile LFile;
        LFile.Path = LPath;
        LFile.Current = FOptions.Follow ? FirstFollowedFile(LPath, LFile.BaseName) : LPath;
        LFile.Source = FStore.AddSource("file", LPath, "reading");
        LFile.Reader = std::make_unique<TLogReader>(LOptions);
        std::string LError;
        if (!LFile.Reader->Open(LFile.Current, LError)) {
            FStore.SetSourceState(LFile.Source, "error", LError);
            Report(LPath + ": " + LError);
            LFile.Ended = true;
        }
        LFiles.push_back(std::move(LFile));
    }
    // Takes the next step of a file; returns a packet or nothing.
    const auto LStep = [&](TFile& AFile) -> TSiPacketPtr {
        TLogStep LS;
        try {
            LS = AFile.Reader->Next();
        } catch (const std::exception& LE) {
            LS.What = TLogStep::lsFailure;
            LS.Message = LE.what();
        }
        switch (LS.What) {
            case TLogStep::lsPacket:
                return LS.Packet;
            case TLogStep::lsText:
                AFile.Ended = true;
                FStore.SetSourceState(AFile.Source, "error",
                                      "a text log; silog view shows binary logs only");
                Report(AFile.Path + ": a text log; silog view shows binary logs only");
                return nullptr;
            case TLogStep::lsWait:
                AFile.Waiting = true;
                return nullptr;
            case TLogStep::lsEnd:
                AFile.Ended = true;
                FStore.SetSourceState(AFile.Source, "done");
                return nullptr;
            case TLogStep::lsSkipped:
                Report(AFile.Path + ": " + LS.Message);
                return nullptr;
            case TLogStep::lsDamage:
            case TLogStep::lsFailure:
                AFile.Ended = true;
                FStore.SetSourceState(AFile.Source, "error", LS.Message);
                Report(AFile.Path + ": " + LS.Message);
                return nullptr;
        }
        return nullptr;
    };
    const auto LTimeOf = [](TSiPacket& APacket) -> double {
        switch (APacket.GetPacketType()) {
            case ptLogEntry:
                return static_cast<TSiLogEntry&>(APacket).Timestamp;
            case ptWatch:
                return static_cast<TSiWatch&>(APacket).Timestamp;
            case ptProcessFlow:
                return static_cast<TSiProcessFlow&>(APacket).Timestamp;
            default:
                return std::nan("");
        }
    };
    // The files are merged by time: the packet with the earliest time goes first; a packet
    // without one keeps its place after the packet before it in its file.
    for (;;) {
        if (FStopping) return;
        TFile* LNext = nullptr;
        for (TFile& LFile : LFiles) {
            while (!LFile.Pending && !LFile.Ended && !LFile.Waiting) {
                LFile.Pending = LStep(LFile);
                if (LFile.Pending) {
                    const double LTime = LTimeOf(*LFile.Pending);
                    LFile.Key = std::isfinite(LTime) ? LTime : LFile.Last;
                    LFile.Last = LFile.Key;
                }
            }
            if (LFile.Pending && (LNext == nullptr || LFile.Key < LNext->Key)) LNext = &LFile;
        }
        if (LNext == nullptr) break;
        FIngest.Push(LNext->Source, std::move(LNext->Pending));
        LNext->Pending = nullptr;
    }
    FIngest.Flush();
    FFilesRead = true;
    if (!FOptions.Follow) return;
    for (TFile& LFile : LFiles) {
        if (!LFile.Ended) FStore.SetSourceState(LFile.Source, "following");
    }
    // Following: what is appended to the files goes in as it arrives; a file replaced by a new
    // one of its name, or rotated, is followed into the new one.
    while (!FStopping) {
        bool LAny = false;
        for (TFile& LFile : LFiles) {
            if (LFile.Ended) continue;
            LFile.Waiting = false;
            for (int LI = 0; LI < 10000 && !LFile.Waiting && !LFile.Ended && !FStopping; ++LI) {
                if (TSiPacketPtr LPacket = LStep(LFile)) {
                    FIngest.Push(LFile.Source, std::move(LPacket));
                    LAny = true;
                }
            }
            if (!LFile.Waiting || LFile.Ended) continue;
            const std::string LNext =
                NextFollowedFile(LFile.Path, LFile.BaseName, LFile.Current, *LFile.Reader);
            if (LNext.empty()) continue;
            // What was written to the old file before the switch goes first.
            for (LFile.Waiting = false; !LFile.Waiting && !LFile.Ended;) {
                if (TSiPacketPtr LPacket = LStep(LFile))
                    FIngest.Push(LFile.Source, std::move(LPacket));
            }
            LFile.Current = LNext;
            LFile.Reader = std::make_unique<TLogReader>(LOptions);
            std::string LError;
            if (!LFile.Reader->Open(LNext, LError)) {
                FStore.SetSourceState(LFile.Source, "error", LNext + ": " + LError);
                Report(LNext + ": " + LError);
                LFile.Ended = true;
                continue;
            }
            LFile.Ended = LFile.Waiting = false;
            FStore.SetSourceState(LFile.Source, "following");
            Report("following " + LNext);
            LAny = true;
        }
        if (!LAny) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace deruz::silog::view
