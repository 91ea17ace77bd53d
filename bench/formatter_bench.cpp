// Cost of turning a typical log entry into its binary packet, with the formatter's work buffer
// and the output stream both reused as the protocols reuse them. The counter
// allocs_per_packet counts every global operator new during the timed loop; after warm-up it
// must be 0.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/alloc_counter.h"
#include "logging/format/binary_formatter.h"

namespace {

using namespace deruz::logging;

void BM_FormatLogEntry(benchmark::State& AState) {
    auto entry = SiMakeRef<TSiLogEntry>(ltMessage, viTitle);
    entry->Title = "Command sent to the imaging application, waiting for answer";  // 60
    entry->AppName = "PracticeHost.exe";
    entry->HostName = "RECEPTION-PC-02";
    entry->SessionName = "DeRuz64";
    entry->Timestamp = 45500.4375;
    entry->Color = 0x8000;

    TSiBinaryFormatter formatter;
    TSiMemoryStream output;
    formatter.Format(*entry, output);  // warm-up: the buffers reach their working size

    const std::uint64_t before = BenchAllocations();
    for (auto _ : AState) {
        output.SetPosition(0);
        formatter.Format(*entry, output);
        benchmark::DoNotOptimize(output.Bytes().data());
        benchmark::ClobberMemory();
    }
    const std::uint64_t allocations = BenchAllocations() - before;

    AState.counters["allocs_per_packet"] =
        static_cast<double>(allocations) / static_cast<double>(AState.iterations());
    AState.counters["packet_bytes"] = static_cast<double>(output.GetSize());
    AState.SetItemsProcessed(AState.iterations());
    AState.SetBytesProcessed(AState.iterations() * output.GetSize());
}
BENCHMARK(BM_FormatLogEntry);

}  // namespace
