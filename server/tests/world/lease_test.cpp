#include "world/lease.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

namespace ostrel_server::lease {
namespace {

using ostrel_core::coords::BlockPos;

TEST(Lease, FreshLeaseHasFullBudgetNoTerrainAndAnEmptySlot) {
  Lease lease;
  EXPECT_EQ(lease.path_budget()->available(), 8000u);
  EXPECT_TRUE(lease.terrain().empty());
  auto slot = lease.world()->lock();
  ASSERT_TRUE(slot.has_value());
  EXPECT_FALSE((*slot)->has_value());
}

TEST(Lease, TerrainIsSortedWithRepeatsAndSharedBudgetStays) {
  Lease lease;
  Lease with = lease.with_terrain({9, 3, 3, 7});
  EXPECT_EQ(std::vector<std::uint16_t>(with.terrain().begin(), with.terrain().end()),
            (std::vector<std::uint16_t>{3, 3, 7, 9}));
  EXPECT_TRUE(with.passable(7));
  EXPECT_FALSE(with.passable(8));
  EXPECT_EQ(with.path_budget(), lease.path_budget());  // the same budget, not a copy
  EXPECT_EQ(with.world(), lease.world());
}

TEST(PathBudget, SpendingNeverGoesBelowZeroAndRefillRestores) {
  PathBudget b;
  b.spend(5000);
  EXPECT_EQ(b.available(), 3000u);
  b.spend(3001);
  EXPECT_EQ(b.available(), 0u);
  b.spend(10);
  EXPECT_EQ(b.available(), 0u);
  b.refill();
  EXPECT_EQ(b.available(), 8000u);
}

TEST(PathBudgetStress, ConcurrentSearchesSpendEachStepOnce) {
  PathBudget b;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) b.spend(3);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(b.available(), 2000u);
}

TEST(BlockOf, SplitsLikeChunkAndCellPositions) {
  struct Case {
    double x, y, z;
    BlockPos want;
  };
  const Case cases[] = {
      {-0.5, 0, 15.999, {-1, 0, 15}},
      {0, -16, 16, {0, -16, 16}},
      {-16.25, 31.5, -0.0, {-17, 31, 0}},
      {1e12,
       -1e12,
       3.5,
       {std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::min(), 3}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << " " << c.y << " " << c.z);
    auto got = block_of(c.x, c.y, c.z);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(*got, c.want);
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(block_of(nan, 0, 0), std::nullopt);
  EXPECT_EQ(block_of(0, inf, 0), std::nullopt);
  EXPECT_EQ(block_of(0, 0, -inf), std::nullopt);
}

}  // namespace
}  // namespace ostrel_server::lease
