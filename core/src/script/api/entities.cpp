// game.spawn_entity, despawn_entity, entity, set_entity and entities_in_radius: entities as the
// script sees them (blocks, integer ids, tables of named fields) through the entity access.
//
// Each function copies the service out of its slot and releases the slot before it reads the
// rest of its arguments; where that happens decides which malformed argument an empty slot hides.

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <lua.hpp>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/num.hpp"
#include "base/text.hpp"
#include "detgen/trig.hpp"
#include "movement/ent/access.hpp"
#include "script/api/entity_args.hpp"
#include "script/api/fields.hpp"
#include "script/api/readers.hpp"
#include "script/api/registration.hpp"
#include "script/api/runtime.hpp"
#include "script/api/runtime_call.hpp"
#include "script/read/stack_table.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

using ent::Entity;
using ent::EntityId;
using ent::component::Transform;

constexpr std::string_view kPoisoned = "the entity store is poisoned; the simulation thread panicked";
constexpr float kMaxSpeed = 16.0f;
constexpr float kMaxColliderCells = 48.0f;  // 16 blocks

// The service after the slot is released: null for an empty slot; a poisoned one raises.
std::shared_ptr<ent::access::Access> entity_service(lua_State* L) {
  const Slots& slots = slots_of(L);
  if (slots.entities->poisoned()) convert::raise(L, kPoisoned);
  return slots.entities->get();
}

// The optional `speed` of the table at `t`, a multiplier 0..=16 as a 32-bit float.
std::optional<float> speed_in(lua_State* L, int t, std::string_view fn) {
  if (fields::raw_field(L, t, "speed") == LUA_TNIL) {
    lua_pop(L, 1);
    return std::nullopt;
  }
  const float speed = fields::to_f32(fields::number_value(L, -1, fn, "speed"));
  lua_pop(L, 1);
  if (!(speed >= 0.0f && speed <= kMaxSpeed)) {
    convert::raise(L, fmt::format("{}: `speed` is a multiplier from 0 to {}, got {}", fn,
                                  num::format_number(kMaxSpeed), num::format_number(speed)));
  }
  return speed;
}

// The table field `name` of the table at `t`, pushed; false (nothing pushed) when absent.
bool table_field(lua_State* L, int t, const char* name, std::string_view fn) {
  const int type = fields::raw_field(L, t, name);
  if (type == LUA_TNIL) {
    lua_pop(L, 1);
    return false;
  }
  if (type != LUA_TTABLE) fields::field_error(L, fn, name, convert::mismatch(L, -1, "table"));
  return true;
}

bool finite(const std::array<double, 3>& v) {
  return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

void push_xyz(lua_State* L, double x, double y, double z) {
  lua_createtable(L, 0, 3);
  lua_pushnumber(L, x);
  lua_setfield(L, -2, "x");
  lua_pushnumber(L, y);
  lua_setfield(L, -2, "y");
  lua_pushnumber(L, z);
  lua_setfield(L, -2, "z");
}

void push_entity(lua_State* L, const Entity& e) {
  lua_createtable(L, 0, 20);
  const auto blocks = entity_blocks(e.transform);
  push_xyz(L, blocks[0], blocks[1], blocks[2]);
  lua_setfield(L, -2, "pos");
  lua_pushnumber(L, e.transform.yaw);
  lua_setfield(L, -2, "yaw");
  lua_pushnumber(L, e.transform.pitch);
  lua_setfield(L, -2, "pitch");
  const float cos_pitch = detgen::trig::cos(e.transform.pitch);
  push_xyz(L, cos_pitch * detgen::trig::sin(e.transform.yaw), detgen::trig::sin(e.transform.pitch),
           cos_pitch * detgen::trig::cos(e.transform.yaw));
  lua_setfield(L, -2, "facing");
  push_xyz(L, e.velocity[0], e.velocity[1], e.velocity[2]);
  lua_setfield(L, -2, "velocity");
  lua_pushboolean(L, e.on_ground ? 1 : 0);
  lua_setfield(L, -2, "on_ground");
  lua_pushnumber(L, e.submerged);
  lua_setfield(L, -2, "submerged");
  lua_pushnumber(L, e.fell);
  lua_setfield(L, -2, "fell");
  push_text(L, e.source);
  lua_setfield(L, -2, "source");
  if (e.model) {
    push_text(L, *e.model);
    lua_setfield(L, -2, "model");
  }
  if (e.item) {
    stack_table::push_stack_table(L, *e.item);
    lua_setfield(L, -2, "item");
  }
  lua_pushinteger(L, e.anim);
  lua_setfield(L, -2, "anim");
  readers::tint_table(L,
                      std::uint32_t{e.tint.r} | std::uint32_t{e.tint.g} << 8 | std::uint32_t{e.tint.b} << 16);
  lua_setfield(L, -2, "tint");
  if (e.owner) {
    push_text(L, e.owner->uuid.to_hex());
    lua_setfield(L, -2, "owner");
  }
  if (e.nametag) {
    if (const auto* literal = std::get_if<ent::component::NametagText>(&*e.nametag)) {
      push_text(L, literal->text);
      lua_setfield(L, -2, "nametag");
    } else {
      push_text(L, std::get<ent::component::NametagPlayer>(*e.nametag).uuid.to_hex());
      lua_setfield(L, -2, "nametag_player");
    }
  }
  if (e.health) {
    lua_pushinteger(L, e.health->current);
    lua_setfield(L, -2, "health");
    lua_pushinteger(L, e.health->max);
    lua_setfield(L, -2, "max_health");
  }
}

int spawn_entity(lua_State* L) {
  constexpr std::string_view fn = "spawn_entity";
  convert::arg_table(L, 1, fn);
  const auto service = entity_service(L);
  if (!service) {
    lua_pushnil(L);
    return 1;
  }
  if (fields::raw_field(L, 1, "pos") != LUA_TTABLE)
    fields::field_error(L, fn, "pos", convert::mismatch(L, -1, "table"));
  const auto pos = readers::point(L, -1, fn, "pos.");
  lua_pop(L, 1);
  if (!finite(pos)) convert::raise(L, "spawn_entity was given a position that is not a number");
  Entity e;
  e.transform = Transform::from_world(pos[0], pos[1], pos[2]);
  e.source = std::string(mod_of(L));
  e.model = fields::opt_text(L, 1, "model", fn);
  if (fields::raw_field(L, 1, "item") != LUA_TNIL) e.item = stack_table::stack_of(L, lua_gettop(L));
  lua_pop(L, 1);
  const auto health = fields::read_one(L, 1, fn, fields::integer<std::uint32_t>("health"));
  if (health.given("health")) {
    const auto h = health.integer<std::uint32_t>("health");
    e.health = ent::component::Health{h, h};
  }
  if (const auto speed = speed_in(L, 1, fn)) e.speed = *speed;
  if (auto tag = fields::opt_text(L, 1, "nametag", fn))
    e.nametag = ent::component::NametagText{std::move(*tag)};
  if (const auto tag = fields::opt_text(L, 1, "nametag_player", fn)) {
    const auto who = identity::PlayerUuid::from_hex(*tag);
    if (!who) convert::raise(L, "nametag_player takes a player UUID in hex, as `game.entity` reports one");
    e.nametag = ent::component::NametagPlayer{*who};
  }
  if (table_field(L, 1, "collider", fn)) {
    const int box = lua_gettop(L);
    float sides[2] = {};
    const char* names[2] = {"width", "height"};
    for (int i = 0; i < 2; ++i) {
      fields::raw_field(L, box, names[i]);
      sides[i] = fields::to_f32(fields::number_value(L, -1, fn, fmt::format("collider.{}", names[i])));
      lua_pop(L, 1);
      // A box with no extent, or one no chunk window can hold, would break the body step.
      if (!(sides[i] > 0.0f && sides[i] <= kMaxColliderCells)) {
        convert::raise(L,
                       "spawn_entity: `collider` is { width, height } in cells, each above 0 and at most 48");
      }
    }
    lua_pop(L, 1);
    e.collider = phys::Shape{sides[0], sides[1]};
  }
  // A place no chunk of the world holds: nothing to spawn into.
  if (!readers::in_world(pos)) {
    lua_pushnil(L);
    return 1;
  }
  push_id(L, service->spawn(std::move(e)));
  return 1;
}

int despawn_entity(lua_State* L) {
  const EntityId id = entity_arg(L, 1);
  const auto service = entity_service(L);
  bool gone = false;
  if (service) {
    // A player's body goes with its player, never by a mod's call.
    const auto e = service->get(id);
    gone = e && e->source != kPlayerSource && service->despawn(id);
  }
  lua_pushboolean(L, gone ? 1 : 0);
  return 1;
}

int entity(lua_State* L) {
  const auto service = entity_service(L);
  if (!service) {
    lua_pushnil(L);
    return 1;
  }
  const auto e = service->get(entity_arg(L, 1));
  if (e) {
    push_entity(L, *e);
  } else {
    lua_pushnil(L);
  }
  return 1;
}

// The `tint` and `tint_ticks` of the set_entity table at `t` into `patch`.
void read_tint(lua_State* L, int t, ent::access::Patch& patch) {
  const int type = fields::raw_field(L, t, "tint");
  if (type == LUA_TNIL) {
    lua_pop(L, 1);
    return;
  }
  if (type == LUA_TBOOLEAN && lua_toboolean(L, -1) == 0) {
    lua_pop(L, 1);
    patch.tint = ent::component::Rgb{};
    return;
  }
  if (type != LUA_TTABLE) {
    convert::raise(L, fmt::format("set_entity: `tint` is {{ r, g, b }} in 0..=1, or false, not a {}",
                                  convert::type_name(L, -1)));
  }
  const auto bytes = readers::tint_bytes(L, lua_gettop(L));
  if (!bytes) convert::raise(L, bytes.error());
  lua_pop(L, 1);
  const ent::component::Rgb colour{(*bytes)[0], (*bytes)[1], (*bytes)[2]};
  const auto ticks = fields::read_one(L, t, "set_entity", fields::integer<std::uint32_t>("tint_ticks"));
  const std::uint32_t n = ticks.given("tint_ticks") ? ticks.integer<std::uint32_t>("tint_ticks") : 0;
  if (n == 0) {
    patch.tint = colour;
  } else {
    patch.flash =
        ent::access::FlashChange{colour, static_cast<std::uint16_t>(std::min<std::uint32_t>(n, 65535))};
  }
}

// The `drive` of the set_entity table at `t`: walk { x, z }, gait and jump.
std::optional<phys::Intent> read_drive(lua_State* L, int t) {
  constexpr std::string_view fn = "set_entity";
  if (!table_field(L, t, "drive", fn)) return std::nullopt;
  const int drive = lua_gettop(L);
  phys::Intent intent;
  if (table_field(L, drive, "walk", fn)) {
    fields::raw_field(L, -1, "x");
    intent.walk_x = fields::to_f32(fields::number_value(L, -1, fn, "drive.walk.x"));
    lua_pop(L, 1);
    fields::raw_field(L, -1, "z");
    intent.walk_z = fields::to_f32(fields::number_value(L, -1, fn, "drive.walk.z"));
    lua_pop(L, 2);
  }
  if (const auto gait = fields::opt_text(L, drive, "gait", fn)) {
    if (*gait == "sprint") {
      intent.gait = phys::Gait::Sprint;
    } else if (*gait == "sneak") {
      intent.gait = phys::Gait::Sneak;
    } else if (*gait != "walk") {
      convert::raise(L, fmt::format("set_entity: unknown gait `{}`; expected walk, sprint or sneak",
                                    convert::valid_utf8(*gait)));
    }
  }
  fields::raw_field(L, drive, "jump");
  intent.jump = lua_toboolean(L, -1) != 0;
  lua_pop(L, 2);
  return intent;
}

int set_entity(lua_State* L) {
  constexpr std::string_view fn = "set_entity";
  convert::arg_table(L, 2, fn);
  const auto service = entity_service(L);
  if (!service) {
    lua_pushboolean(L, 0);
    return 1;
  }
  ent::access::Patch patch;
  if (table_field(L, 2, "pos", fn)) {
    const auto pos = readers::point(L, -1, fn, "pos.");
    lua_pop(L, 1);
    // Outside the world is no more a place than NaN is.
    if (finite(pos) && readers::in_world(pos)) patch.pos = pos;
  }
  if (table_field(L, 2, "velocity", fn)) {
    const auto v = readers::point(L, -1, fn, "velocity.");
    lua_pop(L, 1);
    patch.velocity = {fields::to_f32(v[0]), fields::to_f32(v[1]), fields::to_f32(v[2])};
  }
  patch.yaw = fields::opt_f32(L, 2, "yaw", fn);
  patch.pitch = fields::opt_f32(L, 2, "pitch", fn);
  const auto health = fields::read_one(L, 2, fn, fields::integer<std::uint32_t>("health"));
  if (health.given("health")) patch.health = health.integer<std::uint32_t>("health");
  patch.speed = speed_in(L, 2, fn);
  read_tint(L, 2, patch);
  const auto anim = fields::read_one(L, 2, fn, fields::integer<std::uint8_t>("anim"));
  if (anim.given("anim")) patch.anim = anim.integer<std::uint8_t>("anim");
  patch.drive = read_drive(L, 2);
  const EntityId id = entity_arg(L, 1);
  lua_pushboolean(L, service->patch(id, patch) ? 1 : 0);
  return 1;
}

int entities_in_radius(lua_State* L) {
  constexpr std::string_view fn = "entities_in_radius";
  convert::arg_table(L, 1, fn);
  const auto radius = convert::to_number(L, 2);
  if (!radius) convert::arg_error(L, 2, fn, radius.error().text);
  std::optional<std::string> source;
  if (!lua_isnoneornil(L, 3)) source = convert::arg_text(L, 3, fn);
  const auto service = entity_service(L);
  if (!service) {
    lua_newtable(L);
    return 1;
  }
  const auto at = readers::point(L, 1, fn);
  const std::string domain = convert::domain_of(L, 1);
  // The radius is compared squared: a negative one finds what its magnitude finds.
  const auto ids = service->within(domain, at, std::fabs(*radius),
                                   source ? std::optional<std::string_view>(*source) : std::nullopt);
  lua_createtable(L, static_cast<int>(std::min<std::size_t>(ids.size(), 1 << 20)), 0);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    lua_pushinteger(L, static_cast<lua_Integer>(ids[i].value));
    lua_rawseti(L, -2, static_cast<lua_Integer>(i + 1));
  }
  return 1;
}

}  // namespace

std::array<double, 3> entity_blocks(const ent::component::Transform& t) {
  return {static_cast<double>(t.chunk.x) * 16.0 + static_cast<double>(t.local[0]) / 3.0,
          static_cast<double>(t.chunk.y) * 16.0 + static_cast<double>(t.local[1]) / 3.0,
          static_cast<double>(t.chunk.z) * 16.0 + static_cast<double>(t.local[2]) / 3.0};
}

void push_id(lua_State* L, std::optional<EntityId> id) {
  if (id) {
    lua_pushinteger(L, static_cast<lua_Integer>(id->value));
  } else {
    lua_pushnil(L);
  }
}

EntityId entity_arg(lua_State* L, int idx) {
  auto bits = convert::bits_from_lua(L, idx, "an entity id");
  if (!bits) convert::raise(L, bits.error());
  return EntityId{*bits};
}

void install_entities(lua_State* L, std::string_view mod_id, int game_idx, const Slots& slots) {
  const Closure closures[] = {{"spawn_entity", spawn_entity},
                              {"despawn_entity", despawn_entity},
                              {"entity", entity},
                              {"set_entity", set_entity},
                              {"entities_in_radius", entities_in_radius}};
  set_closures(L, game_idx, slots, closures, mod_id);
}

}  // namespace ostrel_core::script::lua_vm
