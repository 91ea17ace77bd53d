// The thread locale's settings on Windows, checked against the system's own formatting
// functions for whatever locale the system (or Wine) reports.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "logging/base/datetime.h"
#include "logging/base/si_format.h"
#include "logging/base/strings.h"

namespace deruz::logging {
namespace {

std::string Narrow(const wchar_t* AText) {
    return SiUtf16ToUtf8(reinterpret_cast<const char16_t*>(AText));
}

std::string LocaleInfo(LCID ALocale, LCTYPE AType) {
    wchar_t LBuffer[128] = {};
    EXPECT_GT(GetLocaleInfoW(ALocale, AType, LBuffer, 128), 0) << AType;
    return Narrow(LBuffer);
}

std::string SystemDate(LCID ALocale, const SYSTEMTIME& ATime, const wchar_t* APicture) {
    wchar_t LBuffer[128] = {};
    EXPECT_GT(GetDateFormatW(ALocale, 0, &ATime, APicture, LBuffer, 128), 0);
    return Narrow(LBuffer);
}

std::string SystemTime(LCID ALocale, const SYSTEMTIME& ATime) {
    wchar_t LBuffer[128] = {};
    EXPECT_GT(GetTimeFormatW(ALocale, 0, &ATime, nullptr, LBuffer, 128), 0);
    return Narrow(LBuffer);
}

TDateTime ToDateTime(const SYSTEMTIME& ATime) {
    return SiEncodeDateTime({ATime.wYear, ATime.wMonth, ATime.wDay, ATime.wHour, ATime.wMinute,
                             ATime.wSecond, ATime.wMilliseconds});
}

// Switches the calling thread's locale for one test and back.
class ThreadLocale {
  public:
    explicit ThreadLocale(LCID ALocale) : FOld(GetThreadLocale()) { SetThreadLocale(ALocale); }
    ~ThreadLocale() { SetThreadLocale(FOld); }
    ThreadLocale(const ThreadLocale&) = delete;
    ThreadLocale& operator=(const ThreadLocale&) = delete;

  private:
    LCID FOld;
};

// Afternoon and morning, one- and two-digit days and months.
const SYSTEMTIME kTimes[] = {
    {2024, 3, 2, 5, 14, 7, 9, 0},
    {2009, 11, 0, 1, 9, 5, 3, 0},
    {1999, 12, 5, 31, 0, 0, 1, 0},
};

void ExpectDatesMatchSystem(LCID ALocale) {
    const TSiFormatSettings& LSettings = SiThreadFormatSettings();
    for (const SYSTEMTIME& LTime : kTimes) {
        EXPECT_EQ(SiDateTimeToStr(ToDateTime(LTime), LSettings),
                  SystemDate(ALocale, LTime, nullptr) + " " + SystemTime(ALocale, LTime));
        EXPECT_EQ(SiFormatDateTime("dddd ddd, MMMM MMM", ToDateTime(LTime), LSettings),
                  SystemDate(ALocale, LTime, L"dddd ddd, MMMM MMM"));
    }
    const SYSTEMTIME LMidnight = {2024, 3, 2, 5, 0, 0, 0, 0};
    EXPECT_EQ(SiDateTimeToStr(ToDateTime(LMidnight), LSettings),
              SystemDate(ALocale, LMidnight, nullptr));
}

TEST(SiFormatWin32Test, SettingsAreTheThreadLocales) {
    const LCID LLocale = GetThreadLocale();
    const TSiFormatSettings LSettings = SiGetLocaleFormatSettings();
    EXPECT_EQ(LSettings.DecimalSeparator, LocaleInfo(LLocale, LOCALE_SDECIMAL));
    EXPECT_EQ(LSettings.ThousandSeparator, LocaleInfo(LLocale, LOCALE_STHOUSAND));
    EXPECT_EQ(LSettings.CurrencyString, LocaleInfo(LLocale, LOCALE_SCURRENCY));
    EXPECT_EQ(std::to_string(LSettings.CurrencyFormat), LocaleInfo(LLocale, LOCALE_ICURRENCY));
    EXPECT_EQ(std::to_string(LSettings.NegCurrFormat), LocaleInfo(LLocale, LOCALE_INEGCURR));
    EXPECT_EQ(std::to_string(LSettings.CurrencyDecimals), LocaleInfo(LLocale, LOCALE_ICURRDIGITS));
    EXPECT_EQ(LSettings.LongDayNames[0], LocaleInfo(LLocale, LOCALE_SDAYNAME7));  // Sunday
    EXPECT_EQ(LSettings.ShortMonthNames[11], LocaleInfo(LLocale, LOCALE_SABBREVMONTHNAME12));
    EXPECT_EQ(SiFormat("%.2f", {1.5}), "1" + LSettings.DecimalSeparator + "50");
}

TEST(SiFormatWin32Test, NumbersAndMoneyMatchTheSystem) {
    const LCID LLocale = GetThreadLocale();
    if (LocaleInfo(LLocale, LOCALE_SGROUPING) != "3;0") {
        GTEST_SKIP() << "the locale does not group digits by three";
    }
    // Below a million: Wine 8 puts only the first separator where "3;0" asks for all of them.
    wchar_t LBuffer[128] = {};
    ASSERT_GT(GetNumberFormatW(LLocale, 0, L"123456.789", nullptr, LBuffer, 128), 0);
    const int LDigits = std::stoi(LocaleInfo(LLocale, LOCALE_IDIGITS));
    EXPECT_EQ(SiFormat("%.*n", {LDigits, 123456.789}), Narrow(LBuffer));

    // Money uses the number separators, as the classic function does; compare only where the
    // locale's monetary separators are the same.
    if (LocaleInfo(LLocale, LOCALE_SMONDECIMALSEP) != LocaleInfo(LLocale, LOCALE_SDECIMAL) ||
        LocaleInfo(LLocale, LOCALE_SMONTHOUSANDSEP) != LocaleInfo(LLocale, LOCALE_STHOUSAND) ||
        LocaleInfo(LLocale, LOCALE_SMONGROUPING) != "3;0") {
        return;
    }
    for (const wchar_t* LAmount : {L"123456.789", L"-123456.789"}) {
        ASSERT_GT(GetCurrencyFormatW(LLocale, 0, LAmount, nullptr, LBuffer, 128), 0);
        EXPECT_EQ(SiFormat("%m", {std::stod(Narrow(LAmount))}), Narrow(LBuffer));
    }
}

TEST(SiFormatWin32Test, DatesMatchTheSystem) {
    ExpectDatesMatchSystem(GetThreadLocale());
}

TEST(SiFormatWin32Test, SettingsFollowASwitchOfTheThreadLocale) {
    const LCID LGerman = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
    const std::string LBefore = SiFormat("%.1f", {1.5});
    {
        const ThreadLocale LSwitch(LGerman);
        if (GetThreadLocale() != LGerman) {
            GTEST_SKIP() << "the thread locale cannot be switched";
        }
        EXPECT_EQ(SiFormat("%.1f", {1.5}), "1" + LocaleInfo(LGerman, LOCALE_SDECIMAL) + "5");
        ExpectDatesMatchSystem(LGerman);
    }
    EXPECT_EQ(SiFormat("%.1f", {1.5}), LBefore);
}

}  // namespace
}  // namespace deruz::logging
