// The logger core under several logging threads: the order of each thread's entries and that
// none is lost, through a synchronous and an asynchronous file protocol (the file read back
// with the packet reader), and the ways the log path shares state without locks: the session
// name carried over by reused entries, which a rename or an event handler must not leave stale.
// The ThreadSanitizer step runs this suite.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "logging/core/logger.h"
#include "logging/core/session.h"
#include "logging/protocols/protocol.h"
#include "logging/viewer/packet_reader.h"
#include "tests/logging/log_file_entries.h"
#include "tests/logging/temp_dir.h"

namespace deruz::logging {
namespace {

// What a protocol saw of each log entry: the session name and the title, in order.
struct TSeen {
    std::string SessionName;
    std::string Title;
};

std::mutex GSeenLock;
std::vector<TSeen> GSeen;

// Records the session name and title of every log entry written to it.
class TNameRecordingProtocol final : public TSiProtocol {
  public:
    std::string GetName() const override { return "namerec"; }

  protected:
    void InternalConnect() override {}
    void InternalDisconnect() override {}
    void InternalWritePacket(TSiPacket& APacket) override {
        if (APacket.GetPacketType() != ptLogEntry) return;
        const auto& LEntry = static_cast<const TSiLogEntry&>(APacket);
        std::lock_guard LGuard(GSeenLock);
        GSeen.push_back({LEntry.SessionName, LEntry.Title});
    }
};

class LoggerThreads : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        TSiProtocolFactory::RegisterProtocol(
            "namerec", [] { return SiMakeProtocol<TNameRecordingProtocol>(); });
    }
    LoggerThreads() {
        std::lock_guard LGuard(GSeenLock);
        GSeen.clear();
        FLogger.SetOnError([this](TSiLogger&, const std::exception& AError) {
            std::lock_guard LGuard(FErrorLock);
            FErrors.push_back(AError.what());
        });
    }
    std::vector<TSeen> Seen() {
        std::lock_guard LGuard(GSeenLock);
        return GSeen;
    }

    TSiLogger FLogger{"threads"};
    std::mutex FErrorLock;
    std::vector<std::string> FErrors;
};

// The log entries of a binary log file, decoded.
std::vector<TSeen> ReadEntries(const std::string& APath) {
    return SiLogFileEntries(APath, [](const TSiLogEntry& AEntry) {
        return TSeen{AEntry.SessionName, AEntry.Title};
    });
}

// Four threads log through a shared session and a session of their own, in turn; every
// entry must arrive once, in its thread's order, under the session it was sent through. With
// asynchronous throttled protocols plain and formatted entries take the queues of the threads
// (the smallest budget makes writers wait for room), and every seventh entry, one with data,
// takes the ordinary path past them: its thread's order must hold across both.
TEST_F(LoggerThreads, EveryThreadsEntriesArriveInOrderThroughSyncAndAsyncProtocols) {
    constexpr int LKThreads = 4;
    constexpr int LEntries = 3000;
    for (const char* LOptions :
         {"buffer=4", "async.enabled=true, async.queue=16", "async.enabled=true, async.queue=4"}) {
        SCOPED_TRACE(LOptions);
        testing::TTempDir LDir;
        const std::string LPath = LDir.File("threads.sil");
        FLogger.SetConnections("file(filename=\"" + LPath + "\", " + LOptions + ")");
        FLogger.SetEnabled(true);
        TSiSession* LShared = FLogger.AddSession("Shared");
        std::vector<TSiSession*> LOwn;
        for (int LThread = 0; LThread < LKThreads; ++LThread) {
            LOwn.push_back(FLogger.AddSession("Own" + std::to_string(LThread)));
        }
        std::atomic<bool> LGo{false};
        std::vector<std::thread> LThreads;
        for (int LThread = 0; LThread < LKThreads; ++LThread) {
            LThreads.emplace_back([&, LThread] {
                while (!LGo.load()) std::this_thread::yield();
                for (int LIndex = 0; LIndex < LEntries; ++LIndex) {
                    TSiSession* LSession = LIndex % 2 == 0 ? LShared : LOwn[LThread];
                    if (LIndex % 7 == 6) {
                        LSession->LogText(std::to_string(LThread) + " " + std::to_string(LIndex),
                                          "data");
                    } else {
                        LSession->LogMessage("%d %d", {LThread, LIndex});
                    }
                }
            });
        }
        LGo = true;
        for (std::thread& LThread : LThreads) LThread.join();
        FLogger.SetEnabled(false);  // flushes, and for the asynchronous one drains the queue

        std::vector<int> LNext(LKThreads, 0);
        for (const TSeen& LEntry : ReadEntries(LPath)) {
            int LThread = -1;
            int LIndex = -1;
            ASSERT_EQ(std::sscanf(LEntry.Title.c_str(), "%d %d", &LThread, &LIndex), 2)
                << LEntry.Title;
            ASSERT_TRUE(LThread >= 0 && LThread < LKThreads) << LEntry.Title;
            ASSERT_EQ(LIndex, LNext[LThread]) << "thread " << LThread << " out of order or lost";
            ++LNext[LThread];
            EXPECT_EQ(LEntry.SessionName,
                      LIndex % 2 == 0 ? std::string("Shared") : "Own" + std::to_string(LThread));
        }
        EXPECT_EQ(LNext, std::vector<int>(LKThreads, LEntries));
        FLogger.DeleteSession(LShared);
        for (TSiSession* LSession : LOwn) FLogger.DeleteSession(LSession);
        FLogger.SetConnections("");
    }
    EXPECT_TRUE(FErrors.empty()) << FErrors.front();
}

// Four threads log into a buffered file (small, so that full buffers are handed to the threads
// to be written after the core lock) while a fifth renames the application: entries are encoded
// before the lock with each thread's copy of the name, and must still carry the name in force
// when they were written, so that in file order the names never go back; none is lost and
// every thread's order holds.
TEST_F(LoggerThreads, EncodedEntriesCarryTheAppNameInForceWhenWritten) {
    constexpr int LKThreads = 4;
    constexpr int LEntries = 5000;
    testing::TTempDir LDir;
    const std::string LPath = LDir.File("names.sil");
    FLogger.SetAppName("app0");
    FLogger.SetConnections("file(filename=\"" + LPath + "\", buffer=1)");
    FLogger.SetEnabled(true);
    TSiSession* LSession = FLogger.AddSession("Shared");
    std::atomic<int> LDone{0};
    std::vector<std::thread> LThreads;
    for (int LThread = 0; LThread < LKThreads; ++LThread) {
        LThreads.emplace_back([&, LThread] {
            for (int LIndex = 0; LIndex < LEntries; ++LIndex) {
                LSession->LogMessage("%d %d", {LThread, LIndex});
            }
            ++LDone;
        });
    }
    int LRenames = 0;
    while (LDone.load() < LKThreads) {
        FLogger.SetAppName("app" + std::to_string(++LRenames));
        std::this_thread::yield();
    }
    for (std::thread& LThread : LThreads) LThread.join();
    FLogger.SetEnabled(false);

    std::ifstream LFile(LPath, std::ios::binary);
    const std::vector<std::uint8_t> LBytes{std::istreambuf_iterator<char>(LFile),
                                           std::istreambuf_iterator<char>()};
    ASSERT_GT(LBytes.size(), 4u);
    TSiBinaryPacketReader LReader(std::span<const std::uint8_t>(LBytes).subspan(4), 4);
    std::vector<int> LNext(LKThreads, 0);
    int LLastName = 0;
    while (!LReader.AtEnd()) {
        const TSiPacketPtr LPacket = LReader.ReadPacket();
        ASSERT_EQ(LPacket->GetPacketType(), ptLogEntry);
        const auto& LEntry = static_cast<const TSiLogEntry&>(*LPacket);
        int LThread = -1;
        int LIndex = -1;
        ASSERT_EQ(std::sscanf(LEntry.Title.c_str(), "%d %d", &LThread, &LIndex), 2);
        ASSERT_TRUE(LThread >= 0 && LThread < LKThreads) << LEntry.Title;
        ASSERT_EQ(LIndex, LNext[LThread]) << "thread " << LThread << " out of order or lost";
        ++LNext[LThread];
        int LName = -1;
        ASSERT_EQ(std::sscanf(LEntry.AppName.c_str(), "app%d", &LName), 1) << LEntry.AppName;
        ASSERT_GE(LName, LLastName) << "an entry carries a name replaced before it was written";
        ASSERT_LE(LName, LRenames);
        LLastName = LName;
    }
    EXPECT_EQ(LNext, std::vector<int>(LKThreads, LEntries));
    EXPECT_TRUE(FErrors.empty()) << FErrors.front();
}

// Every field of the log entries of a binary log file but the time, one line per entry.
std::vector<std::string> ReadEntryLines(const std::string& APath) {
    return SiLogFileEntries(APath, [](const TSiLogEntry& AEntry) {
        return std::to_string(AEntry.LogEntryType) + "/" + std::to_string(AEntry.ViewerId) + "/" +
               std::to_string(AEntry.Color) + "/" + std::to_string(AEntry.ThreadId) + "/" +
               AEntry.AppName + "/" + AEntry.HostName + "/" + AEntry.SessionName + "/" +
               AEntry.Title;
    });
}

// With every protocol asynchronous and throttled, plain and formatted entries are queued as
// their format and arguments and formatted on a worker: the file must hold the entries the
// synchronous path writes for the same calls, every kind of argument, a rename and a failing
// format included (an internal error "<Method>: <message>", or nothing below that error's
// level).
TEST_F(LoggerThreads, QueuedEntriesAreWrittenAsTheSynchronousPathWritesThem) {
    static const int LKStatic = 0;
    const auto LLog = [](TSiLogger& ALogger) {
        TSiSession* LA = ALogger.AddSession("A");
        TSiSession* LB = ALogger.AddSession("B");
        const std::string LLong(3000, 'x');
        LA->LogMessage("plain title");
        LA->LogMessage("%d|%u|%d|%s|%c|%.3f|%x|%s|%p",
                       {-5, 7u, std::int64_t{1} << 40, "text", 'c', 2.5, 255u, LLong, &LKStatic});
        LB->LogWarning("%s and %s", {std::string("a"), std::string_view("b")});
        LA->LogColored(0x123456, "colored %d", {1});
        LB->LogError("x=%d", {});
        LB->SetLevel(lvFatal);
        LB->LogFatal("%s", {1});
        LB->SetLevel(lvDebug);
        LA->SetName("A2");
        LA->LogDebug("after %s", {"rename"});
        LB->LogMessage("%d", {true});
        ALogger.DeleteSession(LA);
        ALogger.DeleteSession(LB);
    };
    std::vector<std::vector<std::string>> LFiles;
    for (const char* LOptions : {"buffer=4", "async.enabled=true"}) {
        testing::TTempDir LDir;
        const std::string LPath = LDir.File("same.sil");
        FLogger.SetConnections("file(filename=\"" + LPath + "\", " + LOptions + ")");
        FLogger.SetEnabled(true);
        LLog(FLogger);
        FLogger.SetEnabled(false);
        LFiles.push_back(ReadEntryLines(LPath));
        FLogger.SetConnections("");
    }
    EXPECT_EQ(LFiles[0].size(), 7u);
    EXPECT_EQ(LFiles[1], LFiles[0]);
}

// Setting a log-entry handler while entries are queued: those queued before reach the file
// first, and every entry logged after it passes the handler, on the thread that logged.
TEST_F(LoggerThreads, AHandlerSetWhileEntriesAreQueuedSeesEveryLaterEntry) {
    testing::TTempDir LDir;
    const std::string LPath = LDir.File("handler.sil");
    FLogger.SetConnections("file(filename=\"" + LPath + "\", async.enabled=true)");
    FLogger.SetEnabled(true);
    TSiSession* LSession = FLogger.AddSession("S");
    for (int LIndex = 0; LIndex < 500; ++LIndex) LSession->LogMessage("%d", {LIndex});
    const std::thread::id LCaller = std::this_thread::get_id();
    std::atomic<int> LSeen{0};
    std::atomic<bool> LOnCaller{true};
    FLogger.SetOnLogEntry([&](TSiLogger&, TSiLogEntry&) {
        ++LSeen;
        if (std::this_thread::get_id() != LCaller) LOnCaller = false;
    });
    for (int LIndex = 500; LIndex < 1000; ++LIndex) LSession->LogMessage("%d", {LIndex});
    FLogger.SetEnabled(false);
    EXPECT_EQ(LSeen.load(), 500);
    EXPECT_TRUE(LOnCaller.load());
    const std::vector<TSeen> LEntries = ReadEntries(LPath);
    ASSERT_EQ(LEntries.size(), 1000u);
    for (int LIndex = 0; LIndex < 1000; ++LIndex) {
        EXPECT_EQ(LEntries[LIndex].Title, std::to_string(LIndex));
    }
    FLogger.SetOnLogEntry(nullptr);
    FLogger.SetConnections("");
}

// A reused entry keeps the name it was stamped with; after a rename the next entry must carry
// the new name, and an entry logged while another thread renames carries one of the names.
TEST_F(LoggerThreads, EntriesCarryTheSessionNameAfterAndDuringRenames) {
    FLogger.SetConnections("namerec()");
    FLogger.SetEnabled(true);
    TSiSession* LSession = FLogger.AddSession("Alpha");
    LSession->LogMessage("first");
    LSession->SetName("Beta");
    LSession->LogMessage("after rename");
    LSession->SetName("Alpha");
    LSession->LogMessage("renamed back");

    std::atomic<bool> LDone{false};
    std::thread LLogger([&] {
        for (int LIndex = 0; !LDone.load() || LIndex < 1000; ++LIndex) {
            LSession->LogMessage("racing %d", {LIndex});
        }
    });
    for (int LRename = 0; LRename < 500; ++LRename) {
        LSession->SetName(LRename % 2 == 0 ? "Beta" : "A much longer name than either");
    }
    LSession->SetName("Gamma");
    LDone = true;
    LLogger.join();
    LSession->LogMessage("last");

    const std::vector<TSeen> LSeen = Seen();
    ASSERT_GE(LSeen.size(), 1004u);
    EXPECT_EQ(LSeen[0].SessionName, "Alpha");
    EXPECT_EQ(LSeen[1].SessionName, "Beta");
    EXPECT_EQ(LSeen[2].SessionName, "Alpha");
    for (const TSeen& LEntry : LSeen) {
        EXPECT_TRUE(LEntry.SessionName == "Alpha" || LEntry.SessionName == "Beta" ||
                    LEntry.SessionName == "A much longer name than either" ||
                    LEntry.SessionName == "Gamma")
            << LEntry.SessionName;
    }
    EXPECT_EQ(LSeen.back().Title, "last");
    EXPECT_EQ(LSeen.back().SessionName, "Gamma");
}

// A handler may change an entry; what it changed must not reach the next entry of the session,
// which may be the same object sent again.
TEST_F(LoggerThreads, NamesChangedByHandlersDoNotStayInReusedEntries) {
    FLogger.SetConnections("namerec()");
    FLogger.SetEnabled(true);
    TSiSession* LSession = FLogger.AddSession("Main");
    FLogger.SetOnLogEntry(
        [](TSiLogger&, TSiLogEntry& AEntry) { AEntry.SessionName = "changed by the event"; });
    LSession->LogMessage("one");
    FLogger.SetOnLogEntry(nullptr);
    LSession->LogMessage("two");
    FLogger.SetOnFilter([](TSiLogger&, TSiPacket& APacket, bool&) {
        static_cast<TSiLogEntry&>(APacket).SessionName = "changed by the filter";
    });
    LSession->LogMessage("three");
    FLogger.SetOnFilter(nullptr);
    LSession->LogMessage("four");

    std::vector<std::string> LNames;
    for (const TSeen& LEntry : Seen()) LNames.push_back(LEntry.SessionName);
    EXPECT_EQ(LNames, (std::vector<std::string>{"Main", "Main", "changed by the filter", "Main"}));
}

// The switch and the level share one word: changing one never changes the other, also when two
// threads change them at once, and a switched-off threshold lets no level through.
TEST(SwitchedThreshold, SwitchAndLevelStayIndependent) {
    TSiSwitchedThreshold LThreshold(false, lvWarning);
    EXPECT_FALSE(LThreshold.Passes(lvControl));
    LThreshold.SetOn(true);
    EXPECT_EQ(LThreshold.Level(), lvWarning);
    EXPECT_FALSE(LThreshold.Passes(lvMessage));
    EXPECT_TRUE(LThreshold.Passes(lvWarning));
    LThreshold.SetLevel(lvDebug);
    EXPECT_TRUE(LThreshold.On());
    EXPECT_TRUE(LThreshold.Passes(lvDebug));

    std::thread LSwitcher([&] {
        for (int LIndex = 0; LIndex < 20000; ++LIndex) LThreshold.SetOn(LIndex % 2 == 1);
    });
    std::thread LLeveller([&] {
        for (int LIndex = 0; LIndex < 20000; ++LIndex) {
            LThreshold.SetLevel(static_cast<TSiLevel>(LIndex % 6));
        }
    });
    LSwitcher.join();
    LLeveller.join();
    EXPECT_TRUE(LThreshold.On());
    EXPECT_EQ(LThreshold.Level(), static_cast<TSiLevel>(19999 % 6));
}

}  // namespace
}  // namespace deruz::logging
