#pragma once
// Heap allocations made through the benchmark program's global operator new so far, on every
// thread; a benchmark reports the difference over its iterations.

#include <cstddef>

namespace ostrel_bench {

std::size_t allocations();

}  // namespace ostrel_bench
