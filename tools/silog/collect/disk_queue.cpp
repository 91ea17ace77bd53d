// The on-disk queue of a destination; see disk_queue.h for the layout, the positions and the
// bound.
#include "tools/silog/collect/disk_queue.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <system_error>

#include "logging/io/file_stream.h"

namespace deruz::silog::collect {

namespace fs = std::filesystem;
using namespace deruz::logging;

namespace {

constexpr unsigned char kMagic0 = 0xD5;
constexpr unsigned char kMagic1 = 0x51;
constexpr std::size_t kHeaderSize = 10;
constexpr std::uint64_t kMinSegmentBytes = 4096;
constexpr std::uint64_t kMaxSegmentBytes = 16u << 20;
// The segment number of the marks of records taken from memory.
constexpr std::uint64_t kMemorySegment = std::numeric_limits<std::uint64_t>::max();
constexpr const char* kSegmentExtension = ".seg";
constexpr const char* kHeadName = "head.pos";
constexpr const char* kLockName = "lock";
// The system's code for a file that does not exist (ENOENT, ERROR_FILE_NOT_FOUND).
constexpr std::uint32_t kNotFound = 2;

std::array<std::uint32_t, 256> MakeCrcTable() noexcept {
    std::array<std::uint32_t, 256> LTable{};
    for (std::uint32_t LI = 0; LI < 256; ++LI) {
        std::uint32_t LCrc = LI;
        for (int LBit = 0; LBit < 8; ++LBit) {
            LCrc = (LCrc & 1) != 0 ? (LCrc >> 1) ^ 0x82F63B78u : LCrc >> 1;
        }
        LTable[LI] = LCrc;
    }
    return LTable;
}

std::uint32_t ReadU32(const char* AData) noexcept {
    const auto* LBytes = reinterpret_cast<const unsigned char*>(AData);
    return static_cast<std::uint32_t>(LBytes[0]) | (static_cast<std::uint32_t>(LBytes[1]) << 8) |
           (static_cast<std::uint32_t>(LBytes[2]) << 16) |
           (static_cast<std::uint32_t>(LBytes[3]) << 24);
}

void AppendU32(std::string& ATarget, std::uint32_t AValue) {
    const char LBytes[4] = {
        static_cast<char>(AValue & 0xFF), static_cast<char>((AValue >> 8) & 0xFF),
        static_cast<char>((AValue >> 16) & 0xFF), static_cast<char>((AValue >> 24) & 0xFF)};
    ATarget.append(LBytes, 4);
}

void AppendRecord(std::string& ATarget, std::string_view AMessage) {
    ATarget += static_cast<char>(kMagic0);
    ATarget += static_cast<char>(kMagic1);
    const auto LLength = static_cast<std::uint32_t>(AMessage.size());
    AppendU32(ATarget, LLength);
    const std::size_t LLengthAt = ATarget.size() - 4;
    const std::uint32_t LCrc =
        Crc32c(AMessage, Crc32c(std::string_view(ATarget).substr(LLengthAt, 4)));
    AppendU32(ATarget, LCrc);
    ATarget.append(AMessage);
}

// What lies at APos of AData: a whole valid record (its message in AMessage), the start of one
// that AData cuts off (ANeed: the bytes it needs from APos), or damage.
enum class TRecordAt { Valid, Incomplete, Damaged };

TRecordAt RecordAt(std::string_view AData, std::size_t APos, std::string_view& AMessage,
                   std::size_t& ANeed) {
    const std::size_t LLeft = AData.size() - APos;
    if (LLeft >= 1 && static_cast<unsigned char>(AData[APos]) != kMagic0) return TRecordAt::Damaged;
    if (LLeft >= 2 && static_cast<unsigned char>(AData[APos + 1]) != kMagic1)
        return TRecordAt::Damaged;
    if (LLeft < kHeaderSize) {
        ANeed = kHeaderSize;
        return TRecordAt::Incomplete;
    }
    const std::uint32_t LLength = ReadU32(AData.data() + APos + 2);
    if (LLength > TDiskQueue::kMaxRecord) return TRecordAt::Damaged;
    if (LLeft < kHeaderSize + LLength) {
        ANeed = kHeaderSize + LLength;
        return TRecordAt::Incomplete;
    }
    const std::string_view LMessage = AData.substr(APos + kHeaderSize, LLength);
    const std::uint32_t LCrc = Crc32c(LMessage, Crc32c(AData.substr(APos + 2, 4)));
    if (LCrc != ReadU32(AData.data() + APos + 6)) return TRecordAt::Damaged;
    AMessage = LMessage;
    return TRecordAt::Valid;
}

// The next offset after APos where a whole valid record begins, or AData.size().
std::size_t NextValid(std::string_view AData, std::size_t APos) {
    for (std::size_t LAt = APos + 1; LAt < AData.size(); ++LAt) {
        LAt = AData.find(static_cast<char>(kMagic0), LAt);
        if (LAt == std::string_view::npos) break;
        std::string_view LMessage;
        std::size_t LNeed = 0;
        if (RecordAt(AData, LAt, LMessage, LNeed) == TRecordAt::Valid) return LAt;
    }
    return AData.size();
}

// The segment and offset that a head file holds; 0 and 0 when there is none or it is garbage
// (then everything in the folder counts as unconfirmed).
std::pair<std::uint64_t, std::uint64_t> ReadHead(const fs::path& APath) {
    unsigned long long LNumber = 0;
    unsigned long long LOffset = 0;
    try {
        if (std::sscanf(SiReadFile(APath.string()).c_str(), "%llu %llu", &LNumber, &LOffset) != 2) {
            return {0, 0};
        }
    } catch (const std::exception&) {
        return {0, 0};
    }
    return {LNumber, LOffset};
}

// The numbers of the files "<number><AExtension>" in AFolder, in order.
std::vector<std::uint64_t> NumberedFiles(const fs::path& AFolder, std::string_view AExtension) {
    std::vector<std::uint64_t> LNumbers;
    std::error_code LError;
    for (const auto& LEntry : fs::directory_iterator(AFolder, LError)) {
        const std::string LStem = LEntry.path().stem().string();
        if (LEntry.path().extension() == AExtension && !LStem.empty() && LStem.size() < 20 &&
            LStem.find_first_not_of("0123456789") == std::string::npos) {
            LNumbers.push_back(std::stoull(LStem));
        }
    }
    std::sort(LNumbers.begin(), LNumbers.end());
    return LNumbers;
}

std::string Reason(std::uint32_t ACode) {
    return ACode != 0 ? SiSystemErrorText(ACode) : std::string("unknown reason");
}

}  // namespace

std::uint32_t Crc32c(std::string_view ABytes, std::uint32_t ACrc) noexcept {
    static const std::array<std::uint32_t, 256> LTable = MakeCrcTable();
    std::uint32_t LCrc = ~ACrc;
    for (const char LChar : ABytes) {
        LCrc = LTable[(LCrc ^ static_cast<unsigned char>(LChar)) & 0xFF] ^ (LCrc >> 8);
    }
    return ~LCrc;
}

TDiskQueue::TDiskQueue(fs::path AFolder, std::uint64_t AMaxBytes, TUpgrade AUpgrade)
    : FFolder(std::move(AFolder)),
      FMaxBytes(AMaxBytes),
      FSegmentBytes(std::clamp(AMaxBytes / 8, kMinSegmentBytes, kMaxSegmentBytes)),
      FUpgrade(std::move(AUpgrade)) {
    Open();
}

TDiskQueue::~TDiskQueue() {
    Sync();
}

fs::path TDiskQueue::SegmentPath(std::uint64_t ANumber) const {
    return FFolder / (std::to_string(ANumber) + kSegmentExtension);
}

void TDiskQueue::Fail(const std::string& AWhat, const fs::path& APath, std::uint32_t ACode) {
    FLastError = AWhat + " " + APath.string() + ": " + Reason(ACode);
}

void TDiskQueue::Note(const std::string& AFinding) {
    FFindings.push_back(AFinding);
}

std::vector<std::string> TDiskQueue::TakeFindings() {
    return std::exchange(FFindings, {});
}

void TDiskQueue::Open() {
    std::error_code LError;
    fs::create_directories(FFolder, LError);
    if (LError) {
        FLastError = "cannot create the queue folder " + FFolder.string() + ": " + LError.message();
        Note(FLastError);
        return;
    }
    std::uint32_t LCode = 0;
    FLock = SiCreateFile((FFolder / kLockName).string(), faWrite, fsRead, fcOpenAlways, LCode);
    if (!FLock.IsOpen()) {
        // Held by another writer: EWOULDBLOCK from the advisory lock on POSIX (11),
        // ERROR_SHARING_VIOLATION on Windows (32); neither code means anything else when a
        // file is opened on the other platform.
        if (LCode == 11 || LCode == 32) {
            throw std::runtime_error("the queue folder " + FFolder.string() +
                                     " is used by another silog collect");
        }
        Fail("cannot write the queue folder", FFolder, LCode);
        Note(FLastError + "; messages wait in memory");
    }

    const auto [LHeadNumber, LHeadOffset] = ReadHead(FFolder / kHeadName);
    const std::vector<std::uint64_t> LNumbers = NumberedFiles(FFolder, kSegmentExtension);
    // New segments are numbered after the head too: one numbered below it would count as
    // confirmed when the folder is opened again.
    FNextNumber = std::max(FNextNumber, LHeadNumber);
    for (const std::uint64_t LNumber : LNumbers) {
        FNextNumber = std::max(FNextNumber, LNumber + 1);
        if (LNumber < LHeadNumber) {
            // Confirmed whole before the head was saved.
            fs::remove(SegmentPath(LNumber), LError);
            continue;
        }
        TSegment LSegment;
        LSegment.Number = LNumber;
        const std::uint64_t LFrom = LNumber == LHeadNumber ? LHeadOffset : 0;
        Scan(LSegment, LFrom);
        if (LSegment.Records == 0 && LSegment.HeadOffset >= LSegment.Size) {
            fs::remove(SegmentPath(LNumber), LError);
            continue;
        }
        FRecords += LSegment.Records;
        FUntaken += LSegment.Records;
        FBytes += LSegment.Size - LSegment.HeadOffset;
        FSegments.push_back(std::move(LSegment));
    }
    if (FRecords > 0) {
        Note("queue " + FFolder.string() + ": " + std::to_string(FRecords) +
             " messages to send from an earlier run");
    }
    if (!NumberedFiles(FFolder, ".q").empty()) Upgrade();
    Trim();
}

void TDiskQueue::Scan(TSegment& ASegment, std::uint64_t AFrom) {
    const fs::path LPath = SegmentPath(ASegment.Number);
    std::string LBytes;
    try {
        LBytes = SiReadFile(LPath.string());
    } catch (const std::exception& LAError) {
        Note("cannot read the queue file " + LPath.string() + ": " + LAError.what() +
             "; its messages are lost");
        ASegment.Size = ASegment.HeadOffset = ASegment.ReadOffset = 0;
        return;
    }
    if (LBytes.empty()) {
        Note("queue file " + LPath.string() + ": empty, removed");
    }
    const std::string_view LData(LBytes);
    ASegment.Size = LData.size();
    const std::size_t LStart =
        static_cast<std::size_t>(std::min<std::uint64_t>(AFrom, LData.size()));
    ASegment.HeadOffset = ASegment.ReadOffset = LStart;
    std::uint64_t LDamaged = 0;
    std::uint64_t LSkipped = 0;
    std::size_t LLastValidEnd = LStart;
    std::size_t LPos = LStart;
    while (LPos < LData.size()) {
        std::string_view LMessage;
        std::size_t LNeed = 0;
        const TRecordAt LAt = RecordAt(LData, LPos, LMessage, LNeed);
        if (LAt == TRecordAt::Valid) {
            ++ASegment.Records;
            LPos += kHeaderSize + LMessage.size();
            LLastValidEnd = LPos;
            continue;
        }
        const std::size_t LNext = NextValid(LData, LPos);
        ++LDamaged;
        LSkipped += LNext - LPos;
        LPos = LNext;
    }
    if (LLastValidEnd < LData.size()) {
        // Nothing valid follows: the end is not read again, and the next write goes over it.
        ASegment.Size = LLastValidEnd;
        ++FDamaged;
    }
    if (LDamaged > 0) {
        const bool LTail = LLastValidEnd < LData.size() && LDamaged == 1 &&
                           LSkipped == LData.size() - LLastValidEnd;
        Note("queue file " + LPath.string() + ": " +
             (LTail ? "cut short inside a record"
                    : std::to_string(LDamaged) + " damaged stretch" + (LDamaged == 1 ? "" : "es")) +
             ", " + std::to_string(LSkipped) + " bytes skipped; " +
             std::to_string(ASegment.Records) + " messages kept");
    }
}

void TDiskQueue::Upgrade() {
    std::error_code LError;
    const auto [LHeadNumber, LHeadOffset] = ReadHead(FFolder / "head");
    const std::vector<std::uint64_t> LOld = NumberedFiles(FFolder, ".q");
    std::uint64_t LCount = 0;
    for (const std::uint64_t LNumber : LOld) {
        if (LNumber < LHeadNumber) continue;
        const fs::path LPath = FFolder / (std::to_string(LNumber) + ".q");
        std::string LBytes;
        try {
            LBytes = SiReadFile(LPath.string());
        } catch (const std::exception& LAError) {
            Note("cannot read the queue file " + LPath.string() + ": " + LAError.what());
            continue;
        }
        std::size_t LAt =
            LNumber == LHeadNumber
                ? static_cast<std::size_t>(std::min<std::uint64_t>(LHeadOffset, LBytes.size()))
                : 0;
        while (LAt + 4 <= LBytes.size()) {
            const std::uint32_t LSize = ReadU32(LBytes.data() + LAt);
            if (LSize > LBytes.size() - LAt - 4) break;
            Append(FUpgrade ? FUpgrade(std::string_view(LBytes).substr(LAt + 4, LSize))
                            : LBytes.substr(LAt + 4, LSize));
            ++LCount;
            LAt += 4 + LSize;
        }
    }
    if (Sync()) {
        for (const std::uint64_t LNumber : LOld) {
            fs::remove(FFolder / (std::to_string(LNumber) + ".q"), LError);
        }
        fs::remove(FFolder / "head", LError);
    }
    Note("queue " + FFolder.string() + ": " + std::to_string(LCount) +
         " messages taken over from the earlier queue format");
}

void TDiskQueue::Append(std::string_view ARecord) {
    if (ARecord.size() > kMaxRecord) {
        ++FDropped;
        Note("a message of " + std::to_string(ARecord.size()) +
             " bytes is larger than the queue takes (" + std::to_string(kMaxRecord) +
             " bytes): dropped");
        return;
    }
    const std::uint64_t LIndex = FAppended++;
    ++FRecords;
    ++FUntaken;
    FBytes += kHeaderSize + ARecord.size();
    if (!FMemory.empty()) {
        // Older records wait in memory: this one goes behind them, in order.
        FMemory.push_back({LIndex, std::string(ARecord), false});
        Trim();
        return;
    }
    if (FBufferRecords == 0) FBufferFirst = LIndex;
    AppendRecord(FBuffer, ARecord);
    ++FBufferRecords;
    // Written when the buffer is full or fills the newest segment, so that segments keep
    // their size and the bound drops no more than one at a time.
    const std::uint64_t LInSegment = FSegments.empty() ? 0 : FSegments.back().Size;
    if (FBuffer.size() >= kBufferBytes ||
        (LInSegment < FSegmentBytes && LInSegment + FBuffer.size() >= FSegmentBytes)) {
        Flush();
    } else if (FBytes > FMaxBytes) {
        Trim();
    }
}

bool TDiskQueue::WriteBuffer() {
    std::uint32_t LCode = 0;
    if (FSegments.empty() || FSegments.back().Size >= FSegmentBytes ||
        !FSegments.back().Writer.IsOpen()) {
        const bool LNew = FSegments.empty() || FSegments.back().Size >= FSegmentBytes;
        if (LNew) {
            TSegment LSegment;
            LSegment.Number = FNextNumber;
            const fs::path LPath = SegmentPath(LSegment.Number);
            LSegment.Writer =
                SiCreateFile(LPath.string(), faWrite, fsReadWrite, fcCreateAlways, LCode);
            if (!LSegment.Writer.IsOpen()) {
                Fail("cannot write the queue file", LPath, LCode);
                return false;
            }
            ++FNextNumber;
            FFolderCreated = true;
            if (!FSegments.empty() && !FSegments.back().Unsynced) FSegments.back().Writer.Close();
            FSegments.push_back(std::move(LSegment));
        } else {
            TSegment& LLast = FSegments.back();
            const fs::path LPath = SegmentPath(LLast.Number);
            LLast.Writer = SiCreateFile(LPath.string(), faWrite, fsReadWrite, fcOpenAlways, LCode);
            if (!LLast.Writer.IsOpen()) {
                Fail("cannot write the queue file", LPath, LCode);
                return false;
            }
            // Whatever follows the last whole record (a record cut short) is written over.
            if (!SiTruncateFile(LLast.Writer, static_cast<std::int64_t>(LLast.Size))) {
                Fail("cannot write the queue file", LPath, SiLastSystemError());
                LLast.Writer.Close();
                return false;
            }
        }
    }
    TSegment& LLast = FSegments.back();
    if (SiSeekFile(LLast.Writer, static_cast<std::int64_t>(LLast.Size), soBeginning) < 0 ||
        !LLast.Writer.Write(FBuffer.data(), FBuffer.size())) {
        const std::uint32_t LError = SiLastSystemError();
        // Part of it may be in the file: cut back, so that the file ends at a whole record.
        SiTruncateFile(LLast.Writer, static_cast<std::int64_t>(LLast.Size));
        Fail("cannot write the queue file", SegmentPath(LLast.Number), LError);
        return false;
    }
    LLast.Size += FBuffer.size();
    LLast.Records += FBufferRecords;
    LLast.Unsynced = true;
    return true;
}

bool TDiskQueue::Flush() noexcept {
    if (FBufferRecords == 0) return true;
    bool LWritten = false;
    try {
        LWritten = WriteBuffer();
    } catch (const std::exception& LAError) {
        FLastError = std::string("cannot write the queue: ") + LAError.what();
    }
    if (LWritten) {
        FLastError.clear();
    } else {
        // Not on disk: the records wait in memory, taken after every record in the files.
        try {
            std::size_t LPos = 0;
            std::uint64_t LIndex = FBufferFirst;
            while (LPos < FBuffer.size()) {
                const std::uint32_t LLength = ReadU32(FBuffer.data() + LPos + 2);
                FMemory.push_back({LIndex++, FBuffer.substr(LPos + kHeaderSize, LLength), false});
                LPos += kHeaderSize + LLength;
            }
        } catch (const std::exception&) {
            // Out of memory: the records are gone; they are counted as dropped.
            FDropped += FBufferRecords;
        }
    }
    FBuffer.clear();
    FBufferRecords = 0;
    Trim();
    return LWritten;
}

TDiskQueue::TSyncTicket TDiskQueue::PrepareSync() noexcept {
    TSyncTicket LTicket;
    LTicket.Written = Flush();
    for (TSegment& LSegment : FSegments) {
        if (!LSegment.Unsynced) continue;
        LSegment.Unsynced = false;
        LTicket.Segments.push_back(LSegment.Number);
        try {
            LTicket.Files.push_back(SegmentPath(LSegment.Number).string());
        } catch (const std::exception&) {
            LTicket.Written = false;
        }
        if (&LSegment != &FSegments.back()) LSegment.Writer.Close();
    }
    if (FFolderCreated) {
        LTicket.Folder = FFolder.string();
        FFolderCreated = false;
    }
    LTicket.Through = FMemory.empty() ? FAppended : FMemory.front().Index;
    return LTicket;
}

void TDiskQueue::SyncFiles(TSyncTicket& ATicket) noexcept {
    for (const std::string& LPath : ATicket.Files) {
        std::uint32_t LCode = 0;
        TSiFileHandle LFile = SiCreateFile(LPath, faWrite, fsReadWrite, fcOpenExisting, LCode);
        // A segment deleted meanwhile was confirmed whole: nothing of it needs the disk.
        if (!LFile.IsOpen() && LCode == kNotFound) continue;
        if (!LFile.IsOpen() || !LFile.Sync()) {
            ATicket.Error = "cannot write the queue file " + LPath + ": " +
                            Reason(LFile.IsOpen() ? SiLastSystemError() : LCode);
        }
    }
    if (!ATicket.Folder.empty() && ATicket.Error.empty()) {
        // A new segment's name must survive a power loss as well as its content. (Windows
        // opens no folder this way; its file system keeps names in its journal.)
        std::uint32_t LCode = 0;
        TSiFileHandle LFolder =
            SiCreateFile(ATicket.Folder, faRead, fsReadWrite, fcOpenExisting, LCode);
        if (LFolder.IsOpen()) LFolder.Sync();
    }
}

bool TDiskQueue::CompleteSync(const TSyncTicket& ATicket) noexcept {
    if (!ATicket.Error.empty()) {
        FLastError = ATicket.Error;
        // Synced again next time.
        for (TSegment& LSegment : FSegments) {
            if (std::find(ATicket.Segments.begin(), ATicket.Segments.end(), LSegment.Number) !=
                ATicket.Segments.end()) {
                LSegment.Unsynced = true;
            }
        }
        if (!ATicket.Folder.empty()) FFolderCreated = true;
        return false;
    }
    if (!ATicket.Written) return false;
    FSynced = std::max(FSynced, ATicket.Through);
    if (FHeadDirty && FLock.IsOpen()) SaveHead();
    return FMemory.empty();
}

bool TDiskQueue::Sync() noexcept {
    TSyncTicket LTicket = PrepareSync();
    SyncFiles(LTicket);
    return CompleteSync(LTicket);
}

void TDiskQueue::SaveHeadIfMoved() noexcept {
    if (FHeadDirty && FLock.IsOpen()) SaveHead();
}

std::uint64_t TDiskQueue::DurableThrough() const noexcept {
    return FSynced;
}

bool TDiskQueue::SaveHead() noexcept {
    try {
        std::string LText;
        if (FSegments.empty()) {
            LText = std::to_string(FNextNumber) + " 0\n";
        } else {
            LText = std::to_string(FSegments.front().Number) + ' ' +
                    std::to_string(FSegments.front().HeadOffset) + '\n';
        }
        const fs::path LTemp = FFolder / "head.new";
        std::uint32_t LCode = 0;
        {
            TSiFileHandle LFile =
                SiCreateFile(LTemp.string(), faWrite, fsReadWrite, fcCreateAlways, LCode);
            if (!LFile.IsOpen() || !LFile.Write(LText.data(), LText.size())) {
                Fail("cannot write the queue file", LTemp,
                     LFile.IsOpen() ? SiLastSystemError() : LCode);
                return false;
            }
        }
        std::error_code LError;
        fs::rename(LTemp, FFolder / kHeadName, LError);
        if (LError) {
            FLastError = "cannot write the queue file " + (FFolder / kHeadName).string() + ": " +
                         LError.message();
            return false;
        }
        FHeadDirty = false;
        return true;
    } catch (const std::exception& LAError) {
        FLastError = std::string("cannot write the queue head: ") + LAError.what();
        return false;
    }
}

std::string TDiskQueue::ReadSegment(TSegment& ASegment, std::uint64_t AFrom, std::uint64_t ACount) {
    const fs::path LPath = SegmentPath(ASegment.Number);
    if (!ASegment.Reader.IsOpen()) {
        std::uint32_t LCode = 0;
        ASegment.Reader = SiCreateFile(LPath.string(), faRead, fsReadWrite, fcOpenExisting, LCode);
        if (!ASegment.Reader.IsOpen()) {
            throw std::runtime_error("cannot read the queue file " + LPath.string() + ": " +
                                     Reason(LCode));
        }
    }
    std::string LBytes(static_cast<std::size_t>(ACount), '\0');
    std::size_t LTotal = 0;
    while (LTotal < LBytes.size()) {
        std::size_t LRead = 0;
        if (!ASegment.Reader.ReadAt(static_cast<std::int64_t>(AFrom + LTotal),
                                    LBytes.data() + LTotal, LBytes.size() - LTotal, LRead)) {
            throw std::runtime_error("cannot read the queue file " + LPath.string() + ": " +
                                     Reason(SiLastSystemError()));
        }
        if (LRead == 0) break;
        LTotal += LRead;
    }
    LBytes.resize(LTotal);
    return LBytes;
}

TTakenBatch TDiskQueue::Take(std::size_t AMaxBytes) {
    TTakenBatch LBatch;
    Flush();
    const auto LRoom = [&] { return LBatch.Empty() || LBatch.Bytes < AMaxBytes; };
    for (TSegment& LSegment : FSegments) {
        if (!LRoom()) return LBatch;
        if (LSegment.ReadOffset >= LSegment.Size) continue;
        TQueueMark LMark{LSegment.Number, LSegment.ReadOffset, 0};
        while (LSegment.ReadOffset < LSegment.Size && LRoom()) {
            const std::uint64_t LLeft = LSegment.Size - LSegment.ReadOffset;
            const std::uint64_t LWant = std::min<std::uint64_t>(
                LLeft,
                std::max<std::size_t>(AMaxBytes - std::min(AMaxBytes, LBatch.Bytes), 64u << 10));
            std::string LChunk = ReadSegment(LSegment, LSegment.ReadOffset, LWant);
            if (LChunk.empty()) {
                // The file is shorter than it was: what is missing cannot be read.
                Note("queue file " + SegmentPath(LSegment.Number).string() + ": " +
                     std::to_string(LLeft) + " bytes missing at offset " +
                     std::to_string(LSegment.ReadOffset));
                ++FDamaged;
                LSegment.ReadOffset = LSegment.Size;
                break;
            }
            std::size_t LPos = 0;
            while (LPos < LChunk.size() && LRoom()) {
                std::string_view LMessage;
                std::size_t LNeed = 0;
                const TRecordAt LAt = RecordAt(LChunk, LPos, LMessage, LNeed);
                if (LAt == TRecordAt::Valid) {
                    LBatch.Bytes += LMessage.size();
                    LBatch.Records.emplace_back(LMessage);
                    LPos += kHeaderSize + LMessage.size();
                    ++LMark.Records;
                    ++LSegment.Taken;
                    FUntaken -= std::min<std::uint64_t>(FUntaken, 1);
                    continue;
                }
                const std::uint64_t LAtOffset = LSegment.ReadOffset + LPos;
                if (LAt == TRecordAt::Incomplete && LAtOffset + LNeed <= LSegment.Size) {
                    // A whole record that the chunk cuts off: read from its start, whole.
                    LSegment.ReadOffset = LAtOffset;
                    LChunk =
                        ReadSegment(LSegment, LAtOffset, std::max<std::uint64_t>(LNeed, LWant));
                    LPos = 0;
                    if (LChunk.size() < LNeed) {
                        // The file is shorter than it was.
                        Note("queue file " + SegmentPath(LSegment.Number).string() + ": " +
                             std::to_string(LSegment.Size - LAtOffset) +
                             " bytes missing at offset " + std::to_string(LAtOffset));
                        ++FDamaged;
                        LSegment.ReadOffset = LSegment.Size;
                        LChunk.clear();
                    }
                    continue;
                }
                // Damage, or a record cut short by the end of the file: on to the next valid
                // record of the segment.
                const std::string LRest =
                    ReadSegment(LSegment, LAtOffset, LSegment.Size - LAtOffset);
                const std::size_t LSkip = NextValid(LRest, 0);
                ++FDamaged;
                Note("queue file " + SegmentPath(LSegment.Number).string() +
                     ": damaged record at offset " + std::to_string(LAtOffset) + ", " +
                     std::to_string(LSkip) + " bytes skipped");
                LSegment.ReadOffset = LAtOffset + LSkip;
                LChunk = ReadSegment(
                    LSegment, LSegment.ReadOffset,
                    std::min<std::uint64_t>(LSegment.Size - LSegment.ReadOffset, LWant));
                LPos = 0;
            }
            LSegment.ReadOffset += LPos;
        }
        if (LSegment.ReadOffset >= LSegment.Size && LSegment.Taken < LSegment.Records) {
            // Fewer valid records than counted (damaged after the queue was opened).
            const std::uint64_t LMissing = LSegment.Records - LSegment.Taken;
            LSegment.Records = LSegment.Taken;
            FUntaken -= std::min(FUntaken, LMissing);
            FRecords -= std::min(FRecords, LMissing);
        }
        LMark.Offset = LSegment.ReadOffset;
        if (LMark.Records > 0 || LMark.Offset > LSegment.HeadOffset) LBatch.Marks.push_back(LMark);
    }
    // Then what waits in memory.
    TQueueMark LMemoryMark{kMemorySegment, 0, 0};
    for (TMemoryRecord& LRecord : FMemory) {
        if (LBatch.Bytes >= AMaxBytes && !LBatch.Empty()) break;
        if (LRecord.Taken) continue;
        LRecord.Taken = true;
        LBatch.Bytes += LRecord.Message.size();
        LBatch.Records.push_back(LRecord.Message);
        LMemoryMark.Offset = LRecord.Index + 1;
        ++LMemoryMark.Records;
        if (FUntaken > 0) --FUntaken;
    }
    if (LMemoryMark.Records > 0) LBatch.Marks.push_back(LMemoryMark);
    // Nothing found anywhere: nothing is left to take, whatever the count said (records
    // damaged since they were counted), so that the sender waits instead of asking again.
    if (LBatch.Empty()) FUntaken = 0;
    return LBatch;
}

void TDiskQueue::Confirm(const std::vector<TQueueMark>& AMarks) {
    for (const TQueueMark& LMark : AMarks) {
        if (LMark.Segment == kMemorySegment) {
            while (!FMemory.empty() && FMemory.front().Taken &&
                   FMemory.front().Index < LMark.Offset) {
                const TMemoryRecord& LFront = FMemory.front();
                FRecords -= std::min<std::uint64_t>(FRecords, 1);
                FBytes -= std::min<std::uint64_t>(FBytes, kHeaderSize + LFront.Message.size());
                // Delivered: as durable as a record can be.
                if (FSynced == LFront.Index) FSynced = LFront.Index + 1;
                FMemory.pop_front();
            }
            continue;
        }
        auto LIt = std::find_if(FSegments.begin(), FSegments.end(), [&](const TSegment& ASegment) {
            return ASegment.Number == LMark.Segment;
        });
        if (LIt == FSegments.end()) {
            // Its segment was dropped while the batch was out: delivered after all.
            const auto LOut = FDroppedOut.find(LMark.Segment);
            if (LOut != FDroppedOut.end()) {
                const std::uint64_t LDelivered = std::min(LOut->second, LMark.Records);
                FDropped -= std::min(FDropped, LDelivered);
                LOut->second -= LDelivered;
                if (LOut->second == 0) FDroppedOut.erase(LOut);
            }
            continue;
        }
        if (LMark.Offset <= LIt->HeadOffset) continue;
        // Segments before it are confirmed whole (marks come in order).
        const std::uint64_t LOffset = std::min(LMark.Offset, LIt->ReadOffset);
        const std::uint64_t LRecords = std::min(LMark.Records, LIt->Taken - LIt->Confirmed);
        FBytes -= std::min(FBytes, LOffset - LIt->HeadOffset);
        FRecords -= std::min(FRecords, LRecords);
        LIt->HeadOffset = LOffset;
        LIt->Confirmed += LRecords;
        FHeadDirty = true;
    }
    // Segments confirmed whole are deleted, all but the one being written.
    while (FSegments.size() > 1 && FSegments.front().HeadOffset >= FSegments.front().Size) {
        TSegment& LFront = FSegments.front();
        LFront.Reader.Close();
        LFront.Writer.Close();
        std::error_code LError;
        fs::remove(SegmentPath(LFront.Number), LError);
        FSegments.pop_front();
        FHeadDirty = true;
    }
}

std::uint64_t TDiskQueue::Rewind() {
    // Batches out of dropped segments will not be confirmed now: they stay dropped.
    FDroppedOut.clear();
    std::uint64_t LAgain = 0;
    for (TSegment& LSegment : FSegments) {
        LAgain += LSegment.Taken - LSegment.Confirmed;
        LSegment.ReadOffset = LSegment.HeadOffset;
        LSegment.Taken = LSegment.Confirmed;
    }
    for (TMemoryRecord& LRecord : FMemory) {
        if (LRecord.Taken) ++LAgain;
        LRecord.Taken = false;
    }
    FUntaken += LAgain;
    return LAgain;
}

void TDiskQueue::DropFront() {
    TSegment& LFront = FSegments.front();
    const std::uint64_t LUntaken = LFront.Records - std::min(LFront.Records, LFront.Taken);
    const std::uint64_t LUnconfirmed = LFront.Records - std::min(LFront.Records, LFront.Confirmed);
    // Records out in a batch count as dropped too, unless that batch is confirmed later.
    FDropped += LUnconfirmed;
    if (LUnconfirmed > LUntaken) FDroppedOut[LFront.Number] = LUnconfirmed - LUntaken;
    FUntaken -= std::min(FUntaken, LUntaken);
    FRecords -= std::min(FRecords, LUnconfirmed);
    FBytes -= std::min(FBytes, LFront.Size - std::min(LFront.Size, LFront.HeadOffset));
    LFront.Reader.Close();
    LFront.Writer.Close();
    std::error_code LError;
    fs::remove(SegmentPath(LFront.Number), LError);
    FSegments.pop_front();
    FHeadDirty = true;
}

void TDiskQueue::Trim() {
    // Whole oldest segments, never the one being written; then, with the folder unwritable,
    // the oldest records in memory.
    while (FBytes > FMaxBytes && FSegments.size() > 1) DropFront();
    while (FBytes > FMaxBytes && !FMemory.empty()) {
        const TMemoryRecord& LFront = FMemory.front();
        if (!LFront.Taken) {
            ++FDropped;
            FUntaken -= std::min<std::uint64_t>(FUntaken, 1);
        }
        FRecords -= std::min<std::uint64_t>(FRecords, 1);
        FBytes -= std::min<std::uint64_t>(FBytes, kHeaderSize + LFront.Message.size());
        if (FSynced == LFront.Index) FSynced = LFront.Index + 1;
        FMemory.pop_front();
    }
}

}  // namespace deruz::silog::collect
