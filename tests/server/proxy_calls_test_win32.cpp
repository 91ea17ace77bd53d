// The proxy's forwarding calls against imaging-sim: arguments and results through the
// virtual table, failing calls turned into EOleException with their texts, and a server that
// goes away.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "server/ox3server_proxy_win32.h"
#include "tests/server/sim_harness_win32.h"

namespace deruz::testing {
namespace {

using server::ComPtr;
using server::EOleException;
using server::Tox3server;

class ProxyCallTest : public ::testing::Test {
  protected:
    TSim FSim{TSim::TStart{}};
    Tox3server FProxy;
};

TEST_F(ProxyCallTest, CallsReachTheServerWithTheirArguments) {
    EXPECT_EQ(FProxy.Get_Version(), 600);
    EXPECT_EQ(FProxy.ClosePatient(), 0);
    FProxy.Set_AppReturnWnd(0x12345678);
    FProxy.Set_AppReturnWnd(-1);
    FProxy.Set_LastAdminLinkDLLPath(L"c:\\program files\\deruz\\deruz64.dll");
    std::wstring LStatus = L"stale";
    EXPECT_EQ(FProxy.SearchTStatus(1, 2, 3, L"P-1", LStatus), 0);
    EXPECT_EQ(LStatus, L"status of P-1");
    EXPECT_EQ(
        FProxy.NewPatient(4, 5, 6, L"P-2", L"SRC", L"Zoë", L"Ünal", 12345.5, L"F", L"Main St 1",
                          L"8000", L"Zürich", L"CH", L"+41 1", L"+41 2", L"z@x.ch", L"note"),
        0);
    EXPECT_EQ(FProxy.NewPhoto(7, 8, 9, L"P-3", L"18", L"SRC", L"A", L"B", 2.25, L"M", L"S", L"PC",
                              L"C", L"CO", L"T", L"TF", L"E", L"N"),
              0);
    EXPECT_EQ(FProxy.SearchPhotos(10, 11, 12, L"P-4", L"21"), 0);

    // The long journal lines are written in two pieces on purpose.
    // NOLINTBEGIN(bugprone-suspicious-missing-comma)
    const std::vector<std::string> LExpected = {
        "Version",
        "ClosePatient",
        "AppReturnWnd value=305419896",
        "AppReturnWnd value=-1",
        "LastAdminLinkDLLPath value=c:\\program files\\deruz\\deruz64.dll",
        "SearchTStatus flags=1 index=2 dentist=3 patient=P-1",
        "NewPatient flags=4 index=5 dentist=6 patient=P-2 src=SRC first=Zoë last=Ünal "
        "birth=12345.5000 gender=F street=Main St 1 postal=8000 city=Zürich country=CH "
        "phone=+41 1 fax=+41 2 email=z@x.ch notes=note",
        "NewPhoto flags=7 index=8 dentist=9 patient=P-3 tooth=18 src=SRC first=A last=B "
        "birth=2.2500 gender=M street=S postal=PC city=C country=CO phone=T fax=TF email=E "
        "notes=N",
        "SearchPhotos flags=10 index=11 dentist=12 patient=P-4 tooth=21"};
    // NOLINTEND(bugprone-suspicious-missing-comma)
    const std::vector<std::string> LLines = FSim.Log().Lines();
    const int LFirst = FSim.Log().Find("Version");
    ASSERT_GE(LFirst, 0);
    const std::vector<std::string> LCalls(LLines.begin() + LFirst, LLines.end());
    EXPECT_EQ(LCalls, LExpected);
}

TEST_F(ProxyCallTest, AdminCommandReturnsTheServersResultAndText) {
    struct TCase {
        const wchar_t* Cmd;
        std::int32_t Result;
        const wchar_t* Text;
    };
    const TCase LCases[] = {
        {L"result|7|seven", 7, L"seven"},
        {L"result|-3|", -3, L""},
        {L"plain text", 0, L"ok: plain text"},
        {L"Zoë|Ünal \u20AC \U0001F600", 0, L"ok: Zoë|Ünal \u20AC \U0001F600"},
        {L"", 0, L"ok: "},
    };
    for (const TCase& LCase : LCases) {
        SCOPED_TRACE(Utf8(LCase.Cmd));
        std::wstring LText = L"stale";
        EXPECT_EQ(FProxy.AdminCommand(LCase.Cmd, LText), LCase.Result);
        EXPECT_EQ(LText, LCase.Text);
        EXPECT_TRUE(FSim.Log().Has("AdminCommand cmd=" + Utf8(LCase.Cmd)));
    }
}

TEST_F(ProxyCallTest, FailingCallsRaiseTheServersErrorInformation) {
    struct TCase {
        const wchar_t* Cmd;
        HRESULT Code;
        std::string Message;  // empty: the system's text for the code
        const char* Source;
        const char* HelpFile;
        std::int32_t HelpContext;
    };
    const TCase LCases[] = {
        {L"fail|0x80040200|Patient not found.  \r\n", static_cast<HRESULT>(0x80040200),
         "Patient not found", "imaging-sim", "", 0},
        {L"fail|0x80040201|Locked|Ondarix.Server|ox.hlp|42", static_cast<HRESULT>(0x80040201),
         "Locked", "Ondarix.Server", "ox.hlp", 42},
        {L"fail|0x80040202|Dots... and blanks . . ", static_cast<HRESULT>(0x80040202),
         "Dots... and blanks", "imaging-sim", "", 0},
        // Description empty or only dots and blanks: the system's text for the code.
        {L"fail|0x80004005|", E_FAIL, "", "imaging-sim", "", 0},
        {L"fail|0x80070005| . .", E_ACCESSDENIED, "", "imaging-sim", "", 0},
        // No error information and no system text: the code in hexadecimal.
        {L"fail|0x8004CAFE", static_cast<HRESULT>(0x8004CAFE), "OLE error 8004CAFE", "", "", 0},
        {L"fail|0x8004CAFE|", static_cast<HRESULT>(0x8004CAFE), "OLE error 8004CAFE", "imaging-sim",
         "", 0},
    };
    for (const TCase& LCase : LCases) {
        SCOPED_TRACE(Utf8(LCase.Cmd));
        std::string LMessage = LCase.Message;
        if (LMessage.empty()) {
            LMessage = SystemText(LCase.Code);
            ASSERT_FALSE(LMessage.empty()) << "the system has no text for this code";
        }
        std::wstring LText = L"stale";
        try {
            FProxy.AdminCommand(LCase.Cmd, LText);
            ADD_FAILURE() << "no error";
        } catch (const EOleException& LE) {
            EXPECT_EQ(LE.what(), LMessage);
            EXPECT_EQ(LE.ErrorCode(), LCase.Code);
            EXPECT_EQ(LE.Source(), LCase.Source);
            EXPECT_EQ(LE.HelpFile(), LCase.HelpFile);
            EXPECT_EQ(LE.HelpContext(), LCase.HelpContext);
        }
        EXPECT_TRUE(LText.empty());
    }
}

TEST_F(ProxyCallTest, ErrorInformationLeftOnTheThreadIsNotTakenForTheCalls) {
    ComPtr<ICreateErrorInfo> LCreate;
    ASSERT_EQ(CreateErrorInfo(&LCreate), S_OK);
    LCreate->SetDescription(const_cast<LPOLESTR>(L"Left over"));
    ComPtr<IErrorInfo> LInfo;
    ASSERT_EQ(LCreate.As(&LInfo), S_OK);
    SetErrorInfo(0, LInfo.Get());
    std::wstring LText;
    try {
        FProxy.AdminCommand(L"fail|0x8004CAFE", LText);
        ADD_FAILURE() << "no error";
    } catch (const EOleException& LE) {
        EXPECT_STREQ(LE.what(), "OLE error 8004CAFE");
    }
}

TEST_F(ProxyCallTest, ManyCallsInARow) {
    constexpr int LKCalls = 300;
    const auto LStart = std::chrono::steady_clock::now();
    for (int LI = 0; LI < LKCalls; ++LI) {
        std::wstring LText;
        ASSERT_EQ(FProxy.AdminCommand(L"result|" + std::to_wstring(LI) + L"|n", LText), LI);
        ASSERT_EQ(LText, L"n");
    }
    const double LMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - LStart)
            .count();
    EXPECT_EQ(FSim.Log().Count("AdminCommand"), LKCalls);
    // A figure for the record, not a check: one AdminCommand round trip under Wine.
    std::printf("AdminCommand round trip: %.3f ms\n", LMs / LKCalls);
    RecordProperty("AdminCommandRoundTripMicroseconds", static_cast<int>(LMs * 1000 / LKCalls));
}

TEST_F(ProxyCallTest, TerminateEndsTheServer) {
    FProxy.Terminate();
    EXPECT_TRUE(FSim.WaitExit());
    const std::vector<std::string> LLines = FSim.Log().Lines();
    ASSERT_FALSE(LLines.empty());
    EXPECT_GE(FSim.Log().Find("Terminate"), 0);
    EXPECT_EQ(LLines.back(), "exit");
}

TEST(ProxyCalls, FailingVersionIsAnErrorAndOtherCallsGoOn) {
    TSim LSim(TSim::TStart{.Options = L"version=fail"});
    Tox3server LProxy;
    try {
        LProxy.Get_Version();
        ADD_FAILURE() << "no error";
    } catch (const EOleException& LE) {
        EXPECT_EQ(LE.ErrorCode(), E_FAIL);
    }
    std::wstring LText;
    EXPECT_EQ(LProxy.AdminCommand(L"result|1|still here", LText), 1);
}

TEST(ProxyCalls, ServerThatIsGoneRaisesOnTheNextCall) {
    TSim LSim(TSim::TStart{.Options = L"exit-after=AdminCommand"});
    {
        Tox3server LProxy;
        std::wstring LText;
        EXPECT_EQ(LProxy.AdminCommand(L"bye", LText), 0);
        EXPECT_EQ(LText, L"ok: bye");
        ASSERT_TRUE(LSim.WaitExit());
        EXPECT_THROW(LProxy.Get_Version(), EOleException);
        // Destroying the proxy of a server that is gone neither throws nor hangs.
    }
    EXPECT_EQ(LSim.Log().Lines().back(), "exit");
}

}  // namespace
}  // namespace deruz::testing
