// Hook dispatch: asks the handlers of one hook in turn, each under its own budget and with its
// own copy of the event table, folds their answers into one HookOutcome and disables (faults)
// every mod whose handler fails. Answers are read raw: no metamethod of a returned value runs
// outside an entry.

#include "script/lua_vm/dispatch.hpp"

#include <algorithm>

#include <fmt/format.h>
#include <lua.hpp>

#include "base/log.hpp"
#include "script/lua_vm/convert.hpp"
#include "script/lua_vm/events.hpp"
#include "script/lua_vm/state.hpp"

namespace ostrel_core::script::lua_vm {

using vm::HookOutcome;
using vm::ScriptError;

namespace {

// Reads the `drops` of the table answer on top of the stack into `drops`. Nothing when the
// field is absent; an error text when it cannot be read.
std::expected<std::optional<std::vector<vm::Drop>>, std::string> read_drops(
    lua_State* L, std::string_view mod_id) {
  lua_pushliteral(L, "drops");
  const int t = lua_rawget(L, -2);
  if (t == LUA_TNIL) {
    lua_pop(L, 1);
    return std::nullopt;
  }
  constexpr std::string_view kPrefix = "`drops` is a table of block id to units per block: ";
  if (t != LUA_TTABLE) {
    auto why = convert::mismatch(L, -1, "table").text;
    lua_pop(L, 1);
    return std::unexpected(fmt::format("{}{}", kPrefix, why));
  }
  std::vector<vm::Drop> drops;
  lua_pushnil(L);
  while (lua_next(L, -2) != 0) {
    auto block = convert::to_text(L, -2);
    auto units = block ? convert::to_integer<std::uint32_t>(L, -1)
                       : std::expected<std::uint32_t, convert::ConvertError>{};
    if (!block || !units) {
      auto why = !block ? block.error().text : units.error().text;
      lua_pop(L, 3);
      return std::unexpected(fmt::format("{}{}", kPrefix, why));
    }
    drops.push_back({convert::named_block(mod_id, *block), *units});
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
  std::sort(drops.begin(), drops.end());
  return drops;
}

// Pushes a copy of the value at `idx`: a table is copied raw, nested tables too (event tables are
// a few levels deep and hold no cycles; deeper than `depth` is shared), without metatables.
void push_copy(lua_State* L, int idx, int depth) {
  idx = lua_absindex(L, idx);
  if (lua_type(L, idx) != LUA_TTABLE || depth == 0) {
    lua_pushvalue(L, idx);
    return;
  }
  luaL_checkstack(L, 4, "event table nested too deeply");
  // Sized once, so that filling it never rehashes.
  const auto sequence = static_cast<int>(lua_rawlen(L, idx));
  int fields = 0;
  lua_pushnil(L);
  while (lua_next(L, idx) != 0) {
    lua_pop(L, 1);
    ++fields;
  }
  lua_createtable(L, sequence, fields - sequence > 0 ? fields - sequence : 0);
  const int copy = lua_gettop(L);
  lua_pushnil(L);
  while (lua_next(L, idx) != 0) {
    push_copy(L, -1, depth - 1);
    lua_remove(L, -2);     // the original value
    lua_pushvalue(L, -2);  // the key
    lua_insert(L, -2);
    lua_rawset(L, copy);
  }
}

// The depth of copy every handler's event table gets.
constexpr int kEventDepth = 8;

// Every mod of the named list, asked for its unlisted handler.
std::vector<vm::DispatchEntry> unlisted_entries(const LuaVm& vm, std::string_view list) {
  std::vector<vm::DispatchEntry> entries;
  for (auto& id : vm.registry_strings(list)) entries.push_back({std::move(id), false});
  return entries;
}

// What one handler's turn came to.
struct Turn {
  enum class Stage : std::uint8_t { Skipped, Failed, Answered } stage = Stage::Skipped;
  std::optional<ScriptError> failure;  // Failed
  bool refuse = false;                 // Answered: the run ends here
  std::optional<std::string> refusal;  // with this text, if any
  std::expected<std::optional<std::vector<vm::Drop>>, std::string> drops;  // a table answer
};

// Reads the answer on top of the stack into `turn`.
void read_answer(lua_State* L, std::string_view mod_id, bool observe, Turn& turn) {
  const int t = lua_type(L, -1);
  if (t == LUA_TBOOLEAN && lua_toboolean(L, -1) == 0 && !observe) {
    turn.refuse = true;
  } else if (t == LUA_TSTRING && !observe) {
    std::size_t len = 0;
    const char* p = lua_tolstring(L, -1, &len);
    const std::string text = convert::valid_utf8({p, len});
    turn.refuse = true;
    turn.refusal = std::string(convert::cut_utf8(text, kMaxRefusal));
  } else if (t == LUA_TTABLE) {
    turn.drops = read_drops(L, mod_id);
  }
  lua_pop(L, 1);
}

}  // namespace

HookOutcome LuaVm::run_hook_over(std::string_view hook, std::span<const vm::DispatchEntry> entries,
                                 const LuaRef& event, bool observe) {
  std::lock_guard lock(impl_->mu);
  lua_State* L = impl_->L;
  HookOutcome out;
  for (const auto& entry : entries) {
    if (is_faulted(entry.mod_id)) continue;
    const std::string key = entry.listed ? fmt::format("ostrel.{}.scoped.{}", hook, entry.mod_id)
                                         : fmt::format("ostrel.{}.{}", hook, entry.mod_id);
    Turn turn;
    bool copied = false;
    // The whole turn is protected: a host step that cannot allocate (reading the handler,
    // copying the event, or reading a table answer) fails the turn instead of the process.
    auto r = protect(L, [&](lua_State* s) {
      if (lua_getfield(s, LUA_REGISTRYINDEX, key.c_str()) != LUA_TFUNCTION) return;
      // Its own copy: nothing an earlier handler wrote or attached reaches this one.
      event.push(s);
      push_copy(s, -1, kEventDepth);
      lua_remove(s, -2);
      copied = true;
      auto called = call_entry(entry.mod_id, hook, 1);
      if (!called) {
        turn.stage = Turn::Stage::Failed;
        turn.failure = std::move(called.error());
        return;
      }
      turn.stage = Turn::Stage::Answered;
      read_answer(s, entry.mod_id, observe, turn);
    });
    if (!r && turn.stage == Turn::Stage::Answered) turn.drops = std::unexpected(r.error());
    if (!r && !copied) {
      OSTREL_ERROR(kTarget, fmt::format("could not copy the {} event table; the mod is not asked", hook),
                   log::text("mod_id", entry.mod_id), log::text("error", r.error()));
    }
    if (turn.stage == Turn::Stage::Skipped) continue;

    if (turn.stage == Turn::Stage::Failed) {
      fault(entry.mod_id);
      OSTREL_ERROR(kTarget,
                   fmt::format("disabling mod after a {} failure; the action is allowed to proceed",
                               hook),
                   log::text("mod_id", entry.mod_id), log::text("error", turn.failure->with_detail()));
      out.faulted.push_back({entry.mod_id, std::move(*turn.failure)});
      continue;
    }
    if (!turn.drops) {
      auto err = ScriptError::runtime(entry.mod_id, std::string(hook), turn.drops.error());
      fault(entry.mod_id);
      OSTREL_ERROR(kTarget,
                   fmt::format("disabling mod after a {} answer the engine could not read; the "
                               "action is allowed to proceed",
                               hook),
                   log::text("mod_id", entry.mod_id), log::text("error", err.with_detail()));
      out.faulted.push_back({entry.mod_id, std::move(err)});
      continue;
    }
    if (*turn.drops) out.drops = std::move(**turn.drops);
    if (turn.refuse) {
      out.proceed = false;
      out.refusal = std::move(turn.refusal);
      return out;
    }
  }
  return out;
}

HookOutcome LuaVm::run_hook(std::string_view hook, std::string_view list, const LuaRef& event) {
  return run_hook_over(hook, unlisted_entries(*this, list), event, false);
}

HookOutcome LuaVm::observe_hook(std::string_view hook, std::string_view list, const LuaRef& event) {
  return run_hook_over(hook, unlisted_entries(*this, list), event, true);
}

HookOutcome LuaVm::run_domain_hook(std::string_view hook, std::string_view list,
                                   std::uint64_t entity, std::string_view from,
                                   std::string_view to) {
  std::lock_guard lock(impl_->mu);
  lua_State* L = impl_->L;
  int ref = LUA_NOREF;
  auto built = protect(L, [&](lua_State* s) {
    lua_createtable(s, 0, 3);
    // Entity ids cross as their 64 bits taken as a signed integer.
    set_integer(s, "entity", static_cast<lua_Integer>(entity));
    set_text(s, "from", from);
    set_text(s, "to", to);
    ref = luaL_ref(s, LUA_REGISTRYINDEX);
  });
  if (!built) {
    OSTREL_ERROR(kTarget,
                 fmt::format("could not build the {} event table; the action is refused", hook),
                 log::text("error", built.error()));
    HookOutcome refused;
    refused.proceed = false;
    return refused;
  }
  return run_hook(hook, list, LuaRef(L, ref));
}

OwnerAnswer LuaVm::run_owner_hook(std::string_view hook, std::string_view owner,
                                  const LuaRef& event) {
  std::lock_guard lock(impl_->mu);
  lua_State* L = impl_->L;
  OwnerAnswer out;
  if (is_faulted(owner)) return out;
  const std::string key = fmt::format("ostrel.{}.{}", hook, owner);
  int ref = LUA_NOREF;
  (void)protect(L, [&](lua_State* s) {  // a handler that cannot be read is not asked
    if (lua_getfield(s, LUA_REGISTRYINDEX, key.c_str()) != LUA_TFUNCTION) return;
    event.push(s);
    out.asked = true;
    auto called = call_entry(owner, hook, 1);
    if (!called) {
      out.fault = std::move(called.error());
      return;
    }
    ref = luaL_ref(s, LUA_REGISTRYINDEX);
  });
  if (out.fault) {
    fault(owner);
    OSTREL_ERROR(kTarget, fmt::format("disabling mod after a {} failure", hook),
                 log::text("mod_id", owner), log::text("error", out.fault->with_detail()));
  } else if (ref != LUA_NOREF) {
    out.answer.emplace(L, ref);
  }
  return out;
}

std::expected<LuaRef, ScriptError> LuaVm::hook_event(std::span<const std::uint8_t, 32> player) {
  std::lock_guard lock(impl_->mu);
  lua_State* L = impl_->L;
  identity::PlayerUuid id;
  std::copy(player.begin(), player.end(), id.bytes.begin());
  const std::string hex = id.to_hex();
  int ref = LUA_NOREF;
  auto r = protect(L, [&](lua_State* s) {
    lua_createtable(s, 0, 1);
    set_text(s, "player", hex);
    ref = luaL_ref(s, LUA_REGISTRYINDEX);
  });
  if (!r) return std::unexpected(engine_error(r.error()));
  return LuaRef(L, ref);
}

std::expected<LuaRef, ScriptError> LuaVm::dig_event_table(std::span<const std::uint8_t, 32> player,
                                                          std::string_view domain, std::int32_t x,
                                                          std::int32_t y, std::int32_t z,
                                                          std::uint16_t material,
                                                          std::string_view brush) {
  auto event = hook_event(player);
  if (!event) return event;
  std::lock_guard lock(impl_->mu);
  lua_State* L = impl_->L;
  auto r = protect(L, [&](lua_State* s) {
    event->push(s);
    set_text(s, "domain", domain);
    set_integer(s, "x", x);
    set_integer(s, "y", y);
    set_integer(s, "z", z);
    set_integer(s, "material", material);
    set_text(s, "brush", brush);
    lua_pop(s, 1);
  });
  if (!r) return std::unexpected(engine_error(r.error()));
  return event;
}

}  // namespace ostrel_core::script::lua_vm
