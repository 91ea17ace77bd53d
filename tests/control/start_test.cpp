// Locating and starting the imaging application: the paths from configuration, registry or
// defaults, the running instance, the start command, the monitor, the waits until the
// application is ready, the shared-memory decision and the error boxes.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "control/ondarix_control.h"
#include "tests/control/control_fakes.h"

namespace deruz::control {
namespace {

using namespace deruz::control::testing;

constexpr wchar_t kTypeLibKey[] = L"TypeLib\\{56D73100-E9A8-108B-A830-CD14D0517F8A}\\1.0\\0\\win32";
constexpr wchar_t kParametersKey[] = L"SoftWare\\Belvanor\\Ondarix\\Parameters";
constexpr wchar_t kIniFn[] = L"C:\\Link\\deruz64.ini";
constexpr wchar_t kDefaultApp[] = L"C:\\Ondarix\\Ondarix.exe";

using TRig = TControlRig;

class StartTest : public ::testing::Test, public TRig {};

TEST(Locate, PathsComeFromConfigurationRegistryOrDefaults) {
    struct TCase {
        const char* Name;
        std::wstring OxApp;  // "oxprogram" as configured
        std::optional<std::wstring> Registered;
        std::optional<std::wstring> IniWorkingDir;
        std::optional<std::wstring> UserWorkingDir;  // "": the key opens, the value is missing
        std::wstring App, Dir;
    };
    const std::wstring LLongDir(300, L'w');
    const TCase LCases[] = {
        {"nothing configured or registered", L"", {}, {}, {}, kDefaultApp, L"C:\\Ondarix"},
        {"registered: its folder, the working-dir settings are not consulted", L"",
         L"D:\\Img\\Bin\\OnDarix.EXE", L"E:\\Work", L"F:\\Data", L"D:\\Img\\Bin\\OnDarix.EXE",
         L"D:\\Img\\Bin"},
        {"configured: working dir from the configuration", L"c:\\apps\\img.exe",
         L"D:\\Img\\Bin\\Ondarix.exe", L"E:\\Work", L"F:\\Data", L"c:\\apps\\img.exe", L"E:\\Work"},
        {"configured: working dir from the user's registry",
         L"c:\\apps\\img.exe",
         {},
         {},
         L"F:\\Data",
         L"c:\\apps\\img.exe",
         L"F:\\Data"},
        {"configured: user key without the value gives the default folder",
         L"c:\\apps\\img.exe",
         {},
         {},
         L"",
         L"c:\\apps\\img.exe",
         L"C:\\Ondarix"},
        {"configured: nothing else gives the default folder wherever the program lies",
         L"c:\\apps\\img.exe",
         {},
         {},
         {},
         L"c:\\apps\\img.exe",
         L"C:\\Ondarix"},
        {"configured working dir is cut to 256 characters",
         L"c:\\apps\\img.exe",
         {},
         LLongDir,
         {},
         L"c:\\apps\\img.exe",
         LLongDir.substr(0, 256)},
    };
    for (const auto& LC : LCases) {
        SCOPED_TRACE(LC.Name);
        TRig LRig;
        LRig.settings.OxProgram = LC.OxApp;
        if (LC.Registered) {
            LRig.fakes.Registry.Set(TRegistryRoot::ClassesRoot, kTypeLibKey, L"", *LC.Registered);
        }
        if (LC.IniWorkingDir)
            LRig.fakes.Files.Set(kIniFn, L"OndarixDDE", L"oxworkingdir", *LC.IniWorkingDir);
        if (LC.UserWorkingDir) {
            LRig.fakes.Registry.AddKey(TRegistryRoot::CurrentUser, kParametersKey);
            if (!LC.UserWorkingDir->empty()) {
                LRig.fakes.Registry.Set(TRegistryRoot::CurrentUser, kParametersKey, L"OxWorkingDir",
                                        *LC.UserWorkingDir);
            }
        }
        LRig.control.ResolveOndarixPaths(LRig.settings);
        EXPECT_EQ(LRig.state().OxApp, LC.App);
        EXPECT_EQ(LRig.state().OxDir, LC.Dir);
    }
}

TEST(Locate, RegistryLookupIsShownFromDebugOne) {
    struct TCase {
        std::int32_t Debug;
        std::wstring OxApp;
        std::optional<std::wstring> Registered;
        std::vector<std::wstring> Shown;
    };
    const TCase LCases[] = {
        {1, L"", {}, {L"Msg: Getting Ondarix path from registry:\r\nApp: "}},
        {2,
         L"",
         L"D:\\Img\\Ondarix.exe",
         {L"Msg: Getting Ondarix path from registry:\r\nApp: D:\\Img\\Ondarix.exe"}},
        {0, L"", L"D:\\Img\\Ondarix.exe", {}},
        {1, L"c:\\apps\\img.exe", L"D:\\Img\\Ondarix.exe", {}},  // registry not asked
    };
    for (const auto& LC : LCases) {
        SCOPED_TRACE(LC.Debug);
        TRig LRig;
        LRig.host.Debug = LC.Debug;
        LRig.settings.OxProgram = LC.OxApp;
        if (LC.Registered) {
            LRig.fakes.Registry.Set(TRegistryRoot::ClassesRoot, kTypeLibKey, L"", *LC.Registered);
        }
        LRig.control.ResolveOndarixPaths(LRig.settings);
        EXPECT_EQ(LRig.host.Shown, LC.Shown);
    }
}

TEST_F(StartTest, RunningInstanceIsUsedAndNothingIsStarted) {
    settings.UsePid = true;
    RunningInstance(L"TOxWindow4321");
    EXPECT_TRUE(control.DoStartOndarix(settings));
    EXPECT_EQ(state().OxWnd, 0x100u);
    EXPECT_EQ(state().LinkPID, L"4321");
    EXPECT_TRUE(fakes.Desktop.Starts.empty());
    EXPECT_EQ(fakes.Desktop.Events,
              (std::vector<std::wstring>{L"FindWindowByClassAndPath(TOxWindow4321, " +
                                         std::wstring(kDefaultApp) + L")"}));
    // The summary still shows the command line, without "-pid:" as nothing is started.
    EXPECT_EQ(host.Shown,
              (std::vector<std::wstring>{L"ShowConfigInfo: C:\\Ondarix\\Ondarix.exe -dde"}));
}

TEST_F(StartTest, StartWithPidCarriesTheHostIdInCommandClassAndAtom) {
    settings.UsePid = true;
    settings.UseMutex = true;
    host.Debug = 1;
    fakes.Desktop.AtomAfter = 250;
    EXPECT_TRUE(control.DoStartOndarix(settings));
    ASSERT_EQ(fakes.Desktop.Starts.size(), 1u);
    EXPECT_EQ(fakes.Desktop.Starts[0].CommandLine, L"C:\\Ondarix\\Ondarix.exe -dde -pid:4321");
    EXPECT_EQ(fakes.Desktop.Starts[0].Folder, L"C:\\Ondarix");
    EXPECT_NE(std::find(host.Shown.begin(), host.Shown.end(),
                        L"ShowConfigInfo: C:\\Ondarix\\Ondarix.exe -dde -pid:4321"),
              host.Shown.end());
    // The application's atom carries the id: seen before the 30 s ran out.
    EXPECT_EQ(host.Shown.back(), L"Msg: Found Mutex Atom");
    EXPECT_EQ(state().OxWnd, 0x5000u);
    EXPECT_NE(std::find(fakes.Desktop.Events.begin(), fakes.Desktop.Events.end(),
                        L"FindWindowOfProcess(5150, TOxWindow4321)"),
              fakes.Desktop.Events.end());
}

TEST_F(StartTest, InstanceOfAnotherExecutableIsNotUsed) {
    fakes.Desktop.Windows.push_back({0x100, L"TOxWindow", 77, L"D:\\Other\\Ondarix.exe"});
    EXPECT_TRUE(control.DoStartOndarix(settings));
    EXPECT_EQ(fakes.Desktop.Starts.size(), 1u);
    EXPECT_EQ(state().OxWnd, 0x5000u);
}

TEST(Start, MonitorNumberChoosesTheWindowPosition) {
    struct TCase {
        std::optional<std::wstring> MonitorNumber;
        std::vector<TMonitorOrigin> Monitors;
        std::int32_t X, Y;
    };
    const std::vector<TMonitorOrigin> LTwo = {{0, 0}, {1920, -120}};
    const TCase LCases[] = {
        {{}, LTwo, 0, 0},         {L"0", LTwo, 0, 0}, {L"1", LTwo, 0, 0},
        {L"2", LTwo, 1920, -120}, {L"3", LTwo, 0, 0}, {L"2", {{-1280, 0}}, -1280, 0},
        {L"2", {}, 0, 0},
    };
    for (const auto& LC : LCases) {
        SCOPED_TRACE(LC.MonitorNumber.value_or(L"(missing)") + L" of " +
                     std::to_wstring(LC.Monitors.size()));
        TRig LRig;
        LRig.fakes.Desktop.MonitorList = LC.Monitors;
        if (LC.MonitorNumber) {
            LRig.fakes.Files.Set(kIniFn, L"StartUp", L"MonitorNumber", *LC.MonitorNumber);
        }
        EXPECT_TRUE(LRig.control.DoStartOndarix(LRig.settings));
        ASSERT_EQ(LRig.fakes.Desktop.Starts.size(), 1u);
        EXPECT_EQ(LRig.fakes.Desktop.Starts[0].X, LC.X);
        EXPECT_EQ(LRig.fakes.Desktop.Starts[0].Y, LC.Y);
    }
}

TEST_F(StartTest, NegativeMonitorNumberIsARangeErrorAndStartsNothing) {
    fakes.Files.Set(kIniFn, L"StartUp", L"MonitorNumber", L"-1");
    try {
        control.DoStartOndarix(settings);
        ADD_FAILURE() << "no error raised";
    } catch (const EControlError& LE) {
        EXPECT_EQ(LE.Message(), L"Range check error");
    }
    EXPECT_TRUE(fakes.Desktop.Starts.empty());
}

TEST_F(StartTest, ProcessCreationFailureShowsTheUnquotedCommandAndTheSystemReason) {
    fakes.Registry.Set(TRegistryRoot::ClassesRoot, kTypeLibKey, L"",
                       L"C:\\Program Files\\Ox\\Ondarix.exe");
    fakes.Desktop.StartError = 2;
    fakes.System.ErrorTexts[2] = L"The system cannot find the file specified.";
    EXPECT_FALSE(control.DoStartOndarix(settings));
    EXPECT_EQ(host.Shown.back(),
              L"ErrMsg: Could not run \"C:\\Program Files\\Ox\\Ondarix.exe -dde\", working "
              L"directory \"C:\\Program Files\\Ox\"\r\n\r\nThe system cannot find the file "
              L"specified.");
    EXPECT_EQ(state().OxWnd, 0u);
    EXPECT_EQ(fakes.Desktop.Events.back(), L"StartProcess");  // no wait, no cursor
}

TEST(Start, StartedApplicationIsAwaitedUnderTheWaitCursorAndItsWindowLookedUp) {
    for (const bool LWindowShown : {true, false}) {
        SCOPED_TRACE(LWindowShown);
        TRig LRig;
        LRig.settings.UseMutex = true;
        if (!LWindowShown) LRig.fakes.Desktop.WindowAfter.reset();
        EXPECT_EQ(LRig.control.DoStartOndarix(LRig.settings), LWindowShown);
        EXPECT_EQ(LRig.state().OxWnd, LWindowShown ? 0x5000u : 0u);
        const std::vector<std::wstring> LEvents = {
            L"FindWindowByClassAndPath(TOxWindow, C:\\Ondarix\\Ondarix.exe)",
            L"StartProcess",
            L"PushWaitCursor",
            L"WaitForInputIdle(30000)",
            L"PopCursor",
            L"FindWindowOfProcess(5150, TOxWindow)",
            L"ProcessClosed",
        };
        EXPECT_EQ(LRig.fakes.Desktop.Events, LEvents);
        EXPECT_GT(LRig.fakes.Desktop.Messages, 0);  // the thread's messages kept flowing
        if (LWindowShown) {
            EXPECT_EQ(LRig.host.Shown.back(), L"ShowConfigInfo: C:\\Ondarix\\Ondarix.exe -dde");
        } else {
            EXPECT_EQ(LRig.host.Shown.back(),
                      L"ErrMsg: Could not find Ondarix window class TOxWindow");
        }
    }
}

TEST(Start, ReadinessAtomWaitWithItsMessagesInOrder) {
    struct TCase {
        const char* Name;
        std::int32_t Debug;
        std::uint32_t StartTick;
        std::optional<std::uint32_t> AtomAfter;
        std::uint32_t MinElapsed, MaxElapsed;
        std::vector<std::wstring> Shown;
    };
    const std::wstring LSummary = L"ShowConfigInfo: C:\\Ondarix\\Ondarix.exe -dde";
    const std::wstring LRegistry = L"Msg: Getting Ondarix path from registry:\r\nApp: ";
    const std::vector<std::wstring> LHead = {
        LRegistry,
        L"Msg: Marshal interface disabled",
        LSummary,
        L"Msg: No Ondarix, trying to start it",
        L"Msg: Ondarix process is created",
        L"Msg: Using mutex to see if Ondarix is ready, waiting 30.0s"};
    auto LWith = [&](const wchar_t* ALast) {
        auto LV = LHead;
        LV.push_back(ALast);
        return LV;
    };
    const TCase LCases[] = {
        {"found after 550 ms", 1, 1000, 550, 550, 1000, LWith(L"Msg: Found Mutex Atom")},
        {"not found: the whole 30 s",
         1,
         1000,
         {},
         30000,
         30101,
         LWith(L"Msg: Did not find Mutex Atom")},
        // The deadline lies past the wrap of the tick counter: the wait still runs its full
        // length and does not fail.
        {"not found, tick counter 10 ms before wrapping",
         1,
         0xFFFFFFFFu - 10,
         {},
         30000,
         30101,
         LWith(L"Msg: Did not find Mutex Atom")},
        {"not found, tick counter 20 s before wrapping",
         1,
         0xFFFFFFFFu - 20000,
         {},
         30000,
         30101,
         LWith(L"Msg: Did not find Mutex Atom")},
        {"found, Debug 2 shows only the marshal message",
         2,
         1000,
         550,
         550,
         1000,
         {LRegistry, L"Msg: Marshal interface disabled", LSummary}},
    };
    for (const auto& LC : LCases) {
        SCOPED_TRACE(LC.Name);
        TRig LRig;
        LRig.settings.UseMutex = true;
        LRig.host.Debug = LC.Debug;
        LRig.fakes.Desktop.Tick = LC.StartTick;
        LRig.fakes.Desktop.AtomAfter = LC.AtomAfter;
        bool LStarted = false;
        EXPECT_NO_THROW(LStarted = LRig.control.DoStartOndarix(LRig.settings));
        EXPECT_TRUE(LStarted);  // a missing atom does not fail the start
        EXPECT_GE(LRig.Elapsed(LC.StartTick), LC.MinElapsed);
        EXPECT_LT(LRig.Elapsed(LC.StartTick), LC.MaxElapsed);
        EXPECT_EQ(LRig.host.Shown, LC.Shown);
    }
}

TEST(Start, FixedDelaySpinsOnMessagesWithoutSleeping) {
    struct TCase {
        std::uint32_t Delay;
        std::uint32_t StartTick;
    };
    for (const auto& LC : {TCase{400, 1000}, TCase{0, 1000}, TCase{400, 0xFFFFFFFFu - 10}}) {
        SCOPED_TRACE(std::to_string(LC.Delay) + " ms from tick " + std::to_string(LC.StartTick));
        TRig LRig;
        LRig.settings.UseMutex = false;
        LRig.settings.StartUpDelay = LC.Delay;
        LRig.host.Debug = 1;
        LRig.fakes.Desktop.Tick = LC.StartTick;
        EXPECT_TRUE(LRig.control.DoStartOndarix(LRig.settings));
        EXPECT_EQ(LRig.fakes.Desktop.Sleeps, 0);
        EXPECT_EQ(LRig.Elapsed(LC.StartTick), LC.Delay);
        if (LC.Delay == 0) {
            EXPECT_EQ(LRig.fakes.Desktop.Messages, 0);
        }
        EXPECT_EQ(LRig.host.Shown.back(),
                  L"Msg: Not using mutex to see if Ondarix is ready (just waiting " +
                      std::to_wstring(LC.Delay) + L"ms)");
    }
}

TEST(Start, ADelayThatReadsAsNegativeFailsInsteadOfHoldingTheHost) {
    TRig LRig;
    LRig.settings.UseMutex = false;
    LRig.settings.StartUpDelay = 0xFFFFFFFFu;  // "-1" in the file
    try {
        LRig.control.DoStartOndarix(LRig.settings);
        FAIL() << "no error";
    } catch (const EControlError& LE) {
        EXPECT_EQ(LE.Message(), L"Integer overflow");
    }
    EXPECT_EQ(LRig.fakes.Desktop.Messages, 0);
}

TEST(Start, SharedMemoryPathFollowsTheApplicationVersion) {
    struct TCase {
        bool UseMarshalling;
        std::optional<std::wstring> Version;  // none: reading the version fails
        std::int32_t Debug;
        bool Marshal;
    };
    const TCase LCases[] = {
        {true, L"3.0.1.582", 1, true},
        {true, L"3.0.1.583", 1, true},
        {true, L"3.1.0.0", 1, true},
        {true, L"3.0.1.581", 1, false},
        {true, L"2.99.99.9999", 1, false},
        {true, L"", 1, true},  // unreadable ranks above
        {true, {}, 1, false},
        {false, L"4.0.0.0", 1, false},
        {true, L"3.0.1.582", 2, true},
        {true, L"3.0.1.582", 0, true},
    };
    for (const auto& LC : LCases) {
        SCOPED_TRACE(LC.Version.value_or(L"(error)") + L" marshalling " +
                     std::to_wstring(LC.UseMarshalling) + L" debug " + std::to_wstring(LC.Debug));
        TRig LRig;
        LRig.RunningInstance();
        // Recomputed on every call: an earlier start decided the other way.
        if (!LC.Marshal) LRig.Found(true, 0x100);
        LRig.settings.OxProgram = kDefaultApp;  // configured: no registry message
        LRig.settings.UseMarshalling = LC.UseMarshalling;
        LRig.host.Debug = LC.Debug;
        if (LC.Version) {
            LRig.fakes.Files.Versions[kDefaultApp] = *LC.Version;
        } else {
            LRig.fakes.Files.FailFileVersion = true;
        }
        EXPECT_TRUE(LRig.control.DoStartOndarix(LRig.settings));
        EXPECT_EQ(LRig.state().MarshalInterface, LC.Marshal);
        if (LC.UseMarshalling && LC.Version) {
            EXPECT_EQ(LRig.state().OxVersion, *LC.Version);
        }
        std::vector<std::wstring> LShown;
        if (LC.Debug >= 1) {
            LShown.push_back(LC.Marshal ? L"Msg: Marshal interface enabled"
                                        : L"Msg: Marshal interface disabled");
        }
        LShown.push_back(L"ShowConfigInfo: C:\\Ondarix\\Ondarix.exe -dde");
        EXPECT_EQ(LRig.host.Shown, LShown);
    }
}

}  // namespace
}  // namespace deruz::control
