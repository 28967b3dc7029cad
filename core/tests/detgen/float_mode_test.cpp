#include "detgen/float_mode.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "support/flush_subnormals.hpp"

namespace ostrel_core::detgen {
namespace {

// Runs the check on a new thread whose floating-point unit flushes subnormals to zero and
// treats subnormal inputs as zero; the caller's thread is left as it was.
std::expected<void, NotIeeeMode> check_on_flushing_thread() {
  std::optional<std::expected<void, NotIeeeMode>> result;
  std::thread t([&] {
    test::flush_subnormals();
    result = check_float_mode();
  });
  t.join();
  return *result;
}

TEST(FloatMode, PassesOnAnOrdinaryThread) { EXPECT_TRUE(check_float_mode()); }

TEST(FloatMode, FlushToZeroThreadFailsNamingTheBits) {
  const auto r = check_on_flushing_thread();
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().observed, 0u);
  EXPECT_EQ(
      r.error().message(),
      "this thread's FPU is in flush-to-zero or denormals-are-zero mode: halving the smallest normal f32 "
      "gave "
      "0x00000000, expected 0x00400000. Subnormal results are being silently replaced with zero, so "
      "simulation "
      "on this thread will NOT match other machines. Audio backends and GPU drivers set this mode "
      "process-wide; simulation must never run on a thread owned by one. See docs/float-determinism.md.");
  // The flag was the other thread's: this one still keeps subnormals.
  EXPECT_TRUE(check_float_mode());
}

}  // namespace
}  // namespace ostrel_core::detgen
