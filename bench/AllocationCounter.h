#pragma once

#include <cstddef>

#include <benchmark/benchmark.h>

// Counts the heap allocations of the whole process (operator new is replaced
// in AllocationCounter.cpp), so that a benchmark can report what one
// operation allocates.
struct AllocationCounts {
    std::size_t allocations = 0;
    std::size_t bytes = 0;
    std::size_t live_bytes = 0;
};

AllocationCounts CurrentAllocations();

// Reports allocations per iteration between two readings of the counter.
class AllocationReport {
public:
    explicit AllocationReport(benchmark::State& state) : state_(state), start_(CurrentAllocations()) {}
    ~AllocationReport()
    {
        const AllocationCounts end = CurrentAllocations();
        const auto per_iteration = benchmark::Counter::kAvgIterations;
        state_.counters["allocs"] =
            benchmark::Counter(static_cast<double>(end.allocations - start_.allocations), per_iteration);
        state_.counters["heap_bytes"] =
            benchmark::Counter(static_cast<double>(end.bytes - start_.bytes), per_iteration);
    }

private:
    benchmark::State& state_;
    AllocationCounts start_;
};
