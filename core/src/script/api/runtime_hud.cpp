// game.set_hud, game.is_operator and game.chat_to.

#include <fmt/format.h>

#include <cmath>
#include <cstdint>
#include <lua.hpp>
#include <string>

#include "presentation/hud/state.hpp"
#include "script/api/readers.hpp"
#include "script/api/registration.hpp"
#include "script/api/runtime_call.hpp"
#include "script/api/runtime_presentation.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

template <class F>
bool through_hud(lua_State* L, F&& fn) {
  return slots_of(L).hud->with([&](hud::state::Access* h) { return h != nullptr && fn(*h); });
}

identity::PlayerUuid player_arg(lua_State* L, std::string_view fn) {
  auto player = readers::player_of(convert::arg_text(L, 1, fn), fn);
  if (!player) convert::raise(L, player.error());
  return *player;
}

// The value at the top of the stack as a HUD value named `name`.
hud::state::Value hud_value(lua_State* L, const std::string& name) {
  switch (lua_type(L, -1)) {
    case LUA_TBOOLEAN:
      return hud::state::Bool{lua_toboolean(L, -1) != 0};
    case LUA_TNUMBER: {
      if (lua_isinteger(L, -1)) return hud::state::Number{static_cast<double>(lua_tointeger(L, -1))};
      const double v = lua_tonumber(L, -1);
      if (!std::isfinite(v)) convert::raise(L, fmt::format("game.set_hud was given `{}` as a number that is not one", name));
      return hud::state::Number{v};
    }
    case LUA_TSTRING: {
      auto text = convert::to_utf8(L, -1);
      if (!text) convert::raise(L, fmt::format("game.set_hud: bad value `{}` ({})", name, text.error().text));
      if (text->size() > hud::state::kMaxTextBytes) {
        convert::raise(L, fmt::format("game.set_hud text is at most {} bytes, and `{}`'s is longer",
                                      hud::state::kMaxTextBytes, name));
      }
      return hud::state::Text{std::move(*text)};
    }
    default:
      convert::raise(L, fmt::format("game.set_hud takes numbers, strings and booleans; `{}` is a {}", name,
                                    lua_typename(L, lua_type(L, -1))));
  }
}

int set_hud(lua_State* L) {
  constexpr std::string_view kFn = "set_hud";
  const identity::PlayerUuid player = player_arg(L, kFn);
  convert::arg_table(L, 2, kFn);
  lua_settop(L, 2);
  hud::state::ValueSet values;
  std::size_t accepted = 0;
  lua_pushnil(L);
  while (lua_next(L, 2) != 0) {
    // The key stays on the stack for lua_next: it is converted from a copy.
    auto name = convert::to_utf8(L, -2);
    if (!name) convert::raise(L, fmt::format("game.set_hud: bad value name ({})", name.error().text));
    if (accepted == hud::state::kMaxValues) {
      convert::raise(L, fmt::format("game.set_hud takes at most {} values", hud::state::kMaxValues));
    }
    if (name->size() > hud::state::kMaxNameBytes) {
      convert::raise(L, fmt::format("game.set_hud value names are at most {} bytes, and `{}` is longer",
                                    hud::state::kMaxNameBytes, *name));
    }
    hud::state::Value value = hud_value(L, *name);
    values.insert_or_assign(std::move(*name), std::move(value));
    ++accepted;
    lua_pop(L, 1);
  }
  const std::string_view mod_id = upvalue_text(L, 2);
  lua_pushboolean(L, through_hud(L, [&](hud::state::Access& h) { return h.set_hud(mod_id, player, std::move(values)); }));
  return 1;
}

int is_operator(lua_State* L) {
  const identity::PlayerUuid player = player_arg(L, "is_operator");
  lua_pushboolean(L, through_hud(L, [&](hud::state::Access& h) { return h.is_operator(player); }));
  return 1;
}

int chat_to(lua_State* L) {
  constexpr std::string_view kFn = "chat_to";
  std::string player_text = convert::arg_text(L, 1, kFn);
  auto line = convert::to_utf8(L, 2);
  if (!line) convert::arg_error(L, 2, kFn, line.error().text);
  auto player = readers::player_of(player_text, kFn);
  if (!player) convert::raise(L, player.error());
  if (line->size() > hud::state::kMaxChatBytes) {
    convert::raise(L, fmt::format("chat_to: a line is at most {} bytes", hud::state::kMaxChatBytes));
  }
  lua_pushboolean(L, through_hud(L, [&](hud::state::Access& h) { return h.chat_to(*player, std::move(*line)); }));
  return 1;
}

}  // namespace

void install_hud_api(lua_State* L, std::string_view mod_id, int game_idx, const Slots& slots) {
  const Closure with_mod[] = {{"set_hud", set_hud}};
  set_closures(L, game_idx, slots, with_mod, mod_id);
  const Closure plain[] = {{"is_operator", is_operator}, {"chat_to", chat_to}};
  set_closures(L, game_idx, slots, plain);
}

}  // namespace ostrel_core::script::lua_vm
