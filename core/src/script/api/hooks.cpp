// The hook registration functions of a mod's `game` table. Each is a C closure bound to one mod
// (and one hook); it checks in a fixed order and writes nothing until every check passed:
// arguments, the registration window, the options, then a repeat of the same handler key.

#include "script/api/hooks.hpp"

#include <fmt/format.h>
#include <lua.hpp>

#include "script/api/registration.hpp"
#include "script/lua_vm/convert.hpp"

namespace ostrel_core::script::lua_vm {

namespace {

void append(lua_State* L, std::string_view list, std::string_view mod_id) {
  push_registry_table(L, list);
  const auto n = static_cast<lua_Integer>(lua_rawlen(L, -1));
  push_text(L, mod_id);
  lua_rawseti(L, -2, n + 1);
  lua_pop(L, 1);
}

// Reads `materials` (the value on top of the stack) into the table at `out`, qualified.
void read_materials(lua_State* L, std::string_view mod_id, int out) {
  if (lua_type(L, -1) != LUA_TTABLE) {
    convert::raise(L, fmt::format("mod `{}`: `materials` is a list of block ids, not {}", mod_id,
                                  convert::type_name(L, -1)));
  }
  lua_Integer n = 0;
  for (lua_Integer i = 1;; ++i) {
    const int t = lua_rawgeti(L, -1, i);
    if (t == LUA_TNIL) {
      lua_pop(L, 1);
      break;
    }
    if (t != LUA_TSTRING) {
      convert::raise(L, fmt::format("mod `{}`: every entry of `materials` is a block id string",
                                    mod_id));
    }
    std::size_t len = 0;
    const char* id = lua_tolstring(L, -1, &len);
    push_text(L, convert::named_block(mod_id, {id, len}));
    lua_rawseti(L, out, ++n);
    lua_pop(L, 1);
  }
  if (n == 0) {
    convert::raise(
        L, fmt::format("mod `{}`: `materials` names no blocks; leave it out to hear every use",
                       mod_id));
  }
}

std::string duplicate_text(std::string_view mod_id, std::string_view hook, bool listed) {
  if (hook != "on_use") {
    return fmt::format(
        "mod `{}` already registered `{}`. One callback per hook per mod — combine them into one "
        "function.",
        mod_id, hook);
  }
  const char* article = listed ? "a" : "an";
  const char* kind = listed ? "listed" : "unlisted";
  const char* with = listed ? "with" : "with no";
  return fmt::format(
      "mod `{}` already registered {} {} `on_use` (one {} `materials`). `on_use` may be "
      "registered twice — once with `materials`, once without — and no more; combine your {} "
      "handlers into the one call.",
      mod_id, article, kind, with, kind);
}

// Upvalues: 1 mod id, 2 hook name, 3 handler key, 4 listed handler key, 5 list name,
// 6 scope option name or nil, 7 the option's list or nil.
int hook_registrar(lua_State* L) {
  const auto mod_id = upvalue_text(L, 1);
  const auto hook = upvalue_text(L, 2);
  const bool has_scope = lua_type(L, lua_upvalueindex(6)) == LUA_TSTRING;
  const std::string fn = fmt::format("register_{}", hook);

  convert::arg_function(L, 1, fn);
  const bool has_options = convert::arg_optional_table(L, 2, fn);
  lua_settop(L, 2);
  refuse_if_frozen(L, mod_id);

  bool anywhere = false;
  bool has_materials = false;
  lua_newtable(L);  // 3: the qualified materials
  if (has_options) {
    if (!has_scope) {
      convert::raise(L, fmt::format("mod `{}`: `{}` takes no options", mod_id, fn));
    }
    const auto option = upvalue_text(L, 6);
    lua_pushnil(L);
    while (lua_next(L, 2) != 0) {
      if (lua_type(L, -2) != LUA_TSTRING) {
        convert::raise(L, fmt::format("mod `{}`: `{}` has no option of type {}", mod_id, fn,
                                      convert::type_name(L, -2)));
      }
      const std::string_view key = lua_tostring(L, -2);
      if (key == option) {
        if (lua_type(L, -1) != LUA_TBOOLEAN) {
          convert::raise(L, fmt::format("mod `{}`: `{}` is true or false, not {}", mod_id, option,
                                        convert::type_name(L, -1)));
        }
        anywhere = lua_toboolean(L, -1) != 0;
      } else if (key == "materials" && hook == "on_use") {
        read_materials(L, mod_id, 3);
        has_materials = true;
      } else {
        convert::raise(L, fmt::format("mod `{}`: `{}` has no option `{}`", mod_id, fn, key));
      }
      lua_pop(L, 1);
    }
    if (has_materials && anywhere) {
      convert::raise(L, fmt::format("mod `{}`: `anywhere` is for the handler with no `materials` "
                                    "— a listed `on_use` is asked only at its blocks, never at "
                                    "nothing",
                                    mod_id));
    }
  }

  const std::string key(upvalue_text(L, has_materials ? 4 : 3));
  if (lua_getfield(L, LUA_REGISTRYINDEX, key.c_str()) != LUA_TNIL) {
    convert::raise(L, duplicate_text(mod_id, hook, has_materials));
  }
  lua_pop(L, 1);

  lua_pushvalue(L, 1);
  lua_setfield(L, LUA_REGISTRYINDEX, key.c_str());
  if (has_materials) {
    lua_pushvalue(L, 3);
    lua_setfield(L, LUA_REGISTRYINDEX, fmt::format("ostrel.use_materials.{}", mod_id).c_str());
    append(L, "ostrel.users_scoped", mod_id);
  } else {
    append(L, upvalue_text(L, 5), mod_id);
    if (anywhere) append(L, upvalue_text(L, 7), mod_id);
  }
  return 0;
}

// Upvalue: 1 mod id.
int random_tick_registrar(lua_State* L) {
  const auto mod_id = upvalue_text(L, 1);
  convert::arg_function(L, 2, "register_random_tick");
  refuse_if_frozen(L, mod_id);
  const std::uint16_t material = convert::material_of(L, 1);
  // Air, the unknown material and numbers no block carries have nothing to tick.
  if (!block_name_of(L, material)) {
    convert::raise(L, fmt::format("mod `{}`: material {} is not a registered block; a random "
                                  "tick runs on blocks a mod registers",
                                  mod_id, material));
  }
  push_registry_table(L, "ostrel.random_ticks");
  const int ticks = lua_gettop(L);
  if (lua_rawgeti(L, ticks, material) != LUA_TNIL) {
    convert::raise(L, fmt::format("mod `{}`: a random tick is already registered for that "
                                  "material; one handler per material",
                                  mod_id));
  }
  lua_pop(L, 1);
  push_registry_table(L, "ostrel.random_tick_owners");
  lua_pushvalue(L, 2);
  lua_rawseti(L, ticks, material);
  push_text(L, mod_id);
  lua_rawseti(L, -2, material);
  return 0;
}

// Upvalues: 1 mod id, 2 handler key, 3 list name, 4 function name, 5 whether a repeat is refused.
int once_registrar(lua_State* L) {
  const auto mod_id = upvalue_text(L, 1);
  const auto name = upvalue_text(L, 4);
  convert::arg_function(L, 1, name);
  refuse_if_frozen(L, mod_id);
  if (lua_toboolean(L, lua_upvalueindex(5)) != 0) {
    const bool taken =
        lua_getfield(L, LUA_REGISTRYINDEX, lua_tostring(L, lua_upvalueindex(2))) == LUA_TFUNCTION;
    lua_pop(L, 1);
    if (taken) convert::raise(L, fmt::format("mod `{}`: one {} per mod", mod_id, name));
  }
  lua_pushvalue(L, 1);
  lua_setfield(L, LUA_REGISTRYINDEX, lua_tostring(L, lua_upvalueindex(2)));

  push_registry_table(L, upvalue_text(L, 3));
  for (lua_Integer i = 1;; ++i) {
    const int t = lua_rawgeti(L, -1, i);
    if (t == LUA_TNIL) break;
    if (t == LUA_TSTRING && upvalue_text(L, 1) == std::string_view(lua_tostring(L, -1))) return 0;
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
  const auto n = static_cast<lua_Integer>(lua_rawlen(L, -1));
  push_text(L, mod_id);
  lua_rawseti(L, -2, n + 1);
  return 0;
}

}  // namespace

void push_hook_registrar_with(lua_State* L, std::string_view mod_id, std::string_view hook,
                              std::string_view list, const ScopeOption* scope) {
  push_text(L, mod_id);
  push_text(L, hook);
  push_text(L, fmt::format("ostrel.{}.{}", hook, mod_id));
  push_text(L, fmt::format("ostrel.{}.scoped.{}", hook, mod_id));
  push_text(L, list);
  if (scope != nullptr) {
    push_text(L, scope->name);
    push_text(L, scope->list);
  } else {
    lua_pushnil(L);
    lua_pushnil(L);
  }
  lua_pushcclosure(L, hook_registrar, 7);
}

void push_random_tick_registrar(lua_State* L, std::string_view mod_id) {
  push_text(L, mod_id);
  lua_pushcclosure(L, random_tick_registrar, 1);
}

void push_once_registrar(lua_State* L, std::string_view mod_id, std::string_view hook,
                         std::string_view list, OnRepeat repeat) {
  push_text(L, mod_id);
  push_text(L, fmt::format("ostrel.{}.{}", hook, mod_id));
  push_text(L, list);
  push_text(L, fmt::format("register_{}", hook));
  lua_pushboolean(L, repeat == OnRepeat::refuse ? 1 : 0);
  lua_pushcclosure(L, once_registrar, 5);
}

}  // namespace ostrel_core::script::lua_vm
