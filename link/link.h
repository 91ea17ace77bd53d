// The link: the global state and the logic behind the eight exported functions, with the
// library's load and unload steps, its user messages, the command channel and the event
// relay. The Windows DLL owns one instance and forwards each export to it; tests create
// their own with fake platform services.
//
// Thread-safety: none; see link_state.h. No export method lets an exception escape.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "control/ondarix_control.h"
#include "link/link_platform.h"
#include "link/link_state.h"
#include "link/link_types.h"
#include "link/user_messages.h"

namespace deruz::link {

class TLink;

// The work that configuration and the imaging-application control do inside the
// initialisation. The link uses its own (the real steps) unless a test supplies others.
class TLinkSteps {
  public:
    virtual ~TLinkSteps() = default;
    // Resolves the configuration file, the profile and every setting; IniP is the folder
    // the host named (may be empty).
    virtual void ResolveConfiguration(TLink& Link, const std::wstring& IniP) = 0;
    // Shows the configuration summary with no start command (detection off).
    virtual void ShowConfigInfo(TLink& Link) = 0;
    // Finds or starts the imaging application; false when that failed (already shown).
    virtual bool StartOrFind(TLink& Link) = 0;
    // Connects to its automation server; false when that failed (already shown).
    virtual bool Connect(TLink& Link) = 0;
};

// The real steps: the configuration file and the imaging-application control.
class TOndarixSteps final : public TLinkSteps {
  public:
    void ResolveConfiguration(TLink& Link, const std::wstring& IniP) override;
    void ShowConfigInfo(TLink& Link) override;
    bool StartOrFind(TLink& Link) override;
    bool Connect(TLink& Link) override;
};

class TLink final : public control::TControlNotices {
  public:
    explicit TLink(const TLinkPlatform& platform, TLinkSteps* steps = nullptr);
    ~TLink() override = default;
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

    // Shows a notice if Debug says so: the one place of the Debug rules. Never raises.
    void Notice(control::TNotice Kind, const std::wstring& Text) override;
    // User messages: an error box and an information box, shown as they are (Notice
    // decides). Both also go to the link's log. Neither raises.
    void ErrMsg(const std::wstring& Msg);
    void Msg(const std::wstring& Msg);
    // The configuration summary, shown only when Debug is exactly 1.
    void ShowConfigInfo(const control::TStartFacts& Start) override;
    void Wakeup() override;
    void CommandReady(const std::wstring& ResultText) override;

    // The link's boxes.
    TUserMessages Messages() const;
    // Puts a command on the clipboard; false when the clipboard could not take it.
    bool SendClip(const std::wstring& s);

    TLinkState& State() { return FState; }
    const TLinkState& State() const { return FState; }
    const TLinkPlatform& Platform() const { return FPlatform; }
    control::TOndarixControl& Control() { return FControl; }
    // What the control needs for a start or a connection.
    control::TControlSettings ControlSettings() const;

  private:
    std::int32_t InitI(const char* IniP, TWindowHandle PrevWnd);
    std::int32_t Command(const char* c);
    std::int32_t Deliver(std::wstring s);
    void HandleExportError(const std::wstring& message);

    TLinkPlatform FPlatform;
    TOndarixSteps FOwnSteps;
    TLinkSteps* FSteps;
    TLinkState FState;
    control::TOndarixControl FControl;
    bool FLoaded = false;
};

// "yes" or "no".
std::wstring MkYesNo(bool b);

// The configuration summary's text for a start (its command line may be empty).
std::wstring ConfigInfoText(const TLinkState& State, const control::TStartFacts& Start);

// The command text after the forced role and dentist ids are stamped on its first line and
// every line break is removed.
std::wstring StampCommand(const std::wstring& c, const std::wstring& ForceExtRoleID,
                          std::int32_t ForceDentistID);

}  // namespace deruz::link
