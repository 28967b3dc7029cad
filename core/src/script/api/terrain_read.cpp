#include "script/api/terrain_read.hpp"

#include <lua.hpp>

#include "script/api/fields.hpp"

namespace ostrel_core::script::lua_vm::terrain_read {

std::uint32_t u32_or(lua_State* L, int t, const char* key, std::uint32_t fallback) {
  return fields::get_integer<std::uint32_t>(L, t, key).value_or(fallback);
}

std::int32_t i32_or(lua_State* L, int t, const char* key, std::int32_t fallback) {
  return fields::get_integer<std::int32_t>(L, t, key).value_or(fallback);
}

float f32_or(lua_State* L, int t, const char* key, float fallback) {
  return fields::get_f32(L, t, key).value_or(fallback);
}

std::string text_or(lua_State* L, int t, const char* key, std::string_view fallback) {
  return fields::get_text(L, t, key).value_or(std::string(fallback));
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
  fields::raw_field(L, t, key);
  const auto v = fields::integer_value<std::int32_t>(L, -1, fn, key);
  lua_pop(L, 1);
  return v;
}

float f32_field(lua_State* L, int t, const char* key, std::string_view fn) {
  fields::raw_field(L, t, key);
  const double v = fields::number_value(L, -1, fn, key);
  lua_pop(L, 1);
  return fields::to_f32(v);
}

}  // namespace ostrel_core::script::lua_vm::terrain_read
