#pragma once
// Helpers for the terrain function tests: run a chunk in a loaded mod's environment and read
// what it left, the handles included.

#include <gtest/gtest.h>

#include <lua5.4/lua.hpp>
#include <string>
#include <string_view>

#include "script/api/terrain.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::test {

// Runs `code` in the environment of `mod` (loaded first with an empty init.lua when it is not
// loaded yet), outside any budget. Returns the first result in tostring form, or "error: <text>".
inline std::string run(script::lua_vm::LuaVm& vm, std::string_view mod, std::string_view code) {
  lua_State* L = vm.state();
  const int top = lua_gettop(L);
  if (!vm.push_environment(mod)) {
    auto loaded = load(vm, mod, "");
    if (!loaded) return "error: cannot load " + std::string(mod) + ": " + loaded.error().detail();
    vm.push_environment(mod);
  }
  if (luaL_loadbuffer(L, code.data(), code.size(), "=test") != LUA_OK) {
    std::string e = lua_tostring(L, -1);
    lua_settop(L, top);
    return "syntax: " + e;
  }
  lua_pushvalue(L, -2);
  lua_setupvalue(L, -2, 1);
  std::string out;
  if (lua_pcall(L, 0, 1, 0) != LUA_OK) {
    out = "error: " + std::string(lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "(not a text)");
  } else {
    out = luaL_tolstring(L, -1, nullptr);
  }
  lua_settop(L, top);
  return out;
}

// The handle of type T in the global `name` of `mod`, or null. Valid while the global holds it.
template <class T>
T* handle(script::lua_vm::LuaVm& vm, std::string_view mod, const char* name) {
  lua_State* L = vm.state();
  const int top = lua_gettop(L);
  if (!vm.push_environment(mod)) return nullptr;
  lua_getfield(L, -1, name);
  T* out = script::lua_vm::userdata::test<T>(L, -1);
  lua_settop(L, top);
  return out;
}

}  // namespace ostrel_core::test
