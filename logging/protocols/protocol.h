// The protocol framework: what every destination of the log (viewer pipe or TCP port, log file,
// text file, memory store) shares.
//
// - TSiProtocol, the abstract base of the protocols: its twelve common options and their older
//   aliases, the synchronous state machine (connect, write, reconnect with a minimum interval,
//   reset), the backlog that holds packets back and writes them in bursts, error reporting, and
//   the asynchronous mode in which a worker thread (TSiScheduler) does all the work.
// - TSiProtocolCommand, a custom action that the logger core passes to one protocol by caption.
// - TSiProtocolFactory, the process-wide registry of protocol classes by name.
//
// Errors: in synchronous mode Connect, Disconnect, WritePacket and Dispatch raise
// ESiProtocolError (errors.h) for a failing connection, write or dispatch, and leave the protocol
// failed. A failed connection keeps the backlog, with the packets it left unacknowledged back in
// front and a burst's unsent packets still in it, for the next burst; only a disconnect empties
// it. In asynchronous mode nothing reaches the calling thread: errors
// arrive through OnError on the worker thread, and a command that the worker's queue refuses is
// dropped without a report. Initialize and the factory raise ESiError for invalid options and
// unknown names (and the options parser's syntax errors).
//
// Thread safety: Connect, Disconnect, WritePacket, Dispatch, Initialize and GetOptions are
// serialised by the protocol's own re-entrant lock and may be called from any thread; an owner
// that serialises all its calls itself may spare a synchronous WritePacket that lock
// (SetOwnerSerialises). Caption,
// Asynchronous and the option fields are fixed by Initialize, which must finish before the
// protocol is shared. Failed may be read at any time. AppName, HostName and OnError have locks
// of their own, so the logger core may change them while a worker runs. Lock order: the
// protocol's lock, then its scheduler's lock; the worker thread takes the protocol's lock only
// when an OnError handler calls the protocol that reports (writes to it, disconnects it), and
// skips such a call rather than wait for a Disconnect on another thread that holds the lock. An
// asynchronous Disconnect waits for the worker, so its caller must not hold a lock that the
// OnError handler takes.
//
// Ownership: protocols live in a TSiProtocolPtr (SiMakeProtocol, the factory): its deleter
// disconnects the protocol while the concrete protocol is still whole, so that no protocol has to
// remember to do so in its destructor and no worker thread outlives the parts it calls. Queues
// take their own references on packets and commands; callers keep theirs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "logging/base/errors.h"
#include "logging/base/intrusive_ptr.h"
#include "logging/base/level.h"
#include "logging/config/connections.h"
#include "logging/config/lookup_table.h"
#include "logging/packets/packet.h"
#include "logging/packets/packet_queue.h"
#include "logging/protocols/protocol_command.h"
#include "logging/protocols/scheduler.h"

namespace deruz::logging {

class TSiProtocol;

// Disconnects a protocol (swallowing any error, joining its worker) and then frees it.
struct TSiProtocolDeleter {
    void operator()(TSiProtocol* AProtocol) const noexcept;
};

// The owner of a protocol of class T, and of any protocol.
template <class T>
using TSiProtocolOf = std::unique_ptr<T, TSiProtocolDeleter>;
using TSiProtocolPtr = TSiProtocolOf<TSiProtocol>;

// Receives the errors of an asynchronous protocol, on its worker thread.
using TSiProtocolErrorEvent =
    std::function<void(TSiProtocol& ASender, const ESiProtocolError& AException)>;

class TSiProtocol : private TSiSchedulerTarget {
  public:
    // Expects the protocol disconnected by its owner (TSiProtocolDeleter); see Shutdown.
    virtual ~TSiProtocol();
    TSiProtocol(const TSiProtocol&) = delete;
    TSiProtocol& operator=(const TSiProtocol&) = delete;

    // Parses the options text ("key=value, ...") once; later calls do nothing. Raises ESiError
    // for a key that the protocol does not accept (and the parser's syntax errors); the stored
    // options are then removed and the protocol stays uninitialised.
    void Initialize(const std::string& AOptions);

    // Opens the connection (synchronous) or starts the worker thread (asynchronous).
    void Connect();
    // Closes the connection; asynchronously, waits until the worker has run what was queued.
    void Disconnect();
    // Writes APacket unless its level is below the "level" option. Takes its own reference
    // when it keeps the packet (backlog, worker queue).
    void WritePacket(TSiPacket& APacket);
    // As WritePacket; an asynchronous protocol that writes locally (WritesLocally) and whose
    // worker is idle with nothing queued writes the packet on the calling thread instead of
    // handing it over (TSiScheduler::RunOrSchedule): for a caller that is itself a worker
    // thread, to spare the packet a second thread.
    void WritePacketHere(TSiPacket& APacket);
    // Whether a write only ever waits for the local system (a file, memory), never for a peer
    // that may not read (a pipe, a socket): only such a protocol writes on the caller's thread
    // in WritePacketHere.
    virtual bool WritesLocally() const noexcept { return false; }
    // Whether the protocol formats a log entry in the binary packet format (TSiBinaryFormatter)
    // while it writes it, and so can take the entry's bytes encoded beforehand
    // (TSiLogEntry::Encoded); not a protocol that keeps packets to format them later.
    virtual bool WritesBinary() const noexcept { return false; }
    // Runs a custom action while connected; likewise takes its own reference when queueing.
    void Dispatch(TSiProtocolCommand& ACommand);

    // The owner promises that it makes every call of this protocol under one lock of its own
    // (the logger core does, with its core lock), so that a synchronous protocol's WritePacket
    // need not take the protocol's lock as well: one lock hold per packet. Set before the
    // protocol is shared; an asynchronous protocol keeps its lock, which its worker shares.
    void SetOwnerSerialises(bool AValue) noexcept { FOwnerSerialises = AValue; }

    // The options as the connections builder writes them, without name and parentheses; reading
    // the text back gives the same settings.
    std::string GetOptions();

    // The name under which the logger core finds the protocol for Dispatch: the "caption"
    // option, by default the protocol's name.
    std::string Caption() const;
    bool Failed() const noexcept { return FFailed.load(std::memory_order_acquire); }
    // Packets this protocol has dropped since it was made: the oldest held back when the
    // backlog overflowed, asynchronous writes dropped because the queue was full (without
    // throttling, or once failed) or a packet was larger than the whole queue, and packets
    // written to a peer that acknowledges them whose acknowledgement never came (the connection
    // broke, or was closed without them), unless the backlog took them back. May be read at
    // any time.
    std::uint64_t DroppedPackets() const noexcept {
        return FDropped.load(std::memory_order_relaxed);
    }
    bool Asynchronous() const noexcept { return FAsyncEnabled; }
    // The asynchronous options: whether a full queue makes writers wait, and its size in bytes.
    bool AsyncThrottle() const noexcept { return FAsyncThrottle; }
    std::int64_t AsyncQueue() const noexcept { return FAsyncQueue; }

    // Names for the log header, set by the logger core.
    std::string AppName() const;
    void SetAppName(const std::string& AValue);
    std::string HostName() const;
    void SetHostName(const std::string& AValue);

    TSiProtocolErrorEvent GetOnError() const;
    void SetOnError(TSiProtocolErrorEvent AValue);

    // The protocol's registered name ("pipe", "tcp", "file", "text", "mem", "syslog").
    virtual std::string GetName() const = 0;

  protected:
    // Every option field starts at its default; Initialize reads the options.
    TSiProtocol();

    // Writes the options in the order of GetOptions; a protocol appends its own after calling
    // the base.
    virtual void BuildOptions(TSiConnectionsBuilder& ABuilder);
    // Reads the options into fields; a protocol reads its own after calling the base.
    virtual void LoadOptions();
    // Whether AKey (lower-cased) is an option of this protocol; a protocol tests its own keys
    // and then asks the base.
    virtual bool IsValidOption(const std::string& AKey) const;

    // Opens the connection; raises on failure. Connection-oriented protocols call
    // InternalWriteLogHeader once it is established.
    virtual void InternalConnect() = 0;
    // Opens the connection again after a loss; false when the peer is simply not there. Errors
    // are swallowed by the caller. By default InternalConnect, then true.
    virtual bool InternalReconnect();
    // Closes the connection; must also cope with a half-open or already closed one.
    virtual void InternalDisconnect() = 0;
    // Writes one packet; the packet's lock is held.
    virtual void InternalWritePacket(TSiPacket& APacket) = 0;
    // Runs a custom action; does nothing by default.
    virtual void InternalDispatch(TSiProtocolCommand& ACommand);
    // Waits until the peer has confirmed every packet written on the connection (a viewer's
    // acknowledgements); raises when it cannot. Run before a disconnect closes the connection,
    // and before a backlog burst without keep-open closes its own. Nothing to wait for by
    // default: a protocol whose packets are delivered once InternalWritePacket returns.
    virtual void InternalAwaitDelivery();
    // Hands over the packets written on the connection that is being torn down whose delivery
    // was not confirmed, in the order written, and forgets them: one entry each, holding the
    // packet when the protocol kept it (it keeps them while BacklogEnabled) and null otherwise.
    // The log header is never among them. None by default.
    virtual void InternalTakeUnacknowledged(std::vector<TSiPacketPtr>& APackets);

    // Typed option readers; defaults in the option kind's bare unit (kilobytes for sizes,
    // seconds for time spans).
    std::string GetStringOption(const std::string& AKey, const std::string& ADefault) const;
    bool GetBooleanOption(const std::string& AKey, bool ADefault) const;
    std::int32_t GetIntegerOption(const std::string& AKey, std::int32_t ADefault) const;
    TSiLevel GetLevelOption(const std::string& AKey, TSiLevel ADefault) const;
    std::int64_t GetSizeOption(const std::string& AKey, std::int64_t ADefault) const;
    std::uint32_t GetTimespanOption(const std::string& AKey, std::int64_t ADefault) const;
    TSiFileRotate GetRotateOption(const std::string& AKey, TSiFileRotate ADefault) const;
    std::vector<std::uint8_t> GetBytesOption(const std::string& AKey, std::size_t ASize,
                                             const std::vector<std::uint8_t>& ADefault) const;

    // Whether the owner serialises every call (SetOwnerSerialises).
    bool OwnerSerialises() const noexcept { return FOwnerSerialises; }
    // Whether the backlog is enabled: packets whose delivery a broken connection leaves
    // unconfirmed then go back into it (InternalTakeUnacknowledged).
    bool BacklogEnabled() const noexcept { return FBacklogEnabled; }

    // Writes a log header with the application and host names straight through
    // InternalWritePacket (no level filter, no backlog).
    void InternalWriteLogHeader();

    // Marks the protocol failed and reports AMessage as an ESiProtocolError: raised to the
    // caller in synchronous mode, passed to OnError in asynchronous mode (and then returns).
    void HandleException(const std::string& AMessage);

  private:
    friend struct TSiProtocolDeleter;

    // Disconnects, swallowing any error, and joins a retired worker: the owner's teardown, run
    // before any destructor, since from the base destructor the overrides can no longer be
    // reached and a worker thread must not outlive the protocol's own parts.
    void Shutdown() noexcept;

    // Handles the older option keys; true when AKey was one of them.
    bool MapOption(const std::string& AKey, const std::string& AValue);
    // The options parser's callback: aliases, validity check, then store.
    void AddOption(const std::string& AKey, const std::string& AValue);
    std::string BuildOptionsText();

    void ImplConnect();
    void ImplDisconnect();
    void ImplWritePacket(TSiPacket& APacket);
    void ImplDispatch(TSiProtocolCommand& ACommand);
    // Opens the connection for a write when there is none: a burst's own connection without
    // keep-open, a reconnect with it. False when there is still none.
    bool ConnectForWrite();
    // InternalWritePacket under the packet's lock.
    void WriteLocked(TSiPacket& APacket);
    // Appends APacket to the backlog; what the budget then discards is counted as dropped.
    void HoldBack(TSiPacket& APacket);
    // Empties the backlog; a burst it held for a lost connection counts as dropped.
    void DropBacklog();
    void Reconnect();
    // Tears the connection down. After a failure (AAfterFailure) the backlog keeps what it
    // holds and takes back, in front, the packets the connection left unacknowledged; a
    // disconnect empties it. Unacknowledged packets the backlog does not take count as dropped.
    void Reset(bool AAfterFailure);
    void ResetQuietly(bool AAfterFailure) noexcept;

    // Takes FCriticalSection for a public operation; empty (not locked) when the caller is this
    // protocol's worker and the worker is being stopped.
    std::unique_lock<std::recursive_mutex> LockOperations();
    // The worker's side (TSiSchedulerTarget): runs one command on the worker thread, never
    // raising; and the failed state that decides whether writers wait for room.
    void RunSchedulerCommand(TSiSchedulerCommand& ACommand) noexcept override;
    bool SchedulerTargetFailed() const noexcept override { return Failed(); }
    void SchedulerDroppedWrites(std::uint64_t ACount) noexcept override {
        FDropped.fetch_add(ACount, std::memory_order_relaxed);
    }
    // Whether the calling thread is the worker of this protocol's scheduler.
    static bool IsOwnWorker(const TSiSchedulerTarget& ATarget, const TSiScheduler* ACurrent);
    // Stops and frees a scheduler retired by a Disconnect on its own worker thread, unless the
    // caller is that worker. False when the caller is that worker.
    bool ReapRetiredScheduler();

    bool FReconnect = false;
    std::uint32_t FReconnectInterval = 0;
    std::uint32_t FReconnectTickCount = 0;
    // Whether FReconnectTickCount holds a reset's time: before the first reset no interval is
    // waited for, whatever the counter reads.
    bool FReconnectTickValid = false;

    TSiLevel FLevel = lvDebug;
    std::string FCaption;

    bool FBacklogEnabled = false;
    std::int64_t FBacklogQueue = 2048 * 1024;
    TSiLevel FBacklogFlushOn = lvError;
    bool FBacklogKeepOpen = false;

    bool FAsyncEnabled = false;
    bool FAsyncThrottle = true;
    bool FAsyncClearOnDisconnect = false;
    std::int64_t FAsyncQueue = 2048 * 1024;

    bool FKeepOpen = true;
    bool FOwnerSerialises = false;
    std::atomic<bool> FFailed{false};
    std::atomic<std::uint64_t> FDropped{0};
    bool FConnected = false;
    bool FInitialized = false;

    std::recursive_mutex FCriticalSection;
    mutable std::mutex FEventLock;
    mutable std::mutex FNamesLock;

    TSiLookupTable FOptions;
    TSiPacketQueue FQueue{2048 * 1024};
    // The backlog holds packets that a lost connection kept from going out (a burst was due):
    // a disconnect sends them first, when the peer can be reached, and counts them as dropped
    // when it cannot, rather than clearing them unsaid.
    bool FBurstPending = false;
    std::unique_ptr<TSiScheduler> FScheduler;
    std::unique_ptr<TSiScheduler> FRetiredScheduler;

    TSiProtocolErrorEvent FOnError;
    std::string FHostName;
    std::string FAppName;
};

// A new protocol of class T in its owner.
template <class T, class... TArgs>
TSiProtocolOf<T> SiMakeProtocol(TArgs&&... AArgs) {
    return TSiProtocolOf<T>(new T(std::forward<TArgs>(AArgs)...));
}

// Creates a new, uninitialised protocol of one class.
using TSiProtocolClass = std::function<TSiProtocolPtr()>;

// The registry of protocol classes. Thread-safe. The concrete protocols of this library are
// registered before the first use (SiRegisterDefaultProtocols).
class TSiProtocolFactory {
  public:
    // Registers AImpl under AName (lower-cased, trimmed), replacing a class registered under
    // the same name. An empty name or class is ignored.
    static void RegisterProtocol(const std::string& AName, TSiProtocolClass AImpl);
    // A new protocol of the class registered under AName (lower-cased, trimmed), initialised
    // with AOptions; the caller owns it. Raises ESiError "Protocol "<AName>" not found" for an
    // unknown name and passes on the errors of Initialize.
    static TSiProtocolPtr GetProtocol(const std::string& AName, const std::string& AOptions);
};

// Registers the library's concrete protocols; runs once, before the registry is first used.
void SiRegisterDefaultProtocols();

// The text under which a time span of AMilliseconds is written into an options text, so that
// the options reader gives back the same number: whole seconds with the suffix "s".
std::string SiTimespanOptionText(std::uint32_t AMilliseconds);

// The text under which a size of ABytes is written into an options text so that the options
// reader gives back the same number: kilobytes as a bare number, or "mb" / "gb" where the
// number of kilobytes would not fit the reader's 32-bit number (every size the reader makes
// fits one of the three).
std::string SiSizeOptionText(std::int64_t ABytes);

}  // namespace deruz::logging
