// game.inventory, give, held, slot, take: what players carry, through the inventory slot; and
// game.get_tool, set_tool: the tool in a player's hand, through the tools slot. Both slots
// answer as empty when poisoned. Arguments are all read before a slot is locked, and answers
// are built after it is released.

#include <lua.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "building/dig/tools.hpp"
#include "building/inventory/access.hpp"
#include "building/inventory/slots.hpp"
#include "script/api/fields.hpp"
#include "script/api/readers.hpp"
#include "script/api/registration.hpp"
#include "script/api/runtime_call.hpp"
#include "script/api/runtime_items.hpp"
#include "script/read/stack_table.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

using inventory::Stack;
using inventory::slots::kMainView;

// Argument `arg` as a player, refused naming `fn` as it shows itself.
identity::PlayerUuid player_arg(lua_State* L, int arg, std::string_view fn) {
  return player_or_raise(L, convert::arg_text(L, arg, fn), fn);
}

// The `view` field of the stack table at `t`, "player:main" when absent.
std::string view_of(lua_State* L, int t, std::string_view fn) {
  return fields::opt_text(L, t, "view", fn).value_or(std::string(kMainView));
}

void push_stack_or_nil(lua_State* L, const std::optional<Stack>& stack) {
  if (stack) {
    stack_table::push_stack_table(L, *stack);
  } else {
    lua_pushnil(L);
  }
}

// What a give or take names: the player, the stack read from its table, the view and the slot,
// read in that order so the first bad one is the error raised.
struct Request {
  identity::PlayerUuid player;
  stack_table::StackSpec spec;
  std::string view;
  std::optional<std::size_t> slot;
};

Request request_of(lua_State* L, std::string_view fn) {
  const std::string text = convert::arg_text(L, 1, fn);
  convert::arg_table(L, 2, fn);
  const identity::PlayerUuid player = player_or_raise(L, text, fn);
  Request r{player, stack_table::stack_spec_of(L, 2), {}, {}};
  r.view = view_of(L, 2, fn);
  r.slot = container_slot_of(L, 2, fn);
  return r;
}

int inventory_contents(lua_State* L) {
  const std::string text = convert::arg_text(L, 1, "inventory");
  const std::string view = lua_isnoneornil(L, 2) ? std::string(kMainView) : convert::arg_text(L, 2, "inventory");
  const identity::PlayerUuid player = player_or_raise(L, text, "inventory");
  const std::vector<Stack> stacks = or_empty(*slots_of(L).inventories, std::vector<Stack>{},
                                             [&](inventory::Access& a) { return a.contents(player, view); });
  push_stack_list(L, stacks);
  return 1;
}

int inventory_give(lua_State* L) {
  Request r = request_of(L, "give");
  const std::uint32_t all = r.spec.units;
  std::optional<Stack> stack = std::move(r.spec).into_stack();
  if (!stack) {
    // Air or nothing: no unit to place, none to hand back.
    lua_pushboolean(L, 0);
    lua_pushinteger(L, 0);
    return 2;
  }
  const std::uint32_t left = or_empty(*slots_of(L).inventories, all, [&](inventory::Access& a) {
    return a.give(r.player, r.view, r.slot, std::move(*stack));
  });
  lua_pushboolean(L, left == 0 ? 1 : 0);
  lua_pushinteger(L, left);
  return 2;
}

int inventory_held(lua_State* L) {
  const identity::PlayerUuid player = player_arg(L, 1, "held");
  const std::optional<Stack> stack = or_empty(*slots_of(L).inventories, std::optional<Stack>{},
                                              [&](inventory::Access& a) { return a.held(player); });
  push_stack_or_nil(L, stack);
  return 1;
}

int inventory_slot(lua_State* L) {
  const std::string text = convert::arg_text(L, 1, "slot");
  const std::string view = convert::arg_text(L, 2, "slot");
  const auto n = convert::arg_integer<std::uint64_t>(L, 3, "slot");
  const identity::PlayerUuid player = player_or_raise(L, text, "slot");
  if (n == 0) convert::raise(L, "game.slot: slots count from 1, as the screens number them");
  const std::optional<Stack> stack =
      or_empty(*slots_of(L).inventories, std::optional<Stack>{},
               [&](inventory::Access& a) { return a.slot(player, view, static_cast<std::size_t>(n - 1)); });
  push_stack_or_nil(L, stack);
  return 1;
}

int inventory_take(lua_State* L) {
  Request r = request_of(L, "take");
  // The spec names a kind, matched exactly; a zero quantity or air is passed on and matches
  // nothing.
  Stack like{.material = r.spec.material,
             .units = r.spec.units,
             .shape = r.spec.shape,
             .detail = std::move(r.spec.detail),
             .cells = r.spec.cells};
  const std::uint32_t taken = or_empty(*slots_of(L).inventories, std::uint32_t{0}, [&](inventory::Access& a) {
    return a.take(r.player, r.view, r.slot, like, like.units);
  });
  lua_pushinteger(L, taken);
  return 1;
}

int get_tool(lua_State* L) {
  const identity::PlayerUuid player = player_arg(L, 1, "get_tool");
  const std::optional<std::string> tool = or_empty(*slots_of(L).tools, std::optional<std::string>{},
                                                   [&](dig::Tools& t) { return t.tool(player); });
  if (tool) {
    push_text(L, *tool);
  } else {
    lua_pushnil(L);
  }
  return 1;
}

int set_tool(lua_State* L) {
  const std::string text = convert::arg_text(L, 1, "set_tool");
  std::optional<std::string> tool;
  if (!lua_isnoneornil(L, 2)) tool = convert::arg_text(L, 2, "set_tool");
  const identity::PlayerUuid player = player_or_raise(L, text, "set_tool");
  const bool set =
      or_empty(*slots_of(L).tools, false, [&](dig::Tools& t) { return t.set_tool(player, std::move(tool)); });
  lua_pushboolean(L, set ? 1 : 0);
  return 1;
}

}  // namespace

identity::PlayerUuid player_or_raise(lua_State* L, std::string_view text, std::string_view fn) {
  auto player = readers::player_of(text, fn);
  if (!player) convert::raise(L, player.error());
  return *player;
}

std::optional<std::size_t> container_slot_of(lua_State* L, int t, std::string_view fn) {
  if (fields::raw_field(L, t, "slot") == LUA_TNIL) {
    lua_pop(L, 1);
    return std::nullopt;
  }
  const auto n = fields::integer_value<std::uint64_t>(L, -1, fn, "slot");
  lua_pop(L, 1);
  if (n == 0) convert::raise(L, "container slots are numbered from 1, and 0 is not one of them");
  return static_cast<std::size_t>(n - 1);
}

void push_stack_list(lua_State* L, const std::vector<Stack>& stacks) {
  lua_createtable(L, static_cast<int>(std::min<std::size_t>(stacks.size(), 1 << 16)), 0);
  for (std::size_t i = 0; i < stacks.size(); ++i) {
    stack_table::push_stack_table(L, stacks[i]);
    lua_rawseti(L, -2, static_cast<lua_Integer>(i + 1));
  }
}

void install_tools(lua_State* L, int game_idx, const Slots& slots) {
  const Closure functions[] = {{"get_tool", get_tool}, {"set_tool", set_tool}};
  set_closures(L, game_idx, slots, functions);
}

void install_inventory(lua_State* L, int game_idx, const Slots& slots) {
  // `slot` sits between held and take, as the slot reader joins the set.
  const Closure functions[] = {{"inventory", inventory_contents},
                                    {"give", inventory_give},
                                    {"held", inventory_held},
                                    {"slot", inventory_slot},
                                    {"take", inventory_take}};
  set_closures(L, game_idx, slots, functions);
}

}  // namespace ostrel_core::script::lua_vm
