// Fake system services for the imaging-application control and the link's configuration.
// They keep what the code under test asked for and can produce cases that a real system
// cannot give on demand: a remote session, two monitors, a tick counter about to wrap, an
// application that never shows its window. Shared by the control tests and the link tests.
//
// Paths, INI sections and keys, registry keys, environment names and atoms compare without
// regard to case, as they do on Windows.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "control/control_platform.h"
#include "control/ondarix_control.h"
#include "control/server_connection.h"

namespace deruz::control::testing {

inline std::wstring FoldAscii(std::wstring_view AS) {
    std::wstring LOut(AS);
    for (auto& LC : LOut) {
        if (LC >= L'A' && LC <= L'Z') LC = static_cast<wchar_t>(LC + 32);
    }
    return LOut;
}

struct TCaseLess {
    bool operator()(const std::wstring& AA, const std::wstring& AB) const {
        return FoldAscii(AA) < FoldAscii(AB);
    }
};

inline bool SameText(std::wstring_view AA, std::wstring_view AB) {
    return FoldAscii(AA) == FoldAscii(AB);
}

inline bool StartsWithText(std::wstring_view AS, std::wstring_view APrefix) {
    return AS.size() >= APrefix.size() && SameText(AS.substr(0, APrefix.size()), APrefix);
}

// An INI file's contents: section -> key -> text.
using TIniKeys = std::map<std::wstring, std::wstring, TCaseLess>;
using TIniFile = std::map<std::wstring, TIniKeys, TCaseLess>;

// Files (each with INI contents, empty for other files), folders and file versions. A file's
// folders exist with it.
class TFakeFiles final : public TFileSystem {
  public:
    void AddFile(const std::wstring& APath, TIniFile AContents = {}) {
        Files[APath] = std::move(AContents);
        for (std::size_t LI = APath.find_last_of(L'\\'); LI != std::wstring::npos && LI > 0;
             LI = APath.find_last_of(L'\\', LI - 1)) {
            Folders.insert(APath.substr(0, LI));
        }
    }
    void AddFolder(const std::wstring& APath) { Folders.insert(WithoutTrailingDelimiter(APath)); }
    // Sets one key, creating the file when needed.
    void Set(const std::wstring& APath, const std::wstring& ASection, const std::wstring& AKey,
             const std::wstring& AValue) {
        if (!Files.count(APath)) AddFile(APath);
        Files[APath][ASection][AKey] = AValue;
    }

    bool FileExists(const std::wstring& APath) override { return Files.count(APath) != 0; }
    bool DirectoryExists(const std::wstring& APath) override {
        return Folders.count(WithoutTrailingDelimiter(APath)) != 0;
    }
    bool CopyNew(const std::wstring& AFrom, const std::wstring& ATo) override {
        Copies.push_back({AFrom, ATo});
        if (Files.count(ATo) || !Files.count(AFrom)) return false;
        AddFile(ATo, Files[AFrom]);
        return true;
    }
    std::wstring FileVersion(const std::wstring& APath) override {
        if (FailFileVersion) throw EControlError(L"version resource unreadable");
        const auto LIt = Versions.find(APath);
        return LIt == Versions.end() ? L"" : LIt->second;
    }

    std::map<std::wstring, TIniFile, TCaseLess> Files;
    std::set<std::wstring, TCaseLess> Folders;
    std::map<std::wstring, std::wstring, TCaseLess> Versions;
    bool FailFileVersion = false;
    std::vector<std::pair<std::wstring, std::wstring>> Copies;  // every CopyNew call

  private:
    static std::wstring WithoutTrailingDelimiter(std::wstring APath) {
        while (APath.size() > 1 && APath.back() == L'\\') APath.pop_back();
        return APath;
    }
};

// Reads the INI files of a TFakeFiles.
class TFakeIni final : public TIniReader {
  public:
    explicit TFakeIni(TFakeFiles& AFiles) : FFiles(AFiles) {}

    // Like the system's private-profile integer read: optional sign, then the leading
    // digits (none gives 0); the default only when the key is missing.
    std::int32_t ReadInteger(const std::wstring& AFile, const std::wstring& ASection,
                             const std::wstring& AKey, std::int32_t ADefault) override {
        if (OnRead) OnRead();
        const std::wstring* LText = Find(AFile, ASection, AKey);
        if (LText == nullptr) return ADefault;
        std::size_t LI = 0;
        bool LNegative = false;
        if (LI < LText->size() && ((*LText)[LI] == L'-' || (*LText)[LI] == L'+')) {
            LNegative = (*LText)[LI] == L'-';
            ++LI;
        }
        std::uint32_t LValue = 0;
        for (; LI < LText->size() && (*LText)[LI] >= L'0' && (*LText)[LI] <= L'9'; ++LI) {
            LValue = LValue * 10 + static_cast<std::uint32_t>((*LText)[LI] - L'0');
        }
        return static_cast<std::int32_t>(LNegative ? 0u - LValue : LValue);
    }
    std::wstring ReadString(const std::wstring& AFile, const std::wstring& ASection,
                            const std::wstring& AKey, const std::wstring& ADefault,
                            std::size_t AMaxChars) override {
        if (OnRead) OnRead();
        const std::wstring* LText = Find(AFile, ASection, AKey);
        return (LText != nullptr ? *LText : ADefault).substr(0, AMaxChars);
    }

    std::function<void()> OnRead;  // runs at each read (it may raise)

  private:
    const std::wstring* Find(const std::wstring& AFile, const std::wstring& ASection,
                             const std::wstring& AKey) {
        const auto LFile = FFiles.Files.find(AFile);
        if (LFile == FFiles.Files.end()) return nullptr;
        const auto LSection = LFile->second.find(ASection);
        if (LSection == LFile->second.end()) return nullptr;
        const auto LKey = LSection->second.find(AKey);
        return LKey == LSection->second.end() ? nullptr : &LKey->second;
    }
    TFakeFiles& FFiles;
};

class TFakeRegistry final : public TRegistryReader {
  public:
    // A key that opens, with no values yet.
    void AddKey(TRegistryRoot ARoot, const std::wstring& AKey) { Keys[Name(ARoot, AKey)]; }
    void Set(TRegistryRoot ARoot, const std::wstring& AKey, const std::wstring& AValue,
             const std::wstring& AText) {
        Keys[Name(ARoot, AKey)][AValue] = AText;
    }
    std::optional<std::wstring> ReadText(TRegistryRoot ARoot, const std::wstring& AKey,
                                         const std::wstring& AValue) override {
        const auto LKey = Keys.find(Name(ARoot, AKey));
        if (LKey == Keys.end()) return std::nullopt;
        const auto LValue = LKey->second.find(AValue);
        return LValue == LKey->second.end() ? L"" : LValue->second;
    }

    std::map<std::wstring, std::map<std::wstring, std::wstring, TCaseLess>, TCaseLess> Keys;

  private:
    static std::wstring Name(TRegistryRoot ARoot, const std::wstring& AKey) {
        return (ARoot == TRegistryRoot::ClassesRoot ? L"HKCR\\" : L"HKCU\\") + AKey;
    }
};

class TFakeSystem final : public TSystemInfo {
  public:
    std::wstring Environment(const std::wstring& AName, std::size_t AMaxChars) override {
        const auto LIt = Env.find(AName);
        return LIt == Env.end() ? L"" : LIt->second.substr(0, AMaxChars);
    }
    std::wstring ComputerName() override { return Computer; }
    std::wstring UserName() override { return User; }
    bool IsRemoteSession() override { return Remote; }
    std::uint32_t CurrentProcessId() override { return Pid; }
    std::wstring ErrorText(std::uint32_t ACode) override {
        const auto LIt = ErrorTexts.find(ACode);
        return LIt == ErrorTexts.end() ? L"" : LIt->second;
    }

    std::map<std::wstring, std::wstring, TCaseLess> Env;
    std::wstring Computer = L"WS1";
    std::wstring User = L"bob";
    bool Remote = false;
    std::uint32_t Pid = 4321;
    std::map<std::uint32_t, std::wstring> ErrorTexts;
};

struct TFakeWindow {
    TWindowHandle Handle = 0;
    std::wstring ClassName;
    std::uint32_t Pid = 0;
    std::wstring ExePath;
};

struct TStartCall {
    std::wstring CommandLine;
    std::wstring Folder;
    std::int32_t X = 0;
    std::int32_t Y = 0;
};

class TFakeDesktop;

// The started imaging application: records the idle wait and the closing of its handles.
class TFakeProcess final : public TStartedProcess {
  public:
    TFakeProcess(TFakeDesktop& ADesktop, std::uint32_t APid) : FDesktop(ADesktop), FPid(APid) {}
    ~TFakeProcess() override;
    std::uint32_t ProcessId() override { return FPid; }
    void WaitForInputIdle(std::uint32_t AMilliseconds) override;

  private:
    TFakeDesktop& FDesktop;
    std::uint32_t FPid;
};

// Windows, monitors, atoms, a tick counter and a stand-in for the imaging application.
// Sleep advances the tick counter by its argument and each dispatched message by 1 ms.
// A started application behaves as the real one: it takes the class "TOxWindow" and the
// atom "OXReadyForLink", each followed by the id given with "-pid:", and shows them the
// given number of milliseconds after its start (never, when not set).
class TFakeDesktop final : public TDesktop {
  public:
    TWindowHandle FindWindowByClassAndPath(const std::wstring& AClassName,
                                           const std::wstring& APath,
                                           std::uint32_t& APid) override {
        Events.push_back(L"FindWindowByClassAndPath(" + AClassName + L", " + APath + L")");
        for (const auto& LW : Windows) {
            if (StartsWithText(LW.ClassName, AClassName) && SameText(LW.ExePath, APath)) {
                APid = LW.Pid;
                return LW.Handle;
            }
        }
        APid = 0;
        return 0;
    }
    TWindowHandle FindWindowOfProcess(std::uint32_t APid, const std::wstring& AClassName) override {
        Events.push_back(L"FindWindowOfProcess(" + std::to_wstring(APid) + L", " + AClassName +
                         L")");
        for (const auto& LW : Windows) {
            if (LW.Pid == APid && SameText(LW.ClassName, AClassName)) return LW.Handle;
        }
        return 0;
    }
    std::vector<TMonitorOrigin> Monitors() override { return MonitorList; }
    std::unique_ptr<TStartedProcess> StartProcess(const std::wstring& ACommandLine,
                                                  const std::wstring& AFolder, std::int32_t AX,
                                                  std::int32_t AY, std::uint32_t& AError) override {
        Starts.push_back({ACommandLine, AFolder, AX, AY});
        Events.push_back(L"StartProcess");
        if (StartError != 0) {
            AError = StartError;
            return nullptr;
        }
        AError = 0;
        const std::size_t LPidAt = ACommandLine.find(L" -pid:");
        const std::wstring LPid =
            LPidAt == std::wstring::npos ? L"" : ACommandLine.substr(LPidAt + 6);
        FApp = TPendingApp{Tick,
                           NewPid,
                           L"TOxWindow" + LPid,
                           L"OXReadyForLink" + LPid,
                           ACommandLine.substr(0, ACommandLine.find(L" -dde")),
                           false,
                           false};
        AppearDue();
        return std::make_unique<TFakeProcess>(*this, NewPid);
    }
    bool GlobalAtomExists(const std::wstring& AName) override {
        for (const auto& LA : Atoms) {
            if (SameText(LA, AName)) return true;
        }
        return false;
    }
    std::uint32_t TickCount() override { return Tick; }
    void Sleep(std::uint32_t AMilliseconds) override {
        ++Sleeps;
        Tick += AMilliseconds;
        AppearDue();
    }
    void ProcessOneMessage() override {
        ++Messages;
        Tick += 1;
        AppearDue();
        if (OnMessage) OnMessage();
    }
    void PushWaitCursor() override { Events.push_back(L"PushWaitCursor"); }
    void PopCursor() override { Events.push_back(L"PopCursor"); }

    std::vector<TFakeWindow> Windows;
    std::vector<TMonitorOrigin> MonitorList{{0, 0}};
    std::vector<std::wstring> Atoms;
    std::uint32_t Tick = 1000;

    // The application the next StartProcess starts.
    std::uint32_t StartError = 0;  // not 0: the process cannot be created
    std::uint32_t NewPid = 5150;
    TWindowHandle NewWindow = 0x5000;
    std::optional<std::uint32_t> WindowAfter = 0;  // ms after the start
    std::optional<std::uint32_t> AtomAfter = 0;    // ms after the start

    std::vector<TStartCall> Starts;
    // Window look-ups, starts, idle waits, cursor changes and handle closing, in order.
    std::vector<std::wstring> Events;
    int Sleeps = 0;
    int Messages = 0;
    std::function<void()> OnMessage;  // runs inside each dispatched message

  private:
    struct TPendingApp {
        std::uint32_t StartTick;
        std::uint32_t Pid;
        std::wstring ClassName;
        std::wstring Atom;
        std::wstring ExePath;
        bool WindowShown;
        bool AtomAdded;
    };
    void AppearDue() {
        if (!FApp) return;
        const std::uint32_t LElapsed = Tick - FApp->StartTick;
        if (!FApp->WindowShown && WindowAfter && LElapsed >= *WindowAfter) {
            FApp->WindowShown = true;
            Windows.push_back({NewWindow, FApp->ClassName, FApp->Pid, FApp->ExePath});
        }
        if (!FApp->AtomAdded && AtomAfter && LElapsed >= *AtomAfter) {
            FApp->AtomAdded = true;
            Atoms.push_back(FApp->Atom);
        }
    }
    std::optional<TPendingApp> FApp;
};

inline TFakeProcess::~TFakeProcess() {
    FDesktop.Events.push_back(L"ProcessClosed");
}

inline void TFakeProcess::WaitForInputIdle(std::uint32_t AMilliseconds) {
    FDesktop.Events.push_back(L"WaitForInputIdle(" + std::to_wstring(AMilliseconds) + L")");
}

// What every fake connection writes to and reads from; shared so that it outlives the
// connections (the link frees them in its own time).
struct TFakeServerLog {
    // Every call, in order: "NewProxy", "Connect", "ConnectTo(#1)", "SetEvents",
    // "SetAppReturnWnd(42)", "SetLastAdminLinkDLLPath(...)", "Version", "AdminCommand(...)",
    // "Terminate", "Disconnect", "freed".
    std::vector<std::wstring> Calls;
    // Names of the methods that raise EControlError(FailText) after they are recorded
    // ("Connect", "ConnectTo", "Version", "AdminCommand", "SetAppReturnWnd",
    // "SetLastAdminLinkDLLPath", "Terminate", "Disconnect").
    std::set<std::wstring> Fail;
    std::wstring FailText = L"The RPC server is unavailable.";
    std::int32_t AdminResult = 0;
    std::wstring AdminText;
    std::function<void()> DuringAdminCommand;  // runs while the server call waits
    // The handler given to the connection that was wired last, while that connection lives.
    TServerEvents* Handler = nullptr;
    TServerConnection* Wired = nullptr;
};

class TFakeInterface final : public TServerInterface {
  public:
    explicit TFakeInterface(int AId) : Id(AId) {}
    int Id;
};

class TFakeConnection final : public TServerConnection {
  public:
    explicit TFakeConnection(std::shared_ptr<TFakeServerLog> ALog) : FLog(std::move(ALog)) {}
    ~TFakeConnection() override {
        FLog->Calls.push_back(L"freed");
        if (FLog->Wired == this) {
            FLog->Wired = nullptr;
            FLog->Handler = nullptr;
        }
    }
    void Connect() override { Call(L"Connect", L"Connect"); }
    void ConnectTo(std::unique_ptr<TServerInterface> AIntf) override {
        const auto* LFake = dynamic_cast<const TFakeInterface*>(AIntf.get());
        Call(L"ConnectTo", L"ConnectTo(#" + std::to_wstring(LFake ? LFake->Id : 0) + L")");
    }
    void Disconnect() override { Call(L"Disconnect", L"Disconnect"); }
    void SetEvents(TServerEvents* AHandler) override {
        FLog->Calls.push_back(AHandler != nullptr ? L"SetEvents" : L"SetEvents(null)");
        FLog->Handler = AHandler;
        FLog->Wired = this;
    }
    std::int32_t Version() override {
        Call(L"Version", L"Version");
        return 3;
    }
    std::int32_t AdminCommand(const std::wstring& ACmd, std::wstring& AReturnText) override {
        FLog->Calls.push_back(L"AdminCommand(" + ACmd + L")");
        if (FLog->DuringAdminCommand) FLog->DuringAdminCommand();
        if (FLog->Fail.count(L"AdminCommand")) throw EControlError(FLog->FailText);
        AReturnText = FLog->AdminText;
        return FLog->AdminResult;
    }
    void SetAppReturnWnd(std::int32_t AValue) override {
        Call(L"SetAppReturnWnd", L"SetAppReturnWnd(" + std::to_wstring(AValue) + L")");
    }
    void SetLastAdminLinkDLLPath(const std::wstring& AValue) override {
        Call(L"SetLastAdminLinkDLLPath", L"SetLastAdminLinkDLLPath(" + AValue + L")");
    }
    void Terminate() override { Call(L"Terminate", L"Terminate"); }

  private:
    void Call(const std::wstring& AName, const std::wstring& AEntry) {
        FLog->Calls.push_back(AEntry);
        if (FLog->Fail.count(AName)) throw EControlError(FLog->FailText);
    }
    std::shared_ptr<TFakeServerLog> FLog;
};

// The server side: the shared-memory hand-over and new proxies, plus the server's five
// events, delivered to the handler of the connection that was wired last.
class TFakeServerAccess final : public TServerAccess {
  public:
    struct TFetch {
        TWindowHandle OxWnd;
        std::uint32_t Pid;
    };

    std::unique_ptr<TServerInterface> FetchMarshalled(TWindowHandle AOxWnd,
                                                      std::uint32_t APid) override {
        Fetches.push_back({AOxWnd, APid});
        if (FetchError) throw EControlError(*FetchError);
        return std::make_unique<TFakeInterface>(static_cast<int>(Fetches.size()));
    }
    std::unique_ptr<TServerConnection> NewProxy() override {
        Log->Calls.push_back(L"NewProxy");
        return std::make_unique<TFakeConnection>(Log);
    }

    std::vector<std::wstring>& Calls() { return Log->Calls; }

    void FireWakeup() { Handler().OnWakeup(*Log->Wired); }
    void FireNewPhoto(std::int32_t APhotoType, std::int32_t ADentistId,
                      const std::wstring& APatientId, const std::wstring& APhotoId,
                      std::int32_t AQuadrant, std::int32_t AElement) {
        Handler().OnNewPhoto(*Log->Wired, APhotoType, ADentistId, APatientId, APhotoId, AQuadrant,
                             AElement);
    }
    void FireCmdReady(std::int32_t AResultValue, const std::wstring& AResultText) {
        Handler().OnCmdReady(*Log->Wired, AResultValue, AResultText);
    }
    void FireAdminNotes(std::int32_t ADentistId, const std::wstring& APatientId,
                        const std::wstring& AToothPosition, const std::wstring& ACode,
                        const std::wstring& ANotes) {
        Handler().OnAdminNotes(*Log->Wired, ADentistId, APatientId, AToothPosition, ACode, ANotes);
    }
    void FireRequest(const std::wstring& ACmd) { Handler().OnRequest(*Log->Wired, ACmd); }

    std::shared_ptr<TFakeServerLog> Log = std::make_shared<TFakeServerLog>();
    std::optional<std::wstring> FetchError;  // set: FetchMarshalled raises this text
    std::vector<TFetch> Fetches;

  private:
    TServerEvents& Handler() {
        if (Log->Handler == nullptr) throw std::logic_error("no live connection has a handler");
        return *Log->Handler;
    }
};

// All control services in one place.
struct TFakeControlPlatform {
    TFakeFiles Files;
    TFakeIni Ini{Files};
    TFakeRegistry Registry;
    TFakeSystem System;
    TFakeDesktop Desktop;
    TFakeServerAccess Server;
    TControlPlatform Platform() { return {&Ini, &Registry, &Files, &System, &Desktop, &Server}; }
};

// The link as the control sees it: every box the link's rule shows at the level Debug and
// every summary request in one list ("ErrMsg: ", "Msg: ", "ShowConfigInfo: " followed by the
// text), and what the server's events handed to it in another ("Wakeup",
// "CommandReady(text)", "Event: " followed by the text, whatever Debug says). The summary is
// recorded whatever Debug says; the real link decides that itself.
class TFakeControlHost final : public TControlNotices {
  public:
    void Notice(TNotice AKind, const std::wstring& AText) override {
        if (AKind == TNotice::Event) Events.push_back(L"Event: " + AText);
        if (!NoticeShown(AKind, Debug, false)) return;
        Shown.push_back((AKind == TNotice::Error ? L"ErrMsg: " : L"Msg: ") + AText);
    }
    void ShowConfigInfo(const TStartFacts& AStart) override {
        Shown.push_back(L"ShowConfigInfo: " + AStart.CommandLine);
    }
    void Wakeup() override { Events.push_back(L"Wakeup"); }
    void CommandReady(const std::wstring& AResultText) override {
        Events.push_back(L"CommandReady(" + AResultText + L")");
    }

    std::int32_t Debug = 0;  // the link's diagnostic level
    std::vector<std::wstring> Shown;
    std::vector<std::wstring> Events;
};

// One control with its fakes, a recording host and the settings the link would pass, for the
// control's own tests.
struct TControlRig {
    TFakeControlPlatform fakes;
    TFakeControlHost host;
    TControlSettings settings;
    TOndarixControl control{fakes.Platform(), host};

    TControlRig() {
        settings.IniFn = L"C:\\Link\\deruz64.ini";
        settings.DllFn = L"C:\\Link\\DeRuz64.dll";
    }
    const TControlState& state() const { return control.State(); }
    // The application runs already, started from the default path.
    void RunningInstance(const std::wstring& AClassName = L"TOxWindow") {
        fakes.Desktop.Windows.push_back({0x100, AClassName, 77, L"c:\\ondarix\\ONDARIX.EXE"});
    }
    // The control has found a running instance with the main window Wnd, which hands its
    // server over through shared memory when Marshal is set; what that showed and did is
    // forgotten.
    void Found(bool AMarshal, TWindowHandle AWnd = 0x777) {
        fakes.Desktop.Windows.push_back({AWnd, L"TOxWindow", 77, L"C:\\Ondarix\\Ondarix.exe"});
        fakes.Files.Versions[L"C:\\Ondarix\\Ondarix.exe"] = AMarshal ? L"3.1.0.0" : L"3.0.0.0";
        const bool LUseMarshalling = settings.UseMarshalling;
        settings.UseMarshalling = true;
        const bool LFound = control.DoStartOndarix(settings);
        settings.UseMarshalling = LUseMarshalling;
        if (!LFound || state().OxWnd != AWnd || state().MarshalInterface != AMarshal) {
            throw std::logic_error("the control did not find the instance as arranged");
        }
        fakes.Files.Versions.clear();
        fakes.Desktop.Events.clear();
        host.Shown.clear();
    }
    // The control is connected to the server of an instance it found; what that showed and
    // called is forgotten.
    void Connected() {
        Found(false);
        if (!control.ConnectOndarix(settings)) {
            throw std::logic_error("the control did not connect as arranged");
        }
        fakes.Server.Calls().clear();
        host.Shown.clear();
    }
    std::uint32_t Elapsed(std::uint32_t AStartTick) const {
        return fakes.Desktop.Tick - AStartTick;
    }
};

}  // namespace deruz::control::testing
