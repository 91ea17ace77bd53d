// TSiLookupTable: storage and every typed getter's conversion rules.
#include "logging/config/lookup_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace deruz::logging {
namespace {

// A table whose key "v" holds the given text, or no key at all.
TSiLookupTable With(std::optional<std::string> AValue) {
    TSiLookupTable LTable;
    if (AValue) {
        LTable.Put("v", *AValue);
    }
    return LTable;
}

TEST(SiLookupTableTest, KeysIgnoreCaseAndStringsKeepEmptyValues) {
    TSiLookupTable LTable;
    LTable.Put("Caption", "one");
    LTable.Put("CAPTION", "two");
    LTable.Add("caption", "three");
    LTable.Add("level", "");
    EXPECT_EQ(LTable.Count(), 2u);
    EXPECT_EQ(LTable.GetStringValue("caption", "d"), "two");
    EXPECT_EQ(LTable.GetStringValue("Level", "d"), "");  // empty, but present
    EXPECT_EQ(LTable.GetStringValue("missing", "d"), "d");
    std::vector<std::string> LKeys;
    LTable.ForEach([&](const std::string& AKey, const std::string&) { LKeys.push_back(AKey); });
    EXPECT_EQ(LKeys.size(), 2u);
    EXPECT_NE(std::find(LKeys.begin(), LKeys.end(), "Caption"), LKeys.end());
    LTable.Remove("CAPTION");
    EXPECT_FALSE(LTable.Contains("caption"));
    LTable.Clear();
    EXPECT_EQ(LTable.Count(), 0u);
}

TEST(SiLookupTableTest, Booleans) {
    struct Case {
        std::optional<std::string> Text;
        bool Default;
        bool Result;
    };
    const Case LCases[] = {
        {"true", false, true}, {" TRUE ", false, true},    {"1", false, true},
        {"Yes ", false, true}, {"on", true, false},        {"false", true, false},
        {"   ", true, false},  {"0", true, false},         {"", true, true},
        {"", false, false},    {std::nullopt, true, true},
    };
    for (const Case& LCase : LCases) {
        EXPECT_EQ(With(LCase.Text).GetBooleanValue("v", LCase.Default), LCase.Result)
            << LCase.Text.value_or("<absent>");
    }
}

TEST(SiLookupTableTest, Integers) {
    struct Case {
        std::optional<std::string> Text;
        std::int32_t Result;
    };
    const Case LCases[] = {
        {"007", 7},
        {" 42\t", 42},
        {"0", 0},
        {"2147483647", 2147483647},
        {"000000000000002147483647", 2147483647},
        {"2147483648", -9},
        {"99999999999999999999999", -9},
        {"-5", -9},
        {"+5", -9},
        {"1 2", -9},
        {"12a", -9},
        {"0x10", -9},
        {"", -9},
        {std::nullopt, -9},
    };
    for (const Case& LCase : LCases) {
        EXPECT_EQ(With(LCase.Text).GetIntegerValue("v", -9), LCase.Result)
            << LCase.Text.value_or("<absent>");
    }
}

TEST(SiLookupTableTest, LevelsAndRotations) {
    struct LevelCase {
        const char* Text;
        TSiLevel Result;
    };
    const LevelCase LLevels[] = {
        {"debug", lvDebug},     {"Verbose", lvVerbose}, {" MESSAGE ", lvMessage},
        {"warning", lvWarning}, {"error", lvError},     {"fatal", lvFatal},
        {"control", lvMessage}, {"unknown", lvMessage}, {"3", lvMessage},
        {"err", lvMessage},
    };
    for (const LevelCase& LCase : LLevels) {
        EXPECT_EQ(With(LCase.Text).GetLevelValue("v", lvMessage), LCase.Result) << LCase.Text;
    }
    struct RotateCase {
        const char* Text;
        TSiFileRotate Result;
    };
    const RotateCase LRotations[] = {
        {"none", frNone},       {"Hourly", frHourly}, {" DAILY", frDaily}, {"weekly", frWeekly},
        {"monthly", frMonthly}, {"yearly", frWeekly}, {"", frWeekly},
    };
    for (const RotateCase& LCase : LRotations) {
        EXPECT_EQ(With(LCase.Text).GetRotateValue("v", frWeekly), LCase.Result) << LCase.Text;
    }
}

TEST(SiLookupTableTest, SizesCountKilobytesUnlessSuffixed) {
    struct Case {
        std::optional<std::string> Text;
        std::int64_t Result;
    };
    constexpr std::int64_t LKDefault = 2048 * 1024;  // default 2048 KB
    const Case LCases[] = {
        {"10 kb", 10240},
        {"10KB", 10240},
        {"10kb", 10240},
        {" 10 Kb ", 10240},
        {"12", 12288},
        {"1", 1024},
        {"1mb", 1048576},
        {"2 GB", 2147483648LL},
        {"2147483647gb", 2147483647LL * 1073741824LL},
        {"0", 0},
        {"kb", LKDefault},
        {"k", LKDefault},
        {"5b", LKDefault},
        {"5 k", LKDefault},
        {"-5", LKDefault},
        {"1 0kb", LKDefault},
        {"2147483648", LKDefault},
        {"", LKDefault},
        {std::nullopt, LKDefault},
    };
    for (const Case& LCase : LCases) {
        EXPECT_EQ(With(LCase.Text).GetSizeValue("v", 2048), LCase.Result)
            << LCase.Text.value_or("<absent>");
    }
}

TEST(SiLookupTableTest, TimespansCountSecondsUnlessSuffixedAndWrapAt32Bits) {
    struct Case {
        std::optional<std::string> Text;
        std::uint32_t Result;
    };
    const Case LCases[] = {
        {"1", 1000},
        {"1s", 1000},
        {"1 S", 1000},
        {"2m", 120000},
        {"3h", 10800000},
        {"1d", 86400000},
        {"90d", static_cast<std::uint32_t>(90ULL * 86400000ULL % 4294967296ULL)},
        {"4294968", 704},  // 4,294,968,000 ms wraps to 704
        {"0", 0},
        {"s", 7000},
        {"1ms", 7000},
        {"1.5s", 7000},
        {"-1s", 7000},
        {"", 7000},
        {std::nullopt, 7000},
    };
    for (const Case& LCase : LCases) {
        EXPECT_EQ(With(LCase.Text).GetTimespanValue("v", 7), LCase.Result)
            << LCase.Text.value_or("<absent>");
    }
    // The default is scaled and wrapped the same way.
    EXPECT_EQ(With(std::nullopt).GetTimespanValue("v", 5000000), 705032704u);
}

TEST(SiLookupTableTest, ColorsFromHexadecimalRgbOrArgb) {
    struct Case {
        const char* Text;
        TSiColor Result;
    };
    constexpr TSiColor LKDefault = clWindow;
    const Case LCases[] = {
        {"0xFF0000", 0x0000FF},  // pure red
        {"&H00FF00", 0x00FF00},     {"$0000FF", 0xFF0000},    {"0x123456", 0x563412},
        {"0xff0000", 0x0000FF},      // the digits may be lower case
        {" 0x80FF0000 ", 0x0000FF},  // alpha byte ignored
        {"0xFFFFF", 0xF0FFFF},       // odd length: a 0 is appended
        {"0XFF0000", LKDefault},     // prefixes are case-sensitive
        {"&h00FF00", LKDefault},    {"FF0000", LKDefault},    {"0x", LKDefault},
        {"0xFF", LKDefault},        {"0xFFFF", LKDefault},    {"0x1122334455", LKDefault},
        {"0xGG0000", LKDefault},    {"0x FF0000", LKDefault}, {"", LKDefault},
    };
    for (const Case& LCase : LCases) {
        EXPECT_EQ(With(LCase.Text).GetColorValue("v", LKDefault), LCase.Result) << LCase.Text;
    }
}

TEST(SiLookupTableTest, BytesAreCutOrZeroPadded) {
    using Bytes = std::vector<std::uint8_t>;
    const Bytes LDefault{9, 9};
    struct Case {
        std::optional<std::string> Text;
        std::size_t Size;
        Bytes Result;
    };
    const Case LCases[] = {
        {"abc", 5, {'a', 'b', 'c', 0, 0}},
        {" abc ", 3, {'a', 'b', 'c'}},
        {"abcdef", 3, {'a', 'b', 'c'}},
        {"\xC3\xA9", 1, {0xC3}},
        {"abc", 0, {}},
        {"   ", 4, LDefault},
        {"", 4, LDefault},
        {std::nullopt, 4, LDefault},
    };
    for (const Case& LCase : LCases) {
        EXPECT_EQ(With(LCase.Text).GetBytesValue("v", LCase.Size, LDefault), LCase.Result)
            << LCase.Text.value_or("<absent>");
    }
}

}  // namespace
}  // namespace deruz::logging
