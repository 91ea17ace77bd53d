// The session core: settings, the titles of the format and instance forms, method, thread and
// process flow, and the packet builders every log method ends in.
#include "logging/core/session.h"

#include <memory>
#include <utility>

#include "logging/base/demangle.h"
#include "logging/base/hash.h"
#include "logging/core/lane_entry.h"
#include "logging/packets/packet.h"
#include "logging/packets/viewer_context.h"
#include "logging/system/system_info.h"

namespace deruz::logging {

namespace {

// The colour an entry carries: the viewer's default (clWindow) as it is, any other system
// colour resolved to its RGB value, everything masked to 0x00BBGGRR.
TSiColor ResolveColor(TSiColor AColor) {
    if (AColor == clWindow) return AColor;
    std::uint32_t LRgb = static_cast<std::uint32_t>(AColor);
    if (AColor < 0) LRgb = SiGetSysColor(static_cast<int>(LRgb & 0xFF));
    return static_cast<TSiColor>(LRgb & 0xFFFFFF);
}

constexpr std::string_view kMainThread = "Main Thread";

}  // namespace

// --- Method tracker --------------------------------------------------------------------------

TSiMethodTracker::TSiMethodTracker(TSiSession& ASession, TSiLevel ALevel, std::string AMethodName)
    : FLevel(ALevel), FMethodName(std::move(AMethodName)), FSession(ASession) {
    FSession.EnterMethod(FLevel, FMethodName);
}

// The leave makes its own level test now: it is not logged if logging was switched off
// meanwhile.
TSiMethodTracker::~TSiMethodTracker() {
    FSession.LeaveMethod(FLevel, FMethodName);
}

// --- Session ---------------------------------------------------------------------------------

TSiSession::TSiSession(ISiSessionHost* AParent, std::string ASessionName)
    : FCounter(std::make_unique<TSiIntegerHash>()),
      FCheckpoints(std::make_unique<TSiIntegerHash>()),
      FName(std::move(ASessionName)),
      FHost(AParent),
      FParent(AParent != nullptr ? AParent->Logger() : nullptr),
      FGate(AParent != nullptr ? &AParent->Gate() : nullptr) {
    if (AParent == nullptr) throw ESiError("AParent argument is not assigned");
}

TSiSession::~TSiSession() {
    if (TSiLogEntry* LSpare = FSpareEntry.exchange(nullptr)) LSpare->Release();
}

std::string TSiSession::Name() const {
    std::lock_guard LLock(FCriticalSection);
    return FName;
}

// Under the session lock, so that renames of one session follow each other: the table is
// re-keyed (and the new name's settings applied) before the name changes. Lock order: the
// session's lock, then the manager's; the manager reads names without the session lock.
void TSiSession::SetName(const std::string& AValue) {
    std::lock_guard LLock(FCriticalSection);
    if (FIsStored) FHost->UpdateSession(this, AValue, FName);
    FName = AValue;
    FNameCount.fetch_add(1, std::memory_order_release);
}

// --- Titles ----------------------------------------------------------------------------------

void TSiSession::ReportInternalError(std::string_view AMethod, std::string_view AMessage) noexcept {
    try {
        std::string LTitle;
        LTitle.reserve(AMethod.size() + 2 + AMessage.size());
        LTitle.append(AMethod).append(": ").append(AMessage);
        LogInternalError(LTitle);
    } catch (...) {
        // Out of memory for the message itself: nothing is left to report it with.
    }
}

std::optional<std::string> TSiSession::TryFormat(
    std::string_view AMethod, std::string_view AFmt,
    std::initializer_list<TSiFormatArg> AArgs) noexcept {
    std::optional<std::string> LTitle;
    Guard(AMethod, [&] { LTitle = SiFormat(AFmt, AArgs); });
    return LTitle;
}

// The title of the format and instance forms: the format's text, and the instance's class name
// and "." in front of it.
std::optional<std::string> TSiSession::MakeTitle(std::string_view AMethod,
                                                 const TTitle& ATitle) noexcept {
    if (ATitle.HasInstance && ATitle.Type == nullptr) {
        ReportInternalError(AMethod, "AInstance argument is not assigned");
        return std::nullopt;
    }
    std::optional<std::string> LText;
    if (ATitle.Args != nullptr) {
        LText = TryFormat(AMethod, ATitle.Text, *ATitle.Args);
        if (!LText || !ATitle.HasInstance) return LText;
    }
    std::optional<std::string> LTitle;
    Guard(AMethod, [&] {
        LTitle = SiClassName(*ATitle.Type).append(".").append(LText ? *LText : ATitle.Text);
    });
    return LTitle;
}

// --- Flow ------------------------------------------------------------------------------------

void TSiSession::SendMethodFlow(TSiLevel ALevel, std::string_view ATitle, bool AEnter) noexcept {
    SendLogEntry(ALevel, ATitle, AEnter ? ltEnterMethod : ltLeaveMethod, viTitle);
    SendProcessFlow(ALevel, ATitle, AEnter ? pfEnterMethod : pfLeaveMethod);
}

ISiMethodTracker TSiSession::NewTracker(TSiLevel ALevel, std::string_view AMethodName) noexcept {
    ISiMethodTracker LTracker;
    Guard("TrackMethod", [&] {
        // Guard catches a failed allocation like any other error of the call.
        // NOLINTNEXTLINE(bugprone-unhandled-exception-at-new)
        auto* LNew = new TSiMethodTracker(*this, ALevel, std::string(AMethodName));
        LTracker = ISiMethodTracker::Adopt(LNew);
    });
    return LTracker;
}

void TSiSession::SendProcess(TSiLevel ALevel, std::optional<std::string_view> AProcessName,
                             bool AEnter) noexcept {
    GuardToCore([&] {
        const std::string LName = AProcessName ? std::string(*AProcessName) : FHost->AppName();
        if (AEnter) {
            SendProcessFlow(ALevel, LName, pfEnterProcess);
            SendProcessFlow(ALevel, kMainThread, pfEnterThread);
        } else {
            SendProcessFlow(ALevel, kMainThread, pfLeaveThread);
            SendProcessFlow(ALevel, LName, pfLeaveProcess);
        }
    });
}

void TSiSession::SendAssigned(std::string_view ATitle, bool AAssigned) noexcept {
    GuardToCore([&] {
        LogMessage(std::string(ATitle).append(AAssigned ? ": Assigned" : ": Not assigned"));
    });
}

// --- Packet builders -------------------------------------------------------------------------

void TSiSession::SendLogEntry(TSiLevel ALevel, std::string_view ATitle,
                              TSiLogEntryType ALogEntryType, TSiViewerId AViewerId) {
    SendLogEntry(ALevel, ATitle, ALogEntryType, AViewerId, Color(), nullptr);
}

void TSiSession::SendLogEntry(TSiLevel ALevel, std::string_view ATitle,
                              TSiLogEntryType ALogEntryType, TSiViewerId AViewerId, TSiColor AColor,
                              TSiStream* AData) {
    if (AData == nullptr) {
        TSiLaneEntry LQueued;
        LQueued.Level = ALevel;
        LQueued.Type = ALogEntryType;
        LQueued.ViewerId = AViewerId;
        LQueued.Color = ResolveColor(AColor);
        LQueued.Text = ATitle;
        if (FHost->PostLogEntry(*this, LQueued)) return;
    }
    GuardToCore([&] {
        auto LEntry = NewLogEntry(ALogEntryType, AViewerId);
        LEntry->Title = ATitle;
        if (AData != nullptr) LEntry->SetData(AData);
        CompleteAndSend(*LEntry, ALevel, AColor);
        KeepSpare(LEntry);
    });
}

void TSiSession::SendFormatted(std::string_view AMethod, TSiLevel ALevel,
                               TSiLogEntryType ALogEntryType, std::string_view AFmt,
                               std::initializer_list<TSiFormatArg> AArgs) noexcept {
    // With an asynchronous path open the format and its arguments are queued as they are;
    // the worker formats the title.
    TSiLaneEntry LQueued;
    LQueued.Level = ALevel;
    LQueued.Type = ALogEntryType;
    LQueued.Color = ResolveColor(Color());
    LQueued.Method = AMethod;
    LQueued.Text = AFmt;
    LQueued.Args = AArgs.begin();
    LQueued.ArgCount = AArgs.size();
    LQueued.Formatted = true;
    LQueued.ReportFailure = IsOn(lvError);
    if (FHost->PostLogEntry(*this, LQueued)) return;
    TSiRef<TSiLogEntry> LEntry;
    if (!GuardToCore([&] { LEntry = NewLogEntry(ALogEntryType, viTitle); }) ||
        !Guard(AMethod, [&] { SiFormatTo(LEntry->Title, AFmt, AArgs); })) {
        return;
    }
    GuardToCore([&] {
        CompleteAndSend(*LEntry, ALevel, Color());
        KeepSpare(LEntry);
    });
}

// A spare whose texts grew beyond this is let go, so that one long title does not pin its
// memory for the life of the session.
constexpr std::size_t kSpareTextCapacity = 1024;

TSiRef<TSiLogEntry> TSiSession::NewLogEntry(TSiLogEntryType ALogEntryType, TSiViewerId AViewerId) {
    if (TSiLogEntry* LSpare = FSpareEntry.exchange(nullptr, std::memory_order_acquire)) {
        auto LEntry = TSiRef<TSiLogEntry>::Adopt(LSpare);
        LEntry->Renew(ALogEntryType, AViewerId);
        return LEntry;
    }
    return SiMakeRef<TSiLogEntry>(ALogEntryType, AViewerId);
}

void TSiSession::KeepSpare(TSiRef<TSiLogEntry>& AEntry) noexcept {
    // A count of 1 is our own reference: no queue, store or handler kept the entry, and none
    // can take it any more.
    if (!AEntry || AEntry->RefCount() != 1 || AEntry->GetData() != nullptr ||
        AEntry->Title.capacity() > kSpareTextCapacity) {
        return;
    }
    TSiLogEntry* LEntry = AEntry.Detach();
    TSiLogEntry* LEmpty = nullptr;
    if (!FSpareEntry.compare_exchange_strong(LEmpty, LEntry, std::memory_order_release,
                                             std::memory_order_relaxed)) {
        LEntry->Release();  // another thread kept its entry first
    }
}

void TSiSession::CompleteAndSend(TSiLogEntry& AEntry, TSiLevel ALevel, TSiColor AColor) {
    AEntry.Timestamp = FHost->Now();
    AEntry.Level = ALevel;
    AEntry.Color = ResolveColor(AColor);
    // A reused entry still holds the name when no rename came since it was stamped: the
    // name's count tells, without the session lock. Otherwise the name is copied under the
    // lock, into the entry's own memory, and tagged with the count that goes with it.
    if (AEntry.SessionNameTag != FNameCount.load(std::memory_order_acquire)) {
        std::lock_guard LLock(FCriticalSection);
        AEntry.SessionName = FName;
        AEntry.SessionNameTag = FNameCount.load(std::memory_order_relaxed);
    }
    // A handler of the core may change the entry, its session name too: the tag no longer
    // vouches for the name then, and the entry is stamped anew when it is reused. Asked before
    // and after, so that a handler set or removed meanwhile is seen by one of the two.
    const bool LSeen = FHost->LogEntryHandlersMayRun();
    FHost->SendLogEntry(AEntry);
    if (LSeen || FHost->LogEntryHandlersMayRun()) AEntry.SessionNameTag = 0;
}

void TSiSession::SendProcessFlow(TSiLevel ALevel, std::string_view ATitle,
                                 TSiProcessFlowType AProcessFlowType) {
    GuardToCore([&] {
        auto LFlow = SiMakeRef<TSiProcessFlow>(AProcessFlowType);
        LFlow->Timestamp = FHost->Now();
        LFlow->Level = ALevel;
        LFlow->Title = ATitle;
        FHost->SendProcessFlow(*LFlow);
    });
}

void TSiSession::SendWatch(TSiLevel ALevel, std::string_view AName, std::string_view AValue,
                           TSiWatchType AWatchType) {
    GuardToCore([&] {
        auto LWatch = SiMakeRef<TSiWatch>(AWatchType);
        LWatch->Timestamp = FHost->Now();
        LWatch->Level = ALevel;
        LWatch->Name = AName;
        LWatch->Value = AValue;
        FHost->SendWatch(*LWatch);
    });
}

void TSiSession::SendControlCommand(TSiControlCommandType AControlCommandType, TSiStream* AData) {
    GuardToCore([&] {
        auto LCommand = SiMakeRef<TSiControlCommand>(AControlCommandType);
        if (AData != nullptr) LCommand->SetData(AData);
        FHost->SendControlCommand(*LCommand);
    });
}

void TSiSession::SendContext(TSiLevel ALevel, std::string_view ATitle,
                             TSiLogEntryType ALogEntryType, TSiViewerContext& AContext) {
    GuardToCore([&] {
        auto LEntry = SiMakeRef<TSiLogEntry>(ALogEntryType, AContext.ViewerId());
        LEntry->Timestamp = FHost->Now();
        LEntry->Level = ALevel;
        LEntry->Title = ATitle;
        LEntry->Color = ResolveColor(Color());
        LEntry->SessionName = Name();
        AContext.CopyToLogEntry(*LEntry);
        FHost->SendLogEntry(*LEntry);
    });
}

void TSiSession::ReportCurrentFailure(const std::string_view* AMethod) noexcept {
    try {
        throw;
    } catch (const std::exception& LError) {
        if (AMethod != nullptr) {
            ReportInternalError(*AMethod, LError.what());
        } else {
            ReportToCore(LError);
        }
    } catch (...) {
        if (AMethod != nullptr) {
            ReportInternalError(*AMethod, "unknown error");
            return;
        }
        try {
            ReportToCore(ESiError("unknown error"));
        } catch (...) {
            // Out of memory for the message itself: nothing is left to report it with.
        }
    }
}

// Failures outside the core (a packet that could not be built) go to the core's error
// event; an error handler that raises is dropped here, so nothing reaches the caller.
void TSiSession::ReportToCore(const std::exception& AException) noexcept {
    try {
        FHost->ReportError(AException);
    } catch (...) {
    }
}

}  // namespace deruz::logging
