// game.storage over the server's mod storage: what scripts store, read and list, and that it
// outlives a flush and a reopening of the world.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "script/lua_vm/lua_vm.hpp"
#include "support/mod_env.hpp"
#include "support/script_engine.hpp"
#include "support/temp_dir.hpp"
#include "support/test_world.hpp"
#include "world/mod_storage.hpp"
#include "world/records.hpp"
#include "world/world.hpp"

namespace ostrel_server::storage {
namespace {

using ostrel_core::script::lua_vm::LuaVm;

// Runs `code` in `mod` and answers the text it leaves in the global `out`, or the error.
std::string run(LuaVm& vm, std::string_view mod, std::string_view code) {
  const std::string error = ostrel_core::test::run_in(vm, mod, std::string(code));
  if (!error.empty()) return "error: " + error;
  const std::string out = ostrel_core::test::run_in(vm, mod, "error(tostring(out), 0)");
  return out;
}

struct Engine {
  LuaVm vm = ostrel_core::test::make_engine();
  std::shared_ptr<Shared> store;

  explicit Engine(std::shared_ptr<Shared> s) : store(std::move(s)) {
    for (const char* mod : {"a", "b"}) EXPECT_TRUE(ostrel_core::test::load(vm, mod, ""));
    vm.set_storage_access(store);
  }
};

TEST(StorageScript, ValuesKeepTheirKindsAndNumbersBecomeFloats) {
  Engine e(std::make_shared<Shared>());
  struct Case {
    const char* value;
    const char* read;  // what get answers, through tostring and math.type
  };
  const Case cases[] = {
      {"5", "5.0 float"},
      {"2^53 + 1", "9.007199254741e+15 float"},
      {"9007199254740993", "9.007199254741e+15 float"},
      {"1.25", "1.25 float"},
      {"'text'", "text nil"},
      {"''", " nil"},
      {"true", "true nil"},
      {"false", "false nil"},
      {"nil", "nil nil"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(run(e.vm, "a",
                  std::string("game.storage.set('k', ") + c.value +
                      ") local v = game.storage.get('k') out = tostring(v) .. ' ' .. tostring(math.type(v))"),
              c.read);
  }
  // 2^53 + 1 as an integer is stored as the nearest double, 2^53.
  EXPECT_EQ(run(e.vm, "a", "game.storage.set('k', 9007199254740993) out = game.storage.get('k') == 2^53"),
            "true");
  EXPECT_EQ(e.store->get("a", "k"), Value::number(9007199254740992.0));
}

TEST(StorageScript, UnstorableValuesAreRefusedAndNothingIsStored) {
  Engine e(std::make_shared<Shared>());
  const std::pair<const char*, const char*> cases[] = {
      {"{}", "storage.set: a table cannot be stored; use a string, a number or a boolean"},
      {"print", "storage.set: a function cannot be stored; use a string, a number or a boolean"},
      {"coroutine.create(print)",
       "storage.set: a thread cannot be stored; use a string, a number or a boolean"},
      {"'\\xff\\xfe'", "storage.set: the value is not valid UTF-8 text; only UTF-8 strings can be stored"},
      {"'\\xed\\xa0\\x80'",
       "storage.set: the value is not valid UTF-8 text; only UTF-8 strings can be stored"},
  };
  for (const auto& [value, want] : cases) {
    SCOPED_TRACE(value);
    EXPECT_EQ(run(e.vm, "a", std::string("game.storage.set('k', ") + value + ")"),
              std::string("error: ") + want);
    EXPECT_EQ(e.store->get("a", "k"), std::nullopt);
  }
  EXPECT_EQ(run(e.vm, "a", "game.storage.set({}, 1)"),
            "error: bad argument #1 to 'storage.set' (expected string, got table)");
  EXPECT_EQ(run(e.vm, "a", "game.storage.get()"),
            "error: bad argument #1 to 'storage.get' (expected string, got nil)");
  EXPECT_EQ(run(e.vm, "a", "game.storage.keys({})"),
            "error: bad argument #1 to 'storage.keys' (expected string, got table)");
  // Keys are kept byte for byte, whatever they hold.
  EXPECT_EQ(run(e.vm, "a", "game.storage.set('\\xff\\0k', true) out = game.storage.get('\\xff\\0k')"),
            "true");
  EXPECT_EQ(e.store->get("a", std::string("\xff\0k", 3)), Value::boolean(true));
}

TEST(StorageScript, PrefixesListInByteOrderAndModsStayApart) {
  Engine e(std::make_shared<Shared>());
  ASSERT_EQ(
      run(e.vm, "a", "for _, k in ipairs({ 'b', 'a:2', 'a', 'a:1' }) do game.storage.set(k, k) end out = 0"),
      "0");
  ASSERT_EQ(run(e.vm, "b", "game.storage.set('a', 'mine') out = 0"), "0");
  EXPECT_EQ(run(e.vm, "a", "out = table.concat(game.storage.keys('a:'), ' ')"), "a:1 a:2");
  EXPECT_EQ(run(e.vm, "a", "out = table.concat(game.storage.keys(), ' ')"), "a a:1 a:2 b");
  EXPECT_EQ(run(e.vm, "a", "out = #game.storage.keys('c')"), "0");
  EXPECT_EQ(run(e.vm, "a", "out = game.storage.get('a')"), "a");
  EXPECT_EQ(run(e.vm, "b", "out = game.storage.get('a') .. ' ' .. table.concat(game.storage.keys(), ' ')"),
            "mine a");
  EXPECT_EQ(run(e.vm, "b", "game.storage.set('a', nil) out = tostring(game.storage.get('a'))"), "nil");
  EXPECT_EQ(run(e.vm, "a", "out = game.storage.get('a')"), "a");
}

TEST(StorageScript, ValuesOutliveAFlushAndAReopenedWorld) {
  ostrel_core::test::TempDir dir;
  {
    auto w = test::open_test_world(dir.path());
    Engine e(std::make_shared<Shared>());
    ASSERT_EQ(run(e.vm, "a",
                  "game.storage.set('n', 5) game.storage.set('t', 'x') game.storage.set('gone', 1) out = 0"),
              "0");
    ASSERT_EQ(run(e.vm, "b", "game.storage.set('n', true) game.storage.set('\\xff\\0k', 'odd key') out = 0"), "0");
    e.store->flush(w);
    ASSERT_EQ(run(e.vm, "a", "game.storage.set('gone', nil) out = 0"), "0");
    e.store->flush(w);
  }
  auto w = test::open_test_world(dir.path());
  auto store = std::make_shared<Shared>();
  for (const char* mod : {"a", "b"}) {
    auto values = world::load_mod_storage(w, mod);
    ASSERT_TRUE(values.has_value());
    store->load(mod, std::move(*values));
  }
  Engine e(store);
  EXPECT_EQ(run(e.vm, "a",
                "out = game.storage.get('n') .. ' ' .. game.storage.get('t') .. ' ' .. "
                "table.concat(game.storage.keys(), ' ')"),
            "5.0 x n t");
  EXPECT_EQ(run(e.vm, "b", "out = tostring(game.storage.get('n'))"), "true");
  // A key that is not text comes back byte for byte.
  EXPECT_EQ(run(e.vm, "b", "out = game.storage.get('\\xff\\0k') .. ' ' .. #game.storage.keys()"), "odd key 2");
}

}  // namespace
}  // namespace ostrel_server::storage
