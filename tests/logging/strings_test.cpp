// Shared text, file-name, time and file-system functions.
#include "logging/base/strings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "logging/base/errors.h"
#include "logging/base/string_list.h"
#include "logging/system/clock.h"
#include "tests/logging/temp_dir.h"

namespace deruz::logging {
namespace {

namespace fs = std::filesystem;

using testing::TTempDir;

TEST(SiUtfTest, ConversionsRoundTripAndReplaceInvalidBytes) {
    const std::string LText = "a\xE2\x82\xAC\xF0\x9F\x98\x80";  // a, euro sign, U+1F600
    EXPECT_EQ(SiUtf8ToUtf16(LText), u"a\u20AC\U0001F600");
    EXPECT_EQ(SiUtf16ToUtf8(SiUtf8ToUtf16(LText)), LText);
    EXPECT_EQ(SiUtf16Length(LText), 4u);

    struct Case {
        std::string Bytes;
        std::u16string Utf16;
    };
    const Case LCases[] = {
        {"\xFF", u"\uFFFD"},
        {"\xC3", u"\uFFFD"},                                  // truncated
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                        // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},              // encoded surrogate
        {"\xF4\x90\x80\x80x", u"\uFFFD\uFFFD\uFFFD\uFFFDx"},  // above U+10FFFF
        {"a\xE2\x82", u"a\uFFFD\uFFFD"},
    };
    for (const Case& LCase : LCases) {
        EXPECT_EQ(SiUtf8ToUtf16(LCase.Bytes), LCase.Utf16);
        EXPECT_EQ(SiUtf16Length(LCase.Bytes), LCase.Utf16.size());
    }
    EXPECT_EQ(SiUtf16ToUtf8(u"x\xD800y"), "x\xEF\xBF\xBDy");  // unpaired surrogate
    EXPECT_EQ(SiUtf16ToUtf8(u"\xDC00"), "\xEF\xBF\xBD");
}

// Cuts count UTF-16 code units and fall on character boundaries: a character that needs two
// units stays out whole when only one is left, and an invalid byte counts as one unit.
TEST(SiUtfTest, TruncateUtf16KeepsWholeCharacters) {
    const std::string LText = "a\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a, euro sign, U+1F600, z
    struct Case {
        std::string Text;
        std::size_t Units;
        std::string Expected;
    };
    const Case LCases[] = {
        {LText, 0, ""},
        {LText, 1, "a"},
        {LText, 2, "a\xE2\x82\xAC"},
        {LText, 3, "a\xE2\x82\xAC"},  // the pair needs units 3 and 4
        {LText, 4, "a\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {LText, 5, LText},
        {LText, 100, LText},
        {"\xFFx", 1, "\xFF"},
        {"", 3, ""},
    };
    for (const Case& LCase : LCases) {
        EXPECT_EQ(SiTruncateUtf16(LCase.Text, LCase.Units), LCase.Expected) << LCase.Units;
    }
}

TEST(SiTextTest, AppendDecimalPadsWithZeros) {
    struct Case {
        std::int64_t Value;
        int MinDigits;
        std::string Expected;
    };
    const Case LCases[] = {
        {0, 1, "0"},
        {7, 2, "07"},
        {7, 0, "7"},
        {123, 2, "123"},
        {45, 4, "0045"},
        {-5, 3, "-005"},
        {4294967295, 1, "4294967295"},
        {std::numeric_limits<std::int64_t>::min(), 1, "-9223372036854775808"},
    };
    for (const Case& LCase : LCases) {
        std::string LOut = "x";
        SiAppendDecimal(LOut, LCase.Value, LCase.MinDigits);
        EXPECT_EQ(LOut, "x" + LCase.Expected);
    }
}

TEST(SiTextTest, TrimCaseAndOrdinalComparison) {
    EXPECT_EQ(SiTrim(" \t\r\n\x01 a b \x1F "), "a b");
    EXPECT_EQ(SiTrim("   "), "");
    EXPECT_EQ(SiTrim("\xC2\xA0x"), "\xC2\xA0x");  // no-break space is not trimmed
    EXPECT_EQ(SiLowerCase("AbC\xC3\x89"), "abc\xC3\x89");
    EXPECT_EQ(SiUpperCase("aBc\xC3\xA9"), "ABC\xC3\xA9");
    EXPECT_TRUE(SiSameText("Pipe", "pIPE"));
    EXPECT_FALSE(SiSameText("\xC3\xA9", "\xC3\x89"));

    EXPECT_LT(SiCompareOrdinal("B", "a"), 0);
    EXPECT_LT(SiCompareOrdinal("ab", "abc"), 0);
    EXPECT_EQ(SiCompareOrdinal("abc", "abc"), 0);
    // As UTF-16, U+1F600 (a surrogate pair starting D83D) sorts before U+E000, although its
    // UTF-8 bytes sort after.
    EXPECT_LT(SiCompareOrdinal("\xF0\x9F\x98\x80", "\xEE\x80\x80"), 0);
    EXPECT_GT(SiCompareOrdinal("\xF0\x9F\x98\x81", "\xF0\x9F\x98\x80"), 0);
}

TEST(SiTextTest, StringReplaceDoesNotRescanInsertedText) {
    struct Case {
        const char* Text;
        const char* Search;
        const char* Replacement;
        const char* Result;
    };
    const Case LCases[] = {
        {"aaa", "a", "aa", "aaaaaa"},
        {"aaa", "aa", "b", "ba"},
        {"$x$$x$", "$x$", "$x$$x$", "$x$$x$$x$$x$"},
        {"abc", "", "z", "abc"},
        {"", "a", "b", ""},
        {"abcabc", "bc", "", "aa"},
    };
    for (const Case& LCase : LCases) {
        EXPECT_EQ(SiStringReplace(LCase.Text, LCase.Search, LCase.Replacement), LCase.Result)
            << LCase.Text << " / " << LCase.Search;
    }
}

TEST(SiTextTest, LastPosAndSplit) {
    EXPECT_EQ(SiLastPos('.', "session.my.app.level"), 15u);
    EXPECT_EQ(SiLastPos('.', "level"), 0u);
    EXPECT_EQ(SiLastPos('.', ""), 0u);
    EXPECT_EQ(SiLastPos('.', "."), 1u);

    struct Case {
        const char* Text;
        std::vector<std::string> Pieces;
    };
    const Case LCases[] = {
        {"", {}},        {"a", {"a"}},      {"a,b", {"a", "b"}}, {"a,,b;c", {"a", "", "b", "c"}},
        {",", {"", ""}}, {"a;", {"a", ""}},
    };
    for (const Case& LCase : LCases) {
        std::vector<std::string> LList{"before"};
        SiSplit(LCase.Text, ",;", LList);
        std::vector<std::string> LExpected{"before"};
        LExpected.insert(LExpected.end(), LCase.Pieces.begin(), LCase.Pieces.end());
        EXPECT_EQ(LList, LExpected) << LCase.Text;
    }
}

TEST(SiFileNameTest, ExtensionNameAndPathParts) {
    struct Case {
        const char* Name;
        const char* Ext;
        const char* Changed;  // with ".log"
        const char* FileName;
        const char* Path;
    };
    const Case LCases[] = {
        {"c:\\logs\\app.sil", ".sil", "c:\\logs\\app.log", "app.sil", "c:\\logs\\"},
        {"c:\\logs.d\\app", "", "c:\\logs.d\\app.log", "app", "c:\\logs.d\\"},
        {"/var/log.d/app", "", "/var/log.d/app.log", "app", "/var/log.d/"},
        {"/var/log/a.b.sil", ".sil", "/var/log/a.b.log", "a.b.sil", "/var/log/"},
        {"c:app.sil", ".sil", "c:app.log", "app.sil", "c:"},
        {"log.sil", ".sil", "log.log", "log.sil", ""},
        {"noext", "", "noext.log", "noext", ""},
        {"trailing.", ".", "trailing.log", "trailing.", ""},
        {"", "", ".log", "", ""},
        {"dir\\", "", "dir\\.log", "", "dir\\"},
    };
    for (const Case& LCase : LCases) {
        EXPECT_EQ(SiExtractFileExt(LCase.Name), LCase.Ext) << LCase.Name;
        EXPECT_EQ(SiChangeFileExt(LCase.Name, ".log"), LCase.Changed) << LCase.Name;
        EXPECT_EQ(SiExtractFileName(LCase.Name), LCase.FileName) << LCase.Name;
        EXPECT_EQ(SiExtractFilePath(LCase.Name), LCase.Path) << LCase.Name;
    }
    EXPECT_EQ(SiChangeFileExt("a.sil", ""), "a");
}

TEST(SiFileNameTest, Wildcards) {
    struct Case {
        const char* Pattern;
        const char* Name;
        bool Matches;
    };
    const Case LCases[] = {
        {"*", "", true},
        {"*", "anything", true},
        {"log-*.sil", "log-2024-05-01-10-00-00.sil", true},
        {"log-*.sil", "log-.sil", true},
        {"log-*.sil", "log.sil", false},
        {"log-*.sil", "log-1.sil.bak", false},
        {"log-*.sil", "LOG-1.sil", false},
        {"?.sil", "a.sil", true},
        {"?.sil", "ab.sil", false},
        {"*a*b*c", "xxaxxbxxc", true},
        {"*a*b*c", "xxaxxcxxb", false},
        {"a**", "a", true},
        {"", "", true},
        {"", "a", false},
    };
    for (const Case& LCase : LCases) {
        EXPECT_EQ(SiMatchesWildcard(LCase.Pattern, LCase.Name), LCase.Matches)
            << LCase.Pattern << " ~ " << LCase.Name;
    }
    // Many stars against a long non-matching name finish quickly (no exponential backtracking).
    EXPECT_FALSE(SiMatchesWildcard(std::string(50, '*') + "b", std::string(5000, 'a')));
}

TEST(SiUtcNowTest, AgreesWithTheSystemClock) {
    const double LUnixSeconds =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const TDateTime LExpected = 25569.0 + LUnixSeconds / 86400.0;
    const TDateTime LNow = SiUtcNow();
    EXPECT_NEAR(LNow, LExpected, 5.0 / 86400.0);
    // Millisecond resolution: the time of day is a whole number of milliseconds.
    const double LMs = (LNow - std::floor(LNow)) * 86400000.0;
    EXPECT_NEAR(LMs, std::round(LMs), 0.01);
}

TEST(SiFileTest, CreateWriteReadAndDelete) {
    TTempDir LDir;
    const std::string LName = LDir.File("a.txt");
    EXPECT_FALSE(SiFileOrDirExists(LName));
    std::uint32_t LError = 1;
    {
        TSiFileHandle LFile = SiCreateFile(LName, faWrite, fsRead, fcCreateAlways, LError);
        ASSERT_TRUE(LFile.IsOpen());
        EXPECT_EQ(LError, 0u);
        EXPECT_TRUE(LFile.Write("hello", 5));
        EXPECT_EQ(LFile.Size(), 5);
    }
    {
        // Appending: open the existing file and continue at its end.
        TSiFileHandle LFile = SiCreateFile(LName, faWrite, fsRead, fcOpenAlways, LError);
        ASSERT_TRUE(LFile.IsOpen());
        EXPECT_EQ(LError, 0u);
        ASSERT_TRUE(LFile.SeekToEnd());
        EXPECT_TRUE(LFile.Write(" world", 6));
        TSiFileHandle LMoved = std::move(LFile);
        // The moved-from state is the subject here.
        // NOLINTNEXTLINE(bugprone-use-after-move)
        EXPECT_FALSE(LFile.IsOpen());
        EXPECT_TRUE(LMoved.IsOpen());
    }
    EXPECT_TRUE(SiFileOrDirExists(LName));
    EXPECT_TRUE(SiFileOrDirExists(LDir.NativeDir()));
    EXPECT_EQ(SiReadFile(LName), "hello world");
    {
        TSiFileHandle LFile = SiCreateFile(LName, faWrite, fsRead, fcCreateAlways, LError);
        ASSERT_TRUE(LFile.IsOpen());
    }
    EXPECT_EQ(SiReadFile(LName), "");  // CreateAlways truncated it
    EXPECT_TRUE(SiDeleteFile(LName));
    EXPECT_FALSE(SiDeleteFile(LName));
    EXPECT_FALSE(SiFileOrDirExists(LName));
}

TEST(SiFileTest, MissingFilesReportTheSystemError) {
    TTempDir LDir;
    const std::string LName = LDir.File("missing.txt");
    std::uint32_t LError = 0;
    const TSiFileHandle LFile = SiCreateFile(LName, faRead, fsReadWrite, fcOpenExisting, LError);
    EXPECT_FALSE(LFile.IsOpen());
    EXPECT_NE(LError, 0u);
    const std::string LText = SiSystemErrorText(LError);
    EXPECT_FALSE(LText.empty());
    EXPECT_NE(LText.back(), '.');
    EXPECT_NE(LText.back(), '\n');
    try {
        SiReadFile(LName);
        FAIL() << "no error";
    } catch (const ESiError& LAError) {
        EXPECT_EQ(std::string(LAError.what()), "Cannot open file \"" + LName + "\". " + LText);
    }
}

TEST(SiFileTest, AWriterThatSharesOnlyReadingKeepsOtherWritersOut) {
    TTempDir LDir;
    const std::string LName = LDir.File("shared.sil");
    std::uint32_t LError = 0;
    TSiFileHandle LWriter = SiCreateFile(LName, faWrite, fsRead, fcCreateAlways, LError);
    ASSERT_TRUE(LWriter.IsOpen());
    ASSERT_TRUE(LWriter.Write("SILF", 4));

    // A second writer, even one that would truncate, is refused and destroys nothing.
    const TSiFileHandle LSecond = SiCreateFile(LName, faWrite, fsRead, fcCreateAlways, LError);
    EXPECT_FALSE(LSecond.IsOpen());
    EXPECT_NE(LError, 0u);
    // A reader that allows writers can read the file while it is being written.
    EXPECT_EQ(SiReadFile(LName), "SILF");

    LWriter.Close();
    const TSiFileHandle LThird = SiCreateFile(LName, faWrite, fsRead, fcOpenAlways, LError);
    EXPECT_TRUE(LThird.IsOpen());
}

TEST(SiGetFilesTest, ListsMatchingFilesWithTheirDirectory) {
    TTempDir LDir;
    LDir.Write("log-1.sil", "x");
    LDir.Write("log-2.sil", "x");
    LDir.Write("log.sil", "x");
    LDir.Write("other.txt", "x");
    LDir.MakeDir("log-dir.sil");

    std::vector<std::string> LFiles{"kept"};
    SiGetFiles(LDir.NativeDir() + "log-*.sil", LFiles);
    std::sort(LFiles.begin(), LFiles.end());
    EXPECT_EQ(LFiles, (std::vector<std::string>{LDir.NativeDir() + "log-1.sil",
                                                LDir.NativeDir() + "log-2.sil", "kept"}));

    std::vector<std::string> LNone;
    SiGetFiles(LDir.NativeDir() + "*.none", LNone);
    SiGetFiles(LDir.File("no-such-dir") + TTempDir::Separator() + "*", LNone);
    EXPECT_TRUE(LNone.empty());
}

TEST(SiNamesTest, UserAndCurrentDirectory) {
    EXPECT_FALSE(SiGetUserName().empty());
    EXPECT_EQ(SiGetCurrentDirectory(), TTempDir::Utf8(fs::current_path()));
}

}  // namespace
}  // namespace deruz::logging
