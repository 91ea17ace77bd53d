// TSiFileRotater: decides when a time-rotated log file is due to be replaced. Every point in
// time belongs to a period (an hour, a day, a week starting on Monday, or a calendar month,
// counted in UTC); a new file starts on the first write whose period differs from that of the
// current file.
//
// Thread safety: none; the file protocol uses its rotater under its own lock.
#pragma once

#include <cstdint>

#include "logging/base/datetime.h"
#include "logging/base/level.h"

namespace deruz::logging {

class TSiFileRotater {
  public:
    TSiFileRotate Mode() const noexcept { return FMode; }
    void SetMode(TSiFileRotate AValue) noexcept { FMode = AValue; }

    // Makes the period of AUtc (normally the creation time of the current file) current.
    void Initialize(TDateTime AUtc) noexcept;
    // Whether AUtc lies in another period than the current one, forwards or backwards (a clock
    // set back also starts a new file); that period then becomes current.
    bool Update(TDateTime AUtc) noexcept;

    // The period number of ATime, with d the whole days since 1899-12-30: 0 without rotation,
    // d * 24 + hour (hourly), d (daily), d of the week's Monday (weekly), year * 12 + month
    // (monthly).
    std::int32_t GetTimeValue(TDateTime ATime) const noexcept;

  private:
    TSiFileRotate FMode = frNone;
    std::int32_t FTimeValue = 0;
};

}  // namespace deruz::logging
