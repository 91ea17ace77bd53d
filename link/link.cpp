#include "link/link.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "link/link_config.h"
#include "link/link_errors.h"
#include "link/link_log.h"
#include "systools/wide_text.h"

namespace deruz::link {

using systools::LowerCase;

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

}  // namespace

std::wstring MkYesNo(bool b) {
    return b ? L"yes" : L"no";
}

TLink::TLink(const TLinkPlatform& Platform)
    : FPlatform(Platform), FControl(FPlatform.Control, *this) {}

control::TControlSettings TLink::ControlSettings() const {
    control::TControlSettings settings;
    settings.IniFn = FState.Config.IniFn;
    settings.OxProgram = FState.Config.OxApp;
    settings.StartUpDelay = FState.Config.StartUpDelay;
    settings.UseMutex = FState.Config.UseMutex;
    settings.UsePid = FState.Config.UsePid;
    settings.UseMarshalling = FState.Config.UseMarshalling;
    settings.LinkMode = FState.Config.LinkMode;
    settings.AppPrevWnd = FState.AppPrevWnd;
    settings.DllFn = FState.DllFn;
    return settings;
}

void TLink::Load() {
    if (FLoaded) return;
    FLoaded = true;
    try {
        linklog::Start();
        FControl.SetLog(linklog::SiLog());
        linklog::Message("OxDde32 logging started");
        linklog::TMethodTrack track("OxDde32 loaded");
        FState.CoInitOK = FPlatform.Com->Initialize();
        FState.DllFn = FPlatform.Module->ModulePath().substr(0, kMaxDllFn);
        FState.DllVersion = FPlatform.Module->FileVersion(FState.DllFn);
    } catch (...) {
        // A failing load step leaves the link usable with what it has: every later step
        // tolerates missing values, and nothing may reach the host's loader.
    }
}

void TLink::Unload(bool comAllowed) {
    if (!FLoaded) return;
    linklog::Message("Freeing global objects");
    FState.Config.UserNames.Clear();
    FState.Config.ComputerNames.Clear();
    FState.Config.ClientNames.Clear();
    if (comAllowed) {
        OndaExit();
        if (FState.CoInitOK >= 0) FPlatform.Com->Uninitialize();
    } else {
        // At process exit the server may no longer be reachable and a cross-process call
        // could hang the exit: the connection is abandoned, the imaging application sees
        // its client go away.
        FControl.Abandon();
    }
    FState.ReturnText.clear();
    FState.ReturnTextAnsi.clear();
    FState.Config.ForceExtRoleID.clear();
    FState.Config.MainIniFn.clear();
    FState.Config.IniFn.clear();
    FState.Config.OxApp.clear();
    FControl.Forget();
    FState.DllVersion.clear();
    FLoaded = false;
}

template <typename TWork>
std::int32_t TLink::Reported(TWork&& Work) {
    try {
        return Work();
    } catch (...) {
        FState.ReturnText = ExceptionMessage(std::current_exception());
        Notice(control::TNotice::Error, FState.ReturnText);
        return dde_Error;
    }
}

std::int32_t TLink::OndaInit(TProcMsgs Pm) {
    linklog::Message("OndaInit");
    return Reported([&] { return OndaInitI(nullptr, Pm, FPlatform.Windows->ActiveWindow()); });
}

std::int32_t TLink::OndaInit2W(const char* IniP, TProcMsgs2w Pm, TWindowHandle PrevWnd) {
    linklog::Message("OndaInit2W");
    // A refused (re-entrant) call changes nothing, not even the stored procedure.
    if (FState.ExecutingCmd) return dde_Error;
    FState.ProcMsgs2w = Pm;
    return OndaInitI(IniP, nullptr, PrevWnd);
}

std::int32_t TLink::OndaInitI(const char* IniP, TProcMsgs /*Pm*/, TWindowHandle PrevWnd) {
    linklog::Message("OndaInitI");
    if (FState.ExecutingCmd) return dde_Error;
    // The guard covers the whole call, the error box included, so nothing re-enters the
    // link while the user reads the message.
    TExecutingGuard guard(FState.ExecutingCmd);
    return Reported([&] { return InitI(IniP, PrevWnd); });
}

std::int32_t TLink::InitI(const char* IniP, TWindowHandle PrevWnd) {
    FState.AppPrevWnd = PrevWnd;
    if (FControl.Connected()) return dde_Ok;
    FState.Config = ResolveConfiguration(FPlatform.Ansi->ToWide(IniP), FState.DllFn, FState.Config,
                                         FPlatform.Control, Messages());
    if (!FState.Config.DetectOndarix) {
        // No start: the summary shows the configured program and what the last start left.
        const control::TControlState& control = FControl.State();
        ShowConfigInfo({FState.Config.OxApp, control.OxDir, control.LinkPID, L""});
        return dde_Ok;
    }
    const control::TControlSettings settings = ControlSettings();
    if (!FControl.DoStartOndarix(settings)) return dde_NoConnect;
    return FControl.ConnectOndarix(settings) ? dde_Ok : dde_NoConnect;
}

std::int32_t TLink::OndaCommand(const char* c) {
    linklog::TMethodTrack track("OndaCommand");
    if (FState.ExecutingCmd) return dde_Error;
    TExecutingGuard guard(FState.ExecutingCmd);
    // An error outside the server call (the restart check's range errors, an unreadable
    // registry value) is reported as the initialisation reports its errors.
    return Reported([&] { return Command(c); });
}

std::wstring StampCommand(const std::wstring& c, const std::wstring& ForceExtRoleID,
                          std::int32_t ForceDentistID) {
    std::wstring s;
    if (ForceDentistID != 0 || !ForceExtRoleID.empty()) {
        // Lines end at CR, LF or CR LF; only the first is stamped.
        std::vector<std::wstring> lines;
        std::size_t i = 0;
        while (i < c.size()) {
            const std::size_t end = c.find_first_of(L"\r\n", i);
            if (end == std::wstring::npos) {
                lines.push_back(c.substr(i));
                break;
            }
            lines.push_back(c.substr(i, end - i));
            i = end + 1;
            if (c[end] == L'\r' && i < c.size() && c[i] == L'\n') ++i;
        }
        if (!lines.empty()) {
            if (!ForceExtRoleID.empty()) lines[0] += L"|40~" + ForceExtRoleID;
            if (ForceDentistID != 0) lines[0] += L"|50~" + std::to_wstring(ForceDentistID);
        }
        for (const auto& line : lines) s += line + L"\r\n";
    } else {
        s = c;
    }
    std::erase(s, L'\r');
    std::erase(s, L'\n');
    return s;
}

std::int32_t TLink::Command(const char* c) {
    FState.ReturnText.clear();
    std::wstring s = StampCommand(FPlatform.Ansi->ToWide(c), FState.Config.ForceExtRoleID,
                                  FState.Config.ForceDentistID);
    FControl.CheckRestartOndarix(ControlSettings());
    return Deliver(std::move(s));
}

std::int32_t TLink::Deliver(std::wstring s) {
    switch (FState.Config.LinkMode) {
        case lmNormal: {
            const auto answer = FControl.Send(s);
            if (!answer) return dde_Error;
            FState.ReturnText = answer->Text;
            return answer->Result;
        }
        case lmClipboard: {
            const bool setsReturnWnd = LowerCase(s).find(L"setreturnwnd") != std::wstring::npos;
            if (FPlatform.Control.System->IsRemoteSession() && setsReturnWnd) {
                FState.ReturnText.clear();
                return dde_Ok;
            }
            if (FState.Config.SetActiveWnd && !setsReturnWnd) {
                if (FState.AppPrevWnd == 0) FState.AppPrevWnd = FPlatform.Windows->ActiveWindow();
                s = L"%OXCMD%=setreturnwnd|11~" +
                    std::to_wstring(static_cast<std::int64_t>(FState.AppPrevWnd)) + L"\r\n" + s;
            }
            Notice(control::TNotice::Detail, L"Sending clipboard to Ondarix:\r\n\r\n" + s);
            if (SendClip(s)) {
                FState.ReturnText.clear();
                return dde_Ok;
            }
            FState.ReturnText = L"Clipboard could not be opened.";
            return dde_Error;
        }
        default:
            FState.ReturnText =
                L"Invalid linkmode " + std::to_wstring(static_cast<int>(FState.Config.LinkMode));
            return dde_Error;
    }
}

bool TLink::SendClip(const std::wstring& s) {
    linklog::Message("SendClip");
    try {
        return FPlatform.Clipboard->SetText(s);
    } catch (...) {
        return false;
    }
}

std::int32_t TLink::OndaExit() {
    linklog::TMethodTrack track("OndaExit");
    if (FState.ExecutingCmd) return dde_Ok;
    TExecutingGuard guard(FState.ExecutingCmd);
    if (!FControl.Connected()) return dde_Ok;
    Notice(control::TNotice::Info, L"Closing connection with Ondarix");
    FControl.Close();
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

void TLink::Notice(control::TNotice Kind, const std::wstring& Text) {
    if (!control::NoticeShown(Kind, FState.Config.Debug, FState.ProcMsgs2w != nullptr)) return;
    if (Kind == control::TNotice::Error) {
        Messages().ErrMsg(Text);
    } else {
        Messages().Msg(Text);
    }
}

TUserMessages TLink::Messages() const {
    return TUserMessages(*FPlatform.Boxes, FState.DllFn, FState.DllVersion);
}

void TLink::ShowConfigInfo(const control::TStartFacts& Start) {
    Notice(control::TNotice::Detail, ConfigInfoText(FState, Start));
}

void TLink::Wakeup() {
    if (FState.AppPrevWnd != 0) FPlatform.Windows->SetForegroundWindow(FState.AppPrevWnd);
}

void TLink::CommandReady(const std::wstring& ResultText) {
    FState.ReturnText = ResultText;
}

std::wstring ConfigInfoText(const TLinkState& State, const control::TStartFacts& Start) {
    auto entries = [](const systools::TStringList& list) {
        std::wstring text;
        for (int i = 0; i < list.Count(); ++i) text += list[i] + L"\r\n";
        return text;
    };
    std::wstring mode;
    switch (State.Config.LinkMode) {
        case lmNormal:
            mode = L"Normal";
            break;
        case lmClipboard:
            mode = L"Clipboard";
            break;
        case lmMsVirtualChannel:
            mode = L"Microsoft Virtual Channel";
            break;
        default:
            mode = std::to_wstring(static_cast<int>(State.Config.LinkMode));
            break;
    }
    wchar_t wnd[32];
    std::swprintf(wnd, 32, L"%.8llX", static_cast<unsigned long long>(State.AppPrevWnd));

    std::vector<std::wstring> lines;
    lines.push_back(L"Inifile: " + State.Config.IniFn);
    lines.push_back(L"Program name: " + Start.OxApp);
    lines.push_back(L"Working dir: " + Start.OxDir);
    if (!Start.CommandLine.empty()) lines.push_back(L"Start command: " + Start.CommandLine);
    lines.push_back(L"Wait Time: " + std::to_wstring(control::WaitTime) + L" ms");
    lines.push_back(L"Startup delay: " + std::to_wstring(State.Config.StartUpDelay) + L" ms");
    lines.push_back(std::wstring(L"AppWnd: ") + wnd);
    lines.push_back(L"Use Mutex: " + MkYesNo(State.Config.UseMutex));
    lines.push_back(L"Link mode: " + mode);
    lines.push_back(L"Use PID: " + MkYesNo(!Start.LinkPID.empty()) + L" (PID=" + Start.LinkPID +
                    L")");
    lines.push_back(L"DetectOndarix: " + MkYesNo(State.Config.DetectOndarix));
    lines.push_back(L"Seperate user profiles: " + entries(State.Config.UserNames));
    lines.push_back(L"Seperate computer profiles: " + entries(State.Config.ComputerNames));
    lines.push_back(L"Seperate client profiles: " + entries(State.Config.ClientNames));
    std::wstring text;
    for (std::size_t i = 0; i < lines.size(); ++i) text += (i ? L"\r\n" : L"") + lines[i];
    return text;
}

}  // namespace deruz::link
