// Lookups over the enumeration tables of enums.h.
#include "logging/base/enums.h"

#include <algorithm>
#include <cstddef>

namespace deruz::logging {

namespace {

template <typename Table>
std::string_view NameAt(const Table& ATable, std::size_t AIndex) noexcept {
    return AIndex < ATable.size() ? ATable[AIndex] : std::string_view();
}

template <typename Table, typename Code>
Code CodeAt(const Table& ATable, std::size_t AIndex, Code AMissing) noexcept {
    return AIndex < ATable.size() ? ATable[AIndex] : AMissing;
}

// Wire codes are unique within a table, so the first match is the only one.
template <typename Enum, typename Table, typename Code>
std::optional<Enum> FindCode(const Table& ATable, Code ACode) noexcept {
    const auto LIt = std::find(ATable.begin(), ATable.end(), ACode);
    if (LIt == ATable.end()) {
        return std::nullopt;
    }
    return static_cast<Enum>(LIt - ATable.begin());
}

template <typename Enum>
std::optional<Enum> FromOrdinal(std::int32_t AOrdinal, std::size_t ACount) noexcept {
    if (AOrdinal < 0 || static_cast<std::size_t>(AOrdinal) >= ACount) {
        return std::nullopt;
    }
    return static_cast<Enum>(AOrdinal);
}

}  // namespace

std::string_view SiLevelString(TSiLevel AValue) noexcept {
    return NameAt(CSiLevelString, AValue);
}

std::string_view SiLogEntryTypeString(TSiLogEntryType AValue) noexcept {
    return NameAt(CSiLogEntryTypeString, AValue);
}

std::string_view SiViewerIdString(TSiViewerId AValue) noexcept {
    return NameAt(CSiViewerIdString, AValue);
}

std::string_view SiProcessFlowTypeString(TSiProcessFlowType AValue) noexcept {
    return NameAt(CSiProcessFlowTypeString, AValue);
}

std::string_view SiWatchTypeString(TSiWatchType AValue) noexcept {
    return NameAt(CSiWatchTypeString, AValue);
}

std::string_view SiControlCommandTypeString(TSiControlCommandType AValue) noexcept {
    return NameAt(CSiControlCommandTypeString, AValue);
}

std::string_view SiFileRotateString(TSiFileRotate AValue) noexcept {
    return NameAt(CSiFileRotateString, AValue);
}

std::uint16_t SiPacketTypeCode(TSiPacketType AValue) noexcept {
    return CodeAt(CSiPacketTypeLookup, AValue, std::uint16_t{0xFFFF});
}

std::int32_t SiLogEntryTypeCode(TSiLogEntryType AValue) noexcept {
    return CodeAt(CSiLogEntryTypeLookup, AValue, std::int32_t{-1});
}

std::int32_t SiViewerIdCode(TSiViewerId AValue) noexcept {
    return CodeAt(CSiViewerIdLookup, AValue, std::int32_t{-1});
}

TSiViewerId SiSourceIdViewer(TSiSourceId AValue) noexcept {
    return CodeAt(CSiSourceIdLookup, AValue, viNone);
}

std::optional<TSiPacketType> SiPacketTypeFromCode(std::uint16_t ACode) noexcept {
    return FindCode<TSiPacketType>(CSiPacketTypeLookup, ACode);
}

std::optional<TSiLogEntryType> SiLogEntryTypeFromCode(std::int32_t ACode) noexcept {
    return FindCode<TSiLogEntryType>(CSiLogEntryTypeLookup, ACode);
}

std::optional<TSiViewerId> SiViewerIdFromCode(std::int32_t ACode) noexcept {
    return FindCode<TSiViewerId>(CSiViewerIdLookup, ACode);
}

std::optional<TSiProcessFlowType> SiProcessFlowTypeFromOrdinal(std::int32_t AOrdinal) noexcept {
    return FromOrdinal<TSiProcessFlowType>(AOrdinal, CSiProcessFlowTypeString.size());
}

std::optional<TSiWatchType> SiWatchTypeFromOrdinal(std::int32_t AOrdinal) noexcept {
    return FromOrdinal<TSiWatchType>(AOrdinal, CSiWatchTypeString.size());
}

std::optional<TSiControlCommandType> SiControlCommandTypeFromOrdinal(
    std::int32_t AOrdinal) noexcept {
    return FromOrdinal<TSiControlCommandType>(AOrdinal, CSiControlCommandTypeString.size());
}

}  // namespace deruz::logging
