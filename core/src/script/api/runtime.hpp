#pragma once
// The runtime `game` functions that reach the running world through the engine's access slots:
// blocks, fluid, light and mod storage, and the constants beside them. Installed by
// install_frozen_api (frozen_api.cpp gives the order of its steps); each installer sets its
// functions on the `game` table at `game_idx` and may raise (memory), so it runs protected.
// The engine's own header: not for use outside core/src/script.
//
// Every function reads and checks all its arguments before it locks a slot, and builds its Lua
// answer after the slot is released: no Lua error (a refusal, a memory or budget stop) is ever
// raised while a slot is locked, so only a service that throws can poison one. An empty slot
// (no world yet, a generation worker, the mod check) gives each function its empty answer.

#include <string_view>

struct lua_State;

namespace ostrel_core::script::lua_vm {

struct Slots;

// Step 2: set_block.
void install_block_writer(lua_State* L, int game_idx, const Slots& slots);
// Step 6: the table `storage` with get, set, keys, each made for `mod_id`.
void install_storage_api(lua_State* L, std::string_view mod_id, int game_idx, const Slots& slots);
// Step 9: set_sky_modifier, flash, set_clouds, set_rainbow, then install_lightning
// (runtime_atmosphere.cpp).
void install_atmosphere(lua_State* L, int game_idx, const Slots& slots);
// lightning, with its own count of unseeded calls (runtime_lightning.cpp).
void install_lightning(lua_State* L, int game_idx, const Slots& slots);
// Step 12: get_fluid, fluid_id (made for `mod_id`), set_fluid.
void install_fluid_functions(lua_State* L, std::string_view mod_id, int game_idx, const Slots& slots);
// Step 13: get_block, get_light.
void install_readers(lua_State* L, int game_idx, const Slots& slots);
// Step 13: stars, world_position, look_direction, star_in_view (runtime_stars.cpp).
void install_stars(lua_State* L, int game_idx, const Slots& slots);
// Step 16: CHUNK_BLOCKS, UNITS_PER_BLOCK, OCCUPANCY_FULL, ITEMS_PER_STACK, AIR, mod_id.
void install_constants(lua_State* L, std::string_view mod_id, int game_idx);

}  // namespace ostrel_core::script::lua_vm
