// A process that owns top-level windows of given classes and titles, for the window lookup
// tests. Usage:
//   window_owner READY_EVENT QUIT_EVENT CLASS[=TITLE]...
// Creates one hidden top-level window per CLASS[=TITLE], in the order given (so the last one
// is on top of the z-order), sets the named event READY_EVENT, then pumps messages until the
// named event QUIT_EVENT is set or the process is killed. Exit code 0 after a quit, 2 on a
// usage or set-up error.
#include <windows.h>
// windows.h first: the shell header builds on it.
#include <shellapi.h>

#include <set>
#include <string>
#include <vector>

namespace {

LRESULT CALLBACK WindowProc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
    return DefWindowProcW(AWnd, AMsg, AWParam, ALParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE AInstance, HINSTANCE, PWSTR, int) {
    int LArgc = 0;
    wchar_t** LArgv = CommandLineToArgvW(GetCommandLineW(), &LArgc);
    if (LArgv == nullptr || LArgc < 4) return 2;

    const HANDLE LReady = OpenEventW(EVENT_MODIFY_STATE, FALSE, LArgv[1]);
    const HANDLE LQuit = OpenEventW(SYNCHRONIZE, FALSE, LArgv[2]);
    if (LReady == nullptr || LQuit == nullptr) return 2;

    std::set<std::wstring> LRegistered;
    std::vector<HWND> LWindows;
    for (int LI = 3; LI < LArgc; ++LI) {
        const std::wstring LSpec = LArgv[LI];
        const std::wstring::size_type LEquals = LSpec.find(L'=');
        const std::wstring LClassName = LSpec.substr(0, LEquals);
        const std::wstring LTitle = LEquals == std::wstring::npos ? L"" : LSpec.substr(LEquals + 1);
        if (LRegistered.insert(LClassName).second) {
            WNDCLASSW LWindowClass = {};
            LWindowClass.lpfnWndProc = WindowProc;
            LWindowClass.hInstance = AInstance;
            LWindowClass.lpszClassName = LClassName.c_str();
            if (RegisterClassW(&LWindowClass) == 0) return 2;
        }
        const HWND LWnd =
            CreateWindowExW(0, LClassName.c_str(), LTitle.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 200,
                            100, nullptr, nullptr, AInstance, nullptr);
        if (LWnd == nullptr) return 2;
        LWindows.push_back(LWnd);
    }
    LocalFree(LArgv);
    SetEvent(LReady);
    CloseHandle(LReady);

    for (;;) {
        const DWORD LWoken = MsgWaitForMultipleObjects(1, &LQuit, FALSE, INFINITE, QS_ALLINPUT);
        if (LWoken != WAIT_OBJECT_0 + 1) break;
        MSG LMsg;
        while (PeekMessageW(&LMsg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&LMsg);
            DispatchMessageW(&LMsg);
        }
    }
    for (const HWND LWnd : LWindows) DestroyWindow(LWnd);
    CloseHandle(LQuit);
    return 0;
}
