// The logging library for programs that log: the default logger core `Si` and session
// `SiMain`, the logger and session classes, levels, the library's enumerations and errors;
// nothing of the packets, the protocols, the formatters or the scheduler behind them.
// Everything lives in namespace deruz::logging.
//
//   #include <silog/silog.h>
//   using namespace deruz::logging;
//   Si->SetConnections("file(filename=app.sil)");
//   Si->SetEnabled(true);
//   SiMain->LogMessage("Hello, %s", {"world"});
//
// The other headers of the library are installed beside this one as
// <silog/logging/<layer>/<file>.h>: a program that reads the fields of the packets that the
// logger's events hand over includes <silog/logging/packets/packet.h>, one that reads or
// sets the session defaults <silog/logging/core/session_defaults.h>, and so on for
// configuration files, protocols, formatters, streams and viewer contexts.
#pragma once

#include "logging/base/errors.h"
#include "logging/base/level.h"
#include "logging/core/logger.h"
#include "logging/core/session.h"
#include "logging/core/si_auto.h"
