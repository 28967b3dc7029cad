#include "script/api/readers.hpp"

#include <fmt/format.h>

#include <climits>
#include <cmath>
#include <limits>
#include <lua.hpp>

#include "base/num.hpp"
#include "script/api/fields.hpp"
#include "script/lua_vm/convert.hpp"

namespace ostrel_core::script::readers {

std::expected<identity::PlayerUuid, std::string> player_of(std::string_view text, std::string_view fn) {
  auto id = identity::PlayerUuid::from_hex(text);
  if (!id)
    return std::unexpected(fmt::format("{} takes a player UUID in hex, as a hook event reports one", fn));
  return *id;
}

std::expected<std::optional<identity::PlayerUuid>, std::string> player_field(lua_State* L, int t,
                                                                             std::string_view fn) {
  const int type = fields::raw_field(L, t, "player");
  if (type == LUA_TNIL) {
    lua_pop(L, 1);
    return std::nullopt;
  }
  auto text = type == LUA_TSTRING || type == LUA_TNUMBER
                  ? convert::to_text(L, -1)
                  : std::expected<std::string, convert::ConvertError>(
                        std::unexpected(convert::mismatch(L, -1, "string")));
  lua_pop(L, 1);
  if (!text) return std::unexpected(fmt::format("{}: bad field `player` ({})", fn, text.error().text));
  auto id = identity::PlayerUuid::from_hex(*text);
  if (!id) {
    return std::unexpected(
        fmt::format("{}: `player` is a player's UUID in hex, not `{}`", fn, convert::valid_utf8(*text)));
  }
  return std::optional(*id);
}

std::expected<std::optional<std::uint64_t>, std::string> entity_id_in(lua_State* L, int t) {
  if (fields::raw_field(L, t, "entity") == LUA_TNIL) {
    lua_pop(L, 1);
    return std::nullopt;
  }
  auto bits = convert::bits_from_lua(L, -1, "an entity id");
  lua_pop(L, 1);
  if (!bits) return std::unexpected(std::move(bits.error()));
  return std::optional(*bits);
}

BlockAt block_position(lua_State* L, int t, std::string_view fn) {
  t = lua_absindex(L, t);
  std::int32_t xyz[3] = {};
  const char* axes[3] = {"x", "y", "z"};
  for (int a = 0; a < 3; ++a) {
    lua_pushstring(L, axes[a]);
    const int type = lua_rawget(L, t);
    int is_integer = 0;
    const lua_Integer whole = lua_tointegerx(L, -1, &is_integer);
    if (type == LUA_TNUMBER && is_integer != 0 && whole >= INT32_MIN && whole <= INT32_MAX) {
      xyz[a] = static_cast<std::int32_t>(whole);  // the common case, without the general reader
    } else {
      // Numbers only: a coordinate given as text is a mistake, not a number to coerce.
      auto v = type == LUA_TNUMBER ? convert::to_integer<std::int32_t>(L, -1)
                                   : std::expected<std::int32_t, convert::ConvertError>(
                                         std::unexpected(convert::mismatch(L, -1, "integer")));
      if (!v) fields::field_error(L, fn, axes[a], v.error());
      xyz[a] = *v;
    }
    lua_pop(L, 1);
  }
  // Read as convert::domain_of reads it, but refused naming the function.
  BlockAt out{std::string(), coords::BlockPos{xyz[0], xyz[1], xyz[2]}};
  if (fields::raw_field(L, t, "domain") != LUA_TNIL) out.domain = fields::text_value(L, -1, fn, "domain");
  lua_pop(L, 1);
  if (out.domain.empty()) out.domain = "overworld";
  return out;
}

std::array<double, 3> point(lua_State* L, int t, std::string_view fn, std::string_view prefix) {
  t = lua_absindex(L, t);
  std::array<double, 3> out{};
  const char* axes[3] = {"x", "y", "z"};
  for (int a = 0; a < 3; ++a) {
    fields::raw_field(L, t, axes[a]);
    if (lua_type(L, -1) == LUA_TNUMBER) {
      out[a] = static_cast<double>(lua_tonumber(L, -1));  // the common case
    } else {
      out[a] = fields::number_value(L, -1, fn, fmt::format("{}{}", prefix, axes[a]));
    }
    lua_pop(L, 1);
  }
  return out;
}

bool in_world(const std::array<double, 3>& blocks) {
  constexpr double kLowest = -60000.0;
  constexpr double kPastHighest = 60000.0;  // block 59999 ends here
  for (const double v : blocks) {
    if (!(v >= kLowest && v < kPastHighest)) return false;
  }
  return true;
}

std::expected<std::array<std::uint8_t, 3>, std::string> tint_bytes(lua_State* L, int t) {
  std::array<std::uint8_t, 3> out{};
  const char* channels[3] = {"r", "g", "b"};
  for (int c = 0; c < 3; ++c) {
    double v = 1.0;
    if (fields::raw_field(L, t, channels[c]) != LUA_TNIL) {
      const auto n = lua_type(L, -1) == LUA_TNUMBER ? fields::read_number(L, -1) : std::nullopt;
      if (!n || !std::isfinite(*n) || *n < 0.0 || *n > 1.0) {
        auto got = fields::value_text(L, -1);
        lua_pop(L, 1);
        return std::unexpected(fmt::format("set_entity: tint.{} must be 0..=1, got {}", channels[c], got));
      }
      v = *n;
    }
    lua_pop(L, 1);
    out[c] = static_cast<std::uint8_t>(std::min(255.0, std::floor(v * 255.0 + 0.5)));
  }
  return out;
}

void tint_table(lua_State* L, std::uint32_t packed) {
  lua_createtable(L, 0, 3);
  const char* channels[3] = {"r", "g", "b"};
  for (int c = 0; c < 3; ++c) {
    lua_pushnumber(L, static_cast<double>((packed >> (8 * c)) & 0xFF) / 255.0);
    lua_setfield(L, -2, channels[c]);
  }
}

}  // namespace ostrel_core::script::readers
