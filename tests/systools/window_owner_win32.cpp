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

LRESULT CALLBACK WindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
    return DefWindowProcW(Wnd, Msg, WParam, LParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE Instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 4) return 2;

    const HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]);
    const HANDLE quit = OpenEventW(SYNCHRONIZE, FALSE, argv[2]);
    if (ready == nullptr || quit == nullptr) return 2;

    std::set<std::wstring> registered;
    std::vector<HWND> windows;
    for (int i = 3; i < argc; ++i) {
        const std::wstring spec = argv[i];
        const std::wstring::size_type equals = spec.find(L'=');
        const std::wstring className = spec.substr(0, equals);
        const std::wstring title = equals == std::wstring::npos ? L"" : spec.substr(equals + 1);
        if (registered.insert(className).second) {
            WNDCLASSW windowClass = {};
            windowClass.lpfnWndProc = WindowProc;
            windowClass.hInstance = Instance;
            windowClass.lpszClassName = className.c_str();
            if (RegisterClassW(&windowClass) == 0) return 2;
        }
        const HWND wnd = CreateWindowExW(0, className.c_str(), title.c_str(), WS_OVERLAPPEDWINDOW,
                                         0, 0, 200, 100, nullptr, nullptr, Instance, nullptr);
        if (wnd == nullptr) return 2;
        windows.push_back(wnd);
    }
    LocalFree(argv);
    SetEvent(ready);
    CloseHandle(ready);

    for (;;) {
        const DWORD woken = MsgWaitForMultipleObjects(1, &quit, FALSE, INFINITE, QS_ALLINPUT);
        if (woken != WAIT_OBJECT_0 + 1) break;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    for (const HWND wnd : windows) DestroyWindow(wnd);
    CloseHandle(quit);
    return 0;
}
