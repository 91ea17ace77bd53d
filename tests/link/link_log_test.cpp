// What the link writes to its log: the load steps, the entry of each export and the unload.
#include "link/link_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/link.h"
#include "link/user_messages.h"
#include "logging/core/si_auto.h"
#include "tests/link/fakes.h"

namespace deruz::link {
namespace {

using namespace deruz::logging;

// Every entry and flow of the process logger, as "session|kind|title".
class LinkLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Si->SetOnLogEntry([this](TSiLogger&, TSiLogEntry& e) {
            seen.push_back(e.SessionName + "|" + std::to_string(e.LogEntryType) + "|" + e.Title);
            if (e.SessionName == "DeRuz64") colours.push_back(e.Color);
            if (e.Title == "Custom Data") customData = e.HasData() && e.ViewerId == viInspector;
        });
        Si->SetOnProcessFlow([this](TSiLogger&, TSiProcessFlow& f) {
            seen.push_back("flow|" + std::to_string(f.ProcessFlowType) + "|" + f.Title);
        });
    }
    void TearDown() override {
        Si->SetOnLogEntry(nullptr);
        Si->SetOnProcessFlow(nullptr);
    }
    static std::string Entry(TSiLogEntryType type, const std::string& title,
                             const std::string& session = "DeRuz64") {
        return session + "|" + std::to_string(type) + "|" + title;
    }
    static std::string Flow(TSiProcessFlowType type, const std::string& title) {
        return "flow|" + std::to_string(type) + "|" + title;
    }
    std::vector<std::string> seen;
    std::vector<TSiColor> colours;
    bool customData = false;
};

TEST_F(LinkLogTest, LoadExportsAndUnloadAreLogged) {
    testing::TFakePlatform platform;
    TLink link(platform.Services());
    link.Load();
    EXPECT_TRUE(Si->Enabled());
    ASSERT_NE(linklog::SiLog(), nullptr);
    EXPECT_EQ(linklog::SiLog()->Name(), "DeRuz64");
    EXPECT_FALSE(linklog::SiLog()->IsStored());
    link.OndaGetVersion();
    link.OndaCommand("x");
    link.OndaGetErrorStr();
    link.Unload(true);

    const std::vector<std::string> expected = {
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
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(customData);
    for (TSiColor c : colours) EXPECT_EQ(c, 0x008000);
}

TEST_F(LinkLogTest, BoxesAreLoggedWithTheirPrefix) {
    testing::TFakePlatform platform;
    TLink link(platform.Services());
    link.Load();
    seen.clear();
    const std::wstring path = L"C:\\Link\\DeRuz64.dll", version = L"1.2.3.4";
    const TUserMessages messages(platform.Boxes, path, version);
    messages.ErrMsg(L"boom");
    messages.Msg(L"Gr\u00fc\u00dfe");
    EXPECT_EQ(seen, (std::vector<std::string>{Entry(ltMessage, "ErrMsg: boom"),
                                              Entry(ltMessage,
                                                    "Msg: Gr\xc3\xbc\xc3\x9f"
                                                    "e")}));
}

}  // namespace
}  // namespace deruz::link
