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
    const std::wstring longDir(300, L'w');
    const TCase cases[] = {
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
         longDir,
         {},
         L"c:\\apps\\img.exe",
         longDir.substr(0, 256)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TRig rig;
        rig.settings.OxProgram = c.OxApp;
        if (c.Registered) {
            rig.fakes.Registry.Set(TRegistryRoot::ClassesRoot, kTypeLibKey, L"", *c.Registered);
        }
        if (c.IniWorkingDir)
            rig.fakes.Files.Set(kIniFn, L"OndarixDDE", L"oxworkingdir", *c.IniWorkingDir);
        if (c.UserWorkingDir) {
            rig.fakes.Registry.AddKey(TRegistryRoot::CurrentUser, kParametersKey);
            if (!c.UserWorkingDir->empty()) {
                rig.fakes.Registry.Set(TRegistryRoot::CurrentUser, kParametersKey, L"OxWorkingDir",
                                       *c.UserWorkingDir);
            }
        }
        rig.control.ResolveOndarixPaths(rig.settings);
        EXPECT_EQ(rig.state().OxApp, c.App);
        EXPECT_EQ(rig.state().OxDir, c.Dir);
    }
}

TEST(Locate, RegistryLookupIsShownFromDebugOne) {
    struct TCase {
        std::int32_t Debug;
        std::wstring OxApp;
        std::optional<std::wstring> Registered;
        std::vector<std::wstring> Shown;
    };
    const TCase cases[] = {
        {1, L"", {}, {L"Msg: Getting Ondarix path from registry:\r\nApp: "}},
        {2,
         L"",
         L"D:\\Img\\Ondarix.exe",
         {L"Msg: Getting Ondarix path from registry:\r\nApp: D:\\Img\\Ondarix.exe"}},
        {0, L"", L"D:\\Img\\Ondarix.exe", {}},
        {1, L"c:\\apps\\img.exe", L"D:\\Img\\Ondarix.exe", {}},  // registry not asked
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Debug);
        TRig rig;
        rig.host.Debug = c.Debug;
        rig.settings.OxProgram = c.OxApp;
        if (c.Registered) {
            rig.fakes.Registry.Set(TRegistryRoot::ClassesRoot, kTypeLibKey, L"", *c.Registered);
        }
        rig.control.ResolveOndarixPaths(rig.settings);
        EXPECT_EQ(rig.host.Shown, c.Shown);
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
    const std::vector<TMonitorOrigin> two = {{0, 0}, {1920, -120}};
    const TCase cases[] = {
        {{}, two, 0, 0},         {L"0", two, 0, 0}, {L"1", two, 0, 0},
        {L"2", two, 1920, -120}, {L"3", two, 0, 0}, {L"2", {{-1280, 0}}, -1280, 0},
        {L"2", {}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.MonitorNumber.value_or(L"(missing)") + L" of " +
                     std::to_wstring(c.Monitors.size()));
        TRig rig;
        rig.fakes.Desktop.MonitorList = c.Monitors;
        if (c.MonitorNumber) {
            rig.fakes.Files.Set(kIniFn, L"StartUp", L"MonitorNumber", *c.MonitorNumber);
        }
        EXPECT_TRUE(rig.control.DoStartOndarix(rig.settings));
        ASSERT_EQ(rig.fakes.Desktop.Starts.size(), 1u);
        EXPECT_EQ(rig.fakes.Desktop.Starts[0].X, c.X);
        EXPECT_EQ(rig.fakes.Desktop.Starts[0].Y, c.Y);
    }
}

TEST_F(StartTest, NegativeMonitorNumberIsARangeErrorAndStartsNothing) {
    fakes.Files.Set(kIniFn, L"StartUp", L"MonitorNumber", L"-1");
    try {
        control.DoStartOndarix(settings);
        ADD_FAILURE() << "no error raised";
    } catch (const EControlError& e) {
        EXPECT_EQ(e.Message(), L"Range check error");
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
    for (const bool windowShown : {true, false}) {
        SCOPED_TRACE(windowShown);
        TRig rig;
        rig.settings.UseMutex = true;
        if (!windowShown) rig.fakes.Desktop.WindowAfter.reset();
        EXPECT_EQ(rig.control.DoStartOndarix(rig.settings), windowShown);
        EXPECT_EQ(rig.state().OxWnd, windowShown ? 0x5000u : 0u);
        const std::vector<std::wstring> events = {
            L"FindWindowByClassAndPath(TOxWindow, C:\\Ondarix\\Ondarix.exe)",
            L"StartProcess",
            L"PushWaitCursor",
            L"WaitForInputIdle(30000)",
            L"PopCursor",
            L"FindWindowOfProcess(5150, TOxWindow)",
            L"ProcessClosed",
        };
        EXPECT_EQ(rig.fakes.Desktop.Events, events);
        EXPECT_GT(rig.fakes.Desktop.Messages, 0);  // the thread's messages kept flowing
        if (windowShown) {
            EXPECT_EQ(rig.host.Shown.back(), L"ShowConfigInfo: C:\\Ondarix\\Ondarix.exe -dde");
        } else {
            EXPECT_EQ(rig.host.Shown.back(),
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
    const std::wstring summary = L"ShowConfigInfo: C:\\Ondarix\\Ondarix.exe -dde";
    const std::wstring registry = L"Msg: Getting Ondarix path from registry:\r\nApp: ";
    const std::vector<std::wstring> head = {
        registry,
        L"Msg: Marshal interface disabled",
        summary,
        L"Msg: No Ondarix, trying to start it",
        L"Msg: Ondarix process is created",
        L"Msg: Using mutex to see if Ondarix is ready, waiting 30.0s"};
    auto with = [&](const wchar_t* last) {
        auto v = head;
        v.push_back(last);
        return v;
    };
    const TCase cases[] = {
        {"found after 550 ms", 1, 1000, 550, 550, 1000, with(L"Msg: Found Mutex Atom")},
        {"not found: the whole 30 s",
         1,
         1000,
         {},
         30000,
         30101,
         with(L"Msg: Did not find Mutex Atom")},
        // The deadline lies past the wrap of the tick counter: the wait still runs its full
        // length and does not fail.
        {"not found, tick counter 10 ms before wrapping",
         1,
         0xFFFFFFFFu - 10,
         {},
         30000,
         30101,
         with(L"Msg: Did not find Mutex Atom")},
        {"not found, tick counter 20 s before wrapping",
         1,
         0xFFFFFFFFu - 20000,
         {},
         30000,
         30101,
         with(L"Msg: Did not find Mutex Atom")},
        {"found, Debug 2 shows only the marshal message",
         2,
         1000,
         550,
         550,
         1000,
         {registry, L"Msg: Marshal interface disabled", summary}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TRig rig;
        rig.settings.UseMutex = true;
        rig.host.Debug = c.Debug;
        rig.fakes.Desktop.Tick = c.StartTick;
        rig.fakes.Desktop.AtomAfter = c.AtomAfter;
        bool started = false;
        EXPECT_NO_THROW(started = rig.control.DoStartOndarix(rig.settings));
        EXPECT_TRUE(started);  // a missing atom does not fail the start
        EXPECT_GE(rig.Elapsed(c.StartTick), c.MinElapsed);
        EXPECT_LT(rig.Elapsed(c.StartTick), c.MaxElapsed);
        EXPECT_EQ(rig.host.Shown, c.Shown);
    }
}

TEST(Start, FixedDelaySpinsOnMessagesWithoutSleeping) {
    struct TCase {
        std::uint32_t Delay;
        std::uint32_t StartTick;
    };
    for (const auto& c : {TCase{400, 1000}, TCase{0, 1000}, TCase{400, 0xFFFFFFFFu - 10}}) {
        SCOPED_TRACE(std::to_string(c.Delay) + " ms from tick " + std::to_string(c.StartTick));
        TRig rig;
        rig.settings.UseMutex = false;
        rig.settings.StartUpDelay = c.Delay;
        rig.host.Debug = 1;
        rig.fakes.Desktop.Tick = c.StartTick;
        EXPECT_TRUE(rig.control.DoStartOndarix(rig.settings));
        EXPECT_EQ(rig.fakes.Desktop.Sleeps, 0);
        EXPECT_EQ(rig.Elapsed(c.StartTick), c.Delay);
        if (c.Delay == 0) {
            EXPECT_EQ(rig.fakes.Desktop.Messages, 0);
        }
        EXPECT_EQ(rig.host.Shown.back(),
                  L"Msg: Not using mutex to see if Ondarix is ready (just waiting " +
                      std::to_wstring(c.Delay) + L"ms)");
    }
}

TEST(Start, ADelayThatReadsAsNegativeFailsInsteadOfHoldingTheHost) {
    TRig rig;
    rig.settings.UseMutex = false;
    rig.settings.StartUpDelay = 0xFFFFFFFFu;  // "-1" in the file
    try {
        rig.control.DoStartOndarix(rig.settings);
        FAIL() << "no error";
    } catch (const EControlError& e) {
        EXPECT_EQ(e.Message(), L"Integer overflow");
    }
    EXPECT_EQ(rig.fakes.Desktop.Messages, 0);
}

TEST(Start, SharedMemoryPathFollowsTheApplicationVersion) {
    struct TCase {
        bool UseMarshalling;
        std::optional<std::wstring> Version;  // none: reading the version fails
        std::int32_t Debug;
        bool Marshal;
    };
    const TCase cases[] = {
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Version.value_or(L"(error)") + L" marshalling " +
                     std::to_wstring(c.UseMarshalling) + L" debug " + std::to_wstring(c.Debug));
        TRig rig;
        rig.RunningInstance();
        // Recomputed on every call: an earlier start decided the other way.
        if (!c.Marshal) rig.Found(true, 0x100);
        rig.settings.OxProgram = kDefaultApp;  // configured: no registry message
        rig.settings.UseMarshalling = c.UseMarshalling;
        rig.host.Debug = c.Debug;
        if (c.Version) {
            rig.fakes.Files.Versions[kDefaultApp] = *c.Version;
        } else {
            rig.fakes.Files.FailFileVersion = true;
        }
        EXPECT_TRUE(rig.control.DoStartOndarix(rig.settings));
        EXPECT_EQ(rig.state().MarshalInterface, c.Marshal);
        if (c.UseMarshalling && c.Version) {
            EXPECT_EQ(rig.state().OxVersion, *c.Version);
        }
        std::vector<std::wstring> shown;
        if (c.Debug >= 1) {
            shown.push_back(c.Marshal ? L"Msg: Marshal interface enabled"
                                      : L"Msg: Marshal interface disabled");
        }
        shown.push_back(L"ShowConfigInfo: C:\\Ondarix\\Ondarix.exe -dde");
        EXPECT_EQ(rig.host.Shown, shown);
    }
}

}  // namespace
}  // namespace deruz::control
