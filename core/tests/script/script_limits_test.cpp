// The limits of an engine made whole: native work charged to the budget, memory blamed on the
// mod that holds it, entries that nest, the watchdog, and events whose table cannot be built.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include <lua5.4/lua.hpp>

#include "script/budget.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "script/lua_vm/ref.hpp"
#include "support/runaways.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script {
namespace {

using lua_vm::LuaVm;
using test::inspect;
using test::load;
using test::LogCapture;
using test::make_engine;
using vm::ScriptErrorKind;

constexpr std::array<std::uint8_t, 32> kPlayer = {0x07};

TEST(Charges, EveryOneLinerEndsWithTheBudgetInInitAndInATick) {
  for (const auto& c : test::kRunaways) {
    SCOPED_TRACE(c.name);
    auto vm = make_engine();
    auto r = load(vm, "init", c.code);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind(), ScriptErrorKind::BudgetExceeded) << r.error().debug();

    ASSERT_TRUE(load(vm, "ticker", std::string("game.register_on_tick(function() ") + c.code +
                                       " end)"));
    auto ticked = vm.tick(1);
    ASSERT_TRUE(ticked.has_value());
    ASSERT_EQ(ticked->size(), 1u);
    EXPECT_EQ((*ticked)[0].error, vm::ScriptError::budget_exceeded("ticker", "on_tick"));
  }
}

TEST(Charges, OrdinaryWorkFitsAndCostsWhatItDoes) {
  // A mod doing ordinary things with strings and tables stays far inside the budget.
  auto vm = make_engine();
  EXPECT_TRUE(load(vm, "ordinary", R"(
    local parts = {}
    for i = 1, 2000 do parts[#parts + 1] = ("item %d"):format(i) end
    local joined = table.concat(parts, ",")
    local n = 0
    for w in joined:gmatch("[^,]+") do n = n + 1 end
    assert(n == 2000)
    table.sort(parts)
    table.insert(parts, 1, "first")
    assert(table.remove(parts, 1) == "first")
    assert(utf8.len(("é"):rep(1000)) == 1000)
    assert(select("#", table.unpack(parts, 1, 100)) == 100)
    collectgarbage()
  )"));

}

TEST(Charges, ACountOfIterationsIsTheSameOnEveryRun) {
  // A handler counts how many upper-casings of 64 KiB its budget pays for; each costs 16,384
  // units of scanning and 1,024 of allocation, so the budget of 20,000,000 pays for about
  // 1,100 of them, the same on every run whatever the machine is doing.
  std::vector<std::string> counts;
  for (int run = 0; run < 3; ++run) {
    auto vm = make_engine();
    ASSERT_TRUE(load(vm, "m", R"(
      game.register_on_chat(function()
        local s = ("x"):rep(64 * 1024)
        local ok = pcall(function() while true do s:upper() COUNT = (COUNT or 0) + 1 end end)
        return tostring(COUNT)
      end)
    )"));
    auto e = vm.hook_event(kPlayer);
    ASSERT_TRUE(e);
    auto out = vm.run_hook("on_chat", "ostrel.chatters", *e);
    ASSERT_EQ(out.faulted.size(), 1u);  // the budget stays spent after the pcall
    EXPECT_EQ(out.faulted[0].error.kind(), ScriptErrorKind::BudgetExceeded);
    ASSERT_TRUE(vm.push_environment("m"));
    lua_getfield(vm.state(), -1, "COUNT");
    counts.push_back(lua_tostring(vm.state(), -1));
    lua_pop(vm.state(), 2);
  }
  EXPECT_EQ(counts[0], counts[1]);
  EXPECT_EQ(counts[1], counts[2]);
  const int count = std::stoi(counts[0]);
  EXPECT_GT(count, 1000);
  EXPECT_LT(count, 1230);
}

// ---- Memory blamed on its holder -----------------------------------------------------------

constexpr std::uint64_t kSmallMemory = 32ull << 20;

TEST(Memory, AHoarderInItsTickIsTheOneDisabled) {
  LogCapture logs;
  auto vm = make_engine(kSmallMemory);
  ASSERT_TRUE(load(vm, "a_guard", R"(game.register_on_place(function() return "no building here" end))"));
  ASSERT_TRUE(load(vm, "b_hog", R"(
    hoard = {}
    local kilo = ("x"):rep(1024)
    game.register_on_tick(function()
      for i = 1, 1000 do hoard[#hoard + 1] = kilo:rep(1024) .. i end
    end)
  )"));
  ASSERT_TRUE(load(vm, "c_ticker", R"(
    game.register_on_tick(function() local t = {} for i = 1, 1000 do t[i] = {i} end end)
  )"));
  ASSERT_TRUE(vm.freeze());

  auto ticked = vm.tick(1);
  ASSERT_TRUE(ticked.has_value());
  ASSERT_EQ(ticked->size(), 1u);
  EXPECT_EQ((*ticked)[0].mod_id, "b_hog");
  EXPECT_EQ((*ticked)[0].error.kind(), ScriptErrorKind::OutOfMemory);
  EXPECT_EQ(vm.faulted_mods(), std::vector<std::string>{"b_hog"});
  const auto blamed = logs.containing("which holds the most script memory");
  ASSERT_EQ(blamed.size(), 1u);
  EXPECT_NE(blamed[0].find("disabling mod `b_hog`"), std::string::npos) << blamed[0];
  EXPECT_NE(blamed[0].find("bytes="), std::string::npos);
  // Its references are released: the memory is free again.
  EXPECT_LT(vm.memory_used(), kSmallMemory / 4);

  // The guard keeps refusing, and the next tick runs the ticker alone.
  for (int i = 0; i < 3; ++i) {
    vm::PlaceArgs args;
    args.player = test::player(1);
    auto out = vm.place(args);
    EXPECT_FALSE(out.proceed);
    EXPECT_EQ(out.refusal, "no building here");
  }
  auto again = vm.tick(1);
  ASSERT_TRUE(again.has_value());
  EXPECT_TRUE(again->empty());
}

TEST(Memory, AModLoadedAfterAHoarderLoadsAndTheHoarderIsDisabled) {
  LogCapture logs;
  auto vm = make_engine(kSmallMemory);
  ASSERT_TRUE(load(vm, "a_guard", R"(game.register_on_place(function() return "no building here" end))"));
  // Holds about 24 MiB of the 32 for as long as it lives.
  ASSERT_TRUE(load(vm, "b_hog", R"(
    hoard = {}
    local kilo = ("x"):rep(1024)
    for i = 1, 24 do hoard[i] = kilo:rep(1024) .. i end
  )"));
  // Needs 12 MiB at once while it loads.
  ASSERT_TRUE(load(vm, "c_late", R"(
    local t = {}
    local kilo = ("y"):rep(1024)
    for i = 1, 12 do t[i] = kilo:rep(1024) .. i end
    assert(#t == 12)
  )"));
  EXPECT_TRUE(vm.is_faulted("b_hog"));
  EXPECT_FALSE(vm.is_faulted("c_late"));
  EXPECT_FALSE(vm.is_faulted("a_guard"));
  EXPECT_EQ(logs.containing("disabling mod `b_hog`").size(), 1u);
  vm::PlaceArgs args;
  args.player = test::player(1);
  EXPECT_EQ(vm.place(args).refusal, "no building here");
}

TEST(Memory, AnEventWhoseTableCannotBeBuiltIsRefusedOrSkippedAloud) {
  auto vm = make_engine(kSmallMemory);
  ASSERT_TRUE(load(vm, "m", R"(
    game.register_on_place(function() return nil end)
    game.register_on_player_move(function() end)
  )"));
  // Fill the state from the host: memory the engine holds, so no mod can be blamed.
  lua_State* L = vm.state();
  lua_newtable(L);
  lua_setfield(L, LUA_REGISTRYINDEX, "test.filler");
  // Tables of 64 KiB, then a chain of empty ones, until not even an empty table fits.
  const auto fill = [&](lua_CFunction step) {
    bool full = false;
    for (int i = 1; !full && i < 10000000; ++i) {
      lua_pushcfunction(L, step);
      lua_pushinteger(L, i);
      full = lua_pcall(L, 1, 0, 0) != LUA_OK;
      if (full) lua_pop(L, 1);
    }
    return full;
  };
  ASSERT_TRUE(fill([](lua_State* s) -> int {
    lua_getfield(s, LUA_REGISTRYINDEX, "test.filler");
    lua_pushvalue(s, 1);
    lua_createtable(s, 4096, 0);
    lua_settable(s, -3);
    return 0;
  }));
  ASSERT_TRUE(fill([](lua_State* s) -> int {
    lua_createtable(s, 0, 1);
    lua_getfield(s, LUA_REGISTRYINDEX, "test.chain");
    lua_setfield(s, -2, "prev");
    lua_setfield(s, LUA_REGISTRYINDEX, "test.chain");
    return 0;
  }));

  LogCapture logs;
  vm::PlaceArgs place;
  place.player = test::player(2);
  auto refused = vm.place(place);
  EXPECT_FALSE(refused.proceed);
  EXPECT_EQ(logs.containing("could not build the on_place event table; the action is refused").size(),
            1u);

  vm::MoveEvent move;
  move.player = test::player(2);
  auto skipped = vm.player_move(move);
  EXPECT_TRUE(skipped.proceed);
  EXPECT_EQ(logs.containing("could not build the on_player_move event table; no handler hears of it")
                .size(),
            1u);
}

TEST(Memory, AHostAllocationFailingInANativeFunctionIsAMemoryError) {
  // A native function whose C++ allocation fails (a std::bad_alloc crossing into Lua): the
  // entry fails as out of memory, not with whatever value was on the stack.
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "m", "game.register_on_chat(function() local x = 'junk' return grow() end)"));
  ASSERT_TRUE(vm.push_environment("m"));
  lua_pushcfunction(vm.state(), [](lua_State*) -> int { throw std::bad_alloc(); });
  lua_setfield(vm.state(), -2, "grow");
  lua_pop(vm.state(), 1);
  auto e = vm.hook_event(kPlayer);
  ASSERT_TRUE(e);
  auto out = vm.run_hook("on_chat", "ostrel.chatters", *e);
  ASSERT_EQ(out.faulted.size(), 1u);
  EXPECT_EQ(out.faulted[0].error, vm::ScriptError::out_of_memory("m", "on_chat"));
}

// ---- Entries that nest ---------------------------------------------------------------------

// `dispatch()` inside a mod: runs the on_chat handlers of the engine (upvalue 1) from inside the
// running entry, as a runtime function that dispatches a hook would.
int nested_dispatch(lua_State* L) {
  auto* vm = static_cast<LuaVm*>(lua_touserdata(L, lua_upvalueindex(1)));
  auto e = vm->hook_event(kPlayer);
  if (!e) return luaL_error(L, "no event");
  auto out = vm->run_hook("on_chat", "ostrel.chatters", *e);
  lua_pushboolean(L, out.faulted.empty() ? 1 : 0);
  return 1;
}

TEST(Entries, NestedEntriesKeepTheOuterCount) {
  struct Case {
    const char* name;
    const char* handler;  // the outer on_place handler
    bool outer_fails;
  };
  const Case cases[] = {
      // 8M + (the inner's 15M, on its own budget) + 8M: the outer's own count stays under 20M.
      {"inner_work_is_not_the_outers",
       "for i = 1, 8000000 do end dispatch() for i = 1, 8000000 do end", false},
      // 12M + inner + 12M: the outer's count was kept across the inner entry, so it runs out.
      {"outer_count_survives", "for i = 1, 12000000 do end dispatch() for i = 1, 12000000 do end",
       true},
      // After the inner entry the hook is back on the outer: an endless loop still ends.
      {"hook_is_restored", "dispatch() while true do end", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto vm = make_engine();
    ASSERT_TRUE(load(vm, "inner", "game.register_on_chat(function() for i = 1, 15000000 do end end)"));
    ASSERT_TRUE(load(vm, "outer", std::string("game.register_on_place(function() ") + c.handler +
                                      " end)"));
    ASSERT_TRUE(vm.push_environment("outer"));
    lua_pushlightuserdata(vm.state(), &vm);
    lua_pushcclosure(vm.state(), nested_dispatch, 1);
    lua_setfield(vm.state(), -2, "dispatch");
    lua_pop(vm.state(), 1);

    vm::PlaceArgs args;
    args.player = test::player(3);
    auto out = vm.place(args);
    if (c.outer_fails) {
      ASSERT_EQ(out.faulted.size(), 1u);
      EXPECT_EQ(out.faulted[0].error, vm::ScriptError::budget_exceeded("outer", "on_place"));
    } else {
      EXPECT_TRUE(out.faulted.empty()) << out.faulted[0].error.debug();
    }
    EXPECT_FALSE(vm.is_faulted("inner"));
  }
}

// ---- The watchdog --------------------------------------------------------------------------

TEST(Watchdog, StopsAnEntryThatRunsTooLongWithItsOwnText) {
  // A state of its own with a watchdog of a few milliseconds and a budget that never runs out.
  budget::Budget b;
  b.memory_limit = test::kServerMemoryLimit;
  b.engine_budget = 4'294'967'295u;
  b.watchdog = std::chrono::milliseconds(20);
  lua_State* L = lua_newstate(budget::limited_alloc, &b);
  ASSERT_NE(L, nullptr);
  b.main = L;
  luaL_openlibs(L);
  budget::install_error_values(L);
  ASSERT_EQ(luaL_loadstring(L, "while true do end"), LUA_OK);
  const auto outer = budget::arm(L, b, b.engine_budget, 1);
  const int status = lua_pcall(L, 0, 0, 0);
  const auto ran = b.entry;
  budget::disarm(L, b, outer);
  EXPECT_NE(status, LUA_OK);
  EXPECT_TRUE(ran.watchdog);
  EXPECT_STREQ(lua_tostring(L, -1), budget::kWatchdogMessage);
  lua_close(L);
}

}  // namespace
}  // namespace ostrel_core::script
