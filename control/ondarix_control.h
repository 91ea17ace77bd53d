// Finding, starting, connecting to and restarting the imaging application: the work the
// link's initialisation and its command channel hand to this subsystem. Portable logic over
// the services of control_platform.h; the link supplies the state, its user messages and
// its event receiver.
//
// Thread-safety: none; everything runs on the host's thread. While it waits for the
// application, the control dispatches that thread's messages, so the host's window
// procedures and the server's events may run inside these calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "control/control_platform.h"
#include "control/control_state.h"
#include "control/notices.h"

namespace deruz::logging {
class TSiSession;
}

namespace deruz::control {

// What the control needs of the link around it.
class TControlHost {
  public:
    virtual ~TControlHost() = default;
    // Shows Text to the user as a notice of kind Kind, if the link's level says so. Never
    // raises.
    virtual void Notice(TNotice Kind, const std::wstring& Text) = 0;
    // The configuration summary with the start command line (shown only at Debug 1).
    virtual void ShowConfigInfo(const std::wstring& OxCmdLine) = 0;
    // The server's wake-up event: the host's window comes to the front.
    virtual void Wakeup() = 0;
    // The server's command-ready event: ResultText is the text the host fetches next.
    virtual void CommandReady(const std::wstring& ResultText) = 0;
};

// Fixed waits, the version from which the application hands over its server through shared
// memory, the hand-over message and the shared-memory block.
inline constexpr std::uint32_t WaitTime = 30000;         // ms
inline constexpr std::uint32_t ReadyPollInterval = 100;  // ms
inline constexpr wchar_t MarshalVersion[] = L"3.0.1.582";
inline constexpr std::uint32_t WM_GETOX3SERVER = 0x8007;
inline constexpr std::uint32_t SharedBlockSize = 5000;
inline constexpr wchar_t DefaultOxApp[] = L"C:\\Ondarix\\Ondarix.exe";
inline constexpr wchar_t DefaultOxDir[] = L"C:\\Ondarix";
inline constexpr wchar_t OxTypeLibKey[] =
    L"TypeLib\\{56D73100-E9A8-108B-A830-CD14D0517F8A}\\1.0\\0\\win32";
inline constexpr wchar_t OxParametersKey[] = L"SoftWare\\Belvanor\\Ondarix\\Parameters";

class TOndarixControl {
  public:
    TOndarixControl(TControlState& State, const TControlPlatform& Platform, TControlHost& Host);

    // The log session of the link that the control writes to (none before it is set).
    void SetLog(logging::TSiSession* Log);

    // The executable and folder registered for the application's type library, else the
    // defaults.
    void GetOndarixPath(std::wstring& App, std::wstring& Dir);
    // Leaves OxApp and OxDir set for a start attempt.
    void ResolveOndarixPaths();
    // Makes sure an instance runs for this host and OxWnd holds its main window; false when
    // that failed (the reason has been shown). Range errors propagate.
    bool DoStartOndarix();
    // Connects to the server of the instance in OxWnd; true when a connection exists
    // afterwards, or when the link mode needs none. Failures are shown, never raised.
    bool ConnectOndarix();
    // Before a command: drops a connection whose server no longer answers, and starts and
    // connects again when there is none, with the executable read from the configuration
    // again.
    void CheckRestartOndarix();

  private:
    // Waits until the started application is ready (its atom, or the fixed delay).
    void WaitUntilReady();
    void FetchAndConnect();

    TControlState& FState;
    TControlPlatform FPlatform;
    TControlHost& FHost;
    logging::TSiSession* FLog = nullptr;
};

}  // namespace deruz::control
