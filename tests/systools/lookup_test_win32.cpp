// Process, window and path lookup against real processes and windows: a helper program
// (window_owner.exe, built beside this test program) owns top-level windows of known classes
// and titles while a test runs.
#include <gtest/gtest.h>
#include <windows.h>
// windows.h first: the COM header builds on it.
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "systools/lookup.h"

namespace deruz::systools {
namespace {

std::wstring OwnPath() {
    wchar_t LPath[MAX_PATH] = {};
    const DWORD LLength = GetModuleFileNameW(nullptr, LPath, MAX_PATH);
    return std::wstring(LPath, LLength);
}

std::wstring HelperPath() {
    return (std::filesystem::path(OwnPath()).parent_path() / L"window_owner.exe").wstring();
}

std::wstring Upper(std::wstring AS) {
    std::transform(AS.begin(), AS.end(), AS.begin(), [](wchar_t AC) { return std::towupper(AC); });
    return AS;
}

bool SameTextIgnoringCase(const std::wstring& A_, const std::wstring& AB) {
    return Upper(A_) == Upper(AB);
}

std::wstring ClassNameOf(std::uintptr_t AWnd) {
    wchar_t LName[260] = {};
    const int LLength = GetClassNameW(reinterpret_cast<HWND>(AWnd), LName, 260);
    return std::wstring(LName, LLength > 0 ? LLength : 0);
}

DWORD ProcessOf(std::uintptr_t AWnd) {
    DWORD LPid = 0;
    GetWindowThreadProcessId(reinterpret_cast<HWND>(AWnd), &LPid);
    return LPid;
}

// The top-level windows in the system's enumeration order.
std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> LWindows;
    EnumWindows(
        [](HWND AWnd, LPARAM AParam) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(AParam)->push_back(AWnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&LWindows));
    return LWindows;
}

// A running window_owner.exe with the windows given as "CLASS=TITLE", created in that order.
// Stop() (and the destructor) ends it and closes every handle.
class THelperProcess {
  public:
    THelperProcess() = default;
    THelperProcess(const THelperProcess&) = delete;
    THelperProcess& operator=(const THelperProcess&) = delete;
    ~THelperProcess() { Stop(); }

    // Starts the helper and waits until its windows exist; false (with a test failure) when
    // it cannot be started or does not get ready.
    bool Start(const std::vector<std::wstring>& AWindows) {
        static std::atomic<int> LCounter{0};
        const std::wstring LSuffix =
            std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(LCounter.fetch_add(1));
        const std::wstring LReadyName = L"Local\\deruz-lookup-ready-" + LSuffix;
        const std::wstring LQuitName = L"Local\\deruz-lookup-quit-" + LSuffix;
        FReady = CreateEventW(nullptr, TRUE, FALSE, LReadyName.c_str());
        FQuit = CreateEventW(nullptr, TRUE, FALSE, LQuitName.c_str());
        if (FReady == nullptr || FQuit == nullptr) {
            ADD_FAILURE() << "cannot create the helper's events";
            return false;
        }
        std::wstring LCommandLine = L"\"" + HelperPath() + L"\" " + LReadyName + L" " + LQuitName;
        for (const std::wstring& LWindow : AWindows) LCommandLine += L" \"" + LWindow + L"\"";
        STARTUPINFOW LStartup = {};
        LStartup.cb = sizeof(LStartup);
        PROCESS_INFORMATION LInfo = {};
        if (!CreateProcessW(HelperPath().c_str(), LCommandLine.data(), nullptr, nullptr, FALSE, 0,
                            nullptr, nullptr, &LStartup, &LInfo)) {
            ADD_FAILURE() << "cannot start " << std::filesystem::path(HelperPath()).string()
                          << ", error " << GetLastError();
            return false;
        }
        CloseHandle(LInfo.hThread);
        FProcess = LInfo.hProcess;
        FPid = LInfo.dwProcessId;
        const HANDLE LWaitFor[2] = {FReady, FProcess};
        if (WaitForMultipleObjects(2, LWaitFor, FALSE, 20000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the helper did not get ready";
            return false;
        }
        return true;
    }

    // Asks the helper to quit, kills it when it does not, and closes the handles.
    void Stop() {
        if (FProcess != nullptr) {
            if (FQuit != nullptr) SetEvent(FQuit);
            if (WaitForSingleObject(FProcess, 5000) != WAIT_OBJECT_0) {
                TerminateProcess(FProcess, 1);
                WaitForSingleObject(FProcess, 5000);
            }
            CloseHandle(FProcess);
            FProcess = nullptr;
        }
        for (HANDLE* LEvent : {&FReady, &FQuit}) {
            if (*LEvent != nullptr) CloseHandle(*LEvent);
            *LEvent = nullptr;
        }
    }

    std::uint32_t Pid() const { return FPid; }

  private:
    HANDLE FReady = nullptr;
    HANDLE FQuit = nullptr;
    HANDLE FProcess = nullptr;
    std::uint32_t FPid = 0;
};

// One helper with two windows of class "TOxWindow1234" and, created last so that it comes
// first in the enumeration, one of class "TOx".
class LookupWithHelper : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(
            FHelper.Start({L"TOxWindow1234=Main window", L"TOxWindow1234=Other", L"TOx=Small"}));
        FMain = Find(L"TOxWindow1234", L"Main window");
        FOther = Find(L"TOxWindow1234", L"Other");
        FSmall = Find(L"TOx", L"Small");
        ASSERT_NE(FMain, 0u);
        ASSERT_NE(FOther, 0u);
        ASSERT_NE(FSmall, 0u);
        // The "TOx" window comes first, so a search that wrongly matched it would return it.
        const std::vector<HWND> LOrder = TopLevelWindows();
        const auto LPosition = [&](std::uintptr_t AWnd) {
            return std::find(LOrder.begin(), LOrder.end(), reinterpret_cast<HWND>(AWnd)) -
                   LOrder.begin();
        };
        ASSERT_LT(LPosition(FSmall), LPosition(FMain));
        ASSERT_LT(LPosition(FSmall), LPosition(FOther));
    }
    void TearDown() override { FHelper.Stop(); }

    static std::uintptr_t Find(const wchar_t* AClassName, const wchar_t* ATitle) {
        return reinterpret_cast<std::uintptr_t>(FindWindowW(AClassName, ATitle));
    }

    THelperProcess FHelper;
    std::uintptr_t FMain = 0;
    std::uintptr_t FOther = 0;
    std::uintptr_t FSmall = 0;
};

TEST_F(LookupWithHelper, FindsTheWindowByClassPrefixAndExecutablePath) {
    const std::wstring LPath = HelperPath();
    struct Case {
        const wchar_t* ClassName;
        std::wstring FullPath;
        bool Found;
    };
    const Case LCases[] = {
        {L"TOxWindow1234", LPath, true},
        {L"toxwindow1234", LPath, true},
        {L"TOxWindow", LPath, true},  // the class is the prefix followed by a process id
        {L"TOXWINDOW", Upper(LPath), true},
        {L"TOxWindow12345", LPath, false},  // longer than every class
        {L"TOxWindow", OwnPath(), false},   // right class, other executable
        {L"TOxWindow", LPath + L".missing", false},
        {L"NoSuchClass", LPath, false},
    };
    for (const Case& LC : LCases) {
        SCOPED_TRACE(testing::Message()
                     << "class " << std::filesystem::path(LC.ClassName).string() << ", path "
                     << std::filesystem::path(LC.FullPath).string());
        std::uint32_t LPid = 12345;
        const std::uintptr_t LWnd = GetWindowByClassNameAndPath(LC.ClassName, LC.FullPath, LPid);
        if (LC.Found) {
            EXPECT_TRUE(LWnd == FMain || LWnd == FOther);
            EXPECT_EQ(LPid, FHelper.Pid());
        } else {
            EXPECT_EQ(LWnd, 0u);
            EXPECT_EQ(LPid, 0u);
        }
    }

    // "TOx" is a prefix of every class here, and the "TOx" window comes first.
    std::uint32_t LPid = 0;
    EXPECT_EQ(GetWindowByClassNameAndPath(L"tox", LPath, LPid), FSmall);
    EXPECT_EQ(LPid, FHelper.Pid());
}

TEST_F(LookupWithHelper, ComparesPathsInTheirLongForm) {
    const std::wstring LPath = HelperPath();
    wchar_t LShortPath[MAX_PATH] = {};
    const DWORD LLength = GetShortPathNameW(LPath.c_str(), LShortPath, MAX_PATH);
    ASSERT_GT(LLength, 0u);
    ASSERT_LT(LLength, static_cast<DWORD>(MAX_PATH));
    const std::wstring LShortForm(LShortPath, LLength);
    ASSERT_FALSE(SameTextIgnoringCase(LShortForm, LPath)) << "no short names on this system";

    std::uint32_t LPid = 0;
    const std::uintptr_t LWnd = GetWindowByClassNameAndPath(L"TOxWindow", LShortForm, LPid);
    EXPECT_TRUE(LWnd == FMain || LWnd == FOther);
    EXPECT_EQ(LPid, FHelper.Pid());
    EXPECT_TRUE(SameTextIgnoringCase(PathGetLongName(LShortForm), LPath));
}

TEST_F(LookupWithHelper, AnEmptyClassOrPathFindsNothing) {
    for (const auto& [className, path] : {std::pair<std::wstring, std::wstring>{L"", HelperPath()},
                                          {L"TOxWindow", L""},
                                          {L"", L""}}) {
        std::uint32_t LPid = 12345;
        EXPECT_EQ(GetWindowByClassNameAndPath(className, path, LPid), 0u);
        EXPECT_EQ(LPid, 0u);
    }
}

TEST_F(LookupWithHelper, FindsAWindowOfTheProcess) {
    const std::uint32_t LPid = FHelper.Pid();

    // Without a class, the first window of the process, whatever it is; a title alone is
    // not tested.
    const std::uintptr_t LAny = FindWindowOfProcess(LPid, nullptr, nullptr);
    EXPECT_EQ(ProcessOf(LAny), LPid);
    EXPECT_EQ(LAny, FSmall);
    EXPECT_EQ(FindWindowOfProcess(LPid, nullptr, L"Other"), LAny);

    struct Case {
        const wchar_t* ClassName;
        const wchar_t* Title;
        std::vector<std::uintptr_t> Expected;  // any of these; empty for 0
    };
    const Case LCases[] = {
        {L"toxwindow1234", nullptr, {FMain, FOther}},
        {L"TOxWindow1234", L"", {FMain, FOther}},
        {L"TOxWindow1234", L"other", {FOther}},
        {L"TOXWINDOW1234", L"MAIN WINDOW", {FMain}},
        {L"tox", L"Small", {FSmall}},
        {L"TOxWindow1234", L"Small", {}},  // the title of another class's window
        {L"TOxWindow1234", L"Main", {}},   // titles are compared whole
        {L"TOxWindow", nullptr, {}},       // classes are compared whole
        {L"NoSuchClass", nullptr, {}},
    };
    for (const Case& LC : LCases) {
        SCOPED_TRACE(testing::Message()
                     << "class " << std::filesystem::path(LC.ClassName).string() << ", title "
                     << (LC.Title ? std::filesystem::path(LC.Title).string() : "(null)"));
        const std::uintptr_t LWnd = FindWindowOfProcess(LPid, LC.ClassName, LC.Title);
        if (LC.Expected.empty()) {
            EXPECT_EQ(LWnd, 0u);
        } else {
            EXPECT_NE(std::find(LC.Expected.begin(), LC.Expected.end(), LWnd), LC.Expected.end());
        }
    }

    EXPECT_EQ(FindWindowOfProcess(0, nullptr, nullptr), 0u);
    EXPECT_EQ(FindWindowOfProcess(0, L"TOx", L"Small"), 0u);
}

TEST_F(LookupWithHelper, TellsTheExecutablePathOfAProcess) {
    EXPECT_TRUE(SameTextIgnoringCase(ProcessFileName(FHelper.Pid()), HelperPath()))
        << std::filesystem::path(ProcessFileName(FHelper.Pid())).string();
    EXPECT_EQ(GetExeNameFromProcessID(FHelper.Pid()), ProcessFileName(FHelper.Pid()));
    EXPECT_TRUE(SameTextIgnoringCase(ProcessFileName(GetCurrentProcessId()), OwnPath()));
}

TEST(ProcessFileName, IsEmptyForAProcessThatDoesNotRun) {
    // An ended process: its id names no process any more (Wine does not reuse ids at once).
    THelperProcess LEnded;
    ASSERT_TRUE(LEnded.Start({L"TOxGone"}));
    const std::uint32_t LPid = LEnded.Pid();
    LEnded.Stop();
    EXPECT_EQ(ProcessFileName(LPid), L"");
    EXPECT_EQ(FindWindowOfProcess(LPid, nullptr, nullptr), 0u);
    EXPECT_EQ(ProcessFileName(0), L"");
    EXPECT_EQ(GetExeNameFromProcessID(0x7FFFFFF0), L"");
}

TEST(GetWindowByClassNameAndPath, AWindowOfAnotherClassOnlyDoesNotMatch) {
    THelperProcess LHelper;
    ASSERT_TRUE(LHelper.Start({L"TOx"}));
    std::uint32_t LPid = 12345;
    EXPECT_EQ(GetWindowByClassNameAndPath(L"TOxWindow", HelperPath(), LPid), 0u);
    EXPECT_EQ(LPid, 0u);
    const std::uintptr_t LWnd = GetWindowByClassNameAndPath(L"TOx", HelperPath(), LPid);
    EXPECT_EQ(ClassNameOf(LWnd), L"TOx");
    EXPECT_EQ(LPid, LHelper.Pid());
}

TEST(PathGetLongName, GivesAMissingPathBackUnchanged) {
    const std::wstring LMissing =
        (std::filesystem::path(OwnPath()).parent_path() / L"no such folder" / L"file.exe")
            .wstring();
    EXPECT_EQ(RtdlGetLongPathName(LMissing), L"");
    EXPECT_EQ(PathGetLongName(LMissing), LMissing);
    EXPECT_EQ(PathGetLongName(L""), L"");
    EXPECT_EQ(ShellGetLongPathName(L""), L"");
}

// Shell paths run through the shell's parser; COM is initialised as on the link's thread.
class ShellPath : public testing::Test {
  protected:
    void SetUp() override {
        FInitialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    }
    void TearDown() override {
        if (FInitialised) CoUninitialize();
    }
    bool FInitialised = false;
};

TEST_F(ShellPath, ResolvesAPathBelowAShellFolder) {
    // "This PC" followed by a file-system path inside it.
    const std::wstring LFolder = std::filesystem::path(OwnPath()).parent_path().wstring();
    const std::wstring LShellPath = L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\" + LFolder;
    EXPECT_EQ(RtdlGetLongPathName(LShellPath), L"");
    EXPECT_TRUE(SameTextIgnoringCase(ShellGetLongPathName(LShellPath), LFolder))
        << std::filesystem::path(ShellGetLongPathName(LShellPath)).string();
    EXPECT_TRUE(SameTextIgnoringCase(PathGetLongName(LShellPath), LFolder));

    const std::wstring LUnknown = L"::{00000000-0000-0000-0000-0000DEADBEEF}\\nothing";
    EXPECT_EQ(ShellGetLongPathName(LUnknown), LUnknown);
    EXPECT_EQ(PathGetLongName(LUnknown), LUnknown);
}

TEST(StrResetLength, CutsAtTheFirstNul) {
    const std::pair<std::wstring, std::wstring> LCases[] = {
        {std::wstring(L"abc\0def\0", 8), L"abc"},
        {std::wstring(L"\0abc", 4), L""},
        {L"abc", L"abc"},
        {L"", L""},
    };
    for (const auto& [text, expected] : LCases) {
        std::wstring LS = text;
        StrResetLength(LS);
        EXPECT_EQ(LS, expected);
    }
}

}  // namespace
}  // namespace deruz::systools
