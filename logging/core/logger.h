// TSiLogger: the logger core through which all logging of a process flows. It owns the
// protocols created from its connections string and the sessions added to it, holds the
// level thresholds, the application and host names and the enabled switch, completes the
// packets that sessions build, offers them to a filter event, writes each to every protocol
// and raises a notification event. Failures end in the error event and never reach the code
// that logged; only an invalid connections string raises to the code that sets it.
//
// Thread-safety: any thread may log. The core lock (re-entrant) serialises applying
// connections, enabling, completing a packet and writing it to all protocols, dispatching,
// the application name and applying a configuration. Event handlers, the filter included,
// run outside it; a second lock guards setting and copying them, skipped while none is set.
// On an asynchronous protocol's worker (its error handler), packets never wait for the core
// lock once that protocol is being stopped: they are dropped, so that a thread stopping the
// protocol under the core lock cannot deadlock with it. Enabled, Level and DefaultLevel live
// in the level gate (level_gate.h), read by the sessions' level tests without a lock.
//
// The locks of one log call, in the order taken (no lock is ever taken against this order):
//   1. none for the level test: the gate's and the session's switched thresholds, one relaxed
//      load each;
//   2. none in the session in the usual case: the spare entry is claimed by an atomic exchange
//      and still carries the session's name (the session lock only after a rename);
//   3. the core lock, once per packet: the application and host names are stamped and the
//      packet is written to every protocol. A synchronous protocol writes under it alone: the
//      core tells its protocols that it serialises every call (SetOwnerSerialises), so they
//      take no lock of their own for a write. With a filter the lock is let go around the
//      filter and taken again. While no protocol is asynchronous, one formats the binary
//      format as it writes (WritesBinary) and no filter can run, a log entry is stamped and
//      encoded before the lock instead, with the thread's copy of the application name; under
//      the lock the core only checks that the name's generation (FAppNameGeneration, counted
//      under the lock) is still the copy's, else stamps the entry there and lets the protocols
//      compile it, and hands the bytes to the protocols for that one hold of the lock
//      (TSiLogEntry::Encoded);
//   3a. a buffered file protocol that finds its write buffer full takes its own write lock
//      (under the core lock), swaps in its second buffer and leaves the full one to this
//      thread, which writes it to the file after the core lock is let go and then lets go of
//      the write lock (deferred_write.h); the next full buffer, a flush or closing waits for
//      that lock, so the file keeps the order of the packets. A thread that still holds a
//      write lock writes its buffer on the spot before it takes any write lock again, and so
//      never holds two;
//   4. an asynchronous protocol's own lock and then its scheduler's queue lock, to queue the
//      packet; the packet's own lock guards its fields once a worker may read them (a packet
//      sent while any protocol is asynchronous is made thread-safe first);
//   5. after the core lock is let go, the event lock for a moment to copy the handler, if one
//      is set.
// While every protocol is asynchronous and throttled and no filter or log-entry handler is
// set, a plain or formatted log entry takes the asynchronous path instead (log_lane.h): after
// the level test the calling thread takes no lock at all; it stamps the time and copies the
// entry's fields, format and arguments into its own queue, waiting only while that queue is
// full at its budget (async.queue bytes per thread), and the path's worker makes the packets
// and sends them as in 3. and 4., holding the core lock for a batch (up to 256 entries) and
// then the path's drain lock; with one file or memory protocol whose worker is idle it writes
// them itself, under those locks, as a synchronous file protocol is written. A thread whose packet
// takes the ordinary path meanwhile (any other packet, an entry with data) first delivers what is
// queued, under the core lock, so each thread's packets keep their order; closing the path
// (disabling, new connections, setting a filter or a log-entry handler) delivers everything queued
// before it returns. Other orders: a session's lock before the session manager's (renaming), never
// the reverse; the core lock before a session's lock, a protocol's or the asynchronous path's drain
// lock; a protocol's before its scheduler's; the core lock before a file protocol's write lock,
// which a thread may go on holding after it let go of the core lock, only to write a buffer.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "logging/base/enums.h"
#include "logging/base/errors.h"
#include "logging/core/level_gate.h"
#include "logging/core/session_host.h"

namespace deruz::logging {

// Declared only: the packets that the events hand over (packets/packet.h), the session
// defaults (session_defaults.h) and what the core keeps behind its members. A program that
// reads a packet's fields or the defaults includes their headers.
class TSiConfiguration;
class TSiControlCommand;
class TSiLogEntry;
class TSiLogger;
class TSiLogLane;
class TSiPacket;
class TSiProcessFlow;
class TSiProtocol;
class TSiProtocolVariables;
class TSiSession;
class TSiSessionManager;
class TSiWatch;
struct TSiProtocolDeleter;
struct TSiSessionDefaults;

using TSiFilterEvent = std::function<void(TSiLogger& ASender, TSiPacket& APacket, bool& ACancel)>;
using TSiErrorEvent = std::function<void(TSiLogger& ASender, const std::exception& AException)>;
using TSiLogEntryEvent = std::function<void(TSiLogger& ASender, TSiLogEntry& ALogEntry)>;
using TSiWatchEvent = std::function<void(TSiLogger& ASender, TSiWatch& AWatch)>;
using TSiProcessFlowEvent = std::function<void(TSiLogger& ASender, TSiProcessFlow& AProcessFlow)>;
using TSiControlCommandEvent =
    std::function<void(TSiLogger& ASender, TSiControlCommand& AControlCommand)>;

// An event handler of the core, set and copied under the event lock. Its flag lets every
// packet skip the lock and the copy while no handler is set, which is the usual case.
template <class F>
class TSiHandlerSlot {
  public:
    void Set(std::recursive_mutex& ALock, F AValue) {
        std::lock_guard LLock(ALock);
        FIsSet.store(static_cast<bool>(AValue), std::memory_order_release);
        FHandler = std::move(AValue);
    }
    bool IsSet() const noexcept { return FIsSet.load(std::memory_order_acquire); }
    F Get(std::recursive_mutex& ALock) const {
        if (!FIsSet.load(std::memory_order_acquire)) return F();
        std::lock_guard LLock(ALock);
        return FHandler;
    }

  private:
    F FHandler;
    std::atomic<bool> FIsSet{false};
};

// The core implements the interface its sessions send through (session_host.h); sessions know
// nothing else of it.
class TSiLogger : public ISiSessionHost {
  public:
    explicit TSiLogger(std::string AAppName = std::string());
    TSiLogger(const TSiLogger&) = delete;
    TSiLogger& operator=(const TSiLogger&) = delete;
    ~TSiLogger() override;

    static std::string Version();

    // --- Switch, thresholds, names --------------------------------------------------------
    bool Enabled() const noexcept { return FGate.Enabled(); }
    // Enabling connects the protocols; disabling disconnects them and keeps them.
    void SetEnabled(bool AValue);
    TSiLevel Level() const noexcept { return FGate.Level(); }
    void SetLevel(TSiLevel AValue) noexcept { FGate.SetLevel(AValue); }
    TSiLevel DefaultLevel() const noexcept { return FGate.DefaultLevel(); }
    void SetDefaultLevel(TSiLevel AValue) noexcept { FGate.SetDefaultLevel(AValue); }
    // The switch and thresholds that the sessions' level tests read.
    const TSiLevelGate& Gate() const noexcept override { return FGate; }
    TSiClockResolution Resolution() const noexcept {
        return FResolution.load(std::memory_order_relaxed);
    }
    void SetResolution(TSiClockResolution AValue) noexcept {
        FResolution.store(AValue, std::memory_order_relaxed);
    }
    std::string AppName() override;
    void SetAppName(const std::string& AValue);
    const std::string& HostName() const noexcept { return FHostname; }

    // --- Connections ----------------------------------------------------------------------
    std::string Connections();
    // Replaces the protocols by those of AValue (variables expanded first). Raises
    // ESiInvalidConnectionsError when AValue does not parse, names an unknown protocol or
    // has an invalid option; the core is then left without protocols.
    void SetConnections(const std::string& AValue);
    // As SetConnections, but errors go to the error event; false for "" or on error.
    bool TryConnections(const std::string& AConnections);
    // Reads the key "connections" of a configuration file and applies it; enables the core
    // unless ADoNotEnable. Errors go to the error event.
    void LoadConnections(const std::string& AFileName, bool ADoNotEnable = false);
    // Applies a configuration file to the core and its sessions. Errors go to the error event.
    void LoadConfiguration(const std::string& AFileName);
    // Applies an already loaded configuration.
    void ApplyConfiguration(const TSiConfiguration& AConfig);

    // Connection-string variables; they take effect at the next SetConnections.
    void SetVariable(std::string_view AKey, std::string_view AValue);
    std::string GetVariable(std::string_view AKey);
    void UnsetVariable(std::string_view AKey);

    // --- Sessions ---------------------------------------------------------------------------
    // Creates, adds and returns a session owned by this core.
    TSiSession* AddSession(const std::string& ASessionName, bool AStore = true);
    // Adds an existing session, which the core owns from now on, always stored.
    TSiSession* AddSession(std::unique_ptr<TSiSession> ASession);
    TSiSession* GetSession(std::string_view ASessionName);
    void DeleteSession(TSiSession* ASession);
    void UpdateSession(TSiSession* ASession, const std::string& ATo,
                       const std::string& AFrom) override;
    TSiSessionDefaults SessionDefaults();
    void SetSessionDefaults(const TSiSessionDefaults& AValue);

    // --- Packets ------------------------------------------------------------------------------
    void SendLogEntry(TSiLogEntry& ALogEntry) override;
    bool PostLogEntry(TSiSession& ASession, TSiLaneEntry& AEntry) noexcept override;
    void SendControlCommand(TSiControlCommand& AControlCommand) override;
    void SendProcessFlow(TSiProcessFlow& AProcessFlow) override;
    void SendWatch(TSiWatch& AWatch) override;
    // Sends a custom action to the protocol whose caption is ACaption.
    void Dispatch(std::string_view ACaption, std::int32_t AAction, void* AState);

    // Passes an error met while logging to the error event (sessions use it for failures
    // outside the core).
    void ReportError(const std::exception& AException) override;

    // The timestamp for new packets, by Resolution (timestamp_clock.h).
    TDateTime Now() override;

    // --- Events (set and read under the event lock, called outside it) -----------------------
    void SetOnFilter(TSiFilterEvent AValue);
    void SetOnError(TSiErrorEvent AValue);
    void SetOnLogEntry(TSiLogEntryEvent AValue);
    void SetOnWatch(TSiWatchEvent AValue);
    void SetOnProcessFlow(TSiProcessFlowEvent AValue);
    void SetOnControlCommand(TSiControlCommandEvent AValue);

    // The protocols now in force, for inspection (under the caller's care: they live until
    // the connections change).
    std::size_t ProtocolCount();
    // Packets dropped by the protocols now in force (see TSiProtocol::DroppedPackets): by all
    // of them, or with ACaption by the one of that caption (0 when there is none).
    std::uint64_t DroppedPackets(std::string_view ACaption = {});

  protected:
    virtual bool DoFilter(TSiPacket& APacket);
    virtual void DoError(const std::exception& AException);
    virtual void DoProcessFlow(TSiProcessFlow& AProcessFlow);
    virtual void DoWatch(TSiWatch& AWatch);
    virtual void DoLogEntry(TSiLogEntry& ALogEntry);
    virtual void DoControlCommand(TSiControlCommand& AControlCommand);

  private:
    void ApplyConnections(const std::string& AValue);
    void CreateConnections(const std::string& AValue);
    void RemoveConnections();
    void Connect();
    void Disconnect();
    // AFinish runs under the core lock once the packet was written, before the lock is let go.
    template <class TPacket, class TComplete, class TFinish>
    void Send(TPacket& APacket, TComplete AComplete, TFinish AFinish,
              void (TSiLogger::*ANotify)(TPacket&));
    template <class TPacket, class TComplete>
    void Send(TPacket& APacket, TComplete AComplete, void (TSiLogger::*ANotify)(TPacket&)) {
        Send(
            APacket, AComplete, [](TPacket&) noexcept {}, ANotify);
    }
    // Whether log entries are encoded before the core lock: some protocol formats them in the
    // binary format as it writes them, none is asynchronous. Under the core lock.
    void UpdatePreEncode();
    // The application name changed (under the core lock).
    void AppNameChanged() noexcept;
    std::unique_lock<std::recursive_mutex> LockForPacket();
    // No filter handler is set and DoFilter is this class's own: nothing can cancel a packet.
    bool NoFilterCanRun() const noexcept;
    bool LogEntryHandlersMayRun() const noexcept override;
    TSiLogger* Logger() noexcept override { return this; }
    void ProcessPacket(TSiPacket& APacket);
    // Opens the asynchronous path when every protocol is asynchronous and throttled and no
    // handler can see an entry, else closes it (delivering what it holds). Under the core lock.
    void UpdateLane();
    // Where the asynchronous path delivers its entries (ALogger: the core), under the core lock.
    static void DeliverLaneEntry(void* ALogger, TSiLogEntry& AEntry) noexcept;
    void ProtocolError(const std::exception& AException) { DoError(AException); }

    std::atomic<bool> FIsMultiThreaded{false};
    // Whether SendLogEntry encodes an entry before it takes the core lock (UpdatePreEncode);
    // written under the core lock, read before it and checked again under it.
    std::atomic<bool> FPreEncode{false};
    // Counts the changes of FAppName (written under the core lock), so that a thread may stamp
    // and encode an entry before the lock with its own copy of the name and find out under the
    // lock whether that copy is still the name.
    std::atomic<std::uint64_t> FAppNameGeneration{1};
    // Tells cores apart in the threads' copies of the application name.
    const std::uint64_t FId;
    // The protocols in list order (TSiProtocolPtr, protocol.h: spelt out here so that this
    // header needs only the names).
    std::vector<std::unique_ptr<TSiProtocol, TSiProtocolDeleter>> FProtocols;
    std::unique_ptr<TSiSessionManager> FSessions;
    std::recursive_mutex FCriticalSection;
    std::recursive_mutex FEventLock;
    std::string FConnections;
    std::string FAppName;
    std::string FHostname;
    TSiHandlerSlot<TSiControlCommandEvent> FOnControlCommand;
    TSiHandlerSlot<TSiLogEntryEvent> FOnLogEntry;
    TSiHandlerSlot<TSiWatchEvent> FOnWatch;
    TSiHandlerSlot<TSiErrorEvent> FOnError;
    TSiHandlerSlot<TSiProcessFlowEvent> FOnProcessFlow;
    TSiHandlerSlot<TSiFilterEvent> FOnFilter;
    TSiLevelGate FGate;
    std::atomic<TSiClockResolution> FResolution{crStandard};
    std::unique_ptr<TSiProtocolVariables> FVariables;
    // The asynchronous path (log_lane.h), made with the core and kept for its life.
    std::unique_ptr<TSiLogLane> FLane;
};

}  // namespace deruz::logging
