// The silog tool's commands, run in process: check, send, dump (plain, encrypted, damaged)
// and listen.
#include "tools/silog/silog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/tools/silog_run.h"

namespace deruz::silog {
namespace {

using testing::Silog;
using testing::TResult;

std::string TempPath(const std::string& AName) {
    std::string LPath = ::testing::TempDir() + AName;
    std::remove(LPath.c_str());
    return LPath;
}

// Lines of a text without their timestamps ("[...] " cut off).
std::vector<std::string> Titles(const std::string& AText) {
    std::vector<std::string> LLines;
    std::istringstream LIn(AText);
    std::string LLine;
    while (std::getline(LIn, LLine)) {
        const auto LClose = LLine.find("] ");
        LLines.push_back(LClose == std::string::npos ? LLine : LLine.substr(LClose + 2));
    }
    return LLines;
}

TEST(SilogCheck, PrintsProtocolsOrTheExactError) {
    const TResult LOk = Silog({"check", "mem(maxsize=1mb), tcp(port=70000)"});
    EXPECT_EQ(LOk.Status, 0) << LOk.Err;
    EXPECT_EQ(LOk.Out.rfind("mem(", 0), 0u) << LOk.Out;
    EXPECT_NE(LOk.Out.find("maxsize=\"1024\""), std::string::npos) << LOk.Out;
    EXPECT_NE(LOk.Out.find("\ntcp("), std::string::npos) << LOk.Out;

    struct TCase {
        std::string Connections;
        std::string Error;
    };
    const TCase LCases[] = {
        {"nosuch()", "Protocol \"nosuch\" not found\n"},
        {"pipe(foo=1)", "Option \"foo\" not available for protocol \"pipe\"\n"},
    };
    for (const auto& LC : LCases) {
        const TResult LR = Silog({"check", LC.Connections});
        EXPECT_EQ(LR.Status, 1) << LC.Connections;
        EXPECT_EQ(LR.Err, LC.Error);
        EXPECT_EQ(LR.Out, "");
    }
    EXPECT_EQ(Silog({"check"}).Status, 2);
    EXPECT_EQ(Silog({"frobnicate"}).Status, 2);
    EXPECT_EQ(Silog({"check", "--help"}).Status, 0);

    const std::string LConfig = TempPath("silog_check.sic");
    std::ofstream(LConfig) << "level=debug\n";
    const TResult LMissing = Silog({"check", "--config", LConfig});
    EXPECT_EQ(LMissing.Status, 1);
    EXPECT_EQ(LMissing.Err, "A connections string doesn't exist in the supplied file\n");
}

TEST(SilogSendAndDump, PlainAndEncryptedFilesReadBack) {
    const std::string LPlain = TempPath("silog_plain.sil");
    const std::string LSecret = TempPath("silog_secret.sil");
    const TResult LSent = Silog({"send", "--connections",
                                 "file(filename=\"" + LPlain + "\"), file(filename=\"" + LSecret +
                                     "\", encrypt=true, key=\"my key\")",
                                 "--level", "warning"},
                                "first\r\nsecond\n");
    ASSERT_EQ(LSent.Status, 0) << LSent.Err;

    const TResult LA = Silog({"dump", "--pattern", "%level% %session% %title%", LPlain});
    EXPECT_EQ(LA.Status, 0) << LA.Err;
    // The binary format carries no level: %level% shows the entry type that it does carry.
    EXPECT_EQ(LA.Out, "Warning Main first\nWarning Main second\n");
    const TResult LB = Silog({"dump", "--key", "my key", "--pattern", "%title%", LSecret});
    EXPECT_EQ(LB.Status, 0) << LB.Err;
    EXPECT_EQ(LB.Out, "first\nsecond\n");

    const TResult LNoKey = Silog({"dump", LSecret});
    EXPECT_EQ(LNoKey.Status, 1);
    EXPECT_NE(LNoKey.Err.find("give its key with --key"), std::string::npos);
    const TResult LWrongKey = Silog({"dump", "--key", "other", LSecret});
    EXPECT_EQ(LWrongKey.Status, 1);
    EXPECT_NE(LWrongKey.Err.find("wrong key"), std::string::npos) << LWrongKey.Err;

    const TResult LJson = Silog({"dump", "--format", "json", LPlain});
    EXPECT_NE(LJson.Out.find("\"title\":\"first\""), std::string::npos) << LJson.Out;
    EXPECT_NE(LJson.Out.find("\"packet\":\"LogEntry\""), std::string::npos);
}

TEST(SilogSend, ReportsDroppedPackets) {
    const std::string LPath = TempPath("silog_dropped.sil");
    // A backlog of 1 KB that nothing flushes: most of the 100 lines are dropped.
    std::string LLines;
    for (int LI = 0; LI < 100; ++LI) LLines += "line " + std::to_string(LI) + "\n";
    const TResult LR =
        Silog({"send", "--level", "debug", "--connections",
               "file(filename=\"" + LPath + "\", backlog.enabled=true, backlog.queue=1)"},
              LLines);
    EXPECT_EQ(LR.Status, 0);
    EXPECT_NE(LR.Err.find(" packets dropped"), std::string::npos) << LR.Err;
    const TResult LKept = Silog({"send", "--connections", "file(filename=\"" + LPath + "\")", "x"});
    EXPECT_EQ(LKept.Err, "");
}

TEST(SilogDump, DamageIsReportedAfterWhatCameBefore) {
    const std::string LPath = TempPath("silog_damaged.sil");
    ASSERT_EQ(
        Silog({"send", "--connections", "file(filename=\"" + LPath + "\")", "one", "two"}).Status,
        0);
    std::ifstream LIn(LPath, std::ios::binary);
    std::string LBytes((std::istreambuf_iterator<char>(LIn)), std::istreambuf_iterator<char>());
    LIn.close();
    const std::string LCut = TempPath("silog_cut.sil");
    std::ofstream(LCut, std::ios::binary) << LBytes.substr(0, LBytes.size() - 3);
    const TResult LR = Silog({"dump", "--pattern", "%title%", LCut});
    EXPECT_EQ(LR.Status, 1);
    EXPECT_EQ(LR.Out, "one\n");
    EXPECT_NE(LR.Err.find(LCut), std::string::npos);
    EXPECT_NE(LR.Err.find("offset " + std::to_string(4 + (LBytes.size() - 4) / 2)),
              std::string::npos)
        << LR.Err;

    const std::string LJunk = TempPath("silog_junk.sil");
    std::ofstream(LJunk, std::ios::binary) << "NOPE";
    EXPECT_EQ(Silog({"dump", LJunk}).Status, 1);
}

TEST(SilogListen, ReceivesWhatSendWrites) {
    const std::string LPipe =
        "silog-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed());
    TResult LListened;
    std::thread LListener([&] {
        LListened = Silog({"listen", "--pipe", LPipe, "--count", "3", "--pattern", "%title%"});
    });
    // The listener needs a moment to open its pipe; send retries until it is there.
    TResult LSent;
    for (int LAttempt = 0; LAttempt < 100; ++LAttempt) {
        LSent = Silog({"send", "--connections", "pipe(pipename=\"" + LPipe + "\")", "a", "b"});
        if (LSent.Status == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    LListener.join();
    EXPECT_EQ(LSent.Status, 0) << LSent.Err;
    EXPECT_EQ(LListened.Status, 0) << LListened.Err;
    EXPECT_EQ(LListened.Out.substr(0, 7), "header ");
    EXPECT_EQ(Titles(LListened.Out).back(), "b");
}

// A script that starts the viewer and then a program that never connects must not hang:
// --once gives up after --wait seconds with status 1 and says why.
TEST(SilogListen, OnceGivesUpWhenNoClientComes) {
    const std::string LPipe =
        "silog-wait-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed());
    const TResult LR = Silog({"listen", "--pipe", LPipe, "--once", "--wait", "1"});
    EXPECT_EQ(LR.Status, 1);
    EXPECT_NE(LR.Err.find("no client connected within 1 s"), std::string::npos) << LR.Err;
    EXPECT_EQ(Silog({"listen", "--pipe", LPipe, "--wait", "1"}).Status, 2);
}

}  // namespace
}  // namespace deruz::silog
