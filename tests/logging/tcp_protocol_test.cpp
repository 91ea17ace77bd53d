// The "tcp" protocol against an in-process viewer: the bytes on the wire, the acknowledgements,
// the options, the failure texts, and the timeouts of a new socket.
#include "logging/protocols/tcp_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logging/system/socket.h"
#include "tests/logging/viewer_peer.h"

namespace deruz::logging {
namespace {

using testing::ExpectedStream;
using testing::MakeProtocol;
using testing::ProtocolErrorOf;
using testing::TcpViewer;
using testing::TViewerRecord;
using testing::Write;

using Events = std::vector<std::string>;

std::string Options(TSiViewerServer& AServer, const std::string& AMore = "") {
    std::string LOptions = "port=" + std::to_string(AServer.TcpPort()) + ", timeout=2000";
    return AMore.empty() ? LOptions : LOptions + ", " + AMore;
}

// The timeouts the protocol's current socket holds, as "receive/send".
std::string AppliedTimeouts(TSiProtocol& AProtocol) {
    std::int32_t LReceive = -1;
    std::int32_t LSend = -1;
    if (!static_cast<TSiTcpProtocol&>(AProtocol).TcpClient().AppliedTimeouts(LReceive, LSend)) {
        return "no socket";
    }
    return std::to_string(LReceive) + "/" + std::to_string(LSend);
}

TEST(TcpProtocolTest, DefaultsAndPortInSixteenBits) {
    struct Case {
        const char* Options;
        std::uint16_t Port;
    };
    for (const Case& LCase : {Case{"", 4228}, Case{"port=70000", 4464}, Case{"port=65536", 0}}) {
        SCOPED_TRACE(LCase.Options);
        auto LProtocol = MakeProtocol("tcp", LCase.Options);
        const auto& LClient = static_cast<TSiTcpProtocol&>(*LProtocol).TcpClient();
        EXPECT_EQ(LClient.Host(), "127.0.0.1");
        EXPECT_EQ(LClient.Port(), LCase.Port);
        const std::string LText = LProtocol->GetOptions();
        EXPECT_NE(LText.find("host=\"127.0.0.1\", port=\"" + std::to_string(LCase.Port) +
                             "\", timeout=\"30000\""),
                  std::string::npos)
            << LText;
    }
}

// Where port 4464 is free, the option 70000 really connects there.
TEST(TcpProtocolTest, Port70000ConnectsTo4464) {
    auto LOptions = TcpViewer();
    LOptions.TcpPort = 4464;
    TViewerRecord LViewer(LOptions);
    try {
        LViewer.Server().Start();
    } catch (const ESiError& LAError) {
        GTEST_SKIP() << "port 4464 is taken here: " << LAError.what();
    }
    auto LProtocol = MakeProtocol("tcp", "port=70000, timeout=2000");
    LProtocol->Connect();
    EXPECT_TRUE(LViewer.WaitEvent("header:app@host"));
}

// The viewer receives the client banner, the log header and the packets; every packet,
// the header included, is acknowledged before the next one goes out. The host may be a name.
TEST(TcpProtocolTest, ViewerReceivesBannerHeaderAndPacketsInOrder) {
    for (const char* LHost : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(LHost);
        auto LOptions = TcpViewer();
        LOptions.Banner = "A\rB";
        TViewerRecord LViewer(LOptions);
        LViewer.Server().Start();

        auto LProtocol =
            MakeProtocol("tcp", Options(LViewer.Server(), "host=\"" + std::string(LHost) + "\""));
        ExpectFirstLargeLast(*LProtocol, LViewer);
    }
}

TEST(TcpProtocolTest, NoViewerFailsOnceThenDropsPackets) {
    std::uint16_t LFreePort = 0;
    {
        TSiViewerServer LProbe(TcpViewer());
        LProbe.Start();
        LFreePort = LProbe.TcpPort();
    }
    auto LProtocol = MakeProtocol("tcp", "port=" + std::to_string(LFreePort));
    EXPECT_EQ(ProtocolErrorOf([&] { LProtocol->Connect(); }),
              SiSocketErrorText(testing::TestConnectionRefusedCode()));
    EXPECT_TRUE(LProtocol->Failed());
    EXPECT_EQ(ProtocolErrorOf([&] { Write(*LProtocol, "dropped"); }), "");
}

// Viewers that go wrong at each step of the exchange.
TEST(TcpProtocolTest, MisbehavingViewers) {
    struct Case {
        const char* Name;
        void (*Configure)(TSiViewerServerOptions&);
        bool FailsOnConnect;
        int ExpectedCode;  // 0: the text below
        const char* ExpectedText;
    };
    const Case LCases[] = {
        {"closes during its banner",
         [](TSiViewerServerOptions& AOptions) {
             AOptions.Banner = "Hal";
             AOptions.TerminateBanner = false;
             AOptions.CloseAfterBanner = true;
         },
         true, 0, "Socket connection has been unexpectedly closed"},
        {"never sends its banner",
         [](TSiViewerServerOptions& AOptions) { AOptions.SendBanner = false; }, true,
         testing::TestTimedOutCode(), ""},
        {"closes before acknowledging the log header",
         [](TSiViewerServerOptions& AOptions) { AOptions.AcknowledgeLimit = 0; }, true, 0,
         "Socket connection has been unexpectedly closed"},
        {"closes before acknowledging a packet",
         [](TSiViewerServerOptions& AOptions) { AOptions.AcknowledgeLimit = 1; }, false, 0,
         "Socket connection has been unexpectedly closed"},
        {"closes after one byte of an acknowledgement",
         [](TSiViewerServerOptions& AOptions) {
             AOptions.AcknowledgeLimit = 1;
             AOptions.PartialAcknowledgement = 1;
         },
         false, 0, "Socket connection has been unexpectedly closed"},
    };
    // With window=1 the write that waits for the acknowledgement fails; with a window the write
    // returns and the disconnect, which waits for every outstanding acknowledgement, fails alike
    // and counts the packet as lost. The connect waits for the log header's either way.
    for (const Case& LCase : LCases) {
        for (const int LWindow : {1, 8}) {
            SCOPED_TRACE(std::string(LCase.Name) + ", window=" + std::to_string(LWindow));
            auto LOptions = TcpViewer();
            LCase.Configure(LOptions);
            TViewerRecord LViewer(LOptions);
            LViewer.Server().Start();
            const std::string LExpected = LCase.ExpectedCode != 0
                                              ? SiSocketErrorText(LCase.ExpectedCode)
                                              : LCase.ExpectedText;

            auto LProtocol =
                MakeProtocol("tcp", "port=" + std::to_string(LViewer.Server().TcpPort()) +
                                        ", timeout=200, window=" + std::to_string(LWindow));
            const std::string LConnectError = ProtocolErrorOf([&] { LProtocol->Connect(); });
            if (LCase.FailsOnConnect) {
                EXPECT_EQ(LConnectError, LExpected);
            } else if (LWindow == 1) {
                EXPECT_EQ(LConnectError, "");
                EXPECT_EQ(ProtocolErrorOf([&] { Write(*LProtocol, "unacknowledged"); }), LExpected);
                EXPECT_EQ(LProtocol->DroppedPackets(), 1u);
            } else {
                EXPECT_EQ(LConnectError, "");
                EXPECT_EQ(ProtocolErrorOf([&] { Write(*LProtocol, "unacknowledged"); }), "");
                EXPECT_EQ(ProtocolErrorOf([&] { LProtocol->Disconnect(); }), LExpected);
                EXPECT_EQ(LProtocol->DroppedPackets(), 1u);
            }
            EXPECT_TRUE(LProtocol->Failed());
            EXPECT_EQ(AppliedTimeouts(*LProtocol), "no socket");
        }
    }
}

// Each new socket starts with the default timeouts; the protocol's own must be applied again
// after a reconnect, or a silent viewer would hold the writer for 30 seconds instead of its
// timeout. A timeout of 0 means no limit at all.
TEST(TcpProtocolTest, TimeoutsAppliedToEverySocket) {
    auto LOptions = TcpViewer();
    LOptions.AcknowledgeLimit = 2;
    TViewerRecord LViewer(LOptions);
    LViewer.Server().Start();
    const std::string LPort = "port=" + std::to_string(LViewer.Server().TcpPort());

    auto LProtocol = MakeProtocol("tcp", LPort + ", timeout=400, reconnect=true, window=1");
    LProtocol->Connect();
    EXPECT_EQ(AppliedTimeouts(*LProtocol), "400/400");
    Write(*LProtocol, "acknowledged");
    EXPECT_EQ(ProtocolErrorOf([&] { Write(*LProtocol, "lost"); }),
              "Socket connection has been unexpectedly closed");
    Write(*LProtocol, "after reconnect");
    EXPECT_FALSE(LProtocol->Failed());
    EXPECT_EQ(AppliedTimeouts(*LProtocol), "400/400");
    ASSERT_TRUE(LViewer.WaitEvent("entry:after reconnect"));
    EXPECT_EQ(LViewer.Bytes(2), ExpectedStream({"after reconnect"}));
    // One connection at a time here, so that the next one is the unlimited one checked below.
    LProtocol->Disconnect();

    auto LUnlimited = MakeProtocol("tcp", LPort + ", timeout=0");
    LUnlimited->Connect();
    EXPECT_EQ(AppliedTimeouts(*LUnlimited), "0/0");
}

}  // namespace
}  // namespace deruz::logging
