// Facts about the machine and the process that the logger core puts into packets, and the
// system services behind its clock and colours. One small function per service; the
// platform files implement them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace deruz::logging {

// The computer's name ("" when it cannot be read). On Windows the NetBIOS name (at most 15
// characters); elsewhere the host name up to its first dot.
std::string SiGetComputerName();

// The file name of the process's executable, without its directory ("" when unknown).
std::string SiGetExecutableName();

// A system colour (index 0 to 30) as 0x00BBGGRR. Elsewhere than Windows the classic
// Windows defaults stand in.
std::uint32_t SiGetSysColor(int AIndex);

// The high-resolution counter: its ticks per second (nothing when there is none) and its
// current value.
std::optional<std::int64_t> SiPerformanceFrequency();
std::optional<std::int64_t> SiPerformanceCounter();

}  // namespace deruz::logging
