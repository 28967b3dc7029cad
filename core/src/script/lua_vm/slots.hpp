#pragma once
// The access slots of one engine, each shared with the `game` functions that reach a host
// service through it, and the helper that installs a registry table the host hands in
// (slots.cpp). The engine's own header: for the engine, the runtime `game` functions and tests.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "script/lua_vm/lua_vm.hpp"
#include "script/slot.hpp"

struct lua_State;

namespace ostrel_core::script::lua_vm {

struct Slots {
  SlotHandle<light::LightSource> light = std::make_shared<Slot<light::LightSource>>();
  SlotHandle<fluid::Access> fluids = std::make_shared<Slot<fluid::Access>>();
  SlotHandle<ent::access::Access> entities = std::make_shared<Slot<ent::access::Access>>();
  SlotHandle<domain::Access> domains = std::make_shared<Slot<domain::Access>>();
  SlotHandle<hud::state::Access> hud = std::make_shared<Slot<hud::state::Access>>();
  SlotHandle<atmosphere::Access> atmosphere = std::make_shared<Slot<atmosphere::Access>>();
  SlotHandle<inventory::Containers> containers = std::make_shared<Slot<inventory::Containers>>();
  SlotHandle<storage::Access> storage = std::make_shared<Slot<storage::Access>>();
  SlotHandle<plan::Access> plans = std::make_shared<Slot<plan::Access>>();
  SlotHandle<vm::WorldEdit> world_edit = std::make_shared<Slot<vm::WorldEdit>>();
  SlotHandle<sight::Access> sight = std::make_shared<Slot<sight::Access>>();
  SlotHandle<path::Access> paths = std::make_shared<Slot<path::Access>>();
  SlotHandle<dig::Tools> tools = std::make_shared<Slot<dig::Tools>>();
  SlotHandle<inventory::Access> inventories = std::make_shared<Slot<inventory::Access>>();
  SlotHandle<sound::Access> sound = std::make_shared<Slot<sound::Access>>();
  SlotHandle<particle::Access> particles = std::make_shared<Slot<particle::Access>>();
  SlotHandle<ui::host::Access> dialogs = std::make_shared<Slot<ui::host::Access>>();
  SlotHandle<const std::uint64_t> seed = std::make_shared<Slot<const std::uint64_t>>();
  SlotHandle<const StarCatalogue> stars = std::make_shared<Slot<const StarCatalogue>>();
};

// Replaces the registry table `name` with a fresh table of `count` entries, where
// `push_entry(L, i)` pushes entry i's key and then its value. Each entry is set in its own
// protected call, so a failure skips only that entry; it is logged as "could not record {one}"
// with the field `field` = `label(i)`. `all` names the whole table in the other failure lines.
void install_registry_table(lua_State* L, const char* name, std::string_view all,
                            std::string_view one, std::string_view field, std::size_t count,
                            const std::function<void(lua_State*, std::size_t)>& push_entry,
                            const std::function<std::string_view(std::size_t)>& label);

}  // namespace ostrel_core::script::lua_vm
