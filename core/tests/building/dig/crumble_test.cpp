#include "building/dig/crumble.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace ostrel_core::dig {
namespace {

using Order = std::array<std::uint8_t, 27>;

int coord(std::uint8_t cell, int axis) {
  return axis == 0 ? cell % 3 : (axis == 1 ? cell / 3 % 3 : cell / 9);
}

// The order is a permutation whose layers along `axis` come nearest first.
void expect_layered(const Order& o, int axis, bool toward) {
  Order sorted = o;
  std::sort(sorted.begin(), sorted.end());
  for (std::uint8_t i = 0; i < 27; ++i) ASSERT_EQ(sorted[i], i);
  for (std::size_t i = 0; i < 27; ++i) {
    const int layer = toward ? 2 - coord(o[i], axis) : coord(o[i], axis);
    EXPECT_EQ(layer, static_cast<int>(i / 9)) << "position " << i;
  }
}

TEST(Crumble, DominantAxisAndSide) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    std::array<double, 3> offset;
    int axis;
    bool toward;
  };
  const Case cases[] = {
      {"below on y", {0.2, -0.9, 0.3}, 1, false},
      {"x and y tie: y, above", {0.5, 0.5, 0.1}, 1, true},
      {"x dominant, west", {-0.8, 0.1, 0.3}, 0, false},
      {"z dominant, south", {0.1, 0.2, 0.7}, 2, true},
      {"z ties with y: y", {0.0, -0.4, 0.4}, 1, false},
      {"level with the centre counts as above", {0.0, 0.0, 0.0}, 1, true},
      {"a NaN compares false: y is passed over for x", {0.0, nan, 0.0}, 0, true},
      {"a NaN on the chosen axis counts as below", {nan, 0.0, 0.0}, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    expect_layered(crumble_order(42, {1, 2, 3}, c.offset), c.axis, c.toward);
  }
}

TEST(Crumble, GoldenOrders) {
  struct Case {
    std::uint64_t seed;
    coords::BlockPos block;
    std::array<double, 3> offset;
    Order want;
  };
  const Case cases[] = {
      // Computed by an independent reference of the stream and the layered sort.
      {0u, {0, 0, 0}, {0.0, 1.2, 0.0}, {15, 25, 8,  24, 17, 26, 16, 6,  7,  22, 5, 3,  13, 4,
                                        12, 14, 23, 21, 10, 20, 0,  19, 18, 1,  9, 11, 2}},
      {0x5EED5EED12345678ull, {-17, 64, 3}, {0.2, -0.9, 0.3}, {0,  11, 20, 1,  9,  18, 2,  19, 10,
                                                               12, 3,  23, 22, 14, 5,  13, 4,  21,
                                                               15, 25, 7,  24, 26, 6,  16, 17, 8}},
      {0xFFFFFFFFFFFFFFFFull,
       {INT32_MAX, INT32_MIN, -1},
       {-0.8, 0.1, 0.75},
       {0, 21, 24, 18, 3, 12, 6, 15, 9, 19, 10, 4, 25, 22, 1, 13, 16, 7, 17, 11, 20, 8, 14, 23, 2, 5, 26}},
  };
  for (const auto& c : cases) EXPECT_EQ(crumble_order(c.seed, c.block, c.offset), c.want);
}

TEST(Crumble, TheShuffleDependsOnSeedAndBlock) {
  const std::array<double, 3> up{0, 1, 0};
  EXPECT_EQ(crumble_order(1, {0, 0, 0}, up), crumble_order(1, {0, 0, 0}, up));
  EXPECT_NE(crumble_order(1, {0, 0, 0}, up), crumble_order(2, {0, 0, 0}, up));
  EXPECT_NE(crumble_order(1, {0, 0, 0}, up), crumble_order(1, {0, 0, 1}, up));
}

}  // namespace
}  // namespace ostrel_core::dig
