// game.storage: a mod's own key-value store. The slot is held only while the store's handle is
// taken; the store is called after the slot is released.

#include <fmt/format.h>

#include <lua.hpp>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "script/api/registration.hpp"
#include "script/api/runtime.hpp"
#include "script/api/runtime_call.hpp"
#include "world/storage.hpp"
#include "world/storage_access.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

// The store behind the slot; null when empty; the poison text raised when poisoned.
std::shared_ptr<storage::Access> store(lua_State* L) {
  const Slots& slots = slots_of(L);
  if (slots.storage->poisoned()) convert::raise(L, "the mod storage is poisoned; the simulation panicked");
  return slots.storage->get();
}

int storage_get(lua_State* L) {
  const std::string key = convert::arg_text(L, 1, "storage.get");
  const auto s = store(L);
  const std::optional<storage::Value> value = s == nullptr ? std::nullopt : s->get(upvalue_text(L, 2), key);
  if (!value) {
    lua_pushnil(L);
  } else if (const auto* text = value->as_text()) {
    push_text(L, *text);
  } else if (const auto* number = value->as_number()) {
    lua_pushnumber(L, *number);
  } else {
    lua_pushboolean(L, *value->as_bool() ? 1 : 0);
  }
  return 1;
}

int storage_set(lua_State* L) {
  const std::string key = convert::arg_text(L, 1, "storage.set");
  const auto s = store(L);
  // Only a filled slot looks at the value: without a world nothing is refused.
  if (s == nullptr) return 0;
  std::optional<storage::Value> value;
  switch (lua_type(L, 2)) {
    case LUA_TNONE:
    case LUA_TNIL:
      break;
    case LUA_TBOOLEAN:
      value = storage::Value::boolean(lua_toboolean(L, 2) != 0);
      break;
    case LUA_TNUMBER:
      // An integer becomes the nearest double (2^53 + 1 is 2^53).
      value = storage::Value::number(lua_isinteger(L, 2) ? static_cast<double>(lua_tointeger(L, 2))
                                                         : lua_tonumber(L, 2));
      break;
    case LUA_TSTRING: {
      std::string text(text_at(L, 2));
      if (!storage::is_storable_text(text)) {
        convert::raise(L, "storage.set: the value is not valid UTF-8 text; only UTF-8 strings can be stored");
      }
      value = storage::Value::text(std::move(text));
      break;
    }
    default:
      convert::raise(L, fmt::format("storage.set: a {} cannot be stored; use a string, a number or a boolean",
                                    convert::type_name(L, 2)));
  }
  s->set(upvalue_text(L, 2), key, std::move(value));
  return 0;
}

int storage_keys(lua_State* L) {
  const std::string prefix = lua_isnoneornil(L, 1) ? std::string() : convert::arg_text(L, 1, "storage.keys");
  const auto s = store(L);
  const std::vector<std::string> keys =
      s == nullptr ? std::vector<std::string>() : s->keys(upvalue_text(L, 2), prefix);
  push_text_list(L, keys);
  return 1;
}

}  // namespace

void install_storage_api(lua_State* L, std::string_view mod_id, int game_idx, const Slots& slots) {
  const Closure functions[] = {{"get", storage_get}, {"set", storage_set}, {"keys", storage_keys}};
  set_mod_table(L, game_idx, "storage", mod_id, slots, functions);
}

}  // namespace ostrel_core::script::lua_vm
