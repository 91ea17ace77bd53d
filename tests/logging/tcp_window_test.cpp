// The "tcp" protocol's window against a scripted viewer: the window bounds what is in flight and
// leaves the bytes as they were; a connection that breaks with packets in flight sends them again
// after the reconnect, in order, with the backlog on, and counts them as dropped without it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "logging/format/binary_formatter.h"
#include "logging/system/clock.h"
#include "logging/viewer/viewer_transport.h"
#include "tests/logging/viewer_peer.h"

namespace deruz::logging {
namespace {

using std::chrono::milliseconds;
using testing::Entry;
using testing::MakeProtocol;
using testing::ProtocolErrorOf;
using testing::Text;
using testing::Write;

using Titles = std::vector<std::string>;

// What a viewer does on one connection. Packets are counted from the log header on.
struct TConnectionScript {
    // Acknowledges the first this many packets (-1: all), then none.
    int Acknowledged = -1;
    // Closes the connection once it has read this many packets (-1: when the client closes).
    int CloseAfter = -1;
    // Holds the acknowledgements of the packets after the log header until this many have
    // arrived, and notes whether any further byte comes within kOverrunWait meanwhile.
    int HoldUntil = 0;
    // Waits this long before each acknowledgement.
    milliseconds Delay{0};
};

// Long enough for a client that ignores its window to send one more packet.
constexpr auto kOverrunWait = milliseconds(100);

// A viewer that serves one connection after another, as its scripts say, on a thread of its
// own, and keeps the bytes each connection received after the client banner.
class TScriptedViewer {
  public:
    explicit TScriptedViewer(std::vector<TConnectionScript> AScripts)
        : FListener(SiListenTcp("127.0.0.1", 0)), FScripts(std::move(AScripts)) {
        FThread = std::thread([this] {
            for (std::size_t LIndex = 0; LIndex < FScripts.size(); ++LIndex) {
                try {
                    const auto LChannel = FListener->Accept();
                    if (!LChannel) {
                        return;
                    }
                    Serve(*LChannel, FScripts[LIndex], LIndex);
                } catch (const ESiError&) {
                    // The client went away, or the test ended: on to the next connection.
                }
                ++FServed;
            }
        });
    }
    ~TScriptedViewer() {
        FListener->Stop();
        FThread.join();
    }
    TScriptedViewer(const TScriptedViewer&) = delete;
    TScriptedViewer& operator=(const TScriptedViewer&) = delete;

    std::string Options(const std::string& AMore) const {
        return "port=" + std::to_string(FListener->Port()) + ", timeout=5000, " + AMore;
    }
    // Waits until ACount connections have ended.
    bool WaitServed(int ACount) {
        return testing::WaitUntil([&] { return FServed.load() >= ACount; });
    }
    // The packets connection AIndex (0 for the first) received, header and body each.
    std::vector<std::string> Packets(std::size_t AIndex) {
        std::lock_guard LGuard(FLock);
        return AIndex < FPackets.size() ? FPackets[AIndex] : std::vector<std::string>();
    }
    // Whether a client sent more than it was allowed to while acknowledgements were held.
    bool Overran() const { return FOverran; }

  private:
    static bool ReadExactly(TSiViewerChannel& AChannel, void* ABuffer, std::size_t ACount) {
        auto* LData = static_cast<std::uint8_t*>(ABuffer);
        for (std::size_t LDone = 0; LDone < ACount;) {
            const std::size_t LRead = AChannel.Read(LData + LDone, ACount - LDone);
            if (LRead == 0) {
                return false;
            }
            LDone += LRead;
        }
        return true;
    }

    void Serve(TSiViewerChannel& AChannel, const TConnectionScript& AScript, std::size_t AIndex) {
        {
            std::lock_guard LGuard(FLock);
            FPackets.resize(AIndex + 1);
        }
        AChannel.Write("Scripted viewer\n", 16);
        for (char LChar = 0; LChar != '\n';) {
            if (!ReadExactly(AChannel, &LChar, 1)) {
                return;
            }
        }
        int LRead = 0;
        int LAcknowledged = 0;
        int LHeld = 0;
        const auto LAcknowledge = [&] {
            std::this_thread::sleep_for(AScript.Delay);
            AChannel.Write("OK", 2);
            ++LAcknowledged;
        };
        for (;;) {
            std::string LPacket(kSiPacketHeaderSize, '\0');
            if (!ReadExactly(AChannel, LPacket.data(), kSiPacketHeaderSize)) {
                return;
            }
            std::int32_t LBodySize = 0;
            std::memcpy(&LBodySize, LPacket.data() + 2, sizeof LBodySize);
            LPacket.resize(kSiPacketHeaderSize + static_cast<std::size_t>(LBodySize));
            if (!ReadExactly(AChannel, LPacket.data() + kSiPacketHeaderSize,
                             static_cast<std::size_t>(LBodySize))) {
                return;
            }
            {
                std::lock_guard LGuard(FLock);
                FPackets[AIndex].push_back(LPacket);
            }
            ++LRead;
            const bool LAcknowledges =
                AScript.Acknowledged < 0 || LAcknowledged < AScript.Acknowledged;
            if (LRead > 1 && LHeld < AScript.HoldUntil && LAcknowledges) {
                if (++LHeld == AScript.HoldUntil) {
                    // A client that keeps its window sends nothing more now.
                    AChannel.SetDeadline(SiSystemTickCount() +
                                         static_cast<std::uint32_t>(kOverrunWait.count()));
                    char LByte = 0;
                    try {
                        if (AChannel.Read(&LByte, 1) != 0) {
                            FOverran = true;
                        }
                    } catch (const ESiViewerTimeout&) {
                    }
                    AChannel.SetDeadline(std::nullopt);
                    if (FOverran) {
                        return;
                    }
                    for (int LIndex = 0; LIndex < LHeld; ++LIndex) {
                        LAcknowledge();
                    }
                }
            } else if (LAcknowledges) {
                LAcknowledge();
            }
            if (LRead == AScript.CloseAfter) {
                return;
            }
        }
    }

    std::unique_ptr<TSiViewerListener> FListener;
    std::vector<TConnectionScript> FScripts;
    std::mutex FLock;
    std::vector<std::vector<std::string>> FPackets;
    std::atomic<int> FServed{0};
    std::atomic<bool> FOverran{false};
    std::thread FThread;
};

Titles Numbered(int AFrom, int ATo) {
    Titles LTitles;
    for (int LIndex = AFrom; LIndex <= ATo; ++LIndex) {
        LTitles.push_back("e" + std::to_string(LIndex));
    }
    return LTitles;
}

// The packets a connection should receive: the log header, then entries with these titles.
std::vector<std::string> ExpectedPackets(const Titles& ATitles) {
    const auto LHeader = SiMakeRef<TSiLogHeader>();
    LHeader->AppName = "app";
    LHeader->HostName = "host";
    std::vector<std::string> LPackets{Text(SiFormatBinary(*LHeader))};
    for (const std::string& LTitle : ATitles) {
        LPackets.push_back(Text(SiFormatBinary(*Entry(LTitle))));
    }
    return LPackets;
}

// A viewer that holds its first acknowledgements until a whole window has arrived and then
// acknowledges slowly: the client never has more than the window in flight, and the viewer
// gets every packet, in order, byte for byte, synchronously and from the worker thread.
TEST(TcpWindowTest, SlowViewerGetsEveryPacketInOrderAndNeverMoreThanTheWindow) {
    for (const char* LMode : {"async.enabled=false", "async.enabled=true"}) {
        SCOPED_TRACE(LMode);
        constexpr int LWindow = 8;
        TScriptedViewer LViewer(
            {TConnectionScript{.HoldUntil = LWindow, .Delay = milliseconds(1)}});
        auto LProtocol = MakeProtocol(
            "tcp", LViewer.Options("window=" + std::to_string(LWindow) + ", " + LMode));
        LProtocol->Connect();
        const Titles LTitles = Numbered(1, 60);
        for (const std::string& LTitle : LTitles) {
            Write(*LProtocol, LTitle);
        }
        LProtocol->Disconnect();
        ASSERT_TRUE(LViewer.WaitServed(1));
        EXPECT_FALSE(LViewer.Overran());
        EXPECT_EQ(LViewer.Packets(0), ExpectedPackets(LTitles));
        EXPECT_EQ(LProtocol->DroppedPackets(), 0u);
        EXPECT_FALSE(LProtocol->Failed());
    }
}

// The viewer acknowledges the log header and two entries, reads a full window more and closes.
// With the backlog on, the four unacknowledged entries go again first on the next connection
// (the window is all a reconnect can repeat); without it they count as dropped.
TEST(TcpWindowTest, ConnectionCutWithAWindowInFlight) {
    constexpr int LWindow = 4;
    struct Case {
        const char* Options;
        Titles Resent;
        std::uint64_t Dropped;
    };
    const Case LCases[] = {
        {"backlog.enabled=true, backlog.keepopen=true, backlog.flushon=debug", Numbered(3, 6), 0},
        {"backlog.enabled=false", {}, 4},
    };
    for (const Case& LCase : LCases) {
        SCOPED_TRACE(LCase.Options);
        TScriptedViewer LViewer(
            {TConnectionScript{.Acknowledged = 3, .CloseAfter = 3 + LWindow}, TConnectionScript{}});
        auto LProtocol = MakeProtocol(
            "tcp", LViewer.Options("reconnect=true, window=" + std::to_string(LWindow) + ", " +
                                   LCase.Options));
        LProtocol->Connect();
        for (const std::string& LTitle : Numbered(1, 5)) {
            EXPECT_EQ(ProtocolErrorOf([&] { Write(*LProtocol, LTitle); }), "");
        }
        // The sixth fills the window; no acknowledgement comes, the connection ends.
        EXPECT_EQ(ProtocolErrorOf([&] { Write(*LProtocol, "e6"); }),
                  "Socket connection has been unexpectedly closed");
        EXPECT_EQ(LProtocol->DroppedPackets(), LCase.Dropped);
        for (const std::string& LTitle : Numbered(7, 10)) {
            Write(*LProtocol, LTitle);
        }
        LProtocol->Disconnect();

        ASSERT_TRUE(LViewer.WaitServed(2));
        EXPECT_EQ(LViewer.Packets(0), ExpectedPackets(Numbered(1, 6)));
        Titles LSecond = LCase.Resent;
        for (const std::string& LTitle : Numbered(7, 10)) {
            LSecond.push_back(LTitle);
        }
        EXPECT_EQ(LViewer.Packets(1), ExpectedPackets(LSecond));
        EXPECT_EQ(LProtocol->DroppedPackets(), LCase.Dropped);
        EXPECT_FALSE(LProtocol->Failed());
    }
}

// A viewer that closes in the middle of a window, while the client still has room to send: the
// client finds out from a send or a receive, whichever comes first, and with the backlog on the
// next connection carries on from an entry no later than the first the viewer never read, in
// order, so nothing is lost. What the client had not yet seen acknowledged when the connection
// broke may come twice: at most the window.
TEST(TcpWindowTest, ViewerClosesMidWindow) {
    constexpr int LWindow = 16;
    TScriptedViewer LViewer(
        {TConnectionScript{.Acknowledged = 2, .CloseAfter = 3}, TConnectionScript{}});
    auto LProtocol =
        MakeProtocol("tcp", LViewer.Options("reconnect=true, window=" + std::to_string(LWindow) +
                                            ", backlog.enabled=true, backlog.keepopen=true, "
                                            "backlog.flushon=debug"));
    LProtocol->Connect();
    int LErrors = 0;
    for (const std::string& LTitle : Numbered(1, 40)) {
        LErrors += ProtocolErrorOf([&] { Write(*LProtocol, LTitle); }).empty() ? 0 : 1;
    }
    LProtocol->Disconnect();
    ASSERT_TRUE(LViewer.WaitServed(2));
    EXPECT_EQ(LErrors, 1);
    EXPECT_EQ(LViewer.Packets(0), ExpectedPackets(Numbered(1, 2)));
    // The viewer read e1 and e2: the second connection starts again at one of e1 to e3.
    const std::vector<std::string> LSecond = LViewer.Packets(1);
    int LFirst = 0;
    for (int LStart = 1; LStart <= 3; ++LStart) {
        if (LSecond == ExpectedPackets(Numbered(LStart, 40))) {
            LFirst = LStart;
        }
    }
    EXPECT_NE(LFirst, 0) << "the second connection got " << LSecond.size() << " packets";
    EXPECT_EQ(LProtocol->DroppedPackets(), 0u);
    EXPECT_FALSE(LProtocol->Failed());
}

}  // namespace
}  // namespace deruz::logging
