#pragma once
// The string library's pattern functions (find, match, gmatch, gsub) on the engine's own
// matcher: Lua 5.4's pattern semantics, with every step of the match charged to the running
// entry's budget, so a call that would backtrack for ever ends with the budget error like a
// loop does (pattern.cpp). The engine's own header: not for use outside core/src/script.
//
// Classes (%a, %d, ...) are those of the C locale on every machine: bytes above 127 belong to
// none of them. A pattern nests at most 200 deep ("pattern too complex") and holds at most 32
// captures, as with the stock matcher.

struct lua_State;

namespace ostrel_core::script::pattern {

// Replaces find, match, gmatch and gsub of the global string table. Call once after the string
// library is open, in a protected call, before any environment copies the library.
void install(lua_State* L);

}  // namespace ostrel_core::script::pattern
