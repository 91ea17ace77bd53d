// The eight exported functions. Each goes through Export, which runs the load steps if they
// have not run yet and forwards to the link; nothing escapes into the host: an unexpected
// error gives the function's failure result.
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
using deruz::link::TLink;
using deruz::link::TProcMsgs;
using deruz::link::TProcMsgs2w;
using deruz::link::TWindowHandle;

namespace {

enum class TThreads { LinkOnly, Any };

// The one way into the link from the host: runs the load steps if they have not run yet and
// forwards the call; a call from another thread than the link's (unless Threads is Any), and
// anything raised on the way, get the export's refusal instead. Nothing reaches the host.
template <typename TRefused, typename TCall>
auto Export(const char* AName, TThreads AThreads, TRefused&& ARefused, TCall&& ACall) noexcept
    -> decltype(ARefused()) {
    try {
        TLink& LLink = LoadedLink();
        if (AThreads == TThreads::Any || deruz::link::OnLinkThread()) return ACall(LLink);
        deruz::link::linklog::Message(std::string(AName) + " refused: called from another thread");
    } catch (...) {
    }
    return ARefused();
}

std::int32_t Error() {
    return dde_Error;
}

}  // namespace

extern "C" {

std::int32_t WINAPI OndaInit(TProcMsgs APm) {
    return Export("OndaInit", TThreads::LinkOnly, Error,
                  [&](TLink& ALink) { return ALink.OndaInit(APm); });
}

std::int32_t WINAPI OndaInitI(const char* AIniP, TProcMsgs APm, HWND APrevWnd) {
    return Export("OndaInitI", TThreads::LinkOnly, Error, [&](TLink& ALink) {
        return ALink.OndaInitI(AIniP, APm, reinterpret_cast<TWindowHandle>(APrevWnd));
    });
}

std::int32_t WINAPI OndaInit2W(const char* AIniP, TProcMsgs2w APm, HWND APrevWnd) {
    return Export("OndaInit2W", TThreads::LinkOnly, Error, [&](TLink& ALink) {
        return ALink.OndaInit2W(AIniP, APm, reinterpret_cast<TWindowHandle>(APrevWnd));
    });
}

std::int32_t WINAPI OndaCommand(const char* AC) {
    return Export("OndaCommand", TThreads::LinkOnly, Error,
                  [&](TLink& ALink) { return ALink.OndaCommand(AC); });
}

std::int32_t WINAPI OndaExit() {
    return Export(
        "OndaExit", TThreads::LinkOnly, [] { return dde_Ok; },
        [](TLink& ALink) { return ALink.OndaExit(); });
}

std::int32_t WINAPI OndaGetVersion() {
    return Export(
        "OndaGetVersion", TThreads::Any, [] { return deruz::link::DefDrvVersion; },
        [](TLink& ALink) { return ALink.OndaGetVersion(); });
}

const char* WINAPI OndaGetErrorStr() {
    return Export(
        "OndaGetErrorStr", TThreads::LinkOnly, [] { return ""; },
        [](TLink& ALink) { return ALink.OndaGetErrorStr(); });
}

std::int32_t WINAPI OndaGetErrorStrBuf(char* ABuf, std::int32_t ABufLen) {
    const auto LEmpty = [ABuf] {
        if (ABuf != nullptr) *ABuf = '\0';
        return std::int32_t{0};
    };
    return Export("OndaGetErrorStrBuf", TThreads::LinkOnly, LEmpty,
                  [&](TLink& ALink) { return ALink.OndaGetErrorStrBuf(ABuf, ABufLen); });
}

}  // extern "C"
