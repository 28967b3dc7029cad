#include "detgen/shapes.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <vector>

namespace ostrel_core::detgen::shapes {
namespace {

using buffer::StampBlock;

Shape cells(std::array<std::int32_t, 3> at, std::uint32_t mask, std::uint16_t material,
            std::int32_t priority = 0) {
  return {Cells{at, mask}, material, priority};
}
Shape ball(std::array<double, 3> c, double r, std::uint16_t material, std::int32_t priority = 0,
           double rough = 0) {
  return {Ellipsoid{c, {r, r, r}, rough}, material, priority};
}

buffer::Schematic cut(std::vector<Shape> shapes) { return rasterise(shapes); }

TEST(Rasterise, NamedCells) {
  EXPECT_EQ(cut({cells({0, 0, 0}, 0x7FFFFFF, 5)}).blocks, (std::vector<StampBlock>{{0, 0, 0, 5, 0x7FFFFFF}}));
  EXPECT_EQ(cut({cells({0, 0, 0}, 1, 5)}).blocks, (std::vector<StampBlock>{{0, 0, 0, 5, 1}}));
  EXPECT_EQ(cut({cells({0, 0, 0}, 0x1FF, 5)}).blocks, (std::vector<StampBlock>{{0, 0, 0, 5, 0x1FF}}));
  // Bits above the 27 cells are not read.
  EXPECT_TRUE(cut({cells({0, 0, 0}, 0x8000000, 5)}).blocks.empty());
}

TEST(Rasterise, PriorityAndOrderDecideSharedCells) {
  // Equal priority: the later shape wins every shared cell.
  EXPECT_EQ(cut({cells({1, 2, 3}, 0x7FFFFFF, 5), cells({1, 2, 3}, 0x7FFFFFF, 6)}).blocks,
            (std::vector<StampBlock>{{1, 2, 3, 6, 0x7FFFFFF}}));
  // Higher priority first: it keeps its cells whatever comes later.
  EXPECT_EQ(cut({cells({1, 2, 3}, 0x7FFFFFF, 5, 1), cells({1, 2, 3}, 0x7FFFFFF, 6, 0)}).blocks,
            (std::vector<StampBlock>{{1, 2, 3, 5, 0x7FFFFFF}}));
  EXPECT_EQ(cut({cells({1, 2, 3}, 0x7FFFFFF, 6, 0), cells({1, 2, 3}, 0x7FFFFFF, 5, 1)}).blocks,
            (std::vector<StampBlock>{{1, 2, 3, 5, 0x7FFFFFF}}));
}

TEST(Rasterise, TwoMaterialsInABlockLowerCellFirst) {
  // Material 9 holds cell 0, material 4 the rest: 9's entry comes first.
  const auto s = cut({cells({0, 0, 0}, 0x7FFFFFE, 4), cells({0, 0, 0}, 0x1, 9)});
  EXPECT_EQ(s.blocks, (std::vector<StampBlock>{{0, 0, 0, 9, 0x1}, {0, 0, 0, 4, 0x7FFFFFE}}));
  // An air shape of higher priority carves: one entry for wood, one with material 0.
  const auto carved = cut({ball({0.5, 0.5, 0.5}, 2.0, 7), ball({0.5, 0.5, 0.5}, 0.1, 0, 1)});
  bool found = false;
  for (std::size_t i = 0; i + 1 < carved.blocks.size(); ++i) {
    if (carved.blocks[i].dx == 0 && carved.blocks[i].dy == 0 && carved.blocks[i].dz == 0) {
      EXPECT_EQ(carved.blocks[i], (StampBlock{0, 0, 0, 7, 0x7FFFFFF & ~(1u << 13)}));
      EXPECT_EQ(carved.blocks[i + 1], (StampBlock{0, 0, 0, 0, 1u << 13}));
      found = true;
      break;
    }
  }
  EXPECT_TRUE(found);
}

TEST(Rasterise, EllipsoidsToTheCell) {
  // Radii half a block: all but the eight corner cells (squared distance 4/3).
  const auto s19 = cut({ball({0.5, 0.5, 0.5}, 0.5, 3)});
  ASSERT_EQ(s19.blocks.size(), 1u);
  EXPECT_EQ(std::popcount(s19.blocks[0].mask), 19);
  for (int corner : {0, 2, 6, 8, 18, 20, 24, 26})
    EXPECT_EQ((s19.blocks[0].mask >> corner) & 1u, 0u) << corner;
  // A tenth of a block: the centre cell alone.
  EXPECT_EQ(cut({ball({0.5, 0.5, 0.5}, 0.1, 3)}).blocks, (std::vector<StampBlock>{{0, 0, 0, 3, 1u << 13}}));
  // At a block corner no cell centre is in reach.
  EXPECT_TRUE(cut({ball({0.0, 0.0, 0.0}, 0.1, 3)}).blocks.empty());
}

TEST(Rasterise, PathOfOnePointIsASphere) {
  const Shape path{Path{{{{2.5, 3.5, -1.5, 1.2}}, {{2.5, 3.5, -1.5, 0.4}}}}, 8, 0};
  EXPECT_EQ(cut({path}).blocks, cut({ball({2.5, 3.5, -1.5}, 1.2, 8)}).blocks);
}

TEST(Rasterise, PathCoversItsSegmentsAndJoints) {
  // A bent trunk: every cell centre within 0.6 of the polyline is set, nothing farther.
  const Shape path{Path{{{{0.5, 0.5, 0.5, 0.6}}, {{0.5, 6.5, 0.5, 0.6}}, {{3.5, 6.5, 0.5, 0.6}}}}, 2, 0};
  const auto s = cut({path});
  ASSERT_FALSE(s.blocks.empty());
  for (const auto& b : s.blocks) {
    EXPECT_TRUE(b.dz == 0 && b.dx >= -1 && b.dx <= 4 && b.dy >= -1 && b.dy <= 7) << b.dx << " " << b.dy;
  }
  EXPECT_EQ(s.high_dy, 6);  // the top centre, 6.83, is within 0.6 of y = 6.5
  // The joint's block and both ends are whole (a 0.6 radius covers every centre of a block on the
  // line: the farthest is sqrt(2) / 3 = 0.47 away).
  for (const StampBlock want : {StampBlock{0, 3, 0, 2, 0x7FFFFFF}, StampBlock{0, 6, 0, 2, 0x7FFFFFF},
                                StampBlock{2, 6, 0, 2, 0x7FFFFFF}}) {
    EXPECT_NE(std::find(s.blocks.begin(), s.blocks.end(), want), s.blocks.end()) << want.dx << " " << want.dy;
  }
}

TEST(Rasterise, NegativeCoordinatesAndExtents) {
  const auto s = cut({cells({-3, -2, 4}, 0x7FFFFFF, 1), cells({2, 5, -6}, 1, 1)});
  EXPECT_EQ(s.blocks.front(), (StampBlock{-3, -2, 4, 1, 0x7FFFFFF}));  // ascending by x first
  EXPECT_EQ(s.reach_x, 3);
  EXPECT_EQ(s.reach_z, 6);
  EXPECT_EQ(s.low_dy, -2);
  EXPECT_EQ(s.high_dy, 5);
  const auto up = buffer::Schematic::of({{0, 2, 0, 1, 1}, {0, 5, 0, 1, 1}});
  EXPECT_EQ(up.low_dy, 0);
  EXPECT_EQ(up.high_dy, 5);
  EXPECT_EQ(buffer::Schematic::of({{INT32_MIN, 0, 0, 1, 1}}).reach_x, INT32_MAX);
}

TEST(Rasterise, RoughnessMovesEdgesByCellAlone) {
  // Two balls of one roughness move a shared cell's edge alike: cutting them together equals
  // cutting each and merging.
  const Shape a = ball({0.5, 0.5, 0.5}, 2.0, 1, 0, 0.5);
  const Shape b = ball({0.5, 0.5, 0.5}, 2.0, 1, 0, 0.5);
  EXPECT_EQ(cut({a}).blocks, cut({a, b}).blocks);
  EXPECT_NE(cut({a}).blocks, cut({ball({0.5, 0.5, 0.5}, 2.0, 1)}).blocks);
}

TEST(ShapeExtent, CountsVisitedCellsAndBlocks) {
  const Extent c = extent(cells({-5, 0, 7}, 1, 1));
  EXPECT_EQ(c.cells, 27u);
  EXPECT_EQ(c.low[0], -5);
  EXPECT_EQ(c.high[2], 7);
  const Extent e = extent(ball({0, 0, 0}, 1e9, 1));
  EXPECT_GT(e.cells, std::uint64_t{1} << 24);
  EXPECT_LT(e.low[0], -256);
  // Ranges whose ends saturate at the 64-bit limits count as more cells than fit.
  EXPECT_EQ(extent(ball({0, 0, 0}, 1e300, 1)).cells, UINT64_MAX);
  EXPECT_EQ(extent({Path{{{{-1e300, 0, 0, 1}}, {{1e300, 0, 0, 1}}}}, 1, 0}).cells, UINT64_MAX);
  const Extent p = extent({Path{{{{0, 0, 0, 0.5}}, {{10, 0, 0, 0.5}}}}, 1, 0});
  EXPECT_FALSE(p.empty);
  EXPECT_EQ(p.high[0], 10);
}

TEST(SchematicTurn, QuarterTurnsOfOffsetsAndCells) {
  const auto s =
      buffer::Schematic::of({{1, 0, 0, 3, 0x1}, {2, 7, -5, 4, 0x7FFFFFF}, {INT32_MIN, 0, 0, 5, 0x1}});
  const auto one = s.turned(1);
  EXPECT_EQ(one[0], (StampBlock{0, 0, -1, 3, 0x40000}));
  EXPECT_EQ(one[1], (StampBlock{-5, 7, -2, 4, 0x7FFFFFF}));
  EXPECT_EQ(one[2].dz, INT32_MAX);  // negation saturates
  EXPECT_EQ(s.turned(2)[1], (StampBlock{-2, 7, 5, 4, 0x7FFFFFF}));
  EXPECT_EQ(s.turned(3)[1], (StampBlock{5, 7, 2, 4, 0x7FFFFFF}));
  EXPECT_EQ(s.turned(4), s.turned(0));
  EXPECT_EQ(s.turned(0)[0], s.blocks[0]);
  // Bits above the cells are dropped even without a turn.
  EXPECT_EQ(buffer::Schematic::of({{0, 0, 0, 1, 0xF8000001}}).turned(0)[0].mask, 0x1u);
}

}  // namespace
}  // namespace ostrel_core::detgen::shapes
