// Test support for the viewer protocols: a TSiViewerServer that records everything it sees,
// unique pipe names, the bytes a viewer should receive, protocols made through the factory,
// and a tick count the test sets.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "logging/format/binary_formatter.h"
#include "logging/packets/packet.h"
#include "logging/protocols/pipe_protocol.h"
#include "logging/protocols/protocol.h"
#include "logging/protocols/tcp_protocol.h"
#include "logging/viewer/viewer_server.h"
#include "tests/logging/fake_clock.h"
#include "tests/logging/recording_protocol.h"
#include "tests/logging/system_codes.h"

namespace deruz::logging::testing {

// A pipe name no other test (or test run) uses at the same time.
inline std::string UniquePipeName() {
    static const std::string LGRun = [] {
        std::random_device LRandom;
        return std::to_string(LRandom()) + std::to_string(LRandom());
    }();
    static std::atomic<int> LGCount{0};
    return "silog-test-" + LGRun + "-" + std::to_string(++LGCount);
}

// A viewer server whose events are written down as text, in order:
// "connect:<client banner>", "header:<app>@<host>", "entry:<title>", "packet:<type>",
// "disconnect:<error>"; and the raw bytes each connection received.
class TViewerRecord {
  public:
    explicit TViewerRecord(TSiViewerServerOptions AOptions) : FServer(std::move(AOptions)) {
        FServer.OnConnect = [this](const TSiViewerConnection& AConnection) {
            Add("connect:" + AConnection.ClientBanner);
        };
        FServer.OnPacket = [this](const TSiViewerConnection&, TSiPacket& APacket) {
            switch (APacket.GetPacketType()) {
                case ptLogHeader: {
                    const auto& LHeader = static_cast<TSiLogHeader&>(APacket);
                    Add("header:" + LHeader.AppName + "@" + LHeader.HostName);
                    break;
                }
                case ptLogEntry:
                    Add("entry:" + static_cast<TSiLogEntry&>(APacket).Title);
                    break;
                default:
                    Add("packet:" + std::to_string(static_cast<int>(APacket.GetPacketType())));
                    break;
            }
        };
        FServer.OnData = [this](const TSiViewerConnection& AConnection,
                                std::span<const std::uint8_t> ABytes) {
            std::lock_guard LGuard(FLock);
            FBytes[AConnection.Number].append(ABytes.begin(), ABytes.end());
        };
        FServer.OnDisconnect = [this](const TSiViewerConnection&, const std::string& AError) {
            Add("disconnect:" + AError);
            ++FDisconnects;
        };
    }

    TSiViewerServer& Server() { return FServer; }

    std::vector<std::string> Events() {
        std::lock_guard LGuard(FLock);
        return FEvents;
    }
    // The bytes connection ANumber (1 for the first) received.
    std::string Bytes(std::uint64_t ANumber) {
        std::lock_guard LGuard(FLock);
        return FBytes[ANumber];
    }
    // Waits until ACount connections have ended.
    bool WaitDisconnects(int ACount) {
        return WaitUntil([&] { return FDisconnects.load() >= ACount; });
    }
    // Waits until AEvent has been seen.
    bool WaitEvent(const std::string& AEvent) {
        return WaitUntil([&] {
            std::lock_guard LGuard(FLock);
            for (const std::string& LEvent : FEvents) {
                if (LEvent == AEvent) {
                    return true;
                }
            }
            return false;
        });
    }

  private:
    void Add(std::string AEvent) {
        std::lock_guard LGuard(FLock);
        FEvents.push_back(std::move(AEvent));
    }

    std::mutex FLock;
    std::vector<std::string> FEvents;
    std::map<std::uint64_t, std::string> FBytes;
    std::atomic<int> FDisconnects{0};
    TSiViewerServer FServer;
};

inline TSiViewerServerOptions PipeViewer(const std::string& AName) {
    TSiViewerServerOptions LOptions;
    LOptions.PipeName = AName;
    return LOptions;
}

inline TSiViewerServerOptions TcpViewer() {
    TSiViewerServerOptions LOptions;
    LOptions.Tcp = true;
    LOptions.TcpPort = 0;
    return LOptions;
}

inline std::string Text(const std::vector<std::uint8_t>& ABytes) {
    return std::string(ABytes.begin(), ABytes.end());
}

// What a viewer receives on one connection: the client banner line, the log header with the
// names "app" and "host", then the entries with these titles.
inline std::string ExpectedStream(const std::vector<std::string>& ATitles) {
    std::string LResult(SiClientBanner);
    LResult += '\n';
    const auto LHeader = SiMakeRef<TSiLogHeader>();
    LHeader->AppName = "app";
    LHeader->HostName = "host";
    LResult += Text(SiFormatBinary(*LHeader));
    for (const std::string& LTitle : ATitles) {
        LResult += Text(SiFormatBinary(*Entry(LTitle)));
    }
    return LResult;
}

// A protocol made by the factory under AName ("pipe" or "tcp", registered here), with the
// names "app" and "host" for its log header.
inline TSiProtocolPtr MakeProtocol(const std::string& AName, const std::string& AOptions) {
    TSiProtocolFactory::RegisterProtocol("pipe", [] { return SiMakeProtocol<TSiPipeProtocol>(); });
    TSiProtocolFactory::RegisterProtocol("tcp", [] { return SiMakeProtocol<TSiTcpProtocol>(); });
    auto LProtocol = TSiProtocolFactory::GetProtocol(AName, AOptions);
    LProtocol->SetAppName("app");
    LProtocol->SetHostName("host");
    return LProtocol;
}

// Writes a log entry with the title ATitle.
inline void Write(TSiProtocol& AProtocol, const std::string& ATitle) {
    AProtocol.WritePacket(*Entry(ATitle));
}

// Connects AProtocol, writes "first", a title larger than any write buffer (header and body
// then leave together, bypassing the buffer) and "last", disconnects, and checks that AViewer
// received exactly the banner, the log header and the three packets, in order.
inline void ExpectFirstLargeLast(TSiProtocol& AProtocol, TViewerRecord& AViewer) {
    const std::string LLarge(20000, 'x');
    AProtocol.Connect();
    Write(AProtocol, "first");
    Write(AProtocol, LLarge);
    Write(AProtocol, "last");
    AProtocol.Disconnect();

    ASSERT_TRUE(AViewer.WaitDisconnects(1));
    EXPECT_EQ(AViewer.Bytes(1), ExpectedStream({"first", LLarge, "last"}));
    EXPECT_EQ(
        AViewer.Events(),
        (std::vector<std::string>{"connect:" + std::string(SiClientBanner), "header:app@host",
                                  "entry:first", "entry:" + LLarge, "entry:last", "disconnect:"}));
}

// The message of the ESiProtocolError that AAction raises, or "" when it raises nothing.
template <class F>
std::string ProtocolErrorOf(F AAction) {
    try {
        AAction();
    } catch (const ESiProtocolError& LAError) {
        return LAError.what();
    }
    return "";
}

}  // namespace deruz::logging::testing
