// TSiBufferedStream: the write buffer that the viewer and file protocols put in front of their
// pipe, socket or file, so that a packet's header and body reach the system in one write.
//
// Writes smaller than the capacity are gathered in the buffer; a write that would overflow it
// first sends what is held; a write of at least the capacity flushes and then goes straight to
// the underlying stream. Where the underlying stream can gather (TSiGatherStream), the held
// bytes and such a large write leave in one system call. Reads pass through unchanged.
//
// Thread safety: none; the owning protocol serialises access under its own lock.
// Ownership: the buffer owns its memory block, never the underlying stream, which must outlive
// it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "logging/base/stream.h"

namespace deruz::logging {

// A stream that can write two pieces with one system call (a gathering write), so that a
// packet's header and a large body are not sent separately.
class TSiGatherStream {
  public:
    // Writes AFirst and then ASecond; returns how many bytes of both were written together,
    // which may be fewer (0 on failure).
    virtual std::size_t WritePair(const void* AFirst, std::size_t AFirstCount, const void* ASecond,
                                  std::size_t ASecondCount) = 0;

  protected:
    ~TSiGatherStream() = default;
};

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

    // Hands over the held bytes with the block that holds them, taking ABlock (a block of
    // Capacity() bytes) in its place; returns how many bytes the handed block holds.
    std::size_t Exchange(std::unique_ptr<std::uint8_t[]>& ABlock) noexcept {
        FBuffer.swap(ABlock);
        const std::size_t LCount = FCount;
        FCount = 0;
        return LCount;
    }

    std::size_t Capacity() const noexcept { return FCapacity; }
    std::size_t Count() const noexcept { return FCount; }

  private:
    // The held bytes and a write that bypasses the buffer, in one gathering write.
    std::size_t WriteThrough(const void* ABuffer, std::size_t ACount);

    TSiStream& FStream;
    TSiGatherStream* FGather;
    std::unique_ptr<std::uint8_t[]> FBuffer;
    std::size_t FCapacity;
    std::size_t FCount = 0;
};

}  // namespace deruz::logging
