// The world's named containers: game.make_container, open_container, close_container,
// container, break_container, container_holder, containers, container_give, container_take.
// The containers slot answers as empty when poisoned; it is held for one service call only.

#include <fmt/format.h>

#include <lua.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "building/inventory/access.hpp"
#include "script/api/readers.hpp"
#include "script/api/registration.hpp"
#include "script/api/runtime_call.hpp"
#include "script/api/runtime_items.hpp"
#include "script/read/stack_table.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

using inventory::Containers;
using inventory::Stack;

constexpr std::uint64_t kMaxContainerSlots = 256;

Slot<Containers>& containers_slot(lua_State* L) { return *slots_of(L).containers; }

int make_container(lua_State* L) {
  const std::string name = convert::arg_text(L, 1, "make_container");
  const auto count = convert::arg_integer<std::uint64_t>(L, 2, "make_container");
  if (name.empty()) convert::raise(L, "game.make_container needs a name; it is how the container is found again");
  if (count < 1 || count > kMaxContainerSlots) {
    convert::raise(L, fmt::format("a container has 1 to {} slots, and this one asked for {}", kMaxContainerSlots,
                                  count));
  }
  const bool made = or_empty(containers_slot(L), false,
                             [&](Containers& c) { return c.ensure(name, static_cast<std::size_t>(count)); });
  lua_pushboolean(L, made ? 1 : 0);
  return 1;
}

// open_container and close_container: (name, player) to a boolean.
template <bool kOpen>
int open_or_close(lua_State* L) {
  constexpr std::string_view fn = kOpen ? "open_container" : "close_container";
  const std::string name = convert::arg_text(L, 1, fn);
  const std::string text = convert::arg_text(L, 2, fn);
  const identity::PlayerUuid player = player_or_raise(L, text, fn);
  const bool done = or_empty(containers_slot(L), false, [&](Containers& c) {
    return kOpen ? c.open(name, player) : c.close(name, player);
  });
  lua_pushboolean(L, done ? 1 : 0);
  return 1;
}

int container_slots(lua_State* L) {
  const std::string name = convert::arg_text(L, 1, "container");
  using Copy = std::optional<std::vector<std::optional<Stack>>>;
  const Copy copy = or_empty(containers_slot(L), Copy{}, [&](Containers& c) { return c.slots(name); });
  lua_createtable(L, 0, 0);
  if (!copy) return 1;
  lua_Integer n = 0;
  for (std::size_t i = 0; i < copy->size(); ++i) {
    const auto& slot = (*copy)[i];
    if (!slot) continue;
    stack_table::push_stack_table(L, *slot);
    lua_pushinteger(L, static_cast<lua_Integer>(i + 1));
    lua_setfield(L, -2, "slot");
    lua_rawseti(L, -2, ++n);
  }
  return 1;
}

int break_container(lua_State* L) {
  const std::string name = convert::arg_text(L, 1, "break_container");
  const std::vector<Stack> stacks =
      or_empty(containers_slot(L), std::vector<Stack>{}, [&](Containers& c) { return c.remove(name); });
  push_stack_list(L, stacks);
  return 1;
}

int container_holder(lua_State* L) {
  const std::string name = convert::arg_text(L, 1, "container_holder");
  const std::optional<identity::PlayerUuid> holder = or_empty(
      containers_slot(L), std::optional<identity::PlayerUuid>{}, [&](Containers& c) { return c.holder(name); });
  if (holder) {
    push_text(L, holder->to_hex());
  } else {
    lua_pushnil(L);
  }
  return 1;
}

int container_names(lua_State* L) {
  const std::string prefix = convert::arg_text(L, 1, "containers");
  const std::vector<std::string> names =
      or_empty(containers_slot(L), std::vector<std::string>{}, [&](Containers& c) { return c.names(prefix); });
  push_text_list(L, names);
  return 1;
}

int container_give(lua_State* L) {
  const std::string name = convert::arg_text(L, 1, "container_give");
  convert::arg_table(L, 2, "container_give");
  const std::optional<std::size_t> slot = container_slot_of(L, 2, "container_give");
  std::optional<Stack> stack = stack_table::stack_of(L, 2);
  std::uint32_t moved = 0;
  if (stack) {
    moved = or_empty(containers_slot(L), std::uint32_t{0},
                     [&](Containers& c) { return c.give(name, slot, std::move(*stack)); });
  }
  lua_pushinteger(L, moved);
  return 1;
}

int container_take(lua_State* L) {
  const std::string name = convert::arg_text(L, 1, "container_take");
  convert::arg_table(L, 2, "container_take");
  stack_table::StackSpec spec = stack_table::stack_spec_of(L, 2);
  const std::optional<std::size_t> slot = container_slot_of(L, 2, "container_take");
  const Stack like{.material = spec.material,
                   .units = spec.units,
                   .shape = spec.shape,
                   .detail = std::move(spec.detail),
                   .cells = spec.cells};
  const std::uint32_t taken = or_empty(containers_slot(L), std::uint32_t{0},
                                       [&](Containers& c) { return c.take(name, slot, like, like.units); });
  lua_pushinteger(L, taken);
  return 1;
}

}  // namespace

void install_container_api(lua_State* L, int game_idx, const Slots& slots) {
  const Closure functions[] = {
      {"make_container", make_container},
      {"open_container", open_or_close<true>},
      {"close_container", open_or_close<false>},
      {"container", container_slots},
      {"break_container", break_container},
      {"container_holder", container_holder},
      {"containers", container_names},
      {"container_give", container_give},
      {"container_take", container_take},
  };
  set_closures(L, game_idx, slots, functions);
}

}  // namespace ostrel_core::script::lua_vm
