#pragma once
// The readers of the weather and sky functions (runtime_atmosphere.cpp, runtime_lightning.cpp):
// colours by name or position, the sky modifier's own fields, the rainbow's numbers and the cloud
// map's layers. Each raises its refusal as a Lua error naming the function. The engine's own
// header: not for use outside core/src/script.
//
// REQUIRES for every function: called on the engine's thread, where a Lua error may be raised.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

struct lua_State;

namespace ostrel_core::script::lua_vm {

// Three f32 channels of the table at `t`: red is `r`, else `[1]`; green `g`, else `[2]`; blue
// `b`, else `[3]`; a channel given neither way takes its default. Both forms of every channel are
// read, in the order r, [1], g, [2], b, [3], so a value of the wrong type under either is the
// conversion error "{fn}: bad field `{field}.r` (...)" (or `{field}[1]`).
std::array<float, 3> channels_of(lua_State* L, int t, std::string_view fn, std::string_view field,
                                 const std::array<float, 3>& defaults);

// set_sky_modifier's `stars`: none when absent; a value that is not a number is refused with
// "game.set_sky_modifier: `stars` is a number from 0 to 1, the brightness of the stars".
std::optional<float> sky_stars_of(lua_State* L, int t);
// set_sky_modifier's `light_floor`: none when absent or nil; a number from 0 to 1 inclusive as
// given; anything else (outside, NaN, not a number) refused with "game.set_sky_modifier:
// `light_floor` is a number from 0 to 1, the least the frame is lit at".
std::optional<float> light_floor_of(lua_State* L, int t);

// set_rainbow's field `name` of the table at `t`: none for nil, an integer or float as a double;
// any other kind refused with "set_rainbow: `{name}` must be a number, not {type}".
std::optional<double> rainbow_number(lua_State* L, int t, std::string_view name);

// The cloud map layer `name` of the `map` table at `t`, one byte per value (see
// atmosphere::cloud_share_byte). Its raw length is compared with size * size before any value is
// read: "set_clouds: `map.{name}` holds {n} values for a {size} x {size} grid, which wants {n}".
// An absent layer is refused as a missing table unless `optional`, when it is empty.
std::vector<std::uint8_t> cloud_layer_of(lua_State* L, int t, std::string_view name, std::uint8_t size,
                                         bool optional);

}  // namespace ostrel_core::script::lua_vm
