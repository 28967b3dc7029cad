#pragma once
// The presentation functions of `game`: what mods show and play to players without changing the
// world. Installed by install_frozen_api; each installer sets its functions on the `game` table
// at `game_idx` and may raise (memory), so it runs protected. The engine's own header: not for
// use outside core/src/script.
//
// Every function reads and clamps all its arguments before it locks its slot; an empty or
// poisoned slot gives its empty answer (0 players told, or false).

#include <string_view>

struct lua_State;

namespace ostrel_core::script::lua_vm {

struct Slots;

// set_hud (made for `mod_id`), is_operator, chat_to.
void install_hud_api(lua_State* L, std::string_view mod_id, int game_idx, const Slots& slots);
// play_sound, time_of_day, set_time_of_day, cue, play_loop, stop_loop, each made for `mod_id`.
void install_sound_api(lua_State* L, std::string_view mod_id, int game_idx, const Slots& slots);
// emit_particles, show_over.
void install_particles(lua_State* L, int game_idx, const Slots& slots);

}  // namespace ostrel_core::script::lua_vm
