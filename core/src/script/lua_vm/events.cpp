// Player and world events: each operation builds its event table and hands it to the handlers
// of one hook. An event whose table cannot be built is never let through unnoticed: one whose
// outcome decides the action (chat, place, use) is refused, the others reach no handler; either
// way one ERROR line says so.

#include "script/lua_vm/events.hpp"

#include <bit>
#include <set>

#include <fmt/format.h>
#include <lua.hpp>

#include "base/log.hpp"
#include "script/api/registration.hpp"
#include "script/lua_vm/convert.hpp"
#include "script/lua_vm/dispatch.hpp"
#include "script/lua_vm/ref.hpp"
#include "script/lua_vm/settings.hpp"
#include "script/lua_vm/state.hpp"
#include "script/read/stack_table.hpp"

namespace ostrel_core::script::lua_vm {

using vm::HookOutcome;

void set_integer(lua_State* L, const char* key, std::int64_t v) {
  lua_pushinteger(L, v);
  lua_setfield(L, -2, key);
}

void set_text(lua_State* L, const char* key, std::string_view v) {
  push_text(L, v);
  lua_setfield(L, -2, key);
}

void set_boolean(lua_State* L, const char* key, bool v) {
  lua_pushboolean(L, v ? 1 : 0);
  lua_setfield(L, -2, key);
}

namespace {

void set_xyz(lua_State* L, const char* key, const std::array<std::int32_t, 3>& p) {
  lua_createtable(L, 0, 3);
  set_integer(L, "x", p[0]);
  set_integer(L, "y", p[1]);
  set_integer(L, "z", p[2]);
  lua_setfield(L, -2, key);
}

// `held` is always set: the stack table, or nil for an empty hand.
void set_held(lua_State* L, const std::optional<inventory::Stack>& held) {
  if (held) {
    stack_table::push_stack_table(L, *held);
  } else {
    lua_pushnil(L);
  }
  lua_setfield(L, -2, "held");
}

constexpr const char* kReasons[] = {"sneak", "dismount", "gone", "leave"};
constexpr const char* kPressClicks[] = {"left", "right", "double"};
constexpr const char* kSlotClicks[] = {"left", "right", "shift_left", "shift_right"};

// Sets `kind` and the kind's fields of a dialog event.
void set_dialog_kind(lua_State* L, const proto::DialogEvent& event) {
  namespace de = proto::dialog_event;
  std::visit(
      [&](const auto& e) {
        using T = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<T, de::Pressed>) {
          set_text(L, "kind", "pressed");
          set_text(L, "name", e.name);
          set_text(L, "click", kPressClicks[static_cast<int>(e.click)]);
        } else if constexpr (std::is_same_v<T, de::Submitted>) {
          set_text(L, "kind", "submitted");
          set_text(L, "name", e.name);
          set_text(L, "text", e.text);
        } else if constexpr (std::is_same_v<T, de::Toggled>) {
          set_text(L, "kind", "toggled");
          set_text(L, "name", e.name);
          set_boolean(L, "checked", e.checked);
        } else if constexpr (std::is_same_v<T, de::Slid>) {
          set_text(L, "kind", "slid");
          set_text(L, "name", e.name);
          set_integer(L, "value", e.value);
        } else if constexpr (std::is_same_v<T, de::Chose>) {
          set_text(L, "kind", "chose");
          set_text(L, "name", e.name);
          set_integer(L, "index", lua_Integer{e.index} + 1);
        } else if constexpr (std::is_same_v<T, de::Clicked>) {
          set_text(L, "kind", "clicked");
          set_text(L, "view", e.view);
          set_integer(L, "index", lua_Integer{e.index} + 1);
          set_text(L, "click", kSlotClicks[static_cast<int>(e.click)]);
        } else if constexpr (std::is_same_v<T, de::Closed>) {
          set_text(L, "kind", "closed");
        } else if constexpr (std::is_same_v<T, de::Chiselled>) {
          set_text(L, "kind", "chiselled");
          set_text(L, "name", e.name);
          set_integer(L, "shape", e.shape);
          if (!e.cells.empty()) {
            lua_createtable(L, static_cast<int>(e.cells.size()), 0);
            for (std::size_t i = 0; i < e.cells.size(); ++i) {
              lua_pushinteger(L, e.cells[i]);
              lua_rawseti(L, -2, static_cast<lua_Integer>(i + 1));
            }
            lua_setfield(L, -2, "cells");
          }
        } else if constexpr (std::is_same_v<T, de::Dropped>) {
          set_text(L, "kind", "dropped");
          set_text(L, "click", kSlotClicks[static_cast<int>(e.click)]);
        }
      },
      event);
}

}  // namespace

namespace {

// The player's event table with the fields `fill` sets (the table is on top of the stack while
// it runs), or why it could not be built.
template <class Fill>
std::expected<LuaRef, std::string> player_event(LuaVm& vm, lua_State* L,
                                                const identity::PlayerUuid& player, Fill fill) {
  auto event = vm.hook_event(player.bytes);
  if (!event) return std::unexpected(event.error().with_detail());
  auto r = protect(L, [&](lua_State* s) {
    event->push(s);
    fill(s);
    lua_pop(s, 1);
  });
  if (!r) return std::unexpected(r.error());
  return std::move(*event);
}

// Whether the event's outcome decides the action.
enum class Run : bool { Observed, Cancellable };

// The outcome of an event whose table could not be built.
HookOutcome unbuilt(std::string_view hook, Run run, const std::string& error) {
  HookOutcome out;
  if (run == Run::Cancellable) {
    out.proceed = false;
    OSTREL_ERROR(kTarget,
                 fmt::format("could not build the {} event table; the action is refused", hook),
                 log::text("error", error));
  } else {
    OSTREL_ERROR(kTarget,
                 fmt::format("could not build the {} event table; no handler hears of it", hook),
                 log::text("error", error));
  }
  return out;
}

}  // namespace

HookOutcome LuaVm::player_join(const vm::JoinEvent& event) {
  std::lock_guard lock(impl_->mu);
  auto t = player_event(*this, impl_->L, event.player,
                        [&](lua_State* s) { set_text(s, "name", event.name); });
  if (!t) return unbuilt("on_player_join", Run::Observed, t.error());
  return run_hook("on_player_join", "ostrel.joiners", *t);
}

HookOutcome LuaVm::player_leave(const vm::JoinEvent& event) {
  std::lock_guard lock(impl_->mu);
  HookOutcome out;
  auto t = player_event(*this, impl_->L, event.player,
                        [&](lua_State* s) { set_text(s, "name", event.name); });
  if (t) {
    out = run_hook("on_player_leave", "ostrel.leavers", *t);
  } else {
    out = unbuilt("on_player_leave", Run::Observed, t.error());
  }
  // Answers live only while the player is here, so a stream of joining clients cannot grow
  // the state without bound.
  forget_answers(impl_->L, event.player);
  return out;
}

HookOutcome LuaVm::player_move(const vm::MoveEvent& event) {
  std::lock_guard lock(impl_->mu);
  auto t = player_event(*this, impl_->L, event.player, [&](lua_State* s) {
    set_integer(s, "x", event.x);
    set_integer(s, "y", event.y);
    set_integer(s, "z", event.z);
    set_text(s, "domain", event.domain);
    if (event.from) set_xyz(s, "from", *event.from);
  });
  if (!t) return unbuilt("on_player_move", Run::Observed, t.error());
  return observe_hook("on_player_move", "ostrel.movers", *t);
}

HookOutcome LuaVm::chat(const vm::ChatArgs& args) {
  std::lock_guard lock(impl_->mu);
  auto t = player_event(*this, impl_->L, args.player,
                        [&](lua_State* s) { set_text(s, "text", args.text); });
  if (!t) return unbuilt("on_chat", Run::Cancellable, t.error());
  return run_hook("on_chat", "ostrel.chatters", *t);
}

HookOutcome LuaVm::place(const vm::PlaceArgs& args) {
  std::lock_guard lock(impl_->mu);
  auto t = player_event(*this, impl_->L, args.player, [&](lua_State* s) {
    set_text(s, "domain", args.domain);
    set_integer(s, "x", args.x);
    set_integer(s, "y", args.y);
    set_integer(s, "z", args.z);
    set_integer(s, "material", args.material);
    set_integer(s, "occupancy", args.occupancy);
    set_integer(s, "units", args.units);
    set_boolean(s, "swept", args.swept);
    if (args.cells) {
      stack_table::push_cells_table(s, *args.cells);
      lua_setfield(s, -2, "cells");
    }
  });
  if (!t) return unbuilt("on_place", Run::Cancellable, t.error());
  return run_hook("on_place", "ostrel.placers", *t);
}

HookOutcome LuaVm::punch(const vm::PunchArgs& args) {
  std::lock_guard lock(impl_->mu);
  auto t = player_event(*this, impl_->L, args.attacker, [&](lua_State* s) {
    lua_getfield(s, -1, "player");
    lua_setfield(s, -2, "attacker");
    set_integer(s, "target", static_cast<lua_Integer>(args.target));
    if (args.owner) set_text(s, "owner", args.owner->to_hex());
  });
  if (!t) return unbuilt("on_punch", Run::Observed, t.error());
  return run_hook("on_punch", "ostrel.punchers", *t);
}

HookOutcome LuaVm::action(const vm::ActionArgs& args) {
  std::lock_guard lock(impl_->mu);
  auto t = player_event(*this, impl_->L, args.player, [&](lua_State* s) {
    set_text(s, "id", args.id);
    set_boolean(s, "pressed", args.pressed);
  });
  if (!t) return unbuilt("on_action", Run::Observed, t.error());
  return run_hook("on_action", "ostrel.actors", *t);
}

HookOutcome LuaVm::use_entity(const vm::UseEntityArgs& args) {
  std::lock_guard lock(impl_->mu);
  auto t = player_event(*this, impl_->L, args.player, [&](lua_State* s) {
    set_integer(s, "target", static_cast<lua_Integer>(args.target));
    if (args.owner) set_text(s, "owner", args.owner->to_hex());
    set_held(s, args.held);
  });
  if (!t) return unbuilt("on_use_entity", Run::Cancellable, t.error());
  return run_hook("on_use_entity", "ostrel.entity_users", *t);
}

HookOutcome LuaVm::dismounted(const vm::DismountEvent& event) {
  std::lock_guard lock(impl_->mu);
  auto t = player_event(*this, impl_->L, event.player, [&](lua_State* s) {
    set_integer(s, "entity", static_cast<lua_Integer>(event.entity));
    set_text(s, "reason", kReasons[static_cast<int>(event.reason)]);
    set_text(s, "domain", event.domain);
    lua_pushnumber(s, event.x);
    lua_setfield(s, -2, "x");
    lua_pushnumber(s, event.y);
    lua_setfield(s, -2, "y");
    lua_pushnumber(s, event.z);
    lua_setfield(s, -2, "z");
  });
  if (!t) return unbuilt("on_dismount", Run::Observed, t.error());
  return observe_hook("on_dismount", "ostrel.dismounters", *t);
}

HookOutcome LuaVm::use_block(const vm::UseBlockArgs& args) {
  std::lock_guard lock(impl_->mu);
  lua_State* L = impl_->L;
  auto t = player_event(*this, L, args.player, [&](lua_State* s) {
    if (args.cell) {
      set_integer(s, "x", args.cell->x);
      set_integer(s, "y", args.cell->y);
      set_integer(s, "z", args.cell->z);
      set_integer(s, "material", args.cell->material);
    }
    set_text(s, "domain", args.domain);
    set_held(s, args.held);
  });
  if (!t) return unbuilt("on_use", Run::Cancellable, t.error());
  if (!args.cell) return run_hook("on_use", "ostrel.users_anywhere", *t);

  // The handlers that listed this block come first, in list order, then every other mod's
  // unlisted handler in its order.
  std::vector<vm::DispatchEntry> entries;
  auto ordered = protect(L, [&](lua_State* s) {
    const auto block = block_name_of(s, args.cell->material);
    std::set<std::string> matched;
    const auto each_mod = [&](const char* list, auto&& visit) {
      push_registry_table(s, list);
      for (lua_Integer i = 1;; ++i) {
        const int type = lua_rawgeti(s, -1, i);
        if (type == LUA_TNIL) break;
        if (type != LUA_TSTRING) {
          convert::raise(s, fmt::format("entry {} of \"{}\" is not a mod id", i, list));
        }
        visit(std::string(lua_tostring(s, -1)));
        lua_pop(s, 1);
      }
      lua_pop(s, 2);
    };
    if (block) {
      each_mod("ostrel.users_scoped", [&](const std::string& mod) {
        const std::string key = fmt::format("ostrel.use_materials.{}", mod);
        if (lua_getfield(s, LUA_REGISTRYINDEX, key.c_str()) == LUA_TTABLE) {
          for (lua_Integer k = 1;; ++k) {
            const int type = lua_rawgeti(s, -1, k);
            if (type == LUA_TNIL) {
              lua_pop(s, 1);
              break;
            }
            const bool hit = type == LUA_TSTRING && std::string_view(lua_tostring(s, -1)) == *block;
            lua_pop(s, 1);
            if (hit) {
              matched.insert(mod);
              entries.push_back({mod, true});
              break;
            }
          }
        }
        lua_pop(s, 1);
      });
    }
    each_mod("ostrel.users", [&](const std::string& mod) {
      if (!matched.contains(mod)) entries.push_back({mod, false});
    });
  });
  if (!ordered) {
    OSTREL_ERROR(kTarget, "could not order the on_use handlers; the use is unhandled",
                 log::text("error", ordered.error()));
    return {};
  }
  return run_hook_over("on_use", entries, *t, false);
}

HookOutcome LuaVm::fluid_flow(const vm::FluidFlowEvent& event) {
  std::lock_guard lock(impl_->mu);
  lua_State* L = impl_->L;
  int ref = LUA_NOREF;
  auto built = protect(L, [&](lua_State* s) {
    lua_createtable(s, 0, 9);
    set_xyz(s, "from", event.from);
    set_xyz(s, "into", event.into);
    set_text(s, "fluid", event.fluid);
    set_integer(s, "volume", event.volume);
    set_integer(s, "occupancy", event.occupancy);
    set_integer(s, "units", std::popcount(event.occupancy & inventory::OCCUPANCY_FULL));
    if (auto block = block_name_of(s, event.material)) set_text(s, "block", *block);
    if (event.meets) set_text(s, "meets", *event.meets);
    ref = luaL_ref(s, LUA_REGISTRYINDEX);
  });
  if (!built) return unbuilt("on_fluid_flow", Run::Observed, built.error());
  return run_hook("on_fluid_flow", "ostrel.flowers", LuaRef(L, ref));
}

HookOutcome LuaVm::dialog_event(const vm::DialogEvent& event) {
  std::lock_guard lock(impl_->mu);
  lua_State* L = impl_->L;
  auto t = player_event(*this, L, event.player, [&](lua_State* s) {
    set_text(s, "form", event.form);
    set_dialog_kind(s, event.event);
    if (event.stack) {
      stack_table::push_stack_table(s, *event.stack);
      lua_setfield(s, -2, "stack");
    }
  });
  if (!t) return unbuilt("on_dialog_event", Run::Observed, t.error());
  auto answer = run_owner_hook("on_dialog_event", event.mod_id, *t);
  HookOutcome out;
  if (answer.fault) {
    out.faulted.push_back({event.mod_id, std::move(*answer.fault)});
  } else if (answer.answer) {
    answer.answer->push(L);
    out.taken = lua_type(L, -1) == LUA_TBOOLEAN && lua_toboolean(L, -1) != 0;
    lua_pop(L, 1);
  }
  return out;
}

}  // namespace ostrel_core::script::lua_vm
