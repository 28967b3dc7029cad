#include "building/dig/dig.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "building/dig/drops.hpp"
#include "building/dig/hardness.hpp"

namespace ostrel_core::dig {
namespace {

TEST(DigTicks, QuotientRules) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  struct {
    const char* name;
    float time, speed;
    std::uint32_t want;
  } cases[] = {
      {"exactly 1", 1.0f, 20.0f, 1},
      {"below 1", 0.01f, 1.0f, 1},
      {"zero", 0.0f, 1.0f, 1},
      {"1.0001", 1.0001f, 20.0f, 2},
      {"0.75 s at speed 1", 0.75f, 1.0f, 15},
      {"largest float below 2^31", 107374176.0f, 1.0f, 2'147'483'520u},
      {"3e9", 3e9f, 20.0f, kMaxTicks},
      {"infinite: zero speed", 1.0f, 0.0f, kMaxTicks},
      {"infinite time", kInf, 1.0f, kMaxTicks},
      {"NaN", kNaN, 1.0f, kMaxTicks},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ticks_needed(c.time, c.speed), c.want);
  }
}

// Cells removed on each tick until none are left to remove.
std::vector<std::uint32_t> bites(Dig d, std::uint32_t cells, float time, float speed, int ticks) {
  std::vector<std::uint32_t> out;
  for (int i = 0; i < ticks; ++i) out.push_back(d.advance(cells, time, speed));
  return out;
}

TEST(DigAdvance, AFullBlockSpreadsItsCellsOverFifteenTicks) {
  Dig d = Dig::start({0, 0, 0}, kBrushBlock);
  auto b = bites(d, 27, 0.75f, 1.0f, 16);
  std::uint32_t sum = 0;
  for (int i = 0; i < 15; ++i) sum += b[i];
  EXPECT_EQ(b[0], 1u);
  EXPECT_EQ(b[0] + b[1], 3u);
  EXPECT_EQ(sum, 27u);
  EXPECT_GT(b[14], 0u);
  EXPECT_EQ(b[15], 0u);  // nothing after the last
  Dig again = Dig::start({0, 0, 0}, kBrushBlock);
  for (int i = 0; i < 15; ++i) again.advance(27, 0.75f, 1.0f);
  EXPECT_EQ(again.ticks_needed, 15u);
  EXPECT_EQ(again.elapsed, 15u);
  again.advance(27, 0.75f, 1.0f);
  EXPECT_EQ(again.elapsed, 15u);  // a finished dig counts no more ticks
}

TEST(DigAdvance, AThirdFullBlockNeedsAThirdOfTheTime) {
  Dig d = Dig::start({0, 0, 0}, kBrushBlock);
  d.advance(9, 0.75f, 1.0f);
  EXPECT_EQ(d.ticks_needed, 5u);
  Dig cell = Dig::start({0, 0, 0}, kBrushSubnode);  // the subnode brush is not scaled
  cell.advance(9, 0.75f, 1.0f);
  EXPECT_EQ(cell.ticks_needed, 15u);
}

TEST(DigAdvance, ZeroCellsOnlySetsTheTicksAndTheFirstCountStays) {
  Dig d = Dig::start({0, 0, 0}, kBrushSubnode);
  EXPECT_EQ(d.advance(0, 0.5f, 1.0f), 0u);
  EXPECT_EQ(d.ticks_needed, 10u);
  EXPECT_TRUE(d.untouched());
  d.advance(2, 0.05f, 1.0f);  // 1 tick: both cells at once
  EXPECT_EQ(d.removed, 2u);
  EXPECT_EQ(d.advance(5, 0.05f, 1.0f), 0u);  // a later count is ignored
  EXPECT_EQ(d.cells, 2u);
}

TEST(DigAdvance, ProgressNeverPassesOne) {
  Dig d = Dig::start({0, 0, 0}, kBrushSubnode);
  d.advance(1, 0.1f, 1.0f);  // 2 ticks
  EXPECT_EQ(d.progress(), 0.5f);
  for (int i = 0; i < 5; ++i) d.advance(1, 0.1f, 1.0f);
  EXPECT_EQ(d.progress(), 1.0f);
  d.advance(1, 0.0f, 1.0f);  // ticks needed now 1, elapsed 2
  EXPECT_EQ(d.progress(), 1.0f);
}

TEST(DigRetarget, KeepsOrDiscardsProgress) {
  Dig d = Dig::start({3, 3, 3}, kBrushBlock);
  d.advance(27, 1.0f, 1.0f);
  EXPECT_FALSE(d.retarget({3, 3, 3}, kBrushBlock));  // same cell, same brush
  EXPECT_EQ(d.elapsed, 1u);
  EXPECT_TRUE(d.retarget({4, 3, 3}, kBrushBlock));  // block brush: another cell restarts
  EXPECT_EQ(d.elapsed, 0u);
  EXPECT_EQ(d.ticks_needed, 20u);                    // kept
  EXPECT_FALSE(d.retarget({9, 9, 9}, kBrushBlock));  // nothing elapsed: nothing discarded

  Dig w = Dig::start({3, 3, 3}, kBrushWhole);
  w.advance(1, 1.0f, 1.0f);
  EXPECT_FALSE(w.retarget({5, 4, 3}, kBrushSubnode));  // same block under whole: unchanged
  EXPECT_EQ(w.brush, kBrushWhole);
  EXPECT_EQ(w.target, (coords::SubNodePos{3, 3, 3}));
  EXPECT_EQ(w.elapsed, 1u);
  EXPECT_TRUE(w.retarget({6, 3, 3}, kBrushBlock));  // the next block
  EXPECT_EQ(w.brush, kBrushBlock);
}

using drops::DropList;
using drops::Yield;
using inventory::Stack;

TEST(YieldEarn, ADropListPaysPer27CellsAndCarriesTheRest) {
  Yield y;
  DropList list{{5, 1}};
  EXPECT_TRUE(y.earn(2, 10, &list).empty());
  EXPECT_EQ(y.carry.at(5), 10u);
  auto paid = y.earn(2, 17, &list);
  ASSERT_EQ(paid.size(), 1u);
  EXPECT_EQ(paid[0], (Stack{.material = 5, .units = 1}));
  EXPECT_EQ(y.carry.at(5), 0u);
}

TEST(YieldEarn, WithoutAListABlockYieldsItself) {
  Yield y;
  auto got = y.earn(7, 5, nullptr);
  EXPECT_EQ(got, (std::vector<Stack>{{.material = 7, .units = 5}}));
  EXPECT_TRUE(y.earn(0, 5, nullptr).empty());
  EXPECT_TRUE(y.earn(7, 0, nullptr).empty());
}

TEST(YieldEarn, AHookListWinsAndAnEmptyListEarnsNothing) {
  Yield y{.drops = DropList{{9, 27}, {4, 54}}};
  DropList registered{{5, 27}};
  auto got = y.earn(2, 1, &registered);
  EXPECT_EQ(got, (std::vector<Stack>{{.material = 4, .units = 2}, {.material = 9, .units = 1}}));
  Yield nothing{.drops = DropList{}};
  EXPECT_TRUE(nothing.earn(2, 27, &registered).empty());
}

TEST(YieldEarn, CountsSaturate) {
  Yield y;
  DropList list{{5, 0xFFFFFFFF}, {5, 0xFFFFFFFF}};
  auto got = y.earn(2, 0xFFFFFFFF, &list);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].units, 0xFFFFFFFFu);
}

using hardness::Resistance;
using hardness::Table;

TEST(Hardness, OfOneMaterialAndOfMixedCells) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  Table t{{2, {1.0f, 1.0f}}, {3, {3.0f, 1.0f}}, {4, {0.0f, 1.0f}}, {5, {kNaN, 1.0f}}, {6, {2.0f, 0.0f}}};
  EXPECT_EQ(hardness::of_material(t, 0), 0.0f);
  EXPECT_EQ(hardness::of_material(t, 9), 0.75f);
  EXPECT_EQ(hardness::of_material(t, 4), 0.0001f);
  EXPECT_EQ(hardness::of_material(t, 5), 0.0001f);

  block::Cells cells{};
  cells[0] = 2;
  cells[1] = 3;
  EXPECT_FLOAT_EQ(hardness::of_cells(t, cells), 1.5f);
  block::Cells zero_dominance{};
  zero_dominance[0] = 6;  // dominance 0 counts as 1
  zero_dominance[1] = 2;
  EXPECT_FLOAT_EQ(hardness::of_cells(t, zero_dominance), 2.0f / (1.0f / 2.0f + 1.0f));
  EXPECT_EQ(hardness::of_cells(t, block::Cells{}), 0.0f);
}

}  // namespace
}  // namespace ostrel_core::dig
