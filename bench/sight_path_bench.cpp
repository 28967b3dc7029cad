// Sight and path queries on a lent world: a path search of 2,000 expansions, an aim among 1,000
// entities (at INFO, so its TRACE events format nothing: allocations per aim are counted), and
// a 64-block line of sight; a hook steering 100 entities through `game.steer_entity`, and
// `game.entity` and `game.entities_in_radius` among 1,000 entities.

#include <benchmark/benchmark.h>

#include <lua5.4/lua.hpp>
#include <memory>
#include <optional>

#include "allocations.hpp"
#include "entities/access.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "base/log.hpp"
#include "entities/population.hpp"
#include "hub/records.hpp"
#include "persist/world_db.hpp"
#include "scratch.hpp"
#include "world/lease_shared.hpp"
#include "world/material.hpp"

namespace {

using namespace ostrel_server;
using ostrel_core::block::BlockValue;
using ostrel_core::coords::BlockPos;
using ostrel_core::coords::ChunkPos;
using ostrel_core::identity::PlayerUuid;

constexpr std::uint16_t kStone = 2;

// A lease over a world with stone below y 0 and air above across chunks x, z 0..5.
struct Lent {
  Lent() {
    ostrel_core::material::Registry registry;
    (void)registry.register_material("bench:stone");
    auto conn = ostrel_core::persist::sqlite::Connection::open(scratch.path() / "world.sqlite");
    auto db = world::WorldDb::from_connection(std::move(*conn), scratch.path() / "world.sqlite", registry);
    auto w = world::World::open(std::move(*db), 7);
    auto slot = lease.world()->lock();
    (*slot)->emplace(std::move(*w));
    auto& chunks = (**slot)->space_of("overworld").chunks;
    for (int x = 0; x < 6; ++x) {
      for (int z = 0; z < 6; ++z) {
        chunks.emplace(ChunkPos{x, -1, z}, ostrel_core::chunk::Chunk::filled(ChunkPos{x, -1, z}, kStone));
        chunks.emplace(ChunkPos{x, 0, z}, ostrel_core::chunk::Chunk::filled(ChunkPos{x, 0, z}, 0));
      }
    }
  }
  void set(BlockPos p, std::uint16_t m) {
    auto slot = lease.world()->lock();
    (**slot)->space_of("overworld").chunks.at(p.chunk()).set_block_local(p.local(), BlockValue::whole(m));
  }
  ostrel_bench::Scratch scratch;
  lease::Lease lease;
};

void BM_FindPath2000Expansions(benchmark::State& state) {
  Lent lent;
  // A goal walled in on every side: the search spends its whole budget.
  for (int x = 59; x <= 61; ++x)
    for (int y = 0; y <= 2; ++y)
      for (int z = 59; z <= 61; ++z)
        if (x != 60 || z != 60) lent.set(BlockPos{x, y, z}, kStone);
  lease::Shared shared(lent.lease);
  for (auto _ : state) {
    lent.lease.path_budget()->refill();
    auto found = shared.find_path("overworld", {1.5, 0, 1.5}, {60.5, 0, 60.5}, {2000, 2, 1, 3});
    if (found.has_value() || lent.lease.path_budget()->available() != 8000 - 2001)
      state.SkipWithError("no full search");
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_FindPath2000Expansions)->Unit(benchmark::kMicrosecond);

// 1,000 mobs 1.8 blocks tall, `y` cells above the lent stone, lent with the world; the players
// and domains the scripts' entity access needs beside them.
struct Herd {
  explicit Herd(Lent& lent, float y = 0.0f) {
    auto pop = population->write();
    for (int i = 0; i < 1000; ++i) {
      ostrel_core::ent::Entity e;
      e.transform.chunk = ChunkPos{i % 6, 0, (i / 6) % 6};
      e.transform.local = {static_cast<float>(i % 40) + 4.0f, y, static_cast<float>((i * 7) % 40) + 4.0f};
      e.collider = ostrel_core::phys::Shape{1.8f, 5.4f};
      e.source = "bench";
      (*pop)->spawn(e);
    }
    lent.lease.set_population(population);
  }
  std::shared_ptr<lease::PopulationLock> population = std::make_shared<lease::PopulationLock>();
  std::shared_ptr<ent::Shared::Domains> domains = std::make_shared<ent::Shared::Domains>();
  std::shared_ptr<ent::Shared::Players> players = std::make_shared<ent::Shared::Players>();
};

void BM_AimAmong1000Entities(benchmark::State& state) {
  Lent lent;
  ostrel_core::log::install(ostrel_core::log::Options{});  // INFO
  Herd herd(lent, 3.0f);
  const PlayerUuid viewer{};
  (*herd.players->lock())->emplace(viewer, transport::endpoint::PlayerSim::at_spawn(BlockPos{40, 0, 40}, 0));
  lent.lease.set_players(herd.players);
  lease::Shared shared(lent.lease);
  const std::size_t before = ostrel_bench::allocations();
  for (auto _ : state) benchmark::DoNotOptimize(shared.looking_at(viewer));
  state.counters["allocs_per_aim"] = benchmark::Counter(
      static_cast<double>(ostrel_bench::allocations() - before) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_AimAmong1000Entities)->Unit(benchmark::kMicrosecond);

void BM_SightLine64Blocks(benchmark::State& state) {
  Lent lent;
  lease::Shared shared(lent.lease);
  for (auto _ : state) {
    auto blocked = shared.line_of_sight("overworld", {2.5, 5.5, 2.5}, {66.5, 5.5, 2.5});
    if (!blocked || *blocked) state.SkipWithError("the line should be clear");
  }
}
BENCHMARK(BM_SightLine64Blocks)->Unit(benchmark::kMicrosecond);

// An engine whose mod "m" defines `run()` as `body`, over the herd and the lent world.
ostrel_core::script::lua_vm::LuaVm herd_engine(Lent& lent, Herd& herd, const std::string& body) {
  auto vm = ostrel_core::script::lua_vm::LuaVm::create(268'435'456, 20'000'000);
  if (!vm) std::abort();
  if (!vm->load_mod("m", "function run()\n" + body + "\nend", "mods/m")) std::abort();
  vm->set_entity_access(std::make_shared<ent::Shared>(herd.population, herd.domains, herd.players));
  auto shared = std::make_shared<lease::Shared>(lent.lease);
  vm->set_path_access(shared);
  vm->set_sight_access(shared);
  return std::move(*vm);
}

// Calls the mod's `run()` once per iteration, as a hook: one entry, one budget.
void run_hook(benchmark::State& state, ostrel_core::script::lua_vm::LuaVm& vm) {
  lua_State* L = vm.state();
  for (auto _ : state) {
    if (!vm.push_environment("m")) std::abort();
    lua_getfield(L, -1, "run");
    lua_remove(L, -2);
    if (!vm.call_entry("m", "bench", 0)) std::abort();
  }
}

void BM_HookSteers100Entities(benchmark::State& state) {
  Lent lent;
  Herd herd(lent);
  // Entity ids 0..99 (generation 0), each toward a point across the field.
  auto vm = herd_engine(lent, herd, R"(
    local target = { x = 48, y = 0, z = 48 }
    for id = 0, 99 do game.steer_entity(id, target, "sprint") end)");
  run_hook(state, vm);
}
BENCHMARK(BM_HookSteers100Entities)->Unit(benchmark::kMicrosecond);

void BM_EntityTableAmong1000(benchmark::State& state) {
  Lent lent;
  Herd herd(lent);
  auto vm = herd_engine(lent, herd, "for id = 0, 999 do local e = game.entity(id) end");
  run_hook(state, vm);
  state.counters["per_call"] = benchmark::Counter(static_cast<double>(state.iterations()) * 1000,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EntityTableAmong1000)->Unit(benchmark::kMicrosecond);

void BM_EntitiesInRadiusAmong1000(benchmark::State& state) {
  Lent lent;
  Herd herd(lent);
  // A 16-block radius over a 96-block field: about a tenth of the herd.
  auto vm = herd_engine(lent, herd, R"(
    local at = { x = 48, y = 0, z = 48 }
    for i = 1, 10 do local near = game.entities_in_radius(at, 16) end)");
  run_hook(state, vm);
  state.counters["per_call"] = benchmark::Counter(static_cast<double>(state.iterations()) * 10,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EntitiesInRadiusAmong1000)->Unit(benchmark::kMicrosecond);

}  // namespace
