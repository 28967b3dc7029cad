// Fluid and light reach a domain's resident chunks through the server world.
#include <gtest/gtest.h>

#include "fluid/ponds.hpp"
#include "light/lights.hpp"
#include "support/temp_dir.hpp"
#include "support/test_world.hpp"

namespace ostrel_server::light {
namespace {

using ostrel_core::block::BlockValue;
using ostrel_core::chunk::Chunk;
using ostrel_core::fluid::Fluid;

TEST(WorldViews, FluidAndLightReadTheDomainsResidentChunks) {
  ostrel_core::test::TempDir dir;
  auto world = test::open_test_world(dir.path(), {"m:stone"});
  const MaterialId stone = 2;
  auto& space = world.space_of("dun/a");
  space.chunks.emplace(ChunkPos{0, 0, 0}, Chunk::filled({0, 0, 0}, 0));
  space.chunks.emplace(ChunkPos{0, -1, 0}, Chunk::filled({0, -1, 0}, stone));

  ostrel_core::fluid::Fluids fluids;
  ostrel_core::fluid::Registered water;
  water.name = "m:water";
  ASSERT_TRUE(fluids.register_fluid(water).has_value());
  fluid::Ponds ponds(fluids, {});
  fluid::Fluidics& wet = ponds.of("dun/a");
  wet.chunk_loaded({0, 0, 0}, {}, "dun/a", world);
  ASSERT_TRUE(wet.set({4, 0, 4}, Fluid::of(1, 27)));
  wet.tick("dun/a", world, 0, 0);
  EXPECT_EQ(wet.at({4, 0, 4}).level(), 2u);  // spread over the stone floor
  EXPECT_EQ(wet.at({4, -1, 4}), Fluid{});
  ponds.of("overworld").set({4, 0, 4}, Fluid::of(1, 27));
  ponds.of("overworld").tick("overworld", world, 0, 0);  // nothing resident there: it waits
  EXPECT_EQ(ponds.of("overworld").at({4, 0, 4}), Fluid::of(1, 27));

  Lights lights(Tables{});
  EXPECT_EQ(lights.of("dun/a").chunk_loaded_with_fluid("dun/a", world, {0, 0, 0}, wet), (Touched{{0, 0, 0}}));
  EXPECT_EQ(lights.of("dun/a").at({3, 3, 3}), 0xF000);
  space.chunks.at({0, 0, 0}).set_block_local({3, 15, 3}, BlockValue::whole(stone));
  const std::vector<Edited> edits = {{"dun/a", {3, 15, 3}}, {"overworld", {3, 15, 3}}};
  const auto changed = relight(lights, ponds, edits, world);
  EXPECT_EQ(changed.at("dun/a"), (Touched{{0, 0, 0}}));
  EXPECT_TRUE(changed.at("overworld").empty());
  EXPECT_EQ(lights.of("dun/a").at({3, 3, 3}), 0xE000);
  EXPECT_EQ(lights.of("dun/a").edited_with_fluid("dun/a", world, {3, 15, 3}, Dry{}), Touched{});
}

}  // namespace
}  // namespace ostrel_server::light
