// The logger core and the session basics: connections and enabling, packet dispatch with
// its filter and events, errors that never reach the caller, the session manager with its
// configuration, and the default instances.
#include "logging/core/logger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "logging/config/configuration.h"
#include "logging/core/session.h"
#include "logging/core/si_auto.h"
#include "logging/protocols/protocol.h"
#include "logging/system/system_info.h"
#include "tests/logging/recording_protocol.h"

namespace deruz::logging {
namespace {

// What the recording protocols of all tests saw, in order.
std::vector<std::string>& Journal() {
    static std::vector<std::string> LJournal;
    return LJournal;
}

// A protocol that records its calls; option "fail" makes its connect fail.
class TCoreRecordingProtocol final : public TSiProtocol {
  public:
    std::string GetName() const override { return "corerec"; }

  protected:
    bool IsValidOption(const std::string& AKey) const override {
        return AKey == "fail" || TSiProtocol::IsValidOption(AKey);
    }
    void LoadOptions() override {
        TSiProtocol::LoadOptions();
        FFail = GetBooleanOption("fail", false);
    }
    void InternalConnect() override {
        Journal().push_back(Caption() + ":connect");
        if (FFail) throw ESiError("cannot connect");
    }
    void InternalDisconnect() override { Journal().push_back(Caption() + ":disconnect"); }
    void InternalWritePacket(TSiPacket& APacket) override {
        std::string LText = Caption() + ":write:";
        if (APacket.GetPacketType() == ptLogEntry) {
            LText += static_cast<TSiLogEntry&>(APacket).Title;
        } else if (APacket.GetPacketType() == ptProcessFlow) {
            LText += "flow:" + static_cast<TSiProcessFlow&>(APacket).Title;
        } else if (APacket.GetPacketType() == ptWatch) {
            const auto& LW = static_cast<TSiWatch&>(APacket);
            LText += "watch:" + LW.Name + "=" + LW.Value;
        }
        Journal().push_back(LText);
    }
    void InternalDispatch(TSiProtocolCommand& ACommand) override {
        Journal().push_back(Caption() + ":dispatch:" + std::to_string(ACommand.Action()));
    }

  private:
    bool FFail = false;
};

class LoggerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        TSiProtocolFactory::RegisterProtocol(
            "corerec", [] { return SiMakeProtocol<TCoreRecordingProtocol>(); });
    }
    LoggerTest() {
        Journal().clear();
        FLogger.SetOnError(
            [this](TSiLogger&, const std::exception& AE) { FErrors.push_back(AE.what()); });
    }
    TSiLogger FLogger{"app.exe"};
    std::vector<std::string> FErrors;
};

TEST_F(LoggerTest, NewCoreDefaults) {
    TSiLogger LCore;
    EXPECT_FALSE(LCore.Enabled());
    EXPECT_EQ(LCore.Level(), lvDebug);
    EXPECT_EQ(LCore.DefaultLevel(), lvMessage);
    EXPECT_EQ(LCore.Connections(), "");
    EXPECT_EQ(LCore.Resolution(), crStandard);
    EXPECT_EQ(LCore.HostName(), SiGetComputerName());
    EXPECT_EQ(TSiLogger::Version(), "3.3.2.49");
}

TEST_F(LoggerTest, ConnectionsConnectOnlyWhileEnabled) {
    FLogger.SetConnections("corerec()");
    EXPECT_EQ(FLogger.ProtocolCount(), 1u);
    EXPECT_TRUE(Journal().empty());
    FLogger.SetEnabled(true);
    FLogger.SetEnabled(true);
    EXPECT_EQ(Journal(), (std::vector<std::string>{"corerec:connect"}));
    FLogger.SetEnabled(false);
    EXPECT_EQ(Journal().back(), "corerec:disconnect");
    EXPECT_EQ(FLogger.ProtocolCount(), 1u);  // disabling keeps the protocols

    // Replacing the connections while enabled disconnects the old and connects the new.
    FLogger.SetEnabled(true);
    Journal().clear();
    FLogger.SetConnections("corerec(caption=b)");
    EXPECT_EQ(Journal(), (std::vector<std::string>{"corerec:disconnect", "b:connect"}));
    EXPECT_EQ(FLogger.Connections(), "corerec(caption=b)");
}

TEST_F(LoggerTest, InvalidConnectionsLeaveTheCoreWithout) {
    FLogger.SetConnections("corerec()");
    for (const char* LBad : {"nosuch()", "corerec(foo=1)", "corerec(", "corerec(), nosuch()"}) {
        SCOPED_TRACE(LBad);
        EXPECT_THROW(FLogger.SetConnections(LBad), ESiInvalidConnectionsError);
        EXPECT_EQ(FLogger.Connections(), "");
        EXPECT_EQ(FLogger.ProtocolCount(), 0u);
        EXPECT_FALSE(FLogger.TryConnections(LBad));
    }
    try {
        FLogger.SetConnections("nosuch()");
    } catch (const ESiInvalidConnectionsError& LE) {
        EXPECT_STREQ(LE.what(), "Protocol \"nosuch\" not found");
    }
    EXPECT_FALSE(FLogger.TryConnections(""));
    EXPECT_TRUE(FLogger.TryConnections("corerec()"));
}

TEST_F(LoggerTest, PacketsReachEveryProtocolAndErrorsOnlyTheErrorEvent) {
    FLogger.SetConnections("corerec(caption=a, fail=true), corerec(caption=b)");
    FLogger.SetEnabled(true);
    ASSERT_EQ(FErrors.size(), 1u);  // a's connect failed, b still connected
    EXPECT_EQ(FErrors[0], "cannot connect");
    TSiSession* LSession = FLogger.AddSession("S");
    Journal().clear();
    LSession->LogMessage("hello");
    EXPECT_EQ(Journal(), (std::vector<std::string>{"b:write:hello"}));
}

TEST_F(LoggerTest, FilterCancelStopsThePacketAndItsEvent) {
    FLogger.SetConnections("corerec()");
    FLogger.SetEnabled(true);
    int LLogEntries = 0;
    FLogger.SetOnLogEntry([&](TSiLogger&, TSiLogEntry& AE) {
        ++LLogEntries;
        EXPECT_EQ(AE.AppName, "app.exe");
        EXPECT_EQ(AE.SessionName, "S");
    });
    FLogger.SetOnFilter([](TSiLogger&, TSiPacket& AP, bool& ACancel) {
        ACancel = static_cast<TSiLogEntry&>(AP).Title == "secret";
    });
    TSiSession* LSession = FLogger.AddSession("S");
    Journal().clear();
    LSession->LogMessage("secret");
    LSession->LogMessage("public");
    EXPECT_EQ(Journal(), (std::vector<std::string>{"corerec:write:public"}));
    EXPECT_EQ(LLogEntries, 1);
}

// The filter handler runs outside the core lock: it may wait for another thread that logs.
TEST_F(LoggerTest, FilterHandlerRunsOutsideTheCoreLock) {
    FLogger.SetConnections("corerec()");
    FLogger.SetEnabled(true);
    TSiSession* LSession = FLogger.AddSession("S");
    FLogger.SetOnFilter([&](TSiLogger&, TSiPacket& AP, bool&) {
        if (static_cast<TSiLogEntry&>(AP).Title == "outer") {
            std::thread([&] { LSession->LogMessage("inner"); }).join();
        }
    });
    auto LLogged = std::async(std::launch::async, [&] { LSession->LogMessage("outer"); });
    if (LLogged.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        std::fprintf(stderr, "logging from the filter handler's helper thread deadlocked\n");
        std::abort();
    }
    EXPECT_EQ(Journal(), (std::vector<std::string>{"corerec:connect", "corerec:write:inner",
                                                   "corerec:write:outer"}));
}

TEST_F(LoggerTest, DispatchByCaption) {
    FLogger.SetConnections("corerec(caption=One)");
    FLogger.SetEnabled(true);
    FLogger.Dispatch("ONE", 7, nullptr);
    EXPECT_EQ(Journal().back(), "One:dispatch:7");
    FLogger.Dispatch("two", 1, nullptr);  // raises nothing
    EXPECT_EQ(FErrors, (std::vector<std::string>{"No protocol found with the specified caption"}));
}

// What the protocols dropped, summed, or for one caption.
TEST_F(LoggerTest, DroppedPacketsOfTheProtocolsInForce) {
    FLogger.SetConnections(
        "corerec(caption=Full, backlog.enabled=true, backlog.queue=1), corerec(caption=Other)");
    FLogger.SetEnabled(true);
    TSiSession* LSession = FLogger.AddSession("S");
    for (int LI = 0; LI < 100; ++LI) LSession->LogDebug("entry %d", {LI});
    const std::uint64_t LDropped = FLogger.DroppedPackets("full");
    EXPECT_GT(LDropped, 50u);
    EXPECT_EQ(FLogger.DroppedPackets(), LDropped);
    EXPECT_EQ(FLogger.DroppedPackets("Other"), 0u);
    EXPECT_EQ(FLogger.DroppedPackets("none"), 0u);
}

TEST_F(LoggerTest, StoredSessionsAreFoundWithoutRegardToCase) {
    TSiSession* LFirst = FLogger.AddSession("Foo");
    TSiSession* LSecond = FLogger.AddSession("foo");
    TSiSession* LHidden = FLogger.AddSession("Bar", false);
    EXPECT_NE(LFirst, LSecond);
    EXPECT_EQ(FLogger.GetSession("FOO"), LSecond);
    EXPECT_EQ(FLogger.GetSession("bar"), nullptr);
    EXPECT_TRUE(LSecond->IsStored());
    EXPECT_FALSE(LHidden->IsStored());
    FLogger.DeleteSession(LSecond);
    EXPECT_EQ(FLogger.GetSession("foo"), nullptr);  // first was displaced from the table
}

TEST(SessionConstruction, NeedsAParent) {
    try {
        TSiSession LSession(nullptr, "x");
        FAIL() << "no error";
    } catch (const ESiError& LE) {
        EXPECT_STREQ(LE.what(), "AParent argument is not assigned");
    }
}

// A configuration file in a temporary folder.
std::string WriteConfig(const std::string& AName, const std::string& AText) {
    std::string LPath = ::testing::TempDir() + AName;
    std::ofstream(LPath, std::ios::binary) << AText;
    return LPath;
}

TEST_F(LoggerTest, ConfigurationDisablesBeforeApplyingNewConnections) {
    FLogger.SetConnections("corerec(caption=old)");
    FLogger.SetEnabled(true);
    Journal().clear();
    FLogger.LoadConfiguration(
        WriteConfig("disable.sic",
                    "appname=Other\r\nconnections=corerec(caption=new)\r\nenabled=false\r\n"
                    "level=warning\r\ndefaultlevel=error\r\n"));
    EXPECT_FALSE(FLogger.Enabled());
    EXPECT_EQ(Journal(), (std::vector<std::string>{"old:disconnect"}));  // new never connected
    EXPECT_EQ(FLogger.Connections(), "corerec(caption=new)");
    EXPECT_EQ(FLogger.Level(), lvWarning);
    EXPECT_EQ(FLogger.DefaultLevel(), lvError);
    EXPECT_EQ(FLogger.AppName(), "Other");
    EXPECT_TRUE(FErrors.empty());
}

TEST_F(LoggerTest, ConfigurationErrorsGoToTheErrorEvent) {
    FLogger.LoadConfiguration(::testing::TempDir() + "missing.sic");
    FLogger.LoadConnections(WriteConfig("noconn.sic", "level=debug\r\n"));
    FLogger.LoadConnections(WriteConfig("bad.sic", "connections=nosuch()\r\n"));
    ASSERT_EQ(FErrors.size(), 3u);
    EXPECT_EQ(FErrors[1], "A connections string doesn't exist in the supplied file");
    EXPECT_EQ(FErrors[2], "Protocol \"nosuch\" not found");
    EXPECT_FALSE(FLogger.Enabled());
    FLogger.LoadConnections(WriteConfig("good.sic", "connections=corerec()\r\n"));
    EXPECT_TRUE(FLogger.Enabled());
    EXPECT_EQ(Journal(), (std::vector<std::string>{"corerec:connect"}));
}

TEST_F(LoggerTest, SessionSettingsFromConfiguration) {
    TSiSession* LApp = FLogger.AddSession("my.app");
    FLogger.LoadConfiguration(
        WriteConfig("sessions.sic",
                    "session.my.app.level=error\r\nsession.my.app.color=0x00FF00\r\n"
                    "session.level=fatal\r\nsession.b.active=false\r\n"
                    "sessiondefaults.level=warning\r\nsessiondefaults.color=$0000FF\r\n"));
    EXPECT_EQ(LApp->Level(), lvError);
    EXPECT_EQ(LApp->Color(), 0x00FF00);
    EXPECT_TRUE(LApp->Active());

    // New sessions start from the new defaults, then their own settings.
    TSiSession* LOther = FLogger.AddSession("other");
    EXPECT_EQ(LOther->Level(), lvWarning);
    EXPECT_EQ(LOther->Color(), 0xFF0000);
    TSiSession* LB = FLogger.AddSession("B");
    EXPECT_FALSE(LB->Active());
    EXPECT_EQ(LB->Level(), lvWarning);

    // Renaming a stored session re-keys it and applies the new name's settings.
    LOther->SetName("my.app");
    EXPECT_EQ(FLogger.GetSession("other"), nullptr);
    EXPECT_EQ(FLogger.GetSession("MY.APP"), LOther);
    EXPECT_EQ(LOther->Level(), lvError);
    TSiSession* LLoose = FLogger.AddSession("loose", false);
    LLoose->SetName("B");
    EXPECT_TRUE(LLoose->Active());
    EXPECT_EQ(FLogger.GetSession("B"), LB);
}

TEST_F(LoggerTest, LevelTestsDecideWhatIsSent) {
    FLogger.SetConnections("corerec()");
    TSiSession* LS = FLogger.AddSession("S");
    LS->LogMessage("while disabled");
    EXPECT_TRUE(LS->TrackMethod("m") == nullptr);
    FLogger.SetEnabled(true);
    Journal().clear();
    LS->SetLevel(lvWarning);
    LS->LogMessage("m");
    LS->LogWarning("w");
    LS->LogInternalError("i");
    FLogger.SetLevel(lvFatal);
    LS->LogError("e");
    LS->LogFatal("f");
    LS->SetActive(false);
    LS->LogFatal("inactive");
    EXPECT_EQ(Journal(),
              (std::vector<std::string>{"corerec:write:w", "corerec:write:i", "corerec:write:f"}));
}

TEST_F(LoggerTest, TrackMethodEntersAndLeaves) {
    FLogger.SetConnections("corerec()");
    FLogger.SetEnabled(true);
    TSiSession* LS = FLogger.AddSession("S");
    Journal().clear();
    {
        auto LTrack = LS->TrackMethod("OxDde32 loaded");
        // A copy shares the tracker: it must not log a second leave when it goes.
        auto LCopy = LTrack;  // NOLINT(performance-unnecessary-copy-initialization)
        EXPECT_EQ(Journal().size(), 2u);
    }
    EXPECT_EQ(Journal(), (std::vector<std::string>{
                             "corerec:write:OxDde32 loaded", "corerec:write:flow:OxDde32 loaded",
                             "corerec:write:OxDde32 loaded", "corerec:write:flow:OxDde32 loaded"}));
    // A leave is not logged once logging was switched off meanwhile.
    Journal().clear();
    {
        auto LTrack = LS->TrackMethod("m");
        FLogger.SetEnabled(false);
    }
    EXPECT_EQ(Journal().size(), 3u);  // enter entry, enter flow, disconnect
}

TEST_F(LoggerTest, EntryColours) {
    FLogger.SetConnections("corerec()");
    FLogger.SetEnabled(true);
    std::vector<TSiColor> LColours;
    FLogger.SetOnLogEntry([&](TSiLogger&, TSiLogEntry& AE) { LColours.push_back(AE.Color); });
    TSiSession* LS = FLogger.AddSession("S");
    for (TSiColor LC : {clWindow, TSiColor{0x8000}, static_cast<TSiColor>(0x12345678),
                        static_cast<TSiColor>(0xFF000008)}) {
        LS->SetColor(LC);
        LS->LogMessage("c");
    }
    EXPECT_EQ(LColours,
              (std::vector<TSiColor>{clWindow, 0x008000, 0x345678,
                                     static_cast<TSiColor>(SiGetSysColor(8) & 0xFFFFFF)}));
}

// An error handler that logs, run on an asynchronous protocol's worker while another thread
// replaces the connections of the enabled core: that thread holds the core's lock and waits
// for the worker to end, so the handler's entry must not wait for the lock. It is dropped;
// the replacement completes.
TEST(LoggerWorkerErrors, HandlerThatLogsDoesNotBlockReplacingConnections) {
    const auto LRecorder = std::make_shared<testing::TRecorder>();
    TSiProtocolFactory::RegisterProtocol(
        "asyncrec", [LRecorder] { return SiMakeProtocol<testing::TRecordingProtocol>(LRecorder); });
    TSiLogger LLogger("app");
    TSiSession* LSession = LLogger.AddSession("S");
    std::atomic<int> LErrors{0};
    LLogger.SetOnError([&](TSiLogger&, const std::exception&) {
        ++LErrors;
        LSession->LogMessage("error seen");
    });
    LLogger.SetConnections("asyncrec(async.enabled=true)");
    LLogger.SetEnabled(true);
    LSession->LogMessage("before");
    LRecorder->FailDisconnect = true;

    auto LReplaced = std::async(std::launch::async, [&] { LLogger.SetConnections(""); });
    if (LReplaced.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        // A deadlock cannot be undone from here; end the run loudly rather than hang it.
        std::fprintf(stderr, "SetConnections deadlocked with the worker's error handler\n");
        std::abort();
    }
    LReplaced.get();
    EXPECT_EQ(LLogger.ProtocolCount(), 0u);
    EXPECT_EQ(LErrors, 1);
    const std::vector<std::string> LCalls = LRecorder->Calls();
    EXPECT_EQ(LCalls.back(), "disconnect");
    EXPECT_NE(std::find(LCalls.begin(), LCalls.end(), "write:before"), LCalls.end());
}

// A session reuses a sent entry only when nobody holds it: entries kept by a handler stay as
// they were sent, while the next entries carry their own fields.
TEST_F(LoggerTest, SentEntriesStayAsSentWhileHeld) {
    FLogger.SetConnections("corerec()");
    FLogger.SetEnabled(true);
    std::vector<TSiRef<TSiLogEntry>> LKept;
    FLogger.SetOnLogEntry([&](TSiLogger&, TSiLogEntry& AE) {
        if (AE.Title != "not kept") LKept.push_back(TSiRef<TSiLogEntry>::Share(&AE));
    });
    TSiSession* LS = FLogger.AddSession("S");
    LS->LogMessage("not kept");
    LS->LogWarning("w %d", {1});
    LS->LogMessage("not kept");
    LS->EnterMethod("m");
    ASSERT_EQ(LKept.size(), 2u);
    EXPECT_NE(LKept[0].Get(), LKept[1].Get());
    EXPECT_EQ(LKept[0]->Title, "w 1");
    EXPECT_EQ(LKept[0]->LogEntryType, ltWarning);
    EXPECT_EQ(LKept[0]->Level, lvWarning);
    EXPECT_EQ(LKept[1]->Title, "m");
    EXPECT_EQ(LKept[1]->LogEntryType, ltEnterMethod);
    EXPECT_EQ(LKept[1]->Level, lvMessage);
    EXPECT_EQ(LKept[1]->SessionName, "S");
    EXPECT_EQ(Journal(), (std::vector<std::string>{"corerec:connect", "corerec:write:not kept",
                                                   "corerec:write:w 1", "corerec:write:not kept",
                                                   "corerec:write:m", "corerec:write:flow:m"}));
}

TEST(DefaultInstances, ExistWithTheirDefaults) {
    EXPECT_FALSE(Si->Enabled());
    EXPECT_EQ(SiMain->Name(), "Main");
    EXPECT_EQ(SiMain->Parent(), &*Si);
    EXPECT_EQ(Si->GetSession("main"), &*SiMain);
    EXPECT_EQ(Si->AppName(), SiGetExecutableName());
    EXPECT_NE(Si->AppName().find("logging_tests"), std::string::npos);
}

}  // namespace
}  // namespace deruz::logging
