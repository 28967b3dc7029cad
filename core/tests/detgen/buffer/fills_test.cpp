#include <gtest/gtest.h>

#include <limits>

#include "detgen/buffer/buffer_fixture.hpp"
#include "detgen/buffer/chunk_buffer.hpp"

namespace ostrel_core::detgen::buffer {
namespace {

using buftest::axis_minus;
using buftest::constant;
using buftest::program;
using buftest::uniform;
using density::Op;

constexpr std::uint16_t kStone = 5, kDirt = 6, kGrass = 7;

TEST(ChunkBufferFill, ConstantFieldsTakeTheShortcut) {
  for (bool detail : {false, true}) {
    SCOPED_TRACE(detail);
    ChunkBuffer b({3, -1, 2});
    b.set_cell(0, 0, 0, kDirt);  // expanded before the fill
    const auto one = constant(1.0f);
    ASSERT_TRUE(detail ? b.fill_density_detail(one, 9, kStone, true) : b.fill_density(one, 9, kStone));
    EXPECT_FALSE(b.is_expanded());
    EXPECT_EQ(b.evaluations(), 0u);
    EXPECT_EQ(b.to_chunk().live_count(), 1u);
    EXPECT_EQ(uniform(b, 0, 0, 0), kStone);

    ChunkBuffer empty({0, 0, 0});
    ASSERT_TRUE(detail ? empty.fill_density_detail(constant(-1.0f), 9, kStone, false)
                       : empty.fill_density(constant(-1.0f), 9, kStone));
    EXPECT_EQ(empty.evaluations(), 0u);
    EXPECT_EQ(uniform(empty, 8, 8, 8), 0);
  }
}

TEST(ChunkBufferFill, BlockResolutionSamplesLowestCorners) {
  ChunkBuffer b({0, 0, 0});
  ASSERT_TRUE(b.fill_density(axis_minus(1, 8.5f), 0, kStone));
  EXPECT_FALSE(b.is_expanded());
  for (std::uint32_t y = 0; y < 16; ++y) EXPECT_EQ(uniform(b, 4, y, 11), y >= 9 ? kStone : 0) << y;
  // Zero is not solid: y - 9 leaves row 9 alone.
  ChunkBuffer z({0, 0, 0});
  ASSERT_TRUE(z.fill_density(axis_minus(1, 9.0f), 0, kStone));
  EXPECT_EQ(uniform(z, 0, 9, 0), 0);
  EXPECT_EQ(uniform(z, 0, 10, 0), kStone);
}

TEST(ChunkBufferFill, DetailFollowsTheSurfaceInCells) {
  for (bool smooth : {true, false}) {
    SCOPED_TRACE(smooth);
    ChunkBuffer b({0, 0, 0});
    ASSERT_TRUE(b.fill_density_detail(axis_minus(1, 8.5f), 0, kStone, smooth));
    EXPECT_TRUE(b.is_expanded());
    for (std::uint32_t y = 0; y < 16; ++y) {
      if (y == 8) continue;
      EXPECT_EQ(uniform(b, 7, y, 3), y >= 9 ? kStone : 0) << y;
    }
    const BlockCells c = b.block_cells(7, 8, 3);
    for (std::size_t i = 0; i < 27; ++i) EXPECT_EQ(c[i], (i / 3) % 3 == 2 ? kStone : 0) << i;
  }
}

TEST(ChunkBufferFill, DensityMatchesASingleBandPalette) {
  const auto f = program({Op::Coord{0}, Op::Coord{1}, Op::Add{}, Op::Const{14.25f}, Op::Sub{}});
  const PaletteBand band[] = {{0.0f, kStone}};
  for (int mode = 0; mode < 3; ++mode) {
    SCOPED_TRACE(mode);
    ChunkBuffer a({0, 0, 0}), p({0, 0, 0});
    if (mode == 0) {
      ASSERT_TRUE(a.fill_density(f, 1, kStone));
      ASSERT_TRUE(p.fill_palette(f, 1, band));
    } else {
      ASSERT_TRUE(a.fill_density_detail(f, 1, kStone, mode == 1));
      ASSERT_TRUE(p.fill_palette_detail(f, 1, band, mode == 1));
    }
    for (std::uint32_t i = 0; i < 4096; ++i) {
      const std::uint32_t x = i % 16, y = (i / 16) % 16, z = i / 256;
      ASSERT_EQ(a.block_cells(x, y, z), p.block_cells(x, y, z)) << i;
    }
  }
}

TEST(ChunkBufferFill, PaletteBandsPickByStrictlyAbove) {
  auto bands = checked_palette({{4.0f, kStone}, {0.0f, kGrass}, {1.0f, kDirt}});  // sorted here
  ASSERT_TRUE(bands);
  EXPECT_EQ(bands->front(), (PaletteBand{0.0f, kGrass}));
  struct Case {
    float v;
    int want;
  };
  for (const Case c : {Case{0.5f, kGrass}, Case{1.0f, kGrass}, Case{1.01f, kDirt}, Case{100.0f, kStone},
                       Case{0.0f, kDirt + 100}, Case{-3.0f, kDirt + 100}}) {
    SCOPED_TRACE(c.v);
    ChunkBuffer b({0, 0, 0});
    b.fill_all(kDirt + 100);  // what the fill leaves alone
    // max(v, y - 1000) is v here but bounds loosely, so both paths meet.
    const auto f = program({Op::Const{c.v}, Op::Coord{1}, Op::Const{1000.0f}, Op::Sub{}, Op::Max{}});
    ASSERT_TRUE(b.fill_palette(f, 0, *bands));
    EXPECT_EQ(uniform(b, 2, 3, 4), c.want);
  }
}

TEST(ChunkBufferFill, PaletteShortcutNeedsOneMaterialAcrossTheBounds) {
  // Grass, dirt, grass: both ends grass, the middle band dirt.
  auto bands = checked_palette({{0.0f, kGrass}, {1.0f, kDirt}, {4.0f, kGrass}});
  ASSERT_TRUE(bands);
  const auto f = program({Op::Coord{1}, Op::Const{3.0f}, Op::Div{}, Op::Const{0.5f}, Op::Add{}});  // 0.5..5.5
  ChunkBuffer b({0, 0, 0});
  ASSERT_TRUE(b.fill_palette(f, 0, *bands));
  EXPECT_EQ(uniform(b, 0, 0, 0), kGrass);
  EXPECT_EQ(uniform(b, 0, 3, 0), kDirt);
  EXPECT_EQ(uniform(b, 0, 15, 0), kGrass);
  // One material across a whole span: filled without evaluating.
  auto same = checked_palette({{0.0f, kGrass}, {1.0f, kGrass}, {9.0f, kDirt}});
  ChunkBuffer s({0, 0, 0});
  ASSERT_TRUE(s.fill_palette(f, 0, *same));
  EXPECT_EQ(s.evaluations(), 0u);
  EXPECT_EQ(uniform(s, 9, 9, 9), kGrass);
}

TEST(ChunkBufferFill, PaletteDetailFollowsEveryBoundary) {
  auto bands = checked_palette({{0.0f, kGrass}, {3.0f, kDirt}});
  ASSERT_TRUE(bands);
  ChunkBuffer b({0, 0, 0});
  ASSERT_TRUE(b.fill_palette_detail(axis_minus(1, 5.5f), 0, *bands, true));  // 0 at 5.5, 3 at 8.5
  EXPECT_EQ(uniform(b, 1, 4, 1), 0);
  EXPECT_EQ(uniform(b, 1, 6, 1), kGrass);
  EXPECT_EQ(uniform(b, 1, 9, 1), kDirt);
  const BlockCells surface = b.block_cells(1, 5, 1), boundary = b.block_cells(1, 8, 1);
  for (std::size_t i = 0; i < 27; ++i) {
    const bool top = (i / 3) % 3 == 2;
    EXPECT_EQ(surface[i], top ? kGrass : 0) << i;
    EXPECT_EQ(boundary[i], top ? kDirt : kGrass) << i;
  }
}

TEST(ChunkBufferFill, PaletteRefusals) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  std::vector<PaletteBand> seventeen;
  for (int i = 0; i < 17; ++i) seventeen.push_back({static_cast<float>(i), kStone});
  struct Case {
    std::vector<PaletteBand> bands;
    const char* text;
  };
  const Case cases[] = {
      {{}, "a palette needs at least one band"},
      {seventeen, "a palette may hold at most 16 bands, not 17"},
      {{{0.0f, kStone}, {kNaN, kDirt}}, "a palette threshold is not a number"},
      {{{2.0f, kStone}, {0.0f, kGrass}, {2.0f, kDirt}}, "two palette bands share the threshold 2"},
      {{{0.5f, kStone}, {0.5f, kDirt}}, "two palette bands share the threshold 0.5"},
  };
  for (const Case& c : cases) {
    const auto r = checked_palette(c.bands);
    ASSERT_FALSE(r) << c.text;
    EXPECT_EQ(r.error().message(), c.text);
  }
}

TEST(ChunkBufferFill, FillsLayer) {
  const auto f = axis_minus(1, 4.5f);  // 0 < f <= 3 on rows 5..7, f > 3 from row 8
  const auto deeper = axis_minus(1, 7.5f);
  ChunkBuffer b({0, 0, 0});
  ASSERT_TRUE(b.fill_density(f, 0, kStone));
  ASSERT_TRUE(b.fill_density(deeper, 0, kDirt));
  for (std::uint32_t y = 0; y < 16; ++y) {
    EXPECT_EQ(uniform(b, 0, y, 0), y >= 8 ? kDirt : y >= 5 ? kStone : 0) << y;
  }
}

}  // namespace
}  // namespace ostrel_core::detgen::buffer
