// The link's export logic with fake platform services: the re-entrancy guard, the load and
// unload steps, the initialisation's results and the error-text exports.
#include "link/link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>

#include "tests/link/fakes.h"

namespace deruz::link {
namespace {

using testing::TFakePlatform;
using testing::TLinkRig;
using TCalls = std::vector<std::wstring>;

bool Has(const TCalls& calls, const std::wstring& call) {
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

// Sets a key of the configuration file in the host's folder C:\cfg.
void Cfg(TLinkRig& rig, const std::wstring& Key, const std::wstring& Value) {
    rig.platform.Control.Files.Set(L"C:\\cfg\\deruz64.ini", L"OndarixDDE", Key, Value);
}

TEST(Link, LoadRecordsLibraryAndInitialisesComOnce) {
    TLinkRig rig;
    rig.link.Load();  // a second call changes nothing
    EXPECT_EQ(rig.platform.Com.Initialized, 1);
    EXPECT_EQ(rig.State().CoInitOK, 0);
    EXPECT_EQ(rig.State().DllFn, L"C:\\Link\\DeRuz64.dll");
    EXPECT_EQ(rig.State().DllVersion, L"1.2.3.4");
    rig.State().Config.UserNames.Add(L"Alice");
    EXPECT_EQ(rig.State().Config.UserNames.IndexOf(L"ALICE"), 0);
}

TEST(Link, VersionIsServedBeforeDuringAndAfterInitialisation) {
    TLinkRig rig;
    rig.Main(L"Debug", L"1");
    rig.Main(L"DetectOndarix", L"0");
    EXPECT_EQ(rig.link.OndaGetVersion(), 262);
    std::int32_t during = 0;
    // The summary box is up while the initialisation runs.
    rig.platform.Boxes.WhileShown = [&] { during = rig.link.OndaGetVersion(); };
    EXPECT_EQ(rig.link.OndaInitI(nullptr, nullptr, 7), dde_Ok);
    ASSERT_EQ(rig.platform.Boxes.Shown.size(), 1u);
    EXPECT_EQ(during, 262);
    EXPECT_EQ(rig.link.OndaGetVersion(), 262);
}

void RefusedProc() {}

TEST(Link, ReentrantCallsGetTheirFixedAnswers) {
    TLinkRig rig;
    rig.Main(L"Debug", L"1");
    rig.Main(L"UseMarshalling", L"0");
    rig.RunningInstance();
    rig.State().ReturnText = L"previous";
    std::int32_t init = 0, initI = 0, init2W = 0, command = 0, exitResult = -1;
    std::string text;
    char buf[32];
    std::int32_t bufResult = -1;
    bool reentered = false;
    // While the initialisation connects, its proxy already exists: an exit that were not
    // refused would close it.
    rig.platform.Boxes.WhileShown = [&] {
        if (reentered ||
            rig.platform.Bodies().back() != L"Connecting to IOx3Server server object...") {
            return;
        }
        reentered = true;
        init = rig.link.OndaInit(nullptr);
        initI = rig.link.OndaInitI(nullptr, nullptr, 1);
        init2W = rig.link.OndaInit2W(nullptr, &RefusedProc, 1);
        command = rig.link.OndaCommand("openpatient");
        exitResult = rig.link.OndaExit();
        text = rig.link.OndaGetErrorStr();
        bufResult = rig.link.OndaGetErrorStrBuf(buf, 31);
    };
    EXPECT_EQ(rig.link.OndaInitI(nullptr, nullptr, 7), dde_Ok);
    ASSERT_TRUE(reentered);
    EXPECT_EQ(init, dde_Error);
    EXPECT_EQ(initI, dde_Error);
    EXPECT_EQ(init2W, dde_Error);
    EXPECT_EQ(command, dde_Error);
    EXPECT_EQ(exitResult, dde_Ok);
    // The exit closed nothing.
    EXPECT_FALSE(Has(rig.ServerCalls(), L"Terminate"));
    EXPECT_FALSE(Has(rig.ServerCalls(), L"freed"));
    EXPECT_NE(rig.Control().Ox3, nullptr);
    EXPECT_EQ(text, "previous");
    EXPECT_EQ(bufResult, 8);
    EXPECT_STREQ(buf, "previous");
    EXPECT_EQ(rig.State().ReturnText, L"previous");
    EXPECT_EQ(rig.State().AppPrevWnd, 7u);  // re-entrant calls changed nothing
    EXPECT_EQ(rig.State().ProcMsgs2w, nullptr);
    EXPECT_FALSE(rig.State().ExecutingCmd);
}

TEST(Link, InitialisationResultsFollowTheSteps) {
    struct TCase {
        const char* Name;
        std::function<void(TLinkRig&)> Arrange;
        std::int32_t Result;
        bool Looked;      // the application was looked for (and started when missing)
        bool Connecting;  // a connection to its server was tried
    };
    const TCase cases[] = {
        {"detection off", [](TLinkRig& r) { Cfg(r, L"DetectOndarix", L"0"); }, dde_Ok, false,
         false},
        {"start fails", [](TLinkRig& r) { r.platform.Control.Desktop.StartError = 2; },
         dde_NoConnect, true, false},
        {"connect fails",
         [](TLinkRig& r) {
             r.RunningInstance();
             Cfg(r, L"UseMarshalling", L"0");
             r.Server().Log->Fail = {L"Connect"};
         },
         dde_NoConnect, true, true},
        {"connected", [](TLinkRig& r) { r.RunningInstance(); }, dde_Ok, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TLinkRig rig;
        Cfg(rig, L"UseMutex", L"0");
        c.Arrange(rig);
        EXPECT_EQ(rig.link.OndaInitI("C:\\cfg", nullptr, 42), c.Result);
        // The configuration came from the host's folder.
        EXPECT_EQ(rig.State().Config.MainIniFn, L"C:\\cfg\\deruz64.ini");
        EXPECT_EQ(!rig.platform.Control.Desktop.Events.empty(), c.Looked);
        EXPECT_EQ(Has(rig.ServerCalls(), L"NewProxy"), c.Connecting);
        EXPECT_EQ(rig.State().AppPrevWnd, 42u);
        EXPECT_FALSE(rig.State().ExecutingCmd);
    }
}

TEST(Link, RepeatedInitialisationWhileConnectedOnlyUpdatesTheReturnWindow) {
    TLinkRig rig;
    rig.InitConnected();
    rig.platform.Control.Desktop.Events.clear();
    rig.Main(L"UseClipboard", L"1");  // not read again
    EXPECT_EQ(rig.link.OndaInitI(nullptr, nullptr, 99), dde_Ok);
    EXPECT_EQ(rig.State().Config.LinkMode, lmNormal);
    EXPECT_TRUE(rig.platform.Control.Desktop.Events.empty());
    EXPECT_TRUE(rig.ServerCalls().empty());
    EXPECT_EQ(rig.State().AppPrevWnd, 99u);
}

TEST(Link, InitVariantsPassTheirWindowAndProcedure) {
    TLinkRig rig;
    rig.Main(L"DetectOndarix", L"0");
    rig.platform.Windows.Active = 0x5150;
    EXPECT_EQ(rig.link.OndaInit(nullptr), dde_Ok);
    EXPECT_EQ(rig.State().AppPrevWnd, 0x5150u);
    auto proc = +[] {};
    EXPECT_EQ(rig.link.OndaInit2W(nullptr, proc, 3), dde_Ok);
    EXPECT_EQ(rig.State().ProcMsgs2w, proc);
    EXPECT_EQ(rig.State().AppPrevWnd, 3u);
}

TEST(Link, ErrorDuringInitialisationIsShownAndReturned) {
    TLinkRig rig;
    rig.Main(L"Debug", L"-1");
    std::int32_t reentered = 0;
    rig.platform.Boxes.WhileShown = [&] { reentered = rig.link.OndaCommand("x"); };
    EXPECT_EQ(rig.link.OndaInitI(nullptr, nullptr, 1), dde_Error);
    EXPECT_EQ(rig.State().ReturnText, L"Range check error");
    ASSERT_EQ(rig.platform.Boxes.Shown.size(), 1u);
    EXPECT_EQ(rig.platform.Boxes.Shown[0].Caption, L"Ondarix V3 Link library");
    EXPECT_EQ(rig.platform.Boxes.Shown[0].Text,
              L"Link-DLL: c:\\link\\deruz64.dll [1.2.3.4]\r\n\r\nRange check error");
    EXPECT_EQ(rig.platform.Boxes.Shown[0].Style, 0x1010u);
    EXPECT_EQ(reentered, dde_Error);  // still guarded while the box is up
    EXPECT_FALSE(rig.State().ExecutingCmd);
    EXPECT_EQ(rig.link.OndaGetErrorStr(), std::string("Range check error"));
}

TEST(Link, ForeignExceptionsBecomeTheirMessage) {
    TLinkRig rig;
    rig.platform.Control.Ini.OnRead = [] { throw std::runtime_error("boom"); };
    EXPECT_EQ(rig.link.OndaInitI(nullptr, nullptr, 1), dde_Error);
    EXPECT_EQ(rig.State().ReturnText, L"boom");
}

TEST(Link, CommandClearsTheResultTextAndFailsWithoutAConnection) {
    TLinkRig rig;
    rig.State().ReturnText = L"old";
    rig.platform.Control.Desktop.StartError = 2;  // the restart check cannot start it
    EXPECT_EQ(rig.link.OndaCommand("openpatient|1~5"), dde_Error);
    EXPECT_EQ(rig.State().ReturnText, L"");
    EXPECT_STREQ(rig.link.OndaGetErrorStr(), "");
}

TEST(Link, ExitTerminatesThenDisconnectsAndIgnoresErrors) {
    TLinkRig rig;
    EXPECT_EQ(rig.link.OndaExit(), dde_Ok);  // no connection
    rig.Main(L"Debug", L"2");
    rig.InitConnected();
    rig.Server().Log->Fail = {L"Terminate", L"Disconnect"};
    EXPECT_EQ(rig.link.OndaExit(), dde_Ok);
    EXPECT_EQ(rig.ServerCalls(), (TCalls{L"Terminate", L"Disconnect", L"freed"}));
    EXPECT_EQ(rig.Control().MsgHandler, nullptr);
    EXPECT_EQ(rig.Control().Ox3, nullptr);
    ASSERT_EQ(rig.platform.Boxes.Shown.size(), 1u);
    EXPECT_EQ(rig.platform.Boxes.Shown[0].Style, 0x1040u);
    EXPECT_NE(rig.platform.Boxes.Shown[0].Text.find(L"\r\n\r\nClosing connection with Ondarix"),
              std::wstring::npos);
}

TEST(Link, ExitShowsNoBoxAtDebugZero) {
    TLinkRig rig;
    rig.InitConnected();
    EXPECT_EQ(rig.link.OndaExit(), dde_Ok);
    EXPECT_TRUE(rig.platform.Boxes.Shown.empty());
}

TEST(Link, UnloadClosesTheConnectionAndUninitialisesCom) {
    TLinkRig rig;
    rig.InitConnected();
    rig.State().ReturnText = L"x";
    rig.State().Config.OxApp = L"C:\\Ondarix\\ox.exe";
    rig.State().Config.UserNames.Add(L"alice");
    rig.link.Unload(/*comAllowed=*/true);
    EXPECT_EQ(rig.ServerCalls(), (TCalls{L"Terminate", L"Disconnect", L"freed"}));
    EXPECT_EQ(rig.platform.Com.Uninitialized, 1);
    EXPECT_EQ(rig.State().Config.UserNames.Count(), 0);
    EXPECT_EQ(rig.State().ReturnText, L"");
    EXPECT_EQ(rig.State().Config.OxApp, L"");
    EXPECT_EQ(rig.State().DllVersion, L"");
    rig.link.Unload(true);  // runs once
    EXPECT_EQ(rig.platform.Com.Uninitialized, 1);
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
    TLinkRig rig;
    rig.InitConnected();
    rig.State().Config.UserNames.Add(L"alice");
    auto* server = rig.Control().Ox3.get();
    auto* handler = rig.Control().MsgHandler.get();
    rig.link.Unload(/*comAllowed=*/false);
    EXPECT_TRUE(rig.ServerCalls().empty());  // not terminated, not even freed
    EXPECT_EQ(rig.Control().Ox3, nullptr);
    EXPECT_EQ(rig.platform.Com.Uninitialized, 0);
    EXPECT_EQ(rig.State().Config.UserNames.Count(), 0);
    delete server;  // the process would end here
    delete handler;
}

// A start or connection that fails shows its own box once and the initialisation answers
// dde_NoConnect, leaving the result text alone.
TEST(LinkWithRealSteps, FailedStartOrConnectionGivesNoConnect) {
    struct TCase {
        const char* Name;
        std::function<void(TLinkRig&)> Arrange;
        std::wstring Box;
    };
    const TCase cases[] = {
        {"process cannot be created",
         [](TLinkRig& r) {
             r.platform.Control.Desktop.StartError = 5;
             r.platform.Control.System.ErrorTexts[5] = L"Access is denied.";
         },
         L"Could not run \"C:\\Ondarix\\Ondarix.exe -dde\", working directory "
         L"\"C:\\Ondarix\"\r\n\r\n"
         L"Access is denied."},
        {"window never shown", [](TLinkRig& r) { r.platform.Control.Desktop.WindowAfter.reset(); },
         L"Could not find Ondarix window class TOxWindow"},
        {"hand-over fails",
         [](TLinkRig& r) {
             r.RunningInstance();
             r.Server().FetchError = L"Error: shared memory does not contain data";
         },
         L"Exception communicating with IOx3Server server:\r\n\r\nError: shared memory does not "
         L"contain data"},
        {"connect fails",
         [](TLinkRig& r) {
             r.RunningInstance();
             r.Main(L"UseMarshalling", L"0");
             r.Server().Log->Fail = {L"Connect"};
         },
         L"Exception communicating with IOx3Server server:\r\n\r\nThe RPC server is unavailable."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TLinkRig rig;
        rig.Main(L"UseMutex", L"0");
        c.Arrange(rig);
        rig.State().ReturnText = L"previous";
        EXPECT_EQ(rig.link.OndaInitI(nullptr, nullptr, 42), dde_NoConnect);
        ASSERT_EQ(rig.platform.Boxes.Shown.size(), 1u);
        EXPECT_EQ(testing::Body(rig.platform.Boxes.Shown[0]), c.Box);
        EXPECT_EQ(rig.platform.Boxes.Shown[0].Style, 0x1010u);
        EXPECT_EQ(rig.State().ReturnText, L"previous");
        EXPECT_EQ(rig.Control().Ox3, nullptr);
        EXPECT_EQ(rig.Control().MsgHandler, nullptr);
        EXPECT_FALSE(rig.State().ExecutingCmd);
    }
}

TEST(Link, ErrorTextBufferCopiesAtMostBufLenBytes) {
    TLinkRig rig;
    rig.State().ReturnText = L"0123456789";
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
        EXPECT_EQ(rig.link.OndaGetErrorStrBuf(buf, c.BufLen), c.Result) << c.BufLen;
        EXPECT_STREQ(buf, c.Text) << c.BufLen;
        EXPECT_EQ(buf[std::strlen(c.Text) + 1], 'X') << "wrote past the terminator";
    }
    EXPECT_EQ(rig.link.OndaGetErrorStrBuf(nullptr, 4), 0);
    EXPECT_EQ(rig.State().ReturnText, L"0123456789");  // never changed by reading
}

TEST(Link, ErrorTextIsConvertedToTheAnsiCodePage) {
    TLinkRig rig;
    rig.State().ReturnText = L"Gr\u00fc\u00dfe \u4e16";
    EXPECT_STREQ(rig.link.OndaGetErrorStr(),
                 "Gr\xfc\xdf"
                 "e ?");
    rig.State().ReturnText.clear();
    const char* empty = rig.link.OndaGetErrorStr();
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(*empty, '\0');
}

}  // namespace
}  // namespace deruz::link
