#include "script/api/media_lua.hpp"

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <limits>
#include <system_error>

#include <fmt/format.h>
#include <lua.hpp>

#include "base/error.hpp"
#include "modload/files.hpp"
#include "script/api/content_lua.hpp"

namespace ostrel_core::script::media::detail {

namespace fs = std::filesystem;

std::optional<std::string> unknown_key(lua_State* L, int t,
                                       std::initializer_list<std::string_view> allowed) {
  auto k = lua_vm::unknown_key(L, t, allowed);
  if (!k) return std::nullopt;
  return convert::valid_utf8(*k);
}

namespace {

// Pushes the raw field and answers true when it is present; pushes nothing when it is nil.
bool push_present(lua_State* L, int t, std::string_view field) {
  t = lua_absindex(L, t);
  push_text(L, field);
  if (lua_rawget(L, t) != LUA_TNIL) return true;
  lua_pop(L, 1);
  return false;
}

}  // namespace

std::optional<double> opt_number(lua_State* L, int t, std::string_view field,
                                 std::string_view fn) {
  if (!push_present(L, t, field)) return std::nullopt;
  auto v = convert::to_number(L, -1);
  if (!v) lua_vm::field_error(L, fn, field, v.error());
  lua_pop(L, 1);
  return *v;
}

float to_f32(double v) {
  constexpr double kMax = std::numeric_limits<float>::max();
  if (v > kMax) return std::numeric_limits<float>::infinity();
  if (v < -kMax) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(v);  // NaN stays NaN
}

std::optional<float> opt_f32(lua_State* L, int t, std::string_view field, std::string_view fn) {
  auto v = opt_number(L, t, field, fn);
  if (!v) return std::nullopt;
  return to_f32(*v);
}

std::optional<std::string> opt_text(lua_State* L, int t, std::string_view field,
                                    std::string_view fn) {
  if (!push_present(L, t, field)) return std::nullopt;
  auto v = convert::to_text(L, -1);
  if (!v) lua_vm::field_error(L, fn, field, v.error());
  lua_pop(L, 1);
  return std::move(*v);
}

bool opt_table(lua_State* L, int t, std::string_view field, std::string_view fn) {
  t = lua_absindex(L, t);
  push_text(L, field);
  const int type = lua_rawget(L, t);
  if (type == LUA_TNIL) {
    lua_pop(L, 1);
    return false;
  }
  if (type != LUA_TTABLE) lua_vm::field_error(L, fn, field, convert::mismatch(L, -1, "table"));
  return true;
}

std::string required_text(lua_State* L, int t, std::string_view field, std::string_view fn) {
  auto v = opt_text(L, t, field, fn);
  if (!v) {
    lua_pushnil(L);
    lua_vm::field_error(L, fn, field, convert::mismatch(L, -1, "string"));
  }
  return std::move(*v);
}

std::string mod_path(lua_State* L, std::string_view what, std::string_view path) {
  auto p = lua_vm::validate_mod_path(path, what);
  if (!p) convert::raise(L, p.error());
  return std::move(*p);
}

std::expected<std::string, std::string> find_mod_dir(lua_State* L, std::string_view what,
                                                     std::string_view mod_id) {
  std::optional<std::string> dir;
  if (lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.mod_dirs") == LUA_TTABLE) {
    push_text(L, mod_id);
    if (lua_rawget(L, -2) == LUA_TSTRING) dir = read_text(L, -1);
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
    return std::unexpected(lua_vm::path_refusal(what, given, "escapes the mod directory"));
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
  lua_vm::read_registry_table(vm, name, [&](lua_State* L, int list) {
    for (lua_Integer i = 1;; ++i) {
      const int t = lua_rawgeti(L, list, i);
      if (t == LUA_TNIL) break;
      if (t == LUA_TTABLE && !fn(L, lua_gettop(L))) break;
      lua_pop(L, 1);
    }
  });
}

std::optional<std::string> text_field(lua_State* L, int e, const char* name) {
  lua_pushstring(L, name);
  lua_rawget(L, e);
  auto v = lua_type(L, -1) == LUA_TSTRING ? read_text(L, -1) : std::nullopt;
  lua_pop(L, 1);
  return v;
}

std::optional<float> f32_field(lua_State* L, int e, const char* name) {
  lua_pushstring(L, name);
  lua_rawget(L, e);
  auto v = read_number(L, -1);
  lua_pop(L, 1);
  if (!v) return std::nullopt;
  return to_f32(*v);
}

}  // namespace ostrel_core::script::media::detail
