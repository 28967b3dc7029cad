// The runtime half of a mod's `game` table, installed in a fixed order of steps, each storing its
// functions under their keys; no two steps store the same key:
//    1 material lookups       2 set_block              3 entities
//    4 players and mounts     5 transfers, domains     6 storage
//    7 plans                  8 hud                    9 atmosphere
//   10 containers            11 heading               12 fluids
//   13 readers, stars        14 sight, paths          15 generation
//   16 the constants (CHUNK_BLOCKS, UNITS_PER_BLOCK, OCCUPANCY_FULL, ITEMS_PER_STACK, AIR, mod_id)
// The other steps join as their families are built.

#include <lua.hpp>

#include "script/api/terrain.hpp"
#include "script/lua_vm/slots.hpp"
#include "script/lua_vm/state.hpp"

namespace ostrel_core::script::lua_vm {

std::expected<void, vm::ScriptError> LuaVm::install_frozen_api(std::string_view mod_id, int game_idx) {
  std::lock_guard lock(impl_->mu);
  const Slots& slots = impl_->slots;
  // Step 15: noise_heightmap, density, schematic, schematic_shapes, stamp_schematic, map,
  // flat_heightmap, rng_stream.
  return fill_game(impl_->L, game_idx, [&](lua_State* s) { install_generation(s, mod_id, 1, slots); });
}

}  // namespace ostrel_core::script::lua_vm
