#pragma once
// Export views, for code that takes tables from scripts and keeps them (exports.cpp). The
// engine's own header: not for use outside core/src/script.

struct lua_State;

namespace ostrel_core::script::lua_vm {

// Whether an export view is reachable from the table at `idx` within `depth` levels, and the
// value at `idx` with every reachable view replaced by a copy of the table it stands for (shared
// subtables stay shared; a cycle ends at the copy made before). May raise (memory).
inline constexpr int kViewSearchDepth = 72;
bool holds_proxy(lua_State* L, int idx, int depth);
void push_opened_value(lua_State* L, int idx, int depth);

}  // namespace ostrel_core::script::lua_vm
