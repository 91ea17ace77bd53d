// The encrypting write-only stream.
#include "logging/crypto/encrypt_stream.h"

#include <algorithm>
#include <cstring>

namespace deruz::logging {

TEncryptStream::TEncryptStream(TSiStream& ADataStream, TBlockCipher& ACipher)
    : FBlockSize(ACipher.BlockSize()), FCipher(&ACipher), FDataStream(&ADataStream) {}

TEncryptStream::~TEncryptStream() {
    ProtectClear(FBlock.data(), FBlock.size());
    FBlockCount = 0;
}

std::size_t TEncryptStream::Read(void*, std::size_t) {
    return 0;
}

std::size_t TEncryptStream::Write(const void* ABuffer, std::size_t ACount) {
    if (ACount == 0) {
        return 0;
    }
    const auto* source = static_cast<const std::uint8_t*>(ABuffer);
    const auto blockSize = static_cast<std::size_t>(FBlockSize);
    const std::size_t pieceLimit = kPieceSize / blockSize * blockSize;
    std::size_t remaining = ACount;
    // The work buffer holds plaintext only between the copy and the in-place encryption,
    // which cannot fail, so it needs no wiping: afterwards it holds ciphertext.
    std::array<std::uint8_t, kPieceSize> piece;
    while (static_cast<std::size_t>(FBlockCount) + remaining >= blockSize) {
        const auto pending = static_cast<std::size_t>(FBlockCount);
        const std::size_t size =
            std::min(pieceLimit, (pending + remaining) / blockSize * blockSize);
        std::memcpy(piece.data(), FBlock.data(), pending);
        std::memcpy(piece.data() + pending, source, size - pending);
        source += size - pending;
        remaining -= size - pending;
        FBlockCount = 0;
        FCipher->Encrypt(piece.data(), size);
        FDataStream->WriteBuffer(piece.data(), size);
    }
    std::memcpy(FBlock.data() + FBlockCount, source, remaining);
    FBlockCount += static_cast<std::int32_t>(remaining);
    return ACount;
}

std::int64_t TEncryptStream::Seek(std::int64_t AOffset, TSiSeekOrigin AOrigin) {
    return FDataStream->Seek(AOffset, AOrigin);
}

int TEncryptStream::Done() {
    const int padding = FBlockSize - FBlockCount;
    std::fill(FBlock.begin() + FBlockCount, FBlock.begin() + FBlockSize,
              static_cast<std::uint8_t>(padding));
    FBlockCount = 0;
    FCipher->Encrypt(FBlock.data(), static_cast<std::size_t>(FBlockSize));
    FDataStream->WriteBuffer(FBlock.data(), static_cast<std::size_t>(FBlockSize));
    ProtectClear(FBlock.data(), FBlock.size());
    return padding;
}

}  // namespace deruz::logging
