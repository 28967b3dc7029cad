#pragma once
// Reading a registration table (the Lua table a mod hands to a `game` function) field by field,
// and reading back the tables the engine stored.
//
// One reader per field kind, and per function a table of its fields: name, kind, range, default
// and refusal text. A registration function is its table plus code for the checks that involve
// several fields:
//
//   constexpr fields::Field kFluidNumbers[] = {
//       fields::whole("waterlogs_at", 1, 27).otherwise(14).mismatch_refused().refusal(
//           "{ctx}: waterlogs_at must be 1..={hi}, got {got}. It is how many of a block's 27 "
//           "cells must be filled before this fluid treats it as floor."),
//       fields::f32("opacity").within(0.0, 1.0).otherwise(0.72).mismatch_refused().refusal(
//           "{ctx}: opacity must be 0.0..=1.0, got {got}."),
//       fields::colour("color").whole_channels(0, 255).otherwise(255)
//           .channel_mismatch_refused().refusal("{ctx}: {field} must be 0..=255, got {got}"),
//       fields::boolean("washes").otherwise(true),
//   };
//   const fields::Values got = fields::read(L, 1, ctx, kFluidNumbers);  // raises the first refusal
//   const auto waterlogs_at = got.integer<std::uint32_t>("waterlogs_at");
//   const float opacity = got.f32("opacity");
//
// Kinds (the conversion rules are script/lua_vm/convert.hpp's):
//   text     a string, or a number in its Lua text form; `one_of` limits it to a list
//   number   a number or numeric text, as a double
//   f32      a number rounded to single precision (beyond its range: infinite, NaN stays NaN)
//   integer  the binding's integer of a C++ type: a float is cut toward zero; a value outside
//            the type is a conversion error, one outside `whole_within` a refusal
//   whole    a number with no fraction (never cut), lo..=hi
//   boolean  Lua truth: absent, nil and false are false, everything else true
//   table    a table, left on the stack for the caller (Values::table gives its index)
//   colour   a table of three channels r, g, b (`positions_too`: elements 1, 2, 3 where a name
//            is absent), each read as a whole, integer or f32 channel with the field's range;
//            a channel that is absent takes the default
//
// Fields are read raw: no metamethod of the mod's table runs. An absent (nil) field takes its
// default, or is refused when `needed`. A value of the wrong type is refused with the binding's
// conversion error, "{ctx}: bad field `{field}` ({why})", unless the field says
// `mismatch_refused` (its refusal text) or `mismatch_ignored` (read as absent). A value outside
// the field's range (`within`, `above`, `at_least`, `whole_within`) or choices is refused with
// its refusal text; a field with no range takes every value of its kind, NaN included.
//
// Refusal texts are fmt patterns with named arguments, so each reads as the sentence it gives:
//   {ctx}    the function's context, e.g. register_fluid("m:water")
//   {field}  the field's name; a colour channel's is "color.r"
//   {got}    the value: a number in its shortest form (f32 fields: of the rounded value), a text
//            as given, else its Lua type name ("nil" for an absent required field)
//   {why}    the conversion error, e.g. "expected number, got table"
//   {lo} {hi} the range's ends
// Braces meant literally are doubled: "{{r, g, b}}".
//
// REQUIRES for every function taking a lua_State: called on the engine's thread. The readers
// that refuse raise Lua errors and must run where a Lua error may be raised (a `game` function,
// or inside protect()).

#include <array>
#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/num.hpp"
#include "script/lua_vm/convert.hpp"

struct lua_State;

namespace ostrel_core::script::fields {

enum class Kind : std::uint8_t { Text, Number, F32, Integer, Whole, Boolean, Table, Colour };

// What a value of the wrong type does.
enum class Mismatch : std::uint8_t {
  Convert,  // "{ctx}: bad field `{field}` ({why})"
  Refuse,   // the field's refusal text
  Ignore,   // read as absent
};

// One field of a registration table. Built with the functions below and the chained setters,
// all usable in constant expressions.
struct Field {
  std::string_view name{};   // the key read
  std::string_view label{};  // the name refusals show, when not the key ("flicker.depth")
  Kind kind = Kind::Text;
  Kind channel = Kind::Whole;  // Colour: the kind of each channel (Whole, Integer or F32)
  bool by_position = false;    // Colour: elements 1..3 stand in for absent names
  Mismatch mismatch = Mismatch::Convert;
  Mismatch channel_mismatch = Mismatch::Convert;  // Colour: a channel of the wrong type
  bool required = false;

  // Whether the field has a range at all: one without accepts every value of its kind (NaN
  // included).
  bool bounded = false;
  // Number, F32: [lo, hi]; an open end excludes itself; NaN is outside every range.
  double lo = -std::numeric_limits<double>::infinity();
  double hi = std::numeric_limits<double>::infinity();
  bool lo_open = false;
  bool hi_open = false;
  // Integer, Whole: lo..=hi. Integer also names its C++ type (a value outside the type is a
  // conversion error, as the binding's integer reads are).
  std::int64_t ilo = std::numeric_limits<std::int64_t>::min();
  std::int64_t ihi = std::numeric_limits<std::int64_t>::max();
  int type_bits = 64;
  bool type_signed = true;
  // Text: the only texts accepted, when not empty.
  std::span<const std::string_view> choices{};

  // Defaults of an absent field (a colour's, of each absent channel).
  std::string_view text_default{};
  double number_default = 0.0;
  std::int64_t whole_default = 0;
  bool truth_default = false;

  std::string_view refusal_text{};  // range, choices, and (as set below) type and absence

  // ---- Chained setters ----------------------------------------------------------------------
  constexpr Field within(double l, double h) const {
    Field f = *this;
    f.lo = l, f.hi = h, f.bounded = true;
    return f;
  }
  // (l, h]; above(l) alone is (l, +inf): a positive finite number for l = 0.
  constexpr Field above(double l) const {
    Field f = *this;
    f.lo = l, f.lo_open = true, f.hi_open = true, f.bounded = true;
    return f;
  }
  // [l, +inf): a finite number not below l.
  constexpr Field at_least(double l) const {
    Field f = *this;
    f.lo = l, f.hi_open = true, f.bounded = true;
    return f;
  }
  constexpr Field whole_within(std::int64_t l, std::int64_t h) const {
    Field f = *this;
    f.ilo = l, f.ihi = h, f.bounded = true;
    return f;
  }
  template <class V>
  constexpr Field otherwise(V v) const {
    Field f = *this;
    if constexpr (std::is_same_v<V, bool>) {
      f.truth_default = v;
    } else if constexpr (std::is_integral_v<V>) {
      f.whole_default = static_cast<std::int64_t>(v);
      f.number_default = static_cast<double>(v);
    } else if constexpr (std::is_floating_point_v<V>) {
      f.number_default = v;
    } else {
      f.text_default = std::string_view(v);
    }
    return f;
  }
  constexpr Field refusal(std::string_view text) const {
    Field f = *this;
    f.refusal_text = text;
    return f;
  }
  // Absent is refused with the refusal text.
  constexpr Field needed() const {
    Field f = *this;
    f.required = true;
    return f;
  }
  constexpr Field shown_as(std::string_view l) const {
    Field f = *this;
    f.label = l;
    return f;
  }
  constexpr std::string_view shown() const { return label.empty() ? name : label; }
  constexpr Field mismatch_refused() const {
    Field f = *this;
    f.mismatch = Mismatch::Refuse;
    return f;
  }
  constexpr Field mismatch_ignored() const {
    Field f = *this;
    f.mismatch = Mismatch::Ignore;
    return f;
  }
  constexpr Field one_of(std::span<const std::string_view> texts) const {
    Field f = *this;
    f.choices = texts;
    return f;
  }
  // Colour channels.
  constexpr Field whole_channels(std::int64_t l, std::int64_t h) const {
    Field f = *this;
    f.channel = Kind::Whole, f.ilo = l, f.ihi = h, f.bounded = true;
    return f;
  }
  template <std::integral I>
  constexpr Field integer_channels(std::int64_t l, std::int64_t h) const {
    Field f = *this;
    f.channel = Kind::Integer, f.ilo = l, f.ihi = h, f.bounded = true;
    f.type_bits = std::numeric_limits<I>::digits + (std::is_signed_v<I> ? 1 : 0);
    f.type_signed = std::is_signed_v<I>;
    return f;
  }
  constexpr Field f32_channels(double l, double h) const {
    Field f = *this;
    f.channel = Kind::F32, f.lo = l, f.hi = h, f.bounded = true;
    return f;
  }
  constexpr Field channel_mismatch_refused() const {
    Field f = *this;
    f.channel_mismatch = Mismatch::Refuse;
    return f;
  }
  constexpr Field positions_too() const {
    Field f = *this;
    f.by_position = true;
    return f;
  }
};

constexpr Field text(std::string_view name) { return Field{.name = name, .kind = Kind::Text}; }
constexpr Field number(std::string_view name) { return Field{.name = name, .kind = Kind::Number}; }
constexpr Field f32(std::string_view name) { return Field{.name = name, .kind = Kind::F32}; }
// The binding's integer of type I; `within` narrows it with a refusal.
template <std::integral I>
constexpr Field integer(std::string_view name) {
  return Field{.name = name,
               .kind = Kind::Integer,
               .type_bits = std::numeric_limits<I>::digits + (std::is_signed_v<I> ? 1 : 0),
               .type_signed = std::is_signed_v<I>};
}
template <std::integral I>
constexpr Field integer(std::string_view name, std::int64_t lo, std::int64_t hi) {
  return integer<I>(name).whole_within(lo, hi);
}
constexpr Field whole(std::string_view name, std::int64_t lo, std::int64_t hi) {
  return Field{.name = name, .kind = Kind::Whole, .bounded = true, .ilo = lo, .ihi = hi};
}
constexpr Field boolean(std::string_view name) { return Field{.name = name, .kind = Kind::Boolean}; }
constexpr Field table(std::string_view name) { return Field{.name = name, .kind = Kind::Table}; }
constexpr Field colour(std::string_view name) { return Field{.name = name, .kind = Kind::Colour}; }

// Three channels as read: integers exactly, f32 channels as their single-precision values.
struct Channels {
  std::array<double, 3> value{};
  std::array<bool, 3> given{};  // false: the default stands in

  // An integer channel's value.
  std::int64_t whole(std::size_t i) const { return num::saturate<std::int64_t>(value[i]); }
};

// What read() found, by field name. REQUIRES: every name asked for is a field of the table
// read (asking for another aborts), and the field table outlives the Values. The references the
// readers return live as long as the Values: keep the Values, not a reference into a temporary.
class Values {
 public:
  bool given(std::string_view name) const;
  // Text: the text, or the default.
  const std::string& text(std::string_view name) const;
  // Text: none when absent.
  std::optional<std::string> text_if(std::string_view name) const;
  // Number or F32 (as read, before rounding for F32).
  double number(std::string_view name) const;
  float f32(std::string_view name) const;
  // Integer or Whole, within the field's range.
  template <std::integral I>
  I integer(std::string_view name) const {
    return static_cast<I>(slot(name).whole);
  }
  bool boolean(std::string_view name) const;
  // Table: its absolute stack index, 0 when absent.
  int table(std::string_view name) const;
  const Channels& colour(std::string_view name) const;

 private:
  friend Values read(lua_State*, int, std::string_view, std::span<const Field>, bool);
  struct Slot {
    bool given = false;
    std::string text;
    double number = 0.0;
    std::int64_t whole = 0;  // an unsigned 64-bit value keeps its bits
    bool truth = false;
    int table = 0;
    Channels channels;
  };
  const Slot& slot(std::string_view name) const;
  std::span<const Field> fields_;
  std::vector<Slot> slots_;
};

// Reads every field of the table at `t` in order and raises the first refusal. Table fields
// are left pushed on the stack in order. With `types_first`, every field's type is checked
// before any range, so a wrong type anywhere is reported before a value out of range.
Values read(lua_State* L, int t, std::string_view ctx, std::span<const Field> fields,
            bool types_first = false);
// One field on its own (a name known only at run time, or a field read between other checks).
Values read_one(lua_State* L, int t, std::string_view ctx, const Field& field);
// The channels of the colour table at `idx` (already read as a table), for a colour whose
// table is checked apart from its channels.
Channels read_channels(lua_State* L, int idx, std::string_view ctx, const Field& field);

// The first text key of the table at `t` that is not in `allowed`, in iteration order. `valid`:
// with each invalid UTF-8 sequence replaced, for texts that reach logs.
std::optional<std::string> unknown_key(lua_State* L, int t,
                                       std::span<const std::string_view> allowed,
                                       bool valid = false);
inline std::optional<std::string> unknown_key(lua_State* L, int t,
                                              std::initializer_list<std::string_view> allowed,
                                              bool valid = false) {
  return unknown_key(L, t, std::span<const std::string_view>(allowed.begin(), allowed.size()),
                     valid);
}

// A value that is not a field of its own (an element or a key of a list the table holds), on
// the stack at `idx`, read as one kind; a value of the wrong type is refused with the conversion
// error naming `field`.
std::string text_value(lua_State* L, int idx, std::string_view ctx, std::string_view field);
double number_value(lua_State* L, int idx, std::string_view ctx, std::string_view field);
template <std::integral I>
I integer_value(lua_State* L, int idx, std::string_view ctx, std::string_view field);

// Raises "{ctx}: bad field `{field}` ({why})": a value of the wrong type for its field.
[[noreturn]] void field_error(lua_State* L, std::string_view ctx, std::string_view field,
                              const convert::ConvertError& why);

// Shorthands for one optional field of the table at `t`, refused with the conversion error:
// none when absent.
std::optional<double> opt_number(lua_State* L, int t, std::string_view field, std::string_view ctx);
std::optional<float> opt_f32(lua_State* L, int t, std::string_view field, std::string_view ctx);
std::optional<std::string> opt_text(lua_State* L, int t, std::string_view field,
                                    std::string_view ctx);
// Absent gives false; a table is pushed and gives true.
bool opt_table(lua_State* L, int t, std::string_view field, std::string_view ctx);
// As opt_text, but absent is refused as a nil value would be.
std::string required_text(lua_State* L, int t, std::string_view field, std::string_view ctx);

// ---- Values on the stack ---------------------------------------------------------------------

// Pushes the raw value of `t[name]` (t a stack index) and returns its type.
int raw_field(lua_State* L, int t, std::string_view name);
// The value at `idx` as text (a number counts as its text), as a number, or as the binding's
// integer of type I; none when it does not convert. Never raise.
std::optional<std::string> read_text(lua_State* L, int idx);
std::optional<double> read_number(lua_State* L, int idx);
template <std::integral I>
std::optional<I> read_integer(lua_State* L, int idx);
// A value for a refusal text: a number in its shortest form, else its type name.
std::string value_text(lua_State* L, int idx);
// A double as single precision: beyond the float range it becomes infinite; NaN stays NaN.
float to_f32(double v);

// ---- Reading back what was registered (never raise) ------------------------------------------

// The raw field `name` of the table at `t`: text or number as text / a string only / a number
// or numeric text / its single-precision value / the binding's integer of type I.
std::optional<std::string> get_text(lua_State* L, int t, const char* name);
std::optional<std::string> get_string(lua_State* L, int t, const char* name);
std::optional<double> get_number(lua_State* L, int t, const char* name);
std::optional<float> get_f32(lua_State* L, int t, const char* name);
template <std::integral I>
std::optional<I> get_integer(lua_State* L, int t, const char* name);
// Lua truth of the field; `absent` when it is nil.
bool get_truth(lua_State* L, int t, const char* name, bool absent);

namespace detail {
void pop(lua_State* L);
inline constexpr int kNil = 0;  // LUA_TNIL, without lua.h in this header
}  // namespace detail

template <std::integral I>
I integer_value(lua_State* L, int idx, std::string_view ctx, std::string_view field) {
  auto v = convert::to_integer<I>(L, idx);
  if (!v) field_error(L, ctx, field, v.error());
  return *v;
}

template <std::integral I>
std::optional<I> read_integer(lua_State* L, int idx) {
  auto v = convert::to_integer<I>(L, idx);
  if (!v) return std::nullopt;
  return *v;
}

template <std::integral I>
std::optional<I> get_integer(lua_State* L, int t, const char* name) {
  std::optional<I> out;
  if (raw_field(L, t, name) != detail::kNil) out = read_integer<I>(L, -1);
  detail::pop(L);
  return out;
}

}  // namespace ostrel_core::script::fields
