// The encoded local time of the second a thread read last, and of its last millisecond, shared
// by the platforms' clocks: converting a second to local calendar fields costs far more than
// reading the clock, and log entries come in bursts. The value at a millisecond is the sum
// that SiEncodeDateTime makes, so it is the same to the last bit.
//
// Trivial members only (a thread_local of this type runs no destructor: MinGW's emulated
// thread-local storage in a DLL must not); one per thread, not shared.
#pragma once

#include <cstdint>

#include "logging/base/datetime.h"

namespace deruz::logging {

struct TSiLocalSecond {
    std::int64_t Second = -1;      // the platform's count of the second read last, or -1
    TSiDateTimeParts Parts;        // the local date and time at the start of that second
    TDateTime Day = 0;             // the local day, encoded
    std::int64_t SecondStart = 0;  // milliseconds of the local day at the start of the second
    int Millisecond = -1;          // the last millisecond read within the second, or -1
    TDateTime Value = 0;           // its value

    // Starts the second ASecond, whose local fields are AParts (their millisecond ignored).
    void Start(std::int64_t ASecond, const TSiDateTimeParts& AParts) noexcept {
        Parts = AParts;
        Parts.Millisecond = 0;
        Day = SiEncodeDateTime({Parts.Year, Parts.Month, Parts.Day, 0, 0, 0, 0});
        SecondStart =
            ((static_cast<std::int64_t>(Parts.Hour) * 60 + Parts.Minute) * 60 + Parts.Second) *
            1000;
        Second = ASecond;
        Millisecond = -1;
    }

    // The local time at AMillisecond of the current second.
    TDateTime At(int AMillisecond) noexcept {
        if (AMillisecond == Millisecond) return Value;
        if (Day < 0) {
            // Before 1899-12-30 the encoding subtracts the time of day from the day.
            TSiDateTimeParts LParts = Parts;
            LParts.Millisecond = AMillisecond;
            Value = SiEncodeDateTime(LParts);
        } else {
            Value = Day + static_cast<double>(SecondStart + AMillisecond) / 86'400'000.0;
        }
        Millisecond = AMillisecond;
        return Value;
    }
};

}  // namespace deruz::logging
