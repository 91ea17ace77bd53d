// TSiSession: a named log channel of one logger core, with its own colour, level threshold
// and on/off switch, and the whole set of log methods that code writes through.
//
// The methods come in families; each family is stated once below with its rule and the table
// of its members, and the bodies that are not one line live in session-inl.h. Rules that all
// families share:
// - level test first: every method makes IsOn (two relaxed atomic loads, no lock, no
//   allocation, inline) before it formats, allocates or locks anything; a failed test sends
//   nothing;
// - level pair: a member with a leading TSiLevel ALevel also exists without it and then uses
//   the core's DefaultLevel (the fixed-level messages, LogAssert, the exceptions and the
//   control commands have no pair);
// - format form: (AFmt, AArgs) builds the text with SiFormat after the level test; a format
//   that does not fit its arguments sends one internal error "<Method>: <message>" and nothing
//   else;
// - instance form: (AInstance, ...) of any class type puts the instance's class name (its
//   dynamic type for polymorphic classes, demangled) and "." in front of the title; a null
//   instance sends the internal error "<Method>: AInstance argument is not assigned";
// - no log method raises to its caller: failures become internal-error entries
//   ("<Method>: <message>", level lvError) or go to the core's error event.
// The title is formatted straight into the log entry, and a sent entry that nothing holds any
// more is kept for the next, so that steady logging to synchronous protocols allocates nothing.
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
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>

#include "logging/base/enums.h"
#include "logging/base/intrusive_ptr.h"
#include "logging/base/si_format.h"
#include "logging/core/loggable.h"
#include "logging/core/session_host.h"

namespace deruz::logging {

class TSiIntegerHash;
class TSiLogEntry;
class TSiSession;
class TSiStream;
class TSiStringList;
class TSiViewerContext;

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

// The macros that write out the members of a family from its table (see session-inl.h);
// they are undefined at the end of this header.
#include "logging/core/session_families.h"

class TSiSession {
  public:
    // Raises ESiError "AParent argument is not assigned" without a parent (the logger core,
    // which sessions reach only through ISiSessionHost).
    TSiSession(ISiSessionHost* AParent, std::string ASessionName);
    TSiSession(const TSiSession&) = delete;
    TSiSession& operator=(const TSiSession&) = delete;
    ~TSiSession();

    // --- Settings -------------------------------------------------------------------------
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
    // The level test: the core is enabled, the session active, and ALevel reaches both the
    // session's and the core's threshold. Without a level, only the two switches.
    bool IsOn(TSiLevel ALevel) const noexcept {
        return FGate->Passes(ALevel) && FThreshold.Passes(ALevel);
    }
    bool IsOn() const noexcept { return FGate->Enabled() && Active(); }

    // --- Messages at a fixed level (ltDebug ... ltFatal, viewer viTitle) -----------------
    // Name(ATitle) and Name(AFmt, AArgs); the level is the method's own, no pair.
    SI_SESSION_FIXED(LogDebug, lvDebug, ltDebug)
    SI_SESSION_FIXED(LogVerbose, lvVerbose, ltVerbose)
    SI_SESSION_FIXED(LogMessage, lvMessage, ltMessage)
    SI_SESSION_FIXED(LogWarning, lvWarning, ltWarning)
    SI_SESSION_FIXED(LogError, lvError, ltError)
    SI_SESSION_FIXED(LogFatal, lvFatal, ltFatal)
    // An error of the logging itself (lvError, ltInternalError); title form only.
    void LogInternalError(std::string_view ATitle) { LogFixed(lvError, ltInternalError, ATitle); }

    // --- Method, thread and process flow ------------------------------------------------
    // Each in the title and format forms (EnterMethod, LeaveMethod, TrackMethod also in the
    // instance forms), level pair. EnterMethod: an ltEnterMethod entry, then a pfEnterMethod
    // flow; LeaveMethod the same with ltLeaveMethod, pfLeaveMethod. TrackMethod enters now
    // and leaves when the tracker's last reference goes (on the releasing thread, with the
    // level test made then); a failed test, format or instance gives an empty reference.
    // EnterThread, LeaveThread: a pfEnterThread or pfLeaveThread flow only.
    SI_SESSION_TITLED(void, EnterMethod, flEnterMethod)
    SI_SESSION_INSTANCE(void, EnterMethod, flEnterMethod)
    SI_SESSION_TITLED(void, LeaveMethod, flLeaveMethod)
    SI_SESSION_INSTANCE(void, LeaveMethod, flLeaveMethod)
    SI_SESSION_TITLED([[nodiscard]] ISiMethodTracker, TrackMethod, flTrackMethod)
    SI_SESSION_INSTANCE([[nodiscard]] ISiMethodTracker, TrackMethod, flTrackMethod)
    SI_SESSION_TITLED(void, EnterThread, flEnterThread)
    SI_SESSION_TITLED(void, LeaveThread, flLeaveThread)
    // EnterProcess: pfEnterProcess with the process name, then pfEnterThread "Main Thread";
    // LeaveProcess: pfLeaveThread "Main Thread", then pfLeaveProcess. Also without a name:
    // the core's AppName.
    SI_SESSION_TITLED(void, EnterProcess, flEnterProcess)
    SI_SESSION_TITLED(void, LeaveProcess, flLeaveProcess)
    SI_SESSION_UNTITLED(EnterProcess, SendProcess(ALevel, std::nullopt, true))
    SI_SESSION_UNTITLED(LeaveProcess, SendProcess(ALevel, std::nullopt, false))
    // Entries without title or data that the viewer reacts to (viewer viNone).
    SI_SESSION_UNTITLED(ResetCallstack, SendLogEntry(ALevel, {}, ltResetCallstack, viNone))
    SI_SESSION_UNTITLED(LogSeparator, SendLogEntry(ALevel, {}, ltSeparator, viNone))
    // A flow as given.
    SI_SESSION_PAIR(SendCustomProcessFlow, (std::string_view ATitle, TSiProcessFlowType AType),
                    (ATitle, AType))

    // --- Conditions, assertions, colours -----------------------------------------------
    // LogAssert: when ACondition is false, an ltAssert entry at lvError (no pair).
    // LogConditional: when ACondition is true, an ltConditional entry. LogColored: an
    // ltMessage entry in AColor. Title and format forms each.
    void LogAssert(bool ACondition, std::string_view ATitle) {
        if (!ACondition) LogFixed(lvError, ltAssert, ATitle);
    }
    void LogAssert(bool ACondition, std::string_view AFmt,
                   std::initializer_list<TSiFormatArg> AArgs) {
        if (!ACondition) LogFixed("LogAssert", lvError, ltAssert, AFmt, AArgs);
    }
    SI_SESSION_TITLED_AFTER(bool, ACondition, LogConditional, flConditional)
    SI_SESSION_TITLED_AFTER(TSiColor, AColor, LogColored, flColored)
    // LogMessage with the title and ": Assigned" or ": Not assigned".
    SI_SESSION_PAIR(LogAssigned, (std::string_view ATitle, const void* APointer),
                    (ATitle, APointer))

    // --- Values and watches --------------------------------------------------------------
    // Log<Kind>(AName, AValue): an ltVariableValue entry titled "<name> = <value text>" (text
    // kinds: "<name> = '<text>'"); Watch<Kind>(AName, AValue): a watch named AName with the
    // value text and the kind's watch type. Level pair. Value texts: text as it is (a null
    // pointer is empty, wide text as UTF-8); "True"/"False"; integers in decimal, with
    // AIncludeHex also " ($<hex>)" in at least 2, 4, 8 or 16 upper-case digits by the type's
    // width (negatives as two's complement); floating-point numbers in the shortest general
    // form (up to 15 digits) with the thread locale's decimal separator, currency divided by
    // 10000 first; date-times in the thread locale's default text (short date, long time
    // unless midnight); pointers "$" and at least 8 upper-case hexadecimal digits.
    // The kinds, with their value type, value form and (after the row) watch type:
    SI_SESSION_VALUE(String, std::string_view, vfString)       // wtString
    SI_SESSION_VALUE(Char, char, vfChar)                       // wtChar
    SI_SESSION_VALUE(PChar, const char*, vfString)             // wtString
    SI_SESSION_VALUE(WideString, std::wstring_view, vfString)  // wtString
    SI_SESSION_VALUE(PWideChar, const wchar_t*, vfString)      // wtString
    SI_SESSION_VALUE(Boolean, bool, vfBoolean)                 // wtBoolean
    SI_SESSION_VALUE(Single, float, vfFloat)                   // wtFloat
    SI_SESSION_VALUE(Double, double, vfFloat)                  // wtFloat
    SI_SESSION_VALUE(Extended, long double, vfFloat)           // wtFloat
    SI_SESSION_VALUE(Currency, TSiCurrency, vfFloat)           // wtFloat
    SI_SESSION_VALUE(DateTime, TDateTime, vfDateTime)          // wtTimestamp
    SI_SESSION_VALUE(Pointer, const void*, vfPointer)          // wtAddress
    SI_SESSION_INTEGER(Integer, std::int32_t)                  // wtInteger, all below
    SI_SESSION_INTEGER(Cardinal, std::uint32_t)
    SI_SESSION_INTEGER(Shortint, std::int8_t)
    SI_SESSION_INTEGER(Smallint, std::int16_t)
    SI_SESSION_INTEGER(Byte, std::uint8_t)
    SI_SESSION_INTEGER(Word, std::uint16_t)
    SI_SESSION_INTEGER(Int64, std::int64_t)
    // LogValue and Watch: the member above for the argument's type (integers by width and
    // signedness, TSiDateTimeValue for a date-time); other pointers than text are refused.
    SI_SESSION_BY_TYPE(LogValue, Log, false)
    SI_SESSION_BY_TYPE(Watch, Watch, true)
    // A watch with the value and type as given.
    SI_SESSION_PAIR(SendCustomWatch,
                    (std::string_view AName, std::string_view AValue, TSiWatchType AWatchType),
                    (AName, AValue, AWatchType))

    // --- Counters and checkpoints --------------------------------------------------------
    // Named counters (names match without regard to ASCII letter case) start at 0; each change
    // sends a wtInteger watch with the counter's new value. Checkpoints (ltCheckpoint):
    // unnamed ones "Checkpoint #<n>"; named ones "<name> #<n> (<details>)", or "<name> #<n>"
    // without details. Resetting sends nothing.
    SI_SESSION_PAIR(IncCounter, (std::string_view AName), (AName))
    SI_SESSION_PAIR(DecCounter, (std::string_view AName), (AName))
    void ResetCounter(std::string_view AName);
    SI_SESSION_UNTITLED(AddCheckpoint, SendCheckpoint(ALevel))
    SI_SESSION_PAIR(AddCheckpoint, (std::string_view AName, std::string_view ADetails = {}),
                    (AName, ADetails))
    void ResetCheckpoint() noexcept { FCheckpointCounter.store(0); }
    void ResetCheckpoint(std::string_view AName);

    // --- Data entries in viewer contexts -------------------------------------------------
    // Text forms send a text context (byte order mark and UTF-8) with the viewer named; file
    // and stream forms the bytes unchanged (the whole file, or the whole stream, which is put
    // back at its position); a file form without a title uses the file name. Level pair.
    // Failures become internal errors "LogCustomText: ", "LogCustomFile: ",
    // "LogCustomStream: ", "LogMemory: " and "LogStringList: ".
    SI_SESSION_PAIR(LogCustomText,
                    (std::string_view ATitle, std::string_view AText, TSiLogEntryType AType,
                     TSiViewerId AViewerId),
                    (ATitle, AText, AType, AViewerId))
    SI_SESSION_PAIR(LogCustomFile,
                    (std::string_view ATitle, std::string_view AFileName, TSiLogEntryType AType,
                     TSiViewerId AViewerId),
                    (ATitle, AFileName, AType, AViewerId))
    SI_SESSION_PAIR(LogCustomFile,
                    (std::string_view AFileName, TSiLogEntryType AType, TSiViewerId AViewerId),
                    (AFileName, AType, AViewerId))
    SI_SESSION_PAIR(LogCustomStream,
                    (std::string_view ATitle, TSiStream* AStream, TSiLogEntryType AType,
                     TSiViewerId AViewerId),
                    (ATitle, AStream, AType, AViewerId))
    SI_SESSION_TEXT(LogText, ltText, viData)
    SI_SESSION_TEXT(LogHtml, ltWebContent, viWeb)
    SI_SESSION_FILE(LogTextFile, ltText, viData)
    SI_SESSION_FILE(LogHtmlFile, ltWebContent, viWeb)
    SI_SESSION_FILE(LogBinaryFile, ltBinary, viBinary)
    SI_SESSION_FILE(LogBitmapFile, ltGraphic, viBitmap)
    SI_SESSION_FILE(LogJpegFile, ltGraphic, viJpeg)
    SI_SESSION_FILE(LogIconFile, ltGraphic, viIcon)
    SI_SESSION_FILE(LogMetafileFile, ltGraphic, viMetafile)
    SI_SESSION_STREAM(LogTextStream, ltText, viData)
    SI_SESSION_STREAM(LogHtmlStream, ltWebContent, viWeb)
    SI_SESSION_STREAM(LogBinaryStream, ltBinary, viBinary)
    SI_SESSION_STREAM(LogStream, ltBinary, viBinary)  // LogStream is LogBinaryStream
    SI_SESSION_STREAM(LogBitmapStream, ltGraphic, viBitmap)
    SI_SESSION_STREAM(LogJpegStream, ltGraphic, viJpeg)
    SI_SESSION_STREAM(LogIconStream, ltGraphic, viIcon)
    SI_SESSION_STREAM(LogMetafileStream, ltGraphic, viMetafile)
    // Source code (ltSource) in the viewer of its language; LogSql is LogSource with siSql.
    SI_SESSION_PAIR(LogSource, (std::string_view ATitle, std::string_view ASource, TSiSourceId AId),
                    (ATitle, ASource, AId))
    SI_SESSION_PAIR(LogSourceFile, (std::string_view AFileName, TSiSourceId AId), (AFileName, AId))
    SI_SESSION_PAIR(LogSourceFile,
                    (std::string_view ATitle, std::string_view AFileName, TSiSourceId AId),
                    (ATitle, AFileName, AId))
    SI_SESSION_PAIR(LogSourceStream, (std::string_view ATitle, TSiStream* AStream, TSiSourceId AId),
                    (ATitle, AStream, AId))
    SI_SESSION_PAIR(LogSql, (std::string_view ATitle, std::string_view ASource), (ATitle, ASource))
    // ASize bytes at AAddress in a binary viewer (an internal error for a null address or a
    // negative size); the strings' text in a list viewer (ltText); a context the caller built,
    // sent as it is; with data, the data through LogCustomStream, without, a plain entry.
    SI_SESSION_PAIR(LogMemory, (std::string_view ATitle, const void* AAddress, std::int32_t ASize),
                    (ATitle, AAddress, ASize))
    SI_SESSION_PAIR(LogStringList, (std::string_view ATitle, const TSiStringList* AStrings),
                    (ATitle, AStrings))
    SI_SESSION_PAIR(LogCustomContext,
                    (std::string_view ATitle, TSiLogEntryType AType, TSiViewerContext* AContext),
                    (ATitle, AType, AContext))
    SI_SESSION_PAIR(SendCustomLogEntry,
                    (std::string_view ATitle, TSiLogEntryType AType, TSiViewerId AViewerId,
                     TSiStream* AData),
                    (ATitle, AType, AViewerId, AData))

    // --- Exceptions and system errors (level lvError, no pair) ---------------------------
    // "Exception <class>: <message>" (line breaks as blanks), after the title and ": " when the
    // title is not blank; an exception with a stack trace (ISiStackTrace) goes as an ltError
    // text entry at the default level with the title, two line breaks and the trace as data.
    // Without an exception: the one being handled now, described as "<class>: <message>".
    void LogException(const std::exception& AException, std::string_view ATitle = {}) {
        LogException(&AException, ATitle);
    }
    void LogException(const std::exception* AException, std::string_view ATitle = {}) {
        if (IsOn(lvError)) SendException(AException, ATitle);
    }
    void LogException(std::string_view ATitle = {}) {
        if (IsOn(lvError)) SendCurrentException(ATitle);
    }
    // For an application-wide exception event: the exception between an EnterMethod and a
    // LeaveMethod "ExceptionHandler" at lvError; the leave is sent even if logging fails.
    void ExceptionHandler(const void* ASender, const std::exception& AException);
    // LogError "<title>: <system text> (Error Code: <code>, $<8 hex digits>)", unless the code
    // is 0 and AIgnoreSuccess is set; LogLastError with the calling thread's last error.
    void LogWin32Error(std::string_view ATitle, std::uint32_t AErrorCode,
                       bool AIgnoreSuccess = false) {
        if ((AErrorCode != 0 || !AIgnoreSuccess) && IsOn(lvError))
            SendSystemError(ATitle, AErrorCode);
    }
    void LogLastError(std::string_view ATitle, bool AIgnoreSuccess = false);

    // --- Control commands (IsOn without a level) -----------------------------------------
    void ClearLog() { SendCommand(ccClearLog); }
    void ClearWatches() { SendCommand(ccClearWatches); }
    void ClearAutoViews() { SendCommand(ccClearAutoViews); }
    void ClearAll() { SendCommand(ccClearAll); }
    void ClearProcessFlow() { SendCommand(ccClearProcessFlow); }
    // A command with a copy of AData, whose position is restored afterwards (level pair).
    SI_SESSION_PAIR(SendCustomControlCommand, (TSiControlCommandType AType, TSiStream* AData),
                    (AType, AData))

    // --- Information (level pair) --------------------------------------------------------
    // LogObject: an inspector (ltObject) with the groups "Properties" and "Events", each
    // sorted; objects that are not ISiLoggable give "LogObject: AInstance argument has no
    // RTTI". LogSystem: an inspector (ltSystem) with the operating system, the user and the
    // runtime. LogMemoryStatistic: a value list (ltMemoryStatistic) of the memory load and
    // totals. LogDataSet: a table (ltDatabaseResult) of the rows from the first, the cursor
    // put back with ARestorePosition; LogDataSetSchema: a table (ltDatabaseStructure) of the
    // columns (Name, Type, Size, Read Only).
    template <typename T>
    void LogObject(std::string_view ATitle, const T* AInstance) {
        LogObject(DefaultLevel(), ATitle, AInstance);
    }
    template <typename T>
    void LogObject(TSiLevel ALevel, std::string_view ATitle, const T* AInstance) {
        if (IsOn(ALevel)) SendObject(ALevel, ATitle, AInstance != nullptr, AsLoggable(AInstance));
    }
    SI_SESSION_PAIR(LogSystem, (std::string_view ATitle = "System information"), (ATitle))
    SI_SESSION_PAIR(LogMemoryStatistic, (std::string_view ATitle = "Memory statistic"), (ATitle))
    SI_SESSION_PAIR(LogDataSet,
                    (std::string_view ATitle, ISiDataSet* ADataSet, bool ARestorePosition = true),
                    (ATitle, ADataSet, ARestorePosition))
    SI_SESSION_PAIR(LogDataSetSchema, (std::string_view ATitle, const ISiDataSet* ADataSet),
                    (ATitle, ADataSet))

  private:
    friend class TSiSessionManager;

    // The rules of the families above (session-inl.h) ---------------------------------------
    // How a value is rendered by the value and watch members.
    enum TSiValueForm : std::uint8_t {
        vfString,
        vfChar,
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
    // What a titled member does with its title.
    enum TSiTitled : std::uint8_t {
        flEnterMethod,
        flLeaveMethod,
        flTrackMethod,
        flEnterThread,
        flLeaveThread,
        flEnterProcess,
        flLeaveProcess,
        flConditional,
        flColored,
    };
    // A title as a titled member is given it: the text itself or a format with its arguments,
    // either after an instance whose class name goes in front (Type is then set, or null for
    // a null instance).
    struct TTitle {
        std::string_view Text;
        const std::initializer_list<TSiFormatArg>* Args = nullptr;
        bool HasInstance = false;
        const std::type_info* Type = nullptr;
    };

    TSiLevel DefaultLevel() const noexcept { return FGate->DefaultLevel(); }
    // The fixed-level messages.
    void LogFixed(TSiLevel ALevel, TSiLogEntryType ALogEntryType, std::string_view ATitle);
    void LogFixed(std::string_view AMethod, TSiLevel ALevel, TSiLogEntryType ALogEntryType,
                  std::string_view AFmt, std::initializer_list<TSiFormatArg> AArgs);
    // The titled members: the level test, the title, then what AWhat says; AExtra is the
    // condition of LogConditional or the colour of LogColored.
    template <TSiTitled AWhat>
    using TTitledResult = std::conditional_t<AWhat == flTrackMethod, ISiMethodTracker, void>;
    template <TSiTitled AWhat>
    TTitledResult<AWhat> Titled(TSiLevel ALevel, std::string_view AMethod, const TTitle& ATitle,
                                std::int64_t AExtra = 0);
    // The value and watch members: the level test, then the value text by AForm.
    template <bool AWatch, class T>
    void Value(TSiLevel ALevel, std::string_view AName, T AValue, TSiValueForm AForm);
    template <class T>
    static constexpr TSiValueForm NumberForm(bool AIncludeHex) noexcept;
    void SendCommand(TSiControlCommandType AType) {
        if (IsOn()) SendControlCommand(AType, nullptr);
    }
    template <typename T>
    static const std::type_info* TypeOf(const T* AInstance) noexcept {
        return AInstance != nullptr ? &typeid(*AInstance) : nullptr;
    }
    template <typename T>
    static const ISiLoggable* AsLoggable(const T* AInstance) noexcept;
    static TSiViewerId SourceViewer(TSiSourceId AId) noexcept {
        return AId < CSiSourceIdLookup.size() ? CSiSourceIdLookup[AId] : viData;
    }

    // The title of the format and instance forms; on a format error or a missing instance
    // the internal error "<AMethod>: ..." is sent and nothing returned.
    std::optional<std::string> MakeTitle(std::string_view AMethod, const TTitle& ATitle) noexcept;
    std::optional<std::string> TryFormat(std::string_view AMethod, std::string_view AFmt,
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
    bool Guarded(const std::string_view* AMethod, F&& ABody) noexcept;
    // Reports the exception being handled as Guard (AMethod) or GuardToCore (null) says.
    void ReportCurrentFailure(const std::string_view* AMethod) noexcept;
    void ReportToCore(const std::exception& AException) noexcept;

    // Workers behind a passed level test; none of them raises ---------------------------------
    // A log entry whose title is formatted straight into the packet; a format error becomes
    // an internal-error entry "<AMethod>: <message>".
    void SendFormatted(std::string_view AMethod, TSiLevel ALevel, TSiLogEntryType ALogEntryType,
                       std::string_view AFmt, std::initializer_list<TSiFormatArg> AArgs) noexcept;
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
    void SendCustomContext(TSiLevel ALevel, std::string_view ATitle, TSiLogEntryType ALogEntryType,
                           TSiViewerContext* AContext) noexcept;
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

    // The asynchronous path reads the name's count to know when a name must go along.
    friend class TSiLogLane;

    // The packet builders every member ends in (no level test of their own) -----------------
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
    // Stamps a filled log entry with time, level, colour and session name and sends it.
    void CompleteAndSend(TSiLogEntry& AEntry, TSiLevel ALevel, TSiColor AColor);
    // A log entry for sending: the spare one when there is one, otherwise a new one.
    TSiRef<TSiLogEntry> NewLogEntry(TSiLogEntryType ALogEntryType, TSiViewerId AViewerId);
    // Keeps a sent entry as the spare when nothing else holds it any more (the usual case
    // with synchronous protocols); otherwise lets it go.
    void KeepSpare(TSiRef<TSiLogEntry>& AEntry) noexcept;

    void SetStored(bool AValue) noexcept { FIsStored = AValue; }
    // The name without the session lock, for the session manager only: it reads it while
    // adding a session that no other thread uses yet and while deleting one that no other
    // thread may use any more. Taking the session lock there, under the manager's lock, would
    // invert the order that renaming takes (session, then manager).
    const std::string& NameUnshared() const noexcept { return FName; }

    // The named counters and named checkpoints (under FCriticalSection).
    std::unique_ptr<TSiIntegerHash> FCounter;
    std::unique_ptr<TSiIntegerHash> FCheckpoints;
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

}  // namespace deruz::logging

#undef SI_SESSION_UNPAREN
#undef SI_SESSION_PAIR
#undef SI_SESSION_UNTITLED
#undef SI_SESSION_FIXED
#undef SI_SESSION_TITLED
#undef SI_SESSION_INSTANCE
#undef SI_SESSION_TITLED_AFTER
#undef SI_SESSION_VALUE
#undef SI_SESSION_INTEGER
#undef SI_SESSION_FORWARD
#undef SI_SESSION_BY_TYPE
#undef SI_SESSION_TEXT
#undef SI_SESSION_FILE
#undef SI_SESSION_STREAM

#include "logging/core/session-inl.h"
