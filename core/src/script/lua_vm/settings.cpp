// Player settings and world options: the registry tables "ostrel.settings", "ostrel.answers" and
// "ostrel.world_options", the `game` functions that write and read them, and the operations
// through which the host declares manifest settings and the server stores players' answers.

#include "script/lua_vm/settings.hpp"

#include <fmt/format.h>
#include <lua.hpp>

#include "base/log.hpp"
#include "script/api/fields.hpp"
#include "script/api/registration.hpp"
#include "script/lua_vm/convert.hpp"
#include "script/lua_vm/events.hpp"
#include "script/lua_vm/slots.hpp"
#include "script/lua_vm/state.hpp"

namespace ostrel_core::script::lua_vm {

using vm::ScriptError;

namespace {

// The field `key` of the table at `idx` as an unsigned 32-bit integer, raw; none otherwise.
std::optional<std::uint32_t> u32_field(lua_State* L, int idx, const char* key) {
  lua_pushstring(L, key);
  lua_rawget(L, idx);
  std::optional<std::uint32_t> out;
  if (lua_isinteger(L, -1)) {
    const lua_Integer v = lua_tointeger(L, -1);
    if (v >= 0 && v <= 0xFFFFFFFF) out = static_cast<std::uint32_t>(v);
  }
  lua_pop(L, 1);
  return out;
}

// Pushes the option texts of the entry at `idx` as a new sequence, or nil when its `options`
// is not a list of strings. An empty list is pushed as an empty table.
void push_entry_options(lua_State* L, int idx) {
  idx = lua_absindex(L, idx);
  lua_pushliteral(L, "options");
  if (lua_rawget(L, idx) != LUA_TTABLE) {
    lua_pop(L, 1);
    lua_pushnil(L);
    return;
  }
  const int opts = lua_gettop(L);
  lua_newtable(L);
  for (lua_Integer i = 1;; ++i) {
    const int t = lua_rawgeti(L, opts, i);
    if (t == LUA_TNIL) {
      lua_pop(L, 1);
      break;
    }
    if (t != LUA_TSTRING) {
      lua_pop(L, 3);
      lua_pushnil(L);
      return;
    }
    lua_rawseti(L, -2, i);
  }
  lua_remove(L, opts);
}

// Pushes the first entry of "ostrel.settings" whose `id` is `id` byte for byte; false when none.
bool push_setting_entry(lua_State* L, std::string_view id) {
  if (lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.settings") != LUA_TTABLE) {
    lua_pop(L, 1);
    return false;
  }
  const int settings = lua_gettop(L);
  for (lua_Integer i = 1;; ++i) {
    const int t = lua_rawgeti(L, settings, i);
    if (t == LUA_TNIL) break;
    if (t == LUA_TTABLE) {
      lua_pushliteral(L, "id");
      const bool match = lua_rawget(L, -2) == LUA_TSTRING && text_at(L, -1) == id;
      lua_pop(L, 1);
      if (match) {
        lua_remove(L, settings);
        return true;
      }
    }
    lua_pop(L, 1);
  }
  lua_pop(L, 2);
  return false;
}

// The number of options of the entry on top of the stack (0 for a checkbox or unreadable).
lua_Integer option_count(lua_State* L) {
  push_entry_options(L, -1);
  const lua_Integer n = lua_istable(L, -1) ? static_cast<lua_Integer>(lua_rawlen(L, -1)) : 0;
  lua_pop(L, 1);
  return n;
}

// Reads `options` of a `register_setting` registration table (at 1) into a new table on top of the
// stack; nil is pushed when the field is absent.
void read_options(lua_State* L, std::string_view written_id) {
  lua_pushliteral(L, "options");
  const int t = lua_rawget(L, 1);
  if (t == LUA_TNIL) return;
  if (t != LUA_TTABLE) {
    convert::raise(L, fmt::format("register_setting(\"{}\"): `options` is a list of strings, {}",
                                  written_id, convert::mismatch(L, -1, "table").text));
  }
  const int given = lua_gettop(L);
  lua_newtable(L);
  for (lua_Integer i = 1;; ++i) {
    if (lua_rawgeti(L, given, i) == LUA_TNIL) {
      lua_pop(L, 1);
      break;
    }
    auto text = convert::to_text(L, -1);
    if (!text) {
      convert::raise(L, fmt::format("register_setting(\"{}\"): `options[{}]`: {}", written_id, i,
                                    text.error().text));
    }
    lua_pop(L, 1);
    push_text(L, *text);
    lua_rawseti(L, -2, i);
  }
  lua_remove(L, given);
}

// The texts and the default of a registration table; a value of the wrong type is refused
// naming the field.
constexpr std::string_view kSettingRefusal = "{ctx}: `{field}`: {why}";
constexpr fields::Field kSettingFields[] = {
    fields::text("name").mismatch_refused().refusal(kSettingRefusal),
    fields::text("description").mismatch_refused().refusal(kSettingRefusal),
    fields::integer<std::uint32_t>("default").mismatch_refused().refusal(kSettingRefusal),
};

// Upvalue 1: the mod id.
int register_setting(lua_State* L) {
  const std::string mod_id(upvalue_text(L, 1));
  if (lua_type(L, 1) != LUA_TTABLE) {
    convert::arg_error(L, 1, "register_setting", convert::mismatch(L, 1, "table").text);
  }
  lua_settop(L, 1);
  refuse_if_frozen(L, mod_id);

  lua_pushliteral(L, "id");
  lua_rawget(L, 1);
  auto written = convert::to_text(L, -1);
  if (!written) convert::raise(L, fmt::format("register_setting: `id`: {}", written.error().text));
  lua_pop(L, 1);

  read_options(L, *written);  // 2: the options, or nothing
  const bool has_options = lua_gettop(L) == 2;
  const lua_Integer count = has_options ? static_cast<lua_Integer>(lua_rawlen(L, 2)) : 0;
  if (count == 1) {
    convert::raise(L, fmt::format("register_setting(\"{}\"): a choice of one is not a choice. "
                                  "Leave `options` out for a checkbox, or give at least two",
                                  *written));
  }
  if (!has_options) lua_newtable(L);

  auto qualified = convert::qualify_id(mod_id, *written);
  if (!qualified) convert::raise(L, qualified.error());

  push_registry_table(L, "ostrel.settings");
  const int settings = lua_gettop(L);
  const auto n = static_cast<lua_Integer>(lua_rawlen(L, settings));
  for (lua_Integer i = 1; i <= n; ++i) {
    if (lua_rawgeti(L, settings, i) == LUA_TTABLE) {
      lua_pushliteral(L, "manifest");
      const bool manifest = lua_rawget(L, -2) == LUA_TBOOLEAN && lua_toboolean(L, -1) != 0;
      lua_pop(L, 1);
      lua_pushliteral(L, "id");
      const bool same = lua_rawget(L, -2) == LUA_TSTRING && text_at(L, -1) == *qualified;
      lua_pop(L, 1);
      if (manifest && same) {
        convert::raise(L, fmt::format("{} is declared in mod.toml; declare a setting once",
                                      *qualified));
      }
      // Two entries with one id would reach clients as two settings they cannot tell apart.
      if (same) {
        convert::raise(L, fmt::format("register_setting(\"{}\"): already registered", *qualified));
      }
    }
    lua_pop(L, 1);
  }

  const auto got =
      fields::read(L, 1, fmt::format("register_setting(\"{}\")", *written), kSettingFields);
  const std::string name = got.text_if("name").value_or(*written);
  const std::string& description = got.text("description");
  const auto cap = static_cast<std::uint32_t>(count == 0 ? 1 : count - 1);
  const std::uint32_t def = std::min(got.integer<std::uint32_t>("default"), cap);

  lua_createtable(L, 0, 6);
  set_text(L, "id", *qualified);
  set_text(L, "mod_id", mod_id);
  set_text(L, "name", name);
  set_text(L, "description", description);
  set_integer(L, "default", def);
  lua_pushvalue(L, 2);
  lua_setfield(L, -2, "options");
  lua_rawseti(L, settings, n + 1);
  return 0;
}

// game.setting(player, id)
int setting(lua_State* L) {
  const std::string player = convert::arg_text(L, 1, "setting");
  const std::string id = convert::arg_text(L, 2, "setting");
  lua_settop(L, 0);
  if (!push_setting_entry(L, id)) {
    lua_pushnil(L);
    return 1;
  }
  const int entry = lua_gettop(L);
  std::uint32_t value = u32_field(L, entry, "default").value_or(0);
  if (lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.answers") == LUA_TTABLE) {
    push_text(L, player);
    if (lua_rawget(L, -2) == LUA_TTABLE) {
      if (auto answer = u32_field(L, lua_gettop(L), id.c_str())) value = *answer;
    }
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
  push_entry_options(L, entry);
  const auto count = lua_istable(L, -1) ? static_cast<lua_Integer>(lua_rawlen(L, -1)) : 0;
  if (count == 0) {
    lua_pushboolean(L, value != 0);
    return 1;
  }
  lua_rawgeti(L, -1, std::min<lua_Integer>(value, count - 1) + 1);
  return 1;
}

// game.world_option(id)
int world_option(lua_State* L) {
  const std::string id = convert::arg_text(L, 1, "world_option");
  if (lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.world_options") != LUA_TTABLE) {
    lua_pushnil(L);
    return 1;
  }
  push_text(L, id);
  lua_rawget(L, -2);
  return 1;
}

}  // namespace

std::expected<void, ScriptError> LuaVm::install_settings(std::string_view mod_id, int game_idx) {
  std::lock_guard lock(impl_->mu);
  return fill_game(impl_->L, game_idx, [&](lua_State* s) {
    push_text(s, mod_id);
    lua_pushcclosure(s, register_setting, 1);
    lua_setfield(s, 1, "register_setting");
    lua_pushcfunction(s, setting);
    lua_setfield(s, 1, "setting");
  });
}

std::expected<void, ScriptError> LuaVm::install_world_options(int game_idx) {
  std::lock_guard lock(impl_->mu);
  return fill_game(impl_->L, game_idx, [](lua_State* s) {
    lua_pushcfunction(s, world_option);
    lua_setfield(s, 1, "world_option");
  });
}

void LuaVm::declare_manifest_settings(std::string_view mod_id,
                                      std::span<const modload::manifest::ManifestSetting> settings) {
  std::lock_guard lock(impl_->mu);
  lua_State* L = impl_->L;
  for (const auto& m : settings) {
    // Checkbox: on unless 0. Dropdown: the one-based default made 0-based (0 stays 0).
    std::uint32_t def = 0;
    if (m.options.empty()) {
      def = m.default_value != 0 ? 1 : 0;
    } else {
      def = m.default_value == 0 ? 0 : m.default_value - 1;
    }
    bool missing_table = false;
    auto r = protect(L, [&](lua_State* s) {
      if (lua_getfield(s, LUA_REGISTRYINDEX, "ostrel.settings") != LUA_TTABLE) {
        missing_table = true;
        return;
      }
      lua_createtable(s, 0, 7);
      set_text(s, "id", fmt::format("{}:{}", mod_id, m.id));
      set_text(s, "mod_id", mod_id);
      set_text(s, "name", m.name);
      set_text(s, "description", m.description);
      set_integer(s, "default", def);
      set_boolean(s, "manifest", true);
      lua_createtable(s, static_cast<int>(m.options.size()), 0);
      for (std::size_t i = 0; i < m.options.size(); ++i) {
        push_text(s, m.options[i]);
        lua_rawseti(s, -2, static_cast<lua_Integer>(i + 1));
      }
      lua_setfield(s, -2, "options");
      lua_rawseti(s, -2, static_cast<lua_Integer>(lua_rawlen(s, -2) + 1));
    });
    if (missing_table) return;
    if (!r) {
      OSTREL_ERROR(kTarget, fmt::format("could not record a manifest setting: {}", r.error()),
                   log::text("mod_id", mod_id), log::text("id", m.id));
    }
  }
}

std::vector<vm::Setting> LuaVm::registered_settings() const {
  std::lock_guard lock(impl_->mu);
  std::vector<vm::Setting> out;
  (void)protect(impl_->L, [&](lua_State* s) {  // unreadable: no settings
    if (lua_getfield(s, LUA_REGISTRYINDEX, "ostrel.settings") != LUA_TTABLE) return;
    const int settings = lua_gettop(s);
    for (lua_Integer i = 1;; ++i) {
      const int t = lua_rawgeti(s, settings, i);
      if (t == LUA_TNIL) break;
      if (t != LUA_TTABLE) {
        lua_pop(s, 1);
        continue;
      }
      const int entry = lua_gettop(s);
      auto text_of = [&](const char* key) {
        lua_pushstring(s, key);
        std::string v;
        if (lua_rawget(s, entry) == LUA_TSTRING) v = std::string(text_at(s, -1));
        lua_pop(s, 1);
        return v;
      };
      lua_pushliteral(s, "manifest");
      const bool manifest = lua_rawget(s, entry) == LUA_TBOOLEAN && lua_toboolean(s, -1) != 0;
      lua_pop(s, 1);
      vm::Setting setting;
      setting.mod_id = text_of("mod_id");
      lua_pushliteral(s, "id");
      const bool has_id = lua_rawget(s, entry) == LUA_TSTRING;
      if (has_id) setting.id = std::string(text_at(s, -1));
      lua_pop(s, 1);
      if (!has_id || (manifest && is_faulted(setting.mod_id))) {
        lua_pop(s, 1);
        continue;
      }
      setting.name = text_of("name");
      setting.description = text_of("description");
      setting.default_value = u32_field(s, entry, "default").value_or(0);
      push_entry_options(s, entry);
      if (lua_istable(s, -1)) {
        const auto n = static_cast<lua_Integer>(lua_rawlen(s, -1));
        for (lua_Integer k = 1; k <= n; ++k) {
          lua_rawgeti(s, -1, k);
          setting.options.emplace_back(text_at(s, -1));
          lua_pop(s, 1);
        }
      }
      lua_pop(s, 2);
      out.push_back(std::move(setting));
    }
  });
  return out;
}

bool LuaVm::set_player_setting(const identity::PlayerUuid& player, std::string_view id,
                               std::uint32_t value) {
  std::lock_guard lock(impl_->mu);
  const std::string key = player.to_hex();
  bool stored = false;
  (void)protect(impl_->L, [&](lua_State* s) {  // a failure drops the answer, as a refusal does
    if (!push_setting_entry(s, id)) return;
    const lua_Integer count = option_count(s);
    const lua_Integer max = count == 0 ? 1 : count - 1;
    if (static_cast<lua_Integer>(value) > max) return;
    if (lua_getfield(s, LUA_REGISTRYINDEX, "ostrel.answers") != LUA_TTABLE) return;
    push_text(s, key);
    if (lua_rawget(s, -2) != LUA_TTABLE) {
      lua_pop(s, 1);
      lua_newtable(s);
      push_text(s, key);
      lua_pushvalue(s, -2);
      lua_rawset(s, -4);
    }
    push_text(s, id);
    lua_pushinteger(s, value);
    lua_rawset(s, -3);
    stored = true;
  });
  return stored;
}

void LuaVm::set_world_options(
    std::span<const std::pair<std::string, modload::manifest::WorldOptionValue>> values) {
  std::lock_guard lock(impl_->mu);
  install_registry_table(
      impl_->L, "ostrel.world_options", "the world options", "a world option", "id",
      values.size(),
      [&](lua_State* s, std::size_t i) {
        const auto& [key, value] = values[i];
        push_text(s, key);
        if (const auto* choice = std::get_if<modload::manifest::Choice>(&value)) {
          push_text(s, choice->text);
        } else {
          lua_pushboolean(s, std::get<modload::manifest::Toggle>(value).on ? 1 : 0);
        }
      },
      [&](std::size_t i) -> std::string_view { return values[i].first; });
}

// Drops every answer `player` gave; called when the player leaves.
void forget_answers(lua_State* L, const identity::PlayerUuid& player) {
  const std::string key = player.to_hex();
  (void)protect(L, [&](lua_State* s) {  // nothing to drop when the table cannot be read
    if (lua_getfield(s, LUA_REGISTRYINDEX, "ostrel.answers") != LUA_TTABLE) return;
    push_text(s, key);
    lua_pushnil(s);
    lua_rawset(s, -3);
  });
}

}  // namespace ostrel_core::script::lua_vm
