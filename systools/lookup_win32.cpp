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

bool SameText(const wchar_t* A, int ALength, const wchar_t* B, int BLength) {
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, A, ALength, B, BLength) ==
           CSTR_EQUAL;
}

bool SameText(const std::wstring& A, const std::wstring& B) {
    return SameText(A.c_str(), static_cast<int>(A.size()), B.c_str(), static_cast<int>(B.size()));
}

// True when Text (of TextLength characters) begins with Prefix, ignoring case.
bool StartsText(const wchar_t* Prefix, const wchar_t* Text, int TextLength) {
    const int prefixLength = lstrlenW(Prefix);
    if (prefixLength > TextLength) return false;
    return SameText(Text, prefixLength, Prefix, prefixLength);
}

BOOL CALLBACK FindWindowOfClassProc(HWND Wnd, LPARAM Param) noexcept {
    auto& search = *reinterpret_cast<TSearchFindWindowOfClass*>(Param);
    try {
        if (search.Wnd != 0) return FALSE;
        if (Wnd == reinterpret_cast<HWND>(-1)) return TRUE;
        DWORD pid = 0;
        GetWindowThreadProcessId(Wnd, &pid);
        wchar_t className[kNameBufferSize] = {};
        const int classLength = GetClassNameW(Wnd, className, kNameBufferSize);
        if (classLength <= 0) return TRUE;
        if (!StartsText(search.lpClassName, className, classLength)) return TRUE;
        const std::wstring exeName = GetExeNameFromProcessID(pid);
        if (exeName.empty()) return TRUE;
        if (!SameText(PathGetLongName(exeName), PathGetLongName(search.lpFullPath))) return TRUE;
        search.Wnd = reinterpret_cast<std::uintptr_t>(Wnd);
        search.WndPid = pid;
        return FALSE;
    } catch (...) {
        // A window that cannot be examined does not match; the search goes on.
        return TRUE;
    }
}

BOOL CALLBACK FindWindowOfProcessProc(HWND Wnd, LPARAM Param) noexcept {
    auto& search = *reinterpret_cast<TSearchFindWindowOfProcess*>(Param);
    DWORD pid = 0;
    GetWindowThreadProcessId(Wnd, &pid);
    if (pid != search.Pid) return TRUE;
    if (search.lpClassName != nullptr) {
        wchar_t className[kNameBufferSize] = {};
        const int classLength = GetClassNameW(Wnd, className, kNameBufferSize);
        if (classLength <= 0) return TRUE;
        if (!SameText(className, classLength, search.lpClassName, -1)) return TRUE;
        if (search.lpWindowName != nullptr && search.lpWindowName[0] != L'\0') {
            wchar_t title[kNameBufferSize] = {};
            const int titleLength = GetWindowTextW(Wnd, title, kNameBufferSize);
            if (!SameText(title, titleLength, search.lpWindowName, -1)) return TRUE;
        }
    }
    search.Wnd = reinterpret_cast<std::uintptr_t>(Wnd);
    return FALSE;
}

using TGetModuleFileNameExW = DWORD(WINAPI*)(HANDLE, HMODULE, LPWSTR, DWORD);

// GetModuleFileNameExW from PSAPI.dll, loaded on the first call (the static's initialisation
// is thread-safe) and kept loaded; null when the library or the function is missing.
TGetModuleFileNameExW PsapiGetModuleFileNameExW() noexcept {
    static const TGetModuleFileNameExW function = []() noexcept -> TGetModuleFileNameExW {
        const HMODULE library = LoadLibraryW(L"PSAPI.dll");
        if (library == nullptr) return nullptr;
        return reinterpret_cast<TGetModuleFileNameExW>(
            reinterpret_cast<void*>(GetProcAddress(library, "GetModuleFileNameExW")));
    }();
    return function;
}

struct TCloseHandle {
    void operator()(HANDLE Handle) const noexcept { CloseHandle(Handle); }
};
using TUniqueHandle = std::unique_ptr<void, TCloseHandle>;

struct TCoTaskMemFree {
    void operator()(ITEMIDLIST* IdList) const noexcept { CoTaskMemFree(IdList); }
};
using TUniqueIdList = std::unique_ptr<ITEMIDLIST, TCoTaskMemFree>;

}  // namespace

std::uintptr_t GetWindowByClassNameAndPath(const std::wstring& WndClassNm,
                                           const std::wstring& FullPath, std::uint32_t& Pid) {
    Pid = 0;
    if (WndClassNm.empty() || FullPath.empty()) return 0;
    TSearchFindWindowOfClass search{};
    search.lpClassName = WndClassNm.c_str();
    search.lpFullPath = FullPath.c_str();
    EnumWindows(FindWindowOfClassProc, reinterpret_cast<LPARAM>(&search));
    Pid = search.Wnd != 0 ? search.WndPid : 0;
    return search.Wnd;
}

std::uintptr_t FindWindowOfProcess(std::uint32_t Pid, const wchar_t* lpClassName,
                                   const wchar_t* lpWindowName) {
    if (Pid == 0) return 0;
    TSearchFindWindowOfProcess search{};
    search.Pid = Pid;
    search.lpClassName = lpClassName;
    search.lpWindowName = lpWindowName;
    EnumWindows(FindWindowOfProcessProc, reinterpret_cast<LPARAM>(&search));
    return search.Wnd;
}

std::wstring GetExeNameFromProcessID(std::uint32_t Pid) {
    return ProcessFileName(Pid);
}

std::wstring ProcessFileName(std::uint32_t Pid) {
    try {
        const TUniqueHandle process(
            OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, Pid));
        if (!process) return {};
        const TGetModuleFileNameExW getModuleFileNameEx = PsapiGetModuleFileNameExW();
        if (getModuleFileNameEx == nullptr) return {};
        std::wstring path(kModulePathBufferSize, L'\0');
        const DWORD length =
            getModuleFileNameEx(process.get(), nullptr, path.data(), kModulePathBufferSize);
        if (length == 0 || length >= kModulePathBufferSize) return {};
        path.resize(length);
        return path;
    } catch (...) {
        return {};
    }
}

std::wstring PathGetLongName(const std::wstring& Path) {
    try {
        std::wstring result = Path.find(L"::") != std::wstring::npos ? ShellGetLongPathName(Path)
                                                                     : RtdlGetLongPathName(Path);
        return result.empty() ? Path : result;
    } catch (...) {
        return {};
    }
}

std::wstring ShellGetLongPathName(const std::wstring& Path) {
    try {
        if (Path.empty()) return Path;
        Microsoft::WRL::ComPtr<IShellFolder> desktop;
        if (FAILED(SHGetDesktopFolder(&desktop)) || !desktop) return Path;
        std::wstring displayName = Path;  // the shell's parser takes a writable text
        ITEMIDLIST* rawIdList = nullptr;
        const HRESULT parsed = desktop->ParseDisplayName(nullptr, nullptr, displayName.data(),
                                                         nullptr, &rawIdList, nullptr);
        const TUniqueIdList idList(rawIdList);
        if (FAILED(parsed) || !idList) return Path;
        wchar_t buffer[MAX_PATH] = {};
        if (!SHGetPathFromIDListW(idList.get(), buffer)) return Path;
        std::wstring result(buffer, MAX_PATH);
        StrResetLength(result);
        return result;
    } catch (...) {
        return {};
    }
}

std::wstring RtdlGetLongPathName(const std::wstring& Path) {
    try {
        wchar_t buffer[MAX_PATH] = {};
        const DWORD length = GetLongPathNameW(Path.c_str(), buffer, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return {};
        return std::wstring(buffer, length);
    } catch (...) {
        return {};
    }
}

bool IsRemoteSession() {
    return GetSystemMetrics(SM_REMOTESESSION) != 0;
}

}  // namespace deruz::systools
