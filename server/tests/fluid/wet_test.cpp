#include "fluid/wet.hpp"

#include <gtest/gtest.h>

#include "support/chunks.hpp"

namespace ostrel_server::fluid {
namespace {

using ostrel_core::block::BlockValue;
using ostrel_core::block::Cells;

constexpr MaterialId kStone = 2, kGrass = 3, kReed = 4;

TEST(Wet, ReadsTerrainThroughThePassableAndWashingLists) {
  test::Chunks world;
  Cells grass_and_stone{};
  grass_and_stone[0] = kGrass;
  grass_and_stone[26] = kStone;
  Cells grass_and_reed{};
  grass_and_reed[0] = kGrass;
  grass_and_reed[1] = kReed;
  grass_and_reed[2] = kReed;
  world.set({0, 0, 0}, BlockValue::whole(kStone));
  world.set({1, 0, 0}, BlockValue::whole(kReed));
  world.set({2, 0, 0}, BlockValue::partial(kGrass, 0x1FF));
  world.set({3, 0, 0}, BlockValue::mixed(grass_and_stone));
  world.set({4, 0, 0}, BlockValue::mixed(grass_and_reed));
  world.set({5, 0, 0}, BlockValue::partial(kReed, 0x7));
  struct Case {
    const char* name;
    BlockPos pos;
    std::optional<std::uint32_t> occupancy, occupancy_plain;
    bool washes;
  };
  const Case cases[] = {
      {"air", {6, 0, 0}, 0, 0, false},
      {"stone", {0, 0, 0}, 27, 27, false},
      {"a whole passable block", {1, 0, 0}, 0, 27, true},
      {"partial grass", {2, 0, 0}, 9, 9, true},
      {"grass and stone: stone does not wash", {3, 0, 0}, 2, 2, false},
      {"grass and reed cells", {4, 0, 0}, 1, 3, true},
      {"partial reed", {5, 0, 0}, 0, 3, true},
      {"a chunk that is not resident", {-1, 0, 0}, std::nullopt, std::nullopt, false},
  };
  Layers layers;
  const AbsorbTable absorbs;
  const Materials passable{kReed}, washing{kGrass, kReed}, none;
  Wet wet(layers, absorbs, passable, washing, world);
  Wet plain(layers, absorbs, none, none, world);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(wet.occupancy(c.pos), c.occupancy);
    EXPECT_EQ(plain.occupancy(c.pos), c.occupancy_plain);
    EXPECT_EQ(wet.washes_away(c.pos), c.washes);
    EXPECT_FALSE(plain.washes_away(c.pos));
  }
}

TEST(Wet, AbsorbencyFollowsTheRuleOfTheBlocksOneMaterial) {
  test::Chunks world;
  Cells mixed{};
  mixed[0] = kGrass;
  mixed[1] = kStone;
  world.set({0, 0, 0}, BlockValue::whole(kGrass));
  world.set({1, 0, 0}, BlockValue::partial(kGrass, 0x3));
  world.set({2, 0, 0}, BlockValue::mixed(mixed));
  world.set({3, 0, 0}, BlockValue::whole(kStone));
  AbsorbTable absorbs(kGrass + 1);
  absorbs[kGrass] = ostrel_core::fluid::solver::AbsorbRule{std::nullopt, 3, FluidId{1}};
  Layers layers;
  const Materials none;
  Wet wet(layers, absorbs, none, none, world);
  EXPECT_EQ(wet.absorbency({0, 0, 0}, 1), 3u);
  EXPECT_EQ(wet.absorbency({0, 0, 0}, 2), 0u);  // the rule names another fluid
  EXPECT_EQ(wet.absorbency({1, 0, 0}, 1), 3u);  // partial: its one material
  EXPECT_EQ(wet.absorbency({2, 0, 0}, 1), 0u);  // two materials never absorb
  EXPECT_EQ(wet.absorbency({3, 0, 0}, 1), 0u);  // no rule
  EXPECT_EQ(wet.absorbency({-1, 0, 0}, 1), 0u); // not resident
}

TEST(Wet, SetFluidMakesAndDropsLayers) {
  test::Chunks world;
  Layers layers;
  const AbsorbTable absorbs;
  const Materials none;
  Wet wet(layers, absorbs, none, none, world);
  EXPECT_FALSE(wet.set_fluid({1, 1, 1}, Fluid{}));
  EXPECT_TRUE(layers.empty());
  EXPECT_TRUE(wet.set_fluid({1, 1, 1}, Fluid::of(1, 4)));
  EXPECT_EQ(wet.fluid({1, 1, 1}), Fluid::of(1, 4));
  EXPECT_EQ(layers.size(), 1u);
  EXPECT_TRUE(wet.set_fluid({2, 1, 1}, Fluid::of(1, 5)));
  EXPECT_TRUE(wet.set_fluid({1, 1, 1}, Fluid{}));
  EXPECT_TRUE(wet.set_fluid({2, 1, 1}, Fluid{}));
  EXPECT_TRUE(layers.empty());  // the layer left empty is removed
  EXPECT_EQ(wet.fluid({2, 1, 1}), Fluid{});
  EXPECT_TRUE(wet.set_fluid({-20, 0, 0}, Fluid::of(2, 27)));  // writes need no resident chunk
  EXPECT_EQ(layers.at({-2, 0, 0}).wet(), 1u);
}

}  // namespace
}  // namespace ostrel_server::fluid
