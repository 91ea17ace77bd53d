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

constexpr std::uint8_t GfMul(std::uint8_t A, std::uint8_t B) noexcept {
    std::uint8_t product = 0;
    while (B != 0) {
        if ((B & 1) != 0) {
            product ^= A;
        }
        A = XTime(A);
        B >>= 1;
    }
    return product;
}

constexpr std::uint8_t RotateLeft8(std::uint8_t AValue, int AShift) noexcept {
    return static_cast<std::uint8_t>((AValue << AShift) | (AValue >> (8 - AShift)));
}

constexpr std::array<std::uint8_t, 256> MakeSBox() noexcept {
    std::array<std::uint8_t, 256> box{};
    for (int x = 0; x < 256; ++x) {
        // The multiplicative inverse is x^254 in GF(2^8); 0 maps to 0.
        std::uint8_t inverse = 1;
        for (int i = 0; i < 254; ++i) {
            inverse = GfMul(inverse, static_cast<std::uint8_t>(x));
        }
        if (x == 0) {
            inverse = 0;
        }
        box[x] =
            static_cast<std::uint8_t>(inverse ^ RotateLeft8(inverse, 1) ^ RotateLeft8(inverse, 2) ^
                                      RotateLeft8(inverse, 3) ^ RotateLeft8(inverse, 4) ^ 0x63);
    }
    return box;
}

constexpr std::array<std::uint8_t, 256> SBox = MakeSBox();

constexpr std::uint32_t RotateRight32(std::uint32_t AValue, int AShift) noexcept {
    return (AValue >> AShift) | (AValue << (32 - AShift));
}

// Te[n][x]: SubBytes and MixColumns of byte x in row n, as a big-endian column word.
constexpr std::array<std::array<std::uint32_t, 256>, 4> MakeTe() noexcept {
    std::array<std::array<std::uint32_t, 256>, 4> te{};
    for (int x = 0; x < 256; ++x) {
        const std::uint8_t s = SBox[x];
        const std::uint32_t column = (std::uint32_t{GfMul(s, 2)} << 24) | (std::uint32_t{s} << 16) |
                                     (std::uint32_t{s} << 8) | std::uint32_t{GfMul(s, 3)};
        for (int n = 0; n < 4; ++n) {
            te[n][x] = n == 0 ? column : RotateRight32(column, 8 * n);
        }
    }
    return te;
}

constexpr auto Te = MakeTe();

constexpr std::array<std::uint8_t, 256> MakeInvSBox() noexcept {
    std::array<std::uint8_t, 256> box{};
    for (int x = 0; x < 256; ++x) {
        box[SBox[x]] = static_cast<std::uint8_t>(x);
    }
    return box;
}

constexpr std::array<std::uint8_t, 256> InvSBox = MakeInvSBox();

// Td[n][x]: InvSubBytes and InvMixColumns of byte x in row n, as a big-endian column word.
constexpr std::array<std::array<std::uint32_t, 256>, 4> MakeTd() noexcept {
    std::array<std::array<std::uint32_t, 256>, 4> td{};
    for (int x = 0; x < 256; ++x) {
        const std::uint8_t s = InvSBox[x];
        const std::uint32_t column =
            (std::uint32_t{GfMul(s, 14)} << 24) | (std::uint32_t{GfMul(s, 9)} << 16) |
            (std::uint32_t{GfMul(s, 13)} << 8) | std::uint32_t{GfMul(s, 11)};
        for (int n = 0; n < 4; ++n) {
            td[n][x] = n == 0 ? column : RotateRight32(column, 8 * n);
        }
    }
    return td;
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
std::uint32_t LastRoundWord(const std::array<std::uint8_t, 256>& ABox, std::uint32_t A,
                            std::uint32_t B, std::uint32_t C, std::uint32_t D,
                            std::uint32_t AKey) noexcept {
    return ((std::uint32_t{ABox[A >> 24]} << 24) | (std::uint32_t{ABox[(B >> 16) & 0xFF]} << 16) |
            (std::uint32_t{ABox[(C >> 8) & 0xFF]} << 8) | std::uint32_t{ABox[D & 0xFF]}) ^
           AKey;
}

std::uint32_t SubWord(std::uint32_t AWord) noexcept {
    return (std::uint32_t{SBox[AWord >> 24]} << 24) |
           (std::uint32_t{SBox[(AWord >> 16) & 0xFF]} << 16) |
           (std::uint32_t{SBox[(AWord >> 8) & 0xFF]} << 8) | std::uint32_t{SBox[AWord & 0xFF]};
}

void XorBlock(std::uint8_t* ATarget, const std::uint8_t* ASource, std::size_t ACount) noexcept {
    for (std::size_t i = 0; i < ACount; ++i) {
        ATarget[i] ^= ASource[i];
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
    auto* bytes = static_cast<volatile std::uint8_t*>(ABuffer);
    for (const std::uint8_t pattern : {0xFF, 0xAA, 0x55, 0x00}) {
        for (std::size_t i = 0; i < ACount; ++i) {
            bytes[i] = pattern;
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
    const auto blockSize = static_cast<std::size_t>(BlockSize());
    if (AVector.size() != blockSize) {
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
    auto* data = static_cast<std::uint8_t*>(ABuffer);
    const auto blockSize = static_cast<std::size_t>(BlockSize());
    switch (FMode) {
        case cmECB:
        case cmCBC:
            if (ACount % blockSize != 0) {
                throw ECipherError("Data size is not a multiple of the block size - " +
                                   std::to_string(ACount));
            }
            if (FMode == cmECB && ADecrypt) {
                DecryptECB(data, ACount / blockSize);
            } else if (FMode == cmECB) {
                EncryptECB(data, ACount / blockSize);
            } else if (ADecrypt) {
                DecryptCBC(data, ACount / blockSize);
            } else {
                EncryptCBC(data, ACount / blockSize);
            }
            break;
        case cmCFB:
        case cmOFB:
        case cmCTR:
            CryptStream(data, ACount, ADecrypt);
            break;
        default:
            throw std::logic_error("Cipher mode not supported");
    }
}

void TBlockCipher::EncryptCBC(std::uint8_t* AData, std::size_t ABlocks) {
    const auto blockSize = static_cast<std::size_t>(BlockSize());
    for (std::size_t i = 0; i < ABlocks; ++i, AData += blockSize) {
        XorBlock(AData, FIV.data(), blockSize);
        EncryptECB(AData, 1);
        std::memcpy(FIV.data(), AData, blockSize);
    }
}

void TBlockCipher::DecryptCBC(std::uint8_t* AData, std::size_t ABlocks) {
    const auto blockSize = static_cast<std::size_t>(BlockSize());
    std::array<std::uint8_t, kMaxBlockSize> cipher{};
    for (std::size_t i = 0; i < ABlocks; ++i, AData += blockSize) {
        std::memcpy(cipher.data(), AData, blockSize);
        DecryptECB(AData, 1);
        XorBlock(AData, FIV.data(), blockSize);
        std::memcpy(FIV.data(), cipher.data(), blockSize);
    }
}

// The three stream modes share one loop for both directions: at the start of each key stream
// block the next block is produced (CFB and OFB encrypt FIV in place; CTR encrypts the counter
// into FKeyStream and counts up), then bytes are XORed with it. CFB feeds the ciphertext back
// into FIV: the output when encrypting, the input when decrypting.
void TBlockCipher::CryptStream(std::uint8_t* AData, std::size_t ACount, bool ADecrypt) {
    const auto blockSize = static_cast<std::size_t>(BlockSize());
    for (std::size_t i = 0; i < ACount; ++i) {
        if (FFBIndex == 0) {
            if (FMode == cmCTR) {
                std::memcpy(FKeyStream.data(), FIV.data(), blockSize);
                EncryptECB(FKeyStream.data(), 1);
                for (std::size_t n = blockSize; n-- > 0;) {
                    if (++FIV[n] != 0) {
                        break;
                    }
                }
            } else {
                EncryptECB(FIV.data(), 1);
            }
        }
        const auto index = static_cast<std::size_t>(FFBIndex);
        if (FMode == cmCTR) {
            AData[i] ^= FKeyStream[index];
        } else if (FMode == cmOFB) {
            AData[i] ^= FIV[index];
        } else {
            const std::uint8_t input = AData[i];
            AData[i] ^= FIV[index];
            FIV[index] = ADecrypt ? input : AData[i];
        }
        FFBIndex = static_cast<std::int32_t>((index + 1) % blockSize);
    }
}

TRijndael::TRijndael(const void* AKey, int ACount, TAesEngine AEngine) {
    if (ACount <= 0 || ACount > MaxKeySize()) {
        throw ECipherError("Rijndael: Invalid key size - " + std::to_string(ACount));
    }
    // Shorter keys are zero-filled to the next AES key size.
    const int keyBytes = ACount <= 16 ? 16 : ACount <= 24 ? 24 : 32;
    const int keyWords = keyBytes / 4;
    numrounds = keyWords + 6;

    std::array<std::uint8_t, 32> key{};
    const TWipeGuard keyGuard(key.data(), key.size());
    std::memcpy(key.data(), AKey, static_cast<std::size_t>(ACount));

    // FIPS-197 key expansion into big-endian words.
    const int totalWords = 4 * (numrounds + 1);
    for (int i = 0; i < keyWords; ++i) {
        rk[i] = LoadBigEndian(key.data() + 4 * i);
    }
    std::uint32_t roundConstant = 0x01;
    for (int i = keyWords; i < totalWords; ++i) {
        std::uint32_t temp = rk[i - 1];
        if (i % keyWords == 0) {
            temp = SubWord((temp << 8) | (temp >> 24)) ^ (roundConstant << 24);
            roundConstant = XTime(static_cast<std::uint8_t>(roundConstant));
        } else if (keyWords > 6 && i % keyWords == 4) {
            temp = SubWord(temp);
        }
        rk[i] = rk[i - keyWords] ^ temp;
    }

    // The equivalent inverse cipher (FIPS-197 5.3.5) runs its rounds in the same order as
    // encryption, table lookups and all, with the round keys reversed and the middle ones
    // passed through InvMixColumns.
    for (int round = 0; round <= numrounds; ++round) {
        for (int n = 0; n < 4; ++n) {
            const std::uint32_t word = rk[4 * (numrounds - round) + n];
            dk[4 * round + n] = round == 0 || round == numrounds ? word : InvMixColumn(word);
        }
    }

    FUseAesNi = AEngine == aeAuto && SiAesNiAvailable();
    if (FUseAesNi) {
        // The instructions take each round key as the 16 bytes in their natural order.
        std::array<std::uint8_t, sizeof(rk)> bytes{};
        const TWipeGuard bytesGuard(bytes.data(), bytes.size());
        for (auto* schedule : {&rk, &dk}) {
            for (int i = 0; i < totalWords; ++i) {
                StoreBigEndian((*schedule)[i], bytes.data() + 4 * i);
            }
            std::memcpy(schedule->data(), bytes.data(), bytes.size());
        }
    }
}

TRijndael::~TRijndael() {
    ProtectClear(rk.data(), sizeof(rk));
    ProtectClear(dk.data(), sizeof(dk));
    numrounds = 0;
}

bool TRijndael::AesNiAvailable() noexcept {
    return SiAesNiAvailable();
}

void TRijndael::EncryptECB(std::uint8_t* AData, std::size_t ABlocks) {
    if (FUseAesNi) {
        SiAesNiEncryptECB(reinterpret_cast<const std::uint8_t*>(rk.data()), numrounds, AData,
                          ABlocks);
        return;
    }
    for (std::size_t i = 0; i < ABlocks; ++i) {
        EncryptBlockPortable(AData + 16 * i);
    }
}

void TRijndael::EncryptCBC(std::uint8_t* AData, std::size_t ABlocks) {
    if (FUseAesNi) {
        SiAesNiEncryptCBC(reinterpret_cast<const std::uint8_t*>(rk.data()), numrounds, FIV.data(),
                          AData, ABlocks);
        return;
    }
    for (std::size_t i = 0; i < ABlocks; ++i, AData += 16) {
        XorBlock(AData, FIV.data(), 16);
        EncryptBlockPortable(AData);
        std::memcpy(FIV.data(), AData, 16);
    }
}

// One block with the combined tables: each middle round is four lookups per column, the last
// round (no MixColumns) uses the S-box alone.
void TRijndael::EncryptBlockPortable(std::uint8_t* ABlock) const noexcept {
    const std::uint32_t* key = rk.data();
    std::uint32_t s0 = LoadBigEndian(ABlock) ^ key[0];
    std::uint32_t s1 = LoadBigEndian(ABlock + 4) ^ key[1];
    std::uint32_t s2 = LoadBigEndian(ABlock + 8) ^ key[2];
    std::uint32_t s3 = LoadBigEndian(ABlock + 12) ^ key[3];
    for (int round = 1; round < numrounds; ++round) {
        key += 4;
        const std::uint32_t t0 = Te[0][s0 >> 24] ^ Te[1][(s1 >> 16) & 0xFF] ^
                                 Te[2][(s2 >> 8) & 0xFF] ^ Te[3][s3 & 0xFF] ^ key[0];
        const std::uint32_t t1 = Te[0][s1 >> 24] ^ Te[1][(s2 >> 16) & 0xFF] ^
                                 Te[2][(s3 >> 8) & 0xFF] ^ Te[3][s0 & 0xFF] ^ key[1];
        const std::uint32_t t2 = Te[0][s2 >> 24] ^ Te[1][(s3 >> 16) & 0xFF] ^
                                 Te[2][(s0 >> 8) & 0xFF] ^ Te[3][s1 & 0xFF] ^ key[2];
        const std::uint32_t t3 = Te[0][s3 >> 24] ^ Te[1][(s0 >> 16) & 0xFF] ^
                                 Te[2][(s1 >> 8) & 0xFF] ^ Te[3][s2 & 0xFF] ^ key[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    key += 4;
    StoreBigEndian(LastRoundWord(SBox, s0, s1, s2, s3, key[0]), ABlock);
    StoreBigEndian(LastRoundWord(SBox, s1, s2, s3, s0, key[1]), ABlock + 4);
    StoreBigEndian(LastRoundWord(SBox, s2, s3, s0, s1, key[2]), ABlock + 8);
    StoreBigEndian(LastRoundWord(SBox, s3, s0, s1, s2, key[3]), ABlock + 12);
}

void TRijndael::DecryptECB(std::uint8_t* AData, std::size_t ABlocks) {
    if (FUseAesNi) {
        SiAesNiDecryptECB(reinterpret_cast<const std::uint8_t*>(dk.data()), numrounds, AData,
                          ABlocks);
        return;
    }
    for (std::size_t i = 0; i < ABlocks; ++i) {
        DecryptBlockPortable(AData + 16 * i);
    }
}

void TRijndael::DecryptCBC(std::uint8_t* AData, std::size_t ABlocks) {
    if (FUseAesNi) {
        SiAesNiDecryptCBC(reinterpret_cast<const std::uint8_t*>(dk.data()), numrounds, FIV.data(),
                          AData, ABlocks);
        return;
    }
    std::uint8_t cipher[16];
    for (std::size_t i = 0; i < ABlocks; ++i, AData += 16) {
        std::memcpy(cipher, AData, 16);
        DecryptBlockPortable(AData);
        XorBlock(AData, FIV.data(), 16);
        std::memcpy(FIV.data(), cipher, 16);
    }
}

// The mirror of EncryptBlockPortable: the inverse row shift takes each column's bytes from the
// columns to its right instead of its left.
void TRijndael::DecryptBlockPortable(std::uint8_t* ABlock) const noexcept {
    const std::uint32_t* key = dk.data();
    std::uint32_t s0 = LoadBigEndian(ABlock) ^ key[0];
    std::uint32_t s1 = LoadBigEndian(ABlock + 4) ^ key[1];
    std::uint32_t s2 = LoadBigEndian(ABlock + 8) ^ key[2];
    std::uint32_t s3 = LoadBigEndian(ABlock + 12) ^ key[3];
    for (int round = 1; round < numrounds; ++round) {
        key += 4;
        const std::uint32_t t0 = Td[0][s0 >> 24] ^ Td[1][(s3 >> 16) & 0xFF] ^
                                 Td[2][(s2 >> 8) & 0xFF] ^ Td[3][s1 & 0xFF] ^ key[0];
        const std::uint32_t t1 = Td[0][s1 >> 24] ^ Td[1][(s0 >> 16) & 0xFF] ^
                                 Td[2][(s3 >> 8) & 0xFF] ^ Td[3][s2 & 0xFF] ^ key[1];
        const std::uint32_t t2 = Td[0][s2 >> 24] ^ Td[1][(s1 >> 16) & 0xFF] ^
                                 Td[2][(s0 >> 8) & 0xFF] ^ Td[3][s3 & 0xFF] ^ key[2];
        const std::uint32_t t3 = Td[0][s3 >> 24] ^ Td[1][(s2 >> 16) & 0xFF] ^
                                 Td[2][(s1 >> 8) & 0xFF] ^ Td[3][s0 & 0xFF] ^ key[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    key += 4;
    StoreBigEndian(LastRoundWord(InvSBox, s0, s3, s2, s1, key[0]), ABlock);
    StoreBigEndian(LastRoundWord(InvSBox, s1, s0, s3, s2, key[1]), ABlock + 4);
    StoreBigEndian(LastRoundWord(InvSBox, s2, s1, s0, s3, key[2]), ABlock + 8);
    StoreBigEndian(LastRoundWord(InvSBox, s3, s2, s1, s0, key[3]), ABlock + 12);
}

}  // namespace deruz::logging
