#pragma once
// Field reading for the generation functions' tables, on the engine's field vocabulary
// (script/api/fields.hpp). Fields are read raw (no metamethod runs).
//
// Optional fields are lenient: absent, nil or a value that does not convert gives the default,
// never an error. Required fields raise the conversion error "{fn}: bad field `{key}` ({why})".
//
// REQUIRES: called on the engine's thread, where a Lua error may be raised; `t` is a table.

#include <cstdint>
#include <string>
#include <string_view>

#include "detgen/noise.hpp"

struct lua_State;

namespace ostrel_core::script::lua_vm::terrain_read {

std::uint32_t u32_or(lua_State* L, int t, const char* key, std::uint32_t fallback);
std::int32_t i32_or(lua_State* L, int t, const char* key, std::int32_t fallback);
float f32_or(lua_State* L, int t, const char* key, float fallback);
std::string text_or(lua_State* L, int t, const char* key, std::string_view fallback);

// The fractal options of a noise node or an options table: `octaves` (4), `frequency` (0.02),
// `lacunarity` (2.0) and `gain` (0.5), shaping Plain. Never fails.
detgen::noise::NoiseOptions noise_options(lua_State* L, int t);

std::int32_t i32_field(lua_State* L, int t, const char* key, std::string_view fn);
// A number rounded to single precision (beyond its range: infinite; NaN stays NaN).
float f32_field(lua_State* L, int t, const char* key, std::string_view fn);

}  // namespace ostrel_core::script::lua_vm::terrain_read
