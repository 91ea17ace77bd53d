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
    std::string FromWide(const std::wstring& AText) override {
        if (AText.empty()) return {};
        const int LN = WideCharToMultiByte(CP_ACP, 0, AText.data(), static_cast<int>(AText.size()),
                                           nullptr, 0, nullptr, nullptr);
        std::string LOut(LN > 0 ? static_cast<std::size_t>(LN) : 0, '\0');
        if (LN > 0) {
            WideCharToMultiByte(CP_ACP, 0, AText.data(), static_cast<int>(AText.size()),
                                LOut.data(), LN, nullptr, nullptr);
        }
        return LOut;
    }
    std::wstring ToWide(const char* AText) override {
        if (AText == nullptr || *AText == '\0') return {};
        const int LN = MultiByteToWideChar(CP_ACP, 0, AText, -1, nullptr, 0);
        if (LN <= 1) return {};
        std::wstring LOut(static_cast<std::size_t>(LN), L'\0');
        MultiByteToWideChar(CP_ACP, 0, AText, -1, LOut.data(), LN);
        LOut.resize(static_cast<std::size_t>(LN - 1));
        return LOut;
    }
};

class TWinMessageBoxes final : public TMessageBoxes {
  public:
    void Show(const std::wstring& ACaption, const std::wstring& AText,
              std::uint32_t AStyle) override {
        MessageBoxW(nullptr, AText.c_str(), ACaption.c_str(), AStyle);
    }
};

class TWinThreadWindows final : public TThreadWindows {
  public:
    TWindowHandle ActiveWindow() override {
        return reinterpret_cast<TWindowHandle>(GetActiveWindow());
    }
    void SetForegroundWindow(TWindowHandle AWnd) override {
        ::SetForegroundWindow(reinterpret_cast<HWND>(AWnd));
    }
};

// The clipboard is closed again on every way out once it was opened; the memory handed to
// it belongs to the clipboard, else it is freed here.
class TWinClipboard final : public TClipboard {
  public:
    bool SetText(const std::wstring& AText) override {
        if (!OpenClipboard(nullptr)) return false;
        struct TCloser {
            ~TCloser() { CloseClipboard(); }
        } LCloser;
        if (!EmptyClipboard()) return false;
        const std::size_t LBytes = (AText.size() + 1) * sizeof(wchar_t);
        HGLOBAL LMemory = GlobalAlloc(GMEM_MOVEABLE, LBytes);
        if (LMemory == nullptr) return false;
        void* LTarget = GlobalLock(LMemory);
        if (LTarget == nullptr) {
            GlobalFree(LMemory);
            return false;
        }
        std::memcpy(LTarget, AText.c_str(), LBytes);
        GlobalUnlock(LMemory);
        if (SetClipboardData(CF_UNICODETEXT, LMemory) == nullptr) {
            GlobalFree(LMemory);
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
    explicit TWinModuleInfo(HMODULE AModule) : FModule(AModule) {}
    std::wstring ModulePath() override {
        // The longest path the system knows; the link cuts it to its own limit.
        std::wstring LPath(32768, L'\0');
        GetModuleFileNameW(FModule, LPath.data(), static_cast<DWORD>(LPath.size()));
        LPath.resize(std::wcslen(LPath.c_str()));
        return LPath;
    }
    std::wstring FileVersion(const std::wstring& APath) override {
        return systools::GetFileVersionFromFile(APath);
    }

  private:
    HMODULE FModule;
};

}  // namespace

TLinkPlatform WindowsLinkPlatform(void* AModule) {
    // The services live as long as the process: the link uses them up to its unload.
    static TWinAnsiCodePage LAnsi;
    static TWinMessageBoxes LBoxes;
    static TWinThreadWindows LWindows;
    static TWinComApartment LCom;
    static TWinModuleInfo LInfo(static_cast<HMODULE>(AModule));
    static TWinClipboard LClipboard;
    return TLinkPlatform{
        &LAnsi, &LBoxes, &LWindows, &LCom, &LInfo, &LClipboard, control::WindowsControlPlatform()};
}

}  // namespace deruz::link
