// Rotation periods and the names of rotated log files: which period a time falls in, how new
// names are stamped, which files of a directory count as a base name's rotated files, their
// order, and which of them are deleted.
#include "logging/io/file_rotater.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "logging/base/errors.h"
#include "logging/base/string_list.h"
#include "logging/io/file_helper.h"
#include "tests/logging/temp_dir.h"

namespace deruz::logging {
namespace {

namespace fs = std::filesystem;

TDateTime At(int AYear, int AMonth, int ADay, int AHour = 0, int AMinute = 0, int ASecond = 0,
             int AMillisecond = 0) {
    return SiEncodeDateTime({AYear, AMonth, ADay, AHour, AMinute, ASecond, AMillisecond});
}

// A test directory where files are created with the content "x".
class TRotaterDir : public testing::TTempDir {
  public:
    TRotaterDir() : TTempDir("silog_rotater_") {}
    void Touch(const std::string& AName) const { Write(AName, "x"); }
};

// --- Periods ----------------------------------------------------------------------------------

TEST(FileRotaterTest, PeriodNumbers) {
    // 1899-12-30 is day 0 (a Saturday); 1900-01-01 is the first Monday.
    struct Case {
        TSiFileRotate Mode;
        TDateTime Time;
        std::int32_t Expected;
    };
    const Case LCases[] = {
        {frNone, At(2024, 5, 1, 13), 0},
        {frHourly, At(1899, 12, 31, 5, 59, 59), 1 * 24 + 5},
        {frDaily, At(1900, 1, 1, 23, 59, 59, 999), 2},
        {frWeekly, At(1900, 1, 1), 2},
        {frWeekly, At(1900, 1, 7, 23, 59), 2},
        {frWeekly, At(1900, 1, 8), 9},
        {frWeekly, At(1899, 12, 30), -5},
        {frMonthly, At(2024, 5, 31, 23), 2024 * 12 + 5},
    };
    for (const Case& LCase : LCases) {
        TSiFileRotater LRotater;
        LRotater.SetMode(LCase.Mode);
        EXPECT_EQ(LRotater.GetTimeValue(LCase.Time), LCase.Expected)
            << "mode " << int(LCase.Mode) << " time " << LCase.Time;
    }
}

TEST(FileRotaterTest, UpdateReportsEachNewPeriodOnce) {
    struct Case {
        TSiFileRotate Mode;
        TDateTime Start;
        TDateTime SamePeriod;  // the last moment of the start's period
        TDateTime NextPeriod;  // the first moment of the next one
    };
    const Case LCases[] = {
        {frHourly, At(2024, 5, 1, 10), At(2024, 5, 1, 10, 59, 59, 999), At(2024, 5, 1, 11)},
        {frDaily, At(2024, 5, 1, 23, 59), At(2024, 5, 1, 23, 59, 59, 999), At(2024, 5, 2)},
        // 2024-05-05 is a Sunday.
        {frWeekly, At(2024, 4, 29), At(2024, 5, 5, 23, 59, 59, 999), At(2024, 5, 6)},
        {frMonthly, At(2024, 12, 1), At(2024, 12, 31, 23, 59, 59, 999), At(2025, 1, 1)},
    };
    for (const Case& LCase : LCases) {
        SCOPED_TRACE(int(LCase.Mode));
        TSiFileRotater LRotater;
        LRotater.SetMode(LCase.Mode);
        LRotater.Initialize(LCase.Start);
        EXPECT_FALSE(LRotater.Update(LCase.Start));
        EXPECT_FALSE(LRotater.Update(LCase.SamePeriod));
        EXPECT_TRUE(LRotater.Update(LCase.NextPeriod));
        EXPECT_FALSE(LRotater.Update(LCase.NextPeriod));
        // A clock set back is a new period too.
        EXPECT_TRUE(LRotater.Update(LCase.Start));
    }
    TSiFileRotater LNone;
    LNone.Initialize(At(2024, 1, 1));
    EXPECT_FALSE(LNone.Update(At(2030, 6, 6)));
}

// --- Names ------------------------------------------------------------------------------------

TEST(FileHelperTest, ParsesOnlyExistingDatesInSixDigitGroups) {
    struct Case {
        const char* Text;
        bool Valid;
    };
    const Case LCases[] = {
        {"2024-05-01-10-20-30", true},    {"2024-02-29-23-59-59", true},
        {"0001-01-01-00-00-00", true},    {"2023-02-29-00-00-00", false},
        {"2024-13-01-10-00-00", false},   {"2024-00-01-10-00-00", false},
        {"2024-04-31-10-00-00", false},   {"2024-05-01-24-00-00", false},
        {"2024-05-01-10-60-00", false},   {"2024-05-01-10-00-60", false},
        {"0000-05-01-10-00-00", false},   {"2024--05-01-10-00-0", false},
        {"2024-05-01-10-00-", false},     {"2024-05-01-10-00", false},
        {"2024-05-01-10-00-00-0", false}, {"2024-05-01-1a-00-00", false},
        {"2024-05-01 10-00-00", false},   {"", false},
    };
    for (const Case& LCase : LCases) {
        TDateTime LDate = -1;
        EXPECT_EQ(TSiFileHelper::TryParseFileDate(LCase.Text, LDate), LCase.Valid) << LCase.Text;
    }
    TDateTime LDate = 0;
    ASSERT_TRUE(TSiFileHelper::TryParseFileDate("2024-05-01-10-20-30", LDate));
    EXPECT_EQ(LDate, At(2024, 5, 1, 10, 20, 30));
}

TEST(FileHelperTest, RecognisesRotatedFilesOfTheBaseName) {
    struct Case {
        const char* Base;
        const char* Path;
        bool Valid;
    };
    const Case LCases[] = {
        {"dir/log.sil", "dir/log-2024-05-01-10-00-00.sil", true},
        {"dir/log.sil", "other/log-2024-05-01-10-00-00a.sil", true},
        {"log.sil", "log-2024-05-01-10-00-00aaa.sil", true},
        {"log", "log-2024-05-01-10-00-00", true},
        {"my.log.sil", "my.log-2024-05-01-10-00-00.sil", true},
        {"log.sil", "Log-2024-05-01-10-00-00.sil", false},
        {"log.sil", "log-2024-13-01-10-00-00.sil", false},
        {"log.sil", "log_2024-05-01-10-00-00.sil", false},
        {"log.sil", "log-2024-05-01-10-00.sil", false},
        {"log.sil", "log.sil", false},
        // Another extension, and a base without one, never claim the files of "log.sil".
        {"log.sil", "log-2024-05-01-10-00-00.silx", false},
        {"log", "log-2024-05-01-10-00-00.sil", false},
    };
    for (const Case& LCase : LCases) {
        EXPECT_EQ(TSiFileHelper::IsValidFile(LCase.Base, LCase.Path), LCase.Valid)
            << LCase.Base << " " << LCase.Path;
    }
    EXPECT_EQ(TSiFileHelper::GetFileDate("log.sil", "log-2024-05-01-10-00-00a.sil"),
              At(2024, 5, 1, 10));
    try {
        TSiFileHelper::GetFileDate("log.sil", "log-2024-13-01-10-00-00.sil");
        ADD_FAILURE() << "no error";
    } catch (const ESiProtocolError& LAError) {
        EXPECT_STREQ(LAError.what(), "Invalid filename");
    }
}

TEST(FileHelperTest, NewNamesGetTheUtcStampAndAsManyASuffixesAsNeeded) {
    TRotaterDir LDir;
    const TDateTime LNow = At(2024, 5, 1, 9, 8, 7, 600);
    const std::string LBase = LDir.Dir() + "app.sil";
    EXPECT_EQ(TSiFileHelper::ExpandFileName(LBase, LNow),
              LDir.Dir() + "app-2024-05-01-09-08-07.sil");
    LDir.Touch("app-2024-05-01-09-08-07.sil");
    EXPECT_EQ(TSiFileHelper::ExpandFileName(LBase, LNow),
              LDir.Dir() + "app-2024-05-01-09-08-07a.sil");
    LDir.Touch("app-2024-05-01-09-08-07a.sil");
    EXPECT_EQ(TSiFileHelper::ExpandFileName(LBase, LNow),
              LDir.Dir() + "app-2024-05-01-09-08-07aa.sil");
    // A new name sorts after every file of its stamp, also when the shorter names are gone.
    fs::remove(fs::path(LDir.Dir()) / "app-2024-05-01-09-08-07.sil");
    EXPECT_EQ(TSiFileHelper::ExpandFileName(LBase, LNow),
              LDir.Dir() + "app-2024-05-01-09-08-07aa.sil");
    fs::remove(fs::path(LDir.Dir()) / "app-2024-05-01-09-08-07a.sil");
    EXPECT_EQ(TSiFileHelper::ExpandFileName(LBase, LNow),
              LDir.Dir() + "app-2024-05-01-09-08-07.sil");
    // Names without extension or directory.
    EXPECT_EQ(TSiFileHelper::ExpandFileName("noext", At(2031, 12, 31, 23, 59, 59)),
              "noext-2031-12-31-23-59-59");
    EXPECT_EQ(TSiFileHelper::FormatFileDate(At(987, 1, 2, 3, 4, 5)), "0987-01-02-03-04-05");
}

TEST(FileHelperTest, ListsRotatedFilesOldestFirstAndDeletesOnlyThose) {
    TRotaterDir LDir;
    const std::vector<std::string> LRotated = {
        "log-2024-05-01-10-00-00.sil", "log-2024-05-01-10-00-00a.sil",
        "log-2024-05-01-10-00-00aa.sil", "log-2024-05-02-00-00-00.sil"};
    const std::vector<std::string> LOthers = {"log-2024-13-01-10-00-00.sil",  // month 13
                                              "LOG-2024-05-01-09-00-00.sil",  // another letter case
                                              "log-2000-01-01-00-00-00.txt",  // another extension
                                              "log.sil", "logger-2024-05-01-10-00-00.sil"};
    // Created newest first, so that the listing order cannot come from creation order.
    for (auto LName = LRotated.rbegin(); LName != LRotated.rend(); ++LName) {
        LDir.Touch(*LName);
    }
    for (const std::string& LName : LOthers) {
        LDir.Touch(LName);
    }
    fs::create_directories(fs::path(LDir.Dir()) / "log-2030-01-01-00-00-00.sil");
    const std::string LBase = LDir.Dir() + "log.sil";

    TSiStringList LList;
    LList.Add("stale entry");
    TSiFileHelper::GetFiles(LBase, LList);
    std::vector<std::string> LExpected;
    for (const std::string& LName : LRotated) {
        LExpected.push_back(LDir.Dir() + LName);
    }
    EXPECT_EQ(LList.Items(), LExpected);
    EXPECT_EQ(TSiFileHelper::FindFileName(LBase), LExpected.back());
    EXPECT_EQ(TSiFileHelper::GetFileName(LBase, true, At(2024, 6, 1)), LExpected.back());
    EXPECT_EQ(TSiFileHelper::GetFileName(LBase, false, At(2024, 6, 1)),
              LDir.Dir() + "log-2024-06-01-00-00-00.sil");
    EXPECT_EQ(TSiFileHelper::FindFileName(LDir.Dir() + "none.sil"), "");

    // Keeping 2 deletes the two oldest, except the file named as open.
    TSiFileHelper::DeleteFiles(LBase, 2, LExpected[0]);
    TSiFileHelper::GetFiles(LBase, LList);
    EXPECT_EQ(LList.Items(), (std::vector<std::string>{LExpected[0], LExpected[2], LExpected[3]}));
    TSiFileHelper::DeleteFiles(LBase, 1);
    TSiFileHelper::GetFiles(LBase, LList);
    EXPECT_EQ(LList.Items(), (std::vector<std::string>{LExpected[3]}));
    TSiFileHelper::DeleteFiles(LBase, 0);

    std::vector<std::string> LLeft = LOthers;
    LLeft.push_back("log-2030-01-01-00-00-00.sil");
    std::sort(LLeft.begin(), LLeft.end());
    EXPECT_EQ(LDir.Names(), LLeft);
}

}  // namespace
}  // namespace deruz::logging
