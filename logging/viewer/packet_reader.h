// Decodes the binary packet format (see binary_formatter.h) back into packets: for tools that
// receive or dump logs, and for checking what the formatter wrote.
//
// The reader never reads outside the buffer it was given and rejects anything the format does
// not allow: unknown packet or enumeration codes, negative lengths, lengths that do not add up
// to the body size, bodies that run past the end of the buffer, and log headers whose content
// is not "hostname=..." CR LF "appname=..." CR LF. Text bytes are taken as they are (the
// reader does not validate UTF-8).
//
// What the format does not carry is set as the packets' own constructors would: Level is
// lvMessage, or lvControl for control commands, and ThreadSafe is off.
//
// Thread safety: a reader is used by one thread at a time. It does not own the buffer, which
// must outlive it; the packets it returns are independent of the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "logging/base/errors.h"
#include "logging/packets/packet.h"

namespace deruz::logging {

// Input that is not a well-formed packet. Offset() is where the fault lies, counted from the
// start of the buffer plus the reader's base offset; the message names the fault and the
// offset.
class ESiPacketFormatError : public ESiError {
  public:
    ESiPacketFormatError(const std::string& AWhat, std::uint64_t AOffset);
    std::uint64_t Offset() const noexcept { return FOffset; }

  private:
    std::uint64_t FOffset;
};

class TSiBinaryPacketReader {
  public:
    // ABaseOffset is added to every offset reported, for buffers cut out of a larger file or
    // stream.
    explicit TSiBinaryPacketReader(std::span<const std::uint8_t> ABuffer,
                                   std::uint64_t ABaseOffset = 0) noexcept
        : FBuffer(ABuffer), FBaseOffset(ABaseOffset) {}

    // Whether every byte has been consumed.
    bool AtEnd() const noexcept { return FPosition == FBuffer.size(); }
    // Bytes consumed so far.
    std::size_t GetPosition() const noexcept { return FPosition; }

    // Decodes the packet at the current position and moves past it. Raises
    // ESiPacketFormatError for malformed or truncated input; the position then stays at the
    // start of the faulty packet.
    TSiPacketPtr ReadPacket();

    // For readers of a byte stream: the total size (header and body) of the packet that
    // starts ABytes when ABytes holds all of it, or 0 when more bytes are needed. Raises
    // ESiPacketFormatError when the packet header is already invalid (unknown type, negative
    // size), since waiting for more bytes would not help.
    static std::size_t CompletePacketSize(std::span<const std::uint8_t> ABytes,
                                          std::uint64_t ABaseOffset = 0);

  private:
    std::span<const std::uint8_t> FBuffer;
    std::uint64_t FBaseOffset;
    std::size_t FPosition = 0;
};

}  // namespace deruz::logging
