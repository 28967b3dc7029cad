// Periodic script work: the per-tick handlers, entity steps, random ticks and the once-a-world
// pre-pass. Each walks its own handlers, calls each under a budget of its own, and on a failure
// faults the mod, logs and reports it.

#include <algorithm>
#include <set>

#include <fmt/format.h>
#include <lua.hpp>

#include "base/log.hpp"
#include "script/lua_vm/events.hpp"
#include "script/lua_vm/state.hpp"

namespace ostrel_core::script::lua_vm {

using vm::ModFault;
using vm::ScriptError;

namespace {

// The pre-pass budget: 1024 ordinary budgets, saturating at 2^32 - 1.
constexpr std::uint64_t kPrePassScale = 1024;

std::uint32_t pre_pass_budget(std::uint32_t budget) {
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(std::uint64_t{budget} * kPrePassScale, 0xFFFFFFFFu));
}

// One call of a stored handler: the outcome of a turn of tick, entity_step or world_init.
struct HandlerTurn {
  bool missing = false;                 // no function under the key
  std::optional<std::string> vm_error;  // the host step failed (not the mod's code)
  std::optional<ScriptError> failure;   // the mod's code failed
};

// Calls the function stored under `key` with the integer arguments `args`, under `instructions`.
HandlerTurn call_stored(LuaVm& vm, lua_State* L, const std::string& key,
                               std::string_view mod_id, std::string_view context,
                               std::span<const lua_Integer> args, std::uint32_t instructions) {
  HandlerTurn turn;
  auto r = protect(L, [&](lua_State* s) {
    if (lua_getfield(s, LUA_REGISTRYINDEX, key.c_str()) != LUA_TFUNCTION) {
      turn.missing = true;
      lua_pop(s, 1);
      return;
    }
    for (auto a : args) lua_pushinteger(s, a);
    auto called = vm.call_entry(mod_id, context, static_cast<int>(args.size()), instructions);
    if (!called) {
      turn.failure = std::move(called.error());
      return;
    }
    lua_pop(s, 1);  // the answer is not read
  });
  if (!r) turn.vm_error = r.error();
  return turn;
}

// Faults `mod_id` and logs `message` with the mod and the failure.
ModFault disable(LuaVm& vm, std::string_view message, std::string_view mod_id,
                        ScriptError error) {
  vm.fault(mod_id);
  OSTREL_ERROR(kTarget, message, log::text("mod_id", mod_id),
               log::text("error", error.with_detail()));
  return {std::string(mod_id), std::move(error)};
}

// The mod ids of a list, each once, in list order; `Vm` when the list cannot be read.
std::expected<std::vector<std::string>, ScriptError> read_list(const LuaVm& vm,
                                                                      std::string_view list) {
  if (vm.registry_type(list) != "table") {
    return std::unexpected(
        engine_error(fmt::format("the engine's table \"{}\" cannot be read", list)));
  }
  std::vector<std::string> out;
  std::set<std::string> seen;
  for (auto& id : vm.registry_strings(list)) {
    if (seen.insert(id).second) out.push_back(std::move(id));
  }
  return out;
}

// Runs the handlers of `list` in order, skipping faulted mods; shared by tick and world_init.
std::expected<std::vector<ModFault>, ScriptError> run_each(
    LuaVm& vm, lua_State* L, std::string_view list, std::string_view hook,
    std::string_view failure_message, std::span<const lua_Integer> args,
    std::uint32_t instructions) {
  auto mods = read_list(vm, list);
  if (!mods) return std::unexpected(mods.error());
  std::vector<ModFault> faulted;
  for (const auto& mod_id : *mods) {
    if (vm.is_faulted(mod_id)) continue;
    const std::string key = fmt::format("ostrel.{}.{}", hook, mod_id);
    auto turn = call_stored(vm, L, key, mod_id, hook, args, instructions);
    if (turn.vm_error) return std::unexpected(engine_error(*turn.vm_error));
    if (turn.missing) {
      return std::unexpected(engine_error(fmt::format("no function is stored under \"{}\"", key)));
    }
    if (turn.failure) {
      faulted.push_back(disable(vm, failure_message, mod_id, std::move(*turn.failure)));
    }
  }
  return faulted;
}

}  // namespace

// A mod appears in "ostrel.tickers" once however often it registered; should the list hold it
// twice all the same, its handler still runs once per tick.
std::expected<std::vector<ModFault>, ScriptError> LuaVm::tick(std::uint32_t dt_ticks) {
  std::lock_guard lock(impl_->mu);
  const lua_Integer args[] = {static_cast<lua_Integer>(dt_ticks)};
  return run_each(*this, impl_->L, "ostrel.tickers", "on_tick", "disabling mod after tick failure",
                  args, budget());
}

std::expected<std::vector<ModFault>, ScriptError> LuaVm::world_init() {
  std::lock_guard lock(impl_->mu);
  return run_each(*this, impl_->L, "ostrel.world_init", "on_world_init",
                  "disabling mod after a world pre-pass failure", {}, pre_pass_budget(budget()));
}

std::expected<std::optional<ModFault>, ScriptError> LuaVm::entity_step(
    std::string_view mod_id, std::span<const std::uint64_t> ids, std::uint32_t dt_ticks) {
  std::lock_guard lock(impl_->mu);
  if (ids.empty() || is_faulted(mod_id)) return std::nullopt;
  const std::string key = fmt::format("ostrel.on_entity_step.{}", mod_id);
  for (const std::uint64_t id : ids) {
    // Entity ids cross as their 64 bits taken as a signed integer; each gets a whole budget.
    const lua_Integer args[] = {static_cast<lua_Integer>(id), static_cast<lua_Integer>(dt_ticks)};
    auto turn = call_stored(*this, impl_->L, key, mod_id, "on_entity_step", args, budget());
    if (turn.vm_error) return std::unexpected(engine_error(*turn.vm_error));
    if (turn.missing) return std::nullopt;
    if (turn.failure) {
      return disable(*this, "disabling mod after an entity step failure", mod_id,
                     std::move(*turn.failure));
    }
  }
  return std::nullopt;
}

vm::HookOutcome LuaVm::random_tick(const vm::RandomTickEvent& event) {
  std::lock_guard lock(impl_->mu);
  lua_State* L = impl_->L;
  std::string owner;
  std::optional<ScriptError> failure;
  (void)protect(L, [&](lua_State* s) {  // a failing host step answers nothing, unlogged
    if (lua_getfield(s, LUA_REGISTRYINDEX, "ostrel.random_ticks") != LUA_TTABLE) return;
    if (lua_rawgeti(s, -1, event.material) != LUA_TFUNCTION) return;
    if (lua_getfield(s, LUA_REGISTRYINDEX, "ostrel.random_tick_owners") != LUA_TTABLE) return;
    if (lua_rawgeti(s, -1, event.material) != LUA_TSTRING) return;
    owner = lua_tostring(s, -1);
    if (is_faulted(owner)) return;
    lua_pop(s, 2);
    lua_createtable(s, 0, 4);
    set_integer(s, "x", event.x);
    set_integer(s, "y", event.y);
    set_integer(s, "z", event.z);
    set_integer(s, "material", event.material);
    auto called = call_entry(owner, "random_tick", 1);
    if (!called) {
      failure = std::move(called.error());
      return;
    }
    lua_pop(s, 1);  // the answer has no effect
  });
  vm::HookOutcome out;
  if (failure) {
    out.faulted.push_back(
        disable(*this, "disabling mod after a random_tick failure", owner, std::move(*failure)));
  }
  return out;
}

}  // namespace ostrel_core::script::lua_vm
