// Engine creation, the mod sandbox, the per-entry budget and the memory limit.

#include <gtest/gtest.h>

#include <string>

#include "script/api/hooks.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "script/lua_vm/ref.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script {
namespace {

using lua_vm::LuaVm;
using test::inspect;
using test::load;
using test::make_engine;
using vm::ScriptErrorKind;

TEST(EngineCreation, MakesEveryRegistryValue) {
  auto vm = make_engine();
  const char* tables[] = {
      "ostrel.settings",      "ostrel.answers",          "ostrel.blocks",
      "ostrel.block_textures", "ostrel.block_rules",     "ostrel.items",
      "ostrel.views",         "ostrel.tools",            "ostrel.domain_generators",
      "ostrel.domains",       "ostrel.fluids",           "ostrel.skies",
      "ostrel.clouds",        "ostrel.models",           "ostrel.world_init",
      "ostrel.maps",          "ostrel.tickers",          "ostrel.entity_steppers",
      "ostrel.generators",    "ostrel.actions",          "ostrel.sounds",
      "ostrel.fonts",         "ostrel.pictures",         "ostrel.mod_dirs",
      "ostrel.hud_scripts",   "ostrel.bindings"};
  for (const char* name : tables) {
    SCOPED_TRACE(name);
    EXPECT_EQ(vm.registry_type(name), "table");
    EXPECT_EQ(inspect(vm, std::string("return next(R['") + name + "']) == nil"), "true");
  }
  for (auto name : lua_vm::kHookLists) {
    SCOPED_TRACE(name);
    EXPECT_EQ(vm.registry_type(name), "table");
    EXPECT_EQ(inspect(vm, "return next(R['" + std::string(name) + "']) == nil"), "true");
  }
  EXPECT_EQ(vm.registry_type("ostrel.next_material"), "integer");
  EXPECT_EQ(inspect(vm, "return R['ostrel.next_material']"), "2");
  EXPECT_EQ(vm.registry_type("ostrel.frozen"), "boolean");
  EXPECT_EQ(inspect(vm, "return R['ostrel.frozen']"), "false");
  // Made later, by their own operations.
  EXPECT_EQ(vm.registry_type("ostrel.fluid_ids"), "nil");
  EXPECT_EQ(vm.registry_type("ostrel.world_options"), "nil");
  EXPECT_EQ(inspect(vm, "return debug == nil"), "true");
}

TEST(EngineCreation, VmErrorNamesTheBackend) {
  // A memory limit too small for the standard libraries fails creation itself.
  auto vm = LuaVm::create(1024, test::kServerBudget);
  ASSERT_FALSE(vm.has_value());
  EXPECT_EQ(vm.error().kind(), ScriptErrorKind::Vm);
  EXPECT_EQ(vm.error().message(), "could not initialise the lua54 script VM");
  EXPECT_FALSE(vm.error().detail().empty());
}

TEST(Sandbox, WithheldGlobalsAreAbsent) {
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "m", R"(
    for _, name in ipairs({"debug", "io", "os", "package", "dofile", "loadfile",
                           "loadstring", "ffi"}) do
      if _ENV[name] ~= nil then error(name .. " is reachable") end
    end
    assert(_G == _ENV, "_G is the environment")
    assert(type(game) == "table" and type(string.rep) == "function")
    assert(load("return os")() == nil, "load runs in the environment")
  )"));
}

TEST(Sandbox, BytecodeIsRefused) {
  auto vm = make_engine();
  auto r = load(vm, "m", std::string("\x1bLua\x54\x00", 6));
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), ScriptErrorKind::Runtime);
  EXPECT_EQ(r.error().detail(), "load: binary chunks are not permitted");

  ASSERT_TRUE(load(vm, "n", R"(
    local ok, why = pcall(load, string.dump(function() return 1 end))
    assert(not ok and why == "load: binary chunks are not permitted", tostring(why))
  )"));
}

TEST(Sandbox, OneModCannotPatchALibraryForAnother) {
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "a", R"(
    string.rep = nil
    table.insert = function() error("patched") end
    math.floor = nil
    coroutine.wrap = nil
    utf8.char = nil
    assert(getmetatable("") == false, "the string metatable is hidden")
    assert(("ab"):rep(2) == "abab", "methods still use the engine's string library")
  )"));
  ASSERT_TRUE(load(vm, "b", R"(
    assert(type(string.rep) == "function")
    local t = {}
    table.insert(t, 1)
    assert(t[1] == 1)
    assert(math.floor(1.5) == 1 and coroutine.wrap and utf8.char(65) == "A")
  )"));
  auto r = load(vm, "c", R"(setmetatable("", {}))");
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), ScriptErrorKind::Runtime);
}

TEST(Sandbox, FinalizersAndCollectorControlAreRefused) {
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "m", R"(
    collectgarbage()
    collectgarbage("collect")
    assert(type(collectgarbage("count")) == "number")
    assert(not pcall(collectgarbage, "stop"))
    assert(not pcall(collectgarbage, "setpause", 1))
    local ok, why = pcall(setmetatable, {}, {__gc = function() while true do end end})
    assert(not ok and why:find("__gc"), tostring(why))
    assert(getmetatable(setmetatable({}, {__index = {}})) ~= nil)
  )"));
}

struct BudgetCase {
  const char* name;
  const char* code;
};

TEST(Budget, EveryEscapeIsStopped) {
  const BudgetCase cases[] = {
      {"plain_loop", "while true do end"},
      {"pcall_loop", "while true do pcall(function() while true do end end) end"},
      {"nested_pcall", "while true do pcall(pcall, function() while true do end end) end"},
      {"xpcall_looping_handler",
       "while true do xpcall(function() while true do end end, function() while true do end end) "
       "end"},
      {"coroutine_loop",
       "while true do coroutine.resume(coroutine.create(function() while true do end end)) end"},
      {"pcall_inside_coroutine",
       "local co = coroutine.create(function() while true do pcall(function() while true do end "
       "end) end end)\n"
       "while true do coroutine.resume(co) end"},
      {"wrap_and_catch",
       "while true do pcall(coroutine.wrap(function() while true do end end)) end"},
  };
  auto vm = make_engine();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = load(vm, c.name, c.code);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind(), ScriptErrorKind::BudgetExceeded);
    EXPECT_EQ(r.error().message(),
              fmt::format("mod `{}` exceeded its instruction budget in init.lua", c.name));
  }
  // The state stays usable.
  EXPECT_TRUE(load(vm, "after", "local x = 1"));
}

TEST(Budget, EachEntryGetsTheWholeBudget) {
  auto vm = make_engine();
  // About 19,000,000 instructions: a numeric for loop costs one instruction per round.
  ASSERT_TRUE(load(vm, "m", R"(
    function spin() for i = 1, 19000000 do end return "done" end
    game.register_on_chat(function() return spin() end)
  )"));
  std::uint8_t player[32] = {};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    auto event = vm.hook_event(player);
    ASSERT_TRUE(event);
    auto out = vm.run_hook("on_chat", "ostrel.chatters", *event);
    EXPECT_TRUE(out.faulted.empty());
    EXPECT_EQ(out.refusal, "done");
  }
  // Twice the loop in one entry is over the budget.
  auto r = load(vm, "n", "for i = 1, 38000000 do end");
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), ScriptErrorKind::BudgetExceeded);
}

TEST(Budget, CodeThatReturnsBeforeTheFirstFiringIsNotStopped) {
  auto vm = make_engine(test::kServerMemoryLimit, 100);
  EXPECT_TRUE(load(vm, "short", "for i = 1, 1000 do end"));
  auto r = load(vm, "long", "for i = 1, 10000 do end");
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), ScriptErrorKind::BudgetExceeded);
}

TEST(Budget, WorkInsideLibraryCallsIsBounded) {
  // Charged native work stops each of these within a budget; the loops take a few VM
  // instructions per round, so without the charges they would run for a very long time.
  auto vm = make_engine();
  const BudgetCase cases[] = {
      {"allocation_volume",
       "while true do pcall(function() local s = string.rep('x', 8 << 20) end) end"},
      {"doubling_swallowing_memory_errors",
       "while true do pcall(function() local s = 'x' while true do s = s .. s end end) end"},
      {"backtracking_pattern",
       "local s, p = ('a'):rep(20), ('a?'):rep(20) .. ('a'):rep(20)\n"
       "while true do s:find(p) end"},
      {"backtracking_gmatch",
       "local s, p = ('a'):rep(20), ('a?'):rep(20) .. ('a'):rep(20)\n"
       "while true do for _ in s:gmatch(p) do end end"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = load(vm, c.name, c.code);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind(), ScriptErrorKind::BudgetExceeded) << r.error().debug();
  }
}

TEST(Budget, TheMessageTextAloneDecidesNothing) {
  auto vm = make_engine();
  auto own = load(vm, "liar", "error('ostrel: instruction budget exceeded')");
  ASSERT_FALSE(own.has_value());
  EXPECT_EQ(own.error().kind(), ScriptErrorKind::Runtime);
  EXPECT_NE(own.error().detail().find("ostrel: instruction budget exceeded"), std::string::npos);

  auto memory = load(vm, "oom_text", "error('not enough memory')");
  ASSERT_FALSE(memory.has_value());
  EXPECT_EQ(memory.error().kind(), ScriptErrorKind::OutOfMemory);
}

TEST(MemoryLimit, HugeStringFailsAndTheNextEntryWorks) {
  auto vm = make_engine();
  // Doubling a string costs little of the budget (its allocations) and soon passes the limit.
  auto r = load(vm, "big", "local s = 'x' while true do s = s .. s end");
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), ScriptErrorKind::OutOfMemory);
  EXPECT_EQ(r.error().message(), "mod `big` exceeded the script memory limit in init.lua");
  EXPECT_LE(vm.memory_used(), test::kServerMemoryLimit);
  EXPECT_TRUE(load(vm, "next", "local t = {} for i = 1, 1000 do t[i] = tostring(i) end"));
}

TEST(ErrorObjects, AreReadWithoutMetamethods) {
  struct Case {
    const char* name;
    const char* code;
    const char* detail;
  };
  const Case cases[] = {
      {"looping_tostring",
       "error(setmetatable({}, {__tostring = function() while true do end end}))",
       "(error object is a table value)"},
      {"nil", "error(nil)", "(error object is a nil value)"},
      {"boolean", "error(false)", "(error object is a boolean value)"},
      {"integer", "error(42)", "42"},
      {"float", "error(1.5)", "1.5"},
      {"string_no_position", "error('plain', 0)", "plain"},
      {"string_with_position", "\nerror('boom')", "string_with_position/init.lua:2: boom"},
  };
  auto vm = make_engine();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = load(vm, c.name, c.code);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind(), ScriptErrorKind::Runtime);
    EXPECT_EQ(r.error().detail(), c.detail);
    EXPECT_EQ(r.error().context(), "init.lua");
  }
}

TEST(Loading, SyntaxErrorsAndTheModDirectory) {
  auto vm = make_engine();
  auto r = load(vm, "broken", "local = 1");
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), ScriptErrorKind::Runtime);
  EXPECT_EQ(r.error().detail().rfind("broken/init.lua:1:", 0), 0u) << r.error().detail();

  ASSERT_TRUE(load(vm, "fine", "x = 1"));
  EXPECT_EQ(inspect(vm, "return R['ostrel.mod_dirs'].fine"), "mods/fine");
  ASSERT_TRUE(vm.push_environment("fine"));
  EXPECT_EQ(lua_type(vm.state(), -1), LUA_TTABLE);
  lua_pop(vm.state(), 1);
  EXPECT_FALSE(vm.push_environment("broken"));
}

}  // namespace
}  // namespace ostrel_core::script
