// The system services the link's portable logic needs, each behind a small interface.
// The Windows build implements them with the real calls (link_platform_win32.cpp); the
// native tests use fakes that record what the link asked for.
#pragma once

#include <cstdint>
#include <string>

#include "control/control_platform.h"
#include "link/link_types.h"

namespace deruz::link {

// Converts between the link's wide text and the system's ANSI code page.
class TAnsiCodePage {
  public:
    virtual ~TAnsiCodePage() = default;
    // Characters the code page lacks become its replacement character.
    virtual std::string FromWide(const std::wstring& AText) = 0;
    // A null pointer converts to an empty text.
    virtual std::wstring ToWide(const char* AText) = 0;
};

// Shows a modal message box with no owner window and waits until it is closed.
class TMessageBoxes {
  public:
    virtual ~TMessageBoxes() = default;
    virtual void Show(const std::wstring& ACaption, const std::wstring& AText,
                      std::uint32_t AStyle) = 0;
};

// The window state of the calling thread.
class TThreadWindows {
  public:
    virtual ~TThreadWindows() = default;
    virtual TWindowHandle ActiveWindow() = 0;
    // Brings a window to the foreground (the wake-up event).
    virtual void SetForegroundWindow(TWindowHandle AWnd) = 0;
};

// The clipboard, for the clipboard link mode.
class TClipboard {
  public:
    virtual ~TClipboard() = default;
    // Opens, empties, puts Text on as Unicode text and closes the clipboard (also when a
    // step fails); false when any step failed.
    virtual bool SetText(const std::wstring& AText) = 0;
};

// COM apartment of the thread that loads the library.
class TComApartment {
  public:
    virtual ~TComApartment() = default;
    // Initialises a single-threaded apartment; returns the status code (negative: failed).
    // Neither raises.
    virtual std::int32_t Initialize() = 0;
    virtual void Uninitialize() = 0;
};

// Facts about the link library's own file.
class TModuleInfo {
  public:
    virtual ~TModuleInfo() = default;
    // Full path of the library file.
    virtual std::wstring ModulePath() = 0;
    // File version text of a file ("" when it has none).
    virtual std::wstring FileVersion(const std::wstring& APath) = 0;
};

// The set of services one link instance uses. Not owned.
struct TLinkPlatform {
    TAnsiCodePage* Ansi = nullptr;
    TMessageBoxes* Boxes = nullptr;
    TThreadWindows* Windows = nullptr;
    TComApartment* Com = nullptr;
    TModuleInfo* Module = nullptr;
    TClipboard* Clipboard = nullptr;
    control::TControlPlatform Control;  // configuration and the imaging application
};

}  // namespace deruz::link
