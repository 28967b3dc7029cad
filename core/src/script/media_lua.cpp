#include "script/media_lua.hpp"

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <limits>
#include <system_error>

#include <fmt/format.h>
#include <lua.hpp>

#include "error.hpp"
#include "modload/files.hpp"

namespace ostrel_core::script::media::detail {

namespace fs = std::filesystem;

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

void refuse_closed(lua_State* L, std::string_view mod_id) {
  lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.frozen");
  const bool closed = lua_type(L, -1) == LUA_TBOOLEAN && lua_toboolean(L, -1) != 0;
  lua_pop(L, 1);
  if (closed) convert::raise(L, fmt::format("mod `{}`: registration is closed", mod_id));
}

void push_table(lua_State* L, std::string_view name) {
  if (lua_getfield(L, LUA_REGISTRYINDEX, std::string(name).c_str()) != LUA_TTABLE) {
    convert::raise(L, fmt::format("the engine's table \"{}\" cannot be read", name));
  }
}

void arg_table(lua_State* L, std::string_view fn) {
  if (lua_type(L, 1) != LUA_TTABLE) {
    convert::arg_error(L, 1, fn, convert::mismatch(L, 1, "table").text);
  }
}

std::string qualify(lua_State* L, std::string_view mod_id, std::string_view id) {
  const auto colon = id.find(':');
  if (colon == std::string_view::npos) return fmt::format("{}:{}", mod_id, id);
  if (id.substr(0, colon) != mod_id) {
    convert::raise(L, fmt::format("mod `{}` may not register into namespace `{}`: a mod owns only "
                                  "its own id as a namespace",
                                  mod_id, id.substr(0, colon)));
  }
  return std::string(id);
}

std::optional<std::string> unknown_key(lua_State* L, int t,
                                       std::initializer_list<std::string_view> allowed) {
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
      std::string out = convert::valid_utf8(key);
      lua_pop(L, 1);
      return out;
    }
  }
  return std::nullopt;
}

namespace {

[[noreturn]] void bad_field(lua_State* L, std::string_view fn, std::string_view field,
                            const convert::ConvertError& why) {
  convert::raise(L, fmt::format("{}: bad field `{}` ({})", fn, field, why.text));
}

}  // namespace

std::optional<double> opt_number(lua_State* L, int t, std::string_view field,
                                 std::string_view fn) {
  t = lua_absindex(L, t);
  push_text(L, field);
  if (lua_rawget(L, t) == LUA_TNIL) {
    lua_pop(L, 1);
    return std::nullopt;
  }
  auto v = convert::to_number(L, -1);
  if (!v) bad_field(L, fn, field, v.error());
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
  t = lua_absindex(L, t);
  push_text(L, field);
  if (lua_rawget(L, t) == LUA_TNIL) {
    lua_pop(L, 1);
    return std::nullopt;
  }
  auto v = convert::to_text(L, -1);
  if (!v) bad_field(L, fn, field, v.error());
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
  if (type != LUA_TTABLE) bad_field(L, fn, field, convert::mismatch(L, -1, "table"));
  return true;
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

namespace {

bool all_space(std::string_view s) {
  for (char c : s) {
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v') return false;
  }
  return true;
}

// The normalised path or why it is refused.
std::expected<std::string, std::string_view> check_path(std::string_view path) {
  std::string p(path);
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  if (all_space(p)) return std::unexpected("is empty");
  if (p.front() == '/' || p.find(':') != std::string::npos) return std::unexpected("is absolute");
  std::size_t start = 0;
  while (start <= p.size()) {
    const auto end = std::min(p.find('/', start), p.size());
    if (std::string_view(p).substr(start, end - start) == "..") {
      return std::unexpected("escapes the mod directory");
    }
    start = end + 1;
  }
  return p;
}

std::string path_refusal(std::string_view what, std::string_view path, std::string_view reason) {
  return fmt::format("{}: path `{}` {}. Paths are relative to your mod's own directory.", what,
                     path, reason);
}

}  // namespace

std::expected<std::string, std::string> validate_path(std::string_view what,
                                                      std::string_view path) {
  auto p = check_path(path);
  if (!p) return std::unexpected(path_refusal(what, path, p.error()));
  return std::move(*p);
}

std::string mod_path(lua_State* L, std::string_view what, std::string_view path) {
  auto p = validate_path(what, path);
  if (!p) convert::raise(L, p.error());
  return std::move(*p);
}

std::string mod_dir(lua_State* L, std::string_view what, std::string_view mod_id) {
  std::optional<std::string> dir;
  if (lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.mod_dirs") == LUA_TTABLE) {
    push_text(L, mod_id);
    if (lua_rawget(L, -2) == LUA_TSTRING) dir = read_text(L, -1);
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
  if (!dir) {
    convert::raise(L, fmt::format("{}: mod `{}` has no directory to read from", what, mod_id));
  }
  return std::move(*dir);
}

std::expected<std::string, std::string> locate_mod_file(std::string_view what,
                                                        std::string_view mod_id,
                                                        std::string_view dir,
                                                        std::string_view given,
                                                        std::string_view normalised) {
  std::error_code ec;
  const fs::path root = fs::canonical(fs::path(dir), ec);
  const auto missing = [&](const std::string& why) {
    return std::unexpected(fmt::format("{}: `{}` is not a file in mod `{}`'s directory: {}", what,
                                       given, mod_id, why));
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

}  // namespace ostrel_core::script::media::detail
