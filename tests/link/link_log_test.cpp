// What the link writes to its log: the load steps, the entry of each export and the unload.
#include "link/link_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/link.h"
#include "link/user_messages.h"
#include "logging/core/si_auto.h"
#include "logging/packets/packet.h"
#include "tests/link/fakes.h"

namespace deruz::link {
namespace {

using namespace deruz::logging;

// Every entry and flow of the process logger, as "session|kind|title".
class LinkLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Si->SetOnLogEntry([this](TSiLogger&, TSiLogEntry& AE) {
            FSeen.push_back(AE.SessionName + "|" + std::to_string(AE.LogEntryType) + "|" +
                            AE.Title);
            if (AE.SessionName == "DeRuz64") FColours.push_back(AE.Color);
            if (AE.Title == "Custom Data") FCustomData = AE.HasData() && AE.ViewerId == viInspector;
        });
        Si->SetOnProcessFlow([this](TSiLogger&, TSiProcessFlow& AF) {
            FSeen.push_back("flow|" + std::to_string(AF.ProcessFlowType) + "|" + AF.Title);
        });
    }
    void TearDown() override {
        Si->SetOnLogEntry(nullptr);
        Si->SetOnProcessFlow(nullptr);
    }
    static std::string Entry(TSiLogEntryType AType, const std::string& ATitle,
                             const std::string& ASession = "DeRuz64") {
        return ASession + "|" + std::to_string(AType) + "|" + ATitle;
    }
    static std::string Flow(TSiProcessFlowType AType, const std::string& ATitle) {
        return "flow|" + std::to_string(AType) + "|" + ATitle;
    }
    std::vector<std::string> FSeen;
    std::vector<TSiColor> FColours;
    bool FCustomData = false;
};

TEST_F(LinkLogTest, LoadExportsAndUnloadAreLogged) {
    testing::TFakePlatform LPlatform;
    TLink LLink(LPlatform.Services());
    LLink.Load();
    EXPECT_TRUE(Si->Enabled());
    ASSERT_NE(linklog::SiLog(), nullptr);
    EXPECT_EQ(linklog::SiLog()->Name(), "DeRuz64");
    EXPECT_FALSE(linklog::SiLog()->IsStored());
    LLink.OndaGetVersion();
    LLink.OndaCommand("x");
    LLink.OndaGetErrorStr();
    LLink.Unload(true);

    const std::vector<std::string> LExpected = {
        Entry(ltText, "Custom Data", "Main"),
        Entry(ltMessage, "OxDde32 logging started"),
        Entry(ltEnterMethod, "OxDde32 loaded"),
        Flow(pfEnterMethod, "OxDde32 loaded"),
        Entry(ltLeaveMethod, "OxDde32 loaded"),
        Flow(pfLeaveMethod, "OxDde32 loaded"),
        Entry(ltMessage, "OndaGetVersion"),
        Entry(ltEnterMethod, "OndaCommand"),
        Flow(pfEnterMethod, "OndaCommand"),
        // Not connected: the restart check starts the (fake) application and connects.
        Entry(ltEnterMethod, "CheckRestartOndarix"),
        Flow(pfEnterMethod, "CheckRestartOndarix"),
        Entry(ltEnterMethod, "DoStartOndarix"),
        Flow(pfEnterMethod, "DoStartOndarix"),
        Entry(ltMessage, "Looking for Ondarix window class using PID"),
        Entry(ltLeaveMethod, "DoStartOndarix"),
        Flow(pfLeaveMethod, "DoStartOndarix"),
        Entry(ltEnterMethod, "ConnectOndarix"),
        Flow(pfEnterMethod, "ConnectOndarix"),
        Entry(ltLeaveMethod, "ConnectOndarix"),
        Flow(pfLeaveMethod, "ConnectOndarix"),
        Entry(ltLeaveMethod, "CheckRestartOndarix"),
        Flow(pfLeaveMethod, "CheckRestartOndarix"),
        Entry(ltLeaveMethod, "OndaCommand"),
        Flow(pfLeaveMethod, "OndaCommand"),
        Entry(ltMessage, "OndaGetErrorStr"),
        Entry(ltMessage, "Freeing global objects"),
        Entry(ltEnterMethod, "OndaExit"),
        Flow(pfEnterMethod, "OndaExit"),
        Entry(ltLeaveMethod, "OndaExit"),
        Flow(pfLeaveMethod, "OndaExit"),
    };
    EXPECT_EQ(FSeen, LExpected);
    EXPECT_TRUE(FCustomData);
    for (TSiColor LC : FColours) EXPECT_EQ(LC, 0x008000);
}

TEST_F(LinkLogTest, BoxesAreLoggedWithTheirPrefix) {
    testing::TFakePlatform LPlatform;
    TLink LLink(LPlatform.Services());
    LLink.Load();
    FSeen.clear();
    const std::wstring LPath = L"C:\\Link\\DeRuz64.dll", LVersion = L"1.2.3.4";
    const TUserMessages LMessages(LPlatform.Boxes, LPath, LVersion);
    LMessages.ErrMsg(L"boom");
    LMessages.Msg(L"Gr\u00fc\u00dfe");
    EXPECT_EQ(FSeen, (std::vector<std::string>{Entry(ltMessage, "ErrMsg: boom"),
                                               Entry(ltMessage,
                                                     "Msg: Gr\xc3\xbc\xc3\x9f"
                                                     "e")}));
}

}  // namespace
}  // namespace deruz::link
