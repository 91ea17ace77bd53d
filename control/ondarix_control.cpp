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
    explicit TWaitCursor(TDesktop& Desktop) : FDesktop(Desktop) { FDesktop.PushWaitCursor(); }
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
std::wstring ExtractFileDir(const std::wstring& Path) {
    const auto i = Path.find_last_of(L"\\:");
    if (i == std::wstring::npos) return {};
    std::size_t n = i + 1;
    if (i > 0 && Path[i] == L'\\' && Path[i - 1] != L'\\' && Path[i - 1] != L':') n = i;
    return Path.substr(0, n);
}

std::wstring FormatFixed1(const wchar_t* Format, double Value) {
    wchar_t text[160];
    std::swprintf(text, sizeof text / sizeof text[0], Format, Value);
    return text;
}

logging::ISiMethodTracker Track(logging::TSiSession* Log, std::string_view Name) {
    return Log != nullptr ? Log->TrackMethod(Name) : logging::ISiMethodTracker();
}

void LogMessage(logging::TSiSession* Log, std::string_view Text) {
    if (Log != nullptr) Log->LogMessage(Text);
}

}  // namespace

TOndarixControl::TOndarixControl(const TControlPlatform& Platform, TControlNotices& Notices)
    : FPlatform(Platform), FNotices(Notices) {}

void TOndarixControl::SetLog(logging::TSiSession* Log) {
    FLog = Log;
}

void TOndarixControl::GetOndarixPath(std::wstring& App, std::wstring& Dir) {
    const std::wstring text =
        FPlatform.Registry->ReadText(TRegistryRoot::ClassesRoot, OxTypeLibKey, L"").value_or(L"");
    FNotices.Notice(TNotice::Info, L"Getting Ondarix path from registry:\r\nApp: " + text);
    if (text.empty()) {
        App = DefaultOxApp;
        Dir = DefaultOxDir;
    } else {
        App = text;
        Dir = ExtractFileDir(App);
    }
}

void TOndarixControl::ResolveOndarixPaths(const TControlSettings& Settings) {
    FState.OxApp = Settings.OxProgram;
    if (FState.OxApp.empty()) {
        GetOndarixPath(FState.OxApp, FState.OxDir);
        return;
    }
    FState.OxDir =
        FPlatform.Ini->ReadString(Settings.IniFn, kIniSection, L"oxworkingdir", L"", kOxDirChars);
    if (FState.OxDir.empty()) {
        FState.OxDir = FPlatform.Registry
                           ->ReadText(TRegistryRoot::CurrentUser, OxParametersKey, L"OxWorkingDir")
                           .value_or(L"");
    }
    if (FState.OxDir.empty()) FState.OxDir = DefaultOxDir;
}

bool TOndarixControl::DoStartOndarix(const TControlSettings& Settings) {
    auto track = Track(FLog, "DoStartOndarix");
    ResolveOndarixPaths(Settings);
    std::wstring commandLine = FState.OxApp + L" -dde";

    FState.MarshalInterface = false;
    if (Settings.UseMarshalling) {
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
        Settings.UsePid ? std::to_wstring(FPlatform.System->CurrentProcessId()) : std::wstring();
    const std::wstring windowClass = L"TOxWindow" + FState.LinkPID;

    std::uint32_t foundPid = 0;
    FState.OxWnd = FPlatform.Desktop->FindWindowByClassAndPath(windowClass, FState.OxApp, foundPid);
    if (FState.OxWnd == 0 && !FState.LinkPID.empty()) commandLine += L" -pid:" + FState.LinkPID;
    FNotices.ShowConfigInfo({FState.OxApp, FState.OxDir, FState.LinkPID, commandLine});
    if (FState.OxWnd != 0) return true;

    FNotices.Notice(TNotice::Detail, L"No Ondarix, trying to start it");

    const std::int32_t monitorNumber =
        FPlatform.Ini->ReadInteger(Settings.IniFn, L"StartUp", L"MonitorNumber", 1);
    if (monitorNumber < 0) throw RangeCheckError();
    const auto monitors = FPlatform.Desktop->Monitors();
    std::int64_t index = static_cast<std::int64_t>(monitorNumber) - 1;
    if (index < 0 || index >= static_cast<std::int64_t>(monitors.size())) index = 0;
    const TMonitorOrigin origin =
        monitors.empty() ? TMonitorOrigin{} : monitors[static_cast<std::size_t>(index)];

    std::uint32_t error = 0;
    const auto process =
        FPlatform.Desktop->StartProcess(commandLine, FState.OxDir, origin.Left, origin.Top, error);
    if (!process) {
        FNotices.Notice(TNotice::Error, L"Could not run \"" + commandLine +
                                            L"\", working directory \"" + FState.OxDir +
                                            L"\"\r\n\r\n" + FPlatform.System->ErrorText(error));
        return false;
    }
    FNotices.Notice(TNotice::Detail, L"Ondarix process is created");
    {
        TWaitCursor cursor(*FPlatform.Desktop);
        process->WaitForInputIdle(WaitTime);
        WaitUntilReady(Settings);
    }

    LogMessage(FLog, "Looking for Ondarix window class using PID");
    FState.OxWnd = FPlatform.Desktop->FindWindowOfProcess(process->ProcessId(), windowClass);
    if (FState.OxWnd != 0) return true;
    FNotices.Notice(TNotice::Error, L"Could not find Ondarix window class " + windowClass);
    return false;
}

void TOndarixControl::WaitUntilReady(const TControlSettings& Settings) {
    TDesktop& desktop = *FPlatform.Desktop;
    // Deadlines are kept as elapsed ticks since the start, so a tick count that wraps at
    // 32 bits (every 49.7 days of uptime) neither ends the wait early nor fails it.
    if (Settings.UseMutex) {
        FNotices.Notice(TNotice::Detail,
                        FormatFixed1(L"Using mutex to see if Ondarix is ready, waiting %0.1fs",
                                     WaitTime / 1000.0));
        LogMessage(FLog, systools::Utf8FromWide(
                             FormatFixed1(L"Waiting %0.1fs for mutex", WaitTime / 1000.0)));
        const std::wstring atom = L"OXReadyForLink" + FState.LinkPID;
        const std::uint32_t start = desktop.TickCount();
        bool found = false;
        do {
            desktop.ProcessOneMessage();
            desktop.Sleep(ReadyPollInterval);
            if (desktop.GlobalAtomExists(atom)) {
                FNotices.Notice(TNotice::Detail, L"Found Mutex Atom");
                found = true;
                break;
            }
        } while (static_cast<std::uint32_t>(desktop.TickCount() - start) < WaitTime);
        if (!found) FNotices.Notice(TNotice::Detail, L"Did not find Mutex Atom");
    } else {
        FNotices.Notice(TNotice::Detail,
                        L"Not using mutex to see if Ondarix is ready (just waiting " +
                            std::to_wstring(Settings.StartUpDelay) + L"ms)");
        // A delay of 2^31 ms or more (a negative value in the file) cannot be meant: it would
        // hold the host for weeks. It fails as the overflow it is.
        if (Settings.StartUpDelay > 0x7FFFFFFFu) throw EControlError(L"Integer overflow");
        const std::uint32_t start = desktop.TickCount();
        while (static_cast<std::uint32_t>(desktop.TickCount() - start) < Settings.StartUpDelay) {
            desktop.ProcessOneMessage();
        }
    }
}

bool TOndarixControl::ConnectOndarix(const TControlSettings& Settings) {
    auto track = Track(FLog, "ConnectOndarix");
    if (Settings.LinkMode != lmNormal) return true;
    if (FState.Ox3) return true;
    FState.MsgHandler = std::make_unique<TMsgHandler>(FNotices, FLog);
    try {
        FetchAndConnect(Settings);
    } catch (...) {
        const std::wstring reason = ExceptionMessage(std::current_exception());
        FNotices.Notice(TNotice::Error,
                        L"Exception communicating with IOx3Server server:\r\n\r\n" + reason);
        FState.Ox3.reset();
        FState.MsgHandler.reset();
    }
    return FState.Ox3 != nullptr;
}

void TOndarixControl::FetchAndConnect(const TControlSettings& Settings) {
    std::unique_ptr<TServerInterface> intf;
    if (FState.MarshalInterface) {
        FNotices.Notice(TNotice::Detail, L"Marshalling Ondarix interface...");
        intf =
            FPlatform.Server->FetchMarshalled(FState.OxWnd, FPlatform.System->CurrentProcessId());
    }
    FNotices.Notice(TNotice::Detail, L"Creating IOx3Server server object...");
    FState.Ox3 = FPlatform.Server->NewProxy();
    FNotices.Notice(TNotice::Detail, L"Connecting to IOx3Server server object...");
    if (intf) {
        FState.Ox3->ConnectTo(std::move(intf));
    } else {
        FState.Ox3->Connect();
    }
    FState.Ox3->SetEvents(FState.MsgHandler.get());
    if (Settings.AppPrevWnd > 0x7FFFFFFF) throw RangeCheckError();
    FState.Ox3->SetAppReturnWnd(static_cast<std::int32_t>(Settings.AppPrevWnd));
    try {
        FState.Ox3->SetLastAdminLinkDLLPath(systools::LowerCase(Settings.DllFn));
    } catch (...) {
        // A server without this property still serves the link.
    }
}

void TOndarixControl::CheckRestartOndarix(const TControlSettings& Settings) {
    auto track = Track(FLog, "CheckRestartOndarix");
    if (Settings.LinkMode != lmNormal) return;
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
    TControlSettings again = Settings;
    again.OxProgram = ReadOxProgram(*FPlatform.Ini, Settings.IniFn);
    if (DoStartOndarix(again)) ConnectOndarix(again);
}

std::optional<TServerAnswer> TOndarixControl::Send(const std::wstring& Command) {
    if (!FState.Ox3) return std::nullopt;
    try {
        FNotices.Notice(TNotice::Detail, L"Sending AdminCommand to Ondarix:\r\n\r\n" + Command);
        TServerAnswer answer;
        answer.Result = FState.Ox3->AdminCommand(Command, answer.Text);
        FNotices.Notice(TNotice::Detail, L"AdminCommand Result: (" +
                                             std::to_wstring(answer.Result) + L", " + answer.Text +
                                             L")");
        return answer;
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
