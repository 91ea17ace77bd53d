// TSiStringList: bounds, line splitting, sorting and loading in every encoding.
#include "logging/base/string_list.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "logging/base/errors.h"

namespace deruz::logging {
namespace {

using Lines = std::vector<std::string>;

TEST(SiStringListTest, IndexOutOfBoundsRaises) {
    TSiStringList LList;
    LList.Add("a");
    LList.Add("b");
    const auto LExpectIndexError = [](auto AAction) {
        try {
            AAction();
            ADD_FAILURE() << "no error";
        } catch (const ESiError& LAError) {
            EXPECT_STREQ(LAError.what(), "Index out of bounds");
        }
    };
    LExpectIndexError([&] { LList.Get(2); });
    LExpectIndexError([&] { LList.Put(2, "x"); });
    LExpectIndexError([&] { LList.Delete(static_cast<std::size_t>(-1)); });
    LList.Put(1, "c");
    LList.Delete(0);
    EXPECT_EQ(LList.Items(), Lines{"c"});
}

TEST(SiStringListTest, IndexOfIsCaseSensitive) {
    TSiStringList LList;
    LList.SetText("Alpha\nalpha\nbeta");
    EXPECT_EQ(LList.IndexOf("alpha"), 1);
    EXPECT_EQ(LList.IndexOf("ALPHA"), -1);
}

TEST(SiStringListTest, TextSplitsAtEveryLineBreakKind) {
    struct Case {
        const char* Text;
        Lines Items;
    };
    const Case LCases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\nb", {"a", "b"}},
        {"a\rb\nc\r\n", {"a", "b", "c"}},
        {"a\n\nb", {"a", "", "b"}},
        {"\r\n", {""}},
        {"\n\r", {"", ""}},
        {"a\r\r\n", {"a", ""}},
    };
    for (const Case& LCase : LCases) {
        TSiStringList LList;
        LList.SetText(LCase.Text);
        EXPECT_EQ(LList.Items(), LCase.Items) << LCase.Text;
    }
    TSiStringList LList;
    LList.SetText("x\ny\r");
    EXPECT_EQ(LList.Text(), "x\r\ny\r\n");
}

TEST(SiStringListTest, SortsByUtf16Ordinal) {
    TSiStringList LList;
    for (const char* LItem : {"b", "\xEE\x80\x80", "a", "B", "\xF0\x9F\x98\x80", "ab", ""}) {
        LList.Add(LItem);
    }
    LList.Sort();
    EXPECT_EQ(LList.Items(), (Lines{"", "B", "a", "ab", "b", "\xF0\x9F\x98\x80", "\xEE\x80\x80"}));
}

TEST(SiStringListTest, DetectsTheEncodingWhenLoading) {
    using namespace std::string_literals;
    struct Case {
        const char* Name;
        std::string Bytes;
        Lines Items;
    };
    const Case LCases[] = {
        {"empty", "", {}},
        {"utf-8 marker",
         "\xEF\xBB\xBF"
         "caf\xC3\xA9\r\nx=1",
         {"caf\xC3\xA9", "x=1"}},
        {"utf-8 marker only", "\xEF\xBB\xBF", {}},
        {"utf-8 invalid byte",
         "\xEF\xBB\xBF"
         "a\xFF",
         {"a\xEF\xBF\xBD"}},
        {"utf-16le",
         "\xFF\xFE"
         "a\0\xE9\0\n\0b\0"s,
         {"a\xC3\xA9", "b"}},
        {"utf-16be", "\xFE\xFF\0a\0\xE9\0\r\0b"s, {"a\xC3\xA9", "b"}},
        {"utf-16le surrogates", "\xFF\xFE=\xD8\0\xDE"s, {"\xF0\x9F\x98\x80"}},
        {"utf-16le odd byte dropped",
         "\xFF\xFE"
         "a\0b"s,
         {"a"}},
        {"utf-16le lone surrogate", "\xFF\xFE\0\xD8"s, {"\xEF\xBF\xBD"}},
        // Only two bytes left: not enough for UTF-16, so they are 8-bit text.
        {"two-byte marker", "\xFF\xFE", {"\xC3\xBF\xC3\xBE"}},
        {"8-bit", "caf\xE9\nx", {"caf\xC3\xA9", "x"}},
    };
    for (const Case& LCase : LCases) {
        TSiStringList LList;
        LList.Add("old");
        LList.LoadFromBytes(LCase.Bytes);
        EXPECT_EQ(LList.Items(), LCase.Items) << LCase.Name;
    }
}

TEST(SiStringListTest, LoadFromStreamReadsTheRemainingBytes) {
    std::istringstream LStream(
        "skip\xEF\xBB\xBF"
        "a\nb");
    LStream.seekg(4);
    TSiStringList LList;
    LList.LoadFromStream(LStream);
    EXPECT_EQ(LList.Items(), (Lines{"a", "b"}));
}

TEST(SiStringListTest, LoadFromFile) {
    namespace fs = std::filesystem;
    const fs::path LPath =
        fs::temp_directory_path() /
        ("silog_list_" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".txt");
    const auto LUtf8 = [](const fs::path& APath) {
        const std::u8string LText = APath.u8string();
        return std::string(LText.begin(), LText.end());
    };
    {
        std::ofstream LOut(LPath, std::ios::binary);
        LOut << std::string("\xFE\xFF\0k\0=\0v", 8);
    }
    TSiStringList LList;
    LList.LoadFromFile(LUtf8(LPath));
    EXPECT_EQ(LList.Items(), Lines{"k=v"});
    fs::remove(LPath);
    // A file that cannot be opened raises and leaves the items as they were.
    EXPECT_THROW(LList.LoadFromFile(LUtf8(LPath)), ESiError);
    EXPECT_EQ(LList.Items(), Lines{"k=v"});
}

}  // namespace
}  // namespace deruz::logging
