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
void Resolve(TLinkRig& rig, const std::wstring& IniP = L"") {
    TLinkState& state = rig.State();
    const TUserMessages messages(rig.platform.Boxes, state.DllFn, state.DllVersion);
    state.Config = ResolveConfiguration(IniP, state.DllFn, state.Config,
                                        rig.platform.Control.Platform(), messages);
}

TTexts Items(const systools::TStringList& list) {
    TTexts out;
    for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]);
    return out;
}

TEST(Config, MainFileFolderFollowsIniPOnlyWhenItIsAFolderHoldingTheFile) {
    struct TCase {
        std::wstring IniP;
        bool MainBesideLibrary;
        std::wstring MainIniFn;
        std::uint32_t StartUpDelay;  // tells which file was read
    };
    const TCase cases[] = {
        {L"", true, kMainIni, 1},
        {L"D:\\Cfg", true, L"D:\\Cfg\\deruz64.ini", 2},
        {L"D:\\Cfg\\", true, L"D:\\Cfg\\deruz64.ini", 2},
        {L"D:\\Cfg\\deruz64.ini", true, kMainIni, 1},  // a file, not a folder
        {L"X:\\Missing", true, kMainIni, 1},
        {L"E:\\Empty", true, kMainIni, 1},     // a folder without the file
        {L"E:\\Empty", false, kMainIni, 400},  // the library's folder even without the file
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.IniP + (c.MainBesideLibrary ? L"" : L" (nothing beside the library)"));
        TLinkRig rig;
        if (c.MainBesideLibrary) rig.Main(L"StartUpDelay", L"1");
        rig.platform.Control.Files.Set(L"D:\\Cfg\\deruz64.ini", L"OndarixDDE", L"StartUpDelay",
                                       L"2");
        rig.platform.Control.Files.AddFolder(L"E:\\Empty");
        Resolve(rig, c.IniP);
        EXPECT_EQ(rig.State().Config.MainIniFn, c.MainIniFn);
        EXPECT_EQ(rig.State().Config.IniFn, c.MainIniFn);
        EXPECT_EQ(rig.State().Config.StartUpDelay, c.StartUpDelay);
    }
}

TEST(Config, DebugAndProfileListsComeFromTheMainFileTheRestFromTheProfile) {
    TLinkRig rig;
    rig.Main(L"Debug", L"2");
    rig.Main(L"StartUpDelay", L"1");
    rig.Main(L"UseMutex", L"0");
    rig.Main(L"Computers", L"WS1", L"Profiles");
    const std::wstring profile = L"C:\\Link\\deruz64_WS1.ini";
    auto& files = rig.platform.Control.Files;
    files.Set(profile, L"OndarixDDE", L"Debug", L"0");
    files.Set(profile, L"OndarixDDE", L"StartUpDelay", L"77");
    files.Set(profile, L"Profiles", L"Users", L"zed");
    Resolve(rig);
    EXPECT_EQ(rig.State().Config.IniFn, profile);
    EXPECT_EQ(rig.State().Config.Debug, 2);
    EXPECT_EQ(rig.State().Config.StartUpDelay, 77u);
    EXPECT_TRUE(rig.State().Config.UseMutex);  // the profile replaces the main file completely
    EXPECT_EQ(Items(rig.State().Config.UserNames), TTexts{});
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
    const TCase cases[] = {
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TLinkRig rig;
        auto& system = rig.platform.Control.System;
        system.Remote = c.Remote;
        if (c.ClientName) system.Env[L"CLIENTNAME"] = *c.ClientName;
        system.Computer = c.Computer;
        system.User = c.User;
        rig.Main(L"Clients", c.Clients, L"Profiles");
        rig.Main(L"Computers", c.Computers, L"Profiles");
        rig.Main(L"Users", c.Users, L"Profiles");
        Resolve(rig);
        EXPECT_EQ(rig.State().Config.IniFn, c.IniFn);
    }
}

TEST(Config, NameListsAreSplitAndAppendedOnEveryInitialisation) {
    TLinkRig rig;
    rig.Main(L"Users", L"alice, bob;carol", L"Profiles");
    rig.Main(L"Computers", L"a,,b", L"Profiles");
    Resolve(rig);
    EXPECT_EQ(Items(rig.State().Config.UserNames), (TTexts{L"alice", L"bob", L"carol"}));
    EXPECT_EQ(Items(rig.State().Config.ComputerNames), (TTexts{L"a", L"", L"b"}));
    EXPECT_EQ(Items(rig.State().Config.ClientNames), TTexts{});

    rig.Main(L"Users", L"dave", L"Profiles");
    rig.Main(L"Computers", L"", L"Profiles");
    Resolve(rig);
    EXPECT_EQ(Items(rig.State().Config.UserNames), (TTexts{L"alice", L"bob", L"carol", L"dave"}));
    EXPECT_EQ(Items(rig.State().Config.ComputerNames), (TTexts{L"a", L"", L"b"}));
}

TEST(Config, ProfileIsCreatedBesideTheLibraryAsACopyOfTheMainFileOrKept) {
    struct TCase {
        const char* Name;
        std::wstring IniP;
        bool ProfileExists;
        std::uint32_t StartUpDelay;
    };
    const TCase cases[] = {
        {"new profile copies the main file", L"", false, 123},
        {"existing profile is kept", L"", true, 77},
        {"main file in another folder: the profile still lies beside the library", L"D:\\Cfg",
         false, 55},
    };
    const std::wstring profile = L"C:\\Link\\deruz64_WS1.ini";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TLinkRig rig;
        auto& files = rig.platform.Control.Files;
        rig.Main(L"StartUpDelay", L"123");
        rig.Main(L"Computers", L"WS1", L"Profiles");
        files.Set(L"D:\\Cfg\\deruz64.ini", L"OndarixDDE", L"StartUpDelay", L"55");
        files.Set(L"D:\\Cfg\\deruz64.ini", L"Profiles", L"Computers", L"WS1");
        if (c.ProfileExists) files.Set(profile, L"OndarixDDE", L"StartUpDelay", L"77");
        Resolve(rig, c.IniP);
        EXPECT_EQ(rig.State().Config.IniFn, profile);
        EXPECT_EQ(rig.State().Config.StartUpDelay, c.StartUpDelay);
        EXPECT_EQ(files.Files[profile][L"OndarixDDE"][L"StartUpDelay"],
                  std::to_wstring(c.StartUpDelay));
        EXPECT_FALSE(files.FileExists(L"D:\\Cfg\\deruz64_WS1.ini"));
    }
}

TEST(Config, EveryKeyHasItsDefault) {
    TLinkRig rig;  // no configuration file at all
    Resolve(rig);
    const TLinkState& s = rig.State();
    EXPECT_EQ(s.Config.Debug, 0);
    EXPECT_EQ(s.Config.StartUpDelay, 400u);
    EXPECT_TRUE(s.Config.UseMutex);
    EXPECT_EQ(s.Config.LinkMode, lmNormal);
    EXPECT_FALSE(s.Config.UsePid);
    EXPECT_TRUE(s.Config.UseMarshalling);
    EXPECT_TRUE(s.Config.DetectOndarix);
    EXPECT_FALSE(s.Config.SetActiveWnd);
    EXPECT_EQ(s.Config.OxApp, L"");
    EXPECT_EQ(s.Config.ForceDentistID, 0);
    EXPECT_EQ(s.Config.ForceExtRoleID, L"");
}

TEST(Config, EveryKeyIsReadFromTheFileInForce) {
    TLinkRig rig;
    rig.Main(L"Debug", L"3");
    rig.Main(L"StartUpDelay", L"1500");
    rig.Main(L"UseMutex", L"0");
    rig.Main(L"UsePid", L"7");  // any value but 0 is true
    rig.Main(L"UseMarshalling", L"0");
    rig.Main(L"DetectOndarix", L"0");
    rig.Main(L"SetActiveWindow", L"1");
    rig.Main(L"oxprogram", L"C:\\Apps\\Img.EXE");
    rig.Main(L"ForceDentistID", L"12");
    rig.Main(L"ForceExtRoleID", L"R7x");
    Resolve(rig);
    const TLinkState& s = rig.State();
    EXPECT_EQ(s.Config.Debug, 3);
    EXPECT_EQ(s.Config.StartUpDelay, 1500u);
    EXPECT_FALSE(s.Config.UseMutex);
    EXPECT_TRUE(s.Config.UsePid);
    EXPECT_FALSE(s.Config.UseMarshalling);
    EXPECT_FALSE(s.Config.DetectOndarix);
    EXPECT_TRUE(s.Config.SetActiveWnd);
    EXPECT_EQ(s.Config.OxApp, L"c:\\apps\\img.exe");
    EXPECT_EQ(s.Config.ForceDentistID, 12);
    EXPECT_EQ(s.Config.ForceExtRoleID, L"R7x");  // as written
}

TEST(Config, LinkModeFromClipboardThenVirtualChannel) {
    struct TCase {
        const wchar_t* Clipboard;
        const wchar_t* VirtualChannel;
        TLinkMode Mode;
    };
    for (const auto& c : {TCase{L"0", L"0", lmNormal}, TCase{L"1", L"0", lmClipboard},
                          TCase{L"0", L"1", lmMsVirtualChannel}, TCase{L"1", L"1", lmClipboard}}) {
        SCOPED_TRACE(std::wstring(c.Clipboard) + L"/" + c.VirtualChannel);
        TLinkRig rig;
        rig.Main(L"UseClipboard", c.Clipboard);
        rig.Main(L"UseMsVirtualChannel", c.VirtualChannel);
        Resolve(rig);
        EXPECT_EQ(rig.State().Config.LinkMode, c.Mode);
    }
}

TEST(Config, TextsAreCutAtTheirLimits) {
    TLinkRig rig;
    rig.Main(L"oxprogram", L"C:\\" + std::wstring(600, L'A'));
    rig.Main(L"ForceExtRoleID", std::wstring(600, L'R'));
    rig.Main(L"Users", std::wstring(1600, L'u'), L"Profiles");
    Resolve(rig);
    EXPECT_EQ(rig.State().Config.OxApp, L"c:\\" + std::wstring(509, L'a'));
    EXPECT_EQ(rig.State().Config.ForceExtRoleID, std::wstring(512, L'R'));
    EXPECT_EQ(Items(rig.State().Config.UserNames), TTexts{std::wstring(1500, L'u')});
}

TEST(Config, NegativeDebugOrDentistIdFailsTheInitialisationWithARangeError) {
    for (const wchar_t* key : {L"Debug", L"ForceDentistID"}) {
        SCOPED_TRACE(key);
        TLinkRig rig;
        rig.Main(key, L"-1");
        EXPECT_EQ(rig.link.OndaInitI(nullptr, nullptr, 1), dde_Error);
        EXPECT_EQ(rig.State().ReturnText, L"Range check error");
        ASSERT_EQ(rig.platform.Boxes.Shown.size(), 1u);
        EXPECT_EQ(rig.platform.Boxes.Shown[0].Style, 0x1010u);
        EXPECT_EQ(rig.platform.Boxes.Shown[0].Text,
                  L"Link-DLL: c:\\link\\deruz64.dll [1.2.3.4]\r\n\r\nRange check error");
        EXPECT_TRUE(rig.platform.Control.Desktop.Starts.empty());
        EXPECT_STREQ(rig.link.OndaGetErrorStr(), "Range check error");
    }
}

// An initialisation whose configuration fails puts nothing of it in force: the settings of
// the last good one stay (here the clipboard mode), not a mix of old and new.
TEST(Config, AFailedInitialisationLeavesTheConfigurationInForce) {
    TLinkRig rig;
    rig.Main(L"UseClipboard", L"1");
    rig.Main(L"DetectOndarix", L"0");
    ASSERT_EQ(rig.link.OndaInitI(nullptr, nullptr, 42), dde_Ok);
    rig.Main(L"UseClipboard", L"0");
    rig.Main(L"ForceDentistID", L"-1");
    EXPECT_EQ(rig.link.OndaInitI(nullptr, nullptr, 42), dde_Error);
    EXPECT_EQ(rig.link.OndaCommand("x"), dde_Ok);
    EXPECT_EQ(rig.platform.Clipboard.Texts, TTexts{L"x"});
    EXPECT_TRUE(rig.platform.Control.Desktop.Events.empty());
}

TEST(Config, ProfileChoiceIsShownOnlyAtDebugOne) {
    struct TCase {
        const char* Name;
        std::int32_t Debug;
        bool Remote;
        std::wstring IniP, Clients, Computers, Users;
        TTexts Shown;
    };
    const TCase cases[] = {
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TLinkRig rig;
        rig.platform.Control.System.Remote = c.Remote;
        rig.platform.Control.System.Env[L"CLIENTNAME"] = L"OTHER";
        const std::wstring main = c.IniP.empty() ? kMainIni : c.IniP + L"\\deruz64.ini";
        auto& files = rig.platform.Control.Files;
        files.Set(main, L"OndarixDDE", L"Debug", std::to_wstring(c.Debug));
        files.Set(main, L"Profiles", L"Clients", c.Clients);
        files.Set(main, L"Profiles", L"Computers", c.Computers);
        files.Set(main, L"Profiles", L"Users", c.Users);
        Resolve(rig, c.IniP);
        EXPECT_EQ(rig.platform.Bodies(), c.Shown);
        for (const auto& box : rig.platform.Boxes.Shown) EXPECT_EQ(box.Style, 0x1040u);
    }
}

TEST(ConfigInfo, SummaryTextLineByLine) {
    TLinkRig rig;
    TLinkState& s = rig.State();
    s.Config.IniFn = L"C:\\Link\\deruz64_WS1.ini";
    s.Config.StartUpDelay = 400;
    s.AppPrevWnd = 0xABC;
    s.Config.UseMutex = true;
    s.Config.LinkMode = lmClipboard;
    s.Config.DetectOndarix = true;
    s.Config.UserNames.Add(L"alice");
    s.Config.UserNames.Add(L"bob");
    s.Config.ClientNames.Add(L"$rdp");
    EXPECT_EQ(ConfigInfoText(
                  s, {L"c:\\ox\\ox.exe", L"C:\\Ondarix", L"77", L"c:\\ox\\ox.exe -dde -pid:77"}),
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
    TLinkRig rig;
    TLinkState& s = rig.State();
    s.Config.IniFn = kMainIni;
    s.Config.StartUpDelay = 0;
    s.AppPrevWnd = 0x1234ABCD5678;
    EXPECT_EQ(ConfigInfoText(s, {}),
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
    for (const auto& c :
         {TCase{0, L"Link mode: Normal\r\n"}, TCase{1, L"Link mode: Clipboard\r\n"},
          TCase{2, L"Link mode: Microsoft Virtual Channel\r\n"}, TCase{7, L"Link mode: 7\r\n"}}) {
        TLinkRig rig;
        rig.State().Config.LinkMode = static_cast<TLinkMode>(c.Mode);
        EXPECT_NE(ConfigInfoText(rig.State(), {}).find(c.Line), std::wstring::npos) << c.Mode;
    }
}

TEST(ConfigInfo, ShownOnlyAtDebugOne) {
    for (const std::int32_t debug : {0, 1, 2}) {
        TLinkRig rig;
        // With detection off the initialisation shows the summary and nothing else.
        rig.Main(L"Debug", std::to_wstring(debug));
        rig.Main(L"DetectOndarix", L"0");
        rig.Main(L"oxprogram", L"C:\\Apps\\Img.EXE");
        ASSERT_EQ(rig.link.OndaInitI(nullptr, nullptr, 0x42), dde_Ok);
        const control::TStartFacts start{L"c:\\apps\\img.exe", L"", L"", L""};
        if (debug != 1) {
            EXPECT_TRUE(rig.platform.Boxes.Shown.empty()) << debug;
            continue;
        }
        ASSERT_EQ(rig.platform.Boxes.Shown.size(), 1u);
        EXPECT_EQ(rig.platform.Boxes.Shown[0].Style, 0x1040u);
        EXPECT_EQ(rig.platform.Boxes.Shown[0].Caption, L"Ondarix V3 Link library");
        EXPECT_EQ(Body(rig.platform.Boxes.Shown[0]), ConfigInfoText(rig.State(), start));
    }
}

TEST(ConfigInfo, DetectionOffShowsTheSummaryWithoutStartCommandAndStartsNothing) {
    TLinkRig rig;
    auto& files = rig.platform.Control.Files;
    files.Set(L"D:\\Cfg\\deruz64.ini", L"OndarixDDE", L"Debug", L"1");
    files.Set(L"D:\\Cfg\\deruz64.ini", L"OndarixDDE", L"DetectOndarix", L"0");
    EXPECT_EQ(rig.link.OndaInitI("D:\\Cfg", nullptr, 0x42), dde_Ok);
    ASSERT_EQ(rig.platform.Boxes.Shown.size(), 1u);
    const std::wstring summary = Body(rig.platform.Boxes.Shown[0]);
    EXPECT_EQ(summary.rfind(L"Inifile: D:\\Cfg\\deruz64.ini\r\nProgram name: \r\n"
                            L"Working dir: \r\nWait Time: 30000 ms\r\n",
                            0),
              0u)
        << summary;
    EXPECT_EQ(summary.find(L"Start command"), std::wstring::npos);
    EXPECT_NE(summary.find(L"\r\nAppWnd: 00000042\r\n"), std::wstring::npos);
    EXPECT_NE(summary.find(L"\r\nDetectOndarix: no\r\n"), std::wstring::npos);
    EXPECT_TRUE(rig.platform.Control.Desktop.Events.empty());
    EXPECT_TRUE(rig.ServerCalls().empty());
    EXPECT_EQ(rig.Control().Ox3, nullptr);
}

}  // namespace
}  // namespace deruz::link
