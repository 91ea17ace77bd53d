#include "tools/ondahost/box_recorder_win32.h"

namespace deruz::ondahost {

namespace {

thread_local HHOOK gHook = nullptr;
thread_local std::function<void(const TRecordedBox&)>* gOnBox = nullptr;

std::uint32_t IconStyle(HWND box) {
    struct TIcon {
        LPCWSTR Id;
        std::uint32_t Style;
    };
    static const TIcon kIcons[] = {{IDI_HAND, MB_ICONERROR},
                                   {IDI_QUESTION, MB_ICONQUESTION},
                                   {IDI_EXCLAMATION, MB_ICONWARNING},
                                   {IDI_ASTERISK, MB_ICONINFORMATION}};
    std::uint32_t style = 0;
    EnumChildWindows(
        box,
        [](HWND child, LPARAM param) -> BOOL {
            const auto icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
            if (icon == nullptr) return TRUE;
            for (const auto& k : kIcons) {
                if (LoadIconW(nullptr, k.Id) == icon) {
                    *reinterpret_cast<std::uint32_t*>(param) = k.Style;
                    return FALSE;
                }
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&style));
    return style;
}

bool IsMessageBox(HWND wnd) {
    wchar_t cls[16] = {};
    GetClassNameW(wnd, cls, 16);
    return lstrcmpW(cls, L"#32770") == 0 && GetDlgItem(wnd, 0xFFFF) != nullptr;
}

LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    const auto wnd = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_ACTIVATE && IsMessageBox(wnd)) {
        PostMessageW(wnd, WM_COMMAND, IDOK, 0);
    } else if (code == HCBT_DESTROYWND && IsMessageBox(wnd) && gOnBox != nullptr) {
        TRecordedBox box;
        wchar_t caption[512] = {};
        GetWindowTextW(wnd, caption, 512);
        box.Caption = caption;
        const HWND textWnd = GetDlgItem(wnd, 0xFFFF);
        box.Text.resize(static_cast<std::size_t>(GetWindowTextLengthW(textWnd)) + 1);
        box.Text.resize(static_cast<std::size_t>(
            GetWindowTextW(textWnd, box.Text.data(), static_cast<int>(box.Text.size()))));
        box.Style = IconStyle(wnd);
        if (GetWindowLongW(wnd, GWL_EXSTYLE) & WS_EX_TOPMOST) box.Style |= MB_SYSTEMMODAL;
        try {
            (*gOnBox)(box);
        } catch (...) {
        }
    }
    return CallNextHookEx(gHook, code, wParam, lParam);
}

}  // namespace

TBoxRecorder::TBoxRecorder(std::function<void(const TRecordedBox&)> OnBox) {
    gOnBox = new std::function<void(const TRecordedBox&)>(std::move(OnBox));
    FHook = SetWindowsHookExW(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
    gHook = FHook;
}

TBoxRecorder::~TBoxRecorder() {
    if (FHook != nullptr) UnhookWindowsHookEx(FHook);
    gHook = nullptr;
    delete gOnBox;
    gOnBox = nullptr;
}

}  // namespace deruz::ondahost
