#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

#include "detgen/buffer/buffer_fixture.hpp"
#include "detgen/buffer/chunk_buffer.hpp"

namespace ostrel_core::detgen::buffer {
namespace {

using buftest::below;
using buftest::constant;
using buftest::program;
using buftest::uniform;
using density::Op;

constexpr std::uint16_t kTrunk = 11, kLeaf = 12;

ScatterSpec spec_of(const density::Density& depth, std::vector<const Schematic*> list, std::uint32_t cell) {
  ScatterSpec s;
  s.depth = &depth;
  s.schematics = std::move(list);
  s.cell = cell;
  return s;
}

TEST(ChunkBufferScatter, SquaresReachingAChunk) {
  struct Case {
    std::int32_t px;
    std::int64_t reach;
    std::uint32_t cell;
    std::int64_t q0, q1;
  };
  for (const Case c : {Case{0, 2, 4, -1, 4}, Case{-1, 2, 4, -5, 0}, Case{0, 0, 4, 0, 3}, Case{0, 0, 64, 0, 0},
                       Case{-1, 0, 64, -1, -1}, Case{2, 5, 1, 27, 52}}) {
    const SquareRange r = scatter_squares(c.px, c.px, c.reach, c.reach, c.cell);
    EXPECT_EQ(r.qx0, c.q0) << c.px << " " << c.cell;
    EXPECT_EQ(r.qx1, c.q1) << c.px << " " << c.cell;
    EXPECT_EQ(r.qz0, c.q0);
    EXPECT_EQ(r.qz1, c.q1);
  }
}

TEST(ChunkBufferScatter, NeighbouringChunksStampTheSameStructures) {
  // A trunk at the root and a row of leaves from dx -5 to 5 above it: wider than a chunk's edge.
  std::vector<StampBlock> blocks{{0, 0, 0, kTrunk, kCellMask}};
  for (std::int32_t dx = -5; dx <= 5; ++dx) blocks.push_back({dx, 1, 0, kLeaf, kCellMask});
  const Schematic tree = Schematic::of(blocks);
  const auto depth = below(1, 8.0f);  // surface at y 7
  // Every block of leaves or trunk across chunks x -4..3, z -1..0, generated in two orders.
  for (bool reversed : {false, true}) {
    SCOPED_TRACE(reversed);
    std::map<std::tuple<int, int, int>, std::uint16_t> world;
    std::uint32_t placed = 0;
    for (int i = 0; i < 8; ++i) {
      for (std::int32_t pz : {-1, 0}) {
        const std::int32_t px = reversed ? 3 - i : i - 4;
        ChunkBuffer b({px, 0, pz});
        auto spec = spec_of(depth, {&tree}, 13);
        spec.salt = 77;
        auto n = b.scatter(1234, spec);
        ASSERT_TRUE(n);
        placed += *n;
        for (std::uint32_t j = 0; j < 4096; ++j) {
          const int m = uniform(b, j % 16, (j / 16) % 16, j / 256);
          if (m != 0)
            world[{16 * px + int(j % 16), int((j / 16) % 16), 16 * pz + int(j / 256)}] = std::uint16_t(m);
        }
      }
    }
    std::set<std::tuple<int, int, int>> leaves_of_trunks;
    int trunks = 0;
    for (const auto& [p, m] : world) {
      if (m != kTrunk) continue;
      auto [x, y, z] = p;
      EXPECT_EQ(y, 7);  // sink 1: the root is the surface block
      ++trunks;
      for (int dx = -5; dx <= 5; ++dx) {
        leaves_of_trunks.insert({x + dx, 8, z});
        // Rows that run out of the generated area are cut there.
        if (x + dx >= -64 && x + dx <= 63) {
          EXPECT_EQ(world.count({x + dx, 8, z}), 1u) << x + dx << "," << z;
        }
      }
    }
    EXPECT_GT(trunks, 4);
    EXPECT_GE(placed, static_cast<std::uint32_t>(trunks));
    // No orphan leaves: every leaf belongs to a trunk found somewhere (trunks near the area's
    // edge may lie outside it, so only the inner leaves are checked).
    for (const auto& [p, m] : world) {
      auto [x, y, z] = p;
      if (m == kLeaf && x >= -58 && x <= 57) {
        EXPECT_EQ(leaves_of_trunks.count(p), 1u) << x << "," << z;
      }
    }
  }
}

TEST(ChunkBufferScatter, ChanceSinkAndCount) {
  const Schematic post = Schematic::of({{0, 0, 0, kTrunk, kCellMask}});
  const auto depth = below(1, 8.0f);  // surface at y 7
  {
    ChunkBuffer b({0, 0, 0});
    auto spec = spec_of(depth, {&post}, 1);
    spec.chance = 0.0f;
    EXPECT_EQ(*b.scatter(5, spec), 0u);
    EXPECT_EQ(b.evaluations(), 0u);
  }
  struct Case {
    std::int32_t sink;
    std::uint32_t y;
  };
  for (const Case c : {Case{1, 7}, Case{0, 8}, Case{2, 6}}) {
    SCOPED_TRACE(c.sink);
    ChunkBuffer b({0, 0, 0});
    auto spec = spec_of(depth, {&post}, 1);  // every column is a square
    spec.sink = c.sink;
    EXPECT_EQ(*b.scatter(5, spec), 256u);
    for (std::uint32_t y = 0; y < 16; ++y) EXPECT_EQ(uniform(b, 4, y, 9), y == c.y ? kTrunk : 0) << y;
  }
  // The surface lies in the chunk below: its structures exist there, not here.
  ChunkBuffer above({0, 1, 0});
  EXPECT_EQ(*above.scatter(5, spec_of(depth, {&post}, 1)), 0u);
  ChunkBuffer far({0, 0, 0});
  EXPECT_EQ(*far.scatter(5, spec_of(below(1, -100.0f), {&post}, 4)), 0u);
  ChunkBuffer none({0, 0, 0});
  EXPECT_EQ(*none.scatter(5, spec_of(depth, {}, 4)), 0u);
}

TEST(ChunkBufferScatter, AFloatingLayerCoversTheSurfaceBelowIt) {
  // Ground below y 8 and one solid block at y 9: surfaces at 7 and 9.
  const auto depth = program({Op::Const{8.0f}, Op::Coord{1}, Op::Sub{}, Op::Const{0.5f}, Op::Coord{1},
                              Op::Const{9.5f}, Op::Sub{}, Op::Abs{}, Op::Sub{}, Op::Max{}});
  const Schematic post = Schematic::of({{0, 0, 0, kTrunk, kCellMask}, {0, 1, 0, kTrunk, kCellMask}});
  ChunkBuffer b({0, 0, 0});
  auto spec = spec_of(depth, {&post}, 1);
  spec.sink = 0;
  EXPECT_EQ(*b.scatter(3, spec), 256u);
  EXPECT_EQ(uniform(b, 2, 8, 2), 0);  // the surface at 7 is rejected
  EXPECT_EQ(uniform(b, 2, 10, 2), kTrunk);
  EXPECT_EQ(uniform(b, 2, 11, 2), kTrunk);
  // A stand field that refuses everything places nothing.
  ChunkBuffer s({0, 0, 0});
  const auto never = constant(-1.0f);
  spec.stand = &never;
  EXPECT_EQ(*s.scatter(3, spec), 0u);
}

TEST(ChunkBufferScatter, PartialMasksExpandAndWholeOnesDoNot) {
  const auto depth = below(1, 8.0f);
  const Schematic whole = Schematic::of({{0, 0, 0, kTrunk, kCellMask}});
  const Schematic slab = Schematic::of({{0, 0, 0, kTrunk, 0x1FF}});
  ChunkBuffer w({0, 0, 0});
  ASSERT_TRUE(w.scatter(1, spec_of(depth, {&whole}, 4)));
  EXPECT_FALSE(w.is_expanded());
  ChunkBuffer p({0, 0, 0});
  p.fill_all(kLeaf);
  ASSERT_TRUE(p.scatter(1, spec_of(depth, {&slab}, 1)));
  EXPECT_TRUE(p.is_expanded());
  const BlockCells c = p.block_cells(0, 7, 0);
  for (std::size_t i = 0; i < 27; ++i) EXPECT_EQ(c[i], i < 9 ? kTrunk : kLeaf) << i;
}

TEST(ChunkBufferScatter, SurfaceAtTheWindowTop) {
  // high 1, sink 1: surfaces -1..15 can reach chunk 0; the top one is read at the column's end.
  const Schematic post = Schematic::of({{0, 0, 0, kTrunk, kCellMask}, {0, 1, 0, kLeaf, kCellMask}});
  const auto depth = below(1, 16.0f);  // surface at 15
  ChunkBuffer b({0, 0, 0});
  EXPECT_EQ(*b.scatter(2, spec_of(depth, {&post}, 1)), 256u);
  EXPECT_EQ(uniform(b, 0, 15, 0), kTrunk);
  ChunkBuffer up({0, 1, 0});
  EXPECT_EQ(*up.scatter(2, spec_of(depth, {&post}, 1)), 256u);  // the leaves at y 16
  EXPECT_EQ(uniform(up, 0, 0, 0), kLeaf);
}

}  // namespace
}  // namespace ostrel_core::detgen::buffer
