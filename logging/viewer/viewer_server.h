// TSiViewerServer: the receiving end of the "pipe" and "tcp" protocols, as a log viewer runs
// it. It serves a pipe name and/or a TCP port, sends each client its banner line, reads and
// checks the client's banner line, decodes every packet and hands it to a callback; each packet
// that arrives over TCP is acknowledged with 2 bytes (the acknowledgements of the packets
// decoded from one read go out in one write). Malformed input ends the connection with an
// error that names the fault.
//
// Clients are served at the same time, each on a thread of its own, up to MaxConnections; a
// client beyond that waits to be accepted until one ends. So that no client can hold its
// thread for ever, the banner line must come within BannerTimeout and each packet, once begun,
// must be complete (and its acknowledgement taken) within PacketTimeout; a client that is idle
// between packets is never timed out. One slow or hostile client thus delays no other.
//
// Used by the silog tool and by the tests, which can also make it misbehave (a banner without
// end, a close at a chosen moment, missing or short acknowledgements).
//
// Thread safety: Start and Stop are called by the owner (not from a callback). The callbacks
// run on the server's connection threads: those of one connection in order on its thread,
// those of different connections at the same time; OnListenError runs on a listener's thread.
// RequestStop and the counters may be used from any thread. Set the options and callbacks
// before Start.
// Ownership: the server owns its listeners and threads; Stop (or destruction) closes them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "logging/packets/packet.h"
#include "logging/viewer/viewer_transport.h"

namespace deruz::logging {

enum class TSiViewerTransport : std::uint8_t { vtPipe, vtTcp };

// The connection a callback is about.
struct TSiViewerConnection {
    TSiViewerTransport Transport = TSiViewerTransport::vtPipe;
    // 1 for the first client this server accepted (over either transport), then counting up.
    std::uint64_t Number = 0;
    // The client's banner line without CR and LF; empty until it has been read.
    std::string ClientBanner;
};

struct TSiViewerServerOptions {
    // The pipe to serve; none when empty.
    std::string PipeName;
    // Whether to serve TCP, on which address and port (0: a free port, see TcpPort()).
    bool Tcp = false;
    std::string TcpAddress = "127.0.0.1";
    std::uint16_t TcpPort = 4228;

    // The banner line sent to every client, and whether its LF follows.
    std::string Banner = "SiLog Viewer";
    bool TerminateBanner = true;
    // False: send no banner at all (the client waits for it).
    bool SendBanner = true;
    // Close each connection right after the banner.
    bool CloseAfterBanner = false;
    // A client banner must begin with this text (empty: any line is accepted).
    std::string ClientBannerPrefix = "SiLog";
    // The longest client banner line accepted, in bytes.
    std::size_t MaxBannerLength = 4096;
    // False: the bytes after the client banner are read and dropped undecoded (OnData still
    // sees them), for measuring what a client costs. Pipes only: TCP needs packet boundaries
    // for its acknowledgements.
    bool DecodePackets = true;
    // The largest packet (header and body) accepted, in bytes.
    std::size_t MaxPacketSize = 256u << 20;

    // The 2 bytes that acknowledge a TCP packet.
    std::string Acknowledgement = "OK";
    // TCP: after this many acknowledged packets per connection, the next packet gets only the
    // first PartialAcknowledgement bytes of its acknowledgement and the connection is closed.
    // Negative: no limit.
    std::int64_t AcknowledgeLimit = -1;
    std::size_t PartialAcknowledgement = 0;

    // Milliseconds a client has, from being accepted, to complete its banner line; 0: no limit.
    std::uint32_t BannerTimeout = 10000;
    // Milliseconds a packet may take from its first byte to its last, and an acknowledgement to
    // be taken by the client; 0: no limit. Time between packets is not limited.
    std::uint32_t PacketTimeout = 30000;
    // The most connections served at once (over both transports together); at least 1.
    std::size_t MaxConnections = 512;
};

class TSiViewerServer {
  public:
    // A connection has exchanged banners.
    using TConnectEvent = std::function<void(const TSiViewerConnection&)>;
    // A packet was decoded. The callback may keep the packet (take a reference).
    using TPacketEvent = std::function<void(const TSiViewerConnection&, TSiPacket&)>;
    // Bytes arrived, exactly as read (the client banner included), before they are decoded.
    using TDataEvent =
        std::function<void(const TSiViewerConnection&, std::span<const std::uint8_t>)>;
    // A connection ended: AError is empty when the client closed it at a packet boundary or the
    // server was stopped, else the reason.
    using TDisconnectEvent =
        std::function<void(const TSiViewerConnection&, const std::string& AError)>;
    // Acknowledgements of the packets handed to OnPacket are about to be written (TCP). The
    // callback may wait (until the packets are safe where the server's owner keeps them), and
    // may raise to end the connection without acknowledging them: the client sends them again.
    using TAcknowledgeEvent = std::function<void(const TSiViewerConnection&)>;
    // A listener failed and stopped serving its transport.
    using TListenErrorEvent =
        std::function<void(TSiViewerTransport ATransport, const std::string& AError)>;

    explicit TSiViewerServer(TSiViewerServerOptions AOptions);
    ~TSiViewerServer();
    TSiViewerServer(const TSiViewerServer&) = delete;
    TSiViewerServer& operator=(const TSiViewerServer&) = delete;

    TConnectEvent OnConnect;
    TPacketEvent OnPacket;
    TDataEvent OnData;
    TDisconnectEvent OnDisconnect;
    TAcknowledgeEvent OnAcknowledge;
    TListenErrorEvent OnListenError;

    // Starts listening; once it returns, clients can connect. Raises ESiError when a pipe or
    // port cannot be served (nothing is left listening then).
    void Start();
    // Stops listening, ends the current connections and waits for the server's threads.
    void Stop();
    // Asks the server to stop without waiting (safe from a callback).
    void RequestStop() noexcept;

    // The TCP port served (the one chosen by the system when 0 was asked for); 0 before Start.
    std::uint16_t TcpPort() const noexcept { return FTcpPort.load(); }
    // Connections accepted and packets decoded so far.
    std::uint64_t Connections() const noexcept { return FConnections.load(); }
    std::uint64_t Packets() const noexcept { return FPackets.load(); }

    const TSiViewerServerOptions& Options() const noexcept { return FOptions; }

  private:
    // A listener's thread: accepts clients while a connection is free and starts their threads.
    void Run(TSiViewerListener& AListener, TSiViewerTransport ATransport) noexcept;
    // A connection's thread: serves the client, then reports its end.
    void ServeConnection(std::unique_ptr<TSiViewerChannel> AChannel,
                         TSiViewerConnection AConnection) noexcept;
    // Serves one client; returns the reason it ended (empty: orderly).
    std::string Serve(TSiViewerChannel& AChannel, TSiViewerConnection& AConnection);
    // Waits until fewer than MaxConnections are served or the server stops (false then).
    bool WaitForFreeConnection();

    TSiViewerServerOptions FOptions;
    std::unique_ptr<TSiViewerListener> FPipeListener;
    std::unique_ptr<TSiViewerListener> FTcpListener;
    std::mutex FLock;
    std::condition_variable FConnectionEnded;
    std::vector<std::thread> FThreads;
    // Guarded by FLock: the threads of the connections served, how many there are, and the
    // thread of the connection that ended last. Each ending thread joins the one that ended
    // before it, so that only the last one is left to join (by Stop).
    std::list<std::thread> FWorkers;
    std::size_t FActive = 0;
    std::thread FLastEnded;
    std::atomic<bool> FStopping{false};
    std::atomic<std::uint16_t> FTcpPort{0};
    std::atomic<std::uint64_t> FConnections{0};
    std::atomic<std::uint64_t> FPackets{0};
};

}  // namespace deruz::logging
