// The mod API stubs (api/stubs/game.lua) against the engine: every function a mod's `game`
// table holds is documented there as `function game.<name>(`, and the file documents no
// function the engine lacks.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <lua5.4/lua.hpp>

#include "script/lua_vm/lua_vm.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script {
namespace {

constexpr const char* kStubs = OSTREL_SOURCE_DIR "/api/stubs/game.lua";

std::string read_stubs() {
  std::ifstream in(kStubs, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Adds the dotted name of every function reachable from the table on top of the stack,
// descending into nested tables (up to `depth` levels) under their keys.
void collect_functions(lua_State* L, const std::string& prefix, int depth,
                       std::set<std::string>& out) {
  const int table = lua_gettop(L);
  lua_pushnil(L);
  while (lua_next(L, table) != 0) {
    if (lua_type(L, -2) == LUA_TSTRING) {
      const std::string name = prefix + lua_tostring(L, -2);
      if (lua_type(L, -1) == LUA_TFUNCTION) {
        out.insert(name);
      } else if (lua_type(L, -1) == LUA_TTABLE && depth > 0) {
        collect_functions(L, name + ".", depth - 1, out);
      }
    }
    lua_pop(L, 1);
  }
}

// The functions of a freshly loaded mod's `game` table.
std::set<std::string> engine_functions() {
  auto vm = test::make_engine();
  auto loaded = test::load(vm, "stubs", "");
  EXPECT_TRUE(loaded.has_value()) << loaded.error().debug();
  std::set<std::string> out;
  lua_State* L = vm.state();
  const int top = lua_gettop(L);
  if (vm.push_environment("stubs") && lua_getfield(L, -1, "game") == LUA_TTABLE) {
    collect_functions(L, "", 2, out);
  }
  lua_settop(L, top);
  return out;
}

// The names of every `function game.<name>(` line of the stubs.
std::set<std::string> documented_functions(const std::string& text) {
  static const std::regex kLine(R"(^function game\.([A-Za-z_][A-Za-z0-9_.]*)\()",
                                std::regex::multiline);
  std::set<std::string> out;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), kLine);
       it != std::sregex_iterator(); ++it) {
    out.insert((*it)[1].str());
  }
  return out;
}

std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const auto& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

TEST(GameStubs, StartWithTheLicenceLines) {
  const std::string text = read_stubs();
  ASSERT_FALSE(text.empty()) << "cannot read " << kStubs;
  std::istringstream lines(text);
  std::string first;
  std::string second;
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_EQ(first, "-- SPDX-FileCopyrightText: Halvercot");
  EXPECT_EQ(second, "-- SPDX-License-Identifier: MIT");
}

TEST(GameStubs, DocumentExactlyTheEngineFunctions) {
  const std::set<std::string> engine = engine_functions();
  ASSERT_GT(engine.size(), 10u) << "the engine's `game` table was not read";
  const std::set<std::string> documented = documented_functions(read_stubs());

  std::vector<std::string> missing;
  for (const auto& name : engine) {
    if (!documented.contains(name)) missing.push_back("game." + name);
  }
  std::vector<std::string> extra;
  for (const auto& name : documented) {
    if (!engine.contains(name)) extra.push_back("game." + name);
  }
  EXPECT_TRUE(missing.empty()) << "functions the engine has but " << kStubs
                               << " does not document: " << joined(missing);
  EXPECT_TRUE(extra.empty()) << "functions " << kStubs
                             << " documents but the engine does not have: " << joined(extra);
}

}  // namespace
}  // namespace ostrel_core::script
