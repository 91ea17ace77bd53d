#include "logging/core/timestamp_clock.h"

#include <array>
#include <atomic>

#include "logging/system/clock.h"

namespace deruz::logging {

namespace {

constexpr double kMicrosecondsPerDay = 86400000000.0;

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
        return SiLocalNow() - Offset.load();
    }

    TDateTime GetOffset() const { return SiLocalNow() - GetTicks(); }
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
    return SiLocalNow();
}

bool TSiClock::Supported() {
    return State().Supported;
}

void TSiClock::Calibrate() {
    TClockState& s = State();
    if (!s.Supported) return;
    std::array<TDateTime, 5> samples{};
    for (auto& sample : samples) {
        const TDateTime start = SiLocalNow();
        while (SiLocalNow() == start) {
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
