// Data entries of a session: texts, files, streams, memory and string lists in viewer
// contexts; objects, data sets, system and memory facts; custom control commands.
#include <algorithm>
#include <string>
#include <vector>

#include "logging/base/stream.h"
#include "logging/base/string_list.h"
#include "logging/base/strings.h"
#include "logging/core/session.h"
#include "logging/core/version.h"
#include "logging/packets/packet.h"
#include "logging/packets/viewer_context.h"
#include "logging/system/system_info.h"

namespace deruz::logging {

namespace {

// "<n>.nn Bytes", "KB", "MB" or "GB": the largest unit that leaves at least 1.
std::string SizeText(std::uint64_t ABytes) {
    static constexpr std::string_view LUnits[] = {" Bytes", " KB", " MB", " GB"};
    double LValue = static_cast<double>(ABytes);
    std::size_t LUnit = 0;
    while (LValue >= 1024.0 && LUnit + 1 < std::size(LUnits)) {
        LValue /= 1024.0;
        ++LUnit;
    }
    return SiFormat("%.2f", {LValue}).append(LUnits[LUnit]);
}

std::uint64_t AddressOf(const void* APointer) noexcept {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(APointer));
}

// Appends the lines in the order of their UTF-16 code units.
void AppendSorted(TSiTextContext& AContext, std::vector<std::string>& ALines) {
    std::sort(ALines.begin(), ALines.end(), [](const std::string& A_, const std::string& AB) {
        return SiCompareOrdinal(A_, AB) < 0;
    });
    for (const std::string& LLine : ALines) AContext.AppendLine(LLine);
}

}  // namespace

// --- Texts, files, streams, memory -----------------------------------------------------------

void TSiSession::SendCustomText(TSiLevel ALevel, std::string_view ATitle, std::string_view AText,
                                TSiLogEntryType ALogEntryType, TSiViewerId AViewerId) noexcept {
    Guard("LogCustomText", [&] {
        TSiTextContext LContext(AViewerId);
        LContext.LoadFromText(AText);
        SendContext(ALevel, ATitle, ALogEntryType, LContext);
    });
}

void TSiSession::SendCustomFile(TSiLevel ALevel, std::string_view ATitle,
                                std::string_view AFileName, TSiLogEntryType ALogEntryType,
                                TSiViewerId AViewerId) noexcept {
    Guard("LogCustomFile", [&] {
        TSiBinaryContext LContext(AViewerId);
        LContext.LoadFromFile(std::string(AFileName));
        SendContext(ALevel, ATitle, ALogEntryType, LContext);
    });
}

void TSiSession::SendCustomStream(TSiLevel ALevel, std::string_view ATitle, TSiStream* AStream,
                                  TSiLogEntryType ALogEntryType, TSiViewerId AViewerId) noexcept {
    Guard("LogCustomStream", [&] {
        TSiBinaryContext LContext(AViewerId);
        LContext.LoadFromStream(AStream);
        SendContext(ALevel, ATitle, ALogEntryType, LContext);
    });
}

void TSiSession::SendMemory(TSiLevel ALevel, std::string_view ATitle, const void* AAddress,
                            std::int32_t ASize) noexcept {
    Guard("LogMemory", [&] {
        TSiBinaryViewerContext LContext;
        LContext.AppendBytes(AAddress, ASize);
        SendContext(ALevel, ATitle, ltBinary, LContext);
    });
}

void TSiSession::SendStringList(TSiLevel ALevel, std::string_view ATitle,
                                const TSiStringList* AStrings) noexcept {
    if (AStrings == nullptr) {
        ReportInternalError("LogStringList", "AStrings argument is not assigned");
        return;
    }
    Guard("LogStringList", [&] {
        TSiListViewerContext LContext;
        LContext.LoadFromText(AStrings->Text());
        SendContext(ALevel, ATitle, ltText, LContext);
    });
}

void TSiSession::SendCustomContext(TSiLevel ALevel, std::string_view ATitle,
                                   TSiLogEntryType ALogEntryType,
                                   TSiViewerContext* AContext) noexcept {
    if (AContext == nullptr) {
        LogInternalError("LogCustomContext: AContext argument is not assigned");
        return;
    }
    SendContext(ALevel, ATitle, ALogEntryType, *AContext);
}

// --- Control commands ------------------------------------------------------------------------

void TSiSession::SendCustomCommand(TSiControlCommandType AControlCommandType,
                                   TSiStream* AData) noexcept {
    Guard("SendCustomControlCommand", [&] {
        auto LCommand = SiMakeRef<TSiControlCommand>(AControlCommandType);
        if (AData == nullptr) {
            FHost->SendControlCommand(*LCommand);
            return;
        }
        // Copying the data reads the caller's stream; its position is given back on every
        // way out.
        const std::int64_t LPosition = AData->GetPosition();
        try {
            LCommand->SetData(AData);
            FHost->SendControlCommand(*LCommand);
        } catch (...) {
            try {
                AData->SetPosition(LPosition);
            } catch (...) {
                // The first error is the one to report.
            }
            throw;
        }
        AData->SetPosition(LPosition);
    });
}

// --- Objects ---------------------------------------------------------------------------------

void TSiSession::SendObject(TSiLevel ALevel, std::string_view ATitle, bool AAssigned,
                            const ISiLoggable* AInstance) noexcept {
    if (!AAssigned) {
        ReportInternalError("LogObject", "AInstance argument is not assigned");
        return;
    }
    if (AInstance == nullptr) {
        ReportInternalError("LogObject", "AInstance argument has no RTTI");
        return;
    }
    Guard("LogObject", [&] {
        TSiInspectorViewerContext LContext;
        std::vector<std::string> LLines;

        std::vector<TSiLoggableProperty> LProperties;
        AInstance->GetProperties(LProperties);
        for (const TSiLoggableProperty& LProperty : LProperties) {
            LLines.push_back(LContext.EscapeItem(LProperty.Name) + "=" +
                             LContext.EscapeItem(LProperty.Value));
        }
        LContext.StartGroup("Properties");
        AppendSorted(LContext, LLines);

        std::vector<TSiLoggableEvent> LEvents;
        AInstance->GetEvents(LEvents);
        LLines.clear();
        for (const TSiLoggableEvent& LEvent : LEvents) {
            std::string LValue = "nil";
            if (LEvent.Method != nullptr) {
                LValue = LContext.EscapeItem(SiFormat(
                    "(Object $%.8x of class %s, Method at address $%.8x)",
                    {AddressOf(LEvent.Object), LEvent.ClassName, AddressOf(LEvent.Method)}));
            }
            LLines.push_back(LContext.EscapeItem(LEvent.Name) + "=" + LValue);
        }
        LContext.StartGroup("Events");
        AppendSorted(LContext, LLines);

        SendContext(ALevel, ATitle, ltObject, LContext);
    });
}

// --- System and memory -----------------------------------------------------------------------

void TSiSession::SendSystem(TSiLevel ALevel, std::string_view ATitle) noexcept {
    Guard("LogSystem", [&] {
        TSiInspectorViewerContext LContext;
        const TSiOsVersion LOs = SiGetOsVersion();
        LContext.StartGroup("Operating System");
        LContext.AppendKeyValue("Name", LOs.Name);
        LContext.AppendKeyValue("Version", LOs.Version);
        LContext.StartGroup("User");
        LContext.AppendKeyValue("Name", SiGetUserName());
        LContext.AppendKeyValue("Current directory", SiGetCurrentDirectory());
        LContext.StartGroup("Runtime");
        LContext.AppendKeyValue("Compiler", __VERSION__);
        LContext.AppendKeyValue("C++ standard", static_cast<std::int64_t>(__cplusplus));
        LContext.AppendKeyValue("Logging library", kSiVersion);
        SendContext(ALevel, ATitle, ltSystem, LContext);
    });
}

void TSiSession::SendMemoryStatistic(TSiLevel ALevel, std::string_view ATitle) noexcept {
    Guard("LogMemoryStatistic", [&] {
        const TSiMemoryStatus LStatus = SiGetMemoryStatus();
        TSiValueListViewerContext LContext;
        LContext.AppendKeyValue("Usage", std::to_string(LStatus.MemoryLoad) + "%");
        LContext.AppendKeyValue("Total physical", SizeText(LStatus.TotalPhysical));
        LContext.AppendKeyValue("Free physical", SizeText(LStatus.FreePhysical));
        LContext.AppendKeyValue("Total pagefile", SizeText(LStatus.TotalPageFile));
        LContext.AppendKeyValue("Free pagefile", SizeText(LStatus.FreePageFile));
        LContext.AppendKeyValue("Total virtual", SizeText(LStatus.TotalVirtual));
        LContext.AppendKeyValue("Free virtual", SizeText(LStatus.FreeVirtual));
        SendContext(ALevel, ATitle, ltMemoryStatistic, LContext);
    });
}

// --- Data sets -------------------------------------------------------------------------------

void TSiSession::SendDataSet(TSiLevel ALevel, std::string_view ATitle, ISiDataSet* ADataSet,
                             bool ARestorePosition) noexcept {
    if (ADataSet == nullptr) {
        ReportInternalError("LogDataSet", "ADataSet argument is not assigned");
        return;
    }
    Guard("LogDataSet", [&] {
        const std::vector<TSiFieldDef> LFields = ADataSet->FieldDefs();
        if (LFields.empty()) {
            ReportInternalError("LogDataSet", "data set is empty");
            return;
        }
        TSiTableViewerContext LContext;
        std::string LHeader;
        for (const TSiFieldDef& LField : LFields) {
            if (!LHeader.empty()) LHeader += ", ";
            LHeader += LField.Name;
        }
        LContext.AppendHeader(LHeader);

        std::optional<std::int64_t> LBookmark;
        if (ARestorePosition) LBookmark = ADataSet->GetBookmark();
        try {
            for (ADataSet->First(); !ADataSet->Eof(); ADataSet->Next()) {
                LContext.BeginRow();
                for (std::size_t LIndex = 0; LIndex < LFields.size(); ++LIndex) {
                    if (LFields[LIndex].IsBinary) {
                        LContext.AddRowEntry("<binary>");
                    } else {
                        const std::optional<std::string> LValue = ADataSet->FieldValue(LIndex);
                        LContext.AddRowEntry(LValue ? *LValue : std::string("<null>"));
                    }
                }
                LContext.EndRow();
            }
        } catch (...) {
            try {
                if (LBookmark) ADataSet->GotoBookmark(*LBookmark);
            } catch (...) {
                // The first error is the one to report.
            }
            throw;
        }
        if (LBookmark) ADataSet->GotoBookmark(*LBookmark);
        SendContext(ALevel, ATitle, ltDatabaseResult, LContext);
    });
}

void TSiSession::SendDataSetSchema(TSiLevel ALevel, std::string_view ATitle,
                                   const ISiDataSet* ADataSet) noexcept {
    if (ADataSet == nullptr) {
        ReportInternalError("LogDataSetSchema", "ADataSet argument is not assigned");
        return;
    }
    Guard("LogDataSetSchema", [&] {
        const std::vector<TSiFieldDef> LFields = ADataSet->FieldDefs();
        if (LFields.empty()) {
            ReportInternalError("LogDataSetSchema", "data set is empty");
            return;
        }
        TSiTableViewerContext LContext;
        LContext.AppendHeader("Name, Type, Size, Read Only");
        for (const TSiFieldDef& LField : LFields) {
            LContext.BeginRow();
            LContext.AddRowEntry(LField.Name);
            LContext.AddRowEntry(LField.DataType);
            LContext.AddRowEntry(LField.Size);
            LContext.AddRowEntry(LField.ReadOnly);
            LContext.EndRow();
        }
        SendContext(ALevel, ATitle, ltDatabaseStructure, LContext);
    });
}

}  // namespace deruz::logging
