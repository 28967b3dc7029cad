#pragma once
// Running snippets in a loaded mod's environment, before or after the freeze, for tests of the
// `game` functions.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>

#include <lua5.4/lua.hpp>

#include "script/lua_vm/lua_vm.hpp"

namespace ostrel_core::test {

// Loads `mod_id` with an empty init.lua from `dir`/`mod_id` (the directory need not exist).
inline void load_empty(script::lua_vm::LuaVm& vm, const std::filesystem::path& dir,
                       std::string_view mod_id) {
  auto r = vm.load_mod(mod_id, "", (dir / std::string(mod_id)).string());
  if (!r) ADD_FAILURE() << r.error().debug();
}

// Runs `code` in the environment of the loaded mod `mod_id`. Answers "" when it ran through,
// otherwise the error text exactly as raised.
inline std::string run_in(script::lua_vm::LuaVm& vm, std::string_view mod_id,
                          std::string_view code) {
  lua_State* L = vm.state();
  const int top = lua_gettop(L);
  if (luaL_loadbuffer(L, code.data(), code.size(), "=test") != LUA_OK) {
    std::string e = lua_tostring(L, -1);
    lua_settop(L, top);
    return "<syntax: " + e + ">";
  }
  if (!vm.push_environment(mod_id)) {
    lua_settop(L, top);
    return "<no such mod>";
  }
  lua_setupvalue(L, -2, 1);
  std::string out;
  if (lua_pcall(L, 0, 0, 0) != LUA_OK) {
    out = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "<non-text error>";
  }
  lua_settop(L, top);
  return out;
}

}  // namespace ostrel_core::test
