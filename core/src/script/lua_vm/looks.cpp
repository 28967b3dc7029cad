// A chunk's tint and fog: every mod that registered a callback is asked in registration order,
// and the last answer that is not nil wins. Also the two registration functions.

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <lua.hpp>
#include <optional>
#include <string>

#include "base/log.hpp"
#include "base/num.hpp"
#include "script/api/hooks.hpp"
#include "script/api/registration.hpp"
#include "script/lua_vm/generation.hpp"
#include "script/lua_vm/state.hpp"

namespace ostrel_core::script::lua_vm {

using vm::ScriptError;

namespace {

// Calls argument 1 with argument 2 and answers { n = count, results... }, so that the entry,
// which keeps one result, keeps all of them.
int call_packed(lua_State* L) {
  lua_settop(L, 2);
  lua_call(L, 1, LUA_MULTRET);
  const int n = lua_gettop(L);
  lua_createtable(L, n, 1);
  lua_insert(L, 1);
  for (int i = n; i >= 1; --i) lua_rawseti(L, 1, i);
  lua_pushinteger(L, n);
  lua_setfield(L, 1, "n");
  return 1;
}

// One channel of a tint: v x 128 + 0.5 in single precision, NaN neutral, clamped, truncated.
std::uint8_t tint_byte(float v) {
  const float q = v * 128.0f + 0.5f;
  if (std::isnan(q)) return 128;
  return num::saturate<std::uint8_t>(std::clamp(q, 0.0f, 255.0f));
}

// The tint in the packed answer at the top of the stack; nothing when it has no opinion.
std::expected<std::optional<Tint>, std::string> read_tint(lua_State* L) {
  lua_rawgeti(L, -1, 1);
  const bool none = lua_isnil(L, -1);
  lua_pop(L, 1);
  if (none) return std::nullopt;
  Tint out{};
  for (int i = 0; i < 3; ++i) {
    lua_rawgeti(L, -1, i + 1);
    const auto v = convert::to_number(L, -1);
    lua_pop(L, 1);
    if (!v) return std::unexpected(fmt::format("a tint is three numbers, r, g, b: {}", v.error().text));
    out[static_cast<std::size_t>(i)] = tint_byte(static_cast<float>(*v));
  }
  return out;
}

// One optional number of a fog table at `t`; the error names the field.
std::expected<std::optional<float>, std::string> fog_field(lua_State* L, int t, const char* name) {
  lua_pushstring(L, name);
  if (lua_rawget(L, t) == LUA_TNIL) {
    lua_pop(L, 1);
    return std::nullopt;
  }
  const auto v = convert::to_number(L, -1);
  lua_pop(L, 1);
  if (!v) return std::unexpected(fmt::format("a fog's `{}` is a number", name));
  return static_cast<float>(*v);
}

std::optional<std::int32_t> fog_height(std::optional<float> v) {
  if (!v || std::isnan(*v)) return std::nullopt;
  return num::saturate_floor<std::int32_t>(*v);
}

// The fog in the packed answer at the top of the stack; nothing when it has no opinion.
std::expected<std::optional<proto::ChunkFog>, std::string> read_fog(lua_State* L) {
  lua_rawgeti(L, -1, 1);
  const int t = lua_gettop(L);
  struct Pop {
    lua_State* L;
    ~Pop() { lua_pop(L, 1); }
  } pop{L};
  if (lua_isnil(L, t)) return std::nullopt;
  if (!lua_istable(L, t)) return std::unexpected("a fog is a table with a `visibility`, or nil for none");
  float got[6] = {};
  std::optional<float> given[6];
  const char* names[] = {"visibility", "r", "g", "b", "top", "bottom"};
  for (int i = 0; i < 6; ++i) {
    auto v = fog_field(L, t, names[i]);
    if (!v) return std::unexpected(v.error());
    given[i] = *v;
    if (i == 0 && (!*v || std::isnan(**v))) {
      return std::unexpected("a fog needs a `visibility`: how many blocks a player sees into it");
    }
    got[i] = v->value_or(1.0f);
  }
  proto::ChunkFog fog;
  fog.colour = LuaVm::colour_bytes(got[1], got[2], got[3]);
  fog.visibility = num::saturate<std::uint16_t>(std::clamp(got[0], 1.0f, 65535.0f));
  fog.top = fog_height(given[4]);
  fog.bottom = fog_height(given[5]);
  return fog;
}

// Asks every mod of `list` for its answer, read by `read`; the last answer wins.
template <class T, class Read>
std::expected<std::optional<T>, ScriptError> ask_mods(LuaVm& vm, lua_State* L, std::string_view look,
                                                      std::string_view list, std::string_view domain,
                                                      std::uint64_t seed, coords::ChunkPos pos, Read read) {
  std::optional<T> answer;
  for (const std::string& mod_id : vm.registry_strings(list)) {
    if (vm.is_faulted(mod_id)) continue;
    const std::string key = fmt::format("ostrel.{}.{}", look, mod_id);
    std::optional<ScriptError> failed;
    std::optional<std::string> bad;
    auto asked = protect(L, [&](lua_State* s) {
      lua_pushcfunction(s, call_packed);
      if (lua_getfield(s, LUA_REGISTRYINDEX, key.c_str()) != LUA_TFUNCTION) {
        lua_pop(s, 2);  // a callback that is missing is skipped silently
        return;
      }
      push_position(s, domain, seed, pos);
      seed_random(s, seed, pos, mod_id);
      auto called = vm.call_entry(mod_id, look, 2);
      if (!called) {
        failed = std::move(called.error());
        return;
      }
      auto got = read(s);
      lua_pop(s, 1);
      if (!got) {
        bad = std::move(got.error());
      } else if (*got) {
        answer = std::move(**got);
      }
    });
    if (!asked) return std::unexpected(engine_error(asked.error()));
    if (failed) {
      vm.fault(mod_id);
      OSTREL_ERROR(kTarget, fmt::format("disabling mod after a {} failure; the place keeps its looks", look),
                   log::text("mod_id", mod_id), log::text("error", failed->with_detail()));
    } else if (bad) {
      vm.fault(mod_id);
      OSTREL_ERROR(
          kTarget,
          fmt::format("disabling mod after a {} answer that is not one; the place keeps its looks", look),
          log::text("mod_id", mod_id), log::text("error", *bad));
    }
  }
  return answer;
}

}  // namespace

std::expected<Tint, ScriptError> LuaVm::chunk_tint(std::string_view domain, std::uint64_t seed,
                                                   coords::ChunkPos pos) {
  std::lock_guard lock(impl_->mu);
  ChunkCall call(impl_->L);
  auto got =
      ask_mods<Tint>(*this, impl_->L, "chunk_tint", "ostrel.chunk_tinters", domain, seed, pos, read_tint);
  if (!got) return std::unexpected(got.error());
  return got->value_or(kNeutralTint);
}

std::expected<std::optional<proto::ChunkFog>, ScriptError> LuaVm::chunk_fog(std::string_view domain,
                                                                            std::uint64_t seed,
                                                                            coords::ChunkPos pos) {
  std::lock_guard lock(impl_->mu);
  ChunkCall call(impl_->L);
  return ask_mods<proto::ChunkFog>(*this, impl_->L, "chunk_fog", "ostrel.chunk_foggers", domain, seed, pos,
                                   read_fog);
}

std::expected<void, ScriptError> LuaVm::install_tint_registration(std::string_view mod_id, int game_idx) {
  std::lock_guard lock(impl_->mu);
  lua_State* L = impl_->L;
  return fill_game(L, game_idx, [&](lua_State* s) {
    push_once_registrar(s, mod_id, "chunk_tint", "ostrel.chunk_tinters", OnRepeat::refuse);
    lua_setfield(s, 1, "register_chunk_tint");
    push_once_registrar(s, mod_id, "chunk_fog", "ostrel.chunk_foggers", OnRepeat::refuse);
    lua_setfield(s, 1, "register_chunk_fog");
  });
}

proto::Rgb LuaVm::colour_bytes(float r, float g, float b) {
  const auto byte = [](float v) -> std::uint8_t {
    if (std::isnan(v)) return 255;
    return num::saturate<std::uint8_t>(std::clamp(v, 0.0f, 1.0f) * 255.0f);
  };
  return {byte(r), byte(g), byte(b)};
}

}  // namespace ostrel_core::script::lua_vm
