#include "script/api/fields.hpp"

#include <cmath>
#include <cstdlib>
#include <utility>

#include <fmt/format.h>
#include <lua.hpp>

#include "base/num.hpp"

namespace ostrel_core::script::fields {
namespace {

constexpr const char* kChannelNames[] = {"r", "g", "b"};

// What a field's type is called in a conversion error for an absent required value.
std::string_view wanted(Kind kind) {
  switch (kind) {
    case Kind::Text:
      return "string";
    case Kind::Number:
    case Kind::F32:
      return "number";
    case Kind::Integer:
    case Kind::Whole:
      return "integer";
    case Kind::Boolean:
      return "boolean";
    case Kind::Table:
    case Kind::Colour:
      return "table";
  }
  return "value";
}

// The kind whose range a value of `f` is checked against: a colour's channel kind.
Kind range_kind(const Field& f) { return f.kind == Kind::Colour ? f.channel : f.kind; }

std::string end_text(const Field& f, bool low) {
  switch (range_kind(f)) {
    case Kind::Integer:
    case Kind::Whole:
      return fmt::format("{}", low ? f.ilo : f.ihi);
    default:
      return num::format_number(low ? f.lo : f.hi);
  }
}

[[noreturn]] void refuse(lua_State* L, const Field& f, std::string_view ctx,
                         std::string_view field, std::string_view got, std::string_view why) {
  const std::string_view pattern =
      f.refusal_text.empty() ? std::string_view("{ctx}: `{field}` must be {lo}..={hi}, got {got}")
                             : f.refusal_text;
  convert::raise(L, fmt::format(fmt::runtime(pattern), fmt::arg("ctx", ctx),
                                fmt::arg("field", field), fmt::arg("got", got),
                                fmt::arg("why", why), fmt::arg("lo", end_text(f, true)),
                                fmt::arg("hi", end_text(f, false))));
}

// A value of the wrong type on top of the stack: raises, or answers that it reads as absent.
// `channel`: the value is a colour's channel.
bool mismatched(lua_State* L, const Field& f, std::string_view ctx, std::string_view field,
                const convert::ConvertError& why, bool channel = false) {
  switch (channel ? f.channel_mismatch : f.mismatch) {
    case Mismatch::Convert:
      field_error(L, ctx, field, why);
    case Mismatch::Refuse:
      refuse(L, f, ctx, field, value_text(L, -1), why.text);
    case Mismatch::Ignore:
      break;
  }
  return false;
}

bool in_range(const Field& f, double v) {
  if (!f.bounded) return true;
  if (std::isnan(v)) return false;
  const bool above_lo = f.lo_open ? v > f.lo : v >= f.lo;
  const bool below_hi = f.hi_open ? v < f.hi : v <= f.hi;
  return above_lo && below_hi;
}

bool in_whole_range(const Field& f, std::int64_t v) {
  if (!f.bounded) return true;
  if (range_kind(f) == Kind::Integer && !f.type_signed) {
    // An unsigned value keeps its bits; the range of an unsigned field is not negative.
    const auto u = static_cast<std::uint64_t>(v);
    return u >= static_cast<std::uint64_t>(f.ilo) && u <= static_cast<std::uint64_t>(f.ihi);
  }
  return v >= f.ilo && v <= f.ihi;
}

std::string whole_text(const Field& f, std::int64_t v) {
  if (range_kind(f) == Kind::Integer && !f.type_signed) {
    return fmt::format("{}", static_cast<std::uint64_t>(v));
  }
  return fmt::format("{}", v);
}

// A value converted, with what its refusal would show, before its range is checked.
struct Converted {
  bool given = false;
  std::string got;
  std::string text;
  double number = 0.0;
  std::int64_t whole = 0;
  bool whole_ok = true;  // Whole: the value was a whole number at all
};

// Converts the value on top of the stack as `kind` (Text, Number, F32, Integer or Whole).
// Answers not given when a mismatch reads as absent.
Converted convert_value(lua_State* L, const Field& f, Kind kind, std::string_view ctx,
                        std::string_view field, bool channel = false) {
  Converted c;
  c.given = true;
  switch (kind) {
    case Kind::Text: {
      auto v = convert::to_text(L, -1);
      if (!v) {
        c.given = mismatched(L, f, ctx, field, v.error(), channel);
        return c;
      }
      c.got = *v;
      c.text = std::move(*v);
      return c;
    }
    case Kind::Number:
    case Kind::F32: {
      auto v = convert::to_number(L, -1);
      if (!v) {
        c.given = mismatched(L, f, ctx, field, v.error(), channel);
        return c;
      }
      if (kind == Kind::F32) {
        const float x = to_f32(*v);
        c.number = x;
        c.got = num::format_number(x);
      } else {
        c.number = *v;
        c.got = num::format_number(*v);
      }
      return c;
    }
    case Kind::Integer: {
      std::expected<std::int64_t, convert::ConvertError> v;
      const auto want = convert::detail::integer_name(f.type_signed, f.type_bits);
      if (!f.type_signed && f.type_bits == 64) {
        auto u = convert::detail::to_whole_unsigned(L, -1,
                                                    std::numeric_limits<std::uint64_t>::max(), want);
        if (u) {
          v = static_cast<std::int64_t>(*u);
        } else {
          v = std::unexpected(u.error());
        }
      } else {
        const std::int64_t hi = f.type_bits == 64
                                    ? std::numeric_limits<std::int64_t>::max()
                                    : (std::int64_t{1} << (f.type_bits - (f.type_signed ? 1 : 0))) - 1;
        const std::int64_t lo = f.type_signed ? -hi - 1 : 0;
        v = convert::detail::to_whole(L, -1, lo, hi, want);
      }
      if (!v) {
        c.given = mismatched(L, f, ctx, field, v.error(), channel);
        return c;
      }
      c.whole = *v;
      c.got = whole_text(f, *v);
      return c;
    }
    case Kind::Whole: {
      if (lua_type(L, -1) != LUA_TNUMBER && lua_type(L, -1) != LUA_TSTRING) {
        c.given = mismatched(L, f, ctx, field, convert::mismatch(L, -1, "integer"), channel);
        return c;
      }
      c.got = value_text(L, -1);
      const auto v = convert::whole_number(L, -1);
      c.whole_ok = v.has_value();
      c.whole = v.value_or(0);
      return c;
    }
    default:
      return c;
  }
}

// Raises when the converted value is outside the field's range or choices.
void check_range(lua_State* L, const Field& f, Kind kind, std::string_view ctx,
                 std::string_view field, const Converted& c) {
  if (!c.given) return;
  switch (kind) {
    case Kind::Text:
      if (!f.choices.empty()) {
        bool known = false;
        for (auto choice : f.choices) known = known || choice == c.text;
        if (!known) refuse(L, f, ctx, field, c.got, {});
      }
      return;
    case Kind::Number:
    case Kind::F32:
      if (!in_range(f, c.number)) refuse(L, f, ctx, field, c.got, {});
      return;
    case Kind::Integer:
    case Kind::Whole:
      if (!c.whole_ok || !in_whole_range(f, c.whole)) refuse(L, f, ctx, field, c.got, {});
      return;
    default:
      return;
  }
}

Channels channels_of(lua_State* L, int idx, std::string_view ctx, const Field& f) {
  idx = lua_absindex(L, idx);
  Channels out;
  for (int i = 0; i < 3; ++i) {
    const std::string field = fmt::format("{}.{}", f.shown(), kChannelNames[i]);
    int type = raw_field(L, idx, kChannelNames[i]);
    if (type == LUA_TNIL && f.by_position) {
      lua_pop(L, 1);
      type = lua_rawgeti(L, idx, i + 1);
    }
    double value = f.channel == Kind::F32 ? static_cast<double>(to_f32(f.number_default))
                                          : static_cast<double>(f.whole_default);
    bool given = false;
    if (type != LUA_TNIL) {
      const Converted c = convert_value(L, f, f.channel, ctx, field, true);
      check_range(L, f, f.channel, ctx, field, c);
      if (c.given) {
        given = true;
        value = f.channel == Kind::F32 ? c.number : static_cast<double>(c.whole);
      }
    }
    lua_pop(L, 1);
    out.value[static_cast<std::size_t>(i)] = value;
    out.given[static_cast<std::size_t>(i)] = given;
  }
  return out;
}

}  // namespace

// ---- Values --------------------------------------------------------------------------------------

const Values::Slot& Values::slot(std::string_view name) const {
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (fields_[i].name == name) return slots_[i];
  }
  std::abort();  // a name the field table does not have: a mistake in the calling function
}

bool Values::given(std::string_view name) const { return slot(name).given; }
const std::string& Values::text(std::string_view name) const { return slot(name).text; }
std::optional<std::string> Values::text_if(std::string_view name) const {
  const Slot& s = slot(name);
  if (!s.given) return std::nullopt;
  return s.text;
}
double Values::number(std::string_view name) const { return slot(name).number; }
float Values::f32(std::string_view name) const { return to_f32(slot(name).number); }
bool Values::boolean(std::string_view name) const { return slot(name).truth; }
int Values::table(std::string_view name) const { return slot(name).table; }
const Channels& Values::colour(std::string_view name) const { return slot(name).channels; }

// ---- Reading ---------------------------------------------------------------------------------------

Values read(lua_State* L, int t, std::string_view ctx, std::span<const Field> fields,
            bool types_first) {
  t = lua_absindex(L, t);
  Values out;
  out.fields_ = fields;
  out.slots_.resize(fields.size());
  std::vector<Converted> pending(types_first ? fields.size() : 0);

  for (std::size_t i = 0; i < fields.size(); ++i) {
    const Field& f = fields[i];
    Values::Slot& s = out.slots_[i];
    // Defaults first; a given value replaces them.
    s.text = std::string(f.text_default);
    s.number = f.kind == Kind::F32 ? static_cast<double>(to_f32(f.number_default)) : f.number_default;
    s.whole = f.whole_default;
    s.truth = f.truth_default;
    for (std::size_t k = 0; k < 3; ++k) {
      s.channels.value[k] = f.channel == Kind::F32 ? static_cast<double>(to_f32(f.number_default))
                                                   : static_cast<double>(f.whole_default);
    }

    const int type = raw_field(L, t, f.name);
    if (type == LUA_TNIL) {
      lua_pop(L, 1);
      if (f.required) {
        if (f.refusal_text.empty()) {
          lua_pushnil(L);
          field_error(L, ctx, f.shown(), convert::mismatch(L, -1, wanted(f.kind)));
        }
        refuse(L, f, ctx, f.shown(), "nil", {});
      }
      continue;
    }
    switch (f.kind) {
      case Kind::Boolean:
        s.given = true;
        s.truth = lua_toboolean(L, -1) != 0;
        lua_pop(L, 1);
        break;
      case Kind::Table:
        if (type != LUA_TTABLE) {
          mismatched(L, f, ctx, f.shown(), convert::mismatch(L, -1, "table"));
          lua_pop(L, 1);
          break;
        }
        s.given = true;
        s.table = lua_gettop(L);  // left on the stack for the caller
        break;
      case Kind::Colour:
        if (type != LUA_TTABLE) {
          mismatched(L, f, ctx, f.shown(), convert::mismatch(L, -1, "table"));
          lua_pop(L, 1);
          break;
        }
        s.given = true;
        s.channels = channels_of(L, -1, ctx, f);
        lua_pop(L, 1);
        break;
      default: {
        Converted c = convert_value(L, f, f.kind, ctx, f.shown());
        lua_pop(L, 1);
        if (!types_first) check_range(L, f, f.kind, ctx, f.shown(), c);
        s.given = c.given;
        if (c.given) {
          s.text = c.text;
          s.number = c.number;
          s.whole = c.whole;
        }
        if (types_first) pending[i] = std::move(c);
        break;
      }
    }
  }
  for (std::size_t i = 0; i < pending.size(); ++i) {
    check_range(L, fields[i], fields[i].kind, ctx, fields[i].shown(), pending[i]);
  }
  return out;
}

Values read_one(lua_State* L, int t, std::string_view ctx, const Field& field) {
  return read(L, t, ctx, std::span<const Field>(&field, 1));
}

Channels read_channels(lua_State* L, int idx, std::string_view ctx, const Field& field) {
  return channels_of(L, idx, ctx, field);
}

std::optional<std::string> unknown_key(lua_State* L, int t,
                                       std::span<const std::string_view> allowed, bool valid) {
  t = lua_absindex(L, t);
  lua_pushnil(L);
  while (lua_next(L, t) != 0) {
    lua_pop(L, 1);
    if (lua_type(L, -1) != LUA_TSTRING) continue;
    std::size_t len = 0;
    const char* p = lua_tolstring(L, -1, &len);
    const std::string_view key(p, len);
    bool known = false;
    for (auto a : allowed) known = known || a == key;
    if (!known) {
      std::string out = valid ? convert::valid_utf8(key) : std::string(key);
      lua_pop(L, 1);
      return out;
    }
  }
  return std::nullopt;
}

std::string text_value(lua_State* L, int idx, std::string_view ctx, std::string_view field) {
  auto v = convert::to_text(L, idx);
  if (!v) field_error(L, ctx, field, v.error());
  return std::move(*v);
}

double number_value(lua_State* L, int idx, std::string_view ctx, std::string_view field) {
  auto v = convert::to_number(L, idx);
  if (!v) field_error(L, ctx, field, v.error());
  return *v;
}

void field_error(lua_State* L, std::string_view ctx, std::string_view field,
                 const convert::ConvertError& why) {
  convert::raise(L, fmt::format("{}: bad field `{}` ({})", ctx, field, why.text));
}

std::optional<double> opt_number(lua_State* L, int t, std::string_view field,
                                 std::string_view ctx) {
  const Field f = number(field);
  const Values v = read_one(L, t, ctx, f);
  if (!v.given(field)) return std::nullopt;
  return v.number(field);
}

std::optional<float> opt_f32(lua_State* L, int t, std::string_view field, std::string_view ctx) {
  const Field f = fields::f32(field);
  const Values v = read_one(L, t, ctx, f);
  if (!v.given(field)) return std::nullopt;
  return v.f32(field);
}

std::optional<std::string> opt_text(lua_State* L, int t, std::string_view field,
                                    std::string_view ctx) {
  const Field f = text(field);
  return read_one(L, t, ctx, f).text_if(field);
}

bool opt_table(lua_State* L, int t, std::string_view field, std::string_view ctx) {
  const Field f = table(field);
  return read_one(L, t, ctx, f).given(field);
}

std::string required_text(lua_State* L, int t, std::string_view field, std::string_view ctx) {
  const Field f = text(field).needed();
  return read_one(L, t, ctx, f).text(field);
}

// ---- Values on the stack ---------------------------------------------------------------------

int raw_field(lua_State* L, int t, std::string_view name) {
  t = lua_absindex(L, t);
  lua_pushlstring(L, name.data(), name.size());
  return lua_rawget(L, t);
}

std::optional<std::string> read_text(lua_State* L, int idx) {
  auto v = convert::to_text(L, idx);
  if (!v) return std::nullopt;
  return std::move(*v);
}

std::optional<double> read_number(lua_State* L, int idx) {
  auto v = convert::to_number(L, idx);
  if (!v) return std::nullopt;
  return *v;
}

std::string value_text(lua_State* L, int idx) {
  if (lua_type(L, idx) != LUA_TNUMBER) return std::string(convert::type_name(L, idx));
  if (lua_isinteger(L, idx)) return fmt::format("{}", lua_tointeger(L, idx));
  return num::format_number(static_cast<double>(lua_tonumber(L, idx)));
}

float to_f32(double v) {
  constexpr double kMax = std::numeric_limits<float>::max();
  if (v > kMax) return std::numeric_limits<float>::infinity();
  if (v < -kMax) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(v);  // NaN stays NaN
}

// ---- Reading back ------------------------------------------------------------------------------

std::optional<std::string> get_text(lua_State* L, int t, const char* name) {
  raw_field(L, t, name);
  auto v = read_text(L, -1);
  lua_pop(L, 1);
  return v;
}

std::optional<std::string> get_string(lua_State* L, int t, const char* name) {
  std::optional<std::string> v;
  if (raw_field(L, t, name) == LUA_TSTRING) v = read_text(L, -1);
  lua_pop(L, 1);
  return v;
}

std::optional<double> get_number(lua_State* L, int t, const char* name) {
  raw_field(L, t, name);
  auto v = read_number(L, -1);
  lua_pop(L, 1);
  return v;
}

std::optional<float> get_f32(lua_State* L, int t, const char* name) {
  auto v = get_number(L, t, name);
  if (!v) return std::nullopt;
  return to_f32(*v);
}

bool get_truth(lua_State* L, int t, const char* name, bool absent) {
  const int type = raw_field(L, t, name);
  const bool v = type == LUA_TNIL ? absent : lua_toboolean(L, -1) != 0;
  lua_pop(L, 1);
  return v;
}

void detail::pop(lua_State* L) { lua_pop(L, 1); }

}  // namespace ostrel_core::script::fields
