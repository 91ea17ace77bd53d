#include "tools/ondahost/box_recorder_win32.h"

namespace deruz::ondahost {

namespace {

thread_local HHOOK gHook = nullptr;
thread_local std::function<void(const TRecordedBox&)>* gOnBox = nullptr;

std::uint32_t IconStyle(HWND ABox) {
    struct TIcon {
        LPCWSTR Id;
        std::uint32_t Style;
    };
    static const TIcon LIcons[] = {{IDI_HAND, MB_ICONERROR},
                                   {IDI_QUESTION, MB_ICONQUESTION},
                                   {IDI_EXCLAMATION, MB_ICONWARNING},
                                   {IDI_ASTERISK, MB_ICONINFORMATION}};
    std::uint32_t LStyle = 0;
    EnumChildWindows(
        ABox,
        [](HWND AChild, LPARAM AParam) -> BOOL {
            const auto LIcon = reinterpret_cast<HICON>(SendMessageW(AChild, STM_GETICON, 0, 0));
            if (LIcon == nullptr) return TRUE;
            for (const auto& LK : LIcons) {
                if (LoadIconW(nullptr, LK.Id) == LIcon) {
                    *reinterpret_cast<std::uint32_t*>(AParam) = LK.Style;
                    return FALSE;
                }
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&LStyle));
    return LStyle;
}

bool IsMessageBox(HWND AWnd) {
    wchar_t LCls[16] = {};
    GetClassNameW(AWnd, LCls, 16);
    return lstrcmpW(LCls, L"#32770") == 0 && GetDlgItem(AWnd, 0xFFFF) != nullptr;
}

LRESULT CALLBACK CbtHook(int ACode, WPARAM AWParam, LPARAM ALParam) {
    const auto LWnd = reinterpret_cast<HWND>(AWParam);
    if (ACode == HCBT_ACTIVATE && IsMessageBox(LWnd)) {
        PostMessageW(LWnd, WM_COMMAND, IDOK, 0);
    } else if (ACode == HCBT_DESTROYWND && IsMessageBox(LWnd) && gOnBox != nullptr) {
        TRecordedBox LBox;
        wchar_t LCaption[512] = {};
        GetWindowTextW(LWnd, LCaption, 512);
        LBox.Caption = LCaption;
        const HWND LTextWnd = GetDlgItem(LWnd, 0xFFFF);
        LBox.Text.resize(static_cast<std::size_t>(GetWindowTextLengthW(LTextWnd)) + 1);
        LBox.Text.resize(static_cast<std::size_t>(
            GetWindowTextW(LTextWnd, LBox.Text.data(), static_cast<int>(LBox.Text.size()))));
        LBox.Style = IconStyle(LWnd);
        if (GetWindowLongW(LWnd, GWL_EXSTYLE) & WS_EX_TOPMOST) LBox.Style |= MB_SYSTEMMODAL;
        try {
            (*gOnBox)(LBox);
        } catch (...) {
        }
    }
    return CallNextHookEx(gHook, ACode, AWParam, ALParam);
}

}  // namespace

TBoxRecorder::TBoxRecorder(std::function<void(const TRecordedBox&)> AOnBox) {
    gOnBox = new std::function<void(const TRecordedBox&)>(std::move(AOnBox));
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
