// The material lookups of `game`: id to number and back, hardness, tags and blocks by tag.
// They read the block tables and change nothing; no phase check.

#include <algorithm>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <lua.hpp>

#include "script/api/fields.hpp"
#include "script/api/registration.hpp"
#include "script/lua_vm/state.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

// Pushes the rules table of `id`; false (nothing pushed) when there is none.
bool push_rules(lua_State* L, std::string_view id) {
  push_registry_table(L, "ostrel.block_rules");
  lua_pushlstring(L, id.data(), id.size());
  if (lua_rawget(L, -2) != LUA_TTABLE) {
    lua_pop(L, 2);
    return false;
  }
  lua_remove(L, -2);
  return true;
}

int get_block_id(lua_State* L) {
  const std::string id = convert::arg_text(L, 1, "get_block_id");
  push_registry_table(L, "ostrel.blocks");
  lua_pushlstring(L, id.data(), id.size());
  lua_rawget(L, -2);
  if (!lua_isinteger(L, -1)) convert::raise(L, fmt::format("no block registered with id `{}`", id));
  return 1;
}

int block_of(lua_State* L) {
  const auto material = convert::arg_integer<std::uint16_t>(L, 1, "block_of");
  const auto name = block_name_of(L, material);
  if (!name) {
    lua_pushnil(L);
    return 1;
  }
  lua_pushlstring(L, name->data(), name->size());
  return 1;
}

int hardness(lua_State* L) {
  const auto material = convert::arg_integer<std::uint16_t>(L, 1, "hardness");
  const auto name = block_name_of(L, material);
  if (!name) {
    lua_pushnil(L);
    return 1;
  }
  float v = 0.75f;
  if (push_rules(L, *name)) v = fields::get_f32(L, -1, "hardness").value_or(v);
  lua_pushnumber(L, static_cast<double>(v));
  return 1;
}

int tags(lua_State* L) {
  const auto material = convert::arg_integer<std::uint16_t>(L, 1, "tags");
  const auto name = block_name_of(L, material);
  if (!name) {
    lua_pushnil(L);
    return 1;
  }
  lua_newtable(L);
  const int out = lua_gettop(L);
  if (push_rules(L, *name) && fields::raw_field(L, -1, "tags") == LUA_TTABLE) {
    const int list = lua_gettop(L);
    for (lua_Integer i = 1;; ++i) {
      if (lua_rawgeti(L, list, i) == LUA_TNIL) break;
      auto text = convert::to_text(L, -1);
      if (!text) convert::raise(L, fmt::format("tags: {}", text.error().text));
      lua_pop(L, 1);
      lua_pushlstring(L, text->data(), text->size());
      lua_rawseti(L, out, i);
    }
  }
  lua_settop(L, out);
  return 1;
}

int tagged(lua_State* L) {
  const std::string tag = convert::arg_text(L, 1, "tagged");
  lua_settop(L, 1);
  push_registry_table(L, "ostrel.blocks");  // 2
  push_registry_table(L, "ostrel.items");   // 3
  std::vector<std::pair<lua_Integer, std::string>> found;
  lua_pushnil(L);
  while (lua_next(L, 2) != 0) {
    if (lua_type(L, -2) == LUA_TSTRING && lua_isinteger(L, -1)) {
      const lua_Integer n = lua_tointeger(L, -1);
      std::string id = *convert::to_text(L, -2);
      lua_pushvalue(L, -2);
      const bool item = lua_rawget(L, 3) != LUA_TNIL;
      lua_pop(L, 1);
      if (!item) {
        const int top = lua_gettop(L);
        bool carried = false;
        if (push_rules(L, id) && fields::raw_field(L, -1, "tags") == LUA_TTABLE) {
          for (lua_Integer i = 1; !carried; ++i) {
            const int t = lua_rawgeti(L, -1, i);
            if (t == LUA_TNIL) break;
            if (t == LUA_TSTRING || t == LUA_TNUMBER) carried = *convert::to_text(L, -1) == tag;
            lua_pop(L, 1);
          }
        }
        lua_settop(L, top);
        if (carried) found.emplace_back(n, std::move(id));
      }
    }
    lua_pop(L, 1);
  }
  std::sort(found.begin(), found.end());
  lua_createtable(L, static_cast<int>(std::min<std::size_t>(found.size(), 1 << 16)), 0);
  lua_Integer i = 0;
  for (const auto& [n, id] : found) {
    lua_pushlstring(L, id.data(), id.size());
    lua_rawseti(L, -2, ++i);
  }
  return 1;
}

}  // namespace

void set_lookup_functions(lua_State* L, int game) {
  const std::pair<const char*, lua_CFunction> fns[] = {{"get_block_id", get_block_id},
                                                       {"block_of", block_of},
                                                       {"hardness", hardness},
                                                       {"tags", tags},
                                                       {"tagged", tagged}};
  for (const auto& [name, fn] : fns) {
    lua_pushcfunction(L, fn);
    lua_setfield(L, game, name);
  }
}

}  // namespace ostrel_core::script::lua_vm
