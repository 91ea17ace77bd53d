// Connecting to the imaging application's server (shared-memory hand-over or the proxy's own
// connect), the order of the calls that follow, failures, and the restart check before
// every command.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "control/ondarix_control.h"
#include "tests/control/control_fakes.h"

namespace deruz::control {
namespace {

using namespace deruz::control::testing;

using TCalls = std::vector<std::wstring>;

constexpr wchar_t kBoxPrefix[] = L"ErrMsg: Exception communicating with IOx3Server server:\r\n\r\n";

class ConnectTest : public ::testing::Test, public TControlRig {
  protected:
    ConnectTest() { settings.AppPrevWnd = 42; }
};

TEST(Connect, MarshalledOrPlainConnectionThenEventsReturnWindowAndLibraryPath) {
    struct TCase {
        const char* Name;
        bool Marshal;
        std::int32_t Debug;
        TWindowHandle AppPrevWnd;
        TCalls Calls;
        std::vector<std::wstring> Shown;
    };
    const std::wstring LPath = L"SetLastAdminLinkDLLPath(c:\\link\\deruz64.dll)";
    const TCase LCases[] = {
        {"marshalled",
         true,
         1,
         42,
         {L"NewProxy", L"ConnectTo(#1)", L"SetEvents", L"SetAppReturnWnd(42)", LPath},
         {L"Msg: Marshalling Ondarix interface...", L"Msg: Creating IOx3Server server object...",
          L"Msg: Connecting to IOx3Server server object..."}},
        {"connect",
         false,
         1,
         42,
         {L"NewProxy", L"Connect", L"SetEvents", L"SetAppReturnWnd(42)", LPath},
         {L"Msg: Creating IOx3Server server object...",
          L"Msg: Connecting to IOx3Server server object..."}},
        {"largest return window, Debug 2 shows nothing",
         true,
         2,
         0x7FFFFFFF,
         {L"NewProxy", L"ConnectTo(#1)", L"SetEvents", L"SetAppReturnWnd(2147483647)", LPath},
         {}},
    };
    for (const auto& LC : LCases) {
        SCOPED_TRACE(LC.Name);
        TControlRig LRig;
        LRig.Found(LC.Marshal);
        LRig.host.Debug = LC.Debug;
        LRig.settings.AppPrevWnd = LC.AppPrevWnd;
        EXPECT_TRUE(LRig.control.ConnectOndarix(LRig.settings));
        EXPECT_EQ(LRig.fakes.Server.Calls(), LC.Calls);
        EXPECT_EQ(LRig.host.Shown, LC.Shown);
        ASSERT_EQ(LRig.fakes.Server.Fetches.size(), LC.Marshal ? 1u : 0u);
        if (LC.Marshal) {
            EXPECT_EQ(LRig.fakes.Server.Fetches[0].OxWnd, 0x777u);
            EXPECT_EQ(LRig.fakes.Server.Fetches[0].Pid, 4321u);
        }
        ASSERT_NE(LRig.state().Ox3, nullptr);
        ASSERT_NE(LRig.state().MsgHandler, nullptr);
        // The server's events reach the new receiver.
        LRig.fakes.Server.FireRequest(L"hello");
        EXPECT_EQ(LRig.host.Events, TCalls{L"Event: Admin-Request from Ondarix: hello"});
    }
}

TEST(Connect, EachFailureShowsOneBoxAndLeavesNoConnection) {
    struct TCase {
        const char* Name;
        std::function<void(TControlRig&)> Arrange;
        std::wstring Reason;
    };
    const TCase LCases[] = {
        {"shared memory empty",
         [](TControlRig& AR) {
             AR.fakes.Server.FetchError = L"Error: shared memory does not contain data";
         },
         L"Error: shared memory does not contain data"},
        {"connect fails",
         [](TControlRig& AR) {
             AR.Found(false);
             AR.fakes.Server.Log->Fail = {L"Connect"};
         },
         L"The RPC server is unavailable."},
        {"handed-over interface fails",
         [](TControlRig& AR) { AR.fakes.Server.Log->Fail = {L"ConnectTo"}; },
         L"The RPC server is unavailable."},
        {"return window refused",
         [](TControlRig& AR) { AR.fakes.Server.Log->Fail = {L"SetAppReturnWnd"}; },
         L"The RPC server is unavailable."},
        {"return window beyond 32 bits",
         [](TControlRig& AR) { AR.settings.AppPrevWnd = 0x80000000u; }, L"Range check error"},
    };
    for (const auto& LC : LCases) {
        SCOPED_TRACE(LC.Name);
        TControlRig LRig;
        LRig.Found(true);
        LRig.settings.AppPrevWnd = 42;
        LC.Arrange(LRig);
        EXPECT_FALSE(LRig.control.ConnectOndarix(LRig.settings));
        EXPECT_EQ(LRig.host.Shown, (std::vector<std::wstring>{kBoxPrefix + LC.Reason}));
        EXPECT_EQ(LRig.state().Ox3, nullptr);
        EXPECT_EQ(LRig.state().MsgHandler, nullptr);
        const TCalls& LCalls = LRig.fakes.Server.Calls();
        if (!LCalls.empty()) {
            EXPECT_EQ(LCalls.back(), L"freed");
        }
        EXPECT_EQ(std::count(LCalls.begin(), LCalls.end(), L"NewProxy"),
                  std::count(LCalls.begin(), LCalls.end(), L"freed"));
    }
}

TEST_F(ConnectTest, ServerWithoutLibraryPathPropertyStillConnects) {
    fakes.Server.Log->Fail = {L"SetLastAdminLinkDLLPath"};
    EXPECT_TRUE(control.ConnectOndarix(settings));
    EXPECT_NE(state().Ox3, nullptr);
    EXPECT_TRUE(host.Shown.empty());
}

TEST(Connect, NothingIsCreatedWhenConnectedOrInAModeWithoutServer) {
    struct TCase {
        TLinkMode Mode;
        bool Connected;
    };
    for (const auto& LC :
         {TCase{lmNormal, true}, TCase{lmClipboard, false}, TCase{lmMsVirtualChannel, false}}) {
        SCOPED_TRACE(static_cast<int>(LC.Mode));
        TControlRig LRig;
        LRig.settings.LinkMode = LC.Mode;
        if (LC.Connected) LRig.Connected();
        const TServerConnection* LBefore = LRig.state().Ox3.get();
        const TServerEvents* LHandlerBefore = LRig.state().MsgHandler.get();
        LRig.fakes.Server.Fetches.clear();
        EXPECT_TRUE(LRig.control.ConnectOndarix(LRig.settings));
        EXPECT_EQ(LRig.state().Ox3.get(), LBefore);
        EXPECT_TRUE(LRig.fakes.Server.Calls().empty());
        EXPECT_TRUE(LRig.fakes.Server.Fetches.empty());
        EXPECT_EQ(LRig.state().MsgHandler.get(), LHandlerBefore);
    }
}

TEST_F(ConnectTest, LiveProbeDoesNothingElse) {
    Connected();
    control.CheckRestartOndarix(settings);
    EXPECT_EQ(fakes.Server.Calls(), TCalls{L"Version"});
    EXPECT_TRUE(fakes.Desktop.Events.empty());
    EXPECT_NE(state().Ox3, nullptr);
}

TEST(Restart, FailedProbeFreesTheProxyRereadsTheProgramAndStartsAndConnectsAgain) {
    for (const std::int32_t LDebug : {0, 1}) {
        SCOPED_TRACE(LDebug);
        TControlRig LRig;
        LRig.settings.AppPrevWnd = 42;
        LRig.Connected();
        const TServerEvents* LOldHandler = LRig.state().MsgHandler.get();
        LRig.host.Debug = LDebug;
        // The link may still pass the program of an older configuration: the file decides.
        LRig.settings.OxProgram = L"c:\\old\\ox.exe";
        LRig.fakes.Files.Set(L"C:\\Link\\deruz64.ini", L"OndarixDDE", L"oxprogram",
                             L"C:\\Apps\\Img.EXE");
        LRig.fakes.Server.Log->Fail = {L"Version"};

        LRig.control.CheckRestartOndarix(LRig.settings);

        EXPECT_EQ(LRig.state().OxApp, L"c:\\apps\\img.exe");
        ASSERT_EQ(LRig.fakes.Desktop.Starts.size(), 1u);
        EXPECT_EQ(LRig.fakes.Desktop.Starts[0].CommandLine, L"c:\\apps\\img.exe -dde");
        const TCalls LCalls = {L"Version",
                               L"freed",
                               L"NewProxy",
                               L"Connect",
                               L"SetEvents",
                               L"SetAppReturnWnd(42)",
                               L"SetLastAdminLinkDLLPath(c:\\link\\deruz64.dll)"};
        EXPECT_EQ(LRig.fakes.Server.Calls(), LCalls);
        EXPECT_NE(LRig.state().Ox3, nullptr);
        // The next connection has a receiver of its own (made while the old one still lived).
        EXPECT_NE(LRig.state().MsgHandler.get(), LOldHandler);
        const bool LFreeingShown =
            !LRig.host.Shown.empty() &&
            LRig.host.Shown[0] == L"Msg: Freeing IOx3Server server object...";
        EXPECT_EQ(LFreeingShown, LDebug == 1);
    }
}

TEST_F(ConnectTest, WithoutConnectionAFailedStartConnectsNothing) {
    fakes.Desktop.StartError = 5;
    control.CheckRestartOndarix(settings);
    EXPECT_EQ(fakes.Desktop.Starts.size(), 1u);
    EXPECT_TRUE(fakes.Server.Calls().empty());
    EXPECT_EQ(state().Ox3, nullptr);
}

TEST(Restart, ModesWithoutServerNeitherProbeNorStart) {
    for (const TLinkMode LMode : {lmClipboard, lmMsVirtualChannel}) {
        TControlRig LRig;
        LRig.settings.LinkMode = LMode;
        LRig.control.CheckRestartOndarix(LRig.settings);
        EXPECT_TRUE(LRig.fakes.Desktop.Events.empty());
        EXPECT_TRUE(LRig.fakes.Server.Calls().empty());
        EXPECT_TRUE(LRig.host.Shown.empty());
    }
}

}  // namespace
}  // namespace deruz::control
