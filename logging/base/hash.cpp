// The key hash of the TSiHash maps.
#include "logging/base/hash.h"

namespace deruz::logging {

namespace {

inline std::uint32_t Step(std::uint32_t AHash, std::uint32_t AUnit) noexcept {
    if (AUnit >= 'A' && AUnit <= 'Z') {
        AUnit += 'a' - 'A';
    }
    return AHash * 33u + AUnit;
}

}  // namespace

std::uint32_t SiHashKey(std::string_view AKey) noexcept {
    // The hash runs over UTF-16 code units, as with peers that hold text as UTF-16, so that
    // non-ASCII keys land in the same buckets; ASCII bytes are their own code units.
    std::uint32_t LHash = 5381;
    std::size_t LIndex = 0;
    while (LIndex < AKey.size()) {
        const auto LByte = static_cast<unsigned char>(AKey[LIndex]);
        if (LByte < 0x80) {
            LHash = Step(LHash, LByte);
            ++LIndex;
            continue;
        }
        const char32_t LCode = SiDecodeUtf8(AKey, LIndex);
        if (LCode >= 0x10000) {
            LHash = Step(LHash, 0xD800 + ((LCode - 0x10000) >> 10));
            LHash = Step(LHash, 0xDC00 + ((LCode - 0x10000) & 0x3FF));
        } else {
            LHash = Step(LHash, LCode);
        }
    }
    return LHash;
}

}  // namespace deruz::logging
