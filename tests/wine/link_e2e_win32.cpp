#include "tests/wine/link_e2e_win32.h"

#include <fstream>

#include "systools/version.h"
#include "systools/wide_text.h"
#include "tools/imaging-sim/error_info_hook_win32.h"

namespace deruz::testing {

std::string Utf8(const std::wstring& AText) {
    return systools::Utf8FromWide(AText);
}

TTempFolder::TTempFolder() {
    wchar_t LBase[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, LBase);
    static int LCounter = 0;
    FPath = std::wstring(LBase) + L"deruz-e2e-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++LCounter) + L"\\";
    CreateDirectoryW(FPath.c_str(), nullptr);
}

TTempFolder::~TTempFolder() {
    WIN32_FIND_DATAW LFound;
    const HANDLE LFind = FindFirstFileW((FPath + L"*").c_str(), &LFound);
    if (LFind != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring LName = LFound.cFileName;
            if (LName != L"." && LName != L"..") DeleteFileW((FPath + LName).c_str());
        } while (FindNextFileW(LFind, &LFound));
        FindClose(LFind);
    }
    RemoveDirectoryW(FPath.c_str());
}

void WriteTextFile(const std::wstring& APath, const std::string& AText) {
    std::ofstream LOut(APath.c_str(), std::ios::binary | std::ios::trunc);
    LOut << AText;
}

std::vector<std::string> ReadLines(const std::wstring& APath) {
    std::vector<std::string> LLines;
    std::ifstream LIn(APath.c_str(), std::ios::binary);
    std::string LLine;
    while (std::getline(LIn, LLine)) {
        if (!LLine.empty() && LLine.back() == '\r') LLine.pop_back();
        LLines.push_back(LLine);
    }
    return LLines;
}

namespace {

// A main window of imaging-sim: its handle, its process and the id after "TOxWindow".
struct TSimWindow {
    HWND Wnd;
    DWORD Pid;
    std::wstring Suffix;
};

std::vector<TSimWindow> SimWindows() {
    std::vector<TSimWindow> LWindows;
    EnumWindows(
        [](HWND AWnd, LPARAM AParam) -> BOOL {
            wchar_t LCls[64] = {};
            GetClassNameW(AWnd, LCls, 64);
            const std::wstring LName = LCls;
            if (LName.rfind(L"TOxWindow", 0) == 0) {
                DWORD LPid = 0;
                GetWindowThreadProcessId(AWnd, &LPid);
                reinterpret_cast<std::vector<TSimWindow>*>(AParam)->push_back(
                    {AWnd, LPid, LName.substr(9)});
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&LWindows));
    return LWindows;
}

}  // namespace

std::vector<DWORD> RunningImagingSims() {
    std::vector<DWORD> LPids;
    for (const auto& LW : SimWindows()) LPids.push_back(LW.Pid);
    return LPids;
}

void CloseImagingSims() {
    std::vector<HANDLE> LProcesses;
    for (const auto& LW : SimWindows()) {
        if (HANDLE LP = OpenProcess(SYNCHRONIZE, FALSE, LW.Pid)) LProcesses.push_back(LP);
        PostMessageW(LW.Wnd, WM_CLOSE, 0, 0);
    }
    for (HANDLE LP : LProcesses) {
        WaitForSingleObject(LP, 5000);
        CloseHandle(LP);
    }
    KillImagingSims();
}

void KillImagingSims() {
    const auto LWindows = SimWindows();
    for (const auto& LW : LWindows) {
        const HANDLE LProcess = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, LW.Pid);
        if (LProcess == nullptr) continue;
        TerminateProcess(LProcess, 1);
        WaitForSingleObject(LProcess, 5000);
        CloseHandle(LProcess);
    }
    // A killed application leaves its readiness atom behind (global atoms outlive their
    // process); later starts would find it at once.
    for (const auto& LW : LWindows) {
        const std::wstring LAtom = L"OXReadyForLink" + LW.Suffix;
        for (ATOM LA; (LA = GlobalFindAtomW(LAtom.c_str())) != 0;) {
            if (GlobalDeleteAtom(LA) != 0) break;
        }
    }
}

TLinkHost::TLinkHost(const std::wstring& ADllPath) {
    // The host's thread is a single-threaded apartment before the link loads, as a Windows
    // host's user-interface thread is. Wine does not carry a server's error description
    // across processes as Windows does; the hook carries it.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    imagingsim::RegisterErrorInfoHook();
    if (ADllPath.empty()) {
        FDll.emplace();
    } else {
        FDll.emplace(ADllPath);
    }
    FRecorder.emplace([this](const ondahost::TRecordedBox& ABox) {
        Boxes.push_back(ABox);
        if (DuringBox) DuringBox();
    });
    wchar_t LPath[MAX_PATH] = {};
    GetModuleFileNameW(FDll->Handle(), LPath, MAX_PATH);
    std::wstring LLower = LPath;
    CharLowerBuffW(LLower.data(), static_cast<DWORD>(LLower.size()));
    FBoxPrefix =
        L"Link-DLL: " + LLower + L" [" + systools::GetFileVersionFromFile(LPath) + L"]\r\n\r\n";
}

TLinkHost::~TLinkHost() {
    Unload();
    CoUninitialize();
}

void TLinkHost::Unload() {
    FDll.reset();
}

std::int32_t TLinkHost::InitI(const std::wstring& AFolder, HWND AWnd) {
    const std::string LDir = Utf8(AFolder);
    return FDll->Export<TInitI>("ONDA_INITI")(AFolder.empty() ? nullptr : LDir.c_str(), nullptr,
                                              AWnd);
}

namespace {
void NoOp() {}
}  // namespace

std::int32_t TLinkHost::Init2W(const std::wstring& AFolder, HWND AWnd) {
    const std::string LDir = Utf8(AFolder);
    return FDll->Export<TInitI>("ONDA_INIT2W")(AFolder.empty() ? nullptr : LDir.c_str(),
                                               reinterpret_cast<void*>(&NoOp), AWnd);
}

std::int32_t TLinkHost::Command(const std::string& AText) {
    return FDll->Export<TCommand>("ONDA_COMMAND")(AText.c_str());
}

std::int32_t TLinkHost::Exit() {
    return FDll->Export<TNoArgs>("ONDA_EXIT")();
}

std::string TLinkHost::ErrorStr() {
    const char* LText = FDll->Export<TGetStr>("ONDA_GETERRORSTR")();
    return LText != nullptr ? LText : "<null>";
}

void TLinkHost::Pump(DWORD AMilliseconds) {
    const DWORD LStart = GetTickCount();
    do {
        MSG LMsg;
        while (PeekMessageW(&LMsg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&LMsg);
        Sleep(5);
    } while (GetTickCount() - LStart < AMilliseconds);
}

std::wstring TLinkHost::BoxText(const std::wstring& AMessage) const {
    return FBoxPrefix + AMessage;
}

std::vector<std::wstring> TLinkHost::BoxMessages() const {
    std::vector<std::wstring> LMessages;
    for (const auto& LBox : Boxes) {
        LMessages.push_back(LBox.Text.rfind(FBoxPrefix, 0) == 0
                                ? LBox.Text.substr(FBoxPrefix.size())
                                : L"<unprefixed> " + LBox.Text);
    }
    return LMessages;
}

}  // namespace deruz::testing
