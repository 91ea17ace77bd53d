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
    ASSERT_EQ(Host().InitI(folder.Path(), nullptr), 0);
    EXPECT_EQ(Host().Command("openpatient|1~5"), 0);
    EXPECT_EQ(Host().Command("first|1\r\nsecond|2\nthird"), 0);
    EXPECT_EQ(Host().Command(""), 0);
    const auto sent = SimLines("AdminCommand ");
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], "AdminCommand cmd=openpatient|1~5|40~R7|50~12");
    EXPECT_EQ(sent[1], "AdminCommand cmd=first|1|40~R7|50~12second|2third");
    EXPECT_EQ(sent[2], "AdminCommand cmd=");
    // Every command is preceded by the liveness probe.
    EXPECT_EQ(SimLines("Version").size(), 3u);
}

TEST_F(LinkE2E, EachIdIsStampedAlone) {
    for (const char* keys : {"ForceExtRoleID=R7", "ForceDentistID=12"}) {
        host.reset();
        CloseImagingSims();
        DeleteFileW(SimLogPath().c_str());
        WriteIni(std::string(keys) + "\r\n" + SimKeys());
        ASSERT_EQ(Host().InitI(folder.Path(), nullptr), 0);
        EXPECT_EQ(Host().Command("openpatient|1~5"), 0);
        const auto sent = SimLines("AdminCommand ");
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0], std::string("AdminCommand cmd=openpatient|1~5|") +
                               (keys[5] == 'E' ? "40~R7" : "50~12"));
    }
}

TEST_F(LinkE2E, ResultsAndTextsReachTheHostWhateverTheirValue) {
    WriteIni(SimKeys());
    ASSERT_EQ(Host().InitI(folder.Path(), nullptr), 0);
    struct TCase {
        const char* Command;
        std::int32_t Result;
        const char* Text;
    };
    for (const TCase& c : {TCase{"result|5|done", 5, "done"}, TCase{"result|-7|minus", -7, "minus"},
                           TCase{"result|2147483647|max", 2147483647, "max"}}) {
        EXPECT_EQ(Host().Command(c.Command), c.Result) << c.Command;
        EXPECT_EQ(Host().ErrorStr(), c.Text) << c.Command;
    }
    // The buffer export: the first BufLen bytes and a zero byte.
    char buf[8];
    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(Host().Export<TGetStrBuf>("ONDA_GETERRORSTRBUF")(buf, 2), 2);
    EXPECT_EQ(std::string(buf, 3), std::string("ma\0", 3));
    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(Host().Export<TGetStrBuf>("ONDA_GETERRORSTRBUF")(buf, 0), 0);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(buf[1], 'X');
}

TEST_F(LinkE2E, AFailingCommandShowsItsBoxAndKeepsTheConnection) {
    WriteIni(SimKeys());
    ASSERT_EQ(Host().InitI(folder.Path(), nullptr), 0);
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
    ASSERT_EQ(Host().InitI(folder.Path(), nullptr), 0);
    // During the call the event sets the text; the call's own answer then replaces it.
    EXPECT_EQ(Host().Command("event|cmdready|3|during"), 0);
    EXPECT_EQ(Host().ErrorStr(), "ok: event|cmdready|3|during");
    // After the call the event arrives while the host pumps its messages.
    EXPECT_EQ(Host().Command("post|cmdready|4|ready"), 0);
    for (int i = 0; i < 100 && Host().ErrorStr() != "ready"; ++i) Host().Pump(50);
    EXPECT_EQ(Host().ErrorStr(), "ready");
}

TEST_F(LinkE2E, EventTextsAreShownOnlyAfterInit2WithDiagnostics) {
    const char* commands[] = {"event|photo|2|7|P1|X9|3|5", "event|notes|7|P1|18|K02|caries",
                              "event|request|openpatient|1~5"};
    WriteIni("Debug=2\r\n" + SimKeys());
    ASSERT_EQ(Host().Init2W(folder.Path(), nullptr), 0);
    for (const char* c : commands) EXPECT_EQ(Host().Command(c), 0) << c;
    // At Debug 2 the marshalling decision is shown too; the event boxes follow it.
    const std::vector<std::wstring> expected = {
        L"Marshal interface enabled", L"OnNewPhoto from Ondarix: photoadded|2|7|P1|X9|35",
        L"Admin-Notes from Ondarix: adminnotes|7|P1|18|K02|caries",
        L"Admin-Request from Ondarix: openpatient|1~5"};
    EXPECT_EQ(Host().BoxMessages(), expected);

    host.reset();
    CloseImagingSims();
    ASSERT_EQ(Host().InitI(folder.Path(), nullptr), 0);
    for (const char* c : commands) EXPECT_EQ(Host().Command(c), 0) << c;
    EXPECT_EQ(Host().BoxMessages(), std::vector<std::wstring>{L"Marshal interface enabled"});
}

LRESULT CALLBACK PlainWindowProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) {
    return DefWindowProcW(wnd, msg, w, l);
}

HWND MakeHostWindow(WNDPROC proc, const wchar_t* className) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = className;
    RegisterClassW(&wc);
    return CreateWindowExW(0, className, L"host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                           nullptr, wc.hInstance, nullptr);
}

TEST_F(LinkE2E, WakeUpBringsTheHostWindowToTheFront) {
    const HWND mine = MakeHostWindow(PlainWindowProc, L"E2EHostWindow");
    const HWND other = MakeHostWindow(PlainWindowProc, L"E2EOtherWindow");
    ASSERT_TRUE(mine && other);
    WriteIni(SimKeys());
    ASSERT_EQ(Host().InitI(folder.Path(), mine), 0);
    SetForegroundWindow(other);
    EXPECT_EQ(Host().Command("event|wakeup"), 0);
    EXPECT_EQ(GetForegroundWindow(), mine);
    DestroyWindow(other);
    DestroyWindow(mine);
}

// Re-entry: the host's window procedure calls the link while the link is inside a command
// (the wake-up event activates the host's window in the middle of the server call).
struct TReentry {
    TLinkHost* Host = nullptr;
    std::vector<std::int32_t> Results;
    std::string Text;
};
TReentry gReentry;

LRESULT CALLBACK ReentrantWindowProc(HWND wnd, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_ACTIVATE && LOWORD(w) != WA_INACTIVE && gReentry.Host != nullptr &&
        gReentry.Results.empty()) {
        TLinkHost& h = *gReentry.Host;
        gReentry.Results = {h.InitI(L"", wnd), h.Command("result|9|inner"), h.Exit(),
                            h.Export<TNoArgs>("ONDA_GETVER")()};
        gReentry.Text = h.ErrorStr();
    }
    return DefWindowProcW(wnd, msg, w, l);
}

TEST_F(LinkE2E, CallsFromInsideAnEventAreRefusedAndChangeNothing) {
    const HWND mine = MakeHostWindow(ReentrantWindowProc, L"E2EReentrantWindow");
    const HWND other = MakeHostWindow(PlainWindowProc, L"E2EOtherWindow2");
    WriteIni(SimKeys());
    ASSERT_EQ(Host().InitI(folder.Path(), mine), 0);
    EXPECT_EQ(Host().Command("result|1|previous"), 1);
    SetForegroundWindow(other);
    gReentry = TReentry{&Host(), {}, {}};
    EXPECT_EQ(Host().Command("event|wakeup"), 0);
    gReentry.Host = nullptr;
    const std::vector<std::int32_t> expected = {-1001, -1001, 0, 262};
    EXPECT_EQ(gReentry.Results, expected);
    // The text was cleared by the running command before the event; the refused calls
    // changed nothing, and the connection is still the same one.
    EXPECT_EQ(gReentry.Text, "");
    EXPECT_EQ(SimLines("AdminCommand cmd=result|9").size(), 0u);
    EXPECT_EQ(Host().Command("result|2|still"), 2);
    EXPECT_EQ(SimLines("start ").size(), 1u);
    EXPECT_TRUE(SimLines("Terminate").empty());
    DestroyWindow(other);
    DestroyWindow(mine);
}

std::wstring ClipboardText() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) return L"<not opened>";
    if (const HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* p = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = p;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

TEST_F(LinkE2E, ClipboardModeCarriesTheCommandWithAndWithoutTheReturnWindow) {
    WriteIni("UseClipboard=1\r\n" + SimKeys());
    ASSERT_EQ(Host().InitI(folder.Path(), reinterpret_cast<HWND>(0x2A)), 0);
    // Clipboard mode starts the application but does not connect to it.
    EXPECT_EQ(SimLines("start ").size(), 1u);
    EXPECT_TRUE(SimLines("advise ").empty());
    EXPECT_EQ(Host().Command("openpatient|1~5\r\n"), 0);
    EXPECT_EQ(ClipboardText(), L"openpatient|1~5");
    EXPECT_EQ(Host().ErrorStr(), "");

    host.reset();
    WriteIni("UseClipboard=1\r\nSetActiveWindow=1\r\n" + SimKeys());
    ASSERT_EQ(Host().InitI(folder.Path(), reinterpret_cast<HWND>(0x2A)), 0);
    EXPECT_EQ(Host().Command("openpatient|1~5"), 0);
    EXPECT_EQ(ClipboardText(), L"%OXCMD%=setreturnwnd|11~42\r\nopenpatient|1~5");
    EXPECT_EQ(Host().Command("SetReturnWnd|11~7"), 0);
    EXPECT_EQ(ClipboardText(), L"SetReturnWnd|11~7");
}

TEST_F(LinkE2E, VirtualChannelModeRefusesEveryCommand) {
    WriteIni("UseMsVirtualChannel=1\r\n" + SimKeys());
    ASSERT_EQ(Host().InitI(folder.Path(), nullptr), 0);
    EXPECT_EQ(Host().Command("openpatient|1~5"), -1001);
    EXPECT_EQ(Host().ErrorStr(), "Invalid linkmode 2");
    EXPECT_TRUE(Host().Boxes.empty());
}

}  // namespace
}  // namespace deruz::testing
