// silog dump reading files: the errors it reports (each with the file and the reason, going
// on with the next file), damage and resynchronisation, text logs, large encrypted files,
// the filters, and --follow on a file that another thread writes and rotates.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "logging/base/datetime.h"
#include "logging/format/binary_formatter.h"
#include "tests/tools/silog_run.h"
#include "tools/silog/silog.h"

namespace deruz::silog {
namespace {

using namespace deruz::logging;
using namespace std::chrono_literals;

using testing::Silog;
using testing::TResult;

std::string TempPath(const std::string& AName) {
    const std::string path = ::testing::TempDir() + AName;
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
    return path;
}

const TDateTime kDay = SiEncodeDateTime({2026, 5, 1, 0, 0, 0, 0});

TDateTime At(int AHour, int AMinute) {
    return SiEncodeDateTime({2026, 5, 1, AHour, AMinute, 0, 0});
}

TSiPacketPtr Entry(const std::string& ATitle, TSiLogEntryType AType = ltMessage,
                   const std::string& ASession = "Main", TDateTime AStamp = kDay) {
    auto e = SiMakeRef<TSiLogEntry>();
    e->LogEntryType = AType;
    e->ViewerId = viTitle;
    e->Title = ATitle;
    e->SessionName = ASession;
    e->Timestamp = AStamp;
    return e;
}

// The binary form of packets, as the file protocol writes them after "SILF".
std::string Bytes(std::initializer_list<TSiPacketPtr> APackets) {
    TSiBinaryFormatter formatter;
    TSiMemoryStream stream;
    for (const auto& packet : APackets) {
        formatter.Compile(*packet);
        formatter.Write(stream);
    }
    const auto bytes = stream.Bytes();
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void Write(const std::string& APath, const std::string& ABytes,
           std::ios::openmode AMode = std::ios::trunc) {
    std::ofstream file(APath, std::ios::binary | std::ios::out | AMode);
    file << ABytes;
}

TEST(SilogDumpErrors, EachFileIsReportedWithItsReasonAndTheNextOneRead) {
    const std::string good = TempPath("dump_good.sil");
    Write(good, "SILF" + Bytes({Entry("one"), Entry("two")}));
    const std::string missing = TempPath("dump_missing.sil");
    const std::string directory = TempPath("dump_dir.sil");
    std::filesystem::create_directory(directory);
    const std::string empty = TempPath("dump_empty.sil");
    Write(empty, "");
    const std::string junk = TempPath("dump_junk.sil");
    Write(junk, "NOPE and more");
    const std::string tiny = TempPath("dump_tiny.sil");
    Write(tiny, "SI");
    const std::string secret = TempPath("dump_secret.sil");
    ASSERT_EQ(Silog({"send", "--connections",
                     "file(filename=\"" + secret + "\", encrypt=true, key=\"k\")", "hidden"})
                  .Status,
              0);
    const std::string shortIv = TempPath("dump_short_iv.sil");
    Write(shortIv, "SILE0123456789");
    const std::string cut = TempPath("dump_cut.sil");
    const std::string packets = Bytes({Entry("whole"), Entry("cut off")});
    Write(cut, "SILF" + packets.substr(0, packets.size() - 5));
    const std::string badType = TempPath("dump_bad_type.sil");
    Write(badType, "SILF" + Bytes({Entry("first")}) + std::string("\x09\x00\x00\x00\x00\x00", 6));

    struct TCase {
        std::string Path;
        std::string Error;  // after "PATH: "; empty: only that a reason is given
        std::string Out;
    };
    const std::size_t firstSize = Bytes({Entry("whole")}).size();
    const TCase cases[] = {
        {missing, "", ""},
        {directory, "Is a directory", ""},
        {empty, "empty file", ""},
        {junk, "not a log file (no \"SILF\" or \"SILE\" at offset 0)", ""},
        {tiny, "not a log file (no \"SILF\" or \"SILE\" at offset 0)", ""},
        {secret, "the file is encrypted: give its key with --key", ""},
        {cut,
         "Truncated packet: body of " + std::to_string(firstSize + 2 - 6) + " bytes, " +
             std::to_string(firstSize + 2 - 6 - 5) + " available at offset " +
             std::to_string(4 + firstSize),
         "whole\n"},
        {badType, "Unknown packet type code 9 at offset " + std::to_string(4 + firstSize),
         "first\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        // The failing file between two good ones: both good ones are printed.
        const TResult r = Silog({"dump", "--pattern", "%title%", good, c.Path, good});
        EXPECT_EQ(r.Status, 1);
        EXPECT_EQ(r.Out, "one\ntwo\n" + c.Out + "one\ntwo\n");
        ASSERT_EQ(r.Err.rfind(c.Path + ": ", 0), 0u) << r.Err;
        const std::string reason = r.Err.substr(c.Path.size() + 2);
        if (c.Error.empty()) {
            EXPECT_GT(reason.size(), 1u);
        } else {
            EXPECT_EQ(reason, c.Error + "\n");
        }
    }
    const TResult noIv = Silog({"dump", "--key", "k", shortIv});
    EXPECT_EQ(noIv.Status, 1);
    EXPECT_EQ(noIv.Err,
              shortIv + ": truncated before the end of the initialisation vector at offset 14\n");
    const TResult wrongKey = Silog({"dump", "--key", "other", secret});
    EXPECT_EQ(wrongKey.Status, 1);
    EXPECT_EQ(wrongKey.Err, secret +
                                ": wrong key or not a log file: the decrypted data does not "
                                "start with \"SILF\" (offset 20)\n");
}

TEST(SilogDumpErrors, ResyncSkipsDamageToTheNextWellFormedPacket) {
    const std::string first = Bytes({Entry("a")});
    const std::string rest = Bytes({Entry("b"), Entry("c")});
    // Garbage that starts like a log entry claiming 2 GiB, then plain noise.
    const std::string garbage = std::string("\x04\x00\xff\xff\xff\x7f", 6) + "noise-noise-noise";
    const std::string path = TempPath("dump_resync.sil");
    Write(path, "SILF" + first + garbage + rest + "tail junk");
    const std::uint64_t damageAt = 4 + first.size();
    const std::uint64_t nextAt = damageAt + garbage.size();
    const std::uint64_t tailAt = nextAt + rest.size();

    const TResult stop = Silog({"dump", "--pattern", "%title%", path});
    EXPECT_EQ(stop.Status, 1);
    EXPECT_EQ(stop.Out, "a\n");
    EXPECT_EQ(stop.Err, path + ": Truncated packet: body of 2147483647 bytes, " +
                            std::to_string(garbage.size() + rest.size() + 9 - 6) +
                            " available at offset " + std::to_string(damageAt) + "\n");

    const TResult resync = Silog({"dump", "--resync", "--pattern", "%title%", path});
    EXPECT_EQ(resync.Status, 1);
    EXPECT_EQ(resync.Out, "a\nb\nc\n");
    const std::string expected =
        path + ": Truncated packet: body of 2147483647 bytes, " +
        std::to_string(garbage.size() + rest.size() + 9 - 6) + " available at offset " +
        std::to_string(damageAt) + "\n" + path + ": skipped " + std::to_string(garbage.size()) +
        " bytes from offset " + std::to_string(damageAt) + " to offset " + std::to_string(nextAt) +
        "\n" + path + ": Unknown packet type code 24948 at offset " + std::to_string(tailAt) +
        "\n" + path + ": skipped 9 bytes from offset " + std::to_string(tailAt) +
        " to the end of the file\n";
    EXPECT_EQ(resync.Err, expected);
}

TEST(SilogDump, TextLogsAreEscapedAndEncryptedFilesStream) {
    const std::string text = TempPath("dump_text.log");
    Write(text,
          "\xEF\xBB\xBF"
          "first\r\nsecond \x1b[2J\r\n");
    const TResult t = Silog({"dump", text});
    EXPECT_EQ(t.Status, 0) << t.Err;
    EXPECT_EQ(t.Out, "first\nsecond \\x1b[2J\n");

    // Many packets: decryption runs over many reads and cipher blocks, padding at the end.
    const std::string secret = TempPath("dump_big_secret.sil");
    std::string lines;
    for (int i = 0; i < 3000; ++i) lines += "line number " + std::to_string(i) + "\n";
    ASSERT_EQ(Silog({"send", "--connections",
                     "file(filename=\"" + secret + "\", encrypt=true, key=\"key\")"},
                    lines)
                  .Status,
              0);
    const TResult s = Silog({"dump", "--key", "key", "--pattern", "%title%", secret});
    EXPECT_EQ(s.Status, 0) << s.Err;
    EXPECT_EQ(s.Out, lines);
}

TEST(SilogFilters, SessionLevelAndTimeSelectPackets) {
    auto watch = SiMakeRef<TSiWatch>(wtInteger);
    watch->Name = "w";
    watch->Value = "1";
    watch->Timestamp = At(10, 30);
    auto header = SiMakeRef<TSiLogHeader>();
    header->HostName = "h";
    header->AppName = "a";
    const std::string path = TempPath("dump_filters.sil");
    Write(path, "SILF" + Bytes({header, Entry("debug", ltDebug, "A", At(9, 0)),
                                Entry("message", ltMessage, "B", At(10, 0)),
                                Entry("enter", ltEnterMethod, "A", At(10, 15)), watch,
                                Entry("warning", ltWarning, "A", At(11, 0)),
                                Entry("assert", ltAssert, "B", At(12, 0)),
                                Entry("fatal", ltFatal, "C", At(13, 0))}));
    struct TCase {
        std::vector<std::string> Args;
        std::string Out;
    };
    const std::string all = "header\ndebug\nmessage\nenter\nwatch\nwarning\nassert\nfatal\n";
    const TCase cases[] = {
        {{}, all},
        {{"--session", "A"}, "debug\nenter\nwarning\n"},
        {{"--session", "A", "--session", "C"}, "debug\nenter\nwarning\nfatal\n"},
        {{"--min-level", "debug"}, "debug\nmessage\nenter\nwarning\nassert\nfatal\n"},
        {{"--min-level", "Warning"}, "warning\nassert\nfatal\n"},
        {{"--min-level", "error"}, "assert\nfatal\n"},
        {{"--since", "2026-05-01 10:15"}, "enter\nwatch\nwarning\nassert\nfatal\n"},
        {{"--until", "2026-05-01T10:30:00.000"}, "debug\nmessage\nenter\nwatch\n"},
        {{"--since", "2026-05-01 10:00", "--until", "2026-05-01 11:00:00"},
         "message\nenter\nwatch\nwarning\n"},
        {{"--since", "2026-05-02"}, ""},
        {{"--session", "A", "--min-level", "warning", "--until", "2026-05-01 12:00"}, "warning\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"dump", "--pattern", "%title%"};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        args.push_back(path);
        const TResult r = Silog(args);
        EXPECT_EQ(r.Status, 0) << r.Err;
        // Other kinds print in their own form; their first word is enough here.
        std::istringstream lines(r.Out);
        std::string line, shown;
        while (std::getline(lines, line)) {
            const auto bracket = line.find("] ");
            if (bracket != std::string::npos) line = line.substr(bracket + 2);
            shown += line.substr(0, line.find(' ')) + "\n";
        }
        EXPECT_EQ(shown, c.Out) << ::testing::PrintToString(c.Args);
    }
    for (const auto& bad : std::vector<std::vector<std::string>>{{"--min-level", "loud"},
                                                                 {"--since", "2026-13-01"},
                                                                 {"--until", "25:00"},
                                                                 {"--since", "yesterday"}}) {
        std::vector<std::string> args = {"dump"};
        args.insert(args.end(), bad.begin(), bad.end());
        args.push_back(path);
        EXPECT_EQ(Silog(args).Status, 2) << ::testing::PrintToString(bad);
    }
}

// An output stream that a test thread may read while the command writes to it.
class TSharedOutput : public std::stringbuf {
  public:
    std::string Text() {
        std::lock_guard<std::recursive_mutex> lock(FLock);
        return str();
    }
    bool WaitFor(const std::string& AText) {
        for (int i = 0; i < 500; ++i) {
            if (Text().find(AText) != std::string::npos) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

  protected:
    std::streamsize xsputn(const char* AText, std::streamsize ACount) override {
        std::lock_guard<std::recursive_mutex> lock(FLock);
        return std::stringbuf::xsputn(AText, ACount);
    }
    int_type overflow(int_type AChar) override {
        std::lock_guard<std::recursive_mutex> lock(FLock);
        return std::stringbuf::overflow(AChar);
    }

  private:
    std::recursive_mutex FLock;
};

// Ends a follower that a failed assertion left running (dump has its handler in place once
// it printed anything).
struct TStopFollower {
    std::thread& Thread;
    ~TStopFollower() {
        if (Thread.joinable()) {
            std::raise(SIGINT);
            Thread.join();
        }
    }
};

TEST(SilogFollow, PrintsAppendedPacketsAcrossRotation) {
    const std::string path = TempPath("follow.sil");
    Write(path, "SILF" + Bytes({Entry("old 1")}));
    TSharedOutput out;
    std::ostream outStream(&out);
    std::ostringstream err;
    std::istringstream in;
    int status = -1;
    std::thread follower([&] {
        status = SilogMain({"dump", "--follow", "--count", "6", "--pattern", "%title%", path}, in,
                           outStream, err);
    });
    TStopFollower stop{follower};
    ASSERT_TRUE(out.WaitFor("old 1\n"));
    // A packet written in two pieces is printed once it is whole.
    const std::string two = Bytes({Entry("old 2")});
    Write(path, two.substr(0, 10), std::ios::app);
    std::this_thread::sleep_for(250ms);
    EXPECT_EQ(out.Text(), "old 1\n");
    Write(path, two.substr(10), std::ios::app);
    ASSERT_TRUE(out.WaitFor("old 2\n"));
    // Rotation: the file is moved away, one more packet lands in it, and a new file takes
    // its name.
    std::filesystem::rename(path, path + ".1");
    Write(path + ".1", Bytes({Entry("old 3")}), std::ios::app);
    std::this_thread::sleep_for(250ms);
    Write(path, "SILF" + Bytes({Entry("new 1")}));
    Write(path, Bytes({Entry("new 2"), Entry("new 3"), Entry("beyond the count")}), std::ios::app);
    follower.join();
    EXPECT_EQ(status, 0) << err.str();
    EXPECT_EQ(out.Text(), "old 1\nold 2\nold 3\nnew 1\nnew 2\nnew 3\n");
    EXPECT_EQ(err.str(), "silog: following " + path + "\n");
}

TEST(SilogFollow, FollowsTheNewestFileOfABaseNameUntilInterrupted) {
    const std::string directory = TempPath("follow_rotating");
    std::filesystem::create_directory(directory);
    const std::string base = directory + "/log.sil";
    const std::string older = directory + "/log-2026-05-01-10-00-00.sil";
    const std::string newer = directory + "/log-2026-05-01-11-00-00.sil";
    Write(older, "SILF" + Bytes({Entry("first file")}));
    TSharedOutput out;
    std::ostream outStream(&out);
    std::ostringstream err;
    std::istringstream in;
    int status = -1;
    std::thread follower([&] {
        status = SilogMain({"dump", "--follow", "--pattern", "%title%", base}, in, outStream, err);
    });
    TStopFollower stop{follower};
    ASSERT_TRUE(out.WaitFor("first file\n"));
    Write(newer, "SILF" + Bytes({Entry("second file")}));
    ASSERT_TRUE(out.WaitFor("second file\n"));
    std::raise(SIGINT);  // the handler is in place: dump printed
    follower.join();
    EXPECT_EQ(status, 0) << err.str();
    EXPECT_EQ(out.Text(), "first file\nsecond file\n");
    EXPECT_EQ(err.str(), "silog: following " + newer + "\n");

    const TResult none = Silog({"dump", "--follow", directory + "/nothing.sil"});
    EXPECT_EQ(none.Status, 1);
    EXPECT_EQ(none.Err.rfind(directory + "/nothing.sil: ", 0), 0u) << none.Err;
}

}  // namespace
}  // namespace deruz::silog
