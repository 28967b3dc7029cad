// The cost of one hook dispatch to one trivial handler, of the instruction budget's count hook,
// of charging native work (string-heavy code and pattern matching in an engine entry against
// the same code on the stock library), and the time each runaway one-liner takes to end.

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <lua5.4/lua.hpp>

#include "script/lua_vm/lua_vm.hpp"
#include "script/lua_vm/ref.hpp"
#include "support/runaways.hpp"

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

namespace {

// ---- Charged native work against the stock library -------------------------------------------
// The same Lua function run in an engine entry (every library call charged, patterns on the
// engine's matcher, allocations attributed) and in a plain Lua state with the stock library.

constexpr const char* kStringWork = R"lua(
  function work()
    local parts = {}
    for i = 1, 200 do
      local s = ("item %d of %s"):format(i, "list")
      parts[#parts + 1] = s:upper():sub(2, -2) .. s:rep(2, ",")
    end
    local joined = table.concat(parts, ";")
    return #joined + select("#", joined:byte(1, 64)) + utf8.len(joined)
  end
)lua";

constexpr const char* kPatternWork = R"lua(
  local text = ("the quick (brown) fox, jumps over 42 lazy dogs; key=value pairs: a=1, b=22. "):rep(12)
  function work()
    local n = 0
    n = n + select(2, text:gsub("%a+", "%0"))
    for k, v in text:gmatch("(%w+)=(%w+)") do n = n + #k + #v end
    n = n + (text:find("lazy", 1, true) or 0) + (text:find("%d+") or 0)
    n = n + #(text:match("%b()") or "") + #(text:match("^(.-)fox") or "")
    n = n + select(2, text:gsub("%f[%a]%a", string.upper))
    return n
  end
)lua";

// Calls the global `work` of the state once, unarmed (a stock state).
void call_work(lua_State* L) {
  lua_getglobal(L, "work");
  if (lua_pcall(L, 0, 1, 0) != LUA_OK) std::abort();
  lua_pop(L, 1);
}

void run_in_engine(benchmark::State& state, const char* code) {
  auto vm = engine_with(code);
  lua_State* L = vm.state();
  for (auto _ : state) {
    if (!vm.push_environment("m")) std::abort();
    lua_getfield(L, -1, "work");
    lua_remove(L, -2);
    if (!vm.call_entry("m", "bench", 0)) std::abort();
    lua_pop(L, 1);
  }
}

void run_stock(benchmark::State& state, const char* code) {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  if (luaL_dostring(L, code) != LUA_OK) std::abort();
  for (auto _ : state) call_work(L);
  lua_close(L);
}

void BM_StringWorkCharged(benchmark::State& state) { run_in_engine(state, kStringWork); }
void BM_StringWorkStock(benchmark::State& state) { run_stock(state, kStringWork); }
void BM_PatternsEngineMatcher(benchmark::State& state) { run_in_engine(state, kPatternWork); }
void BM_PatternsStockMatcher(benchmark::State& state) { run_stock(state, kPatternWork); }
BENCHMARK(BM_StringWorkCharged)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StringWorkStock)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PatternsEngineMatcher)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PatternsStockMatcher)->Unit(benchmark::kMicrosecond);

// One backtracking search, the worst case of a matcher: a?^n a^n against a^n.
constexpr const char* kBacktrack = R"lua(
  local s, p = ("a"):rep(16), ("a?"):rep(16) .. ("a"):rep(16)
  function work() return s:find(p) end
)lua";
void BM_BacktrackEngineMatcher(benchmark::State& state) { run_in_engine(state, kBacktrack); }
void BM_BacktrackStockMatcher(benchmark::State& state) { run_stock(state, kBacktrack); }
BENCHMARK(BM_BacktrackEngineMatcher)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BacktrackStockMatcher)->Unit(benchmark::kMicrosecond);

}  // namespace

namespace {

// ---- Runaway one-liners ----------------------------------------------------------------------
// How long each runaway line takes to end with the budget's text: run as init.lua (the load) and
// from an on_tick handler (the tick), in a fresh engine with the server's limits.

void run_runaway(benchmark::State& state, const char* code) {
  const std::string ticker = std::string("game.register_on_tick(function() ") + code + " end)";
  for (auto _ : state) {
    auto vm = LuaVm::create(kMemoryLimit, kBudget);
    if (!vm) std::abort();
    if (vm->load_mod("at_load", code, "mods/at_load")) std::abort();
    if (!vm->load_mod("on_tick", ticker, "mods/on_tick")) std::abort();
    auto ticked = vm->tick(1);
    if (!ticked || ticked->size() != 1) std::abort();
  }
}

const int kRunawaysRegistered = [] {
  for (const auto& r : ostrel_core::test::kRunaways) {
    benchmark::RegisterBenchmark((std::string("BM_RunawayLoadAndTick/") + r.name).c_str(),
                                 [code = r.code](benchmark::State& s) { run_runaway(s, code); })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
  }
  return 0;
}();

}  // namespace
