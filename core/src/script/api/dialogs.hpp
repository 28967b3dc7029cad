#pragma once
// The dialog functions of `game`: show_dialog, update_dialog, close_dialog, set_hover. Each reads
// and checks its whole request before it reaches the dialog slot, so a bad table fails the same
// way with or without a running world. The engine's own header: not for use outside
// core/src/script.

#include <string_view>

struct lua_State;

namespace ostrel_core::script::lua_vm {

struct Slots;

// Sets the four functions on the `game` table at `game_idx`, made for `mod_id`. May raise
// (memory).
void install_dialogs(lua_State* L, std::string_view mod_id, int game_idx, const Slots& slots);

}  // namespace ostrel_core::script::lua_vm
