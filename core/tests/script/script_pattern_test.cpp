// The engine's pattern matcher against the stock one: every case runs in a mod of the engine and
// in a plain Lua state with the stock string library, and both must give the same values (or
// both fail). Then what only the engine's matcher does: it charges its steps.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include <lua5.4/lua.hpp>

#include "script/lua_vm/lua_vm.hpp"
#include "support/mod_env.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script {
namespace {

using test::load;
using test::make_engine;
using vm::ScriptErrorKind;

// Every value the chunk returns, as one line: types and texts, so that 1 and "1" differ.
constexpr const char* kShow = R"(
  local function show(...)
    local out = {}
    for i = 1, select("#", ...) do
      local v = select(i, ...)
      out[#out + 1] = type(v) .. ":" .. tostring(v)
    end
    return table.concat(out, " ")
  end
  local ok, a = pcall(function() return show(CASE()) end)
  RESULT = ok and a or "error"
)";

// Runs `code` (a function body returning the values to compare) in the stock library.
std::string stock_result(const std::string& code) {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  const std::string chunk = "CASE = function() " + code + " end\n" + kShow;
  std::string out = "<syntax>";
  if (luaL_dostring(L, chunk.c_str()) == LUA_OK) {
    lua_getglobal(L, "RESULT");
    out = lua_tostring(L, -1);
  }
  lua_close(L);
  return out;
}

// Runs `code` in the environment of the engine's mod "p" (loaded on first use).
std::string engine_result(lua_vm::LuaVm& vm, const std::string& code) {
  lua_State* L = vm.state();
  if (!vm.push_environment("p")) {
    if (!load(vm, "p", "")) return "<no mod>";
    vm.push_environment("p");
  }
  const std::string chunk = "CASE = function() " + code + " end\n" + kShow;
  if (luaL_loadbuffer(L, chunk.data(), chunk.size(), "=case") != LUA_OK) {
    lua_pop(L, 2);
    return "<syntax>";
  }
  lua_pushvalue(L, -2);
  lua_setupvalue(L, -2, 1);
  std::string out = "<failed>";
  if (lua_pcall(L, 0, 0, 0) == LUA_OK) {
    lua_getfield(L, -1, "RESULT");
    out = lua_tostring(L, -1) != nullptr ? lua_tostring(L, -1) : "<none>";
  }
  lua_pop(L, 2);
  return out;
}

TEST(Patterns, MatchTheStockMatcher) {
  const char* cases[] = {
      // find: plain, positions, anchors, init
      R"lua(return string.find("hello world", "o w"))lua",
      R"lua(return string.find("hello", "l"))lua",
      R"lua(return string.find("hello", "l", 4))lua",
      R"lua(return string.find("hello", "l", -2))lua",
      R"lua(return string.find("hello", "", 10))lua",
      R"lua(return string.find("hello", "", 6))lua",
      R"lua(return string.find("a.b", ".", 1, true))lua",
      R"lua(return string.find("hello", "^h"))lua",
      R"lua(return string.find("hello", "^e"))lua",
      R"lua(return string.find("hello", "o$"))lua",
      R"lua(return string.find("a$b", "$b"))lua",
      R"lua(return string.find("a^b", "a^"))lua",
      R"lua(return string.find("abc", "b", -100))lua",
      R"lua(return string.find("", ""))lua",
      // classes and sets
      R"lua(return string.match("key = value", "(%w+)%s*=%s*(%w+)"))lua",
      R"lua(return string.match("  x12y ", "%a%d+%a"))lua",
      R"lua(return string.match("A1_b2", "[%u%d]+"))lua",
      R"lua(return string.match("hex: 0xFf9z", "0x(%x+)"))lua",
      R"lua(return string.match("a,b;c", "[,;]"))lua",
      R"lua(return string.match("abc]def", "[]]"))lua",
      R"lua(return string.match("x-y", "[a-]"))lua",
      R"lua(return string.match("z-", "[%a-]+"))lua",
      R"lua(return string.match("hello", "[^aeiou]+"))lua",
      R"lua(return string.match("tab\there", "%c"))lua",
      R"lua(return string.match("a.b!c", "%p+"))lua",
      R"lua(return string.match("\200\201abc", "%a+"))lua",
      R"lua(return string.match("\200\201abc", "[^%a]+"))lua",
      R"lua(return string.match("x%y", "%%"))lua",
      R"lua(return string.match("q", "%q"))lua",
      R"lua(return string.match("Q1", "%W"))lua",
      R"lua(return string.match("A B", "%S+%s%S+"))lua",
      R"lua(return string.match(" a", "%G"))lua",
      // quantifiers
      R"lua(return string.match("aaab", "a*"))lua",
      R"lua(return string.match("aaab", "a-b"))lua",
      R"lua(return string.match("aaab", "a+"))lua",
      R"lua(return string.match("b", "a?b"))lua",
      R"lua(return string.match("<<a>>", "<(.-)>"))lua",
      R"lua(return string.match("<<a>>", "<(.*)>"))lua",
      R"lua(return string.match("xyz", "x*y*z*w*"))lua",
      // captures
      R"lua(return string.match("hello", "()ll()"))lua",
      R"lua(return string.match("abcabc", "(abc)%1"))lua",
      R"lua(return string.match("abab", "(a)(b)%1%2"))lua",
      R"lua(return string.match("x = 'q'", "(['\"])(.-)%1"))lua",
      R"lua(return string.match("nested", "((n)(e))"))lua",
      R"lua(return string.find("hello", "(l)(l)"))lua",
      R"lua(return string.match("date 2024-01-31", "(%d+)-(%d+)-(%d+)"))lua",
      // balance and frontier
      R"lua(return string.match("f(a(b)c) d", "%b()"))lua",
      R"lua(return string.match("f(a(b c", "%b()"))lua",
      R"lua(return string.match("THE (quick) fox", "%f[%a]%a+"))lua",
      R"lua(return string.match("THE (quick) fox", "%f[%l]%a+"))lua",
      R"lua(return string.match("word", "%f[%w]%w+%f[%W]"))lua",
      R"lua(return string.find("abc", "%f[%z]"))lua",
      // gmatch, with init and empty matches
      R"lua(local t = {} for w in string.gmatch("one two  three", "%a+") do t[#t + 1] = w end return table.concat(t, "|"))lua",
      R"lua(local t = {} for k, v in string.gmatch("a=1, b=2", "(%w+)=(%w+)") do t[#t + 1] = k .. v end return table.concat(t, "|"))lua",
      R"lua(local t = {} for w in string.gmatch("abc", "") do t[#t + 1] = "[" .. w .. "]" end return table.concat(t))lua",
      R"lua(local t = {} for w in string.gmatch("hello world", "%a+", 3) do t[#t + 1] = w end return table.concat(t, "|"))lua",
      R"lua(local t = {} for w in string.gmatch("abc", "x*") do t[#t + 1] = "<" .. w .. ">" end return table.concat(t))lua",
      R"lua(local t = {} for w in string.gmatch("^a^a", "^a") do t[#t + 1] = w end return #t)lua",
      R"lua(local t = {} for p in string.gmatch("abc", "()") do t[#t + 1] = p end return table.concat(t, ","))lua",
      // gsub
      R"lua(return string.gsub("hello world", "o", "0"))lua",
      R"lua(return string.gsub("hello world", "(o)", "[%1]"))lua",
      R"lua(return string.gsub("hello", "", "-"))lua",
      R"lua(return string.gsub("abc", "%w", "%0%0"))lua",
      R"lua(return string.gsub("abc", "%w", "%%"))lua",
      R"lua(return string.gsub("hello world", "%w+", "<%0>", 1))lua",
      R"lua(return string.gsub("a b c", "%a", {a = 1, b = true}))lua",
      R"lua(return string.gsub("a b c", "%a", function(x) if x ~= "b" then return x:upper() end end))lua",
      R"lua(return string.gsub("abc", "()", "%1"))lua",
      R"lua(return string.gsub("abc", "^a", "X"))lua",
      R"lua(return string.gsub("aaa", "a*", "-"))lua",
      R"lua(return string.gsub("x", "x", "%2"))lua",
      R"lua(return string.gsub("x", "x", "%z"))lua",
      R"lua(return string.gsub("x", "x", function() return {} end))lua",
      R"lua(return string.gsub("abc", "b", false))lua",
      R"lua(return string.gsub(12345, 3, 9))lua",
      // malformed patterns fail in both
      R"lua(return string.find("a", "%"))lua",
      R"lua(return string.find("a", "[a"))lua",
      R"lua(return string.find("a", "(a"))lua",
      R"lua(return string.find("a", "a)"))lua",
      R"lua(return string.find("a", "%b"))lua",
      R"lua(return string.find("a", "%f"))lua",
      R"lua(return string.find("a", "%1"))lua",
      R"lua(return string.match(string.rep("a", 40), string.rep("(a)", 33)))lua",
      R"lua(return string.match("a", string.rep("a?", 300)))lua",
      // methods reach the same functions
      R"lua(return ("key=val"):match("(%w+)=(%w+)"))lua",
      R"lua(return ("aXbXc"):gsub("X", "-"))lua",
  };
  auto vm = make_engine();
  for (const char* code : cases) {
    SCOPED_TRACE(code);
    EXPECT_EQ(engine_result(vm, code), stock_result(code));
  }
}

TEST(Patterns, RandomPatternsMatchTheStockMatcher) {
  // Patterns put together from pieces that interact (anchors, quantifiers, sets, captures,
  // back-references, balances, frontiers), on subjects that exercise them; a fixed seed, so a
  // difference found is found again.
  const std::string pieces[] = {"a",    "b",     ".",     "%a",   "%d",    "%s",    "%w",
                                "%p",   "[ab]",  "[^a]",  "[a-c]", "[%d%s]", "%%",   "%f[%a]",
                                "%f[%s]", "%b()", "()",   "(",    ")",     "(a)",   "%1",
                                "^",    "$",     "-",     "*",    "+",     "?",     "x",
                                "%.",   "[%]]",  "[]a]"};
  const std::string subjects[] = {"",        "a",        "ab",         "aab",
                                  "abc abc", "a1 b2 (c3)", "((a)b)",  "xx  yy",
                                  "aaaaa",   "1.5e3",    "a-b-c",      "the quick fox"};
  const auto quoted = [](const std::string& t) {
    std::string out = "\"";
    for (char c : t) {
      if (c == '\\' || c == '"') out += '\\';
      out += c;
    }
    return out + "\"";
  };
  std::mt19937 rng(20261211);
  auto vm = make_engine();
  for (int i = 0; i < 1500; ++i) {
    std::string p;
    for (unsigned k = 0, n = 1 + rng() % 5; k < n; ++k) p += pieces[rng() % std::size(pieces)];
    const std::string s = quoted(subjects[rng() % std::size(subjects)]);
    std::string code;
    switch (rng() % 4) {
      case 0:
        code = "local t = {} for a, b in string.gmatch(" + s + ", " + quoted(p) +
               ") do t[#t + 1] = tostring(a) .. '/' .. tostring(b) if #t > 50 then break end end "
               "return table.concat(t, '|')";
        break;
      case 1:
        code = "return string.gsub(" + s + ", " + quoted(p) + ", '<%0>')";
        break;
      default:
        code = std::string("return string.") + (rng() % 2 == 0 ? "find(" : "match(") + s + ", " +
               quoted(p) + ", " + std::to_string(static_cast<int>(rng() % 5) - 1) + ")";
        break;
    }
    SCOPED_TRACE(code);
    ASSERT_EQ(engine_result(vm, code), stock_result(code));
  }
}

TEST(Patterns, EveryStepIsCharged) {
  // One call that backtracks through 2^40 ways ends with the budget, not after hours.
  auto vm = make_engine();
  auto r = load(vm, "exp", R"(string.find(("a"):rep(40), ("a?"):rep(40) .. ("a"):rep(40)))");
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), ScriptErrorKind::BudgetExceeded);

  // With a budget of one hook interval, a small search fits and a larger one is stopped by its
  // steps alone, long before the first firing of the hook (a handful of instructions run).
  auto small = make_engine(test::kServerMemoryLimit, 4096);
  EXPECT_TRUE(load(small, "fits", R"(assert(string.find(("a"):rep(4), ("a?"):rep(4) .. ("a"):rep(4))))"));
  auto tight = load(small, "over", R"(string.find(("a"):rep(14), ("a?"):rep(14) .. ("a"):rep(14)))");
  ASSERT_FALSE(tight.has_value());
  EXPECT_EQ(tight.error().kind(), ScriptErrorKind::BudgetExceeded);
}

}  // namespace
}  // namespace ostrel_core::script
