#pragma once
// What the entity, player, mount, transfer and steering functions share: entity ids and players
// as arguments, an entity's place in blocks. The engine's own header (entities.cpp).

#include <array>
#include <optional>
#include <string_view>

#include "identity/identity.hpp"
#include "movement/ent.hpp"

struct lua_State;

namespace ostrel_core::script::lua_vm {

using ent::kPlayerSource;

// Argument `idx` read by convert::bits_from_lua as "an entity id"; raises its refusal.
ent::EntityId entity_arg(lua_State* L, int idx);

// Pushes the id as an integer holding its 64 bits, or nil.
void push_id(lua_State* L, std::optional<ent::EntityId> id);

// Argument `idx` as a player named by 64 hex digits; raises the player reader's refusal naming
// `fn` (players.cpp).
identity::PlayerUuid player_arg(lua_State* L, int idx, std::string_view fn);

// A transform's place in blocks: chunk * 16 + local / 3 on each axis, in 64-bit floats.
std::array<double, 3> entity_blocks(const ent::component::Transform& t);

}  // namespace ostrel_core::script::lua_vm
