#include "link/link_config.h"

#include "control/config_file.h"
#include "control/notices.h"
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
                 systools::TStringList& List) {
    const std::wstring text = Ini.ReadString(MainIniFn, kProfiles, Key, L"", kListChars);
    static const systools::TSysCharSet separators = systools::SysCharSet(L",;");
    static const systools::TSysCharSet whiteSpace = systools::SysCharSet(L" ");
    systools::SysExtractStrings(separators, whiteSpace, text.c_str(), &List, true);
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

TLinkConfig ResolveConfiguration(const std::wstring& IniP, const std::wstring& DllFn,
                                 const TLinkConfig& InForce,
                                 const control::TControlPlatform& Platform,
                                 const TUserMessages& Messages) {
    control::TIniReader& ini = *Platform.Ini;
    control::TFileSystem& files = *Platform.Files;
    control::TSystemInfo& system = *Platform.System;
    const std::wstring dllFolder = ExtractFilePath(DllFn);
    TLinkConfig config;

    // The main file: in the host's folder when it names one that holds it, else beside the
    // library.
    std::wstring folder = !IniP.empty() && files.DirectoryExists(IniP) ? IniP : dllFolder;
    if (!files.FileExists(WithTrailingDelimiter(folder) + kMainIniName)) folder = dllFolder;
    config.MainIniFn = WithTrailingDelimiter(folder) + kMainIniName;

    const std::int32_t debug = ini.ReadInteger(config.MainIniFn, kIniSection, L"Debug", 0);
    if (debug < 0) throw control::RangeCheckError();
    config.Debug = debug;
    // The profile choice is shown under the level just read, not the one still in force.
    auto showStep = [&](const std::wstring& Text) {
        if (control::NoticeShown(control::TNotice::Detail, config.Debug, false)) Messages.Msg(Text);
    };

    config.UserNames = InForce.UserNames;
    config.ClientNames = InForce.ClientNames;
    config.ComputerNames = InForce.ComputerNames;
    AppendNames(ini, config.MainIniFn, L"Users", config.UserNames);
    AppendNames(ini, config.MainIniFn, L"Clients", config.ClientNames);
    AppendNames(ini, config.MainIniFn, L"Computers", config.ComputerNames);

    // Profiles: remote client (only inside a remote session), then computer, then user.
    std::wstring client = system.Environment(L"CLIENTNAME", kListChars);
    if (systools::SameTextIgnoreCase(client, L"CONSOLE")) client.clear();
    if (system.IsRemoteSession() && !client.empty()) {
        if (config.ClientNames.IndexOf(L"$rdp") >= 0) {
            config.IniFn = CreateCustomIniFn(config.MainIniFn, L"$rdp");
        } else if (config.ClientNames.IndexOf(client) >= 0) {
            config.IniFn = CreateCustomIniFn(config.MainIniFn, client);
        }
        showStep(Format1(L"running in RDP session, clientname='", client, L"'"));
        if (!config.IniFn.empty()) showStep(L"using clientname=" + config.IniFn);
    }
    if (config.IniFn.empty()) {
        const std::wstring computer = system.ComputerName();
        if (config.ComputerNames.IndexOf(computer) >= 0) {
            config.IniFn = CreateCustomIniFn(config.MainIniFn, computer);
            showStep(L"using computername=" + config.IniFn);
        }
    }
    if (config.IniFn.empty()) {
        const std::wstring user = system.UserName();
        if (config.UserNames.IndexOf(user) >= 0) {
            config.IniFn = CreateCustomIniFn(config.MainIniFn, user);
            showStep(L"using username=" + config.IniFn);
        }
    }
    if (!config.IniFn.empty()) {
        // A profile always lies beside the library and starts as a copy of the main file.
        config.IniFn = dllFolder + ExtractFileName(config.IniFn);
        if (!files.FileExists(config.IniFn)) files.CopyNew(config.MainIniFn, config.IniFn);
    } else {
        config.IniFn = config.MainIniFn;
    }

    const std::wstring& f = config.IniFn;
    config.StartUpDelay =
        static_cast<std::uint32_t>(ini.ReadInteger(f, kIniSection, L"StartUpDelay", 400));
    config.UseMutex = ini.ReadInteger(f, kIniSection, L"UseMutex", 1) != 0;
    if (ini.ReadInteger(f, kIniSection, L"UseClipboard", 0) != 0) {
        config.LinkMode = lmClipboard;
    } else if (ini.ReadInteger(f, kIniSection, L"UseMsVirtualChannel", 0) != 0) {
        config.LinkMode = lmMsVirtualChannel;
    } else {
        config.LinkMode = lmNormal;
    }
    config.UsePid = ini.ReadInteger(f, kIniSection, L"UsePid", 0) != 0;
    config.UseMarshalling = ini.ReadInteger(f, kIniSection, L"UseMarshalling", 1) != 0;
    config.DetectOndarix = ini.ReadInteger(f, kIniSection, L"DetectOndarix", 1) != 0;
    config.SetActiveWnd = ini.ReadInteger(f, kIniSection, L"SetActiveWindow", 0) != 0;
    config.OxApp = control::ReadOxProgram(ini, f);
    const std::int32_t dentist = ini.ReadInteger(f, kIniSection, L"ForceDentistID", 0);
    if (dentist < 0) throw control::RangeCheckError();
    config.ForceDentistID = dentist;
    config.ForceExtRoleID = ini.ReadString(f, kIniSection, L"ForceExtRoleID", L"", kTextChars);
    return config;
}

}  // namespace deruz::link
