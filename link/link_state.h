// The link's global state: one instance per loaded library, read and written by the exports,
// the command channel and the relay of the server's events; the configuration in force is
// one value, replaced by each initialisation that resolves it. Everything
// starts at zero, empty, false or null; the load steps fill in the few values marked "set at
// load". What the imaging-application control finds and makes (the instance, its paths, the
// connection) is the control's own.
//
// Thread-safety: none. The host calls every export from the thread that loaded the library
// (COM is initialised for that thread only); re-entry on that thread is refused through
// ExecutingCmd, not through a lock.
#pragma once

#include <cstdint>
#include <string>

#include "link/link_config.h"
#include "link/link_types.h"

namespace deruz::link {

// The library path as the link keeps it (DllFn): at most this many characters.
inline constexpr std::size_t kMaxDllFn = 256;

struct TLinkState {
    TLinkConfig Config;                // the configuration in force
    TProcMsgs2w ProcMsgs2w = nullptr;  // only its presence is used
    std::wstring ReturnText;           // last result or error text for the host
    std::string ReturnTextAnsi;        // ReturnText as handed to the host
    TWindowHandle AppPrevWnd = 0;      // the host's window
    std::wstring DllFn;                // full path of the link library (set at load)
    std::wstring DllVersion;           // set at load
    bool ExecutingCmd = false;
    std::int32_t CoInitOK = -1;  // set at load; negative until COM was initialised
};

}  // namespace deruz::link
