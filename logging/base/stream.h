// Byte streams of the logging library: the abstract TSiStream that formatters write to and
// that protocols implement for their pipe, socket or file, and the in-memory TSiMemoryStream
// that holds packet data and formatter work buffers.
//
// Thread safety: a stream is used by one thread at a time; callers serialise access (a
// packet's data stream under the packet's lock, a protocol's streams under the protocol's).
// Ownership: streams never own the streams they are given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "logging/base/errors.h"

namespace deruz::logging {

// A stream operation that could not complete: a short read or write, or a bad position.
class ESiStreamError : public ESiError {
  public:
    using ESiError::ESiError;
};

enum TSiSeekOrigin : std::uint8_t { soBeginning, soCurrent, soEnd };

class TSiStream {
  public:
    TSiStream() = default;
    TSiStream(const TSiStream&) = delete;
    TSiStream& operator=(const TSiStream&) = delete;
    virtual ~TSiStream() = default;

    // Reads up to ACount bytes; returns how many were read, 0 at the end of the stream.
    virtual std::size_t Read(void* ABuffer, std::size_t ACount) = 0;

    // Writes up to ACount bytes; returns how many were written, which may be fewer.
    virtual std::size_t Write(const void* ABuffer, std::size_t ACount) = 0;

    // Moves the position and returns the new one. Streams that cannot seek (pipes,
    // sockets) keep this default, which raises ESiStreamError.
    virtual std::int64_t Seek(std::int64_t AOffset, TSiSeekOrigin AOrigin);

    // Size in bytes; the default seeks to the end and back.
    virtual std::int64_t GetSize();

    std::int64_t GetPosition() { return Seek(0, soCurrent); }
    void SetPosition(std::int64_t APosition) { Seek(APosition, soBeginning); }

    // Reads exactly ACount bytes or raises "Stream read error".
    void ReadBuffer(void* ABuffer, std::size_t ACount);

    // Writes exactly ACount bytes or raises "Stream write error"; a stream whose Write
    // accepts only part of the bytes is asked again for the rest.
    void WriteBuffer(const void* ABuffer, std::size_t ACount);

  protected:
    // Concrete streams that own only memory may be moved; moving through the base is not
    // possible, so nothing is sliced.
    TSiStream(TSiStream&&) noexcept = default;
    TSiStream& operator=(TSiStream&&) noexcept = default;
};

// A growable in-memory stream. Writing past the end extends it; the memory it reserved is
// kept until Clear, so a stream rewound with SetPosition(0) is reused without allocating.
class TSiMemoryStream : public TSiStream {
  public:
    std::size_t Read(void* ABuffer, std::size_t ACount) override;
    std::size_t Write(const void* ABuffer, std::size_t ACount) override;
    std::int64_t Seek(std::int64_t AOffset, TSiSeekOrigin AOrigin) override;
    std::int64_t GetSize() override { return static_cast<std::int64_t>(FBuffer.size()); }

    // Sets the size, keeping the leading bytes; new bytes are zero. The position is kept,
    // even beyond the new end.
    void SetSize(std::int64_t ASize);

    // Empties the stream and gives its memory back.
    void Clear() noexcept;

    // Replaces the content with the whole of AStream, read from its first byte to its end
    // (leaving AStream at its end). Afterwards this stream is positioned at 0.
    void LoadFrom(TSiStream& AStream);

    std::span<const std::uint8_t> Bytes() const noexcept { return FBuffer; }
    std::size_t Capacity() const noexcept { return FBuffer.capacity(); }

  private:
    std::vector<std::uint8_t> FBuffer;
    std::size_t FPosition = 0;
};

}  // namespace deruz::logging
