#include "tick/accumulator.hpp"

#include <gtest/gtest.h>

#include <chrono>

#include "support/alloc_count.hpp"

namespace ostrel_core::tick {
namespace {

constexpr Span ms(std::uint64_t n) { return Span::from_millis(n); }
constexpr Span ns_after(Span s, std::uint32_t n) { return {s.secs, s.nanos + n}; }

struct Case {
  const char* name;
  Span elapsed;  // on a fresh clock
  Advance want;
  Span kept;
};

TEST(Accumulator, OneAdvanceOnAFreshClock) {
  const Case cases[] = {
      {"zero", ms(0), {ms(50), 0, 0}, ms(0)},
      {"20ms", ms(20), {ms(30), 0, 0}, ms(20)},
      {"50ms", ms(50), {ms(0), 1, 0}, ms(0)},
      {"120ms", ms(120), {ms(0), 2, 0}, ms(20)},
      {"250ms", ms(250), {ms(0), 5, 0}, ms(0)},
      {"250ms+1ns", ns_after(ms(250), 1), {ms(0), 5, 0}, {0, 1}},
      {"300ms", ms(300), {ms(0), 5, 1}, ms(0)},
      {"400ms", ms(400), {ms(0), 5, 3}, ms(0)},
      {"three days", {3 * 86400, 0}, {ms(0), 5, 3 * 86400 * 20 - 5}, ms(0)},
      {"saturated", Span::max(), {ms(0), 5, 4'294'967'290u}, ms(0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Accumulator a;
    EXPECT_EQ(a.advance(c.elapsed), c.want);
    EXPECT_EQ(a.accumulated(), c.kept);
    EXPECT_EQ(a.ticks(), c.want.steps);
    EXPECT_EQ(a.dropped(), c.want.dropped);
  }
}

TEST(Accumulator, RemainderCarriesAndTotalsRunOn) {
  Accumulator a;
  EXPECT_EQ(a.advance(ms(30)), (Advance{ms(20), 0, 0}));
  EXPECT_EQ(a.advance(ms(30)), (Advance{ms(0), 1, 0}));  // 60 owed: one step, 10 kept
  EXPECT_EQ(a.accumulated(), ms(10));
  EXPECT_EQ(a.advance(ms(390)), (Advance{ms(0), 5, 3}));
  EXPECT_EQ(a.ticks(), 6u);
  EXPECT_EQ(a.dropped(), 3u);
}

TEST(Accumulator, AddingToASaturatedClockStaysSaturated) {
  Accumulator a;
  a.advance(Span::max());  // clears what it owed
  Span almost{~std::uint64_t{0}, 999'999'999};
  a.advance(ms(10));
  // 10 ms + the largest span saturates instead of wrapping round to almost nothing.
  EXPECT_EQ(a.advance(almost), (Advance{ms(0), 5, 4'294'967'290u}));
}

TEST(Accumulator, NegativeElapsedCountsAsZero) {
  EXPECT_EQ(Span::of(std::chrono::nanoseconds(-5)), Span{});
  EXPECT_EQ(Span::of(std::chrono::milliseconds(1500)), (Span{1, 500'000'000}));
}

TEST(Accumulator, AdvanceAllocatesNothing) {
  Accumulator a;
  test::AllocationWatch watch;
  for (int i = 0; i < 1000; ++i) a.advance(ms(i % 400));
  EXPECT_EQ(watch.count(), 0u);
}

}  // namespace
}  // namespace ostrel_core::tick
