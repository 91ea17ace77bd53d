// The system facts behind LogSystem, LogMemoryStatistic and LogLastError on POSIX systems.
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

#include "logging/base/errors.h"
#include "logging/base/strings.h"
#include "logging/system/system_info.h"

namespace deruz::logging {

namespace {

// A "<key>: <n> kB" line of /proc/meminfo in bytes, or nothing.
std::optional<std::uint64_t> MemInfoBytes(std::string_view AKey) {
    std::ifstream LFile("/proc/meminfo");
    std::string LLine;
    while (std::getline(LFile, LLine)) {
        if (LLine.size() > AKey.size() && LLine.compare(0, AKey.size(), AKey) == 0 &&
            LLine[AKey.size()] == ':') {
            std::istringstream LValue(LLine.substr(AKey.size() + 1));
            std::uint64_t LKilobytes = 0;
            if (LValue >> LKilobytes) return LKilobytes * 1024;
        }
    }
    return std::nullopt;
}

// The process's mapped virtual memory in bytes (first field of /proc/self/statm, in pages).
std::uint64_t UsedVirtual() {
    std::ifstream LFile("/proc/self/statm");
    std::uint64_t LPages = 0;
    if (!(LFile >> LPages)) return 0;
    const long LPageSize = ::sysconf(_SC_PAGESIZE);
    return LPages * static_cast<std::uint64_t>(LPageSize > 0 ? LPageSize : 4096);
}

}  // namespace

TSiOsVersion SiGetOsVersion() {
    struct utsname LName {};
    if (::uname(&LName) != 0) return {};
    return {LName.sysname, std::string(LName.release) + " " + LName.version};
}

TSiMemoryStatus SiGetMemoryStatus() {
    struct sysinfo LInfo {};
    if (::sysinfo(&LInfo) != 0)
        throw ESiError(SiSystemErrorText(static_cast<std::uint32_t>(errno)));
    const std::uint64_t LUnit = LInfo.mem_unit != 0 ? LInfo.mem_unit : 1;
    TSiMemoryStatus LStatus;
    LStatus.TotalPhysical = LInfo.totalram * LUnit;
    // What new processes can still get without swapping; older kernels lack the figure.
    LStatus.FreePhysical =
        MemInfoBytes("MemAvailable").value_or((LInfo.freeram + LInfo.bufferram) * LUnit);
    LStatus.TotalPageFile = LInfo.totalswap * LUnit;
    LStatus.FreePageFile = LInfo.freeswap * LUnit;
    if (LStatus.TotalPhysical != 0 && LStatus.FreePhysical <= LStatus.TotalPhysical) {
        LStatus.MemoryLoad = static_cast<std::uint32_t>(
            (LStatus.TotalPhysical - LStatus.FreePhysical) * 100 / LStatus.TotalPhysical);
    }
    // The process's address space: its limit when one is set, else the user address space of
    // a 64-bit process on current hardware (47 bits).
    struct rlimit LLimit {};
    LStatus.TotalVirtual = sizeof(void*) == 8 ? (std::uint64_t{1} << 47) : (std::uint64_t{3} << 30);
    if (::getrlimit(RLIMIT_AS, &LLimit) == 0 && LLimit.rlim_cur != RLIM_INFINITY) {
        LStatus.TotalVirtual = LLimit.rlim_cur;
    }
    const std::uint64_t LUsed = UsedVirtual();
    LStatus.FreeVirtual = LStatus.TotalVirtual > LUsed ? LStatus.TotalVirtual - LUsed : 0;
    return LStatus;
}

std::uint32_t SiGetLastError() noexcept {
    return static_cast<std::uint32_t>(errno);
}

}  // namespace deruz::logging
