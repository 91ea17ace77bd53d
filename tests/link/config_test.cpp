// The link's configuration: which file is in force (main file, profile copies per remote
// client, computer or user), every setting with its default, the range errors, the Debug
// messages, and the configuration summary.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "link/link.h"
#include "link/link_config.h"
#include "tests/link/fakes.h"

namespace deruz::link {
namespace {

using testing::Body;
using testing::kMainIni;
using testing::TLinkRig;
using TTexts = std::vector<std::wstring>;

// Resolves the configuration as an initialisation of the rig's link does and puts it in
// force.
void Resolve(TLinkRig& ARig, const std::wstring& AIniP = L"") {
    TLinkState& LState = ARig.State();
    const TUserMessages LMessages(ARig.platform.Boxes, LState.DllFn, LState.DllVersion);
    LState.Config = ResolveConfiguration(AIniP, LState.DllFn, LState.Config,
                                         ARig.platform.Control.Platform(), LMessages);
}

TTexts Items(const systools::TStringList& AList) {
    TTexts LOut;
    for (int LI = 0; LI < AList.Count(); ++LI) LOut.push_back(AList[LI]);
    return LOut;
}

TEST(Config, MainFileFolderFollowsIniPOnlyWhenItIsAFolderHoldingTheFile) {
    struct TCase {
        std::wstring IniP;
        bool MainBesideLibrary;
        std::wstring MainIniFn;
        std::uint32_t StartUpDelay;  // tells which file was read
    };
    const TCase LCases[] = {
        {L"", true, kMainIni, 1},
        {L"D:\\Cfg", true, L"D:\\Cfg\\deruz64.ini", 2},
        {L"D:\\Cfg\\", true, L"D:\\Cfg\\deruz64.ini", 2},
        {L"D:\\Cfg\\deruz64.ini", true, kMainIni, 1},  // a file, not a folder
        {L"X:\\Missing", true, kMainIni, 1},
        {L"E:\\Empty", true, kMainIni, 1},     // a folder without the file
        {L"E:\\Empty", false, kMainIni, 400},  // the library's folder even without the file
    };
    for (const auto& LC : LCases) {
        SCOPED_TRACE(LC.IniP + (LC.MainBesideLibrary ? L"" : L" (nothing beside the library)"));
        TLinkRig LRig;
        if (LC.MainBesideLibrary) LRig.Main(L"StartUpDelay", L"1");
        LRig.platform.Control.Files.Set(L"D:\\Cfg\\deruz64.ini", L"OndarixDDE", L"StartUpDelay",
                                        L"2");
        LRig.platform.Control.Files.AddFolder(L"E:\\Empty");
        Resolve(LRig, LC.IniP);
        EXPECT_EQ(LRig.State().Config.MainIniFn, LC.MainIniFn);
        EXPECT_EQ(LRig.State().Config.IniFn, LC.MainIniFn);
        EXPECT_EQ(LRig.State().Config.StartUpDelay, LC.StartUpDelay);
    }
}

TEST(Config, DebugAndProfileListsComeFromTheMainFileTheRestFromTheProfile) {
    TLinkRig LRig;
    LRig.Main(L"Debug", L"2");
    LRig.Main(L"StartUpDelay", L"1");
    LRig.Main(L"UseMutex", L"0");
    LRig.Main(L"Computers", L"WS1", L"Profiles");
    const std::wstring LProfile = L"C:\\Link\\deruz64_WS1.ini";
    auto& LFiles = LRig.platform.Control.Files;
    LFiles.Set(LProfile, L"OndarixDDE", L"Debug", L"0");
    LFiles.Set(LProfile, L"OndarixDDE", L"StartUpDelay", L"77");
    LFiles.Set(LProfile, L"Profiles", L"Users", L"zed");
    Resolve(LRig);
    EXPECT_EQ(LRig.State().Config.IniFn, LProfile);
    EXPECT_EQ(LRig.State().Config.Debug, 2);
    EXPECT_EQ(LRig.State().Config.StartUpDelay, 77u);
    EXPECT_TRUE(LRig.State().Config.UseMutex);  // the profile replaces the main file completely
    EXPECT_EQ(Items(LRig.State().Config.UserNames), TTexts{});
}

TEST(Config, ProfilePrecedenceRemoteClientThenComputerThenUser) {
    struct TCase {
        const char* Name;
        bool Remote;
        std::optional<std::wstring> ClientName;
        std::wstring Clients, Computers, Users;
        std::wstring Computer, User;
        std::wstring IniFn;
    };
    const TCase LCases[] = {
        {"$rdp wins over the client's own", true, L"OTHER", L"$rdp, other", L"WS1", L"bob", L"WS1",
         L"bob", L"C:\\Link\\deruz64_$rdp.ini"},
        {"client named as the session reports it", true, L"OTHER", L"x;other", L"WS1", L"bob",
         L"WS1", L"bob", L"C:\\Link\\deruz64_OTHER.ini"},
        {"client outside a remote session", false, L"OTHER", L"other,$rdp", L"", L"bob", L"WS1",
         L"bob", L"C:\\Link\\deruz64_bob.ini"},
        {"console client in any case", true, L"CoNsOlE", L"console,$rdp", L"", L"", L"WS1", L"bob",
         kMainIni},
        {"remote session without a client name",
         true,
         {},
         L"$rdp",
         L"",
         L"",
         L"WS1",
         L"bob",
         kMainIni},
        {"computer over user",
         false,
         {},
         L"",
         L"ws1",
         L"BOB",
         L"WS1",
         L"bob",
         L"C:\\Link\\deruz64_WS1.ini"},
        {"user from a list",
         false,
         {},
         L"",
         L"",
         L"alice, bob;carol",
         L"WS1",
         L"Carol",
         L"C:\\Link\\deruz64_Carol.ini"},
        {"empty item matches a failed user name look-up",
         false,
         {},
         L"",
         L"",
         L"a,,b",
         L"WS1",
         L"",
         L"C:\\Link\\deruz64_.ini"},
        {"nothing matches", true, L"OTHER", L"x", L"y", L"z", L"WS1", L"bob", kMainIni},
    };
    for (const auto& LC : LCases) {
        SCOPED_TRACE(LC.Name);
        TLinkRig LRig;
        auto& LSystem = LRig.platform.Control.System;
        LSystem.Remote = LC.Remote;
        if (LC.ClientName) LSystem.Env[L"CLIENTNAME"] = *LC.ClientName;
        LSystem.Computer = LC.Computer;
        LSystem.User = LC.User;
        LRig.Main(L"Clients", LC.Clients, L"Profiles");
        LRig.Main(L"Computers", LC.Computers, L"Profiles");
        LRig.Main(L"Users", LC.Users, L"Profiles");
        Resolve(LRig);
        EXPECT_EQ(LRig.State().Config.IniFn, LC.IniFn);
    }
}

TEST(Config, NameListsAreSplitAndAppendedOnEveryInitialisation) {
    TLinkRig LRig;
    LRig.Main(L"Users", L"alice, bob;carol", L"Profiles");
    LRig.Main(L"Computers", L"a,,b", L"Profiles");
    Resolve(LRig);
    EXPECT_EQ(Items(LRig.State().Config.UserNames), (TTexts{L"alice", L"bob", L"carol"}));
    EXPECT_EQ(Items(LRig.State().Config.ComputerNames), (TTexts{L"a", L"", L"b"}));
    EXPECT_EQ(Items(LRig.State().Config.ClientNames), TTexts{});

    LRig.Main(L"Users", L"dave", L"Profiles");
    LRig.Main(L"Computers", L"", L"Profiles");
    Resolve(LRig);
    EXPECT_EQ(Items(LRig.State().Config.UserNames), (TTexts{L"alice", L"bob", L"carol", L"dave"}));
    EXPECT_EQ(Items(LRig.State().Config.ComputerNames), (TTexts{L"a", L"", L"b"}));
}

TEST(Config, ProfileIsCreatedBesideTheLibraryAsACopyOfTheMainFileOrKept) {
    struct TCase {
        const char* Name;
        std::wstring IniP;
        bool ProfileExists;
        std::uint32_t StartUpDelay;
    };
    const TCase LCases[] = {
        {"new profile copies the main file", L"", false, 123},
        {"existing profile is kept", L"", true, 77},
        {"main file in another folder: the profile still lies beside the library", L"D:\\Cfg",
         false, 55},
    };
    const std::wstring LProfile = L"C:\\Link\\deruz64_WS1.ini";
    for (const auto& LC : LCases) {
        SCOPED_TRACE(LC.Name);
        TLinkRig LRig;
        auto& LFiles = LRig.platform.Control.Files;
        LRig.Main(L"StartUpDelay", L"123");
        LRig.Main(L"Computers", L"WS1", L"Profiles");
        LFiles.Set(L"D:\\Cfg\\deruz64.ini", L"OndarixDDE", L"StartUpDelay", L"55");
        LFiles.Set(L"D:\\Cfg\\deruz64.ini", L"Profiles", L"Computers", L"WS1");
        if (LC.ProfileExists) LFiles.Set(LProfile, L"OndarixDDE", L"StartUpDelay", L"77");
        Resolve(LRig, LC.IniP);
        EXPECT_EQ(LRig.State().Config.IniFn, LProfile);
        EXPECT_EQ(LRig.State().Config.StartUpDelay, LC.StartUpDelay);
        EXPECT_EQ(LFiles.Files[LProfile][L"OndarixDDE"][L"StartUpDelay"],
                  std::to_wstring(LC.StartUpDelay));
        EXPECT_FALSE(LFiles.FileExists(L"D:\\Cfg\\deruz64_WS1.ini"));
    }
}

TEST(Config, EveryKeyHasItsDefault) {
    TLinkRig LRig;  // no configuration file at all
    Resolve(LRig);
    const TLinkState& LS = LRig.State();
    EXPECT_EQ(LS.Config.Debug, 0);
    EXPECT_EQ(LS.Config.StartUpDelay, 400u);
    EXPECT_TRUE(LS.Config.UseMutex);
    EXPECT_EQ(LS.Config.LinkMode, lmNormal);
    EXPECT_FALSE(LS.Config.UsePid);
    EXPECT_TRUE(LS.Config.UseMarshalling);
    EXPECT_TRUE(LS.Config.DetectOndarix);
    EXPECT_FALSE(LS.Config.SetActiveWnd);
    EXPECT_EQ(LS.Config.OxApp, L"");
    EXPECT_EQ(LS.Config.ForceDentistID, 0);
    EXPECT_EQ(LS.Config.ForceExtRoleID, L"");
}

TEST(Config, EveryKeyIsReadFromTheFileInForce) {
    TLinkRig LRig;
    LRig.Main(L"Debug", L"3");
    LRig.Main(L"StartUpDelay", L"1500");
    LRig.Main(L"UseMutex", L"0");
    LRig.Main(L"UsePid", L"7");  // any value but 0 is true
    LRig.Main(L"UseMarshalling", L"0");
    LRig.Main(L"DetectOndarix", L"0");
    LRig.Main(L"SetActiveWindow", L"1");
    LRig.Main(L"oxprogram", L"C:\\Apps\\Img.EXE");
    LRig.Main(L"ForceDentistID", L"12");
    LRig.Main(L"ForceExtRoleID", L"R7x");
    Resolve(LRig);
    const TLinkState& LS = LRig.State();
    EXPECT_EQ(LS.Config.Debug, 3);
    EXPECT_EQ(LS.Config.StartUpDelay, 1500u);
    EXPECT_FALSE(LS.Config.UseMutex);
    EXPECT_TRUE(LS.Config.UsePid);
    EXPECT_FALSE(LS.Config.UseMarshalling);
    EXPECT_FALSE(LS.Config.DetectOndarix);
    EXPECT_TRUE(LS.Config.SetActiveWnd);
    EXPECT_EQ(LS.Config.OxApp, L"c:\\apps\\img.exe");
    EXPECT_EQ(LS.Config.ForceDentistID, 12);
    EXPECT_EQ(LS.Config.ForceExtRoleID, L"R7x");  // as written
}

TEST(Config, LinkModeFromClipboardThenVirtualChannel) {
    struct TCase {
        const wchar_t* Clipboard;
        const wchar_t* VirtualChannel;
        TLinkMode Mode;
    };
    for (const auto& LC : {TCase{L"0", L"0", lmNormal}, TCase{L"1", L"0", lmClipboard},
                           TCase{L"0", L"1", lmMsVirtualChannel}, TCase{L"1", L"1", lmClipboard}}) {
        SCOPED_TRACE(std::wstring(LC.Clipboard) + L"/" + LC.VirtualChannel);
        TLinkRig LRig;
        LRig.Main(L"UseClipboard", LC.Clipboard);
        LRig.Main(L"UseMsVirtualChannel", LC.VirtualChannel);
        Resolve(LRig);
        EXPECT_EQ(LRig.State().Config.LinkMode, LC.Mode);
    }
}

TEST(Config, TextsAreCutAtTheirLimits) {
    TLinkRig LRig;
    LRig.Main(L"oxprogram", L"C:\\" + std::wstring(600, L'A'));
    LRig.Main(L"ForceExtRoleID", std::wstring(600, L'R'));
    LRig.Main(L"Users", std::wstring(1600, L'u'), L"Profiles");
    Resolve(LRig);
    EXPECT_EQ(LRig.State().Config.OxApp, L"c:\\" + std::wstring(509, L'a'));
    EXPECT_EQ(LRig.State().Config.ForceExtRoleID, std::wstring(512, L'R'));
    EXPECT_EQ(Items(LRig.State().Config.UserNames), TTexts{std::wstring(1500, L'u')});
}

TEST(Config, NegativeDebugOrDentistIdFailsTheInitialisationWithARangeError) {
    for (const wchar_t* LKey : {L"Debug", L"ForceDentistID"}) {
        SCOPED_TRACE(LKey);
        TLinkRig LRig;
        LRig.Main(LKey, L"-1");
        EXPECT_EQ(LRig.link.OndaInitI(nullptr, nullptr, 1), dde_Error);
        EXPECT_EQ(LRig.State().ReturnText, L"Range check error");
        ASSERT_EQ(LRig.platform.Boxes.Shown.size(), 1u);
        EXPECT_EQ(LRig.platform.Boxes.Shown[0].Style, 0x1010u);
        EXPECT_EQ(LRig.platform.Boxes.Shown[0].Text,
                  L"Link-DLL: c:\\link\\deruz64.dll [1.2.3.4]\r\n\r\nRange check error");
        EXPECT_TRUE(LRig.platform.Control.Desktop.Starts.empty());
        EXPECT_STREQ(LRig.link.OndaGetErrorStr(), "Range check error");
    }
}

// An initialisation whose configuration fails puts nothing of it in force: the settings of
// the last good one stay (here the clipboard mode), not a mix of old and new.
TEST(Config, AFailedInitialisationLeavesTheConfigurationInForce) {
    TLinkRig LRig;
    LRig.Main(L"UseClipboard", L"1");
    LRig.Main(L"DetectOndarix", L"0");
    ASSERT_EQ(LRig.link.OndaInitI(nullptr, nullptr, 42), dde_Ok);
    LRig.Main(L"UseClipboard", L"0");
    LRig.Main(L"ForceDentistID", L"-1");
    EXPECT_EQ(LRig.link.OndaInitI(nullptr, nullptr, 42), dde_Error);
    EXPECT_EQ(LRig.link.OndaCommand("x"), dde_Ok);
    EXPECT_EQ(LRig.platform.Clipboard.Texts, TTexts{L"x"});
    EXPECT_TRUE(LRig.platform.Control.Desktop.Events.empty());
}

TEST(Config, ProfileChoiceIsShownOnlyAtDebugOne) {
    struct TCase {
        const char* Name;
        std::int32_t Debug;
        bool Remote;
        std::wstring IniP, Clients, Computers, Users;
        TTexts Shown;
    };
    const TCase LCases[] = {
        {"client profile",
         1,
         true,
         L"",
         L"other",
         L"WS1",
         L"",
         {L"running in RDP session, clientname='OTHER'",
          L"using clientname=C:\\Link\\deruz64_OTHER.ini"}},
        {"remote without client profile, then computer",
         1,
         true,
         L"",
         L"x",
         L"WS1",
         L"",
         {L"running in RDP session, clientname='OTHER'",
          L"using computername=C:\\Link\\deruz64_WS1.ini"}},
        {"user",
         1,
         false,
         L"",
         L"other",
         L"",
         L"bob",
         {L"using username=C:\\Link\\deruz64_bob.ini"}},
        // The message names the profile as made from the main file's path, before the
        // profile is placed beside the library.
        {"computer with the main file elsewhere",
         1,
         false,
         L"D:\\Cfg",
         L"",
         L"WS1",
         L"",
         {L"using computername=D:\\Cfg\\deruz64_WS1.ini"}},
        {"Debug 2 shows none", 2, true, L"", L"other", L"", L"", {}},
    };
    for (const auto& LC : LCases) {
        SCOPED_TRACE(LC.Name);
        TLinkRig LRig;
        LRig.platform.Control.System.Remote = LC.Remote;
        LRig.platform.Control.System.Env[L"CLIENTNAME"] = L"OTHER";
        const std::wstring LMain = LC.IniP.empty() ? kMainIni : LC.IniP + L"\\deruz64.ini";
        auto& LFiles = LRig.platform.Control.Files;
        LFiles.Set(LMain, L"OndarixDDE", L"Debug", std::to_wstring(LC.Debug));
        LFiles.Set(LMain, L"Profiles", L"Clients", LC.Clients);
        LFiles.Set(LMain, L"Profiles", L"Computers", LC.Computers);
        LFiles.Set(LMain, L"Profiles", L"Users", LC.Users);
        Resolve(LRig, LC.IniP);
        EXPECT_EQ(LRig.platform.Bodies(), LC.Shown);
        for (const auto& LBox : LRig.platform.Boxes.Shown) EXPECT_EQ(LBox.Style, 0x1040u);
    }
}

TEST(ConfigInfo, SummaryTextLineByLine) {
    TLinkRig LRig;
    TLinkState& LS = LRig.State();
    LS.Config.IniFn = L"C:\\Link\\deruz64_WS1.ini";
    LS.Config.StartUpDelay = 400;
    LS.AppPrevWnd = 0xABC;
    LS.Config.UseMutex = true;
    LS.Config.LinkMode = lmClipboard;
    LS.Config.DetectOndarix = true;
    LS.Config.UserNames.Add(L"alice");
    LS.Config.UserNames.Add(L"bob");
    LS.Config.ClientNames.Add(L"$rdp");
    EXPECT_EQ(ConfigInfoText(
                  LS, {L"c:\\ox\\ox.exe", L"C:\\Ondarix", L"77", L"c:\\ox\\ox.exe -dde -pid:77"}),
              L"Inifile: C:\\Link\\deruz64_WS1.ini\r\n"
              L"Program name: c:\\ox\\ox.exe\r\n"
              L"Working dir: C:\\Ondarix\r\n"
              L"Start command: c:\\ox\\ox.exe -dde -pid:77\r\n"
              L"Wait Time: 30000 ms\r\n"
              L"Startup delay: 400 ms\r\n"
              L"AppWnd: 00000ABC\r\n"
              L"Use Mutex: yes\r\n"
              L"Link mode: Clipboard\r\n"
              L"Use PID: yes (PID=77)\r\n"
              L"DetectOndarix: yes\r\n"
              L"Seperate user profiles: alice\r\nbob\r\n\r\n"
              L"Seperate computer profiles: \r\n"
              L"Seperate client profiles: $rdp\r\n");
}

TEST(ConfigInfo, SummaryWithoutStartCommandAndEmptyLists) {
    TLinkRig LRig;
    TLinkState& LS = LRig.State();
    LS.Config.IniFn = kMainIni;
    LS.Config.StartUpDelay = 0;
    LS.AppPrevWnd = 0x1234ABCD5678;
    EXPECT_EQ(ConfigInfoText(LS, {}),
              L"Inifile: C:\\Link\\deruz64.ini\r\n"
              L"Program name: \r\n"
              L"Working dir: \r\n"
              L"Wait Time: 30000 ms\r\n"
              L"Startup delay: 0 ms\r\n"
              L"AppWnd: 1234ABCD5678\r\n"
              L"Use Mutex: no\r\n"
              L"Link mode: Normal\r\n"
              L"Use PID: no (PID=)\r\n"
              L"DetectOndarix: no\r\n"
              L"Seperate user profiles: \r\n"
              L"Seperate computer profiles: \r\n"
              L"Seperate client profiles: ");
}

TEST(ConfigInfo, LinkModeNames) {
    struct TCase {
        int Mode;
        const wchar_t* Line;
    };
    for (const auto& LC :
         {TCase{0, L"Link mode: Normal\r\n"}, TCase{1, L"Link mode: Clipboard\r\n"},
          TCase{2, L"Link mode: Microsoft Virtual Channel\r\n"}, TCase{7, L"Link mode: 7\r\n"}}) {
        TLinkRig LRig;
        LRig.State().Config.LinkMode = static_cast<TLinkMode>(LC.Mode);
        EXPECT_NE(ConfigInfoText(LRig.State(), {}).find(LC.Line), std::wstring::npos) << LC.Mode;
    }
}

TEST(ConfigInfo, ShownOnlyAtDebugOne) {
    for (const std::int32_t LDebug : {0, 1, 2}) {
        TLinkRig LRig;
        // With detection off the initialisation shows the summary and nothing else.
        LRig.Main(L"Debug", std::to_wstring(LDebug));
        LRig.Main(L"DetectOndarix", L"0");
        LRig.Main(L"oxprogram", L"C:\\Apps\\Img.EXE");
        ASSERT_EQ(LRig.link.OndaInitI(nullptr, nullptr, 0x42), dde_Ok);
        const control::TStartFacts LStart{L"c:\\apps\\img.exe", L"", L"", L""};
        if (LDebug != 1) {
            EXPECT_TRUE(LRig.platform.Boxes.Shown.empty()) << LDebug;
            continue;
        }
        ASSERT_EQ(LRig.platform.Boxes.Shown.size(), 1u);
        EXPECT_EQ(LRig.platform.Boxes.Shown[0].Style, 0x1040u);
        EXPECT_EQ(LRig.platform.Boxes.Shown[0].Caption, L"Ondarix V3 Link library");
        EXPECT_EQ(Body(LRig.platform.Boxes.Shown[0]), ConfigInfoText(LRig.State(), LStart));
    }
}

TEST(ConfigInfo, DetectionOffShowsTheSummaryWithoutStartCommandAndStartsNothing) {
    TLinkRig LRig;
    auto& LFiles = LRig.platform.Control.Files;
    LFiles.Set(L"D:\\Cfg\\deruz64.ini", L"OndarixDDE", L"Debug", L"1");
    LFiles.Set(L"D:\\Cfg\\deruz64.ini", L"OndarixDDE", L"DetectOndarix", L"0");
    EXPECT_EQ(LRig.link.OndaInitI("D:\\Cfg", nullptr, 0x42), dde_Ok);
    ASSERT_EQ(LRig.platform.Boxes.Shown.size(), 1u);
    const std::wstring LSummary = Body(LRig.platform.Boxes.Shown[0]);
    EXPECT_EQ(LSummary.rfind(L"Inifile: D:\\Cfg\\deruz64.ini\r\nProgram name: \r\n"
                             L"Working dir: \r\nWait Time: 30000 ms\r\n",
                             0),
              0u)
        << LSummary;
    EXPECT_EQ(LSummary.find(L"Start command"), std::wstring::npos);
    EXPECT_NE(LSummary.find(L"\r\nAppWnd: 00000042\r\n"), std::wstring::npos);
    EXPECT_NE(LSummary.find(L"\r\nDetectOndarix: no\r\n"), std::wstring::npos);
    EXPECT_TRUE(LRig.platform.Control.Desktop.Events.empty());
    EXPECT_TRUE(LRig.ServerCalls().empty());
    EXPECT_EQ(LRig.Control().Ox3, nullptr);
}

}  // namespace
}  // namespace deruz::link
