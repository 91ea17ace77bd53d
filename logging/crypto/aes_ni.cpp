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
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
        return false;
    }
    return (ecx & kCpuidAes) != 0 && (ecx & kCpuidSse41) != 0;
}

// The round count is a template parameter so that the round loops unroll and every round key
// stays in a register for the whole run (at most 15 of the 16 vector registers). ADecrypt picks
// the inverse rounds, which take the schedule of the equivalent inverse cipher.
template <int Rounds, bool ADecrypt>
struct TRoundKeys {
    __m128i K[Rounds + 1];

    explicit TRoundKeys(const std::uint8_t* ARoundKeys) noexcept {
        for (int i = 0; i <= Rounds; ++i) {
            K[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ARoundKeys + 16 * i));
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
        for (int i = 1; i < Rounds; ++i) {
            ABlock = Round(ABlock, K[i]);
        }
        return LastRound(ABlock, K[Rounds]);
    }

    // Four independent blocks at once, so that they go through the pipeline together.
    void Blocks4(__m128i* ABlocks) const noexcept {
        for (int b = 0; b < 4; ++b) {
            ABlocks[b] = _mm_xor_si128(ABlocks[b], K[0]);
        }
        for (int r = 1; r < Rounds; ++r) {
            for (int b = 0; b < 4; ++b) {
                ABlocks[b] = Round(ABlocks[b], K[r]);
            }
        }
        for (int b = 0; b < 4; ++b) {
            ABlocks[b] = LastRound(ABlocks[b], K[Rounds]);
        }
    }
};

template <int Rounds, bool ADecrypt>
void CryptECB(const std::uint8_t* ARoundKeys, std::uint8_t* AData, std::size_t ABlocks) {
    const TRoundKeys<Rounds, ADecrypt> keys(ARoundKeys);
    auto* data = reinterpret_cast<__m128i*>(AData);
    std::size_t i = 0;
    for (; i + 4 <= ABlocks; i += 4) {
        __m128i blocks[4];
        for (int b = 0; b < 4; ++b) {
            blocks[b] = _mm_loadu_si128(data + i + b);
        }
        keys.Blocks4(blocks);
        for (int b = 0; b < 4; ++b) {
            _mm_storeu_si128(data + i + b, blocks[b]);
        }
    }
    for (; i < ABlocks; ++i) {
        _mm_storeu_si128(data + i, keys.Block(_mm_loadu_si128(data + i)));
    }
}

// Encryption chains each block to the one before, so it goes one block at a time.
template <int Rounds>
void EncryptCBC(const std::uint8_t* ARoundKeys, std::uint8_t* AIV, std::uint8_t* AData,
                std::size_t ABlocks) {
    const TRoundKeys<Rounds, false> keys(ARoundKeys);
    auto* data = reinterpret_cast<__m128i*>(AData);
    __m128i chain = _mm_loadu_si128(reinterpret_cast<const __m128i*>(AIV));
    for (std::size_t i = 0; i < ABlocks; ++i) {
        chain = keys.Block(_mm_xor_si128(_mm_loadu_si128(data + i), chain));
        _mm_storeu_si128(data + i, chain);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(AIV), chain);
}

// Decryption needs only ciphertext for the chain, so four blocks go at once.
template <int Rounds>
void DecryptCBC(const std::uint8_t* ARoundKeys, std::uint8_t* AIV, std::uint8_t* AData,
                std::size_t ABlocks) {
    const TRoundKeys<Rounds, true> keys(ARoundKeys);
    auto* data = reinterpret_cast<__m128i*>(AData);
    __m128i chain = _mm_loadu_si128(reinterpret_cast<const __m128i*>(AIV));
    std::size_t i = 0;
    for (; i + 4 <= ABlocks; i += 4) {
        __m128i cipher[4];
        __m128i blocks[4];
        for (int b = 0; b < 4; ++b) {
            cipher[b] = blocks[b] = _mm_loadu_si128(data + i + b);
        }
        keys.Blocks4(blocks);
        _mm_storeu_si128(data + i, _mm_xor_si128(blocks[0], chain));
        for (int b = 1; b < 4; ++b) {
            _mm_storeu_si128(data + i + b, _mm_xor_si128(blocks[b], cipher[b - 1]));
        }
        chain = cipher[3];
    }
    for (; i < ABlocks; ++i) {
        const __m128i cipher = _mm_loadu_si128(data + i);
        _mm_storeu_si128(data + i, _mm_xor_si128(keys.Block(cipher), chain));
        chain = cipher;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(AIV), chain);
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
    static const bool available = QueryProcessor();
    return available;
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
