// The server's events as the host sees them: composed texts and their boxes, the result
// text replaced by the command-ready event, the wake-up event, and export calls made from
// inside an event while a command runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/msg_handler.h"
#include "link/link.h"
#include "tests/link/fakes.h"

namespace deruz::link {
namespace {

using control::AdminNotesText;
using control::PhotoAddedText;
using testing::TLinkRig;
using TTexts = std::vector<std::wstring>;

void HostProc() {}

TEST(EventTexts, PhotoAndNotesTexts) {
    EXPECT_EQ(PhotoAddedText(2, 7, L"P1", L"X9", 3, 5), L"photoadded|2|7|P1|X9|35");
    EXPECT_EQ(PhotoAddedText(-1, 0, L"a|b", L"", 1, 16), L"photoadded|-1|0|a|b||116");
    EXPECT_EQ(AdminNotesText(7, L"", L"", L"", L""), L"adminnotes|7||||");
    EXPECT_EQ(AdminNotesText(-3, L"P", L"11", L"C|D", L"N"), L"adminnotes|-3|P|11|C|D|N");
}

TEST(Events, BoxesOnlyAfterInit2WWithDiagnosticsOn) {
    struct TCase {
        bool Init2W;
        std::int32_t Debug;
    };
    const TTexts LBoxes = {L"OnNewPhoto from Ondarix: photoadded|2|7|P1|X9|35",
                           L"Admin-Notes from Ondarix: adminnotes|7||||",
                           L"Admin-Request from Ondarix: openpatient|1~5"};
    for (const auto& LC : {TCase{false, 0}, TCase{false, 1}, TCase{false, 2}, TCase{true, 0},
                           TCase{true, 1}, TCase{true, 2}}) {
        SCOPED_TRACE(std::string(LC.Init2W ? "ONDA_INIT2W" : "ONDA_INITI") + " Debug " +
                     std::to_string(LC.Debug));
        TLinkRig LRig;
        LRig.Main(L"Debug", std::to_wstring(LC.Debug));
        LRig.InitConnected(42, LC.Init2W ? &HostProc : nullptr);
        LRig.State().ReturnText = L"kept";
        LRig.Server().FireNewPhoto(2, 7, L"P1", L"X9", 3, 5);
        LRig.Server().FireAdminNotes(7, L"", L"", L"", L"");
        LRig.Server().FireRequest(L"openpatient|1~5");
        EXPECT_EQ(LRig.platform.Bodies(), LC.Init2W && LC.Debug >= 1 ? LBoxes : TTexts{});
        for (const auto& LBox : LRig.platform.Boxes.Shown) EXPECT_EQ(LBox.Style, 0x1040u);
        EXPECT_EQ(LRig.State().ReturnText, L"kept");  // no event text goes to the host
        EXPECT_TRUE(LRig.ServerCalls().empty());      // nor back to the server
    }
}

TEST(Events, CommandReadyReplacesTheResultTextUntilTheNextCommand) {
    TLinkRig LRig;
    LRig.InitConnected();
    LRig.Server().Log->AdminText = L"done";
    LRig.link.OndaCommand("openpatient");
    LRig.Server().FireCmdReady(7, L"ready");
    EXPECT_STREQ(LRig.link.OndaGetErrorStr(), "ready");
    LRig.Server().Log->AdminText = L"";
    LRig.link.OndaCommand("next");
    EXPECT_STREQ(LRig.link.OndaGetErrorStr(), "");
}

TEST(Events, WakeupBringsTheReturnWindowToTheFrontWhenThereIsOne) {
    for (const TWindowHandle LWnd : {TWindowHandle{42}, TWindowHandle{0}}) {
        TLinkRig LRig;
        LRig.InitConnected(LWnd);
        LRig.Server().FireWakeup();
        EXPECT_EQ(LRig.platform.Windows.Foreground,
                  LWnd != 0 ? std::vector<TWindowHandle>{42} : std::vector<TWindowHandle>{});
        EXPECT_TRUE(LRig.platform.Boxes.Shown.empty());
    }
}

TEST(Events, ExportsCalledFromAnEventDuringACommandChangeNothing) {
    TLinkRig LRig;
    LRig.InitConnected(42);
    LRig.Server().Log->AdminResult = 9;
    LRig.Server().Log->AdminText = L"answer";
    std::int32_t LInit = 0, LCommand = 0, LExitResult = -1, LVersion = 0;
    std::string LTextDuring = "unset";
    // The server wakes the host while AdminCommand waits; the host's window procedure runs
    // inside that and calls the link again.
    LRig.Server().Log->DuringAdminCommand = [&] { LRig.Server().FireWakeup(); };
    LRig.platform.Windows.OnForeground = [&] {
        LInit = LRig.link.OndaInitI(nullptr, nullptr, 99);
        LCommand = LRig.link.OndaCommand("other");
        LExitResult = LRig.link.OndaExit();
        LVersion = LRig.link.OndaGetVersion();
        LTextDuring = LRig.link.OndaGetErrorStr();
    };
    const control::TServerConnection* LProxy = LRig.Control().Ox3.get();

    EXPECT_EQ(LRig.link.OndaCommand("openpatient"), 9);

    EXPECT_EQ(LInit, dde_Error);
    EXPECT_EQ(LCommand, dde_Error);
    EXPECT_EQ(LExitResult, dde_Ok);
    EXPECT_EQ(LVersion, 262);
    EXPECT_EQ(LTextDuring, "");  // cleared when the command began
    EXPECT_EQ(LRig.platform.Windows.Foreground, std::vector<TWindowHandle>{42});
    EXPECT_EQ(LRig.State().AppPrevWnd, 42u);
    EXPECT_EQ(LRig.Control().Ox3.get(), LProxy);
    EXPECT_EQ(LRig.ServerCalls(), (TTexts{L"Version", L"AdminCommand(openpatient)"}));
    EXPECT_EQ(LRig.State().ReturnText, L"answer");
    EXPECT_FALSE(LRig.State().ExecutingCmd);
}

}  // namespace
}  // namespace deruz::link
