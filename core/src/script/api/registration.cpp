#include "script/api/registration.hpp"

#include <filesystem>
#include <system_error>

#include <fmt/format.h>
#include <lua.hpp>

#include "base/error.hpp"
#include "modload/files.hpp"
#include "script/api/fields.hpp"
#include "script/lua_vm/state.hpp"

namespace ostrel_core::script::lua_vm {

namespace fs = std::filesystem;

bool frozen(lua_State* L) {
  lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.frozen");
  const bool out = lua_type(L, -1) == LUA_TBOOLEAN && lua_toboolean(L, -1) != 0;
  lua_pop(L, 1);
  return out;
}

void refuse_if_frozen(lua_State* L, std::string_view mod_id) {
  if (frozen(L)) convert::raise(L, fmt::format("mod `{}`: registration is closed", mod_id));
}

void push_registry_table(lua_State* L, std::string_view name) {
  if (lua_getfield(L, LUA_REGISTRYINDEX, std::string(name).c_str()) != LUA_TTABLE) {
    convert::raise(L, fmt::format("the engine's table \"{}\" cannot be read", name));
  }
}

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

std::optional<std::string> registration_id(lua_State* L, int table) {
  const int t = fields::raw_field(L, table, "id");
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

std::string mod_path(lua_State* L, std::string_view what, std::string_view path) {
  auto p = validate_mod_path(path, what);
  if (!p) convert::raise(L, p.error());
  return std::move(*p);
}

std::expected<std::string, std::string> find_mod_dir(lua_State* L, std::string_view what,
                                                     std::string_view mod_id) {
  std::optional<std::string> dir;
  if (lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.mod_dirs") == LUA_TTABLE) {
    push_text(L, mod_id);
    if (lua_rawget(L, -2) == LUA_TSTRING) dir = fields::read_text(L, -1);
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
  if (!dir) {
    return std::unexpected(fmt::format("{}: mod `{}` has no directory to read from", what, mod_id));
  }
  return std::move(*dir);
}

std::string mod_dir(lua_State* L, std::string_view what, std::string_view mod_id) {
  auto dir = find_mod_dir(L, what, mod_id);
  if (!dir) convert::raise(L, dir.error());
  return std::move(*dir);
}

std::string not_a_mod_file(std::string_view what, std::string_view given,
                           std::string_view mod_id, std::string_view why) {
  return fmt::format("{}: `{}` is not a file in mod `{}`'s directory: {}", what, given, mod_id,
                     why);
}

std::expected<std::string, std::string> locate_mod_file(std::string_view what,
                                                        std::string_view mod_id,
                                                        std::string_view dir,
                                                        std::string_view given,
                                                        std::string_view normalised) {
  std::error_code ec;
  const fs::path root = fs::canonical(fs::path(dir), ec);
  const auto missing = [&](const std::string& why) {
    return std::unexpected(not_a_mod_file(what, given, mod_id, why));
  };
  if (ec) return missing(IoError::from_errno(ec.value()).message());
  const fs::path full = fs::canonical(root / fs::path(normalised), ec);
  if (ec) return missing(IoError::from_errno(ec.value()).message());
  if (!modload::files::lies_within(root, full)) {
    return std::unexpected(path_refusal(what, given, "escapes the mod directory"));
  }
  const auto st = fs::status(full, ec);
  if (ec) return missing(IoError::from_errno(ec.value()).message());
  if (!fs::is_regular_file(st)) return missing("not a regular file");
  return full.string();
}

std::string require_mod_file(lua_State* L, std::string_view what, std::string_view mod_id,
                             std::string_view path) {
  std::string p = mod_path(L, what, path);
  const std::string dir = mod_dir(L, what, mod_id);
  auto found = locate_mod_file(what, mod_id, dir, path, p);
  if (!found) convert::raise(L, found.error());
  return p;
}

void each_entry(const lua_vm::LuaVm& vm, const char* name,
                const std::function<bool(lua_State*, int)>& fn) {
  read_registry_table(vm, name, [&](lua_State* L, int list) {
    for (lua_Integer i = 1;; ++i) {
      const int t = lua_rawgeti(L, list, i);
      if (t == LUA_TNIL) break;
      if (t == LUA_TTABLE && !fn(L, lua_gettop(L))) break;
      lua_pop(L, 1);
    }
  });
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
