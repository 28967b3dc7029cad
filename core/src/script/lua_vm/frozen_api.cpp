// The runtime half of a mod's `game` table, installed in a fixed order of steps, each storing its
// functions under their keys; no two steps store the same key:
//    1 material lookups       2 set_block              3 entities
//    4 players and mounts     5 transfers, domains     6 storage
//    7 plans                  8 hud                    9 atmosphere
//   10 containers            11 heading               12 fluids
//   13 readers, stars        14 sight, paths          15 generation
//   16 the constants (CHUNK_BLOCKS, UNITS_PER_BLOCK, OCCUPANCY_FULL, ITEMS_PER_STACK, AIR, mod_id)
// The other steps join as their families are built.

#include <functional>
#include <lua.hpp>

#include "script/api/dialogs.hpp"
#include "script/api/runtime.hpp"
#include "script/api/runtime_items.hpp"
#include "script/api/runtime_presentation.hpp"
#include "script/api/terrain.hpp"
#include "script/lua_vm/slots.hpp"
#include "script/lua_vm/state.hpp"

namespace ostrel_core::script::lua_vm {

std::expected<void, vm::ScriptError> LuaVm::install_frozen_api(std::string_view mod_id, int game_idx) {
  std::lock_guard lock(impl_->mu);
  const Slots& slots = impl_->slots;
  lua_State* L = impl_->L;
  // Each step is protected on its own: a failing step ends the install, keeping what the steps
  // before it stored.
  const std::function<void(lua_State*)> steps[] = {
      // Before the frame's steps: show_dialog, update_dialog, close_dialog, set_hover.
      [&](lua_State* s) { install_dialogs(s, mod_id, 1, slots); },
      // Sounds, cues, loops, the clock and particles, ahead of the numbered steps.
      [&](lua_State* s) { install_sound_api(s, mod_id, 1, slots); },
      [&](lua_State* s) { install_particles(s, 1, slots); },
      // Step 2: set_block.
      [&](lua_State* s) { install_block_writer(s, 1, slots); },
      // Steps 3 to 5: entities; players and mounts; transfers and domains.
      [&](lua_State* s) { install_entities(s, mod_id, 1, slots); },
      [&](lua_State* s) { install_players(s, 1, slots); },
      [&](lua_State* s) { install_domains(s, 1, slots); },
      // Step 6: storage.get, storage.set, storage.keys.
      [&](lua_State* s) { install_storage_api(s, mod_id, 1, slots); },
      // Step 7: plans.capture, plans.stamp, plans.info, plans.list, plans.forget.
      [&](lua_State* s) { install_plan_api(s, mod_id, 1, slots); },
      // Step 8: set_hud, is_operator, chat_to.
      [&](lua_State* s) { install_hud_api(s, mod_id, 1, slots); },
      // Step 9: set_sky_modifier, flash, set_clouds, set_rainbow, lightning.
      [&](lua_State* s) { install_atmosphere(s, 1, slots); },
      // Step 10: the container functions.
      [&](lua_State* s) { install_container_api(s, 1, slots); },
      // Step 11: heading.
      [&](lua_State* s) { install_heading(s, 1); },
      // Step 12: get_fluid, fluid_id, set_fluid.
      [&](lua_State* s) { install_fluid_functions(s, mod_id, 1, slots); },
      // Step 13: get_block, get_light.
      [&](lua_State* s) { install_readers(s, 1, slots); },
      [&](lua_State* s) { install_sight_readers(s, 1, slots); },
      // Step 13: stars, world_position, look_direction, star_in_view.
      [&](lua_State* s) { install_stars(s, 1, slots); },
      // Step 14: line_of_sight, find_path, steer_entity.
      [&](lua_State* s) { install_perception(s, mod_id, 1, slots); },
      // Step 15: noise_heightmap, density, schematic, schematic_shapes, stamp_schematic, map,
      // flat_heightmap, rng_stream.
      [&](lua_State* s) { install_generation(s, mod_id, 1, slots); },
      // Step 16: the constants.
      [&](lua_State* s) { install_constants(s, mod_id, 1); },
  };
  for (const auto& step : steps) {
    if (auto r = fill_game(L, game_idx, step); !r) return r;
  }
  return {};
}

}  // namespace ostrel_core::script::lua_vm
