#pragma once
// The engine-side state of a LuaVm and the helpers every file of the engine uses to touch the
// Lua state safely (lua_vm.cpp). The engine's own header: not for use outside core/src/script.

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/thread_safety.hpp"
#include "script/budget.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "script/lua_vm/slots.hpp"

struct lua_State;

namespace ostrel_core::script::lua_vm {

struct BufferRules;

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
  // Why the engine disabled a mod on its own account (memory), for the mod check's report.
  std::map<std::string, std::string, std::less<>> fault_reasons;
  Slots slots;
  // The chunk buffer handle's view of the registry, made by the first chunk generated after
  // registration closed; dropped when the fluid ids change (generate.cpp).
  std::shared_ptr<const BufferRules> buffer_rules;

  // Memory owners: each mod that ever ran code gets a number (the engine is 0).
  std::map<std::string, budget::Owner, std::less<>> owners;
  std::vector<std::string> owner_names{std::string()};
  budget::Owner last_owner = budget::kEngine;  // the owner owner_of() answered last
  budget::Entry manual_outer;  // the entry arm_budget() interrupted

  budget::Owner owner_of(std::string_view mod_id);
  // Looks at a state that went past its limit (budget.over): collects, and when it is still
  // over, releases the mod holding the most: faults it, logs it with its bytes, drops the
  // engine's references to it and collects again, on `thread` (the running one). `running`:
  // called from the hook inside an entry, which then fails when the hoarder is its own mod.
  // Runs where the state may be touched (the hook, around entries), never in the allocator.
  void settle_memory(lua_State* thread, bool running);
  // Drops every reference the engine keeps to `mod_id`'s values: its environment, its handlers,
  // its exports, its random ticks, domain generators and maps.
  void release_references(lua_State* thread, std::string_view mod_id);
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

// The engine-error adapter: a failure of the Lua state outside mod code becomes `Vm`.
vm::ScriptError engine_error(std::string detail);

// Runs `fill(L)` in a protected call whose stack index 1 is the `game` table at `game_idx` (a
// stack index of the caller), for installers that set functions on it; a failure becomes `Vm`.
std::expected<void, vm::ScriptError> fill_game(lua_State* L, int game_idx,
                                               const std::function<void(lua_State*)>& fill);

// The string at `idx` (a stack index, or an upvalue's pseudo-index) with its length.
// REQUIRES: the value is a string. Valid while the value stays on the stack.
std::string_view text_at(lua_State* L, int idx);

}  // namespace ostrel_core::script::lua_vm
