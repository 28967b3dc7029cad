#include "movement/interest.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <vector>

namespace ostrel_core::interest {
namespace {

using coords::ChunkPos;
using V = std::vector<ChunkPos>;

TEST(ChunksAround, SmallRadiiInOrder) {
  EXPECT_EQ(chunks_around({5, -6, 7}, 0, 0), (V{{5, -6, 7}}));
  EXPECT_EQ(chunks_around({0, 0, 0}, 1, 0), (V{{0, 0, 0}, {-1, 0, 0}, {0, 0, -1}, {0, 0, 1}, {1, 0, 0}}));
  // Two layers up and down count as level; the third weighs like four chunks out.
  EXPECT_EQ(chunks_around({0, 0, 0}, 0, 3),
            (V{{0, 0, 0}, {0, -1, 0}, {0, 1, 0}, {0, -2, 0}, {0, 2, 0}, {0, -3, 0}, {0, 3, 0}}));
}

TEST(ChunksAround, CoversTheDiscOverTheLayersNearestFirst) {
  const V got = chunks_around({10, 20, -30}, 8, 12);
  std::set<ChunkPos> distinct(got.begin(), got.end());
  EXPECT_EQ(distinct.size(), got.size());
  std::size_t disc = 0;
  for (int dx = -8; dx <= 8; ++dx)
    for (int dz = -8; dz <= 8; ++dz) disc += dx * dx + dz * dz <= 64 ? 1 : 0;
  EXPECT_EQ(got.size(), disc * 25);
  EXPECT_EQ(got.front(), (ChunkPos{10, 20, -30}));
  // A chunk 3 layers up (weight 16) comes after every level chunk within 4 of the centre.
  auto at = [&](ChunkPos p) { return std::find(got.begin(), got.end(), p) - got.begin(); };
  EXPECT_LT(at({14, 20, -30}), at({10, 23, -30}));
  EXPECT_LT(at({10, 23, -30}), at({15, 20, -30}));
}

TEST(ChunksAround, RepeatsTheLimitInsteadOfWrapping) {
  const std::int32_t top = std::numeric_limits<std::int32_t>::max();
  EXPECT_EQ(chunks_around({top, 0, 0}, 1, 0),
            (V{{top, 0, 0}, {top, 0, 0}, {top - 1, 0, 0}, {top, 0, -1}, {top, 0, 1}}));
  const std::int32_t bottom = std::numeric_limits<std::int32_t>::min();
  const V low = chunks_around({0, bottom, 0}, 0, 1);
  EXPECT_EQ(low, (V{{0, bottom, 0}, {0, bottom, 0}, {0, bottom + 1, 0}}));
}

}  // namespace
}  // namespace ostrel_core::interest
