// A hostile host under Wine: every export called with null, 1 MB, negative and huge
// arguments, before initialisation, after ONDA_EXIT, after an unload and a new load, from
// inside the link's message boxes and events, and from a second thread. Each table row is
// one call and the answer a host gets; nothing may crash, and the connection must survive
// every refused call. Also: a hand-over block whose length field runs past the mapping.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "tests/wine/link_e2e_win32.h"

namespace deruz::testing {
namespace {

using TInit = std::int32_t(WINAPI*)(void*);
using TInitProc = std::int32_t(WINAPI*)(const char*, void*, HWND);

// 1 MB of text, for the command and for the configuration folder.
const std::string& Megabyte() {
    static const std::string LText(1 << 20, 'x');
    return LText;
}

// A text as a row shows it: quoted, or its length when it is long; "<null>" for none.
std::string Shown(const char* AText) {
    if (AText == nullptr) return "<null>";
    const std::size_t LN = std::strlen(AText);
    return LN > 40 ? "<" + std::to_string(LN) + " bytes>" : "\"" + std::string(AText) + "\"";
}

// ONDA_GETERRORSTRBUF into a buffer larger than any text here: the result, then what the
// buffer holds. A byte written past the zero would show as a broken guard.
std::string GetBuf(TLinkHost& AH, std::int32_t ABufLen, bool ANullBuffer = false) {
    auto LGetbuf = AH.Export<TGetStrBuf>("ONDA_GETERRORSTRBUF");
    if (ANullBuffer) return std::to_string(LGetbuf(nullptr, ABufLen));
    std::vector<char> LBuf((2 << 20) + 16, 'G');
    const std::int32_t LN = LGetbuf(LBuf.data(), ABufLen);
    const std::size_t LLen = strnlen(LBuf.data(), LBuf.size());
    const bool LGuard = LLen + 1 < LBuf.size() && LBuf[LLen + 1] == 'G';
    return std::to_string(LN) + " " + Shown(LBuf.data()) + (LGuard ? "" : " <guard broken>");
}

// One hostile call: what the host passes, and the answer rendered for comparison.
struct TCall {
    const char* Name;
    std::function<std::string(TLinkHost&)> Run;
};

std::string Int(std::int32_t AValue) {
    return std::to_string(AValue);
}

HWND Junk(std::uintptr_t AValue) {
    return reinterpret_cast<HWND>(AValue);
}

const TCall kGetVer{"ONDA_GETVER()",
                    [](TLinkHost& AH) { return Int(AH.Export<TNoArgs>("ONDA_GETVER")()); }};
const TCall kGetStr{"ONDA_GETERRORSTR()",
                    [](TLinkHost& AH) { return Shown(AH.Export<TGetStr>("ONDA_GETERRORSTR")()); }};
const TCall kBufNull{"ONDA_GETERRORSTRBUF(null, 16)",
                     [](TLinkHost& AH) { return GetBuf(AH, 16, true); }};
const TCall kBufZero{"ONDA_GETERRORSTRBUF(buf, 0)", [](TLinkHost& AH) { return GetBuf(AH, 0); }};
const TCall kBufMinus{"ONDA_GETERRORSTRBUF(buf, -1)", [](TLinkHost& AH) { return GetBuf(AH, -1); }};
const TCall kBufMin{"ONDA_GETERRORSTRBUF(buf, INT32_MIN)",
                    [](TLinkHost& AH) { return GetBuf(AH, INT32_MIN); }};
const TCall kBuf3{"ONDA_GETERRORSTRBUF(buf, 3)", [](TLinkHost& AH) { return GetBuf(AH, 3); }};
const TCall kBufMax{"ONDA_GETERRORSTRBUF(buf, INT32_MAX)",
                    [](TLinkHost& AH) { return GetBuf(AH, INT32_MAX); }};
const TCall kInitJunk{"ONDA_INIT(junk procedure)", [](TLinkHost& AH) {
                          return Int(AH.Export<TInit>("ONDA_INIT")(reinterpret_cast<void*>(0x1)));
                      }};
const TCall kInitINull{
    "ONDA_INITI(null, null, null)", [](TLinkHost& AH) {
        return Int(AH.Export<TInitProc>("ONDA_INITI")(nullptr, nullptr, nullptr));
    }};
const TCall kInitIHuge{"ONDA_INITI(1 MB folder, junk procedure, junk window)", [](TLinkHost& AH) {
                           return Int(AH.Export<TInitProc>("ONDA_INITI")(
                               Megabyte().c_str(), reinterpret_cast<void*>(0x1), Junk(0x12345)));
                       }};
const TCall kInit2WEmpty{
    "ONDA_INIT2W(\"\", junk procedure, null)", [](TLinkHost& AH) {
        return Int(AH.Export<TInitProc>("ONDA_INIT2W")("", reinterpret_cast<void*>(0x1), nullptr));
    }};
const TCall kCommandNull{"ONDA_COMMAND(null)", [](TLinkHost& AH) {
                             return Int(AH.Export<TCommand>("ONDA_COMMAND")(nullptr));
                         }};
const TCall kCommandHuge{"ONDA_COMMAND(1 MB)", [](TLinkHost& AH) {
                             return Int(AH.Export<TCommand>("ONDA_COMMAND")(Megabyte().c_str()));
                         }};
const TCall kExit{"ONDA_EXIT()", [](TLinkHost& AH) { return Int(AH.Exit()); }};

TCall Command(const char* AText) {
    return {AText, [AText](TLinkHost& AH) { return Int(AH.Command(AText)); }};
}

struct TRow {
    TCall Call;
    std::string Expected;
};

// Runs the rows in order; each result is compared where it was made.
std::vector<std::string> RunRows(TLinkHost& AH, const std::vector<TRow>& ARows) {
    std::vector<std::string> LFailures;
    for (const TRow& LRow : ARows) {
        const std::string LGot = LRow.Call.Run(AH);
        if (LGot != LRow.Expected) {
            LFailures.push_back(std::string(LRow.Call.Name) + ": got " + LGot + ", expected " +
                                LRow.Expected);
        }
    }
    return LFailures;
}

std::string Joined(const std::vector<std::string>& ALines) {
    std::string LText;
    for (const auto& LLine : ALines) LText += LLine + "\n";
    return LText;
}

// Every export, as a call that the link refuses while it is busy with another (re-entry on
// its own thread) or that comes from a thread the link does not belong to: the
// initialisations and the command fail, ONDA_EXIT closes nothing, the version is served.
std::vector<TRow> RefusedCalls() {
    return {{kInitJunk, "-1001"},    {kInitINull, "-1001"}, {kInit2WEmpty, "-1001"},
            {kCommandNull, "-1001"}, {kExit, "0"},          {kGetVer, "262"}};
}

class LinkHostile : public LinkE2E {
  protected:
    // The host loads a copy of the library in the test's folder, beside the test's
    // configuration file: any folder the host names that is not usable falls back to it.
    TLinkHost& Load() {
        const std::wstring LDll = FFolder.File(L"DeRuz64.dll");
        CopyFileW(BesideTestProgram(L"DeRuz64.dll").c_str(), LDll.c_str(), FALSE);
        FHost.emplace(LDll);
        return *FHost;
    }
};

const wchar_t kTypeLibKey[] = L"TypeLib\\{56D73100-E9A8-108B-A830-CD14D0517F8A}\\1.0\\0\\win32";

TEST_F(LinkHostile, BeforeInitialisationEveryExportAnswers) {
    // Before initialisation the link has no configuration: the command looks the imaging
    // application up in the registry, which here names a program that does not exist.
    HKEY LKey = nullptr;
    RegCreateKeyExW(HKEY_CLASSES_ROOT, kTypeLibKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &LKey,
                    nullptr);
    const std::wstring LMissing = L"Z:\\no\\such\\Ondarix.exe";
    RegSetValueExW(LKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(LMissing.c_str()),
                   static_cast<DWORD>((LMissing.size() + 1) * sizeof(wchar_t)));
    TLinkHost& LH = Load();
    const std::vector<TRow> LRows = {
        {kGetVer, "262"},        {kGetStr, "\"\""},       {kBufNull, "0"},     {kBufZero, "0 \"\""},
        {kBufMinus, "0 \"\""},   {kBufMin, "0 \"\""},     {kBufMax, "0 \"\""}, {kExit, "0"},
        {kCommandNull, "-1001"}, {kCommandHuge, "-1001"}, {kGetStr, "\"\""},   {kExit, "0"},
    };
    EXPECT_EQ(Joined(RunRows(LH, LRows)), "");
    RegDeleteValueW(LKey, nullptr);
    RegCloseKey(LKey);
    // Each command tried to start the missing program and said so; nothing else was shown.
    ASSERT_EQ(LH.Boxes.size(), 2u);
    EXPECT_EQ(LH.BoxMessages()[0].rfind(L"Could not run \"Z:\\no\\such\\Ondarix.exe -dde\"", 0), 0u)
        << Narrow(LH.BoxMessages()[0]);
}

TEST_F(LinkHostile, HostileArgumentsWhileConnectedAndAfterExit) {
    WriteIni(SimKeys());
    TLinkHost& LH = Load();
    const std::vector<TRow> LRows = {
        {kInitINull, "0"},
        {Command("result|7|seven"), "7"},
        {kBufNull, "0"},
        {kBufZero, "0 \"\""},
        {kBufMinus, "0 \"\""},
        {kBufMin, "0 \"\""},
        {kBuf3, "3 \"sev\""},
        {kBufMax, "5 \"seven\""},
        {kGetStr, "\"seven\""},
        // Already connected: the initialisations only take the window.
        {kInitJunk, "0"},
        {kInit2WEmpty, "0"},
        {kInitIHuge, "0"},
        // A null command is an empty one; a megabyte goes through and comes back.
        {kCommandNull, "0"},
        {kGetStr, "\"ok: \""},
        {kCommandHuge, "0"},
        {kGetStr, "<1048580 bytes>"},
        {kBuf3, "3 \"ok:\""},
        {kBufMax, "1048580 <1048580 bytes>"},
        // After ONDA_EXIT: nothing left to close, the text stays, and an initialisation with
        // a folder that is no folder uses the library's own and connects again.
        {kExit, "0"},
        {kExit, "0"},
        {kGetVer, "262"},
        {kGetStr, "<1048580 bytes>"},
        {kInitIHuge, "0"},
        {Command("result|8|eight"), "8"},
        {kGetStr, "\"eight\""},
        {kExit, "0"},
    };
    EXPECT_EQ(Joined(RunRows(LH, LRows)), "");
    EXPECT_TRUE(LH.Boxes.empty());
    const auto LSent = SimLines("AdminCommand cmd=");
    ASSERT_EQ(LSent.size(), 4u);
    EXPECT_EQ(LSent[1], "AdminCommand cmd=");
    EXPECT_EQ(LSent[2].size(), std::string("AdminCommand cmd=").size() + Megabyte().size());
    EXPECT_EQ(SimLines("start ").size(), 2u);
    EXPECT_EQ(SimLines("AppReturnWnd value=74565").size(), 1u);  // the junk window, 0x12345
}

TEST_F(LinkHostile, AfterUnloadANewLoadStartsFresh) {
    WriteIni(SimKeys());
    {
        TLinkHost& LH = Load();
        ASSERT_EQ(RunRows(LH, {{kInitINull, "0"}, {Command("result|1|first"), "1"}}).size(), 0u);
        FHost.reset();  // FreeLibrary with the connection open
    }
    for (int LI = 0; LI < 100 && !RunningImagingSims().empty(); ++LI) Sleep(50);
    TLinkHost& LH = Load();
    const std::vector<TRow> LRows = {
        {kGetStr, "\"\""},
        {kGetVer, "262"},
        {kExit, "0"},
        {kInitINull, "0"},
        {Command("result|2|second"), "2"},
        {kGetStr, "\"second\""},
        {kExit, "0"},
    };
    EXPECT_EQ(Joined(RunRows(LH, LRows)), "");
    EXPECT_EQ(SimLines("Terminate").size(), 2u);
    EXPECT_EQ(SimLines("start ").size(), 2u);
}

TEST_F(LinkHostile, CallsFromInsideBoxesAndEventsAreRefusedAndChangeNothing) {
    // A text from before, then a new connection whose start shows boxes (Debug 1): inside
    // the first box, in the middle of ONDA_INITI, the host calls every export.
    WriteIni(SimKeys());
    TLinkHost& LH = Load();
    ASSERT_EQ(LH.InitI(L"", nullptr), 0);
    ASSERT_EQ(LH.Command("result|1|before"), 1);
    ASSERT_EQ(LH.Exit(), 0);
    WriteIni("Debug=1\r\n" + SimKeys());

    std::vector<std::string> LFailures;
    bool LRan = false;
    auto LReenter = [&](const std::string& AExpectedText) {
        if (LRan) return;
        LRan = true;
        std::vector<TRow> LRows = RefusedCalls();
        LRows.push_back({kGetStr, AExpectedText});
        LRows.push_back({kBuf3, "3 " + AExpectedText.substr(0, 4) + "\""});
        LFailures = RunRows(LH, LRows);
    };
    LH.DuringBox = [&] { LReenter("\"before\""); };
    EXPECT_EQ(LH.InitI(L"", nullptr), 0);
    LH.DuringBox = nullptr;
    EXPECT_TRUE(LRan);
    EXPECT_EQ(Joined(LFailures), "");

    // Inside an event: the photo event's box (ONDA_INIT2W, Debug 2) comes while the
    // server call of ONDA_COMMAND is running; the command has cleared the text.
    ASSERT_EQ(LH.Exit(), 0);
    WriteIni("Debug=2\r\n" + SimKeys());
    ASSERT_EQ(LH.Init2W(L"", nullptr), 0);
    LRan = false;
    LFailures.clear();
    LH.Boxes.clear();
    LH.DuringBox = [&] {
        if (LRan) return;
        LRan = true;
        std::vector<TRow> LRows = RefusedCalls();
        LRows.push_back({kGetStr, "\"\""});
        LRows.push_back({kBufMax, "0 \"\""});
        LFailures = RunRows(LH, LRows);
    };
    EXPECT_EQ(LH.Command("event|photo|2|7|P1|X9|3|5"), 0);
    LH.DuringBox = nullptr;
    EXPECT_TRUE(LRan);
    EXPECT_EQ(Joined(LFailures), "");
    EXPECT_EQ(LH.BoxMessages(),
              std::vector<std::wstring>{L"OnNewPhoto from Ondarix: photoadded|2|7|P1|X9|35"});

    // The refused calls reached nothing: the same connection serves the next command.
    EXPECT_EQ(LH.Command("result|3|after"), 3);
    EXPECT_EQ(LH.ErrorStr(), "after");
    EXPECT_EQ(SimLines("AdminCommand cmd=").size(), 3u);
    EXPECT_EQ(SimLines("Terminate").size(), 2u);  // the two ONDA_EXIT calls of the host
}

TEST_F(LinkHostile, CallsFromASecondThreadAreRefusedAndChangeNothing) {
    WriteIni(SimKeys());
    TLinkHost& LH = Load();
    ASSERT_EQ(LH.InitI(L"", nullptr), 0);
    ASSERT_EQ(LH.Command("result|7|seven"), 7);

    // The link belongs to the thread that loaded it (its COM apartment, its connection);
    // another thread gets the busy answers and an empty text.
    std::vector<TRow> LRows = RefusedCalls();
    LRows.insert(LRows.end(), {{kInitIHuge, "-1001"},
                               {kCommandHuge, "-1001"},
                               {kGetStr, "\"\""},
                               {kBufMax, "0 \"\""},
                               {kBufNull, "0"},
                               {kExit, "0"}});
    std::vector<std::string> LFailures;
    std::thread([&] { LFailures = RunRows(LH, LRows); }).join();
    EXPECT_EQ(Joined(LFailures), "");

    EXPECT_EQ(LH.ErrorStr(), "seven");
    EXPECT_EQ(LH.Command("result|8|eight"), 8);
    EXPECT_EQ(SimLines("AdminCommand cmd=").size(), 2u);
    EXPECT_TRUE(SimLines("Terminate").empty());
    EXPECT_EQ(SimLines("start ").size(), 1u);
    EXPECT_TRUE(LH.Boxes.empty());
}

TEST_F(LinkHostile, HandOverLengthBeyondASmallerMappingIsRefused) {
    // Someone else created the hand-over block's mapping first, one page only, and wrote a
    // length that fits the usual block but runs past this mapping; the application writes
    // nothing (it answers without touching the block).
    const std::wstring LName = L"Ox3Server" + std::to_wstring(GetCurrentProcessId());
    const HANDLE LMapping =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, LName.c_str());
    ASSERT_NE(LMapping, nullptr);
    auto* LView = static_cast<std::uint8_t*>(MapViewOfFile(LMapping, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(LView, nullptr);
    LView[0] = 4500 & 0xFF;
    LView[1] = 4500 >> 8;
    UnmapViewOfFile(LView);
    SetEnvironmentVariableW(L"IMAGING_SIM_OPTIONS", L"handover=ignore");
    WriteIni(SimKeys());
    TLinkHost& LH = Load();
    EXPECT_EQ(LH.InitI(L"", nullptr), -1000);
    ASSERT_EQ(LH.Boxes.size(), 1u);
    EXPECT_EQ(LH.BoxMessages()[0],
              L"Exception communicating with IOx3Server server:\r\n\r\n"
              L"Error: shared memory announces 4500 bytes of data, more than its 4094 bytes can "
              L"hold");
    CloseHandle(LMapping);
}

}  // namespace
}  // namespace deruz::testing
