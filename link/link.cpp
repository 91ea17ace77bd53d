#include "link/link.h"

#include <algorithm>
#include <cstring>

#include "link/link_errors.h"
#include "link/link_log.h"
#include "link/wide_text.h"

namespace deruz::link {

namespace {

// Sets ExecutingCmd for the lifetime of an export call and clears it on every way out.
class TExecutingGuard {
  public:
    explicit TExecutingGuard(bool& flag) : FFlag(flag) { FFlag = true; }
    ~TExecutingGuard() { FFlag = false; }
    TExecutingGuard(const TExecutingGuard&) = delete;
    TExecutingGuard& operator=(const TExecutingGuard&) = delete;

  private:
    bool& FFlag;
};

// The library path as the link keeps it: at most 256 characters.
constexpr std::size_t kMaxDllFn = 256;

}  // namespace

std::wstring ExceptionMessage(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const ELinkError& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return WideFromUtf8(e.what());
    } catch (...) {
        return L"Unknown error";
    }
}

std::wstring MkYesNo(bool b) {
    return b ? L"yes" : L"no";
}

TLink::TLink(const TLinkPlatform& platform, TLinkSteps* steps)
    : FPlatform(platform), FSteps(steps) {}

void TLink::Load() {
    if (FLoaded) return;
    FLoaded = true;
    try {
        linklog::Start();
        linklog::Message("OxDde32 logging started");
        linklog::TMethodTrack track("OxDde32 loaded");
        FState.CoInitOK = FPlatform.Com->Initialize();
        FState.DllFn = FPlatform.Module->ModulePath().substr(0, kMaxDllFn);
        FState.DllVersion = FPlatform.Module->FileVersion(FState.DllFn);
        FState.UserNames = std::make_unique<systools::TStringList>();
        FState.ComputerNames = std::make_unique<systools::TStringList>();
        FState.ClientNames = std::make_unique<systools::TStringList>();
    } catch (...) {
        // A failing load step leaves the link usable with what it has: every later step
        // tolerates missing values, and nothing may reach the host's loader.
    }
}

void TLink::Unload(bool comAllowed) {
    if (!FLoaded) return;
    try {
        linklog::Message("Freeing global objects");
    } catch (...) {
    }
    FState.UserNames.reset();
    FState.ComputerNames.reset();
    FState.ClientNames.reset();
    if (comAllowed) {
        OndaExit();
        if (FState.CoInitOK >= 0) {
            try {
                FPlatform.Com->Uninitialize();
            } catch (...) {
            }
        }
    } else {
        // At process exit the server may no longer be reachable and a cross-process call
        // could hang the exit: the connection is abandoned, the imaging application sees
        // its client go away.
        (void)FState.Ox3.release();
    }
    FState.ReturnText.clear();
    FState.ReturnTextAnsi.clear();
    FState.ForceExtRoleID.clear();
    FState.MainIniFn.clear();
    FState.IniFn.clear();
    FState.OxApp.clear();
    FState.OxDir.clear();
    FState.LinkPID.clear();
    FState.OxVersion.clear();
    FState.DllVersion.clear();
    FLoaded = false;
}

std::int32_t TLink::OndaInit(TProcMsgs Pm) {
    try {
        linklog::Message("OndaInit");
        return OndaInitI(nullptr, Pm, FPlatform.Windows->ActiveWindow());
    } catch (...) {
        HandleInitError(ExceptionMessage(std::current_exception()));
        return dde_Error;
    }
}

std::int32_t TLink::OndaInit2W(const char* IniP, TProcMsgs2w Pm, TWindowHandle PrevWnd) {
    try {
        linklog::Message("OndaInit2W");
        FState.ProcMsgs2w = Pm;
        return OndaInitI(IniP, nullptr, PrevWnd);
    } catch (...) {
        HandleInitError(ExceptionMessage(std::current_exception()));
        return dde_Error;
    }
}

std::int32_t TLink::OndaInitI(const char* IniP, TProcMsgs /*Pm*/, TWindowHandle PrevWnd) {
    linklog::Message("OndaInitI");
    if (FState.ExecutingCmd) return dde_Error;
    // The guard covers the whole call, the error box included, so nothing re-enters the
    // link while the user reads the message.
    TExecutingGuard guard(FState.ExecutingCmd);
    try {
        return InitI(IniP, PrevWnd);
    } catch (...) {
        HandleInitError(ExceptionMessage(std::current_exception()));
        return dde_Error;
    }
}

std::int32_t TLink::InitI(const char* /*IniP*/, TWindowHandle PrevWnd) {
    FState.AppPrevWnd = PrevWnd;
    if (FState.Ox3) return dde_Ok;
    if (FSteps == nullptr) return dde_Ok;
    FSteps->ResolveConfiguration(FState);
    if (!FState.DetectOndarix) {
        FSteps->ShowConfigInfo(FState);
        return dde_Ok;
    }
    if (!FSteps->StartOrFind(FState)) return dde_NoConnect;
    return FSteps->Connect(FState) ? dde_Ok : dde_NoConnect;
}

void TLink::HandleInitError(const std::wstring& message) {
    FState.ReturnText = message;
    try {
        ErrMsg(message);
    } catch (...) {
    }
}

std::int32_t TLink::OndaCommand(const char* /*c*/) {
    linklog::TMethodTrack track("OndaCommand");
    if (FState.ExecutingCmd) return dde_Error;
    TExecutingGuard guard(FState.ExecutingCmd);
    FState.ReturnText.clear();
    // Delivery needs a live server connection; without one the command fails.
    return dde_Error;
}

std::int32_t TLink::OndaExit() {
    linklog::TMethodTrack track("OndaExit");
    if (FState.ExecutingCmd) return dde_Ok;
    TExecutingGuard guard(FState.ExecutingCmd);
    if (!FState.Ox3) return dde_Ok;
    try {
        if (FState.Debug >= 1) Msg(L"Closing connection with Ondarix");
    } catch (...) {
    }
    try {
        FState.Ox3->Terminate();
    } catch (...) {
    }
    try {
        FState.Ox3->Disconnect();
    } catch (...) {
    }
    FState.Ox3.reset();
    return dde_Ok;
}

std::int32_t TLink::OndaGetVersion() {
    linklog::Message("OndaGetVersion");
    return DefDrvVersion;
}

const char* TLink::OndaGetErrorStr() {
    linklog::Message("OndaGetErrorStr");
    FState.ReturnTextAnsi = FPlatform.Ansi->FromWide(FState.ReturnText);
    return FState.ReturnTextAnsi.c_str();
}

std::int32_t TLink::OndaGetErrorStrBuf(char* Buf, std::int32_t BufLen) {
    linklog::Message("OndaGetErrorStrBuf");
    FState.ReturnTextAnsi = FPlatform.Ansi->FromWide(FState.ReturnText);
    // A null buffer cannot take even the terminating zero: nothing is written.
    if (Buf == nullptr) return 0;
    const std::size_t count =
        BufLen <= 0 ? 0 : std::min(static_cast<std::size_t>(BufLen), FState.ReturnTextAnsi.size());
    std::memcpy(Buf, FState.ReturnTextAnsi.data(), count);
    Buf[count] = '\0';
    return static_cast<std::int32_t>(std::strlen(Buf));
}

std::wstring TLink::BoxText(const std::wstring& Msg) const {
    return L"Link-DLL: " + LowerCase(FState.DllFn.substr(0, kMaxDllFn)) + L" [" +
           FState.DllVersion + L"]\r\n\r\n" + Msg;
}

void TLink::ErrMsg(const std::wstring& Msg) {
    linklog::Message("ErrMsg: " + Utf8FromWide(Msg));
    FPlatform.Boxes->Show(kBoxCaption, BoxText(Msg), kErrorBoxStyle);
}

void TLink::Msg(const std::wstring& Msg) {
    linklog::Message("Msg: " + Utf8FromWide(Msg));
    FPlatform.Boxes->Show(kBoxCaption, BoxText(Msg), kInfoBoxStyle);
}

}  // namespace deruz::link
