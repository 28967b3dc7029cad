#include "fluid/fluidics.hpp"

#include <functional>
#include <limits>

#include <gtest/gtest.h>

#include "support/chunks.hpp"
#include "support/temp_dir.hpp"
#include "support/test_world.hpp"

namespace ostrel_server::fluid {
namespace {

using ostrel_core::block::BlockValue;
using ostrel_core::fluid::Registered;
using ostrel_core::fluid::solver::PosSet;
using test::Chunks;

constexpr MaterialId kStone = 2;
constexpr MaterialId kSponge = 3;
constexpr FluidId kWater = 1;
constexpr FluidId kLava = 2;

Registered fluid_named(const char* name, std::uint32_t evaporates = 0, std::uint8_t falloff = 0) {
  Registered r;
  r.name = name;
  r.evaporates = evaporates;
  r.light_falloff = falloff;
  r.material = 7;
  return r;
}

Fluids water_and_lava(std::uint32_t evaporates = 0) {
  Fluids f;
  EXPECT_TRUE(f.register_fluid(fluid_named("m:water", evaporates)).has_value());
  EXPECT_TRUE(f.register_fluid(fluid_named("m:lava")).has_value());
  return f;
}

FluidLayer layer_of(std::initializer_list<std::pair<BlockPos, Fluid>> blocks) {
  FluidLayer l;
  for (const auto& [p, s] : blocks) {
    const auto local = p.local();
    l.set(local.x, local.y, local.z, s);
  }
  return l;
}

FluidLayer full_of(Fluid s) {
  std::vector<Fluid> states(ostrel_core::fluid::layer::kBlocks, s);
  return FluidLayer::from_blocks(states);
}

TEST(Fluidics, AtReadsTheLayerOfTheBlocksChunk) {
  Fluidics f(water_and_lava());
  EXPECT_EQ(f.at({5, 5, 5}), Fluid{});
  ASSERT_TRUE(f.set({-1, -1, -1}, Fluid::of(kWater, 9)));
  ASSERT_TRUE(f.set({16, 0, 0}, Fluid::of(kLava, 3)));
  const FluidLayer* minus = f.layer({-1, -1, -1});
  ASSERT_NE(minus, nullptr);
  EXPECT_EQ(minus->get(4095), Fluid::of(kWater, 9));  // block -1 is local 15 in chunk -1
  EXPECT_EQ(f.at({-1, -1, -1}), Fluid::of(kWater, 9));
  EXPECT_EQ(f.layer({1, 0, 0})->get(0), Fluid::of(kLava, 3));
  EXPECT_EQ(f.at({15, 0, 0}), Fluid{});
  const ostrel_core::phys::voxels::FluidSource& physics = f;
  EXPECT_EQ(physics.at({16, 0, 0}), Fluid::of(kLava, 3));
}

TEST(Fluidics, SetRecordsWakesAndDrains) {
  Chunks world;
  world.air({0, 0, 0});
  Fluidics f(water_and_lava());
  f.chunk_loaded({0, 0, 0}, FluidLayer{}, world);

  EXPECT_FALSE(f.set({1, 2, 3}, Fluid{}));  // dry into a chunk without a layer
  EXPECT_EQ(f.solver().touched().size(), 7u);
  EXPECT_TRUE(f.take_dirty().empty());
  EXPECT_TRUE(f.tick(world, 0, 0).empty());

  ASSERT_TRUE(f.set({1, 2, 3}, Fluid::of(kWater, 27)));
  EXPECT_FALSE(f.set({1, 2, 3}, Fluid::of(kWater, 27)));  // the same state
  EXPECT_TRUE(f.is_dirty({0, 0, 0}));
  ASSERT_TRUE(f.set({1, 2, 3}, Fluid{}));  // the last wet block dries
  EXPECT_EQ(f.layer({0, 0, 0}), nullptr);
  const auto flows = f.tick(world, 1, 0);
  ASSERT_GE(flows.size(), 2u);
  EXPECT_EQ(flows[0], (Flow{{1, 2, 3}, Fluid{}, Fluid::of(kWater, 27)}));
  EXPECT_EQ(flows[1], (Flow{{1, 2, 3}, Fluid::of(kWater, 27), Fluid{}}));
  const auto dirty = f.take_dirty();
  ASSERT_EQ(dirty.size(), 1u);
  EXPECT_EQ(dirty[0].first, (ChunkPos{0, 0, 0}));
  EXPECT_TRUE(dirty[0].second.empty());  // saved as Empty: the row is deleted
  EXPECT_TRUE(f.take_dirty().empty());
}

TEST(Fluidics, ChunkLoadedWakesOnlyFluidThatWouldMove) {
  using Build = std::function<void(Chunks&, FluidLayer&)>;
  struct Case {
    const char* name;
    Fluids fluids;
    Build build;
    PosSet woken;
    bool resident = true;
  };
  const auto floor = [](Chunks& w) { w.box({0, 0, 0}, {15, 0, 15}, kStone); };
  const auto water = [](FluidLayer& l, BlockPos p, std::uint8_t level = 27) {
    l.set(p.x & 15, p.y & 15, p.z & 15, Fluid::of(kWater, level));
  };
  std::vector<Case> cases;
  cases.push_back({"a sea of 27 over air", water_and_lava(), [](Chunks&, FluidLayer& l) {
                     l = full_of(Fluid::of(kWater, 27));
                   }, {}});
  cases.push_back({"a lone full block on a floor", water_and_lava(), [&](Chunks& w, FluidLayer& l) {
                     floor(w);
                     water(l, {5, 1, 5});
                   }, {{5, 1, 5}}});
  cases.push_back({"a level body of nine on a floor", water_and_lava(), [&](Chunks& w, FluidLayer& l) {
                     floor(w);
                     for (std::int32_t x = 4; x <= 6; ++x)
                       for (std::int32_t z = 4; z <= 6; ++z) water(l, {x, 1, z});
                   }, {}});
  cases.push_back({"a line of three is a body", water_and_lava(), [&](Chunks& w, FluidLayer& l) {
                     floor(w);
                     for (std::int32_t x = 4; x <= 6; ++x) water(l, {x, 1, 5});
                   }, {}});
  cases.push_back({"a pair is not: each has one full neighbour with no other", water_and_lava(),
                   [&](Chunks& w, FluidLayer& l) {
                     floor(w);
                     water(l, {4, 1, 5});
                     water(l, {5, 1, 5});
                   }, {{4, 1, 5}, {5, 1, 5}}});
  cases.push_back({"a boxed pair sleeps", water_and_lava(), [&](Chunks& w, FluidLayer& l) {
                     floor(w);
                     w.box({3, 1, 4}, {6, 1, 6}, kStone);
                     w.box({4, 1, 5}, {5, 1, 5}, 0);
                     water(l, {4, 1, 5});
                     water(l, {5, 1, 5});
                   }, {}});
  cases.push_back({"a boxed cell of 1 over a drop beside it creeps", water_and_lava(), [&](Chunks& w, FluidLayer& l) {
                     floor(w);
                     w.box({3, 1, 4}, {5, 1, 6}, kStone);
                     w.box({4, 1, 5}, {5, 1, 5}, 0);
                     w.set({5, 0, 5}, BlockValue::air());
                     water(l, {4, 1, 5}, 1);
                   }, {{4, 1, 5}}});
  cases.push_back({"a boxed cell over a sponge", water_and_lava(), [&](Chunks& w, FluidLayer& l) {
                     floor(w);
                     w.box({3, 1, 4}, {5, 1, 6}, kStone);
                     w.set({4, 1, 5}, BlockValue::air());
                     w.set({4, 0, 5}, BlockValue::whole(kSponge));
                     water(l, {4, 1, 5}, 5);
                   }, {{4, 1, 5}}});
  cases.push_back({"a boxed cell open to the sky evaporates", water_and_lava(3), [&](Chunks& w, FluidLayer& l) {
                     floor(w);
                     w.box({3, 1, 4}, {5, 1, 6}, kStone);
                     w.set({4, 1, 5}, BlockValue::air());
                     water(l, {4, 1, 5}, 5);
                   }, {{4, 1, 5}}});
  cases.push_back({"the same cell under a lid does not", water_and_lava(3), [&](Chunks& w, FluidLayer& l) {
                     floor(w);
                     w.box({3, 1, 4}, {5, 2, 6}, kStone);
                     w.set({4, 1, 5}, BlockValue::air());
                     water(l, {4, 1, 5}, 5);
                   }, {}});
  cases.push_back({"a chunk that is not resident wakes everything", water_and_lava(),
                   [&](Chunks&, FluidLayer& l) {
                     water(l, {4, 1, 5});
                     water(l, {5, 1, 5}, 3);
                   }, {{4, 1, 5}, {5, 1, 5}}, false});
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    Chunks world;
    if (c.resident) world.air({-1, -1, -1}, {1, 1, 1});
    FluidLayer l;
    c.build(world, l);
    Fluidics f(std::move(c.fluids));
    ostrel_core::fluid::solver::AbsorbTable absorbs(kSponge + 1);
    absorbs[kSponge] = ostrel_core::fluid::solver::AbsorbRule{std::nullopt, 2, kWater};
    f.set_absorbs(std::make_shared<const AbsorbTable>(absorbs));
    f.chunk_loaded({0, 0, 0}, std::move(l), world);
    EXPECT_EQ(f.solver().touched(), c.woken);
    EXPECT_TRUE(f.is_loaded({0, 0, 0}));
    EXPECT_FALSE(f.is_dirty({0, 0, 0}));
  }
}

TEST(Fluidics, ChunkLoadedWithAnEmptyLayerKeepsWhatIsHeld) {
  Chunks world;
  world.air({0, 0, 0});
  Fluidics f(water_and_lava());
  f.chunk_loaded({0, 0, 0}, layer_of({{{1, 1, 1}, Fluid::of(kWater, 4)}}), world);
  f.chunk_loaded({0, 0, 0}, FluidLayer{}, world);
  EXPECT_EQ(f.at({1, 1, 1}), Fluid::of(kWater, 4));
  f.chunk_loaded({0, 0, 0}, layer_of({{{2, 2, 2}, Fluid::of(kLava, 6)}}), world);  // a full layer replaces
  EXPECT_EQ(f.at({1, 1, 1}), Fluid{});
  EXPECT_EQ(f.at({2, 2, 2}), Fluid::of(kLava, 6));

  // Unsaved changes are newer than anything stored: a second load keeps them.
  ASSERT_TRUE(f.set({3, 3, 3}, Fluid::of(kWater, 7)));
  f.chunk_loaded({0, 0, 0}, layer_of({{{2, 2, 2}, Fluid::of(kLava, 1)}}), world);
  EXPECT_EQ(f.at({3, 3, 3}), Fluid::of(kWater, 7));
  EXPECT_EQ(f.at({2, 2, 2}), Fluid::of(kLava, 6));
}

TEST(Fluidics, AStepsFlowsReachTheSave) {
  Chunks world;
  world.air({-1, -1, -1}, {1, 1, 1});
  world.box({-16, -1, -16}, {31, -1, 31}, kStone);
  Fluidics f(water_and_lava());
  for (std::int32_t x = -1; x <= 1; ++x)
    for (std::int32_t y = -1; y <= 1; ++y)
      for (std::int32_t z = -1; z <= 1; ++z) f.chunk_loaded({x, y, z}, FluidLayer{}, world);
  ASSERT_TRUE(f.set({15, 0, 15}, Fluid::of(kWater, 27)));
  EXPECT_EQ(f.take_dirty().size(), 1u);

  const auto flows = f.tick(world, 0, 0);
  const auto chunks = Fluidics::touched_chunks(flows);
  for (const ChunkPos c : {ChunkPos{0, 0, 0}, ChunkPos{0, 0, 1}, ChunkPos{1, 0, 0}}) EXPECT_TRUE(chunks.contains(c));
  const auto dirty = f.take_dirty();
  ASSERT_EQ(dirty.size(), chunks.size());
  for (const auto& [pos, layer] : dirty) {
    EXPECT_TRUE(chunks.contains(pos));
    EXPECT_EQ(layer, *f.layer(pos));
  }
}

TEST(Fluidics, ADirtyChunkIsNotForgotten) {
  Chunks world;
  world.air({0, 0, 0});
  Fluidics f(water_and_lava());
  f.chunk_loaded({0, 0, 0}, FluidLayer{}, world);
  ASSERT_TRUE(f.set({3, 3, 3}, Fluid::of(kWater, 8)));
  EXPECT_FALSE(f.forget({0, 0, 0}));
  EXPECT_TRUE(f.is_loaded({0, 0, 0}));
  EXPECT_EQ(f.at({3, 3, 3}), Fluid::of(kWater, 8));
  const auto dirty = f.take_dirty();
  ASSERT_EQ(dirty.size(), 1u);
  EXPECT_FALSE(dirty[0].second.empty());
  EXPECT_TRUE(f.forget({0, 0, 0}));
  EXPECT_FALSE(f.is_loaded({0, 0, 0}));
  EXPECT_EQ(f.at({3, 3, 3}), Fluid{});
  EXPECT_TRUE(f.take_dirty().empty());  // never reported as Empty after the forget
}

TEST(Fluidics, APourBeforeTheLoadIsLaidOverTheStoredLayer) {
  ostrel_core::test::TempDir dir;
  const ChunkPos c{2, 0, -1};
  const BlockPos stored_at{32, 1, -15}, poured_at{33, 1, -15}, dried_at{34, 1, -15};
  {
    auto db = test::open_test_db(dir.path());
    ASSERT_TRUE(db.save_chunk_fluid_in("overworld", c,
                                       layer_of({{stored_at, Fluid::of(kWater, 20)}, {dried_at, Fluid::of(kWater, 9)}}))
                    .has_value());
  }
  Chunks world;
  world.air(c);
  Fluidics f(water_and_lava());
  ASSERT_TRUE(f.set(poured_at, Fluid::of(kLava, 27)));
  ASSERT_TRUE(f.set(poured_at, Fluid::of(kLava, 26)));
  ASSERT_TRUE(f.set(dried_at, Fluid::of(kLava, 4)));
  ASSERT_TRUE(f.set(dried_at, Fluid{}));  // a dry write is a write too
  EXPECT_EQ(f.poured_into_unloaded(), std::vector<ChunkPos>{c});
  EXPECT_TRUE(f.take_dirty().empty());  // held back: the stored layer is not here yet
  EXPECT_TRUE(f.is_dirty(c));
  EXPECT_FALSE(f.forget(c));

  {
    auto db = test::open_test_db(dir.path());
    auto stored = db.load_chunk_fluid_in("overworld", c);
    ASSERT_TRUE(stored.has_value() && stored->has_value());
    f.chunk_loaded(c, std::move(**stored), world);
  }
  EXPECT_TRUE(f.poured_into_unloaded().empty());
  EXPECT_EQ(f.at(stored_at), Fluid::of(kWater, 20));
  EXPECT_EQ(f.at(poured_at), Fluid::of(kLava, 26));
  EXPECT_EQ(f.at(dried_at), Fluid{});
  const FluidLayer want = *f.layer(c);
  auto dirty = f.take_dirty();
  ASSERT_EQ(dirty.size(), 1u);
  EXPECT_EQ(dirty[0].second, want);
  {
    auto db = test::open_test_db(dir.path());
    ASSERT_TRUE(db.save_chunk_fluid_in("overworld", c, dirty[0].second).has_value());
  }
  auto db = test::open_test_db(dir.path());  // reopened
  auto again = db.load_chunk_fluid_in("overworld", c);
  ASSERT_TRUE(again.has_value() && again->has_value());
  EXPECT_EQ(**again, want);
  EXPECT_EQ((*again)->wet(), 2u);
}

TEST(Fluidics, APourIntoAChunkNeverStoredIsSavedOnceTakenIn) {
  Chunks world;
  world.air({0, 0, 0});
  Fluidics f(water_and_lava());
  ASSERT_TRUE(f.set({1, 1, 1}, Fluid::of(kWater, 5)));
  EXPECT_TRUE(f.take_dirty().empty());
  f.chunk_loaded({0, 0, 0}, FluidLayer{}, world);  // nothing stored
  EXPECT_EQ(f.at({1, 1, 1}), Fluid::of(kWater, 5));
  EXPECT_TRUE(f.solver().touched().contains({1, 1, 1}));  // a lone block: it wakes
  const auto dirty = f.take_dirty();
  ASSERT_EQ(dirty.size(), 1u);
  EXPECT_EQ(dirty[0].second.wet(), 1u);
}

TEST(Fluidics, TheStepLeavesFluidWhoseChunkIsNotResident) {
  Chunks world;
  Fluidics f(water_and_lava());
  f.chunk_loaded({0, 0, 0}, layer_of({{{4, 4, 4}, Fluid::of(kWater, 27)}}), world);
  EXPECT_FALSE(f.solver().idle());
  for (std::uint64_t step = 0; step < 5; ++step) EXPECT_TRUE(f.tick(world, step, 0).empty());
  EXPECT_EQ(f.at({4, 4, 4}), Fluid::of(kWater, 27));
  EXPECT_TRUE(f.take_dirty().empty());
}

TEST(Fluidics, TuningsAndLightComeFromTheRegistry) {
  Fluids fluids;
  Registered slow = fluid_named("m:slow", 5, 0);
  slow.tick_rate = 4;
  slow.waterlogs_at = 9;
  slow.washes = false;
  ASSERT_TRUE(fluids.register_fluid(slow).has_value());
  ASSERT_TRUE(fluids.register_placeholder("gone:fluid").has_value());
  {
    Fluidics f(fluids);
    EXPECT_TRUE(f.tunings().enabled[1]);
    EXPECT_EQ(f.tunings().slots[1], (ostrel_core::fluid::solver::Tuning{9, 5, 4, false}));
    EXPECT_FALSE(f.tunings().enabled[2]);  // the placeholder
    EXPECT_FALSE(f.tunings().enabled[0]);
    EXPECT_FALSE(f.any_falloff());
    EXPECT_EQ(f.material(1), MaterialId{7});
    EXPECT_EQ(f.material(2), MaterialId{0});  // a placeholder is drawn as air
    EXPECT_EQ(f.material(0), std::nullopt);
    EXPECT_EQ(f.material(3), std::nullopt);
    EXPECT_EQ(f.falloff(0), 0);
    EXPECT_EQ(f.falloff(9), 0);
  }
  ASSERT_TRUE(fluids.register_fluid(fluid_named("m:murk", 0, 3)).has_value());
  Fluidics murky(fluids);
  EXPECT_TRUE(murky.any_falloff());
  EXPECT_EQ(murky.falloff(3), 3);

  const Fluidics plain;
  for (bool e : plain.tunings().enabled) EXPECT_TRUE(e);
  EXPECT_EQ(plain.at({0, 0, 0}), Fluid{});
  EXPECT_FALSE(plain.any_falloff());
}

TEST(Fluidics, PositionsAtTheEdgesOfTheRangeOverflowNothing) {
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
  const BlockPos corners[] = {{kMax, kMax, kMax}, {kMin, kMin, kMin}, {kMax, kMin, kMin}, {kMin, kMax, kMax}};
  Chunks world;
  Fluidics f(water_and_lava());
  for (const auto& p : corners) {
    world.air(p.chunk());
    f.chunk_loaded(p.chunk(), FluidLayer{}, world);
    ASSERT_TRUE(f.set(p, Fluid::of(kWater, 27)));
  }
  f.chunk_loaded({kMax, kMax, kMax}, full_of(Fluid::of(kWater, 3)), world);  // beyond any block: kept, never woken
  std::uint64_t volume_before = 0;
  for (const auto& p : corners) volume_before += f.at(p).level();
  for (std::uint64_t step = 0; step < 20; ++step) f.tick(world, step, 99);
  std::uint64_t volume = 0;
  for (const auto& [pos, layer] : f.layers()) {
    if (pos == ChunkPos{kMax, kMax, kMax}) continue;
    for (const Fluid s : layer.states()) volume += s.level();
  }
  EXPECT_EQ(volume, volume_before);
  EXPECT_EQ(f.layer({kMax, kMax, kMax})->wet(), 4096u);
}

}  // namespace
}  // namespace ostrel_server::fluid
