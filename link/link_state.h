// The global link state: one instance per loaded library, read and written by the exports,
// the configuration, the command channel, the event relay and the imaging-application
// control. Everything starts at zero, empty, false or null; the load steps fill in the
// few values marked "set at load".
//
// Thread-safety: none. The host calls every export from the thread that loaded the library
// (COM is initialised for that thread only); re-entry on that thread is refused through
// ExecutingCmd, not through a lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/link_types.h"
#include "systools/strings.h"

namespace deruz::link {

// What the link needs of a live connection to the imaging server. The COM proxy implements
// it; tests use fakes.
class TServerConnection {
  public:
    virtual ~TServerConnection() = default;
    // Asks the imaging application to end its link session.
    virtual void Terminate() = 0;
    // Releases the event connection and the server reference.
    virtual void Disconnect() = 0;
};

struct TLinkState {
    std::unique_ptr<TServerConnection> Ox3;  // live connection; null when not connected
    TProcMsgs2w ProcMsgs2w = nullptr;        // only its presence is used
    std::wstring ReturnText;                 // last result or error text for the host
    std::string ReturnTextAnsi;              // ReturnText as handed to the host
    std::int32_t ForceDentistID = 0;
    std::wstring ForceExtRoleID;
    std::wstring MainIniFn;
    std::wstring IniFn;
    std::wstring OxApp;
    TWindowHandle AppPrevWnd = 0;
    std::int32_t Debug = 0;
    std::uint32_t StartUpDelay = 0;
    std::wstring OxDir;
    std::wstring LinkPID;
    bool UseMutex = false;
    TLinkMode LinkMode = lmNormal;
    bool UsePid = false;
    bool UseMarshalling = false;
    std::unique_ptr<systools::TStringList> UserNames;      // set at load
    std::unique_ptr<systools::TStringList> ComputerNames;  // set at load
    std::unique_ptr<systools::TStringList> ClientNames;    // set at load
    bool DetectOndarix = false;
    bool MarshalInterface = false;
    bool SetActiveWnd = false;
    TWindowHandle OxWnd = 0;
    std::wstring OxVersion;
    std::wstring DllVersion;  // set at load
    bool ExecutingCmd = false;
    std::wstring DllFn;          // set at load
    std::int32_t CoInitOK = -1;  // set at load; negative until COM was initialised
};

}  // namespace deruz::link
