// The conversion layer between Lua values and C++ values, and the script error texts.

#include <gtest/gtest.h>

#include <string>

#include "script/lua_vm/convert.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "script/vm.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script {
namespace {

using test::make_engine;

// Evaluates `expr` in the engine and leaves the value on top of the stack.
void push_value(lua_State* L, const std::string& expr) {
  const std::string code = "return " + expr;
  ASSERT_EQ(luaL_loadstring(L, code.c_str()), LUA_OK);
  ASSERT_EQ(lua_pcall(L, 0, 1, 0), LUA_OK);
}

template <class I>
std::string integer_text(lua_State* L, const std::string& expr) {
  push_value(L, expr);
  auto v = convert::to_integer<I>(L, -1);
  lua_pop(L, 1);
  return v ? fmt::format("{}", *v) : "error: " + v.error().text;
}

TEST(Convert, Integers) {
  auto vm = make_engine();
  lua_State* L = vm.state();
  struct Case {
    const char* expr;
    const char* u32;
    const char* i64;
  };
  const Case cases[] = {
      {"7", "7", "7"},
      {"2.9", "2", "2"},
      {"-2.9", "error: -2.9 is out of range for an unsigned 32-bit integer", "-2"},
      {"-0.5", "0", "0"},
      {"-1", "error: -1 is out of range for an unsigned 32-bit integer", "-1"},
      {"4294967295", "4294967295", "4294967295"},
      {"4294967296", "error: 4294967296 is out of range for an unsigned 32-bit integer",
       "4294967296"},
      {"1e20", "error: 100000000000000000000 is out of range for an unsigned 32-bit integer",
       "error: 100000000000000000000 is out of range for a signed 64-bit integer"},
      {"-2^63", "error: -9223372036854775808 is out of range for an unsigned 32-bit integer",
       "-9223372036854775808"},
      {"2^63", "error: 9223372036854775808 is out of range for an unsigned 32-bit integer",
       "error: 9223372036854775808 is out of range for a signed 64-bit integer"},
      {"0/0", "error: NaN is out of range for an unsigned 32-bit integer",
       "error: NaN is out of range for a signed 64-bit integer"},
      {"1/0", "error: inf is out of range for an unsigned 32-bit integer",
       "error: inf is out of range for a signed 64-bit integer"},
      {"'12'", "12", "12"},
      {"' 0x10 '", "16", "16"},
      {"'2.5'", "2", "2"},
      {"'1e3'", "1000", "1000"},
      {"'twelve'", "error: expected integer, got string", "error: expected integer, got string"},
      {"'12\\0'", "error: expected integer, got string", "error: expected integer, got string"},
      {"true", "error: expected integer, got boolean", "error: expected integer, got boolean"},
      {"{}", "error: expected integer, got table", "error: expected integer, got table"},
      {"nil", "error: expected integer, got nil", "error: expected integer, got nil"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expr);
    EXPECT_EQ(integer_text<std::uint32_t>(L, c.expr), c.u32);
    EXPECT_EQ(integer_text<std::int64_t>(L, c.expr), c.i64);
  }
  EXPECT_EQ(integer_text<std::uint8_t>(L, "256"),
            "error: 256 is out of range for an unsigned 8-bit integer");
  EXPECT_EQ(integer_text<std::uint64_t>(L, "2^63"), "9223372036854775808");
  EXPECT_EQ(integer_text<std::uint64_t>(L, "2^64"),
            "error: 18446744073709551616 is out of range for an unsigned 64-bit integer");
  EXPECT_EQ(lua_gettop(L), 0);
}

TEST(Convert, WholeNumbers) {
  auto vm = make_engine();
  lua_State* L = vm.state();
  struct Case {
    const char* expr;
    std::optional<std::int64_t> want;
  };
  const Case cases[] = {
      {"7", 7},           {"-3.0", -3},          {"2.5", std::nullopt},
      {"'12'", 12},       {"'4.0'", 4},          {"'4.5'", std::nullopt},
      {"-2^63", INT64_MIN}, {"2^63", std::nullopt}, {"0/0", std::nullopt},
      {"1/0", std::nullopt}, {"true", std::nullopt}, {"'x'", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expr);
    push_value(L, c.expr);
    EXPECT_EQ(lua_vm::whole_number(L, -1), c.want);
    lua_pop(L, 1);
  }
  EXPECT_EQ(lua_gettop(L), 0);
}

TEST(Convert, TextNumbersAndTypeNames) {
  auto vm = make_engine();
  lua_State* L = vm.state();
  struct Case {
    const char* expr;
    const char* type;
    const char* text;
    const char* error_text;
  };
  const Case cases[] = {
      {"'abc'", "string", "abc", "abc"},
      {"3", "integer", "3", "3"},
      {"1.5", "number", "1.5", "1.5"},
      {"2.0", "number", "2.0", "2.0"},
      {"1e20", "number", "1e+20", "1e+20"},
      {"true", "boolean", "error: expected string, got boolean", "(error object is a boolean value)"},
      {"nil", "nil", "error: expected string, got nil", "(error object is a nil value)"},
      {"{}", "table", "error: expected string, got table", "(error object is a table value)"},
      {"print", "function", "error: expected string, got function",
       "(error object is a function value)"},
      {"coroutine.create(print)", "thread", "error: expected string, got thread",
       "(error object is a thread value)"},
      {"io.stdout", "userdata", "error: expected string, got userdata",
       "(error object is a userdata value)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expr);
    push_value(L, c.expr);
    EXPECT_EQ(convert::type_name(L, -1), c.type);
    auto text = convert::to_text(L, -1);
    EXPECT_EQ(text ? *text : "error: " + text.error().text, c.text);
    EXPECT_EQ(convert::error_text(L, -1), c.error_text);
    // Reading never changes the value in place.
    EXPECT_EQ(convert::type_name(L, -1), c.type);
    lua_pop(L, 1);
  }
  push_value(L, "'0x1p4'");
  EXPECT_EQ(*convert::to_number(L, -1), 16.0);
  lua_pop(L, 1);
}

TEST(Convert, ArgumentErrorsAreRaisedWithExactText) {
  auto vm = make_engine();
  lua_State* L = vm.state();
  lua_pushcfunction(L, [](lua_State* s) -> int {
    lua_pushinteger(s, convert::arg_integer<std::uint16_t>(s, 2, "probe"));
    return 1;
  });
  lua_setglobal(L, "probe");
  struct Case {
    const char* call;
    const char* result;
  };
  const Case cases[] = {
      {"probe(nil, 5)", "5"},
      {"probe(nil, '7')", "7"},
      {"probe(nil, 65536)",
       "bad argument #2 to 'probe' (65536 is out of range for an unsigned 16-bit integer)"},
      {"probe(nil, {})", "bad argument #2 to 'probe' (expected integer, got table)"},
      {"probe(nil)", "bad argument #2 to 'probe' (expected integer, got nil)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    const std::string code = std::string("local ok, v = pcall(function() return ") + c.call +
                             " end) return tostring(v)";
    ASSERT_EQ(luaL_loadstring(L, code.c_str()), LUA_OK);
    ASSERT_EQ(lua_pcall(L, 0, 1, 0), LUA_OK);
    EXPECT_STREQ(lua_tostring(L, -1), c.result);
    lua_pop(L, 1);
  }
}

TEST(Convert, Utf8AndBlockIds) {
  struct Cut {
    std::string text;
    std::size_t max;
    std::size_t kept;
  };
  const Cut cuts[] = {
      {"abc", 512, 3},
      {"ab\xC3\xA9", 3, 2},         // é would end at byte 4
      {"ab\xC3\xA9", 4, 4},
      {"\xF0\x9F\x98\x80x", 3, 0},  // a four-byte character
      {"", 0, 0},
  };
  for (const auto& c : cuts) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(convert::cut_utf8(c.text, c.max).size(), c.kept);
  }
  struct Fix {
    std::string in;
    std::string out;
  };
  const std::string bad = "\xEF\xBF\xBD";
  const Fix fixes[] = {
      {"plain", "plain"},
      {"\xC3\xA9", "\xC3\xA9"},
      {"a\xFF" "b", "a" + bad + "b"},
      {"\xC3", bad},                      // truncated
      {"\xC0\xAF", bad + bad},            // overlong
      {"\xED\xA0\x80", bad + bad + bad},  // a surrogate
      {"\xF4\x90\x80\x80", bad + bad + bad + bad},  // above U+10FFFF
  };
  for (const auto& f : fixes) {
    SCOPED_TRACE(f.in);
    EXPECT_EQ(convert::valid_utf8(f.in), f.out);
  }
  EXPECT_EQ(convert::named_block("farm", "wheat"), "farm:wheat");
  EXPECT_EQ(convert::named_block("farm", "other:ore"), "other:ore");
  EXPECT_EQ(convert::named_block("farm", ":x"), ":x");
}

TEST(ScriptErrorText, DisplayAndDebugForms) {
  using vm::ScriptError;
  struct Case {
    ScriptError error;
    const char* display;
    const char* debug;
    const char* report;  // the display text and the detail as its cause
  };
  const Case cases[] = {
      {ScriptError::vm("lua54", "not enough memory"), "could not initialise the lua54 script VM",
       R"(Vm { backend: "lua54", detail: "not enough memory" })",
       "could not initialise the lua54 script VM\n  caused by: not enough memory"},
      {ScriptError::load("farm", "x"), "mod `farm` failed to load",
       R"(Load { mod_id: "farm", detail: "x" })", "mod `farm` failed to load\n  caused by: x"},
      {ScriptError::runtime("farm", "on_tick", "init.lua:3: boom"), "mod `farm` errored in on_tick",
       R"(Runtime { mod_id: "farm", context: "on_tick", detail: "init.lua:3: boom" })",
       "mod `farm` errored in on_tick\n  caused by: init.lua:3: boom"},
      {ScriptError::budget_exceeded("farm", "on_tick"),
       "mod `farm` exceeded its instruction budget in on_tick",
       R"(BudgetExceeded { mod_id: "farm", context: "on_tick" })",
       "mod `farm` exceeded its instruction budget in on_tick"},
      {ScriptError::out_of_memory("farm", "init.lua"),
       "mod `farm` exceeded the script memory limit in init.lua",
       R"(OutOfMemory { mod_id: "farm", context: "init.lua" })",
       "mod `farm` exceeded the script memory limit in init.lua"},
      {ScriptError::registration_closed("farm", "register_block"),
       "mod `farm` tried to register `register_block` after registration closed",
       R"(RegistrationClosed { mod_id: "farm", what: "register_block" })",
       "mod `farm` tried to register `register_block` after registration closed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.display);
    EXPECT_EQ(c.error.message(), c.display);
    EXPECT_EQ(c.error.debug(), c.debug);
    EXPECT_EQ(report(c.error), c.report);
    EXPECT_EQ(c.error.with_detail(),
              c.error.detail().empty() ? c.display : c.display + (": " + c.error.detail()));
  }
}

}  // namespace
}  // namespace ostrel_core::script
