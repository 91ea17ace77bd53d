// The part of the link's global state that the imaging-application control reads and
// writes: the paths and settings it starts the application with, the instance it found, and
// the live server connection with its event receiver. The link's state extends it.
//
// Thread-safety: none. Everything runs on the host's thread that loaded the library.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "control/control_types.h"
#include "control/server_connection.h"

namespace deruz::control {

struct TControlState {
    // The event receiver is declared before the connection so that it outlives it: the
    // connection calls it until it is freed.
    std::unique_ptr<TServerEvents> MsgHandler;
    std::unique_ptr<TServerConnection> Ox3;  // live connection; null when not connected
    std::wstring IniFn;                      // configuration file in force
    std::wstring OxApp;                      // the imaging application's executable
    std::wstring OxDir;                      // its working folder
    std::wstring LinkPID;                    // the host's process id when UsePid, else empty
    std::wstring OxVersion;                  // file version of OxApp
    std::wstring DllFn;                      // full path of the link library (set at load)
    TWindowHandle AppPrevWnd = 0;            // the host's window
    TWindowHandle OxWnd = 0;                 // main window of the instance in use
    std::uint32_t StartUpDelay = 0;          // ms
    bool UseMutex = false;
    bool UsePid = false;
    bool UseMarshalling = false;
    bool MarshalInterface = false;  // the next connection uses the shared-memory hand-over
    TLinkMode LinkMode = lmNormal;
};

}  // namespace deruz::control
