// `game.register_domain`, `game.register_on_generate` and `game.register_on_tick`: what runs
// when terrain is generated and on every tick.

#include <cmath>

#include <fmt/format.h>
#include <lua.hpp>

#include "world/domain.hpp"
#include "base/num.hpp"
#include "script/api/fields.hpp"
#include "script/api/registration.hpp"
#include "script/api/hooks.hpp"
#include "script/lua_vm/state.hpp"

namespace ostrel_core::script::lua_vm {

std::optional<domain::UniversalPos> universal_position(lua_State* L, int table,
                                                       std::string_view ctx) {
  const int t = fields::raw_field(L, table, "position");
  if (t == LUA_TNIL) {
    lua_pop(L, 1);
    return std::nullopt;
  }
  if (t != LUA_TTABLE) fields::field_error(L, ctx, "position", convert::mismatch(L, -1, "table"));
  const int pos = lua_gettop(L);
  constexpr double kLimit = 4e18;  // written "4e18" in refusals
  std::int64_t out[3] = {};
  const char* axes[] = {"x", "y", "z"};
  for (int i = 0; i < 3; ++i) {
    fields::raw_field(L, pos, axes[i]);
    if (lua_isinteger(L, -1)) {
      const lua_Integer v = lua_tointeger(L, -1);
      if (v > 4'000'000'000'000'000'000 || v < -4'000'000'000'000'000'000) {
        convert::raise(L, fmt::format("{}: `position.{}` must be a finite number within {} blocks, "
                                      "got {}",
                                      ctx, axes[i], "4e18", v));
      }
      out[i] = v;
    } else {
      auto v = lua_type(L, -1) == LUA_TNIL ? std::expected<double, convert::ConvertError>()
                                           : convert::to_number(L, -1);
      if (lua_type(L, -1) == LUA_TNIL || !v) {
        convert::raise(L, fmt::format("{}: `position` needs `{}`, a number of blocks in the "
                                      "universe",
                                      ctx, axes[i]));
      }
      if (!std::isfinite(*v) || std::fabs(*v) > kLimit) {
        convert::raise(L, fmt::format("{}: `position.{}` must be a finite number within {} blocks, "
                                      "got {}",
                                      ctx, axes[i], "4e18", num::format_number(*v)));
      }
      out[i] = num::saturate<std::int64_t>(*v);
    }
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
  return domain::UniversalPos{out[0], out[1], out[2]};
}

namespace {

constexpr std::string_view kDomainKeys[] = {"id",        "kind",     "scale",
                                            "instanced", "position", "generator"};
constexpr std::string_view kKinds[] = {"voxel", "sparse"};

// A kind or scale of another type reads as the default.
constexpr fields::Field kDomainFields[] = {
    fields::text("kind").otherwise("voxel").mismatch_ignored().one_of(kKinds).refusal(
        "{ctx}: `kind` is \"voxel\" or \"sparse\", not \"{got}\""),
    fields::number("scale").above(0.0).otherwise(1.0).mismatch_ignored().refusal(
        "{ctx}: `scale` must be a positive number"),
    fields::boolean("instanced"),
};

// Upvalue 1: the mod id.
int register_domain(lua_State* L) {
  const auto mod_id = upvalue_text(L, 1);
  arg_table(L, "register_domain");
  lua_settop(L, 1);
  refuse_if_frozen(L, mod_id);
  const auto id = registration_id(L, 1);
  if (!id) convert::raise(L, "register_domain: missing required field `id`");
  if (auto k = fields::unknown_key(L, 1, kDomainKeys)) {
    convert::raise(L, fmt::format("register_domain(\"{}\"): unknown field `{}`", *id, *k));
  }
  const std::string qualified = qualify(L, mod_id, *id);
  const std::string ctx = fmt::format("register_domain(\"{}\")", qualified);
  // The world's own id rules, as the domain registry applies them at start-up.
  if (auto checked = domain::Registry().register_domain(qualified, domain::Spec{});
      !checked && checked.error().kind == domain::DomainErrorKind::BadId) {
    convert::raise(L, fmt::format("{}: {}", ctx, checked.error().message()));
  }

  const auto got = fields::read(L, 1, ctx, kDomainFields);
  const std::string& kind = got.text("kind");
  const double scale = got.number("scale");
  const bool instanced = got.boolean("instanced");
  const auto position = universal_position(L, 1, ctx);

  const int g = fields::raw_field(L, 1, "generator");  // 2
  if (g != LUA_TNIL && g != LUA_TFUNCTION) {
    convert::raise(L, fmt::format("{}: `generator` is a function, not a {}", ctx,
                                  convert::type_name(L, 2)));
  }
  if (g == LUA_TFUNCTION && kind == "sparse") {
    convert::raise(L, fmt::format("{}: a sparse domain holds no voxels, so a generator would never "
                                  "run",
                                  ctx));
  }
  push_registry_table(L, "ostrel.domains");  // 3
  lua_pushlstring(L, qualified.data(), qualified.size());
  if (lua_rawget(L, 3) != LUA_TNIL) {
    convert::raise(L, fmt::format("{}: already registered; a second registration would silently "
                                  "replace the first",
                                  ctx));
  }
  lua_pop(L, 1);
  push_registry_table(L, "ostrel.domain_generators");  // 4

  if (g == LUA_TFUNCTION) {
    lua_pushvalue(L, 2);
    lua_setfield(L, LUA_REGISTRYINDEX, fmt::format("ostrel.domain_generate.{}", qualified).c_str());
    lua_pushlstring(L, qualified.data(), qualified.size());
    lua_pushlstring(L, mod_id.data(), mod_id.size());
    lua_rawset(L, 4);
  }
  lua_createtable(L, 0, 6);
  lua_pushlstring(L, kind.data(), kind.size());
  lua_setfield(L, -2, "kind");
  lua_pushnumber(L, scale);
  lua_setfield(L, -2, "scale");
  lua_pushboolean(L, instanced ? 1 : 0);
  lua_setfield(L, -2, "instanced");
  if (position) {
    // Integers, so that coordinates above 2^53 stay exact.
    lua_pushinteger(L, position->x);
    lua_setfield(L, -2, "position_x");
    lua_pushinteger(L, position->y);
    lua_setfield(L, -2, "position_y");
    lua_pushinteger(L, position->z);
    lua_setfield(L, -2, "position_z");
  }
  lua_pushlstring(L, qualified.data(), qualified.size());
  lua_insert(L, -2);
  lua_rawset(L, 3);
  return 0;
}

}  // namespace

void set_domain_functions(lua_State* L, std::string_view mod_id, int game) {
  set_function(L, game, "register_domain", register_domain, mod_id);
  push_once_registrar(L, mod_id, "on_generate", "ostrel.generators");
  lua_setfield(L, game, "register_on_generate");
  push_once_registrar(L, mod_id, "on_tick", "ostrel.tickers");
  lua_setfield(L, game, "register_on_tick");
}

}  // namespace ostrel_core::script::lua_vm
