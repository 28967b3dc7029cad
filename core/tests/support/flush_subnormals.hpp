#pragma once
// Makes the calling thread flush subnormal results to zero and treat subnormal inputs as zero,
// as audio backends and GPU drivers may; for tests of the floating-point check.

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace ostrel_core::test {

inline void flush_subnormals() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_setcsr(_mm_getcsr() | 0x8040);  // FTZ (bit 15) and DAZ (bit 6)
#elif defined(__aarch64__)
  std::uint64_t fpcr;
  __asm__ volatile("mrs %0, fpcr" : "=r"(fpcr));
  fpcr |= std::uint64_t{1} << 24;  // FZ
  __asm__ volatile("msr fpcr, %0" : : "r"(fpcr));
#endif
}

}  // namespace ostrel_core::test
