// Enumerations shared by the packets, the formatters and the configuration of the logging
// library, with their display names and the codes that the binary format writes in place of
// some ordinals.
//
// The ordinal of each value is what the program uses internally and what the configuration
// and text output refer to; the wire codes are fixed by the log viewer and must never change.
// TSiLevel and TSiFileRotate are declared in level.h, which the option values and connection
// strings use on their own. All tables and lookups are immutable and safe from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "logging/base/level.h"

namespace deruz::logging {

enum TSiPacketType : std::uint8_t {
    ptLogEntry,
    ptControlCommand,
    ptWatch,
    ptProcessFlow,
    ptLogHeader,
};

enum TSiLogEntryType : std::uint8_t {
    ltSeparator,
    ltEnterMethod,
    ltLeaveMethod,
    ltResetCallstack,
    ltMessage,
    ltWarning,
    ltError,
    ltInternalError,
    ltComment,
    ltVariableValue,
    ltCheckpoint,
    ltDebug,
    ltVerbose,
    ltFatal,
    ltConditional,
    ltAssert,
    ltText,
    ltBinary,
    ltGraphic,
    ltSource,
    ltObject,
    ltWebContent,
    ltSystem,
    ltMemoryStatistic,
    ltDatabaseResult,
    ltDatabaseStructure,
};

// Which viewer of the log viewer shows a log entry's data.
enum TSiViewerId : std::uint8_t {
    viNone,
    viTitle,
    viData,
    viList,
    viValueList,
    viInspector,
    viTable,
    viWeb,
    viBinary,
    viHtmlSource,
    viJavaScriptSource,
    viVbScriptSource,
    viPerlSource,
    viSqlSource,
    viIniSource,
    viPythonSource,
    viXmlSource,
    viBitmap,
    viJpeg,
    viIcon,
    viMetafile,
};

enum TSiProcessFlowType : std::uint8_t {
    pfEnterMethod,
    pfLeaveMethod,
    pfEnterThread,
    pfLeaveThread,
    pfEnterProcess,
    pfLeaveProcess,
};

enum TSiWatchType : std::uint8_t {
    wtChar,
    wtString,
    wtInteger,
    wtFloat,
    wtBoolean,
    wtAddress,
    wtTimestamp,
    wtObject,
};

enum TSiControlCommandType : std::uint8_t {
    ccClearLog,
    ccClearWatches,
    ccClearAutoViews,
    ccClearAll,
    ccClearProcessFlow,
};

// Language of a source-code log entry; turned into a viewer by CSiSourceIdLookup.
enum TSiSourceId : std::uint8_t {
    siHtml,
    siJavaScript,
    siVbScript,
    siPerl,
    siSql,
    siIni,
    siPython,
    siXml,
};

// The resolution of the logger core's timestamps: crStandard is the local date and time to the
// millisecond; crHigh adds a high-resolution counter to an offset calibrated against the
// local time, for finer (and monotonic) timestamps between clock ticks.
enum TSiClockResolution : std::uint8_t { crStandard = 0, crHigh = 1 };

// A colour in the layout 0x00BBGGRR. Values with the top bit set are system colours.
using TSiColor = std::int32_t;

// The system window colour: "no colour of its own", the default of log entries and sessions.
inline constexpr TSiColor clWindow = static_cast<TSiColor>(0xFF000005u);

// Display names, indexed by ordinal.
inline constexpr std::array<std::string_view, 7> CSiLevelString = {
    "Debug", "Verbose", "Message", "Warning", "Error", "Fatal", "Unknown"};

inline constexpr std::array<std::string_view, 26> CSiLogEntryTypeString = {
    "Separator",        "EnterMethod", "LeaveMethod",   "ResetCallstack",  "Message",
    "Warning",          "Error",       "InternalError", "Comment",         "VariableValue",
    "Checkpoint",       "Debug",       "Verbose",       "Fatal",           "Conditional",
    "Assert",           "Text",        "Binary",        "Graphic",         "Source",
    "Object",           "WebContent",  "System",        "MemoryStatistic", "DatabaseResult",
    "DatabaseStructure"};

inline constexpr std::array<std::string_view, 21> CSiViewerIdString = {
    "None",       "Title",     "Data",      "List",         "ValueList",        "Inspector",
    "Table",      "Web",       "Binary",    "HtmlSource",   "JavaScriptSource", "VbScriptSource",
    "PerlSource", "SqlSource", "IniSource", "PythonSource", "XmlSource",        "Bitmap",
    "Jpeg",       "Icon",      "Metafile"};

inline constexpr std::array<std::string_view, 6> CSiProcessFlowTypeString = {
    "EnterMethod", "LeaveMethod", "EnterThread", "LeaveThread", "EnterProcess", "LeaveProcess"};

inline constexpr std::array<std::string_view, 8> CSiWatchTypeString = {
    "Char", "String", "Integer", "Float", "Boolean", "Address", "Timestamp", "Object"};

inline constexpr std::array<std::string_view, 5> CSiControlCommandTypeString = {
    "ClearLog", "ClearWatches", "ClearAutoViews", "ClearAll", "ClearProcessFlow"};

inline constexpr std::array<std::string_view, 5> CSiFileRotateString = {"None", "Hourly", "Daily",
                                                                        "Weekly", "Monthly"};

// Wire codes, indexed by ordinal.
inline constexpr std::array<std::uint16_t, 5> CSiPacketTypeLookup = {4, 1, 5, 6, 7};

inline constexpr std::array<std::int32_t, 26> CSiLogEntryTypeLookup = {
    0,   1,   2,   3,   100, 101, 102, 103, 104, 105, 106, 107, 108,
    109, 110, 111, 200, 201, 202, 203, 204, 205, 206, 207, 208, 209};

inline constexpr std::array<std::int32_t, 21> CSiViewerIdLookup = {
    -1, 0, 1, 2, 3, 4, 5, 100, 200, 300, 301, 302, 303, 304, 305, 306, 307, 400, 401, 402, 403};

inline constexpr std::array<TSiViewerId, 8> CSiSourceIdLookup = {
    viHtmlSource, viJavaScriptSource, viVbScriptSource, viPerlSource,
    viSqlSource,  viIniSource,        viPythonSource,   viXmlSource};

// Display names; an ordinal outside its table (a corrupted value) gives the empty text.
std::string_view SiLevelString(TSiLevel AValue) noexcept;
std::string_view SiLogEntryTypeString(TSiLogEntryType AValue) noexcept;
std::string_view SiViewerIdString(TSiViewerId AValue) noexcept;
std::string_view SiProcessFlowTypeString(TSiProcessFlowType AValue) noexcept;
std::string_view SiWatchTypeString(TSiWatchType AValue) noexcept;
std::string_view SiControlCommandTypeString(TSiControlCommandType AValue) noexcept;
std::string_view SiFileRotateString(TSiFileRotate AValue) noexcept;

// Wire codes of the binary format. An ordinal outside its table gives -1 (0xFFFF for packet
// types), a code that no reader accepts.
std::uint16_t SiPacketTypeCode(TSiPacketType AValue) noexcept;
std::int32_t SiLogEntryTypeCode(TSiLogEntryType AValue) noexcept;
std::int32_t SiViewerIdCode(TSiViewerId AValue) noexcept;
// The viewer of a source language; viNone for an ordinal outside the table.
TSiViewerId SiSourceIdViewer(TSiSourceId AValue) noexcept;

// Reverse lookups for readers of the binary format: the value of a wire code or ordinal as
// found on the wire, or nothing when the code is not defined.
std::optional<TSiPacketType> SiPacketTypeFromCode(std::uint16_t ACode) noexcept;
std::optional<TSiLogEntryType> SiLogEntryTypeFromCode(std::int32_t ACode) noexcept;
std::optional<TSiViewerId> SiViewerIdFromCode(std::int32_t ACode) noexcept;
std::optional<TSiProcessFlowType> SiProcessFlowTypeFromOrdinal(std::int32_t AOrdinal) noexcept;
std::optional<TSiWatchType> SiWatchTypeFromOrdinal(std::int32_t AOrdinal) noexcept;
std::optional<TSiControlCommandType> SiControlCommandTypeFromOrdinal(
    std::int32_t AOrdinal) noexcept;

}  // namespace deruz::logging
