// The access slots, the world seed and the fluid id table of an engine.

#include "script/lua_vm/slots.hpp"

#include <fmt/format.h>
#include <lua.hpp>

#include "base/log.hpp"
#include "script/lua_vm/convert.hpp"
#include "script/lua_vm/ref.hpp"
#include "script/lua_vm/state.hpp"

namespace ostrel_core::script::lua_vm {

const Slots& LuaVm::slots() const { return impl_->slots; }

void LuaVm::set_light_source(std::shared_ptr<light::LightSource> s) { impl_->slots.light->install(std::move(s)); }
void LuaVm::set_fluid_access(std::shared_ptr<fluid::Access> s) { impl_->slots.fluids->install(std::move(s)); }
void LuaVm::set_entity_access(std::shared_ptr<ent::access::Access> s) { impl_->slots.entities->install(std::move(s)); }
void LuaVm::set_domain_access(std::shared_ptr<domain::Access> s) { impl_->slots.domains->install(std::move(s)); }
void LuaVm::set_hud_access(std::shared_ptr<hud::state::Access> s) { impl_->slots.hud->install(std::move(s)); }
void LuaVm::set_atmosphere_access(std::shared_ptr<atmosphere::Access> s) { impl_->slots.atmosphere->install(std::move(s)); }
void LuaVm::set_container_access(std::shared_ptr<inventory::Containers> s) { impl_->slots.containers->install(std::move(s)); }
void LuaVm::set_storage_access(std::shared_ptr<storage::Access> s) { impl_->slots.storage->install(std::move(s)); }
void LuaVm::set_plan_access(std::shared_ptr<plan::Access> s) { impl_->slots.plans->install(std::move(s)); }
void LuaVm::set_world_edit(std::shared_ptr<vm::WorldEdit> s) { impl_->slots.world_edit->install(std::move(s)); }
void LuaVm::set_sight_access(std::shared_ptr<sight::Access> s) { impl_->slots.sight->install(std::move(s)); }
void LuaVm::set_path_access(std::shared_ptr<path::Access> s) { impl_->slots.paths->install(std::move(s)); }
void LuaVm::set_tools_access(std::shared_ptr<dig::Tools> s) { impl_->slots.tools->install(std::move(s)); }
void LuaVm::set_inventory_access(std::shared_ptr<inventory::Access> s) { impl_->slots.inventories->install(std::move(s)); }
void LuaVm::set_sound_access(std::shared_ptr<sound::Access> s) { impl_->slots.sound->install(std::move(s)); }
void LuaVm::set_particle_access(std::shared_ptr<particle::Access> s) { impl_->slots.particles->install(std::move(s)); }
void LuaVm::set_dialog_access(std::shared_ptr<ui::host::Access> s) { impl_->slots.dialogs->install(std::move(s)); }

void LuaVm::set_world_seed(std::uint64_t seed) {
  std::lock_guard lock(impl_->mu);
  impl_->slots.seed->install(std::make_shared<const std::uint64_t>(seed));
  // Two's complement: a seed of 2^63 or more reads as a negative integer.
  const auto as_lua = static_cast<lua_Integer>(seed);
  for (const auto& [mod_id, ref] : impl_->environments) {
    std::string why;
    auto r = protect(impl_->L, [&](lua_State* s) {
      lua_rawgeti(s, LUA_REGISTRYINDEX, ref);
      lua_pushliteral(s, "game");
      if (lua_rawget(s, -2) != LUA_TTABLE) {
        why = fmt::format("the mod's `game` is a {} value, not a table", convert::type_name(s, -1));
      } else {
        // Raw: a metamethod the mod set on `game` must not run outside an entry.
        lua_pushliteral(s, "world_seed");
        lua_pushinteger(s, as_lua);
        lua_rawset(s, -3);
      }
      lua_pop(s, 2);
    });
    if (!r) why = r.error();
    if (!why.empty()) {
      OSTREL_ERROR(kTarget, fmt::format("could not install the world seed: {}", why),
                   log::text("mod_id", mod_id));
    }
  }
}

void install_registry_table(lua_State* L, const char* name, std::string_view all,
                            std::string_view one, std::string_view field, std::size_t count,
                            const std::function<void(lua_State*, std::size_t)>& push_entry,
                            const std::function<std::string_view(std::size_t)>& label) {
  int ref = LUA_NOREF;
  if (auto r = protect(L, [&](lua_State* s) {
        lua_newtable(s);
        ref = luaL_ref(s, LUA_REGISTRYINDEX);
      });
      !r) {
    OSTREL_ERROR(kTarget, fmt::format("could not record {}: {}", all, r.error()));
    return;
  }
  LuaRef table(L, ref);
  for (std::size_t i = 0; i < count; ++i) {
    auto r = protect(L, [&](lua_State* s) {
      table.push(s);
      push_entry(s, i);
      lua_rawset(s, -3);
    });
    if (!r) {
      OSTREL_ERROR(kTarget, fmt::format("could not record {}: {}", one, r.error()),
                   log::text(field, label(i)));
    }
  }
  if (auto r = protect(L, [&](lua_State* s) {
        table.push(s);
        lua_setfield(s, LUA_REGISTRYINDEX, name);
      });
      !r) {
    OSTREL_ERROR(kTarget, fmt::format("could not install {}: {}", all, r.error()));
  }
}

void LuaVm::set_fluid_ids(std::span<const std::pair<std::string, std::uint8_t>> ids) {
  std::lock_guard lock(impl_->mu);
  impl_->buffer_rules.reset();
  install_registry_table(
      impl_->L, "ostrel.fluid_ids", "the fluid ids", "a fluid id", "name", ids.size(),
      [&](lua_State* s, std::size_t i) {
        lua_pushlstring(s, ids[i].first.data(), ids[i].first.size());
        lua_pushinteger(s, ids[i].second);
      },
      [&](std::size_t i) -> std::string_view { return ids[i].first; });
}

}  // namespace ostrel_core::script::lua_vm
