// The eight exported functions. Each runs the load steps if they have not run yet and
// forwards to the link; nothing escapes into the host: an unexpected error gives the
// function's failure result.
//
// The link belongs to the thread that ran the load steps: COM is initialised for that
// thread, the connection to the imaging server lives in its apartment, and the link's state
// has no lock (re-entry on that thread is refused through ExecutingCmd). A call from any
// other thread is answered as a refused re-entrant call is, without touching the state: the
// initialisations and the command fail, ONDA_EXIT closes nothing, the version is served,
// and the error-text exports give an empty text. Served, such a call would race with the
// link's thread, and a command would probe the server from the wrong apartment, take the
// failed probe for a lost connection and drop the link's working one.
#include <cstdint>
#include <string>

#include "link/dll/dll_module_win32.h"
#include "link/link_log.h"
#include "link/win32_api.h"

using deruz::link::dde_Error;
using deruz::link::dde_Ok;
using deruz::link::LoadedLink;
using deruz::link::TProcMsgs;
using deruz::link::TProcMsgs2w;
using deruz::link::TWindowHandle;

namespace {

// The link instance for a call from the link's thread; null (the call logged as refused)
// for a call from any other thread.
deruz::link::TLink* LinkForThisThread(const char* name) {
    deruz::link::TLink& link = LoadedLink();
    if (deruz::link::OnLinkThread()) return &link;
    deruz::link::linklog::Message(std::string(name) + " refused: called from another thread");
    return nullptr;
}

}  // namespace

extern "C" {

std::int32_t WINAPI OndaInit(TProcMsgs Pm) {
    try {
        auto* link = LinkForThisThread("OndaInit");
        return link != nullptr ? link->OndaInit(Pm) : dde_Error;
    } catch (...) {
        return dde_Error;
    }
}

std::int32_t WINAPI OndaInitI(const char* IniP, TProcMsgs Pm, HWND PrevWnd) {
    try {
        auto* link = LinkForThisThread("OndaInitI");
        return link != nullptr ? link->OndaInitI(IniP, Pm, reinterpret_cast<TWindowHandle>(PrevWnd))
                               : dde_Error;
    } catch (...) {
        return dde_Error;
    }
}

std::int32_t WINAPI OndaInit2W(const char* IniP, TProcMsgs2w Pm, HWND PrevWnd) {
    try {
        auto* link = LinkForThisThread("OndaInit2W");
        return link != nullptr
                   ? link->OndaInit2W(IniP, Pm, reinterpret_cast<TWindowHandle>(PrevWnd))
                   : dde_Error;
    } catch (...) {
        return dde_Error;
    }
}

std::int32_t WINAPI OndaCommand(const char* c) {
    try {
        auto* link = LinkForThisThread("OndaCommand");
        return link != nullptr ? link->OndaCommand(c) : dde_Error;
    } catch (...) {
        return dde_Error;
    }
}

std::int32_t WINAPI OndaExit() {
    try {
        auto* link = LinkForThisThread("OndaExit");
        return link != nullptr ? link->OndaExit() : dde_Ok;
    } catch (...) {
        return dde_Ok;
    }
}

std::int32_t WINAPI OndaGetVersion() {
    try {
        return LoadedLink().OndaGetVersion();
    } catch (...) {
        return deruz::link::DefDrvVersion;
    }
}

const char* WINAPI OndaGetErrorStr() {
    try {
        auto* link = LinkForThisThread("OndaGetErrorStr");
        return link != nullptr ? link->OndaGetErrorStr() : "";
    } catch (...) {
        return "";
    }
}

std::int32_t WINAPI OndaGetErrorStrBuf(char* Buf, std::int32_t BufLen) {
    try {
        if (auto* link = LinkForThisThread("OndaGetErrorStrBuf")) {
            return link->OndaGetErrorStrBuf(Buf, BufLen);
        }
        if (Buf != nullptr) *Buf = '\0';
        return 0;
    } catch (...) {
        if (Buf != nullptr) *Buf = '\0';
        return 0;
    }
}

}  // extern "C"
