#include "movement/phys/voxels.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "support/voxel_world.hpp"

namespace ostrel_core::phys::voxels {
namespace {

using coords::BlockPos;
using test::VoxelWorld;

constexpr material::MaterialId kStone = 2;
constexpr material::MaterialId kGrass = 4;

TEST(Voxels, CellsAreReadRelativeToTheOrigin) {
  VoxelWorld w;
  w.air({-1, 0, 0}, {0, 0, 0});
  w.cells({47, 5, 6}, {47, 5, 6}, kStone);  // last cell of chunk 0 on x
  w.cells({-1, 5, 6}, {-1, 5, 6}, kGrass);  // last cell of chunk -1 on x
  const Terrain rules = Terrain::of({kGrass}, {});
  struct Case {
    ChunkPos origin;
    std::int64_t x;
    std::optional<material::MaterialId> want;
  };
  const Case cases[] = {
      {{0, 0, 0}, 47, kStone},        {{1, 0, 0}, -1, kStone},         {{0, 0, 0}, -1, kGrass},
      {{-1, 0, 0}, 47, kGrass},       {{0, 0, 0}, 46, material::kAir}, {{0, 0, 0}, 48, std::nullopt},
      {{-1, 0, 0}, -1, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x);
    const Voxels v(w, rules, nullptr, c.origin);
    EXPECT_EQ(v.material(c.x, 5, 6), c.want);
  }
  const Voxels v(w, rules, nullptr, {0, 0, 0});
  // Passable grass lets bodies through but stops rays; an absent chunk stops both.
  EXPECT_FALSE(v.blocked(-1, 5, 6));
  EXPECT_TRUE(v.solid(-1, 5, 6));
  EXPECT_TRUE(v.blocked(47, 5, 6));
  EXPECT_FALSE(v.blocked(46, 5, 6));
  EXPECT_FALSE(v.solid(46, 5, 6));
  EXPECT_TRUE(v.blocked(0, 48, 0));
  EXPECT_TRUE(v.solid(0, 48, 0));
}

TEST(Voxels, AbsentChunksAreRecordedOnceUpToEight) {
  VoxelWorld w;
  w.air({0, 0, 0}, {0, 0, 0});
  const Terrain rules;
  const Voxels v(w, rules, nullptr, {0, 0, 0});
  EXPECT_EQ(v.material(1, 1, 1), material::kAir);
  EXPECT_FALSE(v.touched_absent());
  std::vector<ChunkPos> want;
  for (std::int32_t i = 1; i <= 8; ++i) {
    EXPECT_EQ(v.material(48 * i, 0, 0), std::nullopt);
    EXPECT_EQ(v.material(48 * i + 1, 0, 0), std::nullopt);  // the same chunk again
    want.push_back({i, 0, 0});
  }
  EXPECT_EQ(std::vector<ChunkPos>(v.absent().begin(), v.absent().end()), want);
  EXPECT_TRUE(v.touched_absent());
  EXPECT_TRUE(v.solid(0, -1, 0));  // a ninth: solid, but not recorded
  EXPECT_EQ(v.absent().size(), kMaxAbsent);
  EXPECT_EQ(std::vector<ChunkPos>(v.absent().begin(), v.absent().end()), want);
}

TEST(Voxels, CellsBeyondTheIntegerRangeAreAbsent) {
  VoxelWorld w;
  w.air({0, 0, 0}, {0, 0, 0});
  const Terrain rules;
  const ChunkPos far{std::numeric_limits<std::int32_t>::max(), 0, 0};
  const Voxels v(w, rules, &w, far);
  EXPECT_EQ(v.material(48 * 2, 0, 0), std::nullopt);
  EXPECT_EQ(v.fluid(16 * 2, 0, 0), 0);
  ASSERT_EQ(v.absent().size(), 1u);
  EXPECT_EQ(v.absent()[0], far);  // limited to the largest chunk a ChunkPos holds
}

TEST(Voxels, FluidIsReadByBlockRelativeToTheOrigin) {
  VoxelWorld w;
  w.pour({-1, 0, 0}, {-1, 0, 0}, 2, 9);
  w.pour({16, 3, 0}, {16, 3, 0}, 1, 27);
  const Terrain rules;
  const Voxels v(w, rules, &w, {1, 0, 0});
  EXPECT_EQ(v.fluid(0, 3, 0), fluid::Fluid::of(1, 27).bits);
  EXPECT_EQ(v.fluid(-17, 0, 0), fluid::Fluid::of(2, 9).bits);
  EXPECT_EQ(v.fluid(1, 3, 0), 0);
  EXPECT_FALSE(v.touched_absent());  // fluid lookups never record chunks
  const Voxels dry(w, rules, nullptr, {1, 0, 0});
  EXPECT_EQ(dry.fluid(0, 3, 0), 0);
}

TEST(Terrain, SortsListsAndHoldsFactorsToUnitRange) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Terrain t = Terrain::of({9, 3, 9, 1}, {{7, 2.0f}, {5, 0.25f}, {7, 0.5f}, {6, -1.0f}, {8, nan}});
  EXPECT_EQ(t.passable, (std::vector<material::MaterialId>{1, 3, 9}));
  EXPECT_TRUE(t.is_passable(3));
  EXPECT_FALSE(t.is_passable(4));
  EXPECT_EQ(t.friction_of(5), 0.25f);
  EXPECT_EQ(t.friction_of(6), 0.0f);
  EXPECT_EQ(t.friction_of(7), 1.0f);  // the first factor given, held to 1
  EXPECT_EQ(t.friction_of(8), 1.0f);
  EXPECT_EQ(t.friction_of(2), 1.0f);
}

}  // namespace
}  // namespace ostrel_core::phys::voxels
