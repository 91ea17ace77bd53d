// Commands and events end to end under Wine: what reaches imaging-sim, what comes back to the
// host, the events relayed to the host, the clipboard and virtual-channel modes, and calls
// the host makes back into the link while the link is busy.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/wine/link_e2e_win32.h"

namespace deruz::testing {
namespace {

TEST_F(LinkE2E, CommandsAreStampedAndTheirAnswersReachTheHost) {
    WriteIni("ForceExtRoleID=R7\r\nForceDentistID=12\r\n" + SimKeys());
    ASSERT_EQ(Host().InitI(FFolder.Path(), nullptr), 0);
    EXPECT_EQ(Host().Command("openpatient|1~5"), 0);
    EXPECT_EQ(Host().Command("first|1\r\nsecond|2\nthird"), 0);
    EXPECT_EQ(Host().Command(""), 0);
    const auto LSent = SimLines("AdminCommand ");
    ASSERT_EQ(LSent.size(), 3u);
    EXPECT_EQ(LSent[0], "AdminCommand cmd=openpatient|1~5|40~R7|50~12");
    EXPECT_EQ(LSent[1], "AdminCommand cmd=first|1|40~R7|50~12second|2third");
    EXPECT_EQ(LSent[2], "AdminCommand cmd=");
    // Every command is preceded by the liveness probe.
    EXPECT_EQ(SimLines("Version").size(), 3u);
}

TEST_F(LinkE2E, EachIdIsStampedAlone) {
    for (const char* LKeys : {"ForceExtRoleID=R7", "ForceDentistID=12"}) {
        FHost.reset();
        CloseImagingSims();
        DeleteFileW(SimLogPath().c_str());
        WriteIni(std::string(LKeys) + "\r\n" + SimKeys());
        ASSERT_EQ(Host().InitI(FFolder.Path(), nullptr), 0);
        EXPECT_EQ(Host().Command("openpatient|1~5"), 0);
        const auto LSent = SimLines("AdminCommand ");
        ASSERT_EQ(LSent.size(), 1u);
        EXPECT_EQ(LSent[0], std::string("AdminCommand cmd=openpatient|1~5|") +
                                (LKeys[5] == 'E' ? "40~R7" : "50~12"));
    }
}

TEST_F(LinkE2E, ResultsAndTextsReachTheHostWhateverTheirValue) {
    WriteIni(SimKeys());
    ASSERT_EQ(Host().InitI(FFolder.Path(), nullptr), 0);
    struct TCase {
        const char* Command;
        std::int32_t Result;
        const char* Text;
    };
    for (const TCase& LC :
         {TCase{"result|5|done", 5, "done"}, TCase{"result|-7|minus", -7, "minus"},
          TCase{"result|2147483647|max", 2147483647, "max"}}) {
        EXPECT_EQ(Host().Command(LC.Command), LC.Result) << LC.Command;
        EXPECT_EQ(Host().ErrorStr(), LC.Text) << LC.Command;
    }
    // The buffer export: the first BufLen bytes and a zero byte.
    char LBuf[8];
    std::memset(LBuf, 'X', sizeof LBuf);
    EXPECT_EQ(Host().Export<TGetStrBuf>("ONDA_GETERRORSTRBUF")(LBuf, 2), 2);
    EXPECT_EQ(std::string(LBuf, 3), std::string("ma\0", 3));
    std::memset(LBuf, 'X', sizeof LBuf);
    EXPECT_EQ(Host().Export<TGetStrBuf>("ONDA_GETERRORSTRBUF")(LBuf, 0), 0);
    EXPECT_EQ(LBuf[0], '\0');
    EXPECT_EQ(LBuf[1], 'X');
}

TEST_F(LinkE2E, AFailingCommandShowsItsBoxAndKeepsTheConnection) {
    WriteIni(SimKeys());
    ASSERT_EQ(Host().InitI(FFolder.Path(), nullptr), 0);
    EXPECT_EQ(Host().Command("result|1|before"), 1);
    EXPECT_EQ(Host().Command("fail|0x80004005|The patient is locked."), -1001);
    EXPECT_EQ(Host().ErrorStr(), "");
    ASSERT_EQ(Host().Boxes.size(), 1u);
    EXPECT_EQ(Host().BoxMessages()[0],
              L"Exception occured while sending AdminCommand: \r\n\r\nThe patient is locked");
    EXPECT_EQ(Host().Boxes[0].Style, 0x1010u);
    EXPECT_EQ(Host().Command("result|2|after"), 2);
    EXPECT_EQ(SimLines("start ").size(), 1u);
}

TEST_F(LinkE2E, CommandReadyReplacesTheTextDuringAndAfterACall) {
    WriteIni(SimKeys());
    ASSERT_EQ(Host().InitI(FFolder.Path(), nullptr), 0);
    // During the call the event sets the text; the call's own answer then replaces it.
    EXPECT_EQ(Host().Command("event|cmdready|3|during"), 0);
    EXPECT_EQ(Host().ErrorStr(), "ok: event|cmdready|3|during");
    // After the call the event arrives while the host pumps its messages.
    EXPECT_EQ(Host().Command("post|cmdready|4|ready"), 0);
    for (int LI = 0; LI < 100 && Host().ErrorStr() != "ready"; ++LI) Host().Pump(50);
    EXPECT_EQ(Host().ErrorStr(), "ready");
}

TEST_F(LinkE2E, EventTextsAreShownOnlyAfterInit2WithDiagnostics) {
    const char* LCommands[] = {"event|photo|2|7|P1|X9|3|5", "event|notes|7|P1|18|K02|caries",
                               "event|request|openpatient|1~5"};
    WriteIni("Debug=2\r\n" + SimKeys());
    ASSERT_EQ(Host().Init2W(FFolder.Path(), nullptr), 0);
    for (const char* LC : LCommands) EXPECT_EQ(Host().Command(LC), 0) << LC;
    // At Debug 2 the marshalling decision is shown too; the event boxes follow it.
    const std::vector<std::wstring> LExpected = {
        L"Marshal interface enabled", L"OnNewPhoto from Ondarix: photoadded|2|7|P1|X9|35",
        L"Admin-Notes from Ondarix: adminnotes|7|P1|18|K02|caries",
        L"Admin-Request from Ondarix: openpatient|1~5"};
    EXPECT_EQ(Host().BoxMessages(), LExpected);

    FHost.reset();
    CloseImagingSims();
    ASSERT_EQ(Host().InitI(FFolder.Path(), nullptr), 0);
    for (const char* LC : LCommands) EXPECT_EQ(Host().Command(LC), 0) << LC;
    EXPECT_EQ(Host().BoxMessages(), std::vector<std::wstring>{L"Marshal interface enabled"});
}

LRESULT CALLBACK PlainWindowProc(HWND AWnd, UINT AMsg, WPARAM AW, LPARAM AL) {
    return DefWindowProcW(AWnd, AMsg, AW, AL);
}

HWND MakeHostWindow(WNDPROC AProc, const wchar_t* AClassName) {
    WNDCLASSW LWc{};
    LWc.lpfnWndProc = AProc;
    LWc.hInstance = GetModuleHandleW(nullptr);
    LWc.lpszClassName = AClassName;
    RegisterClassW(&LWc);
    return CreateWindowExW(0, AClassName, L"host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                           nullptr, LWc.hInstance, nullptr);
}

TEST_F(LinkE2E, WakeUpBringsTheHostWindowToTheFront) {
    const HWND LMine = MakeHostWindow(PlainWindowProc, L"E2EHostWindow");
    const HWND LOther = MakeHostWindow(PlainWindowProc, L"E2EOtherWindow");
    ASSERT_TRUE(LMine && LOther);
    WriteIni(SimKeys());
    ASSERT_EQ(Host().InitI(FFolder.Path(), LMine), 0);
    SetForegroundWindow(LOther);
    EXPECT_EQ(Host().Command("event|wakeup"), 0);
    EXPECT_EQ(GetForegroundWindow(), LMine);
    DestroyWindow(LOther);
    DestroyWindow(LMine);
}

// Re-entry: the host's window procedure calls the link while the link is inside a command
// (the wake-up event activates the host's window in the middle of the server call).
struct TReentry {
    TLinkHost* Host = nullptr;
    std::vector<std::int32_t> Results;
    std::string Text;
};
TReentry gReentry;

LRESULT CALLBACK ReentrantWindowProc(HWND AWnd, UINT AMsg, WPARAM AW, LPARAM AL) {
    if (AMsg == WM_ACTIVATE && LOWORD(AW) != WA_INACTIVE && gReentry.Host != nullptr &&
        gReentry.Results.empty()) {
        TLinkHost& LH = *gReentry.Host;
        gReentry.Results = {LH.InitI(L"", AWnd), LH.Command("result|9|inner"), LH.Exit(),
                            LH.Export<TNoArgs>("ONDA_GETVER")()};
        gReentry.Text = LH.ErrorStr();
    }
    return DefWindowProcW(AWnd, AMsg, AW, AL);
}

TEST_F(LinkE2E, CallsFromInsideAnEventAreRefusedAndChangeNothing) {
    const HWND LMine = MakeHostWindow(ReentrantWindowProc, L"E2EReentrantWindow");
    const HWND LOther = MakeHostWindow(PlainWindowProc, L"E2EOtherWindow2");
    WriteIni(SimKeys());
    ASSERT_EQ(Host().InitI(FFolder.Path(), LMine), 0);
    EXPECT_EQ(Host().Command("result|1|previous"), 1);
    SetForegroundWindow(LOther);
    gReentry = TReentry{&Host(), {}, {}};
    EXPECT_EQ(Host().Command("event|wakeup"), 0);
    gReentry.Host = nullptr;
    const std::vector<std::int32_t> LExpected = {-1001, -1001, 0, 262};
    EXPECT_EQ(gReentry.Results, LExpected);
    // The text was cleared by the running command before the event; the refused calls
    // changed nothing, and the connection is still the same one.
    EXPECT_EQ(gReentry.Text, "");
    EXPECT_EQ(SimLines("AdminCommand cmd=result|9").size(), 0u);
    EXPECT_EQ(Host().Command("result|2|still"), 2);
    EXPECT_EQ(SimLines("start ").size(), 1u);
    EXPECT_TRUE(SimLines("Terminate").empty());
    DestroyWindow(LOther);
    DestroyWindow(LMine);
}

std::wstring ClipboardText() {
    std::wstring LText;
    if (!OpenClipboard(nullptr)) return L"<not opened>";
    if (const HANDLE LData = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* LP = static_cast<const wchar_t*>(GlobalLock(LData))) {
            LText = LP;
            GlobalUnlock(LData);
        }
    }
    CloseClipboard();
    return LText;
}

TEST_F(LinkE2E, ClipboardModeCarriesTheCommandWithAndWithoutTheReturnWindow) {
    WriteIni("UseClipboard=1\r\n" + SimKeys());
    ASSERT_EQ(Host().InitI(FFolder.Path(), reinterpret_cast<HWND>(0x2A)), 0);
    // Clipboard mode starts the application but does not connect to it.
    EXPECT_EQ(SimLines("start ").size(), 1u);
    EXPECT_TRUE(SimLines("advise ").empty());
    EXPECT_EQ(Host().Command("openpatient|1~5\r\n"), 0);
    EXPECT_EQ(ClipboardText(), L"openpatient|1~5");
    EXPECT_EQ(Host().ErrorStr(), "");

    FHost.reset();
    WriteIni("UseClipboard=1\r\nSetActiveWindow=1\r\n" + SimKeys());
    ASSERT_EQ(Host().InitI(FFolder.Path(), reinterpret_cast<HWND>(0x2A)), 0);
    EXPECT_EQ(Host().Command("openpatient|1~5"), 0);
    EXPECT_EQ(ClipboardText(), L"%OXCMD%=setreturnwnd|11~42\r\nopenpatient|1~5");
    EXPECT_EQ(Host().Command("SetReturnWnd|11~7"), 0);
    EXPECT_EQ(ClipboardText(), L"SetReturnWnd|11~7");
}

TEST_F(LinkE2E, VirtualChannelModeRefusesEveryCommand) {
    WriteIni("UseMsVirtualChannel=1\r\n" + SimKeys());
    ASSERT_EQ(Host().InitI(FFolder.Path(), nullptr), 0);
    EXPECT_EQ(Host().Command("openpatient|1~5"), -1001);
    EXPECT_EQ(Host().ErrorStr(), "Invalid linkmode 2");
    EXPECT_TRUE(Host().Boxes.empty());
}

}  // namespace
}  // namespace deruz::testing
