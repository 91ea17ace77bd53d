// Counts every global operator new of a benchmark program, so that benchmarks can report
// allocations per item beside their times. Linking alloc_counter.cpp replaces the global
// allocation functions of the program.
#pragma once

#include <cstdint>

// Allocations made so far by the whole program.
std::uint64_t BenchAllocations() noexcept;
