// `game.register_fluid`: a fluid's block, its solver numbers and its colour. A field the mod
// gives must hold a value in its range; anything else (a wrong type included) is refused with
// the field's range, never replaced by the default.

#include <cmath>

#include <fmt/format.h>
#include <lua.hpp>

#include "base/num.hpp"
#include "script/api/content_lua.hpp"
#include "script/lua_vm/lua_vm_impl.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

// t[name] as a whole number in lo..=hi; `fallback` when absent. `refusal` gets the value's
// text and gives the refusal.
template <class Refusal>
std::int64_t whole_field(lua_State* L, int t, std::string_view name, std::int64_t lo,
                         std::int64_t hi, std::int64_t fallback, Refusal&& refusal) {
  if (raw_field(L, t, name) == LUA_TNIL) {
    lua_pop(L, 1);
    return fallback;
  }
  const auto v = convert::whole_number(L, -1);
  if (!v || *v < lo || *v > hi) convert::raise(L, refusal(value_text(L, -1)));
  lua_pop(L, 1);
  return *v;
}

// Upvalue 1: the mod id.
int register_fluid(lua_State* L) {
  const auto mod_id = upvalue_text(L, 1);
  arg_table(L, "register_fluid");
  lua_settop(L, 1);
  refuse_if_frozen(L, mod_id);
  const auto id = spec_id(L, 1);
  if (!id) convert::raise(L, "register_fluid: missing required field `id`");
  if (auto k = unknown_key(L, 1, {"id", "material", "tick_rate", "color", "waterlogs_at",
                                  "evaporates", "opacity", "light_falloff", "washes"})) {
    convert::raise(L, fmt::format("register_fluid(\"{}\"): unknown field `{}`", *id, *k));
  }
  const std::string qualified = qualify(L, mod_id, *id);
  const std::string ctx = fmt::format("register_fluid(\"{}\")", qualified);

  const int mt = raw_field(L, 1, "material");
  if (mt != LUA_TSTRING && mt != LUA_TNUMBER) {
    convert::raise(L, fmt::format("{}: missing required field `material`. A fluid is drawn as a "
                                  "registered block; name the one it should look like.",
                                  ctx));
  }
  const std::string material = qualify(L, mod_id, *convert::to_text(L, -1));
  lua_pop(L, 1);

  const auto waterlogs_at = whole_field(L, 1, "waterlogs_at", 1, 27, 14, [&](const std::string& v) {
    return fmt::format("{}: waterlogs_at must be 1..={}, got {}. It is how many of a block's 27 "
                       "cells must be filled before this fluid treats it as floor.",
                       ctx, 27, v);
  });
  const auto tick_rate = whole_field(L, 1, "tick_rate", 0, 255, 1, [&](const std::string& v) {
    return fmt::format("{}: tick_rate must be 1..={}, got {}. It is how many simulation ticks "
                       "pass between the fluid's updates.",
                       ctx, 255, v);
  });
  if (tick_rate == 0) {
    convert::raise(L, fmt::format("{}: tick_rate must be at least 1, got 0. A fluid that updates "
                                  "every zeroth tick never moves, which reads as the engine "
                                  "ignoring the mod.",
                                  ctx));
  }
  const auto evaporates =
      whole_field(L, 1, "evaporates", 0, 4294967295, 0, [&](const std::string& v) {
        return fmt::format("{}: evaporates must be 0..=4294967295, got {}. It is one in how many "
                           "fluid ticks a block open to the air loses a cell; 0 never.",
                           ctx, v);
      });

  std::int64_t colour[3] = {255, 255, 255};
  const int ct = raw_field(L, 1, "color");  // 2
  if (ct != LUA_TNIL) {
    if (ct != LUA_TTABLE) field_error(L, ctx, "color", convert::mismatch(L, -1, "table"));
    const char* channels[] = {"r", "g", "b"};
    for (int i = 0; i < 3; ++i) {
      colour[i] = whole_field(L, 2, channels[i], 0, 255, 255, [&](const std::string& v) {
        return fmt::format("{}: color.{} must be 0..=255, got {}", ctx, channels[i], v);
      });
    }
  }
  lua_pop(L, 1);

  float opacity = 0.72f;
  if (raw_field(L, 1, "opacity") != LUA_TNIL) {
    auto v = convert::to_number(L, -1);
    opacity = v ? static_cast<float>(*v) : NAN;
    if (!(opacity >= 0.0f && opacity <= 1.0f)) {
      convert::raise(L, fmt::format("{}: opacity must be 0.0..=1.0, got {}. It is how much of what "
                                    "is behind a surface of this fluid it hides — 1.0 for lava, {} "
                                    "for water.",
                                    ctx, v ? num::format_number(opacity) : value_text(L, -1),
                                    num::format_number(0.72f)));
    }
  }
  lua_pop(L, 1);
  const auto light_falloff =
      whole_field(L, 1, "light_falloff", 0, 15, 0, [&](const std::string& v) {
        return fmt::format("{}: light_falloff must be 0..={}, got {}. It is how many levels of "
                           "light a block of this fluid takes out of what reaches it; 0 is like "
                           "air and {} is pitch dark one block down.",
                           ctx, 15, v, 15);
      });
  raw_field(L, 1, "washes");
  const bool washes = lua_isnil(L, -1) || lua_toboolean(L, -1) != 0;
  lua_pop(L, 1);

  push_registry_table(L, "ostrel.fluids");  // 2
  lua_pushlstring(L, qualified.data(), qualified.size());
  if (lua_rawget(L, 2) != LUA_TNIL) {
    convert::raise(L, fmt::format("fluid `{}` is already registered", qualified));
  }
  lua_pop(L, 1);

  lua_createtable(L, 0, 10);
  lua_pushlstring(L, material.data(), material.size());
  lua_setfield(L, -2, "material");
  const std::pair<const char*, std::int64_t> ints[] = {
      {"waterlogs_at", waterlogs_at}, {"tick_rate", tick_rate},   {"evaporates", evaporates},
      {"light_falloff", light_falloff}, {"color_r", colour[0]},  {"color_g", colour[1]},
      {"color_b", colour[2]}};
  for (const auto& [key, v] : ints) {
    lua_pushinteger(L, v);
    lua_setfield(L, -2, key);
  }
  lua_pushnumber(L, static_cast<double>(opacity));
  lua_setfield(L, -2, "opacity");
  lua_pushboolean(L, washes ? 1 : 0);
  lua_setfield(L, -2, "washes");
  lua_pushlstring(L, qualified.data(), qualified.size());
  lua_insert(L, -2);
  lua_rawset(L, 2);
  return 0;
}

}  // namespace

void set_fluid_functions(lua_State* L, std::string_view mod_id, int game) {
  set_function(L, game, "register_fluid", register_fluid, mod_id);
}

}  // namespace ostrel_core::script::lua_vm
