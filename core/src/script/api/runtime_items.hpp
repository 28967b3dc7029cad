#pragma once
// The runtime `game` functions over items and plans: what players carry and the tool in their
// hand (runtime_inventory.cpp), the world's named containers (runtime_containers.cpp) and a
// mod's own plans (runtime_plans.cpp). Stacks cross as stack tables going out and stack specs
// coming in (script/read/stack_table.hpp). The engine's own header: not for use outside
// core/src/script.
//
// Slot numbers are one-based towards scripts and zero-based towards the services. The
// inventory, tool and container slots answer as empty when poisoned; the plan slot raises.
// Every unit a give does not place is answered, so no unit is made or lost between a script
// and the server.

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "building/inventory/stack.hpp"
#include "identity/identity.hpp"

struct lua_State;

namespace ostrel_core::script::lua_vm {

struct Slots;

// Installed by load_mod before install_frozen_api: get_tool, set_tool.
void install_tools(lua_State* L, int game_idx, const Slots& slots);
// Installed by load_mod after install_tools: inventory, give, held, slot, take.
void install_inventory(lua_State* L, int game_idx, const Slots& slots);
// Step 7: the table `plans` with capture, stamp, info, list, forget, each made for `mod_id`.
void install_plan_api(lua_State* L, std::string_view mod_id, int game_idx, const Slots& slots);
// Step 10: make_container, open_container, close_container, container, break_container,
// container_holder, containers, container_give, container_take.
void install_container_api(lua_State* L, int game_idx, const Slots& slots);

// readers::player_of, raising its refusal.
identity::PlayerUuid player_or_raise(lua_State* L, std::string_view text, std::string_view fn);

// The optional `slot` field of the stack table at `t`: none when absent, else the zero-based
// index. Raises "container slots are numbered from 1, and 0 is not one of them" for 0, and
// "{fn}: bad field `slot` ({why})" for a value that is not a whole number from 0.
std::optional<std::size_t> container_slot_of(lua_State* L, int t, std::string_view fn);

// Pushes a sequence of the stack tables of `stacks`, in order.
void push_stack_list(lua_State* L, const std::vector<inventory::Stack>& stacks);

}  // namespace ostrel_core::script::lua_vm
