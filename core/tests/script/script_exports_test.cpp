// Cross-mod exports: who may read an export, read-only views, call wrappers and faults.

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <string>
#include <vector>

#include "script/lua_vm/lua_vm.hpp"
#include "script/lua_vm/exports.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script {
namespace {

using lua_vm::LuaVm;
using test::load;
using test::LogCapture;
using test::make_engine;
using vm::ScriptErrorKind;
using Strings = std::vector<std::string>;

// Loads `id` after noting its dependencies, as the mod host does.
void load_with(LuaVm& vm, const std::string& id, const Strings& deps, const std::string& code) {
  vm.note_dependencies(id, deps);
  auto r = load(vm, id, code);
  ASSERT_TRUE(r.has_value()) << id << ": " << r.error().debug();
}

constexpr const char* kExporter = R"(
  local api = {10, 20, 30, n = 1, nested = {deep = 1}}
  function api.double(x) return x * 2 end
  function api.fail() error('exporter broke') end
  function api.echo(t) return t end
  function api.all(...) return ... end
  function api.call(f) return f() end
  function api.read(t) return t.x end
  function api.spin() while true do end end
  function api.later() api.late = 1 end
  function api.is_nested(t) return rawequal(t, api.nested) end
  game.export(api)
)";

TEST(Exports, OnlyDeclaredDependentsRead) {
  auto vm = make_engine();
  load_with(vm, "a", {}, kExporter);
  load_with(vm, "b", {"a"}, R"(
    assert(game.exports("a") ~= nil, "a dependency reads")
    assert(game.exports("nobody") == nil)
    assert(game.exports("b") == nil, "not one's own")
    assert(game.exports("a") ~= game.exports("a"), "a new view each time")
  )");
  load_with(vm, "c", {}, "assert(game.exports('a') == nil, 'not a dependency')");
  load_with(vm, "d", {"e"}, "assert(game.exports('e') == nil, 'not loaded')");
}

TEST(Exports, ViewsAreReadOnlyWithLengthAndPairs) {
  auto vm = make_engine();
  load_with(vm, "a", {}, kExporter);
  load_with(vm, "b", {"a"}, R"(
    local v = game.exports("a")
    assert(#v == 3 and v[2] == 20 and v.n == 1)
    local keys = 0
    for k in pairs(v) do keys = keys + 1 end
    assert(keys == 14, keys)
    local ok, why = pcall(function() v.x = 1 end)
    assert(not ok and why == 'the exports of `a` are read-only (writing String("x"))', why)
    ok, why = pcall(function() v[4] = 1 end)
    assert(why == 'the exports of `a` are read-only (writing Integer(4))', why)
    ok, why = pcall(function() v.nested.deep = 2 end)
    assert(why == 'the exports of `a` are read-only (writing String("deep"))', why)
    assert(getmetatable(v) == "exports are read-only")
    assert(not pcall(setmetatable, v, {}))
    assert(next(v) == nil, "the view itself is empty")
    assert(v.nested ~= v.nested, "each read of a table is a new view")
    v.later()
    assert(v.late == 1, "the owner's later changes show")
    assert(v.double(21) == 42)
    assert(select("#", v.all(table.unpack({}, 1, 200))) == 200, "many values cross")
  )");
}

TEST(Exports, ATableSentBackArrivesAsTheOwnersOwn) {
  auto vm = make_engine();
  load_with(vm, "a", {}, kExporter);
  load_with(vm, "b", {"a"}, R"(
    local v = game.exports("a")
    local mine = {}
    assert(rawequal(v.echo(mine), mine), "the reader's own table comes home")
    assert(v.is_nested(v.nested) == true, "the owner gets its own table, not a view")
    assert(v.is_nested({}) == false)
    local f = function() return 5 end
    assert(v.call(f) == 5)
  )");
}

TEST(Exports, AnErrorInAnExportedFunctionIsTheCallersAndTheExporterGoesOn) {
  struct Case {
    const char* name;
    const char* call;    // run by the reader under pcall
    const char* error;   // a part of the error the reader catches
  };
  const Case cases[] = {
      {"exporter_raises", "v.fail()", "exporter broke"},
      {"argument_of_the_wrong_type", "v.double({})", "attempt to perform arithmetic"},
      {"reader_table_whose_index_raises",
       "v.read(setmetatable({}, {__index = function() error('gotcha') end}))", "gotcha"},
      {"reader_callback_raises", "v.call(function() error('callback broke') end)",
       "callback broke"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto vm = make_engine();
    load_with(vm, "a", {}, kExporter);
    LogCapture logs;
    load_with(vm, "b", {"a"}, fmt::format(R"(
      local v = game.exports("a")
      local ok, why = pcall(function() {} end)
      assert(not ok and tostring(why):find("{}", 1, true), tostring(why))
      assert(v.double(2) == 4, "the exporter still works")
      assert(game.exports("a") ~= nil, "and still exports")
    )", c.call, c.error));
    EXPECT_FALSE(vm.is_faulted("a"));
    EXPECT_FALSE(vm.is_faulted("b"));
    const auto lines =
        logs.containing("a function a mod exported raised an error for the mod that called it");
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find("WARN"), std::string::npos) << lines[0];
    EXPECT_NE(lines.back().find("mod_id=\"a\" caller=\"b\""), std::string::npos) << lines.back();
    EXPECT_TRUE(logs.containing("disabling mod").empty());
  }

  // Not caught, it fails the reader's own entry, never the exporter.
  auto vm = make_engine();
  load_with(vm, "a", {}, kExporter);
  vm.note_dependencies("b", Strings{"a"});
  auto r = load(vm, "b", "game.exports('a').fail()");
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().mod_id(), "b");
  EXPECT_NE(r.error().detail().find("exporter broke"), std::string::npos);
  EXPECT_FALSE(vm.is_faulted("a"));
}

TEST(Exports, ABudgetSpentInsideAnExportIsChargedToTheCaller) {
  auto vm = make_engine(test::kServerMemoryLimit, 200'000);
  load_with(vm, "a", {}, kExporter);
  vm.note_dependencies("b", Strings{"a"});
  auto r = load(vm, "b", "game.exports('a').spin()");
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), ScriptErrorKind::BudgetExceeded);
  EXPECT_EQ(r.error().mod_id(), "b");
  EXPECT_FALSE(vm.is_faulted("a"));
}

TEST(Exports, ViewsFoundAndOpenedInsideATree) {
  auto vm = make_engine();
  load_with(vm, "a", {}, kExporter);
  load_with(vm, "b", {"a"}, R"(
    local v = game.exports("a")
    held = {inner = {view = v.nested, again = nil}}
    held.inner.again = held.inner  -- a cycle
    plain = {1, {2, {3}}}
    deep = {}
    local t = deep
    for i = 1, 71 do t.next = {} t = t.next end
    t.view = v.nested  -- 72 levels below the root
  )");
  lua_State* L = vm.state();
  ASSERT_TRUE(vm.push_environment("b"));
  const int env = lua_gettop(L);
  lua_getfield(L, env, "held");
  EXPECT_TRUE(lua_vm::holds_proxy(L, -1, lua_vm::kViewSearchDepth));
  lua_vm::push_opened_value(L, -1, lua_vm::kViewSearchDepth);
  lua_setglobal(L, "OPENED");
  lua_getfield(L, env, "plain");
  EXPECT_FALSE(lua_vm::holds_proxy(L, -1, lua_vm::kViewSearchDepth));
  lua_getfield(L, env, "deep");
  EXPECT_FALSE(lua_vm::holds_proxy(L, -1, lua_vm::kViewSearchDepth));
  EXPECT_TRUE(lua_vm::holds_proxy(L, -1, lua_vm::kViewSearchDepth + 1));
  lua_settop(L, env - 1);
  EXPECT_EQ(test::inspect(vm, R"(
    local v = OPENED.inner.view
    return tostring(getmetatable(v) == nil and v.deep == 1 and OPENED.inner.again == OPENED.inner)
  )"),
            "true");
}

TEST(Exports, ExportRefusals) {
  auto vm = make_engine();
  auto twice = load(vm, "a", "game.export({}) game.export({})");
  ASSERT_FALSE(twice.has_value());
  EXPECT_EQ(twice.error().detail(),
            "mod `a`: game.export was already called; export one table, built before you call it");
  auto not_table = load(vm, "b", "game.export(1)");
  ASSERT_FALSE(not_table.has_value());
  EXPECT_NE(not_table.error().detail().find("bad argument #1 to 'export'"), std::string::npos);
  ASSERT_TRUE(vm.freeze());
  auto late = load(vm, "c", "game.export({})");
  ASSERT_FALSE(late.has_value());
  EXPECT_EQ(late.error().detail(),
            "mod `c`: game.export is for the registration window; the registries are frozen");
}

}  // namespace
}  // namespace ostrel_core::script
