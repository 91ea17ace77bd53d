#include "logging/core/logger.h"

#include <algorithm>
#include <array>
#include <limits>
#include <typeinfo>

#include "logging/base/strings.h"
#include "logging/config/configuration.h"
#include "logging/config/connections.h"
#include "logging/core/lane_entry.h"
#include "logging/core/log_lane.h"
#include "logging/core/session.h"
#include "logging/core/session_defaults.h"
#include "logging/core/session_manager.h"
#include "logging/core/timestamp_clock.h"
#include "logging/core/version.h"
#include "logging/format/binary_formatter.h"
#include "logging/packets/packet.h"
#include "logging/protocols/deferred_write.h"
#include "logging/protocols/protocol.h"
#include "logging/protocols/scheduler.h"
#include "logging/system/system_info.h"

namespace deruz::logging {

namespace {

// Numbers the cores for the threads' copies of the application name (0: none).
std::atomic<std::uint64_t> GLoggerIds{0};

// The longest application name that a thread keeps a copy of; a core with a longer one has
// its entries stamped and encoded under its lock.
constexpr std::size_t kAppNameCopyCapacity = 120;

// A thread's copy of one core's application name, as of one of its generations: a log entry
// is stamped and encoded with it before the core lock, and the lock's holder only checks that
// the generation still holds. Plain bytes, so that the thread's copy needs no destructor
// (thread_exit.h tells why a DLL's thread_local objects have none).
struct TSiAppNameCopy {
    std::uint64_t Logger = 0;
    std::uint64_t Generation = 0;
    std::size_t Size = 0;
    std::array<char, kAppNameCopyCapacity> Name;
};
thread_local TSiAppNameCopy GAppNameCopy;

// Room for an entry encoded before the core lock, on the caller's stack; a larger entry (a
// long title) is compiled under the lock as before.
constexpr std::size_t kPreEncodeCapacity = 512;

}  // namespace

// --- Logger core ---------------------------------------------------------------------------

TSiLogger::TSiLogger(std::string AAppName)
    : FId(GLoggerIds.fetch_add(1, std::memory_order_relaxed) + 1),
      FSessions(std::make_unique<TSiSessionManager>()),
      FAppName(std::move(AAppName)),
      FHostname(SiGetComputerName()),
      FVariables(std::make_unique<TSiProtocolVariables>()),
      FLane(std::make_unique<TSiLogLane>(&TSiLogger::DeliverLaneEntry, this, FCriticalSection)) {}

std::string TSiLogger::Version() {
    return kSiVersion;
}

TSiLogger::~TSiLogger() {
    try {
        std::lock_guard LLock(FCriticalSection);
        RemoveConnections();
    } catch (...) {
    }
    // The lane's worker ends before the members it delivers to.
    FLane.reset();
}

void TSiLogger::SetEnabled(bool AValue) {
    std::lock_guard LLock(FCriticalSection);
    if (AValue == Enabled()) return;
    FGate.SetEnabled(AValue);
    if (AValue) {
        Connect();
        UpdateLane();
    } else {
        // What the lane holds is written before the protocols close.
        UpdateLane();
        Disconnect();
    }
}

std::string TSiLogger::AppName() {
    std::lock_guard LLock(FCriticalSection);
    return FAppName;
}

TDateTime TSiLogger::Now() {
    return TSiClock::Now(Resolution());
}

void TSiLogger::SetAppName(const std::string& AValue) {
    std::lock_guard LLock(FCriticalSection);
    FAppName = AValue;
    AppNameChanged();
    for (auto& LProtocol : FProtocols) {
        LProtocol->SetAppName(FAppName);
        LProtocol->SetHostName(FHostname);
    }
}

std::string TSiLogger::Connections() {
    std::lock_guard LLock(FCriticalSection);
    return FConnections;
}

void TSiLogger::SetConnections(const std::string& AValue) {
    std::lock_guard LLock(FCriticalSection);
    ApplyConnections(AValue);
}

bool TSiLogger::TryConnections(const std::string& AConnections) {
    if (AConnections.empty()) return false;
    std::lock_guard LLock(FCriticalSection);
    try {
        ApplyConnections(AConnections);
        return true;
    } catch (const std::exception& LE) {
        DoError(LE);
        return false;
    }
}

void TSiLogger::ApplyConnections(const std::string& AValue) {
    RemoveConnections();
    CreateConnections(AValue);
    FConnections = AValue;
    if (Enabled()) Connect();
    UpdateLane();
}

void TSiLogger::CreateConnections(const std::string& AValue) {
    FIsMultiThreaded.store(false, std::memory_order_relaxed);
    try {
        const std::string LExpanded = FVariables->Expand(AValue);
        for (const TSiConnectionEntry& LEntry : SiParseConnections(LExpanded)) {
            TSiProtocolPtr LProtocol =
                TSiProtocolFactory::GetProtocol(LEntry.Protocol, LEntry.Options);
            LProtocol->SetOnError([this](TSiProtocol&, const ESiProtocolError& AException) {
                ProtocolError(AException);
            });
            if (LProtocol->Asynchronous()) FIsMultiThreaded.store(true, std::memory_order_relaxed);
            // Every call of the core's protocols is made under the core lock.
            LProtocol->SetOwnerSerialises(true);
            LProtocol->SetAppName(FAppName);
            LProtocol->SetHostName(FHostname);
            FProtocols.push_back(std::move(LProtocol));
        }
        UpdatePreEncode();
    } catch (const std::exception& LE) {
        RemoveConnections();
        throw ESiInvalidConnectionsError(LE.what());
    }
}

void TSiLogger::RemoveConnections() {
    FLane->Close();
    Disconnect();
    FIsMultiThreaded.store(false, std::memory_order_relaxed);
    FProtocols.clear();
    UpdatePreEncode();
    FConnections.clear();
}

void TSiLogger::Connect() {
    for (auto& LProtocol : FProtocols) {
        try {
            LProtocol->Connect();
        } catch (const std::exception& LE) {
            DoError(LE);
        }
    }
}

void TSiLogger::Disconnect() {
    for (auto& LProtocol : FProtocols) {
        try {
            LProtocol->Disconnect();
        } catch (const std::exception& LE) {
            DoError(LE);
        }
    }
}

std::uint64_t TSiLogger::DroppedPackets(std::string_view ACaption) {
    std::lock_guard LLock(FCriticalSection);
    std::uint64_t LCount = 0;
    for (const auto& LProtocol : FProtocols) {
        if (ACaption.empty() || SiSameText(LProtocol->Caption(), ACaption)) {
            LCount += LProtocol->DroppedPackets();
        }
    }
    return LCount;
}

std::size_t TSiLogger::ProtocolCount() {
    std::lock_guard LLock(FCriticalSection);
    return FProtocols.size();
}

void TSiLogger::LoadConnections(const std::string& AFileName, bool ADoNotEnable) {
    std::string LConnections;
    try {
        TSiConfiguration LConfig;
        LConfig.LoadFromFile(AFileName);
        if (!LConfig.Contains("connections")) {
            throw ESiError("A connections string doesn't exist in the supplied file");
        }
        LConnections = LConfig.ReadString("connections", "");
    } catch (const std::exception& LE) {
        DoError(ESiLoadConnectionsError(LE.what(), AFileName));
        return;
    }
    std::lock_guard LLock(FCriticalSection);
    if (TryConnections(LConnections) && !ADoNotEnable) SetEnabled(true);
}

void TSiLogger::LoadConfiguration(const std::string& AFileName) {
    TSiConfiguration LConfig;
    try {
        LConfig.LoadFromFile(AFileName);
    } catch (const std::exception& LE) {
        DoError(ESiLoadConfigurationError(LE.what(), AFileName));
        return;
    }
    ApplyConfiguration(LConfig);
}

void TSiLogger::ApplyConfiguration(const TSiConfiguration& AConfig) {
    {
        std::lock_guard LLock(FCriticalSection);
        if (AConfig.Contains("appname")) {
            // Protocols keep their copy until connections are applied again.
            FAppName = AConfig.ReadString("appname", "");
            AppNameChanged();
        }
        const std::string LConnections = AConfig.ReadString("connections", "");
        if (!AConfig.Contains("enabled")) {
            TryConnections(LConnections);
        } else if (AConfig.ReadBoolean("enabled", false)) {
            TryConnections(LConnections);
            SetEnabled(true);
        } else {
            // Disabled first, so the new protocols are never connected.
            SetEnabled(false);
            TryConnections(LConnections);
        }
        if (AConfig.Contains("level")) SetLevel(AConfig.ReadLevel("level", Level()));
        if (AConfig.Contains("defaultlevel")) {
            SetDefaultLevel(AConfig.ReadLevel("defaultlevel", DefaultLevel()));
        }
    }
    FSessions->LoadConfiguration(AConfig);
}

void TSiLogger::SetVariable(std::string_view AKey, std::string_view AValue) {
    FVariables->Put(AKey, AValue);
}

std::string TSiLogger::GetVariable(std::string_view AKey) {
    return FVariables->Get(AKey);
}

void TSiLogger::UnsetVariable(std::string_view AKey) {
    FVariables->Remove(AKey);
}

TSiSessionDefaults TSiLogger::SessionDefaults() {
    return FSessions->Defaults();
}

void TSiLogger::SetSessionDefaults(const TSiSessionDefaults& AValue) {
    FSessions->SetDefaults(AValue);
}

TSiSession* TSiLogger::AddSession(const std::string& ASessionName, bool AStore) {
    return FSessions->Add(std::make_unique<TSiSession>(this, ASessionName), AStore);
}

TSiSession* TSiLogger::AddSession(std::unique_ptr<TSiSession> ASession) {
    return FSessions->Add(std::move(ASession), true);
}

TSiSession* TSiLogger::GetSession(std::string_view ASessionName) {
    return FSessions->Get(ASessionName);
}

void TSiLogger::DeleteSession(TSiSession* ASession) {
    FSessions->Delete(ASession);
}

void TSiLogger::UpdateSession(TSiSession* ASession, const std::string& ATo,
                              const std::string& AFrom) {
    FSessions->Update(ASession, ATo, AFrom);
}

// The path of every packet: made thread-safe when a protocol runs on a worker, completed
// under the core lock, offered to the filter outside it, written to every protocol under it,
// then announced. When no filter can run (no handler, DoFilter not overridden), completing
// and writing share one hold of the lock. Errors end in the error event.
template <class TPacket, class TComplete, class TFinish>
void TSiLogger::Send(TPacket& APacket, TComplete AComplete, TFinish AFinish,
                     void (TSiLogger::*ANotify)(TPacket&)) {
    // Runs AFinish once, before the core lock is let go, also when an error handler raises.
    class TFinishGuard {
      public:
        TFinishGuard(TPacket& APacket, TFinish& AFinish) noexcept
            : FPacket(APacket), FFinish(AFinish) {}
        TFinishGuard(const TFinishGuard&) = delete;
        TFinishGuard& operator=(const TFinishGuard&) = delete;
        ~TFinishGuard() { Run(); }
        void Run() noexcept {
            if (!FDone) {
                FDone = true;
                FFinish(FPacket);
            }
        }

      private:
        TPacket& FPacket;
        TFinish& FFinish;
        bool FDone = false;
    };
    try {
        if (FIsMultiThreaded.load(std::memory_order_relaxed)) APacket.SetThreadSafe(true);
        // A buffered file protocol hands a full buffer to this thread, to be written once the
        // core lock is let go (before the lock's guard: it ends after the lock is released).
        TSiDeferredWrites LDeferred;
        auto LLock = LockForPacket();
        if (!LLock) return;
        TFinishGuard LFinish(APacket, AFinish);
        // Entries this thread queued on the asynchronous path go first.
        if (FLane->IsOpen()) FLane->Flush();
        AComplete(APacket);
        if (!NoFilterCanRun()) {
            LLock.unlock();
            if (DoFilter(APacket)) return;
            LLock = LockForPacket();
            if (!LLock) return;
        }
        ProcessPacket(APacket);
        LFinish.Run();
        LLock.unlock();
        TSiDeferredWrites::Run();
        (this->*ANotify)(APacket);
    } catch (const std::exception& LE) {
        DoError(LE);
    }
}

bool TSiLogger::NoFilterCanRun() const noexcept {
    return !FOnFilter.IsSet() && typeid(*this) == typeid(TSiLogger);
}

void TSiLogger::UpdatePreEncode() {
    bool LBinary = false;
    for (const auto& LProtocol : FProtocols) {
        if (LProtocol->Asynchronous()) {
            // A worker may read the entry after the core has let go of it, and its bytes.
            LBinary = false;
            break;
        }
        LBinary = LBinary || LProtocol->WritesBinary();
    }
    FPreEncode.store(LBinary, std::memory_order_relaxed);
}

void TSiLogger::AppNameChanged() noexcept {
    FAppNameGeneration.fetch_add(1, std::memory_order_release);
}

// While a synchronous protocol writes the binary format and no filter can change an entry,
// the entry is stamped with the names and encoded before the core lock, with this thread's
// copy of the application name; under the lock the protocols only copy those bytes out. Should
// the name have changed meanwhile (or this thread have no copy of it yet), the entry is stamped
// under the lock and compiled there, as every entry was before, and the copy is renewed.
void TSiLogger::SendLogEntry(TSiLogEntry& ALogEntry) {
    std::array<std::uint8_t, kPreEncodeCapacity> LBytes;
    std::size_t LSize = 0;
    std::uint64_t LGeneration = 0;
    if (FPreEncode.load(std::memory_order_relaxed) && NoFilterCanRun()) {
        LGeneration = FAppNameGeneration.load(std::memory_order_acquire);
        const TSiAppNameCopy& LCopy = GAppNameCopy;
        if (LCopy.Logger == FId && LCopy.Generation == LGeneration) {
            ALogEntry.AppName.assign(LCopy.Name.data(), LCopy.Size);
            ALogEntry.HostName = FHostname;
            LSize = SiEncodeLogEntry(ALogEntry, LBytes);
        }
    }
    Send(
        ALogEntry,
        [&](TSiLogEntry& AEntry) {
            const bool LPreEncode = FPreEncode.load(std::memory_order_relaxed) && NoFilterCanRun();
            const std::uint64_t LNow = FAppNameGeneration.load(std::memory_order_relaxed);
            if (LPreEncode && LSize > 0 && LGeneration == LNow) {
                AEntry.SetEncoded(std::span<const std::uint8_t>(LBytes.data(), LSize));
                return;
            }
            AEntry.AppName = FAppName;
            AEntry.HostName = FHostname;
            if (LPreEncode && FAppName.size() <= kAppNameCopyCapacity) {
                TSiAppNameCopy& LCopy = GAppNameCopy;
                FAppName.copy(LCopy.Name.data(), FAppName.size());
                LCopy.Size = FAppName.size();
                LCopy.Generation = LNow;
                LCopy.Logger = FId;
            }
        },
        [](TSiLogEntry& AEntry) noexcept {
            if (!AEntry.Encoded().empty()) AEntry.SetEncoded({});
        },
        &TSiLogger::DoLogEntry);
}

bool TSiLogger::PostLogEntry(TSiSession& ASession, TSiLaneEntry& AEntry) noexcept {
    // A protocol's worker (an error handler that logs) takes the ordinary path: it must never
    // wait for room in a queue that only the workers empty.
    if (!FLane->IsOpen() || TSiScheduler::Current() != nullptr) return false;
    try {
        AEntry.Timestamp = Now();
    } catch (...) {
        return false;
    }
    return FLane->Push(ASession, AEntry);
}

void TSiLogger::DeliverLaneEntry(void* ALogger, TSiLogEntry& AEntry) noexcept {
    auto& LSelf = *static_cast<TSiLogger*>(ALogger);
    try {
        if (LSelf.FIsMultiThreaded.load(std::memory_order_relaxed)) AEntry.SetThreadSafe(true);
        AEntry.AppName = LSelf.FAppName;
        AEntry.HostName = LSelf.FHostname;
        if (LSelf.FProtocols.size() == 1) {
            // One protocol: a file or memory protocol is written by the lane's worker itself
            // whenever that protocol's worker is idle, rather than by a third thread, under the
            // core lock as a synchronous file protocol is written; a pipe or socket, whose
            // peer may keep a write waiting, is handed to the protocol's worker as always.
            LSelf.FProtocols.front()->WritePacketHere(AEntry);
        } else {
            LSelf.ProcessPacket(AEntry);
        }
    } catch (const std::exception& LE) {
        try {
            LSelf.DoError(LE);
        } catch (...) {
        }
    }
}

void TSiLogger::UpdateLane() {
    bool LOpen = Enabled() && !FProtocols.empty() && NoFilterCanRun() && !FOnLogEntry.IsSet();
    std::int64_t LBudget = std::numeric_limits<std::int64_t>::max();
    for (const auto& LProtocol : FProtocols) {
        if (!LProtocol->Asynchronous() || !LProtocol->AsyncThrottle()) {
            LOpen = false;
            break;
        }
        LBudget = std::min(LBudget, LProtocol->AsyncQueue());
    }
    if (!LOpen) {
        FLane->Close();
        return;
    }
    try {
        FLane->Open(LBudget);
    } catch (const std::exception& LE) {
        // No worker thread: entries take the ordinary path.
        DoError(LE);
    }
}

bool TSiLogger::LogEntryHandlersMayRun() const noexcept {
    return !NoFilterCanRun() || FOnLogEntry.IsSet();
}

void TSiLogger::SendControlCommand(TSiControlCommand& AControlCommand) {
    Send(
        AControlCommand, [](TSiControlCommand&) {}, &TSiLogger::DoControlCommand);
}

void TSiLogger::SendProcessFlow(TSiProcessFlow& AProcessFlow) {
    Send(
        AProcessFlow, [this](TSiProcessFlow& AFlow) { AFlow.HostName = FHostname; },
        &TSiLogger::DoProcessFlow);
}

void TSiLogger::SendWatch(TSiWatch& AWatch) {
    Send(
        AWatch, [](TSiWatch&) {}, &TSiLogger::DoWatch);
}

namespace {

// Tries for the core lock before a packet blocks on it, each after twice as many pauses as
// the one before (up to 2^7), so that waiting threads do not keep the lock's cache line busy.
constexpr int kLockSpins = 10;

// Tells the processor that this thread spins on a lock.
inline void SiCpuRelax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace

// On a protocol's worker thread, that is inside its error handler, the lock may be held by a
// thread that waits for this very worker to end (replacing the connections, for one). So the
// worker never blocks on it: it retries while the lock is taken and gives up, dropping the
// packet, once its protocol is being stopped.
std::unique_lock<std::recursive_mutex> TSiLogger::LockForPacket() {
    TSiScheduler* LWorker = TSiScheduler::Current();
    if (LWorker != nullptr) return LWorker->LockUnlessStopping(FCriticalSection);
    // A packet holds the lock for a fraction of a microsecond, less than it costs to sleep on
    // the lock and be woken: threads that log at once wait a little before they block.
    for (int LSpin = 0; LSpin < kLockSpins; ++LSpin) {
        if (FCriticalSection.try_lock()) return std::unique_lock(FCriticalSection, std::adopt_lock);
        for (int LPause = 1 << (LSpin < 7 ? LSpin : 7); LPause > 0; --LPause) SiCpuRelax();
    }
    return std::unique_lock(FCriticalSection);
}

// Under the core's lock (held by Send).
void TSiLogger::ProcessPacket(TSiPacket& APacket) {
    for (auto& LProtocol : FProtocols) {
        try {
            LProtocol->WritePacket(APacket);
        } catch (const std::exception& LE) {
            DoError(LE);
        }
    }
}

void TSiLogger::Dispatch(std::string_view ACaption, std::int32_t AAction, void* AState) {
    try {
        std::lock_guard LLock(FCriticalSection);
        for (auto& LProtocol : FProtocols) {
            if (SiSameText(LProtocol->Caption(), ACaption)) {
                auto LCommand = SiMakeRef<TSiProtocolCommand>(AAction, AState);
                LProtocol->Dispatch(*LCommand);
                return;
            }
        }
        throw ESiError("No protocol found with the specified caption");
    } catch (const std::exception& LE) {
        DoError(LE);
    }
}

void TSiLogger::ReportError(const std::exception& AException) {
    DoError(AException);
}

// --- Events --------------------------------------------------------------------------------

// Setting a filter or a log-entry handler closes the asynchronous path first: the handler
// sees every entry logged after it was set, on the caller's thread.
void TSiLogger::SetOnFilter(TSiFilterEvent AValue) {
    std::lock_guard LLock(FCriticalSection);
    FLane->Close();
    FOnFilter.Set(FEventLock, std::move(AValue));
    UpdateLane();
}
void TSiLogger::SetOnError(TSiErrorEvent AValue) {
    FOnError.Set(FEventLock, std::move(AValue));
}
void TSiLogger::SetOnLogEntry(TSiLogEntryEvent AValue) {
    std::lock_guard LLock(FCriticalSection);
    FLane->Close();
    FOnLogEntry.Set(FEventLock, std::move(AValue));
    UpdateLane();
}
void TSiLogger::SetOnWatch(TSiWatchEvent AValue) {
    FOnWatch.Set(FEventLock, std::move(AValue));
}
void TSiLogger::SetOnProcessFlow(TSiProcessFlowEvent AValue) {
    FOnProcessFlow.Set(FEventLock, std::move(AValue));
}
void TSiLogger::SetOnControlCommand(TSiControlCommandEvent AValue) {
    FOnControlCommand.Set(FEventLock, std::move(AValue));
}

bool TSiLogger::DoFilter(TSiPacket& APacket) {
    const auto LHandler = FOnFilter.Get(FEventLock);
    bool LCancel = false;
    if (LHandler) LHandler(*this, APacket, LCancel);
    return LCancel;
}

// An exception from the error handler itself is not caught: it is the handler's own.
void TSiLogger::DoError(const std::exception& AException) {
    const auto LHandler = FOnError.Get(FEventLock);
    if (LHandler) LHandler(*this, AException);
}

void TSiLogger::DoProcessFlow(TSiProcessFlow& AProcessFlow) {
    const auto LHandler = FOnProcessFlow.Get(FEventLock);
    if (LHandler) LHandler(*this, AProcessFlow);
}

void TSiLogger::DoWatch(TSiWatch& AWatch) {
    const auto LHandler = FOnWatch.Get(FEventLock);
    if (LHandler) LHandler(*this, AWatch);
}

void TSiLogger::DoLogEntry(TSiLogEntry& ALogEntry) {
    const auto LHandler = FOnLogEntry.Get(FEventLock);
    if (LHandler) LHandler(*this, ALogEntry);
}

void TSiLogger::DoControlCommand(TSiControlCommand& AControlCommand) {
    const auto LHandler = FOnControlCommand.Get(FEventLock);
    if (LHandler) LHandler(*this, AControlCommand);
}

}  // namespace deruz::logging
