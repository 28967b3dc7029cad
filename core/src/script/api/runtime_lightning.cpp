// game.lightning: a bolt from `from` to `to`, drawn by every client in reach from one seed.
// Each mod's function keeps its own count of unseeded calls, so two unseeded bolts between the
// same points differ while every client of one message draws the same bolt.

#include <fmt/format.h>

#include <atomic>
#include <cstdint>
#include <lua.hpp>
#include <new>
#include <optional>
#include <string>

#include "base/num.hpp"
#include "presentation/atmosphere.hpp"
#include "presentation/lightning.hpp"
#include "script/api/atmosphere_readers.hpp"
#include "script/api/fields.hpp"
#include "script/api/readers.hpp"
#include "script/api/runtime.hpp"
#include "script/api/runtime_call.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

using Calls = std::atomic<std::uint64_t>;
static_assert(std::is_trivially_destructible_v<Calls>);

// `end` of the request table as a table left on the stack; its index.
int end_table(lua_State* L, std::string_view end) {
  const int type = fields::raw_field(L, 1, end);
  if (type == LUA_TNIL) convert::raise(L, fmt::format("lightning needs a `{}` table", end));
  if (type != LUA_TTABLE) fields::field_error(L, "lightning", end, convert::mismatch(L, -1, "table"));
  return lua_gettop(L);
}

std::array<double, 3> point_of(lua_State* L, int t, std::string_view end) {
  std::array<double, 3> out{};
  const char* axes[3] = {"x", "y", "z"};
  for (std::size_t i = 0; i < 3; ++i) {
    fields::raw_field(L, t, axes[i]);
    out[i] = fields::number_value(L, -1, "lightning", fmt::format("{}.{}", end, axes[i]));
    lua_pop(L, 1);
  }
  return out;
}

// An optional integer field, clamped to lo..=hi; the conversion error for a value that is not
// an integer.
std::int64_t clamped_integer(lua_State* L, std::string_view name, std::int64_t otherwise, std::int64_t lo,
                             std::int64_t hi) {
  if (fields::raw_field(L, 1, name) == LUA_TNIL) {
    lua_pop(L, 1);
    return otherwise;
  }
  const auto v = fields::integer_value<std::int64_t>(L, -1, "lightning", name);
  lua_pop(L, 1);
  return std::clamp(v, lo, hi);
}

int lightning(lua_State* L) {
  constexpr std::string_view fn = "lightning";
  convert::arg_table(L, 1, fn);
  const int from = end_table(L, "from");
  const int to = end_table(L, "to");
  lightning::LightningRequest r;
  r.domain = convert::domain_of(L, from);
  if (auto other = fields::opt_text(L, to, "domain", fn); other && !other->empty() && *other != r.domain) {
    convert::raise(L, fmt::format("lightning: `from` is in `{}` and `to` in `{}`; a bolt is in one domain",
                                  convert::valid_utf8(r.domain), convert::valid_utf8(*other)));
  }
  lightning::Lightning& bolt = r.lightning;
  if (fields::opt_table(L, 1, "colour", fn)) {
    bolt.colour = channels_of(L, -1, fn, "colour", {0.85f, 0.8f, 1.0f});
    lua_pop(L, 1);
  }
  std::optional<std::uint64_t> seed;
  if (fields::raw_field(L, 1, "seed") != LUA_TNIL) {
    auto bits = convert::bits_from_lua(L, -1, "a seed");
    if (!bits) convert::raise(L, bits.error());
    seed = *bits;
  }
  lua_pop(L, 1);
  bolt.from = point_of(L, from, "from");
  bolt.to = point_of(L, to, "to");
  lua_settop(L, 1);
  bolt.width = fields::opt_f32(L, 1, "width", fn).value_or(0.4f);
  bolt.branches = static_cast<std::uint8_t>(clamped_integer(L, "branches", 3, 0, 8));
  bolt.ticks = static_cast<std::uint16_t>(clamped_integer(L, "ticks", 8, 0, 200));
  r.radius = fields::opt_f32(L, 1, "radius", fn).value_or(256.0f);
  auto player = readers::player_field(L, 1, fn);
  if (!player) convert::raise(L, player.error());
  r.player = *player;
  if (seed) {
    bolt.seed = *seed;
  } else {
    auto* calls = static_cast<Calls*>(lua_touserdata(L, lua_upvalueindex(2)));
    bolt.seed = lightning::engine_seed(calls->fetch_add(1), bolt.from, bolt.to);
  }
  r = lightning::sanitise_lightning(std::move(r));
  const std::uint32_t told = slots_of(L).atmosphere->with(
      [&](atmosphere::Access* a) -> std::uint32_t { return a == nullptr ? 0 : a->lightning(r); });
  lua_pushinteger(L, told);
  return 1;
}

}  // namespace

void install_lightning(lua_State* L, int game_idx, const Slots& slots) {
  game_idx = lua_absindex(L, game_idx);
  push_slots(L, slots);
  new (lua_newuserdatauv(L, sizeof(Calls), 0)) Calls(0);
  lua_pushcclosure(L, lightning, 2);
  lua_setfield(L, game_idx, "lightning");
}

}  // namespace ostrel_core::script::lua_vm
