// The link under Wine from configuration to connection: the real INI reading and profile
// copy, the registry fall-backs, the summary and its Debug rules, and starting, finding and
// connecting to imaging-sim by both paths, with every failure's box and result.
#include <gtest/gtest.h>

#include <algorithm>

#include "systools/wide_text.h"
#include "tests/wine/link_e2e_win32.h"

namespace deruz::testing {
namespace {

TEST_F(LinkE2E, SummaryAtDebugOneWithDetectionOffAndNothingAtDebugZero) {
    WriteIni(
        "Debug=1\r\nDetectOndarix=0\r\nStartUpDelay=250\r\nUseClipboard=1\r\n"
        "oxprogram=C:\\Apps\\Img.EXE",
        "Users=alice, bob\r\nComputers=\r\n");
    ASSERT_EQ(Host().InitI(FFolder.Path(), reinterpret_cast<HWND>(0x1234)), 0);
    ASSERT_EQ(Host().Boxes.size(), 1u);
    const std::wstring LExpected =
        L"Inifile: " + FFolder.File(L"deruz64.ini") +
        L"\r\nProgram name: c:\\apps\\img.exe\r\nWorking dir: \r\nWait Time: 30000 ms\r\n"
        L"Startup delay: 250 ms\r\nAppWnd: 00001234\r\nUse Mutex: yes\r\nLink mode: Clipboard\r\n"
        L"Use PID: no (PID=)\r\nDetectOndarix: no\r\nSeperate user profiles: alice\r\nbob\r\n"
        L"\r\nSeperate computer profiles: \r\nSeperate client profiles: ";
    EXPECT_EQ(Host().Boxes[0].Text, Host().BoxText(LExpected));
    EXPECT_EQ(Host().Boxes[0].Caption, L"Ondarix V3 Link library");
    EXPECT_EQ(Host().Boxes[0].Style, 0x1040u);
    EXPECT_TRUE(RunningImagingSims().empty());

    FHost.reset();
    WriteIni("Debug=0\r\nDetectOndarix=0");
    EXPECT_EQ(Host().InitI(FFolder.Path(), nullptr), 0);
    EXPECT_TRUE(Host().Boxes.empty());
}

TEST_F(LinkE2E, NegativeDebugOrDentistIdIsARangeError) {
    for (const char* LKeys :
         {"Debug=-1\r\nDetectOndarix=0", "ForceDentistID=-3\r\nDetectOndarix=0"}) {
        FHost.reset();
        WriteIni(LKeys);
        EXPECT_EQ(Host().InitI(FFolder.Path(), nullptr), -1001) << LKeys;
        EXPECT_EQ(Host().ErrorStr(), "Range check error") << LKeys;
        ASSERT_EQ(Host().Boxes.size(), 1u) << LKeys;
        EXPECT_EQ(Host().Boxes[0].Text, Host().BoxText(L"Range check error"));
        EXPECT_EQ(Host().Boxes[0].Style, 0x1010u);
    }
}

TEST_F(LinkE2E, UserProfileIsCopiedBesideTheLibraryAndUsed) {
    // A copy of the library in its own folder: profiles are made beside the library.
    TTempFolder LLibFolder;
    const std::wstring LDll = LLibFolder.File(L"DeRuz64.dll");
    ASSERT_TRUE(CopyFileW(BesideTestProgram(L"DeRuz64.dll").c_str(), LDll.c_str(), FALSE));
    wchar_t LUser[257] = {};
    DWORD LSize = 257;
    ASSERT_TRUE(GetUserNameW(LUser, &LSize));
    WriteIni("Debug=1\r\nDetectOndarix=0\r\nStartUpDelay=777", "Users=nobody;" + Narrow(LUser));
    const std::wstring LProfile = LLibFolder.File(L"deruz64_" + std::wstring(LUser) + L".ini");
    {
        TLinkHost LLink(LDll);
        ASSERT_EQ(LLink.InitI(FFolder.Path(), nullptr), 0);
        ASSERT_EQ(LLink.BoxMessages().size(), 2u);
        EXPECT_EQ(LLink.BoxMessages()[0],
                  L"using username=" + FFolder.Path() + L"deruz64_" + LUser + L".ini");
        EXPECT_NE(LLink.BoxMessages()[1].find(L"Inifile: " + LProfile + L"\r\n"),
                  std::wstring::npos);
        EXPECT_NE(LLink.BoxMessages()[1].find(L"Startup delay: 777 ms"), std::wstring::npos);
    }
    // The profile is a byte copy of the main file and is kept as it is afterwards.
    ASSERT_EQ(ReadLines(LProfile), ReadLines(FFolder.File(L"deruz64.ini")));
    WriteTextFile(LProfile, "[OndarixDDE]\r\nDebug=0\r\nDetectOndarix=0\r\nStartUpDelay=5\r\n");
    {
        TLinkHost LLink(LDll);
        ASSERT_EQ(LLink.InitI(FFolder.Path(), nullptr), 0);
        ASSERT_EQ(LLink.BoxMessages().size(), 2u);
        EXPECT_NE(LLink.BoxMessages()[1].find(L"Startup delay: 5 ms"), std::wstring::npos);
    }
    DeleteFileW(LProfile.c_str());
}

// Writes (or, with an empty text, removes) a registry value for one test.
class TRegistryValue {
  public:
    TRegistryValue(HKEY ARoot, const std::wstring& AKey, const std::wstring& AName,
                   const std::wstring& AValue)
        : FRoot(ARoot), FKey(AKey), FName(AName) {
        HKEY LH = nullptr;
        RegCreateKeyExW(ARoot, AKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &LH, nullptr);
        if (AValue.empty()) {
            RegDeleteValueW(LH, AName.empty() ? nullptr : AName.c_str());
        } else {
            RegSetValueExW(LH, AName.empty() ? nullptr : AName.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(AValue.c_str()),
                           static_cast<DWORD>((AValue.size() + 1) * sizeof(wchar_t)));
        }
        RegCloseKey(LH);
    }
    ~TRegistryValue() {
        HKEY LH = nullptr;
        if (RegOpenKeyExW(FRoot, FKey.c_str(), 0, KEY_ALL_ACCESS, &LH) == ERROR_SUCCESS) {
            RegDeleteValueW(LH, FName.empty() ? nullptr : FName.c_str());
            RegCloseKey(LH);
        }
    }

  private:
    HKEY FRoot;
    std::wstring FKey;
    std::wstring FName;
};

const wchar_t kTypeLibKey[] = L"TypeLib\\{56D73100-E9A8-108B-A830-CD14D0517F8A}\\1.0\\0\\win32";
const wchar_t kParametersKey[] = L"SoftWare\\Belvanor\\Ondarix\\Parameters";

TEST_F(LinkE2E, RegistryLocatesTheApplicationAndStartFailureIsShown) {
    TRegistryValue LApp(HKEY_CLASSES_ROOT, kTypeLibKey, L"", L"Z:\\no\\such\\Img\\Ondarix.exe");
    TRegistryValue LDir(HKEY_CURRENT_USER, kParametersKey, L"OxWorkingDir", L"Z:\\elsewhere");
    WriteIni("Debug=1");
    EXPECT_EQ(Host().InitI(FFolder.Path(), nullptr), -1000);
    const auto LMessages = Host().BoxMessages();
    ASSERT_EQ(LMessages.size(), 5u);
    EXPECT_EQ(LMessages[0],
              L"Getting Ondarix path from registry:\r\nApp: Z:\\no\\such\\Img\\Ondarix.exe");
    // The file has no readable version, which ranks above the threshold.
    EXPECT_EQ(LMessages[1], L"Marshal interface enabled");
    // The registration's folder, not the current-user value, is the working folder.
    EXPECT_NE(LMessages[2].find(L"\r\nWorking dir: Z:\\no\\such\\Img\r\n"), std::wstring::npos);
    EXPECT_EQ(LMessages[3], L"No Ondarix, trying to start it");
    const std::wstring LPrefix =
        L"Could not run \"Z:\\no\\such\\Img\\Ondarix.exe -dde\", working directory "
        L"\"Z:\\no\\such\\Img\"\r\n\r\n";
    EXPECT_EQ(LMessages[4].substr(0, LPrefix.size()), LPrefix);
    EXPECT_GT(LMessages[4].size(), LPrefix.size());  // the system's reason follows
    EXPECT_EQ(Host().Boxes[4].Style, 0x1010u);
}

TEST_F(LinkE2E, ConfiguredProgramTakesTheCurrentUserWorkingFolderElseTheDefault) {
    TRegistryValue LDir(HKEY_CURRENT_USER, kParametersKey, L"OxWorkingDir", L"Z:\\from\\registry");
    WriteIni("Debug=1\r\noxprogram=Z:\\no\\such\\Ondarix.exe");
    EXPECT_EQ(Host().InitI(FFolder.Path(), nullptr), -1000);
    ASSERT_GE(Host().BoxMessages().size(), 2u);
    EXPECT_NE(Host().BoxMessages()[1].find(L"\r\nWorking dir: Z:\\from\\registry\r\n"),
              std::wstring::npos);
}

TEST_F(LinkE2E, ColdStartHandsOverTheServerAndConnects) {
    WriteIni("Debug=1\r\n" + SimKeys());
    const HWND LHostWnd = reinterpret_cast<HWND>(0x4321);
    ASSERT_EQ(Host().InitI(FFolder.Path(), LHostWnd), 0);
    const auto LMessages = Host().BoxMessages();
    // The configured program is kept in lower case.
    std::wstring LCmd = Sim() + L" -dde";
    CharLowerBuffW(LCmd.data(), static_cast<DWORD>(LCmd.size()));
    ASSERT_EQ(LMessages.size(), 9u);
    EXPECT_EQ(LMessages[0], L"Marshal interface enabled");
    EXPECT_NE(LMessages[1].find(L"\r\nStart command: " + LCmd + L"\r\n"), std::wstring::npos);
    EXPECT_EQ(LMessages[2], L"No Ondarix, trying to start it");
    EXPECT_EQ(LMessages[3], L"Ondarix process is created");
    EXPECT_EQ(LMessages[4], L"Using mutex to see if Ondarix is ready, waiting 30.0s");
    EXPECT_EQ(LMessages[5], L"Found Mutex Atom");
    EXPECT_EQ(LMessages[6], L"Marshalling Ondarix interface...");
    EXPECT_EQ(LMessages[7], L"Creating IOx3Server server object...");
    EXPECT_EQ(LMessages[8], L"Connecting to IOx3Server server object...");

    // What the application received: its command line, folder and position, the hand-over
    // for this process, then the server calls in order.
    const auto LStarts = SimLines("start ");
    ASSERT_EQ(LStarts.size(), 1u);
    EXPECT_NE(LStarts[0].find("cmdline=" + Narrow(LCmd)), std::string::npos) << LStarts[0];
    std::string LCwd = Narrow(FFolder.Path());
    EXPECT_NE(LStarts[0].find("cwd=" + LCwd.substr(0, LCwd.size() - 1)), std::string::npos)
        << LStarts[0];
    EXPECT_NE(LStarts[0].find(" x=0 y=0"), std::string::npos) << LStarts[0];
    std::vector<std::string> LCalls;
    for (const auto& LLine : SimLog()) {
        for (const char* LCall : {"handover wparam", "advise ", "AppReturnWnd", "LastAdmin"}) {
            if (LLine.rfind(LCall, 0) == 0) LCalls.push_back(LLine);
        }
    }
    const std::string LPid = std::to_string(GetCurrentProcessId());
    ASSERT_GE(LCalls.size(), 4u);
    EXPECT_EQ(LCalls[0], "handover wparam=" + LPid + " lparam=0");
    EXPECT_EQ(LCalls[1].rfind("advise cookie=", 0), 0u) << LCalls[1];
    EXPECT_EQ(LCalls[2], "AppReturnWnd value=" + std::to_string(0x4321));
    wchar_t LDll[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"DeRuz64.dll"), LDll, MAX_PATH);
    std::wstring LLower = LDll;
    CharLowerBuffW(LLower.data(), static_cast<DWORD>(LLower.size()));
    EXPECT_EQ(LCalls[3], "LastAdminLinkDLLPath value=" + Narrow(LLower));

    // A repeated initialisation while connected only updates the return window.
    EXPECT_EQ(Host().InitI(FFolder.Path(), nullptr), 0);
    EXPECT_EQ(Host().Boxes.size(), 9u);
    EXPECT_EQ(SimLines("start ").size(), 1u);

    // The end of the link: a box, then Terminate and the events unadvised.
    EXPECT_EQ(Host().Exit(), 0);
    EXPECT_EQ(Host().BoxMessages().back(), L"Closing connection with Ondarix");
    const auto LLog = SimLog();
    const auto LTerminate = std::find(LLog.begin(), LLog.end(), "Terminate");
    ASSERT_NE(LTerminate, LLog.end());
    EXPECT_TRUE(std::any_of(LTerminate, LLog.end(),
                            [](const std::string& l) { return l.rfind("unadvise ", 0) == 0; }));
}

TEST_F(LinkE2E, OlderApplicationOrMarshallingOffConnectsThroughActivation) {
    struct TCase {
        bool Old;
        const char* Keys;
        const wchar_t* Decision;
    };
    for (const TCase& LC :
         {TCase{true, "Debug=2\r\n", L"Marshal interface disabled"},
          TCase{false, "Debug=2\r\nUseMarshalling=0\r\n", L"Marshal interface disabled"}}) {
        FHost.reset();
        CloseImagingSims();
        DeleteFileW(SimLogPath().c_str());
        WriteIni(LC.Keys + SimKeys(LC.Old));
        ASSERT_EQ(Host().InitI(FFolder.Path(), reinterpret_cast<HWND>(0x77)), 0) << LC.Keys;
        // Debug 2 shows only the messages of level "1 or more".
        ASSERT_EQ(Host().BoxMessages().size(), 1u) << LC.Keys;
        EXPECT_EQ(Host().BoxMessages()[0], LC.Decision);
        EXPECT_TRUE(SimLines("handover").empty()) << LC.Keys;
        EXPECT_EQ(SimLines("advise ").size(), 1u) << LC.Keys;
        EXPECT_EQ(SimLines("AppReturnWnd value=119").size(), 1u) << LC.Keys;
        EXPECT_EQ(Host().Command("result|5|done"), 5);
        EXPECT_EQ(Host().ErrorStr(), "done");
    }
}

TEST_F(LinkE2E, RunningInstanceIsFoundInsteadOfStarted) {
    // The application started before the link, as the practice would have it running.
    std::wstring LCmd = Sim() + L" -dde";
    STARTUPINFOW LSi{};
    LSi.cb = sizeof LSi;
    PROCESS_INFORMATION LPi{};
    ASSERT_TRUE(CreateProcessW(nullptr, LCmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               FFolder.Path().c_str(), &LSi, &LPi));
    WaitForInputIdle(LPi.hProcess, 10000);
    for (int LI = 0; LI < 100 && GlobalFindAtomW(L"OXReadyForLink") == 0; ++LI) Sleep(50);
    CloseHandle(LPi.hThread);
    CloseHandle(LPi.hProcess);

    WriteIni("Debug=1\r\n" + SimKeys());
    ASSERT_EQ(Host().InitI(FFolder.Path(), nullptr), 0);
    const auto LMessages = Host().BoxMessages();
    EXPECT_EQ(std::count(LMessages.begin(), LMessages.end(), L"No Ondarix, trying to start it"), 0);
    EXPECT_EQ(SimLines("start ").size(), 1u);
    EXPECT_EQ(SimLines("handover wparam").size(), 1u);
}

TEST_F(LinkE2E, UsePidAndFixedDelayStartAnInstanceForThisHost) {
    WriteIni("Debug=1\r\nUsePid=1\r\nUseMutex=0\r\nStartUpDelay=300\r\n" + SimKeys());
    ASSERT_EQ(Host().InitI(FFolder.Path(), nullptr), 0);
    const std::string LPid = std::to_string(GetCurrentProcessId());
    const auto LStarts = SimLines("start ");
    ASSERT_EQ(LStarts.size(), 1u);
    EXPECT_NE(LStarts[0].find(" -dde -pid:" + LPid), std::string::npos) << LStarts[0];
    const auto LMessages = Host().BoxMessages();
    EXPECT_NE(std::find(LMessages.begin(), LMessages.end(),
                        L"Not using mutex to see if Ondarix is ready (just waiting 300ms)"),
              LMessages.end());
    EXPECT_NE(LMessages[1].find(L"\r\nUse PID: yes (PID=" + std::to_wstring(GetCurrentProcessId()) +
                                L")\r\n"),
              std::wstring::npos);
}

TEST_F(LinkE2E, EachHandOverFailureHasItsBoxAndNoConnection) {
    struct TCase {
        const wchar_t* Options;
        std::wstring Reason;
    };
    const TCase LCases[] = {
        {L"handover=empty", L"Error: shared memory does not contain data"},
        {L"handover=ignore", L"Error: shared memory does not contain data"},
        {L"handover=garbage", L"Failed to load interface pointer"},
        {L"handover=oversize",
         L"Error: shared memory announces 6000 bytes of data, more than its 4998 bytes can hold"},
        {L"handover=error:0x80070005", L"Ondarix returned error "},
    };
    for (const TCase& LC : LCases) {
        FHost.reset();
        CloseImagingSims();
        SetEnvironmentVariableW(L"IMAGING_SIM_OPTIONS", LC.Options);
        WriteIni("Debug=0\r\n" + SimKeys());
        EXPECT_EQ(Host().InitI(FFolder.Path(), nullptr), -1000) << Narrow(LC.Options);
        ASSERT_EQ(Host().Boxes.size(), 1u) << Narrow(LC.Options);
        const std::wstring LExpected =
            L"Exception communicating with IOx3Server server:\r\n\r\n" + LC.Reason;
        const std::wstring LShown = Host().BoxMessages()[0];
        EXPECT_EQ(LShown.substr(0, LExpected.size()), LExpected) << Narrow(LC.Options);
        EXPECT_EQ(Host().Boxes[0].Style, 0x1010u);
        // No connection was kept: a command finds none and starts the connection again.
        EXPECT_TRUE(SimLines("advise ").empty()) << Narrow(LC.Options);
    }
    // The system's text for the code follows the prefix.
    EXPECT_GT(Host().BoxMessages()[0].size(),
              std::wstring(
                  L"Exception communicating with IOx3Server server:\r\n\r\nOndarix returned error ")
                  .size());
}

TEST_F(LinkE2E, KilledApplicationIsRestartedBeforeTheNextCommand) {
    WriteIni("Debug=0\r\n" + SimKeys());
    ASSERT_EQ(Host().InitI(FFolder.Path(), nullptr), 0);
    EXPECT_EQ(Host().Command("result|1|first"), 1);
    KillImagingSims();
    EXPECT_EQ(Host().Command("result|2|second"), 2);
    EXPECT_EQ(Host().ErrorStr(), "second");
    EXPECT_EQ(SimLines("start ").size(), 2u);
    EXPECT_EQ(SimLines("handover wparam").size(), 2u);
    // After ONDA_EXIT the next command starts and connects again.
    EXPECT_EQ(Host().Exit(), 0);
    EXPECT_EQ(Host().Command("result|3|third"), 3);
    EXPECT_EQ(SimLines("start ").size(), 3u);
}

// With no "oxprogram" the type library registration names the application, and its folder is
// the one to start it in. After ONDA_EXIT has let the application end, the next command starts
// it from there again: the working-folder settings (none here, so the default "C:\Ondarix",
// which does not exist) are for a configured program only.
TEST_F(LinkE2E, AfterExitTheRegisteredApplicationStartsAgainInItsOwnFolder) {
    TRegistryValue LApp(HKEY_CLASSES_ROOT, kTypeLibKey, L"", Sim());
    TRegistryValue LDir(HKEY_CURRENT_USER, kParametersKey, L"OxWorkingDir", L"");  // none
    WriteIni("Debug=0");
    ASSERT_EQ(Host().InitI(FFolder.Path(), nullptr), 0);
    EXPECT_EQ(Host().Command("result|1|first"), 1);
    EXPECT_EQ(Host().Exit(), 0);
    for (int LI = 0; LI < 100 && !RunningImagingSims().empty(); ++LI) Sleep(50);
    ASSERT_TRUE(RunningImagingSims().empty());

    EXPECT_EQ(Host().Command("result|2|second"), 2);
    EXPECT_EQ(Host().ErrorStr(), "second");
    EXPECT_TRUE(Host().BoxMessages().empty());
    std::wstring LSimDir = Sim();
    LSimDir.resize(LSimDir.find_last_of(L'\\'));
    CharLowerBuffW(LSimDir.data(), static_cast<DWORD>(LSimDir.size()));
    const auto LStarts = SimLines("start ");
    ASSERT_EQ(LStarts.size(), 2u);
    for (const auto& LStart : LStarts) {
        std::wstring LLine = systools::WideFromUtf8(LStart);
        CharLowerBuffW(LLine.data(), static_cast<DWORD>(LLine.size()));
        EXPECT_NE(LLine.find(L" cwd=" + LSimDir + L" "), std::wstring::npos) << LStart;
    }
    EXPECT_EQ(SimLines("advise ").size(), 2u);
}

TEST_F(LinkE2E, UnloadingTerminatesAndUnadvisesEveryConnection) {
    WriteIni("Debug=0\r\n" + SimKeys());
    ASSERT_EQ(Host().InitI(FFolder.Path(), nullptr), 0);
    EXPECT_EQ(Host().Command("version"), 0);
    FHost.reset();  // FreeLibrary
    for (int LI = 0; LI < 100 && !RunningImagingSims().empty(); ++LI) Sleep(50);
    EXPECT_EQ(SimLines("Terminate").size(), 1u);
    EXPECT_EQ(SimLines("advise ").size(), SimLines("unadvise ").size());
    EXPECT_EQ(SimLines("advise ").size(), 1u);
}

}  // namespace
}  // namespace deruz::testing
