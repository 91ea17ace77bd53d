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
        if (const auto LF = SiPerformanceFrequency()) {
            Supported = true;
            TicksPerMicrosecond = static_cast<double>(*LF) / 1000000.0;
            Offset.store(GetOffset());
        }
    }

    // The counter as a TDateTime span; local time minus offset if the counter fails.
    TDateTime GetTicks() const {
        if (const auto LC = SiPerformanceCounter()) {
            return static_cast<double>(*LC) / TicksPerMicrosecond / kMicrosecondsPerDay;
        }
        return SiLocalNow() - Offset.load();
    }

    TDateTime GetOffset() const { return SiLocalNow() - GetTicks(); }
};

TClockState& State() {
    static TClockState LState;
    return LState;
}

}  // namespace

TDateTime TSiClock::Now(TSiClockResolution AResolution) {
    if (AResolution == crHigh) {
        TClockState& LS = State();
        if (LS.Supported) return LS.GetTicks() + LS.Offset.load();
    }
    return SiLocalNow();
}

bool TSiClock::Supported() {
    return State().Supported;
}

void TSiClock::Calibrate() {
    TClockState& LS = State();
    if (!LS.Supported) return;
    std::array<TDateTime, 5> LSamples{};
    for (auto& LSample : LSamples) {
        const TDateTime LStart = SiLocalNow();
        while (SiLocalNow() == LStart) {
        }
        LSample = LS.GetOffset();
    }
    // Insertion sort: five values.
    for (std::size_t LI = 1; LI < LSamples.size(); ++LI) {
        for (std::size_t LJ = LI; LJ > 0 && LSamples[LJ - 1] > LSamples[LJ]; --LJ) {
            std::swap(LSamples[LJ - 1], LSamples[LJ]);
        }
    }
    LS.Offset.store(LSamples[2]);
}

}  // namespace deruz::logging
