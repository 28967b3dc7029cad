// Inventory views, the main view's size, the slot grain, key actions and HUD scripts: their
// registration functions and readers.

#include <algorithm>
#include <cmath>

#include <fmt/format.h>
#include <lua.hpp>

#include "base/num.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "script/api/media.hpp"
#include "script/api/fields.hpp"
#include "script/api/registration.hpp"

namespace ostrel_core::script::media {

namespace {

// ---- register_view -------------------------------------------------------------------------

int register_view(lua_State* L) {
  const auto mod_id = lua_vm::upvalue_text(L, 1);
  lua_vm::arg_table(L, "register_view");
  lua_settop(L, 1);
  lua_vm::refuse_if_frozen(L, mod_id);

  std::optional<std::string> id;
  lua_getfield(L, 1, "id");
  if (lua_type(L, -1) == LUA_TSTRING || lua_type(L, -1) == LUA_TNUMBER) id = fields::read_text(L, -1);
  lua_pop(L, 1);
  if (!id) convert::raise(L, "register_view: missing required field `id`");
  const std::string qualified = lua_vm::qualify(L, mod_id, *id);

  lua_getfield(L, 1, "slots");
  auto slots = convert::to_integer<std::uint64_t>(L, -1);
  lua_pop(L, 1);
  if (!slots) convert::raise(L, "register_view: missing required field `slots`");
  if (*slots < 1 || *slots > kMaxViewSlots) {
    convert::raise(L, fmt::format("register_view(\"{}\"): {} slots, which is outside 1..={}. "
                                  "Every slot of every view is sent to a client on any change.",
                                  qualified, *slots, kMaxViewSlots));
  }

  lua_vm::push_registry_table(L, "ostrel.views");
  lua_vm::push_text(L, qualified);
  if (lua_rawget(L, -2) != LUA_TNIL) {
    convert::raise(L, fmt::format("register_view(\"{}\"): already registered", qualified));
  }
  lua_pop(L, 1);
  lua_vm::push_text(L, qualified);
  lua_pushinteger(L, static_cast<lua_Integer>(*slots));
  lua_rawset(L, -3);
  return 0;
}

// ---- set_main_slots / set_slot_grain -------------------------------------------------------

struct FixedValue {
  const char* fn;
  std::uint64_t max;
  const char* value_key;
  const char* owner_key;
  const char* taken;  // the refusal when another value is stored: argument, owner, stored
};

constexpr FixedValue kMainSlots{"set_main_slots", kMaxViewSlots, "ostrel.main_slots",
                                "ostrel.main_slots_by",
                                "set_main_slots({}): mod `{}` already fixed the main view at {} "
                                "slots"};
constexpr FixedValue kSlotGrain{"set_slot_grain", kMaxSlotGrain, "ostrel.slot_grain",
                                "ostrel.slot_grain_by",
                                "set_slot_grain({}): mod `{}` already set the grain to {} units"};

int set_fixed(lua_State* L, const FixedValue& f, std::uint64_t value) {
  const auto mod_id = lua_vm::upvalue_text(L, 1);
  lua_vm::refuse_if_frozen(L, mod_id);
  if (value < 1 || value > f.max) {
    convert::raise(L, fmt::format("{}({}): outside 1..={}", f.fn, value, f.max));
  }
  lua_getfield(L, LUA_REGISTRYINDEX, f.value_key);
  const auto stored = fields::read_number(L, -1);
  lua_pop(L, 1);
  if (stored && *stored != static_cast<double>(value)) {
    lua_getfield(L, LUA_REGISTRYINDEX, f.owner_key);
    const std::string owner = fields::read_text(L, -1).value_or("");
    lua_pop(L, 1);
    convert::raise(L, fmt::vformat(f.taken, fmt::make_format_args(value, owner,
                                                                  num::format_number(*stored))));
  }
  lua_pushinteger(L, static_cast<lua_Integer>(value));
  lua_setfield(L, LUA_REGISTRYINDEX, f.value_key);
  lua_vm::push_text(L, mod_id);
  lua_setfield(L, LUA_REGISTRYINDEX, f.owner_key);
  return 0;
}

int set_main_slots(lua_State* L) {
  return set_fixed(L, kMainSlots, convert::arg_integer<std::uint64_t>(L, 1, kMainSlots.fn));
}

int set_slot_grain(lua_State* L) {
  return set_fixed(L, kSlotGrain, convert::arg_integer<std::uint32_t>(L, 1, kSlotGrain.fn));
}

// ---- register_action -----------------------------------------------------------------------

int register_action(lua_State* L) {
  const auto mod_id = lua_vm::upvalue_text(L, 1);
  lua_vm::arg_table(L, "register_action");
  lua_settop(L, 1);
  lua_vm::refuse_if_frozen(L, mod_id);
  const std::string qualified =
      lua_vm::qualify(L, mod_id, fields::required_text(L, 1, "id", "register_action"));
  const auto description = fields::opt_text(L, 1, "description", "register_action");
  const auto default_key = fields::opt_text(L, 1, "default_key", "register_action");

  // Two actions with one id would reach clients as two bindings for one name.
  lua_vm::push_registry_table(L, "ostrel.actions");
  const int actions = lua_gettop(L);
  const auto n = static_cast<lua_Integer>(lua_rawlen(L, actions));
  for (lua_Integer i = 1; i <= n; ++i) {
    if (lua_rawgeti(L, actions, i) == LUA_TTABLE) {
      lua_getfield(L, -1, "id");
      if (fields::read_text(L, -1) == qualified) {
        convert::raise(L, fmt::format("register_action(\"{}\"): already registered", qualified));
      }
      lua_pop(L, 1);
    }
    lua_pop(L, 1);
  }
  lua_createtable(L, 0, 4);
  lua_vm::push_text(L, qualified);
  lua_setfield(L, -2, "id");
  lua_vm::push_text(L, mod_id);
  lua_setfield(L, -2, "mod_id");
  if (description) {
    lua_vm::push_text(L, *description);
    lua_setfield(L, -2, "description");
  }
  if (default_key) {
    lua_vm::push_text(L, *default_key);
    lua_setfield(L, -2, "default_key");
  }
  lua_rawseti(L, actions, n + 1);
  return 0;
}

// ---- register_hud_script -------------------------------------------------------------------

std::int64_t clamp_reserve(double r) {
  if (std::isnan(r) || r < 0) return 0;
  if (r > static_cast<double>(kMaxHudReserve)) return kMaxHudReserve;
  return static_cast<std::int64_t>(std::trunc(r));
}

int register_hud_script(lua_State* L) {
  constexpr std::string_view kFn = "register_hud_script";
  const auto mod_id = lua_vm::upvalue_text(L, 1);
  lua_settop(L, 1);
  lua_vm::refuse_if_frozen(L, mod_id);
  std::string file;
  std::int64_t reserve = 0;
  if (lua_type(L, 1) == LUA_TSTRING) {
    file = *fields::read_text(L, 1);
    if (convert::valid_utf8(file) != file) {
      convert::raise(L, "register_hud_script: the file name is not valid UTF-8 text");
    }
  } else if (lua_type(L, 1) == LUA_TTABLE) {
    file = fields::required_text(L, 1, "file", kFn);
    if (auto r = fields::opt_number(L, 1, "reserve", kFn)) reserve = clamp_reserve(*r);
  } else {
    convert::raise(L, fmt::format("mod `{}`: register_hud_script wants a file name or a table "
                                  "with one in it, not a {}",
                                  mod_id, convert::type_name(L, 1)));
  }
  lua_vm::require_mod_file(L, kFn, mod_id, file);

  lua_vm::push_registry_table(L, "ostrel.hud_scripts");
  const int scripts = lua_gettop(L);
  const auto n = static_cast<lua_Integer>(lua_rawlen(L, scripts));
  lua_Integer at = n + 1;
  for (lua_Integer i = 1; i <= n && at == n + 1; ++i) {
    if (lua_rawgeti(L, scripts, i) == LUA_TTABLE) {
      lua_getfield(L, -1, "mod_id");
      if (lua_type(L, -1) == LUA_TSTRING && fields::read_text(L, -1) == mod_id) at = i;
      lua_pop(L, 1);
    }
    lua_pop(L, 1);
  }
  if (at == n + 1) {
    lua_createtable(L, 0, 3);
    lua_vm::push_text(L, mod_id);
    lua_setfield(L, -2, "mod_id");
  } else {
    lua_rawgeti(L, scripts, at);  // replaced in place: one HUD script per mod
  }
  lua_vm::push_text(L, file);
  lua_setfield(L, -2, "file");
  lua_pushinteger(L, reserve);
  lua_setfield(L, -2, "reserve");
  lua_rawseti(L, scripts, at);
  return 0;
}

}  // namespace

void detail::set_view_functions(lua_State* L, std::string_view mod_id, int game) {
  lua_vm::set_function(L, game, "set_main_slots", set_main_slots, mod_id);
  lua_vm::set_function(L, game, "set_slot_grain", set_slot_grain, mod_id);
  lua_vm::set_function(L, game, "register_view", register_view, mod_id);
  lua_vm::set_function(L, game, "register_action", register_action, mod_id);
  lua_vm::set_function(L, game, "register_hud_script", register_hud_script, mod_id);
}

// ---- Readers -------------------------------------------------------------------------------

std::vector<inventory::slots::ViewDef> registered_views(const lua_vm::LuaVm& vm) {
  std::vector<inventory::slots::ViewDef> out;
  lua_vm::read_registry_table(vm, "ostrel.views", [&](lua_State* L, int views) {
    lua_pushnil(L);
    while (lua_next(L, views) != 0) {
      const auto slots = convert::whole_number(L, -1);
      if (lua_type(L, -2) == LUA_TSTRING && slots && *slots >= 0) {
        out.push_back({*fields::read_text(L, -2), static_cast<std::size_t>(*slots)});
      }
      lua_pop(L, 1);
    }
  });
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
  return out;
}

namespace {

std::optional<std::uint64_t> registry_whole(const lua_vm::LuaVm& vm, const char* key,
                                            std::uint64_t max) {
  std::optional<std::uint64_t> out;
  lua_vm::read_registry(vm, [&](lua_State* L) {
    lua_getfield(L, LUA_REGISTRYINDEX, key);
    const auto v = convert::whole_number(L, -1);
    if (v && *v >= 0 && static_cast<std::uint64_t>(*v) <= max) {
      out = static_cast<std::uint64_t>(*v);
    }
  });
  return out;
}

}  // namespace

std::optional<std::size_t> registered_main_slots(const lua_vm::LuaVm& vm) {
  return registry_whole(vm, "ostrel.main_slots", std::numeric_limits<std::size_t>::max());
}

std::optional<std::uint32_t> registered_slot_grain(const lua_vm::LuaVm& vm) {
  auto v = registry_whole(vm, "ostrel.slot_grain", std::numeric_limits<std::uint32_t>::max());
  if (!v) return std::nullopt;
  return static_cast<std::uint32_t>(*v);
}

std::vector<Action> registered_actions(const lua_vm::LuaVm& vm) {
  std::vector<Action> out;
  lua_vm::each_entry(vm, "ostrel.actions", [&](lua_State* L, int e) {
    if (auto id = fields::get_string(L, e, "id")) {
      out.push_back({std::move(*id), fields::get_string(L, e, "description").value_or(""),
                     fields::get_string(L, e, "default_key").value_or(""),
                     fields::get_string(L, e, "mod_id").value_or("")});
    }
    return true;
  });
  return out;
}

std::vector<ScriptFile> registered_hud_scripts(const lua_vm::LuaVm& vm) {
  std::vector<ScriptFile> out;
  lua_vm::each_entry(vm, "ostrel.hud_scripts", [&](lua_State* L, int e) {
    auto mod = fields::get_string(L, e, "mod_id");
    auto file = fields::get_string(L, e, "file");
    lua_pushliteral(L, "reserve");
    lua_rawget(L, e);
    auto r = convert::to_integer<std::uint16_t>(L, -1);
    lua_pop(L, 1);
    if (mod && file) out.push_back({std::move(*file), r.value_or(0), std::move(*mod)});
    return true;
  });
  return out;
}

}  // namespace ostrel_core::script::media
