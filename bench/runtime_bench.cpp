// The runtime `game` functions a hook calls most: 1,000 reads in one entry, through trivial
// services, one answer table each. The entry's own cost (arming the budget, the protected
// call) is included once per 1,000 reads.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <lua5.4/lua.hpp>
#include <memory>
#include <string>

#include "runtime_loop.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "script/runtime_fakes.hpp"

namespace {

using ostrel_bench::engine_reading;
using ostrel_bench::run_reads;

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
