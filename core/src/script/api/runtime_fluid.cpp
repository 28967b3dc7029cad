// game.get_fluid, game.set_fluid, game.fluid_id and game.get_light.

#include <fmt/format.h>

#include <cstdint>
#include <lua.hpp>
#include <optional>
#include <string>

#include "fluid/access.hpp"
#include "light/source.hpp"
#include "script/api/fields.hpp"
#include "script/api/readers.hpp"
#include "script/api/registration.hpp"
#include "script/api/runtime.hpp"
#include "script/api/runtime_call.hpp"
#include "world/domain.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

constexpr std::string_view kFluidPoisoned = "the fluid store is poisoned; the simulation thread panicked";

int get_fluid(lua_State* L) {
  const Slots& slots = slots_of(L);
  convert::arg_table(L, 1, "get_fluid");
  const readers::BlockAt at = readers::block_position(L, 1, "get_fluid");
  const fluid::Fluid state = through(L, *slots.fluids, kFluidPoisoned, [&](fluid::Access* f) {
    return f == nullptr ? fluid::Fluid{} : f->fluid_at(at.domain, at.pos);
  });
  const bool wet = state.is_wet();
  lua_createtable(L, 0, wet ? 3 : 2);
  lua_pushinteger(L, state.bits & fluid::Fluid::kLevelMask);
  lua_setfield(L, -2, "volume");
  lua_pushboolean(L, wet ? 0 : 1);
  lua_setfield(L, -2, "empty");
  if (wet) {
    lua_pushinteger(L, state.bits >> fluid::Fluid::kIdShift);
    lua_setfield(L, -2, "fluid");
  }
  return 1;
}

// What set_fluid found once its slot was released.
enum class Wrote : std::uint8_t { Changed, Unchanged, MissingFluid, UnknownFluid };

int set_fluid(lua_State* L) {
  const Slots& slots = slots_of(L);
  convert::arg_table(L, 1, "set_fluid");
  convert::arg_table(L, 2, "set_fluid");
  const readers::BlockAt at = readers::block_position(L, 1, "set_fluid");
  // Read before the slot is locked; refused only once the slot is known to be filled.
  fields::raw_field(L, 2, "volume");
  const std::uint32_t volume = fields::read_integer<std::uint32_t>(L, -1).value_or(fluid::kFullLevel);
  lua_pop(L, 1);
  std::optional<std::string> name;
  if (volume != 0) {
    if (fields::raw_field(L, 2, "fluid") == LUA_TSTRING) name = convert::to_text(L, -1).value_or("");
    lua_pop(L, 1);
  }
  // A domain that is not live gets no fluid state: the registry is asked first, on its own.
  // A poisoned registry answers as an empty one would: it stops nothing.
  bool registry_poisoned = false;
  const bool live =
      slots.domains->with([&](domain::Access* d) { return d == nullptr || d->exists(at.domain); },
                          &registry_poisoned) ||
      registry_poisoned;
  const Wrote wrote = through(L, *slots.fluids, kFluidPoisoned, [&](fluid::Access* f) {
    if (f == nullptr) return Wrote::Unchanged;
    fluid::Fluid state{};
    if (volume != 0) {
      if (!name) return Wrote::MissingFluid;
      const auto id = f->fluid_id(*name);
      if (!id || *id == 0 || *id > fluid::kMaxFluids) return Wrote::UnknownFluid;
      state = fluid::Fluid::of(*id,
                               static_cast<std::uint8_t>(std::min<std::uint32_t>(volume, fluid::kFullLevel)));
    }
    if (!live) return Wrote::Unchanged;
    return f->set_fluid_at(at.domain, at.pos, state) ? Wrote::Changed : Wrote::Unchanged;
  });
  switch (wrote) {
    case Wrote::MissingFluid:
      convert::raise(L,
                     "set_fluid: missing required field `fluid`. Name the registered fluid to place, or pass "
                     "`volume = 0` to clear.");
    case Wrote::UnknownFluid:
      convert::raise(L, fmt::format("set_fluid: no fluid registered as `{}`", convert::valid_utf8(*name)));
    case Wrote::Changed:
    case Wrote::Unchanged:
      break;
  }
  lua_pushboolean(L, wrote == Wrote::Changed ? 1 : 0);
  return 1;
}

int fluid_id(lua_State* L) {
  const std::string given = convert::arg_text(L, 1, "fluid_id");
  const std::string name =
      given.find(':') == std::string::npos ? fmt::format("{}:{}", upvalue_text(L, 2), given) : given;
  if (lua_getfield(L, LUA_REGISTRYINDEX, "ostrel.fluid_ids") != LUA_TTABLE) {
    lua_pushnil(L);
    return 1;
  }
  push_text(L, name);
  lua_rawget(L, -2);
  if (!lua_isinteger(L, -1)) {
    lua_pushnil(L);
  }
  return 1;
}

}  // namespace

int get_light(lua_State* L) {
  const Slots& slots = slots_of(L);
  convert::arg_table(L, 1, "get_light");
  const readers::BlockAt at = readers::block_position(L, 1, "get_light");
  const std::uint16_t value =
      through(L, *slots.light, "the light store is poisoned; the simulation thread panicked",
              [&](light::LightSource* s) {
                return s == nullptr ? std::uint16_t{0} : s->light_at(at.domain, at.pos);
              });
  lua_createtable(L, 0, 4);
  const std::pair<const char*, int> channels[] = {{"sun", 12}, {"r", 8}, {"g", 4}, {"b", 0}};
  for (const auto& [key, shift] : channels) {
    lua_pushinteger(L, (value >> shift) & 0xF);
    lua_setfield(L, -2, key);
  }
  return 1;
}

void install_fluid_functions(lua_State* L, std::string_view mod_id, int game_idx, const Slots& slots) {
  game_idx = lua_absindex(L, game_idx);
  push_slots(L, slots);
  lua_pushvalue(L, -1);
  lua_pushcclosure(L, get_fluid, 1);
  lua_setfield(L, game_idx, "get_fluid");
  lua_pushvalue(L, -1);
  push_text(L, mod_id);
  lua_pushcclosure(L, fluid_id, 2);
  lua_setfield(L, game_idx, "fluid_id");
  lua_pushcclosure(L, set_fluid, 1);
  lua_setfield(L, game_idx, "set_fluid");
}

}  // namespace ostrel_core::script::lua_vm
