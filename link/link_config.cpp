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

bool IsDelimiter(wchar_t AC) {
    return AC == L'\\' || AC == L'/' || AC == L':';
}

std::wstring WithTrailingDelimiter(const std::wstring& AFolder) {
    if (!AFolder.empty() && (AFolder.back() == L'\\' || AFolder.back() == L'/')) return AFolder;
    return AFolder + L'\\';
}

// The folder part of a path, with its trailing delimiter ("C:\Link\" of "C:\Link\x.dll").
std::wstring ExtractFilePath(const std::wstring& APath) {
    std::size_t LI = APath.size();
    while (LI > 0 && !IsDelimiter(APath[LI - 1])) --LI;
    return APath.substr(0, LI);
}

std::wstring ExtractFileName(const std::wstring& APath) {
    return APath.substr(ExtractFilePath(APath).size());
}

void AppendNames(control::TIniReader& AIni, const std::wstring& AMainIniFn, const wchar_t* AKey,
                 systools::TStringList& AList) {
    const std::wstring LText = AIni.ReadString(AMainIniFn, kProfiles, AKey, L"", kListChars);
    static const systools::TSysCharSet LSeparators = systools::SysCharSet(L",;");
    static const systools::TSysCharSet LWhiteSpace = systools::SysCharSet(L" ");
    systools::SysExtractStrings(LSeparators, LWhiteSpace, LText.c_str(), &AList, true);
}

std::wstring Format1(const wchar_t* APrefix, const std::wstring& AValue, const wchar_t* ASuffix) {
    return APrefix + AValue + ASuffix;
}

}  // namespace

std::wstring CreateCustomIniFn(const std::wstring& AMainIniFn, const std::wstring& APpendStr) {
    // The extension starts at the last dot of the file name part.
    std::wstring LStem = AMainIniFn;
    const std::size_t LNameStart = ExtractFilePath(AMainIniFn).size();
    const std::size_t LDot = AMainIniFn.find_last_of(L'.');
    if (LDot != std::wstring::npos && LDot >= LNameStart) LStem = AMainIniFn.substr(0, LDot);
    return LStem + L"_" + APpendStr + L".ini";
}

TLinkConfig ResolveConfiguration(const std::wstring& AIniP, const std::wstring& ADllFn,
                                 const TLinkConfig& AInForce,
                                 const control::TControlPlatform& APlatform,
                                 const TUserMessages& AMessages) {
    control::TIniReader& LIni = *APlatform.Ini;
    control::TFileSystem& LFiles = *APlatform.Files;
    control::TSystemInfo& LSystem = *APlatform.System;
    const std::wstring LDllFolder = ExtractFilePath(ADllFn);
    TLinkConfig LConfig;

    // The main file: in the host's folder when it names one that holds it, else beside the
    // library.
    std::wstring LFolder = !AIniP.empty() && LFiles.DirectoryExists(AIniP) ? AIniP : LDllFolder;
    if (!LFiles.FileExists(WithTrailingDelimiter(LFolder) + kMainIniName)) LFolder = LDllFolder;
    LConfig.MainIniFn = WithTrailingDelimiter(LFolder) + kMainIniName;

    const std::int32_t LDebug = LIni.ReadInteger(LConfig.MainIniFn, kIniSection, L"Debug", 0);
    if (LDebug < 0) throw control::RangeCheckError();
    LConfig.Debug = LDebug;
    // The profile choice is shown under the level just read, not the one still in force.
    auto LShowStep = [&](const std::wstring& AText) {
        if (control::NoticeShown(control::TNotice::Detail, LConfig.Debug, false))
            AMessages.Msg(AText);
    };

    LConfig.UserNames = AInForce.UserNames;
    LConfig.ClientNames = AInForce.ClientNames;
    LConfig.ComputerNames = AInForce.ComputerNames;
    AppendNames(LIni, LConfig.MainIniFn, L"Users", LConfig.UserNames);
    AppendNames(LIni, LConfig.MainIniFn, L"Clients", LConfig.ClientNames);
    AppendNames(LIni, LConfig.MainIniFn, L"Computers", LConfig.ComputerNames);

    // Profiles: remote client (only inside a remote session), then computer, then user.
    std::wstring LClient = LSystem.Environment(L"CLIENTNAME", kListChars);
    if (systools::SameTextIgnoreCase(LClient, L"CONSOLE")) LClient.clear();
    if (LSystem.IsRemoteSession() && !LClient.empty()) {
        if (LConfig.ClientNames.IndexOf(L"$rdp") >= 0) {
            LConfig.IniFn = CreateCustomIniFn(LConfig.MainIniFn, L"$rdp");
        } else if (LConfig.ClientNames.IndexOf(LClient) >= 0) {
            LConfig.IniFn = CreateCustomIniFn(LConfig.MainIniFn, LClient);
        }
        LShowStep(Format1(L"running in RDP session, clientname='", LClient, L"'"));
        if (!LConfig.IniFn.empty()) LShowStep(L"using clientname=" + LConfig.IniFn);
    }
    if (LConfig.IniFn.empty()) {
        const std::wstring LComputer = LSystem.ComputerName();
        if (LConfig.ComputerNames.IndexOf(LComputer) >= 0) {
            LConfig.IniFn = CreateCustomIniFn(LConfig.MainIniFn, LComputer);
            LShowStep(L"using computername=" + LConfig.IniFn);
        }
    }
    if (LConfig.IniFn.empty()) {
        const std::wstring LUser = LSystem.UserName();
        if (LConfig.UserNames.IndexOf(LUser) >= 0) {
            LConfig.IniFn = CreateCustomIniFn(LConfig.MainIniFn, LUser);
            LShowStep(L"using username=" + LConfig.IniFn);
        }
    }
    if (!LConfig.IniFn.empty()) {
        // A profile always lies beside the library and starts as a copy of the main file.
        LConfig.IniFn = LDllFolder + ExtractFileName(LConfig.IniFn);
        if (!LFiles.FileExists(LConfig.IniFn)) LFiles.CopyNew(LConfig.MainIniFn, LConfig.IniFn);
    } else {
        LConfig.IniFn = LConfig.MainIniFn;
    }

    const std::wstring& LF = LConfig.IniFn;
    LConfig.StartUpDelay =
        static_cast<std::uint32_t>(LIni.ReadInteger(LF, kIniSection, L"StartUpDelay", 400));
    LConfig.UseMutex = LIni.ReadInteger(LF, kIniSection, L"UseMutex", 1) != 0;
    if (LIni.ReadInteger(LF, kIniSection, L"UseClipboard", 0) != 0) {
        LConfig.LinkMode = lmClipboard;
    } else if (LIni.ReadInteger(LF, kIniSection, L"UseMsVirtualChannel", 0) != 0) {
        LConfig.LinkMode = lmMsVirtualChannel;
    } else {
        LConfig.LinkMode = lmNormal;
    }
    LConfig.UsePid = LIni.ReadInteger(LF, kIniSection, L"UsePid", 0) != 0;
    LConfig.UseMarshalling = LIni.ReadInteger(LF, kIniSection, L"UseMarshalling", 1) != 0;
    LConfig.DetectOndarix = LIni.ReadInteger(LF, kIniSection, L"DetectOndarix", 1) != 0;
    LConfig.SetActiveWnd = LIni.ReadInteger(LF, kIniSection, L"SetActiveWindow", 0) != 0;
    LConfig.OxApp = control::ReadOxProgram(LIni, LF);
    const std::int32_t LDentist = LIni.ReadInteger(LF, kIniSection, L"ForceDentistID", 0);
    if (LDentist < 0) throw control::RangeCheckError();
    LConfig.ForceDentistID = LDentist;
    LConfig.ForceExtRoleID = LIni.ReadString(LF, kIniSection, L"ForceExtRoleID", L"", kTextChars);
    return LConfig;
}

}  // namespace deruz::link
