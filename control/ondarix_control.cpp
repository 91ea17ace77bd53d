#include "control/ondarix_control.h"

#include <cstdio>

#include "control/config_file.h"
#include "control/msg_handler.h"
#include "logging/core/session.h"
#include "systools/version.h"
#include "systools/wide_text.h"

namespace deruz::control {

namespace {

// "oxworkingdir" is cut to this many characters.
constexpr std::size_t kOxDirChars = 256;

// Ends a pushed cursor on every way out.
class TWaitCursor {
  public:
    explicit TWaitCursor(TDesktop& ADesktop) : FDesktop(ADesktop) { FDesktop.PushWaitCursor(); }
    ~TWaitCursor() {
        try {
            FDesktop.PopCursor();
        } catch (...) {
        }
    }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;

  private:
    TDesktop& FDesktop;
};

// The folder part of a path without its trailing delimiter ("D:\Img\Bin" of
// "D:\Img\Bin\Ondarix.exe"); a drive's root keeps its delimiter ("C:\" of "C:\x.exe").
std::wstring ExtractFileDir(const std::wstring& APath) {
    const auto LI = APath.find_last_of(L"\\:");
    if (LI == std::wstring::npos) return {};
    std::size_t LN = LI + 1;
    if (LI > 0 && APath[LI] == L'\\' && APath[LI - 1] != L'\\' && APath[LI - 1] != L':') LN = LI;
    return APath.substr(0, LN);
}

std::wstring FormatFixed1(const wchar_t* AFormat, double AValue) {
    wchar_t LText[160];
    std::swprintf(LText, sizeof LText / sizeof LText[0], AFormat, AValue);
    return LText;
}

logging::ISiMethodTracker Track(logging::TSiSession* ALog, std::string_view AName) {
    return ALog != nullptr ? ALog->TrackMethod(AName) : logging::ISiMethodTracker();
}

void LogMessage(logging::TSiSession* ALog, std::string_view AText) {
    if (ALog != nullptr) ALog->LogMessage(AText);
}

}  // namespace

TOndarixControl::TOndarixControl(const TControlPlatform& APlatform, TControlNotices& ANotices)
    : FPlatform(APlatform), FNotices(ANotices) {}

void TOndarixControl::SetLog(logging::TSiSession* ALog) {
    FLog = ALog;
}

void TOndarixControl::GetOndarixPath(std::wstring& APp, std::wstring& ADir) {
    const std::wstring LText =
        FPlatform.Registry->ReadText(TRegistryRoot::ClassesRoot, OxTypeLibKey, L"").value_or(L"");
    FNotices.Notice(TNotice::Info, L"Getting Ondarix path from registry:\r\nApp: " + LText);
    if (LText.empty()) {
        APp = DefaultOxApp;
        ADir = DefaultOxDir;
    } else {
        APp = LText;
        ADir = ExtractFileDir(APp);
    }
}

void TOndarixControl::ResolveOndarixPaths(const TControlSettings& ASettings) {
    FState.OxApp = ASettings.OxProgram;
    if (FState.OxApp.empty()) {
        GetOndarixPath(FState.OxApp, FState.OxDir);
        return;
    }
    FState.OxDir =
        FPlatform.Ini->ReadString(ASettings.IniFn, kIniSection, L"oxworkingdir", L"", kOxDirChars);
    if (FState.OxDir.empty()) {
        FState.OxDir = FPlatform.Registry
                           ->ReadText(TRegistryRoot::CurrentUser, OxParametersKey, L"OxWorkingDir")
                           .value_or(L"");
    }
    if (FState.OxDir.empty()) FState.OxDir = DefaultOxDir;
}

bool TOndarixControl::DoStartOndarix(const TControlSettings& ASettings) {
    auto LTrack = Track(FLog, "DoStartOndarix");
    ResolveOndarixPaths(ASettings);
    std::wstring LCommandLine = FState.OxApp + L" -dde";

    FState.MarshalInterface = false;
    if (ASettings.UseMarshalling) {
        try {
            FState.OxVersion = FPlatform.Files->FileVersion(FState.OxApp);
            FState.MarshalInterface =
                systools::CompareFileVersionStrs(FState.OxVersion, MarshalVersion) >= 0;
        } catch (...) {
            FState.MarshalInterface = false;
        }
    }
    FNotices.Notice(TNotice::Info, FState.MarshalInterface ? L"Marshal interface enabled"
                                                           : L"Marshal interface disabled");

    FState.LinkPID =
        ASettings.UsePid ? std::to_wstring(FPlatform.System->CurrentProcessId()) : std::wstring();
    const std::wstring LWindowClass = L"TOxWindow" + FState.LinkPID;

    std::uint32_t LFoundPid = 0;
    FState.OxWnd =
        FPlatform.Desktop->FindWindowByClassAndPath(LWindowClass, FState.OxApp, LFoundPid);
    if (FState.OxWnd == 0 && !FState.LinkPID.empty()) LCommandLine += L" -pid:" + FState.LinkPID;
    FNotices.ShowConfigInfo({FState.OxApp, FState.OxDir, FState.LinkPID, LCommandLine});
    if (FState.OxWnd != 0) return true;

    FNotices.Notice(TNotice::Detail, L"No Ondarix, trying to start it");

    const std::int32_t LMonitorNumber =
        FPlatform.Ini->ReadInteger(ASettings.IniFn, L"StartUp", L"MonitorNumber", 1);
    if (LMonitorNumber < 0) throw RangeCheckError();
    const auto LMonitors = FPlatform.Desktop->Monitors();
    std::int64_t LIndex = static_cast<std::int64_t>(LMonitorNumber) - 1;
    if (LIndex < 0 || LIndex >= static_cast<std::int64_t>(LMonitors.size())) LIndex = 0;
    const TMonitorOrigin LOrigin =
        LMonitors.empty() ? TMonitorOrigin{} : LMonitors[static_cast<std::size_t>(LIndex)];

    std::uint32_t LError = 0;
    const auto LProcess = FPlatform.Desktop->StartProcess(LCommandLine, FState.OxDir, LOrigin.Left,
                                                          LOrigin.Top, LError);
    if (!LProcess) {
        FNotices.Notice(TNotice::Error, L"Could not run \"" + LCommandLine +
                                            L"\", working directory \"" + FState.OxDir +
                                            L"\"\r\n\r\n" + FPlatform.System->ErrorText(LError));
        return false;
    }
    FNotices.Notice(TNotice::Detail, L"Ondarix process is created");
    {
        TWaitCursor LCursor(*FPlatform.Desktop);
        LProcess->WaitForInputIdle(WaitTime);
        WaitUntilReady(ASettings);
    }

    LogMessage(FLog, "Looking for Ondarix window class using PID");
    FState.OxWnd = FPlatform.Desktop->FindWindowOfProcess(LProcess->ProcessId(), LWindowClass);
    if (FState.OxWnd != 0) return true;
    FNotices.Notice(TNotice::Error, L"Could not find Ondarix window class " + LWindowClass);
    return false;
}

void TOndarixControl::WaitUntilReady(const TControlSettings& ASettings) {
    TDesktop& LDesktop = *FPlatform.Desktop;
    // Deadlines are kept as elapsed ticks since the start, so a tick count that wraps at
    // 32 bits (every 49.7 days of uptime) neither ends the wait early nor fails it.
    if (ASettings.UseMutex) {
        FNotices.Notice(TNotice::Detail,
                        FormatFixed1(L"Using mutex to see if Ondarix is ready, waiting %0.1fs",
                                     WaitTime / 1000.0));
        LogMessage(FLog, systools::Utf8FromWide(
                             FormatFixed1(L"Waiting %0.1fs for mutex", WaitTime / 1000.0)));
        const std::wstring LAtom = L"OXReadyForLink" + FState.LinkPID;
        const std::uint32_t LStart = LDesktop.TickCount();
        bool LFound = false;
        do {
            LDesktop.ProcessOneMessage();
            LDesktop.Sleep(ReadyPollInterval);
            if (LDesktop.GlobalAtomExists(LAtom)) {
                FNotices.Notice(TNotice::Detail, L"Found Mutex Atom");
                LFound = true;
                break;
            }
        } while (static_cast<std::uint32_t>(LDesktop.TickCount() - LStart) < WaitTime);
        if (!LFound) FNotices.Notice(TNotice::Detail, L"Did not find Mutex Atom");
    } else {
        FNotices.Notice(TNotice::Detail,
                        L"Not using mutex to see if Ondarix is ready (just waiting " +
                            std::to_wstring(ASettings.StartUpDelay) + L"ms)");
        // A delay of 2^31 ms or more (a negative value in the file) cannot be meant: it would
        // hold the host for weeks. It fails as the overflow it is.
        if (ASettings.StartUpDelay > 0x7FFFFFFFu) throw EControlError(L"Integer overflow");
        const std::uint32_t LStart = LDesktop.TickCount();
        while (static_cast<std::uint32_t>(LDesktop.TickCount() - LStart) < ASettings.StartUpDelay) {
            LDesktop.ProcessOneMessage();
        }
    }
}

bool TOndarixControl::ConnectOndarix(const TControlSettings& ASettings) {
    auto LTrack = Track(FLog, "ConnectOndarix");
    if (ASettings.LinkMode != lmNormal) return true;
    if (FState.Ox3) return true;
    FState.MsgHandler = std::make_unique<TMsgHandler>(FNotices, FLog);
    try {
        FetchAndConnect(ASettings);
    } catch (...) {
        const std::wstring LReason = ExceptionMessage(std::current_exception());
        FNotices.Notice(TNotice::Error,
                        L"Exception communicating with IOx3Server server:\r\n\r\n" + LReason);
        FState.Ox3.reset();
        FState.MsgHandler.reset();
    }
    return FState.Ox3 != nullptr;
}

void TOndarixControl::FetchAndConnect(const TControlSettings& ASettings) {
    std::unique_ptr<TServerInterface> LIntf;
    if (FState.MarshalInterface) {
        FNotices.Notice(TNotice::Detail, L"Marshalling Ondarix interface...");
        LIntf =
            FPlatform.Server->FetchMarshalled(FState.OxWnd, FPlatform.System->CurrentProcessId());
    }
    FNotices.Notice(TNotice::Detail, L"Creating IOx3Server server object...");
    FState.Ox3 = FPlatform.Server->NewProxy();
    FNotices.Notice(TNotice::Detail, L"Connecting to IOx3Server server object...");
    if (LIntf) {
        FState.Ox3->ConnectTo(std::move(LIntf));
    } else {
        FState.Ox3->Connect();
    }
    FState.Ox3->SetEvents(FState.MsgHandler.get());
    if (ASettings.AppPrevWnd > 0x7FFFFFFF) throw RangeCheckError();
    FState.Ox3->SetAppReturnWnd(static_cast<std::int32_t>(ASettings.AppPrevWnd));
    try {
        FState.Ox3->SetLastAdminLinkDLLPath(systools::LowerCase(ASettings.DllFn));
    } catch (...) {
        // A server without this property still serves the link.
    }
}

void TOndarixControl::CheckRestartOndarix(const TControlSettings& ASettings) {
    auto LTrack = Track(FLog, "CheckRestartOndarix");
    if (ASettings.LinkMode != lmNormal) return;
    if (FState.Ox3) {
        try {
            FState.Ox3->Version();
        } catch (...) {
            FNotices.Notice(TNotice::Detail, L"Freeing IOx3Server server object...");
            FState.Ox3.reset();
        }
    }
    if (FState.Ox3) return;
    // Every start made here reads "oxprogram" from the configuration file again, whatever
    // closed the connection (a dead server, ONDA_EXIT, a failed start): an empty setting
    // sends every restart back through the registry, which gives the registered executable
    // its own folder (the working-folder settings are for a configured program only).
    TControlSettings LAgain = ASettings;
    LAgain.OxProgram = ReadOxProgram(*FPlatform.Ini, ASettings.IniFn);
    if (DoStartOndarix(LAgain)) ConnectOndarix(LAgain);
}

std::optional<TServerAnswer> TOndarixControl::Send(const std::wstring& ACommand) {
    if (!FState.Ox3) return std::nullopt;
    try {
        FNotices.Notice(TNotice::Detail, L"Sending AdminCommand to Ondarix:\r\n\r\n" + ACommand);
        TServerAnswer LAnswer;
        LAnswer.Result = FState.Ox3->AdminCommand(ACommand, LAnswer.Text);
        FNotices.Notice(TNotice::Detail, L"AdminCommand Result: (" +
                                             std::to_wstring(LAnswer.Result) + L", " +
                                             LAnswer.Text + L")");
        return LAnswer;
    } catch (...) {
        FNotices.Notice(TNotice::Error, L"Exception occured while sending AdminCommand: \r\n\r\n" +
                                            ExceptionMessage(std::current_exception()));
        return std::nullopt;
    }
}

void TOndarixControl::Close() {
    if (!FState.Ox3) return;
    // Neither call may keep the connection from being closed.
    try {
        FState.Ox3->Terminate();
    } catch (...) {
    }
    try {
        FState.Ox3->Disconnect();
    } catch (...) {
    }
    FState.Ox3.reset();
    FState.MsgHandler.reset();
}

void TOndarixControl::Abandon() {
    (void)FState.Ox3.release();
    (void)FState.MsgHandler.release();
}

void TOndarixControl::Forget() {
    FState.OxApp.clear();
    FState.OxDir.clear();
    FState.LinkPID.clear();
    FState.OxVersion.clear();
}

}  // namespace deruz::control
