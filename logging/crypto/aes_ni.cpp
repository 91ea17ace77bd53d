// AES encryption and decryption with the AES-NI instructions. This unit alone is compiled with
// -maes and -msse4.1; when those flags are missing it builds the fallback at the end, which
// reports the instructions as unavailable.
#include "logging/crypto/aes_ni.h"

#if defined(__AES__) && defined(__SSE4_1__)

#include <cpuid.h>
#include <wmmintrin.h>

#include <type_traits>

namespace deruz::logging {

namespace {

// CPUID leaf 1, register ECX.
constexpr unsigned kCpuidSse41 = 1u << 19;
constexpr unsigned kCpuidAes = 1u << 25;

bool QueryProcessor() noexcept {
    unsigned LEax = 0, LEbx = 0, LEcx = 0, LEdx = 0;
    if (__get_cpuid(1, &LEax, &LEbx, &LEcx, &LEdx) == 0) {
        return false;
    }
    return (LEcx & kCpuidAes) != 0 && (LEcx & kCpuidSse41) != 0;
}

// The round count is a template parameter so that the round loops unroll and every round key
// stays in a register for the whole run (at most 15 of the 16 vector registers). ADecrypt picks
// the inverse rounds, which take the schedule of the equivalent inverse cipher.
template <int Rounds, bool ADecrypt>
struct TRoundKeys {
    __m128i K[Rounds + 1];

    explicit TRoundKeys(const std::uint8_t* ARoundKeys) noexcept {
        for (int LI = 0; LI <= Rounds; ++LI) {
            K[LI] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ARoundKeys + 16 * LI));
        }
    }

    static __m128i Round(__m128i ABlock, __m128i AKey) noexcept {
        return ADecrypt ? _mm_aesdec_si128(ABlock, AKey) : _mm_aesenc_si128(ABlock, AKey);
    }

    static __m128i LastRound(__m128i ABlock, __m128i AKey) noexcept {
        return ADecrypt ? _mm_aesdeclast_si128(ABlock, AKey) : _mm_aesenclast_si128(ABlock, AKey);
    }

    __m128i Block(__m128i ABlock) const noexcept {
        ABlock = _mm_xor_si128(ABlock, K[0]);
        for (int LI = 1; LI < Rounds; ++LI) {
            ABlock = Round(ABlock, K[LI]);
        }
        return LastRound(ABlock, K[Rounds]);
    }

    // Four independent blocks at once, so that they go through the pipeline together.
    void Blocks4(__m128i* ABlocks) const noexcept {
        for (int LB = 0; LB < 4; ++LB) {
            ABlocks[LB] = _mm_xor_si128(ABlocks[LB], K[0]);
        }
        for (int LR = 1; LR < Rounds; ++LR) {
            for (int LB = 0; LB < 4; ++LB) {
                ABlocks[LB] = Round(ABlocks[LB], K[LR]);
            }
        }
        for (int LB = 0; LB < 4; ++LB) {
            ABlocks[LB] = LastRound(ABlocks[LB], K[Rounds]);
        }
    }
};

template <int Rounds, bool ADecrypt>
void CryptECB(const std::uint8_t* ARoundKeys, std::uint8_t* AData, std::size_t ABlocks) {
    const TRoundKeys<Rounds, ADecrypt> LKeys(ARoundKeys);
    auto* LData = reinterpret_cast<__m128i*>(AData);
    std::size_t LI = 0;
    for (; LI + 4 <= ABlocks; LI += 4) {
        __m128i LBlocks[4];
        for (int LB = 0; LB < 4; ++LB) {
            LBlocks[LB] = _mm_loadu_si128(LData + LI + LB);
        }
        LKeys.Blocks4(LBlocks);
        for (int LB = 0; LB < 4; ++LB) {
            _mm_storeu_si128(LData + LI + LB, LBlocks[LB]);
        }
    }
    for (; LI < ABlocks; ++LI) {
        _mm_storeu_si128(LData + LI, LKeys.Block(_mm_loadu_si128(LData + LI)));
    }
}

// Encryption chains each block to the one before, so it goes one block at a time.
template <int Rounds>
void EncryptCBC(const std::uint8_t* ARoundKeys, std::uint8_t* AIV, std::uint8_t* AData,
                std::size_t ABlocks) {
    const TRoundKeys<Rounds, false> LKeys(ARoundKeys);
    auto* LData = reinterpret_cast<__m128i*>(AData);
    __m128i LChain = _mm_loadu_si128(reinterpret_cast<const __m128i*>(AIV));
    for (std::size_t LI = 0; LI < ABlocks; ++LI) {
        LChain = LKeys.Block(_mm_xor_si128(_mm_loadu_si128(LData + LI), LChain));
        _mm_storeu_si128(LData + LI, LChain);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(AIV), LChain);
}

// Decryption needs only ciphertext for the chain, so four blocks go at once.
template <int Rounds>
void DecryptCBC(const std::uint8_t* ARoundKeys, std::uint8_t* AIV, std::uint8_t* AData,
                std::size_t ABlocks) {
    const TRoundKeys<Rounds, true> LKeys(ARoundKeys);
    auto* LData = reinterpret_cast<__m128i*>(AData);
    __m128i LChain = _mm_loadu_si128(reinterpret_cast<const __m128i*>(AIV));
    std::size_t LI = 0;
    for (; LI + 4 <= ABlocks; LI += 4) {
        __m128i LCipher[4];
        __m128i LBlocks[4];
        for (int LB = 0; LB < 4; ++LB) {
            LCipher[LB] = LBlocks[LB] = _mm_loadu_si128(LData + LI + LB);
        }
        LKeys.Blocks4(LBlocks);
        _mm_storeu_si128(LData + LI, _mm_xor_si128(LBlocks[0], LChain));
        for (int LB = 1; LB < 4; ++LB) {
            _mm_storeu_si128(LData + LI + LB, _mm_xor_si128(LBlocks[LB], LCipher[LB - 1]));
        }
        LChain = LCipher[3];
    }
    for (; LI < ABlocks; ++LI) {
        const __m128i LCipher = _mm_loadu_si128(LData + LI);
        _mm_storeu_si128(LData + LI, _mm_xor_si128(LKeys.Block(LCipher), LChain));
        LChain = LCipher;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(AIV), LChain);
}

// Calls AFunction with the round count as a compile-time constant; other counts do nothing.
template <class F>
void WithRounds(int ARounds, F&& AFunction) {
    switch (ARounds) {
        case 10:
            AFunction(std::integral_constant<int, 10>{});
            break;
        case 12:
            AFunction(std::integral_constant<int, 12>{});
            break;
        case 14:
            AFunction(std::integral_constant<int, 14>{});
            break;
        default:
            break;
    }
}

}  // namespace

bool SiAesNiAvailable() noexcept {
    static const bool LAvailable = QueryProcessor();
    return LAvailable;
}

void SiAesNiEncryptECB(const std::uint8_t* ARoundKeys, int ARounds, std::uint8_t* AData,
                       std::size_t ABlocks) noexcept {
    WithRounds(ARounds, [&](auto ARoundCount) {
        CryptECB<decltype(ARoundCount)::value, false>(ARoundKeys, AData, ABlocks);
    });
}

void SiAesNiEncryptCBC(const std::uint8_t* ARoundKeys, int ARounds, std::uint8_t* AIV,
                       std::uint8_t* AData, std::size_t ABlocks) noexcept {
    WithRounds(ARounds, [&](auto ARoundCount) {
        EncryptCBC<decltype(ARoundCount)::value>(ARoundKeys, AIV, AData, ABlocks);
    });
}

void SiAesNiDecryptECB(const std::uint8_t* ARoundKeys, int ARounds, std::uint8_t* AData,
                       std::size_t ABlocks) noexcept {
    WithRounds(ARounds, [&](auto ARoundCount) {
        CryptECB<decltype(ARoundCount)::value, true>(ARoundKeys, AData, ABlocks);
    });
}

void SiAesNiDecryptCBC(const std::uint8_t* ARoundKeys, int ARounds, std::uint8_t* AIV,
                       std::uint8_t* AData, std::size_t ABlocks) noexcept {
    WithRounds(ARounds, [&](auto ARoundCount) {
        DecryptCBC<decltype(ARoundCount)::value>(ARoundKeys, AIV, AData, ABlocks);
    });
}

}  // namespace deruz::logging

#else

// Never called: SiAesNiAvailable is false, and callers check it first.
namespace deruz::logging {

bool SiAesNiAvailable() noexcept {
    return false;
}

void SiAesNiEncryptECB(const std::uint8_t*, int, std::uint8_t*, std::size_t) noexcept {}

void SiAesNiEncryptCBC(const std::uint8_t*, int, std::uint8_t*, std::uint8_t*,
                       std::size_t) noexcept {}

void SiAesNiDecryptECB(const std::uint8_t*, int, std::uint8_t*, std::size_t) noexcept {}

void SiAesNiDecryptCBC(const std::uint8_t*, int, std::uint8_t*, std::uint8_t*,
                       std::size_t) noexcept {}

}  // namespace deruz::logging

#endif
