#pragma once
// Helpers for tests of the script engine: a fresh engine with the server's limits, loading a
// mod from a text, reading the registry from Lua, and capturing log lines.

#include <gtest/gtest.h>

#include <cstdint>
#include <lua5.4/lua.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "base/log.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "support/log_capture.hpp"

namespace ostrel_core::test {

inline constexpr std::uint64_t kServerMemoryLimit = 268'435'456;
inline constexpr std::uint32_t kServerBudget = 20'000'000;

inline script::lua_vm::LuaVm make_engine(std::uint64_t memory = kServerMemoryLimit,
                                         std::uint32_t budget = kServerBudget) {
  auto vm = script::lua_vm::LuaVm::create(memory, budget);
  if (!vm) ADD_FAILURE() << vm.error().debug();
  return std::move(*vm);
}

// A player whose 32 id bytes are all `b`.
inline identity::PlayerUuid player(std::uint8_t b) {
  identity::PlayerUuid p;
  p.bytes.fill(b);
  return p;
}

inline std::expected<void, script::vm::ScriptError> load(script::lua_vm::LuaVm& vm,
                                                          std::string_view mod_id,
                                                          std::string_view code) {
  return vm.load_mod(mod_id, code, std::string("mods/") + std::string(mod_id));
}

// Runs `body` in the engine's global table with `R` bound to the registry and returns its
// result as text ("<error: ...>" when it fails). Host-side inspection only: no budget.
inline std::string inspect(script::lua_vm::LuaVm& vm, std::string_view body) {
  lua_State* L = vm.state();
  const int top = lua_gettop(L);
  std::string code = "local R = ...\n" + std::string(body);
  if (luaL_loadbuffer(L, code.data(), code.size(), "=inspect") != LUA_OK) {
    std::string e = lua_tostring(L, -1);
    lua_settop(L, top);
    return "<syntax: " + e + ">";
  }
  lua_pushvalue(L, LUA_REGISTRYINDEX);
  if (lua_pcall(L, 1, 1, 0) != LUA_OK) {
    std::string e = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "?";
    lua_settop(L, top);
    return "<error: " + e + ">";
  }
  std::string out = luaL_tolstring(L, -1, nullptr);
  lua_settop(L, top);
  return out;
}

// A global `note(value)` for every mod loaded afterwards, appending to the registry's list
// "seen" (R.seen for inspect); made once per engine.
inline void share_seen(script::lua_vm::LuaVm& vm) {
  if (inspect(vm, "return R.seen ~= nil") == "true") return;
  inspect(vm, "R.seen = {}");
  lua_pushcfunction(vm.state(), [](lua_State* s) -> int {
    lua_getfield(s, LUA_REGISTRYINDEX, "seen");
    lua_pushvalue(s, 1);
    lua_rawseti(s, -2, static_cast<lua_Integer>(lua_rawlen(s, -2)) + 1);
    return 0;
  });
  lua_setglobal(vm.state(), "note");
}

}  // namespace ostrel_core::test
