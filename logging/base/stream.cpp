// Shared stream operations and the in-memory stream.
#include "logging/base/stream.h"

#include <algorithm>
#include <cstring>

namespace deruz::logging {

std::int64_t TSiStream::Seek(std::int64_t, TSiSeekOrigin) {
    throw ESiStreamError("Stream does not support seeking");
}

std::int64_t TSiStream::GetSize() {
    const std::int64_t LPosition = Seek(0, soCurrent);
    const std::int64_t LSize = Seek(0, soEnd);
    Seek(LPosition, soBeginning);
    return LSize;
}

void TSiStream::ReadBuffer(void* ABuffer, std::size_t ACount) {
    auto* LTarget = static_cast<std::uint8_t*>(ABuffer);
    while (ACount > 0) {
        const std::size_t LRead = Read(LTarget, ACount);
        if (LRead == 0 || LRead > ACount) {
            throw ESiStreamError("Stream read error");
        }
        LTarget += LRead;
        ACount -= LRead;
    }
}

void TSiStream::WriteBuffer(const void* ABuffer, std::size_t ACount) {
    const auto* LSource = static_cast<const std::uint8_t*>(ABuffer);
    while (ACount > 0) {
        const std::size_t LWritten = Write(LSource, ACount);
        if (LWritten == 0 || LWritten > ACount) {
            throw ESiStreamError("Stream write error");
        }
        LSource += LWritten;
        ACount -= LWritten;
    }
}

std::size_t TSiMemoryStream::Read(void* ABuffer, std::size_t ACount) {
    if (FPosition >= FBuffer.size()) {
        return 0;
    }
    const std::size_t LCount = std::min(ACount, FBuffer.size() - FPosition);
    std::memcpy(ABuffer, FBuffer.data() + FPosition, LCount);
    FPosition += LCount;
    return LCount;
}

std::size_t TSiMemoryStream::Write(const void* ABuffer, std::size_t ACount) {
    if (ACount == 0) {
        return 0;
    }
    if (ACount > FBuffer.max_size() - FPosition) {
        throw ESiStreamError("Stream write error");
    }
    const std::size_t LEnd = FPosition + ACount;
    if (LEnd > FBuffer.size()) {
        // Grows geometrically, so a sequence of small writes stays amortised.
        FBuffer.resize(LEnd);
    }
    std::memcpy(FBuffer.data() + FPosition, ABuffer, ACount);
    FPosition = LEnd;
    return ACount;
}

std::int64_t TSiMemoryStream::Seek(std::int64_t AOffset, TSiSeekOrigin AOrigin) {
    std::int64_t LBase = 0;
    switch (AOrigin) {
        case soBeginning:
            LBase = 0;
            break;
        case soCurrent:
            LBase = static_cast<std::int64_t>(FPosition);
            break;
        case soEnd:
            LBase = static_cast<std::int64_t>(FBuffer.size());
            break;
    }
    const std::int64_t LPosition = LBase + AOffset;
    if (LPosition < 0) {
        throw ESiStreamError("Stream seek before the beginning");
    }
    FPosition = static_cast<std::size_t>(LPosition);
    return LPosition;
}

void TSiMemoryStream::SetSize(std::int64_t ASize) {
    if (ASize < 0) {
        throw ESiStreamError("Stream size is negative");
    }
    FBuffer.resize(static_cast<std::size_t>(ASize));
}

void TSiMemoryStream::Clear() noexcept {
    std::vector<std::uint8_t>().swap(FBuffer);
    FPosition = 0;
}

void TSiMemoryStream::LoadFrom(TSiStream& AStream) {
    const std::int64_t LSize = AStream.GetSize();
    if (LSize < 0) {
        throw ESiStreamError("Stream read error");
    }
    AStream.SetPosition(0);
    // Read into new memory and swap it in: the content stays intact if the read fails, and
    // a stream may load from itself.
    std::vector<std::uint8_t> LContent(static_cast<std::size_t>(LSize));
    AStream.ReadBuffer(LContent.data(), LContent.size());
    FBuffer.swap(LContent);
    FPosition = 0;
}

}  // namespace deruz::logging
