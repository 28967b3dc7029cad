// Saved maps in and out of the engine's maps registry ("ostrel.maps"), keyed by the mod id,
// U+001F and the map's name.

#include <fmt/format.h>

#include <lua.hpp>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/log.hpp"
#include "script/api/registration.hpp"
#include "script/api/terrain.hpp"
#include "script/lua_vm/state.hpp"

namespace ostrel_core::script::lua_vm {

std::size_t LuaVm::load_maps(std::vector<SavedMap> maps) {
  std::lock_guard lock(impl_->mu);
  lua_State* L = impl_->L;
  std::size_t skipped = 0;
  for (SavedMap& saved : maps) {
    auto installed = protect(L, [&](lua_State* s) {
      push_registry_table(s, "ostrel.maps");
      // The samples and room for a snapshot count against the limit, as game.map's do.
      const std::size_t side = saved.map.side;
      auto charge = userdata::NativeCharge::take(s, 2 * side * side * sizeof(float));
      auto shared = std::make_shared<MapShared>(std::move(saved.map));
      shared->charge = std::move(charge);
      push_text(s, map_key(saved.mod_id, saved.name));
      push_map_handle(s, std::move(shared));
      lua_rawset(s, -3);
      lua_pop(s, 1);
    });
    if (!installed) {
      ++skipped;
      OSTREL_ERROR(kTarget, fmt::format("could not install a saved map: {}", installed.error()),
                   log::text("mod_id", saved.mod_id), log::text("name", saved.name));
    }
  }
  return skipped;
}

std::vector<SavedMap> LuaVm::take_maps() const {
  std::lock_guard lock(impl_->mu);
  std::vector<SavedMap> out;
  std::vector<std::pair<std::string, std::string>> poisoned;
  auto walked = protect(impl_->L, [&](lua_State* s) {
    if (lua_getfield(s, LUA_REGISTRYINDEX, "ostrel.maps") != LUA_TTABLE) return;
    lua_pushnil(s);
    while (lua_next(s, -2) != 0) {
      const MapHandle* h = userdata::test<MapHandle>(s, -1);
      if (lua_type(s, -2) == LUA_TSTRING && h != nullptr) {
        const std::string_view key = text_at(s, -2);
        const auto split = key.find('\x1f');
        if (split != std::string_view::npos) {
          std::string mod_id(key.substr(0, split));
          std::string name(key.substr(split + 1));
          if (auto map = h->locked()) {
            out.push_back({std::move(mod_id), std::move(name), **map});
          } else {
            poisoned.emplace_back(std::move(mod_id), std::move(name));
          }
        }
      }
      lua_pop(s, 1);
    }
  });
  if (!walked) {
    OSTREL_ERROR(kTarget, fmt::format("could not read the saved maps: {}", walked.error()));
    return {};
  }
  for (const auto& [mod_id, name] : poisoned) {
    OSTREL_WARN(kTarget, "a map poisoned by an earlier error is left out of the saved maps",
                log::text("mod_id", mod_id), log::text("name", name));
  }
  return out;
}

}  // namespace ostrel_core::script::lua_vm
