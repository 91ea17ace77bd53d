// Parsing and comparing four-part version numbers.
#include "systools/version.h"

#include <gtest/gtest.h>

#include <string>

namespace deruz::systools {
namespace {

struct TParseCase {
    const wchar_t* Text;
    bool Valid;
    TFileVersionRec Expected;  // checked only for valid texts
};

TEST(ParseVersionStr, AcceptsOnlyFourNumbersInRange) {
    const TParseCase LCases[] = {
        {L"1.2.3.4", true, {1, 2, 3, 4}},
        {L"1,2,3,4", true, {1, 2, 3, 4}},
        {L" 1. 2. 3. 4", true, {1, 2, 3, 4}},
        {L"1..2.3.4", true, {1, 2, 3, 4}},
        {L"1\r\n2.3.4", true, {1, 2, 3, 4}},
        {L"1.2.3.$A", true, {1, 2, 3, 10}},
        {L"0x10.X1f.x0.+7", true, {16, 31, 0, 7}},
        {L"3.0.1.0582", true, {3, 0, 1, 582}},
        {L"2147483647.0.0.$7FFFFFFF", true, {2147483647, 0, 0, 2147483647}},
        {L"1.2.3.-0", true, {1, 2, 3, 0}},
        {L"1.2.3", false, {}},
        {L"1.2.3.4.5", false, {}},
        {L"1.2.3.4 ", false, {}},
        {L"1.2 .3.4", false, {}},
        {L"", false, {}},
        {L"1.2.3.-1", false, {}},
        {L"1.2.3.2147483648", false, {}},
        {L"1.2.3.$80000000", false, {}},
        {L"1.2.3.99999999999999999999", false, {}},
        {L"1.2.3.a", false, {}},
        {L"1.2.3.$", false, {}},
        {L"1.2.3.0x", false, {}},
        {L"1.2.3.+", false, {}},
        {L"1.2.3.\t4", false, {}},
        {L"'1.2'.3.4", false, {}},    // a quoted stretch does not split: three pieces
        {L"1.2.3.\"4\"", false, {}},  // the quotes stay part of the piece
    };
    for (const TParseCase& LC : LCases) {
        SCOPED_TRACE(testing::Message() << "text: \"" << LC.Text << "\"");
        TFileVersionRec LRec;
        ASSERT_EQ(ParseVersionStr(LC.Text, LRec), LC.Valid);
        if (!LC.Valid) continue;
        EXPECT_EQ(LRec.MajorVersion, LC.Expected.MajorVersion);
        EXPECT_EQ(LRec.MinorVersion, LC.Expected.MinorVersion);
        EXPECT_EQ(LRec.ReleaseNumber, LC.Expected.ReleaseNumber);
        EXPECT_EQ(LRec.BuildNumber, LC.Expected.BuildNumber);
    }
}

TEST(CompareFileVersions, FirstDifferingFieldDecidesAsUnsignedNumber) {
    struct TCase {
        TFileVersionRec A, B;
        int Expected;
    };
    const TCase LCases[] = {
        {{2, 10, 0, 0}, {2, 9, 0, 0}, 1},          {{1, 2, 3, 4}, {1, 2, 3, 5}, -1},
        {{1, 3, 0, 0}, {1, 2, 9, 9}, 1},           {{1, 2, 3, 4}, {1, 2, 4, 0}, -1},
        {{0, 0, 0, 0}, {1, 0, 0, 0}, -1},          {{3, 0, 1, 582}, {3, 0, 1, 582}, 0},
        {{0x80000000u, 0, 0, 0}, {1, 0, 0, 0}, 1},
    };
    for (const TCase& LC : LCases) {
        EXPECT_EQ(CompareFileVersions(LC.A, LC.B), LC.Expected);
        EXPECT_EQ(CompareFileVersions(LC.B, LC.A), -LC.Expected);
    }
}

TEST(CompareFileVersionStrs, InvalidTextRanksAboveEveryValidOne) {
    struct TCase {
        const wchar_t* A;
        const wchar_t* B;
        int Expected;
    };
    const TCase LCases[] = {
        {L"", L"3.0.1.582", 1},           {L"3.0.1.582", L"", -1},
        {L"3.0.1.581", L"3.0.1.582", -1}, {L"3.0.1.583", L"3.0.1.582", 1},
        {L"3.0.1.0582", L"3.0.1.582", 0}, {L"3, 0, 1, 582", L"3.0.1.582", 0},
        {L"", L"not a version", 0},
    };
    for (const TCase& LC : LCases) {
        EXPECT_EQ(CompareFileVersionStrs(LC.A, LC.B), LC.Expected)
            << "\"" << LC.A << "\" vs \"" << LC.B << "\"";
    }
}

}  // namespace
}  // namespace deruz::systools
