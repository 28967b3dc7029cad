#pragma once
// The readers the presentation functions share: a burst's shape, a colour, a content hash and
// texts bound for a client. Each raises its refusal as a Lua error, so each runs where one may be
// raised (a `game` function, before any slot is locked). The engine's own header: not for use
// outside core/src/script.
//
// REQUIRES for every function: called on the engine's thread; `t` is a stack index holding a
// table.

#include <array>
#include <string>
#include <string_view>

#include "presentation/particle.hpp"

struct lua_State;

namespace ostrel_core::script::readers {

// The field `colour` of `t`: absent or nil is white and opaque; anything but a table is refused
// with "{fn}: `colour` is a table { r, g, b, a }". Each of `r`, `g`, `b`, `a` is an optional
// number: absent or NaN gives 255, else clamped to 0..=1, times 255, cut toward zero (0.5 is 127).
particle::Colour colour_of(lua_State* L, int t, std::string_view fn);

// The shape of a burst from `t`: colour, size, lifetime, velocity, spread, area, gravity,
// collide and texture, unclamped, with pos (0, 0, 0) and count 0 for the caller to fill.
// `velocity` and `area` are tables of optional `x`, `y`, `z` ("{fn}: `velocity` is a table
// { x, y, z }" otherwise); numbers are read as 32-bit floats; `collide` is Lua truth, absent is
// true; a `texture` that is present is read by content_hash.
particle::Burst burst_of(lua_State* L, int t, std::string_view fn);

// The field `key` of `t` as a content hash: a text of exactly 64 hexadecimal digits (either
// case), else "`{key}` must be a content hash: 64 hex characters, as game.content_hash answers"
// (nil and other kinds too); or a table read from element 1 to the first nil, each element a
// byte, that must hold exactly 32 ("`{key}` must be 32 bytes of content hash"; the reading stops
// at a 33rd element). Conversion errors name `fn`.
particle::Hash content_hash(lua_State* L, int t, std::string_view key, std::string_view fn);

// The required numbers `x`, `y`, `z` of the table at `t`, a point in blocks; each refused with
// the conversion error "{fn}: bad field `pos.x` ({why})".
std::array<double, 3> point_of(lua_State* L, int t, std::string_view fn);

// The value at `idx` as a text a client may be sent (convert::to_utf8), else the conversion
// error "{fn}: bad field `{field}` ({why})".
std::string client_text(lua_State* L, int idx, std::string_view fn, std::string_view field);

}  // namespace ostrel_core::script::readers
