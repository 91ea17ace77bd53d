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
    const std::wstring path = L"SetLastAdminLinkDLLPath(c:\\link\\deruz64.dll)";
    const TCase cases[] = {
        {"marshalled",
         true,
         1,
         42,
         {L"NewProxy", L"ConnectTo(#1)", L"SetEvents", L"SetAppReturnWnd(42)", path},
         {L"Msg: Marshalling Ondarix interface...", L"Msg: Creating IOx3Server server object...",
          L"Msg: Connecting to IOx3Server server object..."}},
        {"connect",
         false,
         1,
         42,
         {L"NewProxy", L"Connect", L"SetEvents", L"SetAppReturnWnd(42)", path},
         {L"Msg: Creating IOx3Server server object...",
          L"Msg: Connecting to IOx3Server server object..."}},
        {"largest return window, Debug 2 shows nothing",
         true,
         2,
         0x7FFFFFFF,
         {L"NewProxy", L"ConnectTo(#1)", L"SetEvents", L"SetAppReturnWnd(2147483647)", path},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TControlRig rig;
        rig.Found(c.Marshal);
        rig.host.Debug = c.Debug;
        rig.settings.AppPrevWnd = c.AppPrevWnd;
        EXPECT_TRUE(rig.control.ConnectOndarix(rig.settings));
        EXPECT_EQ(rig.fakes.Server.Calls(), c.Calls);
        EXPECT_EQ(rig.host.Shown, c.Shown);
        ASSERT_EQ(rig.fakes.Server.Fetches.size(), c.Marshal ? 1u : 0u);
        if (c.Marshal) {
            EXPECT_EQ(rig.fakes.Server.Fetches[0].OxWnd, 0x777u);
            EXPECT_EQ(rig.fakes.Server.Fetches[0].Pid, 4321u);
        }
        ASSERT_NE(rig.state().Ox3, nullptr);
        ASSERT_NE(rig.state().MsgHandler, nullptr);
        // The server's events reach the new receiver.
        rig.fakes.Server.FireRequest(L"hello");
        EXPECT_EQ(rig.host.Events, TCalls{L"Event: Admin-Request from Ondarix: hello"});
    }
}

TEST(Connect, EachFailureShowsOneBoxAndLeavesNoConnection) {
    struct TCase {
        const char* Name;
        std::function<void(TControlRig&)> Arrange;
        std::wstring Reason;
    };
    const TCase cases[] = {
        {"shared memory empty",
         [](TControlRig& r) {
             r.fakes.Server.FetchError = L"Error: shared memory does not contain data";
         },
         L"Error: shared memory does not contain data"},
        {"connect fails",
         [](TControlRig& r) {
             r.Found(false);
             r.fakes.Server.Log->Fail = {L"Connect"};
         },
         L"The RPC server is unavailable."},
        {"handed-over interface fails",
         [](TControlRig& r) { r.fakes.Server.Log->Fail = {L"ConnectTo"}; },
         L"The RPC server is unavailable."},
        {"return window refused",
         [](TControlRig& r) { r.fakes.Server.Log->Fail = {L"SetAppReturnWnd"}; },
         L"The RPC server is unavailable."},
        {"return window beyond 32 bits",
         [](TControlRig& r) { r.settings.AppPrevWnd = 0x80000000u; }, L"Range check error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TControlRig rig;
        rig.Found(true);
        rig.settings.AppPrevWnd = 42;
        c.Arrange(rig);
        EXPECT_FALSE(rig.control.ConnectOndarix(rig.settings));
        EXPECT_EQ(rig.host.Shown, (std::vector<std::wstring>{kBoxPrefix + c.Reason}));
        EXPECT_EQ(rig.state().Ox3, nullptr);
        EXPECT_EQ(rig.state().MsgHandler, nullptr);
        const TCalls& calls = rig.fakes.Server.Calls();
        if (!calls.empty()) {
            EXPECT_EQ(calls.back(), L"freed");
        }
        EXPECT_EQ(std::count(calls.begin(), calls.end(), L"NewProxy"),
                  std::count(calls.begin(), calls.end(), L"freed"));
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
    for (const auto& c :
         {TCase{lmNormal, true}, TCase{lmClipboard, false}, TCase{lmMsVirtualChannel, false}}) {
        SCOPED_TRACE(static_cast<int>(c.Mode));
        TControlRig rig;
        rig.settings.LinkMode = c.Mode;
        if (c.Connected) rig.Connected();
        const TServerConnection* before = rig.state().Ox3.get();
        const TServerEvents* handlerBefore = rig.state().MsgHandler.get();
        rig.fakes.Server.Fetches.clear();
        EXPECT_TRUE(rig.control.ConnectOndarix(rig.settings));
        EXPECT_EQ(rig.state().Ox3.get(), before);
        EXPECT_TRUE(rig.fakes.Server.Calls().empty());
        EXPECT_TRUE(rig.fakes.Server.Fetches.empty());
        EXPECT_EQ(rig.state().MsgHandler.get(), handlerBefore);
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
    for (const std::int32_t debug : {0, 1}) {
        SCOPED_TRACE(debug);
        TControlRig rig;
        rig.settings.AppPrevWnd = 42;
        rig.Connected();
        const TServerEvents* oldHandler = rig.state().MsgHandler.get();
        rig.host.Debug = debug;
        // The link may still pass the program of an older configuration: the file decides.
        rig.settings.OxProgram = L"c:\\old\\ox.exe";
        rig.fakes.Files.Set(L"C:\\Link\\deruz64.ini", L"OndarixDDE", L"oxprogram",
                            L"C:\\Apps\\Img.EXE");
        rig.fakes.Server.Log->Fail = {L"Version"};

        rig.control.CheckRestartOndarix(rig.settings);

        EXPECT_EQ(rig.state().OxApp, L"c:\\apps\\img.exe");
        ASSERT_EQ(rig.fakes.Desktop.Starts.size(), 1u);
        EXPECT_EQ(rig.fakes.Desktop.Starts[0].CommandLine, L"c:\\apps\\img.exe -dde");
        const TCalls calls = {L"Version",
                              L"freed",
                              L"NewProxy",
                              L"Connect",
                              L"SetEvents",
                              L"SetAppReturnWnd(42)",
                              L"SetLastAdminLinkDLLPath(c:\\link\\deruz64.dll)"};
        EXPECT_EQ(rig.fakes.Server.Calls(), calls);
        EXPECT_NE(rig.state().Ox3, nullptr);
        // The next connection has a receiver of its own (made while the old one still lived).
        EXPECT_NE(rig.state().MsgHandler.get(), oldHandler);
        const bool freeingShown = !rig.host.Shown.empty() &&
                                  rig.host.Shown[0] == L"Msg: Freeing IOx3Server server object...";
        EXPECT_EQ(freeingShown, debug == 1);
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
    for (const TLinkMode mode : {lmClipboard, lmMsVirtualChannel}) {
        TControlRig rig;
        rig.settings.LinkMode = mode;
        rig.control.CheckRestartOndarix(rig.settings);
        EXPECT_TRUE(rig.fakes.Desktop.Events.empty());
        EXPECT_TRUE(rig.fakes.Server.Calls().empty());
        EXPECT_TRUE(rig.host.Shown.empty());
    }
}

}  // namespace
}  // namespace deruz::control
