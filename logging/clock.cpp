#include "logging/clock.h"

#include <array>
#include <atomic>
#include <cstdint>

#include "logging/system_info.h"

namespace deruz::logging {

namespace {

constexpr double kMicrosecondsPerDay = 86400000000.0;

// Encoding a reading costs more than taking it, and successive readings mostly fall into the
// same second, so each thread keeps the encoded start of the last second it saw. The sum is
// the one SiEncodeDateTime makes, so the values are the same to the last bit.
TDateTime LocalNow() {
    struct TSecond {
        TSiDateTimeParts Parts;
        TDateTime Day = -1;
        std::int64_t Milliseconds = 0;
    };
    thread_local TSecond last;
    TSiDateTimeParts parts = SiLocalTimeParts();
    const int millisecond = parts.Millisecond;
    parts.Millisecond = 0;
    if (!(parts == last.Parts)) {
        last.Parts = parts;
        last.Day = SiEncodeDateTime({parts.Year, parts.Month, parts.Day, 0, 0, 0, 0});
        last.Milliseconds =
            ((static_cast<std::int64_t>(parts.Hour) * 60 + parts.Minute) * 60 + parts.Second) *
            1000;
    }
    if (last.Day < 0) {
        parts.Millisecond = millisecond;
        return SiEncodeDateTime(parts);
    }
    return last.Day + static_cast<double>(last.Milliseconds + millisecond) / 86400000.0;
}

// The high-resolution clock's state, set once at first use.
struct TClockState {
    bool Supported = false;
    double TicksPerMicrosecond = 0;  // counter ticks per microsecond
    std::atomic<double> Offset{0};   // local time minus counter time

    TClockState() {
        if (const auto f = SiPerformanceFrequency()) {
            Supported = true;
            TicksPerMicrosecond = static_cast<double>(*f) / 1000000.0;
            Offset.store(GetOffset());
        }
    }

    // The counter as a TDateTime span; local time minus offset if the counter fails.
    TDateTime GetTicks() const {
        if (const auto c = SiPerformanceCounter()) {
            return static_cast<double>(*c) / TicksPerMicrosecond / kMicrosecondsPerDay;
        }
        return LocalNow() - Offset.load();
    }

    TDateTime GetOffset() const { return LocalNow() - GetTicks(); }
};

TClockState& State() {
    static TClockState state;
    return state;
}

}  // namespace

TDateTime TSiClock::Now(TSiClockResolution AResolution) {
    if (AResolution == crHigh) {
        TClockState& s = State();
        if (s.Supported) return s.GetTicks() + s.Offset.load();
    }
    return LocalNow();
}

bool TSiClock::Supported() { return State().Supported; }

void TSiClock::Calibrate() {
    TClockState& s = State();
    if (!s.Supported) return;
    std::array<TDateTime, 5> samples{};
    for (auto& sample : samples) {
        const TDateTime start = LocalNow();
        while (LocalNow() == start) {
        }
        sample = s.GetOffset();
    }
    // Insertion sort: five values.
    for (std::size_t i = 1; i < samples.size(); ++i) {
        for (std::size_t j = i; j > 0 && samples[j - 1] > samples[j]; --j) {
            std::swap(samples[j - 1], samples[j]);
        }
    }
    s.Offset.store(samples[2]);
}

}  // namespace deruz::logging
