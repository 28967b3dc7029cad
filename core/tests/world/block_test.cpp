#include "world/block.hpp"

#include <gtest/gtest.h>

namespace ostrel_core::block {
namespace {

Cells filled_with(MaterialId m) {
  Cells c;
  c.fill(m);
  return c;
}

struct CanonicalCase {
  const char* name;
  BlockValue in;
  BlockValue want;
};

Cells one_of_each() {
  Cells c{};
  c[0] = 7;
  c[26] = 8;
  return c;
}

Cells all_but_first(MaterialId m) {
  Cells c = filled_with(m);
  c[0] = 0;
  return c;
}

Cells single_cell(std::size_t i, MaterialId m) {
  Cells c{};
  c[i] = m;
  return c;
}

TEST(BlockValue, CanonicalForms) {
  const CanonicalCase kCases[] = {
      {"partial with an empty mask", BlockValue::partial(5, 0), BlockValue::air()},
      {"partial of air", BlockValue::partial(0, 0x1FF), BlockValue::air()},
      {"partial with a full mask", BlockValue::partial(5, kOccupancyFull), BlockValue::whole(5)},
      {"partial with bits above 26", BlockValue::partial(5, 0x8000001), BlockValue::partial(5, 1)},
      {"partial with only bits above 26", BlockValue::partial(5, 0xF8000000), BlockValue::air()},
      {"partial full once trimmed", BlockValue::partial(5, 0xFFFFFFFF), BlockValue::whole(5)},
      {"partial already canonical", BlockValue::partial(5, 0x1FF), BlockValue::partial(5, 0x1FF)},
      {"mixed of one material everywhere", BlockValue::mixed(filled_with(7)), BlockValue::whole(7)},
      {"mixed with cell 0 empty", BlockValue::mixed(all_but_first(7)),
       BlockValue::partial(7, 0x7FFFFFE)},
      {"mixed of two materials", BlockValue::mixed(one_of_each()),
       BlockValue::mixed(one_of_each())},
      {"mixed with nothing", BlockValue::mixed(Cells{}), BlockValue::air()},
      {"mixed with one cell", BlockValue::mixed(single_cell(13, 4)),
       BlockValue::partial(4, 1u << 13)},
      {"whole stays", BlockValue::whole(9), BlockValue::whole(9)},
      {"air stays", BlockValue::air(), BlockValue::whole(0)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.in.canonical(), c.want);
    // Canonical form is a fixed point.
    EXPECT_EQ(c.want.canonical(), c.want);
    // Canonicalising never changes what any cell holds.
    EXPECT_EQ(c.in.canonical().cells(), BlockValue(c.in).cells());
  }
}

TEST(BlockValue, CellsAndFilledCells) {
  Cells partial = BlockValue::partial(3, 0b101).cells();
  Cells want{};
  want[0] = 3;
  want[2] = 3;
  EXPECT_EQ(partial, want);
  EXPECT_EQ(BlockValue::whole(6).cells(), filled_with(6));
  EXPECT_EQ(BlockValue::air().cells(), Cells{});
  EXPECT_EQ(BlockValue::mixed(one_of_each()).cells(), one_of_each());

  struct Case {
    const char* name;
    BlockValue v;
    unsigned filled;
  };
  const Case kCases[] = {
      {"air", BlockValue::whole(0), 0},
      {"whole 9", BlockValue::whole(9), 27},
      {"partial 4 mask 7", BlockValue::partial(4, 0x7), 3},
      {"partial of air", BlockValue::partial(0, 0x1FF), 0},
      {"mixed with two cells", BlockValue::mixed(one_of_each()), 2},
      {"mixed with 26 cells", BlockValue::mixed(all_but_first(2)), 26},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.v.filled_cells(), c.filled);
    EXPECT_EQ(BlockView::of(c.v).filled_cells(), c.filled);
  }
}

TEST(BlockView, ReadsCellsWithoutCopying) {
  Cells table = one_of_each();
  BlockView v = BlockView::mixed(table);
  EXPECT_EQ(v.cell(0), 7);
  EXPECT_EQ(v.cell(26), 8);
  EXPECT_EQ(v.cell(1), 0);
  table[1] = 9;  // the view borrows the table's array
  EXPECT_EQ(v.cell(1), 9);
  EXPECT_EQ(v.to_value(), BlockValue::mixed(table));

  BlockView p = BlockView::partial(4, 0b10);
  EXPECT_EQ(p.cell(0), 0);
  EXPECT_EQ(p.cell(1), 4);
  EXPECT_EQ(p.to_value(), BlockValue::partial(4, 0b10));
  EXPECT_EQ(BlockView::whole(5).cell(20), 5);
}

TEST(ContentWord, LayoutOfTheThreeKinds) {
  EXPECT_EQ(whole_word(12), 786432u);
  EXPECT_EQ(mixed_word(3), 196610u);
  const std::uint64_t p = partial_word(5, 0x1FF);
  EXPECT_EQ(p & 0xFFFF, 1u);
  EXPECT_EQ((p >> 16) & 0xFFFF, 5u);
  EXPECT_EQ(p >> 32, 0x1FFu);
  EXPECT_EQ(p, 0x000001FF00050001ull);
  EXPECT_EQ(partial_word(65535, kOccupancyFull - 1) >> 59, 0u);  // a canonical mask stays in 32..58

  EXPECT_EQ(word_kind(p), Kind::Partial);
  EXPECT_EQ(word_material(p), 5);
  EXPECT_EQ(word_mask(p), 0x1FFu);
  EXPECT_EQ(word_kind(mixed_word(3)), Kind::Mixed);
  EXPECT_EQ(word_material(mixed_word(3)), 3);
  EXPECT_EQ(word_kind(whole_word(12)), Kind::Whole);
  EXPECT_EQ(word_mask(whole_word(12)), 0u);
  EXPECT_EQ(whole_word(0), 0u);
}

}  // namespace
}  // namespace ostrel_core::block
