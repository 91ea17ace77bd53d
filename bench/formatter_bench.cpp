// Cost of turning a typical log entry into its binary packet, with the formatter's work buffer
// and the output stream both reused as the protocols reuse them. The counter
// allocs_per_packet counts every global operator new during the timed loop; after warm-up it
// must be 0.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "logging/binary_formatter.h"

namespace {

std::atomic<std::uint64_t> GAllocations{0};

void* CountedAllocate(std::size_t ASize) {
    GAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(ASize == 0 ? 1 : ASize)) {
        return memory;
    }
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t ASize) {
    return CountedAllocate(ASize);
}
void* operator new[](std::size_t ASize) {
    return CountedAllocate(ASize);
}
void* operator new(std::size_t ASize, const std::nothrow_t&) noexcept {
    GAllocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(ASize == 0 ? 1 : ASize);
}
void* operator new[](std::size_t ASize, const std::nothrow_t& ATag) noexcept {
    return operator new(ASize, ATag);
}
void operator delete(void* AMemory) noexcept {
    std::free(AMemory);
}
void operator delete[](void* AMemory) noexcept {
    std::free(AMemory);
}
void operator delete(void* AMemory, std::size_t) noexcept {
    std::free(AMemory);
}
void operator delete[](void* AMemory, std::size_t) noexcept {
    std::free(AMemory);
}

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

    const std::uint64_t before = GAllocations.load();
    for (auto _ : AState) {
        output.SetPosition(0);
        formatter.Format(*entry, output);
        benchmark::DoNotOptimize(output.Bytes().data());
        benchmark::ClobberMemory();
    }
    const std::uint64_t allocations = GAllocations.load() - before;

    AState.counters["allocs_per_packet"] =
        static_cast<double>(allocations) / static_cast<double>(AState.iterations());
    AState.counters["packet_bytes"] = static_cast<double>(output.GetSize());
    AState.SetItemsProcessed(AState.iterations());
    AState.SetBytesProcessed(AState.iterations() * output.GetSize());
}
BENCHMARK(BM_FormatLogEntry);

}  // namespace
