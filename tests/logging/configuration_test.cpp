// TSiConfiguration: line rules, key order and spelling, reading typed values, loading files.
#include "logging/config/configuration.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "logging/base/errors.h"
#include "tests/logging/temp_dir.h"

namespace deruz::logging {
namespace {

std::vector<std::string> KeysOf(const TSiConfiguration& AConfig) {
    std::vector<std::string> LKeys;
    for (std::size_t LI = 0; LI < AConfig.Count(); ++LI) {
        LKeys.push_back(AConfig.ReadKey(LI));
    }
    return LKeys;
}

TEST(SiConfigurationTest, RepeatedKeysKeepTheirFirstPlaceAndSpelling) {
    TSiConfiguration LConfig;
    LConfig.LoadFromText("Level = warning\r\nappname=A\nlevel=error\rLEVEL = debug\n");
    EXPECT_EQ(KeysOf(LConfig), (std::vector<std::string>{"Level", "appname"}));
    EXPECT_EQ(LConfig.ReadString("level", "x"), "debug");
    EXPECT_EQ(LConfig.ReadLevel("LEVEL", lvMessage), lvDebug);
}

TEST(SiConfigurationTest, LineRules) {
    TSiConfiguration LConfig;
    LConfig.LoadFromText(
        "; enabled=true\n"
        "[section]\n"
        "   \t \n"
        "\n"
        "=x\n"
        "  connections = pipe(reconnect=true)  \n"
        "filter = a=b = c\n"
        "empty=\n"
        "  ;still a comment = 1\n"
        "no equals sign\n");
    EXPECT_EQ(KeysOf(LConfig), (std::vector<std::string>{"", "connections", "filter", "empty"}));
    EXPECT_EQ(LConfig.ReadString("", "d"), "x");
    EXPECT_EQ(LConfig.ReadString("connections", "d"), "pipe(reconnect=true)");
    EXPECT_EQ(LConfig.ReadString("filter", "d"), "a=b = c");
    EXPECT_EQ(LConfig.ReadString("empty", "d"), "");
    EXPECT_FALSE(LConfig.Contains("enabled"));
    EXPECT_FALSE(LConfig.Contains("[section]"));
}

TEST(SiConfigurationTest, TypedReadsFallBackToTheirDefaults) {
    TSiConfiguration LConfig;
    LConfig.LoadFromText(
        "enabled = Yes \nmaxparts=007\nbad=-5\ncolor=0xFF0000\nempty=\nlevel=loud\n");
    EXPECT_TRUE(LConfig.ReadBoolean("enabled", false));
    EXPECT_FALSE(LConfig.ReadBoolean("empty", false));
    EXPECT_TRUE(LConfig.ReadBoolean("empty", true));
    EXPECT_EQ(LConfig.ReadInteger("maxparts", 0), 7);
    EXPECT_EQ(LConfig.ReadInteger("bad", 3), 3);
    EXPECT_EQ(LConfig.ReadColor("color", clWindow), 0x0000FF);
    EXPECT_EQ(LConfig.ReadColor("missing", clWindow), clWindow);
    EXPECT_EQ(LConfig.ReadLevel("level", lvWarning), lvWarning);
}

TEST(SiConfigurationTest, ReadKeyOutOfBoundsRaises) {
    TSiConfiguration LConfig;
    LConfig.LoadFromText("a=1");
    EXPECT_EQ(LConfig.ReadKey(0), "a");
    try {
        LConfig.ReadKey(1);
        FAIL() << "no error";
    } catch (const ESiError& LAError) {
        EXPECT_STREQ(LAError.what(), "Index out of bounds");
    }
}

TEST(SiConfigurationTest, LoadsEncodedFilesAndKeepsContentWhenAFileIsMissing) {
    namespace fs = std::filesystem;
    const fs::path LPath =
        fs::temp_directory_path() /
        ("silog_config_" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".sic");
    const std::u8string LU8 = LPath.u8string();
    const std::string LName(LU8.begin(), LU8.end());
    {
        // UTF-16 little-endian with marker: "Enabled=1\r\nappname=\u00E9"
        std::u16string LText = u"Enabled=1\r\nappname=\u00E9";
        std::string LBytes = "\xFF\xFE";
        for (const char16_t LUnit : LText) {
            LBytes.push_back(static_cast<char>(LUnit & 0xFF));
            LBytes.push_back(static_cast<char>(LUnit >> 8));
        }
        std::ofstream(LPath, std::ios::binary) << LBytes;
    }
    TSiConfiguration LConfig;
    LConfig.LoadFromFile(LName);
    EXPECT_EQ(KeysOf(LConfig), (std::vector<std::string>{"Enabled", "appname"}));
    EXPECT_EQ(LConfig.ReadString("appname", ""), "\xC3\xA9");
    fs::remove(LPath);

    EXPECT_THROW(LConfig.LoadFromFile(LName), ESiError);
    EXPECT_EQ(LConfig.Count(), 2u);
    EXPECT_TRUE(LConfig.ReadBoolean("enabled", false));
}

// Files above 16 MB and anything but a regular file are refused before they are read, so that a
// name that points at a device or a huge file cannot make the application read without end.
// The content loaded before stays.
TEST(SiConfigurationTest, RefusesLargeAndNonRegularFiles) {
    constexpr std::size_t LLimit = 16 * 1024 * 1024;
    const testing::TTempDir LDir;
    // One key, then blanks up to the size (lines are trimmed).
    const auto LContent = [](std::size_t ASize) {
        std::string LBytes = "k=v\n";
        LBytes.resize(ASize, ' ');
        return LBytes;
    };
    LDir.Write("limit.sic", LContent(LLimit));
    LDir.Write("over.sic", LContent(LLimit + 1));
    LDir.MakeDir("dir.sic");

    TSiConfiguration LConfig;
    LConfig.LoadFromFile(LDir.File("limit.sic"));
    EXPECT_EQ(KeysOf(LConfig), std::vector<std::string>{"k"});
    const struct {
        const char* Name;
        const char* Reason;
    } LCases[] = {{"over.sic", "File larger than 16777216 bytes"},
                  {"dir.sic", "Not a regular file"}};
    for (const auto& LCase : LCases) {
        const std::string LName = LDir.File(LCase.Name);
        try {
            LConfig.LoadFromFile(LName);
            ADD_FAILURE() << LCase.Name << ": loaded";
        } catch (const ESiError& LAError) {
            EXPECT_EQ(std::string(LAError.what()),
                      "Cannot open file \"" + LName + "\". " + LCase.Reason);
        }
        EXPECT_EQ(KeysOf(LConfig), std::vector<std::string>{"k"}) << LCase.Name;
    }
}

TEST(SiConfigurationTest, ClearEmptiesBoth) {
    TSiConfiguration LConfig;
    LConfig.LoadFromText("a=1\nb=2");
    LConfig.Clear();
    EXPECT_EQ(LConfig.Count(), 0u);
    EXPECT_THROW(LConfig.ReadKey(0), ESiError);
    LConfig.LoadFromBytes(
        "\xEF\xBB\xBF"
        "c=3");
    EXPECT_EQ(KeysOf(LConfig), std::vector<std::string>{"c"});
}

}  // namespace
}  // namespace deruz::logging
