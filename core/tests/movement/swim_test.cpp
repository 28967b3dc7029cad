#include "movement/phys/swim.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "support/voxel_world.hpp"

namespace ostrel_core::phys::swim {
namespace {

using test::VoxelWorld;
using voxels::Terrain;
using voxels::Voxels;

float measure(const VoxelWorld& w, const Aabb& box) {
  const Terrain rules;
  const Voxels v(w, rules, &w, {0, 0, 0});
  return submersion(v, box);
}

Aabb player_at(float x, float y, float z) {
  return Aabb::of_body({x, y, z}, kPlayerShape.width, kPlayerShape.height);
}

TEST(Submersion, FullWaterTwoBlocksDeepIsOne) {
  VoxelWorld w;
  w.pour({0, 1, 0}, {8, 5, 8}, 1, 27);
  EXPECT_EQ(measure(w, player_at(4.5f, 3.0f, 4.5f)), 1.0f);
  EXPECT_EQ(measure(w, player_at(4.5f, 6.0f, 4.5f)), 1.0f);
}

TEST(Submersion, AThirdOfABlockOfWaterCoversTheFeet) {
  VoxelWorld w;
  w.pour({0, 1, 0}, {8, 1, 8}, 1, 9);  // level 9: the fluid's top is one cell above y 3
  const Aabb box = player_at(4.5f, 3.0f, 4.5f);
  const float wx = box.max[0] - box.min[0];
  const float wz = box.max[2] - box.min[2];
  const float want = wx * 1.0f * wz / (wx * (box.max[1] - box.min[1]) * wz);
  EXPECT_EQ(measure(w, box), want);
  EXPECT_NEAR(want, 1.0f / 5.4f, 1e-6f);
}

TEST(Submersion, EveryFluidCounts) {
  VoxelWorld w;
  w.pour({0, 0, 0}, {0, 0, 0}, 1, 27);
  w.pour({1, 0, 0}, {1, 0, 0}, 2, 27);
  // A box of two blocks side by side, one of each fluid, a third of the box above both.
  EXPECT_EQ(measure(w, Aabb{{0.0f, 0.0f, 0.0f}, {6.0f, 4.5f, 3.0f}}), 54.0f / 81.0f);
}

TEST(Submersion, EmptyBoxesAndDryPlacesAreZero) {
  VoxelWorld w;
  w.pour({0, 0, 0}, {2, 2, 2}, 1, 27);
  EXPECT_EQ(measure(w, Aabb{{1.0f, 1.0f, 1.0f}, {1.0f, 4.0f, 4.0f}}), 0.0f);  // no width
  EXPECT_EQ(measure(w, Aabb{{4.0f, 1.0f, 1.0f}, {1.0f, 4.0f, 4.0f}}), 0.0f);  // inverted
  EXPECT_EQ(measure(w, player_at(30.0f, 3.0f, 30.0f)), 0.0f);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(measure(w, Aabb{{nan, 1.0f, 1.0f}, {4.0f, 4.0f, 4.0f}}), 0.0f);
  const Terrain rules;
  const Voxels no_fluid(w, rules, nullptr, {0, 0, 0});
  EXPECT_EQ(submersion(no_fluid, player_at(4.5f, 0.0f, 4.5f)), 0.0f);
}

}  // namespace
}  // namespace ostrel_core::phys::swim
