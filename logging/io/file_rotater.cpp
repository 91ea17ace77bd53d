// Period numbers of the rotating file protocol.
#include "logging/io/file_rotater.h"

namespace deruz::logging {

void TSiFileRotater::Initialize(TDateTime AUtc) noexcept {
    FTimeValue = GetTimeValue(AUtc);
}

bool TSiFileRotater::Update(TDateTime AUtc) noexcept {
    const std::int32_t LTimeValue = GetTimeValue(AUtc);
    if (LTimeValue == FTimeValue) {
        return false;
    }
    FTimeValue = LTimeValue;
    return true;
}

std::int32_t TSiFileRotater::GetTimeValue(TDateTime ATime) const noexcept {
    if (FMode == frNone) {
        return 0;
    }
    // Day and hour both come from the decoded date, which rounds to the millisecond: a time a
    // fraction of a millisecond before midnight then counts wholly to the next day, instead of
    // mixing the old day with the new day's hour.
    const TSiDateTimeParts LParts = SiDecodeDateTime(ATime);
    TSiDateTimeParts LMidnight = LParts;
    LMidnight.Hour = 0;
    LMidnight.Minute = 0;
    LMidnight.Second = 0;
    LMidnight.Millisecond = 0;
    const auto LDays = static_cast<std::int32_t>(SiEncodeDateTime(LMidnight));
    switch (FMode) {
        case frHourly:
            return LDays * 24 + LParts.Hour;
        case frDaily:
            return LDays;
        case frWeekly: {
            // Day 0 (1899-12-30) was a Saturday, the sixth day of a week that starts on Monday.
            const std::int32_t LWeekday = ((LDays + 5) % 7 + 7) % 7;
            return LDays - LWeekday;
        }
        case frMonthly:
            return LParts.Year * 12 + LParts.Month;
        case frNone:
            break;
    }
    return 0;
}

}  // namespace deruz::logging
