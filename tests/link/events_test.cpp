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
    const TTexts boxes = {L"OnNewPhoto from Ondarix: photoadded|2|7|P1|X9|35",
                          L"Admin-Notes from Ondarix: adminnotes|7||||",
                          L"Admin-Request from Ondarix: openpatient|1~5"};
    for (const auto& c : {TCase{false, 0}, TCase{false, 1}, TCase{false, 2}, TCase{true, 0},
                          TCase{true, 1}, TCase{true, 2}}) {
        SCOPED_TRACE(std::string(c.Init2W ? "ONDA_INIT2W" : "ONDA_INITI") + " Debug " +
                     std::to_string(c.Debug));
        TLinkRig rig;
        rig.Main(L"Debug", std::to_wstring(c.Debug));
        rig.InitConnected(42, c.Init2W ? &HostProc : nullptr);
        rig.State().ReturnText = L"kept";
        rig.Server().FireNewPhoto(2, 7, L"P1", L"X9", 3, 5);
        rig.Server().FireAdminNotes(7, L"", L"", L"", L"");
        rig.Server().FireRequest(L"openpatient|1~5");
        EXPECT_EQ(rig.platform.Bodies(), c.Init2W && c.Debug >= 1 ? boxes : TTexts{});
        for (const auto& box : rig.platform.Boxes.Shown) EXPECT_EQ(box.Style, 0x1040u);
        EXPECT_EQ(rig.State().ReturnText, L"kept");  // no event text goes to the host
        EXPECT_TRUE(rig.ServerCalls().empty());      // nor back to the server
    }
}

TEST(Events, CommandReadyReplacesTheResultTextUntilTheNextCommand) {
    TLinkRig rig;
    rig.InitConnected();
    rig.Server().Log->AdminText = L"done";
    rig.link.OndaCommand("openpatient");
    rig.Server().FireCmdReady(7, L"ready");
    EXPECT_STREQ(rig.link.OndaGetErrorStr(), "ready");
    rig.Server().Log->AdminText = L"";
    rig.link.OndaCommand("next");
    EXPECT_STREQ(rig.link.OndaGetErrorStr(), "");
}

TEST(Events, WakeupBringsTheReturnWindowToTheFrontWhenThereIsOne) {
    for (const TWindowHandle wnd : {TWindowHandle{42}, TWindowHandle{0}}) {
        TLinkRig rig;
        rig.InitConnected(wnd);
        rig.Server().FireWakeup();
        EXPECT_EQ(rig.platform.Windows.Foreground,
                  wnd != 0 ? std::vector<TWindowHandle>{42} : std::vector<TWindowHandle>{});
        EXPECT_TRUE(rig.platform.Boxes.Shown.empty());
    }
}

TEST(Events, ExportsCalledFromAnEventDuringACommandChangeNothing) {
    TLinkRig rig;
    rig.InitConnected(42);
    rig.Server().Log->AdminResult = 9;
    rig.Server().Log->AdminText = L"answer";
    std::int32_t init = 0, command = 0, exitResult = -1, version = 0;
    std::string textDuring = "unset";
    // The server wakes the host while AdminCommand waits; the host's window procedure runs
    // inside that and calls the link again.
    rig.Server().Log->DuringAdminCommand = [&] { rig.Server().FireWakeup(); };
    rig.platform.Windows.OnForeground = [&] {
        init = rig.link.OndaInitI(nullptr, nullptr, 99);
        command = rig.link.OndaCommand("other");
        exitResult = rig.link.OndaExit();
        version = rig.link.OndaGetVersion();
        textDuring = rig.link.OndaGetErrorStr();
    };
    const control::TServerConnection* proxy = rig.Control().Ox3.get();

    EXPECT_EQ(rig.link.OndaCommand("openpatient"), 9);

    EXPECT_EQ(init, dde_Error);
    EXPECT_EQ(command, dde_Error);
    EXPECT_EQ(exitResult, dde_Ok);
    EXPECT_EQ(version, 262);
    EXPECT_EQ(textDuring, "");  // cleared when the command began
    EXPECT_EQ(rig.platform.Windows.Foreground, std::vector<TWindowHandle>{42});
    EXPECT_EQ(rig.State().AppPrevWnd, 42u);
    EXPECT_EQ(rig.Control().Ox3.get(), proxy);
    EXPECT_EQ(rig.ServerCalls(), (TTexts{L"Version", L"AdminCommand(openpatient)"}));
    EXPECT_EQ(rig.State().ReturnText, L"answer");
    EXPECT_FALSE(rig.State().ExecutingCmd);
}

}  // namespace
}  // namespace deruz::link
