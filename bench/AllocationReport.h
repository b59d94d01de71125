#pragma once

#include <benchmark/benchmark.h>

#include "bench/AllocationCounter.h"

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
