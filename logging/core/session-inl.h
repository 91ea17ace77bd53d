// The inline part of TSiSession (session.h): the rules of its families, and the level forms
// of the members whose bodies are not one line. Each body makes the level test first and
// hands a passed call to a worker in session*.cpp.
#pragma once

#include "logging/core/session.h"

namespace deruz::logging {

// --- The rules of the families ---------------------------------------------------------------

inline void TSiSession::LogFixed(TSiLevel ALevel, TSiLogEntryType ALogEntryType,
                                 std::string_view ATitle) {
    if (IsOn(ALevel)) SendLogEntry(ALevel, ATitle, ALogEntryType, viTitle);
}

inline void TSiSession::LogFixed(std::string_view AMethod, TSiLevel ALevel,
                                 TSiLogEntryType ALogEntryType, std::string_view AFmt,
                                 std::initializer_list<TSiFormatArg> AArgs) {
    if (IsOn(ALevel)) SendFormatted(AMethod, ALevel, ALogEntryType, AFmt, AArgs);
}

// A plain title goes as it is; a format or an instance is made into a title first, and a
// title that cannot be made sends its internal error instead (an empty tracker for
// TrackMethod).
template <TSiSession::TSiTitled AWhat>
TSiSession::TTitledResult<AWhat> TSiSession::Titled(TSiLevel ALevel, std::string_view AMethod,
                                                    const TTitle& ATitle, std::int64_t AExtra) {
    const auto LSend = [&](std::string_view ATitleText) -> TTitledResult<AWhat> {
        if constexpr (AWhat == flEnterMethod || AWhat == flLeaveMethod) {
            SendMethodFlow(ALevel, ATitleText, AWhat == flEnterMethod);
        } else if constexpr (AWhat == flTrackMethod) {
            return NewTracker(ALevel, ATitleText);
        } else if constexpr (AWhat == flEnterThread || AWhat == flLeaveThread) {
            SendProcessFlow(ALevel, ATitleText,
                            AWhat == flEnterThread ? pfEnterThread : pfLeaveThread);
        } else if constexpr (AWhat == flEnterProcess || AWhat == flLeaveProcess) {
            SendProcess(ALevel, ATitleText, AWhat == flEnterProcess);
        } else if constexpr (AWhat == flConditional) {
            SendLogEntry(ALevel, ATitleText, ltConditional, viTitle);
        } else {
            static_assert(AWhat == flColored);
            SendLogEntry(ALevel, ATitleText, ltMessage, viTitle, static_cast<TSiColor>(AExtra),
                         nullptr);
        }
    };
    if (!IsOn(ALevel) || (AWhat == flConditional && AExtra == 0)) return TTitledResult<AWhat>();
    if (!ATitle.HasInstance && ATitle.Args == nullptr) return LSend(ATitle.Text);
    const std::optional<std::string> LTitle = MakeTitle(AMethod, ATitle);
    if (!LTitle) return TTitledResult<AWhat>();
    return LSend(*LTitle);
}

template <class T>
constexpr TSiSession::TSiValueForm TSiSession::NumberForm(bool AIncludeHex) noexcept {
    // Integers in decimal or, with AIncludeHex, also with as many hexadecimal digits as the
    // type is wide; floating-point numbers in their general form.
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

// Text kinds go as text (a null pointer as the empty text; a character as a one-character
// text, which a watch types wtChar), wide text through UTF-8, everything else as a value
// rendered by AForm.
template <bool AWatch, class T>
void TSiSession::Value(TSiLevel ALevel, std::string_view AName, T AValue, TSiValueForm AForm) {
    if (!IsOn(ALevel)) return;
    if constexpr (std::is_same_v<T, const char*>) {
        Value<AWatch>(ALevel, AName,
                      AValue != nullptr ? std::string_view(AValue) : std::string_view(), AForm);
    } else if constexpr (std::is_same_v<T, char>) {
        const std::string_view LText(&AValue, 1);
        if constexpr (AWatch) {
            SendWatch(ALevel, AName, LText, wtChar);
        } else {
            SendValue(ALevel, AName, LText, vfString);
        }
    } else if constexpr (std::is_same_v<T, std::string_view>) {
        if constexpr (AWatch) {
            SendWatch(ALevel, AName, AValue, wtString);
        } else {
            SendValue(ALevel, AName, AValue, vfString);
        }
    } else if constexpr (std::is_same_v<T, const wchar_t*>) {
        SendWideValue(ALevel, AName,
                      AValue != nullptr ? std::wstring_view(AValue) : std::wstring_view(), AWatch);
    } else if constexpr (std::is_same_v<T, std::wstring_view>) {
        SendWideValue(ALevel, AName, AValue, AWatch);
    } else if constexpr (std::is_same_v<T, TSiCurrency>) {
        Value<AWatch>(ALevel, AName, static_cast<double>(AValue.Value) / 10000.0, AForm);
    } else if constexpr (AWatch) {
        SendWatchValue(ALevel, AName, AValue, AForm);
    } else {
        SendValue(ALevel, AName, AValue, AForm);
    }
}

template <typename T>
const ISiLoggable* TSiSession::AsLoggable(const T* AInstance) noexcept {
    if constexpr (std::is_base_of_v<ISiLoggable, T>) {
        return AInstance;
    } else if constexpr (std::is_polymorphic_v<T>) {
        return dynamic_cast<const ISiLoggable*>(AInstance);
    } else {
        return nullptr;
    }
}

template <class F>
bool TSiSession::Guarded(const std::string_view* AMethod, F&& ABody) noexcept {
    try {
        std::forward<F>(ABody)();
        return true;
    } catch (...) {
        ReportCurrentFailure(AMethod);
    }
    return false;
}

// --- Level forms of the members declared with SI_SESSION_PAIR --------------------------------

inline void TSiSession::SendCustomProcessFlow(TSiLevel ALevel, std::string_view ATitle,
                                              TSiProcessFlowType AType) {
    if (IsOn(ALevel)) SendProcessFlow(ALevel, ATitle, AType);
}

inline void TSiSession::LogAssigned(TSiLevel ALevel, std::string_view ATitle,
                                    const void* APointer) {
    if (IsOn(ALevel)) SendAssigned(ATitle, APointer != nullptr);
}

inline void TSiSession::SendCustomWatch(TSiLevel ALevel, std::string_view AName,
                                        std::string_view AValue, TSiWatchType AWatchType) {
    if (IsOn(ALevel)) SendWatch(ALevel, AName, AValue, AWatchType);
}

inline void TSiSession::IncCounter(TSiLevel ALevel, std::string_view AName) {
    if (IsOn(ALevel)) ChangeCounter(ALevel, AName, true);
}

inline void TSiSession::DecCounter(TSiLevel ALevel, std::string_view AName) {
    if (IsOn(ALevel)) ChangeCounter(ALevel, AName, false);
}

inline void TSiSession::AddCheckpoint(TSiLevel ALevel, std::string_view AName,
                                      std::string_view ADetails) {
    if (IsOn(ALevel)) SendNamedCheckpoint(ALevel, AName, ADetails);
}

inline void TSiSession::LogCustomText(TSiLevel ALevel, std::string_view ATitle,
                                      std::string_view AText, TSiLogEntryType AType,
                                      TSiViewerId AViewerId) {
    if (IsOn(ALevel)) SendCustomText(ALevel, ATitle, AText, AType, AViewerId);
}

inline void TSiSession::LogCustomFile(TSiLevel ALevel, std::string_view ATitle,
                                      std::string_view AFileName, TSiLogEntryType AType,
                                      TSiViewerId AViewerId) {
    if (IsOn(ALevel)) SendCustomFile(ALevel, ATitle, AFileName, AType, AViewerId);
}

inline void TSiSession::LogCustomFile(TSiLevel ALevel, std::string_view AFileName,
                                      TSiLogEntryType AType, TSiViewerId AViewerId) {
    LogCustomFile(ALevel, AFileName, AFileName, AType, AViewerId);
}

inline void TSiSession::LogCustomStream(TSiLevel ALevel, std::string_view ATitle,
                                        TSiStream* AStream, TSiLogEntryType AType,
                                        TSiViewerId AViewerId) {
    if (IsOn(ALevel)) SendCustomStream(ALevel, ATitle, AStream, AType, AViewerId);
}

inline void TSiSession::LogSource(TSiLevel ALevel, std::string_view ATitle,
                                  std::string_view ASource, TSiSourceId AId) {
    LogCustomText(ALevel, ATitle, ASource, ltSource, SourceViewer(AId));
}

inline void TSiSession::LogSourceFile(TSiLevel ALevel, std::string_view AFileName,
                                      TSiSourceId AId) {
    LogCustomFile(ALevel, AFileName, ltSource, SourceViewer(AId));
}

inline void TSiSession::LogSourceFile(TSiLevel ALevel, std::string_view ATitle,
                                      std::string_view AFileName, TSiSourceId AId) {
    LogCustomFile(ALevel, ATitle, AFileName, ltSource, SourceViewer(AId));
}

inline void TSiSession::LogSourceStream(TSiLevel ALevel, std::string_view ATitle,
                                        TSiStream* AStream, TSiSourceId AId) {
    LogCustomStream(ALevel, ATitle, AStream, ltSource, SourceViewer(AId));
}

inline void TSiSession::LogSql(TSiLevel ALevel, std::string_view ATitle, std::string_view ASource) {
    LogSource(ALevel, ATitle, ASource, siSql);
}

inline void TSiSession::LogMemory(TSiLevel ALevel, std::string_view ATitle, const void* AAddress,
                                  std::int32_t ASize) {
    if (IsOn(ALevel)) SendMemory(ALevel, ATitle, AAddress, ASize);
}

inline void TSiSession::LogStringList(TSiLevel ALevel, std::string_view ATitle,
                                      const TSiStringList* AStrings) {
    if (IsOn(ALevel)) SendStringList(ALevel, ATitle, AStrings);
}

inline void TSiSession::LogCustomContext(TSiLevel ALevel, std::string_view ATitle,
                                         TSiLogEntryType AType, TSiViewerContext* AContext) {
    if (IsOn(ALevel)) SendCustomContext(ALevel, ATitle, AType, AContext);
}

inline void TSiSession::SendCustomLogEntry(TSiLevel ALevel, std::string_view ATitle,
                                           TSiLogEntryType AType, TSiViewerId AViewerId,
                                           TSiStream* AData) {
    if (!IsOn(ALevel)) return;
    if (AData != nullptr) {
        SendCustomStream(ALevel, ATitle, AData, AType, AViewerId);
    } else {
        SendLogEntry(ALevel, ATitle, AType, AViewerId);
    }
}

inline void TSiSession::SendCustomControlCommand(TSiLevel ALevel, TSiControlCommandType AType,
                                                 TSiStream* AData) {
    if (IsOn(ALevel)) SendCustomCommand(AType, AData);
}

inline void TSiSession::LogSystem(TSiLevel ALevel, std::string_view ATitle) {
    if (IsOn(ALevel)) SendSystem(ALevel, ATitle);
}

inline void TSiSession::LogMemoryStatistic(TSiLevel ALevel, std::string_view ATitle) {
    if (IsOn(ALevel)) SendMemoryStatistic(ALevel, ATitle);
}

inline void TSiSession::LogDataSet(TSiLevel ALevel, std::string_view ATitle, ISiDataSet* ADataSet,
                                   bool ARestorePosition) {
    if (IsOn(ALevel)) SendDataSet(ALevel, ATitle, ADataSet, ARestorePosition);
}

inline void TSiSession::LogDataSetSchema(TSiLevel ALevel, std::string_view ATitle,
                                         const ISiDataSet* ADataSet) {
    if (IsOn(ALevel)) SendDataSetSchema(ALevel, ATitle, ADataSet);
}

}  // namespace deruz::logging
