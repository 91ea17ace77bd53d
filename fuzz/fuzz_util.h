// Small helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace deruz::fuzz {

// A property of the code under test does not hold: reports it and aborts, so that libFuzzer
// keeps the input as a crash.
[[noreturn]] inline void Fail(std::string_view AWhat, std::string_view ADetail = {}) {
    std::fprintf(stderr, "fuzz property violated: %.*s\n%.*s\n", static_cast<int>(AWhat.size()),
                 AWhat.data(), static_cast<int>(ADetail.size()), ADetail.data());
    std::abort();
}

// The input read as UTF-16 code units, two bytes each (little-endian), so that characters
// above 255 are reached as easily as the low ones; an odd last byte is one more character.
inline std::wstring WideFromBytes(const std::uint8_t* AData, std::size_t ASize) {
    std::wstring LResult;
    LResult.reserve(ASize / 2 + 1);
    std::size_t I = 0;
    for (; I + 1 < ASize; I += 2) {
        LResult.push_back(static_cast<wchar_t>(AData[I] | (AData[I + 1] << 8)));
    }
    if (I < ASize) {
        LResult.push_back(static_cast<wchar_t>(AData[I]));
    }
    return LResult;
}

inline std::string_view TextOf(const std::uint8_t* AData, std::size_t ASize) {
    return {reinterpret_cast<const char*>(AData), ASize};
}

}  // namespace deruz::fuzz
