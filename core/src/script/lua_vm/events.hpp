#pragma once
// Setting the fields of an event table (events.cpp). The engine's own header: not for use
// outside core/src/script.

#include <cstdint>
#include <string_view>

struct lua_State;

namespace ostrel_core::script::lua_vm {

// Set `key` on the table on top of the stack. May raise (memory).
void set_integer(lua_State* L, const char* key, std::int64_t v);
void set_text(lua_State* L, const char* key, std::string_view v);
void set_boolean(lua_State* L, const char* key, bool v);

}  // namespace ostrel_core::script::lua_vm
