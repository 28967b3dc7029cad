// game.surface_at, looking_at, line_of_sight, find_path, steer_entity and heading: what a mob's
// or a weather mod's hooks ask of the lent world. The engine walks the rays and runs the
// searches; a script pays one call per question.

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <lua.hpp>
#include <optional>
#include <string>
#include <variant>

#include "base/log.hpp"
#include "base/num.hpp"
#include "detgen/trig.hpp"
#include "movement/ent/access.hpp"
#include "movement/path.hpp"
#include "movement/sight.hpp"
#include "script/api/entity_args.hpp"
#include "script/api/fields.hpp"
#include "script/api/readers.hpp"
#include "script/api/registration.hpp"
#include "script/api/runtime.hpp"
#include "script/api/runtime_call.hpp"
#include "script/lua_vm/state.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

constexpr std::string_view kLeasePoisoned = "the world lease is poisoned; the simulation thread panicked";

// The optional `name` of the table at `t` read as I; absent or unreadable gives `absent`.
template <class I>
I option(lua_State* L, int t, const char* name, I absent) {
  std::optional<I> v;
  if (fields::raw_field(L, t, name) != LUA_TNIL) v = fields::read_integer<I>(L, -1);
  lua_pop(L, 1);
  return v.value_or(absent);
}

template <class I>
I required_integer(lua_State* L, int t, const char* name, std::string_view fn) {
  fields::raw_field(L, t, name);
  const I v = fields::integer_value<I>(L, -1, fn, name);
  lua_pop(L, 1);
  return v;
}

int surface_at(lua_State* L) {
  constexpr std::string_view fn = "surface_at";
  convert::arg_table(L, 1, fn);
  sight::SurfaceQuery q;
  q.x = required_integer<std::int32_t>(L, 1, "x", fn);
  q.z = required_integer<std::int32_t>(L, 1, "z", fn);
  q.from = required_integer<std::int32_t>(L, 1, "from", fn);
  q.depth = 64;
  if (fields::raw_field(L, 1, "depth") != LUA_TNIL)
    q.depth = fields::integer_value<std::uint32_t>(L, -1, fn, "depth");
  lua_pop(L, 1);
  fields::raw_field(L, 1, "skip_passable");
  q.skip_passable = lua_toboolean(L, -1) != 0;
  fields::raw_field(L, 1, "skip_fluid");
  q.skip_fluid = lua_toboolean(L, -1) != 0;
  lua_pop(L, 2);
  const std::string domain = convert::domain_of(L, 1);
  const auto top = through(L, *slots_of(L).sight, kLeasePoisoned, [&](sight::Access* s) {
    return s == nullptr ? std::nullopt : s->surface_at(domain, q);
  });
  if (!top) {
    lua_pushnil(L);
    return 1;
  }
  lua_createtable(L, 0, 5);
  if (const auto* block = std::get_if<sight::SurfaceBlock>(&*top)) {
    lua_pushinteger(L, block->y);
    lua_setfield(L, -2, "y");
    lua_pushinteger(L, block->material);
    lua_setfield(L, -2, "material");
    lua_pushinteger(L, block->occupancy);
    lua_setfield(L, -2, "occupancy");
  } else {
    // An empty block holding fluid: level in bits 0-4, fluid id from bit 5.
    const auto& wet = std::get<sight::SurfaceFluid>(*top);
    lua_pushinteger(L, wet.y);
    lua_setfield(L, -2, "y");
    lua_pushinteger(L, 0);
    lua_setfield(L, -2, "material");
    lua_pushinteger(L, 0);
    lua_setfield(L, -2, "occupancy");
    lua_pushinteger(L, wet.state >> 5);
    lua_setfield(L, -2, "fluid");
    lua_pushinteger(L, wet.state & 0x1F);
    lua_setfield(L, -2, "volume");
  }
  return 1;
}

int looking_at(lua_State* L) {
  const auto player = player_arg(L, 1, "looking_at");
  const auto looked = through(L, *slots_of(L).sight, kLeasePoisoned, [&](sight::Access* s) {
    return s == nullptr ? std::nullopt : s->looking_at(player);
  });
  if (!looked) {
    lua_pushnil(L);
    return 1;
  }
  if (const auto* cell = std::get_if<sight::LookedCell>(&*looked)) {
    lua_createtable(L, 0, 6);
    const std::pair<const char*, std::int32_t> xyz[] = {
        {"x", cell->cell.x}, {"y", cell->cell.y}, {"z", cell->cell.z}};
    for (const auto& [key, v] : xyz) {
      lua_pushinteger(L, v);
      lua_setfield(L, -2, key);
    }
    push_text(L, cell->domain);
    lua_setfield(L, -2, "domain");
    lua_pushinteger(L, cell->material);
    lua_setfield(L, -2, "material");
    lua_createtable(L, 0, 3);
    const char* axes[3] = {"x", "y", "z"};
    for (int a = 0; a < 3; ++a) {
      lua_pushinteger(L, cell->face[static_cast<std::size_t>(a)]);
      lua_setfield(L, -2, axes[a]);
    }
    lua_setfield(L, -2, "face");
  } else {
    const auto& hit = std::get<sight::LookedEntity>(*looked);
    lua_createtable(L, 0, 3);
    push_text(L, hit.domain);
    lua_setfield(L, -2, "domain");
    lua_pushinteger(L, static_cast<lua_Integer>(hit.entity.value));
    lua_setfield(L, -2, "entity");
    if (hit.owner) {
      push_text(L, hit.owner->to_hex());
      lua_setfield(L, -2, "owner");
    }
  }
  return 1;
}

int line_of_sight(lua_State* L) {
  constexpr std::string_view fn = "line_of_sight";
  convert::arg_table(L, 1, fn);
  convert::arg_table(L, 2, fn);
  const std::string domain = convert::domain_of(L, 1);
  const auto from = readers::point(L, 1, fn);
  const auto to = readers::point(L, 2, fn);
  // Answered true when blocked; none without a world.
  const auto blocked = through(L, *slots_of(L).sight, kLeasePoisoned, [&](sight::Access* s) {
    return s == nullptr ? std::nullopt : s->line_of_sight(domain, from, to);
  });
  if (!blocked) {
    OSTREL_DEBUG(
        kTarget,
        "game.line_of_sight was asked while there was no world to look through; it is available from "
        "on_tick and an entity's on_step, and not from on_generate",
        log::text("mod_id", mod_of(L)));
    lua_pushnil(L);
    return 1;
  }
  lua_pushboolean(L, *blocked ? 0 : 1);
  return 1;
}

int find_path(lua_State* L) {
  constexpr std::string_view fn = "find_path";
  convert::arg_table(L, 1, fn);
  convert::arg_table(L, 2, fn);
  const std::string domain = convert::domain_of(L, 1);
  const auto from = readers::point(L, 1, fn);
  const auto to = readers::point(L, 2, fn);
  path::PathOptions options;
  if (lua_type(L, 3) == LUA_TTABLE) {
    // Options that do not read as their type take their defaults, silently.
    options.budget = option<std::uint32_t>(L, 3, "budget", path::kDefaultBudget);
    options.height = option<std::int32_t>(L, 3, "height", 2);
    options.step_up = option<std::int32_t>(L, 3, "step_up", 1);
    options.max_drop = option<std::int32_t>(L, 3, "max_drop", 3);
  }
  const path::Found found = through(L, *slots_of(L).paths, kLeasePoisoned, [&](path::Access* p) {
    return p == nullptr ? path::Found(std::unexpected(path::PathFailure::NoWorld))
                        : p->find_path(domain, from, to, options);
  });
  if (!found) {
    if (found.error() == path::PathFailure::NoWorld) {
      OSTREL_DEBUG(kTarget, "game.find_path was asked while there was no world to search",
                   log::text("mod_id", mod_of(L)));
    }
    lua_pushnil(L);
    push_text(L, path::reason(found.error()));
    return 2;
  }
  lua_createtable(L, static_cast<int>(std::min<std::size_t>(found->size(), 1 << 20)), 0);
  for (std::size_t i = 0; i < found->size(); ++i) {
    const coords::BlockPos b = (*found)[i];
    lua_createtable(L, 0, 3);
    lua_pushnumber(L, static_cast<double>(b.x) + 0.5);
    lua_setfield(L, -2, "x");
    lua_pushnumber(L, static_cast<double>(b.y));
    lua_setfield(L, -2, "y");
    lua_pushnumber(L, static_cast<double>(b.z) + 0.5);
    lua_setfield(L, -2, "z");
    lua_rawseti(L, -2, static_cast<lua_Integer>(i + 1));
  }
  return 1;
}

int steer_entity(lua_State* L) {
  constexpr std::string_view fn = "steer_entity";
  const ent::EntityId id = entity_arg(L, 1);
  convert::arg_table(L, 2, fn);
  const std::string domain = convert::domain_of(L, 2);
  const auto target = readers::point(L, 2, fn);
  phys::Gait gait = phys::Gait::Walk;
  if (!lua_isnoneornil(L, 3)) {
    const std::string name = convert::arg_text(L, 3, fn);
    if (name == "sprint") gait = phys::Gait::Sprint;
    if (name == "sneak") gait = phys::Gait::Sneak;
  }
  const Slots& slots = slots_of(L);
  // The entity slot, then the path slot inside it; poisoned or empty, either gives nil.
  const auto going = slots.entities->with([&](ent::access::Access* a) -> std::optional<bool> {
    if (a == nullptr) return std::nullopt;
    const auto e = a->get(id);
    if (!e) return std::nullopt;
    const auto at = entity_blocks(e->transform);
    // Blocks of headroom the body needs: its height in whole blocks, at least one, and one more.
    std::int32_t figure = 1;
    if (e->collider) figure = std::max(num::saturate_floor<std::int32_t>(e->collider->height / 3.0f), 1) + 1;
    return slots.paths->with([&](path::Access* p) -> std::optional<bool> {
      if (p == nullptr) return std::nullopt;
      const auto steering = p->steer(domain, at, target, figure);
      if (!steering) return std::nullopt;
      ent::access::Patch patch;
      patch.drive = phys::Intent{steering->drive_x, steering->drive_z, gait, steering->jump, false};
      a->patch(id, patch);
      return !steering->arrived;
    });
  });
  if (going) {
    lua_pushboolean(L, *going ? 1 : 0);
  } else {
    lua_pushnil(L);
  }
  return 1;
}

int heading(lua_State* L) {
  const auto dx = convert::to_number(L, 1);
  if (!dx) convert::arg_error(L, 1, "heading", dx.error().text);
  const auto dz = convert::to_number(L, 2);
  if (!dz) convert::arg_error(L, 2, "heading", dz.error().text);
  // The angle of (dz, dx) as the table arctangent gives it: 0 along +z, pi/2 along +x.
  lua_pushnumber(L, detgen::trig::atan2(fields::to_f32(*dx), fields::to_f32(*dz)));
  return 1;
}

}  // namespace

void install_sight_readers(lua_State* L, int game_idx, const Slots& slots) {
  const Closure closures[] = {{"surface_at", surface_at}, {"looking_at", looking_at}};
  set_closures(L, game_idx, slots, closures);
}

void install_perception(lua_State* L, std::string_view mod_id, int game_idx, const Slots& slots) {
  const Closure closures[] = {
      {"line_of_sight", line_of_sight}, {"find_path", find_path}, {"steer_entity", steer_entity}};
  set_closures(L, game_idx, slots, closures, mod_id);
}

void install_heading(lua_State* L, int game_idx) {
  game_idx = lua_absindex(L, game_idx);
  lua_pushcfunction(L, heading);
  lua_setfield(L, game_idx, "heading");
}

}  // namespace ostrel_core::script::lua_vm
