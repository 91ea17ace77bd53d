// The chaining modes of TBlockCipher and the AES key schedules and table code of TRijndael.
#include "logging/crypto/cipher.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "logging/crypto/aes_ni.h"

namespace deruz::logging {

namespace {

// The AES tables are computed at compile time from the field arithmetic of FIPS-197 rather
// than typed in, so a typo cannot hide in 1280 constants; the FIPS-197 test vectors check the
// result.

constexpr std::uint8_t XTime(std::uint8_t AValue) noexcept {
    return static_cast<std::uint8_t>((AValue << 1) ^ ((AValue & 0x80) != 0 ? 0x1B : 0x00));
}

constexpr std::uint8_t GfMul(std::uint8_t A_, std::uint8_t AB) noexcept {
    std::uint8_t LProduct = 0;
    while (AB != 0) {
        if ((AB & 1) != 0) {
            LProduct ^= A_;
        }
        A_ = XTime(A_);
        AB >>= 1;
    }
    return LProduct;
}

constexpr std::uint8_t RotateLeft8(std::uint8_t AValue, int AShift) noexcept {
    return static_cast<std::uint8_t>((AValue << AShift) | (AValue >> (8 - AShift)));
}

constexpr std::array<std::uint8_t, 256> MakeSBox() noexcept {
    std::array<std::uint8_t, 256> LBox{};
    for (int LX = 0; LX < 256; ++LX) {
        // The multiplicative inverse is x^254 in GF(2^8); 0 maps to 0.
        std::uint8_t LInverse = 1;
        for (int LI = 0; LI < 254; ++LI) {
            LInverse = GfMul(LInverse, static_cast<std::uint8_t>(LX));
        }
        if (LX == 0) {
            LInverse = 0;
        }
        LBox[LX] = static_cast<std::uint8_t>(LInverse ^ RotateLeft8(LInverse, 1) ^
                                             RotateLeft8(LInverse, 2) ^ RotateLeft8(LInverse, 3) ^
                                             RotateLeft8(LInverse, 4) ^ 0x63);
    }
    return LBox;
}

constexpr std::array<std::uint8_t, 256> SBox = MakeSBox();

constexpr std::uint32_t RotateRight32(std::uint32_t AValue, int AShift) noexcept {
    return (AValue >> AShift) | (AValue << (32 - AShift));
}

// Te[n][x]: SubBytes and MixColumns of byte x in row n, as a big-endian column word.
constexpr std::array<std::array<std::uint32_t, 256>, 4> MakeTe() noexcept {
    std::array<std::array<std::uint32_t, 256>, 4> LTe{};
    for (int LX = 0; LX < 256; ++LX) {
        const std::uint8_t LS = SBox[LX];
        const std::uint32_t LColumn = (std::uint32_t{GfMul(LS, 2)} << 24) |
                                      (std::uint32_t{LS} << 16) | (std::uint32_t{LS} << 8) |
                                      std::uint32_t{GfMul(LS, 3)};
        for (int LN = 0; LN < 4; ++LN) {
            LTe[LN][LX] = LN == 0 ? LColumn : RotateRight32(LColumn, 8 * LN);
        }
    }
    return LTe;
}

constexpr auto Te = MakeTe();

constexpr std::array<std::uint8_t, 256> MakeInvSBox() noexcept {
    std::array<std::uint8_t, 256> LBox{};
    for (int LX = 0; LX < 256; ++LX) {
        LBox[SBox[LX]] = static_cast<std::uint8_t>(LX);
    }
    return LBox;
}

constexpr std::array<std::uint8_t, 256> InvSBox = MakeInvSBox();

// Td[n][x]: InvSubBytes and InvMixColumns of byte x in row n, as a big-endian column word.
constexpr std::array<std::array<std::uint32_t, 256>, 4> MakeTd() noexcept {
    std::array<std::array<std::uint32_t, 256>, 4> LTd{};
    for (int LX = 0; LX < 256; ++LX) {
        const std::uint8_t LS = InvSBox[LX];
        const std::uint32_t LColumn =
            (std::uint32_t{GfMul(LS, 14)} << 24) | (std::uint32_t{GfMul(LS, 9)} << 16) |
            (std::uint32_t{GfMul(LS, 13)} << 8) | std::uint32_t{GfMul(LS, 11)};
        for (int LN = 0; LN < 4; ++LN) {
            LTd[LN][LX] = LN == 0 ? LColumn : RotateRight32(LColumn, 8 * LN);
        }
    }
    return LTd;
}

constexpr auto Td = MakeTd();

constexpr std::uint32_t LoadBigEndian(const std::uint8_t* ABytes) noexcept {
    return (std::uint32_t{ABytes[0]} << 24) | (std::uint32_t{ABytes[1]} << 16) |
           (std::uint32_t{ABytes[2]} << 8) | std::uint32_t{ABytes[3]};
}

void StoreBigEndian(std::uint32_t AValue, std::uint8_t* ABytes) noexcept {
    ABytes[0] = static_cast<std::uint8_t>(AValue >> 24);
    ABytes[1] = static_cast<std::uint8_t>(AValue >> 16);
    ABytes[2] = static_cast<std::uint8_t>(AValue >> 8);
    ABytes[3] = static_cast<std::uint8_t>(AValue);
}

// InvMixColumns of one column word: Td undoes the S-box that it includes through SBox.
std::uint32_t InvMixColumn(std::uint32_t AWord) noexcept {
    return Td[0][SBox[AWord >> 24]] ^ Td[1][SBox[(AWord >> 16) & 0xFF]] ^
           Td[2][SBox[(AWord >> 8) & 0xFF]] ^ Td[3][SBox[AWord & 0xFF]];
}

// The last round of either direction: ABox applied to one byte of each of four state words
// (the row shift is in the choice of words), then the round key.
std::uint32_t LastRoundWord(const std::array<std::uint8_t, 256>& ABox, std::uint32_t A_,
                            std::uint32_t AB, std::uint32_t AC, std::uint32_t AD,
                            std::uint32_t AKey) noexcept {
    return ((std::uint32_t{ABox[A_ >> 24]} << 24) | (std::uint32_t{ABox[(AB >> 16) & 0xFF]} << 16) |
            (std::uint32_t{ABox[(AC >> 8) & 0xFF]} << 8) | std::uint32_t{ABox[AD & 0xFF]}) ^
           AKey;
}

std::uint32_t SubWord(std::uint32_t AWord) noexcept {
    return (std::uint32_t{SBox[AWord >> 24]} << 24) |
           (std::uint32_t{SBox[(AWord >> 16) & 0xFF]} << 16) |
           (std::uint32_t{SBox[(AWord >> 8) & 0xFF]} << 8) | std::uint32_t{SBox[AWord & 0xFF]};
}

void XorBlock(std::uint8_t* ATarget, const std::uint8_t* ASource, std::size_t ACount) noexcept {
    for (std::size_t LI = 0; LI < ACount; ++LI) {
        ATarget[LI] ^= ASource[LI];
    }
}

void CheckMode(TCipherMode AMode) {
    if (AMode > cmCTR) {
        throw std::logic_error("Cipher mode not supported");
    }
}

// Wipes a local copy of key material on every way out of the scope.
class TWipeGuard {
  public:
    TWipeGuard(void* ABuffer, std::size_t ACount) noexcept : FBuffer(ABuffer), FCount(ACount) {}
    TWipeGuard(const TWipeGuard&) = delete;
    TWipeGuard& operator=(const TWipeGuard&) = delete;
    ~TWipeGuard() { ProtectClear(FBuffer, FCount); }

  private:
    void* FBuffer;
    std::size_t FCount;
};

}  // namespace

void ProtectClear(void* ABuffer, std::size_t ACount) noexcept {
    auto* LBytes = static_cast<volatile std::uint8_t*>(ABuffer);
    for (const std::uint8_t LPattern : {0xFF, 0xAA, 0x55, 0x00}) {
        for (std::size_t LI = 0; LI < ACount; ++LI) {
            LBytes[LI] = LPattern;
        }
    }
}

void TCipher::SetMode(TCipherMode AMode) {
    CheckMode(AMode);
    FMode = AMode;
}

TBlockCipher::~TBlockCipher() {
    ProtectClear(FIV.data(), FIV.size());
    ProtectClear(FKeyStream.data(), FKeyStream.size());
    FFBIndex = 0;
}

std::span<const std::uint8_t> TBlockCipher::IVector() const noexcept {
    return {FIV.data(), static_cast<std::size_t>(BlockSize())};
}

void TBlockCipher::SetIVector(std::span<const std::uint8_t> AVector) {
    const auto LBlockSize = static_cast<std::size_t>(BlockSize());
    if (AVector.size() != LBlockSize) {
        throw ECipherError("Invalid initialization vector size - " +
                           std::to_string(AVector.size()));
    }
    std::copy(AVector.begin(), AVector.end(), FIV.begin());
    FFBIndex = 0;
}

void TBlockCipher::Encrypt(void* ABuffer, std::size_t ACount) {
    Crypt(ABuffer, ACount, false);
}

void TBlockCipher::Decrypt(void* ABuffer, std::size_t ACount) {
    Crypt(ABuffer, ACount, true);
}

void TBlockCipher::Crypt(void* ABuffer, std::size_t ACount, bool ADecrypt) {
    CheckMode(FMode);
    auto* LData = static_cast<std::uint8_t*>(ABuffer);
    const auto LBlockSize = static_cast<std::size_t>(BlockSize());
    switch (FMode) {
        case cmECB:
        case cmCBC:
            if (ACount % LBlockSize != 0) {
                throw ECipherError("Data size is not a multiple of the block size - " +
                                   std::to_string(ACount));
            }
            if (FMode == cmECB && ADecrypt) {
                DecryptECB(LData, ACount / LBlockSize);
            } else if (FMode == cmECB) {
                EncryptECB(LData, ACount / LBlockSize);
            } else if (ADecrypt) {
                DecryptCBC(LData, ACount / LBlockSize);
            } else {
                EncryptCBC(LData, ACount / LBlockSize);
            }
            break;
        case cmCFB:
        case cmOFB:
        case cmCTR:
            CryptStream(LData, ACount, ADecrypt);
            break;
        default:
            throw std::logic_error("Cipher mode not supported");
    }
}

void TBlockCipher::EncryptCBC(std::uint8_t* AData, std::size_t ABlocks) {
    const auto LBlockSize = static_cast<std::size_t>(BlockSize());
    for (std::size_t LI = 0; LI < ABlocks; ++LI, AData += LBlockSize) {
        XorBlock(AData, FIV.data(), LBlockSize);
        EncryptECB(AData, 1);
        std::memcpy(FIV.data(), AData, LBlockSize);
    }
}

void TBlockCipher::DecryptCBC(std::uint8_t* AData, std::size_t ABlocks) {
    const auto LBlockSize = static_cast<std::size_t>(BlockSize());
    std::array<std::uint8_t, kMaxBlockSize> LCipher{};
    for (std::size_t LI = 0; LI < ABlocks; ++LI, AData += LBlockSize) {
        std::memcpy(LCipher.data(), AData, LBlockSize);
        DecryptECB(AData, 1);
        XorBlock(AData, FIV.data(), LBlockSize);
        std::memcpy(FIV.data(), LCipher.data(), LBlockSize);
    }
}

// The three stream modes share one loop for both directions: at the start of each key stream
// block the next block is produced (CFB and OFB encrypt FIV in place; CTR encrypts the counter
// into FKeyStream and counts up), then bytes are XORed with it. CFB feeds the ciphertext back
// into FIV: the output when encrypting, the input when decrypting.
void TBlockCipher::CryptStream(std::uint8_t* AData, std::size_t ACount, bool ADecrypt) {
    const auto LBlockSize = static_cast<std::size_t>(BlockSize());
    for (std::size_t LI = 0; LI < ACount; ++LI) {
        if (FFBIndex == 0) {
            if (FMode == cmCTR) {
                std::memcpy(FKeyStream.data(), FIV.data(), LBlockSize);
                EncryptECB(FKeyStream.data(), 1);
                for (std::size_t LN = LBlockSize; LN-- > 0;) {
                    if (++FIV[LN] != 0) {
                        break;
                    }
                }
            } else {
                EncryptECB(FIV.data(), 1);
            }
        }
        const auto LIndex = static_cast<std::size_t>(FFBIndex);
        if (FMode == cmCTR) {
            AData[LI] ^= FKeyStream[LIndex];
        } else if (FMode == cmOFB) {
            AData[LI] ^= FIV[LIndex];
        } else {
            const std::uint8_t LInput = AData[LI];
            AData[LI] ^= FIV[LIndex];
            FIV[LIndex] = ADecrypt ? LInput : AData[LI];
        }
        FFBIndex = static_cast<std::int32_t>((LIndex + 1) % LBlockSize);
    }
}

TRijndael::TRijndael(const void* AKey, int ACount, TAesEngine AEngine) {
    if (ACount <= 0 || ACount > MaxKeySize()) {
        throw ECipherError("Rijndael: Invalid key size - " + std::to_string(ACount));
    }
    // Shorter keys are zero-filled to the next AES key size.
    const int LKeyBytes = ACount <= 16 ? 16 : ACount <= 24 ? 24 : 32;
    const int LKeyWords = LKeyBytes / 4;
    FNumrounds = LKeyWords + 6;

    std::array<std::uint8_t, 32> LKey{};
    const TWipeGuard LKeyGuard(LKey.data(), LKey.size());
    std::memcpy(LKey.data(), AKey, static_cast<std::size_t>(ACount));

    // FIPS-197 key expansion into big-endian words.
    const int LTotalWords = 4 * (FNumrounds + 1);
    for (int LI = 0; LI < LKeyWords; ++LI) {
        FRk[LI] = LoadBigEndian(LKey.data() + 4 * LI);
    }
    std::uint32_t LRoundConstant = 0x01;
    for (int LI = LKeyWords; LI < LTotalWords; ++LI) {
        std::uint32_t LTemp = FRk[LI - 1];
        if (LI % LKeyWords == 0) {
            LTemp = SubWord((LTemp << 8) | (LTemp >> 24)) ^ (LRoundConstant << 24);
            LRoundConstant = XTime(static_cast<std::uint8_t>(LRoundConstant));
        } else if (LKeyWords > 6 && LI % LKeyWords == 4) {
            LTemp = SubWord(LTemp);
        }
        FRk[LI] = FRk[LI - LKeyWords] ^ LTemp;
    }

    // The equivalent inverse cipher (FIPS-197 5.3.5) runs its rounds in the same order as
    // encryption, table lookups and all, with the round keys reversed and the middle ones
    // passed through InvMixColumns.
    for (int LRound = 0; LRound <= FNumrounds; ++LRound) {
        for (int LN = 0; LN < 4; ++LN) {
            const std::uint32_t LWord = FRk[4 * (FNumrounds - LRound) + LN];
            FDk[4 * LRound + LN] =
                LRound == 0 || LRound == FNumrounds ? LWord : InvMixColumn(LWord);
        }
    }

    FUseAesNi = AEngine == aeAuto && SiAesNiAvailable();
    if (FUseAesNi) {
        // The instructions take each round key as the 16 bytes in their natural order.
        std::array<std::uint8_t, sizeof(FRk)> LBytes{};
        const TWipeGuard LBytesGuard(LBytes.data(), LBytes.size());
        for (auto* LSchedule : {&FRk, &FDk}) {
            for (int LI = 0; LI < LTotalWords; ++LI) {
                StoreBigEndian((*LSchedule)[LI], LBytes.data() + 4 * LI);
            }
            std::memcpy(LSchedule->data(), LBytes.data(), LBytes.size());
        }
    }
}

TRijndael::~TRijndael() {
    ProtectClear(FRk.data(), sizeof(FRk));
    ProtectClear(FDk.data(), sizeof(FDk));
    FNumrounds = 0;
}

bool TRijndael::AesNiAvailable() noexcept {
    return SiAesNiAvailable();
}

void TRijndael::EncryptECB(std::uint8_t* AData, std::size_t ABlocks) {
    if (FUseAesNi) {
        SiAesNiEncryptECB(reinterpret_cast<const std::uint8_t*>(FRk.data()), FNumrounds, AData,
                          ABlocks);
        return;
    }
    for (std::size_t LI = 0; LI < ABlocks; ++LI) {
        EncryptBlockPortable(AData + 16 * LI);
    }
}

void TRijndael::EncryptCBC(std::uint8_t* AData, std::size_t ABlocks) {
    if (FUseAesNi) {
        SiAesNiEncryptCBC(reinterpret_cast<const std::uint8_t*>(FRk.data()), FNumrounds, FIV.data(),
                          AData, ABlocks);
        return;
    }
    for (std::size_t LI = 0; LI < ABlocks; ++LI, AData += 16) {
        XorBlock(AData, FIV.data(), 16);
        EncryptBlockPortable(AData);
        std::memcpy(FIV.data(), AData, 16);
    }
}

// One block with the combined tables: each middle round is four lookups per column, the last
// round (no MixColumns) uses the S-box alone.
void TRijndael::EncryptBlockPortable(std::uint8_t* ABlock) const noexcept {
    const std::uint32_t* LKey = FRk.data();
    std::uint32_t LS0 = LoadBigEndian(ABlock) ^ LKey[0];
    std::uint32_t LS1 = LoadBigEndian(ABlock + 4) ^ LKey[1];
    std::uint32_t LS2 = LoadBigEndian(ABlock + 8) ^ LKey[2];
    std::uint32_t LS3 = LoadBigEndian(ABlock + 12) ^ LKey[3];
    for (int LRound = 1; LRound < FNumrounds; ++LRound) {
        LKey += 4;
        const std::uint32_t LT0 = Te[0][LS0 >> 24] ^ Te[1][(LS1 >> 16) & 0xFF] ^
                                  Te[2][(LS2 >> 8) & 0xFF] ^ Te[3][LS3 & 0xFF] ^ LKey[0];
        const std::uint32_t LT1 = Te[0][LS1 >> 24] ^ Te[1][(LS2 >> 16) & 0xFF] ^
                                  Te[2][(LS3 >> 8) & 0xFF] ^ Te[3][LS0 & 0xFF] ^ LKey[1];
        const std::uint32_t LT2 = Te[0][LS2 >> 24] ^ Te[1][(LS3 >> 16) & 0xFF] ^
                                  Te[2][(LS0 >> 8) & 0xFF] ^ Te[3][LS1 & 0xFF] ^ LKey[2];
        const std::uint32_t LT3 = Te[0][LS3 >> 24] ^ Te[1][(LS0 >> 16) & 0xFF] ^
                                  Te[2][(LS1 >> 8) & 0xFF] ^ Te[3][LS2 & 0xFF] ^ LKey[3];
        LS0 = LT0;
        LS1 = LT1;
        LS2 = LT2;
        LS3 = LT3;
    }
    LKey += 4;
    StoreBigEndian(LastRoundWord(SBox, LS0, LS1, LS2, LS3, LKey[0]), ABlock);
    StoreBigEndian(LastRoundWord(SBox, LS1, LS2, LS3, LS0, LKey[1]), ABlock + 4);
    StoreBigEndian(LastRoundWord(SBox, LS2, LS3, LS0, LS1, LKey[2]), ABlock + 8);
    StoreBigEndian(LastRoundWord(SBox, LS3, LS0, LS1, LS2, LKey[3]), ABlock + 12);
}

void TRijndael::DecryptECB(std::uint8_t* AData, std::size_t ABlocks) {
    if (FUseAesNi) {
        SiAesNiDecryptECB(reinterpret_cast<const std::uint8_t*>(FDk.data()), FNumrounds, AData,
                          ABlocks);
        return;
    }
    for (std::size_t LI = 0; LI < ABlocks; ++LI) {
        DecryptBlockPortable(AData + 16 * LI);
    }
}

void TRijndael::DecryptCBC(std::uint8_t* AData, std::size_t ABlocks) {
    if (FUseAesNi) {
        SiAesNiDecryptCBC(reinterpret_cast<const std::uint8_t*>(FDk.data()), FNumrounds, FIV.data(),
                          AData, ABlocks);
        return;
    }
    std::uint8_t LCipher[16];
    for (std::size_t LI = 0; LI < ABlocks; ++LI, AData += 16) {
        std::memcpy(LCipher, AData, 16);
        DecryptBlockPortable(AData);
        XorBlock(AData, FIV.data(), 16);
        std::memcpy(FIV.data(), LCipher, 16);
    }
}

// The mirror of EncryptBlockPortable: the inverse row shift takes each column's bytes from the
// columns to its right instead of its left.
void TRijndael::DecryptBlockPortable(std::uint8_t* ABlock) const noexcept {
    const std::uint32_t* LKey = FDk.data();
    std::uint32_t LS0 = LoadBigEndian(ABlock) ^ LKey[0];
    std::uint32_t LS1 = LoadBigEndian(ABlock + 4) ^ LKey[1];
    std::uint32_t LS2 = LoadBigEndian(ABlock + 8) ^ LKey[2];
    std::uint32_t LS3 = LoadBigEndian(ABlock + 12) ^ LKey[3];
    for (int LRound = 1; LRound < FNumrounds; ++LRound) {
        LKey += 4;
        const std::uint32_t LT0 = Td[0][LS0 >> 24] ^ Td[1][(LS3 >> 16) & 0xFF] ^
                                  Td[2][(LS2 >> 8) & 0xFF] ^ Td[3][LS1 & 0xFF] ^ LKey[0];
        const std::uint32_t LT1 = Td[0][LS1 >> 24] ^ Td[1][(LS0 >> 16) & 0xFF] ^
                                  Td[2][(LS3 >> 8) & 0xFF] ^ Td[3][LS2 & 0xFF] ^ LKey[1];
        const std::uint32_t LT2 = Td[0][LS2 >> 24] ^ Td[1][(LS1 >> 16) & 0xFF] ^
                                  Td[2][(LS0 >> 8) & 0xFF] ^ Td[3][LS3 & 0xFF] ^ LKey[2];
        const std::uint32_t LT3 = Td[0][LS3 >> 24] ^ Td[1][(LS2 >> 16) & 0xFF] ^
                                  Td[2][(LS1 >> 8) & 0xFF] ^ Td[3][LS0 & 0xFF] ^ LKey[3];
        LS0 = LT0;
        LS1 = LT1;
        LS2 = LT2;
        LS3 = LT3;
    }
    LKey += 4;
    StoreBigEndian(LastRoundWord(InvSBox, LS0, LS3, LS2, LS1, LKey[0]), ABlock);
    StoreBigEndian(LastRoundWord(InvSBox, LS1, LS0, LS3, LS2, LKey[1]), ABlock + 4);
    StoreBigEndian(LastRoundWord(InvSBox, LS2, LS1, LS0, LS3, LKey[2]), ABlock + 8);
    StoreBigEndian(LastRoundWord(InvSBox, LS3, LS2, LS1, LS0, LKey[3]), ABlock + 12);
}

}  // namespace deruz::logging
