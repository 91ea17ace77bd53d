// Finding, starting, connecting to and restarting the imaging application: the work the
// link's initialisation and its command channel hand to this subsystem. Portable logic over
// the services of control_platform.h. The control owns what it finds and makes (the
// instance's window and paths, the connection to its server and the connection's event
// receiver); the link passes its settings with each call and gets back results, and hears
// from the control only what the user and the host are to see (TControlNotices).
//
// Thread-safety: none; everything runs on the host's thread. While it waits for the
// application, the control dispatches that thread's messages, so the host's window
// procedures and the server's events may run inside these calls.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "control/control_platform.h"
#include "control/notices.h"
#include "control/server_connection.h"

namespace deruz::logging {
class TSiSession;
}

namespace deruz::control {

// What a start or a connection needs from the link: its configuration in force, the host's
// window and the library's own path. Passed with each call; the control keeps none of it.
struct TControlSettings {
    std::wstring IniFn;              // the configuration file in force; empty before there is one
    std::wstring OxProgram;          // "oxprogram" as configured, lower-cased; empty: the registry
    std::uint32_t StartUpDelay = 0;  // ms
    bool UseMutex = false;
    bool UsePid = false;
    bool UseMarshalling = false;
    TLinkMode LinkMode = lmNormal;
    TWindowHandle AppPrevWnd = 0;  // the host's window, the server's return window
    std::wstring DllFn;            // the link library's path
};

// What a start resolved, for the configuration summary.
struct TStartFacts {
    std::wstring OxApp;        // the executable
    std::wstring OxDir;        // its working folder
    std::wstring LinkPID;      // the host's process id when UsePid, else empty
    std::wstring CommandLine;  // the start command
};

// The server's answer to a command.
struct TServerAnswer {
    std::int32_t Result = 0;
    std::wstring Text;
};

// What the control tells the link: all of it is for the user or the host to see. Called on
// the host's thread, inside the control's calls or, for the server's events, whenever the
// thread dispatches messages. None of these raises.
class TControlNotices {
  public:
    virtual ~TControlNotices() = default;
    // Shows Text to the user as a notice of kind Kind, if the link's level says so.
    virtual void Notice(TNotice AKind, const std::wstring& AText) = 0;
    // The configuration summary for a start (shown at Debug 1 only).
    virtual void ShowConfigInfo(const TStartFacts& AStart) = 0;
    // The server's wake-up event: the host's window comes to the front.
    virtual void Wakeup() = 0;
    // The server's command-ready event: ResultText is the text the host fetches next.
    virtual void CommandReady(const std::wstring& AResultText) = 0;
};

// What the control keeps between calls: the instance in use and the connection to its server.
struct TControlState {
    std::wstring OxApp;             // the imaging application's executable
    std::wstring OxDir;             // its working folder
    std::wstring LinkPID;           // the host's process id when UsePid, else empty
    std::wstring OxVersion;         // file version of OxApp
    TWindowHandle OxWnd = 0;        // main window of the instance in use
    bool MarshalInterface = false;  // the next connection uses the shared-memory hand-over
    // The event receiver is declared before the connection so that it outlives it: the
    // connection calls it until it is freed.
    std::unique_ptr<TServerEvents> MsgHandler;
    std::unique_ptr<TServerConnection> Ox3;  // live connection; null when not connected
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
    TOndarixControl(const TControlPlatform& APlatform, TControlNotices& ANotices);
    TOndarixControl(const TOndarixControl&) = delete;
    TOndarixControl& operator=(const TOndarixControl&) = delete;

    // The log session of the link that the control writes to (none before it is set).
    void SetLog(logging::TSiSession* ALog);

    // The executable and folder registered for the application's type library, else the
    // defaults.
    void GetOndarixPath(std::wstring& APp, std::wstring& ADir);
    // Sets OxApp and OxDir for a start attempt.
    void ResolveOndarixPaths(const TControlSettings& ASettings);
    // Makes sure an instance runs for this host and OxWnd holds its main window; false when
    // that failed (the reason has been shown). Range errors propagate.
    bool DoStartOndarix(const TControlSettings& ASettings);
    // Connects to the server of the instance in OxWnd; true when a connection exists
    // afterwards, or when the link mode needs none. Failures are shown, never raised.
    bool ConnectOndarix(const TControlSettings& ASettings);
    // Before a command: drops a connection whose server no longer answers, and starts and
    // connects again when there is none, with "oxprogram" read from the configuration
    // again. Range errors of the start propagate.
    void CheckRestartOndarix(const TControlSettings& ASettings);

    bool Connected() const { return FState.Ox3 != nullptr; }
    // Sends a command to the server: its answer, or nothing when there is no connection or
    // the call failed (the failure has been shown). The connection stays either way.
    std::optional<TServerAnswer> Send(const std::wstring& ACommand);
    // Asks the server to end its link session and disconnects, ignoring errors of either;
    // the connection and its event receiver are freed.
    void Close();
    // Lets go of the connection and its receiver without calling the server: at process
    // exit the server may be unreachable, and a call could hang the exit.
    void Abandon();
    // Forgets the paths, process id and version of the last start.
    void Forget();

    const TControlState& State() const { return FState; }

  private:
    // Waits until the started application is ready (its atom, or the fixed delay).
    void WaitUntilReady(const TControlSettings& ASettings);
    void FetchAndConnect(const TControlSettings& ASettings);

    TControlPlatform FPlatform;
    TControlNotices& FNotices;
    logging::TSiSession* FLog = nullptr;
    TControlState FState;
};

}  // namespace deruz::control
