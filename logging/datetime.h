// TDateTime, the timestamp of packets and log files: a double counting days since
// 1899-12-30 00:00, its fraction being the time of day. Dates before that day are negative,
// and their fraction still counts forward from midnight (-1.25 is 1899-12-29 06:00).
//
// Conversions are pure functions, safe from any thread. SiLocalTimeParts and SiUtcTimeParts
// read the system clock (implemented per platform).
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

// The system's current date and time, in local time and in UTC, to the millisecond.
TSiDateTimeParts SiLocalTimeParts() noexcept;
TSiDateTimeParts SiUtcTimeParts() noexcept;

}  // namespace deruz::logging
