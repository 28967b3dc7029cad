#pragma once
// Bytes the process has allocated and not freed, for tests that bound what a reader holds.
// A sanitizer build allocates through the sanitizer's own allocator, which malloc's statistics
// never see, so there the sanitizer is asked instead. Without one, mallinfo2() reports the main
// arena only: a test that measures another thread's heap keeps every thread on that arena
// (mallopt(M_ARENA_MAX, 1) before any thread starts).

#include <malloc.h>

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define OSTREL_TEST_SANITIZER_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define OSTREL_TEST_SANITIZER_HEAP 1
#endif
#endif

#ifdef OSTREL_TEST_SANITIZER_HEAP
// The sanitizer runtime's own count (g++ ships no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace ostrel_server::test {

inline std::size_t heap_in_use() {
#ifdef OSTREL_TEST_SANITIZER_HEAP
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
#endif
}

}  // namespace ostrel_server::test
