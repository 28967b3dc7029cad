// The sky: building the star catalog, one star_in_view over the 2,048 stars, game.stars()
// building its list of 2,048 tables, and tell_in_reach choosing among 200 players.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <lua5.4/lua.hpp>
#include <memory>
#include <vector>

#include "hub/player_slot.hpp"
#include "presentation/sky.hpp"
#include "proto/server.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "sky/atmosphere.hpp"
#include "support/hub_fixture.hpp"

namespace {

constexpr std::uint64_t kSeed = 0x0123456789ABCDEFull;

void BM_StarCatalog(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(ostrel_core::sky::star_catalog(kSeed));
}
BENCHMARK(BM_StarCatalog);

void BM_StarInView(benchmark::State& state) {
  const auto catalog = ostrel_core::sky::star_catalog(kSeed);
  const auto viewer = ostrel_core::sky::world_position(kSeed);
  float t = 0.0f;
  for (auto _ : state) {
    t += 0.001f;
    benchmark::DoNotOptimize(ostrel_core::sky::star_in_view(catalog, viewer, {0.3f, 0.5f, 0.8f}, t));
  }
}
BENCHMARK(BM_StarInView);

// game.stars() once per entry, the catalog already cached.
void BM_GameStars(benchmark::State& state) {
  auto vm = ostrel_core::script::lua_vm::LuaVm::create(268'435'456, 20'000'000);
  if (!vm || !vm->load_mod("m", "function list() return #game.stars() end", "mods/m")) std::abort();
  vm->set_world_seed(kSeed);
  lua_State* L = vm->state();
  for (auto _ : state) {
    if (!vm->push_environment("m")) std::abort();
    lua_getfield(L, -1, "list");
    lua_remove(L, -2);
    if (!vm->call_entry("m", "bench", 0)) std::abort();
    lua_pop(L, 1);
  }
}
BENCHMARK(BM_GameStars);

// A flash among 200 players of one domain spread over 1,024 blocks a side; `told` counts those
// in reach. Their outboxes are emptied between passes, outside the timing.
void BM_TellInReach200(benchmark::State& state) {
  auto hub = ostrel_server::test::make_hub();
  std::vector<ostrel_server::transport::endpoint::PlayerSlot> slots;
  for (int i = 0; i < 200; ++i) {
    ostrel_core::identity::PlayerUuid id;
    id.bytes.fill(0);
    id.bytes[0] = static_cast<std::uint8_t>(i);
    id.bytes[1] = 1;
    slots.push_back(ostrel_server::transport::endpoint::PlayerSlot::claim(hub, id, "p"));
    auto g = hub->players()->lock();
    auto& sim = (**g).at(id);
    sim.chunk = {(i * 37) % 64 - 32, 0, (i * 11) % 64 - 32};
  }
  ostrel_server::atmosphere::Shared sky(hub);
  const ostrel_server::transport::endpoint::EntityMessage message(ostrel_core::proto::server::SkyFlash{});
  std::uint64_t told = 0;
  for (auto _ : state) {
    told += sky.tell_in_reach("overworld", {0, 0, 0}, std::nullopt, message, 256.0f);
    state.PauseTiming();
    for (int i = 0; i < 200; ++i) {
      ostrel_core::identity::PlayerUuid id;
      id.bytes.fill(0);
      id.bytes[0] = static_cast<std::uint8_t>(i);
      id.bytes[1] = 1;
      hub->take_entity_messages(id);
    }
    state.ResumeTiming();
  }
  state.counters["told"] = static_cast<double>(told) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_TellInReach200);

}  // namespace
