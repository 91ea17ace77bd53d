// The logging library for programs that log: the default logger core `Si` and session
// `SiMain`, the logger and session classes (with the packets that the logger's events hand
// over), levels and the library's errors; nothing of the protocols, the formatters or the
// scheduler behind them. Everything lives in namespace deruz::logging.
//
//   #include <silog/silog.h>
//   using namespace deruz::logging;
//   Si->SetConnections("file(filename=app.sil)");
//   Si->SetEnabled(true);
//   SiMain->LogMessage("Hello, %s", {"world"});
//
// The other headers of the library are installed beside this one as
// <silog/logging/<layer>/<file>.h> (configuration files, protocols, formatters, viewer
// contexts and the rest).
#pragma once

#include "logging/base/errors.h"
#include "logging/base/level.h"
#include "logging/core/logger.h"
#include "logging/core/session.h"
#include "logging/core/si_auto.h"
