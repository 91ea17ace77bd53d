// TDiskQueue: the records a destination of silog collect could not send yet, in order, in a
// folder of its own, so that they survive a restart of the destination and of the collector.
//
// Records are opaque byte strings (the wire form of one message). A batch is a run of records,
// each written as a 4-byte little-endian length and the bytes. The folder holds segment files
// "<number>.q", numbered in queue order, and the file "head" with the number of the oldest
// segment and the offset of its first unsent record. Records are appended to the newest segment
// until it reaches the segment size, then a new one begins; sent records are consumed from the
// oldest, whose file is deleted once it is used up.
//
// Bounded by bytes on disk: when appending takes the folder past its bound, whole oldest
// segments are deleted and their unsent records counted as dropped. A segment is an eighth of
// the bound, so the queue always keeps at least seven eighths of it. A record cut short by a
// crash at the end of the newest segment is cut off when the folder is opened again.
//
// Thread safety: none; the owner serialises every call. Errors of the file system raise
// std::runtime_error with the path and the reason.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>

namespace deruz::silog::collect {

// A run of records in the queue's framing, and how many records it holds.
struct TRecordBatch {
    std::string Bytes;
    std::uint64_t Records = 0;

    void Add(std::string_view ARecord);
    void Append(const TRecordBatch& AOther) {
        Bytes += AOther.Bytes;
        Records += AOther.Records;
    }
    bool Empty() const noexcept { return Records == 0; }
    void Clear() noexcept {
        Bytes.clear();
        Records = 0;
    }
};

// Calls AEach with every record of a batch, in order.
template <class TEach>
void ForEachRecord(std::string_view ABytes, TEach&& AEach) {
    std::size_t LAt = 0;
    while (LAt + 4 <= ABytes.size()) {
        const auto* LLength = reinterpret_cast<const unsigned char*>(ABytes.data() + LAt);
        const std::size_t LSize = LLength[0] | (LLength[1] << 8) | (LLength[2] << 16) |
                                  (static_cast<std::size_t>(LLength[3]) << 24);
        if (LAt + 4 + LSize > ABytes.size()) {
            return;
        }
        AEach(ABytes.substr(LAt + 4, LSize));
        LAt += 4 + LSize;
    }
}

class TDiskQueue {
  public:
    // Opens (creating it when needed) the queue in AFolder, bounded by AMaxBytes.
    TDiskQueue(std::filesystem::path AFolder, std::uint64_t AMaxBytes);

    // Adds a batch after the newest record, or before the oldest one (records that were sent
    // but may not have arrived go back to the front).
    void Append(const TRecordBatch& ABatch);
    void Prepend(const TRecordBatch& ABatch);
    // Up to AMaxBytes of the oldest records (at least one, however large), without removing
    // them; empty when the queue is.
    TRecordBatch Peek(std::size_t AMaxBytes);
    // Removes the oldest records that Peek returned.
    void Consume(const TRecordBatch& ABatch);

    bool Empty() const noexcept { return FRecords == 0; }
    std::uint64_t Records() const noexcept { return FRecords; }
    std::uint64_t Bytes() const noexcept { return FBytes; }
    // Records dropped because the bound was reached, since the queue was opened.
    std::uint64_t Dropped() const noexcept { return FDropped; }

  private:
    struct TSegment {
        std::uint64_t Number = 0;
        // Bytes of the file, and of its records not yet consumed.
        std::uint64_t Size = 0;
        std::uint64_t Records = 0;
    };
    std::filesystem::path SegmentPath(std::uint64_t ANumber) const;
    void WriteSegment(std::uint64_t ANumber, const std::string& ABytes, bool AAppend);
    void SaveHead();
    void Trim();
    void DropOldest();

    std::filesystem::path FFolder;
    std::uint64_t FMaxBytes;
    std::uint64_t FSegmentBytes;
    std::deque<TSegment> FSegments;
    // Offset of the first unconsumed record in the oldest segment.
    std::uint64_t FHeadOffset = 0;
    std::uint64_t FRecords = 0;
    std::uint64_t FBytes = 0;
    std::uint64_t FDropped = 0;
};

}  // namespace deruz::silog::collect
