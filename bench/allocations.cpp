#include "allocations.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

// The replaced operator new takes from malloc, so handing its pointers to free is right; g++
// cannot see that once the pair is inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
std::atomic<std::size_t> g_allocations{0};
}  // namespace

void* operator new(std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace ostrel_bench {
std::size_t allocations() { return g_allocations.load(std::memory_order_relaxed); }
}  // namespace ostrel_bench
