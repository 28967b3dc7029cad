#include "script/api/atmosphere_readers.hpp"

#include <fmt/format.h>

#include <lua.hpp>
#include <string>

#include "presentation/atmosphere.hpp"
#include "script/api/fields.hpp"
#include "script/lua_vm/convert.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

// The value at the top of the stack as f32, or none when nil; popped.
std::optional<float> pop_f32(lua_State* L, std::string_view fn, std::string_view field) {
  std::optional<float> out;
  if (!lua_isnil(L, -1)) out = fields::to_f32(fields::number_value(L, -1, fn, field));
  lua_pop(L, 1);
  return out;
}

}  // namespace

std::array<float, 3> channels_of(lua_State* L, int t, std::string_view fn, std::string_view field,
                                 const std::array<float, 3>& defaults) {
  t = lua_absindex(L, t);
  constexpr const char* kNames[3] = {"r", "g", "b"};
  std::array<float, 3> out = defaults;
  for (int i = 0; i < 3; ++i) {
    fields::raw_field(L, t, kNames[i]);
    const auto named = pop_f32(L, fn, fmt::format("{}.{}", field, kNames[i]));
    lua_rawgeti(L, t, i + 1);
    const auto placed = pop_f32(L, fn, fmt::format("{}[{}]", field, i + 1));
    if (named) {
      out[i] = *named;
    } else if (placed) {
      out[i] = *placed;
    }
  }
  return out;
}

std::optional<float> sky_stars_of(lua_State* L, int t) {
  std::optional<float> out;
  if (fields::raw_field(L, t, "stars") != LUA_TNIL) {
    const auto v = fields::read_number(L, -1);
    if (!v) {
      convert::raise(L,
                     "game.set_sky_modifier: `stars` is a number from 0 to 1, the brightness of the stars");
    }
    out = fields::to_f32(*v);
  }
  lua_pop(L, 1);
  return out;
}

std::optional<float> light_floor_of(lua_State* L, int t) {
  const int type = fields::raw_field(L, t, "light_floor");
  const double v = type == LUA_TNUMBER ? lua_tonumber(L, -1) : 0.0;
  lua_pop(L, 1);
  if (type == LUA_TNIL) return std::nullopt;
  // -0.0 compares equal to 0 and passes; NaN fails both tests.
  if (type != LUA_TNUMBER || !(v >= 0.0 && v <= 1.0)) {
    convert::raise(
        L, "game.set_sky_modifier: `light_floor` is a number from 0 to 1, the least the frame is lit at");
  }
  return static_cast<float>(v);
}

std::optional<double> rainbow_number(lua_State* L, int t, std::string_view name) {
  const int type = fields::raw_field(L, t, name);
  std::optional<double> out;
  if (type == LUA_TNUMBER) out = lua_tonumber(L, -1);
  const std::string kind(convert::type_name(L, -1));
  lua_pop(L, 1);
  if (type != LUA_TNIL && type != LUA_TNUMBER) {
    convert::raise(L, fmt::format("set_rainbow: `{}` must be a number, not {}", name, kind));
  }
  return out;
}

std::vector<std::uint8_t> cloud_layer_of(lua_State* L, int t, std::string_view name, std::uint8_t size,
                                         bool optional) {
  const std::string label = fmt::format("map.{}", name);
  std::vector<std::uint8_t> out;
  const int type = fields::raw_field(L, t, name);
  if (type == LUA_TNIL && optional) {
    lua_pop(L, 1);
    return out;
  }
  if (type != LUA_TTABLE) fields::field_error(L, "set_clouds", label, convert::mismatch(L, -1, "table"));
  // The length first: a layer of a million values is refused without walking it.
  const std::size_t given = lua_rawlen(L, -1);
  const std::size_t wanted = std::size_t{size} * size;
  if (given != wanted) {
    convert::raise(L, fmt::format("set_clouds: `{}` holds {} values for a {} x {} grid, which wants {}",
                                  label, given, size, size, wanted));
  }
  out.reserve(wanted);
  for (std::size_t i = 1; i <= wanted; ++i) {
    lua_rawgeti(L, -1, static_cast<lua_Integer>(i));
    const double v = fields::number_value(L, -1, "set_clouds", fmt::format("{}[{}]", label, i));
    lua_pop(L, 1);
    out.push_back(atmosphere::cloud_share_byte(fields::to_f32(v)));
  }
  lua_pop(L, 1);
  return out;
}

}  // namespace ostrel_core::script::lua_vm
