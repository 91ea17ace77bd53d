#include "systools/wide_text.h"

#include <cwctype>

#include "logging/base/strings.h"

namespace deruz::systools {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendWide(std::wstring& AOut, char32_t AC) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (AC >= 0x10000) {
            AC -= 0x10000;
            AOut += static_cast<wchar_t>(0xD800 + (AC >> 10));
            AOut += static_cast<wchar_t>(0xDC00 + (AC & 0x3FF));
            return;
        }
    }
    AOut += static_cast<wchar_t>(AC);
}

}  // namespace

// The UTF-8 side is the logging library's: one decoder and one encoder for the whole tree.
std::string Utf8FromWide(std::wstring_view AText) {
    std::string LOut;
    LOut.reserve(AText.size());
    for (std::size_t LI = 0; LI < AText.size(); ++LI) {
        char32_t LC = static_cast<char32_t>(AText[LI]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (LC >= 0xD800 && LC <= 0xDBFF && LI + 1 < AText.size() && AText[LI + 1] >= 0xDC00 &&
                AText[LI + 1] <= 0xDFFF) {
                LC = 0x10000 + ((LC - 0xD800) << 10) +
                     (static_cast<char32_t>(AText[LI + 1]) - 0xDC00);
                ++LI;
            } else if (LC >= 0xD800 && LC <= 0xDFFF) {
                LC = kReplacement;
            }
        } else if ((LC >= 0xD800 && LC <= 0xDFFF) || LC > 0x10FFFF) {
            LC = kReplacement;
        }
        logging::SiAppendUtf8(LOut, LC);
    }
    return LOut;
}

std::wstring WideFromUtf8(std::string_view AText) {
    std::wstring LOut;
    LOut.reserve(AText.size());
    for (std::size_t LI = 0; LI < AText.size();) AppendWide(LOut, logging::SiDecodeUtf8(AText, LI));
    return LOut;
}

std::wstring LowerCase(std::wstring_view AText) {
    std::wstring LOut(AText);
    for (auto& LC : LOut) LC = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(LC)));
    return LOut;
}

}  // namespace deruz::systools
