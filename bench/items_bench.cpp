// The item and plan functions of `game` over the server's own services: a full 28-slot
// inventory read, a 256-slot container read, a container give and take round trip, and the
// summary of a 65,536-block plan read back from the world file.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "building/plan.hpp"
#include "containers/containers.hpp"
#include "hub/hub.hpp"
#include "plans/shared.hpp"
#include "runtime_loop.hpp"
#include "services/carried.hpp"
#include "support/hub_fixture.hpp"
#include "persist/sqlite.hpp"
#include "persist/world_db.hpp"
#include "scratch.hpp"
#include "world/material.hpp"
#include "world/world.hpp"

namespace {

using ostrel_bench::engine_reading;
using ostrel_bench::run_reads;
using ostrel_core::inventory::Stack;
using ostrel_server::test::player;

const std::string kP1 = player(1).to_hex();

std::shared_ptr<ostrel_server::transport::endpoint::Shared> hub_with_player() {
  auto hub = ostrel_server::test::make_hub();
  hub->add_player(player(1), ostrel_server::transport::endpoint::kSpawn);
  hub->ensure_inventory(player(1));
  return hub;
}

// 28 kinds in the 28 slots of "player:main": 28 entries, each its own stack table.
void BM_InventoryOfAFullView(benchmark::State& state) {
  auto hub = hub_with_player();
  for (std::size_t i = 0; i < 28; ++i) {
    hub->give(player(1), "player:main", i, Stack{.material = static_cast<std::uint16_t>(2 + i), .units = 100});
  }
  auto vm = engine_reading("inventory_of", "local P = '" + kP1 + "'\nlocal function inventory_of() return game.inventory(P) end\n");
  vm.set_inventory_access(std::make_shared<ostrel_server::handle::Carried>(hub));
  run_reads(state, vm, 100);
}
BENCHMARK(BM_InventoryOfAFullView)->Unit(benchmark::kMicrosecond);

std::shared_ptr<ostrel_server::containers::Shared> containers(
    const std::shared_ptr<ostrel_server::transport::endpoint::Shared>& hub) {
  return std::make_shared<ostrel_server::containers::Shared>(hub, nullptr);
}

// 256 occupied slots of different kinds: 256 entries with `slot`.
void BM_ContainerOf256Slots(benchmark::State& state) {
  auto hub = hub_with_player();
  auto boxes = containers(hub);
  boxes->ensure("chest", 256);
  for (std::size_t i = 0; i < 256; ++i) {
    boxes->give("chest", i, Stack{.material = static_cast<std::uint16_t>(2 + i), .units = 100});
  }
  auto vm = engine_reading("chest", "local function chest() return game.container('chest') end\n");
  vm.set_container_access(boxes);
  run_reads(state, vm, 100);
}
BENCHMARK(BM_ContainerOf256Slots)->Unit(benchmark::kMicrosecond);

// One block of stone in and out of a 27-slot container holding other stacks.
void BM_ContainerGiveTakeRoundTrip(benchmark::State& state) {
  auto hub = hub_with_player();
  auto boxes = containers(hub);
  boxes->ensure("chest", 27);
  for (std::size_t i = 0; i < 20; ++i) {
    boxes->give("chest", i, Stack{.material = static_cast<std::uint16_t>(3 + i), .units = 100});
  }
  auto vm = engine_reading("round_trip", R"(
    local spec = { material = 2, units = 27 }
    local function round_trip()
      return game.container_give('chest', spec) + game.container_take('chest', spec)
    end
  )");
  vm.set_container_access(boxes);
  run_reads(state, vm);
}
BENCHMARK(BM_ContainerGiveTakeRoundTrip)->Unit(benchmark::kMicrosecond);

// A 64 x 16 x 64 plan of whole blocks of four materials, stored in a world file: each info
// reads, decompresses and checks the row, then tallies it.
void BM_PlanInfoOfALargePlan(benchmark::State& state) {
  ostrel_bench::Scratch dir;
  ostrel_core::material::Registry registry;
  auto conn = ostrel_core::persist::sqlite::Connection::open(dir.path() / "world.sqlite");
  if (!conn) std::abort();
  auto db = ostrel_core::persist::WorldDb::from_connection(std::move(*conn), dir.path() / "world.sqlite", registry);
  if (!db) std::abort();
  auto world = ostrel_server::world::World::open(std::move(*db), 1);
  if (!world) std::abort();
  auto slot = std::make_shared<ostrel_server::lease::WorldSlot>();
  (*slot->lock())->emplace(std::move(*world));
  auto names = std::make_shared<const ostrel_server::plans::Names>(
      std::map<std::string, ostrel_core::material::MaterialId, std::less<>>{});
  auto plans = std::make_shared<ostrel_server::plans::Shared>(slot, names,
                                                              std::make_shared<ostrel_server::plans::Stamps>(names));
  ostrel_core::plan::Plan p{.w = 64, .h = 16, .d = 64};
  const char* kinds[] = {"m:stone", "m:dirt", "m:sand", "m:clay"};
  for (std::uint16_t z = 0; z < 64; ++z)
    for (std::uint16_t y = 0; y < 16; ++y)
      for (std::uint16_t x = 0; x < 64; ++x) {
        if (!p.set(x, y, z, kinds[(x + y + z) % 4], 0x7FFFFFF)) std::abort();
      }
  if (!plans->save("m", "castle", p)) std::abort();
  auto vm = engine_reading("castle", "local function castle() return game.plans.info('castle') end\n");
  vm.set_plan_access(plans);
  run_reads(state, vm, 1);
}
BENCHMARK(BM_PlanInfoOfALargePlan)->Unit(benchmark::kMillisecond);

}  // namespace
