// The link's export logic with fake platform services: the re-entrancy guard, the load and
// unload steps, the initialisation's results and the error-text exports.
#include "link/link.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <stdexcept>

#include "link/link_errors.h"
#include "tests/link/fakes.h"

namespace deruz::link {
namespace {

using testing::TFakePlatform;
using TCalls = std::vector<std::wstring>;

// Initialisation steps whose behaviour each test chooses.
class TScriptedSteps final : public TLinkSteps {
  public:
    void ResolveConfiguration(TLink& link, const std::wstring& IniP) override {
        Calls.push_back("ResolveConfiguration");
        IniPs.push_back(IniP);
        if (DuringConfiguration) DuringConfiguration();
        link.State().Config.DetectOndarix = Detect;
    }
    void ShowConfigInfo(TLink&) override { Calls.push_back("ShowConfigInfo"); }
    bool StartOrFind(TLink&) override {
        Calls.push_back("StartOrFind");
        return Started;
    }
    bool Connect(TLink&) override {
        Calls.push_back("Connect");
        return Connected;
    }
    std::vector<std::string> Calls;
    std::vector<std::wstring> IniPs;
    std::function<void()> DuringConfiguration;
    bool Detect = true;
    bool Started = true;
    bool Connected = true;
};

class LinkTest : public ::testing::Test {
  protected:
    LinkTest() : link(platform.Services(), &steps) { link.Load(); }
    void Connected() {
        ASSERT_TRUE(link.Control().ConnectOndarix(link.ControlSettings()));
        serverCalls().clear();
    }
    TCalls& serverCalls() { return platform.Control.Server.Calls(); }
    TFakePlatform platform;
    TScriptedSteps steps;
    TLink link;
};

TEST_F(LinkTest, LoadRecordsLibraryAndInitialisesComOnce) {
    link.Load();  // a second call changes nothing
    EXPECT_EQ(platform.Com.Initialized, 1);
    EXPECT_EQ(link.State().CoInitOK, 0);
    EXPECT_EQ(link.State().DllFn, L"C:\\Link\\DeRuz64.dll");
    EXPECT_EQ(link.State().DllVersion, L"1.2.3.4");
    link.State().Config.UserNames.Add(L"Alice");
    EXPECT_EQ(link.State().Config.UserNames.IndexOf(L"ALICE"), 0);
}

TEST_F(LinkTest, VersionIsServedBeforeDuringAndAfterInitialisation) {
    EXPECT_EQ(link.OndaGetVersion(), 262);
    std::int32_t during = 0;
    steps.DuringConfiguration = [&] { during = link.OndaGetVersion(); };
    EXPECT_EQ(link.OndaInitI(nullptr, nullptr, 7), dde_Ok);
    EXPECT_EQ(during, 262);
    EXPECT_EQ(link.OndaGetVersion(), 262);
}

void RefusedProc() {}

TEST_F(LinkTest, ReentrantCallsGetTheirFixedAnswers) {
    link.State().ReturnText = L"previous";
    std::int32_t init = 0, initI = 0, init2W = 0, command = 0, exitResult = -1;
    std::string text;
    char buf[32];
    std::int32_t bufResult = -1;
    steps.DuringConfiguration = [&] {
        Connected();
        init = link.OndaInit(nullptr);
        initI = link.OndaInitI(nullptr, nullptr, 1);
        init2W = link.OndaInit2W(nullptr, &RefusedProc, 1);
        command = link.OndaCommand("openpatient");
        exitResult = link.OndaExit();
        text = link.OndaGetErrorStr();
        bufResult = link.OndaGetErrorStrBuf(buf, 31);
    };
    steps.Detect = false;
    EXPECT_EQ(link.OndaInitI(nullptr, nullptr, 7), dde_Ok);
    EXPECT_EQ(init, dde_Error);
    EXPECT_EQ(initI, dde_Error);
    EXPECT_EQ(init2W, dde_Error);
    EXPECT_EQ(command, dde_Error);
    EXPECT_EQ(exitResult, dde_Ok);
    EXPECT_TRUE(serverCalls().empty());  // exit closed nothing
    EXPECT_EQ(text, "previous");
    EXPECT_EQ(bufResult, 8);
    EXPECT_STREQ(buf, "previous");
    EXPECT_EQ(link.State().ReturnText, L"previous");
    EXPECT_EQ(link.State().AppPrevWnd, 7u);  // re-entrant calls changed nothing
    EXPECT_EQ(link.State().ProcMsgs2w, nullptr);
    EXPECT_FALSE(link.State().ExecutingCmd);
}

TEST_F(LinkTest, InitialisationResultsFollowTheSteps) {
    struct TCase {
        const char* Name;
        bool Detect, Started, Connected;
        std::int32_t Result;
        std::vector<std::string> Calls;
    };
    const TCase cases[] = {
        {"detection off", false, true, true, dde_Ok, {"ResolveConfiguration", "ShowConfigInfo"}},
        {"start fails", true, false, true, dde_NoConnect, {"ResolveConfiguration", "StartOrFind"}},
        {"connect fails",
         true,
         true,
         false,
         dde_NoConnect,
         {"ResolveConfiguration", "StartOrFind", "Connect"}},
        {"connected", true, true, true, dde_Ok, {"ResolveConfiguration", "StartOrFind", "Connect"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        steps.Calls.clear();
        steps.Detect = c.Detect;
        steps.Started = c.Started;
        steps.Connected = c.Connected;
        EXPECT_EQ(link.OndaInitI("C:\\cfg", nullptr, 42), c.Result);
        EXPECT_EQ(steps.Calls, c.Calls);
        EXPECT_EQ(steps.IniPs.back(), L"C:\\cfg");
        EXPECT_EQ(link.State().AppPrevWnd, 42u);
        EXPECT_FALSE(link.State().ExecutingCmd);
    }
}

TEST_F(LinkTest, RepeatedInitialisationWhileConnectedOnlyUpdatesTheReturnWindow) {
    Connected();
    EXPECT_EQ(link.OndaInitI(nullptr, nullptr, 99), dde_Ok);
    EXPECT_TRUE(steps.Calls.empty());
    EXPECT_EQ(link.State().AppPrevWnd, 99u);
}

TEST_F(LinkTest, InitVariantsPassTheirWindowAndProcedure) {
    platform.Windows.Active = 0x5150;
    EXPECT_EQ(link.OndaInit(nullptr), dde_Ok);
    EXPECT_EQ(link.State().AppPrevWnd, 0x5150u);
    auto proc = +[] {};
    EXPECT_EQ(link.OndaInit2W(nullptr, proc, 3), dde_Ok);
    EXPECT_EQ(link.State().ProcMsgs2w, proc);
    EXPECT_EQ(link.State().AppPrevWnd, 3u);
}

TEST_F(LinkTest, ErrorDuringInitialisationIsShownAndReturned) {
    steps.DuringConfiguration = [] { throw ELinkError(L"Range check error"); };
    std::int32_t reentered = 0;
    platform.Boxes.WhileShown = [&] { reentered = link.OndaCommand("x"); };
    EXPECT_EQ(link.OndaInitI(nullptr, nullptr, 1), dde_Error);
    EXPECT_EQ(link.State().ReturnText, L"Range check error");
    ASSERT_EQ(platform.Boxes.Shown.size(), 1u);
    EXPECT_EQ(platform.Boxes.Shown[0].Caption, L"Ondarix V3 Link library");
    EXPECT_EQ(platform.Boxes.Shown[0].Text,
              L"Link-DLL: c:\\link\\deruz64.dll [1.2.3.4]\r\n\r\nRange check error");
    EXPECT_EQ(platform.Boxes.Shown[0].Style, 0x1010u);
    EXPECT_EQ(reentered, dde_Error);  // still guarded while the box is up
    EXPECT_FALSE(link.State().ExecutingCmd);
    EXPECT_EQ(link.OndaGetErrorStr(), std::string("Range check error"));
}

TEST_F(LinkTest, ForeignExceptionsBecomeTheirMessage) {
    steps.DuringConfiguration = [] { throw std::runtime_error("boom"); };
    EXPECT_EQ(link.OndaInitI(nullptr, nullptr, 1), dde_Error);
    EXPECT_EQ(link.State().ReturnText, L"boom");
}

TEST_F(LinkTest, CommandClearsTheResultTextAndFailsWithoutAConnection) {
    link.State().ReturnText = L"old";
    platform.Control.Desktop.StartError = 2;  // the restart check cannot start the application
    EXPECT_EQ(link.OndaCommand("openpatient|1~5"), dde_Error);
    EXPECT_EQ(link.State().ReturnText, L"");
    EXPECT_STREQ(link.OndaGetErrorStr(), "");
}

TEST_F(LinkTest, ExitTerminatesThenDisconnectsAndIgnoresErrors) {
    EXPECT_EQ(link.OndaExit(), dde_Ok);  // no connection
    Connected();
    platform.Control.Server.Log->Fail = {L"Terminate", L"Disconnect"};
    link.State().Config.Debug = 2;
    EXPECT_EQ(link.OndaExit(), dde_Ok);
    EXPECT_EQ(serverCalls(), (TCalls{L"Terminate", L"Disconnect", L"freed"}));
    EXPECT_EQ(link.Control().State().MsgHandler, nullptr);
    EXPECT_EQ(link.Control().State().Ox3, nullptr);
    ASSERT_EQ(platform.Boxes.Shown.size(), 1u);
    EXPECT_EQ(platform.Boxes.Shown[0].Style, 0x1040u);
    EXPECT_NE(platform.Boxes.Shown[0].Text.find(L"\r\n\r\nClosing connection with Ondarix"),
              std::wstring::npos);
}

TEST_F(LinkTest, ExitShowsNoBoxAtDebugZero) {
    Connected();
    EXPECT_EQ(link.OndaExit(), dde_Ok);
    EXPECT_TRUE(platform.Boxes.Shown.empty());
}

TEST_F(LinkTest, UnloadClosesTheConnectionAndUninitialisesCom) {
    Connected();
    link.State().ReturnText = L"x";
    link.State().Config.OxApp = L"C:\\Ondarix\\ox.exe";
    link.State().Config.UserNames.Add(L"alice");
    link.Unload(/*comAllowed=*/true);
    EXPECT_EQ(serverCalls(), (TCalls{L"Terminate", L"Disconnect", L"freed"}));
    EXPECT_EQ(platform.Com.Uninitialized, 1);
    EXPECT_EQ(link.State().Config.UserNames.Count(), 0);
    EXPECT_EQ(link.State().ReturnText, L"");
    EXPECT_EQ(link.State().Config.OxApp, L"");
    EXPECT_EQ(link.State().DllVersion, L"");
    link.Unload(true);  // runs once
    EXPECT_EQ(platform.Com.Uninitialized, 1);
}

TEST(LinkUnload, ComIsUninitialisedOnlyAfterASuccessfulInitialisation) {
    for (std::int32_t status : {0, 1, -2147418113 /* E_UNEXPECTED */}) {
        TFakePlatform platform;
        platform.Com.Result = status;
        TLink link(platform.Services());
        link.Load();
        link.Unload(true);
        EXPECT_EQ(platform.Com.Uninitialized, status >= 0 ? 1 : 0) << status;
    }
}

TEST(LinkUnload, AtProcessExitNothingCallsTheServerOrCom) {
    TFakePlatform platform;
    TLink link(platform.Services());
    link.Load();
    link.State().Config.UserNames.Add(L"alice");
    ASSERT_TRUE(link.Control().ConnectOndarix(link.ControlSettings()));
    auto* server = link.Control().State().Ox3.get();
    auto* handler = link.Control().State().MsgHandler.get();
    platform.Control.Server.Calls().clear();
    link.Unload(/*comAllowed=*/false);
    EXPECT_TRUE(platform.Control.Server.Calls().empty());  // not terminated, not even freed
    EXPECT_EQ(link.Control().State().Ox3, nullptr);
    EXPECT_EQ(platform.Com.Uninitialized, 0);
    EXPECT_EQ(link.State().Config.UserNames.Count(), 0);
    delete server;  // the process would end here
    delete handler;
}

// With the real steps: a start or connection that fails shows its own box once and the
// initialisation answers dde_NoConnect, leaving the result text alone.
TEST(LinkWithRealSteps, FailedStartOrConnectionGivesNoConnect) {
    struct TCase {
        const char* Name;
        std::function<void(testing::TLinkRig&)> Arrange;
        std::wstring Box;
    };
    const TCase cases[] = {
        {"process cannot be created",
         [](testing::TLinkRig& r) {
             r.platform.Control.Desktop.StartError = 5;
             r.platform.Control.System.ErrorTexts[5] = L"Access is denied.";
         },
         L"Could not run \"C:\\Ondarix\\Ondarix.exe -dde\", working directory "
         L"\"C:\\Ondarix\"\r\n\r\n"
         L"Access is denied."},
        {"window never shown",
         [](testing::TLinkRig& r) { r.platform.Control.Desktop.WindowAfter.reset(); },
         L"Could not find Ondarix window class TOxWindow"},
        {"hand-over fails",
         [](testing::TLinkRig& r) {
             r.RunningInstance();
             r.Server().FetchError = L"Error: shared memory does not contain data";
         },
         L"Exception communicating with IOx3Server server:\r\n\r\nError: shared memory does not "
         L"contain data"},
        {"connect fails",
         [](testing::TLinkRig& r) {
             r.RunningInstance();
             r.Main(L"UseMarshalling", L"0");
             r.Server().Log->Fail = {L"Connect"};
         },
         L"Exception communicating with IOx3Server server:\r\n\r\nThe RPC server is unavailable."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        testing::TLinkRig rig;
        rig.Main(L"UseMutex", L"0");
        c.Arrange(rig);
        rig.State().ReturnText = L"previous";
        EXPECT_EQ(rig.link.OndaInitI(nullptr, nullptr, 42), dde_NoConnect);
        ASSERT_EQ(rig.platform.Boxes.Shown.size(), 1u);
        EXPECT_EQ(testing::Body(rig.platform.Boxes.Shown[0]), c.Box);
        EXPECT_EQ(rig.platform.Boxes.Shown[0].Style, 0x1010u);
        EXPECT_EQ(rig.State().ReturnText, L"previous");
        EXPECT_EQ(rig.link.Control().State().Ox3, nullptr);
        EXPECT_EQ(rig.link.Control().State().MsgHandler, nullptr);
        EXPECT_FALSE(rig.State().ExecutingCmd);
    }
}

TEST_F(LinkTest, ErrorTextBufferCopiesAtMostBufLenBytes) {
    link.State().ReturnText = L"0123456789";
    struct TCase {
        std::int32_t BufLen;
        std::int32_t Result;
        const char* Text;
    };
    const TCase cases[] = {
        {4, 4, "0123"}, {0, 0, ""}, {-3, 0, ""}, {10, 10, "0123456789"}, {50, 10, "0123456789"}};
    for (const auto& c : cases) {
        char buf[64];
        std::memset(buf, 'X', sizeof buf);
        EXPECT_EQ(link.OndaGetErrorStrBuf(buf, c.BufLen), c.Result) << c.BufLen;
        EXPECT_STREQ(buf, c.Text) << c.BufLen;
        EXPECT_EQ(buf[std::strlen(c.Text) + 1], 'X') << "wrote past the terminator";
    }
    EXPECT_EQ(link.OndaGetErrorStrBuf(nullptr, 4), 0);
    EXPECT_EQ(link.State().ReturnText, L"0123456789");  // never changed by reading
}

TEST_F(LinkTest, ErrorTextIsConvertedToTheAnsiCodePage) {
    link.State().ReturnText = L"Gr\u00fc\u00dfe \u4e16";
    EXPECT_STREQ(link.OndaGetErrorStr(),
                 "Gr\xfc\xdf"
                 "e ?");
    link.State().ReturnText.clear();
    const char* empty = link.OndaGetErrorStr();
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(*empty, '\0');
}

}  // namespace
}  // namespace deruz::link
