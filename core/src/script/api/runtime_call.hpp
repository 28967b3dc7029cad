#pragma once
// How a runtime `game` function reaches its slot: the engine's slots ride as upvalue 1 of every
// runtime closure, and a service is called through `through`, which raises the slot's poison
// text only after the lock is released. The engine's own header (runtime.cpp).

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "script/lua_vm/convert.hpp"
#include "script/lua_vm/slots.hpp"
#include "script/slot.hpp"

struct lua_State;

namespace ostrel_core::script::lua_vm {

// Pushes a userdata holding shared references to every slot of `slots`.
void push_slots(lua_State* L, const Slots& slots);
// The slots of the running closure's upvalue 1. REQUIRES: made by push_slots.
const Slots& slots_of(lua_State* L);

// Pushes a sequence of the texts, in order.
void push_text_list(lua_State* L, const std::vector<std::string>& texts);
// One runtime function and its key on `game`.
struct Closure {
  const char* key;
  int (*fn)(lua_State*);
};
// Sets each function on the `game` table at `game_idx` as a closure over `slots` (upvalue 1)
// and, when `mod_id` is given, the calling mod's id (upvalue 2, read back with mod_of).
void set_closures(lua_State* L, int game_idx, const Slots& slots, std::span<const Closure> closures,
                  std::optional<std::string_view> mod_id = std::nullopt);
// The mod id of the running closure's upvalue 2. REQUIRES: made by set_closures with a mod id.
std::string_view mod_of(lua_State* L);
// Stores under `key` of the table at `game_idx` a new table of the functions, each a closure over
// the slots (upvalue 1) and `mod_id` (upvalue 2): a mod's own `storage`, `plans`.
void set_mod_table(lua_State* L, int game_idx, const char* key, std::string_view mod_id, const Slots& slots,
                   std::span<const Closure> functions);

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
