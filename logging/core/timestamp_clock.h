// The timestamp clock of the logger core. crStandard is the local date and time to the
// millisecond; crHigh adds a high-resolution counter to an offset calibrated against the
// local time, for finer (and monotonic) timestamps between clock ticks.
//
// Thread-safety: Now may be called from any thread; Calibrate changes the shared offset
// atomically.
#pragma once

#include <cstdint>

#include "logging/base/datetime.h"

namespace deruz::logging {

enum TSiClockResolution : std::uint8_t { crStandard = 0, crHigh = 1 };

class TSiClock {
  public:
    static TDateTime Now(TSiClockResolution AResolution);
    // Re-measures the offset of the high-resolution clock: the median of five samples, each
    // taken right after the local time changed.
    static void Calibrate();
    static bool Supported();
};

}  // namespace deruz::logging
