// MD5 as RFC 1321 defines it, and the block buffering shared by 64-byte block hashes.
#include "logging/crypto/md5.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace deruz::logging {

namespace {

// Per-step shift amounts, four per round.
constexpr std::array<int, 16> kShifts = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};

// T[i] = floor(2^32 * abs(sin(i + 1))), as listed in RFC 1321.
constexpr std::array<std::uint32_t, 64> kSines = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr std::uint32_t RotateLeft(std::uint32_t AValue, int AShift) noexcept {
    return (AValue << AShift) | (AValue >> (32 - AShift));
}

}  // namespace

void TBaseHash::Update(const void* AData, std::size_t ACount) {
    if (FDone) {
        throw std::logic_error("Hash is finished");
    }
    const auto* LData = static_cast<const std::uint8_t*>(AData);
    auto LUsed = static_cast<std::size_t>(FCount % kBlockSize);
    FCount += static_cast<std::int64_t>(ACount);
    while (ACount > 0) {
        const std::size_t LTake = std::min(ACount, kBlockSize - LUsed);
        std::memcpy(FDataBuffer.data() + LUsed, LData, LTake);
        LUsed += LTake;
        LData += LTake;
        ACount -= LTake;
        if (LUsed == kBlockSize) {
            Transform(FDataBuffer.data());
            LUsed = 0;
        }
    }
}

TMD5::TMD5() {
    FDigest = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
}

TMD5::TMD5(const void* AData, std::size_t ACount) : TMD5() {
    Update(AData, ACount);
}

void TMD5::Done() {
    if (FDone) {
        return;
    }
    // A single 1 bit, zeros up to 56 bytes into a block, then the length in bits as a
    // little-endian 64-bit number.
    const std::uint64_t LBitCount = static_cast<std::uint64_t>(FCount) << 3;
    const auto LUsed = static_cast<std::size_t>(FCount % kBlockSize);
    std::array<std::uint8_t, 2 * kBlockSize> LTail{};
    LTail[0] = 0x80;
    const std::size_t LPadding = LUsed < 56 ? 56 - LUsed : 120 - LUsed;
    for (int LI = 0; LI < 8; ++LI) {
        LTail[LPadding + LI] = static_cast<std::uint8_t>(LBitCount >> (8 * LI));
    }
    Update(LTail.data(), LPadding + 8);
    for (std::size_t LI = 0; LI < 4; ++LI) {
        for (std::size_t LB = 0; LB < 4; ++LB) {
            FDigestBytes[4 * LI + LB] = static_cast<std::uint8_t>(FDigest[LI] >> (8 * LB));
        }
    }
    FDone = true;
}

std::span<const std::uint8_t> TMD5::GetDigest() {
    Done();
    return FDigestBytes;
}

void TMD5::Transform(const std::uint8_t* ABlock) noexcept {
    std::array<std::uint32_t, 16> LX{};
    for (std::size_t LI = 0; LI < 16; ++LI) {
        LX[LI] = std::uint32_t{ABlock[4 * LI]} | (std::uint32_t{ABlock[4 * LI + 1]} << 8) |
                 (std::uint32_t{ABlock[4 * LI + 2]} << 16) |
                 (std::uint32_t{ABlock[4 * LI + 3]} << 24);
    }
    std::uint32_t LA = FDigest[0], LB = FDigest[1], LC = FDigest[2], LD = FDigest[3];
    for (int LI = 0; LI < 64; ++LI) {
        std::uint32_t LF = 0;
        int LG = 0;
        switch (LI / 16) {
            case 0:
                LF = (LB & LC) | (~LB & LD);
                LG = LI;
                break;
            case 1:
                LF = (LD & LB) | (~LD & LC);
                LG = (5 * LI + 1) % 16;
                break;
            case 2:
                LF = LB ^ LC ^ LD;
                LG = (3 * LI + 5) % 16;
                break;
            default:
                LF = LC ^ (LB | ~LD);
                LG = (7 * LI) % 16;
                break;
        }
        const std::uint32_t LNext =
            LB + RotateLeft(LA + LF + kSines[LI] + LX[LG], kShifts[4 * (LI / 16) + LI % 4]);
        LA = LD;
        LD = LC;
        LC = LB;
        LB = LNext;
    }
    FDigest[0] += LA;
    FDigest[1] += LB;
    FDigest[2] += LC;
    FDigest[3] += LD;
}

}  // namespace deruz::logging
