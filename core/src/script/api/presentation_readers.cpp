#include "script/api/presentation_readers.hpp"

#include <fmt/format.h>

#include <cmath>
#include <lua.hpp>

#include "base/text.hpp"
#include "script/api/fields.hpp"
#include "script/lua_vm/convert.hpp"

namespace ostrel_core::script::readers {
namespace {

// The value at the top as a 32-bit float, refused naming `label`.
float top_f32(lua_State* L, std::string_view fn, std::string_view label) {
  if (lua_type(L, -1) == LUA_TNUMBER) return fields::to_f32(lua_tonumber(L, -1));
  auto v = convert::to_number(L, -1);
  if (!v) fields::field_error(L, fn, label, v.error());
  return fields::to_f32(*v);
}

// The optional number `name` of `t` as a 32-bit float.
float f32_or(lua_State* L, int t, const char* name, std::string_view fn, std::string_view label, float absent) {
  float out = absent;
  if (fields::raw_field(L, t, name) != LUA_TNIL) out = top_f32(L, fn, label);
  lua_pop(L, 1);
  return out;
}

// `velocity` or `area`: a table of optional x, y, z.
particle::Vec3f vec_of(lua_State* L, int t, const char* name, std::string_view fn) {
  particle::Vec3f out{};
  const int type = fields::raw_field(L, t, name);
  if (type == LUA_TNIL) {
    lua_pop(L, 1);
    return out;
  }
  if (type != LUA_TTABLE) convert::raise(L, fmt::format("{}: `{}` is a table {{ x, y, z }}", fn, name));
  const int v = lua_gettop(L);
  const char* axes[3] = {"x", "y", "z"};
  for (int a = 0; a < 3; ++a) out[a] = f32_or(L, v, axes[a], fn, fmt::format("{}.{}", name, axes[a]), 0.0f);
  lua_pop(L, 1);
  return out;
}

}  // namespace

particle::Colour colour_of(lua_State* L, int t, std::string_view fn) {
  particle::Colour out{255, 255, 255, 255};
  const int type = fields::raw_field(L, t, "colour");
  if (type == LUA_TNIL) {
    lua_pop(L, 1);
    return out;
  }
  if (type != LUA_TTABLE) convert::raise(L, fmt::format("{}: `colour` is a table {{ r, g, b, a }}", fn));
  const int c = lua_gettop(L);
  const char* channels[4] = {"r", "g", "b", "a"};
  for (int i = 0; i < 4; ++i) {
    if (fields::raw_field(L, c, channels[i]) != LUA_TNIL) {
      const float v = top_f32(L, fn, fmt::format("colour.{}", channels[i]));
      if (!std::isnan(v)) {
        // 0..1 to 0..255, cut toward zero: 0.5 is 127.
        const float scaled = std::fmin(std::fmax(v, 0.0f), 1.0f) * 255.0f;
        out[i] = static_cast<std::uint8_t>(std::fmin(scaled, 255.0f));
      }
    }
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
  return out;
}

particle::Burst burst_of(lua_State* L, int t, std::string_view fn) {
  t = lua_absindex(L, t);
  particle::Burst b;
  b.pos = {0.0, 0.0, 0.0};
  b.count = 0;
  b.colour = colour_of(L, t, fn);
  b.size = f32_or(L, t, "size", fn, "size", 0.1f);
  b.lifetime = f32_or(L, t, "lifetime", fn, "lifetime", 1.0f);
  b.velocity = vec_of(L, t, "velocity", fn);
  b.spread = f32_or(L, t, "spread", fn, "spread", 0.0f);
  b.area = vec_of(L, t, "area", fn);
  b.gravity = f32_or(L, t, "gravity", fn, "gravity", 0.0f);
  b.collide = fields::get_truth(L, t, "collide", true);
  if (fields::raw_field(L, t, "texture") != LUA_TNIL) {
    lua_pop(L, 1);
    b.texture = content_hash(L, t, "texture", fn);
  } else {
    lua_pop(L, 1);
  }
  return b;
}

particle::Hash content_hash(lua_State* L, int t, std::string_view key, std::string_view fn) {
  t = lua_absindex(L, t);
  const int type = fields::raw_field(L, t, key);
  if (type == LUA_TSTRING) {
    const std::string hex = client_text(L, -1, fn, key);
    lua_pop(L, 1);
    if (auto bytes = text::bytes_from_hex(hex)) return *bytes;
  } else if (type == LUA_TTABLE) {
    particle::Hash out{};
    const int list = lua_gettop(L);
    // One past the hash's length is enough to know the list is too long.
    std::size_t n = 0;
    for (; n <= out.size(); ++n) {
      if (lua_rawgeti(L, list, static_cast<lua_Integer>(n) + 1) == LUA_TNIL) {
        lua_pop(L, 1);
        break;
      }
      if (n == out.size()) {
        lua_pop(L, 1);
        ++n;
        break;
      }
      out[n] = fields::integer_value<std::uint8_t>(L, -1, fn, fmt::format("{}[{}]", key, n + 1));
      lua_pop(L, 1);
    }
    lua_pop(L, 1);
    if (n != out.size()) convert::raise(L, fmt::format("`{}` must be 32 bytes of content hash", key));
    return out;
  } else {
    lua_pop(L, 1);
  }
  convert::raise(L, fmt::format("`{}` must be a content hash: 64 hex characters, as game.content_hash answers", key));
}

std::array<double, 3> point_of(lua_State* L, int t, std::string_view fn) {
  std::array<double, 3> out{};
  constexpr std::string_view kLabels[3] = {"pos.x", "pos.y", "pos.z"};
  for (int a = 0; a < 3; ++a) {
    fields::raw_field(L, t, kLabels[a].substr(4));
    if (lua_type(L, -1) == LUA_TNUMBER) {
      out[a] = lua_tonumber(L, -1);
    } else {
      auto v = convert::to_number(L, -1);
      if (!v) fields::field_error(L, fn, kLabels[a], v.error());
      out[a] = *v;
    }
    lua_pop(L, 1);
  }
  return out;
}

std::string client_text(lua_State* L, int idx, std::string_view fn, std::string_view field) {
  auto v = convert::to_utf8(L, idx);
  if (!v) fields::field_error(L, fn, field, v.error());
  return std::move(*v);
}

}  // namespace ostrel_core::script::readers
