#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

#include "fluid/ponds.hpp"
#include "support/lent_world.hpp"
#include "world/lease_shared.hpp"

namespace ostrel_server::lease {
namespace {

namespace sight = ostrel_core::sight;
using ostrel_core::block::BlockValue;
using ostrel_core::block::kOccupancyFull;
using test::kDirt;
using test::kGrass;
using test::kStone;
using test::LentWorld;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

template <class Lock>
void poison_mutex(Lock& lock) {
  try {
    auto guard = lock.lock();
    throw std::runtime_error("tick failed");
  } catch (const std::runtime_error&) {
  }
}

// Air over x 0..79 (chunks 0..4), y and z 0..15, with a stone wall at x = 8.
class SightTest : public ::testing::Test {
 protected:
  SightTest() {
    lent_.air("overworld", ChunkPos{0, 0, 0}, ChunkPos{4, 0, 0});
    lent_.box("overworld", BlockPos{8, 0, 0}, BlockPos{8, 15, 15}, kStone);
  }
  LentWorld lent_;
};

TEST_F(SightTest, LineOfSightAnswersBlockedOrClear) {
  struct Case {
    const char* what;
    std::string_view domain;
    sight::Vec3d from, to;
    std::optional<bool> blocked;
  };
  const Case cases[] = {
      {"open air", "overworld", {1.5, 5.5, 5.5}, {7.5, 5.5, 5.5}, false},
      {"through the wall", "overworld", {1.5, 5.5, 5.5}, {12.5, 5.5, 5.5}, true},
      {"identical points inside stone", "overworld", {8.5, 5.5, 5.5}, {8.5, 5.5, 5.5}, false},
      {"a start inside stone", "overworld", {8.5, 5.5, 5.5}, {9.5, 5.5, 5.5}, true},
      {"exactly 64 blocks", "overworld", {9.5, 5.5, 5.5}, {73.5, 5.5, 5.5}, false},
      {"64.001 blocks", "overworld", {9.5, 5.5, 5.5}, {73.501, 5.5, 5.5}, true},
      {"into a chunk not resident", "overworld", {70.5, 5.5, 5.5}, {84.5, 5.5, 5.5}, true},
      {"unknown domain", "nowhere", {1.5, 5.5, 5.5}, {2.5, 5.5, 5.5}, true},
      {"unknown domain, no length", "nowhere", {1.5, 5.5, 5.5}, {1.5, 5.5, 5.5}, false},
      {"NaN", "overworld", {kNaN, 5.5, 5.5}, {1.5, 5.5, 5.5}, true},
      {"infinite", "overworld", {1.5, 5.5, 5.5}, {kInf, 5.5, 5.5}, true},
  };
  auto shared = lent_.shared();
  for (const auto& c : cases) {
    EXPECT_EQ(shared.line_of_sight(c.domain, c.from, c.to), c.blocked) << c.what;
  }
}

TEST_F(SightTest, NoWorldAndAPoisonedSlotAnswerNoWorld) {
  auto shared = lent_.shared();
  const sight::SurfaceQuery q{1, 1, 10, 20, false, false};
  lent_.take();
  EXPECT_EQ(shared.line_of_sight("overworld", {1, 1, 1}, {2, 2, 2}), std::nullopt);
  EXPECT_EQ(shared.block_at("overworld", BlockPos{1, 1, 1}), sight::Reading{sight::NoWorld{}});
  EXPECT_EQ(shared.surface_at("overworld", q), std::nullopt);
  lent_.put_back();
  EXPECT_EQ(shared.block_at("overworld", BlockPos{8, 1, 1}), (sight::Reading{sight::Block{kStone, kOccupancyFull}}));

  poison_mutex(*lent_.lease().world());
  EXPECT_EQ(shared.line_of_sight("overworld", {1, 1, 1}, {2, 2, 2}), std::nullopt);
  EXPECT_EQ(shared.block_at("overworld", BlockPos{8, 1, 1}), sight::Reading{sight::NoWorld{}});
  EXPECT_EQ(shared.surface_at("overworld", q), std::nullopt);
  EXPECT_EQ(shared.find_path("overworld", {1, 1, 1}, {2, 1, 1}, {}),
            ostrel_core::path::Found(std::unexpected(ostrel_core::path::PathFailure::NoWorld)));
  EXPECT_EQ(shared.steer("overworld", {1, 1, 1}, {5, 1, 1}, 2), std::nullopt);
}

TEST_F(SightTest, BlockAtReadsEveryForm) {
  ostrel_core::block::Cells cells{};
  cells[0] = kStone;
  cells[13] = kDirt;
  lent_.set("overworld", BlockPos{2, 2, 2}, BlockValue::partial(kDirt, 0x1FF));
  lent_.set("overworld", BlockPos{3, 2, 2}, BlockValue::mixed(cells));
  auto shared = lent_.shared();
  struct Case {
    const char* what;
    std::string_view domain;
    BlockPos at;
    sight::Reading reading;
  };
  const Case cases[] = {
      {"whole", "overworld", {8, 3, 4}, sight::Block{kStone, kOccupancyFull}},
      {"air", "overworld", {1, 1, 1}, sight::Block{0, 0}},
      {"partial", "overworld", {2, 2, 2}, sight::Block{kDirt, 0x1FF}},
      {"mixed", "overworld", {3, 2, 2}, sight::Mixed{cells}},
      {"negative, not resident", "overworld", {-1, 0, 0}, sight::NotLoaded{}},
      {"above, not resident", "overworld", {1, 16, 1}, sight::NotLoaded{}},
      {"unknown domain", "nowhere", {1, 1, 1}, sight::NotLoaded{}},
      {"the corner of the range", "overworld", {INT32_MIN, INT32_MIN, INT32_MIN}, sight::NotLoaded{}},
  };
  for (const auto& c : cases) EXPECT_EQ(shared.block_at(c.domain, c.at), c.reading) << c.what;
}

// A column at x = z = 1 of 17 chunks from y = -256 to 15, stone at the bottom.
class SurfaceTest : public ::testing::Test {
 protected:
  SurfaceTest() {
    lent_.air("overworld", ChunkPos{0, -16, 0}, ChunkPos{0, 0, 0});
    lent_.set("overworld", BlockPos{1, -246, 1}, BlockValue::whole(kStone));
  }
  std::optional<sight::Surface> scan(std::int32_t from, std::uint32_t depth, bool skip_passable = false,
                                     bool skip_fluid = false, std::int32_t x = 1) {
    return lent_.shared().surface_at("overworld", sight::SurfaceQuery{x, 1, from, depth, skip_passable, skip_fluid});
  }
  LentWorld lent_;
};

TEST_F(SurfaceTest, DepthBoundsTheScan) {
  EXPECT_EQ(scan(-246, 0), std::nullopt);  // depth 0 reads nothing, even on stone
  EXPECT_EQ(scan(-246, 1), (sight::Surface{sight::SurfaceBlock{-246, kOccupancyFull, kStone}}));
  EXPECT_EQ(scan(-245, 1), std::nullopt);  // only the block at `from`
  // 1000 reads 256 blocks: from 9 down to -246 reaches the stone, from 10 does not.
  EXPECT_EQ(scan(9, 1000), (sight::Surface{sight::SurfaceBlock{-246, kOccupancyFull, kStone}}));
  EXPECT_EQ(scan(10, 1000), std::nullopt);
  EXPECT_EQ(scan(9, 255), std::nullopt);
  // A chunk not resident on the way ends the scan.
  lent_.drop("overworld", ChunkPos{0, -5, 0});
  EXPECT_EQ(scan(9, 1000), std::nullopt);
  // The bottom saturates instead of wrapping past the 32-bit limit.
  EXPECT_EQ(scan(INT32_MIN + 3, 1000), std::nullopt);
}

TEST_F(SurfaceTest, PassableBlocksAndFluid) {
  // A tuft on stone at x = 1; at x = 2 a mixed block of grass cells only, at x = 3 grass beside
  // stone, each over stone.
  lent_.set("overworld", BlockPos{1, 0, 1}, BlockValue::whole(kStone));
  lent_.set("overworld", BlockPos{1, 1, 1}, BlockValue::whole(kGrass));
  ostrel_core::block::Cells tuft{};
  tuft[0] = kGrass;
  tuft[4] = kGrass;
  ostrel_core::block::Cells beside = tuft;
  beside[5] = kStone;
  lent_.set("overworld", BlockPos{2, 0, 1}, BlockValue::whole(kDirt));
  lent_.set("overworld", BlockPos{2, 1, 1}, BlockValue::mixed(tuft));
  lent_.set("overworld", BlockPos{3, 0, 1}, BlockValue::whole(kDirt));
  lent_.set("overworld", BlockPos{3, 1, 1}, BlockValue::mixed(beside));
  const std::uint32_t tuft_mask = 1u | 1u << 4;
  const std::uint32_t beside_mask = tuft_mask | 1u << 5;

  EXPECT_EQ(scan(5, 10, false, false, 1), (sight::Surface{sight::SurfaceBlock{1, kOccupancyFull, kGrass}}));
  EXPECT_EQ(scan(5, 10, true, false, 1), (sight::Surface{sight::SurfaceBlock{0, kOccupancyFull, kStone}}));
  EXPECT_EQ(scan(5, 10, false, false, 2), (sight::Surface{sight::SurfaceBlock{1, tuft_mask, kGrass}}));
  EXPECT_EQ(scan(5, 10, true, false, 2), (sight::Surface{sight::SurfaceBlock{0, kOccupancyFull, kDirt}}));
  EXPECT_EQ(scan(5, 10, false, false, 3), (sight::Surface{sight::SurfaceBlock{1, beside_mask, kStone}}));
  EXPECT_EQ(scan(5, 10, true, false, 3), (sight::Surface{sight::SurfaceBlock{1, beside_mask, kStone}}));

  // A pond two blocks deep over the stone at x = 4.
  fluid::Fluids fluids;
  ostrel_core::fluid::Registered water;
  water.name = "m:water";
  ASSERT_TRUE(fluids.register_fluid(water).has_value());
  auto ponds = std::make_shared<PondsLock>(fluid::Ponds(std::move(fluids), fluid::AbsorbTable{}));
  fluid::Shared wet(ponds);
  const auto still = ostrel_core::fluid::Fluid::of(1, 27);
  const auto top = ostrel_core::fluid::Fluid::of(1, 9);
  lent_.set("overworld", BlockPos{4, 0, 1}, BlockValue::whole(kStone));
  ASSERT_TRUE(wet.set_fluid_at("overworld", BlockPos{4, 1, 1}, still));
  ASSERT_TRUE(wet.set_fluid_at("overworld", BlockPos{4, 2, 1}, top));
  lent_.lease() = lent_.lease().with_terrain({kGrass}, ponds);
  EXPECT_EQ(scan(5, 10, false, false, 4), (sight::Surface{sight::SurfaceFluid{2, top.bits}}));
  EXPECT_EQ(scan(5, 10, false, true, 4), (sight::Surface{sight::SurfaceBlock{0, kOccupancyFull, kStone}}));
  // A poisoned fluid lock: no fluid is looked at.
  try {
    auto guard = ponds->write();
    throw std::runtime_error("tick failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(scan(5, 10, false, false, 4), (sight::Surface{sight::SurfaceBlock{0, kOccupancyFull, kStone}}));
}

}  // namespace
}  // namespace ostrel_server::lease
