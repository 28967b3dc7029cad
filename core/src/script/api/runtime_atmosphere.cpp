// game.set_sky_modifier, game.set_clouds, game.set_rainbow and
// game.flash: weather laid over one player's sky, and flashes for the players in reach.
//
// Every function reads and checks all of its arguments before it locks the atmosphere slot; an
// empty or poisoned slot answers false (0 for flash) without calling the service.

#include <fmt/format.h>

#include <cstdint>
#include <lua.hpp>
#include <optional>
#include <string>

#include "presentation/atmosphere.hpp"
#include "script/api/atmosphere_readers.hpp"
#include "script/api/fields.hpp"
#include "script/api/readers.hpp"
#include "script/api/runtime.hpp"
#include "script/api/runtime_call.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

using identity::PlayerUuid;

// Argument 1 as a player named by `fn`.
PlayerUuid player_arg(lua_State* L, std::string_view fn) {
  auto id = readers::player_of(convert::arg_text(L, 1, fn), fn);
  if (!id) convert::raise(L, id.error());
  return *id;
}

// The service's answer, or `empty` when the slot is empty or poisoned.
template <class R, class F>
R ask(lua_State* L, R empty, F&& fn) {
  const std::optional<R> got = slots_of(L).atmosphere->with([&](atmosphere::Access* a) -> std::optional<R> {
    if (a == nullptr) return std::nullopt;
    return fn(*a);
  });
  return got.value_or(empty);
}

std::uint32_t ease_ticks_in(lua_State* L, int t, std::string_view fn) {
  const fields::Values v = fields::read_one(L, t, fn, fields::integer<std::uint32_t>("ease_ticks"));
  return v.integer<std::uint32_t>("ease_ticks");
}

float f32_in(lua_State* L, int t, std::string_view fn, std::string_view name, float otherwise) {
  return fields::opt_f32(L, t, name, fn).value_or(otherwise);
}

int set_sky_modifier(lua_State* L) {
  constexpr std::string_view fn = "set_sky_modifier";
  const PlayerUuid player = player_arg(L, fn);
  std::optional<atmosphere::SkyModifier> modifier;
  if (convert::arg_optional_table(L, 2, fn)) {
    atmosphere::SkyModifier m;
    const bool has_sky = fields::opt_table(L, 2, "sky", fn);
    if (has_sky) {
      m.sky = channels_of(L, -1, fn, "sky", {0.0f, 0.0f, 0.0f});
      lua_pop(L, 1);
    }
    if (fields::opt_table(L, 2, "grade", fn)) {
      m.saturation = f32_in(L, -1, fn, "saturation", 1.0f);
      lua_pop(L, 1);
    } else {
      m.saturation = f32_in(L, 2, fn, "saturation", 1.0f);
    }
    m.intensity = f32_in(L, 2, fn, "intensity", 1.0f);
    m.sky_mix = f32_in(L, 2, fn, "sky_mix", has_sky ? 1.0f : 0.0f);
    m.fog_distance = f32_in(L, 2, fn, "fog_distance", 1.0f);
    m.stars = sky_stars_of(L, 2);
    m.light_floor = light_floor_of(L, 2);
    m.ease_ticks = ease_ticks_in(L, 2, fn);
    modifier = atmosphere::sanitise(m);
  }
  lua_pushboolean(L,
                  ask(L, false, [&](atmosphere::Access& a) { return a.set_sky_modifier(player, modifier); }));
  return 1;
}

constexpr std::string_view kMapFields[] = {"origin",   "cell",          "size",        "cover",
                                           "darkness", "stratocumulus", "altocumulus", "cumulonimbus"};
constexpr std::string_view kCloudFields[] = {"cover", "darkness",      "base",        "ease_ticks",
                                             "map",   "stratocumulus", "altocumulus", "cumulonimbus"};

std::string listed(std::span<const std::string_view> names) {
  std::string out = "[";
  for (std::size_t i = 0; i < names.size(); ++i) out += fmt::format("{}\"{}\"", i == 0 ? "" : ", ", names[i]);
  return out + "]";
}

// The `map` table at `m`; none when sanitise_cloud_map refuses it.
std::optional<atmosphere::CloudMap> cloud_map_in(lua_State* L, int m) {
  constexpr std::string_view fn = "set_clouds";
  m = lua_absindex(L, m);
  if (auto key = fields::unknown_key(L, m, kMapFields, true)) {
    convert::raise(L, fmt::format("set_clouds: unknown field `{}` in `map`. The fields are {}.", *key,
                                  listed(kMapFields)));
  }
  atmosphere::CloudMap map;
  if (fields::raw_field(L, m, "origin") != LUA_TTABLE) {
    fields::field_error(L, fn, "map.origin", convert::mismatch(L, -1, "table"));
  }
  const int origin = lua_gettop(L);
  fields::raw_field(L, m, "size");
  map.size = fields::integer_value<std::uint8_t>(L, -1, fn, "map.size");
  lua_pop(L, 1);
  if (map.size == 0 || map.size > atmosphere::kMaxCloudMapSize) {
    convert::raise(
        L, fmt::format("set_clouds: `map.size` is 1..={}, got {}", atmosphere::kMaxCloudMapSize, map.size));
  }
  fields::raw_field(L, m, "cell");
  map.cell = fields::to_f32(fields::number_value(L, -1, fn, "map.cell"));
  lua_pop(L, 1);
  if (!(map.cell > 0.0f) || !std::isfinite(map.cell)) {
    convert::raise(L, fmt::format("set_clouds: `map.cell` is how many blocks a cell covers, got {}",
                                  num::format_number(map.cell)));
  }
  const char* axes[2] = {"x", "z"};
  for (int i = 0; i < 2; ++i) {
    fields::raw_field(L, origin, axes[i]);
    map.origin[static_cast<std::size_t>(i)] =
        fields::to_f32(fields::number_value(L, -1, fn, fmt::format("map.origin.{}", axes[i])));
    lua_pop(L, 1);
  }
  lua_pop(L, 1);  // origin
  map.cover = cloud_layer_of(L, m, "cover", map.size, false);
  map.darkness = cloud_layer_of(L, m, "darkness", map.size, false);
  map.stratocumulus = cloud_layer_of(L, m, "stratocumulus", map.size, true);
  map.altocumulus = cloud_layer_of(L, m, "altocumulus", map.size, true);
  map.cumulonimbus = cloud_layer_of(L, m, "cumulonimbus", map.size, true);
  return atmosphere::sanitise_cloud_map(std::move(map));
}

int set_clouds(lua_State* L) {
  constexpr std::string_view fn = "set_clouds";
  const PlayerUuid player = player_arg(L, fn);
  std::optional<atmosphere::Clouds> clouds;
  std::optional<atmosphere::CloudMap> map;
  if (convert::arg_optional_table(L, 2, fn)) {
    if (fields::opt_table(L, 2, "map", fn)) {
      map = cloud_map_in(L, -1);
      lua_pop(L, 1);
    }
    if (auto key = fields::unknown_key(L, 2, kCloudFields, true)) {
      convert::raise(
          L, fmt::format("set_clouds: unknown field `{}`. The fields are {}.", *key, listed(kCloudFields)));
    }
    atmosphere::Clouds c;
    c.cover = f32_in(L, 2, fn, "cover", 0.0f);
    c.darkness = f32_in(L, 2, fn, "darkness", 0.0f);
    c.base = fields::opt_f32(L, 2, "base", fn);
    c.ease_ticks = ease_ticks_in(L, 2, fn);
    c.stratocumulus = f32_in(L, 2, fn, "stratocumulus", 0.0f);
    c.altocumulus = f32_in(L, 2, fn, "altocumulus", 0.0f);
    c.cumulonimbus = f32_in(L, 2, fn, "cumulonimbus", 0.0f);
    clouds = atmosphere::sanitise_cloud_state(c);
  }
  // A call without a map clears the player's last one.
  lua_pushboolean(L, ask(L, false, [&](atmosphere::Access& a) {
                    a.set_cloud_map(player, std::move(map));
                    return a.set_clouds(player, clouds);
                  }));
  return 1;
}

int set_rainbow(lua_State* L) {
  if (lua_type(L, 1) != LUA_TSTRING) {
    convert::raise(L,
                   fmt::format("set_rainbow takes a player UUID in hex, as a hook event reports one, not {}",
                               convert::type_name(L, 1)));
  }
  std::size_t len = 0;
  const char* text = lua_tolstring(L, 1, &len);
  auto id = readers::player_of(convert::valid_utf8({text, len}), "set_rainbow");
  if (!id) convert::raise(L, id.error());
  const PlayerUuid player = *id;
  std::optional<atmosphere::Rainbow> rainbow;
  if (!lua_isnoneornil(L, 2)) {
    if (lua_type(L, 2) != LUA_TTABLE) {
      convert::raise(L, fmt::format("set_rainbow takes {{ intensity, ease_ticks? }}, or nil for none, not {}",
                                    convert::type_name(L, 2)));
    }
    // Every key before any value.
    lua_pushnil(L);
    while (lua_next(L, 2) != 0) {
      lua_pop(L, 1);
      if (lua_type(L, -1) != LUA_TSTRING) {
        convert::raise(L, "set_rainbow takes named fields, `{ intensity = 0.8 }`, not a list");
      }
      std::size_t n = 0;
      const char* p = lua_tolstring(L, -1, &n);
      const std::string_view key(p, n);
      if (key != "intensity" && key != "ease_ticks") {
        convert::raise(
            L, fmt::format("set_rainbow: unknown field `{}`. The fields are [\"intensity\", \"ease_ticks\"].",
                           convert::valid_utf8(key)));
      }
    }
    const auto intensity = rainbow_number(L, 2, "intensity");
    const auto ease = rainbow_number(L, 2, "ease_ticks");
    if (!intensity)
      convert::raise(L, "set_rainbow needs `intensity`, a number from 0 to 1 (nil for no rainbow)");
    rainbow = atmosphere::rainbow_of(*intensity, ease.value_or(0.0));
  }
  lua_pushboolean(L, ask(L, false, [&](atmosphere::Access& a) { return a.set_rainbow(player, rainbow); }));
  return 1;
}

int flash(lua_State* L) {
  constexpr std::string_view fn = "flash";
  convert::arg_table(L, 1, fn);
  const int pos_type = fields::raw_field(L, 1, "pos");
  if (pos_type == LUA_TNIL) convert::raise(L, "flash needs a `pos` table");
  if (pos_type != LUA_TTABLE) fields::field_error(L, fn, "pos", convert::mismatch(L, -1, "table"));
  const int pos = lua_gettop(L);
  atmosphere::FlashRequest r;
  if (fields::opt_table(L, 1, "colour", fn)) {
    r.flash.colour = channels_of(L, -1, fn, "colour", {1.0f, 1.0f, 1.0f});
    lua_pop(L, 1);
  }
  r.flash.intensity = f32_in(L, 1, fn, "intensity", 1.0f);
  const fields::Field ticks[] = {fields::integer<std::uint32_t>("attack_ticks").otherwise(1),
                                 fields::integer<std::uint32_t>("decay_ticks").otherwise(6)};
  const fields::Values t = fields::read(L, 1, fn, ticks);
  r.flash.attack_ticks = t.integer<std::uint32_t>("attack_ticks");
  r.flash.decay_ticks = t.integer<std::uint32_t>("decay_ticks");
  const char* axes[3] = {"x", "y", "z"};
  for (std::size_t i = 0; i < 3; ++i) {
    fields::raw_field(L, pos, axes[i]);
    r.pos[i] = fields::number_value(L, -1, fn, fmt::format("pos.{}", axes[i]));
    lua_pop(L, 1);
  }
  r.domain = convert::domain_of(L, pos);
  lua_pop(L, 1);  // pos
  r.radius = f32_in(L, 1, fn, "radius", 256.0f);
  auto player = readers::player_field(L, 1, fn);
  if (!player) convert::raise(L, player.error());
  r.player = *player;
  r = atmosphere::sanitise_flash_request(std::move(r));
  lua_pushinteger(L, ask(L, std::uint32_t{0}, [&](atmosphere::Access& a) { return a.flash(r); }));
  return 1;
}

}  // namespace

void install_atmosphere(lua_State* L, int game_idx, const Slots& slots) {
  game_idx = lua_absindex(L, game_idx);
  push_slots(L, slots);
  const std::pair<const char*, lua_CFunction> functions[] = {
      {"set_sky_modifier", set_sky_modifier},
      {"flash", flash},
      {"set_clouds", set_clouds},
  };
  for (const auto& [name, f] : functions) {
    lua_pushvalue(L, -1);
    lua_pushcclosure(L, f, 1);
    lua_setfield(L, game_idx, name);
  }
  lua_pushcclosure(L, set_rainbow, 1);
  lua_setfield(L, game_idx, "set_rainbow");
  install_lightning(L, game_idx, slots);
}

}  // namespace ostrel_core::script::lua_vm
