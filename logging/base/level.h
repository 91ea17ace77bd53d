// The log level and file-rotation enumerations, as far as option values and connection
// strings need them. Ordinals are the values used everywhere inside the library.
#pragma once

#include <cstdint>

namespace deruz::logging {

// Log levels, ordered: a packet passes a threshold when its level is at least the threshold.
// lvControl is carried only by control commands.
enum TSiLevel : std::uint8_t {
    lvDebug = 0,
    lvVerbose = 1,
    lvMessage = 2,
    lvWarning = 3,
    lvError = 4,
    lvFatal = 5,
    lvControl = 6,
};

// When the file protocol starts a new log file.
enum TSiFileRotate : std::uint8_t {
    frNone = 0,
    frHourly = 1,
    frDaily = 2,
    frWeekly = 3,
    frMonthly = 4,
};

}  // namespace deruz::logging
