// Throughput of the asynchronous protocol mode: one producer writes small log entries to a
// protocol whose worker thread discards them, with the default throttling (the producer waits
// for room) and with trimming (the oldest queued packets are dropped). Each iteration writes a
// batch and then disconnects, which waits until the worker has run everything queued, so the
// rate counts packets that went all the way through (in trim mode, delivered_per_second counts
// those that were not dropped). Packets are made thread-safe as the logger core makes them for
// asynchronous protocols.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "logging/packets/packet.h"
#include "logging/protocols/protocol.h"

namespace {

using namespace deruz::logging;

// Accepts everything and keeps nothing.
class TDiscardProtocol final : public TSiProtocol {
  public:
    std::string GetName() const override { return "discard"; }
    std::uint64_t Written() const { return FWritten.load(std::memory_order_relaxed); }

  protected:
    void InternalConnect() override {}
    void InternalDisconnect() override {}
    void InternalWritePacket(TSiPacket&) override {
        FWritten.fetch_add(1, std::memory_order_relaxed);
    }

  private:
    std::atomic<std::uint64_t> FWritten{0};
};

constexpr int kBatch = 1 << 16;

TSiPacketPtr SmallEntry() {
    const auto LEntry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
    LEntry->Title = "A small log message";
    LEntry->SetThreadSafe(true);
    return LEntry;
}

// ANewPackets: build a new packet for every write (the whole cost of logging asynchronously),
// or write one packet over and over (the framework's own cost: queueing, the worker's hand-over
// and the packet lock).
void BM_AsyncWrite(benchmark::State& AState, const char* AOptions, bool ANewPackets) {
    const auto LOwner = SiMakeProtocol<TDiscardProtocol>();
    TDiscardProtocol& LProtocol = *LOwner;
    LProtocol.Initialize(AOptions);
    LProtocol.Connect();
    const TSiPacketPtr LShared = SmallEntry();
    for (auto _ : AState) {
        for (int LIndex = 0; LIndex < kBatch; ++LIndex) {
            LProtocol.WritePacket(ANewPackets ? *SmallEntry() : *LShared);
        }
        LProtocol.Disconnect();
        LProtocol.Connect();
    }
    LProtocol.Disconnect();
    AState.SetItemsProcessed(AState.iterations() * kBatch);
    AState.counters["delivered_per_second"] =
        benchmark::Counter(static_cast<double>(LProtocol.Written()), benchmark::Counter::kIsRate);
}

constexpr const char* kThrottled = "async.enabled=true";
constexpr const char* kTrim = "async.enabled=true, async.throttle=false";

BENCHMARK_CAPTURE(BM_AsyncWrite, throttled_same_packet, kThrottled, false)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AsyncWrite, trim_same_packet, kTrim, false)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AsyncWrite, throttled_new_packets, kThrottled, true)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AsyncWrite, trim_new_packets, kTrim, true)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
// For comparison: the same packets written synchronously, built and freed on one thread.
BENCHMARK_CAPTURE(BM_AsyncWrite, synchronous_new_packets, "", true)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
