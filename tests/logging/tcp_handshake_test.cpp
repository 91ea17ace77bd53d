// The "tcp" protocol against viewers that abuse the banner exchange: one that sends its banner
// a byte at a time, one that never ends the line. Each must fail the connection within the
// protocol's timeout, synchronously and on the worker thread, instead of holding the logging
// application; and banner lines up to the limit must still be accepted.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "logging/core/logger.h"
#include "logging/protocols/tcp_client.h"
#include "logging/system/socket.h"
#include "logging/viewer/viewer_transport.h"
#include "tests/logging/system_codes.h"
#include "tests/logging/viewer_peer.h"

namespace deruz::logging {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testing::MakeProtocol;
using testing::ProtocolErrorOf;
using testing::TcpViewer;
using testing::TViewerRecord;

// How long a misbehaving viewer keeps it up before it closes the connection by itself. Well
// above the 300 ms timeout of the tests: a client that waits for the viewer to give up fails
// with "unexpectedly closed" (and late), one that enforces its timeout with the timeout text.
constexpr auto kPatience = milliseconds(3000);
constexpr int kTimeout = 300;
// Generous against a loaded machine, yet well below kPatience.
constexpr auto kBound = milliseconds(2000);

// A viewer that accepts one connection and then runs its behaviour on it, on a thread of its
// own, until the behaviour ends, the client closes, or the test ends.
class TRawViewer {
  public:
    using TBehaviour = std::function<void(TSiViewerChannel&, const std::atomic<bool>& AStop)>;

    explicit TRawViewer(TBehaviour ABehaviour)
        : FListener(SiListenTcp("127.0.0.1", 0)),
          FThread([this, LBehaviour = std::move(ABehaviour)] {
              try {
                  if (auto LChannel = FListener->Accept()) {
                      LBehaviour(*LChannel, FStop);
                  }
              } catch (const ESiError&) {
                  // The client went away, or the test ended: the viewer's work is done.
              }
          }) {}
    ~TRawViewer() {
        FStop = true;
        FListener->Stop();
        FThread.join();
    }
    TRawViewer(const TRawViewer&) = delete;
    TRawViewer& operator=(const TRawViewer&) = delete;

    std::string Options() const {
        return "port=" + std::to_string(FListener->Port()) +
               ", timeout=" + std::to_string(kTimeout);
    }

  private:
    std::atomic<bool> FStop{false};
    std::unique_ptr<TSiViewerListener> FListener;
    std::thread FThread;
};

// One banner byte every 20 ms: each receive is quick, the line never ends.
void Drip(TSiViewerChannel& AChannel, const std::atomic<bool>& AStop) {
    const auto LEnd = steady_clock::now() + kPatience;
    while (!AStop && steady_clock::now() < LEnd) {
        AChannel.Write("S", 1);
        std::this_thread::sleep_for(milliseconds(20));
    }
}

// Banner bytes as fast as the client takes them, never an LF (at most 1 MB).
void Flood(TSiViewerChannel& AChannel, const std::atomic<bool>& AStop) {
    const std::string LChunk(16384, 'S');
    const auto LEnd = steady_clock::now() + kPatience;
    for (int LCount = 0; LCount < 64 && !AStop && steady_clock::now() < LEnd; ++LCount) {
        AChannel.Write(LChunk.data(), LChunk.size());
    }
}

struct TAbuse {
    const char* Name;
    TRawViewer::TBehaviour Behaviour;
    std::string Expected;
};

std::vector<TAbuse> Abuses() {
    return {{"drip", Drip, SiSocketErrorText(testing::TestTimedOutCode())},
            {"flood", Flood, "Viewer banner line longer than 4096 bytes"}};
}

TEST(TcpHandshakeTest, AbusiveBannerFailsTheConnectWithinTheTimeout) {
    for (const TAbuse& LAbuse : Abuses()) {
        SCOPED_TRACE(LAbuse.Name);
        TRawViewer LViewer(LAbuse.Behaviour);
        auto LProtocol = MakeProtocol("tcp", LViewer.Options());

        const auto LStart = steady_clock::now();
        EXPECT_EQ(ProtocolErrorOf([&] { LProtocol->Connect(); }), LAbuse.Expected);
        EXPECT_LT(steady_clock::now() - LStart, kBound);
        EXPECT_TRUE(LProtocol->Failed());
        EXPECT_FALSE(static_cast<TSiTcpProtocol&>(*LProtocol).TcpClient().Connected());
    }
}

// Asynchronously the connect runs on the worker thread; disabling the logger waits for that
// worker, so it too must come back within the timeout, and the failure reaches the error event.
TEST(TcpHandshakeTest, AbusiveBannerLetsTheAsynchronousLoggerDisable) {
    for (const TAbuse& LAbuse : Abuses()) {
        SCOPED_TRACE(LAbuse.Name);
        TRawViewer LViewer(LAbuse.Behaviour);
        TSiLogger LLogger("app");
        std::mutex LLock;
        std::vector<std::string> LErrors;
        LLogger.SetOnError([&](TSiLogger&, const std::exception& AError) {
            const std::lock_guard LGuard(LLock);
            LErrors.emplace_back(AError.what());
        });
        LLogger.SetConnections("tcp(" + LViewer.Options() + ", async.enabled=true)");

        const auto LStart = steady_clock::now();
        LLogger.SetEnabled(true);
        LLogger.SetEnabled(false);
        EXPECT_LT(steady_clock::now() - LStart, kBound);
        const std::lock_guard LGuard(LLock);
        EXPECT_EQ(LErrors, std::vector<std::string>{LAbuse.Expected});
    }
}

// The limit counts the bytes before the LF, a CR among them, as the viewer counts them.
TEST(TcpHandshakeTest, BannerLinesUpToTheLimitAreAccepted) {
    struct Case {
        std::string Banner;  // sent with an LF after it
        const char* Expected;
    };
    const Case LCases[] = {
        {std::string(4096, 'B'), ""},
        {std::string(4095, 'B') + "\r", ""},
        {std::string(4096, 'B') + "\r", "Viewer banner line longer than 4096 bytes"},
        {std::string(4097, 'B'), "Viewer banner line longer than 4096 bytes"},
    };
    for (const Case& LCase : LCases) {
        SCOPED_TRACE(LCase.Banner.size());
        auto LOptions = TcpViewer();
        LOptions.Banner = LCase.Banner;
        TViewerRecord LViewer(LOptions);
        LViewer.Server().Start();
        auto LProtocol = MakeProtocol(
            "tcp", "port=" + std::to_string(LViewer.Server().TcpPort()) + ", timeout=2000");
        EXPECT_EQ(ProtocolErrorOf([&] { LProtocol->Connect(); }), LCase.Expected);
        if (*LCase.Expected == '\0') {
            EXPECT_TRUE(LViewer.WaitEvent("header:app@host"));
        }
        LProtocol->Disconnect();
    }
}

}  // namespace
}  // namespace deruz::logging
