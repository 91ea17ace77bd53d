#include "link/link_platform_win32.h"

#include <cstring>
#include <cwchar>

#include "control/control_platform_win32.h"
#include "link/win32_api.h"
#include "systools/version.h"

namespace deruz::link {

namespace {

class TWinAnsiCodePage final : public TAnsiCodePage {
  public:
    std::string FromWide(const std::wstring& text) override {
        if (text.empty()) return {};
        const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
        std::string out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
        if (n > 0) {
            WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(),
                                n, nullptr, nullptr);
        }
        return out;
    }
    std::wstring ToWide(const char* text) override {
        if (text == nullptr || *text == '\0') return {};
        const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
        if (n <= 1) return {};
        std::wstring out(static_cast<std::size_t>(n), L'\0');
        MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n);
        out.resize(static_cast<std::size_t>(n - 1));
        return out;
    }
};

class TWinMessageBoxes final : public TMessageBoxes {
  public:
    void Show(const std::wstring& caption, const std::wstring& text, std::uint32_t style) override {
        MessageBoxW(nullptr, text.c_str(), caption.c_str(), style);
    }
};

class TWinThreadWindows final : public TThreadWindows {
  public:
    TWindowHandle ActiveWindow() override {
        return reinterpret_cast<TWindowHandle>(GetActiveWindow());
    }
    void SetForegroundWindow(TWindowHandle Wnd) override {
        ::SetForegroundWindow(reinterpret_cast<HWND>(Wnd));
    }
};

// The clipboard is closed again on every way out once it was opened; the memory handed to
// it belongs to the clipboard, else it is freed here.
class TWinClipboard final : public TClipboard {
  public:
    bool SetText(const std::wstring& Text) override {
        if (!OpenClipboard(nullptr)) return false;
        struct TCloser {
            ~TCloser() { CloseClipboard(); }
        } closer;
        if (!EmptyClipboard()) return false;
        const std::size_t bytes = (Text.size() + 1) * sizeof(wchar_t);
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
        if (memory == nullptr) return false;
        void* target = GlobalLock(memory);
        if (target == nullptr) {
            GlobalFree(memory);
            return false;
        }
        std::memcpy(target, Text.c_str(), bytes);
        GlobalUnlock(memory);
        if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) {
            GlobalFree(memory);
            return false;
        }
        return true;
    }
};

class TWinComApartment final : public TComApartment {
  public:
    std::int32_t Initialize() override { return CoInitialize(nullptr); }
    void Uninitialize() override { CoUninitialize(); }
};

class TWinModuleInfo final : public TModuleInfo {
  public:
    explicit TWinModuleInfo(HMODULE module) : FModule(module) {}
    std::wstring ModulePath() override {
        // The longest path the system knows; the link cuts it to its own limit.
        std::wstring path(32768, L'\0');
        GetModuleFileNameW(FModule, path.data(), static_cast<DWORD>(path.size()));
        path.resize(std::wcslen(path.c_str()));
        return path;
    }
    std::wstring FileVersion(const std::wstring& path) override {
        return systools::GetFileVersionFromFile(path);
    }

  private:
    HMODULE FModule;
};

}  // namespace

TLinkPlatform WindowsLinkPlatform(void* module) {
    // The services live as long as the process: the link uses them up to its unload.
    static TWinAnsiCodePage ansi;
    static TWinMessageBoxes boxes;
    static TWinThreadWindows windows;
    static TWinComApartment com;
    static TWinModuleInfo info(static_cast<HMODULE>(module));
    static TWinClipboard clipboard;
    return TLinkPlatform{
        &ansi, &boxes, &windows, &com, &info, &clipboard, control::WindowsControlPlatform()};
}

}  // namespace deruz::link
