// The viewer transports: packets per second through the "pipe" protocol to an in-process
// viewer, against the floor of one write(2) per packet of the same size to the same kind of
// socket; and through the "tcp" protocol with its acknowledgement per packet.
//
// BM_PipeVersusWrite alternates batches of both in one run and reports their per-packet times
// and the ratio (protocol / floor); its viewers (one for each) drop the bytes undecoded, so that
// the ratio shows what the client adds. BM_PipeProtocol and BM_TcpProtocol measure whole deliveries
// to a viewer that decodes every packet (and acknowledges it over TCP).
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "logging/format/binary_formatter.h"
#include "logging/packets/packet.h"
#include "logging/protocols/pipe_protocol.h"
#include "logging/protocols/tcp_protocol.h"
#include "logging/system/pipe_transport.h"
#include "logging/viewer/viewer_server.h"

namespace {

using namespace deruz::logging;

constexpr int kBatch = 4096;

std::string PipeName() {
    return "silog-bench-" + std::to_string(::getpid());
}

// A log entry whose formatted packet is about ASize bytes.
TSiPacketPtr EntryOfSize(std::int64_t ASize) {
    const auto LEntry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
    LEntry->Title =
        std::string(static_cast<std::size_t>(std::max<std::int64_t>(ASize - 60, 1)), 'x');
    return LEntry;
}

std::unique_ptr<TSiViewerServer> StartViewer(TSiViewerServerOptions AOptions) {
    auto LServer = std::make_unique<TSiViewerServer>(std::move(AOptions));
    LServer->Start();
    return LServer;
}

// A raw client of the viewer pipe: banner exchange done, then the socket for write(2).
class TRawPipeClient {
  public:
    explicit TRawPipeClient(const std::string& AName) {
        const std::string LPath = SiPipeSocketPath(AName);
        sockaddr_un LAddress{};
        LAddress.sun_family = AF_UNIX;
        LPath.copy(LAddress.sun_path, LPath.size());
        FSocket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(FSocket, reinterpret_cast<const sockaddr*>(&LAddress), sizeof LAddress) !=
            0) {
            throw std::runtime_error("cannot connect to the viewer");
        }
        char LByte = 0;
        while (::read(FSocket, &LByte, 1) == 1 && LByte != '\n') {
        }
        const std::string LBanner = std::string(SiClientBanner) + "\n";
        Write(LBanner.data(), LBanner.size());
    }
    ~TRawPipeClient() { ::close(FSocket); }
    void Write(const void* AData, std::size_t ACount) {
        if (::write(FSocket, AData, ACount) != static_cast<ssize_t>(ACount)) {
            throw std::runtime_error("short write");
        }
    }

  private:
    int FSocket = -1;
};

TSiProtocolPtr Protocol(TSiProtocolPtr AProtocol, const std::string& AOptions) {
    AProtocol->Initialize(AOptions);
    AProtocol->Connect();
    return AProtocol;
}

void BM_PipeVersusWrite(benchmark::State& AState) {
    TSiViewerServerOptions LOptions;
    LOptions.PipeName = PipeName() + "-raw";
    LOptions.DecodePackets = false;
    const auto LViewer = StartViewer(LOptions);
    // A viewer serves one client at a time: the raw writer gets a viewer of its own.
    TSiViewerServerOptions LRawOptions = LOptions;
    LRawOptions.PipeName += "-floor";
    const auto LRawViewer = StartViewer(LRawOptions);
    const auto LProtocol =
        Protocol(SiMakeProtocol<TSiPipeProtocol>(), "pipename=\"" + LOptions.PipeName + "\"");
    const TSiPacketPtr LPacket = EntryOfSize(AState.range(0));
    const std::vector<std::uint8_t> LBytes = SiFormatBinary(*LPacket);

    using Clock = std::chrono::steady_clock;
    Clock::duration LProtocolTime{};
    Clock::duration LFloorTime{};
    {
        TRawPipeClient LRaw(LRawOptions.PipeName);
        for (auto _ : AState) {
            const auto LStart = Clock::now();
            for (int LIndex = 0; LIndex < kBatch; ++LIndex) {
                LRaw.Write(LBytes.data(), LBytes.size());
            }
            const auto LMiddle = Clock::now();
            for (int LIndex = 0; LIndex < kBatch; ++LIndex) {
                LProtocol->WritePacket(*LPacket);
            }
            LFloorTime += LMiddle - LStart;
            LProtocolTime += Clock::now() - LMiddle;
        }
    }
    const double LPackets = static_cast<double>(AState.iterations()) * kBatch;
    const double LProtocolNs =
        std::chrono::duration<double, std::nano>(LProtocolTime).count() / LPackets;
    const double LFloorNs = std::chrono::duration<double, std::nano>(LFloorTime).count() / LPackets;
    AState.counters["packet_bytes"] = static_cast<double>(LBytes.size());
    AState.counters["protocol_ns"] = LProtocolNs;
    AState.counters["write_ns"] = LFloorNs;
    AState.counters["ratio"] = LProtocolNs / LFloorNs;
    AState.counters["protocol_pps"] = 1e9 / LProtocolNs;
}
BENCHMARK(BM_PipeVersusWrite)->Arg(100)->Arg(1000)->Arg(10000)->UseRealTime();

void BM_PipeProtocol(benchmark::State& AState) {
    TSiViewerServerOptions LOptions;
    LOptions.PipeName = PipeName() + "-decode";
    const auto LViewer = StartViewer(LOptions);
    const auto LProtocol =
        Protocol(SiMakeProtocol<TSiPipeProtocol>(), "pipename=\"" + LOptions.PipeName + "\"");
    const TSiPacketPtr LPacket = EntryOfSize(AState.range(0));
    for (auto _ : AState) {
        LProtocol->WritePacket(*LPacket);
    }
    LProtocol->Disconnect();
    AState.SetItemsProcessed(AState.iterations());
}
BENCHMARK(BM_PipeProtocol)->Arg(100)->Arg(1000)->UseRealTime();

void BM_TcpProtocol(benchmark::State& AState) {
    TSiViewerServerOptions LOptions;
    LOptions.Tcp = true;
    LOptions.TcpPort = 0;
    const auto LViewer = StartViewer(LOptions);
    const auto LProtocol =
        Protocol(SiMakeProtocol<TSiTcpProtocol>(), "port=" + std::to_string(LViewer->TcpPort()));
    const TSiPacketPtr LPacket = EntryOfSize(AState.range(0));
    for (auto _ : AState) {
        LProtocol->WritePacket(*LPacket);
    }
    LProtocol->Disconnect();
    AState.SetItemsProcessed(AState.iterations());
}
BENCHMARK(BM_TcpProtocol)->Arg(100)->Arg(1000)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
