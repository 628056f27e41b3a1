#pragma once
// Counts every heap allocation of the process (operator new and the C
// allocator), so a benchmark can report allocations per iteration.

#include <cstdint>

namespace ovra::bench {

std::uint64_t AllocationCount();

}  // namespace ovra::bench
