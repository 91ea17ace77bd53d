// imaging-sim's side of the contract the link relies on: the shared-memory hand-over (and its
// misbehaviours), the window class, the readiness atom, the start record, the registration the
// link reads, and the file versions of its two builds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/ox3server_proxy_win32.h"
#include "tests/server/sim_harness_win32.h"

namespace deruz::testing {
namespace {

using server::ComPtr;
using server::Tox3server;

const std::wstring kPid = std::to_wstring(GetCurrentProcessId());

std::wstring ClassName(HWND AWindow) {
    wchar_t LName[256] = {};
    GetClassNameW(AWindow, LName, 256);
    return LName;
}

std::wstring Lower(std::wstring AText) {
    for (wchar_t& LC : AText) LC = static_cast<wchar_t>(towlower(LC));
    return AText;
}

std::wstring FileVersion(const std::wstring& APath) {
    DWORD LHandle = 0;
    const DWORD LSize = GetFileVersionInfoSizeW(APath.c_str(), &LHandle);
    std::vector<BYTE> LData(LSize);
    if (LSize == 0 || !GetFileVersionInfoW(APath.c_str(), 0, LSize, LData.data())) return {};
    wchar_t* LText = nullptr;
    UINT LLength = 0;
    if (!VerQueryValueW(LData.data(), L"\\StringFileInfo\\040904B0\\FileVersion",
                        reinterpret_cast<void**>(&LText), &LLength)) {
        return {};
    }
    return std::wstring(LText, LLength > 0 ? LLength - 1 : 0);
}

TEST(Handover, GivesAWorkingServerEvenWithoutItsClassRegistered) {
    TSim LSim(TSim::TStart{.Options = L"regclass=none"});
    const THandover LHandover = RequestHandover(LSim.Window());
    EXPECT_EQ(LHandover.Result, 0);
    EXPECT_GT(LHandover.Count, 0u);
    EXPECT_LE(LHandover.Count, 4998u);
    EXPECT_TRUE(LSim.Log().Has("handover wparam=" + Utf8(kPid) + " lparam=0"));

    ComPtr<Iox3server> LServer;
    ASSERT_EQ(UnmarshalServer(LHandover.Data, LServer), S_OK);
    Tox3server LProxy;
    LProxy.ConnectTo(LServer.Get());
    LServer.Reset();
    int LWakeUps = 0;
    LProxy.OnWakeUp = [&](Tox3server&) { ++LWakeUps; };
    std::wstring LText;
    EXPECT_EQ(LProxy.AdminCommand(L"event|wakeup", LText), 0);
    EXPECT_EQ(LText, L"ok: event|wakeup");
    EXPECT_EQ(LWakeUps, 1);
    EXPECT_EQ(LProxy.Get_Version(), 600);
}

TEST(Handover, MisbehavesWhenToldTo) {
    struct TCase {
        const wchar_t* Options;
        LRESULT Result;
        unsigned Count;  // 0xFFFF: block untouched
        bool Unmarshals;
    };
    const TCase LCases[] = {
        {L"handover=empty", 0, 0, false},
        {L"handover=garbage", 0, 64, false},
        {L"handover=oversize", 0, 6000, false},
        {L"handover=ignore", 0, 0xFFFF, false},
        {L"handover=error:0x80004005", static_cast<LRESULT>(static_cast<HRESULT>(0x80004005)),
         0xFFFF, false},
        {L"", 0, 0, true},  // 0: any count that unmarshals
    };
    for (const TCase& LCase : LCases) {
        SCOPED_TRACE(Utf8(LCase.Options));
        TSim LSim(TSim::TStart{.Options = LCase.Options});
        const THandover LHandover = RequestHandover(LSim.Window());
        EXPECT_EQ(LHandover.Result, LCase.Result);
        if (LCase.Unmarshals) {
            ComPtr<Iox3server> LServer;
            EXPECT_EQ(UnmarshalServer(LHandover.Data, LServer), S_OK);
        } else {
            EXPECT_EQ(LHandover.Count, LCase.Count);
            if (LHandover.Count == 64) {
                ComPtr<Iox3server> LServer;
                EXPECT_NE(UnmarshalServer(LHandover.Data, LServer), S_OK);
            }
        }
    }
}

TEST(SimStart, ShowsItsWindowAddsItsAtomAndRecordsHowItWasStarted) {
    struct TCase {
        std::wstring Arguments;
        std::wstring Suffix;  // of the class and atom names
    };
    const TCase LCases[] = {
        {L"-dde -pid:" + kPid, kPid}, {L"-dde", L""}, {L"-dde other args", L""}};
    for (const TCase& LCase : LCases) {
        SCOPED_TRACE(Utf8(LCase.Arguments));
        const std::wstring LAtom = L"OXReadyForLink" + LCase.Suffix;
        {
            TSim LSim(TSim::TStart{.Options = L"",
                                   .Arguments = LCase.Arguments,
                                   .Flags = STARTF_USEPOSITION,
                                   .X = 120,
                                   .Y = 45});
            EXPECT_EQ(ClassName(LSim.Window()), L"TOxWindow" + LCase.Suffix);
            EXPECT_NE(GlobalFindAtomW(LAtom.c_str()), 0);
            const std::string LStart = LSim.Log().Lines().at(0);
            const std::string LExpected = "start pid=" + std::to_string(LSim.Pid()) + " cmdline=" +
                                          Utf8(BesideTestProgram(L"imaging-sim.exe")) + " " +
                                          Utf8(LCase.Arguments) + " cwd=";
            EXPECT_EQ(LStart.substr(0, LExpected.size()), LExpected);
            EXPECT_NE(LStart.find(" x=120 y=45 flags=0x00000004"), std::string::npos) << LStart;
        }
        EXPECT_EQ(GlobalFindAtomW(LAtom.c_str()), 0);  // deleted at exit
    }
}

TEST(SimStart, ReadinessAndWindowSwitches) {
    const std::wstring LAtom = L"OXReadyForLink" + kPid;
    {
        TSim LSim(TSim::TStart{.Options = L"ready=none"});
        PumpUntil([] { return false; }, 300);
        EXPECT_EQ(GlobalFindAtomW(LAtom.c_str()), 0);
    }
    {
        TSim LSim(TSim::TStart{.Options = L"ready=delay:500"});
        EXPECT_EQ(GlobalFindAtomW(LAtom.c_str()), 0);
        EXPECT_TRUE(PumpUntil([&] { return GlobalFindAtomW(LAtom.c_str()) != 0; }, 5000));
    }
    {
        TSim LSim(TSim::TStart{.Options = L"window=none"});
        EXPECT_EQ(FindWindowW((L"TOxWindow" + kPid).c_str(), nullptr), nullptr);
        EXPECT_NE(LSim.Window(), nullptr);
        EXPECT_NE(GlobalFindAtomW(LAtom.c_str()), 0);
    }
}

TEST(SimStart, RegistersTheFileTheLinkLooksFor) {
    TSim LSim(TSim::TStart{});
    HKEY LKey = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT,
                            L"TypeLib\\{56D73100-E9A8-108B-A830-CD14D0517F8A}\\1.0\\0\\win32", 0,
                            KEY_ALL_ACCESS, &LKey),
              ERROR_SUCCESS);
    wchar_t LValue[MAX_PATH] = {};
    DWORD LSize = sizeof LValue;
    EXPECT_EQ(
        RegQueryValueExW(LKey, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(LValue), &LSize),
        ERROR_SUCCESS);
    RegCloseKey(LKey);
    EXPECT_EQ(Lower(LValue), Lower(BesideTestProgram(L"imaging-sim.exe")));
}

TEST(SimStart, TheTwoBuildsCarryTheirFileVersions) {
    EXPECT_EQ(FileVersion(BesideTestProgram(L"imaging-sim.exe")), L"3.1.0.600");
    EXPECT_EQ(FileVersion(BesideTestProgram(L"imaging-sim-old.exe")), L"3.0.1.500");
    TSim LOld(TSim::TStart{.Options = L"", .Exe = L"imaging-sim-old.exe"});
    Tox3server LProxy;
    EXPECT_EQ(LProxy.Get_Version(), 500);
}

TEST(SimStart, EndsOnTheExitCommandAndOnClose) {
    {
        TSim LSim(TSim::TStart{});
        Tox3server LProxy;
        std::wstring LText;
        EXPECT_EQ(LProxy.AdminCommand(L"exit", LText), 0);
        EXPECT_TRUE(LSim.WaitExit());
        EXPECT_EQ(LSim.Log().Lines().back(), "exit");
    }
    {
        TSim LSim(TSim::TStart{});
        PostMessageW(LSim.Window(), WM_CLOSE, 0, 0);
        EXPECT_TRUE(LSim.WaitExit());
        DWORD LCode = 1;
        GetExitCodeProcess(LSim.Process(), &LCode);
        EXPECT_EQ(LCode, 0u);
        EXPECT_EQ(LSim.Log().Lines().back(), "exit");
    }
}

}  // namespace
}  // namespace deruz::testing
