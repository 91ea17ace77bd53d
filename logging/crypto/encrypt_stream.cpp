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
    const auto* LSource = static_cast<const std::uint8_t*>(ABuffer);
    const auto LBlockSize = static_cast<std::size_t>(FBlockSize);
    const std::size_t LPieceLimit = kPieceSize / LBlockSize * LBlockSize;
    std::size_t LRemaining = ACount;
    // The work buffer holds plaintext only between the copy and the in-place encryption,
    // which cannot fail, so it needs no wiping: afterwards it holds ciphertext.
    std::array<std::uint8_t, kPieceSize> LPiece;
    while (static_cast<std::size_t>(FBlockCount) + LRemaining >= LBlockSize) {
        const auto LPending = static_cast<std::size_t>(FBlockCount);
        const std::size_t LSize =
            std::min(LPieceLimit, (LPending + LRemaining) / LBlockSize * LBlockSize);
        std::memcpy(LPiece.data(), FBlock.data(), LPending);
        std::memcpy(LPiece.data() + LPending, LSource, LSize - LPending);
        LSource += LSize - LPending;
        LRemaining -= LSize - LPending;
        FBlockCount = 0;
        FCipher->Encrypt(LPiece.data(), LSize);
        FDataStream->WriteBuffer(LPiece.data(), LSize);
    }
    std::memcpy(FBlock.data() + FBlockCount, LSource, LRemaining);
    FBlockCount += static_cast<std::int32_t>(LRemaining);
    return ACount;
}

std::int64_t TEncryptStream::Seek(std::int64_t AOffset, TSiSeekOrigin AOrigin) {
    return FDataStream->Seek(AOffset, AOrigin);
}

int TEncryptStream::Done() {
    const int LPadding = FBlockSize - FBlockCount;
    std::fill(FBlock.begin() + FBlockCount, FBlock.begin() + FBlockSize,
              static_cast<std::uint8_t>(LPadding));
    FBlockCount = 0;
    FCipher->Encrypt(FBlock.data(), static_cast<std::size_t>(FBlockSize));
    FDataStream->WriteBuffer(FBlock.data(), static_cast<std::size_t>(FBlockSize));
    ProtectClear(FBlock.data(), FBlock.size());
    return LPadding;
}

}  // namespace deruz::logging
