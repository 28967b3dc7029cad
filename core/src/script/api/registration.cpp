// The shared pieces of the content functions and the installer that puts them into a mod's
// `game` table.

#include "script/read/records.hpp"

#include <fmt/format.h>
#include <lua.hpp>

#include "base/num.hpp"
#include "script/api/content_lua.hpp"
#include "script/lua_vm/lua_vm_impl.hpp"

namespace ostrel_core::script::lua_vm {

std::string_view upvalue_text(lua_State* L, int i) {
  std::size_t len = 0;
  const char* p = lua_tolstring(L, lua_upvalueindex(i), &len);
  return {p, len};
}

void push_text(lua_State* L, std::string_view s) { lua_pushlstring(L, s.data(), s.size()); }

void set_function(lua_State* L, int game, const char* name, int (*fn)(lua_State*),
                  std::string_view mod_id) {
  push_text(L, mod_id);
  lua_pushcclosure(L, fn, 1);
  lua_setfield(L, game, name);
}

int raw_field(lua_State* L, int t, std::string_view name) {
  t = lua_absindex(L, t);
  lua_pushlstring(L, name.data(), name.size());
  return lua_rawget(L, t);
}

std::optional<std::string> unknown_key(lua_State* L, int t,
                                       std::span<const std::string_view> allowed) {
  t = lua_absindex(L, t);
  lua_pushnil(L);
  while (lua_next(L, t) != 0) {
    lua_pop(L, 1);
    if (lua_type(L, -1) != LUA_TSTRING) continue;
    std::size_t len = 0;
    const char* p = lua_tolstring(L, -1, &len);
    const std::string_view key(p, len);
    bool known = false;
    for (auto a : allowed) known = known || a == key;
    if (!known) {
      std::string out(key);
      lua_pop(L, 1);
      return out;
    }
  }
  return std::nullopt;
}

std::optional<std::string> spec_id(lua_State* L, int spec) {
  const int t = raw_field(L, spec, "id");
  std::optional<std::string> out;
  if (t == LUA_TSTRING || t == LUA_TNUMBER) out = *convert::to_text(L, -1);
  lua_pop(L, 1);
  return out;
}

std::string qualify(lua_State* L, std::string_view mod_id, std::string_view id) {
  auto q = convert::qualify_id(mod_id, id);
  if (!q) convert::raise(L, q.error());
  return std::move(*q);
}

std::optional<std::string> read_text(lua_State* L, int idx) {
  const int t = lua_type(L, idx);
  if (t != LUA_TSTRING && t != LUA_TNUMBER) return std::nullopt;
  auto v = convert::to_text(L, idx);
  if (!v) return std::nullopt;
  return std::move(*v);
}

std::optional<double> read_number(lua_State* L, int idx) {
  auto v = convert::to_number(L, idx);
  if (!v) return std::nullopt;
  return *v;
}

std::string value_text(lua_State* L, int idx) {
  if (lua_type(L, idx) != LUA_TNUMBER) return std::string(convert::type_name(L, idx));
  if (lua_isinteger(L, idx)) return fmt::format("{}", lua_tointeger(L, idx));
  return num::format_number(static_cast<double>(lua_tonumber(L, idx)));
}

void field_error(lua_State* L, std::string_view ctx, std::string_view field,
                 const convert::ConvertError& why) {
  convert::raise(L, fmt::format("{}: bad field `{}` ({})", ctx, field, why.text));
}

void arg_table(lua_State* L, std::string_view fn) {
  if (lua_type(L, 1) != LUA_TTABLE) {
    convert::arg_error(L, 1, fn, convert::mismatch(L, 1, "table").text);
  }
}

std::expected<std::string, std::string_view> check_mod_path(std::string_view path) {
  std::string copy(path);
  for (auto& c : copy) {
    if (c == '\\') c = '/';
  }
  if (copy.find_first_not_of(" \t\n\v\f\r") == std::string::npos) {
    return std::unexpected(std::string_view("is empty"));
  }
  if (copy.front() == '/' || copy.find(':') != std::string::npos) {
    return std::unexpected(std::string_view("is absolute"));
  }
  std::string_view rest = copy;
  while (true) {
    const auto slash = rest.find('/');
    if (rest.substr(0, slash) == "..") return std::unexpected(std::string_view("escapes the mod directory"));
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  return copy;
}

std::string path_refusal(std::string_view ctx, std::string_view path, std::string_view reason) {
  return fmt::format("{}: path `{}` {}. Paths are relative to your mod's own directory.", ctx, path,
                     reason);
}

std::expected<std::string, std::string> validate_mod_path(std::string_view path,
                                                          std::string_view ctx) {
  auto r = check_mod_path(path);
  if (!r) return std::unexpected(path_refusal(ctx, path, r.error()));
  return std::move(*r);
}

std::optional<std::string> block_name_of(lua_State* L, std::uint16_t material) {
  push_registry_table(L, "ostrel.blocks");
  const int blocks = lua_gettop(L);
  std::optional<std::string> out;
  lua_pushnil(L);
  while (lua_next(L, blocks) != 0) {
    if (lua_type(L, -2) == LUA_TSTRING && lua_isinteger(L, -1) &&
        lua_tointeger(L, -1) == static_cast<lua_Integer>(material)) {
      out = *convert::to_text(L, -2);
      lua_pop(L, 2);
      break;
    }
    lua_pop(L, 1);
  }
  lua_settop(L, blocks - 1);
  return out;
}

void read_registry_table(const LuaVm& vm, std::string_view name,
                         const std::function<void(lua_State*, int)>& read) {
  (void)protect(vm.state(), [&](lua_State* s) {
    if (lua_getfield(s, LUA_REGISTRYINDEX, std::string(name).c_str()) != LUA_TTABLE) return;
    read(s, lua_gettop(s));
  });
}

std::expected<void, vm::ScriptError> install_content(lua_State* L, std::string_view mod_id,
                                                     int game_idx) {
  lua_pushvalue(L, game_idx);
  auto r = protect(L, 1, [&](lua_State* s) {
    set_block_functions(s, mod_id, 1);
    set_lookup_functions(s, 1);
    set_tool_functions(s, mod_id, 1);
    set_fluid_functions(s, mod_id, 1);
    set_domain_functions(s, mod_id, 1);
  });
  if (!r) return std::unexpected(engine_error(r.error()));
  return {};
}

}  // namespace ostrel_core::script::lua_vm
