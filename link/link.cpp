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
    explicit TExecutingGuard(bool& AFlag) : FFlag(AFlag) { FFlag = true; }
    ~TExecutingGuard() { FFlag = false; }
    TExecutingGuard(const TExecutingGuard&) = delete;
    TExecutingGuard& operator=(const TExecutingGuard&) = delete;

  private:
    bool& FFlag;
};

}  // namespace

std::wstring MkYesNo(bool AB) {
    return AB ? L"yes" : L"no";
}

TLink::TLink(const TLinkPlatform& APlatform)
    : FPlatform(APlatform), FControl(FPlatform.Control, *this) {}

control::TControlSettings TLink::ControlSettings() const {
    control::TControlSettings LSettings;
    LSettings.IniFn = FState.Config.IniFn;
    LSettings.OxProgram = FState.Config.OxApp;
    LSettings.StartUpDelay = FState.Config.StartUpDelay;
    LSettings.UseMutex = FState.Config.UseMutex;
    LSettings.UsePid = FState.Config.UsePid;
    LSettings.UseMarshalling = FState.Config.UseMarshalling;
    LSettings.LinkMode = FState.Config.LinkMode;
    LSettings.AppPrevWnd = FState.AppPrevWnd;
    LSettings.DllFn = FState.DllFn;
    return LSettings;
}

void TLink::Load() {
    if (FLoaded) return;
    FLoaded = true;
    try {
        linklog::Start();
        FControl.SetLog(linklog::SiLog());
        linklog::Message("OxDde32 logging started");
        linklog::TMethodTrack LTrack("OxDde32 loaded");
        FState.CoInitOK = FPlatform.Com->Initialize();
        FState.DllFn = FPlatform.Module->ModulePath().substr(0, kMaxDllFn);
        FState.DllVersion = FPlatform.Module->FileVersion(FState.DllFn);
    } catch (...) {
        // A failing load step leaves the link usable with what it has: every later step
        // tolerates missing values, and nothing may reach the host's loader.
    }
}

void TLink::Unload(bool AComAllowed) {
    if (!FLoaded) return;
    linklog::Message("Freeing global objects");
    FState.Config.UserNames.Clear();
    FState.Config.ComputerNames.Clear();
    FState.Config.ClientNames.Clear();
    if (AComAllowed) {
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
std::int32_t TLink::Reported(TWork&& AWork) {
    try {
        return AWork();
    } catch (...) {
        FState.ReturnText = ExceptionMessage(std::current_exception());
        Notice(control::TNotice::Error, FState.ReturnText);
        return dde_Error;
    }
}

std::int32_t TLink::OndaInit(TProcMsgs APm) {
    linklog::Message("OndaInit");
    return Reported([&] { return OndaInitI(nullptr, APm, FPlatform.Windows->ActiveWindow()); });
}

std::int32_t TLink::OndaInit2W(const char* AIniP, TProcMsgs2w APm, TWindowHandle APrevWnd) {
    linklog::Message("OndaInit2W");
    // A refused (re-entrant) call changes nothing, not even the stored procedure.
    if (FState.ExecutingCmd) return dde_Error;
    FState.ProcMsgs2w = APm;
    return OndaInitI(AIniP, nullptr, APrevWnd);
}

std::int32_t TLink::OndaInitI(const char* AIniP, TProcMsgs /*Pm*/, TWindowHandle APrevWnd) {
    linklog::Message("OndaInitI");
    if (FState.ExecutingCmd) return dde_Error;
    // The guard covers the whole call, the error box included, so nothing re-enters the
    // link while the user reads the message.
    TExecutingGuard LGuard(FState.ExecutingCmd);
    return Reported([&] { return InitI(AIniP, APrevWnd); });
}

std::int32_t TLink::InitI(const char* AIniP, TWindowHandle APrevWnd) {
    FState.AppPrevWnd = APrevWnd;
    if (FControl.Connected()) return dde_Ok;
    FState.Config = ResolveConfiguration(FPlatform.Ansi->ToWide(AIniP), FState.DllFn, FState.Config,
                                         FPlatform.Control, Messages());
    if (!FState.Config.DetectOndarix) {
        // No start: the summary shows the configured program and what the last start left.
        const control::TControlState& LControl = FControl.State();
        ShowConfigInfo({FState.Config.OxApp, LControl.OxDir, LControl.LinkPID, L""});
        return dde_Ok;
    }
    const control::TControlSettings LSettings = ControlSettings();
    if (!FControl.DoStartOndarix(LSettings)) return dde_NoConnect;
    return FControl.ConnectOndarix(LSettings) ? dde_Ok : dde_NoConnect;
}

std::int32_t TLink::OndaCommand(const char* AC) {
    linklog::TMethodTrack LTrack("OndaCommand");
    if (FState.ExecutingCmd) return dde_Error;
    TExecutingGuard LGuard(FState.ExecutingCmd);
    // An error outside the server call (the restart check's range errors, an unreadable
    // registry value) is reported as the initialisation reports its errors.
    return Reported([&] { return Command(AC); });
}

std::wstring StampCommand(const std::wstring& AC, const std::wstring& AForceExtRoleId,
                          std::int32_t AForceDentistId) {
    std::wstring LS;
    if (AForceDentistId != 0 || !AForceExtRoleId.empty()) {
        // Lines end at CR, LF or CR LF; only the first is stamped.
        std::vector<std::wstring> LLines;
        std::size_t LI = 0;
        while (LI < AC.size()) {
            const std::size_t LEnd = AC.find_first_of(L"\r\n", LI);
            if (LEnd == std::wstring::npos) {
                LLines.push_back(AC.substr(LI));
                break;
            }
            LLines.push_back(AC.substr(LI, LEnd - LI));
            LI = LEnd + 1;
            if (AC[LEnd] == L'\r' && LI < AC.size() && AC[LI] == L'\n') ++LI;
        }
        if (!LLines.empty()) {
            if (!AForceExtRoleId.empty()) LLines[0] += L"|40~" + AForceExtRoleId;
            if (AForceDentistId != 0) LLines[0] += L"|50~" + std::to_wstring(AForceDentistId);
        }
        for (const auto& LLine : LLines) LS += LLine + L"\r\n";
    } else {
        LS = AC;
    }
    std::erase(LS, L'\r');
    std::erase(LS, L'\n');
    return LS;
}

std::int32_t TLink::Command(const char* AC) {
    FState.ReturnText.clear();
    std::wstring LS = StampCommand(FPlatform.Ansi->ToWide(AC), FState.Config.ForceExtRoleID,
                                   FState.Config.ForceDentistID);
    FControl.CheckRestartOndarix(ControlSettings());
    return Deliver(std::move(LS));
}

std::int32_t TLink::Deliver(std::wstring AS) {
    switch (FState.Config.LinkMode) {
        case lmNormal: {
            const auto LAnswer = FControl.Send(AS);
            if (!LAnswer) return dde_Error;
            FState.ReturnText = LAnswer->Text;
            return LAnswer->Result;
        }
        case lmClipboard: {
            const bool LSetsReturnWnd = LowerCase(AS).find(L"setreturnwnd") != std::wstring::npos;
            if (FPlatform.Control.System->IsRemoteSession() && LSetsReturnWnd) {
                FState.ReturnText.clear();
                return dde_Ok;
            }
            if (FState.Config.SetActiveWnd && !LSetsReturnWnd) {
                if (FState.AppPrevWnd == 0) FState.AppPrevWnd = FPlatform.Windows->ActiveWindow();
                AS = L"%OXCMD%=setreturnwnd|11~" +
                     std::to_wstring(static_cast<std::int64_t>(FState.AppPrevWnd)) + L"\r\n" + AS;
            }
            Notice(control::TNotice::Detail, L"Sending clipboard to Ondarix:\r\n\r\n" + AS);
            if (SendClip(AS)) {
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

bool TLink::SendClip(const std::wstring& AS) {
    linklog::Message("SendClip");
    try {
        return FPlatform.Clipboard->SetText(AS);
    } catch (...) {
        return false;
    }
}

std::int32_t TLink::OndaExit() {
    linklog::TMethodTrack LTrack("OndaExit");
    if (FState.ExecutingCmd) return dde_Ok;
    TExecutingGuard LGuard(FState.ExecutingCmd);
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

std::int32_t TLink::OndaGetErrorStrBuf(char* ABuf, std::int32_t ABufLen) {
    linklog::Message("OndaGetErrorStrBuf");
    FState.ReturnTextAnsi = FPlatform.Ansi->FromWide(FState.ReturnText);
    // A null buffer cannot take even the terminating zero: nothing is written.
    if (ABuf == nullptr) return 0;
    const std::size_t LCount =
        ABufLen <= 0 ? 0
                     : std::min(static_cast<std::size_t>(ABufLen), FState.ReturnTextAnsi.size());
    std::memcpy(ABuf, FState.ReturnTextAnsi.data(), LCount);
    ABuf[LCount] = '\0';
    return static_cast<std::int32_t>(std::strlen(ABuf));
}

void TLink::Notice(control::TNotice AKind, const std::wstring& AText) {
    if (!control::NoticeShown(AKind, FState.Config.Debug, FState.ProcMsgs2w != nullptr)) return;
    if (AKind == control::TNotice::Error) {
        Messages().ErrMsg(AText);
    } else {
        Messages().Msg(AText);
    }
}

TUserMessages TLink::Messages() const {
    return TUserMessages(*FPlatform.Boxes, FState.DllFn, FState.DllVersion);
}

void TLink::ShowConfigInfo(const control::TStartFacts& AStart) {
    Notice(control::TNotice::Detail, ConfigInfoText(FState, AStart));
}

void TLink::Wakeup() {
    if (FState.AppPrevWnd != 0) FPlatform.Windows->SetForegroundWindow(FState.AppPrevWnd);
}

void TLink::CommandReady(const std::wstring& AResultText) {
    FState.ReturnText = AResultText;
}

std::wstring ConfigInfoText(const TLinkState& AState, const control::TStartFacts& AStart) {
    auto LEntries = [](const systools::TStringList& AList) {
        std::wstring LText;
        for (int LI = 0; LI < AList.Count(); ++LI) LText += AList[LI] + L"\r\n";
        return LText;
    };
    std::wstring LMode;
    switch (AState.Config.LinkMode) {
        case lmNormal:
            LMode = L"Normal";
            break;
        case lmClipboard:
            LMode = L"Clipboard";
            break;
        case lmMsVirtualChannel:
            LMode = L"Microsoft Virtual Channel";
            break;
        default:
            LMode = std::to_wstring(static_cast<int>(AState.Config.LinkMode));
            break;
    }
    wchar_t LWnd[32];
    std::swprintf(LWnd, 32, L"%.8llX", static_cast<unsigned long long>(AState.AppPrevWnd));

    std::vector<std::wstring> LLines;
    LLines.push_back(L"Inifile: " + AState.Config.IniFn);
    LLines.push_back(L"Program name: " + AStart.OxApp);
    LLines.push_back(L"Working dir: " + AStart.OxDir);
    if (!AStart.CommandLine.empty()) LLines.push_back(L"Start command: " + AStart.CommandLine);
    LLines.push_back(L"Wait Time: " + std::to_wstring(control::WaitTime) + L" ms");
    LLines.push_back(L"Startup delay: " + std::to_wstring(AState.Config.StartUpDelay) + L" ms");
    LLines.push_back(std::wstring(L"AppWnd: ") + LWnd);
    LLines.push_back(L"Use Mutex: " + MkYesNo(AState.Config.UseMutex));
    LLines.push_back(L"Link mode: " + LMode);
    LLines.push_back(L"Use PID: " + MkYesNo(!AStart.LinkPID.empty()) + L" (PID=" + AStart.LinkPID +
                     L")");
    LLines.push_back(L"DetectOndarix: " + MkYesNo(AState.Config.DetectOndarix));
    LLines.push_back(L"Seperate user profiles: " + LEntries(AState.Config.UserNames));
    LLines.push_back(L"Seperate computer profiles: " + LEntries(AState.Config.ComputerNames));
    LLines.push_back(L"Seperate client profiles: " + LEntries(AState.Config.ClientNames));
    std::wstring LText;
    for (std::size_t LI = 0; LI < LLines.size(); ++LI) LText += (LI ? L"\r\n" : L"") + LLines[LI];
    return LText;
}

}  // namespace deruz::link
