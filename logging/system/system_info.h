// Facts about the machine and the process that the logger core puts into packets and that
// sessions log, and the system colours. One small function per service; the platform files
// implement them. The clock has a boundary of its own (clock.h).
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

// --- The facts that sessions log (LogSystem, LogMemoryStatistic, LogLastError) ------------

// The operating system's name ("Windows", "Linux") and version text.
struct TSiOsVersion {
    std::string Name;
    std::string Version;
};
TSiOsVersion SiGetOsVersion();

// The system's memory figures in bytes, and the memory load in percent.
struct TSiMemoryStatus {
    std::uint32_t MemoryLoad = 0;
    std::uint64_t TotalPhysical = 0;
    std::uint64_t FreePhysical = 0;
    std::uint64_t TotalPageFile = 0;
    std::uint64_t FreePageFile = 0;
    std::uint64_t TotalVirtual = 0;
    std::uint64_t FreeVirtual = 0;
};
// Raises ESiError with the system's text when the figures cannot be read.
TSiMemoryStatus SiGetMemoryStatus();

// The calling thread's last system error code (Windows GetLastError, POSIX errno).
std::uint32_t SiGetLastError() noexcept;

}  // namespace deruz::logging
