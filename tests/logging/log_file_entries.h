// Reads the log entries of a binary log file written by the file protocol: each entry passed
// to a function of the test's choice, which says what the test compares.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "logging/packets/packet.h"
#include "logging/viewer/packet_reader.h"

namespace deruz::logging {

// What AOf makes of each log entry of the file APath, in file order; nothing when the file is
// missing or shorter than its signature.
template <class TOf>
auto SiLogFileEntries(const std::string& APath, TOf AOf) {
    std::ifstream LFile(APath, std::ios::binary);
    const std::vector<std::uint8_t> LBytes{std::istreambuf_iterator<char>(LFile),
                                           std::istreambuf_iterator<char>()};
    std::vector<decltype(AOf(std::declval<const TSiLogEntry&>()))> LResult;
    if (LBytes.size() < 4) return LResult;
    TSiBinaryPacketReader LReader(std::span<const std::uint8_t>(LBytes).subspan(4), 4);
    while (!LReader.AtEnd()) {
        const TSiPacketPtr LPacket = LReader.ReadPacket();
        if (LPacket->GetPacketType() != ptLogEntry) continue;
        LResult.push_back(AOf(static_cast<const TSiLogEntry&>(*LPacket)));
    }
    return LResult;
}

}  // namespace deruz::logging
