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
    ASSERT_EQ(Host().InitI(folder.Path(), reinterpret_cast<HWND>(0x1234)), 0);
    ASSERT_EQ(Host().Boxes.size(), 1u);
    const std::wstring expected =
        L"Inifile: " + folder.File(L"deruz64.ini") +
        L"\r\nProgram name: c:\\apps\\img.exe\r\nWorking dir: \r\nWait Time: 30000 ms\r\n"
        L"Startup delay: 250 ms\r\nAppWnd: 00001234\r\nUse Mutex: yes\r\nLink mode: Clipboard\r\n"
        L"Use PID: no (PID=)\r\nDetectOndarix: no\r\nSeperate user profiles: alice\r\nbob\r\n"
        L"\r\nSeperate computer profiles: \r\nSeperate client profiles: ";
    EXPECT_EQ(Host().Boxes[0].Text, Host().BoxText(expected));
    EXPECT_EQ(Host().Boxes[0].Caption, L"Ondarix V3 Link library");
    EXPECT_EQ(Host().Boxes[0].Style, 0x1040u);
    EXPECT_TRUE(RunningImagingSims().empty());

    host.reset();
    WriteIni("Debug=0\r\nDetectOndarix=0");
    EXPECT_EQ(Host().InitI(folder.Path(), nullptr), 0);
    EXPECT_TRUE(Host().Boxes.empty());
}

TEST_F(LinkE2E, NegativeDebugOrDentistIdIsARangeError) {
    for (const char* keys :
         {"Debug=-1\r\nDetectOndarix=0", "ForceDentistID=-3\r\nDetectOndarix=0"}) {
        host.reset();
        WriteIni(keys);
        EXPECT_EQ(Host().InitI(folder.Path(), nullptr), -1001) << keys;
        EXPECT_EQ(Host().ErrorStr(), "Range check error") << keys;
        ASSERT_EQ(Host().Boxes.size(), 1u) << keys;
        EXPECT_EQ(Host().Boxes[0].Text, Host().BoxText(L"Range check error"));
        EXPECT_EQ(Host().Boxes[0].Style, 0x1010u);
    }
}

TEST_F(LinkE2E, UserProfileIsCopiedBesideTheLibraryAndUsed) {
    // A copy of the library in its own folder: profiles are made beside the library.
    TTempFolder libFolder;
    const std::wstring dll = libFolder.File(L"DeRuz64.dll");
    ASSERT_TRUE(CopyFileW(BesideTestProgram(L"DeRuz64.dll").c_str(), dll.c_str(), FALSE));
    wchar_t user[257] = {};
    DWORD size = 257;
    ASSERT_TRUE(GetUserNameW(user, &size));
    WriteIni("Debug=1\r\nDetectOndarix=0\r\nStartUpDelay=777", "Users=nobody;" + Narrow(user));
    const std::wstring profile = libFolder.File(L"deruz64_" + std::wstring(user) + L".ini");
    {
        TLinkHost link(dll);
        ASSERT_EQ(link.InitI(folder.Path(), nullptr), 0);
        ASSERT_EQ(link.BoxMessages().size(), 2u);
        EXPECT_EQ(link.BoxMessages()[0],
                  L"using username=" + folder.Path() + L"deruz64_" + user + L".ini");
        EXPECT_NE(link.BoxMessages()[1].find(L"Inifile: " + profile + L"\r\n"), std::wstring::npos);
        EXPECT_NE(link.BoxMessages()[1].find(L"Startup delay: 777 ms"), std::wstring::npos);
    }
    // The profile is a byte copy of the main file and is kept as it is afterwards.
    ASSERT_EQ(ReadLines(profile), ReadLines(folder.File(L"deruz64.ini")));
    WriteTextFile(profile, "[OndarixDDE]\r\nDebug=0\r\nDetectOndarix=0\r\nStartUpDelay=5\r\n");
    {
        TLinkHost link(dll);
        ASSERT_EQ(link.InitI(folder.Path(), nullptr), 0);
        ASSERT_EQ(link.BoxMessages().size(), 2u);
        EXPECT_NE(link.BoxMessages()[1].find(L"Startup delay: 5 ms"), std::wstring::npos);
    }
    DeleteFileW(profile.c_str());
}

// Writes (or, with an empty text, removes) a registry value for one test.
class TRegistryValue {
  public:
    TRegistryValue(HKEY root, const std::wstring& key, const std::wstring& name,
                   const std::wstring& value)
        : FRoot(root), FKey(key), FName(name) {
        HKEY h = nullptr;
        RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
        if (value.empty()) {
            RegDeleteValueW(h, name.empty() ? nullptr : name.c_str());
        } else {
            RegSetValueExW(h, name.empty() ? nullptr : name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        }
        RegCloseKey(h);
    }
    ~TRegistryValue() {
        HKEY h = nullptr;
        if (RegOpenKeyExW(FRoot, FKey.c_str(), 0, KEY_ALL_ACCESS, &h) == ERROR_SUCCESS) {
            RegDeleteValueW(h, FName.empty() ? nullptr : FName.c_str());
            RegCloseKey(h);
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
    TRegistryValue app(HKEY_CLASSES_ROOT, kTypeLibKey, L"", L"Z:\\no\\such\\Img\\Ondarix.exe");
    TRegistryValue dir(HKEY_CURRENT_USER, kParametersKey, L"OxWorkingDir", L"Z:\\elsewhere");
    WriteIni("Debug=1");
    EXPECT_EQ(Host().InitI(folder.Path(), nullptr), -1000);
    const auto messages = Host().BoxMessages();
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_EQ(messages[0],
              L"Getting Ondarix path from registry:\r\nApp: Z:\\no\\such\\Img\\Ondarix.exe");
    // The file has no readable version, which ranks above the threshold.
    EXPECT_EQ(messages[1], L"Marshal interface enabled");
    // The registration's folder, not the current-user value, is the working folder.
    EXPECT_NE(messages[2].find(L"\r\nWorking dir: Z:\\no\\such\\Img\r\n"), std::wstring::npos);
    EXPECT_EQ(messages[3], L"No Ondarix, trying to start it");
    const std::wstring prefix =
        L"Could not run \"Z:\\no\\such\\Img\\Ondarix.exe -dde\", working directory "
        L"\"Z:\\no\\such\\Img\"\r\n\r\n";
    EXPECT_EQ(messages[4].substr(0, prefix.size()), prefix);
    EXPECT_GT(messages[4].size(), prefix.size());  // the system's reason follows
    EXPECT_EQ(Host().Boxes[4].Style, 0x1010u);
}

TEST_F(LinkE2E, ConfiguredProgramTakesTheCurrentUserWorkingFolderElseTheDefault) {
    TRegistryValue dir(HKEY_CURRENT_USER, kParametersKey, L"OxWorkingDir", L"Z:\\from\\registry");
    WriteIni("Debug=1\r\noxprogram=Z:\\no\\such\\Ondarix.exe");
    EXPECT_EQ(Host().InitI(folder.Path(), nullptr), -1000);
    ASSERT_GE(Host().BoxMessages().size(), 2u);
    EXPECT_NE(Host().BoxMessages()[1].find(L"\r\nWorking dir: Z:\\from\\registry\r\n"),
              std::wstring::npos);
}

TEST_F(LinkE2E, ColdStartHandsOverTheServerAndConnects) {
    WriteIni("Debug=1\r\n" + SimKeys());
    const HWND hostWnd = reinterpret_cast<HWND>(0x4321);
    ASSERT_EQ(Host().InitI(folder.Path(), hostWnd), 0);
    const auto messages = Host().BoxMessages();
    // The configured program is kept in lower case.
    std::wstring cmd = Sim() + L" -dde";
    CharLowerBuffW(cmd.data(), static_cast<DWORD>(cmd.size()));
    ASSERT_EQ(messages.size(), 9u);
    EXPECT_EQ(messages[0], L"Marshal interface enabled");
    EXPECT_NE(messages[1].find(L"\r\nStart command: " + cmd + L"\r\n"), std::wstring::npos);
    EXPECT_EQ(messages[2], L"No Ondarix, trying to start it");
    EXPECT_EQ(messages[3], L"Ondarix process is created");
    EXPECT_EQ(messages[4], L"Using mutex to see if Ondarix is ready, waiting 30.0s");
    EXPECT_EQ(messages[5], L"Found Mutex Atom");
    EXPECT_EQ(messages[6], L"Marshalling Ondarix interface...");
    EXPECT_EQ(messages[7], L"Creating IOx3Server server object...");
    EXPECT_EQ(messages[8], L"Connecting to IOx3Server server object...");

    // What the application received: its command line, folder and position, the hand-over
    // for this process, then the server calls in order.
    const auto starts = SimLines("start ");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_NE(starts[0].find("cmdline=" + Narrow(cmd)), std::string::npos) << starts[0];
    std::string cwd = Narrow(folder.Path());
    EXPECT_NE(starts[0].find("cwd=" + cwd.substr(0, cwd.size() - 1)), std::string::npos)
        << starts[0];
    EXPECT_NE(starts[0].find(" x=0 y=0"), std::string::npos) << starts[0];
    std::vector<std::string> calls;
    for (const auto& line : SimLog()) {
        for (const char* call : {"handover wparam", "advise ", "AppReturnWnd", "LastAdmin"}) {
            if (line.rfind(call, 0) == 0) calls.push_back(line);
        }
    }
    const std::string pid = std::to_string(GetCurrentProcessId());
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[0], "handover wparam=" + pid + " lparam=0");
    EXPECT_EQ(calls[1].rfind("advise cookie=", 0), 0u) << calls[1];
    EXPECT_EQ(calls[2], "AppReturnWnd value=" + std::to_string(0x4321));
    wchar_t dll[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"DeRuz64.dll"), dll, MAX_PATH);
    std::wstring lower = dll;
    CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
    EXPECT_EQ(calls[3], "LastAdminLinkDLLPath value=" + Narrow(lower));

    // A repeated initialisation while connected only updates the return window.
    EXPECT_EQ(Host().InitI(folder.Path(), nullptr), 0);
    EXPECT_EQ(Host().Boxes.size(), 9u);
    EXPECT_EQ(SimLines("start ").size(), 1u);

    // The end of the link: a box, then Terminate and the events unadvised.
    EXPECT_EQ(Host().Exit(), 0);
    EXPECT_EQ(Host().BoxMessages().back(), L"Closing connection with Ondarix");
    const auto log = SimLog();
    const auto terminate = std::find(log.begin(), log.end(), "Terminate");
    ASSERT_NE(terminate, log.end());
    EXPECT_TRUE(std::any_of(terminate, log.end(),
                            [](const std::string& l) { return l.rfind("unadvise ", 0) == 0; }));
}

TEST_F(LinkE2E, OlderApplicationOrMarshallingOffConnectsThroughActivation) {
    struct TCase {
        bool Old;
        const char* Keys;
        const wchar_t* Decision;
    };
    for (const TCase& c :
         {TCase{true, "Debug=2\r\n", L"Marshal interface disabled"},
          TCase{false, "Debug=2\r\nUseMarshalling=0\r\n", L"Marshal interface disabled"}}) {
        host.reset();
        CloseImagingSims();
        DeleteFileW(SimLogPath().c_str());
        WriteIni(c.Keys + SimKeys(c.Old));
        ASSERT_EQ(Host().InitI(folder.Path(), reinterpret_cast<HWND>(0x77)), 0) << c.Keys;
        // Debug 2 shows only the messages of level "1 or more".
        ASSERT_EQ(Host().BoxMessages().size(), 1u) << c.Keys;
        EXPECT_EQ(Host().BoxMessages()[0], c.Decision);
        EXPECT_TRUE(SimLines("handover").empty()) << c.Keys;
        EXPECT_EQ(SimLines("advise ").size(), 1u) << c.Keys;
        EXPECT_EQ(SimLines("AppReturnWnd value=119").size(), 1u) << c.Keys;
        EXPECT_EQ(Host().Command("result|5|done"), 5);
        EXPECT_EQ(Host().ErrorStr(), "done");
    }
}

TEST_F(LinkE2E, RunningInstanceIsFoundInsteadOfStarted) {
    // The application started before the link, as the practice would have it running.
    std::wstring cmd = Sim() + L" -dde";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               folder.Path().c_str(), &si, &pi));
    WaitForInputIdle(pi.hProcess, 10000);
    for (int i = 0; i < 100 && GlobalFindAtomW(L"OXReadyForLink") == 0; ++i) Sleep(50);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    WriteIni("Debug=1\r\n" + SimKeys());
    ASSERT_EQ(Host().InitI(folder.Path(), nullptr), 0);
    const auto messages = Host().BoxMessages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), L"No Ondarix, trying to start it"), 0);
    EXPECT_EQ(SimLines("start ").size(), 1u);
    EXPECT_EQ(SimLines("handover wparam").size(), 1u);
}

TEST_F(LinkE2E, UsePidAndFixedDelayStartAnInstanceForThisHost) {
    WriteIni("Debug=1\r\nUsePid=1\r\nUseMutex=0\r\nStartUpDelay=300\r\n" + SimKeys());
    ASSERT_EQ(Host().InitI(folder.Path(), nullptr), 0);
    const std::string pid = std::to_string(GetCurrentProcessId());
    const auto starts = SimLines("start ");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_NE(starts[0].find(" -dde -pid:" + pid), std::string::npos) << starts[0];
    const auto messages = Host().BoxMessages();
    EXPECT_NE(std::find(messages.begin(), messages.end(),
                        L"Not using mutex to see if Ondarix is ready (just waiting 300ms)"),
              messages.end());
    EXPECT_NE(messages[1].find(L"\r\nUse PID: yes (PID=" + std::to_wstring(GetCurrentProcessId()) +
                               L")\r\n"),
              std::wstring::npos);
}

TEST_F(LinkE2E, EachHandOverFailureHasItsBoxAndNoConnection) {
    struct TCase {
        const wchar_t* Options;
        std::wstring Reason;
    };
    const TCase cases[] = {
        {L"handover=empty", L"Error: shared memory does not contain data"},
        {L"handover=ignore", L"Error: shared memory does not contain data"},
        {L"handover=garbage", L"Failed to load interface pointer"},
        {L"handover=oversize",
         L"Error: shared memory announces 6000 bytes of data, more than its 4998 bytes can hold"},
        {L"handover=error:0x80070005", L"Ondarix returned error "},
    };
    for (const TCase& c : cases) {
        host.reset();
        CloseImagingSims();
        SetEnvironmentVariableW(L"IMAGING_SIM_OPTIONS", c.Options);
        WriteIni("Debug=0\r\n" + SimKeys());
        EXPECT_EQ(Host().InitI(folder.Path(), nullptr), -1000) << Narrow(c.Options);
        ASSERT_EQ(Host().Boxes.size(), 1u) << Narrow(c.Options);
        const std::wstring expected =
            L"Exception communicating with IOx3Server server:\r\n\r\n" + c.Reason;
        const std::wstring shown = Host().BoxMessages()[0];
        EXPECT_EQ(shown.substr(0, expected.size()), expected) << Narrow(c.Options);
        EXPECT_EQ(Host().Boxes[0].Style, 0x1010u);
        // No connection was kept: a command finds none and starts the connection again.
        EXPECT_TRUE(SimLines("advise ").empty()) << Narrow(c.Options);
    }
    // The system's text for the code follows the prefix.
    EXPECT_GT(Host().BoxMessages()[0].size(),
              std::wstring(
                  L"Exception communicating with IOx3Server server:\r\n\r\nOndarix returned error ")
                  .size());
}

TEST_F(LinkE2E, KilledApplicationIsRestartedBeforeTheNextCommand) {
    WriteIni("Debug=0\r\n" + SimKeys());
    ASSERT_EQ(Host().InitI(folder.Path(), nullptr), 0);
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
    TRegistryValue app(HKEY_CLASSES_ROOT, kTypeLibKey, L"", Sim());
    TRegistryValue dir(HKEY_CURRENT_USER, kParametersKey, L"OxWorkingDir", L"");  // none
    WriteIni("Debug=0");
    ASSERT_EQ(Host().InitI(folder.Path(), nullptr), 0);
    EXPECT_EQ(Host().Command("result|1|first"), 1);
    EXPECT_EQ(Host().Exit(), 0);
    for (int i = 0; i < 100 && !RunningImagingSims().empty(); ++i) Sleep(50);
    ASSERT_TRUE(RunningImagingSims().empty());

    EXPECT_EQ(Host().Command("result|2|second"), 2);
    EXPECT_EQ(Host().ErrorStr(), "second");
    EXPECT_TRUE(Host().BoxMessages().empty());
    std::wstring simDir = Sim();
    simDir.resize(simDir.find_last_of(L'\\'));
    CharLowerBuffW(simDir.data(), static_cast<DWORD>(simDir.size()));
    const auto starts = SimLines("start ");
    ASSERT_EQ(starts.size(), 2u);
    for (const auto& start : starts) {
        std::wstring line = systools::WideFromUtf8(start);
        CharLowerBuffW(line.data(), static_cast<DWORD>(line.size()));
        EXPECT_NE(line.find(L" cwd=" + simDir + L" "), std::wstring::npos) << start;
    }
    EXPECT_EQ(SimLines("advise ").size(), 2u);
}

TEST_F(LinkE2E, UnloadingTerminatesAndUnadvisesEveryConnection) {
    WriteIni("Debug=0\r\n" + SimKeys());
    ASSERT_EQ(Host().InitI(folder.Path(), nullptr), 0);
    EXPECT_EQ(Host().Command("version"), 0);
    host.reset();  // FreeLibrary
    for (int i = 0; i < 100 && !RunningImagingSims().empty(); ++i) Sleep(50);
    EXPECT_EQ(SimLines("Terminate").size(), 1u);
    EXPECT_EQ(SimLines("advise ").size(), SimLines("unadvise ").size());
    EXPECT_EQ(SimLines("advise ").size(), 1u);
}

}  // namespace
}  // namespace deruz::testing
