// The environment a mod runs in: a shallow copy of the engine's global table without the
// withheld globals, with its own copies of the libraries, a text-only `load`, a
// `collectgarbage` that can only collect and count, a `setmetatable` that refuses finalizers,
// and `print` and `warn` that write the mod's log lines. Reading a file, compiling a text,
// collecting and logging charge the running entry's budget (script/budget.hpp).

#include "script/lua_vm/sandbox.hpp"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>

#include <fmt/format.h>
#include <lua.hpp>

#include "base/log.hpp"
#include "script/budget.hpp"
#include "modload/files.hpp"
#include "proto/codec.hpp"
#include "script/api/registration.hpp"
#include "script/lua_vm/convert.hpp"
#include "script/lua_vm/state.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

// Globals a mod's environment never gets.
constexpr std::string_view kWithheld[] = {"io",      "os",      "package", "dofile", "loadfile",
                                          "ffi",     "debug",   "require", "loadstring"};
// Libraries every environment gets its own copy of, so one mod cannot patch them for another.
constexpr std::string_view kCopiedLibraries[] = {"string", "table", "math", "utf8", "coroutine"};

constexpr char kBytecodeSignature[] = "\x1bLua";

// The text-only `load` of an environment: compiles text (never bytecode) with the calling mod's
// environment (upvalue 1) as its globals. A mode or an environment passed after the name is
// ignored, so no mod can compile code against any other table of globals.
int sandboxed_load(lua_State* L) {
  const std::string text = convert::arg_text(L, 1, "load");
  budget::charge(L, 1 + budget::bytes_cost(text.size(), budget::kCopyBytesPerUnit));
  if (!text.empty() && static_cast<unsigned char>(text[0]) == 27) {
    convert::raise(L, "load: binary chunks are not permitted");
  }
  std::string name = "=(load)";
  if (!lua_isnoneornil(L, 2)) name = convert::arg_text(L, 2, "load");
  if (luaL_loadbufferx(L, text.data(), text.size(), name.c_str(), "t") != LUA_OK) {
    return lua_error(L);  // the compiler's message, unchanged
  }
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_setupvalue(L, -2, 1);
  return 1;
}

// Compiles `text` as "return " + text when that compiles (a file holding one expression),
// otherwise as it stands; leaves the function, or raises the compiler's message.
void compile_required(lua_State* L, const std::string& text, const std::string& chunk_name) {
  const std::string expression = "return " + text;
  if (luaL_loadbufferx(L, expression.data(), expression.size(), chunk_name.c_str(), "t") ==
      LUA_OK) {
    return;
  }
  lua_pop(L, 1);
  if (luaL_loadbufferx(L, text.data(), text.size(), chunk_name.c_str(), "t") != LUA_OK) {
    lua_error(L);
  }
}

// `require` of one mod. Upvalues: 1 the mod's directory, 2 the mod id, 3 its environment.
// No cache: every call reads and runs the file again.
int sandboxed_require(lua_State* L) {
  namespace fs = std::filesystem;
  const std::string name = convert::arg_text(L, 1, "require");
  const auto mod_id = upvalue_text(L, 2);
  const std::string outside = fmt::format(
      "require(\"{}\"): mod `{}` may only require files inside its own directory", name, mod_id);
  if (name.find('\0') != std::string::npos) convert::raise(L, outside);

  std::string relative = name;
  std::replace(relative.begin(), relative.end(), '.', '/');
  relative += ".lua";
  const fs::path directory(std::string(upvalue_text(L, 1)));
  std::error_code ec;
  const fs::path root = fs::canonical(directory, ec);
  if (ec) convert::raise(L, outside);
  auto file = modload::files::resolve_within(root, directory / relative);
  if (!file) convert::raise(L, outside);

  // Only a regular file, opened without blocking, of at most the mod file limit; a host
  // allocation that fails becomes Lua's memory error rather than crossing into Lua as a C++
  // exception.
  std::string text;
  std::string refused;
  try {
    auto bytes = modload::files::read_mod_file(*file);
    if (!bytes) {
      refused = fmt::format("require(\"{}\"): {}", name, bytes.error().message());
    } else if (!proto::is_valid_utf8(*bytes)) {
      refused = fmt::format("require(\"{}\"): stream did not contain valid UTF-8", name);
    } else {
      text.assign(bytes->begin(), bytes->end());
    }
  } catch (const std::bad_alloc&) {
    refused = budget::kMemoryMarker;
  }
  if (!refused.empty()) convert::raise(L, refused);
  budget::charge(L, 1 + budget::bytes_cost(text.size(), budget::kCopyBytesPerUnit));
  compile_required(L, text, "@" + file->string());
  lua_pushvalue(L, lua_upvalueindex(3));
  lua_setupvalue(L, -2, 1);
  lua_call(L, 0, 1);
  return 1;
}

// Writes one of the mod's log lines at `level`; the line is charged to the running entry.
void write_mod_line(lua_State* L, log::Level level, std::string_view mod_id,
                    std::string_view message) {
  budget::charge(L, budget::kLogLine + budget::bytes_cost(message.size(), budget::kLogBytesPerUnit));
  OSTREL_LOG_EVENT(level, kTarget, message, log::value("mod_id", mod_id));
}

// `game.log` of one mod. Upvalue: 1 the mod id.
int mod_log(lua_State* L) {
  const std::string message = convert::arg_text(L, 1, "log");
  write_mod_line(L, log::Level::Info, upvalue_text(L, 1), message);
  return 0;
}

// `print` of one mod: its arguments as `tostring` shows them, separated by tabs, as one INFO
// line of the mod. Upvalue: 1 the mod id.
int mod_print(lua_State* L) {
  const int n = lua_gettop(L);
  std::string message;
  for (int i = 1; i <= n; ++i) {
    std::size_t len = 0;
    const char* s = luaL_tolstring(L, i, &len);  // __tostring runs as the mod's own code
    if (i > 1) message += '\t';
    message.append(s, len);
    lua_pop(L, 1);
  }
  write_mod_line(L, log::Level::Info, upvalue_text(L, 1), message);
  return 0;
}

// `warn` of one mod: its texts joined, as one WARN line of the mod. A single text starting with
// "@" is a control message, which the engine does not act on. Upvalue: 1 the mod id.
int mod_warn(lua_State* L) {
  const int n = lua_gettop(L);
  luaL_checkstring(L, 1);
  for (int i = 2; i <= n; ++i) luaL_checkstring(L, i);
  std::string message;
  for (int i = 1; i <= n; ++i) {
    std::size_t len = 0;
    const char* s = lua_tolstring(L, i, &len);
    message.append(s, len);
  }
  if (n == 1 && message.starts_with('@')) return 0;
  write_mod_line(L, log::Level::Warn, upvalue_text(L, 1), message);
  return 0;
}

// `collectgarbage` limited to collecting and counting.
int sandboxed_collectgarbage(lua_State* L) {
  const char* opt = luaL_optstring(L, 1, "collect");
  if (std::strcmp(opt, "collect") == 0) {
    // A full collection walks the whole heap.
    budget::charge(L, 1 + budget::bytes_cost(budget::of(L).used, budget::kCollectedBytesPerUnit));
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

void push_require(lua_State* L, std::string_view mod_id, std::string_view directory, int env) {
  env = lua_absindex(L, env);
  lua_pushlstring(L, directory.data(), directory.size());
  lua_pushlstring(L, mod_id.data(), mod_id.size());
  lua_pushvalue(L, env);
  lua_pushcclosure(L, sandboxed_require, 3);
}

void push_logger(lua_State* L, std::string_view mod_id) {
  lua_pushlstring(L, mod_id.data(), mod_id.size());
  lua_pushcclosure(L, mod_log, 1);
}

void set_mod_output(lua_State* L, std::string_view mod_id, int env) {
  env = lua_absindex(L, env);
  lua_pushlstring(L, mod_id.data(), mod_id.size());
  lua_pushcclosure(L, mod_print, 1);
  lua_setfield(L, env, "print");
  lua_pushlstring(L, mod_id.data(), mod_id.size());
  lua_pushcclosure(L, mod_warn, 1);
  lua_setfield(L, env, "warn");
}

bool starts_with_bytecode(std::string_view text) {
  return text.size() >= 4 && text.substr(0, 4) == std::string_view(kBytecodeSignature, 4);
}

}  // namespace ostrel_core::script::lua_vm
