// The runtime functions' access to the slots, the readers step and the constants.

#include "script/api/runtime.hpp"

#include <algorithm>
#include <lua.hpp>

#include "script/api/registration.hpp"
#include "script/api/runtime_call.hpp"
#include "script/lua_vm/userdata.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

struct RuntimeSlots {
  Slots slots;
};

}  // namespace

namespace userdata {
template <>
const TypeInfo& type_of<RuntimeSlots>() {
  static const TypeInfo info{"Ostrel.RuntimeSlots", {}, destroy_box<RuntimeSlots>, box_alive<RuntimeSlots>};
  return info;
}
}  // namespace userdata

void push_slots(lua_State* L, const Slots& slots) { userdata::push<RuntimeSlots>(L, RuntimeSlots{slots}); }

const Slots& slots_of(lua_State* L) {
  // Upvalues of a C closure are out of every mod's reach (no debug library), so the box is ours.
  return static_cast<userdata::Box<RuntimeSlots>*>(lua_touserdata(L, lua_upvalueindex(1)))->value.slots;
}

void set_mod_table(lua_State* L, int game_idx, const char* key, std::string_view mod_id, const Slots& slots,
                   std::span<const Closure> functions) {
  game_idx = lua_absindex(L, game_idx);
  lua_createtable(L, 0, static_cast<int>(functions.size()));
  set_closures(L, -1, slots, functions, mod_id);
  lua_setfield(L, game_idx, key);
}

void push_text_list(lua_State* L, const std::vector<std::string>& texts) {
  lua_createtable(L, static_cast<int>(std::min<std::size_t>(texts.size(), 1 << 20)), 0);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    push_text(L, texts[i]);
    lua_rawseti(L, -2, static_cast<lua_Integer>(i + 1));
  }
}

void set_closures(lua_State* L, int game_idx, const Slots& slots, std::span<const Closure> closures,
                  std::optional<std::string_view> mod_id) {
  game_idx = lua_absindex(L, game_idx);
  push_slots(L, slots);
  for (const auto& c : closures) {
    lua_pushvalue(L, -1);
    if (mod_id) push_text(L, *mod_id);
    lua_pushcclosure(L, c.fn, mod_id ? 2 : 1);
    lua_setfield(L, game_idx, c.key);
  }
  lua_pop(L, 1);
}

std::string_view mod_of(lua_State* L) {
  std::size_t len = 0;
  const char* text = lua_tolstring(L, lua_upvalueindex(2), &len);
  return {text, len};
}

void install_readers(lua_State* L, int game_idx, const Slots& slots) {
  game_idx = lua_absindex(L, game_idx);
  push_slots(L, slots);
  lua_pushvalue(L, -1);
  lua_pushcclosure(L, get_block, 1);
  lua_setfield(L, game_idx, "get_block");
  lua_pushcclosure(L, get_light, 1);
  lua_setfield(L, game_idx, "get_light");
}

void install_constants(lua_State* L, std::string_view mod_id, int game_idx) {
  game_idx = lua_absindex(L, game_idx);
  const std::pair<const char*, lua_Integer> numbers[] = {{"CHUNK_BLOCKS", 16},
                                                         {"UNITS_PER_BLOCK", 27},
                                                         {"OCCUPANCY_FULL", 0x7FFFFFF},
                                                         {"ITEMS_PER_STACK", 90},
                                                         {"AIR", 0}};
  for (const auto& [key, value] : numbers) {
    lua_pushinteger(L, value);
    lua_setfield(L, game_idx, key);
  }
  push_text(L, mod_id);
  lua_setfield(L, game_idx, "mod_id");
}

}  // namespace ostrel_core::script::lua_vm
