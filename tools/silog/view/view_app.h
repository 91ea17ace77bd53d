// `silog view` put together: the viewer server (pipe and TCP clients) and the log files feed
// the store through one ingest thread, and the HTTP server serves the page and its API.
//
// Threads: each pipe or TCP client has the viewer server's connection thread, which only
// queues the packets it decodes (so that it acknowledges them at once); one ingest thread
// takes the queue in batches and adds them to the store in arrival order; one thread reads the
// files; each HTTP connection has a thread of its own. When the queue is full, the connection
// threads wait, and so do their clients: nothing is lost, a fast client is slowed down.
//
// Thread safety: Start and Stop are called by the owner; the accessors from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "logging/packets/packet.h"
#include "logging/viewer/viewer_server.h"
#include "tools/silog/packet_printer.h"
#include "tools/silog/view/http_server.h"
#include "tools/silog/view/view_api.h"
#include "tools/silog/view/view_store.h"

namespace deruz::silog::view {

// Packets on their way from the connection and file threads to the store.
class TViewIngest {
  public:
    explicit TViewIngest(TViewStore& AStore, std::size_t ACapacity = 65536);
    ~TViewIngest();
    TViewIngest(const TViewIngest&) = delete;
    TViewIngest& operator=(const TViewIngest&) = delete;

    // Queues a packet of source ASource; waits while the queue is full. Returns false once
    // stopped.
    bool Push(std::uint32_t ASource, logging::TSiPacketPtr APacket);
    // Waits until everything queued so far is in the store.
    void Flush();
    // Adds what is queued, then ends the thread.
    void Stop();

  private:
    void Run();

    static constexpr std::size_t kWakeAt = 4096;
    TViewStore& FStore;
    std::size_t FCapacity;
    std::mutex FLock;
    std::condition_variable FHasWork;
    std::condition_variable FHasRoom;
    std::vector<std::pair<std::uint32_t, logging::TSiPacketPtr>> FQueue;
    std::uint64_t FQueued = 0;  // packets pushed so far
    std::uint64_t FDone = 0;    // packets added so far
    bool FStopping = false;
    bool FIdle = false;  // the ingest thread waits for the queue to be non-empty
    std::thread FThread;
};

struct TViewOptions {
    std::string PipeName;  // empty: no pipe
    bool Tcp = false;
    std::uint16_t TcpPort = 4228;
    std::string HttpAddress = "127.0.0.1";
    std::uint16_t HttpPort = 4229;
    std::string Token;  // in force when not empty
    std::vector<std::uint8_t> Key;
    std::uint64_t Keep = 1000000;
    std::uint64_t KeepBytes = std::uint64_t{1} << 30;
    bool Follow = false;
    std::vector<std::string> Files;
    // Also prints every packet that a client sends, as silog listen does; none when null.
    // The printer must outlive the app.
    TPacketPrinter* Printer = nullptr;
};

class TViewApp {
  public:
    // AErr receives the reports of connections and files (one line each).
    TViewApp(TViewOptions AOptions, std::ostream& AErr);
    ~TViewApp();

    // Starts the HTTP server, the file reader and the pipe and TCP listeners. Raises ESiError
    // when an address or pipe cannot be served.
    void Start();
    void Stop();

    std::uint16_t HttpPort() const { return FHttp ? FHttp->Port() : 0; }
    std::uint16_t TcpPort() const { return FViewer ? FViewer->TcpPort() : 0; }
    // The page's address, with the token when one is in force.
    std::string Url() const;
    // Whether the files have been read (to their end, or to the point of following).
    bool FilesRead() const { return FFilesRead.load(); }
    TViewStore& Store() { return FStore; }
    TViewIngest& Ingest() { return FIngest; }

  private:
    void ReadFiles();
    void StartViewer();
    void Report(const std::string& ALine);

    TViewOptions FOptions;
    std::ostream& FErr;
    std::mutex FErrLock;
    std::mutex FPrintLock;
    TViewStore FStore;
    TViewIngest FIngest;
    std::unique_ptr<TViewApi> FApi;
    std::unique_ptr<THttpServer> FHttp;
    std::unique_ptr<logging::TSiViewerServer> FViewer;
    std::mutex FSourcesLock;
    std::unordered_map<std::uint64_t, std::uint32_t> FSources;  // connection number to source
    std::thread FFileThread;
    std::atomic<bool> FStopping{false};
    std::atomic<bool> FFilesRead{false};
};

}  // namespace deruz::silog::view
