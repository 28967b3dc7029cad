#pragma once
// What the engine's other files need of the settings tables (settings.cpp). The engine's own
// header: not for use outside core/src/script.

#include "identity/identity.hpp"

struct lua_State;

namespace ostrel_core::script::lua_vm {

// Drops every setting answer of `player`.
void forget_answers(lua_State* L, const identity::PlayerUuid& player);

}  // namespace ostrel_core::script::lua_vm
