#include <windows.h>

#include "logging/base/strings.h"
#include "logging/system/system_info.h"

namespace deruz::logging {

std::string SiGetComputerName() {
    wchar_t name[16] = {};
    DWORD size = 16;
    if (!GetComputerNameW(name, &size)) return {};
    return SiUtf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(name), size));
}

std::string SiGetExecutableName() {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0) return {};
    std::u16string result(reinterpret_cast<const char16_t*>(path), n);
    return SiUtf16ToUtf8(result.substr(result.find_last_of(u"\\/") + 1));
}

std::uint32_t SiGetSysColor(int AIndex) {
    return GetSysColor(AIndex);
}

}  // namespace deruz::logging
