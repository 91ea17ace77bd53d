// SiFormat's format language, its errors, and the float and date-time texts. The cases use
// explicit settings so that they hold on every platform; the thread locale is tested on
// Windows in si_format_test_win32.cpp.
#include "logging/base/si_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "logging/base/datetime.h"
#include "logging/base/enums.h"
#include "logging/base/errors.h"

namespace deruz::logging {
namespace {

struct FormatCase {
    const char* Format;
    std::vector<TSiFormatArg> Args;
    std::string Expected;
};

void PrintTo(const FormatCase& ACase, std::ostream* AOut) {
    *AOut << '"' << ACase.Format << '"';
}

class SiFormatCaseTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(SiFormatCaseTest, Formats) {
    const FormatCase& LCase = GetParam();
    EXPECT_EQ(SiFormat(TSiFormatSettings(), LCase.Format, LCase.Args), LCase.Expected);
}

constexpr double kInf = std::numeric_limits<double>::infinity();
// The cases keep their arguments, which refer to text; this one must outlive them.
const std::string kStdString = "x";

INSTANTIATE_TEST_SUITE_P(
    Integers, SiFormatCaseTest,
    ::testing::Values(
        FormatCase{"%d", {42}, "42"}, FormatCase{"%d", {-42}, "-42"},
        FormatCase{"[%5d]", {42}, "[   42]"}, FormatCase{"[%-5d]", {42}, "[42   ]"},
        FormatCase{"%.4d", {-42}, "-0042"}, FormatCase{"[%6.3d]", {-5}, "[  -005]"},
        FormatCase{"%.0d", {0}, "0"}, FormatCase{"[%2d]", {12345}, "[12345]"},
        FormatCase{"%d", {std::numeric_limits<std::int64_t>::min()}, "-9223372036854775808"},
        FormatCase{"%d", {std::numeric_limits<std::uint64_t>::max()}, "18446744073709551615"},
        FormatCase{"%d", {4000000000u}, "4000000000"}, FormatCase{"%u", {-1}, "4294967295"},
        FormatCase{"%u", {std::int64_t{-1}}, "18446744073709551615"},
        FormatCase{"%u", {std::int8_t{-1}}, "4294967295"}, FormatCase{"%x", {255}, "FF"},
        FormatCase{"%x", {-1}, "FFFFFFFF"}, FormatCase{"%.8x", {0x1F}, "0000001F"},
        FormatCase{"%.2x", {0x1234}, "1234"},
        FormatCase{"%.16x", {std::int64_t{-2}}, "FFFFFFFFFFFFFFFE"},
        FormatCase{"%X %D %U", {171, -3, 3u}, "AB -3 3"},
        FormatCase{"%d %x", {viTable, std::byte{0xAB}}, "6 AB"}));

INSTANTIATE_TEST_SUITE_P(
    Floats, SiFormatCaseTest,
    ::testing::Values(
        FormatCase{"%f", {3.14159}, "3.14"}, FormatCase{"%0.1f", {2.25}, "2.3"},
        FormatCase{"%.1f", {-2.25}, "-2.3"}, FormatCase{"%.2f", {0.125}, "0.13"},
        FormatCase{"%.1f", {0.15}, "0.1"}, FormatCase{"%.0f", {2.5}, "3"},
        FormatCase{"%.3f", {-0.0004}, "0.000"}, FormatCase{"%.2f", {0.999}, "1.00"},
        FormatCase{"%.1f", {99.96}, "100.0"}, FormatCase{"%.2f", {0.005}, "0.01"},
        FormatCase{"%f", {1e20}, "100000000000000000000.00"},
        FormatCase{"[%8.2f]", {-1.5}, "[   -1.50]"}, FormatCase{"[%-7.1f]", {1.0f}, "[1.0    ]"},
        FormatCase{"%e", {1234.5}, "1.23450000000000E+003"},
        FormatCase{"%.3e", {-0.00012345}, "-1.23E-004"}, FormatCase{"%.2e", {9.96}, "1.0E+001"},
        FormatCase{"%.1e", {5.0}, "5E+000"}, FormatCase{"%e", {0.0}, "0.00000000000000E+000"},
        FormatCase{"%g", {1234.5}, "1234.5"}, FormatCase{"%g", {0.0001}, "0.0001"},
        FormatCase{"%g", {0.00001}, "1E-005"}, FormatCase{"%g", {1e15}, "1E015"},
        FormatCase{"%g", {123456789012345.0}, "123456789012345"},
        FormatCase{"%.3g", {1234.5}, "1.23E003"}, FormatCase{"%g", {0.1 + 0.2}, "0.3"},
        FormatCase{"%g", {-0.0}, "0"}, FormatCase{"%g", {-2.5}, "-2.5"},
        FormatCase{"%n", {1234567.891}, "1,234,567.89"}, FormatCase{"%.0n", {-999.5}, "-1,000"},
        FormatCase{"%n", {12.0}, "12.00"}, FormatCase{"%.1n", {123456.0}, "123,456.0"},
        FormatCase{"%m", {1234.5}, "$1,234.50"}, FormatCase{"%m", {-1234.5}, "-$1,234.50"},
        FormatCase{"%.0m", {3.0}, "$3"}, FormatCase{"%m", {-0.001}, "$0.00"},
        FormatCase{"%f|%e|%g|%m", {kInf, -kInf, std::nan(""), kInf}, "INF|-INF|NAN|INF"}));

INSTANTIATE_TEST_SUITE_P(
    TextsPointersAndArguments, SiFormatCaseTest,
    ::testing::Values(
        FormatCase{"%s", {"abc"}, "abc"}, FormatCase{"[%5s]", {"abc"}, "[  abc]"},
        FormatCase{"[%-5s]", {"abc"}, "[abc  ]"}, FormatCase{"%.2s", {"abcdef"}, "ab"},
        FormatCase{"%.1s", {"\xE2\x82\xACuro"}, "\xE2\x82\xAC"},
        FormatCase{"[%.1s]", {"\xF0\x9F\x98\x80x"}, "[]"},
        FormatCase{"[%3s]", {"\xE2\x82\xAC"}, "[  \xE2\x82\xAC]"},
        FormatCase{"[%4s]", {"\xF0\x9F\x98\x80"}, "[  \xF0\x9F\x98\x80]"},
        FormatCase{"%s%s%s", {kStdString, 'c', std::string_view("v")}, "xcv"},
        FormatCase{"%s/%s", {true, false}, "True/False"},
        FormatCase{"[%s]", {static_cast<const char*>(nullptr)}, "[]"},
        FormatCase{"%p", {reinterpret_cast<const void*>(0x1234)}, "0000000000001234"},
        FormatCase{"[%18p]", {nullptr}, "[  0000000000000000]"},
        FormatCase{"%1:s %0:s", {"a", "b"}, "b a"}, FormatCase{"%1:s %s", {"a", "b", "c"}, "b c"},
        FormatCase{"%0:s%0:s", {"a"}, "aa"}, FormatCase{"[%0:-4s]", {"a"}, "[a   ]"},
        FormatCase{"[%*d]", {5, 42}, "[   42]"}, FormatCase{"[%-*d]", {4, 7}, "[7   ]"},
        FormatCase{"[%*d]", {-4, 7}, "[7   ]"}, FormatCase{"[%*s]", {std::size_t{3}, "a"}, "[  a]"},
        FormatCase{"%.*f", {3, 1.0}, "1.000"}, FormatCase{"[%*.*f]", {8, 1, 2.25}, "[     2.3]"},
        FormatCase{"100%%", {}, "100%"}, FormatCase{"%.f", {2.5}, "3"},
        FormatCase{"plain", {1, "surplus"}, "plain"},
        FormatCase{"%s = %d ($%.8x)", {"X", -1, -1}, "X = -1 ($FFFFFFFF)"},
        FormatCase{"Waiting %0.1fs for mutex", {1.25}, "Waiting 1.3s for mutex"},
        FormatCase{"%s: %s (Error Code: %d, $%.08x)",
                   {"t", "m", 5, 5},
                   "t: m (Error Code: 5, $00000005)"}));

TEST(SiFormatTest, SettingsGiveSeparatorsAndCurrencyForms) {
    TSiFormatSettings LSettings;
    LSettings.DecimalSeparator = ",";
    LSettings.ThousandSeparator = "\xC2\xA0";  // no-break space, as some locales use
    LSettings.CurrencyString = "EUR";
    LSettings.CurrencyFormat = 3;
    LSettings.NegCurrFormat = 8;
    LSettings.CurrencyDecimals = 1;
    EXPECT_EQ(SiFormat(LSettings, "%.2f %g %e", {1.5, 0.25, 1.0}),
              "1,50 0,25 1,00000000000000E+000");
    EXPECT_EQ(SiFormat(LSettings, "%n", {1234567.0}),
              "1\xC2\xA0"
              "234\xC2\xA0"
              "567,00");
    EXPECT_EQ(SiFormat(LSettings, "%m|%m", {1234.56, -2.0}),
              "1\xC2\xA0"
              "234,6 EUR|-2,0 EUR");

    const struct {
        int NegCurrFormat;
        const char* Expected;
    } LNegative[] = {{0, "($1.00)"},  {1, "-$1.00"},   {2, "$-1.00"},    {3, "$1.00-"},
                     {4, "(1.00$)"},  {5, "-1.00$"},   {6, "1.00-$"},    {7, "1.00$-"},
                     {8, "-1.00 $"},  {9, "-$ 1.00"},  {10, "1.00 $-"},  {11, "$ 1.00-"},
                     {12, "$ -1.00"}, {13, "1.00- $"}, {14, "($ 1.00)"}, {15, "(1.00 $)"},
                     {16, "-$1.00"}};
    for (const auto& LCase : LNegative) {
        TSiFormatSettings LMoney;
        LMoney.NegCurrFormat = LCase.NegCurrFormat;
        EXPECT_EQ(SiFormat(LMoney, "%m", {-1.0}), LCase.Expected) << LCase.NegCurrFormat;
    }
    const char* const LPositive[] = {"$1.00", "1.00$", "$ 1.00", "1 $"};
    for (int LI = 0; LI < 4; ++LI) {
        TSiFormatSettings LMoney;
        LMoney.CurrencyFormat = LI;
        EXPECT_EQ(SiFormat(LMoney, LI == 3 ? "%.0m" : "%m", {1.0}), LPositive[LI]) << LI;
    }
}

// Widths and the zero-padding of integers stop at 4096 characters, so that neither a typo nor
// an argument makes one call allocate without bound; a text's own length and a text precision
// (which only cuts) are not limited.
TEST(SiFormatTest, PaddingStopsAt4096) {
    const std::string LSpaces(4095, ' ');
    const std::string LZeros(4095, '0');
    const std::string LLong(5000, 'L');
    const struct {
        const char* Format;
        std::vector<TSiFormatArg> Args;
        std::string Expected;
    } LCases[] = {
        {"%1000000000d", {1}, LSpaces + "1"},
        {"%4097x", {255}, LSpaces.substr(1) + "FF"},
        {"%*s", {1000000000, "a"}, LSpaces + "a"},
        {"%*s", {-2147483647, "a"}, "a" + LSpaces},
        {"%-2147483647s", {"a"}, "a" + LSpaces},
        {"%.1000000000d", {-1}, "-" + LZeros + "1"},
        {"%.*u", {2147483647, 7u}, LZeros + "7"},
        {"%1:4100.4100x", {0, 1}, LZeros + "1"},
        {"%4096s", {LLong}, LLong},
        {"%.4999s", {LLong}, LLong.substr(1)},
        {"%.1000000000f", {0.5}, "0.500000000000000000"},
    };
    for (const auto& LCase : LCases) {
        EXPECT_EQ(SiFormat(TSiFormatSettings(), LCase.Format, LCase.Args), LCase.Expected)
            << LCase.Format;
    }
}

TEST(SiFormatTest, ErrorsCarryTheClassicMessages) {
    const std::string LInvalid = "' invalid or incompatible with argument";
    const struct {
        const char* Format;
        std::vector<TSiFormatArg> Args;
        std::string Message;
    } LCases[] = {
        {"%d", {"x"}, "Format '%d" + LInvalid},
        {"%s", {1}, "Format '%s" + LInvalid},
        {"%f", {1}, "Format '%f" + LInvalid},
        {"%d", {1.5}, "Format '%d" + LInvalid},
        {"%x", {true}, "Format '%x" + LInvalid},
        {"%p", {"x"}, "Format '%p" + LInvalid},
        {"%s", {reinterpret_cast<const void*>(8)}, "Format '%s" + LInvalid},
        {"%*d", {"x", 1}, "Format '%*d" + LInvalid},
        {"%*d", {std::int64_t{1} << 40, 1}, "Format '%*d" + LInvalid},
        {"%*d", {4294967295u, 1}, "Format '%*d" + LInvalid},
        {"%q", {1}, "Format '%q" + LInvalid},
        {"abc%", {}, "Format 'abc%" + LInvalid},
        {"%5%", {}, "Format '%5%" + LInvalid},
        {"%-1:s", {"a", "b"}, "Format '%-1:s" + LInvalid},
        {"%:s", {"a"}, "Format '%:s" + LInvalid},
        {"%99999999999d", {1}, "Format '%99999999999d" + LInvalid},
        {"%d", {}, "No argument for format '%d'"},
        {"%d %d", {1}, "No argument for format '%d %d'"},
        {"%*d", {5}, "No argument for format '%*d'"},
        {"%3:s", {"a"}, "No argument for format '%3:s'"},
        // The format is cut to 31 characters, and never inside a character.
        {"0123456789012345678901234567890123 %d",
         {},
         "No argument for format '0123456789012345678901234567890'"},
        {"012345678901234567890123456789\xF0\x9F\x98\x80 %d",
         {},
         "No argument for format '012345678901234567890123456789'"},
    };
    for (const auto& LCase : LCases) {
        try {
            SiFormat(TSiFormatSettings(), LCase.Format, LCase.Args);
            ADD_FAILURE() << LCase.Format << ": no error";
        } catch (const ESiConvertError& LAError) {
            EXPECT_EQ(std::string(LAError.what()), LCase.Message) << LCase.Format;
        }
    }
    // The library's own error base catches it.
    EXPECT_THROW(SiFormat("%d", {}), ESiError);
}

TEST(SiFloatToStrTest, ShortestGeneralForm) {
    const struct {
        double Value;
        const char* Expected;
    } LCases[] = {
        {1.5, "1.5"},       {100.0, "100"},
        {1e20, "1E20"},     {1.5e-7, "1.5E-7"},
        {0.1 + 0.2, "0.3"}, {-0.0, "0"},
        {-12.25, "-12.25"}, {123456789012345678.0, "1.23456789012346E17"},
        {kInf, "INF"},      {0.00012, "0.00012"},
    };
    for (const auto& LCase : LCases) {
        EXPECT_EQ(SiFloatToStr(LCase.Value, TSiFormatSettings()), LCase.Expected) << LCase.Value;
    }
    TSiFormatSettings LComma;
    LComma.DecimalSeparator = ",";
    EXPECT_EQ(SiFloatToStr(1.5, LComma), "1,5");
}

TDateTime At(int AYear, int AMonth, int ADay, int AHour = 0, int AMinute = 0, int ASecond = 0,
             int AMillisecond = 0) {
    return SiEncodeDateTime({AYear, AMonth, ADay, AHour, AMinute, ASecond, AMillisecond});
}

TEST(SiDateTimeTest, PicturesInTheWindowsNotation) {
    const TDateTime LAfternoon = At(2024, 3, 5, 14, 7, 9);  // a Tuesday
    const struct {
        const char* Picture;
        TDateTime Value;
        const char* Expected;
    } LCases[] = {
        {"d/M/y", LAfternoon, "5/3/24"},
        {"dd.MM.yyyy", LAfternoon, "05.03.2024"},
        {"ddd dddd MMM MMMM", LAfternoon, "Tue Tuesday Mar March"},
        {"h:mm:ss tt", LAfternoon, "2:07:09 PM"},
        {"hh t", LAfternoon, "02 P"},
        {"H:m:s", LAfternoon, "14:7:9"},
        {"h tt HH", At(2024, 3, 5, 0, 5), "12 AM 00"},
        {"'d''M' gg yyyy x", LAfternoon, "d'M  2024 x"},
        {"''yy''", At(1999, 12, 31), "'99'"},
        {"dddd d MMMM yyyy", At(1, 1, 1), "Monday 1 January 0001"},
        {"yyyy-MM-dd HH:mm", At(1899, 12, 29, 6), "1899-12-29 06:00"},
    };
    for (const auto& LCase : LCases) {
        EXPECT_EQ(SiFormatDateTime(LCase.Picture, LCase.Value, TSiFormatSettings()), LCase.Expected)
            << LCase.Picture;
    }
}

TEST(SiDateTimeTest, DefaultTextLeavesOutMidnight) {
    const TSiFormatSettings LSettings;
    EXPECT_EQ(SiDateTimeToStr(At(2024, 3, 5, 14, 7, 9), LSettings), "2024-03-05 14:07:09");
    EXPECT_EQ(SiDateTimeToStr(At(2024, 3, 5), LSettings), "2024-03-05");
    EXPECT_EQ(SiDateTimeToStr(At(2024, 3, 5, 0, 0, 0, 1), LSettings), "2024-03-05 00:00:00");
    EXPECT_EQ(SiDateTimeToStr(0.0, LSettings), "1899-12-30");
    // Values beyond the calendar show as numbers instead of a date that does not exist.
    EXPECT_EQ(SiDateTimeToStr(1e10, LSettings), "10000000000");
    EXPECT_EQ(SiDateTimeToStr(std::nan(""), LSettings), "NAN");
}

}  // namespace
}  // namespace deruz::logging
