// Calendar conversions of TDateTime.
#include "logging/base/datetime.h"

#include <cmath>

namespace deruz::logging {

namespace {

constexpr std::int64_t kMillisecondsPerDay = 86'400'000;

// Days from 1970-01-01 to 1899-12-30, the day TDateTime counts from.
constexpr std::int64_t kUnixToDelphiDays = 25'569;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
std::int64_t DaysFromCivil(std::int64_t AYear, int AMonth, int ADay) noexcept {
    AYear -= AMonth <= 2 ? 1 : 0;
    const std::int64_t LEra = (AYear >= 0 ? AYear : AYear - 399) / 400;
    const std::int64_t LYearOfEra = AYear - LEra * 400;
    const std::int64_t LDayOfYear = (153 * (AMonth + (AMonth > 2 ? -3 : 9)) + 2) / 5 + ADay - 1;
    const std::int64_t LDayOfEra =
        LYearOfEra * 365 + LYearOfEra / 4 - LYearOfEra / 100 + LDayOfYear;
    return LEra * 146'097 + LDayOfEra - 719'468;
}

// The inverse of DaysFromCivil.
void CivilFromDays(std::int64_t ADays, TSiDateTimeParts& AParts) noexcept {
    ADays += 719'468;
    const std::int64_t LEra = (ADays >= 0 ? ADays : ADays - 146'096) / 146'097;
    const std::int64_t LDayOfEra = ADays - LEra * 146'097;
    const std::int64_t LYearOfEra =
        (LDayOfEra - LDayOfEra / 1460 + LDayOfEra / 36'524 - LDayOfEra / 146'096) / 365;
    const std::int64_t LDayOfYear =
        LDayOfEra - (365 * LYearOfEra + LYearOfEra / 4 - LYearOfEra / 100);
    const std::int64_t LMonthIndex = (5 * LDayOfYear + 2) / 153;
    AParts.Day = static_cast<int>(LDayOfYear - (153 * LMonthIndex + 2) / 5 + 1);
    AParts.Month = static_cast<int>(LMonthIndex < 10 ? LMonthIndex + 3 : LMonthIndex - 9);
    AParts.Year = static_cast<int>(LYearOfEra + LEra * 400 + (AParts.Month <= 2 ? 1 : 0));
}

}  // namespace

TDateTime SiEncodeDateTime(const TSiDateTimeParts& AParts) noexcept {
    const auto LDays = static_cast<double>(DaysFromCivil(AParts.Year, AParts.Month, AParts.Day) +
                                           kUnixToDelphiDays);
    const double LTime =
        static_cast<double>(
            ((static_cast<std::int64_t>(AParts.Hour) * 60 + AParts.Minute) * 60 + AParts.Second) *
                1000 +
            AParts.Millisecond) /
        static_cast<double>(kMillisecondsPerDay);
    // Before the epoch day the time of day still counts forward, so it moves away from 0.
    return LDays >= 0 ? LDays + LTime : LDays - LTime;
}

bool SiIsCalendarDate(TDateTime AValue) noexcept {
    constexpr double LFirstDay = -693'593.0;  // 0001-01-01
    constexpr double LEndDay = 2'958'466.0;   // 10000-01-01
    return std::isfinite(AValue) && AValue > LFirstDay - 1 && AValue < LEndDay;
}

int SiDayOfWeek(int AYear, int AMonth, int ADay) noexcept {
    // 1970-01-01 was a Thursday (4); the remainder of a negative count is negative.
    const std::int64_t LWeekday = (DaysFromCivil(AYear, AMonth, ADay) + 4) % 7;
    return static_cast<int>(LWeekday < 0 ? LWeekday + 7 : LWeekday);
}

TSiDayTime SiSplitDateTime(TDateTime AValue) noexcept {
    TSiDayTime LResult;
    double LFraction = 0;
    if (std::fabs(AValue) < 9.0e15) {
        // The values of every calendar date, without calls into the maths library (log
        // entries take this path): truncation and the difference are exact, and the rounding
        // below rounds halves away from zero as llround does.
        LResult.Day = static_cast<std::int64_t>(AValue);
        LFraction = std::fabs(AValue - static_cast<double>(LResult.Day));
        const double LScaled = LFraction * static_cast<double>(kMillisecondsPerDay);
        LResult.Millisecond = static_cast<std::int64_t>(LScaled);
        if (LScaled - static_cast<double>(LResult.Millisecond) >= 0.5) {
            ++LResult.Millisecond;
        }
    } else {
        double LWhole = 0;
        LFraction = std::fabs(std::modf(AValue, &LWhole));
        LResult.Day = static_cast<std::int64_t>(LWhole);
        LResult.Millisecond = static_cast<std::int64_t>(
            std::llround(LFraction * static_cast<double>(kMillisecondsPerDay)));
    }
    if (LResult.Millisecond >= kMillisecondsPerDay) {
        // Rounded up to midnight: that is the start of the following day.
        LResult.Millisecond -= kMillisecondsPerDay;
        LResult.Day += 1;
    }
    return LResult;
}

TSiDateTimeParts SiDayTimeParts(const TSiDayTime& ADayTime) noexcept {
    TSiDateTimeParts LParts;
    CivilFromDays(ADayTime.Day - kUnixToDelphiDays, LParts);
    const std::int64_t LMilliseconds = ADayTime.Millisecond;
    LParts.Millisecond = static_cast<int>(LMilliseconds % 1000);
    LParts.Second = static_cast<int>(LMilliseconds / 1000 % 60);
    LParts.Minute = static_cast<int>(LMilliseconds / 60'000 % 60);
    LParts.Hour = static_cast<int>(LMilliseconds / 3'600'000);
    return LParts;
}

TSiDateTimeParts SiDecodeDateTime(TDateTime AValue) noexcept {
    return SiDayTimeParts(SiSplitDateTime(AValue));
}

}  // namespace deruz::logging
