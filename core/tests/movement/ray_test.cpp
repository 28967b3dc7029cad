#include "movement/phys/ray.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "support/voxel_world.hpp"

namespace ostrel_core::phys::ray {
namespace {

using test::VoxelWorld;
using voxels::Terrain;
using voxels::Voxels;

constexpr material::MaterialId kStone = 2;
constexpr material::MaterialId kGrass = 4;

VoxelWorld open_air() {
  VoxelWorld w;
  w.air({-1, -1, -1}, {1, 1, 1});
  return w;
}

TEST(RayCast, StartingInsideASolidCellHitsItFacingBack) {
  VoxelWorld w = open_air();
  w.cells({0, 0, 0}, {0, 0, 0}, kStone);
  const Terrain rules;
  struct Case {
    const char* name;
    Vec3 direction;
    RayHit want;
  };
  const Case cases[] = {
      {"mostly x", {1.0f, 0.5f, 0.0f}, {0, {0, 0, 0}, {-1, 0, 0}}},
      {"mostly z, backwards", {0.0f, 0.2f, -1.0f}, {2, {0, 0, 0}, {0, 0, 1}}},
      {"x ties z, y leads", {0.1f, 1.0f, 0.1f}, {1, {0, 0, 0}, {0, -1, 0}}},
      {"x ties z and y", {-1.0f, 1.0f, 1.0f}, {0, {0, 0, 0}, {1, 0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Voxels v(w, rules, nullptr, {0, 0, 0});
    EXPECT_EQ(cast(v, {0.5f, 0.5f, 0.5f}, c.direction, 0.0f), c.want);
  }
}

TEST(RayCast, WalksCellsUpToTheMaximum) {
  VoxelWorld w = open_air();
  w.cells({3, 0, 0}, {3, 0, 0}, kStone);
  const Terrain rules;
  const Voxels v(w, rules, nullptr, {0, 0, 0});
  const RayHit want{0, {3, 0, 0}, {-1, 0, 0}};
  EXPECT_EQ(cast(v, {0.5f, 0.5f, 0.5f}, {1.0f, 0.0f, 0.0f}, 3.0f), want);
  EXPECT_EQ(cast(v, {0.5f, 0.5f, 0.5f}, {7.0f, 0.0f, 0.0f}, 2.5f), want);  // length does not matter
  EXPECT_EQ(cast(v, {0.5f, 0.5f, 0.5f}, {1.0f, 0.0f, 0.0f}, 2.0f), std::nullopt);
  // From the far side, going down x: the face entered is the +x one.
  EXPECT_EQ(cast(v, {6.5f, 0.5f, 0.5f}, {-1.0f, 0.0f, 0.0f}, 10.0f), (RayHit{0, {3, 0, 0}, {1, 0, 0}}));
  EXPECT_FALSE(v.touched_absent());
}

TEST(RayCast, ExactDiagonalsStepTheLaterAxisFirst) {
  VoxelWorld w = open_air();
  w.cells({1, 0, 0}, {1, 0, 0}, kStone);
  w.cells({0, 1, 0}, {0, 1, 0}, kStone);
  const Terrain rules;
  const Voxels v(w, rules, nullptr, {0, 0, 0});
  EXPECT_EQ(cast(v, {0.5f, 0.5f, 0.5f}, {1.0f, 1.0f, 0.0f}, 10.0f), (RayHit{1, {0, 1, 0}, {0, -1, 0}}));
}

TEST(RayCast, PassableMaterialsAndAbsentChunksStopIt) {
  VoxelWorld w = open_air();
  w.cells({0, 0, 5}, {0, 0, 5}, kGrass);
  const Terrain rules = Terrain::of({kGrass}, {});
  const Voxels v(w, rules, nullptr, {0, 0, 0});
  EXPECT_EQ(cast(v, {0.5f, 0.5f, 0.5f}, {0.0f, 0.0f, 1.0f}, 10.0f), (RayHit{2, {0, 0, 5}, {0, 0, -1}}));
  EXPECT_EQ(cast(v, {0.5f, 0.5f, 0.5f}, {0.0f, 1.0f, 0.0f}, 1000.0f), (RayHit{1, {0, 96, 0}, {0, -1, 0}}));
  ASSERT_EQ(v.absent().size(), 1u);
  EXPECT_EQ(v.absent()[0], (coords::ChunkPos{0, 2, 0}));
}

TEST(RayCast, DirectionsWithoutLengthOrNumbersHitNothing) {
  VoxelWorld w = open_air();
  const Terrain rules;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const Voxels v(w, rules, nullptr, {0, 0, 0});
  EXPECT_EQ(cast(v, {0.5f, 0.5f, 0.5f}, {0.0f, 0.0f, 0.0f}, 10.0f), std::nullopt);
  EXPECT_EQ(cast(v, {0.5f, 0.5f, 0.5f}, {nan, 1.0f, 0.0f}, 10.0f), std::nullopt);
  EXPECT_EQ(cast(v, {0.5f, 0.5f, 0.5f}, {inf, 0.0f, 0.0f}, 10.0f), std::nullopt);
  EXPECT_EQ(cast(v, {nan, 0.5f, 0.5f}, {1.0f, 0.0f, 0.0f}, 10.0f), std::nullopt);
  EXPECT_EQ(cast(v, {0.5f, 0.5f, 0.5f}, {1.0f, 0.0f, 0.0f}, nan), std::nullopt);
  // A direction whose square overflows still points somewhere.
  EXPECT_EQ(cast(v, {0.5f, 0.5f, 0.5f}, {0.0f, 3e38f, 0.0f}, 1000.0f), (RayHit{1, {0, 96, 0}, {0, -1, 0}}));
}

}  // namespace
}  // namespace ostrel_core::phys::ray
