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

std::string TempPath(const std::string& name) {
    const std::string path = ::testing::TempDir() + name;
    std::remove(path.c_str());
    return path;
}

// Lines of a text without their timestamps ("[...] " cut off).
std::vector<std::string> Titles(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const auto close = line.find("] ");
        lines.push_back(close == std::string::npos ? line : line.substr(close + 2));
    }
    return lines;
}

TEST(SilogCheck, PrintsProtocolsOrTheExactError) {
    const TResult ok = Silog({"check", "mem(maxsize=1mb), tcp(port=70000)"});
    EXPECT_EQ(ok.Status, 0) << ok.Err;
    EXPECT_EQ(ok.Out.rfind("mem(", 0), 0u) << ok.Out;
    EXPECT_NE(ok.Out.find("maxsize=\"1024\""), std::string::npos) << ok.Out;
    EXPECT_NE(ok.Out.find("\ntcp("), std::string::npos) << ok.Out;

    struct TCase {
        std::string Connections;
        std::string Error;
    };
    const TCase cases[] = {
        {"nosuch()", "Protocol \"nosuch\" not found\n"},
        {"pipe(foo=1)", "Option \"foo\" not available for protocol \"pipe\"\n"},
    };
    for (const auto& c : cases) {
        const TResult r = Silog({"check", c.Connections});
        EXPECT_EQ(r.Status, 1) << c.Connections;
        EXPECT_EQ(r.Err, c.Error);
        EXPECT_EQ(r.Out, "");
    }
    EXPECT_EQ(Silog({"check"}).Status, 2);
    EXPECT_EQ(Silog({"frobnicate"}).Status, 2);
    EXPECT_EQ(Silog({"check", "--help"}).Status, 0);

    const std::string config = TempPath("silog_check.sic");
    std::ofstream(config) << "level=debug\n";
    const TResult missing = Silog({"check", "--config", config});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_EQ(missing.Err, "A connections string doesn't exist in the supplied file\n");
}

TEST(SilogSendAndDump, PlainAndEncryptedFilesReadBack) {
    const std::string plain = TempPath("silog_plain.sil");
    const std::string secret = TempPath("silog_secret.sil");
    const TResult sent = Silog({"send", "--connections",
                                "file(filename=\"" + plain + "\"), file(filename=\"" + secret +
                                    "\", encrypt=true, key=\"my key\")",
                                "--level", "warning"},
                               "first\r\nsecond\n");
    ASSERT_EQ(sent.Status, 0) << sent.Err;

    const TResult a = Silog({"dump", "--pattern", "%level% %session% %title%", plain});
    EXPECT_EQ(a.Status, 0) << a.Err;
    // The binary format carries no level: %level% shows the entry type that it does carry.
    EXPECT_EQ(a.Out, "Warning Main first\nWarning Main second\n");
    const TResult b = Silog({"dump", "--key", "my key", "--pattern", "%title%", secret});
    EXPECT_EQ(b.Status, 0) << b.Err;
    EXPECT_EQ(b.Out, "first\nsecond\n");

    const TResult noKey = Silog({"dump", secret});
    EXPECT_EQ(noKey.Status, 1);
    EXPECT_NE(noKey.Err.find("give its key with --key"), std::string::npos);
    const TResult wrongKey = Silog({"dump", "--key", "other", secret});
    EXPECT_EQ(wrongKey.Status, 1);
    EXPECT_NE(wrongKey.Err.find("wrong key"), std::string::npos) << wrongKey.Err;

    const TResult json = Silog({"dump", "--format", "json", plain});
    EXPECT_NE(json.Out.find("\"title\":\"first\""), std::string::npos) << json.Out;
    EXPECT_NE(json.Out.find("\"packet\":\"LogEntry\""), std::string::npos);
}

TEST(SilogSend, ReportsDroppedPackets) {
    const std::string path = TempPath("silog_dropped.sil");
    // A backlog of 1 KB that nothing flushes: most of the 100 lines are dropped.
    std::string lines;
    for (int i = 0; i < 100; ++i) lines += "line " + std::to_string(i) + "\n";
    const TResult r =
        Silog({"send", "--level", "debug", "--connections",
               "file(filename=\"" + path + "\", backlog.enabled=true, backlog.queue=1)"},
              lines);
    EXPECT_EQ(r.Status, 0);
    EXPECT_NE(r.Err.find(" packets dropped"), std::string::npos) << r.Err;
    const TResult kept = Silog({"send", "--connections", "file(filename=\"" + path + "\")", "x"});
    EXPECT_EQ(kept.Err, "");
}

TEST(SilogDump, DamageIsReportedAfterWhatCameBefore) {
    const std::string path = TempPath("silog_damaged.sil");
    ASSERT_EQ(
        Silog({"send", "--connections", "file(filename=\"" + path + "\")", "one", "two"}).Status,
        0);
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    const std::string cut = TempPath("silog_cut.sil");
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() - 3);
    const TResult r = Silog({"dump", "--pattern", "%title%", cut});
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Out, "one\n");
    EXPECT_NE(r.Err.find(cut), std::string::npos);
    EXPECT_NE(r.Err.find("offset " + std::to_string(4 + (bytes.size() - 4) / 2)), std::string::npos)
        << r.Err;

    const std::string junk = TempPath("silog_junk.sil");
    std::ofstream(junk, std::ios::binary) << "NOPE";
    EXPECT_EQ(Silog({"dump", junk}).Status, 1);
}

TEST(SilogListen, ReceivesWhatSendWrites) {
    const std::string pipe =
        "silog-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed());
    TResult listened;
    std::thread listener([&] {
        listened = Silog({"listen", "--pipe", pipe, "--count", "3", "--pattern", "%title%"});
    });
    // The listener needs a moment to open its pipe; send retries until it is there.
    TResult sent;
    for (int attempt = 0; attempt < 100; ++attempt) {
        sent = Silog({"send", "--connections", "pipe(pipename=\"" + pipe + "\")", "a", "b"});
        if (sent.Status == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    listener.join();
    EXPECT_EQ(sent.Status, 0) << sent.Err;
    EXPECT_EQ(listened.Status, 0) << listened.Err;
    EXPECT_EQ(listened.Out.substr(0, 7), "header ");
    EXPECT_EQ(Titles(listened.Out).back(), "b");
}

// A script that starts the viewer and then a program that never connects must not hang:
// --once gives up after --wait seconds with status 1 and says why.
TEST(SilogListen, OnceGivesUpWhenNoClientComes) {
    const std::string pipe =
        "silog-wait-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed());
    const TResult r = Silog({"listen", "--pipe", pipe, "--once", "--wait", "1"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("no client connected within 1 s"), std::string::npos) << r.Err;
    EXPECT_EQ(Silog({"listen", "--pipe", pipe, "--wait", "1"}).Status, 2);
}

}  // namespace
}  // namespace deruz::silog
