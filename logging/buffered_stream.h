// TSiBufferedStream: the write buffer that the viewer and file protocols put in front of their
// pipe, socket or file, so that a packet's header and body reach the system in one write.
//
// Writes smaller than the capacity are gathered in the buffer; a write that would overflow it
// first sends what is held; a write of at least the capacity flushes and then goes straight to
// the underlying stream. Reads pass through unchanged.
//
// Thread safety: none; the owning protocol serialises access under its own lock.
// Ownership: the buffer owns its memory block, never the underlying stream, which must outlive
// it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "logging/stream.h"

namespace deruz::logging {

class TSiBufferedStream final : public TSiStream {
  public:
    TSiBufferedStream(TSiStream& AStream, std::size_t ACapacity);
    // Sends what is still held; errors are swallowed here (call Flush first to see them).
    ~TSiBufferedStream() override;

    // Buffers or passes on ACount bytes; returns ACount, or for a write that bypasses the
    // buffer what the underlying stream accepted.
    std::size_t Write(const void* ABuffer, std::size_t ACount) override;
    std::size_t Read(void* ABuffer, std::size_t ACount) override;
    // Flushes, then seeks the underlying stream.
    std::int64_t Seek(std::int64_t AOffset, TSiSeekOrigin AOrigin) override;

    // Writes every held byte to the underlying stream (retrying partial writes). Raises
    // ESiStreamError "Stream write error" when the stream takes nothing or fails. The held
    // bytes are given up either way: after a failed write their prefix may already be out, and
    // sending them again would duplicate it.
    void Flush();

    // Gives up the held bytes without writing them.
    void Discard() noexcept { FCount = 0; }

    std::size_t Capacity() const noexcept { return FCapacity; }
    std::size_t Count() const noexcept { return FCount; }

  private:
    TSiStream& FStream;
    std::unique_ptr<std::uint8_t[]> FBuffer;
    std::size_t FCapacity;
    std::size_t FCount = 0;
};

}  // namespace deruz::logging
