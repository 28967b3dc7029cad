// game.player_entity, move_player, select_slot, set_player_abilities, push_player, mount,
// dismount and mounted: connected players and what they ride, through the entity access.
//
// Arguments are read and checked before the slot is locked; the service is called under the
// slot's lock, and an empty or poisoned slot gives the function's empty answer, never an error.

#include <fmt/format.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <lua.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "base/num.hpp"
#include "movement/ent/access.hpp"
#include "script/api/entity_args.hpp"
#include "script/api/fields.hpp"
#include "script/api/readers.hpp"
#include "script/api/runtime.hpp"
#include "script/api/runtime_call.hpp"
#include "script/read/stack_table.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

using ent::access::Access;
using ent::mount::Boarding;

constexpr float kMaxSeatCells = 48.0f;  // 16 blocks
constexpr float kMaxGravity = 4.0f;

// `fn(Access*)` under the entity slot's lock; a poisoned slot answers as an empty one.
template <class F>
auto with_entities(lua_State* L, F&& fn) {
  return slots_of(L).entities->with([&](Access* a) { return a == nullptr ? decltype(fn(a))() : fn(a); });
}

std::string_view boarding_text(Boarding b) {
  switch (b) {
    case Boarding::NoSuchEntity:
      return "no such entity";
    case Boarding::APlayer:
      return "a player";
    case Boarding::NoCollider:
      return "no collider";
    case Boarding::AnotherDomain:
      return "another domain";
    case Boarding::AlreadyRiding:
      return "already riding";
    case Boarding::Ridden:
      return "ridden";
    case Boarding::NotConnected:
    case Boarding::Seated:
      break;
  }
  return "not connected";
}

int player_entity(lua_State* L) {
  const auto player = player_arg(L, 1, "player_entity");
  const auto id = with_entities(L, [&](Access* a) { return a->player(player); });
  push_id(L, id);
  return 1;
}

int move_player(lua_State* L) {
  const auto player = player_arg(L, 1, "move_player");
  convert::arg_table(L, 2, "move_player");
  const auto pos = readers::point(L, 2, "move_player");
  for (const double v : pos) {
    if (!std::isfinite(v)) convert::raise(L, "game.move_player was given a position that is not a number");
  }
  lua_pushboolean(L, with_entities(L, [&](Access* a) { return a->move_player(player, pos); }) ? 1 : 0);
  return 1;
}

int select_slot(lua_State* L) {
  const auto player = player_arg(L, 1, "select_slot");
  const auto slot = convert::to_integer<std::int64_t>(L, 2);
  if (!slot) convert::arg_error(L, 2, "select_slot", slot.error().text);
  if (*slot < 0 || *slot > 65535) {
    convert::raise(L,
                   fmt::format("game.select_slot: slot must be 0 or more and fit in a u16, got {}", *slot));
  }
  const auto index = static_cast<std::uint16_t>(*slot);
  lua_pushboolean(L, with_entities(L, [&](Access* a) { return a->select_slot(player, index); }) ? 1 : 0);
  return 1;
}

// The optional boolean `name` of the table at `t`: a value of another type is the default.
bool flag(lua_State* L, int t, const char* name, bool absent) {
  const bool is_boolean = fields::raw_field(L, t, name) == LUA_TBOOLEAN;
  const bool out = is_boolean ? lua_toboolean(L, -1) != 0 : absent;
  lua_pop(L, 1);
  return out;
}

// The abilities table at `t`, checked.
ent::access::Abilities abilities_of(lua_State* L, int t) {
  static constexpr std::string_view kFields[] = {"fly",    "operator_fly", "speed",
                                                 "sprint", "wind_sky",     "gravity"};
  if (const auto unknown = fields::unknown_key(L, t, kFields, true)) {
    convert::raise(L, fmt::format("set_player_abilities: unknown field `{}`. The fields are [\"fly\", "
                                  "\"operator_fly\", \"speed\", \"sprint\", \"wind_sky\", \"gravity\"].",
                                  *unknown));
  }
  ent::access::Abilities out;
  fields::raw_field(L, t, "speed");
  const double speed = fields::read_number(L, -1).value_or(1.0);
  lua_pop(L, 1);
  if (!(speed >= 0.0) || std::isinf(speed)) {
    convert::raise(L, fmt::format("set_player_abilities: `speed` is a multiplier of 0 or more, got {}. 1 is "
                                  "unchanged and 0 is rooted.",
                                  num::format_number(speed)));
  }
  double gravity = 1.0;
  if (fields::raw_field(L, t, "gravity") != LUA_TNIL) {
    const auto g = convert::to_number(L, -1);
    if (!g)
      convert::raise(L, fmt::format("set_player_abilities: `gravity` must be a number: {}", g.error().text));
    gravity = *g;
  }
  lua_pop(L, 1);
  if (!(gravity >= 0.0) || std::isinf(gravity)) {
    convert::raise(L,
                   fmt::format("set_player_abilities: `gravity` is a multiplier of 0 or more, got {}. 1 is "
                               "unchanged and 0 floats.",
                               num::format_number(gravity)));
  }
  out.wire.speed = fields::to_f32(speed);
  out.wire.gravity = std::min(fields::to_f32(gravity), kMaxGravity);
  out.wire.fly = flag(L, t, "fly", false);
  out.wire.operator_fly = flag(L, t, "operator_fly", true);
  out.wire.sprint = flag(L, t, "sprint", true);
  out.wind_sky = flag(L, t, "wind_sky", true);
  return out;
}

int set_player_abilities(lua_State* L) {
  const auto player = player_arg(L, 1, "set_player_abilities");
  std::optional<ent::access::Abilities> abilities;
  if (convert::arg_optional_table(L, 2, "set_player_abilities")) abilities = abilities_of(L, 2);
  lua_pushboolean(L,
                  with_entities(L, [&](Access* a) { return a->set_abilities(player, abilities); }) ? 1 : 0);
  return 1;
}

int push_player(lua_State* L) {
  const auto player = player_arg(L, 1, "push_player");
  convert::arg_table(L, 2, "push_player");
  const auto v = readers::point(L, 2, "push_player");
  const std::array<float, 3> impulse{fields::to_f32(v[0]), fields::to_f32(v[1]), fields::to_f32(v[2])};
  for (const float c : impulse) {
    if (!std::isfinite(c)) convert::raise(L, "game.push_player was given an impulse that is not a number");
  }
  lua_pushboolean(L, with_entities(L, [&](Access* a) { return a->shove_player(player, impulse); }) ? 1 : 0);
  return 1;
}

// An option key as the refusal shows it: a text as it is, any other key by its text form.
std::string key_text(lua_State* L, int idx) {
  switch (lua_type(L, idx)) {
    case LUA_TSTRING: {
      std::size_t len = 0;
      const char* s = lua_tolstring(L, idx, &len);
      return convert::valid_utf8({s, len});
    }
    case LUA_TNUMBER:
      return fields::value_text(L, idx);
    case LUA_TBOOLEAN:
      return lua_toboolean(L, idx) != 0 ? "true" : "false";
    default:
      return std::string(convert::type_name(L, idx));
  }
}

ent::mount::MountOptions mount_options(lua_State* L, int t) {
  t = lua_absindex(L, t);
  lua_pushnil(L);
  while (lua_next(L, t) != 0) {
    std::size_t len = 0;
    const char* s = lua_type(L, -2) == LUA_TSTRING ? lua_tolstring(L, -2, &len) : nullptr;
    const std::string_view key = s == nullptr ? std::string_view() : std::string_view(s, len);
    if (s == nullptr || (key != "seat" && key != "sneak_dismounts")) {
      convert::raise(L, fmt::format("game.mount: unknown option `{}`. The options are [\"seat\", "
                                    "\"sneak_dismounts\"].",
                                    key_text(L, -2)));
    }
    lua_pop(L, 1);
  }
  ent::mount::MountOptions out;
  const int seat = fields::raw_field(L, t, "seat");
  if (seat != LUA_TNIL) {
    if (seat != LUA_TTABLE) fields::field_error(L, "game.mount", "seat", convert::mismatch(L, -1, "table"));
    std::array<float, 3> blocks{};
    std::array<float, 3> cells{};
    bool fits = true;
    const char* axes[3] = {"x", "y", "z"};
    for (int a = 0; a < 3; ++a) {
      double v = 0.0;
      if (fields::raw_field(L, -1, axes[a]) != LUA_TNIL) {
        v = fields::number_value(L, -1, "game.mount", fmt::format("seat.{}", axes[a]));
      }
      lua_pop(L, 1);
      blocks[a] = fields::to_f32(v);
      cells[a] = fields::to_f32(v * 3.0);
      fits = fits && std::isfinite(cells[a]) && std::fabs(cells[a]) <= kMaxSeatCells;
    }
    if (!fits) {
      convert::raise(L,
                     fmt::format("game.mount: `seat` is {{ x, y, z }} in blocks from the mount's feet, each "
                                 "a number no further than 16 away, got [{}, {}, {}] blocks",
                                 num::format_number(blocks[0]), num::format_number(blocks[1]),
                                 num::format_number(blocks[2])));
    }
    out.seat = cells;
  }
  lua_pop(L, 1);
  if (fields::raw_field(L, t, "sneak_dismounts") != LUA_TNIL) out.sneak_dismounts = lua_toboolean(L, -1) != 0;
  lua_pop(L, 1);
  return out;
}

int mount(lua_State* L) {
  const auto player = player_arg(L, 1, "game.mount");
  const auto id = entity_arg(L, 2);
  ent::mount::MountOptions options;
  if (convert::arg_optional_table(L, 3, "game.mount")) options = mount_options(L, 3);
  // The default answer, for an empty or poisoned slot, is NotConnected.
  const Boarding b = with_entities(L, [&](Access* a) { return a->mount(player, id, options); });
  if (b != Boarding::Seated) return stack_table::refusal(L, boarding_text(b));
  lua_pushboolean(L, 1);
  return 1;
}

int dismount(lua_State* L) {
  const auto player = player_arg(L, 1, "game.dismount");
  lua_pushboolean(L, with_entities(L, [&](Access* a) { return a->dismount(player); }) ? 1 : 0);
  return 1;
}

int mounted(lua_State* L) {
  const auto player = player_arg(L, 1, "game.mounted");
  const auto id = with_entities(L, [&](Access* a) { return a->mounted(player); });
  push_id(L, id);
  return 1;
}

}  // namespace

identity::PlayerUuid player_arg(lua_State* L, int idx, std::string_view fn) {
  const std::string text = convert::arg_text(L, idx, fn);
  auto player = readers::player_of(text, fn);
  if (!player) convert::raise(L, player.error());
  return *player;
}

void install_players(lua_State* L, int game_idx, const Slots& slots) {
  const Closure closures[] = {
      {"player_entity", player_entity}, {"move_player", move_player},
      {"select_slot", select_slot},     {"set_player_abilities", set_player_abilities},
      {"push_player", push_player},     {"mount", mount},
      {"dismount", dismount},           {"mounted", mounted}};
  set_closures(L, game_idx, slots, closures);
}

}  // namespace ostrel_core::script::lua_vm
