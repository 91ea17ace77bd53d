// The viewer server against clients that stall it: one that connects and says nothing, one that
// drips its banner or a packet, one that never reads its acknowledgements, and a burst of a few
// hundred applications connecting at once. Each must be served (or dropped) without delaying
// anybody else. A watchdog ends a test that hangs, so that a regression fails instead of
// holding CI.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "logging/format/binary_formatter.h"
#include "logging/protocols/pipe_protocol.h"
#include "logging/system/pipe_transport.h"
#include "logging/system/socket.h"
#include "logging/viewer/viewer_server.h"
#include "tests/logging/viewer_peer.h"

namespace deruz::logging {
namespace {

using testing::Entry;
using testing::MakeProtocol;
using testing::TcpViewer;
using testing::Text;
using testing::TViewerRecord;
using testing::UniquePipeName;
using testing::WaitUntil;
using testing::Write;

// Ends the process when a test takes longer than it may: a viewer that serves one client at a
// time would otherwise keep the test waiting for ever.
class TWatchdog {
  public:
    TWatchdog(std::chrono::seconds ALimit, std::string AWhat)
        : FThread([this, ALimit, LWhat = std::move(AWhat)] {
              std::unique_lock LGuard(FLock);
              if (!FDone.wait_for(LGuard, ALimit, [this] { return FCancelled; })) {
                  std::fprintf(stderr, "watchdog: %s still running after %d s\n", LWhat.c_str(),
                               static_cast<int>(ALimit.count()));
                  std::fflush(stderr);
                  std::abort();
              }
          }) {}
    ~TWatchdog() {
        {
            std::lock_guard LGuard(FLock);
            FCancelled = true;
        }
        FDone.notify_all();
        FThread.join();
    }

  private:
    std::mutex FLock;
    std::condition_variable FDone;
    bool FCancelled = false;
    std::thread FThread;
};

// A client that speaks to the viewer byte by byte, over the pipe or TCP.
class TRawClient {
  public:
    virtual ~TRawClient() = default;
    // Whether the connection exists.
    virtual bool Connected() const = 0;
    // Sends all of ABytes; false when the connection failed or the send timed out.
    virtual bool Send(const std::string& ABytes) = 0;
};

class TRawPipe final : public TRawClient {
  public:
    // An open that fails is tried again for up to 10 s: on Windows a client finds every waiting
    // instance of the pipe taken during a burst (ERROR_PIPE_BUSY) and waits for a free one.
    explicit TRawPipe(const std::string& AName) {
        const auto LGiveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (FPipe.Open(AName) != 0 && std::chrono::steady_clock::now() < LGiveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    bool Connected() const override { return FPipe.IsOpen(); }
    bool Send(const std::string& ABytes) override {
        return FPipe.Write(ABytes.data(), ABytes.size()) == ABytes.size();
    }

  private:
    TSiPipeHandle FPipe;
};

class TRawTcp final : public TRawClient {
  public:
    // ASendTimeout: milliseconds a send may wait for the viewer to take bytes (0: no limit).
    explicit TRawTcp(std::uint16_t APort, std::int32_t ASendTimeout = 0) {
        std::uint32_t LAddress = 0;
        std::string LError;
        if (SiSocketStartup() != 0 || !SiResolveIPv4("127.0.0.1", LAddress, LError)) {
            return;
        }
        FSocket = SiSocketCreate();
        if (FSocket == kSiInvalidSocket) {
            return;
        }
        SiSocketSetTimeouts(FSocket, ASendTimeout);
        if (!SiSocketConnect(FSocket, LAddress, APort)) {
            SiSocketClose(FSocket);
            FSocket = kSiInvalidSocket;
        }
    }
    ~TRawTcp() override {
        if (FSocket != kSiInvalidSocket) {
            SiSocketClose(FSocket);
        }
    }
    bool Connected() const override { return FSocket != kSiInvalidSocket; }
    bool Send(const std::string& ABytes) override {
        std::size_t LSent = 0;
        while (LSent < ABytes.size()) {
            const std::ptrdiff_t LCount =
                SiSocketSend(FSocket, ABytes.data() + LSent, ABytes.size() - LSent);
            if (LCount <= 0) {
                return false;
            }
            LSent += static_cast<std::size_t>(LCount);
        }
        return true;
    }

  private:
    TSiSocket FSocket = kSiInvalidSocket;
};

std::string ClientBannerLine() {
    return std::string(SiClientBanner) + "\n";
}

std::string Packet(const std::string& ATitle) {
    return Text(SiFormatBinary(*Entry(ATitle)));
}

// Options for a viewer of the pipe AName and of a free TCP port.
TSiViewerServerOptions BothViewer(const std::string& AName) {
    auto LOptions = TcpViewer();
    LOptions.PipeName = AName;
    return LOptions;
}

// How many connections AViewer has seen end.
int Disconnects(TViewerRecord& AViewer) {
    int LCount = 0;
    for (const std::string& LEvent : AViewer.Events()) {
        LCount += LEvent.rfind("disconnect:", 0) == 0 ? 1 : 0;
    }
    return LCount;
}

// A viewer that serves one client at a time is held by the first of these for good; this one
// must serve the applications that connect after them at once, and keep the hostile clients
// (whose deadlines are far away here) connected meanwhile.
TEST(ViewerServerHostileTest, StallingClientsDelayNoOtherApplication) {
    TWatchdog LWatchdog(std::chrono::seconds(60), "StallingClientsDelayNoOtherApplication");
    const std::string LName = UniquePipeName();
    auto LOptions = BothViewer(LName);
    LOptions.BannerTimeout = 120000;
    LOptions.PacketTimeout = 120000;
    TViewerRecord LViewer(LOptions);
    LViewer.Server().Start();
    const std::uint16_t LPort = LViewer.Server().TcpPort();

    std::vector<std::unique_ptr<TRawClient>> LHostile;
    // Idle on both transports, a banner that never ends, a packet that never ends.
    LHostile.push_back(std::make_unique<TRawPipe>(LName));
    LHostile.push_back(std::make_unique<TRawTcp>(LPort));
    LHostile.push_back(std::make_unique<TRawPipe>(LName));
    LHostile.back()->Send("SiLog dri");
    LHostile.push_back(std::make_unique<TRawTcp>(LPort));
    LHostile.back()->Send(ClientBannerLine() + Packet("never ends").substr(0, 7));
    for (const auto& LClient : LHostile) {
        ASSERT_TRUE(LClient->Connected());
    }

    // A well-behaved application on each transport, after them.
    auto LPipe = MakeProtocol("pipe", "pipename=\"" + LName + "\"");
    auto LTcp = MakeProtocol("tcp", "port=" + std::to_string(LPort) + ", timeout=20000");
    LPipe->Connect();
    LTcp->Connect();
    Write(*LPipe, "pipe served");
    Write(*LTcp, "tcp served");
    EXPECT_TRUE(LViewer.WaitEvent("entry:pipe served"));
    EXPECT_TRUE(LViewer.WaitEvent("entry:tcp served"));
    EXPECT_EQ(LViewer.Server().Connections(), 6u);
    // Nobody was dropped to make room.
    EXPECT_EQ(Disconnects(LViewer), 0);
}

// The deadlines: a client has BannerTimeout for its banner line and PacketTimeout for each
// packet it begins (and for taking an acknowledgement); between packets it may stay silent.
TEST(ViewerServerHostileTest, DeadlinesEndStalledClients) {
    TWatchdog LWatchdog(std::chrono::seconds(120), "DeadlinesEndStalledClients");
    enum class TKind { kIdle, kBannerDrip, kPacketDrip, kSilentBetweenPackets };
    struct Case {
        const char* Name;
        TKind Kind;
        // The start of the error the connection ends with; none for kSilentBetweenPackets.
        std::string Error;
    };
    const Case LCases[] = {
        {"idle", TKind::kIdle, "Client banner line not received within 500 ms"},
        {"banner drip", TKind::kBannerDrip, "Client banner line not received within 500 ms"},
        {"packet drip", TKind::kPacketDrip, "Packet not complete within 500 ms ("},
        {"silent between packets", TKind::kSilentBetweenPackets, ""},
    };
    const std::string LBanner = ClientBannerLine();
    const std::string LPacket = Packet("one");
    const std::string LName = UniquePipeName();
    auto LOptions = BothViewer(LName);
    LOptions.BannerTimeout = 500;
    LOptions.PacketTimeout = 500;
    TViewerRecord LViewer(LOptions);
    LViewer.Server().Start();

    int LEnded = 0;
    for (const bool LOverTcp : {false, true}) {
        for (const Case& LCase : LCases) {
            SCOPED_TRACE(std::string(LOverTcp ? "tcp, " : "pipe, ") + LCase.Name);
            std::unique_ptr<TRawClient> LClient;
            if (LOverTcp) {
                LClient = std::make_unique<TRawTcp>(LViewer.Server().TcpPort());
            } else {
                LClient = std::make_unique<TRawPipe>(LName);
            }
            ASSERT_TRUE(LClient->Connected());
            const auto LStart = std::chrono::steady_clock::now();
            // A drip sends one byte every 200 ms, until the viewer gives up on it.
            const auto LDrip = [&](const std::string& ABytes) {
                for (const char LByte : ABytes) {
                    if (Disconnects(LViewer) > LEnded) {
                        break;
                    }
                    LClient->Send(std::string(1, LByte));
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                }
            };
            switch (LCase.Kind) {
                case TKind::kIdle:
                    break;
                case TKind::kBannerDrip:
                    LDrip(LBanner);
                    break;
                case TKind::kPacketDrip:
                    ASSERT_TRUE(LClient->Send(LBanner));
                    LDrip(Packet(std::string(200, 'x')));
                    break;
                case TKind::kSilentBetweenPackets:
                    ASSERT_TRUE(LClient->Send(LBanner + LPacket));
                    // Far beyond both deadlines.
                    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
                    EXPECT_EQ(Disconnects(LViewer), LEnded);
                    LClient.reset();
                    break;
            }
            ASSERT_TRUE(LViewer.WaitDisconnects(++LEnded));
            const std::string LLast = LViewer.Events().back();
            EXPECT_EQ(LLast.rfind("disconnect:" + LCase.Error, 0), 0u) << LLast;
            if (LCase.Kind != TKind::kSilentBetweenPackets) {
                // Ended by the deadline, long before the drip would have ended.
                EXPECT_LT(std::chrono::steady_clock::now() - LStart, std::chrono::seconds(4));
            }
        }
    }
}

// A client that sends packets but never reads their acknowledgements fills the viewer's send
// buffer. Meanwhile the viewer serves others; it gives up on that client once an
// acknowledgement waits longer than PacketTimeout. (Acknowledgements of 64 KiB here, so that a
// few dozen packets fill the buffers that millions of 2-byte ones would.)
TEST(ViewerServerHostileTest, ClientThatTakesNoAcknowledgementIsDropped) {
    TWatchdog LWatchdog(std::chrono::seconds(60), "ClientThatTakesNoAcknowledgementIsDropped");
    auto LOptions = TcpViewer();
    LOptions.PacketTimeout = 3000;
    LOptions.Acknowledgement = std::string(1 << 16, 'K');
    // Declared before the server, whose callbacks use them until it stops.
    std::mutex LLock;
    std::vector<std::string> LErrors;
    std::vector<std::uint64_t> LPacketsFrom;
    TSiViewerServer LServer(LOptions);
    LServer.OnPacket = [&](const TSiViewerConnection& AConnection, TSiPacket&) {
        std::lock_guard LGuard(LLock);
        LPacketsFrom.push_back(AConnection.Number);
    };
    LServer.OnDisconnect = [&](const TSiViewerConnection&, const std::string& AError) {
        std::lock_guard LGuard(LLock);
        LErrors.push_back(AError);
    };
    LServer.Start();
    const auto LEnded = [&] {
        std::lock_guard LGuard(LLock);
        return !LErrors.empty();
    };

    TRawTcp LNonReader(LServer.TcpPort());
    ASSERT_TRUE(LNonReader.Connected());
    std::string LBatch = ClientBannerLine();
    for (int LIndex = 0; LIndex < 1000; ++LIndex) {
        LBatch += Packet("");
    }
    ASSERT_TRUE(LNonReader.Send(LBatch));
    // Stuck once the count of decoded packets stands still.
    std::uint64_t LSeen = 0;
    ASSERT_TRUE(WaitUntil([&] {
        const std::uint64_t LNow = LServer.Packets();
        if (LNow == 0 || LNow != LSeen) {
            LSeen = LNow;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return false;
        }
        return true;
    }));
    EXPECT_LT(LSeen, 1000u);

    TRawTcp LOther(LServer.TcpPort());
    ASSERT_TRUE(LOther.Connected());
    ASSERT_TRUE(LOther.Send(ClientBannerLine() + Packet("other")));
    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard LGuard(LLock);
        return !LPacketsFrom.empty() && LPacketsFrom.back() == 2;
    }));
    EXPECT_FALSE(LEnded()) << "served only after the stuck client was dropped";

    ASSERT_TRUE(WaitUntil(LEnded));
    std::lock_guard LGuard(LLock);
    EXPECT_EQ(LErrors.front(), "Acknowledgement not taken within 3000 ms");
}

// A few hundred applications connect at once and stay connected: every one is served. A viewer
// with a small listen backlog or one connection at a time leaves most of them waiting.
TEST(ViewerServerHostileTest, BurstOfApplicationsIsServed) {
    TWatchdog LWatchdog(std::chrono::seconds(120), "BurstOfApplicationsIsServed");
    constexpr int LKClients = 300;
    const std::string LName = UniquePipeName();
    TSiViewerServer LServer(BothViewer(LName));
    LServer.Start();
    const std::string LBytes = ClientBannerLine() + Packet("burst");
    for (const bool LOverTcp : {false, true}) {
        SCOPED_TRACE(LOverTcp ? "tcp" : "pipe");
        const std::uint64_t LBefore = LServer.Packets();
        std::vector<std::unique_ptr<TRawClient>> LClients;
        for (int LIndex = 0; LIndex < LKClients; ++LIndex) {
            if (LOverTcp) {
                LClients.push_back(std::make_unique<TRawTcp>(LServer.TcpPort()));
            } else {
                LClients.push_back(std::make_unique<TRawPipe>(LName));
            }
            ASSERT_TRUE(LClients.back()->Connected()) << "client " << LIndex;
            ASSERT_TRUE(LClients.back()->Send(LBytes)) << "client " << LIndex;
        }
        EXPECT_TRUE(WaitUntil([&] { return LServer.Packets() - LBefore >= LKClients; }))
            << LServer.Packets() - LBefore << " of " << LKClients << " served";
    }
}

// Beyond MaxConnections a client waits to be accepted until a connection ends.
TEST(ViewerServerHostileTest, ServesAtMostMaxConnectionsAtOnce) {
    TWatchdog LWatchdog(std::chrono::seconds(60), "ServesAtMostMaxConnectionsAtOnce");
    auto LOptions = TcpViewer();
    LOptions.MaxConnections = 2;
    TViewerRecord LViewer(LOptions);
    LViewer.Server().Start();
    const auto LConnects = [&] {
        int LCount = 0;
        for (const std::string& LEvent : LViewer.Events()) {
            LCount += LEvent.rfind("connect:", 0) == 0 ? 1 : 0;
        }
        return LCount;
    };
    std::vector<std::unique_ptr<TRawTcp>> LClients;
    for (int LIndex = 0; LIndex < 3; ++LIndex) {
        LClients.push_back(std::make_unique<TRawTcp>(LViewer.Server().TcpPort()));
        ASSERT_TRUE(LClients.back()->Connected());
        ASSERT_TRUE(LClients.back()->Send(ClientBannerLine()));
    }
    ASSERT_TRUE(WaitUntil([&] { return LConnects() == 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(LConnects(), 2);
    EXPECT_EQ(LViewer.Server().Connections(), 2u);

    LClients.front().reset();
    EXPECT_TRUE(WaitUntil([&] { return LConnects() == 3; }));
    EXPECT_EQ(LViewer.Server().Connections(), 3u);
}

}  // namespace
}  // namespace deruz::logging
