// Periodic script work: tick, entity steps, random ticks and the world pre-pass.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/lua_vm/lua_vm.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script {
namespace {

using lua_vm::LuaVm;
using test::inspect;
using test::load;
using test::LogCapture;
using test::make_engine;
using vm::ScriptErrorKind;

// Every test mod records into one registry table R.calls, reached through a C function.
void share_calls(LuaVm& vm) {
  inspect(vm, "R.calls = {}");
  lua_State* L = vm.state();
  lua_pushcfunction(L, [](lua_State* s) -> int {
    lua_getfield(s, LUA_REGISTRYINDEX, "calls");
    const auto n = static_cast<lua_Integer>(lua_rawlen(s, -1));
    lua_pushvalue(s, 1);
    lua_rawseti(s, -2, n + 1);
    return 0;
  });
  lua_setglobal(L, "note");
}

std::string calls(LuaVm& vm) { return inspect(vm, "return table.concat(R.calls, ',')"); }

TEST(Tick, AFailingFirstModIsReportedAndSkippedAfterwards) {
  auto vm = make_engine();
  share_calls(vm);
  ASSERT_TRUE(load(vm, "a", "game.register_on_tick(function(dt) note('a' .. dt) error('a broke') end)"));
  ASSERT_TRUE(load(vm, "b", "game.register_on_tick(function(dt) note('b' .. dt) end)"));
  LogCapture logs;
  auto first = vm.tick(1);
  ASSERT_TRUE(first.has_value());
  ASSERT_EQ(first->size(), 1u);
  EXPECT_EQ((*first)[0].mod_id, "a");
  EXPECT_EQ((*first)[0].error.context(), "on_tick");
  EXPECT_EQ((*first)[0].error.detail(), "a/init.lua:1: a broke");
  EXPECT_EQ(calls(vm), "a1,b1");
  const auto lines = logs.containing("disabling mod after tick failure");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("error=\"mod `a` errored in on_tick: a/init.lua:1: a broke\""),
            std::string::npos);

  auto second = vm.tick(3);
  ASSERT_TRUE(second.has_value());
  EXPECT_TRUE(second->empty());
  EXPECT_EQ(calls(vm), "a1,b1,b3");
}

TEST(Tick, RegisteringTwiceRunsTheLastHandlerOnce) {
  auto vm = make_engine();
  share_calls(vm);
  ASSERT_TRUE(load(vm, "a", R"(
    game.register_on_tick(function() note('first') end)
    game.register_on_tick(function() note('second') end)
  )"));
  // Even a list that names the mod twice runs it once a tick.
  inspect(vm, "local t = R['ostrel.tickers'] t[#t + 1] = 'a'");
  ASSERT_TRUE(vm.tick(1).has_value());
  EXPECT_EQ(calls(vm), "second");
  auto empty = make_engine();
  auto none = empty.tick(1);
  ASSERT_TRUE(none.has_value());
  EXPECT_TRUE(none->empty());
}

TEST(Tick, AMissingHandlerIsAnEngineError) {
  auto vm = make_engine();
  inspect(vm, "R['ostrel.tickers'][1] = 'ghost'");
  auto r = vm.tick(1);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), ScriptErrorKind::Vm);
}

TEST(EntityStep, StopsAtTheFailingIdAndEachIdHasAWholeBudget) {
  auto vm = make_engine(test::kServerMemoryLimit, 200'000);
  share_calls(vm);
  ASSERT_TRUE(load(vm, "m", R"(
    game.register_on_entity_step(function(id, dt)
      note(id .. ':' .. dt)
      if id == 2 then error('stuck') end
    end)
  )"));
  ASSERT_TRUE(load(vm, "busy", R"(
    game.register_on_entity_step(function(id)
      for i = 1, 60000 do end  -- most of a 200,000-instruction budget
      note('busy' .. id)
    end)
  )"));
  const std::vector<std::uint64_t> ids = {1, 2, 3, 4, 5};
  auto r = vm.entity_step("m", ids, 1);
  ASSERT_TRUE(r.has_value());
  ASSERT_TRUE(r->has_value());
  EXPECT_EQ((*r)->mod_id, "m");
  EXPECT_EQ((*r)->error.context(), "on_entity_step");
  EXPECT_EQ(calls(vm), "1:1,2:1");
  EXPECT_TRUE(vm.is_faulted("m"));
  auto again = vm.entity_step("m", ids, 1);
  ASSERT_TRUE(again.has_value());
  EXPECT_FALSE(again->has_value());
  EXPECT_EQ(calls(vm), "1:1,2:1");

  auto busy = vm.entity_step("busy", ids, 1);
  ASSERT_TRUE(busy.has_value());
  EXPECT_FALSE(busy->has_value());
  EXPECT_EQ(calls(vm), "1:1,2:1,busy1,busy2,busy3,busy4,busy5");
  // A 64-bit id crosses as its bits.
  auto big = vm.entity_step("busy", std::vector<std::uint64_t>{0xFFFFFFFFFFFFFFFFu}, 1);
  ASSERT_TRUE(big.has_value());
  EXPECT_EQ(inspect(vm, "return R.calls[#R.calls]"), "busy-1");
  auto none = vm.entity_step("busy", {}, 1);
  ASSERT_TRUE(none.has_value());
  EXPECT_FALSE(none->has_value());
}

TEST(WorldInit, RunsUnderTheScaledBudget) {
  // 1024 budgets of 10,000 instructions: a pre-pass of a few million instructions completes.
  auto vm = make_engine(test::kServerMemoryLimit, 10'000);
  share_calls(vm);
  ASSERT_TRUE(load(vm, "slow", R"(
    game.register_on_world_init(function()
      for i = 1, 1000000 do end
      note('slow')
    end)
    game.register_on_tick(function() for i = 1, 1000000 do end end)
  )"));
  ASSERT_TRUE(load(vm, "bad", "game.register_on_world_init(function() error('no') end)"));
  auto r = vm.world_init();
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(calls(vm), "slow");
  ASSERT_EQ(r->size(), 1u);
  EXPECT_EQ((*r)[0].mod_id, "bad");
  EXPECT_EQ((*r)[0].error.context(), "on_world_init");
  // The same loop in a tick runs out of its ordinary budget.
  auto tick = vm.tick(1);
  ASSERT_TRUE(tick.has_value());
  ASSERT_EQ(tick->size(), 1u);
  EXPECT_EQ((*tick)[0].error.kind(), ScriptErrorKind::BudgetExceeded);
}

TEST(RandomTick, CallsTheMaterialsHandlerWithItsTable) {
  auto vm = make_engine();
  share_calls(vm);
  ASSERT_TRUE(load(vm, "m", R"(
    for i = 2, 8 do game.register_block({id = 'b' .. i}) end
    game.register_random_tick(7, function(e) note(e.x .. ',' .. e.y .. ',' .. e.z .. ',' .. e.material) return false end)
    game.register_random_tick(8, function() error('rot') end)
  )"));
  auto ok = vm.random_tick({-1, 2, 3, 7});
  EXPECT_TRUE(ok.proceed);
  EXPECT_TRUE(ok.faulted.empty());
  EXPECT_EQ(calls(vm), "-1,2,3,7");
  EXPECT_TRUE(vm.random_tick({0, 0, 0, 9}).faulted.empty());
  auto bad = vm.random_tick({0, 0, 0, 8});
  ASSERT_EQ(bad.faulted.size(), 1u);
  EXPECT_EQ(bad.faulted[0].error.context(), "random_tick");
  // The owner is faulted now: its other material is not asked either.
  vm.random_tick({0, 0, 0, 7});
  EXPECT_EQ(calls(vm), "-1,2,3,7");
}

}  // namespace
}  // namespace ostrel_core::script
