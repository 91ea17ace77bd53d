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
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

std::wstring HelperPath() {
    return (std::filesystem::path(OwnPath()).parent_path() / L"window_owner.exe").wstring();
}

std::wstring Upper(std::wstring S) {
    std::transform(S.begin(), S.end(), S.begin(), [](wchar_t c) { return std::towupper(c); });
    return S;
}

bool SameTextIgnoringCase(const std::wstring& A, const std::wstring& B) {
    return Upper(A) == Upper(B);
}

std::wstring ClassNameOf(std::uintptr_t Wnd) {
    wchar_t name[260] = {};
    const int length = GetClassNameW(reinterpret_cast<HWND>(Wnd), name, 260);
    return std::wstring(name, length > 0 ? length : 0);
}

DWORD ProcessOf(std::uintptr_t Wnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(reinterpret_cast<HWND>(Wnd), &pid);
    return pid;
}

// The top-level windows in the system's enumeration order.
std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND Wnd, LPARAM Param) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(Param)->push_back(Wnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
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
    bool Start(const std::vector<std::wstring>& Windows) {
        static std::atomic<int> counter{0};
        const std::wstring suffix =
            std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter.fetch_add(1));
        const std::wstring readyName = L"Local\\deruz-lookup-ready-" + suffix;
        const std::wstring quitName = L"Local\\deruz-lookup-quit-" + suffix;
        ready_ = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
        quit_ = CreateEventW(nullptr, TRUE, FALSE, quitName.c_str());
        if (ready_ == nullptr || quit_ == nullptr) {
            ADD_FAILURE() << "cannot create the helper's events";
            return false;
        }
        std::wstring commandLine = L"\"" + HelperPath() + L"\" " + readyName + L" " + quitName;
        for (const std::wstring& window : Windows) commandLine += L" \"" + window + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(HelperPath().c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                            nullptr, nullptr, &startup, &info)) {
            ADD_FAILURE() << "cannot start " << std::filesystem::path(HelperPath()).string()
                          << ", error " << GetLastError();
            return false;
        }
        CloseHandle(info.hThread);
        process_ = info.hProcess;
        pid_ = info.dwProcessId;
        const HANDLE waitFor[2] = {ready_, process_};
        if (WaitForMultipleObjects(2, waitFor, FALSE, 20000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the helper did not get ready";
            return false;
        }
        return true;
    }

    // Asks the helper to quit, kills it when it does not, and closes the handles.
    void Stop() {
        if (process_ != nullptr) {
            if (quit_ != nullptr) SetEvent(quit_);
            if (WaitForSingleObject(process_, 5000) != WAIT_OBJECT_0) {
                TerminateProcess(process_, 1);
                WaitForSingleObject(process_, 5000);
            }
            CloseHandle(process_);
            process_ = nullptr;
        }
        for (HANDLE* event : {&ready_, &quit_}) {
            if (*event != nullptr) CloseHandle(*event);
            *event = nullptr;
        }
    }

    std::uint32_t Pid() const { return pid_; }

  private:
    HANDLE ready_ = nullptr;
    HANDLE quit_ = nullptr;
    HANDLE process_ = nullptr;
    std::uint32_t pid_ = 0;
};

// One helper with two windows of class "TOxWindow1234" and, created last so that it comes
// first in the enumeration, one of class "TOx".
class LookupWithHelper : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(
            helper_.Start({L"TOxWindow1234=Main window", L"TOxWindow1234=Other", L"TOx=Small"}));
        main_ = Find(L"TOxWindow1234", L"Main window");
        other_ = Find(L"TOxWindow1234", L"Other");
        small_ = Find(L"TOx", L"Small");
        ASSERT_NE(main_, 0u);
        ASSERT_NE(other_, 0u);
        ASSERT_NE(small_, 0u);
        // The "TOx" window comes first, so a search that wrongly matched it would return it.
        const std::vector<HWND> order = TopLevelWindows();
        const auto position = [&](std::uintptr_t Wnd) {
            return std::find(order.begin(), order.end(), reinterpret_cast<HWND>(Wnd)) -
                   order.begin();
        };
        ASSERT_LT(position(small_), position(main_));
        ASSERT_LT(position(small_), position(other_));
    }
    void TearDown() override { helper_.Stop(); }

    static std::uintptr_t Find(const wchar_t* ClassName, const wchar_t* Title) {
        return reinterpret_cast<std::uintptr_t>(FindWindowW(ClassName, Title));
    }

    THelperProcess helper_;
    std::uintptr_t main_ = 0;
    std::uintptr_t other_ = 0;
    std::uintptr_t small_ = 0;
};

TEST_F(LookupWithHelper, FindsTheWindowByClassPrefixAndExecutablePath) {
    const std::wstring path = HelperPath();
    struct Case {
        const wchar_t* ClassName;
        std::wstring FullPath;
        bool Found;
    };
    const Case cases[] = {
        {L"TOxWindow1234", path, true},
        {L"toxwindow1234", path, true},
        {L"TOxWindow", path, true},  // the class is the prefix followed by a process id
        {L"TOXWINDOW", Upper(path), true},
        {L"TOxWindow12345", path, false},  // longer than every class
        {L"TOxWindow", OwnPath(), false},  // right class, other executable
        {L"TOxWindow", path + L".missing", false},
        {L"NoSuchClass", path, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "class " << std::filesystem::path(c.ClassName).string()
                                        << ", path " << std::filesystem::path(c.FullPath).string());
        std::uint32_t pid = 12345;
        const std::uintptr_t wnd = GetWindowByClassNameAndPath(c.ClassName, c.FullPath, pid);
        if (c.Found) {
            EXPECT_TRUE(wnd == main_ || wnd == other_);
            EXPECT_EQ(pid, helper_.Pid());
        } else {
            EXPECT_EQ(wnd, 0u);
            EXPECT_EQ(pid, 0u);
        }
    }

    // "TOx" is a prefix of every class here, and the "TOx" window comes first.
    std::uint32_t pid = 0;
    EXPECT_EQ(GetWindowByClassNameAndPath(L"tox", path, pid), small_);
    EXPECT_EQ(pid, helper_.Pid());
}

TEST_F(LookupWithHelper, ComparesPathsInTheirLongForm) {
    const std::wstring path = HelperPath();
    wchar_t shortPath[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    const std::wstring shortForm(shortPath, length);
    ASSERT_FALSE(SameTextIgnoringCase(shortForm, path)) << "no short names on this system";

    std::uint32_t pid = 0;
    const std::uintptr_t wnd = GetWindowByClassNameAndPath(L"TOxWindow", shortForm, pid);
    EXPECT_TRUE(wnd == main_ || wnd == other_);
    EXPECT_EQ(pid, helper_.Pid());
    EXPECT_TRUE(SameTextIgnoringCase(PathGetLongName(shortForm), path));
}

TEST_F(LookupWithHelper, AnEmptyClassOrPathFindsNothing) {
    for (const auto& [className, path] : {std::pair<std::wstring, std::wstring>{L"", HelperPath()},
                                          {L"TOxWindow", L""},
                                          {L"", L""}}) {
        std::uint32_t pid = 12345;
        EXPECT_EQ(GetWindowByClassNameAndPath(className, path, pid), 0u);
        EXPECT_EQ(pid, 0u);
    }
}

TEST_F(LookupWithHelper, FindsAWindowOfTheProcess) {
    const std::uint32_t pid = helper_.Pid();

    // Without a class, the first window of the process, whatever it is; a title alone is
    // not tested.
    const std::uintptr_t any = FindWindowOfProcess(pid, nullptr, nullptr);
    EXPECT_EQ(ProcessOf(any), pid);
    EXPECT_EQ(any, small_);
    EXPECT_EQ(FindWindowOfProcess(pid, nullptr, L"Other"), any);

    struct Case {
        const wchar_t* ClassName;
        const wchar_t* Title;
        std::vector<std::uintptr_t> Expected;  // any of these; empty for 0
    };
    const Case cases[] = {
        {L"toxwindow1234", nullptr, {main_, other_}},
        {L"TOxWindow1234", L"", {main_, other_}},
        {L"TOxWindow1234", L"other", {other_}},
        {L"TOXWINDOW1234", L"MAIN WINDOW", {main_}},
        {L"tox", L"Small", {small_}},
        {L"TOxWindow1234", L"Small", {}},  // the title of another class's window
        {L"TOxWindow1234", L"Main", {}},   // titles are compared whole
        {L"TOxWindow", nullptr, {}},       // classes are compared whole
        {L"NoSuchClass", nullptr, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "class " << std::filesystem::path(c.ClassName).string() << ", title "
                     << (c.Title ? std::filesystem::path(c.Title).string() : "(null)"));
        const std::uintptr_t wnd = FindWindowOfProcess(pid, c.ClassName, c.Title);
        if (c.Expected.empty()) {
            EXPECT_EQ(wnd, 0u);
        } else {
            EXPECT_NE(std::find(c.Expected.begin(), c.Expected.end(), wnd), c.Expected.end());
        }
    }

    EXPECT_EQ(FindWindowOfProcess(0, nullptr, nullptr), 0u);
    EXPECT_EQ(FindWindowOfProcess(0, L"TOx", L"Small"), 0u);
}

TEST_F(LookupWithHelper, TellsTheExecutablePathOfAProcess) {
    EXPECT_TRUE(SameTextIgnoringCase(ProcessFileName(helper_.Pid()), HelperPath()))
        << std::filesystem::path(ProcessFileName(helper_.Pid())).string();
    EXPECT_EQ(GetExeNameFromProcessID(helper_.Pid()), ProcessFileName(helper_.Pid()));
    EXPECT_TRUE(SameTextIgnoringCase(ProcessFileName(GetCurrentProcessId()), OwnPath()));
}

TEST(ProcessFileName, IsEmptyForAProcessThatDoesNotRun) {
    // An ended process: its id names no process any more (Wine does not reuse ids at once).
    THelperProcess ended;
    ASSERT_TRUE(ended.Start({L"TOxGone"}));
    const std::uint32_t pid = ended.Pid();
    ended.Stop();
    EXPECT_EQ(ProcessFileName(pid), L"");
    EXPECT_EQ(FindWindowOfProcess(pid, nullptr, nullptr), 0u);
    EXPECT_EQ(ProcessFileName(0), L"");
    EXPECT_EQ(GetExeNameFromProcessID(0x7FFFFFF0), L"");
}

TEST(GetWindowByClassNameAndPath, AWindowOfAnotherClassOnlyDoesNotMatch) {
    THelperProcess helper;
    ASSERT_TRUE(helper.Start({L"TOx"}));
    std::uint32_t pid = 12345;
    EXPECT_EQ(GetWindowByClassNameAndPath(L"TOxWindow", HelperPath(), pid), 0u);
    EXPECT_EQ(pid, 0u);
    const std::uintptr_t wnd = GetWindowByClassNameAndPath(L"TOx", HelperPath(), pid);
    EXPECT_EQ(ClassNameOf(wnd), L"TOx");
    EXPECT_EQ(pid, helper.Pid());
}

TEST(PathGetLongName, GivesAMissingPathBackUnchanged) {
    const std::wstring missing =
        (std::filesystem::path(OwnPath()).parent_path() / L"no such folder" / L"file.exe")
            .wstring();
    EXPECT_EQ(RtdlGetLongPathName(missing), L"");
    EXPECT_EQ(PathGetLongName(missing), missing);
    EXPECT_EQ(PathGetLongName(L""), L"");
    EXPECT_EQ(ShellGetLongPathName(L""), L"");
}

// Shell paths run through the shell's parser; COM is initialised as on the link's thread.
class ShellPath : public testing::Test {
  protected:
    void SetUp() override {
        initialised_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    }
    void TearDown() override {
        if (initialised_) CoUninitialize();
    }
    bool initialised_ = false;
};

TEST_F(ShellPath, ResolvesAPathBelowAShellFolder) {
    // "This PC" followed by a file-system path inside it.
    const std::wstring folder = std::filesystem::path(OwnPath()).parent_path().wstring();
    const std::wstring shellPath = L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\" + folder;
    EXPECT_EQ(RtdlGetLongPathName(shellPath), L"");
    EXPECT_TRUE(SameTextIgnoringCase(ShellGetLongPathName(shellPath), folder))
        << std::filesystem::path(ShellGetLongPathName(shellPath)).string();
    EXPECT_TRUE(SameTextIgnoringCase(PathGetLongName(shellPath), folder));

    const std::wstring unknown = L"::{00000000-0000-0000-0000-0000DEADBEEF}\\nothing";
    EXPECT_EQ(ShellGetLongPathName(unknown), unknown);
    EXPECT_EQ(PathGetLongName(unknown), unknown);
}

TEST(StrResetLength, CutsAtTheFirstNul) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {std::wstring(L"abc\0def\0", 8), L"abc"},
        {std::wstring(L"\0abc", 4), L""},
        {L"abc", L"abc"},
        {L"", L""},
    };
    for (const auto& [text, expected] : cases) {
        std::wstring s = text;
        StrResetLength(s);
        EXPECT_EQ(s, expected);
    }
}

}  // namespace
}  // namespace deruz::systools
