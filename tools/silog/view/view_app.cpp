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
    std::unique_lock guard(FLock);
    FHasRoom.wait(guard, [&] { return FStopping || FQueue.size() < FCapacity; });
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
    std::unique_lock guard(FLock);
    const std::uint64_t target = FQueued;
    FHasRoom.wait(guard, [&] { return FDone >= target || !FThread.joinable(); });
}

void TViewIngest::Stop() {
    {
        std::lock_guard guard(FLock);
        FStopping = true;
    }
    FHasWork.notify_all();
    FHasRoom.notify_all();
    if (FThread.joinable()) FThread.join();
}

void TViewIngest::Run() {
    std::vector<std::pair<std::uint32_t, TSiPacketPtr>> batch;
    for (;;) {
        {
            std::unique_lock guard(FLock);
            FIdle = true;
            FHasWork.wait(guard, [&] { return FStopping || !FQueue.empty(); });
            FIdle = false;
            // What comes within a millisecond goes in as one batch (or at once when the queue
            // fills up), so that a busy stream costs no switch of threads per packet.
            FHasWork.wait_for(guard, std::chrono::milliseconds(1),
                              [&] { return FStopping || FQueue.size() >= kWakeAt; });
            if (FQueue.empty()) break;  // stopping, and all added
            batch.swap(FQueue);
        }
        FHasRoom.notify_all();
        for (auto& [source, packet] : batch) {
            try {
                FStore.Add(source, *packet);
            } catch (const std::exception&) {
                // Out of memory for one packet: it is left out, the viewer goes on.
            }
        }
        const std::size_t count = batch.size();
        batch.clear();
        FStore.Notify();
        {
            std::lock_guard guard(FLock);
            FDone += count;
        }
        FHasRoom.notify_all();
    }
    std::lock_guard guard(FLock);
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
    std::lock_guard guard(FErrLock);
    FErr << "silog: " << ALine << std::endl;
}

std::string TViewApp::Url() const {
    const std::string host =
        FOptions.HttpAddress == "0.0.0.0" ? std::string("127.0.0.1") : FOptions.HttpAddress;
    std::string url = "http://" + host + ":" + std::to_string(HttpPort()) + "/";
    if (!FOptions.Token.empty()) url += "?token=" + FOptions.Token;
    return url;
}

void TViewApp::Start() {
    FStopping = false;
    TViewApiOptions apiOptions;
    apiOptions.Token = FOptions.Token;
    apiOptions.Instance = TViewApi::NewToken().substr(0, 16);
    apiOptions.Version = TSiLogger::Version();
    FApi = std::make_unique<TViewApi>(FStore, apiOptions);
    THttpServerOptions httpOptions;
    httpOptions.Address = FOptions.HttpAddress;
    httpOptions.Port = FOptions.HttpPort;
    httpOptions.CommonHeaders = TViewApi::CommonHeaders();
    FHttp = std::make_unique<THttpServer>(
        httpOptions, [this](const THttpRequest& ARequest, THttpExchange& AExchange) {
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
        std::lock_guard guard(FSourcesLock);
    }
    if (FViewer) FViewer->Stop();
    if (FFileThread.joinable()) FFileThread.join();
    FIngest.Stop();
    if (FHttp) FHttp->Stop();
    FViewer.reset();
}

void TViewApp::StartViewer() {
    TSiViewerServerOptions options;
    options.PipeName = FOptions.PipeName;
    options.Tcp = FOptions.Tcp;
    options.TcpPort = FOptions.TcpPort;
    FViewer = std::make_unique<TSiViewerServer>(options);
    const auto sourceOf = [this](const TSiViewerConnection& AConnection) -> std::uint32_t {
        // Each connection is served by a thread of its own, which remembers its source.
        thread_local std::uint64_t number = 0;
        thread_local std::uint32_t source = 0;
        thread_local const void* owner = nullptr;
        if (number != AConnection.Number || owner != this) {
            std::lock_guard guard(FSourcesLock);
            const auto it = FSources.find(AConnection.Number);
            number = AConnection.Number;
            owner = this;
            source = it == FSources.end() ? 0 : it->second;
        }
        return source;
    };
    FViewer->OnConnect = [this](const TSiViewerConnection& c) {
        const bool pipe = c.Transport == TSiViewerTransport::vtPipe;
        const std::string name = pipe ? FOptions.PipeName
                                      : "tcp port " + std::to_string(FViewer->TcpPort()) +
                                            " client " + std::to_string(c.Number);
        const std::uint32_t id = FStore.AddSource(pipe ? "pipe" : "tcp", name, "connected");
        FStore.SetSourceBanner(id, c.ClientBanner);
        {
            std::lock_guard guard(FSourcesLock);
            FSources[c.Number] = id;
        }
        Report(std::string(pipe ? "pipe" : "tcp") + " client " + std::to_string(c.Number) +
               " connected: \"" + EscapeText(c.ClientBanner) + "\"");
    };
    FViewer->OnPacket = [this, sourceOf](const TSiViewerConnection& c, TSiPacket& packet) {
        // Live packets come after those of the files.
        while (!FFilesRead.load() && !FStopping.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (FOptions.Printer != nullptr) {
            std::lock_guard guard(FPrintLock);
            FOptions.Printer->Print(packet);
        }
        FIngest.Push(sourceOf(c), TSiPacketPtr::Share(&packet));
    };
    FViewer->OnDisconnect = [this](const TSiViewerConnection& c, const std::string& error) {
        std::uint32_t id = 0;
        {
            std::lock_guard guard(FSourcesLock);
            const auto it = FSources.find(c.Number);
            if (it != FSources.end()) {
                id = it->second;
                FSources.erase(it);
            }
        }
        if (id != 0) FStore.SetSourceState(id, "closed", error);
        Report(std::string(c.Transport == TSiViewerTransport::vtPipe ? "pipe" : "tcp") +
               " client " + std::to_string(c.Number) + " disconnected" +
               (error.empty() ? "" : ": " + EscapeText(error)));
    };
    FViewer->OnListenError = [this](TSiViewerTransport, const std::string& error) {
        Report(error);
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
    std::vector<TFile> files;
    TLogReaderOptions options;
    options.Key = FOptions.Key;
    options.Follow = FOptions.Follow;
    for (const std::string& path : FOptions.Files) {
        TFile file;
        file.Path = path;
        file.Current = FOptions.Follow ? FirstFollowedFile(path, file.BaseName) : path;
        file.Source = FStore.AddSource("file", path, "reading");
        file.Reader = std::make_unique<TLogReader>(options);
        std::string error;
        if (!file.Reader->Open(file.Current, error)) {
            FStore.SetSourceState(file.Source, "error", error);
            Report(path + ": " + error);
            file.Ended = true;
        }
        files.push_back(std::move(file));
    }
    // Takes the next step of a file; returns a packet or nothing.
    const auto step = [&](TFile& AFile) -> TSiPacketPtr {
        TLogStep s;
        try {
            s = AFile.Reader->Next();
        } catch (const std::exception& e) {
            s.What = TLogStep::lsFailure;
            s.Message = e.what();
        }
        switch (s.What) {
            case TLogStep::lsPacket:
                return s.Packet;
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
                Report(AFile.Path + ": " + s.Message);
                return nullptr;
            case TLogStep::lsDamage:
            case TLogStep::lsFailure:
                AFile.Ended = true;
                FStore.SetSourceState(AFile.Source, "error", s.Message);
                Report(AFile.Path + ": " + s.Message);
                return nullptr;
        }
        return nullptr;
    };
    const auto timeOf = [](TSiPacket& APacket) -> double {
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
        TFile* next = nullptr;
        for (TFile& file : files) {
            while (!file.Pending && !file.Ended && !file.Waiting) {
                file.Pending = step(file);
                if (file.Pending) {
                    const double time = timeOf(*file.Pending);
                    file.Key = std::isfinite(time) ? time : file.Last;
                    file.Last = file.Key;
                }
            }
            if (file.Pending && (next == nullptr || file.Key < next->Key)) next = &file;
        }
        if (next == nullptr) break;
        FIngest.Push(next->Source, std::move(next->Pending));
        next->Pending = nullptr;
    }
    FIngest.Flush();
    FFilesRead = true;
    if (!FOptions.Follow) return;
    for (TFile& file : files) {
        if (!file.Ended) FStore.SetSourceState(file.Source, "following");
    }
    // Following: what is appended to the files goes in as it arrives; a file replaced by a new
    // one of its name, or rotated, is followed into the new one.
    while (!FStopping) {
        bool any = false;
        for (TFile& file : files) {
            if (file.Ended) continue;
            file.Waiting = false;
            for (int i = 0; i < 10000 && !file.Waiting && !file.Ended && !FStopping; ++i) {
                if (TSiPacketPtr packet = step(file)) {
                    FIngest.Push(file.Source, std::move(packet));
                    any = true;
                }
            }
            if (!file.Waiting || file.Ended) continue;
            const std::string next =
                NextFollowedFile(file.Path, file.BaseName, file.Current, *file.Reader);
            if (next.empty()) continue;
            // What was written to the old file before the switch goes first.
            for (file.Waiting = false; !file.Waiting && !file.Ended;) {
                if (TSiPacketPtr packet = step(file)) FIngest.Push(file.Source, std::move(packet));
            }
            file.Current = next;
            file.Reader = std::make_unique<TLogReader>(options);
            std::string error;
            if (!file.Reader->Open(next, error)) {
                FStore.SetSourceState(file.Source, "error", next + ": " + error);
                Report(next + ": " + error);
                file.Ended = true;
                continue;
            }
            file.Ended = file.Waiting = false;
            FStore.SetSourceState(file.Source, "following");
            Report("following " + next);
            any = true;
        }
        if (!any) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace deruz::silog::view
