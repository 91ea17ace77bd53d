// The "pipe" protocol against an in-process viewer: the bytes on the wire, the failure texts,
// reconnecting with an interval; and the write buffer in front of it.
#include "logging/protocols/pipe_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "logging/base/strings.h"
#include "logging/io/buffered_stream.h"
#include "logging/system/pipe_transport.h"
#include "logging/viewer/viewer_transport.h"
#include "tests/logging/viewer_peer.h"

namespace deruz::logging {
namespace {

using testing::ExpectedStream;
using testing::MakeProtocol;
using testing::PipeViewer;
using testing::ProtocolErrorOf;
using testing::TFakeTicks;
using testing::TViewerRecord;
using testing::UniquePipeName;
using testing::Write;

using Events = std::vector<std::string>;

// --- Write buffer -----------------------------------------------------------------------------

// A stream that records the size of every write it is given and can be told to fail.
class TRecordingStream final : public TSiStream {
  public:
    std::size_t Read(void*, std::size_t) override { return 0; }
    std::size_t Write(const void* ABuffer, std::size_t ACount) override {
        if (Fail) {
            return 0;
        }
        Writes.push_back(ACount);
        Bytes.append(static_cast<const char*>(ABuffer), ACount);
        return ACount;
    }
    bool Fail = false;
    std::vector<std::size_t> Writes;
    std::string Bytes;
};

TEST(PipeBufferedStreamTest, GathersSmallWritesAndPassesLargeOnes) {
    TRecordingStream LTarget;
    TSiBufferedStream LBuffer(LTarget, 8192);
    const std::string LSmall(100, 'a');
    const std::string LAlmost(8191, 'b');
    const std::string LFull(8192, 'c');

    LBuffer.WriteBuffer(LSmall.data(), LSmall.size());
    EXPECT_TRUE(LTarget.Writes.empty());
    // 8191 bytes do not fit beside the 100: those go out first, the 8191 are held.
    LBuffer.WriteBuffer(LAlmost.data(), LAlmost.size());
    EXPECT_EQ(LTarget.Writes, (std::vector<std::size_t>{100}));
    EXPECT_EQ(LBuffer.Count(), 8191u);
    // 8192 bytes flush what is held and go straight through.
    LBuffer.WriteBuffer(LFull.data(), LFull.size());
    EXPECT_EQ(LTarget.Writes, (std::vector<std::size_t>{100, 8191, 8192}));
    EXPECT_EQ(LBuffer.Count(), 0u);
    EXPECT_EQ(LTarget.Bytes, LSmall + LAlmost + LFull);
}

// Where the target can gather, the held bytes leave together with a large write; a target
// that takes only part of them gets the rest before anything else.
TEST(PipeBufferedStreamTest, HeldBytesAndALargeWriteGoOutTogether) {
    class TGatherStream final : public TSiStream, public TSiGatherStream {
      public:
        std::size_t Read(void*, std::size_t) override { return 0; }
        std::size_t Write(const void* ABuffer, std::size_t ACount) override {
            Calls.push_back("write " + std::to_string(ACount));
            Bytes.append(static_cast<const char*>(ABuffer), ACount);
            return ACount;
        }
        std::size_t WritePair(const void* AFirst, std::size_t AFirstCount, const void* ASecond,
                              std::size_t ASecondCount) override {
            Calls.push_back("pair " + std::to_string(AFirstCount) + "+" +
                            std::to_string(ASecondCount));
            const std::size_t LFirst = std::min(AFirstCount, Limit);
            Bytes.append(static_cast<const char*>(AFirst), LFirst);
            const std::size_t LSecond = std::min(ASecondCount, Limit - LFirst);
            Bytes.append(static_cast<const char*>(ASecond), LSecond);
            return LFirst + LSecond;
        }
        std::size_t Limit = SIZE_MAX;
        std::vector<std::string> Calls;
        std::string Bytes;
    };
    const std::string LHeader = "header";
    const std::string LBody(10000, 'b');
    for (const std::size_t LLimit : {SIZE_MAX, std::size_t{100}, std::size_t{4}}) {
        SCOPED_TRACE(LLimit);
        TGatherStream LTarget;
        LTarget.Limit = LLimit;
        TSiBufferedStream LBuffer(LTarget, 8192);
        LBuffer.WriteBuffer(LHeader.data(), LHeader.size());
        LBuffer.WriteBuffer(LBody.data(), LBody.size());
        EXPECT_EQ(LTarget.Bytes, LHeader + LBody);
        EXPECT_EQ(LTarget.Calls.front(), "pair 6+10000");
    }
}

TEST(PipeBufferedStreamTest, FailedFlushGivesUpTheHeldBytes) {
    TRecordingStream LTarget;
    {
        TSiBufferedStream LBuffer(LTarget, 64);
        LBuffer.WriteBuffer("abc", 3);
        LTarget.Fail = true;
        try {
            LBuffer.Flush();
            ADD_FAILURE() << "Flush did not raise";
        } catch (const ESiStreamError& LAError) {
            EXPECT_STREQ(LAError.what(), "Stream write error");
        }
        EXPECT_EQ(LBuffer.Count(), 0u);
        LTarget.Fail = false;
        LBuffer.WriteBuffer("de", 2);
    }
    // The failed bytes are not sent again later: that would repeat what may already be out.
    EXPECT_EQ(LTarget.Bytes, "de");
}

// --- The protocol -----------------------------------------------------------------------------

TEST(PipeProtocolTest, DefaultPipeName) {
    const std::string LOptions = MakeProtocol("pipe", "")->GetOptions();
    EXPECT_NE(LOptions.find("pipename=\"silog\""), std::string::npos) << LOptions;
}

// Whatever the viewer's banner line holds (a CR, nothing at all), the client reads it to its
// LF and the viewer receives exactly the client banner, the log header and the packets.
TEST(PipeProtocolTest, ViewerReceivesBannerHeaderAndPacketsInOrder) {
    for (const char* LBanner : {"OK", "A\rB\r", ""}) {
        SCOPED_TRACE(::testing::PrintToString(std::string(LBanner)));
        const std::string LName = UniquePipeName();
        auto LOptions = PipeViewer(LName);
        LOptions.Banner = LBanner;
        TViewerRecord LViewer(LOptions);
        LViewer.Server().Start();

        auto LProtocol = MakeProtocol("pipe", "pipename=\"" + LName + "\"");
        ExpectFirstLargeLast(*LProtocol, LViewer);
    }
}

TEST(PipeProtocolTest, NoViewerFailsOnceThenDropsPackets) {
    auto LProtocol = MakeProtocol("pipe", "pipename=\"" + UniquePipeName() + "\"");
    EXPECT_EQ(ProtocolErrorOf([&] { LProtocol->Connect(); }),
              SiSystemErrorText(testing::TestFileNotFoundCode()));
    EXPECT_TRUE(LProtocol->Failed());
    EXPECT_EQ(ProtocolErrorOf([&] { Write(*LProtocol, "dropped"); }), "");
    EXPECT_TRUE(LProtocol->Failed());
}

// A pipe whose server the identity check refuses (on Windows a process of another user, which
// may have taken the name first) gets nothing from the client, not even its banner: the
// protocol fails once with a text that names the pipe, and drops later packets as when no
// viewer listens. The check is replaced here because a test machine has one user.
TEST(PipeProtocolTest, ServerOfAnotherUserGetsNothing) {
    struct TRefuseEveryServer {
        TSiPipeServerCheck FBefore = SiSetPipeServerCheck(
            [](std::intptr_t) -> std::uint32_t { return kSiPipeServerNotTrusted; });
        ~TRefuseEveryServer() { SiSetPipeServerCheck(FBefore); }
    } LRefuse;
    const std::string LName = UniquePipeName();
    TViewerRecord LViewer(PipeViewer(LName));
    LViewer.Server().Start();

    auto LProtocol = MakeProtocol("pipe", "pipename=\"" + LName + "\"");
    EXPECT_EQ(ProtocolErrorOf([&] { LProtocol->Connect(); }),
              "The pipe \"" + LName +
                  "\" is not served by a process of this user; nothing is sent to it");
    EXPECT_TRUE(LProtocol->Failed());
    EXPECT_EQ(ProtocolErrorOf([&] { Write(*LProtocol, "dropped"); }), "");
    LProtocol->Disconnect();
    ASSERT_TRUE(LViewer.WaitDisconnects(1));
    EXPECT_EQ(LViewer.Bytes(1), "");
    for (const std::string& LEvent : LViewer.Events()) {
        EXPECT_EQ(LEvent.rfind("disconnect:", 0), 0u) << LEvent;
    }
}

// The default check lets a viewer of this process's own user through (every other test of the
// protocol relies on that), and a second viewer cannot take a name that one already serves.
TEST(PipeProtocolTest, SecondViewerOfANameIsRefused) {
    const std::string LName = UniquePipeName();
    TViewerRecord LViewer(PipeViewer(LName));
    LViewer.Server().Start();
    try {
        SiListenPipe(LName);
        ADD_FAILURE() << "a second viewer was allowed to serve the name";
    } catch (const ESiError& LAError) {
        EXPECT_NE(std::string(LAError.what()).find("another process already serves this name"),
                  std::string::npos)
            << LAError.what();
    }
}

TEST(PipeProtocolTest, ViewerClosingDuringItsBanner) {
    const std::string LName = UniquePipeName();
    auto LOptions = PipeViewer(LName);
    LOptions.Banner = "Hal";
    LOptions.TerminateBanner = false;
    LOptions.CloseAfterBanner = true;
    TViewerRecord LViewer(LOptions);
    LViewer.Server().Start();

    auto LProtocol = MakeProtocol("pipe", "pipename=\"" + LName + "\"");
    EXPECT_EQ(ProtocolErrorOf([&] { LProtocol->Connect(); }),
              "Pipe connection has been unexpectedly closed");
    EXPECT_TRUE(LProtocol->Failed());
}

// With reconnect and an interval of 1 s: no attempt before the interval has passed since the
// last failure; then a fresh banner exchange and log header, and the packet. The same after a
// viewer that goes away mid-session.
TEST(PipeProtocolTest, ReconnectAfterTheIntervalWithAFreshHandshake) {
    TFakeTicks LTicks(5000);
    const std::string LName = UniquePipeName();
    auto LProtocol =
        MakeProtocol("pipe", "pipename=\"" + LName + "\", reconnect=true, reconnect.interval=1s");
    EXPECT_EQ(ProtocolErrorOf([&] { LProtocol->Connect(); }),
              SiSystemErrorText(testing::TestFileNotFoundCode()));

    auto LFirst = std::make_unique<TViewerRecord>(PipeViewer(LName));
    LFirst->Server().Start();
    LTicks.Set(5999);
    EXPECT_EQ(ProtocolErrorOf([&] { Write(*LProtocol, "too early"); }), "");
    EXPECT_EQ(LFirst->Server().Connections(), 0u);
    LTicks.Set(6000);
    EXPECT_EQ(ProtocolErrorOf([&] { Write(*LProtocol, "on time"); }), "");
    EXPECT_FALSE(LProtocol->Failed());
    ASSERT_TRUE(LFirst->WaitEvent("entry:on time"));
    EXPECT_EQ(LFirst->Bytes(1), ExpectedStream({"on time"}));

    // The viewer goes away: the next write fails, and the one after the interval reaches the
    // new viewer.
    LFirst.reset();
    LTicks.Set(7000);
    EXPECT_EQ(ProtocolErrorOf([&] { Write(*LProtocol, "lost"); }), "Stream write error");
    TViewerRecord LSecond(PipeViewer(LName));
    LSecond.Server().Start();
    LTicks.Set(7999);
    Write(*LProtocol, "still waiting");
    EXPECT_EQ(LSecond.Server().Connections(), 0u);
    LTicks.Set(8000);
    Write(*LProtocol, "back");
    LProtocol->Disconnect();
    ASSERT_TRUE(LSecond.WaitDisconnects(1));
    EXPECT_EQ(LSecond.Bytes(1), ExpectedStream({"back"}));
}

}  // namespace
}  // namespace deruz::logging
