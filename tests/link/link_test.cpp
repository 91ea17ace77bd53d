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

bool Has(const TCalls& ACalls, const std::wstring& ACall) {
    return std::find(ACalls.begin(), ACalls.end(), ACall) != ACalls.end();
}

// Sets a key of the configuration file in the host's folder C:\cfg.
void Cfg(TLinkRig& ARig, const std::wstring& AKey, const std::wstring& AValue) {
    ARig.platform.Control.Files.Set(L"C:\\cfg\\deruz64.ini", L"OndarixDDE", AKey, AValue);
}

TEST(Link, LoadRecordsLibraryAndInitialisesComOnce) {
    TLinkRig LRig;
    LRig.link.Load();  // a second call changes nothing
    EXPECT_EQ(LRig.platform.Com.Initialized, 1);
    EXPECT_EQ(LRig.State().CoInitOK, 0);
    EXPECT_EQ(LRig.State().DllFn, L"C:\\Link\\DeRuz64.dll");
    EXPECT_EQ(LRig.State().DllVersion, L"1.2.3.4");
    LRig.State().Config.UserNames.Add(L"Alice");
    EXPECT_EQ(LRig.State().Config.UserNames.IndexOf(L"ALICE"), 0);
}

TEST(Link, VersionIsServedBeforeDuringAndAfterInitialisation) {
    TLinkRig LRig;
    LRig.Main(L"Debug", L"1");
    LRig.Main(L"DetectOndarix", L"0");
    EXPECT_EQ(LRig.link.OndaGetVersion(), 262);
    std::int32_t LDuring = 0;
    // The summary box is up while the initialisation runs.
    LRig.platform.Boxes.WhileShown = [&] { LDuring = LRig.link.OndaGetVersion(); };
    EXPECT_EQ(LRig.link.OndaInitI(nullptr, nullptr, 7), dde_Ok);
    ASSERT_EQ(LRig.platform.Boxes.Shown.size(), 1u);
    EXPECT_EQ(LDuring, 262);
    EXPECT_EQ(LRig.link.OndaGetVersion(), 262);
}

void RefusedProc() {}

TEST(Link, ReentrantCallsGetTheirFixedAnswers) {
    TLinkRig LRig;
    LRig.Main(L"Debug", L"1");
    LRig.Main(L"UseMarshalling", L"0");
    LRig.RunningInstance();
    LRig.State().ReturnText = L"previous";
    std::int32_t LInit = 0, LInitI = 0, LInit2W = 0, LCommand = 0, LExitResult = -1;
    std::string LText;
    char LBuf[32];
    std::int32_t LBufResult = -1;
    bool LReentered = false;
    // While the initialisation connects, its proxy already exists: an exit that were not
    // refused would close it.
    LRig.platform.Boxes.WhileShown = [&] {
        if (LReentered ||
            LRig.platform.Bodies().back() != L"Connecting to IOx3Server server object...") {
            return;
        }
        LReentered = true;
        LInit = LRig.link.OndaInit(nullptr);
        LInitI = LRig.link.OndaInitI(nullptr, nullptr, 1);
        LInit2W = LRig.link.OndaInit2W(nullptr, &RefusedProc, 1);
        LCommand = LRig.link.OndaCommand("openpatient");
        LExitResult = LRig.link.OndaExit();
        LText = LRig.link.OndaGetErrorStr();
        LBufResult = LRig.link.OndaGetErrorStrBuf(LBuf, 31);
    };
    EXPECT_EQ(LRig.link.OndaInitI(nullptr, nullptr, 7), dde_Ok);
    ASSERT_TRUE(LReentered);
    EXPECT_EQ(LInit, dde_Error);
    EXPECT_EQ(LInitI, dde_Error);
    EXPECT_EQ(LInit2W, dde_Error);
    EXPECT_EQ(LCommand, dde_Error);
    EXPECT_EQ(LExitResult, dde_Ok);
    // The exit closed nothing.
    EXPECT_FALSE(Has(LRig.ServerCalls(), L"Terminate"));
    EXPECT_FALSE(Has(LRig.ServerCalls(), L"freed"));
    EXPECT_NE(LRig.Control().Ox3, nullptr);
    EXPECT_EQ(LText, "previous");
    EXPECT_EQ(LBufResult, 8);
    EXPECT_STREQ(LBuf, "previous");
    EXPECT_EQ(LRig.State().ReturnText, L"previous");
    EXPECT_EQ(LRig.State().AppPrevWnd, 7u);  // re-entrant calls changed nothing
    EXPECT_EQ(LRig.State().ProcMsgs2w, nullptr);
    EXPECT_FALSE(LRig.State().ExecutingCmd);
}

TEST(Link, InitialisationResultsFollowTheSteps) {
    struct TCase {
        const char* Name;
        std::function<void(TLinkRig&)> Arrange;
        std::int32_t Result;
        bool Looked;      // the application was looked for (and started when missing)
        bool Connecting;  // a connection to its server was tried
    };
    const TCase LCases[] = {
        {"detection off", [](TLinkRig& AR) { Cfg(AR, L"DetectOndarix", L"0"); }, dde_Ok, false,
         false},
        {"start fails", [](TLinkRig& AR) { AR.platform.Control.Desktop.StartError = 2; },
         dde_NoConnect, true, false},
        {"connect fails",
         [](TLinkRig& AR) {
             AR.RunningInstance();
             Cfg(AR, L"UseMarshalling", L"0");
             AR.Server().Log->Fail = {L"Connect"};
         },
         dde_NoConnect, true, true},
        {"connected", [](TLinkRig& AR) { AR.RunningInstance(); }, dde_Ok, true, true},
    };
    for (const auto& LC : LCases) {
        SCOPED_TRACE(LC.Name);
        TLinkRig LRig;
        Cfg(LRig, L"UseMutex", L"0");
        LC.Arrange(LRig);
        EXPECT_EQ(LRig.link.OndaInitI("C:\\cfg", nullptr, 42), LC.Result);
        // The configuration came from the host's folder.
        EXPECT_EQ(LRig.State().Config.MainIniFn, L"C:\\cfg\\deruz64.ini");
        EXPECT_EQ(!LRig.platform.Control.Desktop.Events.empty(), LC.Looked);
        EXPECT_EQ(Has(LRig.ServerCalls(), L"NewProxy"), LC.Connecting);
        EXPECT_EQ(LRig.State().AppPrevWnd, 42u);
        EXPECT_FALSE(LRig.State().ExecutingCmd);
    }
}

TEST(Link, RepeatedInitialisationWhileConnectedOnlyUpdatesTheReturnWindow) {
    TLinkRig LRig;
    LRig.InitConnected();
    LRig.platform.Control.Desktop.Events.clear();
    LRig.Main(L"UseClipboard", L"1");  // not read again
    EXPECT_EQ(LRig.link.OndaInitI(nullptr, nullptr, 99), dde_Ok);
    EXPECT_EQ(LRig.State().Config.LinkMode, lmNormal);
    EXPECT_TRUE(LRig.platform.Control.Desktop.Events.empty());
    EXPECT_TRUE(LRig.ServerCalls().empty());
    EXPECT_EQ(LRig.State().AppPrevWnd, 99u);
}

TEST(Link, InitVariantsPassTheirWindowAndProcedure) {
    TLinkRig LRig;
    LRig.Main(L"DetectOndarix", L"0");
    LRig.platform.Windows.Active = 0x5150;
    EXPECT_EQ(LRig.link.OndaInit(nullptr), dde_Ok);
    EXPECT_EQ(LRig.State().AppPrevWnd, 0x5150u);
    auto LProc = +[] {};
    EXPECT_EQ(LRig.link.OndaInit2W(nullptr, LProc, 3), dde_Ok);
    EXPECT_EQ(LRig.State().ProcMsgs2w, LProc);
    EXPECT_EQ(LRig.State().AppPrevWnd, 3u);
}

TEST(Link, ErrorDuringInitialisationIsShownAndReturned) {
    TLinkRig LRig;
    LRig.Main(L"Debug", L"-1");
    std::int32_t LReentered = 0;
    LRig.platform.Boxes.WhileShown = [&] { LReentered = LRig.link.OndaCommand("x"); };
    EXPECT_EQ(LRig.link.OndaInitI(nullptr, nullptr, 1), dde_Error);
    EXPECT_EQ(LRig.State().ReturnText, L"Range check error");
    ASSERT_EQ(LRig.platform.Boxes.Shown.size(), 1u);
    EXPECT_EQ(LRig.platform.Boxes.Shown[0].Caption, L"Ondarix V3 Link library");
    EXPECT_EQ(LRig.platform.Boxes.Shown[0].Text,
              L"Link-DLL: c:\\link\\deruz64.dll [1.2.3.4]\r\n\r\nRange check error");
    EXPECT_EQ(LRig.platform.Boxes.Shown[0].Style, 0x1010u);
    EXPECT_EQ(LReentered, dde_Error);  // still guarded while the box is up
    EXPECT_FALSE(LRig.State().ExecutingCmd);
    EXPECT_EQ(LRig.link.OndaGetErrorStr(), std::string("Range check error"));
}

TEST(Link, ForeignExceptionsBecomeTheirMessage) {
    TLinkRig LRig;
    LRig.platform.Control.Ini.OnRead = [] { throw std::runtime_error("boom"); };
    EXPECT_EQ(LRig.link.OndaInitI(nullptr, nullptr, 1), dde_Error);
    EXPECT_EQ(LRig.State().ReturnText, L"boom");
}

TEST(Link, CommandClearsTheResultTextAndFailsWithoutAConnection) {
    TLinkRig LRig;
    LRig.State().ReturnText = L"old";
    LRig.platform.Control.Desktop.StartError = 2;  // the restart check cannot start it
    EXPECT_EQ(LRig.link.OndaCommand("openpatient|1~5"), dde_Error);
    EXPECT_EQ(LRig.State().ReturnText, L"");
    EXPECT_STREQ(LRig.link.OndaGetErrorStr(), "");
}

TEST(Link, ExitTerminatesThenDisconnectsAndIgnoresErrors) {
    TLinkRig LRig;
    EXPECT_EQ(LRig.link.OndaExit(), dde_Ok);  // no connection
    LRig.Main(L"Debug", L"2");
    LRig.InitConnected();
    LRig.Server().Log->Fail = {L"Terminate", L"Disconnect"};
    EXPECT_EQ(LRig.link.OndaExit(), dde_Ok);
    EXPECT_EQ(LRig.ServerCalls(), (TCalls{L"Terminate", L"Disconnect", L"freed"}));
    EXPECT_EQ(LRig.Control().MsgHandler, nullptr);
    EXPECT_EQ(LRig.Control().Ox3, nullptr);
    ASSERT_EQ(LRig.platform.Boxes.Shown.size(), 1u);
    EXPECT_EQ(LRig.platform.Boxes.Shown[0].Style, 0x1040u);
    EXPECT_NE(LRig.platform.Boxes.Shown[0].Text.find(L"\r\n\r\nClosing connection with Ondarix"),
              std::wstring::npos);
}

TEST(Link, ExitShowsNoBoxAtDebugZero) {
    TLinkRig LRig;
    LRig.InitConnected();
    EXPECT_EQ(LRig.link.OndaExit(), dde_Ok);
    EXPECT_TRUE(LRig.platform.Boxes.Shown.empty());
}

TEST(Link, UnloadClosesTheConnectionAndUninitialisesCom) {
    TLinkRig LRig;
    LRig.InitConnected();
    LRig.State().ReturnText = L"x";
    LRig.State().Config.OxApp = L"C:\\Ondarix\\ox.exe";
    LRig.State().Config.UserNames.Add(L"alice");
    LRig.link.Unload(/*AComAllowed=*/true);
    EXPECT_EQ(LRig.ServerCalls(), (TCalls{L"Terminate", L"Disconnect", L"freed"}));
    EXPECT_EQ(LRig.platform.Com.Uninitialized, 1);
    EXPECT_EQ(LRig.State().Config.UserNames.Count(), 0);
    EXPECT_EQ(LRig.State().ReturnText, L"");
    EXPECT_EQ(LRig.State().Config.OxApp, L"");
    EXPECT_EQ(LRig.State().DllVersion, L"");
    LRig.link.Unload(true);  // runs once
    EXPECT_EQ(LRig.platform.Com.Uninitialized, 1);
}

TEST(LinkUnload, ComIsUninitialisedOnlyAfterASuccessfulInitialisation) {
    for (std::int32_t LStatus : {0, 1, -2147418113 /* E_UNEXPECTED */}) {
        TFakePlatform LPlatform;
        LPlatform.Com.Result = LStatus;
        TLink LLink(LPlatform.Services());
        LLink.Load();
        LLink.Unload(true);
        EXPECT_EQ(LPlatform.Com.Uninitialized, LStatus >= 0 ? 1 : 0) << LStatus;
    }
}

TEST(LinkUnload, AtProcessExitNothingCallsTheServerOrCom) {
    TLinkRig LRig;
    LRig.InitConnected();
    LRig.State().Config.UserNames.Add(L"alice");
    auto* LServer = LRig.Control().Ox3.get();
    auto* LHandler = LRig.Control().MsgHandler.get();
    LRig.link.Unload(/*AComAllowed=*/false);
    EXPECT_TRUE(LRig.ServerCalls().empty());  // not terminated, not even freed
    EXPECT_EQ(LRig.Control().Ox3, nullptr);
    EXPECT_EQ(LRig.platform.Com.Uninitialized, 0);
    EXPECT_EQ(LRig.State().Config.UserNames.Count(), 0);
    delete LServer;  // the process would end here
    delete LHandler;
}

// A start or connection that fails shows its own box once and the initialisation answers
// dde_NoConnect, leaving the result text alone.
TEST(LinkWithRealSteps, FailedStartOrConnectionGivesNoConnect) {
    struct TCase {
        const char* Name;
        std::function<void(TLinkRig&)> Arrange;
        std::wstring Box;
    };
    const TCase LCases[] = {
        {"process cannot be created",
         [](TLinkRig& AR) {
             AR.platform.Control.Desktop.StartError = 5;
             AR.platform.Control.System.ErrorTexts[5] = L"Access is denied.";
         },
         L"Could not run \"C:\\Ondarix\\Ondarix.exe -dde\", working directory "
         L"\"C:\\Ondarix\"\r\n\r\n"
         L"Access is denied."},
        {"window never shown",
         [](TLinkRig& AR) { AR.platform.Control.Desktop.WindowAfter.reset(); },
         L"Could not find Ondarix window class TOxWindow"},
        {"hand-over fails",
         [](TLinkRig& AR) {
             AR.RunningInstance();
             AR.Server().FetchError = L"Error: shared memory does not contain data";
         },
         L"Exception communicating with IOx3Server server:\r\n\r\nError: shared memory does not "
         L"contain data"},
        {"connect fails",
         [](TLinkRig& AR) {
             AR.RunningInstance();
             AR.Main(L"UseMarshalling", L"0");
             AR.Server().Log->Fail = {L"Connect"};
         },
         L"Exception communicating with IOx3Server server:\r\n\r\nThe RPC server is unavailable."},
    };
    for (const auto& LC : LCases) {
        SCOPED_TRACE(LC.Name);
        TLinkRig LRig;
        LRig.Main(L"UseMutex", L"0");
        LC.Arrange(LRig);
        LRig.State().ReturnText = L"previous";
        EXPECT_EQ(LRig.link.OndaInitI(nullptr, nullptr, 42), dde_NoConnect);
        ASSERT_EQ(LRig.platform.Boxes.Shown.size(), 1u);
        EXPECT_EQ(testing::Body(LRig.platform.Boxes.Shown[0]), LC.Box);
        EXPECT_EQ(LRig.platform.Boxes.Shown[0].Style, 0x1010u);
        EXPECT_EQ(LRig.State().ReturnText, L"previous");
        EXPECT_EQ(LRig.Control().Ox3, nullptr);
        EXPECT_EQ(LRig.Control().MsgHandler, nullptr);
        EXPECT_FALSE(LRig.State().ExecutingCmd);
    }
}

TEST(Link, ErrorTextBufferCopiesAtMostBufLenBytes) {
    TLinkRig LRig;
    LRig.State().ReturnText = L"0123456789";
    struct TCase {
        std::int32_t BufLen;
        std::int32_t Result;
        const char* Text;
    };
    const TCase LCases[] = {
        {4, 4, "0123"}, {0, 0, ""}, {-3, 0, ""}, {10, 10, "0123456789"}, {50, 10, "0123456789"}};
    for (const auto& LC : LCases) {
        char LBuf[64];
        std::memset(LBuf, 'X', sizeof LBuf);
        EXPECT_EQ(LRig.link.OndaGetErrorStrBuf(LBuf, LC.BufLen), LC.Result) << LC.BufLen;
        EXPECT_STREQ(LBuf, LC.Text) << LC.BufLen;
        EXPECT_EQ(LBuf[std::strlen(LC.Text) + 1], 'X') << "wrote past the terminator";
    }
    EXPECT_EQ(LRig.link.OndaGetErrorStrBuf(nullptr, 4), 0);
    EXPECT_EQ(LRig.State().ReturnText, L"0123456789");  // never changed by reading
}

TEST(Link, ErrorTextIsConvertedToTheAnsiCodePage) {
    TLinkRig LRig;
    LRig.State().ReturnText = L"Gr\u00fc\u00dfe \u4e16";
    EXPECT_STREQ(LRig.link.OndaGetErrorStr(),
                 "Gr\xfc\xdf"
                 "e ?");
    LRig.State().ReturnText.clear();
    const char* LEmpty = LRig.link.OndaGetErrorStr();
    ASSERT_NE(LEmpty, nullptr);
    EXPECT_EQ(*LEmpty, '\0');
}

}  // namespace
}  // namespace deruz::link
