// The program's global allocation functions, counting each allocation.
#include "bench/alloc_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

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

std::uint64_t BenchAllocations() noexcept {
    return GAllocations.load(std::memory_order_relaxed);
}
