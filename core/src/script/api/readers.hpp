#pragma once
// The argument readers every runtime `game` function shares: players, block positions, entity
// ids, tints. Each answers the value or the exact text the calling function raises; none raises
// on its own but block_position (a position is read before anything else happens, and only the
// conversion layer's errors can stop it). The engine's own header: not for use outside
// core/src/script.
//
// REQUIRES for every function taking a lua_State: called on the engine's thread.

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "identity/identity.hpp"
#include "world/coords.hpp"

struct lua_State;

namespace ostrel_core::script::readers {

// A player named by 64 hexadecimal digits (either case). Refused with "{fn} takes a player UUID
// in hex, as a hook event reports one"; `fn` is the caller's name as it shows itself
// ("looking_at", "game.mount").
std::expected<identity::PlayerUuid, std::string> player_of(std::string_view text, std::string_view fn);

// The optional `player` field of the table at `t`: absent or nil gives none; a text is read as
// a player id, refused with "{fn}: `player` is a player's UUID in hex, not `{text}`"; any other
// value is the conversion error "{fn}: bad field `player` (expected string, got {type})".
std::expected<std::optional<identity::PlayerUuid>, std::string> player_field(lua_State* L, int t,
                                                                             std::string_view fn);

// The optional `entity` field of the table at `t`: absent or nil gives none, anything else is
// read by convert::bits_from_lua as "an entity id".
std::expected<std::optional<std::uint64_t>, std::string> entity_id_in(lua_State* L, int t);

// A block position: the table at `t` with the whole block coordinates `x`, `y`, `z` (numbers
// only: a float is cut toward zero; NaN, text and anything outside the signed 32-bit range are
// refused) and the optional `domain` (absent or empty: "overworld"). Read in that order;
// refusals are raised as "{fn}: bad field `x` ({why})" (`domain` too, when not text).
struct BlockAt {
  std::string domain;
  coords::BlockPos pos;
};
BlockAt block_position(lua_State* L, int t, std::string_view fn);

// A point in blocks: the numbers `x`, `y`, `z` of the table at `t`, all three required, as
// 64-bit floats (fractions, infinities and NaN kept for the caller to judge). A missing or
// mistyped one raises "{fn}: bad field `{prefix}x` ({why})".
std::array<double, 3> point(lua_State* L, int t, std::string_view fn, std::string_view prefix = "");

// Whether each coordinate of a point in blocks lies in the world's blocks -60000..=59999 (NaN
// does not).
bool in_world(const std::array<double, 3>& blocks);

// The tint of `set_entity`: the optional numbers `r`, `g`, `b` of the table at `t`, each 1 when
// absent, as bytes min(255, floor(v * 255 + 0.5)). A value outside 0..=1, not finite or not a
// number stops the reading with "set_entity: tint.{channel} must be 0..=1, got {value}".
std::expected<std::array<std::uint8_t, 3>, std::string> tint_bytes(lua_State* L, int t);

// Pushes the table { r, g, b } of a packed tint (r the low byte), each channel its byte / 255.
void tint_table(lua_State* L, std::uint32_t packed);

}  // namespace ostrel_core::script::readers
