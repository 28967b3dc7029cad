// game.emit_particles and game.show_over.

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <lua.hpp>

#include "presentation/particle.hpp"
#include "script/api/fields.hpp"
#include "script/api/presentation_readers.hpp"
#include "script/api/readers.hpp"
#include "script/api/runtime_call.hpp"
#include "script/api/runtime_presentation.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

// The optional integer `name` of `t`, clamped to lo..=hi.
std::int64_t clamped_integer(lua_State* L, int t, const char* name, std::string_view fn, std::int64_t absent,
                             std::int64_t lo, std::int64_t hi) {
  std::int64_t v = absent;
  if (fields::raw_field(L, t, name) != LUA_TNIL) v = fields::integer_value<std::int64_t>(L, -1, fn, name);
  lua_pop(L, 1);
  return std::clamp(v, lo, hi);
}

// The optional number `name` of `t` as a 32-bit float.
float f32_field(lua_State* L, int t, const char* name, std::string_view fn, float absent) {
  return fields::opt_f32(L, t, name, fn).value_or(absent);
}

std::optional<identity::PlayerUuid> player_or_raise(lua_State* L, int t, std::string_view fn) {
  auto player = readers::player_field(L, t, fn);
  if (!player) convert::raise(L, player.error());
  return *player;
}

// Calls `fn` on the particle service; 0 for an empty or poisoned slot.
template <class F>
std::uint32_t through_particles(lua_State* L, F&& fn) {
  return slots_of(L).particles->with([&](particle::Access* p) -> std::uint32_t { return p == nullptr ? 0 : fn(*p); });
}

int emit_particles(lua_State* L) {
  constexpr std::string_view kFn = "emit_particles";
  convert::arg_table(L, 1, kFn);
  lua_settop(L, 1);
  if (fields::raw_field(L, 1, "pos") != LUA_TTABLE) convert::raise(L, "emit_particles needs a `pos` table");
  particle::ParticleRequest r;
  r.burst = readers::burst_of(L, 1, kFn);
  r.burst.pos = readers::point_of(L, 2, kFn);
  r.burst.count = static_cast<std::uint16_t>(clamped_integer(L, 1, "count", kFn, 8, 0, 65535));
  r.domain = convert::domain_of(L, 2);
  r.radius = f32_field(L, 1, "radius", kFn, 32.0f);
  r.player = player_or_raise(L, 1, kFn);
  r = particle::sanitise(std::move(r));
  const std::uint32_t told = through_particles(L, [&](particle::Access& p) { return p.emit(r); });
  lua_pushinteger(L, told);
  return 1;
}

int show_over(lua_State* L) {
  constexpr std::string_view kFn = "show_over";
  auto entity = convert::bits_from_lua(L, 1, "an entity id");
  if (!entity) convert::raise(L, entity.error());
  convert::arg_table(L, 2, kFn);
  lua_settop(L, 2);
  particle::BadgeRequest r;
  r.badge.entity = *entity;
  r.badge.colour = readers::colour_of(L, 2, kFn);
  r.badge.count = static_cast<std::uint8_t>(clamped_integer(L, 2, "count", kFn, 1, 0, 16));
  r.badge.picture = readers::content_hash(L, 2, "picture", kFn);
  r.badge.seconds = particle::clamp_field(f32_field(L, 2, "seconds", kFn, 2.0f), 0.0f, 30.0f, 2.0f);
  r.badge.size = particle::clamp_field(f32_field(L, 2, "size", kFn, 0.4f), 0.0f, 4.0f, 0.4f);
  r.radius = particle::clamp_field(f32_field(L, 2, "radius", kFn, 32.0f), 0.0f, 128.0f, 32.0f);
  r.player = player_or_raise(L, 2, kFn);
  const std::uint32_t told = through_particles(L, [&](particle::Access& p) { return p.show_over(r); });
  lua_pushinteger(L, told);
  return 1;
}

}  // namespace

void install_particles(lua_State* L, int game_idx, const Slots& slots) {
  const Closure functions[] = {{"emit_particles", emit_particles}, {"show_over", show_over}};
  set_closures(L, game_idx, slots, functions);
}

}  // namespace ostrel_core::script::lua_vm
