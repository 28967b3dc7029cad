// `game.register_fluid`: a fluid's block, its solver numbers and its colour. A field the mod
// gives must hold a value in its range; anything else (a wrong type included) is refused with
// the field's range, never replaced by the default.

#include <cstdint>

#include <fmt/format.h>
#include <lua.hpp>

#include "base/num.hpp"
#include "script/api/fields.hpp"
#include "script/api/registration.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

constexpr std::string_view kFluidKeys[] = {"id",      "material",  "tick_rate",
                                           "color",   "waterlogs_at", "evaporates",
                                           "opacity", "light_falloff", "washes"};

// Every refusal names the range; a value of the wrong type gets the same refusal as one out of
// range.
constexpr fields::Field kMaterial =
    fields::text("material").needed().mismatch_refused().refusal(
        "{ctx}: missing required field `material`. A fluid is drawn as a registered block; name "
        "the one it should look like.");

// The numbers, checked after the material is qualified.
constexpr fields::Field kFluidFields[] = {
    fields::whole("waterlogs_at", 1, 27).otherwise(14).mismatch_refused().refusal(
        "{ctx}: waterlogs_at must be 1..={hi}, got {got}. It is how many of a block's 27 cells "
        "must be filled before this fluid treats it as floor."),
    // 0 is in the range so that it gets its own refusal below.
    fields::whole("tick_rate", 0, 255).otherwise(1).mismatch_refused().refusal(
        "{ctx}: tick_rate must be 1..={hi}, got {got}. It is how many simulation ticks pass "
        "between the fluid's updates."),
    fields::whole("evaporates", 0, 4294967295).otherwise(0).mismatch_refused().refusal(
        "{ctx}: evaporates must be 0..={hi}, got {got}. It is one in how many fluid ticks a "
        "block open to the air loses a cell; 0 never."),
    fields::colour("color").whole_channels(0, 255).otherwise(255).channel_mismatch_refused()
        .refusal("{ctx}: {field} must be 0..=255, got {got}"),
    fields::f32("opacity").within(0.0, 1.0).otherwise(0.72).mismatch_refused().refusal(
        "{ctx}: opacity must be 0.0..=1.0, got {got}. It is how much of what is behind a "
        "surface of this fluid it hides — 1.0 for lava, 0.72 for water."),
    fields::whole("light_falloff", 0, 15).otherwise(0).mismatch_refused().refusal(
        "{ctx}: light_falloff must be 0..={hi}, got {got}. It is how many levels of light a "
        "block of this fluid takes out of what reaches it; 0 is like air and {hi} is pitch "
        "dark one block down."),
    fields::boolean("washes").otherwise(true),
};

// Upvalue 1: the mod id.
int register_fluid(lua_State* L) {
  const auto mod_id = upvalue_text(L, 1);
  arg_table(L, "register_fluid");
  lua_settop(L, 1);
  refuse_if_frozen(L, mod_id);
  const auto id = registration_id(L, 1);
  if (!id) convert::raise(L, "register_fluid: missing required field `id`");
  if (auto k = fields::unknown_key(L, 1, kFluidKeys)) {
    convert::raise(L, fmt::format("register_fluid(\"{}\"): unknown field `{}`", *id, *k));
  }
  const std::string qualified = qualify(L, mod_id, *id);
  const std::string ctx = fmt::format("register_fluid(\"{}\")", qualified);

  const std::string material =
      qualify(L, mod_id, fields::read_one(L, 1, ctx, kMaterial).text("material"));
  const auto got = fields::read(L, 1, ctx, kFluidFields);
  if (got.integer<std::int64_t>("tick_rate") == 0) {
    convert::raise(L, fmt::format("{}: tick_rate must be at least 1, got 0. A fluid that updates "
                                  "every zeroth tick never moves, which reads as the engine "
                                  "ignoring the mod.",
                                  ctx));
  }

  push_registry_table(L, "ostrel.fluids");  // 2
  lua_pushlstring(L, qualified.data(), qualified.size());
  if (lua_rawget(L, 2) != LUA_TNIL) {
    convert::raise(L, fmt::format("fluid `{}` is already registered", qualified));
  }
  lua_pop(L, 1);

  const auto& colour = got.colour("color");
  lua_createtable(L, 0, 10);
  lua_pushlstring(L, material.data(), material.size());
  lua_setfield(L, -2, "material");
  const std::pair<const char*, std::int64_t> ints[] = {
      {"waterlogs_at", got.integer<std::int64_t>("waterlogs_at")},
      {"tick_rate", got.integer<std::int64_t>("tick_rate")},
      {"evaporates", got.integer<std::int64_t>("evaporates")},
      {"light_falloff", got.integer<std::int64_t>("light_falloff")},
      {"color_r", colour.whole(0)},
      {"color_g", colour.whole(1)},
      {"color_b", colour.whole(2)}};
  for (const auto& [key, v] : ints) {
    lua_pushinteger(L, v);
    lua_setfield(L, -2, key);
  }
  lua_pushnumber(L, static_cast<double>(got.f32("opacity")));
  lua_setfield(L, -2, "opacity");
  lua_pushboolean(L, got.boolean("washes") ? 1 : 0);
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
