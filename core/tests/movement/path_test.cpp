#include "movement/path.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "support/voxel_world.hpp"

namespace ostrel_core::path {
namespace {

using test::VoxelWorld;
using Blocks = std::vector<BlockPos>;

constexpr MaterialId kStone = 2;

// Stone at y -1 and below, air above, over chunks x, z 0..1; a ledge three blocks tall
// (x 0..1, y 0..2, z 0..3) with its top at y 3, and one step block at (6, 0, 1).
VoxelWorld ledge() {
  VoxelWorld w;
  w.air({0, 0, 0}, {1, 0, 1});
  w.blocks({0, -16, 0}, {31, -1, 31}, kStone);
  w.blocks({0, 0, 0}, {1, 2, 3}, kStone);
  w.blocks({6, 0, 1}, {6, 0, 1}, kStone);
  return w;
}

Searched find(const VoxelWorld& w, Scratch& scratch, BlockPos start, BlockPos goal, std::int32_t step_up = 1,
              std::int32_t max_drop = 3) {
  Terrain terrain(&w, {}, 2, scratch);
  return search(terrain, start, goal, kDefaultBudget, step_up, max_drop);
}

TEST(PathSearch, AMoveCostsOnePlusTheBlocksClimbedOrDropped) {
  const VoxelWorld w = ledge();
  struct Case {
    const char* what;
    BlockPos start, goal;
    std::int32_t step_up, max_drop;
    Blocks path;
    std::uint32_t cost;
  };
  const Case cases[] = {
      {"level", {3, 0, 1}, {5, 0, 1}, 1, 3, {{3, 0, 1}, {4, 0, 1}, {5, 0, 1}}, 2},
      {"a drop of 3", {1, 3, 1}, {2, 0, 1}, 1, 3, {{1, 3, 1}, {2, 0, 1}}, 4},
      {"a drop of 3, then level", {1, 3, 1}, {3, 0, 1}, 1, 3, {{1, 3, 1}, {2, 0, 1}, {3, 0, 1}}, 5},
      {"a step up of 1", {5, 0, 1}, {6, 1, 1}, 1, 3, {{5, 0, 1}, {6, 1, 1}}, 2},
      {"a climb of 3", {2, 0, 1}, {1, 3, 1}, 3, 3, {{2, 0, 1}, {1, 3, 1}}, 4},
  };
  Scratch scratch;
  for (const auto& c : cases) {
    const Searched s = find(w, scratch, c.start, c.goal, c.step_up, c.max_drop);
    EXPECT_EQ(s.found, c.path) << c.what;
    EXPECT_EQ(s.cost, c.cost) << c.what;
  }
  // No path, no cost.
  const Searched none = find(w, scratch, {1, 3, 1}, {2, 0, 1}, 1, 2);
  EXPECT_EQ(none.found, Found(std::unexpected(PathFailure::Unreachable)));
  EXPECT_EQ(none.cost, 0u);
}

TEST(PathSearch, AReusedScratchAnswersAsAFreshOne) {
  VoxelWorld w = ledge();
  Scratch kept;
  const Searched first = find(w, kept, {3, 0, 5}, {9, 0, 5});
  ASSERT_TRUE(first.found.has_value());
  EXPECT_EQ(first.cost, 6u);
  // A wall across the way: the kept scratch must not answer from the previous search.
  w.blocks({8, 0, 0}, {8, 2, 31}, kStone);
  Scratch fresh;
  const Searched again = find(w, kept, {3, 0, 5}, {9, 0, 5});
  const Searched anew = find(w, fresh, {3, 0, 5}, {9, 0, 5});
  EXPECT_EQ(again.found, Found(std::unexpected(PathFailure::Unreachable)));
  EXPECT_EQ(again.found, anew.found);
  EXPECT_EQ(again.charge, anew.charge);
  // Many searches on one scratch give the fresh answers; the first, toward a closed pocket,
  // walks every block of the floor, filling more than the scratch's first table.
  w.blocks({8, 0, 0}, {8, 2, 31}, 0);
  w.blocks({19, 0, 19}, {21, 2, 21}, kStone);
  w.blocks({20, 0, 20}, {20, 2, 20}, 0);
  for (int i = 0; i < 50; ++i) {
    const BlockPos goal = i == 0 ? BlockPos{20, 0, 20} : BlockPos{2 + i % 29, 0, 2 + i / 2 % 29};
    Scratch one;
    const Searched a = find(w, kept, {3, 0, 5}, goal);
    const Searched b = find(w, one, {3, 0, 5}, goal);
    EXPECT_EQ(a.found, b.found) << i;
    EXPECT_EQ(a.charge, b.charge) << i;
    EXPECT_EQ(a.cost, b.cost) << i;
    if (i == 0) {
      EXPECT_EQ(a.found, Found(std::unexpected(PathFailure::Unreachable)));
    }
  }
}

}  // namespace
}  // namespace ostrel_core::path
