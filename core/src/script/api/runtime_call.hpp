#pragma once
// How a runtime `game` function reaches its slot: the engine's slots ride as upvalue 1 of every
// runtime closure, and a service is called through `through`, which raises the slot's poison
// text only after the lock is released. The engine's own header (runtime.cpp).

#include <string_view>
#include <utility>

#include "script/lua_vm/convert.hpp"
#include "script/lua_vm/slots.hpp"
#include "script/slot.hpp"

struct lua_State;

namespace ostrel_core::script::lua_vm {

// Pushes a userdata holding shared references to every slot of `slots`.
void push_slots(lua_State* L, const Slots& slots);
// The slots of the running closure's upvalue 1. REQUIRES: made by push_slots.
const Slots& slots_of(lua_State* L);

// The functions install_readers sets (runtime_blocks.cpp, runtime_fluid.cpp).
int get_block(lua_State* L);
int get_light(lua_State* L);

// Calls `fn(T*)` (null for an empty slot) under the slot's lock and returns its answer; a
// poisoned slot raises `poisoned` once the lock is released. `fn` must not raise a Lua error.
template <class T, class F>
auto through(lua_State* L, Slot<T>& slot, std::string_view poisoned, F&& fn) {
  bool was_poisoned = false;
  auto answer = slot.with(std::forward<F>(fn), &was_poisoned);
  if (was_poisoned) convert::raise(L, poisoned);
  return answer;
}

// Calls `fn(T&)` under the slot's lock and returns its answer; `empty` for an empty or a
// poisoned slot, which these services answer alike. `fn` must not raise a Lua error.
template <class T, class R, class F>
R or_empty(Slot<T>& slot, R empty, F&& fn) {
  bool was_poisoned = false;
  R answer = slot.with([&](T* s) -> R { return s == nullptr ? empty : fn(*s); }, &was_poisoned);
  if (was_poisoned) return empty;
  return answer;
}

}  // namespace ostrel_core::script::lua_vm
