// The binary packet format that log viewers read, also used for log files and memory dumps:
// each packet is a 6-byte header (uint16 packet type code, int32 body size) followed by its
// body, all integers little-endian, texts as UTF-8 without terminators.
//
// Thread safety and ownership as for every TSiFormatter: one thread at a time; the formatter
// owns its work buffer and keeps no reference to the packets it compiles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "logging/formatter.h"

namespace deruz::logging {

inline constexpr std::size_t kSiPacketHeaderSize = 6;

class TSiBinaryFormatter final : public TSiFormatter {
  public:
    // Builds the packet's body in the work buffer and returns the size of header and body.
    // The packet's data stream is read from its first byte and left at position 0. Raises
    // ESiFormatError when the body would not fit the format's 32-bit size.
    std::int32_t Compile(TSiPacket& APacket) override;

    // Writes the header and the body of the packet compiled last; nothing before the first
    // successful Compile. Raises ESiStreamError when AStream does not take every byte.
    void Write(TSiStream& AStream) override;

    // The body compiled last (valid until the next Compile).
    std::span<const std::uint8_t> Body() const noexcept;

    // Memory held by the work buffer (for checking that large buffers are given back).
    std::size_t WorkBufferCapacity() const noexcept { return FStream.Capacity(); }

  private:
    void CompileLogEntry(TSiLogEntry& ALogEntry);
    void CompileControlCommand(TSiControlCommand& AControlCommand);
    void CompileWatch(const TSiWatch& AWatch);
    void CompileProcessFlow(const TSiProcessFlow& AProcessFlow);
    void CompileLogHeader(const TSiLogHeader& ALogHeader);

    // Body size of the packet compiled last; 0 before the first and after a failed Compile.
    std::int32_t FSize = 0;
    // The work buffer, reused for every packet; its bytes beyond FSize are stale.
    TSiMemoryStream FStream;
    // Wire code of the packet compiled last. Keeping the code rather than the packet lets
    // Write run safely even when the packet was released after Compile.
    std::uint16_t FPacketCode = 0;
};

// The complete bytes (header and body) of one packet, for tools and tests.
std::vector<std::uint8_t> SiFormatBinary(TSiPacket& APacket);

}  // namespace deruz::logging
