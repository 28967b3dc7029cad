#include "fluid/ponds.hpp"

#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "base/log.hpp"
#include "fluid/edits.hpp"
#include "fluid/rules.hpp"
#include "support/chunks.hpp"
#include "support/test_world.hpp"

namespace ostrel_server::fluid {
namespace {

using ostrel_core::fluid::Registered;
namespace seed = transport::endpoint::seed;

constexpr FluidId kWater = 1;

Fluids one_fluid() {
  Fluids f;
  Registered water;
  water.name = "m:water";
  EXPECT_TRUE(f.register_fluid(water).has_value());
  EXPECT_TRUE(f.register_placeholder("old:oil").has_value());
  return f;
}

std::shared_ptr<PondsLock> stores() { return std::make_shared<PondsLock>(Ponds(one_fluid(), AbsorbTable{})); }

// Poisons the lock the way a failing tick would: a failure unwinds through a held guard.
void poison(PondsLock& lock) {
  try {
    auto guard = lock.write();
    throw std::runtime_error("tick failed");
  } catch (const std::runtime_error&) {
  }
}

TEST(FluidAccess, AReadMakesNoStateAndAWriteDoes) {
  auto lock = stores();
  Shared access(lock);
  EXPECT_EQ(access.fluid_at("overworld", {1, 2, 3}), Fluid{});
  EXPECT_TRUE((*lock->write())->wet_domains().empty());

  EXPECT_TRUE(access.set_fluid_at("dun/a", {1, 2, 3}, Fluid::of(kWater, 12)));
  EXPECT_FALSE(access.set_fluid_at("dun/a", {1, 2, 3}, Fluid::of(kWater, 12)));
  EXPECT_EQ(access.fluid_at("dun/a", {1, 2, 3}), Fluid::of(kWater, 12));
  EXPECT_EQ(access.fluid_at("overworld", {1, 2, 3}), Fluid{});
  EXPECT_EQ((*lock->write())->wet_domains(), std::vector<std::string>{"dun/a"});

  EXPECT_EQ(access.fluid_id("m:water"), FluidId{1});
  EXPECT_EQ(access.fluid_id("old:oil"), FluidId{2});  // a placeholder keeps its id
  EXPECT_EQ(access.fluid_id("water"), std::nullopt);
}

TEST(FluidAccess, APoisonedLockAnswersNothing) {
  auto lock = stores();
  Shared access(lock);
  ASSERT_TRUE(access.set_fluid_at("overworld", {0, 0, 0}, Fluid::of(kWater, 3)));
  poison(*lock);
  EXPECT_EQ(access.fluid_at("overworld", {0, 0, 0}), Fluid{});
  EXPECT_FALSE(access.set_fluid_at("overworld", {0, 0, 0}, Fluid::of(kWater, 5)));
  EXPECT_EQ(access.fluid_id("m:water"), std::nullopt);
}

TEST(Ponds, SharedListsAreSortedAndReachEveryDomain) {
  Ponds ponds(one_fluid(), AbsorbTable{});
  Fluidics& before = ponds.of("overworld");
  ponds.set_passable({9, 3, 7, 3});
  ponds.set_washes_away({5, 1});
  const Materials passable{3, 3, 7, 9};
  EXPECT_EQ(ponds.passable(), passable);
  EXPECT_EQ(before.passable(), passable);
  EXPECT_EQ(before.washes_away(), (Materials{1, 5}));
  const Fluidics& after = ponds.of("nether");
  EXPECT_EQ(after.passable(), passable);
  EXPECT_EQ(after.washes_away(), (Materials{1, 5}));
  EXPECT_EQ(&ponds.of("overworld"), &before);  // made once
}

TEST(Ponds, TakeDirtyGoesByDomainNameThenChunk) {
  Ponds ponds(one_fluid(), AbsorbTable{});
  test::Chunks world;
  world.air({-1, 0, 0}, {1, 0, 0});
  for (const char* d : {"overworld", "b"}) {
    for (std::int32_t x = -1; x <= 1; ++x) ponds.of(d).chunk_loaded({x, 0, 0}, FluidLayer{}, world);
  }
  ASSERT_TRUE(ponds.of("overworld").set({20, 0, 0}, Fluid::of(kWater, 2)));
  ASSERT_TRUE(ponds.of("overworld").set({-5, 0, 0}, Fluid::of(kWater, 2)));
  ASSERT_TRUE(ponds.of("b").set({3, 0, 0}, Fluid::of(kWater, 2)));
  const auto dirty = ponds.take_dirty();
  ASSERT_EQ(dirty.size(), 3u);
  EXPECT_EQ(dirty[0].domain, "b");
  EXPECT_EQ(dirty[1].domain, "overworld");
  EXPECT_EQ(dirty[1].pos, (ChunkPos{-1, 0, 0}));
  EXPECT_EQ(dirty[2].pos, (ChunkPos{1, 0, 0}));
  EXPECT_EQ(dirty[2].layer.wet(), 1u);
  EXPECT_TRUE(ponds.take_dirty().empty());
}

TEST(Ponds, ADestroyedDomainsFluidIsDroppedAndANewOneStartsDry) {
  Ponds ponds(one_fluid(), AbsorbTable{});
  ASSERT_TRUE(ponds.of("dun/a").set({1, 1, 1}, Fluid::of(kWater, 27)));
  EXPECT_TRUE(ponds.forget_domain("dun/a"));
  EXPECT_FALSE(ponds.forget_domain("dun/a"));
  EXPECT_EQ(ponds.find("dun/a"), nullptr);
  EXPECT_TRUE(ponds.take_dirty().empty());  // nothing of it is saved over the deleted rows
  Fluidics& fresh = ponds.of("dun/a");
  EXPECT_EQ(fresh.at({1, 1, 1}), Fluid{});
  EXPECT_TRUE(fresh.solver().idle());
}

TEST(FluidAccessStress, ConcurrentReadsAndWritesKeepEveryWrite) {
  auto lock = stores();
  constexpr int kThreads = 4;
  constexpr int kWrites = 400;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      Shared access(lock);
      for (int i = 0; i < kWrites; ++i) {
        const BlockPos p{i, t * 20, 0};
        const Fluid state = Fluid::of(kWater, static_cast<std::uint8_t>(1 + i % 27));
        EXPECT_TRUE(access.set_fluid_at(t % 2 ? "a" : "b", p, state));
        EXPECT_EQ(access.fluid_at(t % 2 ? "a" : "b", p), state);  // nobody else writes it
        EXPECT_EQ(access.fluid_id("m:water"), FluidId{1});
      }
    });
  }
  threads.emplace_back([&] {  // the tick: takes what was written
    for (int i = 0; i < 200; ++i) {
      auto ponds = lock->write();
      ASSERT_TRUE(ponds);
      (*ponds)->take_dirty();
    }
  });
  for (auto& th : threads) th.join();
  Shared access(lock);
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kWrites; ++i) {
      EXPECT_EQ(access.fluid_at(t % 2 ? "a" : "b", {i, t * 20, 0}), Fluid::of(kWater, static_cast<std::uint8_t>(1 + i % 27)));
    }
  }
}

// The hub's edit queue as the writer sees it: records what it was offered and answers as told.
class Queue final : public plans::EditQueue {
 public:
  plans::Queued answer = plans::Queued::Queued;
  std::vector<std::pair<std::string, transport::endpoint::Seed>> seeds;
  std::vector<std::tuple<std::string, BlockPos, MaterialId, std::uint32_t>> merges;

  plans::Queued queue_seed(std::string_view domain, const transport::endpoint::Seed& s) override {
    seeds.emplace_back(std::string(domain), s);
    return answer;
  }
  plans::Queued queue_merge(std::string_view domain, BlockPos pos, MaterialId m, std::uint32_t mask) override {
    merges.emplace_back(std::string(domain), pos, m, mask);
    return answer;
  }
  bool is_whole(MaterialId) const override { return false; }
};

TEST(Edits, QueueByBlockNameAndAnswerWhetherTheHubQueued) {
  auto queue = std::make_shared<Queue>();
  Edits edits(queue, {{"m:stone", 4}, {"m:slab", 5}});
  EXPECT_TRUE(edits.set_block("overworld", {1, 2, 3}, "m:stone"));
  EXPECT_TRUE(edits.set_partial("dun/a", {4, 5, 6}, "m:slab", 0x1FF));
  EXPECT_TRUE(edits.merge_partial("overworld", {7, 8, 9}, "m:slab", 0x7));
  ASSERT_EQ(queue->seeds.size(), 2u);
  EXPECT_EQ(queue->seeds[0].first, "overworld");
  EXPECT_EQ(queue->seeds[0].second, transport::endpoint::Seed(seed::Whole{4, {1, 2, 3}}));
  EXPECT_EQ(queue->seeds[1].first, "dun/a");
  EXPECT_EQ(queue->seeds[1].second, transport::endpoint::Seed(seed::Masked{5, {4, 5, 6}, 0x1FF}));
  ASSERT_EQ(queue->merges.size(), 1u);
  EXPECT_EQ(queue->merges[0], std::make_tuple(std::string("overworld"), BlockPos{7, 8, 9}, MaterialId{5}, 0x7u));

  for (auto refusal : {plans::Queued::Full, plans::Queued::Refused}) {
    queue->answer = refusal;
    EXPECT_FALSE(edits.set_block("overworld", {0, 0, 0}, "m:stone"));
    EXPECT_FALSE(edits.set_partial("overworld", {0, 0, 0}, "m:slab", 1));
    EXPECT_FALSE(edits.merge_partial("overworld", {0, 0, 0}, "m:slab", 1));
  }
}

TEST(Edits, EngineAirClearsThoughNoModRegisteredIt) {
  auto queue = std::make_shared<Queue>();
  Edits edits(queue, {{"m:stone", 4}});
  EXPECT_TRUE(edits.set_block("overworld", {1, 2, 3}, "engine:air"));
  EXPECT_TRUE(edits.set_partial("overworld", {1, 2, 3}, "engine:air", 0x7));
  EXPECT_TRUE(edits.merge_partial("overworld", {1, 2, 3}, "engine:air", 0x7));
  ASSERT_EQ(queue->seeds.size(), 2u);
  EXPECT_EQ(queue->seeds[0].second, transport::endpoint::Seed(seed::Whole{0, {1, 2, 3}}));
  EXPECT_EQ(queue->seeds[1].second, transport::endpoint::Seed(seed::Masked{0, {1, 2, 3}, 0x7}));
  ASSERT_EQ(queue->merges.size(), 1u);
  EXPECT_EQ(std::get<2>(queue->merges[0]), MaterialId{0});
  EXPECT_FALSE(edits.set_block("overworld", {1, 2, 3}, "engine:unknown"));
}

TEST(Edits, AnUnknownBlockQueuesNothingAndSaysSoAtDebugLevel) {
  auto queue = std::make_shared<Queue>();
  Edits edits(queue, {{"m:stone", 4}});
  ostrel_core::log::Options options;
  options.filter = *ostrel_core::log::Filter::parse("debug");
  options.colour = false;
  ostrel_core::log::install(options);
  test::LogLines lines;
  EXPECT_FALSE(edits.set_block("overworld", {0, 0, 0}, "m:Stone"));  // matched exactly
  EXPECT_FALSE(edits.set_partial("overworld", {0, 0, 0}, "m:nope", 1));
  EXPECT_FALSE(edits.merge_partial("overworld", {0, 0, 0}, "", 1));
  ostrel_core::log::install(ostrel_core::log::Options{});
  EXPECT_TRUE(queue->seeds.empty());
  EXPECT_TRUE(queue->merges.empty());
  ASSERT_EQ(lines.lines().size(), 3u);
  EXPECT_NE(lines.lines()[0].find("DEBUG ostrel_server::fluid: a mod asked to place a block nothing registered"),
            std::string::npos);
  EXPECT_NE(lines.lines()[0].find("block=\"m:Stone\""), std::string::npos);
}

TEST(FluidRules, TablesFromTheBlockRules) {
  ostrel_core::material::Registry materials;
  for (const char* name : {"m:sponge", "m:wet_sponge", "m:grass", "m:moss", "m:reed"}) {
    ASSERT_TRUE(materials.register_material(name).has_value());
  }
  std::vector<BlockRules> rules(6);
  rules[0].block = "m:sponge";
  rules[0].absorbs = {std::string("m:water"), std::string("m:wet_sponge"), 4};
  rules[1].block = "m:moss";
  rules[1].absorbs = {std::string("m:nothing"), std::nullopt, 2};  // names a fluid nobody registered
  rules[2].block = "m:grass";
  rules[2].absorbs = {std::nullopt, std::string("m:unknown_block"), 1};
  rules[2].washes_away = true;
  rules[3].block = "m:reed";
  rules[3].absorbs = {std::nullopt, std::nullopt, 0};  // no rate: no rule
  rules[3].passable = true;
  rules[3].washes_away = true;
  rules[4].block = "m:unregistered";
  rules[4].absorbs = {std::nullopt, std::nullopt, 9};
  rules[4].passable = true;
  rules[5].block = "m:grass";  // a second rule of one block
  rules[5].passable = true;

  const auto table = absorb_table(rules, materials, one_fluid());
  const MaterialId sponge = *materials.id_of("m:sponge"), moss = *materials.id_of("m:moss"),
                   grass = *materials.id_of("m:grass"), reed = *materials.id_of("m:reed");
  ASSERT_GT(table.size(), std::size_t{moss});
  EXPECT_EQ(table[sponge], (ostrel_core::fluid::solver::AbsorbRule{materials.id_of("m:wet_sponge"), 4, kWater}));
  EXPECT_EQ(table[moss], (ostrel_core::fluid::solver::AbsorbRule{std::nullopt, 2, FluidId{0}}));
  EXPECT_EQ(table[grass], (ostrel_core::fluid::solver::AbsorbRule{std::nullopt, 1, std::nullopt}));
  EXPECT_TRUE(reed >= table.size() || !table[reed].has_value());
  EXPECT_EQ(passable_materials(rules, materials), (Materials{grass, reed}));
  EXPECT_EQ(washing_materials(rules, materials), (Materials{grass, reed}));

  // The moss rule names no fluid anyone has: it absorbs nothing, whatever flows by.
  test::Chunks world;
  world.set({0, 0, 0}, ostrel_core::block::BlockValue::whole(moss));
  world.set({1, 0, 0}, ostrel_core::block::BlockValue::whole(sponge));
  Layers layers;
  const Materials none;
  Wet wet(layers, table, none, none, world);
  for (FluidId f = 0; f <= 15; ++f) EXPECT_EQ(wet.absorbency({0, 0, 0}, f), 0u) << int{f};
  EXPECT_EQ(wet.absorbency({1, 0, 0}, kWater), 4u);
  EXPECT_EQ(wet.absorbency({1, 0, 0}, 2), 0u);
}

}  // namespace
}  // namespace ostrel_server::fluid
