#include "script/api/terrain_read.hpp"

#include <fmt/format.h>

#include <lua.hpp>

#include "script/lua_vm/convert.hpp"

namespace ostrel_core::script::lua_vm::terrain_read {
namespace {

// Pushes t[key], read raw.
void push_field(lua_State* L, int t, const char* key) {
  t = lua_absindex(L, t);
  lua_pushstring(L, key);
  lua_rawget(L, t);
}

template <class I>
I integer_or(lua_State* L, int t, const char* key, I fallback) {
  push_field(L, t, key);
  const auto v = lua_isnil(L, -1) ? std::nullopt : std::optional(convert::to_integer<I>(L, -1));
  lua_pop(L, 1);
  return v && *v ? **v : fallback;
}

[[noreturn]] void bad_field(lua_State* L, std::string_view fn, const char* key, const std::string& why) {
  convert::raise(L, fmt::format("{}: bad field `{}` ({})", fn, key, why));
}

}  // namespace

std::uint32_t u32_or(lua_State* L, int t, const char* key, std::uint32_t fallback) {
  return integer_or<std::uint32_t>(L, t, key, fallback);
}

std::int32_t i32_or(lua_State* L, int t, const char* key, std::int32_t fallback) {
  return integer_or<std::int32_t>(L, t, key, fallback);
}

float f32_or(lua_State* L, int t, const char* key, float fallback) {
  push_field(L, t, key);
  const auto v = lua_isnil(L, -1) ? std::nullopt : std::optional(convert::to_number(L, -1));
  lua_pop(L, 1);
  return v && *v ? static_cast<float>(**v) : fallback;
}

std::string text_or(lua_State* L, int t, const char* key, std::string_view fallback) {
  push_field(L, t, key);
  auto v = lua_isnil(L, -1) ? std::nullopt : std::optional(convert::to_text(L, -1));
  lua_pop(L, 1);
  return v && *v ? std::move(**v) : std::string(fallback);
}

detgen::noise::NoiseOptions noise_options(lua_State* L, int t) {
  detgen::noise::NoiseOptions o;
  o.octaves = u32_or(L, t, "octaves", 4);
  o.frequency = f32_or(L, t, "frequency", 0.02f);
  o.lacunarity = f32_or(L, t, "lacunarity", 2.0f);
  o.gain = f32_or(L, t, "gain", 0.5f);
  o.shaping = detgen::noise::Shaping::Plain;
  return o;
}

std::int32_t i32_field(lua_State* L, int t, const char* key, std::string_view fn) {
  push_field(L, t, key);
  auto v = convert::to_integer<std::int32_t>(L, -1);
  lua_pop(L, 1);
  if (!v) bad_field(L, fn, key, v.error().text);
  return *v;
}

float f32_field(lua_State* L, int t, const char* key, std::string_view fn) {
  push_field(L, t, key);
  auto v = convert::to_number(L, -1);
  lua_pop(L, 1);
  if (!v) bad_field(L, fn, key, v.error().text);
  return static_cast<float>(*v);
}

}  // namespace ostrel_core::script::lua_vm::terrain_read
