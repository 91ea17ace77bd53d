// The logging library for programs that log: the default logger core `Si` and session
// `SiMain`, the logger and session classes, levels, configuration files and the library's
// errors. Everything lives in namespace deruz::logging.
//
//   #include <silog/silog.h>
//   using namespace deruz::logging;
//   Si->SetConnections("file(filename=app.sil)");
//   Si->SetEnabled(true);
//   SiMain->LogMessage("Hello, %s", {"world"});
//
// The other headers of the library are installed beside this one as
// <silog/logging/<layer>/<file>.h> (protocols, formatters, packets and the rest).
#pragma once

#include "logging/base/errors.h"
#include "logging/base/level.h"
#include "logging/config/configuration.h"
#include "logging/core/logger.h"
#include "logging/core/session.h"
#include "logging/core/si_auto.h"
