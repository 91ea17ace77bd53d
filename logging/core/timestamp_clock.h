// The timestamp clock of the logger core, at the resolution that the core is set to
// (TSiClockResolution, enums.h).
//
// Thread-safety: Now may be called from any thread; Calibrate changes the shared offset
// atomically.
#pragma once

#include "logging/base/datetime.h"
#include "logging/base/enums.h"

namespace deruz::logging {

class TSiClock {
  public:
    static TDateTime Now(TSiClockResolution AResolution);
    // Re-measures the offset of the high-resolution clock: the median of five samples, each
    // taken right after the local time changed.
    static void Calibrate();
    static bool Supported();
};

}  // namespace deruz::logging
