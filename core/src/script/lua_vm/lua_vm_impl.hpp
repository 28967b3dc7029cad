#pragma once
// The engine-side state of a LuaVm, shared by the .cpp files of the engine (creation and
// sandbox, registration, dispatch). Not for use outside core/src/script.

#include <cstdint>
#include <cstddef>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "base/thread_safety.hpp"
#include "script/budget.hpp"
#include "script/lua_vm/lua_vm.hpp"

struct lua_State;

namespace ostrel_core::script::lua_vm {

// The log target of every line the engine writes.
inline constexpr std::string_view kTarget = "ostrel_core::script::lua_vm";

// The faulted set, shared with native functions that consult it.
struct FaultedSet {
  mutable sync::PlainMutex mu;
  std::set<std::string, std::less<>> ids OSTREL_GUARDED_BY(mu);  // byte-wise order

  // Looked up without building a string: asked once per handler on every dispatch.
  bool contains(std::string_view id) const {
    sync::PlainLock lock(mu);
    return ids.contains(id);
  }
  void insert(std::string_view id) {
    sync::PlainLock lock(mu);
    ids.emplace(id);
  }
};

struct LuaVm::Impl {
  Impl() = default;
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  ~Impl();

  budget::Budget budget;  // the allocator's user data: its address must not change
  lua_State* L = nullptr;
  std::recursive_mutex mu;  // the state's lock; the owning thread may take it again

  std::set<std::string> reference_mods;
  std::map<std::string, int> environments;  // mod id -> registry reference of its environment
  std::shared_ptr<FaultedSet> faulted = std::make_shared<FaultedSet>();
  Slots slots;
};

// Runs `fn(L, ctx)` in protected mode, in a new stack frame that holds the `nargs` values taken
// from the top of the caller's stack at indices 1..nargs (the caller's indices do not reach
// into it). A Lua error (a refused allocation included) becomes its text. The values passed
// and whatever `fn` leaves are popped.
std::expected<void, std::string> protect(lua_State* L, int nargs, void (*fn)(lua_State*, void*),
                                         void* ctx);

template <class F>
std::expected<void, std::string> protect(lua_State* L, int nargs, F&& f) {
  return protect(
      L, nargs, [](lua_State* s, void* c) { (*static_cast<std::remove_reference_t<F>*>(c))(s); },
      &f);
}
template <class F>
std::expected<void, std::string> protect(lua_State* L, F&& f) {
  return protect(L, 0, std::forward<F>(f));
}

// Replaces the registry table `name` with a fresh table of `count` entries, where
// `push_entry(L, i)` pushes entry i's key and then its value. Each entry is set in its own
// protected call, so a failure skips only that entry; it is logged as "could not record {one}"
// with the field `field` = `label(i)`. `all` names the whole table in the other failure lines.
void install_registry_table(lua_State* L, const char* name, std::string_view all,
                            std::string_view one, std::string_view field, std::size_t count,
                            const std::function<void(lua_State*, std::size_t)>& push_entry,
                            const std::function<std::string_view(std::size_t)>& label);

// The engine-error adapter: a failure of the Lua state outside mod code becomes `Vm`.
vm::ScriptError engine_error(std::string detail);

// Runs `fill(L)` in a protected call whose stack index 1 is the `game` table at `game_idx` (a
// stack index of the caller), for installers that set functions on it; a failure becomes `Vm`.
std::expected<void, vm::ScriptError> fill_game(lua_State* L, int game_idx,
                                               const std::function<void(lua_State*)>& fill);

// The string at `idx` (a stack index, or an upvalue's pseudo-index) with its length.
// REQUIRES: the value is a string. Valid while the value stays on the stack.
std::string_view text_at(lua_State* L, int idx);

// The sandbox (sandbox.cpp): pushes a new mod environment.
void push_environment_table(lua_State* L);
// Pushes the `require` of one mod, bound to its directory, id and the environment at `env`.
void push_require(lua_State* L, std::string_view mod_id, std::string_view directory, int env);
// Pushes `game.log` bound to `mod_id`: one INFO line with the field `mod_id`.
void push_logger(lua_State* L, std::string_view mod_id);
// Whether a chunk text starts with Lua's bytecode signature.
bool starts_with_bytecode(std::string_view text);

// Exports (exports.cpp), for code that takes tables from scripts and keeps them: whether an
// export view is reachable from the table at `idx` within `depth` levels, and the value at `idx`
// with every reachable view replaced by a copy of the table it stands for (shared subtables
// stay shared; a cycle ends at the copy made before). May raise (memory).
inline constexpr int kViewSearchDepth = 72;
bool holds_proxy(lua_State* L, int idx, int depth);
void push_opened_value(lua_State* L, int idx, int depth);

// Events (events.cpp): set `key` on the table on top of the stack. May raise (memory).
void set_integer(lua_State* L, const char* key, std::int64_t v);
void set_text(lua_State* L, const char* key, std::string_view v);
void set_boolean(lua_State* L, const char* key, bool v);

// Settings (settings.cpp): drops every setting answer of `player`.
void forget_answers(lua_State* L, const identity::PlayerUuid& player);

// Registration (registration.cpp): pushes one registration function made for `mod_id`.
struct ScopeOption {
  std::string_view name;  // "anywhere"
  std::string_view list;  // "ostrel.users_anywhere"
};
void push_hook_registrar_with(lua_State* L, std::string_view mod_id, std::string_view hook,
                              std::string_view list, const ScopeOption* scope);
void push_random_tick_registrar(lua_State* L, std::string_view mod_id);
// `register_on_world_init` / `register_on_entity_step`: one handler per mod, replaced on repeat.
void push_once_registrar(lua_State* L, std::string_view mod_id, std::string_view hook,
                         std::string_view list);

}  // namespace ostrel_core::script::lua_vm
