// The system facts behind LogSystem, LogMemoryStatistic and LogLastError on Windows.
#include <windows.h>

#include <string>

#include "logging/base/errors.h"
#include "logging/base/strings.h"
#include "logging/system/system_info.h"

namespace deruz::logging {

TSiOsVersion SiGetOsVersion() {
    // RtlGetVersion reports the real version; GetVersionEx is capped by the manifest.
    using TRtlGetVersion = LONG(WINAPI*)(PRTL_OSVERSIONINFOW);
    OSVERSIONINFOEXW LInfo{};
    LInfo.dwOSVersionInfoSize = sizeof LInfo;
    const HMODULE LNtDll = GetModuleHandleW(L"ntdll.dll");
    const FARPROC LProc = LNtDll != nullptr ? GetProcAddress(LNtDll, "RtlGetVersion") : nullptr;
    const auto LRtlGetVersion =
        reinterpret_cast<TRtlGetVersion>(reinterpret_cast<void (*)()>(LProc));
    if (LRtlGetVersion == nullptr ||
        LRtlGetVersion(reinterpret_cast<PRTL_OSVERSIONINFOW>(&LInfo)) != 0) {
        return {"Windows", ""};
    }
    std::string LVersion = std::to_string(LInfo.dwMajorVersion) + "." +
                           std::to_string(LInfo.dwMinorVersion) + "." +
                           std::to_string(LInfo.dwBuildNumber);
    const std::u16string LServicePack(reinterpret_cast<const char16_t*>(LInfo.szCSDVersion));
    if (!LServicePack.empty()) LVersion += " " + SiUtf16ToUtf8(LServicePack);
    return {LInfo.wProductType == VER_NT_WORKSTATION ? "Windows" : "Windows Server", LVersion};
}

TSiMemoryStatus SiGetMemoryStatus() {
    MEMORYSTATUSEX LInfo{};
    LInfo.dwLength = sizeof LInfo;
    if (!GlobalMemoryStatusEx(&LInfo)) throw ESiError(SiSystemErrorText(GetLastError()));
    TSiMemoryStatus LStatus;
    LStatus.MemoryLoad = LInfo.dwMemoryLoad;
    LStatus.TotalPhysical = LInfo.ullTotalPhys;
    LStatus.FreePhysical = LInfo.ullAvailPhys;
    LStatus.TotalPageFile = LInfo.ullTotalPageFile;
    LStatus.FreePageFile = LInfo.ullAvailPageFile;
    LStatus.TotalVirtual = LInfo.ullTotalVirtual;
    LStatus.FreeVirtual = LInfo.ullAvailVirtual;
    return LStatus;
}

std::uint32_t SiGetLastError() noexcept {
    return GetLastError();
}

}  // namespace deruz::logging
