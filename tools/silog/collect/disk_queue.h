// TDiskQueue: the messages a destination of silog collect has still to deliver, in order, in a
// folder of its own, so that they survive a crash of the collector, a power loss and a restart
// of the destination. Every message goes through it: what the sender delivers is what was
// written here first.
//
// The folder holds segment files "<number>.seg", numbered in queue order, and the file
// "head.pos" with the segment and offset of the first record not yet confirmed. A record is a
// message as it is (no transport framing), written as
//     2 bytes magic D5 51, 4 bytes length (little-endian), 4 bytes CRC-32C of the length's 4
//     bytes and the message, the message
// so that a record cut short or damaged is found, counted as damaged and skipped to the next
// valid record, and damage can never shift the framing of another record.
//
// Two positions move through the records: the head (what the destination has confirmed) and
// the cursor (what the sender has taken). Take hands out records from the cursor with marks
// saying where they end in which segment; Confirm moves the head to a mark, and deletes the
// segments it has passed; Rewind puts the cursor back at the head, so that what was taken but
// not confirmed is taken again (a lost connection). A mark whose segment was dropped meanwhile
// is ignored: positions are (segment, offset), never counts of bytes.
//
// Appended records wait in memory (at most kBufferBytes) until Flush writes them to the newest
// segment; Sync flushes and makes every segment written since the last Sync reach the storage
// device, and saves the head (a new file, renamed over the old one). When the folder cannot be
// written, records stay in memory, are taken from there once the files are used up, and count
// as durable only once confirmed (DurableThrough); the error is kept for the owner to report.
//
// Bounded by bytes: when the records not yet confirmed pass the bound, whole oldest segments
// are deleted and their unconfirmed records counted as dropped (those out in a batch that is
// confirmed later are counted back as delivered). A segment is an eighth of
// the bound (4 KB to 16 MB), so the queue keeps at least seven eighths of it.
//
// A queue of the earlier format (segments "<number>.q" of 4-byte-length records, and "head")
// is taken over when the folder is opened: each record goes through AUpgrade into the new
// format, then the old files are deleted.
//
// Thread safety: none; the owner serialises every call. Errors of the file system raise
// std::runtime_error with the path and the system's reason, except where a function says so.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "logging/base/strings.h"

namespace deruz::silog::collect {

// Where the records of a taken batch end in one segment, and how many of them lie there.
struct TQueueMark {
    std::uint64_t Segment = 0;
    std::uint64_t Offset = 0;
    std::uint64_t Records = 0;
};

// Records handed out by Take, oldest first, and their marks (one a segment they came from).
struct TTakenBatch {
    std::vector<std::string> Records;
    std::vector<TQueueMark> Marks;
    std::size_t Bytes = 0;
    bool Empty() const noexcept { return Records.empty(); }
};

// The CRC-32C (Castagnoli) of ABytes, continuing from ACrc.
std::uint32_t Crc32c(std::string_view ABytes, std::uint32_t ACrc = 0) noexcept;

class TDiskQueue {
  public:
    static constexpr std::size_t kBufferBytes = 256u << 10;
    // The largest record; a length above it is damage.
    static constexpr std::uint32_t kMaxRecord = 16u << 20;

    // Converts a record of the earlier format into the message it carries.
    using TUpgrade = std::function<std::string(std::string_view)>;

    // Opens (creating it when needed) the queue in AFolder, bounded by AMaxBytes. What the
    // opening found (records, damage, a folder that cannot be written) is in Findings().
    // Raises only when the folder is used by another collector.
    TDiskQueue(std::filesystem::path AFolder, std::uint64_t AMaxBytes, TUpgrade AUpgrade = {});
    ~TDiskQueue();
    TDiskQueue(const TDiskQueue&) = delete;
    TDiskQueue& operator=(const TDiskQueue&) = delete;

    // Adds a record after the newest one. Never raises: a failed write keeps it in memory.
    void Append(std::string_view ARecord);
    // Writes what waits in memory to the newest segment; false when that failed (LastError).
    bool Flush() noexcept;
    // Flush, then every segment written since the last Sync to the storage device, and the
    // head to its file; false when any of it failed (LastError) or records wait in memory.
    bool Sync() noexcept;

    // Sync in three steps, so that an owner who locks the queue holds its lock only for the
    // first and the last: PrepareSync (locked) writes what waits and names the files,
    // SyncFiles (unlocked) makes them reach the device, CompleteSync (locked) takes the
    // result. Records appended meanwhile are left to the next Sync.
    struct TSyncTicket {
        bool Written = false;
        std::uint64_t Through = 0;
        std::vector<std::uint64_t> Segments;
        std::vector<std::string> Files;
        std::string Folder;
        std::string Error;
    };
    TSyncTicket PrepareSync() noexcept;
    static void SyncFiles(TSyncTicket& ATicket) noexcept;
    bool CompleteSync(const TSyncTicket& ATicket) noexcept;

    // Up to AMaxBytes of records from the cursor (at least one, however large); empty when
    // everything has been taken. Damaged records on the way are skipped and counted.
    TTakenBatch Take(std::size_t AMaxBytes);
    // The destination has the records up to these marks.
    void Confirm(const std::vector<TQueueMark>& AMarks);
    // The cursor back to the head; returns how many records will be taken again.
    std::uint64_t Rewind();
    // Saves the head when it moved since it was last saved (Sync does too), so that a crash
    // sends again no more than what was confirmed since; never raises (LastError).
    void SaveHeadIfMoved() noexcept;

    // Records appended since the queue was opened, and how many of those are durable: written
    // and synced, or confirmed. Records are durable in the order they were appended.
    std::uint64_t Appended() const noexcept { return FAppended; }
    std::uint64_t DurableThrough() const noexcept;

    // Records not yet confirmed, and their bytes; records not yet taken.
    std::uint64_t Records() const noexcept { return FRecords; }
    std::uint64_t Bytes() const noexcept { return FBytes; }
    std::uint64_t Untaken() const noexcept { return FUntaken; }
    bool Empty() const noexcept { return FUntaken == 0; }
    // Records dropped by the bound, and damaged records skipped, since the queue was opened.
    std::uint64_t Dropped() const noexcept { return FDropped; }
    std::uint64_t Damaged() const noexcept { return FDamaged; }
    // The last error of the file system ("" once a write succeeded again), and what the
    // opening and later reading found, in words, each with its file.
    const std::string& LastError() const noexcept { return FLastError; }
    std::vector<std::string> TakeFindings();

  private:
    struct TSegment {
        std::uint64_t Number = 0;
        // Bytes in the file; valid records in it; where its first unconfirmed and first untaken
        // record begin, and how many of its records lie before those.
        std::uint64_t Size = 0;
        std::uint64_t Records = 0;
        std::uint64_t HeadOffset = 0;
        std::uint64_t Confirmed = 0;
        std::uint64_t ReadOffset = 0;
        std::uint64_t Taken = 0;
        // Written since the last Sync.
        bool Unsynced = false;
        logging::TSiFileHandle Writer;
        logging::TSiFileHandle Reader;
    };
    // A record that could not be written, with its number among the appended.
    struct TMemoryRecord {
        std::uint64_t Index = 0;
        std::string Message;
        bool Taken = false;
    };

    std::filesystem::path SegmentPath(std::uint64_t ANumber) const;
    void Open();
    void Upgrade();
    // Scans a segment file: its valid records, its size; damage found becomes a finding.
    void Scan(TSegment& ASegment, std::uint64_t AFrom);
    bool WriteBuffer();
    bool SaveHead() noexcept;
    void Trim();
    void DropFront();
    void Fail(const std::string& AWhat, const std::filesystem::path& APath, std::uint32_t ACode);
    void Note(const std::string& AFinding);
    // Reads [AFrom, AFrom + ACount) of a segment.
    std::string ReadSegment(TSegment& ASegment, std::uint64_t AFrom, std::uint64_t ACount);

    std::filesystem::path FFolder;
    std::uint64_t FMaxBytes;
    std::uint64_t FSegmentBytes;
    TUpgrade FUpgrade;
    logging::TSiFileHandle FLock;
    std::deque<TSegment> FSegments;
    // Of segments dropped by the bound: how many of their records were out in a batch.
    std::map<std::uint64_t, std::uint64_t> FDroppedOut;
    std::uint64_t FNextNumber = 1;
    // Framed records appended but not yet written, the appended index of the first of them
    // and their count.
    std::string FBuffer;
    std::uint64_t FBufferFirst = 0;
    std::uint64_t FBufferRecords = 0;
    // Records that could not be written (a folder that cannot be written), oldest first.
    std::deque<TMemoryRecord> FMemory;
    std::uint64_t FAppended = 0;
    std::uint64_t FSynced = 0;
    bool FHeadDirty = false;
    bool FFolderCreated = false;

    std::uint64_t FRecords = 0;
    std::uint64_t FBytes = 0;
    std::uint64_t FUntaken = 0;
    std::uint64_t FDropped = 0;
    std::uint64_t FDamaged = 0;
    std::string FLastError;
    std::vector<std::string> FFindings;
};

}  // namespace deruz::silog::collect
