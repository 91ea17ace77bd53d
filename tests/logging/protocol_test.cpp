// The protocol framework in synchronous mode: options and their aliases, the options text, the
// registry, and the connection state machine with backlog, reconnect interval and errors.
#include "logging/protocols/protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "logging/config/lookup_table.h"
#include "tests/logging/fake_clock.h"
#include "tests/logging/recording_protocol.h"

namespace deruz::logging {
namespace {

using testing::Entry;
using testing::MakeRecording;
using testing::TRecordingProtocol;

using Calls = std::vector<std::string>;

// The options text of a protocol, parsed back into key and value.
std::map<std::string, std::string> OptionsOf(TSiProtocol& AProtocol) {
    std::map<std::string, std::string> LResult;
    TSiOptionsParser::Parse("rec", AProtocol.GetOptions(),
                            [&](const std::string&, const std::string& AKey,
                                const std::string& AValue) { LResult[AKey] = AValue; });
    return LResult;
}

// The message of the ESiError that AAction raises, or "" when it raises nothing.
template <class F>
std::string ErrorOf(F AAction) {
    try {
        AAction();
    } catch (const ESiError& LAError) {
        return LAError.what();
    }
    return "";
}

using testing::TFakeTicks;

// --- Options ----------------------------------------------------------------------------------

TEST(ProtocolOptionsTest, DefaultsInOrder) {
    EXPECT_EQ(MakeRecording("")->GetOptions(),
              "async.enabled=\"false\", async.clearondisconnect=\"false\", async.queue=\"2048\", "
              "async.throttle=\"true\", backlog.enabled=\"false\", backlog.flushon=\"error\", "
              "backlog.keepopen=\"false\", backlog.queue=\"2048\", level=\"debug\", "
              "reconnect=\"false\", reconnect.interval=\"0s\", caption=\"rec\"");
}

TEST(ProtocolOptionsTest, ValuesAndAliases) {
    struct Case {
        const char* Options;
        const char* Key;
        const char* Expected;
    };
    const Case LCases[] = {
        {"Level=Error", "level", "error"},
        {"level=nonsense", "level", "debug"},
        {"reconnect.interval=1s", "reconnect.interval", "1s"},
        {"reconnect.interval=1", "reconnect.interval", "1s"},
        {"reconnect.interval=2m", "reconnect.interval", "120s"},
        {"backlog.queue=1mb", "backlog.queue", "1024"},
        {"backlog.queue=-5", "backlog.queue", "2048"},
        {"async.queue=16", "async.queue", "16"},
        {"async.throttle=false", "async.throttle", "false"},
        {"caption=Main, caption=Second", "caption", "Second"},
        // The alias "backlog" fills only keys that are still absent.
        {"backlog=512", "backlog.enabled", "true"},
        {"backlog=512", "backlog.queue", "512"},
        {"backlog=512, backlog.queue=1024", "backlog.enabled", "true"},
        {"backlog=512, backlog.queue=1024", "backlog.queue", "1024"},
        {"backlog.queue=1024, backlog=512", "backlog.enabled", "true"},
        {"backlog.queue=1024, backlog=512", "backlog.queue", "1024"},
        {"backlog=0", "backlog.enabled", "false"},
        {"backlog=0", "backlog.queue", "0"},
        {"backlog=lots", "backlog.enabled", "false"},
        {"backlog.enabled=true, backlog=0", "backlog.enabled", "true"},
        {"flushon=warning", "backlog.flushon", "warning"},
        {"flushon=warning, backlog.flushon=fatal", "backlog.flushon", "fatal"},
        {"backlog.flushon=fatal, flushon=warning", "backlog.flushon", "fatal"},
        {"keepopen=true", "backlog.keepopen", "true"},
    };
    for (const Case& LCase : LCases) {
        const auto LProtocol = MakeRecording(LCase.Options);
        EXPECT_EQ(OptionsOf(*LProtocol)[LCase.Key], LCase.Expected) << LCase.Options;
    }
}

TEST(ProtocolOptionsTest, OptionsTextReadsBackToTheSameSettings) {
    // Time spans are written in seconds; every value the reader can produce, also one that
    // wrapped around 2^32 milliseconds, reads back unchanged.
    for (const std::uint32_t LMilliseconds : {0u, 8u, 1000u, 86400000u, 3481032704u, 4294967288u}) {
        TSiLookupTable LTable;
        LTable.Put("t", SiTimespanOptionText(LMilliseconds));
        EXPECT_EQ(LTable.GetTimespanValue("t", 7), LMilliseconds) << LMilliseconds;
    }
    // Sizes are written in kilobytes, or in megabytes or gigabytes where the kilobytes would not
    // fit the reader's number (a fuzzer found 8148gb reading back as the default).
    for (const std::int64_t LBytes :
         {std::int64_t{0}, std::int64_t{2048} * 1024, std::int64_t{0x7FFFFFFF} * 1024,
          std::int64_t{4096} * 1024 * 1024, std::int64_t{8148} * 1024 * 1024 * 1024,
          std::int64_t{0x7FFFFFFF} * 1024 * 1024 * 1024}) {
        TSiLookupTable LTable;
        LTable.Put("s", SiSizeOptionText(LBytes));
        EXPECT_EQ(LTable.GetSizeValue("s", 7), LBytes) << LBytes;
    }
    for (const char* LOptions :
         {"reconnect=true, reconnect.interval=90d, level=warning, caption=\"a, \"\"b\"\"\"",
          "backlog=1mb, flushon=fatal, keepopen=true, async.enabled=true, async.queue=3gb",
          "backlog=8148gb, async.queue=4000000mb"}) {
        const auto LFirst = MakeRecording(LOptions);
        const auto LSecond = MakeRecording(LFirst->GetOptions());
        EXPECT_EQ(LSecond->GetOptions(), LFirst->GetOptions()) << LOptions;
    }
}

TEST(ProtocolOptionsTest, InvalidOptionLeavesNothingStored) {
    const auto LOwner = SiMakeProtocol<TRecordingProtocol>();
    TRecordingProtocol& LProtocol = *LOwner;
    EXPECT_EQ(ErrorOf([&] { LProtocol.Initialize("level=error, foo=1"); }),
              "Option \"foo\" not available for protocol \"rec\"");
    EXPECT_EQ(ErrorOf([&] { LProtocol.Initialize("level"); }), "Missing \"=\" at \"rec\" protocol");
    // Still uninitialised, and the level stored before the error is gone.
    LProtocol.Initialize("caption=later");
    EXPECT_EQ(LProtocol.Caption(), "later");
    EXPECT_EQ(OptionsOf(LProtocol)["level"], "debug");
    // Options are fixed by the first successful Initialize.
    LProtocol.Initialize("caption=again");
    EXPECT_EQ(LProtocol.Caption(), "later");
}

// --- Registry ---------------------------------------------------------------------------------

TEST(ProtocolFactoryTest, LookupRegistrationAndErrors) {
    TSiProtocolFactory::RegisterProtocol(" Rec ",
                                         [] { return SiMakeProtocol<TRecordingProtocol>(); });
    const auto LProtocol = TSiProtocolFactory::GetProtocol("REC", "caption=Main");
    EXPECT_EQ(LProtocol->GetName(), "rec");
    EXPECT_EQ(LProtocol->Caption(), "Main");

    EXPECT_EQ(ErrorOf([] { TSiProtocolFactory::GetProtocol("Nope", ""); }),
              "Protocol \"Nope\" not found");
    // What the connections parser makes of "rec(), , rec()": the second name keeps its comma.
    EXPECT_EQ(ErrorOf([] { TSiProtocolFactory::GetProtocol(", rec", ""); }),
              "Protocol \", rec\" not found");
    // The half-made protocol is freed on the way out (the leak checker watches).
    EXPECT_EQ(ErrorOf([] { TSiProtocolFactory::GetProtocol("rec", "foo=1"); }),
              "Option \"foo\" not available for protocol \"rec\"");

    // Empty names and classes are ignored; a second registration replaces the first.
    TSiProtocolFactory::RegisterProtocol("", [] { return SiMakeProtocol<TRecordingProtocol>(); });
    TSiProtocolFactory::RegisterProtocol("rec.none", nullptr);
    EXPECT_EQ(ErrorOf([] { TSiProtocolFactory::GetProtocol("rec.none", ""); }),
              "Protocol \"rec.none\" not found");
    int LFirst = 0;
    int LSecond = 0;
    TSiProtocolFactory::RegisterProtocol("rec.twice", [&] {
        ++LFirst;
        return SiMakeProtocol<TRecordingProtocol>();
    });
    TSiProtocolFactory::RegisterProtocol("rec.twice", [&] {
        ++LSecond;
        return SiMakeProtocol<TRecordingProtocol>();
    });
    TSiProtocolFactory::GetProtocol("rec.twice", "");
    EXPECT_EQ(LFirst, 0);
    EXPECT_EQ(LSecond, 1);
}

// --- State machine ----------------------------------------------------------------------------

TEST(ProtocolTest, LevelFilterAndLogHeader) {
    const auto LProtocol = MakeRecording("level=warning");
    LProtocol->SetAppName("app");
    LProtocol->SetHostName("host");
    LProtocol->Connect();
    LProtocol->WritePacket(*Entry("message", lvMessage));
    LProtocol->WritePacket(*Entry("warning", lvWarning));
    LProtocol->Disconnect();
    LProtocol->Disconnect();  // already closed: nothing more
    EXPECT_EQ(LProtocol->Recorder().Calls(),
              (Calls{"connect", "header:app@host", "write:warning", "disconnect"}));
}

TEST(ProtocolTest, BacklogWithoutKeepOpenWritesBursts) {
    const auto LProtocol = MakeRecording("backlog.enabled=true, backlog.flushon=error");
    LProtocol->SetAppName("app");
    LProtocol->SetHostName("host");
    LProtocol->Connect();  // deferred to the first burst
    for (int LIndex = 0; LIndex < 10; ++LIndex) {
        LProtocol->WritePacket(*Entry("d" + std::to_string(LIndex), lvDebug));
    }
    EXPECT_EQ(LProtocol->Recorder().Count(), 0u);

    LProtocol->WritePacket(*Entry("e", lvError));
    Calls LExpected = {"connect", "header:app@host"};
    for (int LIndex = 0; LIndex < 10; ++LIndex) {
        LExpected.push_back("write:d" + std::to_string(LIndex));
    }
    LExpected.insert(LExpected.end(), {"write:e", "disconnect"});
    EXPECT_EQ(LProtocol->Recorder().Calls(), LExpected);

    // Every burst has a connection of its own.
    LProtocol->Recorder().ClearCalls();
    LProtocol->WritePacket(*Entry("d", lvWarning));
    LProtocol->WritePacket(*Entry("f", lvFatal));
    EXPECT_EQ(LProtocol->Recorder().Calls(),
              (Calls{"connect", "header:app@host", "write:d", "write:f", "disconnect"}));
    EXPECT_FALSE(LProtocol->Failed());
}

TEST(ProtocolTest, BacklogOverflowDropsTheOldestAndCountsThem) {
    const auto LProtocol = MakeRecording("backlog.enabled=true, backlog.queue=1");
    LProtocol->Connect();
    for (int LIndex = 0; LIndex < 100; ++LIndex) {
        LProtocol->WritePacket(*Entry("d" + std::to_string(LIndex), lvDebug));
    }
    LProtocol->WritePacket(*Entry("e", lvError));
    // The burst holds what the 1 KB backlog kept: the newest entries and the error.
    const Calls LCalls = LProtocol->Recorder().Calls();
    const auto LWrites = std::count_if(LCalls.begin(), LCalls.end(), [](const std::string& ACall) {
        return ACall.rfind("write:", 0) == 0;
    });
    ASSERT_GT(LWrites, 1);
    EXPECT_EQ(LCalls.back(), "disconnect");
    EXPECT_EQ(LCalls[LCalls.size() - 3], "write:d99");
    EXPECT_EQ(LProtocol->DroppedPackets(), 101u - static_cast<std::uint64_t>(LWrites));
}

TEST(ProtocolTest, ControlCommandNeverFlushesTheBacklog) {
    // Even with the flush level at debug, below the control level, a control command waits.
    const auto LProtocol =
        MakeRecording("backlog.enabled=true, backlog.keepopen=true, backlog.flushon=debug");
    LProtocol->Connect();
    LProtocol->WritePacket(*SiMakeRef<TSiControlCommand>(ccClearLog));
    EXPECT_EQ(LProtocol->Recorder().Calls(), (Calls{"connect", "header:@"}));
    LProtocol->WritePacket(*Entry("d", lvDebug));
    EXPECT_EQ(LProtocol->Recorder().Calls(), (Calls{"connect", "header:@", "control", "write:d"}));
}

TEST(ProtocolTest, FailedConnectWithoutReconnectDropsSilently) {
    const auto LProtocol = MakeRecording("level=message");
    auto& LRecorder = LProtocol->Recorder();
    LRecorder.FailConnect = true;
    try {
        LProtocol->Connect();
        FAIL() << "Connect did not raise";
    } catch (const ESiProtocolError& LAError) {
        EXPECT_STREQ(LAError.what(), "connect failed");
        EXPECT_EQ(LAError.ProtocolName(), "rec");
        EXPECT_EQ(LAError.ProtocolOptions(), LProtocol->GetOptions());
    }
    EXPECT_TRUE(LProtocol->Failed());
    EXPECT_EQ(LRecorder.Calls(), (Calls{"connect", "disconnect"}));

    LRecorder.FailConnect = false;
    for (int LIndex = 0; LIndex < 3; ++LIndex) {
        LProtocol->WritePacket(*Entry("dropped"));
    }
    EXPECT_EQ(LRecorder.Count(), 2u);
    EXPECT_TRUE(LProtocol->Failed());

    // Until the next Connect.
    LProtocol->Connect();
    LProtocol->WritePacket(*Entry("kept"));
    EXPECT_FALSE(LProtocol->Failed());
    EXPECT_EQ(LRecorder.Calls(),
              (Calls{"connect", "disconnect", "connect", "header:@", "write:kept"}));
}

TEST(ProtocolTest, ReconnectWaitsForTheIntervalAcrossTheCounterWrap) {
    struct Case {
        const char* Options;
        std::uint32_t Interval;
    };
    for (const Case& LCase : {Case{"reconnect=true, reconnect.interval=10s", 10000},
                              Case{"reconnect=true, reconnect.interval=1", 1000}}) {
        SCOPED_TRACE(LCase.Options);
        const std::uint32_t LStart = 0xFFFFFFFFu - LCase.Interval / 2;  // wraps mid-interval
        TFakeTicks LTicks(LStart);
        const auto LProtocol = MakeRecording(LCase.Options);
        auto& LRecorder = LProtocol->Recorder();
        LRecorder.FailConnect = true;
        EXPECT_THROW(LProtocol->Connect(), ESiProtocolError);
        LRecorder.FailConnect = false;
        LRecorder.PeerAbsent = true;
        const auto LAttempts = [&] {
            const Calls LCalls = LRecorder.Calls();
            return std::count(LCalls.begin(), LCalls.end(), "reconnect");
        };

        // Each step: the time since the failed connect, and the attempts made by then.
        const std::uint32_t LI = LCase.Interval;
        const std::pair<std::uint32_t, long> LSteps[] = {{1, 0},      {LI - 1, 0},     {LI, 1},
                                                         {LI + 1, 1}, {2 * LI - 1, 1}, {2 * LI, 2}};
        for (const auto& [LElapsed, LExpected] : LSteps) {
            LTicks.Set(LStart + LElapsed);
            LProtocol->WritePacket(*Entry("p"));  // never raises
            EXPECT_EQ(LAttempts(), LExpected) << "after " << LElapsed << " ms";
            EXPECT_TRUE(LProtocol->Failed());
        }

        // Measured from the last failed attempt: the peer is back, the next try succeeds.
        LRecorder.PeerAbsent = false;
        LTicks.Set(LStart + 3 * LI - 1);
        LProtocol->WritePacket(*Entry("early"));
        LTicks.Set(LStart + 3 * LI);
        LProtocol->WritePacket(*Entry("late"));
        EXPECT_FALSE(LProtocol->Failed());
        const Calls LCalls = LRecorder.Calls();
        EXPECT_EQ(Calls(LCalls.end() - 3, LCalls.end()),
                  (Calls{"reconnect", "header:@", "write:late"}));
    }
}

TEST(ProtocolTest, ReconnectWaitsOnlyAfterAResetAndWithAnInterval) {
    TFakeTicks LTicks(5);  // also: no reset yet, so nothing to wait for
    const auto LProtocol = MakeRecording("reconnect=true, reconnect.interval=1s");
    LProtocol->Recorder().PeerAbsent = true;
    LProtocol->WritePacket(*Entry("a"));
    EXPECT_EQ(LProtocol->Recorder().Calls(), (Calls{"reconnect", "disconnect"}));

    const auto LEager = MakeRecording("reconnect=true");
    LEager->Recorder().PeerAbsent = true;
    LEager->WritePacket(*Entry("a"));
    LEager->WritePacket(*Entry("b"));
    EXPECT_EQ(LEager->Recorder().Calls(),
              (Calls{"reconnect", "disconnect", "reconnect", "disconnect"}));
}

// A failed burst keeps what it had not yet handed to the protocol: the packet that flushed the
// backlog goes out first in the next burst. The one whose write raised is the protocol's to
// report (this protocol confirms nothing, so it is gone).
TEST(ProtocolTest, WriteErrorKeepsWhatTheBurstHadNotSent) {
    const auto LProtocol = MakeRecording("backlog.enabled=true, backlog.keepopen=true");
    auto& LRecorder = LProtocol->Recorder();
    LProtocol->Connect();
    LProtocol->WritePacket(*Entry("held", lvDebug));
    LRecorder.FailWrite = true;
    EXPECT_EQ(ErrorOf([&] { LProtocol->WritePacket(*Entry("e", lvError)); }), "write failed");
    EXPECT_TRUE(LProtocol->Failed());
    EXPECT_EQ(LRecorder.Calls(), (Calls{"connect", "header:@", "write:held", "disconnect"}));

    LRecorder.FailWrite = false;
    LRecorder.ClearCalls();
    LProtocol->Connect();
    LProtocol->WritePacket(*Entry("e2", lvError));
    EXPECT_EQ(LRecorder.Calls(), (Calls{"connect", "header:@", "write:e", "write:e2"}));
    EXPECT_EQ(LProtocol->DroppedPackets(), 0u);
}

// A burst that finds no connection (the peer absent, or the reconnect interval not yet over)
// waits in the backlog, whole and in order, for the next one.
TEST(ProtocolTest, BurstWithoutConnectionWaitsInTheBacklog) {
    const auto LProtocol =
        MakeRecording("backlog.enabled=true, backlog.keepopen=true, reconnect=true");
    auto& LRecorder = LProtocol->Recorder();
    LRecorder.PeerAbsent = true;
    LProtocol->WritePacket(*Entry("d1", lvDebug));
    LProtocol->WritePacket(*Entry("d2", lvDebug));
    LProtocol->WritePacket(*Entry("e1", lvError));
    EXPECT_TRUE(LProtocol->Failed());
    EXPECT_EQ(LRecorder.Calls(), (Calls{"reconnect", "disconnect"}));

    LRecorder.PeerAbsent = false;
    LRecorder.ClearCalls();
    LProtocol->WritePacket(*Entry("d3", lvDebug));
    LProtocol->WritePacket(*Entry("e2", lvError));
    EXPECT_EQ(LRecorder.Calls(), (Calls{"reconnect", "header:@", "write:d1", "write:d2", "write:e1",
                                        "write:d3", "write:e2"}));
    EXPECT_FALSE(LProtocol->Failed());
    EXPECT_EQ(LProtocol->DroppedPackets(), 0u);
}

// A burst that a lost connection held back is not cleared unsaid at the end: the disconnect
// sends it when the peer is back, and counts it as dropped when the peer stays away. Packets
// held only for their level (no burst was due) go as before, uncounted.
TEST(ProtocolTest, DisconnectSendsAHeldBurstOrCountsIt) {
    for (const bool LPeerBack : {true, false}) {
        SCOPED_TRACE(LPeerBack ? "peer back" : "peer away");
        const auto LProtocol = MakeRecording(
            "backlog.enabled=true, backlog.keepopen=true, backlog.flushon=debug, reconnect=true");
        auto& LRecorder = LProtocol->Recorder();
        LRecorder.PeerAbsent = true;
        LProtocol->WritePacket(*Entry("m1", lvMessage));
        LProtocol->WritePacket(*Entry("m2", lvMessage));
        LRecorder.PeerAbsent = !LPeerBack;
        LRecorder.ClearCalls();
        LProtocol->Disconnect();
        if (LPeerBack) {
            EXPECT_EQ(LRecorder.Calls(),
                      (Calls{"reconnect", "header:@", "write:m1", "write:m2", "disconnect"}));
            EXPECT_EQ(LProtocol->DroppedPackets(), 0u);
        } else {
            EXPECT_EQ(LProtocol->DroppedPackets(), 2u);
        }
    }
    const auto LHeldForLevel =
        MakeRecording("backlog.enabled=true, backlog.keepopen=true, reconnect=true");
    LHeldForLevel->Connect();
    LHeldForLevel->WritePacket(*Entry("context", lvDebug));
    LHeldForLevel->Recorder().ClearCalls();
    LHeldForLevel->Disconnect();
    EXPECT_EQ(LHeldForLevel->Recorder().Calls(), (Calls{"disconnect"}));
    EXPECT_EQ(LHeldForLevel->DroppedPackets(), 0u);
}

TEST(ProtocolTest, DispatchAndDisconnectErrors) {
    const auto LProtocol = MakeRecording("");
    auto& LRecorder = LProtocol->Recorder();
    const auto LCommand = SiMakeRef<TSiProtocolCommand>(7, nullptr);
    LProtocol->Dispatch(*LCommand);  // not connected: nothing
    LProtocol->Connect();
    LProtocol->Dispatch(*LCommand);
    EXPECT_EQ(LRecorder.Calls(), (Calls{"connect", "header:@", "dispatch:7"}));
    EXPECT_EQ(LCommand->RefCount(), 1);

    LRecorder.FailDispatch = true;
    EXPECT_EQ(ErrorOf([&] { LProtocol->Dispatch(*LCommand); }), "dispatch failed");
    EXPECT_TRUE(LProtocol->Failed());

    LRecorder.FailDisconnect = true;
    EXPECT_EQ(ErrorOf([&] { LProtocol->Disconnect(); }), "disconnect failed");
    EXPECT_EQ(LRecorder.Calls().back(), "disconnect");
}

TEST(ProtocolTest, DestructionDisconnects) {
    auto LProtocol = MakeRecording("");
    const auto LRecorder = LProtocol->SharedRecorder();
    LProtocol->Connect();
    LRecorder->FailDisconnect = true;  // swallowed by the destructor
    LProtocol.reset();
    EXPECT_EQ(LRecorder->Calls(), (Calls{"connect", "header:@", "disconnect"}));
}

}  // namespace
}  // namespace deruz::logging
