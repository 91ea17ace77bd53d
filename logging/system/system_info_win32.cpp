#include <windows.h>

#include "logging/base/strings.h"
#include "logging/system/system_info.h"

namespace deruz::logging {

std::string SiGetComputerName() {
    wchar_t LName[16] = {};
    DWORD LSize = 16;
    if (!GetComputerNameW(LName, &LSize)) return {};
    return SiUtf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(LName), LSize));
}

std::string SiGetExecutableName() {
    wchar_t LPath[MAX_PATH + 1] = {};
    const DWORD LN = GetModuleFileNameW(nullptr, LPath, MAX_PATH);
    if (LN == 0) return {};
    std::u16string LResult(reinterpret_cast<const char16_t*>(LPath), LN);
    return SiUtf16ToUtf8(LResult.substr(LResult.find_last_of(u"\\/") + 1));
}

std::uint32_t SiGetSysColor(int AIndex) {
    return GetSysColor(AIndex);
}

}  // namespace deruz::logging
