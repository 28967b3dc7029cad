// Generation figures: chunks a second of one engine running a typical mod (noise ground, a cell
// detail fill, scattered blocks), the same through pools of 1 and 3 workers, and the tint and fog
// asked with trivial callbacks (which the simulation thread does for every served chunk).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "persist/idmap.hpp"
#include "scratch.hpp"
#include "script/host.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "script/read/records.hpp"
#include "worldgen/pool.hpp"
#include "worldgen/terrain_mod.hpp"

namespace {

using ostrel_core::script::lua_vm::LuaVm;
using ostrel_server::worldgen::Pool;

using ostrel_server::worldgen::test::kTerrainMod;

LuaVm engine(const char* init) {
  auto vm = LuaVm::create(256ull << 20, 20'000'000);
  if (!vm || !vm->load_mod("m", init, "mods/m") || !vm->freeze()) std::abort();
  return std::move(*vm);
}

void BM_GenerateChunkOneEngine(benchmark::State& state) {
  auto vm = engine(kTerrainMod);
  std::int32_t x = 0;
  for (auto _ : state) {
    auto got = vm.generate_chunk("overworld", 42, {x % 64, x / 64 % 2 - 1, 0}, 0);
    ++x;
    if (!got) std::abort();
    benchmark::DoNotOptimize(got);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GenerateChunkOneEngine)->Unit(benchmark::kMillisecond);

// The golden terrain fixture mod, every fill of the chunk buffer in a generator's order, on one
// engine: chunks a second a worker on the recipe the golden digests cover.
void BM_GenerateChunkGoldenMod(benchmark::State& state) {
  using Host = ostrel_core::script::host::ModHost<LuaVm>;
  auto sim = Host::load_selected_with_options(std::filesystem::path(OSTREL_SOURCE_DIR) / "server/tests/fixtures/mods",
                                              256ull << 20, 20'000'000, std::nullopt, {});
  if (!sim || !sim->vm.freeze()) std::abort();
  const std::vector<std::pair<std::string, std::uint8_t>> fluids{{"golden_terrain:water", 1},
                                                                 {"golden_terrain:tar", 2}};
  sim->vm.set_fluid_ids(fluids);
  std::int32_t x = 0;
  for (auto _ : state) {
    // Chunk y 0..2 hold the surface, the sea and the pools.
    auto got = sim->vm.generate_chunk("overworld", 42, {x % 64, x / 64 % 3, 0}, 0);
    ++x;
    if (!got) std::abort();
    benchmark::DoNotOptimize(got);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GenerateChunkGoldenMod)->Unit(benchmark::kMillisecond);

// 48 chunks a round (chunk y -1 and 0, where the ground is) through a pool of range(0) workers;
// items are chunks.
void BM_PoolChunks(benchmark::State& state) {
  ostrel_bench::Scratch dir;
  std::filesystem::create_directories(dir.path() / "terrain");
  ostrel_bench::write(dir.path() / "terrain" / "mod.toml",
                      "id = \"terrain\"\nname = \"terrain\"\nversion = \"1.0.0\"\n");
  ostrel_bench::write(dir.path() / "terrain" / "init.lua", kTerrainMod);
  using Host = ostrel_core::script::host::ModHost<LuaVm>;
  auto sim = Host::load_selected_with_options(dir.path(), 256ull << 20, 20'000'000, std::nullopt, {});
  if (!sim || !sim->vm.freeze()) std::abort();
  ostrel_server::worldgen::WorkerSpec spec;
  spec.mods_dir = dir.path();
  spec.memory_limit = 256ull << 20;
  spec.instruction_budget = 20'000'000;
  spec.materials = ostrel_core::persist::idmap::MaterialMap::identity_map();
  spec.blocks = ostrel_core::script::records::registered_blocks(sim->vm);
  auto pool = Pool::start(spec, static_cast<std::size_t>(state.range(0)));
  if (!pool) std::abort();
  std::int32_t round = 0;
  constexpr int kChunks = 48;
  for (auto _ : state) {
    int submitted = 0, done = 0;
    while (done < kChunks) {
      while (submitted < kChunks &&
             pool->submit("overworld", {submitted % 24 - 12, submitted / 24 - 1, round}, 42))
        ++submitted;
      done += static_cast<int>(pool->finished().size());
    }
    ++round;
  }
  state.SetItemsProcessed(state.iterations() * kChunks);
}
BENCHMARK(BM_PoolChunks)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TintAndFogTrivial(benchmark::State& state) {
  auto vm = engine(
      "game.register_chunk_tint(function(pos) if pos.y < 0 then return 0.8, 0.9, 1 end end)\n"
      "game.register_chunk_fog(function(pos) if pos.y < -2 then return {visibility = 24} end end)");
  std::int32_t y = 0;
  for (auto _ : state) {
    const ostrel_core::coords::ChunkPos pos{1, (y++ % 8) - 4, 2};
    auto tint = vm.chunk_tint("overworld", 42, pos);
    auto fog = vm.chunk_fog("overworld", 42, pos);
    benchmark::DoNotOptimize(tint);
    benchmark::DoNotOptimize(fog);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TintAndFogTrivial)->Unit(benchmark::kMicrosecond);

}  // namespace
