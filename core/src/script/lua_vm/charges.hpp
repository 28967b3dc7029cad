#pragma once
// The standard library functions whose work grows with their arguments, made to charge that work
// to the running entry's budget before (or while) they do it, at the rates of the cost model
// (script/budget.hpp) (charges.cpp). The engine's own header: not for use outside
// core/src/script.
//
// string: rep, byte, char, sub, upper, lower, reverse, format, pack, unpack, dump
// table:  concat, insert, remove, move, unpack, pack, sort
// utf8:   char, codepoint, len, offset
// base:   tonumber (of a text)
// The pattern functions are pattern.hpp's; `collectgarbage`, `load`, `require` and the log
// functions charge in sandbox.cpp.

struct lua_State;

namespace ostrel_core::script::charges {

// Replaces the functions above in the global library tables. Call once after the libraries are
// open, in a protected call, before any environment copies them.
void install(lua_State* L);

}  // namespace ostrel_core::script::charges
