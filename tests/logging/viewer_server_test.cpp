// The viewer server: what it makes of malformed clients, serving clients one after another on
// a pipe and TCP at once, acknowledgements held back by the owner, stopping, and a pipe name
// that another viewer already serves.
#include "logging/viewer/viewer_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "logging/format/binary_formatter.h"
#include "logging/system/pipe_transport.h"
#include "tests/logging/viewer_peer.h"

namespace deruz::logging {
namespace {

using testing::Entry;
using testing::MakeProtocol;
using testing::PipeViewer;
using testing::ProtocolErrorOf;
using testing::TcpViewer;
using testing::Text;
using testing::TViewerRecord;
using testing::UniquePipeName;
using testing::Write;

// A raw client: reads the viewer's banner line, sends ABytes, and closes when AClose is set.
// Returns whether the viewer then closed the connection (a read gives nothing).
bool RawClient(const std::string& APipeName, const std::string& ABytes, bool AClose) {
    TSiPipeHandle LPipe;
    if (LPipe.Open(APipeName) != 0) {
        ADD_FAILURE() << "cannot open the pipe";
        return false;
    }
    char LByte = 0;
    while (LPipe.Read(&LByte, 1) == 1 && LByte != '\n') {
    }
    EXPECT_EQ(LPipe.Write(ABytes.data(), ABytes.size()), ABytes.size());
    if (AClose) {
        return true;
    }
    return LPipe.Read(&LByte, 1) == 0;
}

TEST(ViewerServerTest, MalformedInputEndsOnlyThatConnection) {
    const std::string LBanner = "SiLog test\n";
    const std::string LPacket = Text(SiFormatBinary(*Entry("fine")));
    const std::string LOffset = std::to_string(LBanner.size() + LPacket.size());
    struct Case {
        std::string Bytes;
        bool ClientCloses;
        std::string Error;
    };
    const Case LCases[] = {
        {"Hello\n", false, "Unexpected client banner \"Hello\""},
        {std::string(65, 'S'), false, "Client banner line longer than 64 bytes"},
        {LBanner + LPacket + std::string("\x63\x00\x00\x00\x00\x00", 6), false,
         "Unknown packet type code 99 at offset " + LOffset},
        {LBanner + LPacket + std::string("\x04\x00\x00\x00\x10\x00", 6), false,
         "Packet of 1048582 bytes at offset " + LOffset + " exceeds the limit of 1024 bytes"},
        {LBanner + LPacket + LPacket.substr(0, 9), true,
         "Connection closed inside a packet (9 bytes received at offset " + LOffset + ")"},
        {"SiLog", true, "Connection closed before the client banner line ended"},
    };
    const std::string LName = UniquePipeName();
    auto LOptions = PipeViewer(LName);
    LOptions.MaxBannerLength = 64;
    LOptions.MaxPacketSize = 1024;
    TViewerRecord LViewer(LOptions);
    LViewer.Server().Start();

    int LCount = 0;
    for (const Case& LCase : LCases) {
        SCOPED_TRACE(LCase.Error);
        EXPECT_TRUE(RawClient(LName, LCase.Bytes, LCase.ClientCloses));
        ASSERT_TRUE(LViewer.WaitDisconnects(++LCount));
        EXPECT_EQ(LViewer.Events().back(), "disconnect:" + LCase.Error);
    }
    // The viewer goes on serving.
    auto LProtocol = MakeProtocol("pipe", "pipename=\"" + LName + "\"");
    LProtocol->Connect();
    Write(*LProtocol, "after them");
    EXPECT_TRUE(LViewer.WaitEvent("entry:after them"));
}

TEST(ViewerServerTest, ServesPipeAndTcpTogetherOneClientAfterAnother) {
    const std::string LName = UniquePipeName();
    auto LOptions = TcpViewer();
    LOptions.PipeName = LName;
    TViewerRecord LViewer(LOptions);
    LViewer.Server().Start();
    ASSERT_NE(LViewer.Server().TcpPort(), 0);

    for (const char* LTitle : {"one", "two"}) {
        auto LPipe = MakeProtocol("pipe", "pipename=\"" + LName + "\"");
        auto LTcp = MakeProtocol(
            "tcp", "port=" + std::to_string(LViewer.Server().TcpPort()) + ", timeout=2000");
        LPipe->Connect();
        LTcp->Connect();
        Write(*LPipe, std::string("pipe ") + LTitle);
        Write(*LTcp, std::string("tcp ") + LTitle);
    }
    EXPECT_TRUE(LViewer.WaitDisconnects(4));
    EXPECT_EQ(LViewer.Server().Connections(), 4u);
    // Each client: its log header and its entry.
    EXPECT_EQ(LViewer.Server().Packets(), 8u);
    for (const char* LEvent :
         {"entry:pipe one", "entry:tcp one", "entry:pipe two", "entry:tcp two"}) {
        EXPECT_TRUE(LViewer.WaitEvent(LEvent)) << LEvent;
    }
}

// The owner (silog collect) lets acknowledgements go only once the packets are safe: until
// OnAcknowledge returns, a client that waits for them is not answered, and when it raises the
// connection ends unacknowledged, so that the client sends the packet again.
TEST(ViewerServerTest, AcknowledgementsWaitForTheOwner) {
    TSiViewerServer LServer(TcpViewer());
    std::promise<void> LRelease;
    std::shared_future<void> LReleased = LRelease.get_future().share();
    std::atomic<int> LPackets{0};
    std::atomic<bool> LRefuse{false};
    LServer.OnPacket = [&](const TSiViewerConnection&, TSiPacket&) { ++LPackets; };
    LServer.OnAcknowledge = [&](const TSiViewerConnection&) {
        if (LRefuse) throw std::runtime_error("not kept");
        LReleased.wait();
    };
    LServer.Start();
    // A window of one: each write waits for its own acknowledgement.
    const std::string LOptions =
        "port=" + std::to_string(LServer.TcpPort()) + ", timeout=5000, window=1";
    auto LTcp = MakeProtocol("tcp", LOptions);
    std::atomic<bool> LAnswered{false};
    std::thread LClient([&] {
        LTcp->Connect();
        Write(*LTcp, "held");
        LAnswered = true;
    });
    // The log header has arrived, and waits for its acknowledgement with the client.
    while (LPackets.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(LAnswered.load());
    LRelease.set_value();
    LClient.join();
    EXPECT_TRUE(LAnswered.load());
    EXPECT_EQ(LPackets.load(), 2);
    LTcp->Disconnect();

    LRefuse = true;
    auto LRefused = MakeProtocol("tcp", LOptions);
    EXPECT_NE(ProtocolErrorOf([&] {
                  LRefused->Connect();
                  Write(*LRefused, "not kept");
              }),
              "");
    LServer.Stop();
}

TEST(ViewerServerTest, StopEndsAnIdleConnection) {
    const std::string LName = UniquePipeName();
    auto LViewer = std::make_unique<TViewerRecord>(PipeViewer(LName));
    LViewer->Server().Start();
    auto LProtocol = MakeProtocol("pipe", "pipename=\"" + LName + "\"");
    LProtocol->Connect();
    ASSERT_TRUE(LViewer->WaitEvent("header:app@host"));

    LViewer->Server().Stop();
    EXPECT_EQ(LViewer->Events().back(), "disconnect:");
    EXPECT_EQ(ProtocolErrorOf([&] { Write(*LProtocol, "nobody there"); }), "Stream write error");
}

TEST(ViewerServerTest, OnePipeNameOneViewer) {
    const std::string LName = UniquePipeName();
    {
        TSiViewerServer LFirst(PipeViewer(LName));
        LFirst.Start();
        TSiViewerServer LSecond(PipeViewer(LName));
        try {
            LSecond.Start();
            ADD_FAILURE() << "a second viewer served the same pipe";
        } catch (const ESiError& LAError) {
            EXPECT_EQ(
                std::string(LAError.what()).rfind("Cannot listen on pipe \"" + LName + "\"", 0), 0u)
                << LAError.what();
        }
    }
    // Once the first has stopped, the name is free again.
    TSiViewerServer LThird(PipeViewer(LName));
    EXPECT_NO_THROW(LThird.Start());
}

}  // namespace
}  // namespace deruz::logging
