#pragma once
// The environment a mod runs in, with its `load`, `require` and `game.log` (sandbox.cpp). The
// engine's own header: not for use outside core/src/script.

#include <string_view>

struct lua_State;

namespace ostrel_core::script::lua_vm {

// Pushes a new mod environment.
void push_environment_table(lua_State* L);
// Pushes the `require` of one mod, bound to its directory, id and the environment at `env`.
void push_require(lua_State* L, std::string_view mod_id, std::string_view directory, int env);
// Pushes `game.log` bound to `mod_id`: one INFO line with the field `mod_id`.
void push_logger(lua_State* L, std::string_view mod_id);
// Sets `print` and `warn` of the environment at `env`: the mod's log lines, INFO and WARN.
void set_mod_output(lua_State* L, std::string_view mod_id, int env);
// Whether a chunk text starts with Lua's bytecode signature.
bool starts_with_bytecode(std::string_view text);

}  // namespace ostrel_core::script::lua_vm
