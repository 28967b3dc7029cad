// game.play_sound, game.cue, game.play_loop, game.stop_loop, game.time_of_day and
// game.set_time_of_day.

#include <fmt/format.h>

#include <cmath>
#include <cstdint>
#include <lua.hpp>
#include <string>

#include "presentation/sound.hpp"
#include "script/api/fields.hpp"
#include "script/api/presentation_readers.hpp"
#include "script/api/readers.hpp"
#include "script/api/registration.hpp"
#include "script/api/runtime_call.hpp"
#include "script/api/runtime_presentation.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

// Calls `fn` on the sound service; `empty` for an empty or poisoned slot.
template <class R, class F>
R through_sound(lua_State* L, R empty, F&& fn) {
  return slots_of(L).sound->with([&](sound::Access* s) -> R { return s == nullptr ? empty : fn(*s); });
}

// A required text field bound for a client.
std::string required_client_text(lua_State* L, int t, const char* name, std::string_view fn) {
  fields::raw_field(L, t, name);
  std::string out = readers::client_text(L, -1, fn, name);
  lua_pop(L, 1);
  return out;
}

std::string qualified_or_raise(lua_State* L, std::string_view id) {
  auto q = convert::qualify_id(mod_of(L), id);
  if (!q) convert::raise(L, q.error());
  return std::move(*q);
}

// pos (x, y, z and its domain), radius, gain, entity and player of a play, as play_sound and cue
// read them.
void read_play(lua_State* L, std::string_view fn, sound::PlayRequest& r) {
  if (fields::raw_field(L, 1, "pos") != LUA_TTABLE) {
    fields::field_error(L, fn, "pos", convert::mismatch(L, -1, "table"));
  }
  const int pos = lua_gettop(L);
  r.pos = readers::point_of(L, pos, fn);
  r.domain = convert::domain_of(L, pos);
  lua_pop(L, 1);
  r.radius = fields::opt_f32(L, 1, "radius", fn).value_or(16.0f);
  r.gain = fields::opt_f32(L, 1, "gain", fn).value_or(1.0f);
  auto entity = readers::entity_id_in(L, 1);
  if (!entity) convert::raise(L, entity.error());
  r.entity = *entity;
  auto player = readers::player_field(L, 1, fn);
  if (!player) convert::raise(L, player.error());
  r.player = *player;
}

int play(lua_State* L, sound::PlayRequest r) {
  r = sound::sanitise(std::move(r));
  lua_pushinteger(L, through_sound<std::uint32_t>(L, 0, [&](sound::Access& s) { return s.play(r); }));
  return 1;
}

int play_sound(lua_State* L) {
  constexpr std::string_view kFn = "play_sound";
  convert::arg_table(L, 1, kFn);
  lua_settop(L, 1);
  sound::PlayRequest r;
  r.sound = convert::named_block(mod_of(L), required_client_text(L, 1, "sound", kFn));
  read_play(L, kFn, r);
  return play(L, std::move(r));
}

// The sound bound last to `cue` in "ostrel.bindings"; none when nothing is.
std::optional<std::string> bound_sound(lua_State* L, std::string_view cue) {
  std::optional<std::string> found;
  if (lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.bindings") != LUA_TTABLE) {
    lua_pop(L, 1);
    return found;
  }
  const int table = lua_gettop(L);
  const lua_Integer n = static_cast<lua_Integer>(lua_rawlen(L, table));
  // From the last entry back: the first match is the later binding.
  for (lua_Integer i = n; i >= 1 && !found; --i) {
    if (lua_rawgeti(L, table, i) == LUA_TTABLE) {
      const int entry = lua_gettop(L);
      std::size_t len = 0;
      const char* bound = fields::raw_field(L, entry, "cue") == LUA_TSTRING ? lua_tolstring(L, -1, &len) : nullptr;
      if (bound != nullptr && std::string_view(bound, len) == cue) {
        if (fields::raw_field(L, entry, "sound") == LUA_TSTRING) {
          const char* s = lua_tolstring(L, -1, &len);
          found = std::string(s, len);
        }
        lua_pop(L, 1);
      }
      lua_pop(L, 1);
    }
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
  return found;
}

int cue(lua_State* L) {
  constexpr std::string_view kFn = "cue";
  convert::arg_table(L, 1, kFn);
  lua_settop(L, 1);
  const std::string qualified = convert::named_block(mod_of(L), required_client_text(L, 1, "cue", kFn));
  if (qualified.starts_with("engine:")) {
    convert::raise(L, fmt::format("`{}` is the engine's to emit; a mod may bind a sound to it but not raise it",
                                  qualified));
  }
  auto bound = bound_sound(L, qualified);
  if (!bound) {
    lua_pushinteger(L, 0);
    return 1;
  }
  sound::PlayRequest r;
  r.sound = std::move(*bound);
  read_play(L, kFn, r);
  return play(L, std::move(r));
}

int play_loop(lua_State* L) {
  constexpr std::string_view kFn = "play_loop";
  convert::arg_table(L, 1, kFn);
  lua_settop(L, 1);
  sound::LoopRequest r;
  r.id = qualified_or_raise(L, required_client_text(L, 1, "id", kFn));
  r.sound = convert::named_block(mod_of(L), required_client_text(L, 1, "sound", kFn));
  r.everywhere = fields::get_truth(L, 1, "everywhere", false);
  if (fields::raw_field(L, 1, "pos") != LUA_TNIL) {
    if (lua_type(L, -1) != LUA_TTABLE) fields::field_error(L, kFn, "pos", convert::mismatch(L, -1, "table"));
    r.pos = readers::point_of(L, -1, kFn);
    r.domain = convert::domain_of(L, -1);
  }
  lua_pop(L, 1);
  r.radius = fields::opt_f32(L, 1, "radius", kFn).value_or(16.0f);
  r.gain = fields::opt_f32(L, 1, "gain", kFn).value_or(1.0f);
  auto player = readers::player_field(L, 1, kFn);
  if (!player) convert::raise(L, player.error());
  r.player = *player;
  if (fields::raw_field(L, 1, "fade_ticks") != LUA_TNIL) {
    r.fade_ticks = fields::integer_value<std::uint32_t>(L, -1, kFn, "fade_ticks");
  }
  lua_pop(L, 1);
  r = sound::sanitise_loop(std::move(r));
  lua_pushinteger(L, through_sound<std::uint32_t>(L, 0, [&](sound::Access& s) { return s.start_loop(r); }));
  return 1;
}

int stop_loop(lua_State* L) {
  constexpr std::string_view kFn = "stop_loop";
  sound::StopRequest r;
  std::string id;
  switch (lua_type(L, 1)) {
    case LUA_TSTRING:
      id = readers::client_text(L, 1, kFn, "id");
      break;
    case LUA_TTABLE: {
      lua_settop(L, 1);
      id = required_client_text(L, 1, "id", kFn);
      if (fields::raw_field(L, 1, "fade_ticks") != LUA_TNIL) {
        r.fade_ticks = std::min(fields::integer_value<std::uint32_t>(L, -1, kFn, "fade_ticks"), sound::kMaxFadeTicks);
      }
      lua_pop(L, 1);
      auto player = readers::player_field(L, 1, kFn);
      if (!player) convert::raise(L, player.error());
      r.player = *player;
      break;
    }
    default:
      convert::raise(L, "stop_loop takes the loop's id, or a table with `id`, `fade_ticks` and `player`");
  }
  r.id = qualified_or_raise(L, id);
  lua_pushinteger(L, through_sound<std::uint32_t>(L, 0, [&](sound::Access& s) { return s.stop_loop(r); }));
  return 1;
}

int time_of_day(lua_State* L) {
  lua_pushnumber(L, static_cast<double>(through_sound<float>(L, 0.0f, [](sound::Access& s) { return s.time_of_day(); })));
  return 1;
}

int set_time_of_day(lua_State* L) {
  constexpr std::string_view kFn = "set_time_of_day";
  auto t = convert::to_number(L, 1);
  if (!t) convert::arg_error(L, 1, kFn, t.error().text);
  const float f = fields::to_f32(*t);
  if (!std::isfinite(f)) convert::raise(L, "set_time_of_day: the time is 0..1, midnight to midnight, and not a NaN");
  lua_pushboolean(L, through_sound<bool>(L, false, [&](sound::Access& s) { return s.set_time_of_day(f); }) ? 1 : 0);
  return 1;
}

}  // namespace

void install_sound_api(lua_State* L, std::string_view mod_id, int game_idx, const Slots& slots) {
  const Closure functions[] = {{"play_sound", play_sound}, {"time_of_day", time_of_day},
                               {"set_time_of_day", set_time_of_day}, {"cue", cue},
                               {"play_loop", play_loop},   {"stop_loop", stop_loop}};
  set_closures(L, game_idx, slots, functions, mod_id);
}

}  // namespace ostrel_core::script::lua_vm
