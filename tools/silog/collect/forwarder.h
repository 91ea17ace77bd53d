// TForwarder: one destination of silog collect. Every packet that arrives is turned into the
// destination's message (RFC 5424 syslog, or a JSON line of silog dump's schema) and sent, in
// arrival order, by the destination's own sender thread, so that a slow or absent destination
// delays no client and no other destination.
//
// What cannot be sent goes to the destination's on-disk queue (disk_queue.h) and is sent from
// there, oldest first, once the destination is back; the queue's bound drops the oldest and
// counts them. Messages wait in memory only up to a fixed amount (kMemoryBytes), then go to the
// queue too, so memory stays bounded whatever the backlog.
//
// A syslog receiver never acknowledges anything: bytes written into a TCP connection that the
// receiver closes before reading them are lost without an error. So the sender keeps the
// messages of its last second of sending (at most kReplayBytes) and, when it finds the
// connection lost, puts them back in front of the queue: a restart of the receiver may then
// deliver some messages twice, but loses none that were sent in that window. UDP has no
// delivery guarantee at all.
//
// Thread safety: Push may be called from any thread; Start, Stop and Describe by the owner.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "logging/format/syslog_formatter.h"
#include "logging/packets/packet.h"
#include "tools/silog/collect/disk_queue.h"
#include "tools/silog/collect/forward_link.h"

namespace deruz::silog::collect {

enum class TMessageFormat { Syslog, Json };

struct TDestinationSettings {
    // As given on the command line, for reports.
    std::string Text;
    TMessageFormat Format = TMessageFormat::Syslog;
    TLinkSettings Link;
    logging::TSiSyslogSettings Syslog;
    // The bound of the on-disk queue, in bytes.
    std::uint64_t QueueBytes = 256u << 20;
    // Milliseconds between connection attempts while the destination is down.
    std::uint32_t RetryInterval = 1000;
};

// Parses a destination written as a connections-string entry:
//   syslog(host=H, port=P, transport=tcp|udp|tls, facility=F, maxlength=N, ca=FILE,
//          servername=NAME, cert=FILE, key=FILE, queue=SIZE, retry=SECONDS, timeout=MS)
//   json(host=H, port=P, queue=SIZE, retry=SECONDS, timeout=MS)
// Raises std::runtime_error (ESiError) with the fault.
TDestinationSettings ParseDestination(const std::string& AText);

// Where a packet came from: the client's host and application (from its log header), for
// packets that carry neither.
struct TPacketSource {
    std::string HostName;
    std::string AppName;
};

class TForwarder {
  public:
    static constexpr std::size_t kMemoryBytes = 4u << 20;
    static constexpr std::size_t kReplayBytes = 16u << 20;
    static constexpr std::size_t kBatchBytes = 256u << 10;

    TForwarder(TDestinationSettings ASettings, const std::filesystem::path& AQueueFolder);
    ~TForwarder();
    TForwarder(const TForwarder&) = delete;
    TForwarder& operator=(const TForwarder&) = delete;

    void Start();
    // Stops the sender; what is still in memory goes to the on-disk queue.
    void Stop();

    void Push(logging::TSiPacket& APacket, const TPacketSource& ASource);

    // One line of state: "<text> up|down out=N queued=N (B bytes) dropped=N resent=N
    // [error=...]".
    std::string Describe();
    const TDestinationSettings& Settings() const noexcept { return FSettings; }

    std::uint64_t Sent() const noexcept { return FSent.load(); }
    std::uint64_t Queued();
    std::uint64_t Dropped();

  private:
    void Run() noexcept;
    // The wire form of one message.
    std::string Encode(logging::TSiPacket& APacket, const TPacketSource& ASource) const;
    // Sends a batch whole; false, with the reason, when that failed.
    bool SendBatch(const TRecordBatch& ABatch, std::string& AError);
    bool EnsureConnected();
    void ConnectionLost(const std::string& AError);
    // Keeps AError for the state report (under FErrorLock).
    void NoteError(const std::string& AError);
    // Moves what waits in memory to the disk queue; FLock and FDiskLock held by the caller.
    void SpillLocked();
    void RememberSent(TRecordBatch ABatch);

    TDestinationSettings FSettings;
    std::unique_ptr<TForwardLink> FLink;
    bool FConnected = false;
    std::chrono::steady_clock::time_point FNextAttempt{};

    // Lock order: FLock, then FDiskLock.
    std::mutex FLock;
    std::condition_variable FWake;
    TRecordBatch FPending;
    bool FStopping = false;
    // Whether the sender waits for FWake (so that Push need not signal otherwise).
    bool FSenderWaiting = false;

    std::mutex FDiskLock;
    TDiskQueue FDisk;
    // FDisk.Records(), readable without FDiskLock.
    std::atomic<std::uint64_t> FDiskRecords{0};

    // The sender's own: what it sent lately, oldest first, with when.
    std::deque<std::pair<std::chrono::steady_clock::time_point, TRecordBatch>> FReplay;
    std::size_t FReplayBytes = 0;

    std::atomic<std::uint64_t> FSent{0};
    std::atomic<std::uint64_t> FResent{0};
    std::atomic<bool> FUp{false};
    std::mutex FErrorLock;
    std::string FLastError;
    std::thread FThread;
};

}  // namespace deruz::silog::collect
