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
    const std::int64_t era = (AYear >= 0 ? AYear : AYear - 399) / 400;
    const std::int64_t yearOfEra = AYear - era * 400;
    const std::int64_t dayOfYear = (153 * (AMonth + (AMonth > 2 ? -3 : 9)) + 2) / 5 + ADay - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146'097 + dayOfEra - 719'468;
}

// The inverse of DaysFromCivil.
void CivilFromDays(std::int64_t ADays, TSiDateTimeParts& AParts) noexcept {
    ADays += 719'468;
    const std::int64_t era = (ADays >= 0 ? ADays : ADays - 146'096) / 146'097;
    const std::int64_t dayOfEra = ADays - era * 146'097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    AParts.Day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    AParts.Month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    AParts.Year = static_cast<int>(yearOfEra + era * 400 + (AParts.Month <= 2 ? 1 : 0));
}

}  // namespace

TDateTime SiEncodeDateTime(const TSiDateTimeParts& AParts) noexcept {
    const auto days = static_cast<double>(DaysFromCivil(AParts.Year, AParts.Month, AParts.Day) +
                                          kUnixToDelphiDays);
    const double time =
        static_cast<double>(
            ((static_cast<std::int64_t>(AParts.Hour) * 60 + AParts.Minute) * 60 + AParts.Second) *
                1000 +
            AParts.Millisecond) /
        static_cast<double>(kMillisecondsPerDay);
    // Before the epoch day the time of day still counts forward, so it moves away from 0.
    return days >= 0 ? days + time : days - time;
}

bool SiIsCalendarDate(TDateTime AValue) noexcept {
    constexpr double kFirstDay = -693'593.0;  // 0001-01-01
    constexpr double kEndDay = 2'958'466.0;   // 10000-01-01
    return std::isfinite(AValue) && AValue > kFirstDay - 1 && AValue < kEndDay;
}

int SiDayOfWeek(int AYear, int AMonth, int ADay) noexcept {
    // 1970-01-01 was a Thursday (4); the remainder of a negative count is negative.
    const std::int64_t weekday = (DaysFromCivil(AYear, AMonth, ADay) + 4) % 7;
    return static_cast<int>(weekday < 0 ? weekday + 7 : weekday);
}

TSiDayTime SiSplitDateTime(TDateTime AValue) noexcept {
    TSiDayTime result;
    double fraction = 0;
    if (std::fabs(AValue) < 9.0e15) {
        // The values of every calendar date, without calls into the maths library (log
        // entries take this path): truncation and the difference are exact, and the rounding
        // below rounds halves away from zero as llround does.
        result.Day = static_cast<std::int64_t>(AValue);
        fraction = std::fabs(AValue - static_cast<double>(result.Day));
        const double scaled = fraction * static_cast<double>(kMillisecondsPerDay);
        result.Millisecond = static_cast<std::int64_t>(scaled);
        if (scaled - static_cast<double>(result.Millisecond) >= 0.5) {
            ++result.Millisecond;
        }
    } else {
        double whole = 0;
        fraction = std::fabs(std::modf(AValue, &whole));
        result.Day = static_cast<std::int64_t>(whole);
        result.Millisecond = static_cast<std::int64_t>(
            std::llround(fraction * static_cast<double>(kMillisecondsPerDay)));
    }
    if (result.Millisecond >= kMillisecondsPerDay) {
        // Rounded up to midnight: that is the start of the following day.
        result.Millisecond -= kMillisecondsPerDay;
        result.Day += 1;
    }
    return result;
}

TSiDateTimeParts SiDayTimeParts(const TSiDayTime& ADayTime) noexcept {
    TSiDateTimeParts parts;
    CivilFromDays(ADayTime.Day - kUnixToDelphiDays, parts);
    const std::int64_t milliseconds = ADayTime.Millisecond;
    parts.Millisecond = static_cast<int>(milliseconds % 1000);
    parts.Second = static_cast<int>(milliseconds / 1000 % 60);
    parts.Minute = static_cast<int>(milliseconds / 60'000 % 60);
    parts.Hour = static_cast<int>(milliseconds / 3'600'000);
    return parts;
}

TSiDateTimeParts SiDecodeDateTime(TDateTime AValue) noexcept {
    return SiDayTimeParts(SiSplitDateTime(AValue));
}

}  // namespace deruz::logging
