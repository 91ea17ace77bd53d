// Fake platform services for the link's native tests: they record what the link asked for.
// The configuration and imaging-application services are the control's fakes.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "link/link.h"
#include "link/link_platform.h"
#include "tests/control/control_fakes.h"

namespace deruz::link::testing {

struct TShownBox {
    std::wstring Caption;
    std::wstring Text;
    std::uint32_t Style;
};

// Wide text to "ANSI" as Latin-1, with '?' for what Latin-1 lacks.
class TFakeAnsi final : public TAnsiCodePage {
  public:
    std::string FromWide(const std::wstring& AText) override {
        std::string LOut;
        for (wchar_t LC : AText) LOut += LC < 0x100 ? static_cast<char>(LC) : '?';
        return LOut;
    }
    std::wstring ToWide(const char* AText) override {
        std::wstring LOut;
        for (; AText != nullptr && *AText != '\0'; ++AText) {
            LOut += static_cast<wchar_t>(static_cast<unsigned char>(*AText));
        }
        return LOut;
    }
};

class TFakeBoxes final : public TMessageBoxes {
  public:
    void Show(const std::wstring& ACaption, const std::wstring& AText,
              std::uint32_t AStyle) override {
        Shown.push_back({ACaption, AText, AStyle});
        if (WhileShown) WhileShown();
    }
    std::vector<TShownBox> Shown;
    std::function<void()> WhileShown;  // runs while the box is up (re-entry happens here)
};

// The text of a box after the library path and version ("Link-DLL: ... [1.2.3.4]" and a
// blank line), or the whole text when it has no such head.
inline std::wstring Body(const TShownBox& ABox) {
    const std::size_t LEnd = ABox.Text.find(L"]\r\n\r\n");
    return LEnd == std::wstring::npos ? ABox.Text : ABox.Text.substr(LEnd + 5);
}

class TFakeWindows final : public TThreadWindows {
  public:
    TWindowHandle ActiveWindow() override { return Active; }
    void SetForegroundWindow(TWindowHandle AWnd) override {
        Foreground.push_back(AWnd);
        if (OnForeground) OnForeground();
    }
    TWindowHandle Active = 0x1234;
    std::vector<TWindowHandle> Foreground;
    std::function<void()> OnForeground;  // runs inside the call (host code may run there)
};

class TFakeClipboard final : public TClipboard {
  public:
    bool SetText(const std::wstring& AText) override {
        ++Calls;
        if (Fail) return false;
        Texts.push_back(AText);
        return true;
    }
    bool Fail = false;
    int Calls = 0;
    std::vector<std::wstring> Texts;
};

class TFakeCom final : public TComApartment {
  public:
    std::int32_t Initialize() override {
        ++Initialized;
        return Result;
    }
    void Uninitialize() override { ++Uninitialized; }
    std::int32_t Result = 0;
    int Initialized = 0;
    int Uninitialized = 0;
};

class TFakeModule final : public TModuleInfo {
  public:
    std::wstring ModulePath() override { return Path; }
    std::wstring FileVersion(const std::wstring& APath) override {
        return APath == Path ? Version : L"";
    }
    std::wstring Path = L"C:\\Link\\DeRuz64.dll";
    std::wstring Version = L"1.2.3.4";
};

struct TFakePlatform {
    TFakeAnsi Ansi;
    TFakeBoxes Boxes;
    TFakeWindows Windows;
    TFakeCom Com;
    TFakeModule Module;
    TFakeClipboard Clipboard;
    control::testing::TFakeControlPlatform Control;
    TLinkPlatform Services() {
        return {&Ansi, &Boxes, &Windows, &Com, &Module, &Clipboard, Control.Platform()};
    }
    // Every box text after its head, in order.
    std::vector<std::wstring> Bodies() const {
        std::vector<std::wstring> LOut;
        for (const auto& LBox : Boxes.Shown) LOut.push_back(Body(LBox));
        return LOut;
    }
};

inline constexpr wchar_t kMainIni[] = L"C:\\Link\\deruz64.ini";

// What the native tests see of a link beyond its exports: its state (to read it, and to set
// up the few values no export reaches directly) and what its control keeps.
struct TLinkPeer {
    static TLinkState& State(TLink& ALink) { return ALink.FState; }
    static const control::TControlState& Control(const TLink& ALink) {
        return ALink.FControl.State();
    }
};

// A loaded link over fresh fakes; its library lies at C:\Link\DeRuz64.dll, version 1.2.3.4.
struct TLinkRig {
    TFakePlatform platform;
    TLink link{platform.Services()};

    TLinkRig() { link.Load(); }
    TLinkState& State() { return TLinkPeer::State(link); }
    const control::TControlState& Control() const { return TLinkPeer::Control(link); }
    // Sets a key of the main configuration file beside the library.
    void Main(const std::wstring& AKey, const std::wstring& AValue,
              const std::wstring& ASection = L"OndarixDDE") {
        platform.Control.Files.Set(kMainIni, ASection, AKey, AValue);
    }
    control::testing::TFakeServerAccess& Server() { return platform.Control.Server; }
    std::vector<std::wstring>& ServerCalls() { return platform.Control.Server.Calls(); }
    // An instance of the imaging application is running from the default path.
    void RunningInstance() {
        platform.Control.Desktop.Windows.push_back(
            {0x100, L"TOxWindow", 77, L"C:\\Ondarix\\Ondarix.exe"});
    }
    // Initialises against the running instance and forgets what that showed and called.
    void InitConnected(TWindowHandle APrevWnd = 42, TProcMsgs2w AProc = nullptr) {
        RunningInstance();
        const std::int32_t LResult = AProc != nullptr ? link.OndaInit2W(nullptr, AProc, APrevWnd)
                                                      : link.OndaInitI(nullptr, nullptr, APrevWnd);
        ASSERT_EQ(LResult, dde_Ok);
        ASSERT_NE(Control().Ox3, nullptr);
        platform.Boxes.Shown.clear();
        ServerCalls().clear();
    }
};

}  // namespace deruz::link::testing
