#include "light/permeability.hpp"

#include <gtest/gtest.h>

namespace ostrel_core::light {
namespace {

using block::BlockView;
using block::Cells;

struct Case {
  const char* name;
  BlockView view;
  std::uint8_t want;
};

TEST(Permeability, FaceBitsOfEachKind) {
  Cells only_last_empty;
  only_last_empty.fill(3);
  only_last_empty[26] = 0;
  Cells full_of_two;
  full_of_two.fill(3);
  full_of_two[13] = 4;
  Cells centre_empty = full_of_two;
  centre_empty[13] = 0;
  Cells empty{};
  const Case kCases[] = {
      {"whole air", BlockView::whole(0), 0x3F},
      {"whole stone", BlockView::whole(2), 0},
      {"partial stone missing cell 0", BlockView::partial(2, 0x7FFFFFE), 0x15},
      {"partial stone missing cell 26", BlockView::partial(2, 0x3FFFFFF), 0x2A},
      {"partial stone missing the centre", BlockView::partial(2, 0x7FFFFFF & ~(1u << 13)), 0},
      {"partial bottom layer only", BlockView::partial(2, 0x1C0E07), 0x3F & ~0x04},
      {"partial -z slab", BlockView::partial(2, 0x1FF), 0x3F & ~0x10},
      {"partial of air, any mask", BlockView::partial(0, 0x7FFFFFE), 0x3F},
      {"partial of air, empty mask", BlockView::partial(0, 0), 0x3F},
      {"mixed, only cell 26 empty", BlockView::mixed(only_last_empty), 0x2A},
      {"mixed, full of two materials", BlockView::mixed(full_of_two), 0},
      {"mixed, only the centre empty", BlockView::mixed(centre_empty), 0},
      {"mixed, all empty", BlockView::mixed(empty), 0x3F},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(permeability(c.view), c.want);
  }
}

TEST(Permeability, FaceMasksHoldTheNineCellsOfTheirFace) {
  for (std::size_t f = 0; f < kFaceMasks.size(); ++f) {
    SCOPED_TRACE(f);
    const int axis = static_cast<int>(f / 2);
    const int side = f % 2 == 0 ? 0 : 2;
    std::uint32_t want = 0;
    for (std::uint8_t i = 0; i < 27; ++i) {
      auto c = coords::CellPos::from_index(i);
      const int on_axis = axis == 0 ? c.x : axis == 1 ? c.y : c.z;
      if (on_axis == side) want |= 1u << i;
    }
    EXPECT_EQ(kFaceMasks[f], want);
    // Emptying one cell of that face only opens the faces the cell lies on.
    const auto first_cell = static_cast<std::uint8_t>(__builtin_ctz(want));
    const std::uint8_t bits = permeability(BlockView::partial(2, 0x7FFFFFF & ~(1u << first_cell)));
    EXPECT_TRUE(bits & (1u << f));
  }
}

}  // namespace
}  // namespace ostrel_core::light
