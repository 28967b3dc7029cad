#pragma once
// The one conversion layer between Lua values and C++ values. Every `game` function reads its
// arguments and raises its refusals through these functions, so the rules hold everywhere:
//
//   integer  a Lua integer; a float cut toward zero (NaN or outside the type refused);
//            a text Lua reads as a number, then as above
//   number   a Lua number, or a text Lua reads as a number
//   text     a text, or a number in its Lua text form (3 -> "3", 1.5 -> "1.5")
//   boolean  Lua truth: nil and false are false, everything else true
//
// Type names tell "integer" from "number" (float). Numbers in messages print in their shortest
// round-trip form, never in exponent form. Refusals are raised with exactly the text given and
// nothing added (no position prefix).
//
// Nothing here calls a metamethod: tables are read raw.
//
// REQUIRES for every function taking a lua_State: called on the thread that owns the state;
// `idx` is a valid stack index.

#include <concepts>
#include <cstdint>
#include <expected>
#include <limits>
#include <optional>
#include <memory>
#include <string>
#include <string_view>

#include "script/slot.hpp"

struct lua_State;

namespace ostrel_core::plan { class Access; }

namespace ostrel_core::script::convert {

// The type name of a value: "nil", "boolean", "lightuserdata", "integer", "number", "string",
// "table", "function", "thread", "userdata".
std::string_view type_name(lua_State* L, int idx);

// Why a value did not convert; `message()` is the conversion error's text.
struct ConvertError {
  std::string text;
  const std::string& message() const { return text; }
};

// "expected {want}, got {type}".
ConvertError mismatch(lua_State* L, int idx, std::string_view want);

namespace detail {
// The value at `idx` as a whole number in [lo, hi]; `want` names the type in errors.
std::expected<std::int64_t, ConvertError> to_whole(lua_State* L, int idx, std::int64_t lo,
                                                   std::int64_t hi, std::string_view want);
std::expected<std::uint64_t, ConvertError> to_whole_unsigned(lua_State* L, int idx,
                                                             std::uint64_t hi,
                                                             std::string_view want);
std::string_view integer_name(bool is_signed, int bits);
}  // namespace detail

// The value at `idx` read as the integer type I (see the rules above). Out of range gives
// "{value} is out of range for {type}", e.g. "-1 is out of range for an unsigned 32-bit integer".
template <std::integral I>
std::expected<I, ConvertError> to_integer(lua_State* L, int idx) {
  const auto want = detail::integer_name(std::is_signed_v<I>, std::numeric_limits<I>::digits +
                                                                  (std::is_signed_v<I> ? 1 : 0));
  if constexpr (std::is_signed_v<I>) {
    auto v = detail::to_whole(L, idx, std::numeric_limits<I>::min(), std::numeric_limits<I>::max(),
                              want);
    if (!v) return std::unexpected(v.error());
    return static_cast<I>(*v);
  } else {
    auto v = detail::to_whole_unsigned(L, idx, std::numeric_limits<I>::max(), want);
    if (!v) return std::unexpected(v.error());
    return static_cast<I>(*v);
  }
}

// The value as a signed 64-bit integer when it is one exactly: a Lua integer, a float with no
// fraction inside the range, or a text Lua reads as either; otherwise nothing.
std::optional<std::int64_t> whole_number(lua_State* L, int idx);

std::expected<double, ConvertError> to_number(lua_State* L, int idx);
// Never changes the value on the stack (a number is converted from a copy).
std::expected<std::string, ConvertError> to_text(lua_State* L, int idx);
// As to_text, for texts bound for a client, which refuses a message holding bytes that are not
// UTF-8: such a text is "expected UTF-8 text, got bytes that are not".
std::expected<std::string, ConvertError> to_utf8(lua_State* L, int idx);

// A value's text without metamethods, for error objects: a string or number as it is,
// otherwise "(error object is a {} value)".
std::string error_text(lua_State* L, int idx);

// `text` with each invalid UTF-8 sequence replaced by U+FFFD.
std::string valid_utf8(std::string_view text);
// The longest prefix of `text` of at most `max` bytes that ends on a character boundary.
// REQUIRES: `text` is valid UTF-8.
std::string_view cut_utf8(std::string_view text, std::size_t max);

// A block id qualified by `mod_id`: an id without ":" gets the mod id and ":" in front.
std::string named_block(std::string_view mod_id, std::string_view id);

// An id a mod registers, in its own namespace: an id without ":" becomes "{mod}:{id}"; an id
// with ":" is kept when the text before its first ":" is the mod id, otherwise refused with
// "mod `{}` may not register into namespace `{}`: a mod owns only its own id as a namespace".
std::expected<std::string, std::string> qualify_id(std::string_view mod_id, std::string_view id);

// Raises a Lua error whose text is exactly `text`. Does not return.
[[noreturn]] void raise(lua_State* L, std::string_view text);

// Argument readers for `game` functions: they convert argument `arg` (1-based) or raise the
// bad-argument error "bad argument #{arg} to '{fn}' ({conversion error})".
template <std::integral I>
I arg_integer(lua_State* L, int arg, std::string_view fn);
std::string arg_text(lua_State* L, int arg, std::string_view fn);
// Raises unless argument `arg` is a function.
void arg_function(lua_State* L, int arg, std::string_view fn);
// Raises unless argument `arg` is absent, nil or a table; true when it is a table.
bool arg_optional_table(lua_State* L, int arg, std::string_view fn);
// Raises unless argument `arg` is a table.
void arg_table(lua_State* L, int arg, std::string_view fn);
[[noreturn]] void arg_error(lua_State* L, int arg, std::string_view fn, std::string_view why);

template <std::integral I>
I arg_integer(lua_State* L, int arg, std::string_view fn) {
  auto v = to_integer<I>(L, arg);
  if (!v) arg_error(L, arg, fn, v.error().text);
  return *v;
}

// A script's material argument as a material number: an integer 0 to 65535 as it is, or a
// block id registered in "ostrel.blocks". Refuses with "material id {} is out of range",
// "no block registered with id `{}`" or "material must be a block id or a numeric material,
// got {}".
std::uint16_t material_of(lua_State* L, int idx);

// ---- Readers shared by the runtime and generation functions ----------------------------------

// A value as 64 raw bits, for seeds and entity ids: an integer gives its own bits (-1 is all
// ones); a float gives the unsigned integer it equals when it lies in [0, 2^64) and converting it
// there and back keeps its bits (so -0.0 is refused). A float in that range that fails the round
// trip: "{what} must be a whole number, not {value}"; anything else (a float outside it, NaN, a
// text, nil...): "{what} must be an integer, not {kind}" with the value's kind ("number" for a
// float).
std::expected<std::uint64_t, std::string> bits_from_lua(lua_State* L, int idx, std::string_view what);

// The field `key` of the table at `t` as a seed: absent or nil gives 0, anything else is read by
// bits_from_lua as "a seed".
std::expected<std::uint64_t, std::string> seed_in(lua_State* L, int t, std::string_view key);

// The `domain` field of the table at `t`: absent or the empty text gives "overworld", any other
// text is returned as it is. A value that is not a text (a number in its text form counts) raises
// the conversion error.
std::string domain_of(lua_State* L, int t);

// The plan store behind `slot`: null when none is installed (no world yet, a generation worker);
// "the plan store is poisoned; the simulation panicked" when a holder failed.
std::expected<std::shared_ptr<plan::Access>, std::string> plan_store(const Slot<plan::Access>& slot);

}  // namespace ostrel_core::script::convert
