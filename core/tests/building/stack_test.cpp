#include "building/inventory/stack.hpp"

#include <gtest/gtest.h>

namespace ostrel_core::inventory {
namespace {

Cells filled(MaterialId m, std::uint32_t mask = OCCUPANCY_FULL) {
  Cells c{};
  for (std::size_t i = 0; i < c.size(); ++i) c[i] = (mask >> i & 1) ? m : MaterialId{0};
  return c;
}

Stack plain(MaterialId m, std::uint32_t units, std::optional<std::string> detail = std::nullopt) {
  Stack s;
  s.material = m;
  s.units = units;
  s.detail = std::move(detail);
  return s;
}

TEST(StackOfCells, BuildsCanonicalStacks) {
  Cells two = filled(9, 0x1FF);
  two[20] = 4;  // materials 9 and 4, some cells empty
  Cells full_two = filled(9);
  full_two[0] = 4;
  struct Case {
    const char* name;
    Cells cells;
    std::uint32_t units;
    std::optional<Stack> want;
  };
  Stack loose = plain(7, 27);
  Stack cut = plain(5, 9);
  cut.shape = 0x1FF;
  Stack mixed = plain(4, 3);
  mixed.shape = 0x1FF | (1u << 20);
  mixed.cells = two;
  Stack mixed_full = plain(4, 27);
  mixed_full.cells = full_two;
  const Case cases[] = {
      {"empty", Cells{}, 27, std::nullopt},
      {"zero_units", filled(7), 0, std::nullopt},
      {"one_material", filled(7), 27, loose},
      {"nine_cells", filled(5, 0x1FF), 9, cut},
      {"two_materials_with_gap", two, 3, mixed},
      {"two_materials_full", full_two, 27, mixed_full},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Stack::of_cells(c.cells, c.units), c.want);
  }
  EXPECT_EQ(mixed_full.item_size(), 27u);
  EXPECT_EQ(cut.item_size(), 9u);
}

TEST(StackCanonical, OneMaterialCutLosesItsCells) {
  Stack s = plain(2, 13, "gem");
  s.cells = filled(6, 0x1FFF);
  Stack want = plain(6, 13, "gem");
  want.shape = 0x1FFF;
  EXPECT_EQ(Stack::canonical(s), want);
  Stack odd = plain(3, 5);
  odd.shape = OCCUPANCY_FULL;  // no cells: returned unchanged, shape not re-examined
  EXPECT_EQ(Stack::canonical(odd), odd);
  Stack empty = plain(3, 5);
  empty.cells = Cells{};
  EXPECT_EQ(Stack::canonical(empty), std::nullopt);
}

TEST(StackMerge, RefusesUnlikeStacksWithoutChange) {
  Stack shaped = plain(3, 1);
  shaped.shape = 7;
  Stack celled = plain(3, 1);
  celled.cells = filled(3, 1);
  struct Case {
    const char* name;
    Stack into;
    Stack other;
    StackErrorKind want;
  };
  const Case cases[] = {
      {"material", plain(3, 1), plain(4, 1), StackErrorKind::MaterialDiffers},
      {"shape", plain(3, 1), shaped, StackErrorKind::ShapeDiffers},
      {"cells", plain(3, 1), celled, StackErrorKind::CellsDiffer},
      {"detail", plain(3, 1), plain(3, 1, "a"), StackErrorKind::DetailDiffers},
      {"too_many", plain(3, 4'294'967'295u), plain(3, 1), StackErrorKind::TooMany},
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.name);
    const Stack before = c.into;
    auto r = c.into.merge(c.other);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind, c.want);
    EXPECT_EQ(c.into, before);
  }
  Stack a = plain(3, 4'294'967'294u);
  ASSERT_TRUE(a.merge(plain(3, 1)));
  EXPECT_EQ(a.units, 4'294'967'295u);
}

TEST(StackSplit, DetachesLikeStackOrRefuses) {
  Stack s = plain(3, 10, "x");
  s.cells = filled(3);
  auto part = s.split(4);
  ASSERT_TRUE(part);
  EXPECT_EQ(s.units, 6u);
  EXPECT_EQ(part->units, 4u);
  EXPECT_TRUE(part->is_like(s));
  auto refused = s.split(7);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error(), (StackError{StackErrorKind::TooFew, 7, 6}));
  EXPECT_EQ(refused.error().message(), "7 units wanted, 6 held");
  EXPECT_EQ(s.units, 6u);
  EXPECT_EQ(s.split(6)->units, 6u);
  EXPECT_EQ(s.units, 0u);
}

TEST(Consolidate, MergesLikeStacksInKeyOrder) {
  const Stack in[] = {plain(3, 5), plain(2, 0), plain(3, 4, "a"), plain(3, 7), plain(0, 9), plain(1, 2)};
  const std::vector<Stack> want{plain(1, 2), plain(3, 12), plain(3, 4, "a")};
  EXPECT_EQ(consolidate(in), want);

  const Stack overflow[] = {plain(3, 4'294'967'000u), plain(3, 500), plain(3, 100)};
  const std::vector<Stack> split{plain(3, 4'294'967'100u), plain(3, 500)};
  EXPECT_EQ(consolidate(overflow), split);
}

TEST(RemovedUnits, CountsChangedCellsPerMaterial) {
  using block::BlockValue;
  Cells mixed_cells = filled(7, 1 | (1u << 26));
  mixed_cells[13] = 2;
  struct Case {
    const char* name;
    BlockValue before, after;
    std::vector<Stack> want;
  };
  const Case cases[] = {
      {"stone_to_air", BlockValue::whole(4), BlockValue::air(), {plain(4, 27)}},
      {"stone_to_dirt", BlockValue::whole(4), BlockValue::whole(5), {plain(4, 27)}},
      {"partial_to_air", BlockValue::partial(5, 0x1FF), BlockValue::air(), {plain(5, 9)}},
      {"mixed_unchanged", BlockValue::mixed(mixed_cells), BlockValue::mixed(mixed_cells), {}},
      {"mixed_to_air", BlockValue::mixed(mixed_cells), BlockValue::air(), {plain(2, 1), plain(7, 2)}},
      {"whole_to_partial_same", BlockValue::whole(4), BlockValue::partial(4, 0x7), {plain(4, 24)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(removed_units(c.before, c.after), c.want);
  }
}

TEST(UnitsOfExactly, CountsOnlyLikeStacks) {
  Stack cut = plain(3, 9);
  cut.shape = 0x1FF;
  const Stack stacks[] = {plain(3, 27), cut, plain(3, 5, "named"), plain(3, 4294967295u)};
  EXPECT_EQ(units_of_exactly(stacks, plain(3, 1)), 4294967295u);  // saturates
  EXPECT_EQ(units_of_exactly(stacks, cut), 9u);
  EXPECT_EQ(units_of_exactly(stacks, plain(3, 0, "named")), 5u);
  EXPECT_EQ(units_of_exactly(stacks, plain(4, 1)), 0u);
}

TEST(Turned, QuarterTurnsPermuteCells) {
  EXPECT_EQ(turned(1, 1), 1u << 18);
  EXPECT_EQ(turned(1u << 2, 1), 1u);
  EXPECT_EQ(turned(OCCUPANCY_FULL, 1), OCCUPANCY_FULL);
  EXPECT_EQ(turned(0x1234567, 4), 0x1234567u);
  EXPECT_EQ(turned(0x1234567, 5), turned(0x1234567, 1));
  EXPECT_EQ(turned(0xF8000000u | 1, 0), 1u);
  EXPECT_EQ(turned(0xF8000000u, 1), 0u);
  // Three turns undo one.
  EXPECT_EQ(turned(turned(0x0ABCDEF, 1), 3), 0x0ABCDEFu);
}

TEST(FillOrder, BottomLayerFirst) {
  const std::array<std::uint8_t, 27> want{0,  1,  2,  9,  10, 11, 18, 19, 20, 3,  4,  5,  12, 13,
                                          14, 21, 22, 23, 6,  7,  8,  15, 16, 17, 24, 25, 26};
  EXPECT_EQ(fill_order(), want);
}

TEST(Cut, OccupancyAndByMaterial) {
  Cells c{};
  c[0] = 7;
  c[26] = 7;
  c[13] = 2;
  EXPECT_EQ(cut::occupancy_of(c), 1u | (1u << 13) | (1u << 26));
  EXPECT_EQ(cut::occupancy_of(Cells{}), 0u);
  EXPECT_EQ(cut::occupancy_of(filled(1)), OCCUPANCY_FULL);
  const std::vector<std::pair<MaterialId, std::uint32_t>> want{{2, 1u << 13}, {7, 1u | (1u << 26)}};
  EXPECT_EQ(cut::by_material(c), want);
  EXPECT_TRUE(cut::by_material(Cells{}).empty());
}

}  // namespace
}  // namespace ostrel_core::inventory
