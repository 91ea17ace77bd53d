// The link: the global state and the logic behind the eight exported functions, with the
// library's load and unload steps. The Windows DLL owns one instance and forwards each
// export to it; tests create their own with fake platform services.
//
// Thread-safety: none; see link_state.h. No method lets an exception escape.
#pragma once

#include <cstdint>
#include <string>

#include "link/link_platform.h"
#include "link/link_state.h"
#include "link/link_types.h"

namespace deruz::link {

// The work that configuration and the imaging-application control do inside the
// initialisation. Absent (null) until those subsystems are wired in: the initialisation
// then ends after recording the return window.
class TLinkSteps {
  public:
    virtual ~TLinkSteps() = default;
    // Resolves the configuration file, the profile and every setting.
    virtual void ResolveConfiguration(TLinkState& state) = 0;
    // Shows the configuration summary with no start command (detection off).
    virtual void ShowConfigInfo(TLinkState& state) = 0;
    // Finds or starts the imaging application; false when that failed (already shown).
    virtual bool StartOrFind(TLinkState& state) = 0;
    // Connects to its automation server; false when that failed (already shown).
    virtual bool Connect(TLinkState& state) = 0;
};

class TLink {
  public:
    explicit TLink(const TLinkPlatform& platform, TLinkSteps* steps = nullptr);
    ~TLink() = default;
    TLink(const TLink&) = delete;
    TLink& operator=(const TLink&) = delete;

    // Load steps; run once, on the calling thread, before the first export does anything.
    void Load();
    // Unload steps. `comAllowed` false skips everything that would call COM (the server
    // connection is then abandoned, not terminated): used at process exit.
    void Unload(bool comAllowed);
    bool Loaded() const { return FLoaded; }

    std::int32_t OndaInit(TProcMsgs Pm);
    std::int32_t OndaInitI(const char* IniP, TProcMsgs Pm, TWindowHandle PrevWnd);
    std::int32_t OndaInit2W(const char* IniP, TProcMsgs2w Pm, TWindowHandle PrevWnd);
    std::int32_t OndaCommand(const char* c);
    std::int32_t OndaExit();
    std::int32_t OndaGetVersion();
    const char* OndaGetErrorStr();
    std::int32_t OndaGetErrorStrBuf(char* Buf, std::int32_t BufLen);

    // User messages: an error box (always shown) and an information box (the caller
    // decides by Debug). Both also go to the link's log.
    void ErrMsg(const std::wstring& Msg);
    void Msg(const std::wstring& Msg);
    // The text of either box: library path and version, a blank line, then the message.
    std::wstring BoxText(const std::wstring& Msg) const;

    TLinkState& State() { return FState; }
    const TLinkState& State() const { return FState; }

  private:
    std::int32_t InitI(const char* IniP, TWindowHandle PrevWnd);
    void HandleInitError(const std::wstring& message);

    TLinkPlatform FPlatform;
    TLinkSteps* FSteps;
    TLinkState FState;
    bool FLoaded = false;
};

// "yes" or "no".
std::wstring MkYesNo(bool b);

// Caption of every box the link shows.
inline constexpr wchar_t kBoxCaption[] = L"Ondarix V3 Link library";
// MB_SYSTEMMODAL | MB_ICONERROR, MB_SYSTEMMODAL | MB_ICONINFORMATION.
inline constexpr std::uint32_t kErrorBoxStyle = 0x1010;
inline constexpr std::uint32_t kInfoBoxStyle = 0x1040;

}  // namespace deruz::link
