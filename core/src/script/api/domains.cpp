// game.transfer_entity, create_domain, destroy_domain and set_domain_sky: moving bodies between
// domains, and making and unmaking instances, through the entity and domain access.
//
// Arguments are read and checked first; the service is then called under its slot's lock. An
// empty or poisoned slot answers nil or false without an error.

#include <cmath>
#include <lua.hpp>
#include <optional>
#include <string>

#include "movement/ent/access.hpp"
#include "script/api/entity_args.hpp"
#include "script/api/fields.hpp"
#include "script/api/media.hpp"
#include "script/api/readers.hpp"
#include "script/api/registration.hpp"
#include "script/api/runtime.hpp"
#include "script/api/runtime_call.hpp"
#include "world/domain.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

// The sky table at `idx`, or its refusal raised.
domain::DomainSky sky_arg(lua_State* L, int idx, std::string_view fn) {
  auto sky = media::domain_sky_of(L, lua_absindex(L, idx), fn);
  if (!sky) convert::raise(L, sky.error());
  return std::move(*sky);
}

int transfer_entity(lua_State* L) {
  constexpr std::string_view fn = "transfer_entity";
  const std::string domain = convert::arg_text(L, 2, fn);
  convert::arg_table(L, 3, fn);
  const auto id = entity_arg(L, 1);
  const auto pos = readers::point(L, 3, fn);
  for (const double v : pos) {
    if (!std::isfinite(v))
      convert::raise(L, "game.transfer_entity was given a position that is not a number");
  }
  if (domain.empty()) convert::raise(L, "game.transfer_entity was given no domain to move into");
  // A place no chunk can hold is refused here, before the tick would move anything there.
  bool accepted = false;
  if (readers::in_world(pos)) {
    accepted = slots_of(L).entities->with(
        [&](ent::access::Access* a) { return a != nullptr && a->transfer(id, domain, pos); });
  }
  lua_pushboolean(L, accepted ? 1 : 0);
  return 1;
}

int create_domain(lua_State* L) {
  constexpr std::string_view fn = "create_domain";
  const std::string template_id = convert::arg_text(L, 1, fn);
  const std::string key = convert::arg_text(L, 2, fn);
  std::optional<domain::UniversalPos> position;
  std::optional<domain::DomainSky> sky;
  if (convert::arg_optional_table(L, 3, fn)) {
    position = universal_position(L, 3, fn);
    const int type = fields::raw_field(L, 3, "sky");
    if (type != LUA_TNIL) {
      if (type != LUA_TTABLE) convert::raise(L, "create_domain: `sky` must be a sky table");
      sky = sky_arg(L, -1, fn);
    }
    lua_pop(L, 1);
  }
  const auto made = slots_of(L).domains->with([&](domain::Access* d) -> std::optional<std::string> {
    if (d == nullptr) return std::nullopt;
    const bool existed = d->exists(template_id + "/" + key);
    auto id = d->create_at(template_id, key, position);
    // A sky is a new instance's: one that existed keeps its own.
    if (id && sky && !existed) d->set_sky(*id, std::move(sky));
    return id;
  });
  if (made) {
    push_text(L, *made);
  } else {
    lua_pushnil(L);
  }
  return 1;
}

int destroy_domain(lua_State* L) {
  const std::string id = convert::arg_text(L, 1, "destroy_domain");
  const bool queued =
      slots_of(L).domains->with([&](domain::Access* d) { return d != nullptr && d->destroy(id); });
  lua_pushboolean(L, queued ? 1 : 0);
  return 1;
}

int set_domain_sky(lua_State* L) {
  constexpr std::string_view fn = "set_domain_sky";
  const std::string id = convert::arg_text(L, 1, fn);
  std::optional<domain::DomainSky> sky;
  if (convert::arg_optional_table(L, 2, fn)) sky = sky_arg(L, 2, fn);
  const bool set = slots_of(L).domains->with(
      [&](domain::Access* d) { return d != nullptr && d->set_sky(id, std::move(sky)); });
  lua_pushboolean(L, set ? 1 : 0);
  return 1;
}

}  // namespace

void install_domains(lua_State* L, int game_idx, const Slots& slots) {
  const Closure closures[] = {{"transfer_entity", transfer_entity},
                              {"create_domain", create_domain},
                              {"destroy_domain", destroy_domain},
                              {"set_domain_sky", set_domain_sky}};
  set_closures(L, game_idx, slots, closures);
}

}  // namespace ostrel_core::script::lua_vm
