// TDateTime, the timestamp of packets and log files: a double counting days since
// 1899-12-30 00:00, its fraction being the time of day. Dates before that day are negative,
// and their fraction still counts forward from midnight (-1.25 is 1899-12-29 06:00).
//
// Conversions are pure functions, safe from any thread. Reading the clock is the system layer's
// (logging/system/clock.h).
#pragma once

#include <cstdint>

namespace deruz::logging {

using TDateTime = double;

// A calendar date and time of day with millisecond resolution.
struct TSiDateTimeParts {
    int Year = 1899;  // 1 to 9999
    int Month = 12;   // 1 to 12
    int Day = 30;     // 1 to the month's last day
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;

    friend bool operator==(const TSiDateTimeParts&, const TSiDateTimeParts&) = default;
};

// The TDateTime of a calendar date and time. Fields outside their ranges are not checked;
// callers pass values read from a clock or decoded from a TDateTime.
TDateTime SiEncodeDateTime(const TSiDateTimeParts& AParts) noexcept;

// The calendar date and time of a TDateTime, rounded to the nearest millisecond.
TSiDateTimeParts SiDecodeDateTime(TDateTime AValue) noexcept;

// Whether AValue falls within the years 1 to 9999, the dates that date and time texts can
// show; the formatters show any other value (and NaN or infinity) as a number.
bool SiIsCalendarDate(TDateTime AValue) noexcept;

// The day of the week of a date of the proleptic Gregorian calendar, 0 for Sunday to 6 for
// Saturday: the index into the day names of TSiFormatSettings.
int SiDayOfWeek(int AYear, int AMonth, int ADay) noexcept;

// A TDateTime as whole days and the millisecond of the day (0 to 86,399,999), rounded as
// SiDecodeDateTime rounds; SiDayTimeParts turns it into the same fields. Formatters use the
// pair to see cheaply whether a value falls into a second they have already converted.
struct TSiDayTime {
    std::int64_t Day = 0;
    std::int64_t Millisecond = 0;
};
TSiDayTime SiSplitDateTime(TDateTime AValue) noexcept;
TSiDateTimeParts SiDayTimeParts(const TSiDayTime& ADayTime) noexcept;

}  // namespace deruz::logging
