// game.set_block and game.get_block: one block of the running world, written through the edit
// queue and read through the world lease.

#include <fmt/format.h>

#include <cstdint>
#include <lua.hpp>
#include <optional>
#include <string>
#include <variant>

#include "movement/sight.hpp"
#include "script/api/fields.hpp"
#include "script/api/readers.hpp"
#include "script/api/runtime.hpp"
#include "script/api/runtime_call.hpp"
#include "script/vm.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

constexpr std::uint32_t kFull = 0x7FFFFFF;  // all 27 cells

int set_block(lua_State* L) {
  const Slots& slots = slots_of(L);
  convert::arg_table(L, 1, "set_block");
  const std::string block = convert::arg_text(L, 2, "set_block");
  std::optional<std::uint32_t> occupancy;
  if (!lua_isnoneornil(L, 3)) occupancy = convert::arg_integer<std::uint32_t>(L, 3, "set_block");
  const bool has_options = convert::arg_optional_table(L, 4, "set_block");
  const readers::BlockAt at = readers::block_position(L, 1, "set_block");
  const bool partial = occupancy && *occupancy != kFull;
  if (partial && (*occupancy == 0 || *occupancy > kFull)) {
    convert::raise(
        L, fmt::format("set_block: occupancy {:#x} is not a 27-bit mask with a cell in it", *occupancy));
  }
  bool merge = false;
  if (has_options) {
    fields::raw_field(L, 4, "merge");
    merge = lua_toboolean(L, -1) != 0;
    lua_pop(L, 1);
  }
  const bool queued =
      through(L, *slots.world_edit, "the edit queue is poisoned; the simulation thread panicked",
              [&](vm::WorldEdit* edit) {
                if (edit == nullptr) return false;
                if (!partial) return edit->set_block(at.domain, at.pos, block);
                return merge ? edit->merge_partial(at.domain, at.pos, block, *occupancy)
                             : edit->set_partial(at.domain, at.pos, block, *occupancy);
              });
  lua_pushboolean(L, queued ? 1 : 0);
  return 1;
}

}  // namespace

int get_block(lua_State* L) {
  const Slots& slots = slots_of(L);
  convert::arg_table(L, 1, "get_block");
  const readers::BlockAt at = readers::block_position(L, 1, "get_block");
  const sight::Reading reading = through(
      L, *slots.sight, "the world lease is poisoned; the simulation thread panicked", [&](sight::Access* s) {
        return s == nullptr ? sight::Reading(sight::NoWorld{}) : s->block_at(at.domain, at.pos);
      });
  if (const auto* block = std::get_if<sight::Block>(&reading)) {
    lua_createtable(L, 0, 2);
    lua_pushinteger(L, block->material);
    lua_setfield(L, -2, "material");
    lua_pushinteger(L, block->occupancy);
    lua_setfield(L, -2, "occupancy");
  } else if (const auto* mixed = std::get_if<sight::Mixed>(&reading)) {
    lua_createtable(L, 0, 2);
    lua_createtable(L, static_cast<int>(mixed->cells.size()), 0);
    // The cells that hold anything but air.
    std::uint32_t occupancy = 0;
    for (std::size_t i = 0; i < mixed->cells.size(); ++i) {
      lua_pushinteger(L, mixed->cells[i]);
      lua_rawseti(L, -2, static_cast<lua_Integer>(i + 1));
      if (mixed->cells[i] != material::kAir) occupancy |= std::uint32_t{1} << i;
    }
    lua_setfield(L, -2, "cells");
    lua_pushinteger(L, occupancy);
    lua_setfield(L, -2, "occupancy");
  } else {
    lua_pushnil(L);  // not loaded, or no world lent
  }
  return 1;
}

void install_block_writer(lua_State* L, int game_idx, const Slots& slots) {
  game_idx = lua_absindex(L, game_idx);
  push_slots(L, slots);
  lua_pushcclosure(L, set_block, 1);
  lua_setfield(L, game_idx, "set_block");
}

}  // namespace ostrel_core::script::lua_vm
