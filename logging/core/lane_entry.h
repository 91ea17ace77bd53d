// TSiLaneEntry: a plain or formatted log entry as a session hands it to its core's
// asynchronous path (log_lane.h), before it is a packet.
#pragma once

#include <cstddef>
#include <string_view>

#include "logging/base/datetime.h"
#include "logging/base/enums.h"
#include "logging/base/level.h"
#include "logging/base/si_format.h"

namespace deruz::logging {

// An entry as a session hands it over: a title, or a format with its arguments.
struct TSiLaneEntry {
    TSiLevel Level = lvMessage;
    TSiLogEntryType Type = ltMessage;
    TSiViewerId ViewerId = viTitle;
    TSiColor Color = clWindow;
    TDateTime Timestamp = 0;
    // The member that logged, for the internal error that a format that fails is logged as
    // (a literal: only its address is queued).
    std::string_view Method;
    std::string_view Text;
    const TSiFormatArg* Args = nullptr;
    std::size_t ArgCount = 0;
    bool Formatted = false;
    // Whether a format that fails is logged as an internal error (that error's own level
    // test, made by the session).
    bool ReportFailure = true;
};

}  // namespace deruz::logging
