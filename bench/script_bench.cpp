// The cost of one hook dispatch to one trivial handler, and of the instruction budget's count
// hook.

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <lua5.4/lua.hpp>

#include "script/lua_vm/lua_vm.hpp"
#include "script/lua_vm/ref.hpp"

namespace {

using ostrel_core::script::lua_vm::LuaVm;

constexpr std::uint64_t kMemoryLimit = 268'435'456;
constexpr std::uint32_t kBudget = 20'000'000;

LuaVm engine_with(const char* init) {
  auto vm = LuaVm::create(kMemoryLimit, kBudget);
  if (!vm) std::abort();
  if (!vm->load_mod("m", init, "mods/m")) std::abort();
  return std::move(*vm);
}

// run_hook over a list of one mod whose handler returns nothing: reading the list, the faulted
// set look-up, arming and disarming the budget, the protected call and reading the answer.
void BM_DispatchOneTrivialHandler(benchmark::State& state) {
  auto vm = engine_with("game.register_on_place(function(e) end)");
  const std::array<std::uint8_t, 32> player{};
  auto event = vm.hook_event(player);
  if (!event) std::abort();
  for (auto _ : state) {
    auto out = vm.run_hook("on_place", "ostrel.placers", *event);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_DispatchOneTrivialHandler);

// A loop of about 4,096,000 instructions (1000 hook firings when armed), run with and without
// the budget. The difference over 1000 is the budget's cost per firing; it includes the trap
// Lua takes on every instruction while any count hook is set.
constexpr int kRounds = 4'096'000;
constexpr double kFirings = kRounds / 4096.0;

void run_loop(benchmark::State& state, bool armed) {
  auto vm = engine_with("function spin(n) for i = 1, n do end end");
  lua_State* L = vm.state();
  for (auto _ : state) {
    if (!vm.push_environment("m")) std::abort();
    lua_getfield(L, -1, "spin");
    lua_remove(L, -2);
    lua_pushinteger(L, kRounds);
    if (armed) {
      if (!vm.call_entry("m", "bench", 1)) std::abort();
    } else if (lua_pcall(L, 1, 1, 0) != LUA_OK) {
      std::abort();
    }
    lua_pop(L, 1);
  }
  state.counters["per_firing"] = benchmark::Counter(
      kFirings * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_LoopWithBudget(benchmark::State& state) { run_loop(state, true); }
void BM_LoopWithoutBudget(benchmark::State& state) { run_loop(state, false); }
BENCHMARK(BM_LoopWithBudget)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoopWithoutBudget)->Unit(benchmark::kMillisecond);

// Arming and disarming alone, per entry.
void BM_ArmAndDisarm(benchmark::State& state) {
  auto vm = engine_with("");
  for (auto _ : state) {
    (void)vm.arm_budget(kBudget);
    vm.disarm_budget();
  }
}
BENCHMARK(BM_ArmAndDisarm);

}  // namespace
