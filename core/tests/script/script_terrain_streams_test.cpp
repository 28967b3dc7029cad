// game.rng_stream and the stream handle; the shared readers of seeds, domains and the plan store.

#include <gtest/gtest.h>

#include <string>

#include "building/plan.hpp"
#include "script/terrain_lua.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

using test::run;

TEST(StreamScript, WorkedExampleFromLua) {
  auto vm = test::make_engine();
  EXPECT_EQ(run(vm, "m",
                "local s = game.rng_stream({x = 0, y = 0, z = 0, seed = 0}, 'abc') local t = {} "
                "for i = 1, 5 do t[i] = s:below(10) end return table.concat(t, ',')"),
            "0,0,2,4,2");
  // A refused bound leaves the stream where it was.
  EXPECT_EQ(run(vm, "m",
                "local s = game.rng_stream({x = 0, y = 0, z = 0}, 'abc') local ok, e = pcall(s.below, s, -1) "
                "return e .. ' / ' .. s:below(10) .. s:below(10) .. s:below(10)"),
            "bad argument #2 to 'below' (-1 is out of range for an unsigned 64-bit integer) / 002");
  EXPECT_EQ(run(vm, "m",
                "local s = game.rng_stream({x = 0, y = 0, z = 0}, 'abc') local t = {} "
                "for i = 1, 8 do t[i] = s:next_bool() and 'T' or 'F' end return table.concat(t)"),
            "FFFFFTTT");
}

TEST(StreamScript, StreamsAndTheirArguments) {
  auto vm = test::make_engine();
  // Handles of one position and name draw alike and apart; a number name is its text.
  EXPECT_EQ(run(vm, "m",
                "local a = game.rng_stream({x = 1, y = -2, z = 3, seed = 9}, 7) "
                "local b = game.rng_stream({x = 1, y = -2, z = 3, seed = 9}, '7') a:below(1000) "
                "return a:below(1000) == b:below(1000)"),
            "false");
  auto draws = [&](const std::string& pos, const char* name) {
    return run(vm, "m",
               "local s = game.rng_stream(" + pos + ", '" + name +
                   "') return s:below(1 << 62) .. ' ' .. s:below(1 << 62) .. ' ' .. s:below(0)");
  };
  EXPECT_EQ(draws("{x = 1, y = -2, z = 3, seed = 9}", "ore"),
            draws("{x = 1, y = -2, z = 3, seed = 9}", "ore"));
  EXPECT_NE(draws("{x = 1, y = -2, z = 3, seed = 9}", "ore"),
            draws("{x = 1, y = -2, z = 3, seed = 9}", "tree"));
  EXPECT_EQ(draws("{x = 0, y = 0, z = 0}", "k"), draws("{x = 0, y = 0, z = 0, seed = 0}", "k"));
  // Seed -1 is 2^64 - 1.
  detgen::rng::StreamRng want(~std::uint64_t{0}, {4, 5, 6}, "s");
  EXPECT_EQ(run(vm, "m", "return game.rng_stream({x = 4, y = 5, z = 6, seed = -1}, 's'):below(1000000007)"),
            std::to_string(want.below(1000000007)));
  // A bound above 2^63 may answer above the integers: as a float then.
  const std::uint64_t big = 0xFFFFFFFFFFFFF000ull;  // 2^64 - 2^12, a float in Lua
  std::string label;
  for (int i = 0; label.empty(); ++i) {
    if (detgen::rng::StreamRng(0, {0, 0, 0}, "big" + std::to_string(i)).below(big) >
        (std::uint64_t{1} << 63)) {
      label = "big" + std::to_string(i);
    }
  }
  EXPECT_EQ(
      run(vm, "m",
          "return math.type(game.rng_stream({x = 0, y = 0, z = 0}, '" + label + "'):below(2^64 - 2^12))"),
      "float");
  EXPECT_EQ(run(vm, "m", "return game.rng_stream({x = 0, y = 0}, 'k')"),
            "error: rng_stream: bad field `z` (expected integer, got nil)");
  EXPECT_EQ(run(vm, "m", "return game.rng_stream({x = 0, y = 0, z = 0, seed = 1.5}, 'k')"),
            "error: a seed must be a whole number, not 1.5");
  EXPECT_EQ(run(vm, "m", "return game.rng_stream({x = 0, y = 0, z = 0}, {})"),
            "error: bad argument #2 to 'rng_stream' (expected string, got table)");
}

// bits_from_lua, seed_in and domain_of, through a Lua value on the stack.
TEST(ShareReaders, BitsFromLua) {
  auto vm = test::make_engine();
  lua_State* L = vm.state();
  struct Case {
    const char* lua;
    std::expected<std::uint64_t, std::string> want;
  };
  const Case cases[] = {
      {"-1", ~std::uint64_t{0}},
      {"2.0", 2},
      {"2^63", std::uint64_t{1} << 63},
      {"1.5", std::unexpected("an entity id must be a whole number, not 1.5")},
      {"-1.0", std::unexpected("an entity id must be an integer, not number")},
      {"-0.0", std::unexpected("an entity id must be a whole number, not -0")},
      {"2^64", std::unexpected("an entity id must be an integer, not number")},
      {"0/0", std::unexpected("an entity id must be an integer, not number")},
      {"nil", std::unexpected("an entity id must be an integer, not nil")},
      {"'5'", std::unexpected("an entity id must be an integer, not string")},
      {"{}", std::unexpected("an entity id must be an integer, not table")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lua);
    ASSERT_EQ(luaL_dostring(L, (std::string("return ") + c.lua).c_str()), LUA_OK);
    EXPECT_EQ(convert::bits_from_lua(L, -1, "an entity id"), c.want);
    lua_pop(L, 1);
  }
}

TEST(ShareReaders, SeedsDomainsAndThePlanStore) {
  auto vm = test::make_engine();
  lua_State* L = vm.state();
  ASSERT_EQ(
      luaL_dostring(L, "return {seed = 7, domain = 'caves'}, {}, {seed = false, domain = ''}, {domain = 5}"),
      LUA_OK);
  EXPECT_EQ(convert::seed_in(L, -4, "seed"), 7u);
  EXPECT_EQ(convert::seed_in(L, -3, "seed"), 0u);
  EXPECT_EQ(convert::seed_in(L, -2, "seed"),
            std::unexpected(std::string("a seed must be an integer, not boolean")));
  EXPECT_EQ(convert::domain_of(L, -4), "caves");
  EXPECT_EQ(convert::domain_of(L, -3), "overworld");
  EXPECT_EQ(convert::domain_of(L, -2), "overworld");
  EXPECT_EQ(convert::domain_of(L, -1), "5");
  lua_settop(L, 0);

  Slot<plan::Access> slot;
  EXPECT_EQ(convert::plan_store(slot), nullptr);
  slot.poison();
  EXPECT_EQ(convert::plan_store(slot).error(), "the plan store is poisoned; the simulation panicked");
}

}  // namespace
}  // namespace ostrel_core::script::lua_vm
