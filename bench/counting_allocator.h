// Counts every heap allocation the process makes, through replaced global
// operator new; the benchmarks report allocations per call with it.
#pragma once

#include <cstdint>

namespace zorsck::bench {

// Allocations through operator new since the process started; any thread.
std::uint64_t allocationCount();

}  // namespace zorsck::bench
