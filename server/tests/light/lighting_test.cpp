#include "light/lighting.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <stdexcept>
#include <thread>

#include "fluid/fluidics.hpp"
#include "fluid/ponds.hpp"
#include "light/lights.hpp"
#include "support/chunks.hpp"

namespace ostrel_server::light {
namespace {

using ostrel_core::block::BlockValue;
using ostrel_core::block::Cells;
using ostrel_core::fluid::Fluid;
using test::Chunks;

constexpr MaterialId kStone = 2, kGlass = 3, kLamp = 4, kMurk = 5, kBlueLamp = 6;

Tables tables() {
  Tables t;
  t.emission.assign(7, 0);
  t.emission[kLamp] = 0x0F00;
  t.emission[kBlueLamp] = 0x000C;
  t.passes.assign(4, 0);
  t.passes[kGlass] = 1;
  t.falloff.assign(6, 0);
  t.falloff[kMurk] = 3;
  t.any_emits = t.any_passes = t.any_falloff = true;
  return t;
}

Lighting lighting() { return Lighting(std::make_shared<const Tables>(tables())); }

std::uint8_t sky(std::uint16_t v) { return v >> 12; }
std::uint8_t red(std::uint16_t v) { return (v >> 8) & 15; }

bool uniform(const Lighting& l, ChunkPos c, std::uint16_t v) {
  const LightLayer* layer = l.layer(c);
  return layer && layer->is_uniform() && layer->uniform_value() == v;
}

// One domain without fluid: chunks loaded and blocks edited as the tick does it.
struct Scene {
  Chunks world;
  Lighting light = lighting();
  const Dry dry;

  Touched load(ChunkPos c) { return light.chunk_loaded_with_fluid(c, world, dry); }
  // Writes the block, then relights around it.
  Touched edit(BlockPos p, const BlockValue& v) {
    world.set(p, v);
    return light.edited_with_fluid(p, world, dry);
  }
};

TEST(Lighting, OpenAirUnderNothingIsFullSky) {
  Scene s;
  s.world.air({0, 0, 0});
  EXPECT_EQ(s.load({0, 0, 0}), (Touched{{0, 0, 0}}));
  EXPECT_TRUE(uniform(s.light, {0, 0, 0}, 0xF000));
  EXPECT_EQ(s.light.at({0, 0, 0}), 0xF000);
  EXPECT_EQ(s.light.at({-1, 0, 0}), 0);  // no layer
  EXPECT_EQ(s.light.skipped_solid(), 0u);
}

TEST(Lighting, ASolidChunkTakesTheShortcutAndRoofsTheChunkBelow) {
  Scene s;
  s.world.air({0, 0, 0});
  s.load({0, 0, 0});
  ASSERT_TRUE(uniform(s.light, {0, 0, 0}, 0xF000));
  s.world.fill({0, 1, 0}, kStone);
  const Touched t = s.load({0, 1, 0});
  EXPECT_EQ(s.light.skipped_solid(), 1u);
  EXPECT_TRUE(uniform(s.light, {0, 1, 0}, 0));
  EXPECT_EQ(t, (Touched{{0, 0, 0}, {0, 1, 0}}));
  EXPECT_EQ(sky(s.light.at({5, 15, 5})), 0);    // the top row lost its sky
  EXPECT_TRUE(uniform(s.light, {0, 0, 0}, 0));  // and nothing else lights it

  // A solid chunk that was lit before is left dark too.
  s.world.air({3, 0, 0});
  s.load({3, 0, 0});
  ASSERT_TRUE(uniform(s.light, {3, 0, 0}, 0xF000));
  s.world.fill({3, 0, 0}, kStone);
  s.load({3, 0, 0});
  EXPECT_EQ(s.light.skipped_solid(), 2u);
  EXPECT_TRUE(uniform(s.light, {3, 0, 0}, 0));

  // Glass and lamp blocks are lit in full.
  for (MaterialId m : {kGlass, kLamp}) {
    s.world.fill({6, 0, 0}, m);
    s.load({6, 0, 0});
  }
  EXPECT_EQ(s.light.skipped_solid(), 2u);
  EXPECT_TRUE(uniform(s.light, {6, 0, 0}, 0x0F00));  // every lamp block holds its own light
}

TEST(Lighting, AirLoadedOverLitAirKeepsTheSkyBelow) {
  Scene s;
  s.world.air({0, 0, 0});
  s.load({0, 0, 0});
  s.world.air({0, 1, 0});
  s.load({0, 1, 0});
  EXPECT_TRUE(uniform(s.light, {0, 1, 0}, 0xF000));
  EXPECT_TRUE(uniform(s.light, {0, 0, 0}, 0xF000));
}

TEST(Lighting, GlassPassesTheSkyAndStoneCutsIt) {
  struct Case {
    const char* name;
    MaterialId floor;
    std::uint16_t below;
  };
  const Case cases[] = {{"glass", kGlass, 0xF000}, {"stone", kStone, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scene s;
    s.world.air({0, 0, 0}, {0, 1, 0});
    s.world.box({0, 16, 0}, {15, 16, 15}, c.floor);  // the bottom row of the upper chunk
    s.load({0, 1, 0});
    s.load({0, 0, 0});
    EXPECT_EQ(s.light.at({4, 17, 4}), 0xF000);
    EXPECT_TRUE(uniform(s.light, {0, 0, 0}, c.below));
  }
}

TEST(Lighting, StoneOverALitColumnDarkensItAndDiggingRestoresIt) {
  Scene s;
  s.world.air({-1, 0, -1}, {1, 0, 1});
  for (std::int32_t x = -1; x <= 1; ++x)
    for (std::int32_t z = -1; z <= 1; ++z) s.load({x, 0, z});
  const auto before = s.light.layers();

  const Touched t = s.edit({8, 15, 8}, BlockValue::whole(kStone));
  EXPECT_EQ(t, (Touched{{0, 0, 0}}));
  EXPECT_EQ(s.light.at({8, 15, 8}), 0);
  for (std::int32_t y = 0; y < 15; ++y) EXPECT_EQ(s.light.at({8, y, 8}), 0xE000) << y;  // lit from the side
  EXPECT_EQ(s.light.at({9, 3, 8}), 0xF000);

  s.edit({8, 15, 8}, BlockValue::air());
  EXPECT_EQ(s.light.layers(), before);  // compacted back to one value
}

TEST(Lighting, AnEditWhereNothingIsLitWritesOnlyIntoLitNeighbours) {
  Scene s;
  s.world.air({0, 0, 0}, {1, 0, 0});
  s.world.box({0, 15, 0}, {31, 15, 15}, kStone);  // a roof: only the lamp lights anything
  s.load({1, 0, 0});
  ASSERT_TRUE(uniform(s.light, {1, 0, 0}, 0));
  const Touched t = s.edit({15, 5, 5}, BlockValue::whole(kLamp));
  EXPECT_EQ(s.light.layer({0, 0, 0}), nullptr);
  EXPECT_EQ(t, (Touched{{1, 0, 0}}));
  EXPECT_EQ(s.light.at({16, 5, 5}), 0x0E00);
  EXPECT_EQ(s.light.at({17, 5, 5}), 0x0D00);
  EXPECT_EQ(s.light.at({16, 5, 6}), 0x0D00);
}

// A lamp block is closed: it lights its neighbours when it is seeded and never floods. Its
// neighbours must still get its light when they open after it, in its chunk or the next.
TEST(Lighting, AClosedLampLightsNeighboursThatOpenLater) {
  Scene s;
  s.world.air({0, 0, 0}, {1, 0, 0});
  s.world.box({0, 15, 0}, {31, 15, 15}, kStone);  // roofed: only the lamp lights anything
  s.world.set({15, 5, 5}, BlockValue::whole(kLamp));
  s.world.set({14, 5, 5}, BlockValue::whole(kStone));
  {
    SCOPED_TRACE("the chunk beside the lamp loads after it");
    s.load({0, 0, 0});
    s.load({1, 0, 0});
    EXPECT_EQ(s.light.at({16, 5, 5}), 0x0E00);
    EXPECT_EQ(s.light.at({17, 5, 5}), 0x0D00);
  }
  {
    SCOPED_TRACE("a block beside the lamp is dug out");
    EXPECT_EQ(s.light.at({14, 5, 5}), 0);
    s.edit({14, 5, 5}, BlockValue::air());
    EXPECT_EQ(s.light.at({14, 5, 5}), 0x0E00);
  }
  {
    SCOPED_TRACE("a brighter lamp beside it comes and goes");
    s.edit({16, 6, 5}, BlockValue::whole(kLamp));
    s.edit({16, 6, 5}, BlockValue::air());
    EXPECT_EQ(s.light.at({16, 5, 5}), 0x0E00);
    EXPECT_EQ(s.light.at({16, 6, 5}), 0x0D00);
  }
}

TEST(Lighting, AChunkThatIsNotResidentStaysDark) {
  Scene s;
  s.world.air({0, 0, 0});
  s.load({0, 0, 0});
  EXPECT_EQ(s.load({1, 0, 0}), (Touched{{1, 0, 0}}));
  EXPECT_TRUE(uniform(s.light, {1, 0, 0}, 0));
}

TEST(Lighting, FluidGlowsWithItsBlockAndDimsWhatPassesThrough) {
  ostrel_core::fluid::Fluids fluids;
  ostrel_core::fluid::Registered glow, murk;
  glow.name = "m:glow";
  glow.material = kLamp;
  murk.name = "m:murk";
  murk.material = kStone;
  murk.light_falloff = 4;
  ASSERT_TRUE(fluids.register_fluid(glow).has_value());
  ASSERT_TRUE(fluids.register_fluid(murk).has_value());
  Chunks world;
  world.air({0, 0, 0});
  fluid::Fluidics wet(fluids);
  ASSERT_TRUE(wet.set({4, 14, 4}, Fluid::of(2, 27)));  // murk under the top row
  ASSERT_TRUE(wet.set({10, 3, 10}, Fluid::of(1, 5)));  // a glowing pool
  Lighting l = lighting();
  l.chunk_loaded_with_fluid({0, 0, 0}, world, wet);
  EXPECT_EQ(l.at({4, 14, 4}), 0xB000);  // 15 less its falloff of 4
  EXPECT_EQ(l.at({4, 13, 4}), 0xE000);  // lit from the side again
  EXPECT_EQ(red(l.at({10, 3, 10})), 15);
  EXPECT_EQ(red(l.at({12, 3, 10})), 13);

  const Dry dry;
  Lighting plain = lighting();
  plain.chunk_loaded_with_fluid({0, 0, 0}, world, dry);
  EXPECT_TRUE(uniform(plain, {0, 0, 0}, 0xF000));
}

TEST(Lighting, MixedBlocksShineWithTheirBrightestCellsAndPassWhereCellsAreEmpty) {
  Scene s;
  s.world.air({0, 0, 0});
  s.world.box({0, 15, 0}, {15, 15, 15}, kStone);
  Cells cells{};
  cells[0] = kLamp;
  cells[1] = kBlueLamp;
  s.world.set({5, 5, 5}, BlockValue::mixed(cells));
  s.load({0, 0, 0});
  EXPECT_EQ(s.light.at({5, 5, 5}), 0x0F0C);
  EXPECT_EQ(s.light.at({6, 5, 5}), 0x0E0B);
  EXPECT_EQ(s.light.at({5, 9, 5}), 0x0B08);
}

TEST(Lighting, AForgottenChunkIsLitAgainOnReload) {
  Scene s;
  s.world.air({0, 0, 0});
  s.load({0, 0, 0});
  EXPECT_TRUE(s.light.forget({0, 0, 0}));
  EXPECT_FALSE(s.light.forget({0, 0, 0}));
  EXPECT_EQ(s.light.layer({0, 0, 0}), nullptr);
  EXPECT_EQ(s.light.at({1, 1, 1}), 0);
  s.world.box({0, 15, 0}, {15, 15, 15}, kStone);  // the world changed while it was away
  EXPECT_EQ(s.load({0, 0, 0}), (Touched{{0, 0, 0}}));
  EXPECT_TRUE(uniform(s.light, {0, 0, 0}, 0));
  EXPECT_TRUE(s.light.forget({0, 0, 0}));

  for (int i = 0; i < 10000; ++i) {
    const ChunkPos c{i % 7, i % 3 + 4, i % 5};
    if (i % 4 == 0) {
      s.world.air(c);
    } else {
      s.world.fill(c, kStone);
    }
    s.load(c);
    ASSERT_TRUE(s.light.forget(c));
  }
  EXPECT_TRUE(s.light.layers().empty());
}

TEST(Lights, AnEditRelightsItsOwnDomainOnly) {
  Lights lights(tables());
  fluid::Ponds ponds(ostrel_core::fluid::Fluids{}, {});
  Chunks over, dungeon;
  over.air({0, 0, 0});
  dungeon.air({0, 0, 0});
  const Dry dry;
  lights.of("overworld").chunk_loaded_with_fluid({0, 0, 0}, over, dry);
  lights.of("dun/a").chunk_loaded_with_fluid({0, 0, 0}, dungeon, dry);
  dungeon.set({3, 15, 3}, BlockValue::whole(kStone));
  const std::vector<Edited> edits = {{"dun/a", {3, 15, 3}}};
  const auto changed = relight(lights, ponds, edits, [&](std::string_view d) -> const Resident& {
    return d == "overworld" ? over : dungeon;
  });
  ASSERT_EQ(changed.size(), 1u);
  EXPECT_EQ(changed.at("dun/a"), (Touched{{0, 0, 0}}));
  EXPECT_EQ(lights.of("dun/a").at({3, 15, 3}), 0);
  EXPECT_EQ(lights.of("overworld").at({3, 15, 3}), 0xF000);
  EXPECT_TRUE(uniform(lights.of("overworld"), {0, 0, 0}, 0xF000));

  EXPECT_TRUE(lights.forget_domain("dun/a"));
  EXPECT_EQ(lights.find("dun/a"), nullptr);
  EXPECT_EQ(lights.of("dun/a").at({1, 1, 1}), 0);  // a new instance of the id starts dark
  EXPECT_FALSE(lights.forget_domain("nowhere"));
}

TEST(LightSource, AnswersDarknessForUnknownDomainsAndAPoisonedLock) {
  auto lock = std::make_shared<LightsLock>(Lights(tables()));
  Chunks world;
  world.air({0, 0, 0});
  (*lock->write())->of("overworld").chunk_loaded_with_fluid({0, 0, 0}, world, Dry{});
  Shared source(lock);
  EXPECT_EQ(source.light_at("overworld", {1, 2, 3}), 0xF000);
  EXPECT_EQ(source.light_at("nether", {1, 2, 3}), 0);
  EXPECT_EQ(source.light_at("overworld", {100, 2, 3}), 0);
  EXPECT_EQ((*lock->write())->find("nether"), nullptr);  // a read makes nothing
  try {
    auto guard = lock->write();
    throw std::runtime_error("relight failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(source.light_at("overworld", {1, 2, 3}), 0);
}

TEST(LightSourceStress, ReadersSeeOnlyWholeRelights) {
  auto lock = std::make_shared<LightsLock>(Lights(tables()));
  Chunks world;
  world.air({0, 0, 0});
  const Dry dry;
  (*lock->write())->of("overworld").chunk_loaded_with_fluid({0, 0, 0}, world, dry);
  std::atomic<bool> done{false};
  std::thread tick([&] {
    for (int i = 0; i < 300; ++i) {
      auto lights = lock->write();
      if (!lights) {
        ADD_FAILURE() << "the lock was poisoned";
        break;
      }
      world.set({8, 15, 8}, i % 2 ? BlockValue::air() : BlockValue::whole(kStone));
      (*lights)->of("overworld").edited_with_fluid({8, 15, 8}, world, dry);
    }
    done = true;
  });
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      Shared source(lock);
      while (!done) {
        const std::uint16_t v = source.light_at("overworld", {8, 3, 8});
        ASSERT_TRUE(v == 0xF000 || v == 0xE000) << std::hex << v;
        ASSERT_EQ(source.light_at("overworld", {1, 1, 1}), 0xF000);
      }
    });
  }
  tick.join();
  for (auto& t : readers) t.join();
  EXPECT_EQ(Shared(lock).light_at("overworld", {8, 3, 8}), 0xF000);  // the last write dug it out
}

TEST(Lighting, ChunksAndBlocksAtTheEdgesOfTheRangeOverflowNothing) {
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
  Scene s;
  struct Case {
    BlockPos corner;
    BlockPos inside;  // one block in from the corner along x
  };
  const Case cases[] = {{{kMax, kMax, kMax}, {kMax - 1, kMax, kMax}},
                        {{kMin, kMin, kMin}, {kMin + 1, kMin, kMin}},
                        {{kMax, kMin, kMax}, {kMax - 1, kMin, kMax}},
                        {{kMin, kMax, kMin}, {kMin + 1, kMax, kMin}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.corner.x << "," << c.corner.y << "," << c.corner.z);
    const ChunkPos chunk = c.corner.chunk();
    s.world.air(chunk);
    EXPECT_EQ(s.load(chunk), Touched{chunk});
    EXPECT_EQ(s.light.at(c.corner), 0xF000);  // nothing above: open sky falls through
    EXPECT_EQ(s.edit(c.corner, BlockValue::whole(kLamp)), Touched{chunk});
    EXPECT_EQ(red(s.light.at(c.corner)), 15);
    EXPECT_EQ(red(s.light.at(c.inside)), 14);
    s.edit(c.corner, BlockValue::air());
    EXPECT_TRUE(uniform(s.light, chunk, 0xF000));
  }
  // A chunk past the block range has no blocks to light.
  EXPECT_EQ(s.load({kMax, kMin, 0}), (Touched{{kMax, kMin, 0}}));
  EXPECT_TRUE(uniform(s.light, {kMax, kMin, 0}, 0));
}

}  // namespace
}  // namespace ostrel_server::light
