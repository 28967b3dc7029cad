#pragma once
// The loop of the runtime function benchmarks: a mod whose global `reads(n)` makes n calls in
// one entry, timed per call.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <lua5.4/lua.hpp>
#include <string>

#include "script/lua_vm/lua_vm.hpp"

namespace ostrel_bench {

using ostrel_core::script::lua_vm::LuaVm;

inline constexpr std::uint64_t kMemoryLimit = 268'435'456;
inline constexpr std::uint32_t kBudget = 20'000'000;
inline constexpr int kReads = 1000;

// An engine whose mod defines `reads(n)`: n calls of `call` on one position table (`local_fn`
// defined before it when given), moving along x between 16 blocks.
inline LuaVm engine_reading(const std::string& call, const std::string& local_fn = "") {
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

// Calls the mod's global `reads(reads)` once per iteration, under a whole entry's budget.
inline void run_reads(benchmark::State& state, LuaVm& vm, int reads = kReads) {
  lua_State* L = vm.state();
  for (auto _ : state) {
    if (!vm.push_environment("m")) std::abort();
    lua_getfield(L, -1, "reads");
    lua_remove(L, -2);
    lua_pushinteger(L, reads);
    if (!vm.call_entry("m", "bench", 1)) std::abort();
    lua_pop(L, 1);
  }
  state.counters["per_read"] = benchmark::Counter(static_cast<double>(state.iterations()) * reads,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace ostrel_bench
