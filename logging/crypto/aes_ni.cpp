// AES encryption with the AES-NI instructions. This unit alone is compiled with -maes and
// -msse4.1; when those flags are missing it builds the fallback at the end, which reports the
// instructions as unavailable.
#include "logging/crypto/aes_ni.h"

#if defined(__AES__) && defined(__SSE4_1__)

#include <cpuid.h>
#include <wmmintrin.h>

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
// stays in a register for the whole run (at most 15 of the 16 vector registers).
template <int Rounds>
struct TRoundKeys {
    __m128i K[Rounds + 1];

    explicit TRoundKeys(const std::uint8_t* ARoundKeys) noexcept {
        for (int i = 0; i <= Rounds; ++i) {
            K[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ARoundKeys + 16 * i));
        }
    }

    __m128i Encrypt(__m128i ABlock) const noexcept {
        ABlock = _mm_xor_si128(ABlock, K[0]);
        for (int i = 1; i < Rounds; ++i) {
            ABlock = _mm_aesenc_si128(ABlock, K[i]);
        }
        return _mm_aesenclast_si128(ABlock, K[Rounds]);
    }
};

template <int Rounds>
void EncryptECB(const std::uint8_t* ARoundKeys, std::uint8_t* AData, std::size_t ABlocks) {
    const TRoundKeys<Rounds> keys(ARoundKeys);
    auto* data = reinterpret_cast<__m128i*>(AData);
    std::size_t i = 0;
    // Blocks are independent, so four go through the pipeline at once.
    for (; i + 4 <= ABlocks; i += 4) {
        __m128i b0 = _mm_xor_si128(_mm_loadu_si128(data + i), keys.K[0]);
        __m128i b1 = _mm_xor_si128(_mm_loadu_si128(data + i + 1), keys.K[0]);
        __m128i b2 = _mm_xor_si128(_mm_loadu_si128(data + i + 2), keys.K[0]);
        __m128i b3 = _mm_xor_si128(_mm_loadu_si128(data + i + 3), keys.K[0]);
        for (int r = 1; r < Rounds; ++r) {
            b0 = _mm_aesenc_si128(b0, keys.K[r]);
            b1 = _mm_aesenc_si128(b1, keys.K[r]);
            b2 = _mm_aesenc_si128(b2, keys.K[r]);
            b3 = _mm_aesenc_si128(b3, keys.K[r]);
        }
        _mm_storeu_si128(data + i, _mm_aesenclast_si128(b0, keys.K[Rounds]));
        _mm_storeu_si128(data + i + 1, _mm_aesenclast_si128(b1, keys.K[Rounds]));
        _mm_storeu_si128(data + i + 2, _mm_aesenclast_si128(b2, keys.K[Rounds]));
        _mm_storeu_si128(data + i + 3, _mm_aesenclast_si128(b3, keys.K[Rounds]));
    }
    for (; i < ABlocks; ++i) {
        _mm_storeu_si128(data + i, keys.Encrypt(_mm_loadu_si128(data + i)));
    }
}

template <int Rounds>
void EncryptCBC(const std::uint8_t* ARoundKeys, std::uint8_t* AIV, std::uint8_t* AData,
                std::size_t ABlocks) {
    const TRoundKeys<Rounds> keys(ARoundKeys);
    auto* data = reinterpret_cast<__m128i*>(AData);
    __m128i chain = _mm_loadu_si128(reinterpret_cast<const __m128i*>(AIV));
    for (std::size_t i = 0; i < ABlocks; ++i) {
        chain = keys.Encrypt(_mm_xor_si128(_mm_loadu_si128(data + i), chain));
        _mm_storeu_si128(data + i, chain);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(AIV), chain);
}

}  // namespace

bool SiAesNiAvailable() noexcept {
    static const bool available = QueryProcessor();
    return available;
}

void SiAesNiEncryptECB(const std::uint8_t* ARoundKeys, int ARounds, std::uint8_t* AData,
                       std::size_t ABlocks) noexcept {
    switch (ARounds) {
        case 10:
            EncryptECB<10>(ARoundKeys, AData, ABlocks);
            break;
        case 12:
            EncryptECB<12>(ARoundKeys, AData, ABlocks);
            break;
        case 14:
            EncryptECB<14>(ARoundKeys, AData, ABlocks);
            break;
        default:
            break;
    }
}

void SiAesNiEncryptCBC(const std::uint8_t* ARoundKeys, int ARounds, std::uint8_t* AIV,
                       std::uint8_t* AData, std::size_t ABlocks) noexcept {
    switch (ARounds) {
        case 10:
            EncryptCBC<10>(ARoundKeys, AIV, AData, ABlocks);
            break;
        case 12:
            EncryptCBC<12>(ARoundKeys, AIV, AData, ABlocks);
            break;
        case 14:
            EncryptCBC<14>(ARoundKeys, AIV, AData, ABlocks);
            break;
        default:
            break;
    }
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

}  // namespace deruz::logging

#endif
