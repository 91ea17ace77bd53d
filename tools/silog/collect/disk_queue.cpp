// The on-disk queue of a destination; see disk_queue.h for the layout and the bound.
#include "tools/silog/collect/disk_queue.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace deruz::silog::collect {

namespace fs = std::filesystem;

namespace {

// The number of the first segment of an empty queue: far from 0, so that records put back in
// front of the oldest segment get numbers below it.
constexpr std::uint64_t kFirstSegment = std::uint64_t{1} << 40;
constexpr std::uint64_t kMinSegmentBytes = 4096;

[[noreturn]] void Fail(const std::string& AWhat, const fs::path& APath) {
    throw std::runtime_error(AWhat + " " + APath.string());
}

std::string ReadFile(const fs::path& APath, std::uint64_t AOffset, std::uint64_t ACount) {
    std::ifstream LIn(APath, std::ios::binary);
    if (!LIn) Fail("cannot read the queue file", APath);
    LIn.seekg(static_cast<std::streamoff>(AOffset));
    std::string LBytes(ACount, '\0');
    LIn.read(LBytes.data(), static_cast<std::streamsize>(ACount));
    LBytes.resize(static_cast<std::size_t>(LIn.gcount()));
    return LBytes;
}

// The length of the whole records at the start of ABytes and their count.
std::uint64_t WholeRecords(std::string_view ABytes, std::uint64_t& ACount) {
    std::uint64_t LEnd = 0;
    ACount = 0;
    ForEachRecord(ABytes, [&](std::string_view ARecord) {
        LEnd += 4 + ARecord.size();
        ++ACount;
    });
    return LEnd;
}

}  // namespace

void TRecordBatch::Add(std::string_view ARecord) {
    const auto LSize = static_cast<std::uint32_t>(ARecord.size());
    const char LLength[4] = {
        static_cast<char>(LSize & 0xFF), static_cast<char>((LSize >> 8) & 0xFF),
        static_cast<char>((LSize >> 16) & 0xFF), static_cast<char>((LSize >> 24) & 0xFF)};
    Bytes.append(LLength, 4);
    Bytes.append(ARecord);
    ++Records;
}

TDiskQueue::TDiskQueue(fs::path AFolder, std::uint64_t AMaxBytes)
    : FFolder(std::move(AFolder)),
      FMaxBytes(AMaxBytes),
      FSegmentBytes(std::max(kMinSegmentBytes, AMaxBytes / 8)) {
    std::error_code LError;
    fs::create_directories(FFolder, LError);
    if (LError) Fail("cannot create the queue folder", FFolder);

    std::vector<std::uint64_t> LNumbers;
    for (const auto& LEntry : fs::directory_iterator(FFolder)) {
        const fs::path& LPath = LEntry.path();
        const std::string LStem = LPath.stem().string();
        if (LPath.extension() == ".q" && !LStem.empty() &&
            LStem.find_first_not_of("0123456789") == std::string::npos && LStem.size() < 20) {
            LNumbers.push_back(std::stoull(LStem));
        }
    }
    std::sort(LNumbers.begin(), LNumbers.end());

    std::uint64_t LHeadNumber = 0;
    std::uint64_t LHeadOffset = 0;
    if (std::ifstream LHead(FFolder / "head"); LHead) {
        LHead >> LHeadNumber >> LHeadOffset;
        if (!LHead) LHeadNumber = LHeadOffset = 0;
    }
    for (const std::uint64_t LNumber : LNumbers) {
        const fs::path LPath = SegmentPath(LNumber);
        if (LNumber < LHeadNumber) {
            fs::remove(LPath, LError);
            continue;
        }
        const std::uint64_t LSize = fs::file_size(LPath, LError);
        if (LError) Fail("cannot read the queue file", LPath);
        const std::uint64_t LOffset = LNumber == LHeadNumber ? std::min(LHeadOffset, LSize) : 0;
        const std::string LBytes = ReadFile(LPath, LOffset, LSize - LOffset);
        std::uint64_t LCount = 0;
        const std::uint64_t LWhole = WholeRecords(LBytes, LCount);
        if (LWhole < LBytes.size()) {
            // A record cut short when the collector stopped while writing it.
            fs::resize_file(LPath, LOffset + LWhole, LError);
        }
        if (LCount == 0) {
            fs::remove(LPath, LError);
            continue;
        }
        if (FSegments.empty()) FHeadOffset = LOffset;
        FSegments.push_back({LNumber, LOffset + LWhole, LCount});
        FRecords += LCount;
        FBytes += LWhole;
    }
    if (FSegments.empty()) FHeadOffset = 0;
}

fs::path TDiskQueue::SegmentPath(std::uint64_t ANumber) const {
    return FFolder / (std::to_string(ANumber) + ".q");
}

void TDiskQueue::WriteSegment(std::uint64_t ANumber, const std::string& ABytes, bool AAppend) {
    const fs::path LPath = SegmentPath(ANumber);
    std::ofstream LOut(LPath, std::ios::binary | (AAppend ? std::ios::app : std::ios::trunc));
    LOut.write(ABytes.data(), static_cast<std::streamsize>(ABytes.size()));
    LOut.flush();
    if (!LOut) Fail("cannot write the queue file", LPath);
}

void TDiskQueue::SaveHead() {
    const fs::path LPath = FFolder / "head";
    std::ofstream LOut(LPath, std::ios::trunc);
    if (FSegments.empty()) {
        LOut << 0 << ' ' << 0 << '\n';
    } else {
        LOut << FSegments.front().Number << ' ' << FHeadOffset << '\n';
    }
    if (!LOut) Fail("cannot write the queue file", LPath);
}

void TDiskQueue::Append(const TRecordBatch& ABatch) {
    if (ABatch.Empty()) return;
    // Split at record boundaries so that no segment grows much past the segment size: the
    // bound then drops no more than a segment's worth at a time.
    std::size_t LStart = 0;
    std::size_t LEnd = 0;
    std::uint64_t LCount = 0;
    bool LNewSegment = FSegments.empty() || FSegments.back().Size >= FSegmentBytes;
    std::uint64_t LRoom = LNewSegment ? FSegmentBytes : FSegmentBytes - FSegments.back().Size;
    const auto LFlush = [&] {
        if (LCount == 0) return;
        const std::string LPart = ABatch.Bytes.substr(LStart, LEnd - LStart);
        if (LNewSegment) {
            const std::uint64_t LNumber =
                FSegments.empty() ? kFirstSegment : FSegments.back().Number + 1;
            WriteSegment(LNumber, LPart, false);
            if (FSegments.empty()) FHeadOffset = 0;
            FSegments.push_back({LNumber, LPart.size(), LCount});
            if (FSegments.size() == 1) SaveHead();
        } else {
            WriteSegment(FSegments.back().Number, LPart, true);
            FSegments.back().Size += LPart.size();
            FSegments.back().Records += LCount;
        }
        FRecords += LCount;
        FBytes += LPart.size();
        LStart = LEnd;
        LCount = 0;
        LRoom = FSegmentBytes;
        LNewSegment = true;
    };
    ForEachRecord(ABatch.Bytes, [&](std::string_view ARecord) {
        const std::size_t LSize = 4 + ARecord.size();
        if (LCount > 0 && LEnd - LStart + LSize > LRoom) LFlush();
        LEnd += LSize;
        ++LCount;
    });
    LFlush();
    Trim();
}

void TDiskQueue::Prepend(const TRecordBatch& ABatch) {
    if (ABatch.Empty()) return;
    if (FSegments.empty()) {
        Append(ABatch);
        return;
    }
    // Only the oldest segment may start at an offset: rewrite it without its consumed part
    // before another segment goes in front of it.
    TSegment& LFront = FSegments.front();
    if (FHeadOffset > 0) {
        const std::string LRest =
            ReadFile(SegmentPath(LFront.Number), FHeadOffset, LFront.Size - FHeadOffset);
        WriteSegment(LFront.Number, LRest, false);
        LFront.Size = LRest.size();
        FHeadOffset = 0;
    }
    const std::uint64_t LNumber = LFront.Number - 1;
    WriteSegment(LNumber, ABatch.Bytes, false);
    FSegments.push_front({LNumber, ABatch.Bytes.size(), ABatch.Records});
    FRecords += ABatch.Records;
    FBytes += ABatch.Bytes.size();
    SaveHead();
    Trim();
}

TRecordBatch TDiskQueue::Peek(std::size_t AMaxBytes) {
    TRecordBatch LBatch;
    if (FSegments.empty()) return LBatch;
    const TSegment& LFront = FSegments.front();
    const fs::path LPath = SegmentPath(LFront.Number);
    const std::uint64_t LLeft = LFront.Size - FHeadOffset;
    std::string LBytes = ReadFile(LPath, FHeadOffset, std::min<std::uint64_t>(LLeft, AMaxBytes));
    std::uint64_t LCount = 0;
    std::uint64_t LWhole = WholeRecords(LBytes, LCount);
    if (LCount == 0 && LBytes.size() >= 4) {
        // One record larger than AMaxBytes: read it whole.
        const auto* LLength = reinterpret_cast<const unsigned char*>(LBytes.data());
        const std::uint64_t LSize = 4 + (LLength[0] | (LLength[1] << 8) | (LLength[2] << 16) |
                                         (static_cast<std::uint64_t>(LLength[3]) << 24));
        LBytes = ReadFile(LPath, FHeadOffset, std::min(LSize, LLeft));
        LWhole = WholeRecords(LBytes, LCount);
    }
    if (LCount == 0) Fail("damaged queue file", LPath);
    LBytes.resize(static_cast<std::size_t>(LWhole));
    LBatch.Bytes = std::move(LBytes);
    LBatch.Records = LCount;
    return LBatch;
}

void TDiskQueue::Consume(const TRecordBatch& ABatch) {
    if (FSegments.empty() || ABatch.Empty()) return;
    TSegment& LFront = FSegments.front();
    FHeadOffset += ABatch.Bytes.size();
    LFront.Records -= std::min(LFront.Records, ABatch.Records);
    FRecords -= std::min(FRecords, ABatch.Records);
    FBytes -= std::min<std::uint64_t>(FBytes, ABatch.Bytes.size());
    if (FHeadOffset >= LFront.Size) {
        std::error_code LError;
        fs::remove(SegmentPath(LFront.Number), LError);
        FSegments.pop_front();
        FHeadOffset = 0;
    }
    SaveHead();
}

void TDiskQueue::DropOldest() {
    const TSegment LFront = FSegments.front();
    FDropped += LFront.Records;
    FRecords -= std::min(FRecords, LFront.Records);
    FBytes -= std::min<std::uint64_t>(FBytes, LFront.Size - FHeadOffset);
    std::error_code LError;
    fs::remove(SegmentPath(LFront.Number), LError);
    FSegments.pop_front();
    FHeadOffset = 0;
}

void TDiskQueue::Trim() {
    bool LDropped = false;
    while (FBytes > FMaxBytes && !FSegments.empty()) {
        DropOldest();
        LDropped = true;
    }
    if (LDropped) SaveHead();
}

}  // namespace deruz::silog::collect
