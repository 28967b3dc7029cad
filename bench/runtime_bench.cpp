// The runtime `game` functions a hook calls most: 1,000 reads in one entry, through trivial
// services, one answer table each. The entry's own cost (arming the budget, the protected
// call) is included once per 1,000 reads.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <lua5.4/lua.hpp>
#include <memory>
#include <string>

#include "script/lua_vm/lua_vm.hpp"
#include "script/runtime_fakes.hpp"

namespace {

using ostrel_core::script::lua_vm::LuaVm;

constexpr std::uint64_t kMemoryLimit = 268'435'456;
constexpr std::uint32_t kBudget = 20'000'000;
constexpr int kReads = 1000;

// An engine whose mod defines `reads(n)`: n calls of `call` on one position table (`local_fn`
// defined before it when given), moving along x between 16 blocks.
LuaVm engine_reading(const std::string& call, const std::string& local_fn = "") {
  const std::string init = local_fn + R"(
    function reads(n)
      local at = { x = 0, y = 0, z = 0 }
      local last
      for i = 1, n do at.x = i % 16; last = )" + call + R"((at) end
      return last
    end)";
  auto vm = LuaVm::create(kMemoryLimit, kBudget);
  if (!vm) std::abort();
  if (!vm->load_mod("m", init, "mods/m")) std::abort();
  return std::move(*vm);
}

// Calls the mod's global `reads(n)` once per iteration, under a whole entry's budget.
void run_reads(benchmark::State& state, LuaVm& vm) {
  lua_State* L = vm.state();
  for (auto _ : state) {
    if (!vm.push_environment("m")) std::abort();
    lua_getfield(L, -1, "reads");
    lua_remove(L, -2);
    lua_pushinteger(L, kReads);
    if (!vm.call_entry("m", "bench", 1)) std::abort();
    lua_pop(L, 1);
  }
  state.counters["per_read"] = benchmark::Counter(static_cast<double>(state.iterations()) * kReads,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_GetFluidThousandReads(benchmark::State& state) {
  auto vm = engine_reading("game.get_fluid");
  auto fluids = std::make_shared<ostrel_core::test::FakeFluids>();
  fluids->states[{"overworld", {3, 0, 0}}] = ostrel_core::fluid::Fluid::of(1, 5);
  vm.set_fluid_access(fluids);
  run_reads(state, vm);
}
BENCHMARK(BM_GetFluidThousandReads)->Unit(benchmark::kMicrosecond);

void BM_GetBlockThousandReads(benchmark::State& state) {
  auto vm = engine_reading("game.get_block");
  auto sight = std::make_shared<ostrel_core::test::FakeSight>();
  for (int x = 0; x < 16; ++x) {
    sight->blocks[{"overworld", {x, 0, 0}}] = ostrel_core::sight::Block{7, 0x7FFFFFF};
  }
  vm.set_sight_access(sight);
  run_reads(state, vm);
}
BENCHMARK(BM_GetBlockThousandReads)->Unit(benchmark::kMicrosecond);

void BM_GetLightThousandReads(benchmark::State& state) {
  auto vm = engine_reading("game.get_light");
  vm.set_light_source(std::make_shared<ostrel_core::test::FakeLight>());
  run_reads(state, vm);
}
BENCHMARK(BM_GetLightThousandReads)->Unit(benchmark::kMicrosecond);

// The floor: the same loop making an answer table of the same shape in Lua, with no service.
void BM_LuaTableThousandTimes(benchmark::State& state) {
  auto vm = engine_reading("answer",
                           "local function answer(at) return { volume = at.x, empty = true } end");
  run_reads(state, vm);
}
BENCHMARK(BM_LuaTableThousandTimes)->Unit(benchmark::kMicrosecond);

}  // namespace
