// The calendar helpers that the date and time texts share: the day of the week and the range
// of dates a text can show.
#include "logging/base/datetime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace deruz::logging {
namespace {

// Around the century rules (1900 is no leap year, 2000 is), the day TDateTime counts from, the
// first and last day a text can show, and the Gregorian calendar's first day and a date before
// it (the calendar runs on backwards unchanged).
TEST(SiDayOfWeekTest, KnownDates) {
    const struct {
        int Year, Month, Day;
        int Weekday;  // 0 Sunday
    } LCases[] = {
        {1, 1, 1, 1},     {1582, 10, 15, 5}, {1600, 2, 29, 2},  {1752, 9, 14, 4}, {1899, 12, 30, 6},
        {1900, 2, 28, 3}, {1900, 3, 1, 4},   {1970, 1, 1, 4},   {2000, 2, 29, 2}, {2000, 3, 1, 3},
        {2024, 5, 1, 3},  {2100, 3, 1, 1},   {9999, 12, 31, 5},
    };
    for (const auto& LC : LCases) {
        EXPECT_EQ(SiDayOfWeek(LC.Year, LC.Month, LC.Day), LC.Weekday)
            << LC.Year << "-" << LC.Month << "-" << LC.Day;
    }
}

TEST(SiIsCalendarDateTest, YearsOneTo9999) {
    const double LFirst = -693'593.0;  // 0001-01-01
    const double LEnd = 2'958'466.0;   // 10000-01-01
    EXPECT_TRUE(SiIsCalendarDate(0));
    EXPECT_TRUE(SiIsCalendarDate(LFirst));
    EXPECT_TRUE(SiIsCalendarDate(LFirst - 0.75));  // 0001-01-01 18:00
    EXPECT_FALSE(SiIsCalendarDate(LFirst - 1));
    EXPECT_TRUE(SiIsCalendarDate(LEnd - 0.001));
    EXPECT_FALSE(SiIsCalendarDate(LEnd));
    EXPECT_FALSE(SiIsCalendarDate(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(SiIsCalendarDate(-std::numeric_limits<double>::infinity()));
}

}  // namespace
}  // namespace deruz::logging
