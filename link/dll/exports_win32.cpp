// The eight exported functions. Each runs the load steps if they have not run yet and
// forwards to the link; nothing escapes into the host: an unexpected error gives the
// function's failure result.
#include <cstdint>

#include "link/dll/dll_module_win32.h"
#include "link/win32_api.h"

using deruz::link::dde_Error;
using deruz::link::dde_Ok;
using deruz::link::LoadedLink;
using deruz::link::TProcMsgs;
using deruz::link::TProcMsgs2w;
using deruz::link::TWindowHandle;

extern "C" {

std::int32_t WINAPI OndaInit(TProcMsgs Pm) {
    try {
        return LoadedLink().OndaInit(Pm);
    } catch (...) {
        return dde_Error;
    }
}

std::int32_t WINAPI OndaInitI(const char* IniP, TProcMsgs Pm, HWND PrevWnd) {
    try {
        return LoadedLink().OndaInitI(IniP, Pm, reinterpret_cast<TWindowHandle>(PrevWnd));
    } catch (...) {
        return dde_Error;
    }
}

std::int32_t WINAPI OndaInit2W(const char* IniP, TProcMsgs2w Pm, HWND PrevWnd) {
    try {
        return LoadedLink().OndaInit2W(IniP, Pm, reinterpret_cast<TWindowHandle>(PrevWnd));
    } catch (...) {
        return dde_Error;
    }
}

std::int32_t WINAPI OndaCommand(const char* c) {
    try {
        return LoadedLink().OndaCommand(c);
    } catch (...) {
        return dde_Error;
    }
}

std::int32_t WINAPI OndaExit() {
    try {
        return LoadedLink().OndaExit();
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
        return LoadedLink().OndaGetErrorStr();
    } catch (...) {
        return "";
    }
}

std::int32_t WINAPI OndaGetErrorStrBuf(char* Buf, std::int32_t BufLen) {
    try {
        return LoadedLink().OndaGetErrorStrBuf(Buf, BufLen);
    } catch (...) {
        if (Buf != nullptr) *Buf = '\0';
        return 0;
    }
}

}  // extern "C"
