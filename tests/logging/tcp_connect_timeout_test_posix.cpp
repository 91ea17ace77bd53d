// The "tcp" protocol against a viewer port that never answers a connection request, and a
// connection that the system opened with itself.
//
// A listening socket whose accept queue is full makes the system drop further requests
// without a reply, so the client's connect stays pending until its own timeout: the case of
// a viewer machine that has stopped answering.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "logging/system/socket.h"
#include "tests/logging/viewer_peer.h"

namespace deruz::logging {
namespace {

using testing::MakeProtocol;
using testing::ProtocolErrorOf;
using testing::Write;

class TFd {
  public:
    explicit TFd(int AFd) : FFd(AFd) {}
    ~TFd() {
        if (FFd >= 0) ::close(FFd);
    }
    TFd(TFd&& AOther) noexcept : FFd(AOther.FFd) { AOther.FFd = -1; }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }

  private:
    int FFd;
};

sockaddr_in Loopback(std::uint16_t APort) {
    sockaddr_in LAddress{};
    LAddress.sin_family = AF_INET;
    LAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    LAddress.sin_port = htons(APort);
    return LAddress;
}

TEST(TcpProtocolTest, ConnectTimesOutWhenTheViewerNeverAnswers) {
    TFd LListener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_GE(LListener.Get(), 0);
    sockaddr_in LAddress = Loopback(0);
    ASSERT_EQ(::bind(LListener.Get(), reinterpret_cast<sockaddr*>(&LAddress), sizeof LAddress), 0);
    ASSERT_EQ(::listen(LListener.Get(), 0), 0);
    socklen_t LLength = sizeof LAddress;
    ASSERT_EQ(::getsockname(LListener.Get(), reinterpret_cast<sockaddr*>(&LAddress), &LLength), 0);
    const std::uint16_t LPort = ntohs(LAddress.sin_port);

    // Fill the accept queue (nobody accepts): the first request completes and waits there.
    std::vector<TFd> LFillers;
    for (int LIndex = 0; LIndex < 2; ++LIndex) {
        TFd LFiller(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        ASSERT_GE(LFiller.Get(), 0);
        const sockaddr_in LTarget = Loopback(LPort);
        // Non-blocking: the connection is left in progress, filling the backlog.
        (void)::connect(LFiller.Get(), reinterpret_cast<const sockaddr*>(&LTarget), sizeof LTarget);
        LFillers.push_back(std::move(LFiller));
    }
    pollfd LFirst{LFillers.front().Get(), POLLOUT, 0};
    ASSERT_EQ(::poll(&LFirst, 1, 2000), 1) << "the first request should complete at once";

    auto LProtocol = MakeProtocol("tcp", "port=" + std::to_string(LPort) + ", timeout=300");
    EXPECT_EQ(ProtocolErrorOf([&] { LProtocol->Connect(); }), "Timed out while trying to connect");
    EXPECT_TRUE(LProtocol->Failed());
    // With reconnecting off, later packets are dropped quietly.
    EXPECT_EQ(ProtocolErrorOf([&] { Write(*LProtocol, "dropped"); }), "");
}

// A connect to a port of this host where nothing listens may be given that very port as its
// own and open the connection with itself (the system's simultaneous open); such a socket,
// made here on purpose, is told apart from one connected to a server.
TEST(TcpSelfConnect, ASocketConnectedToItselfIsRecognised) {
    TFd LSelf(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in LAddress{};
    LAddress.sin_family = AF_INET;
    LAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(LSelf.Get(), reinterpret_cast<sockaddr*>(&LAddress), sizeof LAddress), 0);
    socklen_t LSize = sizeof LAddress;
    ASSERT_EQ(::getsockname(LSelf.Get(), reinterpret_cast<sockaddr*>(&LAddress), &LSize), 0);
    ASSERT_EQ(::connect(LSelf.Get(), reinterpret_cast<sockaddr*>(&LAddress), sizeof LAddress), 0);
    EXPECT_TRUE(SiSocketConnectedToItself(static_cast<TSiSocket>(LSelf.Get())));

    TFd LServer(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in LListen{};
    LListen.sin_family = AF_INET;
    LListen.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(LServer.Get(), reinterpret_cast<sockaddr*>(&LListen), sizeof LListen), 0);
    ASSERT_EQ(::listen(LServer.Get(), 1), 0);
    LSize = sizeof LListen;
    ASSERT_EQ(::getsockname(LServer.Get(), reinterpret_cast<sockaddr*>(&LListen), &LSize), 0);
    TFd LClient(::socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(::connect(LClient.Get(), reinterpret_cast<sockaddr*>(&LListen), sizeof LListen), 0);
    EXPECT_FALSE(SiSocketConnectedToItself(static_cast<TSiSocket>(LClient.Get())));
}

}  // namespace
}  // namespace deruz::logging
