// imaging-sim: the pieces its main program and its COM server share. See README.md.
#pragma once

#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>
#include <windows.h>

#include <string>

#include "server/ox3server.h"

namespace deruz::imagingsim {

// Misbehaviour switches, read once at start from IMAGING_SIM_OPTIONS.
struct TOptions {
    enum class TReady { Normal, None, Delay };
    enum class THandover { Normal, Error, Empty, Garbage, Oversize, Ignore };
    TReady Ready = TReady::Normal;
    DWORD ReadyDelayMs = 0;
    bool NoWindow = false;  // main window of a class the link does not look for
    THandover Handover = THandover::Normal;
    HRESULT HandoverError = E_FAIL;
    bool VersionFails = false;  // Get_Version answers E_FAIL
    std::wstring ExitAfter;     // method name (as logged) after which the program ends
    bool NoRegClass = false;    // no class object, no running object, no class registration
};

const TOptions& Options();

// Appends one line to the file named by IMAGING_SIM_LOG (nothing when it is unset). Line
// breaks inside the text are written as \r and \n so that every record stays on one line.
void LogLine(const std::wstring& ALine);

std::wstring Hex(unsigned long AValue);

// Posted to the main window: fire the event described by the heap string in lParam (owned by
// the receiver) after the call that asked for it has returned.
constexpr UINT WM_SIM_POSTED_EVENT = WM_APP + 1;

// Ends the program soon, from its message loop (after the current call has been answered).
void RequestExit();
// Ends the program as a server does after Terminate: once its last client has unadvised
// (at once when none is advised), or after a short grace period.
void RequestExitAfterClients(bool ANoClientLeft);
bool Terminating();
HWND MainWindow();

// The one server object of this process, created at start and released at exit.
class TSimServer;
TSimServer* CreateSimServer(ITypeInfo* ATypeInfo);
Iox3server* ServerInterface(TSimServer* AServer);
// Fires an event described in the AdminCommand event language ("wakeup", "photo|...", ...).
// Returns false when the description is not understood.
bool FireEventSpec(TSimServer* AServer, const std::wstring& ASpec);
// Drops every advised sink (at exit).
void DropSinks(TSimServer* AServer);
// A class factory that hands out the one server object.
IClassFactory* CreateSimClassFactory(TSimServer* AServer);

}  // namespace deruz::imagingsim
