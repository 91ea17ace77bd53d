// The process's default logger core `Si` and its default session `SiMain` ("Main").
//
// They exist before anything logs: the first use creates them (from any thread, once), with
// the application name taken from the executable's file name and the connections
// "pipe(reconnect=true, reconnect.interval=1s)"; the core starts disabled. At process exit
// (or when the library holding them is unloaded) the core is torn down: its protocols are
// disconnected and freed, then its sessions. A log call that comes later still (from
// another static destructor) reaches a disabled stand-in instead of a destroyed object.
// In a Windows DLL, `Si` must not be given asynchronous protocols: torn down by the DLL's
// unload, it would wait for its workers, which cannot end while the loader holds the unloading
// thread (logging/README.md, "A library in a Windows DLL").
//
// Use: Si->SetEnabled(true); SiMain->LogMessage("...");
#pragma once

#include "logging/core/logger.h"
#include "logging/core/session.h"

namespace deruz::logging {

struct TSiAutoLogger {
    TSiLogger* operator->() const;
    TSiLogger& operator*() const { return *operator->(); }
};

struct TSiAutoSession {
    TSiSession* operator->() const;
    TSiSession& operator*() const { return *operator->(); }
};

inline constexpr TSiAutoLogger Si{};
inline constexpr TSiAutoSession SiMain{};

}  // namespace deruz::logging
