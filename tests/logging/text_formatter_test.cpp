// The pattern language of text lines: the token grammar (widths, options, unknown and short
// variables), the eleven variables, the timestamp format with its fallback, indentation by method
// depth, and the formatter's output for each packet kind.
#include "logging/format/text_formatter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "logging/format/pattern_parser.h"

namespace deruz::logging {
namespace {

// 2024-05-01 (a Wednesday) 13:45:07.123.
TDateTime SampleTime(int AHour = 13, int AMinute = 45, int AMillisecond = 123) {
    TSiDateTimeParts LParts;
    LParts.Year = 2024;
    LParts.Month = 5;
    LParts.Day = 1;
    LParts.Hour = AHour;
    LParts.Minute = AMinute;
    LParts.Second = 7;
    LParts.Millisecond = AMillisecond;
    return SiEncodeDateTime(LParts);
}

TSiRef<TSiLogEntry> MakeEntry(const std::string& ATitle, TSiLogEntryType AType = ltMessage) {
    auto LEntry = SiMakeRef<TSiLogEntry>(AType, viTitle);
    LEntry->Title = ATitle;
    LEntry->Level = lvMessage;
    LEntry->Timestamp = SampleTime();
    LEntry->AppName = "app";
    LEntry->SessionName = "Main";
    LEntry->HostName = "host";
    LEntry->ThreadId = 42;
    LEntry->ProcessId = 7;
    return LEntry;
}

// The fixed settings of a system without thread locales: "-" between date parts, ":" between
// time parts.
std::unique_ptr<TSiTextFormatter> MakeFormatter(std::string_view APattern) {
    auto LFormatter = std::make_unique<TSiTextFormatter>(APattern);
    LFormatter->SetFormatSettings(TSiFormatSettings());
    return LFormatter;
}

std::string TextOf(const TSiMemoryStream& AStream) {
    const auto LBytes = AStream.Bytes();
    return {LBytes.begin(), LBytes.end()};
}

std::string LineOf(std::string_view APattern, TSiLogEntry& AEntry) {
    TSiMemoryStream LStream;
    MakeFormatter(APattern)->Format(AEntry, LStream);
    return TextOf(LStream);
}

TEST(TextFormatterTest, PatternsExpandByteExact) {
    struct Case {
        const char* Pattern;
        const char* Title;
        const char* Expected;
    };
    const Case LCases[] = {
        {"[%timestamp%] %level%: %title%", "Hello", "[2024-05-01 13:45:07.123] Message: Hello"},
        {"%appname%|%session%|%hostname%|%thread%|%process%", "", "app|Main|host|42|7"},
        {"%logentrytype% %viewerid% %color%", "", "Message Title <default>"},
        // Names match without regard to case.
        {"%LEVEL% %Title%", "x", "Message x"},
        // Widths: positive pads on the left, negative on the right, longer text stays whole.
        {"%level,-8%|", "", "Message |"},
        {"%level,10%|", "", "   Message|"},
        {"%level,3%|", "", "Message|"},
        {"%level, -9 %|", "", "Message  |"},
        {"%level,abc%|", "", "Message|"},
        {"%level,%|", "", "Message|"},
        {"%level,99999999999%|", "", "Message|"},
        {"%timestamp,25%", "", "  2024-05-01 13:45:07.123"},
        // Widths count characters (UTF-16 code units), not bytes.
        {"%title,7%|",
         "Gr\xC3\xBC\xC3\x9F"
         "e",
         "  Gr\xC3\xBC\xC3\x9F"
         "e|"},
        {"%title,-4%|", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80  |"},
        // Options in braces before the closing "%", then the width.
        {"%title,5{ignored}%|", "Hi", "   Hi|"},
        {"%timestamp,-8{hh:nn}%|", "", "13:45   |"},
        {"%timestamp{hh:nn}%", "", "13:45"},
        {"%timestamp{yyyy,mm}%", "", "2024,05"},
        // An invalid timestamp format falls back to the default; so do empty options.
        {"%timestamp{hh 'nn}%", "", "2024-05-01 13:45:07.123"},
        {"%timestamp{}%", "", "2024-05-01 13:45:07.123"},
        // Unknown and short variables stay as they are; there is no escape for "%".
        {"%foo% %% 100%", "", "%foo% %% 100%"},
        {"a %level", "", "a %level"},
        {"%{x}%", "", "%{x}%"},
        {"%title{x},5%", "", "%title{x},5%"},
        // A stray "%" pairs with the next one, so the variable after it is not seen.
        {"50% of %title%", "x", "50% of %title%"},
        {"%foo bar %level%", "", "%foo bar %level%"},
        // The pattern is trimmed.
        {"  %title%  ", "t", "t"},
        {"", "t", ""},
    };
    for (const Case& LCase : LCases) {
        const auto LEntry = MakeEntry(LCase.Title);
        EXPECT_EQ(LineOf(LCase.Pattern, *LEntry), std::string(LCase.Expected) + "\r\n")
            << LCase.Pattern;
    }
}

TEST(TextFormatterTest, WidthsAreCappedAndMayBeMostNegative) {
    const auto LEntry = MakeEntry("x");
    EXPECT_EQ(LineOf("%title,1000000000%", *LEntry).size(),
              static_cast<std::size_t>(CSiMaxTokenWidth) + 2);
    EXPECT_EQ(LineOf("%title,-2147483648%", *LEntry).size(),
              static_cast<std::size_t>(CSiMaxTokenWidth) + 2);
    EXPECT_EQ(TSiTokenFactory::ParseWidth("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(TSiTokenFactory::ParseWidth("2147483648"), 0);
    EXPECT_EQ(TSiTokenFactory::ParseWidth("+12"), 12);
    EXPECT_EQ(TSiTokenFactory::ParseWidth("1 2"), 0);
}

TEST(TextFormatterTest, VariablesShowEveryFieldAndColour) {
    struct Case {
        TSiColor Color;
        const char* Expected;
    };
    const Case LCases[] = {
        {clWindow, "<default>"},
        {0x000000FF, "$FF0000"},
        {0x00FF8000, "$0080FF"},
        {0, "$000000"},
        {static_cast<TSiColor>(0xFF000008u), "$080000"},
    };
    for (const Case& LCase : LCases) {
        const auto LEntry = MakeEntry("");
        LEntry->Color = LCase.Color;
        EXPECT_EQ(LineOf("%color%", *LEntry), std::string(LCase.Expected) + "\r\n");
    }

    const auto LEntry = MakeEntry("", ltEnterMethod);
    LEntry->Level = lvControl;
    LEntry->ViewerId = viWeb;
    LEntry->ThreadId = 4294967295u;
    EXPECT_EQ(LineOf("%level% %logentrytype% %viewerid% %thread%", *LEntry),
              "Unknown EnterMethod Web 4294967295\r\n");
    // A corrupted ordinal (as a damaged dump may hold) shows as nothing.
    LEntry->LogEntryType = static_cast<TSiLogEntryType>(200);
    EXPECT_EQ(LineOf("[%logentrytype%]", *LEntry), "[]\r\n");
}

TEST(TextFormatterTest, TimestampFormatLanguage) {
    TSiFormatSettings LSettings;
    LSettings.ShortDateFormat = "dd.MM.yyyy";
    LSettings.LongTimeFormat = "HH-mm-ss";
    struct Case {
        const char* Format;
        TDateTime Value;
        const char* Expected;
    };
    const Case LCases[] = {
        {"yyyy-mm-dd hh:nn:ss.zzz", SampleTime(), "2024-05-01 13-45-07.123"},
        // "/" and ":" are the locale's separators.
        {"yy/m/d h:n:s.z", SampleTime(), "24.5.1 13-45-7.123"},
        // "m" after an hour is the minute, elsewhere the month.
        {"hh:mm mm", SampleTime(), "13-45 05"},
        {"HH:NN YYYY", SampleTime(), "13-45 2024"},
        {"mmm mmmm ddd dddd", SampleTime(), "May May Wed Wednesday"},
        {"h am/pm|hh AM/PM|h:nn a/p|ampm", SampleTime(), "1 pm|01 PM|1-45 p|PM"},
        {"h am/pm", SampleTime(0, 5), "12 am"},
        {"z zzz", SampleTime(13, 45, 5), "5 005"},
        {"'yyyy:' \"hh\" x", SampleTime(), "yyyy: hh x"},
        // A value without a calendar date is written as a number.
        {"yyyy", 3000000.0, "3000000"},
    };
    for (const Case& LCase : LCases) {
        TSiTimestampFormat LFormat(LSettings);
        ASSERT_TRUE(LFormat.Compile(LCase.Format)) << LCase.Format;
        EXPECT_EQ(LFormat.Format(LCase.Value), LCase.Expected) << LCase.Format;
    }

    // One format writing a run of values (as a text protocol does) gives each the text that
    // a fresh format gives: within a second, across seconds and days, with milliseconds
    // anywhere in the format, and after a new format was compiled.
    const TDateTime LMs = 1.0 / 86'400'000;
    const std::vector<TDateTime> LRun = {
        SampleTime(13, 45, 5),
        SampleTime(13, 45, 5) + 7 * LMs,
        SampleTime(13, 45, 5) + 999 * LMs,
        SampleTime(13, 45, 6),
        SampleTime(13, 45, 5) + 1 + 42 * LMs,
        3000000.0,
        SiEncodeDateTime({2024, 5, 1, 23, 59, 59, 999}) + 0.6 * LMs,  // rounds to midnight
        SampleTime(13, 45, 5) + 1,
        SampleTime(13, 45, 5)};
    // Each value is written twice in a row (entries of one millisecond share their timestamp),
    // with another format writing it in between, on the same thread.
    TSiTimestampFormat LRunning(LSettings);
    TSiTimestampFormat LOther(LSettings);
    ASSERT_TRUE(LOther.Compile("ss hh"));
    for (const char* LPattern : {"yyyy-mm-dd hh:nn:ss.zzz", "z|ss|zzz|dddd", "hh"}) {
        ASSERT_TRUE(LRunning.Compile(LPattern));
        for (const TDateTime LValue : LRun) {
            TSiTimestampFormat LFresh(LSettings);
            ASSERT_TRUE(LFresh.Compile(LPattern));
            EXPECT_EQ(LRunning.Format(LValue), LFresh.Format(LValue)) << LPattern;
            TSiTimestampFormat LFreshOther(LSettings);
            ASSERT_TRUE(LFreshOther.Compile("ss hh"));
            EXPECT_EQ(LOther.Format(LValue), LFreshOther.Format(LValue));
            EXPECT_EQ(LRunning.Format(LValue), LFresh.Format(LValue)) << LPattern;
        }
    }

    // Unclosed quotes make a format invalid; the one compiled before stays.
    TSiTimestampFormat LFormat(LSettings);
    ASSERT_TRUE(LFormat.Compile("hh"));
    EXPECT_FALSE(LFormat.Compile("hh 'x"));
    EXPECT_FALSE(LFormat.Compile("\"x"));
    EXPECT_EQ(LFormat.Format(SampleTime()), "13");
}

TEST(TextFormatterTest, OneFormatServesSeveralThreadsAtOnce) {
    // Each thread writes values of its own second; a shared last-second text would hand one
    // thread the other's date.
    TSiFormatSettings LSettings;
    TSiTimestampFormat LFormat(LSettings);
    ASSERT_TRUE(LFormat.Compile("yyyy-mm-dd hh:nn:ss.zzz"));
    constexpr TDateTime LSecond = 1.0 / 86'400;
    struct TWriter {
        TDateTime Value;
        std::string Expected;
        int Wrong = 0;
    };
    TWriter LWriters[] = {{SampleTime(13, 45, 12), "2024-05-01 13:45:07.012"},
                          {SampleTime(9, 30, 8) + 1, "2024-05-02 09:30:07.008"}};
    std::vector<std::thread> LThreads;
    for (TWriter& LWriter : LWriters) {
        LThreads.emplace_back([&LFormat, &LWriter] {
            for (int LI = 0; LI < 20000; ++LI) {
                // Alternating with the other thread's second forces renewed texts.
                if (LFormat.Format(LWriter.Value + (LI % 2) * LSecond).substr(0, 10) !=
                    LWriter.Expected.substr(0, 10)) {
                    ++LWriter.Wrong;
                }
                if (LFormat.Format(LWriter.Value) != LWriter.Expected) ++LWriter.Wrong;
            }
        });
    }
    for (auto& LThread : LThreads) LThread.join();
    for (const TWriter& LWriter : LWriters) EXPECT_EQ(LWriter.Wrong, 0) << LWriter.Expected;
}

TEST(TextFormatterTest, IndentationFollowsMethodDepth) {
    struct Step {
        TSiLogEntryType Type;
        const char* Title;
        const char* Expected;
    };
    const Step LSteps[] = {
        {ltMessage, "before", "before|"},
        {ltEnterMethod, "A", "A   |"},
        {ltMessage, "in A", "   in A|"},
        {ltEnterMethod, "B", "   B   |"},
        {ltMessage, "in B", "      in B|"},
        {ltLeaveMethod, "B", "   B   |"},
        {ltLeaveMethod, "A", "A   |"},
        // A leave without an enter does not go below the outer level.
        {ltLeaveMethod, "stray", "stray|"},
        {ltMessage, "after", "after|"},
    };
    // The indentation comes before the title's padding, and only the title is indented.
    const auto LFormatter = MakeFormatter("%level,-8%%title,-4%|");
    LFormatter->SetIndent(true);
    for (const Step& LStep : LSteps) {
        const auto LEntry = MakeEntry(LStep.Title, LStep.Type);
        LFormatter->Compile(*LEntry);
        EXPECT_EQ(LFormatter->Line(), std::string("Message ") + LStep.Expected + "\r\n")
            << LStep.Title;
    }

    // Without indentation the depth is still followed; setting the pattern resets it.
    const auto LPlain = MakeFormatter("%title%");
    LPlain->Compile(*MakeEntry("A", ltEnterMethod));
    EXPECT_EQ(LPlain->Parser().IndentLevel(), 1);
    EXPECT_EQ(LPlain->Compile(*MakeEntry("x")), 3);
    EXPECT_EQ(LPlain->Line(), "x\r\n");
    LPlain->SetIndent(true);
    LPlain->Compile(*MakeEntry("x"));
    EXPECT_EQ(LPlain->Line(), "   x\r\n");
    LPlain->SetPattern("%title%");
    LPlain->Compile(*MakeEntry("x"));
    EXPECT_EQ(LPlain->Line(), "x\r\n");
}

TEST(TextFormatterTest, OnlyLogEntriesGiveLines) {
    std::vector<TSiPacketPtr> LOthers = {
        SiMakeRef<TSiWatch>(wtString), SiMakeRef<TSiProcessFlow>(pfEnterMethod),
        SiMakeRef<TSiControlCommand>(ccClearAll), SiMakeRef<TSiLogHeader>()};
    const auto LFormatter = MakeFormatter(CSiDefaultPattern);
    TSiMemoryStream LStream;
    LFormatter->Format(*MakeEntry("first"), LStream);
    for (const TSiPacketPtr& LPacket : LOthers) {
        EXPECT_EQ(LFormatter->Compile(*LPacket), 0);
        EXPECT_TRUE(LFormatter->Line().empty());
        LFormatter->Write(LStream);
        EXPECT_FALSE(LFormatter->FormatLine(*LPacket).has_value());
        EXPECT_FALSE(SiFormatTextLine(*LPacket).has_value());
    }
    EXPECT_EQ(TextOf(LStream), "[2024-05-01 13:45:07.123] Message: first\r\n");

    const auto LEntry = MakeEntry("Hello");
    EXPECT_EQ(LFormatter->FormatLine(*LEntry), "[2024-05-01 13:45:07.123] Message: Hello");
    EXPECT_EQ(SiFormatTextLine(*LEntry, "%title%!"), "Hello!");
    EXPECT_EQ(SiFormatTextLine(*LEntry, ""), "");
}

TEST(TextFormatterTest, ParserKeepsTokenTextsAndOptions) {
    TSiPatternParser LParser;
    LParser.SetPattern("%timestamp,-3{hh}%x%%%");
    const auto& LTokens = LParser.Tokens();
    ASSERT_EQ(LTokens.size(), 4u);
    EXPECT_NE(dynamic_cast<const TSiTimestampToken*>(LTokens[0].get()), nullptr);
    EXPECT_EQ(LTokens[0]->Value(), "%timestamp,-3{hh}%");
    EXPECT_EQ(LTokens[0]->Options(), "hh");
    EXPECT_EQ(LTokens[0]->Width(), -3);
    EXPECT_EQ(LTokens[1]->Value(), "x");
    EXPECT_EQ(LTokens[2]->Value(), "%%");
    EXPECT_EQ(LTokens[3]->Value(), "%");
    for (std::size_t LI = 1; LI < LTokens.size(); ++LI) {
        EXPECT_NE(dynamic_cast<const TSiLiteralToken*>(LTokens[LI].get()), nullptr);
        EXPECT_TRUE(LTokens[LI]->Options().empty());
    }
}

}  // namespace
}  // namespace deruz::logging
