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
    static std::vector<std::string> journal;
    return journal;
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
        std::string text = Caption() + ":write:";
        if (APacket.GetPacketType() == ptLogEntry) {
            text += static_cast<TSiLogEntry&>(APacket).Title;
        } else if (APacket.GetPacketType() == ptProcessFlow) {
            text += "flow:" + static_cast<TSiProcessFlow&>(APacket).Title;
        } else if (APacket.GetPacketType() == ptWatch) {
            const auto& w = static_cast<TSiWatch&>(APacket);
            text += "watch:" + w.Name + "=" + w.Value;
        }
        Journal().push_back(text);
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
        logger.SetOnError(
            [this](TSiLogger&, const std::exception& e) { errors.push_back(e.what()); });
    }
    TSiLogger logger{"app.exe"};
    std::vector<std::string> errors;
};

TEST_F(LoggerTest, NewCoreDefaults) {
    TSiLogger core;
    EXPECT_FALSE(core.Enabled());
    EXPECT_EQ(core.Level(), lvDebug);
    EXPECT_EQ(core.DefaultLevel(), lvMessage);
    EXPECT_EQ(core.Connections(), "");
    EXPECT_EQ(core.Resolution(), crStandard);
    EXPECT_EQ(core.HostName(), SiGetComputerName());
    EXPECT_EQ(TSiLogger::Version(), "3.3.2.49");
}

TEST_F(LoggerTest, ConnectionsConnectOnlyWhileEnabled) {
    logger.SetConnections("corerec()");
    EXPECT_EQ(logger.ProtocolCount(), 1u);
    EXPECT_TRUE(Journal().empty());
    logger.SetEnabled(true);
    logger.SetEnabled(true);
    EXPECT_EQ(Journal(), (std::vector<std::string>{"corerec:connect"}));
    logger.SetEnabled(false);
    EXPECT_EQ(Journal().back(), "corerec:disconnect");
    EXPECT_EQ(logger.ProtocolCount(), 1u);  // disabling keeps the protocols

    // Replacing the connections while enabled disconnects the old and connects the new.
    logger.SetEnabled(true);
    Journal().clear();
    logger.SetConnections("corerec(caption=b)");
    EXPECT_EQ(Journal(), (std::vector<std::string>{"corerec:disconnect", "b:connect"}));
    EXPECT_EQ(logger.Connections(), "corerec(caption=b)");
}

TEST_F(LoggerTest, InvalidConnectionsLeaveTheCoreWithout) {
    logger.SetConnections("corerec()");
    for (const char* bad : {"nosuch()", "corerec(foo=1)", "corerec(", "corerec(), nosuch()"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(logger.SetConnections(bad), ESiInvalidConnectionsError);
        EXPECT_EQ(logger.Connections(), "");
        EXPECT_EQ(logger.ProtocolCount(), 0u);
        EXPECT_FALSE(logger.TryConnections(bad));
    }
    try {
        logger.SetConnections("nosuch()");
    } catch (const ESiInvalidConnectionsError& e) {
        EXPECT_STREQ(e.what(), "Protocol \"nosuch\" not found");
    }
    EXPECT_FALSE(logger.TryConnections(""));
    EXPECT_TRUE(logger.TryConnections("corerec()"));
}

TEST_F(LoggerTest, PacketsReachEveryProtocolAndErrorsOnlyTheErrorEvent) {
    logger.SetConnections("corerec(caption=a, fail=true), corerec(caption=b)");
    logger.SetEnabled(true);
    ASSERT_EQ(errors.size(), 1u);  // a's connect failed, b still connected
    EXPECT_EQ(errors[0], "cannot connect");
    TSiSession* session = logger.AddSession("S");
    Journal().clear();
    session->LogMessage("hello");
    EXPECT_EQ(Journal(), (std::vector<std::string>{"b:write:hello"}));
}

TEST_F(LoggerTest, FilterCancelStopsThePacketAndItsEvent) {
    logger.SetConnections("corerec()");
    logger.SetEnabled(true);
    int logEntries = 0;
    logger.SetOnLogEntry([&](TSiLogger&, TSiLogEntry& e) {
        ++logEntries;
        EXPECT_EQ(e.AppName, "app.exe");
        EXPECT_EQ(e.SessionName, "S");
    });
    logger.SetOnFilter([](TSiLogger&, TSiPacket& p, bool& cancel) {
        cancel = static_cast<TSiLogEntry&>(p).Title == "secret";
    });
    TSiSession* session = logger.AddSession("S");
    Journal().clear();
    session->LogMessage("secret");
    session->LogMessage("public");
    EXPECT_EQ(Journal(), (std::vector<std::string>{"corerec:write:public"}));
    EXPECT_EQ(logEntries, 1);
}

// The filter handler runs outside the core lock: it may wait for another thread that logs.
TEST_F(LoggerTest, FilterHandlerRunsOutsideTheCoreLock) {
    logger.SetConnections("corerec()");
    logger.SetEnabled(true);
    TSiSession* session = logger.AddSession("S");
    logger.SetOnFilter([&](TSiLogger&, TSiPacket& p, bool&) {
        if (static_cast<TSiLogEntry&>(p).Title == "outer") {
            std::thread([&] { session->LogMessage("inner"); }).join();
        }
    });
    auto logged = std::async(std::launch::async, [&] { session->LogMessage("outer"); });
    if (logged.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        std::fprintf(stderr, "logging from the filter handler's helper thread deadlocked\n");
        std::abort();
    }
    EXPECT_EQ(Journal(), (std::vector<std::string>{"corerec:connect", "corerec:write:inner",
                                                   "corerec:write:outer"}));
}

TEST_F(LoggerTest, DispatchByCaption) {
    logger.SetConnections("corerec(caption=One)");
    logger.SetEnabled(true);
    logger.Dispatch("ONE", 7, nullptr);
    EXPECT_EQ(Journal().back(), "One:dispatch:7");
    logger.Dispatch("two", 1, nullptr);  // raises nothing
    EXPECT_EQ(errors, (std::vector<std::string>{"No protocol found with the specified caption"}));
}

// What the protocols dropped, summed, or for one caption.
TEST_F(LoggerTest, DroppedPacketsOfTheProtocolsInForce) {
    logger.SetConnections(
        "corerec(caption=Full, backlog.enabled=true, backlog.queue=1), corerec(caption=Other)");
    logger.SetEnabled(true);
    TSiSession* session = logger.AddSession("S");
    for (int i = 0; i < 100; ++i) session->LogDebug("entry %d", {i});
    const std::uint64_t dropped = logger.DroppedPackets("full");
    EXPECT_GT(dropped, 50u);
    EXPECT_EQ(logger.DroppedPackets(), dropped);
    EXPECT_EQ(logger.DroppedPackets("Other"), 0u);
    EXPECT_EQ(logger.DroppedPackets("none"), 0u);
}

TEST_F(LoggerTest, StoredSessionsAreFoundWithoutRegardToCase) {
    TSiSession* first = logger.AddSession("Foo");
    TSiSession* second = logger.AddSession("foo");
    TSiSession* hidden = logger.AddSession("Bar", false);
    EXPECT_NE(first, second);
    EXPECT_EQ(logger.GetSession("FOO"), second);
    EXPECT_EQ(logger.GetSession("bar"), nullptr);
    EXPECT_TRUE(second->IsStored());
    EXPECT_FALSE(hidden->IsStored());
    logger.DeleteSession(second);
    EXPECT_EQ(logger.GetSession("foo"), nullptr);  // first was displaced from the table
}

TEST(SessionConstruction, NeedsAParent) {
    try {
        TSiSession session(nullptr, "x");
        FAIL() << "no error";
    } catch (const ESiError& e) {
        EXPECT_STREQ(e.what(), "AParent argument is not assigned");
    }
}

// A configuration file in a temporary folder.
std::string WriteConfig(const std::string& name, const std::string& text) {
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

TEST_F(LoggerTest, ConfigurationDisablesBeforeApplyingNewConnections) {
    logger.SetConnections("corerec(caption=old)");
    logger.SetEnabled(true);
    Journal().clear();
    logger.LoadConfiguration(
        WriteConfig("disable.sic",
                    "appname=Other\r\nconnections=corerec(caption=new)\r\nenabled=false\r\n"
                    "level=warning\r\ndefaultlevel=error\r\n"));
    EXPECT_FALSE(logger.Enabled());
    EXPECT_EQ(Journal(), (std::vector<std::string>{"old:disconnect"}));  // new never connected
    EXPECT_EQ(logger.Connections(), "corerec(caption=new)");
    EXPECT_EQ(logger.Level(), lvWarning);
    EXPECT_EQ(logger.DefaultLevel(), lvError);
    EXPECT_EQ(logger.AppName(), "Other");
    EXPECT_TRUE(errors.empty());
}

TEST_F(LoggerTest, ConfigurationErrorsGoToTheErrorEvent) {
    logger.LoadConfiguration(::testing::TempDir() + "missing.sic");
    logger.LoadConnections(WriteConfig("noconn.sic", "level=debug\r\n"));
    logger.LoadConnections(WriteConfig("bad.sic", "connections=nosuch()\r\n"));
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[1], "A connections string doesn't exist in the supplied file");
    EXPECT_EQ(errors[2], "Protocol \"nosuch\" not found");
    EXPECT_FALSE(logger.Enabled());
    logger.LoadConnections(WriteConfig("good.sic", "connections=corerec()\r\n"));
    EXPECT_TRUE(logger.Enabled());
    EXPECT_EQ(Journal(), (std::vector<std::string>{"corerec:connect"}));
}

TEST_F(LoggerTest, SessionSettingsFromConfiguration) {
    TSiSession* app = logger.AddSession("my.app");
    logger.LoadConfiguration(
        WriteConfig("sessions.sic",
                    "session.my.app.level=error\r\nsession.my.app.color=0x00FF00\r\n"
                    "session.level=fatal\r\nsession.b.active=false\r\n"
                    "sessiondefaults.level=warning\r\nsessiondefaults.color=$0000FF\r\n"));
    EXPECT_EQ(app->Level(), lvError);
    EXPECT_EQ(app->Color(), 0x00FF00);
    EXPECT_TRUE(app->Active());

    // New sessions start from the new defaults, then their own settings.
    TSiSession* other = logger.AddSession("other");
    EXPECT_EQ(other->Level(), lvWarning);
    EXPECT_EQ(other->Color(), 0xFF0000);
    TSiSession* b = logger.AddSession("B");
    EXPECT_FALSE(b->Active());
    EXPECT_EQ(b->Level(), lvWarning);

    // Renaming a stored session re-keys it and applies the new name's settings.
    other->SetName("my.app");
    EXPECT_EQ(logger.GetSession("other"), nullptr);
    EXPECT_EQ(logger.GetSession("MY.APP"), other);
    EXPECT_EQ(other->Level(), lvError);
    TSiSession* loose = logger.AddSession("loose", false);
    loose->SetName("B");
    EXPECT_TRUE(loose->Active());
    EXPECT_EQ(logger.GetSession("B"), b);
}

TEST_F(LoggerTest, LevelTestsDecideWhatIsSent) {
    logger.SetConnections("corerec()");
    TSiSession* s = logger.AddSession("S");
    s->LogMessage("while disabled");
    EXPECT_TRUE(s->TrackMethod("m") == nullptr);
    logger.SetEnabled(true);
    Journal().clear();
    s->SetLevel(lvWarning);
    s->LogMessage("m");
    s->LogWarning("w");
    s->LogInternalError("i");
    logger.SetLevel(lvFatal);
    s->LogError("e");
    s->LogFatal("f");
    s->SetActive(false);
    s->LogFatal("inactive");
    EXPECT_EQ(Journal(),
              (std::vector<std::string>{"corerec:write:w", "corerec:write:i", "corerec:write:f"}));
}

TEST_F(LoggerTest, TrackMethodEntersAndLeaves) {
    logger.SetConnections("corerec()");
    logger.SetEnabled(true);
    TSiSession* s = logger.AddSession("S");
    Journal().clear();
    {
        auto track = s->TrackMethod("OxDde32 loaded");
        auto copy = track;
        EXPECT_EQ(Journal().size(), 2u);
    }
    EXPECT_EQ(Journal(), (std::vector<std::string>{
                             "corerec:write:OxDde32 loaded", "corerec:write:flow:OxDde32 loaded",
                             "corerec:write:OxDde32 loaded", "corerec:write:flow:OxDde32 loaded"}));
    // A leave is not logged once logging was switched off meanwhile.
    Journal().clear();
    {
        auto track = s->TrackMethod("m");
        logger.SetEnabled(false);
    }
    EXPECT_EQ(Journal().size(), 3u);  // enter entry, enter flow, disconnect
}

TEST_F(LoggerTest, EntryColours) {
    logger.SetConnections("corerec()");
    logger.SetEnabled(true);
    std::vector<TSiColor> colours;
    logger.SetOnLogEntry([&](TSiLogger&, TSiLogEntry& e) { colours.push_back(e.Color); });
    TSiSession* s = logger.AddSession("S");
    for (TSiColor c : {clWindow, TSiColor{0x8000}, static_cast<TSiColor>(0x12345678),
                       static_cast<TSiColor>(0xFF000008)}) {
        s->SetColor(c);
        s->LogMessage("c");
    }
    EXPECT_EQ(colours, (std::vector<TSiColor>{clWindow, 0x008000, 0x345678,
                                              static_cast<TSiColor>(SiGetSysColor(8) & 0xFFFFFF)}));
}

// An error handler that logs, run on an asynchronous protocol's worker while another thread
// replaces the connections of the enabled core: that thread holds the core's lock and waits
// for the worker to end, so the handler's entry must not wait for the lock. It is dropped;
// the replacement completes.
TEST(LoggerWorkerErrors, HandlerThatLogsDoesNotBlockReplacingConnections) {
    const auto recorder = std::make_shared<testing::TRecorder>();
    TSiProtocolFactory::RegisterProtocol(
        "asyncrec", [recorder] { return SiMakeProtocol<testing::TRecordingProtocol>(recorder); });
    TSiLogger logger("app");
    TSiSession* session = logger.AddSession("S");
    std::atomic<int> errors{0};
    logger.SetOnError([&](TSiLogger&, const std::exception&) {
        ++errors;
        session->LogMessage("error seen");
    });
    logger.SetConnections("asyncrec(async.enabled=true)");
    logger.SetEnabled(true);
    session->LogMessage("before");
    recorder->FailDisconnect = true;

    auto replaced = std::async(std::launch::async, [&] { logger.SetConnections(""); });
    if (replaced.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        // A deadlock cannot be undone from here; end the run loudly rather than hang it.
        std::fprintf(stderr, "SetConnections deadlocked with the worker's error handler\n");
        std::abort();
    }
    replaced.get();
    EXPECT_EQ(logger.ProtocolCount(), 0u);
    EXPECT_EQ(errors, 1);
    const std::vector<std::string> calls = recorder->Calls();
    EXPECT_EQ(calls.back(), "disconnect");
    EXPECT_NE(std::find(calls.begin(), calls.end(), "write:before"), calls.end());
}

// A session reuses a sent entry only when nobody holds it: entries kept by a handler stay as
// they were sent, while the next entries carry their own fields.
TEST_F(LoggerTest, SentEntriesStayAsSentWhileHeld) {
    logger.SetConnections("corerec()");
    logger.SetEnabled(true);
    std::vector<TSiRef<TSiLogEntry>> kept;
    logger.SetOnLogEntry([&](TSiLogger&, TSiLogEntry& e) {
        if (e.Title != "not kept") kept.push_back(TSiRef<TSiLogEntry>::Share(&e));
    });
    TSiSession* s = logger.AddSession("S");
    s->LogMessage("not kept");
    s->LogWarning("w %d", {1});
    s->LogMessage("not kept");
    s->EnterMethod("m");
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_NE(kept[0].Get(), kept[1].Get());
    EXPECT_EQ(kept[0]->Title, "w 1");
    EXPECT_EQ(kept[0]->LogEntryType, ltWarning);
    EXPECT_EQ(kept[0]->Level, lvWarning);
    EXPECT_EQ(kept[1]->Title, "m");
    EXPECT_EQ(kept[1]->LogEntryType, ltEnterMethod);
    EXPECT_EQ(kept[1]->Level, lvMessage);
    EXPECT_EQ(kept[1]->SessionName, "S");
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
