#include "movement/phys/input.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace ostrel_core::phys::input {
namespace {

Intent walk(float x) { return Intent{.walk_x = x}; }

TEST(InputQueue, AcceptsOnlyTheWindowPastTheLastTake) {
  InputQueue q(100);
  struct {
    std::uint64_t seq;
    bool accepted;
  } cases[] = {{100, false}, {99, false}, {101, true}, {164, true}, {165, false}, {0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seq);
    EXPECT_EQ(q.offer(c.seq, walk(1)), c.accepted);
  }
  EXPECT_EQ(q.pending(), 2u);
}

TEST(InputQueue, FirstIntentForASequenceStays) {
  InputQueue q(100);
  EXPECT_TRUE(q.offer(105, walk(1)));
  EXPECT_FALSE(q.offer(105, walk(2)));
  EXPECT_EQ(q.take(105), walk(1));
}

TEST(InputQueue, TakeConsumesUpToTheTickAndKeepsTheRest) {
  InputQueue q(100);
  q.offer(101, walk(1));
  q.offer(102, walk(2));
  q.offer(107, walk(7));
  EXPECT_EQ(q.take(103), walk(2));
  EXPECT_EQ(q.pending(), 1u);
  EXPECT_EQ(q.last_taken(), 103u);
  EXPECT_EQ(q.last_input(), 103u);
  EXPECT_FALSE(q.offer(103, walk(3)));
  EXPECT_EQ(q.take(107), walk(7));
}

TEST(InputQueue, TheLastIntentLastsTenTicksThenTheBodyStops) {
  InputQueue q(99);
  q.offer(100, walk(1));
  EXPECT_EQ(q.take(100), walk(1));
  for (std::uint64_t t = 101; t <= 110; ++t) EXPECT_EQ(q.take(t), walk(1)) << t;
  EXPECT_EQ(q.take(111), Intent{});
}

TEST(InputQueue, ANewQueueWindowStartsAtTheTickCount) {
  InputQueue q(5000);
  EXPECT_FALSE(q.offer(5000, walk(1)));
  EXPECT_TRUE(q.offer(5001, walk(1)));
  EXPECT_TRUE(q.offer(5064, walk(1)));
  EXPECT_FALSE(q.offer(5065, walk(1)));
}

TEST(InputQueue, SequencesNearTheTopNeverWrapTheWindow) {
  constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
  InputQueue q(kMax - 10);
  EXPECT_TRUE(q.offer(kMax, walk(1)));
  InputQueue low(0);
  EXPECT_FALSE(low.offer(kMax, walk(1)));
  EXPECT_EQ(low.pending(), 0u);
}

}  // namespace
}  // namespace ostrel_core::phys::input
