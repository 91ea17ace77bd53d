// Process, window and session lookup on Windows. Window searches run through EnumWindows
// with a search record; the callbacks catch everything so that no exception crosses the
// system's enumeration. Text comparisons ignore case the way the user's locale does.
#include <windows.h>
// windows.h first: the shell and COM headers build on it.
#include <shlobj.h>
#include <wrl/client.h>

#include <memory>

#include "systools/lookup.h"

namespace deruz::systools {

namespace {

// Class names are at most 256 characters; titles are compared on their first 259.
constexpr int kNameBufferSize = 260;

// Main-module paths may exceed MAX_PATH; this holds the longest path the system allows, so
// the answer is never a silently truncated path.
constexpr DWORD kModulePathBufferSize = 32768;

bool SameText(const wchar_t* A_, int ALength, const wchar_t* AB, int ABLength) {
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, A_, ALength, AB, ABLength) ==
           CSTR_EQUAL;
}

bool SameText(const std::wstring& A_, const std::wstring& AB) {
    return SameText(A_.c_str(), static_cast<int>(A_.size()), AB.c_str(),
                    static_cast<int>(AB.size()));
}

// True when Text (of TextLength characters) begins with Prefix, ignoring case.
bool StartsText(const wchar_t* APrefix, const wchar_t* AText, int ATextLength) {
    const int LPrefixLength = lstrlenW(APrefix);
    if (LPrefixLength > ATextLength) return false;
    return SameText(AText, LPrefixLength, APrefix, LPrefixLength);
}

BOOL CALLBACK FindWindowOfClassProc(HWND AWnd, LPARAM AParam) noexcept {
    auto& LSearch = *reinterpret_cast<TSearchFindWindowOfClass*>(AParam);
    try {
        if (LSearch.Wnd != 0) return FALSE;
        if (AWnd == reinterpret_cast<HWND>(-1)) return TRUE;
        DWORD LPid = 0;
        GetWindowThreadProcessId(AWnd, &LPid);
        wchar_t LClassName[kNameBufferSize] = {};
        const int LClassLength = GetClassNameW(AWnd, LClassName, kNameBufferSize);
        if (LClassLength <= 0) return TRUE;
        if (!StartsText(LSearch.lpClassName, LClassName, LClassLength)) return TRUE;
        const std::wstring LExeName = GetExeNameFromProcessID(LPid);
        if (LExeName.empty()) return TRUE;
        if (!SameText(PathGetLongName(LExeName), PathGetLongName(LSearch.lpFullPath))) return TRUE;
        LSearch.Wnd = reinterpret_cast<std::uintptr_t>(AWnd);
        LSearch.WndPid = LPid;
        return FALSE;
    } catch (...) {
        // A window that cannot be examined does not match; the search goes on.
        return TRUE;
    }
}

BOOL CALLBACK FindWindowOfProcessProc(HWND AWnd, LPARAM AParam) noexcept {
    auto& LSearch = *reinterpret_cast<TSearchFindWindowOfProcess*>(AParam);
    DWORD LPid = 0;
    GetWindowThreadProcessId(AWnd, &LPid);
    if (LPid != LSearch.Pid) return TRUE;
    if (LSearch.lpClassName != nullptr) {
        wchar_t LClassName[kNameBufferSize] = {};
        const int LClassLength = GetClassNameW(AWnd, LClassName, kNameBufferSize);
        if (LClassLength <= 0) return TRUE;
        if (!SameText(LClassName, LClassLength, LSearch.lpClassName, -1)) return TRUE;
        if (LSearch.lpWindowName != nullptr && LSearch.lpWindowName[0] != L'\0') {
            wchar_t LTitle[kNameBufferSize] = {};
            const int LTitleLength = GetWindowTextW(AWnd, LTitle, kNameBufferSize);
            if (!SameText(LTitle, LTitleLength, LSearch.lpWindowName, -1)) return TRUE;
        }
    }
    LSearch.Wnd = reinterpret_cast<std::uintptr_t>(AWnd);
    return FALSE;
}

using TGetModuleFileNameExW = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);

// GetModuleFileNameExW from PSAPI.dll, loaded on the first call (the static's initialisation
// is thread-safe) and kept loaded; null when the library or the function is missing.
TGetModuleFileNameExW PsapiGetModuleFileNameExW() noexcept {
    static const TGetModuleFileNameExW LFunction = []() noexcept -> TGetModuleFileNameExW {
        const HMODULE LLibrary = LoadLibraryW(L"PSAPI.dll");
        if (LLibrary == nullptr) return nullptr;
        return reinterpret_cast<TGetModuleFileNameExW>(
            reinterpret_cast<void*>(GetProcAddress(LLibrary, "GetModuleFileNameExW")));
    }();
    return LFunction;
}

struct TCloseHandle {
    void operator()(HANDLE AHandle) const noexcept { CloseHandle(AHandle); }
};
using TUniqueHandle = std::unique_ptr<void, TCloseHandle>;

struct TCoTaskMemFree {
    void operator()(ITEMIDLIST* AIdList) const noexcept { CoTaskMemFree(AIdList); }
};
using TUniqueIdList = std::unique_ptr<ITEMIDLIST, TCoTaskMemFree>;

}  // namespace

std::uintptr_t GetWindowByClassNameAndPath(const std::wstring& AWndClassNm,
                                           const std::wstring& AFullPath, std::uint32_t& APid) {
    APid = 0;
    if (AWndClassNm.empty() || AFullPath.empty()) return 0;
    TSearchFindWindowOfClass LSearch{};
    LSearch.lpClassName = AWndClassNm.c_str();
    LSearch.lpFullPath = AFullPath.c_str();
    EnumWindows(FindWindowOfClassProc, reinterpret_cast<LPARAM>(&LSearch));
    APid = LSearch.Wnd != 0 ? LSearch.WndPid : 0;
    return LSearch.Wnd;
}

std::uintptr_t FindWindowOfProcess(std::uint32_t APid, const wchar_t* ALpClassName,
                                   const wchar_t* ALpWindowName) {
    if (APid == 0) return 0;
    TSearchFindWindowOfProcess LSearch{};
    LSearch.Pid = APid;
    LSearch.lpClassName = ALpClassName;
    LSearch.lpWindowName = ALpWindowName;
    EnumWindows(FindWindowOfProcessProc, reinterpret_cast<LPARAM>(&LSearch));
    return LSearch.Wnd;
}

std::wstring GetExeNameFromProcessID(std::uint32_t APid) {
    return ProcessFileName(APid);
}

std::wstring ProcessFileName(std::uint32_t APid) {
    try {
        const TUniqueHandle LProcess(
            OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, APid));
        if (!LProcess) return {};
        const TGetModuleFileNameExW LGetModuleFileNameEx = PsapiGetModuleFileNameExW();
        if (LGetModuleFileNameEx == nullptr) return {};
        std::wstring LPath(kModulePathBufferSize, L'\0');
        const DWORD LLength =
            LGetModuleFileNameEx(LProcess.get(), nullptr, LPath.data(), kModulePathBufferSize);
        if (LLength == 0 || LLength >= kModulePathBufferSize) return {};
        LPath.resize(LLength);
        return LPath;
    } catch (...) {
        return {};
    }
}

std::wstring PathGetLongName(const std::wstring& APath) {
    try {
        std::wstring LResult = APath.find(L"::") != std::wstring::npos ? ShellGetLongPathName(APath)
                                                                       : RtdlGetLongPathName(APath);
        return LResult.empty() ? APath : LResult;
    } catch (...) {
        return {};
    }
}

std::wstring ShellGetLongPathName(const std::wstring& APath) {
    try {
        if (APath.empty()) return APath;
        Microsoft::WRL::ComPtr<IShellFolder> LDesktop;
        if (FAILED(SHGetDesktopFolder(&LDesktop)) || !LDesktop) return APath;
        std::wstring LDisplayName = APath;  // the shell's parser takes a writable text
        ITEMIDLIST* LRawIdList = nullptr;
        const HRESULT LParsed = LDesktop->ParseDisplayName(nullptr, nullptr, LDisplayName.data(),
                                                           nullptr, &LRawIdList, nullptr);
        const TUniqueIdList LIdList(LRawIdList);
        if (FAILED(LParsed) || !LIdList) return APath;
        wchar_t LBuffer[MAX_PATH] = {};
        if (!SHGetPathFromIDListW(LIdList.get(), LBuffer)) return APath;
        std::wstring LResult(LBuffer, MAX_PATH);
        StrResetLength(LResult);
        return LResult;
    } catch (...) {
        return {};
    }
}

std::wstring RtdlGetLongPathName(const std::wstring& APath) {
    try {
        wchar_t LBuffer[MAX_PATH] = {};
        const DWORD LLength = GetLongPathNameW(APath.c_str(), LBuffer, MAX_PATH);
        if (LLength == 0 || LLength >= MAX_PATH) return {};
        return std::wstring(LBuffer, LLength);
    } catch (...) {
        return {};
    }
}

bool IsRemoteSession() {
    return GetSystemMetrics(SM_REMOTESESSION) != 0;
}

}  // namespace deruz::systools
