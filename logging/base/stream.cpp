// Shared stream operations and the in-memory stream.
#include "logging/base/stream.h"

#include <algorithm>
#include <cstring>

namespace deruz::logging {

std::int64_t TSiStream::Seek(std::int64_t, TSiSeekOrigin) {
    throw ESiStreamError("Stream does not support seeking");
}

std::int64_t TSiStream::GetSize() {
    const std::int64_t position = Seek(0, soCurrent);
    const std::int64_t size = Seek(0, soEnd);
    Seek(position, soBeginning);
    return size;
}

void TSiStream::ReadBuffer(void* ABuffer, std::size_t ACount) {
    auto* target = static_cast<std::uint8_t*>(ABuffer);
    while (ACount > 0) {
        const std::size_t read = Read(target, ACount);
        if (read == 0 || read > ACount) {
            throw ESiStreamError("Stream read error");
        }
        target += read;
        ACount -= read;
    }
}

void TSiStream::WriteBuffer(const void* ABuffer, std::size_t ACount) {
    const auto* source = static_cast<const std::uint8_t*>(ABuffer);
    while (ACount > 0) {
        const std::size_t written = Write(source, ACount);
        if (written == 0 || written > ACount) {
            throw ESiStreamError("Stream write error");
        }
        source += written;
        ACount -= written;
    }
}

std::size_t TSiMemoryStream::Read(void* ABuffer, std::size_t ACount) {
    if (FPosition >= FBuffer.size()) {
        return 0;
    }
    const std::size_t count = std::min(ACount, FBuffer.size() - FPosition);
    std::memcpy(ABuffer, FBuffer.data() + FPosition, count);
    FPosition += count;
    return count;
}

std::size_t TSiMemoryStream::Write(const void* ABuffer, std::size_t ACount) {
    if (ACount == 0) {
        return 0;
    }
    if (ACount > FBuffer.max_size() - FPosition) {
        throw ESiStreamError("Stream write error");
    }
    const std::size_t end = FPosition + ACount;
    if (end > FBuffer.size()) {
        // Grows geometrically, so a sequence of small writes stays amortised.
        FBuffer.resize(end);
    }
    std::memcpy(FBuffer.data() + FPosition, ABuffer, ACount);
    FPosition = end;
    return ACount;
}

std::int64_t TSiMemoryStream::Seek(std::int64_t AOffset, TSiSeekOrigin AOrigin) {
    std::int64_t base = 0;
    switch (AOrigin) {
        case soBeginning:
            base = 0;
            break;
        case soCurrent:
            base = static_cast<std::int64_t>(FPosition);
            break;
        case soEnd:
            base = static_cast<std::int64_t>(FBuffer.size());
            break;
    }
    const std::int64_t position = base + AOffset;
    if (position < 0) {
        throw ESiStreamError("Stream seek before the beginning");
    }
    FPosition = static_cast<std::size_t>(position);
    return position;
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
    const std::int64_t size = AStream.GetSize();
    if (size < 0) {
        throw ESiStreamError("Stream read error");
    }
    AStream.SetPosition(0);
    // Read into new memory and swap it in: the content stays intact if the read fails, and
    // a stream may load from itself.
    std::vector<std::uint8_t> content(static_cast<std::size_t>(size));
    AStream.ReadBuffer(content.data(), content.size());
    FBuffer.swap(content);
    FPosition = 0;
}

}  // namespace deruz::logging
