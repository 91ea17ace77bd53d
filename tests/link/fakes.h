// Fake platform services for the link's native tests: they record what the link asked for.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "link/link_platform.h"

namespace deruz::link::testing {

struct TShownBox {
    std::wstring Caption;
    std::wstring Text;
    std::uint32_t Style;
};

// Wide text to "ANSI" as Latin-1, with '?' for what Latin-1 lacks.
class TFakeAnsi final : public TAnsiCodePage {
  public:
    std::string FromWide(const std::wstring& text) override {
        std::string out;
        for (wchar_t c : text) out += c < 0x100 ? static_cast<char>(c) : '?';
        return out;
    }
    std::wstring ToWide(const char* text) override {
        std::wstring out;
        for (; text != nullptr && *text != '\0'; ++text) {
            out += static_cast<wchar_t>(static_cast<unsigned char>(*text));
        }
        return out;
    }
};

class TFakeBoxes final : public TMessageBoxes {
  public:
    void Show(const std::wstring& caption, const std::wstring& text, std::uint32_t style) override {
        Shown.push_back({caption, text, style});
        if (WhileShown) WhileShown();
    }
    std::vector<TShownBox> Shown;
    std::function<void()> WhileShown;  // runs while the box is up (re-entry happens here)
};

class TFakeWindows final : public TThreadWindows {
  public:
    TWindowHandle ActiveWindow() override { return Active; }
    TWindowHandle Active = 0x1234;
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
    std::wstring FileVersion(const std::wstring& path) override {
        return path == Path ? Version : L"";
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
    TLinkPlatform Services() { return {&Ansi, &Boxes, &Windows, &Com, &Module}; }
};

}  // namespace deruz::link::testing
