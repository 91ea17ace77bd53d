#include "tests/wine/link_e2e_win32.h"

#include <fstream>

#include "systools/version.h"
#include "systools/wide_text.h"
#include "tools/imaging-sim/error_info_hook_win32.h"

namespace deruz::testing {

std::string Utf8(const std::wstring& text) {
    return systools::Utf8FromWide(text);
}

TTempFolder::TTempFolder() {
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    static int counter = 0;
    FPath = std::wstring(base) + L"deruz-e2e-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter) + L"\\";
    CreateDirectoryW(FPath.c_str(), nullptr);
}

TTempFolder::~TTempFolder() {
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((FPath + L"*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") DeleteFileW((FPath + name).c_str());
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    RemoveDirectoryW(FPath.c_str());
}

void WriteTextFile(const std::wstring& path, const std::string& text) {
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out << text;
}

std::vector<std::string> ReadLines(const std::wstring& path) {
    std::vector<std::string> lines;
    std::ifstream in(path.c_str(), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

namespace {

// A main window of imaging-sim: its handle, its process and the id after "TOxWindow".
struct TSimWindow {
    HWND Wnd;
    DWORD Pid;
    std::wstring Suffix;
};

std::vector<TSimWindow> SimWindows() {
    std::vector<TSimWindow> windows;
    EnumWindows(
        [](HWND wnd, LPARAM param) -> BOOL {
            wchar_t cls[64] = {};
            GetClassNameW(wnd, cls, 64);
            const std::wstring name = cls;
            if (name.rfind(L"TOxWindow", 0) == 0) {
                DWORD pid = 0;
                GetWindowThreadProcessId(wnd, &pid);
                reinterpret_cast<std::vector<TSimWindow>*>(param)->push_back(
                    {wnd, pid, name.substr(9)});
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

}  // namespace

std::vector<DWORD> RunningImagingSims() {
    std::vector<DWORD> pids;
    for (const auto& w : SimWindows()) pids.push_back(w.Pid);
    return pids;
}

void CloseImagingSims() {
    std::vector<HANDLE> processes;
    for (const auto& w : SimWindows()) {
        if (HANDLE p = OpenProcess(SYNCHRONIZE, FALSE, w.Pid)) processes.push_back(p);
        PostMessageW(w.Wnd, WM_CLOSE, 0, 0);
    }
    for (HANDLE p : processes) {
        WaitForSingleObject(p, 5000);
        CloseHandle(p);
    }
    KillImagingSims();
}

void KillImagingSims() {
    const auto windows = SimWindows();
    for (const auto& w : windows) {
        const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, w.Pid);
        if (process == nullptr) continue;
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
    // A killed application leaves its readiness atom behind (global atoms outlive their
    // process); later starts would find it at once.
    for (const auto& w : windows) {
        const std::wstring atom = L"OXReadyForLink" + w.Suffix;
        for (ATOM a; (a = GlobalFindAtomW(atom.c_str())) != 0;) {
            if (GlobalDeleteAtom(a) != 0) break;
        }
    }
}

TLinkHost::TLinkHost(const std::wstring& DllPath) {
    // The host's thread is a single-threaded apartment before the link loads, as a Windows
    // host's user-interface thread is. Wine does not carry a server's error description
    // across processes as Windows does; the hook carries it.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    imagingsim::RegisterErrorInfoHook();
    if (DllPath.empty()) {
        FDll.emplace();
    } else {
        FDll.emplace(DllPath);
    }
    FRecorder.emplace([this](const ondahost::TRecordedBox& box) {
        Boxes.push_back(box);
        if (DuringBox) DuringBox();
    });
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(FDll->Handle(), path, MAX_PATH);
    std::wstring lower = path;
    CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
    FBoxPrefix =
        L"Link-DLL: " + lower + L" [" + systools::GetFileVersionFromFile(path) + L"]\r\n\r\n";
}

TLinkHost::~TLinkHost() {
    Unload();
    CoUninitialize();
}

void TLinkHost::Unload() {
    FDll.reset();
}

std::int32_t TLinkHost::InitI(const std::wstring& folder, HWND wnd) {
    const std::string dir = Utf8(folder);
    return FDll->Export<TInitI>("ONDA_INITI")(folder.empty() ? nullptr : dir.c_str(), nullptr, wnd);
}

namespace {
void NoOp() {}
}  // namespace

std::int32_t TLinkHost::Init2W(const std::wstring& folder, HWND wnd) {
    const std::string dir = Utf8(folder);
    return FDll->Export<TInitI>("ONDA_INIT2W")(folder.empty() ? nullptr : dir.c_str(),
                                               reinterpret_cast<void*>(&NoOp), wnd);
}

std::int32_t TLinkHost::Command(const std::string& text) {
    return FDll->Export<TCommand>("ONDA_COMMAND")(text.c_str());
}

std::int32_t TLinkHost::Exit() {
    return FDll->Export<TNoArgs>("ONDA_EXIT")();
}

std::string TLinkHost::ErrorStr() {
    const char* text = FDll->Export<TGetStr>("ONDA_GETERRORSTR")();
    return text != nullptr ? text : "<null>";
}

void TLinkHost::Pump(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        Sleep(5);
    } while (GetTickCount() - start < milliseconds);
}

std::wstring TLinkHost::BoxText(const std::wstring& message) const {
    return FBoxPrefix + message;
}

std::vector<std::wstring> TLinkHost::BoxMessages() const {
    std::vector<std::wstring> messages;
    for (const auto& box : Boxes) {
        messages.push_back(box.Text.rfind(FBoxPrefix, 0) == 0 ? box.Text.substr(FBoxPrefix.size())
                                                              : L"<unprefixed> " + box.Text);
    }
    return messages;
}

}  // namespace deruz::testing
