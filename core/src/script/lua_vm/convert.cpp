#include "script/lua_vm/convert.hpp"

#include <bit>
#include <cmath>
#include <cstdio>

#include <fmt/format.h>
#include <lua.hpp>

#include "base/num.hpp"
#include "proto/codec.hpp"

namespace ostrel_core::script::convert {
namespace {

ConvertError out_of_range(std::string value, std::string_view want) {
  return {fmt::format("{} is out of range for {}", value, want)};
}

// A number in Lua's own text form ("3", "1.5", "1e+20", "2.0"), made without the Lua
// allocator (so it works at any memory level) and without changing the value in place.
std::string number_text(lua_State* L, int idx) {
  if (lua_isinteger(L, idx)) return fmt::format("{}", lua_tointeger(L, idx));
  char buf[64];
  const int n = std::snprintf(buf, sizeof buf, LUA_NUMBER_FMT, lua_tonumber(L, idx));
  std::string out(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
  if (out.find_first_not_of("-0123456789") == std::string::npos) out += ".0";
  return out;
}

// Pushes the number the text at `idx` reads as; false, with nothing pushed, when it reads as
// none. A text holding a NUL is not a number (lua_stringtonumber would stop at the NUL).
bool push_text_number(lua_State* L, int idx) {
  std::size_t len = 0;
  const char* s = lua_tolstring(L, idx, &len);
  const std::size_t used = lua_stringtonumber(L, s);
  if (used == len + 1) return true;
  if (used != 0) lua_pop(L, 1);
  return false;
}

}  // namespace

std::string_view type_name(lua_State* L, int idx) {
  switch (lua_type(L, idx)) {
    case LUA_TNONE:
    case LUA_TNIL:
      return "nil";
    case LUA_TBOOLEAN:
      return "boolean";
    case LUA_TLIGHTUSERDATA:
      return "lightuserdata";
    case LUA_TNUMBER:
      return lua_isinteger(L, idx) ? "integer" : "number";
    case LUA_TSTRING:
      return "string";
    case LUA_TTABLE:
      return "table";
    case LUA_TFUNCTION:
      return "function";
    case LUA_TTHREAD:
      return "thread";
    case LUA_TUSERDATA:
      return "userdata";
    default:
      return "other";
  }
}

ConvertError mismatch(lua_State* L, int idx, std::string_view want) {
  return {fmt::format("expected {}, got {}", want, type_name(L, idx))};
}

namespace detail {

std::string_view integer_name(bool is_signed, int bits) {
  switch (bits) {
    case 8:
      return is_signed ? "a signed 8-bit integer" : "an unsigned 8-bit integer";
    case 16:
      return is_signed ? "a signed 16-bit integer" : "an unsigned 16-bit integer";
    case 32:
      return is_signed ? "a signed 32-bit integer" : "an unsigned 32-bit integer";
    default:
      return is_signed ? "a signed 64-bit integer" : "an unsigned 64-bit integer";
  }
}

std::expected<std::int64_t, ConvertError> to_whole(lua_State* L, int idx, std::int64_t lo,
                                                   std::int64_t hi, std::string_view want) {
  switch (lua_type(L, idx)) {
    case LUA_TNUMBER: {
      if (lua_isinteger(L, idx)) {
        const lua_Integer v = lua_tointeger(L, idx);
        if (v < lo || v > hi) return std::unexpected(out_of_range(fmt::format("{}", v), want));
        return v;
      }
      const double f = lua_tonumber(L, idx);
      const double t = std::trunc(f);
      // [lo, hi] as doubles: lo is a power of two (exact); hi + 1 is the exclusive bound.
      const double lo_f = static_cast<double>(lo);
      const double hi_f = static_cast<double>(hi) + 1.0;
      if (std::isnan(f) || t < lo_f || t >= hi_f) {
        return std::unexpected(out_of_range(num::format_number(f), want));
      }
      const auto v = num::saturate<std::int64_t>(t);
      if (v < lo || v > hi) return std::unexpected(out_of_range(num::format_number(f), want));
      return v;
    }
    case LUA_TSTRING: {
      idx = lua_absindex(L, idx);
      if (!push_text_number(L, idx)) return std::unexpected(mismatch(L, idx, "integer"));
      auto v = to_whole(L, -1, lo, hi, want);
      lua_pop(L, 1);
      return v;
    }
    default:
      return std::unexpected(mismatch(L, idx, "integer"));
  }
}

std::expected<std::uint64_t, ConvertError> to_whole_unsigned(lua_State* L, int idx,
                                                             std::uint64_t hi,
                                                             std::string_view want) {
  if (hi <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    auto v = to_whole(L, idx, 0, static_cast<std::int64_t>(hi), want);
    if (!v) return std::unexpected(v.error());
    return static_cast<std::uint64_t>(*v);
  }
  // The full unsigned 64-bit range: integers above 2^63 - 1 cannot be Lua integers, so only a
  // float (or a text reading as one) reaches past the signed range.
  switch (lua_type(L, idx)) {
    case LUA_TNUMBER: {
      if (lua_isinteger(L, idx)) {
        const lua_Integer v = lua_tointeger(L, idx);
        if (v < 0) return std::unexpected(out_of_range(fmt::format("{}", v), want));
        return static_cast<std::uint64_t>(v);
      }
      const double f = lua_tonumber(L, idx);
      const double t = std::trunc(f);
      if (std::isnan(f) || t < 0.0 || t >= 18446744073709551616.0) {
        return std::unexpected(out_of_range(num::format_number(f), want));
      }
      return num::saturate<std::uint64_t>(t);
    }
    case LUA_TSTRING: {
      idx = lua_absindex(L, idx);
      if (!push_text_number(L, idx)) return std::unexpected(mismatch(L, idx, "integer"));
      auto v = to_whole_unsigned(L, -1, hi, want);
      lua_pop(L, 1);
      return v;
    }
    default:
      return std::unexpected(mismatch(L, idx, "integer"));
  }
}

}  // namespace detail

std::optional<std::int64_t> whole_number(lua_State* L, int idx) {
  idx = lua_absindex(L, idx);
  const int t = lua_type(L, idx);
  if (t == LUA_TSTRING) {
    if (!push_text_number(L, idx)) return std::nullopt;
    auto v = whole_number(L, -1);
    lua_pop(L, 1);
    return v;
  }
  if (t != LUA_TNUMBER) return std::nullopt;
  if (lua_isinteger(L, idx)) return lua_tointeger(L, idx);
  const double f = lua_tonumber(L, idx);
  // [-2^63, 2^63): both bounds are exact doubles.
  if (!(f >= -9223372036854775808.0 && f < 9223372036854775808.0) || std::trunc(f) != f) {
    return std::nullopt;
  }
  return num::saturate<std::int64_t>(f);
}

std::expected<double, ConvertError> to_number(lua_State* L, int idx) {
  switch (lua_type(L, idx)) {
    case LUA_TNUMBER:
      return static_cast<double>(lua_tonumber(L, idx));
    case LUA_TSTRING: {
      idx = lua_absindex(L, idx);
      if (!push_text_number(L, idx)) return std::unexpected(mismatch(L, idx, "number"));
      const double v = lua_tonumber(L, -1);
      lua_pop(L, 1);
      return v;
    }
    default:
      return std::unexpected(mismatch(L, idx, "number"));
  }
}

std::expected<std::string, ConvertError> to_text(lua_State* L, int idx) {
  switch (lua_type(L, idx)) {
    case LUA_TSTRING: {
      std::size_t len = 0;
      const char* s = lua_tolstring(L, idx, &len);
      return std::string(s, len);
    }
    case LUA_TNUMBER:
      return number_text(L, idx);
    default:
      return std::unexpected(mismatch(L, idx, "string"));
  }
}

std::expected<std::string, ConvertError> to_utf8(lua_State* L, int idx) {
  auto text = to_text(L, idx);
  if (text && !proto::is_valid_utf8({reinterpret_cast<const std::uint8_t*>(text->data()), text->size()})) {
    return std::unexpected(ConvertError{"expected UTF-8 text, got bytes that are not"});
  }
  return text;
}

std::string error_text(lua_State* L, int idx) {
  const int t = lua_type(L, idx);
  if (t == LUA_TSTRING || t == LUA_TNUMBER) return *to_text(L, idx);
  return fmt::format("(error object is a {} value)", lua_typename(L, t));
}

std::string valid_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    std::size_t len = 0;
    std::uint32_t min = 0;
    if (c < 0x80) {
      len = 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
      len = 2, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4, min = 0x10000;
    }
    bool ok = len != 0 && i + len <= n;
    std::uint32_t cp = len == 1 ? c : c & (0x7F >> len);
    for (std::size_t k = 1; ok && k < len; ++k) {
      ok = (p[i + k] & 0xC0) == 0x80;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (ok && len > 1) ok = cp >= min && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    if (ok) {
      out.append(text.substr(i, len));
      i += len;
    } else {
      out.append("\xEF\xBF\xBD");
      ++i;
    }
  }
  return out;
}

std::string_view cut_utf8(std::string_view text, std::size_t max) {
  if (text.size() <= max) return text;
  std::size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return text.substr(0, n);
}

std::string named_block(std::string_view mod_id, std::string_view id) {
  if (id.find(':') != std::string_view::npos) return std::string(id);
  return fmt::format("{}:{}", mod_id, id);
}

std::expected<std::string, std::string> qualify_id(std::string_view mod_id, std::string_view id) {
  const auto colon = id.find(':');
  if (colon == std::string_view::npos) return fmt::format("{}:{}", mod_id, id);
  const auto ns = id.substr(0, colon);
  if (ns == mod_id) return std::string(id);
  return std::unexpected(fmt::format(
      "mod `{}` may not register into namespace `{}`: a mod owns only its own id as a namespace",
      mod_id, ns));
}

void raise(lua_State* L, std::string_view text) {
  lua_pushlstring(L, text.data(), text.size());
  lua_error(L);
  std::abort();  // lua_error does not return
}

void arg_error(lua_State* L, int arg, std::string_view fn, std::string_view why) {
  raise(L, fmt::format("bad argument #{} to '{}' ({})", arg, fn, why));
}

std::string arg_text(lua_State* L, int arg, std::string_view fn) {
  auto v = to_text(L, arg);
  if (!v) arg_error(L, arg, fn, v.error().text);
  return std::move(*v);
}

void arg_function(lua_State* L, int arg, std::string_view fn) {
  if (lua_type(L, arg) != LUA_TFUNCTION) arg_error(L, arg, fn, mismatch(L, arg, "function").text);
}

void arg_table(lua_State* L, int arg, std::string_view fn) {
  if (lua_type(L, arg) != LUA_TTABLE) arg_error(L, arg, fn, mismatch(L, arg, "table").text);
}

bool arg_optional_table(lua_State* L, int arg, std::string_view fn) {
  const int t = lua_type(L, arg);
  if (t == LUA_TNONE || t == LUA_TNIL) return false;
  if (t != LUA_TTABLE) arg_error(L, arg, fn, mismatch(L, arg, "table").text);
  return true;
}

std::uint16_t material_of(lua_State* L, int idx) {
  idx = lua_absindex(L, idx);
  const int t = lua_type(L, idx);
  if (t == LUA_TNUMBER && lua_isinteger(L, idx)) {
    const lua_Integer v = lua_tointeger(L, idx);
    if (v < 0 || v > 65535) raise(L, fmt::format("material id {} is out of range", v));
    return static_cast<std::uint16_t>(v);
  }
  if (t == LUA_TSTRING) {
    if (lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.blocks") != LUA_TTABLE) {
      raise(L, "the engine's block table \"ostrel.blocks\" cannot be read");
    }
    lua_pushvalue(L, idx);
    lua_rawget(L, -2);
    if (lua_isinteger(L, -1)) {
      const lua_Integer v = lua_tointeger(L, -1);
      if (v >= 0 && v <= 65535) {
        lua_pop(L, 2);
        return static_cast<std::uint16_t>(v);
      }
    }
    raise(L, fmt::format("no block registered with id `{}`", lua_tostring(L, idx)));
  }
  raise(L, fmt::format("material must be a block id or a numeric material, got {}",
                       type_name(L, idx)));
}

std::expected<std::uint64_t, std::string> bits_from_lua(lua_State* L, int idx, std::string_view what) {
  if (lua_type(L, idx) == LUA_TNUMBER) {
    if (lua_isinteger(L, idx)) return static_cast<std::uint64_t>(lua_tointeger(L, idx));
    const double f = lua_tonumber(L, idx);
    if (f >= 0.0 && f < 18446744073709551616.0) {
      const auto u = num::saturate<std::uint64_t>(f);
      if (std::bit_cast<std::uint64_t>(static_cast<double>(u)) == std::bit_cast<std::uint64_t>(f)) return u;
      return std::unexpected(fmt::format("{} must be a whole number, not {}", what, num::format_number(f)));
    }
  }
  return std::unexpected(fmt::format("{} must be an integer, not {}", what, type_name(L, idx)));
}

std::expected<std::uint64_t, std::string> seed_in(lua_State* L, int t, std::string_view key) {
  t = lua_absindex(L, t);
  lua_pushlstring(L, key.data(), key.size());
  lua_rawget(L, t);
  std::expected<std::uint64_t, std::string> out = std::uint64_t{0};
  if (!lua_isnil(L, -1)) out = bits_from_lua(L, -1, "a seed");
  lua_pop(L, 1);
  return out;
}

std::string domain_of(lua_State* L, int t) {
  t = lua_absindex(L, t);
  lua_pushliteral(L, "domain");
  lua_rawget(L, t);
  if (lua_isnil(L, -1)) {
    lua_pop(L, 1);
    return "overworld";
  }
  auto text = to_text(L, -1);
  lua_pop(L, 1);
  if (!text) raise(L, text.error().text);
  return text->empty() ? "overworld" : std::move(*text);
}

std::expected<std::shared_ptr<plan::Access>, std::string> plan_store(const Slot<plan::Access>& slot) {
  if (slot.poisoned()) return std::unexpected("the plan store is poisoned; the simulation panicked");
  return slot.get();
}

}  // namespace ostrel_core::script::convert
