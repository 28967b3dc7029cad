#include <gtest/gtest.h>

#include "detgen/buffer/buffer_fixture.hpp"
#include "detgen/buffer/chunk_buffer.hpp"

namespace ostrel_core::detgen::buffer {
namespace {

using buftest::axis_minus;
using buftest::constant;
using buftest::program;
using density::Op;

constexpr std::uint16_t kStone = 5, kLip = 9;
constexpr fluid::FluidId kWater = 1, kLava = 2;

TEST(ChunkBufferFluid, SeaFillsRowsBelowTheLevel) {
  struct Case {
    std::int32_t chunk_y, level;
    std::uint32_t rows;
  };
  for (const Case c : {Case{0, 0, 0}, Case{-1, 0, 16}, Case{0, 5, 5}, Case{0, -50, 0}, Case{2, 100, 16}}) {
    SCOPED_TRACE(c.level);
    ChunkBuffer b({0, c.chunk_y, 0});
    b.fill_fluid_below(c.level, kWater);
    EXPECT_EQ(b.fluid().wet(), 256 * c.rows);
    for (std::uint32_t y = 0; y < 16; ++y) {
      EXPECT_EQ(b.fluid().get(3, y, 4), y < c.rows ? fluid::Fluid::of(kWater, 27) : fluid::Fluid{}) << y;
    }
  }
}

TEST(ChunkBufferFluid, LevelsAreTheRoomLeftAndLaterFluidsReplace) {
  ChunkBuffer b({0, 0, 0});
  BlockCells nine{};
  for (std::size_t i = 0; i < 9; ++i) nine[i] = kStone;
  b.set_block_cells(1, 0, 0, nine);
  b.set_block(2, 0, 0, kStone);
  b.set_fluid(2, 0, 0, fluid::Fluid::of(kLava, 4));  // a whole block keeps its state
  b.fill_fluid_below(1, kWater);
  EXPECT_EQ(b.fluid().get(0, 0, 0), fluid::Fluid::of(kWater, 27));
  EXPECT_EQ(b.fluid().get(1, 0, 0), fluid::Fluid::of(kWater, 18));
  EXPECT_EQ(b.fluid().get(2, 0, 0), fluid::Fluid::of(kLava, 4));
  b.fill_fluid_below(1, kLava);
  EXPECT_EQ(b.fluid().get(0, 0, 0), fluid::Fluid::of(kLava, 27));
  EXPECT_EQ(b.fluid().get(1, 0, 0), fluid::Fluid::of(kLava, 18));
}

TerracedSpec terraced(const density::Density& level, const density::Density* within,
                      std::optional<std::uint16_t> lip) {
  TerracedSpec s;
  s.level = &level;
  s.within = within;
  s.lip = lip;
  s.fluid = kWater;
  return s;
}

TEST(ChunkBufferFluid, WithinThatReadsHeightIsRefusedEverywhere) {
  const auto level = constant(10.0f);
  const auto within = axis_minus(1, 1000.0f);
  for (const std::int32_t cy : {70, 0, -3}) {
    ChunkBuffer b({0, cy, 0});
    const auto r = b.fill_fluid_terraced(0, terraced(level, &within, kLip));
    ASSERT_FALSE(r) << cy;
    EXPECT_EQ(
        r.error().message(),
        fmt::format("fill_fluid_terraced reads `within` on the world plane y = 0.5, and this field answers "
                    "differently there than it does over the chunk at y = {} — so it reads height, and the "
                    "fill would lay nothing anywhere. Give `within` a field that does not read y.",
                    16 * cy));
    EXPECT_TRUE(b.fluid().empty());
  }
}

TEST(ChunkBufferFluid, TerracedPoolsAndLips) {
  {  // A flat level: rows 0..9, no lips.
    ChunkBuffer b({0, 0, 0});
    const auto level = constant(10.0f);
    EXPECT_EQ(*b.fill_fluid_terraced(0, terraced(level, nullptr, kLip)), 0u);
    EXPECT_EQ(b.fluid().wet(), 256u * 10);
  }
  // Top 3 for x <= 7, top 6 from x = 8: column 7 gets lips in rows 3, 4 and 5.
  const auto step = program({Op::Coord{0}, Op::Const{7.5f}, Op::Sub{}, Op::Const{100.0f}, Op::Mul{},
                             Op::Clamp{0.0f, 1.0f}, Op::Const{3.0f}, Op::Mul{}, Op::Const{3.0f}, Op::Add{}});
  {
    ChunkBuffer b({0, 0, 0});
    EXPECT_EQ(*b.fill_fluid_terraced(0, terraced(step, nullptr, kLip)), 16u * 3);
    for (std::uint32_t y = 0; y < 16; ++y) {
      EXPECT_EQ(b.fluid().get(7, y, 5), y < 3 ? fluid::Fluid::of(kWater, 27) : fluid::Fluid{}) << y;
      EXPECT_EQ(buftest::uniform(b, 7, y, 5), y >= 3 && y < 6 ? kLip : 0) << y;
      EXPECT_EQ(b.fluid().get(8, y, 5), y < 6 ? fluid::Fluid::of(kWater, 27) : fluid::Fluid{}) << y;
    }
  }
  {  // A whole block in a lip row is neither written nor counted; without `lip` there are none.
    ChunkBuffer b({0, 0, 0});
    for (std::uint32_t z = 0; z < 16; ++z) b.set_block(7, 4, z, kStone);
    EXPECT_EQ(*b.fill_fluid_terraced(0, terraced(step, nullptr, kLip)), 16u * 2);
    EXPECT_EQ(buftest::uniform(b, 7, 4, 0), kStone);
    ChunkBuffer n({0, 0, 0});
    EXPECT_EQ(*n.fill_fluid_terraced(0, terraced(step, nullptr, std::nullopt)), 0u);
  }
  {  // Above the ceiling: 16 rows and no lips. Below the floor: nothing, and no evaluation.
    ChunkBuffer b({0, 0, 0});
    const auto high = constant(100.0f);
    EXPECT_EQ(*b.fill_fluid_terraced(0, terraced(high, nullptr, kLip)), 0u);
    EXPECT_EQ(b.fluid().wet(), 4096u);
    ChunkBuffer up({0, 7, 0});
    EXPECT_EQ(*up.fill_fluid_terraced(0, terraced(high, nullptr, kLip)), 0u);
    EXPECT_EQ(up.evaluations(), 0u);
  }
  {  // `within` keeps the body to x >= 8; the body's edge gets no lips against outside columns.
    ChunkBuffer b({0, 0, 0});
    const auto within = axis_minus(0, 8.0f);
    EXPECT_EQ(*b.fill_fluid_terraced(0, terraced(step, &within, kLip)), 0u);
    EXPECT_EQ(b.fluid().get(7, 0, 0), fluid::Fluid{});
    EXPECT_EQ(b.fluid().get(8, 5, 0), fluid::Fluid::of(kWater, 27));
  }
}

TEST(ChunkBufferFluid, HeightReadingLevelsSettleOnTheirOwnHeight) {
  // level = 0.5 y + 4 reads its own height at y = 8.
  const auto level = program({Op::Coord{1}, Op::Const{0.5f}, Op::Mul{}, Op::Const{4.0f}, Op::Add{}});
  ChunkBuffer b({0, 0, 0});
  EXPECT_EQ(*b.fill_fluid_terraced(0, terraced(level, nullptr, kLip)), 0u);
  EXPECT_EQ(b.fluid().wet(), 256u * 8);
}

}  // namespace
}  // namespace ostrel_core::detgen::buffer
