#include "link/link_config.h"

#include "control/config_file.h"
#include "systools/strings.h"
#include "systools/wide_text.h"

namespace deruz::link {

namespace {

using control::kIniSection;
using control::kTextChars;

constexpr wchar_t kProfiles[] = L"Profiles";
constexpr std::size_t kListChars = 1500;

bool IsDelimiter(wchar_t c) {
    return c == L'\\' || c == L'/' || c == L':';
}

std::wstring WithTrailingDelimiter(const std::wstring& Folder) {
    if (!Folder.empty() && (Folder.back() == L'\\' || Folder.back() == L'/')) return Folder;
    return Folder + L'\\';
}

// The folder part of a path, with its trailing delimiter ("C:\Link\" of "C:\Link\x.dll").
std::wstring ExtractFilePath(const std::wstring& Path) {
    std::size_t i = Path.size();
    while (i > 0 && !IsDelimiter(Path[i - 1])) --i;
    return Path.substr(0, i);
}

std::wstring ExtractFileName(const std::wstring& Path) {
    return Path.substr(ExtractFilePath(Path).size());
}

void AppendNames(control::TIniReader& Ini, const std::wstring& MainIniFn, const wchar_t* Key,
                 systools::TStringList* List) {
    const std::wstring text = Ini.ReadString(MainIniFn, kProfiles, Key, L"", kListChars);
    static const systools::TSysCharSet separators = systools::SysCharSet(L",;");
    static const systools::TSysCharSet whiteSpace = systools::SysCharSet(L" ");
    systools::SysExtractStrings(separators, whiteSpace, text.c_str(), List, true);
}

bool Contains(const systools::TStringList* List, const std::wstring& Name) {
    return List != nullptr && List->IndexOf(Name) >= 0;
}

std::wstring Format1(const wchar_t* Prefix, const std::wstring& Value, const wchar_t* Suffix) {
    return Prefix + Value + Suffix;
}

}  // namespace

std::wstring CreateCustomIniFn(const std::wstring& MainIniFn, const std::wstring& AppendStr) {
    // The extension starts at the last dot of the file name part.
    std::wstring stem = MainIniFn;
    const std::size_t nameStart = ExtractFilePath(MainIniFn).size();
    const std::size_t dot = MainIniFn.find_last_of(L'.');
    if (dot != std::wstring::npos && dot >= nameStart) stem = MainIniFn.substr(0, dot);
    return stem + L"_" + AppendStr + L".ini";
}

void ResolveConfiguration(TLinkState& State, const std::wstring& IniP,
                          const control::TControlPlatform& Platform,
                          control::TControlNotices& Host) {
    control::TIniReader& ini = *Platform.Ini;
    control::TFileSystem& files = *Platform.Files;
    control::TSystemInfo& system = *Platform.System;
    const std::wstring dllFolder = ExtractFilePath(State.DllFn);

    // The main file: in the host's folder when it names one that holds it, else beside the
    // library.
    std::wstring folder = !IniP.empty() && files.DirectoryExists(IniP) ? IniP : dllFolder;
    if (!files.FileExists(WithTrailingDelimiter(folder) + kMainIniName)) folder = dllFolder;
    State.MainIniFn = WithTrailingDelimiter(folder) + kMainIniName;

    const std::int32_t debug = ini.ReadInteger(State.MainIniFn, kIniSection, L"Debug", 0);
    if (debug < 0) throw control::RangeCheckError();
    State.Debug = debug;

    State.IniFn.clear();
    AppendNames(ini, State.MainIniFn, L"Users", State.UserNames.get());
    AppendNames(ini, State.MainIniFn, L"Clients", State.ClientNames.get());
    AppendNames(ini, State.MainIniFn, L"Computers", State.ComputerNames.get());

    // Profiles: remote client (only inside a remote session), then computer, then user.
    std::wstring client = system.Environment(L"CLIENTNAME", kListChars);
    if (systools::SameTextIgnoreCase(client, L"CONSOLE")) client.clear();
    if (system.IsRemoteSession() && !client.empty()) {
        if (Contains(State.ClientNames.get(), L"$rdp")) {
            State.IniFn = CreateCustomIniFn(State.MainIniFn, L"$rdp");
        } else if (Contains(State.ClientNames.get(), client)) {
            State.IniFn = CreateCustomIniFn(State.MainIniFn, client);
        }
        Host.Notice(control::TNotice::Detail,
                    Format1(L"running in RDP session, clientname='", client, L"'"));
        if (!State.IniFn.empty()) {
            Host.Notice(control::TNotice::Detail, L"using clientname=" + State.IniFn);
        }
    }
    if (State.IniFn.empty()) {
        const std::wstring computer = system.ComputerName();
        if (Contains(State.ComputerNames.get(), computer)) {
            State.IniFn = CreateCustomIniFn(State.MainIniFn, computer);
            Host.Notice(control::TNotice::Detail, L"using computername=" + State.IniFn);
        }
    }
    if (State.IniFn.empty()) {
        const std::wstring user = system.UserName();
        if (Contains(State.UserNames.get(), user)) {
            State.IniFn = CreateCustomIniFn(State.MainIniFn, user);
            Host.Notice(control::TNotice::Detail, L"using username=" + State.IniFn);
        }
    }
    if (!State.IniFn.empty()) {
        // A profile always lies beside the library and starts as a copy of the main file.
        State.IniFn = dllFolder + ExtractFileName(State.IniFn);
        if (!files.FileExists(State.IniFn)) files.CopyNew(State.MainIniFn, State.IniFn);
    } else {
        State.IniFn = State.MainIniFn;
    }

    const std::wstring& f = State.IniFn;
    State.StartUpDelay =
        static_cast<std::uint32_t>(ini.ReadInteger(f, kIniSection, L"StartUpDelay", 400));
    State.UseMutex = ini.ReadInteger(f, kIniSection, L"UseMutex", 1) != 0;
    if (ini.ReadInteger(f, kIniSection, L"UseClipboard", 0) != 0) {
        State.LinkMode = lmClipboard;
    } else if (ini.ReadInteger(f, kIniSection, L"UseMsVirtualChannel", 0) != 0) {
        State.LinkMode = lmMsVirtualChannel;
    } else {
        State.LinkMode = lmNormal;
    }
    State.UsePid = ini.ReadInteger(f, kIniSection, L"UsePid", 0) != 0;
    State.UseMarshalling = ini.ReadInteger(f, kIniSection, L"UseMarshalling", 1) != 0;
    State.DetectOndarix = ini.ReadInteger(f, kIniSection, L"DetectOndarix", 1) != 0;
    State.SetActiveWnd = ini.ReadInteger(f, kIniSection, L"SetActiveWindow", 0) != 0;
    State.OxApp = control::ReadOxProgram(ini, f);
    const std::int32_t dentist = ini.ReadInteger(f, kIniSection, L"ForceDentistID", 0);
    if (dentist < 0) throw control::RangeCheckError();
    State.ForceDentistID = dentist;
    State.ForceExtRoleID = ini.ReadString(f, kIniSection, L"ForceExtRoleID", L"", kTextChars);
}

}  // namespace deruz::link
