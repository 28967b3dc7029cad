// game.stars, game.world_position, game.look_direction and game.star_in_view: the catalog and
// the world's place among the stars derived from the world seed, and the star a player looks at.
// The seed holder, the catalog cache and each slot are locked one at a time, each only for the
// step that reads it.

#include <lua.hpp>
#include <optional>
#include <string>

#include "movement/sight.hpp"
#include "presentation/sky.hpp"
#include "presentation/sound.hpp"
#include "script/api/readers.hpp"
#include "script/api/runtime.hpp"
#include "script/api/runtime_call.hpp"
#include "script/api/stars.hpp"
#include "world/domain.hpp"

namespace ostrel_core::script {

std::shared_ptr<const StarCatalogue> catalog_of(Slot<const std::uint64_t>& seed_slot,
                                                Slot<const StarCatalogue>& cache) {
  const std::optional<std::uint64_t> seed =
      seed_slot.with([](const std::uint64_t* s) { return s == nullptr ? std::nullopt : std::optional(*s); });
  if (!seed || cache.poisoned()) return nullptr;
  if (auto held = cache.get(); held && held->seed == *seed) return held;
  auto built = std::make_shared<const StarCatalogue>(StarCatalogue{*seed, sky::star_catalog(*seed)});
  cache.install(built);
  return built;
}

std::expected<std::optional<sight::Gaze>, std::string> gaze_of(Slot<sight::Access>& slot,
                                                               const identity::PlayerUuid& player) {
  bool poisoned = false;
  auto gaze =
      slot.with([&](sight::Access* s) { return s == nullptr ? std::nullopt : s->gaze(player); }, &poisoned);
  if (poisoned) return std::unexpected("the world lease is poisoned; the simulation thread panicked");
  return gaze;
}

namespace lua_vm {
namespace {

std::optional<std::uint64_t> seed_of(const Slots& slots) {
  return slots.seed->with(
      [](const std::uint64_t* s) { return s == nullptr ? std::nullopt : std::optional(*s); });
}

// The day's share passed, from the world clock; 0 with an empty or poisoned clock slot.
float day_fraction(const Slots& slots) {
  return slots.sound->with([](sound::Access* s) { return s == nullptr ? 0.0f : s->time_of_day(); });
}

void push_position(lua_State* L, const sky::UniversalPos& p) {
  lua_createtable(L, 0, 3);
  lua_pushinteger(L, p.x);
  lua_setfield(L, -2, "x");
  lua_pushinteger(L, p.y);
  lua_setfield(L, -2, "y");
  lua_pushinteger(L, p.z);
  lua_setfield(L, -2, "z");
}

// The player argument and the player's gaze; none answers nil.
std::optional<sight::Gaze> gaze_arg(lua_State* L, std::string_view fn) {
  auto player = readers::player_of(convert::arg_text(L, 1, fn), fn);
  if (!player) convert::raise(L, player.error());
  auto gaze = gaze_of(*slots_of(L).sight, *player);
  if (!gaze) convert::raise(L, gaze.error());
  return *gaze;
}

int stars(lua_State* L) {
  const Slots& slots = slots_of(L);
  const auto catalog = catalog_of(*slots.seed, *slots.stars);
  if (!catalog) {
    lua_pushnil(L);
    return 1;
  }
  lua_createtable(L, static_cast<int>(catalog->stars.size()), 0);
  lua_Integer i = 0;
  for (const sky::StarRecord& s : catalog->stars) {
    lua_createtable(L, 0, 6);
    lua_pushinteger(L, s.id);
    lua_setfield(L, -2, "id");
    lua_pushinteger(L, s.position.x);
    lua_setfield(L, -2, "x");
    lua_pushinteger(L, s.position.y);
    lua_setfield(L, -2, "y");
    lua_pushinteger(L, s.position.z);
    lua_setfield(L, -2, "z");
    lua_pushnumber(L, s.magnitude);
    lua_setfield(L, -2, "magnitude");
    lua_pushnumber(L, s.warmth);
    lua_setfield(L, -2, "warmth");
    lua_rawseti(L, -2, ++i);
  }
  return 1;
}

int world_position(lua_State* L) {
  const auto seed = seed_of(slots_of(L));
  if (!seed) {
    lua_pushnil(L);
    return 1;
  }
  push_position(L, sky::world_position(*seed));
  return 1;
}

int look_direction(lua_State* L) {
  const auto gaze = gaze_arg(L, "look_direction");
  if (!gaze) {
    lua_pushnil(L);
    return 1;
  }
  lua_createtable(L, 0, 4);
  const char* axes[3] = {"x", "y", "z"};
  for (std::size_t i = 0; i < 3; ++i) {
    lua_pushnumber(L, gaze->direction[i]);
    lua_setfield(L, -2, axes[i]);
  }
  lua_pushlstring(L, gaze->domain.data(), gaze->domain.size());
  lua_setfield(L, -2, "domain");
  return 1;
}

int star_in_view(lua_State* L) {
  const auto gaze = gaze_arg(L, "star_in_view");
  const Slots& slots = slots_of(L);
  const auto catalog = gaze ? catalog_of(*slots.seed, *slots.stars) : nullptr;
  if (!catalog) {
    lua_pushnil(L);
    return 1;
  }
  // A poisoned domain or sound slot counts as empty.
  const std::optional<sky::UniversalPos> placed = slots.domains->with(
      [&](domain::Access* d) { return d == nullptr ? std::nullopt : d->position_of(gaze->domain); });
  const sky::UniversalPos viewer = placed.value_or(sky::world_position(catalog->seed));
  const float time = day_fraction(slots);
  const auto seen = sky::star_in_view(catalog->stars, viewer, gaze->direction, time);
  if (!seen) {
    lua_pushnil(L);
    return 1;
  }
  lua_createtable(L, 0, 2);
  lua_pushinteger(L, seen->id);
  lua_setfield(L, -2, "id");
  lua_pushnumber(L, seen->alignment);
  lua_setfield(L, -2, "alignment");
  return 1;
}

}  // namespace

void install_stars(lua_State* L, int game_idx, const Slots& slots) {
  game_idx = lua_absindex(L, game_idx);
  push_slots(L, slots);
  const std::pair<const char*, lua_CFunction> functions[] = {
      {"stars", stars},
      {"world_position", world_position},
      {"look_direction", look_direction},
      {"star_in_view", star_in_view},
  };
  for (const auto& [name, f] : functions) {
    lua_pushvalue(L, -1);
    lua_pushcclosure(L, f, 1);
    lua_setfield(L, game_idx, name);
  }
  lua_pop(L, 1);
}

}  // namespace lua_vm
}  // namespace ostrel_core::script
