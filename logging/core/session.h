// TSiSession: a named log channel of one logger core, with its own colour, level threshold
// and on/off switch, and the whole set of log methods that code writes through.
//
// Every log method first makes the level test (IsOn: two relaxed atomic loads, no lock, no
// allocation), inline in this header; only a call that passes it formats a title and builds
// packets, which go to the core. The title is formatted straight into the log entry, and a
// sent entry that nothing holds any more is kept for the next, so that steady logging to
// synchronous protocols allocates nothing. No log method raises to its caller: failures become
// internal-error entries ("<Method>: <message>") or go to the core's error event.
//
// Forms of the methods, as overloads:
// - level: every method of the level-pair families also exists without its leading ALevel and
//   then uses the core's DefaultLevel;
// - format: (AFmt, AArgs) builds the text with SiFormat after the level test; a format that
//   does not fit its arguments sends one internal error "<Method>: <message>" and nothing else;
// - instance: (AInstance, ...) of any class type puts the instance's class name (its dynamic
//   type for polymorphic classes, demangled) and "." in front of the method name; a null
//   instance sends the internal error "<Method>: AInstance argument is not assigned";
// - hex: AIncludeHex adds the value's hexadecimal digits to integer values and watches.
//
// Thread-safety: a session may be used from any thread. Name, named counters and named
// checkpoints are guarded by the session's lock; Level, Active and Color are atomics read
// without a lock; the unnamed checkpoint counter is atomic. Each call builds its own packets.
// A log call takes no session lock in the usual case: the spare entry it reuses still carries
// the session's name, which a count of renames vouches for (see FNameCount); only after a
// rename is the name copied again under the lock. A log call that races with a rename carries
// the old name or the new one, never a mix.
// Ownership: the core's session manager owns its sessions; a session must not be used after
// its core is gone, and a method tracker must be released before its session is destroyed.
// Objects, data sets, streams and contexts passed in are only used during the call.
#pragma once

#include <atomic>
#include <concepts>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "logging/base/datetime.h"
#include "logging/base/demangle.h"
#include "logging/base/enums.h"
#include "logging/base/hash.h"
#include "logging/base/intrusive_ptr.h"
#include "logging/base/si_format.h"
#include "logging/base/stream.h"
#include "logging/core/session_host.h"
#include "logging/packets/packet.h"
#include "logging/packets/viewer_context.h"
#include "logging/system/system_info.h"

namespace deruz::logging {

class TSiLogger;
class TSiSession;
class TSiStringList;

// A money amount as a 64-bit count of ten-thousandths (12.5 is {125000}).
struct TSiCurrency {
    std::int64_t Value;
};

// Implemented (besides std::exception) by exceptions that carry the text of the call stack
// where they were raised; LogException sends it as the entry's data.
class ISiStackTrace {
  public:
    virtual std::string StackTrace() const = 0;

  protected:
    virtual ~ISiStackTrace() = default;
};

// One property as LogObject lists it.
struct TSiLoggableProperty {
    std::string Name;
    std::string Value;
};

// One event as LogObject lists it: the handler's object, that object's class name and the
// handler's code address; a Method of nullptr means no handler is set.
struct TSiLoggableEvent {
    std::string Name;
    const void* Object = nullptr;
    std::string ClassName;
    const void* Method = nullptr;
};

// An object that LogObject can show: it lists its properties and its events. Objects of
// other types are logged as having no type information.
class ISiLoggable {
  public:
    virtual void GetProperties(std::vector<TSiLoggableProperty>& AProperties) const = 0;
    virtual void GetEvents(std::vector<TSiLoggableEvent>& /*AEvents*/) const {}

  protected:
    virtual ~ISiLoggable() = default;
};

// A column of a data set.
struct TSiFieldDef {
    std::string Name;
    std::string DataType;
    std::int32_t Size = 0;
    bool ReadOnly = false;
    // The column holds binary data, which LogDataSet shows as "<binary>".
    bool IsBinary = false;
};

// A table of rows read through a cursor, as database result sets are: LogDataSet walks it from
// First while not Eof, reading the current row's values, and can return the cursor to where
// the caller had it. Errors are raised as exceptions; LogDataSet turns them into internal
// errors.
class ISiDataSet {
  public:
    // The column definitions; a data set without any is empty.
    virtual std::vector<TSiFieldDef> FieldDefs() const = 0;
    virtual void First() = 0;
    virtual bool Eof() const = 0;
    virtual void Next() = 0;
    // The current row's value of the column AIndex; nothing for a null value. Not asked for
    // binary columns.
    virtual std::optional<std::string> FieldValue(std::size_t AIndex) const = 0;
    // A mark of the current row, and the return to a marked row.
    virtual std::int64_t GetBookmark() const = 0;
    virtual void GotoBookmark(std::int64_t ABookmark) = 0;

  protected:
    virtual ~ISiDataSet() = default;
};

// --- Method tracking -------------------------------------------------------------------------

// Logs the leave of a method when the last reference to it goes away (see TrackMethod).
class TSiMethodTracker final : public TSiRefCounted {
  public:
    TSiMethodTracker(TSiSession& ASession, TSiLevel ALevel, std::string AMethodName);

  private:
    ~TSiMethodTracker() override;

    TSiLevel FLevel;
    std::string FMethodName;
    TSiSession& FSession;
};

// Keeps a method track open while held; an empty reference tracks nothing.
using ISiMethodTracker = TSiRef<TSiMethodTracker>;

// The objects of the instance forms: any class.
template <typename T>
concept TSiInstanceType = std::is_class_v<T>;

class TSiSession {
  public:
    // Raises ESiError "AParent argument is not assigned" without a parent (the logger core,
    // which sessions reach only through ISiSessionHost).
    TSiSession(ISiSessionHost* AParent, std::string ASessionName);
    TSiSession(const TSiSession&) = delete;
    TSiSession& operator=(const TSiSession&) = delete;
    ~TSiSession();

    // --- Settings ---------------------------------------------------------------------
    std::string Name() const;
    // Renames the session; a stored session is re-keyed in its core's manager first.
    void SetName(const std::string& AValue);
    TSiColor Color() const noexcept { return FColor.load(std::memory_order_relaxed); }
    void SetColor(TSiColor AValue) noexcept { FColor.store(AValue, std::memory_order_relaxed); }
    void ResetColor() noexcept { SetColor(clWindow); }
    bool Active() const noexcept { return FThreshold.On(); }
    void SetActive(bool AValue) noexcept { FThreshold.SetOn(AValue); }
    TSiLevel Level() const noexcept { return FThreshold.Level(); }
    void SetLevel(TSiLevel AValue) noexcept { FThreshold.SetLevel(AValue); }
    TSiLogger* Parent() const noexcept { return FParent; }
    bool IsStored() const noexcept { return FIsStored; }

    // The level test every log method makes before doing anything else: the core is enabled,
    // the session active, and ALevel reaches both the session's and the core's threshold.
    inline bool IsOn(TSiLevel ALevel) const noexcept;
    // Only the switches, for control commands.
    inline bool IsOn() const noexcept;

    // --- Method, thread and process flow ------------------------------------------------
    // EnterMethod: an ltEnterMethod entry, then a pfEnterMethod flow, both with the title.
    void EnterMethod(std::string_view AMethodName) { EnterMethod(DefaultLevel(), AMethodName); }
    void EnterMethod(TSiLevel ALevel, std::string_view AMethodName) {
        if (IsOn(ALevel)) SendMethodFlow(ALevel, AMethodName, true);
    }
    void EnterMethod(std::string_view AFmt, std::initializer_list<TSiFormatArg> AArgs) {
        EnterMethod(DefaultLevel(), AFmt, AArgs);
    }
    void EnterMethod(TSiLevel ALevel, std::string_view AFmt,
                     std::initializer_list<TSiFormatArg> AArgs) {
        if (!IsOn(ALevel)) return;
        if (auto LTitle = TryFormat("EnterMethod", AFmt, AArgs))
            SendMethodFlow(ALevel, *LTitle, true);
    }
    template <TSiInstanceType T>
    void EnterMethod(const T* AInstance, std::string_view AMethodName) {
        EnterMethod(DefaultLevel(), AInstance, AMethodName);
    }
    template <TSiInstanceType T>
    void EnterMethod(TSiLevel ALevel, const T* AInstance, std::string_view AMethodName) {
        if (!IsOn(ALevel)) return;
        if (auto LTitle = InstanceTitle("EnterMethod", TypeOf(AInstance), AMethodName))
            SendMethodFlow(ALevel, *LTitle, true);
    }
    template <TSiInstanceType T>
    void EnterMethod(const T* AInstance, std::string_view AFmt,
                     std::initializer_list<TSiFormatArg> AArgs) {
        EnterMethod(DefaultLevel(), AInstance, AFmt, AArgs);
    }
    template <TSiInstanceType T>
    void EnterMethod(TSiLevel ALevel, const T* AInstance, std::string_view AFmt,
                     std::initializer_list<TSiFormatArg> AArgs) {
        if (!IsOn(ALevel)) return;
        if (auto LTitle = InstanceTitle("EnterMethod", TypeOf(AInstance), AFmt, AArgs))
            SendMethodFlow(ALevel, *LTitle, true);
    }

    // LeaveMethod: an ltLeaveMethod entry, then a pfLeaveMethod flow.
    void LeaveMethod(std::string_view AMethodName) { LeaveMethod(DefaultLevel(), AMethodName); }
    void LeaveMethod(TSiLevel ALevel, std::string_view AMethodName) {
        if (IsOn(ALevel)) SendMethodFlow(ALevel, AMethodName, false);
    }
    void LeaveMethod(std::string_view AFmt, std::initializer_list<TSiFormatArg> AArgs) {
        LeaveMethod(DefaultLevel(), AFmt, AArgs);
    }
    void LeaveMethod(TSiLevel ALevel, std::string_view AFmt,
                     std::initializer_list<TSiFormatArg> AArgs) {
        if (!IsOn(ALevel)) return;
        if (auto LTitle = TryFormat("LeaveMethod", AFmt, AArgs))
            SendMethodFlow(ALevel, *LTitle, false);
    }
    template <TSiInstanceType T>
    void LeaveMethod(const T* AInstance, std::string_view AMethodName) {
        LeaveMethod(DefaultLevel(), AInstance, AMethodName);
    }
    template <TSiInstanceType T>
    void LeaveMethod(TSiLevel ALevel, const T* AInstance, std::string_view AMethodName) {
        if (!IsOn(ALevel)) return;
        if (auto LTitle = InstanceTitle("LeaveMethod", TypeOf(AInstance), AMethodName))
            SendMethodFlow(ALevel, *LTitle, false);
    }
    template <TSiInstanceType T>
    void LeaveMethod(const T* AInstance, std::string_view AFmt,
                     std::initializer_list<TSiFormatArg> AArgs) {
        LeaveMethod(DefaultLevel(), AInstance, AFmt, AArgs);
    }
    template <TSiInstanceType T>
    void LeaveMethod(TSiLevel ALevel, const T* AInstance, std::string_view AFmt,
                     std::initializer_list<TSiFormatArg> AArgs) {
        if (!IsOn(ALevel)) return;
        if (auto LTitle = InstanceTitle("LeaveMethod", TypeOf(AInstance), AFmt, AArgs))
            SendMethodFlow(ALevel, *LTitle, false);
    }

    // TrackMethod: enters the method now and leaves it when the returned tracker's last
    // reference goes (on the releasing thread, with the level test made at that moment).
    // A failed level test, format or instance gives an empty reference.
    [[nodiscard]] ISiMethodTracker TrackMethod(std::string_view AMethodName) {
        return TrackMethod(DefaultLevel(), AMethodName);
    }
    [[nodiscard]] ISiMethodTracker TrackMethod(TSiLevel ALevel, std::string_view AMethodName) {
        if (!IsOn(ALevel)) return {};
        return NewTracker(ALevel, AMethodName);
    }
    [[nodiscard]] ISiMethodTracker TrackMethod(std::string_view AFmt,
                                               std::initializer_list<TSiFormatArg> AArgs) {
        return TrackMethod(DefaultLevel(), AFmt, AArgs);
    }
    [[nodiscard]] ISiMethodTracker TrackMethod(TSiLevel ALevel, std::string_view AFmt,
                                               std::initializer_list<TSiFormatArg> AArgs) {
        if (!IsOn(ALevel)) return {};
        auto LTitle = TryFormat("TrackMethod", AFmt, AArgs);
        return LTitle ? NewTracker(ALevel, *LTitle) : ISiMethodTracker();
    }
    template <TSiInstanceType T>
    [[nodiscard]] ISiMethodTracker TrackMethod(const T* AInstance, std::string_view AMethodName) {
        return TrackMethod(DefaultLevel(), AInstance, AMethodName);
    }
    template <TSiInstanceType T>
    [[nodiscard]] ISiMethodTracker TrackMethod(TSiLevel ALevel, const T* AInstance,
                                               std::string_view AMethodName) {
        if (!IsOn(ALevel)) return {};
        auto LTitle = InstanceTitle("TrackMethod", TypeOf(AInstance), AMethodName);
        return LTitle ? NewTracker(ALevel, *LTitle) : ISiMethodTracker();
    }
    template <TSiInstanceType T>
    [[nodiscard]] ISiMethodTracker TrackMethod(const T* AInstance, std::string_view AFmt,
                                               std::initializer_list<TSiFormatArg> AArgs) {
        return TrackMethod(DefaultLevel(), AInstance, AFmt, AArgs);
    }
    template <TSiInstanceType T>
    [[nodiscard]] ISiMethodTracker TrackMethod(TSiLevel ALevel, const T* AInstance,
                                               std::string_view AFmt,
                                               std::initializer_list<TSiFormatArg> AArgs) {
        if (!IsOn(ALevel)) return {};
        auto LTitle = InstanceTitle("TrackMethod", TypeOf(AInstance), AFmt, AArgs);
        return LTitle ? NewTracker(ALevel, *LTitle) : ISiMethodTracker();
    }

    // Threads: a pfEnterThread or pfLeaveThread flow only.
    void EnterThread(std::string_view AThreadName) { EnterThread(DefaultLevel(), AThreadName); }
    void EnterThread(TSiLevel ALevel, std::string_view AThreadName) {
        if (IsOn(ALevel)) SendProcessFlow(ALevel, AThreadName, pfEnterThread);
    }
    void EnterThread(std::string_view AFmt, std::initializer_list<TSiFormatArg> AArgs) {
        EnterThread(DefaultLevel(), AFmt, AArgs);
    }
    void EnterThread(TSiLevel ALevel, std::string_view AFmt,
                     std::initializer_list<TSiFormatArg> AArgs) {
        if (!IsOn(ALevel)) return;
        if (auto LTitle = TryFormat("EnterThread", AFmt, AArgs))
            SendProcessFlow(ALevel, *LTitle, pfEnterThread);
    }
    void LeaveThread(std::string_view AThreadName) { LeaveThread(DefaultLevel(), AThreadName); }
    void LeaveThread(TSiLevel ALevel, std::string_view AThreadName) {
        if (IsOn(ALevel)) SendProcessFlow(ALevel, AThreadName, pfLeaveThread);
    }
    void LeaveThread(std::string_view AFmt, std::initializer_list<TSiFormatArg> AArgs) {
        LeaveThread(DefaultLevel(), AFmt, AArgs);
    }
    void LeaveThread(TSiLevel ALevel, std::string_view AFmt,
                     std::initializer_list<TSiFormatArg> AArgs) {
        if (!IsOn(ALevel)) return;
        if (auto LTitle = TryFormat("LeaveThread", AFmt, AArgs))
            SendProcessFlow(ALevel, *LTitle, pfLeaveThread);
    }

    // Processes: EnterProcess sends pfEnterProcess with the process name, then pfEnterThread
    // "Main Thread"; LeaveProcess pfLeaveThread "Main Thread", then pfLeaveProcess. Without a
    // name the process name is the core's AppName.
    void EnterProcess() { EnterProcess(DefaultLevel()); }
    void EnterProcess(TSiLevel ALevel) {
        if (IsOn(ALevel)) SendProcess(ALevel, std::nullopt, true);
    }
    void EnterProcess(std::string_view AProcessName) { EnterProcess(DefaultLevel(), AProcessName); }
    void EnterProcess(TSiLevel ALevel, std::string_view AProcessName) {
        if (IsOn(ALevel)) SendProcess(ALevel, AProcessName, true);
    }
    void EnterProcess(std::string_view AFmt, std::initializer_list<TSiFormatArg> AArgs) {
        EnterProcess(DefaultLevel(), AFmt, AArgs);
    }
    void EnterProcess(TSiLevel ALevel, std::string_view AFmt,
                      std::initializer_list<TSiFormatArg> AArgs) {
        if (!IsOn(ALevel)) return;
        if (auto LTitle = TryFormat("EnterProcess", AFmt, AArgs))
            SendProcess(ALevel, *LTitle, true);
    }
    void LeaveProcess() { LeaveProcess(DefaultLevel()); }
    void LeaveProcess(TSiLevel ALevel) {
        if (IsOn(ALevel)) SendProcess(ALevel, std::nullopt, false);
    }
    void LeaveProcess(std::string_view AProcessName) { LeaveProcess(DefaultLevel(), AProcessName); }
    void LeaveProcess(TSiLevel ALevel, std::string_view AProcessName) {
        if (IsOn(ALevel)) SendProcess(ALevel, AProcessName, false);
    }
    void LeaveProcess(std::string_view AFmt, std::initializer_list<TSiFormatArg> AArgs) {
        LeaveProcess(DefaultLevel(), AFmt, AArgs);
    }
    void LeaveProcess(TSiLevel ALevel, std::string_view AFmt,
                      std::initializer_list<TSiFormatArg> AArgs) {
        if (!IsOn(ALevel)) return;
        if (auto LTitle = TryFormat("LeaveProcess", AFmt, AArgs))
            SendProcess(ALevel, *LTitle, false);
    }

    // Entries without title or data that the viewer reacts to.
    void ResetCallstack() { ResetCallstack(DefaultLevel()); }
    void ResetCallstack(TSiLevel ALevel) {
        if (IsOn(ALevel)) SendLogEntry(ALevel, std::string_view(), ltResetCallstack, viNone);
    }
    void LogSeparator() { LogSeparator(DefaultLevel()); }
    void LogSeparator(TSiLevel ALevel) {
        if (IsOn(ALevel)) SendLogEntry(ALevel, std::string_view(), ltSeparator, viNone);
    }

    void SendCustomProcessFlow(std::string_view ATitle, TSiProcessFlowType AProcessFlowType) {
        SendCustomProcessFlow(DefaultLevel(), ATitle, AProcessFlowType);
    }
    void SendCustomProcessFlow(TSiLevel ALevel, std::string_view ATitle,
                               TSiProcessFlowType AProcessFlowType) {
        if (IsOn(ALevel)) SendProcessFlow(ALevel, ATitle, AProcessFlowType);
    }

    // --- Messages with a fixed level (viewer viTitle) ----------------------------------
    void LogDebug(std::string_view ATitle) { LogFixed(lvDebug, ltDebug, ATitle); }
    void LogDebug(std::string_view AFmt, std::initializer_list<TSiFormatArg> AArgs) {
        LogFixed("LogDebug", lvDebug, ltDebug, AFmt, AArgs);
    }
    void LogVerbose(std::string_view ATitle) { LogFixed(lvVerbose, ltVerbose, ATitle); }
    void LogVerbose(std::string_view AFmt, std::initializer_list<TSiFormatArg> AArgs) {
        LogFixed("LogVerbose", lvVerbose, ltVerbose, AFmt, AArgs);
    }
    void LogMessage(std::string_view ATitle) { LogFixed(lvMessage, ltMessage, ATitle); }
    void LogMessage(std::string_view AFmt, std::initializer_list<TSiFormatArg> AArgs) {
        LogFixed("LogMessage", lvMessage, ltMessage, AFmt, AArgs);
    }
    void LogWarning(std::string_view ATitle) { LogFixed(lvWarning, ltWarning, ATitle); }
    void LogWarning(std::string_view AFmt, std::initializer_list<TSiFormatArg> AArgs) {
        LogFixed("LogWarning", lvWarning, ltWarning, AFmt, AArgs);
    }
    void LogError(std::string_view ATitle) { LogFixed(lvError, ltError, ATitle); }
    void LogError(std::string_view AFmt, std::initializer_list<TSiFormatArg> AArgs) {
        LogFixed("LogError", lvError, ltError, AFmt, AArgs);
    }
    void LogFatal(std::string_view ATitle) { LogFixed(lvFatal, ltFatal, ATitle); }
    void LogFatal(std::string_view AFmt, std::initializer_list<TSiFormatArg> AArgs) {
        LogFixed("LogFatal", lvFatal, ltFatal, AFmt, AArgs);
    }
    // An error of the logging itself (level lvError, ltInternalError).
    void LogInternalError(std::string_view ATitle) { LogFixed(lvError, ltInternalError, ATitle); }

    // --- Conditions, assertions, colours -------------------------------------------------
    // When ACondition is false: an ltAssert entry at lvError (whatever the default level).
    void LogAssert(bool ACondition, std::string_view ATitle) {
        if (!ACondition) LogFixed(lvError, ltAssert, ATitle);
    }
    void LogAssert(bool ACondition, std::string_view AFmt,
                   std::initializer_list<TSiFormatArg> AArgs) {
        if (!ACondition) LogFixed("LogAssert", lvError, ltAssert, AFmt, AArgs);
    }
    // When ACondition is true: an ltConditional entry.
    void LogConditional(bool ACondition, std::string_view ATitle) {
        LogConditional(DefaultLevel(), ACondition, ATitle);
    }
    void LogConditional(TSiLevel ALevel, bool ACondition, std::string_view ATitle) {
        if (IsOn(ALevel) && ACondition) SendLogEntry(ALevel, ATitle, ltConditional, viTitle);
    }
    void LogConditional(bool ACondition, std::string_view AFmt,
                        std::initializer_list<TSiFormatArg> AArgs) {
        LogConditional(DefaultLevel(), ACondition, AFmt, AArgs);
    }
    void LogConditional(TSiLevel ALevel, bool ACondition, std::string_view AFmt,
                        std::initializer_list<TSiFormatArg> AArgs) {
        if (!IsOn(ALevel) || !ACondition) return;
        if (auto LTitle = TryFormat("LogConditional", AFmt, AArgs))
            SendLogEntry(ALevel, *LTitle, ltConditional, viTitle);
    }
    // LogMessage with the title and ": Assigned" or ": Not assigned".
    void LogAssigned(std::string_view ATitle, const void* APointer) {
        LogAssigned(DefaultLevel(), ATitle, APointer);
    }
    void LogAssigned(TSiLevel ALevel, std::string_view ATitle, const void* APointer) {
        if (IsOn(ALevel)) SendAssigned(ATitle, APointer != nullptr);
    }
    // An ltMessage entry in the given colour.
    void LogColored(TSiColor AColor, std::string_view ATitle) {
        LogColored(DefaultLevel(), AColor, ATitle);
    }
    void LogColored(TSiLevel ALevel, TSiColor AColor, std::string_view ATitle) {
        if (IsOn(ALevel)) SendLogEntry(ALevel, ATitle, ltMessage, viTitle, AColor, nullptr);
    }
    void LogColored(TSiColor AColor, std::string_view AFmt,
                    std::initializer_list<TSiFormatArg> AArgs) {
        LogColored(DefaultLevel(), AColor, AFmt, AArgs);
    }
    void LogColored(TSiLevel ALevel, TSiColor AColor, std::string_view AFmt,
                    std::initializer_list<TSiFormatArg> AArgs) {
        if (!IsOn(ALevel)) return;
        if (auto LTitle = TryFormat("LogColored", AFmt, AArgs))
            SendLogEntry(ALevel, *LTitle, ltMessage, viTitle, AColor, nullptr);
    }

    // --- Values: ltVariableValue entries titled "<name> = <value>" -----------------------
    void LogString(std::string_view AName, std::string_view AValue) {
        LogString(DefaultLevel(), AName, AValue);
    }
    void LogString(TSiLevel ALevel, std::string_view AName, std::string_view AValue) {
        if (IsOn(ALevel)) SendValue(ALevel, AName, AValue, vfString);
    }
    void LogChar(std::string_view AName, char AValue) { LogChar(DefaultLevel(), AName, AValue); }
    void LogChar(TSiLevel ALevel, std::string_view AName, char AValue) {
        LogString(ALevel, AName, std::string_view(&AValue, 1));
    }
    // A null pointer is the empty string.
    void LogPChar(std::string_view AName, const char* AValue) {
        LogPChar(DefaultLevel(), AName, AValue);
    }
    void LogPChar(TSiLevel ALevel, std::string_view AName, const char* AValue) {
        LogString(ALevel, AName, AValue != nullptr ? std::string_view(AValue) : std::string_view());
    }
    void LogWideString(std::string_view AName, std::wstring_view AValue) {
        LogWideString(DefaultLevel(), AName, AValue);
    }
    void LogWideString(TSiLevel ALevel, std::string_view AName, std::wstring_view AValue) {
        if (IsOn(ALevel)) SendWideValue(ALevel, AName, AValue, false);
    }
    void LogPWideChar(std::string_view AName, const wchar_t* AValue) {
        LogPWideChar(DefaultLevel(), AName, AValue);
    }
    void LogPWideChar(TSiLevel ALevel, std::string_view AName, const wchar_t* AValue) {
        LogWideString(ALevel, AName,
                      AValue != nullptr ? std::wstring_view(AValue) : std::wstring_view());
    }
    void LogBoolean(std::string_view AName, bool AValue) {
        LogBoolean(DefaultLevel(), AName, AValue);
    }
    void LogBoolean(TSiLevel ALevel, std::string_view AName, bool AValue) {
        if (IsOn(ALevel)) SendValue(ALevel, AName, AValue, vfBoolean);
    }
    // Integers in decimal; with AIncludeHex also " ($<hex>)" with at least 2, 4, 8 or 16
    // upper-case digits by the type's width (a negative value shows its two's complement).
    void LogInteger(std::string_view AName, std::int32_t AValue, bool AIncludeHex = false) {
        LogInteger(DefaultLevel(), AName, AValue, AIncludeHex);
    }
    void LogInteger(TSiLevel ALevel, std::string_view AName, std::int32_t AValue,
                    bool AIncludeHex = false) {
        SendNumber<false>(ALevel, AName, AValue, AIncludeHex);
    }
    void LogCardinal(std::string_view AName, std::uint32_t AValue, bool AIncludeHex = false) {
        LogCardinal(DefaultLevel(), AName, AValue, AIncludeHex);
    }
    void LogCardinal(TSiLevel ALevel, std::string_view AName, std::uint32_t AValue,
                     bool AIncludeHex = false) {
        SendNumber<false>(ALevel, AName, AValue, AIncludeHex);
    }
    void LogShortint(std::string_view AName, std::int8_t AValue, bool AIncludeHex = false) {
        LogShortint(DefaultLevel(), AName, AValue, AIncludeHex);
    }
    void LogShortint(TSiLevel ALevel, std::string_view AName, std::int8_t AValue,
                     bool AIncludeHex = false) {
        SendNumber<false>(ALevel, AName, AValue, AIncludeHex);
    }
    void LogSmallint(std::string_view AName, std::int16_t AValue, bool AIncludeHex = false) {
        LogSmallint(DefaultLevel(), AName, AValue, AIncludeHex);
    }
    void LogSmallint(TSiLevel ALevel, std::string_view AName, std::int16_t AValue,
                     bool AIncludeHex = false) {
        SendNumber<false>(ALevel, AName, AValue, AIncludeHex);
    }
    void LogByte(std::string_view AName, std::uint8_t AValue, bool AIncludeHex = false) {
        LogByte(DefaultLevel(), AName, AValue, AIncludeHex);
    }
    void LogByte(TSiLevel ALevel, std::string_view AName, std::uint8_t AValue,
                 bool AIncludeHex = false) {
        SendNumber<false>(ALevel, AName, AValue, AIncludeHex);
    }
    void LogWord(std::string_view AName, std::uint16_t AValue, bool AIncludeHex = false) {
        LogWord(DefaultLevel(), AName, AValue, AIncludeHex);
    }
    void LogWord(TSiLevel ALevel, std::string_view AName, std::uint16_t AValue,
                 bool AIncludeHex = false) {
        SendNumber<false>(ALevel, AName, AValue, AIncludeHex);
    }
    void LogInt64(std::string_view AName, std::int64_t AValue, bool AIncludeHex = false) {
        LogInt64(DefaultLevel(), AName, AValue, AIncludeHex);
    }
    void LogInt64(TSiLevel ALevel, std::string_view AName, std::int64_t AValue,
                  bool AIncludeHex = false) {
        SendNumber<false>(ALevel, AName, AValue, AIncludeHex);
    }
    // Floating-point numbers in the shortest general form (up to 15 significant digits) with
    // the thread locale's decimal separator.
    void LogSingle(std::string_view AName, float AValue) {
        LogSingle(DefaultLevel(), AName, AValue);
    }
    void LogSingle(TSiLevel ALevel, std::string_view AName, float AValue) {
        SendNumber<false>(ALevel, AName, AValue);
    }
    void LogDouble(std::string_view AName, double AValue) {
        LogDouble(DefaultLevel(), AName, AValue);
    }
    void LogDouble(TSiLevel ALevel, std::string_view AName, double AValue) {
        SendNumber<false>(ALevel, AName, AValue);
    }
    void LogExtended(std::string_view AName, long double AValue) {
        LogExtended(DefaultLevel(), AName, AValue);
    }
    void LogExtended(TSiLevel ALevel, std::string_view AName, long double AValue) {
        SendNumber<false>(ALevel, AName, AValue);
    }
    void LogCurrency(std::string_view AName, TSiCurrency AValue) {
        LogCurrency(DefaultLevel(), AName, AValue);
    }
    void LogCurrency(TSiLevel ALevel, std::string_view AName, TSiCurrency AValue) {
        SendNumber<false>(ALevel, AName, CurrencyValue(AValue));
    }
    // The thread locale's default date-time text (short date, long time unless midnight).
    void LogDateTime(std::string_view AName, TDateTime AValue) {
        LogDateTime(DefaultLevel(), AName, AValue);
    }
    void LogDateTime(TSiLevel ALevel, std::string_view AName, TDateTime AValue) {
        if (IsOn(ALevel)) SendValue(ALevel, AName, AValue, vfDateTime);
    }
    // "$" and the address in at least 8 upper-case hexadecimal digits.
    void LogPointer(std::string_view AName, const void* AValue) {
        LogPointer(DefaultLevel(), AName, AValue);
    }
    void LogPointer(TSiLevel ALevel, std::string_view AName, const void* AValue) {
        if (IsOn(ALevel)) SendValue(ALevel, AName, AValue, vfPointer);
    }

    // LogValue: the value member for the argument's type (integers by width and signedness).
    template <class T>
    requires TSiContextInteger<T> || std::floating_point<T>
    void LogValue(std::string_view AName, T AValue) { LogValue(DefaultLevel(), AName, AValue); }
    template <class T>
    requires TSiContextInteger<T> || std::floating_point<T>
    void LogValue(TSiLevel ALevel, std::string_view AName, T AValue) {
        static_assert(sizeof(T) <= 4 || std::is_signed_v<T> || std::floating_point<T>,
                      "no value member for this integer type");
        SendNumber<false>(ALevel, AName, AValue);
    }
    void LogValue(std::string_view AName, bool AValue) { LogBoolean(AName, AValue); }
    void LogValue(TSiLevel ALevel, std::string_view AName, bool AValue) {
        LogBoolean(ALevel, AName, AValue);
    }
    void LogValue(std::string_view AName, char AValue) { LogChar(AName, AValue); }
    void LogValue(TSiLevel ALevel, std::string_view AName, char AValue) {
        LogChar(ALevel, AName, AValue);
    }
    void LogValue(std::string_view AName, std::string_view AValue) { LogString(AName, AValue); }
    void LogValue(TSiLevel ALevel, std::string_view AName, std::string_view AValue) {
        LogString(ALevel, AName, AValue);
    }
    void LogValue(std::string_view AName, const char* AValue) { LogPChar(AName, AValue); }
    void LogValue(TSiLevel ALevel, std::string_view AName, const char* AValue) {
        LogPChar(ALevel, AName, AValue);
    }
    void LogValue(std::string_view AName, std::wstring_view AValue) {
        LogWideString(AName, AValue);
    }
    void LogValue(TSiLevel ALevel, std::string_view AName, std::wstring_view AValue) {
        LogWideString(ALevel, AName, AValue);
    }
    void LogValue(std::string_view AName, const wchar_t* AValue) { LogPWideChar(AName, AValue); }
    void LogValue(TSiLevel ALevel, std::string_view AName, const wchar_t* AValue) {
        LogPWideChar(ALevel, AName, AValue);
    }
    void LogValue(std::string_view AName, TSiDateTimeValue AValue) {
        LogDateTime(AName, AValue.Value);
    }
    void LogValue(TSiLevel ALevel, std::string_view AName, TSiDateTimeValue AValue) {
        LogDateTime(ALevel, AName, AValue.Value);
    }
    // Other pointers would silently become Booleans; LogPointer logs an address.
    template <typename T>
    void LogValue(std::string_view AName, const T* AValue) = delete;
    template <typename T>
    void LogValue(TSiLevel ALevel, std::string_view AName, const T* AValue) = delete;

    // --- Watches: the value texts of the value members, by watch type --------------------
    void WatchString(std::string_view AName, std::string_view AValue) {
        WatchString(DefaultLevel(), AName, AValue);
    }
    void WatchString(TSiLevel ALevel, std::string_view AName, std::string_view AValue) {
        if (IsOn(ALevel)) SendWatch(ALevel, AName, AValue, wtString);
    }
    void WatchChar(std::string_view AName, char AValue) {
        WatchChar(DefaultLevel(), AName, AValue);
    }
    void WatchChar(TSiLevel ALevel, std::string_view AName, char AValue) {
        if (IsOn(ALevel)) SendWatch(ALevel, AName, std::string_view(&AValue, 1), wtChar);
    }
    void WatchPChar(std::string_view AName, const char* AValue) {
        WatchPChar(DefaultLevel(), AName, AValue);
    }
    void WatchPChar(TSiLevel ALevel, std::string_view AName, const char* AValue) {
        WatchString(ALevel, AName,
                    AValue != nullptr ? std::string_view(AValue) : std::string_view());
    }
    void WatchWideString(std::string_view AName, std::wstring_view AValue) {
        WatchWideString(DefaultLevel(), AName, AValue);
    }
    void WatchWideString(TSiLevel ALevel, std::string_view AName, std::wstring_view AValue) {
        if (IsOn(ALevel)) SendWideValue(ALevel, AName, AValue, true);
    }
    void WatchPWideChar(std::string_view AName, const wchar_t* AValue) {
        WatchPWideChar(DefaultLevel(), AName, AValue);
    }
    void WatchPWideChar(TSiLevel ALevel, std::string_view AName, const wchar_t* AValue) {
        WatchWideString(ALevel, AName,
                        AValue != nullptr ? std::wstring_view(AValue) : std::wstring_view());
    }
    void WatchBoolean(std::string_view AName, bool AValue) {
        WatchBoolean(DefaultLevel(), AName, AValue);
    }
    void WatchBoolean(TSiLevel ALevel, std::string_view AName, bool AValue) {
        if (IsOn(ALevel)) SendWatchValue(ALevel, AName, AValue, vfBoolean);
    }
    void WatchInteger(std::string_view AName, std::int32_t AValue, bool AIncludeHex = false) {
        WatchInteger(DefaultLevel(), AName, AValue, AIncludeHex);
    }
    void WatchInteger(TSiLevel ALevel, std::string_view AName, std::int32_t AValue,
                      bool AIncludeHex = false) {
        SendNumber<true>(ALevel, AName, AValue, AIncludeHex);
    }
    void WatchCardinal(std::string_view AName, std::uint32_t AValue, bool AIncludeHex = false) {
        WatchCardinal(DefaultLevel(), AName, AValue, AIncludeHex);
    }
    void WatchCardinal(TSiLevel ALevel, std::string_view AName, std::uint32_t AValue,
                       bool AIncludeHex = false) {
        SendNumber<true>(ALevel, AName, AValue, AIncludeHex);
    }
    void WatchShortint(std::string_view AName, std::int8_t AValue, bool AIncludeHex = false) {
        WatchShortint(DefaultLevel(), AName, AValue, AIncludeHex);
    }
    void WatchShortint(TSiLevel ALevel, std::string_view AName, std::int8_t AValue,
                       bool AIncludeHex = false) {
        SendNumber<true>(ALevel, AName, AValue, AIncludeHex);
    }
    void WatchSmallint(std::string_view AName, std::int16_t AValue, bool AIncludeHex = false) {
        WatchSmallint(DefaultLevel(), AName, AValue, AIncludeHex);
    }
    void WatchSmallint(TSiLevel ALevel, std::string_view AName, std::int16_t AValue,
                       bool AIncludeHex = false) {
        SendNumber<true>(ALevel, AName, AValue, AIncludeHex);
    }
    void WatchByte(std::string_view AName, std::uint8_t AValue, bool AIncludeHex = false) {
        WatchByte(DefaultLevel(), AName, AValue, AIncludeHex);
    }
    void WatchByte(TSiLevel ALevel, std::string_view AName, std::uint8_t AValue,
                   bool AIncludeHex = false) {
        SendNumber<true>(ALevel, AName, AValue, AIncludeHex);
    }
    void WatchWord(std::string_view AName, std::uint16_t AValue, bool AIncludeHex = false) {
        WatchWord(DefaultLevel(), AName, AValue, AIncludeHex);
    }
    void WatchWord(TSiLevel ALevel, std::string_view AName, std::uint16_t AValue,
                   bool AIncludeHex = false) {
        SendNumber<true>(ALevel, AName, AValue, AIncludeHex);
    }
    void WatchInt64(std::string_view AName, std::int64_t AValue, bool AIncludeHex = false) {
        WatchInt64(DefaultLevel(), AName, AValue, AIncludeHex);
    }
    void WatchInt64(TSiLevel ALevel, std::string_view AName, std::int64_t AValue,
                    bool AIncludeHex = false) {
        SendNumber<true>(ALevel, AName, AValue, AIncludeHex);
    }
    void WatchSingle(std::string_view AName, float AValue) {
        WatchSingle(DefaultLevel(), AName, AValue);
    }
    void WatchSingle(TSiLevel ALevel, std::string_view AName, float AValue) {
        SendNumber<true>(ALevel, AName, AValue);
    }
    void WatchDouble(std::string_view AName, double AValue) {
        WatchDouble(DefaultLevel(), AName, AValue);
    }
    void WatchDouble(TSiLevel ALevel, std::string_view AName, double AValue) {
        SendNumber<true>(ALevel, AName, AValue);
    }
    void WatchExtended(std::string_view AName, long double AValue) {
        WatchExtended(DefaultLevel(), AName, AValue);
    }
    void WatchExtended(TSiLevel ALevel, std::string_view AName, long double AValue) {
        SendNumber<true>(ALevel, AName, AValue);
    }
    void WatchCurrency(std::string_view AName, TSiCurrency AValue) {
        WatchCurrency(DefaultLevel(), AName, AValue);
    }
    void WatchCurrency(TSiLevel ALevel, std::string_view AName, TSiCurrency AValue) {
        SendNumber<true>(ALevel, AName, CurrencyValue(AValue));
    }
    void WatchDateTime(std::string_view AName, TDateTime AValue) {
        WatchDateTime(DefaultLevel(), AName, AValue);
    }
    void WatchDateTime(TSiLevel ALevel, std::string_view AName, TDateTime AValue) {
        if (IsOn(ALevel)) SendWatchValue(ALevel, AName, AValue, vfDateTime);
    }
    void WatchPointer(std::string_view AName, const void* AValue) {
        WatchPointer(DefaultLevel(), AName, AValue);
    }
    void WatchPointer(TSiLevel ALevel, std::string_view AName, const void* AValue) {
        if (IsOn(ALevel)) SendWatchValue(ALevel, AName, AValue, vfPointer);
    }

    // Watch: the watch member for the argument's type, as LogValue.
    template <class T>
    requires TSiContextInteger<T> || std::floating_point<T>
    void Watch(std::string_view AName, T AValue) { Watch(DefaultLevel(), AName, AValue); }
    template <class T>
    requires TSiContextInteger<T> || std::floating_point<T>
    void Watch(TSiLevel ALevel, std::string_view AName, T AValue) {
        static_assert(sizeof(T) <= 4 || std::is_signed_v<T> || std::floating_point<T>,
                      "no watch member for this integer type");
        SendNumber<true>(ALevel, AName, AValue);
    }
    void Watch(std::string_view AName, bool AValue) { WatchBoolean(AName, AValue); }
    void Watch(TSiLevel ALevel, std::string_view AName, bool AValue) {
        WatchBoolean(ALevel, AName, AValue);
    }
    void Watch(std::string_view AName, char AValue) { WatchChar(AName, AValue); }
    void Watch(TSiLevel ALevel, std::string_view AName, char AValue) {
        WatchChar(ALevel, AName, AValue);
    }
    void Watch(std::string_view AName, std::string_view AValue) { WatchString(AName, AValue); }
    void Watch(TSiLevel ALevel, std::string_view AName, std::string_view AValue) {
        WatchString(ALevel, AName, AValue);
    }
    void Watch(std::string_view AName, const char* AValue) { WatchPChar(AName, AValue); }
    void Watch(TSiLevel ALevel, std::string_view AName, const char* AValue) {
        WatchPChar(ALevel, AName, AValue);
    }
    void Watch(std::string_view AName, std::wstring_view AValue) { WatchWideString(AName, AValue); }
    void Watch(TSiLevel ALevel, std::string_view AName, std::wstring_view AValue) {
        WatchWideString(ALevel, AName, AValue);
    }
    void Watch(std::string_view AName, const wchar_t* AValue) { WatchPWideChar(AName, AValue); }
    void Watch(TSiLevel ALevel, std::string_view AName, const wchar_t* AValue) {
        WatchPWideChar(ALevel, AName, AValue);
    }
    void Watch(std::string_view AName, TSiDateTimeValue AValue) {
        WatchDateTime(AName, AValue.Value);
    }
    void Watch(TSiLevel ALevel, std::string_view AName, TSiDateTimeValue AValue) {
        WatchDateTime(ALevel, AName, AValue.Value);
    }
    template <typename T>
    void Watch(std::string_view AName, const T* AValue) = delete;
    template <typename T>
    void Watch(TSiLevel ALevel, std::string_view AName, const T* AValue) = delete;

    // A watch with the value and type as given.
    void SendCustomWatch(std::string_view AName, std::string_view AValue, TSiWatchType AWatchType) {
        SendCustomWatch(DefaultLevel(), AName, AValue, AWatchType);
    }
    void SendCustomWatch(TSiLevel ALevel, std::string_view AName, std::string_view AValue,
                         TSiWatchType AWatchType) {
        if (IsOn(ALevel)) SendWatch(ALevel, AName, AValue, AWatchType);
    }

    // --- Counters and checkpoints ----------------------------------------------------------
    // Named counters (names match without regard to ASCII letter case) start at 0; each change
    // sends a wtInteger watch with the counter's new value. ResetCounter sends nothing.
    void IncCounter(std::string_view AName) { IncCounter(DefaultLevel(), AName); }
    void IncCounter(TSiLevel ALevel, std::string_view AName) {
        if (IsOn(ALevel)) ChangeCounter(ALevel, AName, true);
    }
    void DecCounter(std::string_view AName) { DecCounter(DefaultLevel(), AName); }
    void DecCounter(TSiLevel ALevel, std::string_view AName) {
        if (IsOn(ALevel)) ChangeCounter(ALevel, AName, false);
    }
    void ResetCounter(std::string_view AName);

    // Checkpoints (ltCheckpoint): unnamed ones titled "Checkpoint #<n>"; named ones (case-
    // insensitive) "<name> #<n> (<details>)" or, without details, "<name> #<n>". Resetting
    // sends nothing.
    void AddCheckpoint() { AddCheckpoint(DefaultLevel()); }
    void AddCheckpoint(TSiLevel ALevel) {
        if (IsOn(ALevel)) SendCheckpoint(ALevel);
    }
    void AddCheckpoint(std::string_view AName, std::string_view ADetails = std::string_view()) {
        AddCheckpoint(DefaultLevel(), AName, ADetails);
    }
    void AddCheckpoint(TSiLevel ALevel, std::string_view AName,
                       std::string_view ADetails = std::string_view()) {
        if (IsOn(ALevel)) SendNamedCheckpoint(ALevel, AName, ADetails);
    }
    void ResetCheckpoint() noexcept { FCheckpointCounter.store(0); }
    void ResetCheckpoint(std::string_view AName);

    // --- Data entries -----------------------------------------------------------------------
    // Text forms send a text context (byte order mark and UTF-8) with the viewer named; file
    // and stream forms send the bytes unchanged (the whole file, or the whole stream, which is
    // put back at its position). A file form without a title uses the file name. Failures
    // become internal errors "LogCustomText: ", "LogCustomFile: " or "LogCustomStream: ".
    void LogCustomText(std::string_view ATitle, std::string_view AText,
                       TSiLogEntryType ALogEntryType, TSiViewerId AViewerId) {
        LogCustomText(DefaultLevel(), ATitle, AText, ALogEntryType, AViewerId);
    }
    void LogCustomText(TSiLevel ALevel, std::string_view ATitle, std::string_view AText,
                       TSiLogEntryType ALogEntryType, TSiViewerId AViewerId) {
        if (IsOn(ALevel)) SendCustomText(ALevel, ATitle, AText, ALogEntryType, AViewerId);
    }
    void LogText(std::string_view ATitle, std::string_view AText) {
        LogText(DefaultLevel(), ATitle, AText);
    }
    void LogText(TSiLevel ALevel, std::string_view ATitle, std::string_view AText) {
        LogCustomText(ALevel, ATitle, AText, ltText, viData);
    }
    void LogHtml(std::string_view ATitle, std::string_view AHtml) {
        LogHtml(DefaultLevel(), ATitle, AHtml);
    }
    void LogHtml(TSiLevel ALevel, std::string_view ATitle, std::string_view AHtml) {
        LogCustomText(ALevel, ATitle, AHtml, ltWebContent, viWeb);
    }
    void LogSource(std::string_view ATitle, std::string_view ASource, TSiSourceId AId) {
        LogSource(DefaultLevel(), ATitle, ASource, AId);
    }
    void LogSource(TSiLevel ALevel, std::string_view ATitle, std::string_view ASource,
                   TSiSourceId AId) {
        LogCustomText(ALevel, ATitle, ASource, ltSource, SourceViewer(AId));
    }
    void LogSql(std::string_view ATitle, std::string_view ASource) {
        LogSql(DefaultLevel(), ATitle, ASource);
    }
    void LogSql(TSiLevel ALevel, std::string_view ATitle, std::string_view ASource) {
        LogSource(ALevel, ATitle, ASource, siSql);
    }

    void LogCustomFile(std::string_view AFileName, TSiLogEntryType ALogEntryType,
                       TSiViewerId AViewerId) {
        LogCustomFile(DefaultLevel(), AFileName, AFileName, ALogEntryType, AViewerId);
    }
    void LogCustomFile(TSiLevel ALevel, std::string_view AFileName, TSiLogEntryType ALogEntryType,
                       TSiViewerId AViewerId) {
        LogCustomFile(ALevel, AFileName, AFileName, ALogEntryType, AViewerId);
    }
    void LogCustomFile(std::string_view ATitle, std::string_view AFileName,
                       TSiLogEntryType ALogEntryType, TSiViewerId AViewerId) {
        LogCustomFile(DefaultLevel(), ATitle, AFileName, ALogEntryType, AViewerId);
    }
    void LogCustomFile(TSiLevel ALevel, std::string_view ATitle, std::string_view AFileName,
                       TSiLogEntryType ALogEntryType, TSiViewerId AViewerId) {
        if (IsOn(ALevel)) SendCustomFile(ALevel, ATitle, AFileName, ALogEntryType, AViewerId);
    }
    void LogTextFile(std::string_view AFileName) { LogTextFile(DefaultLevel(), AFileName); }
    void LogTextFile(TSiLevel ALevel, std::string_view AFileName) {
        LogCustomFile(ALevel, AFileName, ltText, viData);
    }
    void LogTextFile(std::string_view ATitle, std::string_view AFileName) {
        LogTextFile(DefaultLevel(), ATitle, AFileName);
    }
    void LogTextFile(TSiLevel ALevel, std::string_view ATitle, std::string_view AFileName) {
        LogCustomFile(ALevel, ATitle, AFileName, ltText, viData);
    }
    void LogHtmlFile(std::string_view AFileName) { LogHtmlFile(DefaultLevel(), AFileName); }
    void LogHtmlFile(TSiLevel ALevel, std::string_view AFileName) {
        LogCustomFile(ALevel, AFileName, ltWebContent, viWeb);
    }
    void LogHtmlFile(std::string_view ATitle, std::string_view AFileName) {
        LogHtmlFile(DefaultLevel(), ATitle, AFileName);
    }
    void LogHtmlFile(TSiLevel ALevel, std::string_view ATitle, std::string_view AFileName) {
        LogCustomFile(ALevel, ATitle, AFileName, ltWebContent, viWeb);
    }
    void LogSourceFile(std::string_view AFileName, TSiSourceId AId) {
        LogSourceFile(DefaultLevel(), AFileName, AId);
    }
    void LogSourceFile(TSiLevel ALevel, std::string_view AFileName, TSiSourceId AId) {
        LogCustomFile(ALevel, AFileName, ltSource, SourceViewer(AId));
    }
    void LogSourceFile(std::string_view ATitle, std::string_view AFileName, TSiSourceId AId) {
        LogSourceFile(DefaultLevel(), ATitle, AFileName, AId);
    }
    void LogSourceFile(TSiLevel ALevel, std::string_view ATitle, std::string_view AFileName,
                       TSiSourceId AId) {
        LogCustomFile(ALevel, ATitle, AFileName, ltSource, SourceViewer(AId));
    }
    void LogBinaryFile(std::string_view AFileName) { LogBinaryFile(DefaultLevel(), AFileName); }
    void LogBinaryFile(TSiLevel ALevel, std::string_view AFileName) {
        LogCustomFile(ALevel, AFileName, ltBinary, viBinary);
    }
    void LogBinaryFile(std::string_view ATitle, std::string_view AFileName) {
        LogBinaryFile(DefaultLevel(), ATitle, AFileName);
    }
    void LogBinaryFile(TSiLevel ALevel, std::string_view ATitle, std::string_view AFileName) {
        LogCustomFile(ALevel, ATitle, AFileName, ltBinary, viBinary);
    }
    void LogBitmapFile(std::string_view AFileName) { LogBitmapFile(DefaultLevel(), AFileName); }
    void LogBitmapFile(TSiLevel ALevel, std::string_view AFileName) {
        LogCustomFile(ALevel, AFileName, ltGraphic, viBitmap);
    }
    void LogBitmapFile(std::string_view ATitle, std::string_view AFileName) {
        LogBitmapFile(DefaultLevel(), ATitle, AFileName);
    }
    void LogBitmapFile(TSiLevel ALevel, std::string_view ATitle, std::string_view AFileName) {
        LogCustomFile(ALevel, ATitle, AFileName, ltGraphic, viBitmap);
    }
    void LogJpegFile(std::string_view AFileName) { LogJpegFile(DefaultLevel(), AFileName); }
    void LogJpegFile(TSiLevel ALevel, std::string_view AFileName) {
        LogCustomFile(ALevel, AFileName, ltGraphic, viJpeg);
    }
    void LogJpegFile(std::string_view ATitle, std::string_view AFileName) {
        LogJpegFile(DefaultLevel(), ATitle, AFileName);
    }
    void LogJpegFile(TSiLevel ALevel, std::string_view ATitle, std::string_view AFileName) {
        LogCustomFile(ALevel, ATitle, AFileName, ltGraphic, viJpeg);
    }
    void LogIconFile(std::string_view AFileName) { LogIconFile(DefaultLevel(), AFileName); }
    void LogIconFile(TSiLevel ALevel, std::string_view AFileName) {
        LogCustomFile(ALevel, AFileName, ltGraphic, viIcon);
    }
    void LogIconFile(std::string_view ATitle, std::string_view AFileName) {
        LogIconFile(DefaultLevel(), ATitle, AFileName);
    }
    void LogIconFile(TSiLevel ALevel, std::string_view ATitle, std::string_view AFileName) {
        LogCustomFile(ALevel, ATitle, AFileName, ltGraphic, viIcon);
    }
    void LogMetafileFile(std::string_view AFileName) { LogMetafileFile(DefaultLevel(), AFileName); }
    void LogMetafileFile(TSiLevel ALevel, std::string_view AFileName) {
        LogCustomFile(ALevel, AFileName, ltGraphic, viMetafile);
    }
    void LogMetafileFile(std::string_view ATitle, std::string_view AFileName) {
        LogMetafileFile(DefaultLevel(), ATitle, AFileName);
    }
    void LogMetafileFile(TSiLevel ALevel, std::string_view ATitle, std::string_view AFileName) {
        LogCustomFile(ALevel, ATitle, AFileName, ltGraphic, viMetafile);
    }

    void LogCustomStream(std::string_view ATitle, TSiStream* AStream, TSiLogEntryType ALogEntryType,
                         TSiViewerId AViewerId) {
        LogCustomStream(DefaultLevel(), ATitle, AStream, ALogEntryType, AViewerId);
    }
    void LogCustomStream(TSiLevel ALevel, std::string_view ATitle, TSiStream* AStream,
                         TSiLogEntryType ALogEntryType, TSiViewerId AViewerId) {
        if (IsOn(ALevel)) SendCustomStream(ALevel, ATitle, AStream, ALogEntryType, AViewerId);
    }
    void LogTextStream(std::string_view ATitle, TSiStream* AStream) {
        LogTextStream(DefaultLevel(), ATitle, AStream);
    }
    void LogTextStream(TSiLevel ALevel, std::string_view ATitle, TSiStream* AStream) {
        LogCustomStream(ALevel, ATitle, AStream, ltText, viData);
    }
    void LogHtmlStream(std::string_view ATitle, TSiStream* AStream) {
        LogHtmlStream(DefaultLevel(), ATitle, AStream);
    }
    void LogHtmlStream(TSiLevel ALevel, std::string_view ATitle, TSiStream* AStream) {
        LogCustomStream(ALevel, ATitle, AStream, ltWebContent, viWeb);
    }
    void LogSourceStream(std::string_view ATitle, TSiStream* AStream, TSiSourceId AId) {
        LogSourceStream(DefaultLevel(), ATitle, AStream, AId);
    }
    void LogSourceStream(TSiLevel ALevel, std::string_view ATitle, TSiStream* AStream,
                         TSiSourceId AId) {
        LogCustomStream(ALevel, ATitle, AStream, ltSource, SourceViewer(AId));
    }
    void LogBinaryStream(std::string_view ATitle, TSiStream* AStream) {
        LogBinaryStream(DefaultLevel(), ATitle, AStream);
    }
    void LogBinaryStream(TSiLevel ALevel, std::string_view ATitle, TSiStream* AStream) {
        LogCustomStream(ALevel, ATitle, AStream, ltBinary, viBinary);
    }
    void LogStream(std::string_view ATitle, TSiStream* AStream) {
        LogBinaryStream(ATitle, AStream);
    }
    void LogStream(TSiLevel ALevel, std::string_view ATitle, TSiStream* AStream) {
        LogBinaryStream(ALevel, ATitle, AStream);
    }
    void LogBitmapStream(std::string_view ATitle, TSiStream* AStream) {
        LogBitmapStream(DefaultLevel(), ATitle, AStream);
    }
    void LogBitmapStream(TSiLevel ALevel, std::string_view ATitle, TSiStream* AStream) {
        LogCustomStream(ALevel, ATitle, AStream, ltGraphic, viBitmap);
    }
    void LogJpegStream(std::string_view ATitle, TSiStream* AStream) {
        LogJpegStream(DefaultLevel(), ATitle, AStream);
    }
    void LogJpegStream(TSiLevel ALevel, std::string_view ATitle, TSiStream* AStream) {
        LogCustomStream(ALevel, ATitle, AStream, ltGraphic, viJpeg);
    }
    void LogIconStream(std::string_view ATitle, TSiStream* AStream) {
        LogIconStream(DefaultLevel(), ATitle, AStream);
    }
    void LogIconStream(TSiLevel ALevel, std::string_view ATitle, TSiStream* AStream) {
        LogCustomStream(ALevel, ATitle, AStream, ltGraphic, viIcon);
    }
    void LogMetafileStream(std::string_view ATitle, TSiStream* AStream) {
        LogMetafileStream(DefaultLevel(), ATitle, AStream);
    }
    void LogMetafileStream(TSiLevel ALevel, std::string_view ATitle, TSiStream* AStream) {
        LogCustomStream(ALevel, ATitle, AStream, ltGraphic, viMetafile);
    }

    // ASize bytes at AAddress in a binary viewer ("LogMemory: " on a null address or a
    // negative size).
    void LogMemory(std::string_view ATitle, const void* AAddress, std::int32_t ASize) {
        LogMemory(DefaultLevel(), ATitle, AAddress, ASize);
    }
    void LogMemory(TSiLevel ALevel, std::string_view ATitle, const void* AAddress,
                   std::int32_t ASize) {
        if (IsOn(ALevel)) SendMemory(ALevel, ATitle, AAddress, ASize);
    }
    // The strings' text in a list viewer (ltText).
    void LogStringList(std::string_view ATitle, const TSiStringList* AStrings) {
        LogStringList(DefaultLevel(), ATitle, AStrings);
    }
    void LogStringList(TSiLevel ALevel, std::string_view ATitle, const TSiStringList* AStrings) {
        if (IsOn(ALevel)) SendStringList(ALevel, ATitle, AStrings);
    }
    // Sends a context the caller built, as it is; a null context is an internal error.
    void LogCustomContext(std::string_view ATitle, TSiLogEntryType ALogEntryType,
                          TSiViewerContext* AContext) {
        LogCustomContext(DefaultLevel(), ATitle, ALogEntryType, AContext);
    }
    void LogCustomContext(TSiLevel ALevel, std::string_view ATitle, TSiLogEntryType ALogEntryType,
                          TSiViewerContext* AContext);
    // With data: the data through LogCustomStream; without: a plain entry.
    void SendCustomLogEntry(std::string_view ATitle, TSiLogEntryType ALogEntryType,
                            TSiViewerId AViewerId, TSiStream* AData) {
        SendCustomLogEntry(DefaultLevel(), ATitle, ALogEntryType, AViewerId, AData);
    }
    void SendCustomLogEntry(TSiLevel ALevel, std::string_view ATitle, TSiLogEntryType ALogEntryType,
                            TSiViewerId AViewerId, TSiStream* AData) {
        if (!IsOn(ALevel)) return;
        if (AData != nullptr) {
            SendCustomStream(ALevel, ATitle, AData, ALogEntryType, AViewerId);
        } else {
            SendLogEntry(ALevel, ATitle, ALogEntryType, AViewerId);
        }
    }

    // --- Exceptions and system errors (level lvError) --------------------------------------
    // "Exception <class>: <message>" (line breaks as blanks), after the title and ": " when the
    // title is not blank; an exception with a stack trace (ISiStackTrace) goes as an ltError
    // text entry at the default level with the title, two line breaks and the trace as data.
    void LogException(const std::exception& AException,
                      std::string_view ATitle = std::string_view()) {
        LogException(&AException, ATitle);
    }
    void LogException(const std::exception* AException,
                      std::string_view ATitle = std::string_view()) {
        if (IsOn(lvError)) SendException(AException, ATitle);
    }
    // The same for the exception being handled now (std::current_exception), described as
    // "<class>: <message>".
    void LogException(std::string_view ATitle = std::string_view()) {
        if (IsOn(lvError)) SendCurrentException(ATitle);
    }
    // For an application-wide exception event: the exception between an EnterMethod and a
    // LeaveMethod "ExceptionHandler" at lvError; the leave is sent even if logging fails.
    void ExceptionHandler(const void* ASender, const std::exception& AException);
    // LogError "<title>: <system text> (Error Code: <code>, $<8 hex digits>)", unless the code
    // is 0 and AIgnoreSuccess is set.
    void LogWin32Error(std::string_view ATitle, std::uint32_t AErrorCode,
                       bool AIgnoreSuccess = false) {
        if ((AErrorCode != 0 || !AIgnoreSuccess) && IsOn(lvError))
            SendSystemError(ATitle, AErrorCode);
    }
    // LogWin32Error with the calling thread's last system error.
    void LogLastError(std::string_view ATitle, bool AIgnoreSuccess = false) {
        LogWin32Error(ATitle, SiGetLastError(), AIgnoreSuccess);
    }

    // --- Control commands -------------------------------------------------------------------
    void ClearLog() {
        if (IsOn()) SendControlCommand(ccClearLog, nullptr);
    }
    void ClearWatches() {
        if (IsOn()) SendControlCommand(ccClearWatches, nullptr);
    }
    void ClearAutoViews() {
        if (IsOn()) SendControlCommand(ccClearAutoViews, nullptr);
    }
    void ClearAll() {
        if (IsOn()) SendControlCommand(ccClearAll, nullptr);
    }
    void ClearProcessFlow() {
        if (IsOn()) SendControlCommand(ccClearProcessFlow, nullptr);
    }
    // A command with a copy of AData, whose position is restored afterwards.
    void SendCustomControlCommand(TSiControlCommandType AControlCommandType, TSiStream* AData) {
        SendCustomControlCommand(DefaultLevel(), AControlCommandType, AData);
    }
    void SendCustomControlCommand(TSiLevel ALevel, TSiControlCommandType AControlCommandType,
                                  TSiStream* AData) {
        if (IsOn(ALevel)) SendCustomCommand(AControlCommandType, AData);
    }

    // --- Information ------------------------------------------------------------------------
    // An inspector (ltObject) with the groups "Properties" and "Events", each sorted. Objects
    // that are not ISiLoggable give "LogObject: AInstance argument has no RTTI".
    template <typename T>
    void LogObject(std::string_view ATitle, const T* AInstance) {
        LogObject(DefaultLevel(), ATitle, AInstance);
    }
    template <typename T>
    void LogObject(TSiLevel ALevel, std::string_view ATitle, const T* AInstance) {
        if (IsOn(ALevel)) SendObject(ALevel, ATitle, AInstance != nullptr, AsLoggable(AInstance));
    }
    // An inspector (ltSystem) with the operating system, the user and the runtime.
    void LogSystem(std::string_view ATitle = "System information") {
        LogSystem(DefaultLevel(), ATitle);
    }
    void LogSystem(TSiLevel ALevel, std::string_view ATitle = "System information") {
        if (IsOn(ALevel)) SendSystem(ALevel, ATitle);
    }
    // A value list (ltMemoryStatistic) with the memory load and the memory totals.
    void LogMemoryStatistic(std::string_view ATitle = "Memory statistic") {
        LogMemoryStatistic(DefaultLevel(), ATitle);
    }
    void LogMemoryStatistic(TSiLevel ALevel, std::string_view ATitle = "Memory statistic") {
        if (IsOn(ALevel)) SendMemoryStatistic(ALevel, ATitle);
    }
    // A table (ltDatabaseResult) of the rows, from the first; with ARestorePosition the data
    // set's cursor returns to the row it was on.
    void LogDataSet(std::string_view ATitle, ISiDataSet* ADataSet, bool ARestorePosition = true) {
        LogDataSet(DefaultLevel(), ATitle, ADataSet, ARestorePosition);
    }
    void LogDataSet(TSiLevel ALevel, std::string_view ATitle, ISiDataSet* ADataSet,
                    bool ARestorePosition = true) {
        if (IsOn(ALevel)) SendDataSet(ALevel, ATitle, ADataSet, ARestorePosition);
    }
    // A table (ltDatabaseStructure) of the column definitions: Name, Type, Size, Read Only.
    void LogDataSetSchema(std::string_view ATitle, const ISiDataSet* ADataSet) {
        LogDataSetSchema(DefaultLevel(), ATitle, ADataSet);
    }
    void LogDataSetSchema(TSiLevel ALevel, std::string_view ATitle, const ISiDataSet* ADataSet) {
        if (IsOn(ALevel)) SendDataSetSchema(ALevel, ATitle, ADataSet);
    }

    // --- Packet builders (no level test of their own) -----------------------------------
    void SendLogEntry(TSiLevel ALevel, std::string_view ATitle, TSiLogEntryType ALogEntryType,
                      TSiViewerId AViewerId);
    void SendLogEntry(TSiLevel ALevel, std::string_view ATitle, TSiLogEntryType ALogEntryType,
                      TSiViewerId AViewerId, TSiColor AColor, TSiStream* AData);
    void SendProcessFlow(TSiLevel ALevel, std::string_view ATitle,
                         TSiProcessFlowType AProcessFlowType);
    void SendWatch(TSiLevel ALevel, std::string_view AName, std::string_view AValue,
                   TSiWatchType AWatchType);
    void SendControlCommand(TSiControlCommandType AControlCommandType, TSiStream* AData);
    // An entry with the context's viewer and data (the entry copies the bytes).
    void SendContext(TSiLevel ALevel, std::string_view ATitle, TSiLogEntryType ALogEntryType,
                     TSiViewerContext& AContext);

  private:
    friend class TSiSessionManager;

    // How the value and watch members render their values.
    enum TSiValueForm : std::uint8_t {
        vfString,
        vfBoolean,
        vfInteger,
        vfHex2,
        vfHex4,
        vfHex8,
        vfHex16,
        vfFloat,
        vfDateTime,
        vfPointer,
    };

    TSiLevel DefaultLevel() const noexcept;

    // The numeric value and watch members, and LogValue and Watch for numbers, differ only in
    // the family (AWatch) and the form that the type gives: integers in decimal or, with
    // AIncludeHex, also with as many hexadecimal digits as the type is wide; floating-point
    // numbers in their general form.
    template <class T>
    static constexpr TSiValueForm NumberForm(bool AIncludeHex) noexcept {
        if constexpr (std::floating_point<T>) {
            return vfFloat;
        } else if (!AIncludeHex) {
            return vfInteger;
        } else {
            return sizeof(T) == 1   ? vfHex2
                   : sizeof(T) == 2 ? vfHex4
                   : sizeof(T) == 4 ? vfHex8
                                    : vfHex16;
        }
    }
    template <bool AWatch, class T>
    void SendNumber(TSiLevel ALevel, std::string_view AName, T AValue, bool AIncludeHex = false) {
        if (!IsOn(ALevel)) return;
        if constexpr (AWatch) {
            SendWatchValue(ALevel, AName, AValue, NumberForm<T>(AIncludeHex));
        } else {
            SendValue(ALevel, AName, AValue, NumberForm<T>(AIncludeHex));
        }
    }

    template <typename T>
    static const std::type_info* TypeOf(const T* AInstance) noexcept {
        return AInstance != nullptr ? &typeid(*AInstance) : nullptr;
    }
    template <typename T>
    static const ISiLoggable* AsLoggable(const T* AInstance) noexcept {
        if constexpr (std::is_base_of_v<ISiLoggable, T>) {
            return AInstance;
        } else if constexpr (std::is_polymorphic_v<T>) {
            return dynamic_cast<const ISiLoggable*>(AInstance);
        } else {
            return nullptr;
        }
    }
    static TSiViewerId SourceViewer(TSiSourceId AId) noexcept {
        return AId < CSiSourceIdLookup.size() ? CSiSourceIdLookup[AId] : viData;
    }
    static double CurrencyValue(TSiCurrency AValue) noexcept {
        return static_cast<double>(AValue.Value) / 10000.0;
    }

    // The titles of the format and instance forms; on a format error or a missing instance
    // the internal error "<AMethod>: ..." is sent and nothing returned.
    std::optional<std::string> TryFormat(std::string_view AMethod, std::string_view AFmt,
                                         std::initializer_list<TSiFormatArg> AArgs) noexcept;
    std::optional<std::string> InstanceTitle(std::string_view AMethod, const std::type_info* AType,
                                             std::string_view AMethodName) noexcept;
    std::optional<std::string> InstanceTitle(std::string_view AMethod, const std::type_info* AType,
                                             std::string_view AFmt,
                                             std::initializer_list<TSiFormatArg> AArgs) noexcept;
    // LogInternalError("<AMethod>: <AMessage>"), never raising.
    void ReportInternalError(std::string_view AMethod, std::string_view AMessage) noexcept;

    // The one rule for a failure inside a log method: ABody runs, and what it raises never
    // reaches the caller. Guard sends it as the internal error "<AMethod>: <message>" (a
    // caller's argument or format could not be logged); GuardToCore passes it to the core's
    // error event (the packet could not be built or sent). A thrown value that is no standard
    // exception counts as the message "unknown error". False when ABody raised.
    template <class F>
    bool Guard(std::string_view AMethod, F&& ABody) noexcept {
        return Guarded(&AMethod, std::forward<F>(ABody));
    }
    template <class F>
    bool GuardToCore(F&& ABody) noexcept {
        return Guarded(nullptr, std::forward<F>(ABody));
    }
    template <class F>
    bool Guarded(const std::string_view* AMethod, F&& ABody) noexcept {
        try {
            std::forward<F>(ABody)();
            return true;
        } catch (...) {
            ReportCurrentFailure(AMethod);
        }
        return false;
    }
    // Reports the exception being handled as Guard (AMethod) or GuardToCore (null) says.
    void ReportCurrentFailure(const std::string_view* AMethod) noexcept;

    void LogFixed(TSiLevel ALevel, TSiLogEntryType ALogEntryType, std::string_view ATitle) {
        if (IsOn(ALevel)) SendLogEntry(ALevel, ATitle, ALogEntryType, viTitle);
    }
    void LogFixed(std::string_view AMethod, TSiLevel ALevel, TSiLogEntryType ALogEntryType,
                  std::string_view AFmt, std::initializer_list<TSiFormatArg> AArgs) {
        if (IsOn(ALevel)) SendFormatted(AMethod, ALevel, ALogEntryType, AFmt, AArgs);
    }

    // Workers behind a passed level test; none of them raises.
    // A log entry whose title is formatted straight into the packet; a format error becomes
    // an internal-error entry "<AMethod>: <message>".
    void SendFormatted(std::string_view AMethod, TSiLevel ALevel, TSiLogEntryType ALogEntryType,
                       std::string_view AFmt, std::initializer_list<TSiFormatArg> AArgs) noexcept;
    // Stamps a filled log entry with time, level, colour and session name and sends it.
    void CompleteAndSend(TSiLogEntry& AEntry, TSiLevel ALevel, TSiColor AColor);
    // A log entry for sending: the spare one when there is one, otherwise a new one.
    TSiRef<TSiLogEntry> NewLogEntry(TSiLogEntryType ALogEntryType, TSiViewerId AViewerId);
    // Keeps a sent entry as the spare when nothing else holds it any more (the usual case
    // with synchronous protocols); otherwise lets it go.
    void KeepSpare(TSiRef<TSiLogEntry>& AEntry) noexcept;
    void SendMethodFlow(TSiLevel ALevel, std::string_view ATitle, bool AEnter) noexcept;
    ISiMethodTracker NewTracker(TSiLevel ALevel, std::string_view AMethodName) noexcept;
    void SendProcess(TSiLevel ALevel, std::optional<std::string_view> AProcessName,
                     bool AEnter) noexcept;
    void SendAssigned(std::string_view ATitle, bool AAssigned) noexcept;
    void SendValue(TSiLevel ALevel, std::string_view AName, TSiFormatArg AValue,
                   TSiValueForm AForm) noexcept;
    void SendWatchValue(TSiLevel ALevel, std::string_view AName, TSiFormatArg AValue,
                        TSiValueForm AForm) noexcept;
    void SendWideValue(TSiLevel ALevel, std::string_view AName, std::wstring_view AValue,
                       bool AWatch) noexcept;
    static std::string ValueText(TSiFormatArg AValue, TSiValueForm AForm);
    void ChangeCounter(TSiLevel ALevel, std::string_view AName, bool AIncrement) noexcept;
    void SendCheckpoint(TSiLevel ALevel) noexcept;
    void SendNamedCheckpoint(TSiLevel ALevel, std::string_view AName,
                             std::string_view ADetails) noexcept;
    void SendCustomText(TSiLevel ALevel, std::string_view ATitle, std::string_view AText,
                        TSiLogEntryType ALogEntryType, TSiViewerId AViewerId) noexcept;
    void SendCustomFile(TSiLevel ALevel, std::string_view ATitle, std::string_view AFileName,
                        TSiLogEntryType ALogEntryType, TSiViewerId AViewerId) noexcept;
    void SendCustomStream(TSiLevel ALevel, std::string_view ATitle, TSiStream* AStream,
                          TSiLogEntryType ALogEntryType, TSiViewerId AViewerId) noexcept;
    void SendMemory(TSiLevel ALevel, std::string_view ATitle, const void* AAddress,
                    std::int32_t ASize) noexcept;
    void SendStringList(TSiLevel ALevel, std::string_view ATitle,
                        const TSiStringList* AStrings) noexcept;
    void SendException(const std::exception* AException, std::string_view ATitle) noexcept;
    void SendCurrentException(std::string_view ATitle) noexcept;
    void SendExceptionText(std::string_view ATitle, std::string AText,
                           const ISiStackTrace* AStackTrace);
    void SendSystemError(std::string_view ATitle, std::uint32_t AErrorCode) noexcept;
    void SendCustomCommand(TSiControlCommandType AControlCommandType, TSiStream* AData) noexcept;
    void SendObject(TSiLevel ALevel, std::string_view ATitle, bool AAssigned,
                    const ISiLoggable* AInstance) noexcept;
    void SendSystem(TSiLevel ALevel, std::string_view ATitle) noexcept;
    void SendMemoryStatistic(TSiLevel ALevel, std::string_view ATitle) noexcept;
    void SendDataSet(TSiLevel ALevel, std::string_view ATitle, ISiDataSet* ADataSet,
                     bool ARestorePosition) noexcept;
    void SendDataSetSchema(TSiLevel ALevel, std::string_view ATitle,
                           const ISiDataSet* ADataSet) noexcept;

    void ReportToCore(const std::exception& AException) noexcept;
    void SetStored(bool AValue) noexcept { FIsStored = AValue; }
    // The name without the session lock, for the session manager only: it reads it while
    // adding a session that no other thread uses yet and while deleting one that no other
    // thread may use any more. Taking the session lock there, under the manager's lock, would
    // invert the order that renaming takes (session, then manager).
    const std::string& NameUnshared() const noexcept { return FName; }

    TSiIntegerHash FCounter;
    TSiIntegerHash FCheckpoints;
    mutable std::recursive_mutex FCriticalSection;
    std::string FName;
    // How many names the session has had (changed under the lock, after FName): a log entry
    // that carries the tag of the current count carries the current name. Starts at 1, as 0
    // tags an entry that holds no name. (Wrapping around would take 2^32 renames while one
    // entry waits as the spare.)
    std::atomic<std::uint32_t> FNameCount{1};
    std::atomic<TSiColor> FColor{clWindow};
    std::atomic<std::int32_t> FCheckpointCounter{0};
    ISiSessionHost* FHost;
    TSiLogger* FParent;
    // The parent's switch and thresholds, for the inline level tests.
    const TSiLevelGate* FGate;
    // Active and Level in one word, for the one-load level test.
    TSiSwitchedThreshold FThreshold{true, lvDebug};
    bool FIsStored = false;
    // One sent log entry kept for the next, so that most entries need no allocation.
    std::atomic<TSiLogEntry*> FSpareEntry{nullptr};
};

inline bool TSiSession::IsOn(TSiLevel ALevel) const noexcept {
    return FGate->Passes(ALevel) && FThreshold.Passes(ALevel);
}

inline bool TSiSession::IsOn() const noexcept {
    return FGate->Enabled() && Active();
}

inline TSiLevel TSiSession::DefaultLevel() const noexcept {
    return FGate->DefaultLevel();
}

}  // namespace deruz::logging
