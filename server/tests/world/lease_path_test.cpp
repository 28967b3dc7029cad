#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "support/lent_world.hpp"
#include "world/lease_shared.hpp"

namespace ostrel_server::lease {
namespace {

namespace path = ostrel_core::path;
using ostrel_core::block::BlockValue;
using test::kStone;
using test::LentWorld;

using Blocks = std::vector<BlockPos>;

path::Found fail(path::PathFailure f) { return std::unexpected(f); }

// Stone below y = 0 and air above over chunks x, z 0..5 (96 x 96 blocks): bodies stand at y 0.
class PathTest : public ::testing::Test {
 protected:
  PathTest() {
    for (int x = 0; x < 6; ++x) {
      for (int z = 0; z < 6; ++z) {
        lent_.fill("overworld", ChunkPos{x, -1, z}, kStone);
        lent_.air("overworld", ChunkPos{x, 0, z});
      }
    }
  }
  path::Found find(path::Vec3d from, path::Vec3d to, path::PathOptions options = {}) {
    return lent_.shared().find_path("overworld", from, to, options);
  }
  std::uint32_t left() { return lent_.lease().path_budget()->available(); }
  // A ring of stone three blocks tall around block (x, 0, z): standable inside, unreachable.
  void pocket(std::int32_t x, std::int32_t z) {
    lent_.box("overworld", BlockPos{x - 1, 0, z - 1}, BlockPos{x + 1, 2, z + 1}, kStone);
    lent_.set("overworld", BlockPos{x, 0, z}, BlockValue::air());
    lent_.set("overworld", BlockPos{x, 1, z}, BlockValue::air());
    lent_.set("overworld", BlockPos{x, 2, z}, BlockValue::air());
  }
  LentWorld lent_;
};

TEST_F(PathTest, RequestsRefusedBeforeSearchingCostNothing) {
  lent_.box("overworld", BlockPos{10, 0, 10}, BlockPos{10, 3, 10}, kStone);
  struct Case {
    const char* what;
    path::Vec3d from, to;
    path::Found found;
  };
  const Case cases[] = {
      {"one block inside a wall", {10.5, 1.2, 10.5}, {10.9, 1.9, 10.1}, Blocks{{10, 1, 10}}},
      {"193 blocks away", {1.5, 0, 1.5}, {194.5, 0, 1.5}, fail(path::PathFailure::Unreachable)},
      {"192 blocks away, not resident there",
       {1.5, 0, 1.5},
       {193.5, 0, 1.5},
       fail(path::PathFailure::Unreachable)},
      {"y 60000", {1.5, 0, 1.5}, {1.5, 60000, 1.5}, fail(path::PathFailure::Unreachable)},
      {"a start at y 60000", {1.5, 60000, 1.5}, {1.5, 60000, 1.5}, fail(path::PathFailure::Unreachable)},
      {"a goal in mid-air", {1.5, 0, 1.5}, {5.5, 4, 5.5}, fail(path::PathFailure::Unreachable)},
      {"a goal inside a wall", {1.5, 0, 1.5}, {10.5, 1, 10.5}, fail(path::PathFailure::Unreachable)},
      {"a NaN start",
       {std::numeric_limits<double>::quiet_NaN(), 0, 0},
       {1, 0, 1},
       fail(path::PathFailure::Unreachable)},
      {"an infinite goal",
       {1, 0, 1},
       {std::numeric_limits<double>::infinity(), 0, 0},
       fail(path::PathFailure::Unreachable)},
      {"the i32 corner",
       {-2147483648.0, -2147483648.0, 0},
       {2147483647.0, 0, 0},
       fail(path::PathFailure::Unreachable)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(find(c.from, c.to), c.found) << c.what;
    EXPECT_EQ(left(), 8000u) << c.what;
  }
  EXPECT_EQ(lent_.shared().find_path("nowhere", {1.5, 0, 1.5}, {4.5, 0, 1.5}, {}),
            fail(path::PathFailure::Unreachable));
  EXPECT_EQ(left(), 8000u);
}

TEST_F(PathTest, AStraightWalkIsChargedItsExpansions) {
  EXPECT_EQ(find({1.5, 0, 5.5}, {5.5, 0, 5.5}),
            (Blocks{{1, 0, 5}, {2, 0, 5}, {3, 0, 5}, {4, 0, 5}, {5, 0, 5}}));
  EXPECT_EQ(left(), 8000u - 4u);  // x = 1, 2, 3, 4 expanded; the goal counts none
  // Around a wall across z = 3..7 at x = 3: still the shortest walk.
  lent_.box("overworld", BlockPos{3, 0, 3}, BlockPos{3, 2, 7}, kStone);
  const auto around = find({1.5, 0, 5.5}, {5.5, 0, 5.5});
  ASSERT_TRUE(around.has_value());
  EXPECT_EQ(around->size(), 11u);  // 4 across, 3 out to z 8 and 3 back, plus the start
  EXPECT_EQ(around->front(), (BlockPos{1, 0, 5}));
  EXPECT_EQ(around->back(), (BlockPos{5, 0, 5}));
}

TEST_F(PathTest, TheSharedBudget) {
  pocket(60, 60);
  // 8000 left and a budget of 10000: the search may make 8000 and is charged 8001.
  EXPECT_EQ(find({1.5, 0, 1.5}, {60.5, 0, 60.5}, {10000, 2, 1, 3}), fail(path::PathFailure::OverBudget));
  EXPECT_EQ(left(), 0u);
  EXPECT_EQ(find({1.5, 0, 1.5}, {3.5, 0, 1.5}), fail(path::PathFailure::OverBudget));  // at once
  EXPECT_EQ(find({1.5, 0, 1.5}, {1.5, 0, 1.5}), fail(path::PathFailure::OverBudget));  // even one block
  lent_.lease().path_budget()->refill();
  // A 2000 search that runs out leaves 8000 - 2001; budget 0 reads as 2000.
  EXPECT_EQ(find({1.5, 0, 1.5}, {60.5, 0, 60.5}, {0, 2, 1, 3}), fail(path::PathFailure::OverBudget));
  EXPECT_EQ(left(), 5999u);
  // Budgets past the i32 and u32 limits are capped at 10000 and then by what is left.
  EXPECT_EQ(find({1.5, 0, 1.5}, {60.5, 0, 60.5}, {UINT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX}),
            fail(path::PathFailure::OverBudget));
  EXPECT_EQ(left(), 0u);
  lent_.lease().path_budget()->refill();
  // The pocket closed on every side with a small budget: over budget, the whole budget + 1.
  EXPECT_EQ(find({1.5, 0, 1.5}, {60.5, 0, 60.5}, {10, 2, 1, 3}), fail(path::PathFailure::OverBudget));
  EXPECT_EQ(left(), 8000u - 11u);
}

TEST_F(PathTest, AnEnclosedStartRunsOutOfBlocks) {
  pocket(20, 20);
  lent_.lease().path_budget()->refill();
  EXPECT_EQ(find({20.5, 0, 20.5}, {30.5, 0, 20.5}), fail(path::PathFailure::Unreachable));
  EXPECT_EQ(left(), 8000u - 1u);  // the start alone was expanded
}

// A corridor along x at z = 5, walls three tall on both sides, closed at x = 0 and x = 8.
class CorridorTest : public PathTest {
 protected:
  CorridorTest() {
    lent_.box("overworld", BlockPos{0, 0, 4}, BlockPos{8, 4, 4}, kStone);
    lent_.box("overworld", BlockPos{0, 0, 6}, BlockPos{8, 4, 6}, kStone);
    lent_.box("overworld", BlockPos{0, 0, 5}, BlockPos{0, 4, 5}, kStone);
    lent_.box("overworld", BlockPos{8, 0, 5}, BlockPos{8, 4, 5}, kStone);
  }
  void column(std::int32_t x, std::initializer_list<std::int32_t> solid_ys) {
    for (const auto y : solid_ys) lent_.set("overworld", BlockPos{x, y, 5}, BlockValue::whole(kStone));
  }
};

TEST_F(CorridorTest, StepsDropsAndCeilings) {
  column(3, {0});  // a one-block step at x = 3
  struct Case {
    const char* what;
    path::Vec3d from, to;
    path::PathOptions options;
    path::Found found;
  };
  const Case cases[] = {
      {"up the step", {2.5, 0, 5.5}, {3.5, 1, 5.5}, {}, Blocks{{2, 0, 5}, {3, 1, 5}}},
      {"down the step", {3.5, 1, 5.5}, {4.5, 0, 5.5}, {}, Blocks{{3, 1, 5}, {4, 0, 5}}},
      {"step_up 0 climbs nothing",
       {2.5, 0, 5.5},
       {3.5, 1, 5.5},
       {2000, 2, 0, 3},
       fail(path::PathFailure::Unreachable)},
      {"negative step_up",
       {2.5, 0, 5.5},
       {3.5, 1, 5.5},
       {2000, 2, INT32_MIN, 3},
       fail(path::PathFailure::Unreachable)},
      {"max_drop 0 descends nothing",
       {3.5, 1, 5.5},
       {4.5, 0, 5.5},
       {2000, 2, 1, 0},
       fail(path::PathFailure::Unreachable)},
  };
  for (const auto& c : cases) EXPECT_EQ(find(c.from, c.to, c.options), c.found) << c.what;

  // A ceiling over x = 2 at the body's height: the step up from there is not taken.
  column(2, {2});
  EXPECT_EQ(find({2.5, 0, 5.5}, {3.5, 1, 5.5}), fail(path::PathFailure::Unreachable));
  // A body one block tall fits under it and climbs.
  EXPECT_EQ(find({2.5, 0, 5.5}, {3.5, 1, 5.5}, {2000, 1, 1, 3}), (Blocks{{2, 0, 5}, {3, 1, 5}}));
}

TEST_F(CorridorTest, LevelBeforeStepUpBeforeDrop) {
  // At x = 2 both a level floor and, on a block at y 1, a floor two up.
  const path::PathOptions short_body{2000, 1, 2, 3};
  column(2, {1});
  EXPECT_EQ(find({1.5, 0, 5.5}, {3.5, 0, 5.5}, short_body), (Blocks{{1, 0, 5}, {2, 0, 5}, {3, 0, 5}}));

  // x = 5: stone at y 0 with air at -1 over stone at -2, so both (5, 1) and (5, -1) stand.
  lent_.set("overworld", BlockPos{5, -1, 5}, BlockValue::air());
  lent_.set("overworld", BlockPos{5, -2, 5}, BlockValue::whole(kStone));
  column(5, {0});
  // From (4, 0) the rise to (5, 1) wins over the equal drop to (5, -1); both reach (6, 0).
  EXPECT_EQ(find({4.5, 0, 5.5}, {6.5, 0, 5.5}, short_body), (Blocks{{4, 0, 5}, {5, 1, 5}, {6, 0, 5}}));
}

TEST_F(CorridorTest, VerticalMovesCostOneMorePerBlock) {
  // A pit three deep at x = 4: down costs 4 and up costs 4, so crossing it (8) loses to a level
  // detour of 4 moves through a side lane at z = 6, and wins once the lane is longer than 8.
  const path::PathOptions climber{2000, 2, 3, 3};
  lent_.box("overworld", BlockPos{4, -3, 5}, BlockPos{4, -1, 5}, 0);
  lent_.box("overworld", BlockPos{3, 0, 6}, BlockPos{5, 1, 6}, 0);  // the lane
  lent_.box("overworld", BlockPos{3, 0, 7}, BlockPos{5, 4, 7}, kStone);
  EXPECT_EQ(find({3.5, 0, 5.5}, {5.5, 0, 5.5}, climber),
            (Blocks{{3, 0, 5}, {3, 0, 6}, {4, 0, 6}, {5, 0, 6}, {5, 0, 5}}));
  EXPECT_EQ(find({3.5, 0, 5.5}, {5.5, 0, 5.5}, {2000, 2, 3, 2}),
            (Blocks{{3, 0, 5}, {3, 0, 6}, {4, 0, 6}, {5, 0, 6}, {5, 0, 5}}));
  lent_.box("overworld", BlockPos{3, 0, 6}, BlockPos{5, 1, 6}, kStone);
  EXPECT_EQ(find({3.5, 0, 5.5}, {5.5, 0, 5.5}, climber), (Blocks{{3, 0, 5}, {4, -3, 5}, {5, 0, 5}}));
  // Deeper than max_drop, or higher than step_up: no way across.
  EXPECT_EQ(find({3.5, 0, 5.5}, {5.5, 0, 5.5}, {2000, 2, 3, 2}), fail(path::PathFailure::Unreachable));
  EXPECT_EQ(find({3.5, 0, 5.5}, {5.5, 0, 5.5}, {2000, 2, 2, 3}), fail(path::PathFailure::Unreachable));
}

}  // namespace
}  // namespace ostrel_server::lease

namespace ostrel_server::lease {
namespace {

// A floor at y 0 (stone below) over chunk (0, 0, 0); a lip at x = 6 ahead of a body walking +x.
class SteerTest : public ::testing::Test {
 protected:
  SteerTest() {
    lent_.fill("overworld", ChunkPos{0, -1, 0}, kStone);
    lent_.air("overworld", ChunkPos{0, 0, 0}, ChunkPos{0, 1, 0});
  }
  std::optional<path::Steering> steer(path::Vec3d from, path::Vec3d to, std::int32_t height = 2,
                                      std::string_view domain = "overworld") {
    return lent_.shared().steer(domain, from, to, height);
  }
  std::optional<path::Steering> ahead(std::int32_t height = 2) {
    return steer({5.5, 0, 5.5}, {9.5, 0, 5.5}, height);
  }
  LentWorld lent_;
};

constexpr std::uint32_t kBottom = 0x1C0E07;  // the cells of y 0
constexpr std::uint32_t kMiddle = kBottom << 3;

TEST_F(SteerTest, ArrivalAndDrive) {
  EXPECT_EQ(steer({5.5, 0, 5.5}, {5.9, 40, 5.9}), (path::Steering{0, 0, false, true}));  // height ignored
  EXPECT_EQ(steer({1.5, 0, 1.5}, {4.5, 0, 5.5}), (path::Steering{0.6f, 0.8f, false, false}));
  EXPECT_EQ(steer({1.5, 0, 1.5}, {4.5, 0, 5.5}, 2, "nowhere"), (path::Steering{0.6f, 0.8f, false, false}));
  // Bad points: no drive, no jump, not arrived; never NaN.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(steer({nan, 0, 0}, {1, 0, 1}), path::Steering{});
  EXPECT_EQ(steer({0, 0, 0}, {1, inf, 1}), path::Steering{});
  EXPECT_EQ(steer({-1.7e308, 0, 0}, {1.7e308, 0, 0}), path::Steering{});  // the difference overflows
  EXPECT_EQ(steer({-1e200, 0, 0}, {1e200, 0, 1e200}),
            (path::Steering{static_cast<float>(2 / std::sqrt(5.0)), static_cast<float>(1 / std::sqrt(5.0)),
                            false, false}));
}

TEST_F(SteerTest, LipsAreWalkedAndRisesJumped) {
  EXPECT_EQ(ahead(), (path::Steering{1, 0, false, false}));  // nothing ahead
  struct Case {
    const char* what;
    std::uint32_t mask;
    bool jump;
  };
  const Case cases[] = {
      {"a one-cell lip", kBottom, false},
      {"a two-cell rise", kBottom | kMiddle, true},
      {"a whole block", 0x7FFFFFF, true},
      {"a floating top layer, a clear floor", kBottom << 6, false},
  };
  for (const auto& c : cases) {
    lent_.set("overworld", BlockPos{6, 0, 5}, BlockValue::partial(kStone, c.mask));
    EXPECT_EQ(ahead(), (path::Steering{1, 0, c.jump, false})) << c.what;
  }
  // Grass counts as nothing.
  lent_.set("overworld", BlockPos{6, 0, 5}, BlockValue::whole(test::kGrass));
  EXPECT_EQ(ahead(), (path::Steering{1, 0, false, false}));
}

TEST_F(SteerTest, JumpsOnlyUnderHeadroom) {
  lent_.set("overworld", BlockPos{6, 0, 5}, BlockValue::partial(kStone, kBottom | kMiddle));
  lent_.set("overworld", BlockPos{6, 2, 5}, BlockValue::whole(kStone));
  EXPECT_FALSE(ahead(2)->jump);
  EXPECT_TRUE(ahead(1)->jump);
  EXPECT_TRUE(ahead(INT32_MIN)->jump);  // at least 1
  // A height of 2^31 - 1 reads as 16: stone at y 17 leaves room, stone at y 16 does not.
  lent_.set("overworld", BlockPos{6, 2, 5}, BlockValue::air());
  lent_.set("overworld", BlockPos{6, 17, 5}, BlockValue::whole(kStone));
  EXPECT_TRUE(ahead(INT32_MAX)->jump);
  lent_.set("overworld", BlockPos{6, 16, 5}, BlockValue::whole(kStone));
  EXPECT_FALSE(ahead(INT32_MAX)->jump);
}

}  // namespace
}  // namespace ostrel_server::lease
