#include "world/sqlclock.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace ostrel_server::sqlclock {
namespace {

using std::chrono::milliseconds;

TEST(SqlClock, KeepsFirst4096CallsAndSumsTheRestAsUnlisted) {
  Log log;
  const auto t0 = Clock::time_point{} + milliseconds(1000);
  for (std::size_t i = 0; i < kMaxCalls; ++i)
    log.record("load chunk", t0 + milliseconds(i), t0 + milliseconds(i + 1));
  EXPECT_EQ(log.size(), kMaxCalls);
  // Three more calls of 2, 3 and 5 ms: the first one's start becomes the overflow's start.
  log.record("save chunk batch", t0 + milliseconds(5000), t0 + milliseconds(5002));
  log.record("load fluid", t0 + milliseconds(6000), t0 + milliseconds(6003));
  log.record("load fluid", t0 + milliseconds(7000), t0 + milliseconds(7005));
  EXPECT_EQ(log.size(), kMaxCalls);

  auto taken = log.take();
  ASSERT_EQ(taken.calls.size(), kMaxCalls);
  EXPECT_EQ(taken.calls.front().start, t0);
  EXPECT_EQ(taken.calls.back().start, t0 + milliseconds(kMaxCalls - 1));
  EXPECT_EQ(taken.calls.back().duration, milliseconds(1));
  ASSERT_TRUE(taken.unlisted.has_value());
  EXPECT_EQ(taken.unlisted->label, "unlisted");
  EXPECT_EQ(taken.unlisted->start, t0 + milliseconds(5000));
  EXPECT_EQ(taken.unlisted->duration, milliseconds(10));

  auto again = log.take();
  EXPECT_TRUE(again.calls.empty());
  EXPECT_FALSE(again.unlisted.has_value());
}

TEST(SqlClock, BackwardsClockGivesZeroAndABorrowedLogDropsCalls) {
  Log log;
  const auto t0 = Clock::time_point{} + milliseconds(50);
  log.record("load summary", t0, t0 - milliseconds(3));
  {
    auto b = log.borrow();
    ASSERT_TRUE(b.has_value());
    EXPECT_FALSE(log.borrow().has_value());
    log.record("dropped", t0, t0 + milliseconds(1));
  }
  log.record("save summaries", t0, t0 + milliseconds(4));
  auto taken = log.take();
  ASSERT_EQ(taken.calls.size(), 2u);
  EXPECT_EQ(taken.calls[0].label, "load summary");
  EXPECT_EQ(taken.calls[0].duration, Clock::duration::zero());
  EXPECT_EQ(taken.calls[1].label, "save summaries");
  EXPECT_EQ(taken.calls[1].duration, milliseconds(4));
}

TEST(SqlClock, TimedPassesTheResultOnAndRecordsTheLabel) {
  Log log;
  int ran = 0;
  const int got = timed(log, "load player", [&] { return ++ran + 41; });
  timed(log, "save player", [&] { ++ran; });
  EXPECT_EQ(got, 42);
  EXPECT_EQ(ran, 2);
  auto taken = log.take();
  ASSERT_EQ(taken.calls.size(), 2u);
  EXPECT_EQ(taken.calls[0].label, "load player");
  EXPECT_EQ(taken.calls[1].label, "save player");
}

}  // namespace
}  // namespace ostrel_server::sqlclock
