// The command channel: stamping the forced ids, delivery to the server or the clipboard,
// the result code and result text in every mode, and what a command does when the link is
// not connected.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/link.h"
#include "tests/link/fakes.h"

namespace deruz::link {
namespace {

using testing::Body;
using testing::TLinkRig;
using TTexts = std::vector<std::wstring>;

TEST(Stamp, ForcedIdsGoOnTheFirstLineAndLineBreaksAreRemoved) {
    struct TCase {
        std::wstring Command, RoleID;
        std::int32_t DentistID;
        std::wstring Sent;
    };
    const TCase LCases[] = {
        {L"openpatient|1~5", L"R7", 12, L"openpatient|1~5|40~R7|50~12"},
        {L"first\r\nsecond", L"R7", 12, L"first|40~R7|50~12second"},
        {L"first\nsecond\rthird", L"R7", 12, L"first|40~R7|50~12secondthird"},
        {L"first\r\n", L"R7", 12, L"first|40~R7|50~12"},
        {L"\r\nsecond", L"", 5, L"|50~5second"},  // an empty first line is still the first
        {L"", L"R7", 12, L""},
        {L"cmd", L"R7", 0, L"cmd|40~R7"},
        {L"cmd", L"", 12, L"cmd|50~12"},
        {L"a\r\nb\nc\rd", L"", 0, L"abcd"},  // nothing forced: line breaks still go
    };
    for (const auto& LC : LCases) {
        EXPECT_EQ(StampCommand(LC.Command, LC.RoleID, LC.DentistID), LC.Sent) << LC.Command;
    }
}

TEST(Command, StampedCommandReachesTheServerAfterTheProbe) {
    TLinkRig LRig;
    LRig.Main(L"ForceExtRoleID", L"R7");
    LRig.Main(L"ForceDentistID", L"12");
    LRig.InitConnected();
    LRig.link.OndaCommand("openpatient|1~5\r\nmore");
    EXPECT_EQ(LRig.ServerCalls(),
              (TTexts{L"Version", L"AdminCommand(openpatient|1~5|40~R7|50~12more)"}));
}

TEST(Command, ServerResultAndTextGoToTheHost) {
    struct TCase {
        std::int32_t Result;
        std::wstring Text;
        const char* Ansi;
    };
    for (const auto& LC : {TCase{5, L"done", "done"}, TCase{-7, L"", ""},
                           TCase{2147483647, L"Gr\u00fc\u00dfe",
                                 "Gr\xfc\xdf"
                                 "e"}}) {
        SCOPED_TRACE(LC.Result);
        TLinkRig LRig;
        LRig.InitConnected();
        LRig.State().ReturnText = L"old";
        LRig.Server().Log->AdminResult = LC.Result;
        LRig.Server().Log->AdminText = LC.Text;
        EXPECT_EQ(LRig.link.OndaCommand("openpatient"), LC.Result);
        EXPECT_EQ(LRig.State().ReturnText, LC.Text);
        EXPECT_STREQ(LRig.link.OndaGetErrorStr(), LC.Ansi);
        EXPECT_TRUE(LRig.platform.Boxes.Shown.empty());
    }
}

TEST(Command, ServerErrorShowsOneBoxAndKeepsTheConnection) {
    TLinkRig LRig;
    LRig.InitConnected();
    LRig.State().ReturnText = L"old";
    LRig.Server().Log->Fail = {L"AdminCommand"};
    LRig.Server().Log->FailText = L"Catastrophic failure";
    const control::TServerConnection* LProxy = LRig.Control().Ox3.get();
    EXPECT_EQ(LRig.link.OndaCommand("openpatient"), dde_Error);
    EXPECT_EQ(LRig.State().ReturnText, L"");
    ASSERT_EQ(LRig.platform.Boxes.Shown.size(), 1u);
    EXPECT_EQ(LRig.platform.Boxes.Shown[0].Style, 0x1010u);
    EXPECT_EQ(Body(LRig.platform.Boxes.Shown[0]),
              L"Exception occured while sending AdminCommand: \r\n\r\nCatastrophic failure");
    EXPECT_EQ(LRig.Control().Ox3.get(), LProxy);
    EXPECT_EQ(LRig.ServerCalls(), (TTexts{L"Version", L"AdminCommand(openpatient)"}));
}

TEST(Command, WithoutConnectionAfterTheRestartCheckTheResultIsAnErrorWithEmptyText) {
    TLinkRig LRig;
    LRig.platform.Control.Desktop.StartError = 2;
    LRig.platform.Control.System.ErrorTexts[2] = L"File not found.";
    LRig.State().ReturnText = L"old";
    EXPECT_EQ(LRig.link.OndaCommand("openpatient"), dde_Error);
    EXPECT_EQ(LRig.State().ReturnText, L"");
    // Only the box of the failed start: the command itself adds none.
    EXPECT_EQ(LRig.platform.Bodies(),
              (TTexts{L"Could not run \"C:\\Ondarix\\Ondarix.exe -dde\", working directory "
                      L"\"C:\\Ondarix\"\r\n\r\nFile not found."}));
    EXPECT_TRUE(LRig.ServerCalls().empty());
}

TEST(Command, ServerCallIsShownAtDebugOneOnly) {
    for (const std::int32_t LDebug : {1, 2}) {
        SCOPED_TRACE(LDebug);
        TLinkRig LRig;
        LRig.Main(L"Debug", std::to_wstring(LDebug));
        LRig.InitConnected();
        LRig.Server().Log->AdminResult = 5;
        LRig.Server().Log->AdminText = L"done";
        EXPECT_EQ(LRig.link.OndaCommand("openpatient"), 5);
        const TTexts LShown = LDebug == 1
                                  ? TTexts{L"Sending AdminCommand to Ondarix:\r\n\r\nopenpatient",
                                           L"AdminCommand Result: (5, done)"}
                                  : TTexts{};
        EXPECT_EQ(LRig.platform.Bodies(), LShown);
    }
}

TEST(Command, ClipboardDelivery) {
    struct TCase {
        const char* Name;
        bool SetActiveWindow;
        bool Remote;
        TWindowHandle PrevWnd;
        const char* Command;
        std::vector<std::wstring> Clipboard;  // what was placed, if anything
        TWindowHandle PrevWndAfter;
    };
    const TCase LCases[] = {
        {"plain", false, false, 0, "openpatient|1~5", {L"openpatient|1~5"}, 0},
        {"return window taken from the active window",
         true,
         false,
         0,
         "openpatient\r\n|1~5",
         {L"%OXCMD%=setreturnwnd|11~4660\r\nopenpatient|1~5"},
         0x1234},
        {"known return window", true, false, 99, "x", {L"%OXCMD%=setreturnwnd|11~99\r\nx"}, 99},
        {"handle beyond 32 bits in decimal",
         true,
         false,
         0x100000001,
         "x",
         {L"%OXCMD%=setreturnwnd|11~4294967297\r\nx"},
         0x100000001},
        {"command sets the return window itself",
         true,
         false,
         99,
         "SetReturnWnd|11~5",
         {L"SetReturnWnd|11~5"},
         99},
        {"remote session, plain command",
         true,
         true,
         99,
         "x",
         {L"%OXCMD%=setreturnwnd|11~99\r\nx"},
         99},
        {"remote session, command with setreturnwnd", true, true, 99, "a|xSETRETURNWNDx", {}, 99},
    };
    for (const auto& LC : LCases) {
        SCOPED_TRACE(LC.Name);
        TLinkRig LRig;
        LRig.Main(L"UseClipboard", L"1");
        LRig.Main(L"DetectOndarix", L"0");
        LRig.Main(L"SetActiveWindow", LC.SetActiveWindow ? L"1" : L"0");
        LRig.platform.Control.System.Remote = LC.Remote;
        ASSERT_EQ(LRig.link.OndaInitI(nullptr, nullptr, LC.PrevWnd), dde_Ok);
        LRig.State().ReturnText = L"old";
        EXPECT_EQ(LRig.link.OndaCommand(LC.Command), dde_Ok);
        EXPECT_EQ(LRig.State().ReturnText, L"");
        EXPECT_EQ(LRig.platform.Clipboard.Texts, LC.Clipboard);
        EXPECT_EQ(LRig.platform.Clipboard.Calls, static_cast<int>(LC.Clipboard.size()));
        EXPECT_EQ(LRig.State().AppPrevWnd, LC.PrevWndAfter);
        // Clipboard mode neither probes nor starts anything.
        EXPECT_TRUE(LRig.platform.Control.Desktop.Events.empty());
        EXPECT_TRUE(LRig.ServerCalls().empty());
    }
}

TEST(Command, ClipboardFailureAndItsDebugMessage) {
    TLinkRig LRig;
    LRig.Main(L"Debug", L"1");
    LRig.Main(L"UseClipboard", L"1");
    LRig.Main(L"DetectOndarix", L"0");
    LRig.Main(L"SetActiveWindow", L"1");
    ASSERT_EQ(LRig.link.OndaInitI(nullptr, nullptr, 42), dde_Ok);
    LRig.platform.Boxes.Shown.clear();
    LRig.platform.Clipboard.Fail = true;
    EXPECT_EQ(LRig.link.OndaCommand("x"), dde_Error);
    EXPECT_EQ(LRig.State().ReturnText, L"Clipboard could not be opened.");
    EXPECT_EQ(LRig.platform.Bodies(),
              TTexts{L"Sending clipboard to Ondarix:\r\n\r\n%OXCMD%=setreturnwnd|11~42\r\nx"});
}

TEST(Command, VirtualChannelFailsEveryCommand) {
    TLinkRig LRig;
    LRig.Main(L"UseMsVirtualChannel", L"1");
    ASSERT_EQ(LRig.link.OndaInitI(nullptr, nullptr, 42), dde_Ok);
    LRig.platform.Control.Desktop.Events.clear();
    EXPECT_EQ(LRig.link.OndaCommand("x"), dde_Error);
    EXPECT_STREQ(LRig.link.OndaGetErrorStr(), "Invalid linkmode 2");
    EXPECT_TRUE(LRig.platform.Control.Desktop.Events.empty());
    EXPECT_EQ(LRig.platform.Clipboard.Calls, 0);
    EXPECT_TRUE(LRig.ServerCalls().empty());
}

TEST(Command, ErrorOfTheRestartCheckIsReportedLikeAnInitialisationError) {
    TLinkRig LRig;
    LRig.Main(L"DetectOndarix", L"0");
    LRig.Main(L"MonitorNumber", L"-1", L"StartUp");
    ASSERT_EQ(LRig.link.OndaInitI(nullptr, nullptr, 42), dde_Ok);
    EXPECT_EQ(LRig.link.OndaCommand("x"), dde_Error);
    EXPECT_EQ(LRig.State().ReturnText, L"Range check error");
    ASSERT_EQ(LRig.platform.Boxes.Shown.size(), 1u);
    EXPECT_EQ(LRig.platform.Boxes.Shown[0].Style, 0x1010u);
    EXPECT_EQ(Body(LRig.platform.Boxes.Shown[0]), L"Range check error");
    EXPECT_TRUE(LRig.platform.Control.Desktop.Starts.empty());
    EXPECT_FALSE(LRig.State().ExecutingCmd);
}

TEST(Command, WithDetectionOffTheFirstCommandStartsAndConnectsAndSoDoesOneAfterExit) {
    TLinkRig LRig;
    LRig.Main(L"DetectOndarix", L"0");
    LRig.Server().Log->AdminResult = 5;
    ASSERT_EQ(LRig.link.OndaInitI(nullptr, nullptr, 42), dde_Ok);
    EXPECT_TRUE(LRig.platform.Control.Desktop.Starts.empty());
    EXPECT_TRUE(LRig.ServerCalls().empty());

    EXPECT_EQ(LRig.link.OndaCommand("first"), 5);
    EXPECT_EQ(LRig.platform.Control.Desktop.Starts.size(), 1u);
    const std::wstring LPath = L"SetLastAdminLinkDLLPath(c:\\link\\deruz64.dll)";
    EXPECT_EQ(LRig.ServerCalls(), (TTexts{L"NewProxy", L"ConnectTo(#1)", L"SetEvents",
                                          L"SetAppReturnWnd(42)", LPath, L"AdminCommand(first)"}));

    LRig.ServerCalls().clear();
    EXPECT_EQ(LRig.link.OndaExit(), dde_Ok);
    EXPECT_EQ(LRig.link.OndaCommand("second"), 5);
    EXPECT_EQ(LRig.ServerCalls(),
              (TTexts{L"Terminate", L"Disconnect", L"freed", L"NewProxy", L"ConnectTo(#2)",
                      L"SetEvents", L"SetAppReturnWnd(42)", LPath, L"AdminCommand(second)"}));
    // The instance started for the first command is found again, not started twice.
    EXPECT_EQ(LRig.platform.Control.Desktop.Starts.size(), 1u);
}

// The first start took the executable and its folder from the type library registration; a
// start made before a later command does the same, whatever closed the connection. The
// working-folder setting applies only to a configured program and must stay unused.
TEST(Command, RestartRunsTheRegisteredApplicationInItsOwnFolderAgain) {
    struct TCase {
        const char* Name;
        bool Exit;  // else the application dies and the probe fails
    };
    for (const auto& LC : {TCase{"after ONDA_EXIT", true}, TCase{"after a failed probe", false}}) {
        SCOPED_TRACE(LC.Name);
        TLinkRig LRig;
        LRig.Main(L"oxworkingdir", L"E:\\Work");
        LRig.platform.Control.Registry.Set(
            control::TRegistryRoot::ClassesRoot,
            L"TypeLib\\{56D73100-E9A8-108B-A830-CD14D0517F8A}\\1.0\\0\\win32", L"",
            L"D:\\Img\\Bin\\OnDarix.EXE");
        ASSERT_EQ(LRig.link.OndaInitI(nullptr, nullptr, 42), dde_Ok);
        EXPECT_EQ(LRig.link.OndaCommand("first"), dde_Ok);
        if (LC.Exit) {
            EXPECT_EQ(LRig.link.OndaExit(), dde_Ok);
        } else {
            LRig.Server().Log->Fail = {L"Version"};
        }
        LRig.platform.Control.Desktop.Windows.clear();  // the application has ended
        EXPECT_EQ(LRig.link.OndaCommand("second"), dde_Ok);
        const auto& LStarts = LRig.platform.Control.Desktop.Starts;
        ASSERT_EQ(LStarts.size(), 2u);
        for (const auto& LStart : LStarts) {
            EXPECT_EQ(LStart.CommandLine, L"D:\\Img\\Bin\\OnDarix.EXE -dde");
            EXPECT_EQ(LStart.Folder, L"D:\\Img\\Bin");
        }
        EXPECT_TRUE(LRig.platform.Boxes.Shown.empty());
        EXPECT_NE(LRig.Control().Ox3, nullptr);
    }
}

}  // namespace
}  // namespace deruz::link
