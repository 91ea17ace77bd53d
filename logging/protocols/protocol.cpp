// The protocol base class, its state machine and asynchronous mode, and the protocol registry.
#include "logging/protocols/protocol.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <exception>
#include <string_view>
#include <utility>

#include "logging/base/strings.h"
#include "logging/system/clock.h"

namespace deruz::logging {

namespace {

// The options every protocol accepts.
constexpr std::array<std::string_view, 12> kCommonOptions = {
    "level",           "caption",       "reconnect",       "reconnect.interval",
    "backlog.enabled", "backlog.queue", "backlog.flushon", "backlog.keepopen",
    "async.enabled",   "async.queue",   "async.throttle",  "async.clearondisconnect"};

// 125^-1 modulo 2^32 (Newton's iteration; an odd number is its own inverse modulo 8, and every
// step doubles the correct low bits).
constexpr std::uint32_t InverseOf125() {
    std::uint32_t LInverse = 125;
    for (int LStep = 0; LStep < 4; ++LStep) {
        LInverse *= 2u - 125u * LInverse;
    }
    return LInverse;
}
static_assert(125u * InverseOf125() == 1u);

}  // namespace

std::string SiTimespanOptionText(std::uint32_t AMilliseconds) {
    // The options reader multiplies a number of seconds by 1000 modulo 2^32. Every value it can
    // produce is a multiple of 8 (so are all its unit factors), and for such a value the number
    // of seconds n with n * 1000 = value (mod 2^32) is (value / 8) / 125 modulo 2^29: below
    // 2^29, so it always reads back. For whole seconds this is simply value / 1000. Other values
    // cannot come from an options text; they are rounded down to a multiple of 8.
    const std::uint32_t LSeconds = ((AMilliseconds / 8u) * InverseOf125()) & ((1u << 29) - 1u);
    return std::to_string(LSeconds) + "s";
}

std::string SiSizeOptionText(std::int64_t ABytes) {
    constexpr std::int64_t LLargest = 0x7FFFFFFF;
    const std::int64_t LKilobytes = ABytes / 1024;
    if (LKilobytes <= LLargest || ABytes % (1024 * 1024) != 0) {
        return std::to_string(LKilobytes);
    }
    const std::int64_t LMegabytes = ABytes / (1024 * 1024);
    if (LMegabytes <= LLargest || ABytes % (1024 * 1024 * 1024) != 0) {
        return std::to_string(LMegabytes) + "mb";
    }
    return std::to_string(ABytes / (1024 * 1024 * 1024)) + "gb";
}

// --- Options ----------------------------------------------------------------------------------

TSiProtocol::TSiProtocol() = default;

TSiProtocol::~TSiProtocol() {
    // The owner has disconnected (TSiProtocolDeleter). A protocol freed any other way, say one
    // built on the stack, may still have a worker: that one must at least run nothing more, as
    // queued commands would reach overrides that no longer exist.
    assert(!FScheduler && !FConnected && "a protocol must be freed by its TSiProtocolPtr");
    if (FScheduler) {
        FScheduler->Clear();
        FScheduler.reset();
    }
    FRetiredScheduler.reset();
    FOptions.Clear();
}

void TSiProtocolDeleter::operator()(TSiProtocol* AProtocol) const noexcept {
    if (AProtocol != nullptr) {
        AProtocol->Shutdown();
        delete AProtocol;
    }
}

void TSiProtocol::Initialize(const std::string& AOptions) {
    std::lock_guard LGuard(FCriticalSection);
    if (FInitialized) {
        return;
    }
    try {
        TSiOptionsParser::Parse(GetName(), AOptions,
                                [this](const std::string&, const std::string& AKey,
                                       const std::string& AValue) { AddOption(AKey, AValue); });
    } catch (...) {
        FOptions.Clear();
        throw;
    }
    LoadOptions();
    FInitialized = true;
}

bool TSiProtocol::MapOption(const std::string& AKey, const std::string& AValue) {
    // Older spellings. Each fills the new keys only when they are absent, so a new-style key
    // given earlier wins, and one given later overwrites.
    if (AKey == "backlog") {
        FOptions.Put(AKey, AValue);
        if (FOptions.GetSizeValue(AKey, 0) > 0) {
            FOptions.Add("backlog.enabled", "true");
            FOptions.Add("backlog.queue", AValue);
        } else {
            FOptions.Add("backlog.enabled", "false");
            FOptions.Add("backlog.queue", "0");
        }
        return true;
    }
    if (AKey == "flushon") {
        FOptions.Put(AKey, AValue);
        FOptions.Add("backlog.flushon", AValue);
        return true;
    }
    if (AKey == "keepopen") {
        FOptions.Put(AKey, AValue);
        FOptions.Add("backlog.keepopen", AValue);
        return true;
    }
    return false;
}

void TSiProtocol::AddOption(const std::string& AKey, const std::string& AValue) {
    if (MapOption(AKey, AValue)) {
        return;
    }
    if (!IsValidOption(AKey)) {
        throw ESiError("Option \"" + AKey + "\" not available for protocol \"" +
                       SiLowerCase(GetName()) + "\"");
    }
    FOptions.Put(AKey, AValue);
}

bool TSiProtocol::IsValidOption(const std::string& AKey) const {
    return std::find(kCommonOptions.begin(), kCommonOptions.end(), AKey) != kCommonOptions.end();
}

void TSiProtocol::LoadOptions() {
    FLevel = GetLevelOption("level", lvDebug);
    FCaption = GetStringOption("caption", GetName());
    FReconnect = GetBooleanOption("reconnect", false);
    FReconnectInterval = GetTimespanOption("reconnect.interval", 0);
    FBacklogEnabled = GetBooleanOption("backlog.enabled", false);
    FBacklogQueue = GetSizeOption("backlog.queue", 2048);
    FBacklogFlushOn = GetLevelOption("backlog.flushon", lvError);
    FBacklogKeepOpen = GetBooleanOption("backlog.keepopen", false);
    FAsyncEnabled = GetBooleanOption("async.enabled", false);
    FAsyncQueue = GetSizeOption("async.queue", 2048);
    FAsyncThrottle = GetBooleanOption("async.throttle", true);
    FAsyncClearOnDisconnect = GetBooleanOption("async.clearondisconnect", false);
    FKeepOpen = !FBacklogEnabled || FBacklogKeepOpen;
    FQueue.SetBacklog(FBacklogQueue);
}

void TSiProtocol::BuildOptions(TSiConnectionsBuilder& ABuilder) {
    ABuilder.AddOption("async.enabled", FAsyncEnabled);
    ABuilder.AddOption("async.clearondisconnect", FAsyncClearOnDisconnect);
    ABuilder.AddOption("async.queue", SiSizeOptionText(FAsyncQueue));
    ABuilder.AddOption("async.throttle", FAsyncThrottle);
    ABuilder.AddOption("backlog.enabled", FBacklogEnabled);
    ABuilder.AddOption("backlog.flushon", FBacklogFlushOn);
    ABuilder.AddOption("backlog.keepopen", FBacklogKeepOpen);
    ABuilder.AddOption("backlog.queue", SiSizeOptionText(FBacklogQueue));
    ABuilder.AddOption("level", FLevel);
    ABuilder.AddOption("reconnect", FReconnect);
    ABuilder.AddOption("reconnect.interval", SiTimespanOptionText(FReconnectInterval));
    ABuilder.AddOption("caption", FCaption);
}

std::string TSiProtocol::BuildOptionsText() {
    // The builder writes "name(options)"; with an empty name only the parentheses remain.
    TSiConnectionsBuilder LBuilder;
    LBuilder.BeginProtocol("");
    BuildOptions(LBuilder);
    LBuilder.EndProtocol();
    const std::string& LText = LBuilder.Connections();
    return LText.substr(1, LText.size() - 2);
}

std::string TSiProtocol::GetOptions() {
    // Without the lock on a stopping worker: the options are fixed since Initialize anyway.
    const auto LGuard = LockOperations();
    return BuildOptionsText();
}

std::string TSiProtocol::GetStringOption(const std::string& AKey,
                                         const std::string& ADefault) const {
    return FOptions.GetStringValue(AKey, ADefault);
}

bool TSiProtocol::GetBooleanOption(const std::string& AKey, bool ADefault) const {
    return FOptions.GetBooleanValue(AKey, ADefault);
}

std::int32_t TSiProtocol::GetIntegerOption(const std::string& AKey, std::int32_t ADefault) const {
    return FOptions.GetIntegerValue(AKey, ADefault);
}

TSiLevel TSiProtocol::GetLevelOption(const std::string& AKey, TSiLevel ADefault) const {
    return FOptions.GetLevelValue(AKey, ADefault);
}

std::int64_t TSiProtocol::GetSizeOption(const std::string& AKey, std::int64_t ADefault) const {
    return FOptions.GetSizeValue(AKey, ADefault);
}

std::uint32_t TSiProtocol::GetTimespanOption(const std::string& AKey, std::int64_t ADefault) const {
    return FOptions.GetTimespanValue(AKey, ADefault);
}

TSiFileRotate TSiProtocol::GetRotateOption(const std::string& AKey, TSiFileRotate ADefault) const {
    return FOptions.GetRotateValue(AKey, ADefault);
}

std::vector<std::uint8_t> TSiProtocol::GetBytesOption(
    const std::string& AKey, std::size_t ASize, const std::vector<std::uint8_t>& ADefault) const {
    return FOptions.GetBytesValue(AKey, ASize, ADefault);
}

// --- Properties -------------------------------------------------------------------------------

std::string TSiProtocol::Caption() const {
    return FInitialized ? FCaption : GetName();
}

std::string TSiProtocol::AppName() const {
    std::lock_guard LGuard(FNamesLock);
    return FAppName;
}

void TSiProtocol::SetAppName(const std::string& AValue) {
    std::lock_guard LGuard(FNamesLock);
    FAppName = AValue;
}

std::string TSiProtocol::HostName() const {
    std::lock_guard LGuard(FNamesLock);
    return FHostName;
}

void TSiProtocol::SetHostName(const std::string& AValue) {
    std::lock_guard LGuard(FNamesLock);
    FHostName = AValue;
}

TSiProtocolErrorEvent TSiProtocol::GetOnError() const {
    std::lock_guard LGuard(FEventLock);
    return FOnError;
}

void TSiProtocol::SetOnError(TSiProtocolErrorEvent AValue) {
    std::lock_guard LGuard(FEventLock);
    FOnError = std::move(AValue);
}

// --- Public operations ------------------------------------------------------------------------

void TSiProtocol::Connect() {
    const auto LGuard = LockOperations();
    if (!LGuard) {
        return;
    }
    if (!FAsyncEnabled) {
        ImplConnect();
        return;
    }
    if (FScheduler || !ReapRetiredScheduler()) {
        return;
    }
    try {
        auto LScheduler = std::make_unique<TSiScheduler>(static_cast<TSiSchedulerTarget&>(*this));
        LScheduler->SetThreshold(FAsyncQueue);
        LScheduler->SetThrottle(FAsyncThrottle);
        LScheduler->Start();
        FScheduler = std::move(LScheduler);
    } catch (const std::exception& LAError) {
        // No worker thread: the protocol cannot run at all.
        HandleException(LAError.what());
        return;
    }
    FScheduler->Schedule(TSiSchedulerCommand(saConnect));
}

void TSiProtocol::Disconnect() {
    const auto LGuard = LockOperations();
    if (!LGuard) {
        return;
    }
    if (!FAsyncEnabled) {
        ImplDisconnect();
        return;
    }
    if (!FScheduler) {
        ReapRetiredScheduler();
        return;
    }
    if (FAsyncClearOnDisconnect) {
        FScheduler->Clear();
    }
    FScheduler->Schedule(TSiSchedulerCommand(saDisconnect));
    if (FScheduler->IsWorkerThread()) {
        // Called by an error handler on the worker itself, which cannot wait for its own end:
        // the worker finishes the queue and ends, and is joined by the next Connect, Disconnect
        // or the destructor on another thread.
        FScheduler->Stop();
        FRetiredScheduler = std::move(FScheduler);
        return;
    }
    FScheduler.reset();
}

void TSiProtocol::WritePacket(TSiPacket& APacket) {
    if (APacket.Level < FLevel) {
        return;
    }
    if (FOwnerSerialises && !FAsyncEnabled) {
        // The owner's lock already orders every call: a second lock would only cost.
        ImplWritePacket(APacket);
        return;
    }
    const auto LGuard = LockOperations();
    if (!LGuard) {
        return;
    }
    if (!FAsyncEnabled) {
        ImplWritePacket(APacket);
        return;
    }
    if (FScheduler) {
        // A refused command is dropped at once, and with it its packet reference.
        FScheduler->Schedule(TSiSchedulerCommand(APacket));
    }
}

void TSiProtocol::WritePacketHere(TSiPacket& APacket) {
    if (!FAsyncEnabled || !WritesLocally()) {
        WritePacket(APacket);
        return;
    }
    if (APacket.Level < FLevel) {
        return;
    }
    const auto LGuard = LockOperations();
    if (LGuard && FScheduler) {
        FScheduler->RunOrSchedule(APacket);
    }
}

void TSiProtocol::Dispatch(TSiProtocolCommand& ACommand) {
    const auto LGuard = LockOperations();
    if (!LGuard) {
        return;
    }
    if (!FAsyncEnabled) {
        ImplDispatch(ACommand);
        return;
    }
    if (FScheduler) {
        FScheduler->Schedule(TSiSchedulerCommand(ACommand));
    }
}

std::unique_lock<std::recursive_mutex> TSiProtocol::LockOperations() {
    TSiScheduler* LCurrent = TSiScheduler::Current();
    if (!IsOwnWorker(*this, LCurrent)) {
        return std::unique_lock(FCriticalSection);
    }
    // On this protocol's own worker, that is inside an error handler. The lock may be held by a
    // Disconnect that waits for this very worker to end, so never block on it: once the worker
    // is being stopped, the operation is skipped (what it would queue would be refused anyway).
    // Any other holder only queues a command, or waits for room and has been woken because the
    // protocol failed, and lets go soon.
    return LCurrent->LockUnlessStopping(FCriticalSection);
}

void TSiProtocol::Shutdown() noexcept {
    try {
        Disconnect();
    } catch (...) {
        // Destruction goes on whatever the connection says.
    }
    std::lock_guard LGuard(FCriticalSection);
    ReapRetiredScheduler();
}

bool TSiProtocol::IsOwnWorker(const TSiSchedulerTarget& ATarget, const TSiScheduler* ACurrent) {
    return ACurrent != nullptr && &ACurrent->Target() == &ATarget;
}

bool TSiProtocol::ReapRetiredScheduler() {
    if (!FRetiredScheduler) {
        return true;
    }
    if (FRetiredScheduler->IsWorkerThread()) {
        return false;
    }
    FRetiredScheduler.reset();
    return true;
}

// --- State machine ----------------------------------------------------------------------------

void TSiProtocol::ImplConnect() {
    if (FConnected || !FKeepOpen) {
        // Without keep-open every burst of the backlog opens its own connection.
        return;
    }
    try {
        InternalConnect();
        FConnected = true;
        FFailed.store(false, std::memory_order_release);
    } catch (const std::exception& LAError) {
        ResetQuietly(true);
        HandleException(LAError.what());
    }
}

void TSiProtocol::ImplDisconnect() {
    if (FBurstPending && FQueue.Count() > 0) {
        // A burst that a lost connection held back goes out before the end, one attempt.
        try {
            if (ConnectForWrite()) {
                while (const TSiPacketPtr LQueued = FQueue.Pop()) {
                    WriteLocked(*LQueued);
                }
                FBurstPending = false;
            }
        } catch (const std::exception& LAError) {
            ResetQuietly(true);
            HandleException(LAError.what());
        }
    }
    if (!FConnected) {
        DropBacklog();
        return;
    }
    try {
        // What was written reaches the peer before the connection closes.
        InternalAwaitDelivery();
    } catch (const std::exception& LAError) {
        ResetQuietly(false);
        HandleException(LAError.what());
        return;
    }
    try {
        Reset(false);
    } catch (const std::exception& LAError) {
        HandleException(LAError.what());
    }
}

void TSiProtocol::ImplWritePacket(TSiPacket& APacket) {
    if (!FConnected && !FReconnect && FKeepOpen) {
        // A lost or failed connection stays down until the next Connect.
        return;
    }
    // Whether APacket reached InternalWritePacket; one that did not waits in the backlog when
    // its burst fails.
    bool LHandedOver = false;
    try {
        if (!FBacklogEnabled) {
            if (ConnectForWrite()) {
                WriteLocked(APacket);
            }
            return;
        }
        if (APacket.Level < FBacklogFlushOn || APacket.Level == lvControl) {
            HoldBack(APacket);
            return;
        }
        // A burst: the backlog from oldest to newest, then the packet that flushes it. Without
        // keep-open it closes its connection, once the peer has them all; with keep-open what
        // is still unacknowledged stays with the connection, and goes back into the backlog if
        // that breaks.
        if (!ConnectForWrite()) {
            // No connection yet (a reconnect refused, or too early): the burst waits.
            HoldBack(APacket);
            FBurstPending = true;
            return;
        }
        while (const TSiPacketPtr LQueued = FQueue.Pop()) {
            WriteLocked(*LQueued);
        }
        FBurstPending = false;
        LHandedOver = true;
        WriteLocked(APacket);
        if (!FKeepOpen) {
            InternalAwaitDelivery();
            FConnected = false;
            InternalDisconnect();
        }
    } catch (const std::exception& LAError) {
        ResetQuietly(true);
        if (FBacklogEnabled && !LHandedOver) {
            HoldBack(APacket);
        }
        if (FBacklogEnabled) {
            FBurstPending = true;
        }
        HandleException(LAError.what());
    }
}

void TSiProtocol::ImplDispatch(TSiProtocolCommand& ACommand) {
    if (!FConnected) {
        return;
    }
    try {
        InternalDispatch(ACommand);
    } catch (const std::exception& LAError) {
        HandleException(LAError.what());
    }
}

bool TSiProtocol::ConnectForWrite() {
    if (!FConnected) {
        if (!FKeepOpen) {
            InternalConnect();
            FConnected = true;
            FFailed.store(false, std::memory_order_release);
        } else {
            Reconnect();
        }
    }
    return FConnected;
}

void TSiProtocol::WriteLocked(TSiPacket& APacket) {
    // The same packet may be formatted by other protocols on other threads.
    TSiPacketLock LLock(APacket);
    InternalWritePacket(APacket);
}

void TSiProtocol::DropBacklog() {
    if (FBurstPending) {
        FDropped.fetch_add(static_cast<std::uint64_t>(FQueue.Count()), std::memory_order_relaxed);
    }
    FBurstPending = false;
    FQueue.Clear();
}

void TSiProtocol::HoldBack(TSiPacket& APacket) {
    const std::uint64_t LTrimmed = FQueue.Trimmed();
    FQueue.Push(APacket);
    FDropped.fetch_add(FQueue.Trimmed() - LTrimmed, std::memory_order_relaxed);
}

void TSiProtocol::Reconnect() {
    if (FReconnectInterval > 0 && FReconnectTickValid &&
        SiTickDifference(SiGetTickCount(), FReconnectTickCount) < FReconnectInterval) {
        return;
    }
    try {
        if (InternalReconnect()) {
            FConnected = true;
        }
    } catch (...) {
        // A reconnect attempt that fails is no error: the peer may simply not be there yet.
    }
    FFailed.store(!FConnected, std::memory_order_release);
    if (!FConnected) {
        ResetQuietly(true);
    }
}

void TSiProtocol::Reset(bool AAfterFailure) {
    std::vector<TSiPacketPtr> LUnacknowledged;
    InternalTakeUnacknowledged(LUnacknowledged);
    std::uint64_t LLost = 0;
    if (AAfterFailure && FBacklogEnabled) {
        // The peer may not have them: they go again, in their order, before anything the
        // backlog holds, once there is a connection again.
        const std::uint64_t LTrimmed = FQueue.Trimmed();
        for (auto LPacket = LUnacknowledged.rbegin(); LPacket != LUnacknowledged.rend();
             ++LPacket) {
            if (*LPacket) {
                FQueue.PushFront(**LPacket);
            } else {
                ++LLost;
            }
        }
        LLost += FQueue.Trimmed() - LTrimmed;
    } else {
        LLost = LUnacknowledged.size();
        DropBacklog();
    }
    FDropped.fetch_add(LLost, std::memory_order_relaxed);
    FConnected = false;
    // The reconnect interval counts from here, also when closing fails.
    try {
        InternalDisconnect();
    } catch (...) {
        FReconnectTickCount = SiGetTickCount();
        FReconnectTickValid = true;
        throw;
    }
    FReconnectTickCount = SiGetTickCount();
    FReconnectTickValid = true;
}

void TSiProtocol::ResetQuietly(bool AAfterFailure) noexcept {
    // Used while another error is being reported: that one is the error that counts.
    try {
        Reset(AAfterFailure);
    } catch (...) {
    }
}

bool TSiProtocol::InternalReconnect() {
    InternalConnect();
    return true;
}

void TSiProtocol::InternalDispatch(TSiProtocolCommand&) {}

void TSiProtocol::InternalAwaitDelivery() {}

void TSiProtocol::InternalTakeUnacknowledged(std::vector<TSiPacketPtr>&) {}

void TSiProtocol::InternalWriteLogHeader() {
    const auto LHeader = SiMakeRef<TSiLogHeader>();
    {
        std::lock_guard LGuard(FNamesLock);
        LHeader->AppName = FAppName;
        LHeader->HostName = FHostName;
    }
    InternalWritePacket(*LHeader);
}

void TSiProtocol::HandleException(const std::string& AMessage) {
    FFailed.store(true, std::memory_order_release);
    ESiProtocolError LError(AMessage, GetName(), BuildOptionsText());
    if (!FAsyncEnabled) {
        throw LError;
    }
    // A writer that waits for room holds the protocol's lock, and the error handler may need
    // the logger core's lock that the writer also holds: now that the protocol has failed the
    // writer need not wait, so it is woken before the handler runs.
    if (TSiScheduler* LCurrent = TSiScheduler::Current(); IsOwnWorker(*this, LCurrent)) {
        LCurrent->WakeWriters();
    }
    if (const TSiProtocolErrorEvent LHandler = GetOnError()) {
        try {
            LHandler(*this, LError);
        } catch (...) {
            // Nothing may leave the worker thread.
        }
    }
}

void TSiProtocol::RunSchedulerCommand(TSiSchedulerCommand& ACommand) noexcept {
    try {
        switch (ACommand.Action()) {
            case saConnect:
                ImplConnect();
                break;
            case saWritePacket:
                ImplWritePacket(*ACommand.Packet());
                break;
            case saDisconnect:
                ImplDisconnect();
                break;
            case saDispatch:
                ImplDispatch(*ACommand.ProtocolCommand());
                break;
        }
    } catch (...) {
        // Errors were reported through OnError; anything else must not end the worker.
    }
}

// --- Registry ---------------------------------------------------------------------------------

namespace {

struct TSiProtocolRegistry {
    std::mutex GSiProtocolsSync;
    std::vector<std::pair<std::string, TSiProtocolClass>> GSiProtocols;
};

// Set while this thread registers the default protocols, whose registrations come back here.
thread_local bool GRegisteringDefaults = false;

TSiProtocolRegistry& Registry() {
    static TSiProtocolRegistry LRegistry;
    static std::once_flag LDefaultsRegistered;
    if (!GRegisteringDefaults) {
        std::call_once(LDefaultsRegistered, [] {
            GRegisteringDefaults = true;
            try {
                SiRegisterDefaultProtocols();
            } catch (...) {
                GRegisteringDefaults = false;
                throw;
            }
            GRegisteringDefaults = false;
        });
    }
    return LRegistry;
}

}  // namespace

void TSiProtocolFactory::RegisterProtocol(const std::string& AName, TSiProtocolClass AImpl) {
    const std::string LName = SiLowerCase(SiTrim(AName));
    if (LName.empty() || !AImpl) {
        return;
    }
    TSiProtocolRegistry& LRegistry = Registry();
    std::lock_guard LGuard(LRegistry.GSiProtocolsSync);
    for (auto& [LKey, LImpl] : LRegistry.GSiProtocols) {
        if (LKey == LName) {
            LImpl = std::move(AImpl);
            return;
        }
    }
    LRegistry.GSiProtocols.emplace_back(LName, std::move(AImpl));
}

TSiProtocolPtr TSiProtocolFactory::GetProtocol(const std::string& AName,
                                               const std::string& AOptions) {
    const std::string LName = SiLowerCase(SiTrim(AName));
    TSiProtocolClass LImpl;
    {
        TSiProtocolRegistry& LRegistry = Registry();
        std::lock_guard LGuard(LRegistry.GSiProtocolsSync);
        for (const auto& [LKey, LClass] : LRegistry.GSiProtocols) {
            if (LKey == LName) {
                LImpl = LClass;
                break;
            }
        }
    }
    TSiProtocolPtr LProtocol = LImpl ? LImpl() : nullptr;
    if (!LProtocol) {
        throw ESiError("Protocol \"" + AName + "\" not found");
    }
    // Should Initialize raise, the new protocol is freed on the way out.
    LProtocol->Initialize(AOptions);
    return LProtocol;
}

}  // namespace deruz::logging
