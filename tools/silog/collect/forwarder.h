// TForwarder: one destination of silog collect. Every packet that arrives is turned into the
// destination's message (RFC 5424 syslog, or a JSON line of silog dump's schema), appended to
// the destination's on-disk queue (disk_queue.h), and sent from there, in order, by the
// destination's own sender thread, so that a slow or absent destination delays no client and
// no other destination, and nothing waits only in memory.
//
// Delivery: a message leaves the queue once the destination has it. A RELP receiver confirms
// each message. A syslog receiver over TCP or TLS never does, and bytes written into a
// connection that it closes before reading them are lost without an error: so a message sent
// over TCP stays in the queue for kReplayWindow after it went out, and when the connection is
// found lost, everything sent but not yet confirmed is sent again (a restart of the receiver
// may then deliver some messages twice, but loses none that went out in that window). UDP has
// no delivery guarantee at all: a datagram sent counts as delivered.
//
// Durability: Sync makes every message appended so far durable, in the queue on disk (or,
// when the queue's folder cannot be written, delivered); silog collect acknowledges a client's
// packets only once every destination has them durable.
//
// Thread safety: Push, Sync, DurableAt, Describe and the counters may be called from any
// thread; Start and Stop by the owner.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
//   relp(host=H, port=P, tls=true|false, ca=FILE, servername=NAME, cert=FILE, key=FILE,
//        facility=F, maxlength=N, queue=SIZE, retry=SECONDS, timeout=MS)
//   json(host=H, port=P, queue=SIZE, retry=SECONDS, timeout=MS)
// Raises std::runtime_error (ESiError) with the fault.
TDestinationSettings ParseDestination(const std::string& AText);

// Where a packet came from: the client's host and application (from its log header), for
// packets that carry neither.
struct TPacketSource {
    std::string HostName;
    std::string AppName;
};

// Keeps the last text of one kind of error and tells whether a new one is worth a line: the
// first, and each that differs from the one before. Counts them all.
class TErrorNote {
  public:
    // True when AText should be reported (it differs from the last one).
    bool Note(const std::string& AText);
    // The error is over (a success): the next one is reported again.
    void Clear();
    std::uint64_t Count() const noexcept { return FCount; }
    const std::string& Last() const noexcept { return FLast; }
    bool Active() const noexcept { return FActive; }

  private:
    std::string FLast;
    std::uint64_t FCount = 0;
    bool FActive = false;
};

class TForwarder {
  public:
    // What the sender takes from the queue in one batch.
    static constexpr std::size_t kBatchBytes = 256u << 10;
    // How long a message sent over a link without acknowledgements stays resendable.
    static constexpr auto kReplayWindow = std::chrono::seconds(1);

    // Says a line about the destination (its errors and findings), from any thread.
    using TReport = std::function<void(const std::string&)>;

    TForwarder(TDestinationSettings ASettings, const std::filesystem::path& AQueueFolder,
               TReport AReport = {});
    ~TForwarder();
    TForwarder(const TForwarder&) = delete;
    TForwarder& operator=(const TForwarder&) = delete;

    void Start();
    // Stops the sender and writes the queue to disk.
    void Stop();

    void Push(logging::TSiPacket& APacket, const TPacketSource& ASource);

    // Makes the messages pushed so far durable; returns how many messages had been pushed when
    // it began, for DurableAt.
    std::uint64_t Sync();
    // Whether the first AMessages messages pushed are durable.
    bool DurableAt(std::uint64_t AMessages);

    // One line of state: "<text> up|down out=N confirmed=N queued=N (B bytes) dropped=N
    // resent=N damaged=N errors=N [error="..."]".
    std::string Describe();
    const TDestinationSettings& Settings() const noexcept { return FSettings; }

    std::uint64_t Sent() const noexcept { return FSent.load(); }
    std::uint64_t Queued();
    std::uint64_t Dropped();

  private:
    // What went out and is not yet confirmed, with when and the link's count after it.
    struct TInFlight {
        std::chrono::steady_clock::time_point At;
        std::uint64_t LinkCount = 0;
        std::vector<TQueueMark> Marks;
    };

    void Run() noexcept;
    // The message of one packet.
    std::string Encode(logging::TSiPacket& APacket, const TPacketSource& ASource) const;
    bool EnsureConnected();
    void ConnectionLost(const std::string& AError);
    // Confirms what the receiver has (acknowledged, or past the replay window); with AAll,
    // everything sent (a connection closed in order).
    void ConfirmDelivered(bool AAll);
    // Reports an error of the destination or of the queue when it is new; under FLock for the
    // queue's.
    void NoteLinkError(const std::string& AError);
    void ReportQueueStateLocked();

    TDestinationSettings FSettings;
    TReport FReport;
    std::unique_ptr<TForwardLink> FLink;
    bool FConnected = false;
    std::chrono::steady_clock::time_point FNextAttempt{};
    std::chrono::steady_clock::time_point FLastSend{};

    // Guards the queue and the flags below it.
    std::mutex FLock;
    std::condition_variable FWake;
    TDiskQueue FQueue;
    bool FStopping = false;
    // Whether the sender waits for FWake (so that Push need not signal otherwise).
    bool FSenderWaiting = false;
    TErrorNote FQueueError;

    // The sender's own.
    std::deque<TInFlight> FInFlight;
    std::uint64_t FLinkCount = 0;
    std::chrono::steady_clock::time_point FHeadSaved{};

    std::atomic<std::uint64_t> FSent{0};
    std::atomic<std::uint64_t> FConfirmed{0};
    std::atomic<std::uint64_t> FResent{0};
    std::atomic<bool> FUp{false};
    std::mutex FErrorLock;
    TErrorNote FLinkError;
    std::thread FThread;
};

}  // namespace deruz::silog::collect
