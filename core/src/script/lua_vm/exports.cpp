// Cross-mod exports: `game.export` and `game.exports`, and the crossing of values from one mod
// (the owner) to another (the reader). Tables cross as read-only views, functions as call
// wrappers that run the owner's code for the reader; a value that travels back to its owner
// becomes the owner's own value again. Crossing is lazy: nested values cross when the reader
// reaches them.
//
// An error raised while an exported function runs for a reader is that call's error: it reaches
// the reader as a Lua error, which the reader may catch, and is logged with both ids; the
// exporter is never disabled for it (the reader may have provoked it, with an argument of the
// wrong type or a table whose metamethods raise). A spent budget or the memory limit is the
// reader's entry running out and passes through unlogged.
//
// "ostrel.crossed" (weak keys) maps each view or wrapper to { owner = id, raw = value }.

#include "script/lua_vm/exports.hpp"

#include <set>

#include <fmt/format.h>
#include <lua.hpp>

#include "base/log.hpp"
#include "base/num.hpp"
#include "script/api/registration.hpp"
#include "script/lua_vm/convert.hpp"
#include "script/lua_vm/state.hpp"

namespace ostrel_core::script::lua_vm {

using vm::ScriptError;

namespace {

constexpr char kReadOnly[] = "exports are read-only";

FaultedSet* faulted_at(lua_State* L, int idx) { return static_cast<FaultedSet*>(lua_touserdata(L, idx)); }

void crossing(lua_State* L, int idx, std::string_view owner, std::string_view reader,
              FaultedSet* faulted);

// When the value at `idx` is a registered view or wrapper, pushes its raw value and its owner's
// id and answers true; otherwise pushes nothing.
bool uncross(lua_State* L, int idx) {
  idx = lua_absindex(L, idx);
  if (lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.crossed") != LUA_TTABLE) {
    lua_pop(L, 1);
    return false;
  }
  lua_pushvalue(L, idx);
  if (lua_rawget(L, -2) != LUA_TTABLE) {
    lua_pop(L, 2);
    return false;
  }
  lua_getfield(L, -1, "raw");
  lua_getfield(L, -2, "owner");
  lua_rotate(L, -4, 2);  // raw, owner, register, record
  lua_pop(L, 2);
  return true;
}

// Registers `made` (at `made_idx`) as standing for `raw` (at `raw_idx`) owned by `owner`.
void remember_crossing(lua_State* L, int made_idx, int raw_idx, std::string_view owner) {
  made_idx = lua_absindex(L, made_idx);
  raw_idx = lua_absindex(L, raw_idx);
  if (lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.crossed") != LUA_TTABLE) {
    lua_pop(L, 1);
    lua_newtable(L);
    lua_createtable(L, 0, 1);
    lua_pushliteral(L, "k");
    lua_setfield(L, -2, "__mode");
    lua_setmetatable(L, -2);
    lua_pushvalue(L, -1);
    lua_setfield(L, LUA_REGISTRYINDEX, "ostrel.crossed");
  }
  lua_pushvalue(L, made_idx);
  lua_createtable(L, 0, 2);
  lua_pushvalue(L, raw_idx);
  lua_setfield(L, -2, "raw");
  push_text(L, owner);
  lua_setfield(L, -2, "owner");
  lua_rawset(L, -3);
  lua_pop(L, 1);
}

// View metamethods. Upvalues: 1 raw table, 2 owner id, 3 reader id, 4 faulted set.
int view_index(lua_State* L) {
  lua_pushvalue(L, lua_upvalueindex(1));
  lua_pushvalue(L, 2);
  lua_gettable(L, -2);  // honours the raw table's own metatable
  crossing(L, -1, text_at(L, lua_upvalueindex(2)), text_at(L, lua_upvalueindex(3)),
           faulted_at(L, lua_upvalueindex(4)));
  return 1;
}

// The key as the read-only refusal shows it: String("x"), Integer(3), Number(1.5),
// Boolean(true), Nil.
std::string key_form(lua_State* L, int idx) {
  switch (lua_type(L, idx)) {
    case LUA_TSTRING:
      return fmt::format("String({:?})", text_at(L, idx));
    case LUA_TNUMBER:
      if (lua_isinteger(L, idx)) return fmt::format("Integer({})", lua_tointeger(L, idx));
      return fmt::format("Number({})", num::format_number(lua_tonumber(L, idx)));
    case LUA_TBOOLEAN:
      return fmt::format("Boolean({})", lua_toboolean(L, idx) != 0 ? "true" : "false");
    case LUA_TNIL:
      return "Nil";
    default: {
      std::string name(convert::type_name(L, idx));
      name[0] = static_cast<char>(name[0] - 'a' + 'A');
      return name;
    }
  }
}

// Upvalue 1: the owner id.
int view_newindex(lua_State* L) {
  convert::raise(L, fmt::format("the exports of `{}` are read-only (writing {})",
                                text_at(L, lua_upvalueindex(1)), key_form(L, 2)));
}

// Upvalue 1: the raw table.
int view_len(lua_State* L) {
  lua_pushinteger(L, static_cast<lua_Integer>(lua_rawlen(L, lua_upvalueindex(1))));
  return 1;
}

// Upvalues as view_index. A snapshot of the raw table, values crossed, keys as they are.
int view_pairs(lua_State* L) {
  const auto owner = text_at(L, lua_upvalueindex(2));
  const auto reader = text_at(L, lua_upvalueindex(3));
  FaultedSet* faulted = faulted_at(L, lua_upvalueindex(4));
  lua_getglobal(L, "next");
  lua_newtable(L);
  const int snapshot = lua_gettop(L);
  lua_pushnil(L);
  while (lua_next(L, lua_upvalueindex(1)) != 0) {
    crossing(L, -1, owner, reader, faulted);
    lua_remove(L, -2);
    lua_pushvalue(L, -2);
    lua_insert(L, -2);
    lua_rawset(L, snapshot);
  }
  lua_pushnil(L);
  return 3;
}

// Pushes a new view of the table at `idx`.
void cross_table(lua_State* L, int idx, std::string_view owner, std::string_view reader,
                 FaultedSet* faulted) {
  idx = lua_absindex(L, idx);
  lua_newtable(L);
  lua_createtable(L, 0, 5);
  auto push_full = [&](lua_CFunction f) {
    lua_pushvalue(L, idx);
    push_text(L, owner);
    push_text(L, reader);
    lua_pushlightuserdata(L, faulted);
    lua_pushcclosure(L, f, 4);
  };
  push_full(view_index);
  lua_setfield(L, -2, "__index");
  push_text(L, owner);
  lua_pushcclosure(L, view_newindex, 1);
  lua_setfield(L, -2, "__newindex");
  lua_pushvalue(L, idx);
  lua_pushcclosure(L, view_len, 1);
  lua_setfield(L, -2, "__len");
  push_full(view_pairs);
  lua_setfield(L, -2, "__pairs");
  lua_pushstring(L, kReadOnly);
  lua_setfield(L, -2, "__metatable");
  lua_setmetatable(L, -2);
  remember_crossing(L, -1, idx, owner);
}

// Call wrapper. Upvalues: 1 owner id, 2 reader id, 3 faulted set, 4 the raw function.
int call_wrapper(lua_State* L) {
  const std::string owner(text_at(L, lua_upvalueindex(1)));
  const std::string reader(text_at(L, lua_upvalueindex(2)));
  FaultedSet* faulted = faulted_at(L, lua_upvalueindex(3));
  if (faulted->contains(owner)) return 0;

  const int nargs = lua_gettop(L);
  luaL_checkstack(L, nargs + 2, "too many arguments");
  const int base = nargs;
  lua_pushvalue(L, lua_upvalueindex(4));
  for (int i = 1; i <= nargs; ++i) crossing(L, i, reader, owner, faulted);
  const int status = lua_pcall(L, nargs, LUA_MULTRET, 0);
  if (status == LUA_OK) {
    const int first = base + 1;
    const int n = lua_gettop(L) - base;
    for (int i = 0; i < n; ++i) {
      crossing(L, first + i, owner, reader, faulted);
      lua_replace(L, first + i);
    }
    return n;
  }
  // A spent budget or the memory limit is the reader's entry running out: the reader pays.
  const std::string error = convert::error_text(L, -1);
  if (budget::of(L).entry.exhausted || status == LUA_ERRMEM ||
      error.find(budget::kMemoryMarker) != std::string::npos) {
    return lua_error(L);
  }
  OSTREL_WARN(kTarget, "a function a mod exported raised an error for the mod that called it",
              log::text("mod_id", owner), log::text("caller", reader), log::text("error", error));
  return lua_error(L);  // the original error object, as the reader's own
}

// Pushes what the reader gets for the value at `idx` owned by `owner`.
void crossing(lua_State* L, int idx, std::string_view owner, std::string_view reader,
              FaultedSet* faulted) {
  luaL_checkstack(L, 12, "values nested too deeply");  // what this and cross_table push
  idx = lua_absindex(L, idx);
  if (uncross(L, idx)) {  // raw, record owner
    const std::string first_owner(text_at(L, -1));
    lua_pop(L, 1);
    if (first_owner == reader) return;  // back home: the raw value itself
    crossing(L, -1, first_owner, reader, faulted);
    lua_remove(L, -2);
    return;
  }
  switch (lua_type(L, idx)) {
    case LUA_TTABLE:
      cross_table(L, idx, owner, reader, faulted);
      return;
    case LUA_TFUNCTION:
      push_text(L, owner);
      push_text(L, reader);
      lua_pushlightuserdata(L, faulted);
      lua_pushvalue(L, idx);
      lua_pushcclosure(L, call_wrapper, 4);
      remember_crossing(L, -1, idx, owner);
      return;
    default:
      lua_pushvalue(L, idx);
      return;
  }
}

// game.export(table). Upvalue 1: the mod id.
int game_export(lua_State* L) {
  const auto mod_id = text_at(L, lua_upvalueindex(1));
  if (lua_type(L, 1) != LUA_TTABLE) {
    convert::arg_error(L, 1, "export", convert::mismatch(L, 1, "table").text);
  }
  lua_settop(L, 1);
  if (frozen(L)) {
    convert::raise(L, fmt::format("mod `{}`: game.export is for the registration window; the "
                                  "registries are frozen",
                                  mod_id));
  }
  if (lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.exports") != LUA_TTABLE) {
    lua_pop(L, 1);
    lua_newtable(L);
  }
  push_text(L, mod_id);
  if (lua_rawget(L, 2) != LUA_TNIL) {
    convert::raise(L, fmt::format("mod `{}`: game.export was already called; export one table, "
                                  "built before you call it",
                                  mod_id));
  }
  lua_pop(L, 1);
  push_text(L, mod_id);
  lua_pushvalue(L, 1);
  lua_rawset(L, 2);
  lua_setfield(L, LUA_REGISTRYINDEX, "ostrel.exports");
  return 0;
}

// game.exports(mod_id). Upvalues: 1 the asking mod's id, 2 the faulted set.
int game_exports(lua_State* L) {
  const std::string reader(text_at(L, lua_upvalueindex(1)));
  FaultedSet* faulted = faulted_at(L, lua_upvalueindex(2));
  const std::string owner = convert::arg_text(L, 1, "exports");
  lua_settop(L, 0);
  const auto nothing = [&] {
    lua_pushnil(L);
    return 1;
  };
  if (lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.deps") != LUA_TTABLE) return nothing();
  push_text(L, reader);
  if (lua_rawget(L, -2) != LUA_TTABLE) return nothing();
  push_text(L, owner);
  lua_rawget(L, -2);
  if (lua_type(L, -1) != LUA_TBOOLEAN || lua_toboolean(L, -1) == 0) return nothing();
  if (faulted->contains(owner)) return nothing();
  if (lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.exports") != LUA_TTABLE) return nothing();
  push_text(L, owner);
  if (lua_rawget(L, -2) != LUA_TTABLE) return nothing();
  crossing(L, -1, owner, reader, faulted);
  return 1;
}

bool holds_proxy_in(lua_State* L, int idx, int depth, std::set<const void*>& seen) {
  if (depth == 0) return false;
  luaL_checkstack(L, 8, "views nested too deeply");
  idx = lua_absindex(L, idx);
  if (!seen.insert(lua_topointer(L, idx)).second) return false;
  if (uncross(L, idx)) {
    lua_pop(L, 2);
    return true;
  }
  lua_pushnil(L);
  while (lua_next(L, idx) != 0) {
    if (lua_type(L, -1) == LUA_TTABLE && holds_proxy_in(L, -1, depth - 1, seen)) {
      lua_pop(L, 2);
      return true;
    }
    lua_pop(L, 1);
  }
  return false;
}

// `copies` (a stack index) maps each table already copied to its copy.
void opened_value_in(lua_State* L, int idx, int depth, int copies) {
  luaL_checkstack(L, 8, "tables nested too deeply");
  idx = lua_absindex(L, idx);
  if (lua_type(L, idx) != LUA_TTABLE) {
    lua_pushvalue(L, idx);
    return;
  }
  int source = idx;
  bool raw_pushed = false;
  if (uncross(L, idx)) {
    lua_pop(L, 1);  // the owner
    if (lua_type(L, -1) == LUA_TTABLE) {
      source = lua_gettop(L);
      raw_pushed = true;
    } else {
      lua_pop(L, 1);
    }
  }
  if (depth == 0) {
    lua_pushvalue(L, source);
  } else {
    lua_pushvalue(L, source);
    if (lua_rawget(L, copies) == LUA_TNIL) {
      lua_pop(L, 1);
      lua_newtable(L);
      const int copy = lua_gettop(L);
      lua_pushvalue(L, source);
      lua_pushvalue(L, copy);
      lua_rawset(L, copies);
      lua_pushnil(L);
      while (lua_next(L, source) != 0) {
        opened_value_in(L, -1, depth - 1, copies);
        lua_remove(L, -2);
        lua_pushvalue(L, -2);
        lua_insert(L, -2);
        lua_rawset(L, copy);
      }
      if (lua_getmetatable(L, source) != 0) lua_setmetatable(L, copy);
    }
  }
  if (raw_pushed) lua_remove(L, source);
}

}  // namespace

std::expected<void, ScriptError> LuaVm::install_exports(std::string_view mod_id, int game_idx) {
  std::lock_guard lock(impl_->mu);
  FaultedSet* faulted = impl_->faulted.get();
  return fill_game(impl_->L, game_idx, [&](lua_State* s) {
    push_text(s, mod_id);
    lua_pushcclosure(s, game_export, 1);
    lua_setfield(s, 1, "export");
    push_text(s, mod_id);
    lua_pushlightuserdata(s, faulted);
    lua_pushcclosure(s, game_exports, 2);
    lua_setfield(s, 1, "exports");
  });
}

void LuaVm::note_dependencies(std::string_view mod_id, std::span<const std::string> dependencies) {
  std::lock_guard lock(impl_->mu);
  auto r = protect(impl_->L, [&](lua_State* s) {
    if (lua_getfield(s, LUA_REGISTRYINDEX, "ostrel.deps") != LUA_TTABLE) {
      lua_pop(s, 1);
      lua_newtable(s);
    }
    lua_createtable(s, 0, static_cast<int>(dependencies.size()));
    for (const auto& dep : dependencies) {
      push_text(s, dep);
      lua_pushboolean(s, 1);
      lua_rawset(s, -3);
    }
    push_text(s, mod_id);
    lua_insert(s, -2);
    lua_rawset(s, -3);
    lua_setfield(s, LUA_REGISTRYINDEX, "ostrel.deps");
  });
  if (!r) {
    OSTREL_ERROR(kTarget, fmt::format("could not record dependencies: {}", r.error()),
                 log::text("mod_id", mod_id));
  }
}

bool holds_proxy(lua_State* L, int idx, int depth) {
  std::set<const void*> seen;
  return holds_proxy_in(L, idx, depth, seen);
}

void push_opened_value(lua_State* L, int idx, int depth) {
  idx = lua_absindex(L, idx);
  lua_newtable(L);
  const int copies = lua_gettop(L);
  opened_value_in(L, idx, depth, copies);
  lua_remove(L, copies);
}

}  // namespace ostrel_core::script::lua_vm
