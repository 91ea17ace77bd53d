// Conversions between the link's wide text and UTF-8, on both sizes of wchar_t.
#include "systools/wide_text.h"

#include <gtest/gtest.h>

namespace deruz::systools {
namespace {

TEST(WideText, RoundTripsEveryLengthOfSequence) {
    // One-, two-, three- and four-byte sequences: A, e acute, euro sign, U+1F600.
    const std::string LUtf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    const std::wstring LWide = WideFromUtf8(LUtf8);
    EXPECT_EQ(LWide.size(), sizeof(wchar_t) == 2 ? 5u : 4u);
    EXPECT_EQ(LWide[0], L'A');
    EXPECT_EQ(LWide[1], static_cast<wchar_t>(0xE9));
    EXPECT_EQ(Utf8FromWide(LWide), LUtf8);
}

TEST(WideText, InvalidInputBecomesTheReplacementCharacter) {
    struct TCase {
        std::string Utf8;
        std::wstring Wide;
    };
    const TCase LCases[] = {
        {"a\xFF"
         "b",
         L"a\xFFFD"
         L"b"},                                   // a byte that starts nothing
        {"\xC3", L"\xFFFD"},                      // a sequence cut short
        {"\xE2\x28\xA1", L"\xFFFD(\xFFFD"},       // a continuation byte missing
        {"\xC0\xAF", L"\xFFFD\xFFFD"},            // an overlong form
        {"\xED\xA0\x80", L"\xFFFD\xFFFD\xFFFD"},  // an encoded surrogate
    };
    for (const auto& LC : LCases) EXPECT_EQ(WideFromUtf8(LC.Utf8), LC.Wide) << LC.Utf8;
    // A surrogate without its partner cannot be written as UTF-8.
    EXPECT_EQ(Utf8FromWide(std::wstring(1, static_cast<wchar_t>(0xD800)) + L"x"), "\xEF\xBF\xBDx");
}

}  // namespace
}  // namespace deruz::systools
