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
    std::string LPath = ::testing::TempDir() + AName;
    std::error_code LIgnored;
    std::filesystem::remove_all(LPath, LIgnored);
    return LPath;
}

const TDateTime kDay = SiEncodeDateTime({2026, 5, 1, 0, 0, 0, 0});

TDateTime At(int AHour, int AMinute) {
    return SiEncodeDateTime({2026, 5, 1, AHour, AMinute, 0, 0});
}

TSiPacketPtr Entry(const std::string& ATitle, TSiLogEntryType AType = ltMessage,
                   const std::string& ASession = "Main", TDateTime AStamp = kDay) {
    auto LE = SiMakeRef<TSiLogEntry>();
    LE->LogEntryType = AType;
    LE->ViewerId = viTitle;
    LE->Title = ATitle;
    LE->SessionName = ASession;
    LE->Timestamp = AStamp;
    return LE;
}

// The binary form of packets, as the file protocol writes them after "SILF".
std::string Bytes(std::initializer_list<TSiPacketPtr> APackets) {
    TSiBinaryFormatter LFormatter;
    TSiMemoryStream LStream;
    for (const auto& LPacket : APackets) {
        LFormatter.Compile(*LPacket);
        LFormatter.Write(LStream);
    }
    const auto LBytes = LStream.Bytes();
    return std::string(reinterpret_cast<const char*>(LBytes.data()), LBytes.size());
}

void Write(const std::string& APath, const std::string& ABytes,
           std::ios::openmode AMode = std::ios::trunc) {
    std::ofstream LFile(APath, std::ios::binary | std::ios::out | AMode);
    LFile << ABytes;
}

TEST(SilogDumpErrors, EachFileIsReportedWithItsReasonAndTheNextOneRead) {
    const std::string LGood = TempPath("dump_good.sil");
    Write(LGood, "SILF" + Bytes({Entry("one"), Entry("two")}));
    const std::string LMissing = TempPath("dump_missing.sil");
    const std::string LDirectory = TempPath("dump_dir.sil");
    std::filesystem::create_directory(LDirectory);
    const std::string LEmpty = TempPath("dump_empty.sil");
    Write(LEmpty, "");
    const std::string LJunk = TempPath("dump_junk.sil");
    Write(LJunk, "NOPE and more");
    const std::string LTiny = TempPath("dump_tiny.sil");
    Write(LTiny, "SI");
    const std::string LSecret = TempPath("dump_secret.sil");
    ASSERT_EQ(Silog({"send", "--connections",
                     "file(filename=\"" + LSecret + "\", encrypt=true, key=\"k\")", "hidden"})
                  .Status,
              0);
    const std::string LShortIv = TempPath("dump_short_iv.sil");
    Write(LShortIv, "SILE0123456789");
    const std::string LCut = TempPath("dump_cut.sil");
    const std::string LPackets = Bytes({Entry("whole"), Entry("cut off")});
    Write(LCut, "SILF" + LPackets.substr(0, LPackets.size() - 5));
    const std::string LBadType = TempPath("dump_bad_type.sil");
    Write(LBadType, "SILF" + Bytes({Entry("first")}) + std::string("\x09\x00\x00\x00\x00\x00", 6));

    struct TCase {
        std::string Path;
        std::string Error;  // after "PATH: "; empty: only that a reason is given
        std::string Out;
    };
    const std::size_t LFirstSize = Bytes({Entry("whole")}).size();
    const TCase LCases[] = {
        {LMissing, "", ""},
        {LDirectory, "Is a directory", ""},
        {LEmpty, "empty file", ""},
        {LJunk, "not a log file (no \"SILF\" or \"SILE\" at offset 0)", ""},
        {LTiny, "not a log file (no \"SILF\" or \"SILE\" at offset 0)", ""},
        {LSecret, "the file is encrypted: give its key with --key", ""},
        {LCut,
         "Truncated packet: body of " + std::to_string(LFirstSize + 2 - 6) + " bytes, " +
             std::to_string(LFirstSize + 2 - 6 - 5) + " available at offset " +
             std::to_string(4 + LFirstSize),
         "whole\n"},
        {LBadType, "Unknown packet type code 9 at offset " + std::to_string(4 + LFirstSize),
         "first\n"},
    };
    for (const auto& LC : LCases) {
        SCOPED_TRACE(LC.Path);
        // The failing file between two good ones: both good ones are printed.
        const TResult LR = Silog({"dump", "--pattern", "%title%", LGood, LC.Path, LGood});
        EXPECT_EQ(LR.Status, 1);
        EXPECT_EQ(LR.Out, "one\ntwo\n" + LC.Out + "one\ntwo\n");
        ASSERT_EQ(LR.Err.rfind(LC.Path + ": ", 0), 0u) << LR.Err;
        const std::string LReason = LR.Err.substr(LC.Path.size() + 2);
        if (LC.Error.empty()) {
            EXPECT_GT(LReason.size(), 1u);
        } else {
            EXPECT_EQ(LReason, LC.Error + "\n");
        }
    }
    const TResult LNoIv = Silog({"dump", "--key", "k", LShortIv});
    EXPECT_EQ(LNoIv.Status, 1);
    EXPECT_EQ(LNoIv.Err,
              LShortIv + ": truncated before the end of the initialisation vector at offset 14\n");
    const TResult LWrongKey = Silog({"dump", "--key", "other", LSecret});
    EXPECT_EQ(LWrongKey.Status, 1);
    EXPECT_EQ(LWrongKey.Err, LSecret +
                                 ": wrong key or not a log file: the decrypted data does not "
                                 "start with \"SILF\" (offset 20)\n");
}

TEST(SilogDumpErrors, ResyncSkipsDamageToTheNextWellFormedPacket) {
    const std::string LFirst = Bytes({Entry("a")});
    const std::string LRest = Bytes({Entry("b"), Entry("c")});
    // Garbage that starts like a log entry claiming 2 GiB, then plain noise.
    const std::string LGarbage = std::string("\x04\x00\xff\xff\xff\x7f", 6) + "noise-noise-noise";
    const std::string LPath = TempPath("dump_resync.sil");
    Write(LPath, "SILF" + LFirst + LGarbage + LRest + "tail junk");
    const std::uint64_t LDamageAt = 4 + LFirst.size();
    const std::uint64_t LNextAt = LDamageAt + LGarbage.size();
    const std::uint64_t LTailAt = LNextAt + LRest.size();

    const TResult LStop = Silog({"dump", "--pattern", "%title%", LPath});
    EXPECT_EQ(LStop.Status, 1);
    EXPECT_EQ(LStop.Out, "a\n");
    EXPECT_EQ(LStop.Err, LPath + ": Truncated packet: body of 2147483647 bytes, " +
                             std::to_string(LGarbage.size() + LRest.size() + 9 - 6) +
                             " available at offset " + std::to_string(LDamageAt) + "\n");

    const TResult LResync = Silog({"dump", "--resync", "--pattern", "%title%", LPath});
    EXPECT_EQ(LResync.Status, 1);
    EXPECT_EQ(LResync.Out, "a\nb\nc\n");
    const std::string LExpected =
        LPath + ": Truncated packet: body of 2147483647 bytes, " +
        std::to_string(LGarbage.size() + LRest.size() + 9 - 6) + " available at offset " +
        std::to_string(LDamageAt) + "\n" + LPath + ": skipped " + std::to_string(LGarbage.size()) +
        " bytes from offset " + std::to_string(LDamageAt) + " to offset " +
        std::to_string(LNextAt) + "\n" + LPath + ": Unknown packet type code 24948 at offset " +
        std::to_string(LTailAt) + "\n" + LPath + ": skipped 9 bytes from offset " +
        std::to_string(LTailAt) + " to the end of the file\n";
    EXPECT_EQ(LResync.Err, LExpected);
}

TEST(SilogDump, TextLogsAreEscapedAndEncryptedFilesStream) {
    const std::string LText = TempPath("dump_text.log");
    Write(LText,
          "\xEF\xBB\xBF"
          "first\r\nsecond \x1b[2J\r\n");
    const TResult LT = Silog({"dump", LText});
    EXPECT_EQ(LT.Status, 0) << LT.Err;
    EXPECT_EQ(LT.Out, "first\nsecond \\x1b[2J\n");

    // Many packets: decryption runs over many reads and cipher blocks, padding at the end.
    const std::string LSecret = TempPath("dump_big_secret.sil");
    std::string LLines;
    for (int LI = 0; LI < 3000; ++LI) LLines += "line number " + std::to_string(LI) + "\n";
    ASSERT_EQ(Silog({"send", "--connections",
                     "file(filename=\"" + LSecret + "\", encrypt=true, key=\"key\")"},
                    LLines)
                  .Status,
              0);
    const TResult LS = Silog({"dump", "--key", "key", "--pattern", "%title%", LSecret});
    EXPECT_EQ(LS.Status, 0) << LS.Err;
    EXPECT_EQ(LS.Out, LLines);
}

TEST(SilogFilters, SessionLevelAndTimeSelectPackets) {
    auto LWatch = SiMakeRef<TSiWatch>(wtInteger);
    LWatch->Name = "w";
    LWatch->Value = "1";
    LWatch->Timestamp = At(10, 30);
    auto LHeader = SiMakeRef<TSiLogHeader>();
    LHeader->HostName = "h";
    LHeader->AppName = "a";
    const std::string LPath = TempPath("dump_filters.sil");
    Write(LPath, "SILF" + Bytes({LHeader, Entry("debug", ltDebug, "A", At(9, 0)),
                                 Entry("message", ltMessage, "B", At(10, 0)),
                                 Entry("enter", ltEnterMethod, "A", At(10, 15)), LWatch,
                                 Entry("warning", ltWarning, "A", At(11, 0)),
                                 Entry("assert", ltAssert, "B", At(12, 0)),
                                 Entry("fatal", ltFatal, "C", At(13, 0))}));
    struct TCase {
        std::vector<std::string> Args;
        std::string Out;
    };
    const std::string LAll = "header\ndebug\nmessage\nenter\nwatch\nwarning\nassert\nfatal\n";
    const TCase LCases[] = {
        {{}, LAll},
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
    for (const auto& LC : LCases) {
        std::vector<std::string> LArgs = {"dump", "--pattern", "%title%"};
        LArgs.insert(LArgs.end(), LC.Args.begin(), LC.Args.end());
        LArgs.push_back(LPath);
        const TResult LR = Silog(LArgs);
        EXPECT_EQ(LR.Status, 0) << LR.Err;
        // Other kinds print in their own form; their first word is enough here.
        std::istringstream LLines(LR.Out);
        std::string LLine, LShown;
        while (std::getline(LLines, LLine)) {
            const auto LBracket = LLine.find("] ");
            if (LBracket != std::string::npos) LLine = LLine.substr(LBracket + 2);
            LShown += LLine.substr(0, LLine.find(' ')) + "\n";
        }
        EXPECT_EQ(LShown, LC.Out) << ::testing::PrintToString(LC.Args);
    }
    for (const auto& LBad : std::vector<std::vector<std::string>>{{"--min-level", "loud"},
                                                                  {"--since", "2026-13-01"},
                                                                  {"--until", "25:00"},
                                                                  {"--since", "yesterday"}}) {
        std::vector<std::string> LArgs = {"dump"};
        LArgs.insert(LArgs.end(), LBad.begin(), LBad.end());
        LArgs.push_back(LPath);
        EXPECT_EQ(Silog(LArgs).Status, 2) << ::testing::PrintToString(LBad);
    }
}

// An output stream that a test thread may read while the command writes to it.
class TSharedOutput : public std::stringbuf {
  public:
    std::string Text() {
        std::lock_guard<std::recursive_mutex> LLock(FLock);
        return str();
    }
    bool WaitFor(const std::string& AText) {
        for (int LI = 0; LI < 500; ++LI) {
            if (Text().find(AText) != std::string::npos) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

  protected:
    std::streamsize xsputn(const char* AText, std::streamsize ACount) override {
        std::lock_guard<std::recursive_mutex> LLock(FLock);
        return std::stringbuf::xsputn(AText, ACount);
    }
    int_type overflow(int_type AChar) override {
        std::lock_guard<std::recursive_mutex> LLock(FLock);
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
    const std::string LPath = TempPath("follow.sil");
    Write(LPath, "SILF" + Bytes({Entry("old 1")}));
    TSharedOutput LOut;
    std::ostream LOutStream(&LOut);
    std::ostringstream LErr;
    std::istringstream LIn;
    int LStatus = -1;
    std::thread LFollower([&] {
        LStatus = SilogMain({"dump", "--follow", "--count", "6", "--pattern", "%title%", LPath},
                            LIn, LOutStream, LErr);
    });
    TStopFollower LStop{LFollower};
    ASSERT_TRUE(LOut.WaitFor("old 1\n"));
    // A packet written in two pieces is printed once it is whole.
    const std::string LTwo = Bytes({Entry("old 2")});
    Write(LPath, LTwo.substr(0, 10), std::ios::app);
    std::this_thread::sleep_for(250ms);
    EXPECT_EQ(LOut.Text(), "old 1\n");
    Write(LPath, LTwo.substr(10), std::ios::app);
    ASSERT_TRUE(LOut.WaitFor("old 2\n"));
    // Rotation: the file is moved away, one more packet lands in it, and a new file takes
    // its name.
    std::filesystem::rename(LPath, LPath + ".1");
    Write(LPath + ".1", Bytes({Entry("old 3")}), std::ios::app);
    std::this_thread::sleep_for(250ms);
    Write(LPath, "SILF" + Bytes({Entry("new 1")}));
    Write(LPath, Bytes({Entry("new 2"), Entry("new 3"), Entry("beyond the count")}), std::ios::app);
    LFollower.join();
    EXPECT_EQ(LStatus, 0) << LErr.str();
    EXPECT_EQ(LOut.Text(), "old 1\nold 2\nold 3\nnew 1\nnew 2\nnew 3\n");
    EXPECT_EQ(LErr.str(), "silog: following " + LPath + "\n");
}

TEST(SilogFollow, FollowsTheNewestFileOfABaseNameUntilInterrupted) {
    const std::string LDirectory = TempPath("follow_rotating");
    std::filesystem::create_directory(LDirectory);
    const std::string LBase = LDirectory + "/log.sil";
    const std::string LOlder = LDirectory + "/log-2026-05-01-10-00-00.sil";
    const std::string LNewer = LDirectory + "/log-2026-05-01-11-00-00.sil";
    Write(LOlder, "SILF" + Bytes({Entry("first file")}));
    TSharedOutput LOut;
    std::ostream LOutStream(&LOut);
    std::ostringstream LErr;
    std::istringstream LIn;
    int LStatus = -1;
    std::thread LFollower([&] {
        LStatus =
            SilogMain({"dump", "--follow", "--pattern", "%title%", LBase}, LIn, LOutStream, LErr);
    });
    TStopFollower LStop{LFollower};
    ASSERT_TRUE(LOut.WaitFor("first file\n"));
    Write(LNewer, "SILF" + Bytes({Entry("second file")}));
    ASSERT_TRUE(LOut.WaitFor("second file\n"));
    std::raise(SIGINT);  // the handler is in place: dump printed
    LFollower.join();
    EXPECT_EQ(LStatus, 0) << LErr.str();
    EXPECT_EQ(LOut.Text(), "first file\nsecond file\n");
    EXPECT_EQ(LErr.str(), "silog: following " + LNewer + "\n");

    const TResult LNone = Silog({"dump", "--follow", LDirectory + "/nothing.sil"});
    EXPECT_EQ(LNone.Status, 1);
    EXPECT_EQ(LNone.Err.rfind(LDirectory + "/nothing.sil: ", 0), 0u) << LNone.Err;
}

}  // namespace
}  // namespace deruz::silog
