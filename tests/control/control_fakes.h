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

inline std::wstring FoldAscii(std::wstring_view s) {
    std::wstring out(s);
    for (auto& c : out) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
    }
    return out;
}

struct TCaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return FoldAscii(a) < FoldAscii(b);
    }
};

inline bool SameText(std::wstring_view a, std::wstring_view b) {
    return FoldAscii(a) == FoldAscii(b);
}

inline bool StartsWithText(std::wstring_view s, std::wstring_view prefix) {
    return s.size() >= prefix.size() && SameText(s.substr(0, prefix.size()), prefix);
}

// An INI file's contents: section -> key -> text.
using TIniKeys = std::map<std::wstring, std::wstring, TCaseLess>;
using TIniFile = std::map<std::wstring, TIniKeys, TCaseLess>;

// Files (each with INI contents, empty for other files), folders and file versions. A file's
// folders exist with it.
class TFakeFiles final : public TFileSystem {
  public:
    void AddFile(const std::wstring& Path, TIniFile Contents = {}) {
        Files[Path] = std::move(Contents);
        for (std::size_t i = Path.find_last_of(L'\\'); i != std::wstring::npos && i > 0;
             i = Path.find_last_of(L'\\', i - 1)) {
            Folders.insert(Path.substr(0, i));
        }
    }
    void AddFolder(const std::wstring& Path) { Folders.insert(WithoutTrailingDelimiter(Path)); }
    // Sets one key, creating the file when needed.
    void Set(const std::wstring& Path, const std::wstring& Section, const std::wstring& Key,
             const std::wstring& Value) {
        if (!Files.count(Path)) AddFile(Path);
        Files[Path][Section][Key] = Value;
    }

    bool FileExists(const std::wstring& Path) override { return Files.count(Path) != 0; }
    bool DirectoryExists(const std::wstring& Path) override {
        return Folders.count(WithoutTrailingDelimiter(Path)) != 0;
    }
    bool CopyNew(const std::wstring& From, const std::wstring& To) override {
        Copies.push_back({From, To});
        if (Files.count(To) || !Files.count(From)) return false;
        AddFile(To, Files[From]);
        return true;
    }
    std::wstring FileVersion(const std::wstring& Path) override {
        if (FailFileVersion) throw EControlError(L"version resource unreadable");
        const auto it = Versions.find(Path);
        return it == Versions.end() ? L"" : it->second;
    }

    std::map<std::wstring, TIniFile, TCaseLess> Files;
    std::set<std::wstring, TCaseLess> Folders;
    std::map<std::wstring, std::wstring, TCaseLess> Versions;
    bool FailFileVersion = false;
    std::vector<std::pair<std::wstring, std::wstring>> Copies;  // every CopyNew call

  private:
    static std::wstring WithoutTrailingDelimiter(std::wstring Path) {
        while (Path.size() > 1 && Path.back() == L'\\') Path.pop_back();
        return Path;
    }
};

// Reads the INI files of a TFakeFiles.
class TFakeIni final : public TIniReader {
  public:
    explicit TFakeIni(TFakeFiles& Files) : FFiles(Files) {}

    // Like the system's private-profile integer read: optional sign, then the leading
    // digits (none gives 0); the default only when the key is missing.
    std::int32_t ReadInteger(const std::wstring& File, const std::wstring& Section,
                             const std::wstring& Key, std::int32_t Default) override {
        if (OnRead) OnRead();
        const std::wstring* text = Find(File, Section, Key);
        if (text == nullptr) return Default;
        std::size_t i = 0;
        bool negative = false;
        if (i < text->size() && ((*text)[i] == L'-' || (*text)[i] == L'+')) {
            negative = (*text)[i] == L'-';
            ++i;
        }
        std::uint32_t value = 0;
        for (; i < text->size() && (*text)[i] >= L'0' && (*text)[i] <= L'9'; ++i) {
            value = value * 10 + static_cast<std::uint32_t>((*text)[i] - L'0');
        }
        return static_cast<std::int32_t>(negative ? 0u - value : value);
    }
    std::wstring ReadString(const std::wstring& File, const std::wstring& Section,
                            const std::wstring& Key, const std::wstring& Default,
                            std::size_t MaxChars) override {
        if (OnRead) OnRead();
        const std::wstring* text = Find(File, Section, Key);
        return (text != nullptr ? *text : Default).substr(0, MaxChars);
    }

    std::function<void()> OnRead;  // runs at each read (it may raise)

  private:
    const std::wstring* Find(const std::wstring& File, const std::wstring& Section,
                             const std::wstring& Key) {
        const auto file = FFiles.Files.find(File);
        if (file == FFiles.Files.end()) return nullptr;
        const auto section = file->second.find(Section);
        if (section == file->second.end()) return nullptr;
        const auto key = section->second.find(Key);
        return key == section->second.end() ? nullptr : &key->second;
    }
    TFakeFiles& FFiles;
};

class TFakeRegistry final : public TRegistryReader {
  public:
    // A key that opens, with no values yet.
    void AddKey(TRegistryRoot Root, const std::wstring& Key) { Keys[Name(Root, Key)]; }
    void Set(TRegistryRoot Root, const std::wstring& Key, const std::wstring& Value,
             const std::wstring& Text) {
        Keys[Name(Root, Key)][Value] = Text;
    }
    std::optional<std::wstring> ReadText(TRegistryRoot Root, const std::wstring& Key,
                                         const std::wstring& Value) override {
        const auto key = Keys.find(Name(Root, Key));
        if (key == Keys.end()) return std::nullopt;
        const auto value = key->second.find(Value);
        return value == key->second.end() ? L"" : value->second;
    }

    std::map<std::wstring, std::map<std::wstring, std::wstring, TCaseLess>, TCaseLess> Keys;

  private:
    static std::wstring Name(TRegistryRoot Root, const std::wstring& Key) {
        return (Root == TRegistryRoot::ClassesRoot ? L"HKCR\\" : L"HKCU\\") + Key;
    }
};

class TFakeSystem final : public TSystemInfo {
  public:
    std::wstring Environment(const std::wstring& Name, std::size_t MaxChars) override {
        const auto it = Env.find(Name);
        return it == Env.end() ? L"" : it->second.substr(0, MaxChars);
    }
    std::wstring ComputerName() override { return Computer; }
    std::wstring UserName() override { return User; }
    bool IsRemoteSession() override { return Remote; }
    std::uint32_t CurrentProcessId() override { return Pid; }
    std::wstring ErrorText(std::uint32_t Code) override {
        const auto it = ErrorTexts.find(Code);
        return it == ErrorTexts.end() ? L"" : it->second;
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
    TFakeProcess(TFakeDesktop& Desktop, std::uint32_t Pid) : FDesktop(Desktop), FPid(Pid) {}
    ~TFakeProcess() override;
    std::uint32_t ProcessId() override { return FPid; }
    void WaitForInputIdle(std::uint32_t Milliseconds) override;

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
    TWindowHandle FindWindowByClassAndPath(const std::wstring& ClassName, const std::wstring& Path,
                                           std::uint32_t& Pid) override {
        Events.push_back(L"FindWindowByClassAndPath(" + ClassName + L", " + Path + L")");
        for (const auto& w : Windows) {
            if (StartsWithText(w.ClassName, ClassName) && SameText(w.ExePath, Path)) {
                Pid = w.Pid;
                return w.Handle;
            }
        }
        Pid = 0;
        return 0;
    }
    TWindowHandle FindWindowOfProcess(std::uint32_t Pid, const std::wstring& ClassName) override {
        Events.push_back(L"FindWindowOfProcess(" + std::to_wstring(Pid) + L", " + ClassName + L")");
        for (const auto& w : Windows) {
            if (w.Pid == Pid && SameText(w.ClassName, ClassName)) return w.Handle;
        }
        return 0;
    }
    std::vector<TMonitorOrigin> Monitors() override { return MonitorList; }
    std::unique_ptr<TStartedProcess> StartProcess(const std::wstring& CommandLine,
                                                  const std::wstring& Folder, std::int32_t X,
                                                  std::int32_t Y, std::uint32_t& Error) override {
        Starts.push_back({CommandLine, Folder, X, Y});
        Events.push_back(L"StartProcess");
        if (StartError != 0) {
            Error = StartError;
            return nullptr;
        }
        Error = 0;
        const std::size_t pidAt = CommandLine.find(L" -pid:");
        const std::wstring pid = pidAt == std::wstring::npos ? L"" : CommandLine.substr(pidAt + 6);
        FApp = TPendingApp{Tick,
                           NewPid,
                           L"TOxWindow" + pid,
                           L"OXReadyForLink" + pid,
                           CommandLine.substr(0, CommandLine.find(L" -dde")),
                           false,
                           false};
        AppearDue();
        return std::make_unique<TFakeProcess>(*this, NewPid);
    }
    bool GlobalAtomExists(const std::wstring& Name) override {
        for (const auto& a : Atoms) {
            if (SameText(a, Name)) return true;
        }
        return false;
    }
    std::uint32_t TickCount() override { return Tick; }
    void Sleep(std::uint32_t Milliseconds) override {
        ++Sleeps;
        Tick += Milliseconds;
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
        const std::uint32_t elapsed = Tick - FApp->StartTick;
        if (!FApp->WindowShown && WindowAfter && elapsed >= *WindowAfter) {
            FApp->WindowShown = true;
            Windows.push_back({NewWindow, FApp->ClassName, FApp->Pid, FApp->ExePath});
        }
        if (!FApp->AtomAdded && AtomAfter && elapsed >= *AtomAfter) {
            FApp->AtomAdded = true;
            Atoms.push_back(FApp->Atom);
        }
    }
    std::optional<TPendingApp> FApp;
};

inline TFakeProcess::~TFakeProcess() {
    FDesktop.Events.push_back(L"ProcessClosed");
}

inline void TFakeProcess::WaitForInputIdle(std::uint32_t Milliseconds) {
    FDesktop.Events.push_back(L"WaitForInputIdle(" + std::to_wstring(Milliseconds) + L")");
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
    explicit TFakeInterface(int Id) : Id(Id) {}
    int Id;
};

class TFakeConnection final : public TServerConnection {
  public:
    explicit TFakeConnection(std::shared_ptr<TFakeServerLog> Log) : FLog(std::move(Log)) {}
    ~TFakeConnection() override {
        FLog->Calls.push_back(L"freed");
        if (FLog->Wired == this) {
            FLog->Wired = nullptr;
            FLog->Handler = nullptr;
        }
    }
    void Connect() override { Call(L"Connect", L"Connect"); }
    void ConnectTo(std::unique_ptr<TServerInterface> Intf) override {
        const auto* fake = dynamic_cast<const TFakeInterface*>(Intf.get());
        Call(L"ConnectTo", L"ConnectTo(#" + std::to_wstring(fake ? fake->Id : 0) + L")");
    }
    void Disconnect() override { Call(L"Disconnect", L"Disconnect"); }
    void SetEvents(TServerEvents* Handler) override {
        FLog->Calls.push_back(Handler != nullptr ? L"SetEvents" : L"SetEvents(null)");
        FLog->Handler = Handler;
        FLog->Wired = this;
    }
    std::int32_t Version() override {
        Call(L"Version", L"Version");
        return 3;
    }
    std::int32_t AdminCommand(const std::wstring& Cmd, std::wstring& ReturnText) override {
        FLog->Calls.push_back(L"AdminCommand(" + Cmd + L")");
        if (FLog->DuringAdminCommand) FLog->DuringAdminCommand();
        if (FLog->Fail.count(L"AdminCommand")) throw EControlError(FLog->FailText);
        ReturnText = FLog->AdminText;
        return FLog->AdminResult;
    }
    void SetAppReturnWnd(std::int32_t Value) override {
        Call(L"SetAppReturnWnd", L"SetAppReturnWnd(" + std::to_wstring(Value) + L")");
    }
    void SetLastAdminLinkDLLPath(const std::wstring& Value) override {
        Call(L"SetLastAdminLinkDLLPath", L"SetLastAdminLinkDLLPath(" + Value + L")");
    }
    void Terminate() override { Call(L"Terminate", L"Terminate"); }

  private:
    void Call(const std::wstring& Name, const std::wstring& Entry) {
        FLog->Calls.push_back(Entry);
        if (FLog->Fail.count(Name)) throw EControlError(FLog->FailText);
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

    std::unique_ptr<TServerInterface> FetchMarshalled(TWindowHandle OxWnd,
                                                      std::uint32_t Pid) override {
        Fetches.push_back({OxWnd, Pid});
        if (FetchError) throw EControlError(*FetchError);
        return std::make_unique<TFakeInterface>(static_cast<int>(Fetches.size()));
    }
    std::unique_ptr<TServerConnection> NewProxy() override {
        Log->Calls.push_back(L"NewProxy");
        return std::make_unique<TFakeConnection>(Log);
    }

    std::vector<std::wstring>& Calls() { return Log->Calls; }

    void FireWakeup() { Handler().OnWakeup(*Log->Wired); }
    void FireNewPhoto(std::int32_t PhotoType, std::int32_t DentistID, const std::wstring& PatientID,
                      const std::wstring& PhotoID, std::int32_t Quadrant, std::int32_t Element) {
        Handler().OnNewPhoto(*Log->Wired, PhotoType, DentistID, PatientID, PhotoID, Quadrant,
                             Element);
    }
    void FireCmdReady(std::int32_t ResultValue, const std::wstring& ResultText) {
        Handler().OnCmdReady(*Log->Wired, ResultValue, ResultText);
    }
    void FireAdminNotes(std::int32_t DentistID, const std::wstring& PatientID,
                        const std::wstring& ToothPosition, const std::wstring& Code,
                        const std::wstring& Notes) {
        Handler().OnAdminNotes(*Log->Wired, DentistID, PatientID, ToothPosition, Code, Notes);
    }
    void FireRequest(const std::wstring& Cmd) { Handler().OnRequest(*Log->Wired, Cmd); }

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
    void Notice(TNotice Kind, const std::wstring& Text) override {
        if (Kind == TNotice::Event) Events.push_back(L"Event: " + Text);
        if (!NoticeShown(Kind, Debug, false)) return;
        Shown.push_back((Kind == TNotice::Error ? L"ErrMsg: " : L"Msg: ") + Text);
    }
    void ShowConfigInfo(const TStartFacts& Start) override {
        Shown.push_back(L"ShowConfigInfo: " + Start.CommandLine);
    }
    void Wakeup() override { Events.push_back(L"Wakeup"); }
    void CommandReady(const std::wstring& ResultText) override {
        Events.push_back(L"CommandReady(" + ResultText + L")");
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
    void RunningInstance(const std::wstring& ClassName = L"TOxWindow") {
        fakes.Desktop.Windows.push_back({0x100, ClassName, 77, L"c:\\ondarix\\ONDARIX.EXE"});
    }
    // The control has found a running instance with the main window Wnd, which hands its
    // server over through shared memory when Marshal is set; what that showed and did is
    // forgotten.
    void Found(bool Marshal, TWindowHandle Wnd = 0x777) {
        fakes.Desktop.Windows.push_back({Wnd, L"TOxWindow", 77, L"C:\\Ondarix\\Ondarix.exe"});
        fakes.Files.Versions[L"C:\\Ondarix\\Ondarix.exe"] = Marshal ? L"3.1.0.0" : L"3.0.0.0";
        const bool useMarshalling = settings.UseMarshalling;
        settings.UseMarshalling = true;
        const bool found = control.DoStartOndarix(settings);
        settings.UseMarshalling = useMarshalling;
        if (!found || state().OxWnd != Wnd || state().MarshalInterface != Marshal) {
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
    std::uint32_t Elapsed(std::uint32_t StartTick) const { return fakes.Desktop.Tick - StartTick; }
};

}  // namespace deruz::control::testing
