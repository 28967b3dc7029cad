// The environment a mod runs in: a shallow copy of the engine's global table without the
// withheld globals, with its own copies of the libraries, a text-only `load`, a
// `collectgarbage` that can only collect and count, and a `setmetatable` that refuses
// finalizers.

#include <algorithm>
#include <cstring>

#include <fmt/format.h>
#include <lua.hpp>

#include "script/convert.hpp"
#include "script/lua_vm_impl.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

// Globals a mod's environment never gets.
constexpr std::string_view kWithheld[] = {"io",      "os",      "package", "dofile", "loadfile",
                                          "ffi",     "debug",   "require", "loadstring"};
// Libraries every environment gets its own copy of, so one mod cannot patch them for another.
constexpr std::string_view kCopiedLibraries[] = {"string", "table", "math", "utf8", "coroutine"};

constexpr char kBytecodeSignature[] = "\x1bLua";

// The text-only `load` of an environment: compiles text (never bytecode) with the environment
// (upvalue 1) as its globals unless an `env` is given.
int sandboxed_load(lua_State* L) {
  std::size_t len = 0;
  const char* text = lua_tolstring(L, 1, &len);
  if (lua_type(L, 1) != LUA_TSTRING) {
    convert::arg_error(L, 1, "load", convert::mismatch(L, 1, "string").text);
  }
  if (len >= 4 && std::memcmp(text, kBytecodeSignature, 4) == 0) {
    lua_pushnil(L);
    lua_pushliteral(L, "load: binary chunks are not permitted");
    return 2;
  }
  const char* name = luaL_optstring(L, 2, text);
  const bool has_env = !lua_isnone(L, 4);
  if (luaL_loadbufferx(L, text, len, name, "t") != LUA_OK) {
    lua_pushnil(L);
    lua_insert(L, -2);
    return 2;
  }
  if (has_env) {
    lua_pushvalue(L, 4);
  } else {
    lua_pushvalue(L, lua_upvalueindex(1));
  }
  lua_setupvalue(L, -2, 1);
  return 1;
}

// `collectgarbage` limited to collecting and counting.
int sandboxed_collectgarbage(lua_State* L) {
  const char* opt = luaL_optstring(L, 1, "collect");
  if (std::strcmp(opt, "collect") == 0) {
    lua_gc(L, LUA_GCCOLLECT);
    lua_pushinteger(L, 0);
    return 1;
  }
  if (std::strcmp(opt, "count") == 0) {
    const int kb = lua_gc(L, LUA_GCCOUNT);
    const int rest = lua_gc(L, LUA_GCCOUNTB);
    lua_pushnumber(L, static_cast<lua_Number>(kb) + static_cast<lua_Number>(rest) / 1024.0);
    return 1;
  }
  convert::raise(L, fmt::format("collectgarbage: option `{}` is not permitted", opt));
}

// `setmetatable` that refuses a metatable with `__gc`: a finalizer would run mod code whenever
// the collector runs, outside any entry and its budget.
int sandboxed_setmetatable(lua_State* L) {
  if (lua_type(L, 2) == LUA_TTABLE) {
    lua_pushliteral(L, "__gc");
    if (lua_rawget(L, 2) != LUA_TNIL) {
      convert::raise(L, "setmetatable: a metatable with `__gc` is not permitted");
    }
    lua_pop(L, 1);
  }
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_insert(L, 1);
  lua_call(L, lua_gettop(L) - 1, 1);
  return 1;
}

bool withheld(std::string_view key) {
  return std::find(std::begin(kWithheld), std::end(kWithheld), key) != std::end(kWithheld);
}
bool copied_library(std::string_view key) {
  return std::find(std::begin(kCopiedLibraries), std::end(kCopiedLibraries), key) !=
         std::end(kCopiedLibraries);
}

}  // namespace

// Pushes a new environment: a shallow copy of the global table without the withheld entries,
// with its own copies of the libraries and the sandboxed base functions.
void push_environment_table(lua_State* L) {
  lua_newtable(L);
  const int env = lua_gettop(L);
  lua_pushglobaltable(L);
  lua_pushnil(L);
  while (lua_next(L, -2) != 0) {
    // key at -2, value at -1
    if (lua_type(L, -2) == LUA_TSTRING) {
      const std::string_view key = lua_tostring(L, -2);
      if (withheld(key)) {
        lua_pop(L, 1);
        continue;
      }
      if (copied_library(key) && lua_type(L, -1) == LUA_TTABLE) {
        lua_newtable(L);
        lua_pushnil(L);
        while (lua_next(L, -3) != 0) {
          lua_pushvalue(L, -2);
          lua_insert(L, -2);
          lua_rawset(L, -4);
        }
        lua_remove(L, -2);  // the shared library table
      }
    }
    lua_pushvalue(L, -2);
    lua_insert(L, -2);
    lua_rawset(L, env);
  }
  lua_pop(L, 1);  // the global table

  lua_pushvalue(L, env);
  lua_setfield(L, env, "_G");
  lua_pushvalue(L, env);
  lua_pushcclosure(L, sandboxed_load, 1);
  lua_setfield(L, env, "load");
  lua_pushcfunction(L, sandboxed_collectgarbage);
  lua_setfield(L, env, "collectgarbage");
  lua_pushglobaltable(L);
  lua_getfield(L, -1, "setmetatable");
  lua_pushcclosure(L, sandboxed_setmetatable, 1);
  lua_setfield(L, env, "setmetatable");
  lua_pop(L, 1);  // the global table
}

bool starts_with_bytecode(std::string_view text) {
  return text.size() >= 4 && text.substr(0, 4) == std::string_view(kBytecodeSignature, 4);
}

}  // namespace ostrel_core::script::lua_vm
