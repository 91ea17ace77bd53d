#include <limits.h>
#include <time.h>
#include <unistd.h>

#include <array>

#include "logging/system/system_info.h"

namespace deruz::logging {

std::string SiGetComputerName() {
    char LName[HOST_NAME_MAX + 1] = {};
    if (gethostname(LName, sizeof LName - 1) != 0) return {};
    std::string LResult(LName);
    return LResult.substr(0, LResult.find('.'));
}

std::string SiGetExecutableName() {
    char LPath[PATH_MAX] = {};
    const ssize_t LN = readlink("/proc/self/exe", LPath, sizeof LPath - 1);
    if (LN <= 0) return {};
    std::string LResult(LPath, static_cast<std::size_t>(LN));
    return LResult.substr(LResult.find_last_of('/') + 1);
}

std::uint32_t SiGetSysColor(int AIndex) {
    // The classic Windows defaults, as 0x00BBGGRR.
    static constexpr std::array<std::uint32_t, 31> LColors = {
        0xC8C8C8, 0x000000, 0xD1B499, 0xDBCDBF, 0xF0F0F0, 0xFFFFFF, 0x646464, 0x000000,
        0x000000, 0x000000, 0xB4B4B4, 0xFCF7F4, 0xABABAB, 0xD77800, 0xFFFFFF, 0xF0F0F0,
        0xA0A0A0, 0x6D6D6D, 0x000000, 0x000000, 0xFFFFFF, 0x696969, 0xE3E3E3, 0x000000,
        0xE1FFFF, 0x000000, 0xCC6600, 0xEAD1B9, 0xF2E4D7, 0xFF9933, 0xF0F0F0};
    if (AIndex < 0 || AIndex >= static_cast<int>(LColors.size())) return 0;
    return LColors[static_cast<std::size_t>(AIndex)];
}

}  // namespace deruz::logging
