// The version of the logging library: what TSiLogger::Version reports, what a session's system
// facts show, and the installed package's version (logging/CMakeLists.txt reads it here).
#pragma once

namespace deruz::logging {

inline constexpr char kSiVersion[] = "3.3.2.49";

}  // namespace deruz::logging
