// The link: the global state and the logic behind the eight exported functions, with the
// library's load and unload steps, the command channel, and what the user and the host see
// of the imaging-application control's work (its notices and the server's events). The
// Windows DLL owns one instance and forwards each export to it; tests create their own with
// fake platform services.
//
// Thread-safety: none; see link_state.h. No export method lets an exception escape.
#pragma once

#include <cstdint>
#include <string>

#include "control/ondarix_control.h"
#include "link/link_platform.h"
#include "link/link_state.h"
#include "link/link_types.h"
#include "link/user_messages.h"

namespace deruz::link {

namespace testing {
struct TLinkPeer;  // the native tests' view of the state
}

class TLink final : private control::TControlNotices {
  public:
    explicit TLink(const TLinkPlatform& APlatform);
    ~TLink() override = default;
    TLink(const TLink&) = delete;
    TLink& operator=(const TLink&) = delete;

    // Load steps; run once, on the calling thread, before the first export does anything.
    void Load();
    // Unload steps. `comAllowed` false skips everything that would call COM (the server
    // connection is then abandoned, not terminated): used at process exit.
    void Unload(bool AComAllowed);

    std::int32_t OndaInit(TProcMsgs APm);
    std::int32_t OndaInitI(const char* AIniP, TProcMsgs APm, TWindowHandle APrevWnd);
    std::int32_t OndaInit2W(const char* AIniP, TProcMsgs2w APm, TWindowHandle APrevWnd);
    std::int32_t OndaCommand(const char* AC);
    std::int32_t OndaExit();
    std::int32_t OndaGetVersion();
    const char* OndaGetErrorStr();
    std::int32_t OndaGetErrorStrBuf(char* ABuf, std::int32_t ABufLen);

  private:
    friend struct testing::TLinkPeer;

    // What the control tells the link (control::TControlNotices).
    // Shows a notice if Debug says so: the one place of the Debug rules.
    void Notice(control::TNotice AKind, const std::wstring& AText) override;
    // The configuration summary, shown only when Debug is exactly 1.
    void ShowConfigInfo(const control::TStartFacts& AStart) override;
    void Wakeup() override;
    void CommandReady(const std::wstring& AResultText) override;

    std::int32_t InitI(const char* AIniP, TWindowHandle APrevWnd);
    std::int32_t Command(const char* AC);
    std::int32_t Deliver(std::wstring AS);
    // Puts a command on the clipboard; false when the clipboard could not take it.
    bool SendClip(const std::wstring& AS);
    // Runs the work of an initialisation or a command: an error it raises becomes the result
    // text, an error box and dde_Error. The link's one catch of the exports' errors.
    template <typename TWork>
    std::int32_t Reported(TWork&& AWork);
    // What the control needs for a start or a connection.
    control::TControlSettings ControlSettings() const;
    TUserMessages Messages() const;

    TLinkPlatform FPlatform;
    TLinkState FState;
    control::TOndarixControl FControl;
    bool FLoaded = false;
};

// "yes" or "no".
std::wstring MkYesNo(bool AB);

// The configuration summary's text for a start (its command line may be empty).
std::wstring ConfigInfoText(const TLinkState& AState, const control::TStartFacts& AStart);

// The command text after the forced role and dentist ids are stamped on its first line and
// every line break is removed.
std::wstring StampCommand(const std::wstring& AC, const std::wstring& AForceExtRoleId,
                          std::int32_t AForceDentistId);

}  // namespace deruz::link
