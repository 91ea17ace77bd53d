// The write buffer in front of pipes, sockets and files.
#include "logging/io/buffered_stream.h"

#include <cstring>

namespace deruz::logging {

TSiBufferedStream::TSiBufferedStream(TSiStream& AStream, std::size_t ACapacity)
    : FStream(AStream),
      FGather(dynamic_cast<TSiGatherStream*>(&AStream)),
      FBuffer(std::make_unique_for_overwrite<std::uint8_t[]>(ACapacity)),
      FCapacity(ACapacity) {}

TSiBufferedStream::~TSiBufferedStream() {
    try {
        Flush();
    } catch (...) {
        // A destructor cannot report; owners that care flush before releasing the buffer.
    }
}

std::size_t TSiBufferedStream::Write(const void* ABuffer, std::size_t ACount) {
    if (ACount >= FCapacity) {
        if (FGather != nullptr && FCount > 0) {
            return WriteThrough(ABuffer, ACount);
        }
        Flush();
        return FStream.Write(ABuffer, ACount);
    }
    if (ACount > FCapacity - FCount) {
        Flush();
    }
    std::memcpy(FBuffer.get() + FCount, ABuffer, ACount);
    FCount += ACount;
    return ACount;
}

std::size_t TSiBufferedStream::Read(void* ABuffer, std::size_t ACount) {
    return FStream.Read(ABuffer, ACount);
}

std::int64_t TSiBufferedStream::Seek(std::int64_t AOffset, TSiSeekOrigin AOrigin) {
    Flush();
    return FStream.Seek(AOffset, AOrigin);
}

std::size_t TSiBufferedStream::WriteThrough(const void* ABuffer, std::size_t ACount) {
    const std::size_t LHeld = FCount;
    FCount = 0;
    const std::size_t LWritten = FGather->WritePair(FBuffer.get(), LHeld, ABuffer, ACount);
    if (LWritten > LHeld) {
        return LWritten - LHeld;
    }
    // The system took no more than the held bytes: finish them, then write as usual.
    if (LWritten == 0) {
        throw ESiStreamError("Stream write error");
    }
    FStream.WriteBuffer(FBuffer.get() + LWritten, LHeld - LWritten);
    return FStream.Write(ABuffer, ACount);
}

void TSiBufferedStream::Flush() {
    if (FCount == 0) {
        return;
    }
    const std::size_t LCount = FCount;
    FCount = 0;
    FStream.WriteBuffer(FBuffer.get(), LCount);
}

}  // namespace deruz::logging
