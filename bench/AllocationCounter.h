#pragma once

#include <cstddef>

// Counts the heap allocations of the whole process (operator new is replaced
// in AllocationCounter.cpp), so that a benchmark can report what one
// operation allocates.
struct AllocationCounts {
    std::size_t allocations = 0;
    std::size_t bytes = 0;
    std::size_t live_bytes = 0;
};

AllocationCounts CurrentAllocations();
