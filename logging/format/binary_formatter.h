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

#include "logging/format/formatter.h"

namespace deruz::logging {

inline constexpr std::size_t kSiPacketHeaderSize = 6;

class TSiBinaryFormatter final : public TSiFormatter {
  public:
    // Builds the packet's body in the work buffer and returns the size of header and body.
    // The packet's data stream is read from its first byte and left at position 0. Raises
    // ESiFormatError when the body would not fit the format's 32-bit size. A log entry that
    // carries its encoded bytes (TSiLogEntry::Encoded) is not compiled again: Write then takes
    // those bytes, which must stay valid until it returns.
    std::int32_t Compile(TSiPacket& APacket) override;

    // Writes the header and the body of the packet compiled last; nothing before the first
    // successful Compile. Raises ESiStreamError when AStream does not take every byte.
    void Write(TSiStream& AStream) override;

    // The body compiled last (valid until the next Compile, or while an entry's encoded bytes
    // live).
    std::span<const std::uint8_t> Body() const noexcept;

    // Memory held by the work buffer (for checking that large buffers are given back).
    std::size_t WorkBufferCapacity() const noexcept { return FBuffer.capacity(); }

  private:
    // Each writes the body of its kind after the header's room and returns the body size.
    std::size_t CompileLogEntry(TSiLogEntry& ALogEntry);
    std::size_t CompileControlCommand(TSiControlCommand& AControlCommand);
    std::size_t CompileWatch(const TSiWatch& AWatch);
    std::size_t CompileProcessFlow(const TSiProcessFlow& AProcessFlow);
    std::size_t CompileLogHeader(const TSiLogHeader& ALogHeader);

    // Checks a body size against the format's limit and makes room for header and body;
    // returns where the body starts.
    std::uint8_t* Reserve(std::uint64_t ABodySize);

    // Body size of the packet compiled last; 0 before the first and after a failed Compile.
    std::int32_t FSize = 0;
    // The work buffer, reused for every packet: the packet header, then the body. Bytes beyond
    // them are stale. Holding the finished bytes rather than the packet lets Write run safely
    // even when the packet was released after Compile.
    std::vector<std::uint8_t> FBuffer;
    // The encoded bytes of the log entry compiled last, when it carried them; else empty and
    // the work buffer holds the packet.
    std::span<const std::uint8_t> FEncoded;
};

// Encodes ALogEntry's whole packet (header and body) into AOut, as Compile would; returns its
// size, or 0 when it does not fit AOut or the entry has data (then it is compiled as usual).
std::size_t SiEncodeLogEntry(const TSiLogEntry& ALogEntry, std::span<std::uint8_t> AOut) noexcept;

// The complete bytes (header and body) of one packet, for tools and tests.
std::vector<std::uint8_t> SiFormatBinary(TSiPacket& APacket);

}  // namespace deruz::logging
