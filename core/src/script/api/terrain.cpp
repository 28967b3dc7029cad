// game.rng_stream and the stream handle, and the installation of the generation functions.

#include "script/api/terrain.hpp"

#include <lua.hpp>

#include "script/api/terrain_read.hpp"
#include "script/lua_vm/convert.hpp"
#include "script/lua_vm/lua_vm.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

int rng_stream(lua_State* L) {
  convert::arg_table(L, 1, "rng_stream");
  const std::string name = convert::arg_text(L, 2, "rng_stream");
  std::array<std::int32_t, 3> key;
  const char* axes[3] = {"x", "y", "z"};
  for (int a = 0; a < 3; ++a) key[a] = terrain_read::i32_field(L, 1, axes[a], "rng_stream");
  const auto seed = convert::seed_in(L, 1, "seed");
  if (!seed) convert::raise(L, seed.error());
  userdata::push<StreamHandle>(L, StreamHandle{detgen::rng::StreamRng(*seed, key, name)});
  return 1;
}

int stream_below(lua_State* L) {
  StreamHandle& h = userdata::self<StreamHandle>(L, "below");
  // Converted before anything is drawn: a refused bound leaves the stream where it was.
  const auto bound = convert::arg_integer<std::uint64_t>(L, 2, "below");
  const std::uint64_t v = h.stream.below(bound);
  if (v > static_cast<std::uint64_t>(INT64_MAX)) {
    lua_pushnumber(L, static_cast<lua_Number>(v));
  } else {
    lua_pushinteger(L, static_cast<lua_Integer>(v));
  }
  return 1;
}

int stream_next_bool(lua_State* L) {
  lua_pushboolean(L, userdata::self<StreamHandle>(L, "next_bool").stream.next_bool() ? 1 : 0);
  return 1;
}

constexpr userdata::Method kStreamMethods[] = {{"below", stream_below}, {"next_bool", stream_next_bool}};

}  // namespace

namespace userdata {
template <>
const TypeInfo& type_of<StreamHandle>() {
  static const TypeInfo info{"Ostrel.Stream", kStreamMethods, destroy_box<StreamHandle>,
                             box_alive<StreamHandle>};
  return info;
}
}  // namespace userdata

void push_rng_stream(lua_State* L) { lua_pushcfunction(L, rng_stream); }

void install_generation(lua_State* L, std::string_view mod_id, int game_idx, const Slots& slots) {
  game_idx = lua_absindex(L, game_idx);
  push_noise_heightmap(L);
  lua_setfield(L, game_idx, "noise_heightmap");
  install_density(L, game_idx);
  install_schematic(L, game_idx, slots);
  install_map(L, mod_id, game_idx);
  push_flat_heightmap(L);
  lua_setfield(L, game_idx, "flat_heightmap");
  push_rng_stream(L);
  lua_setfield(L, game_idx, "rng_stream");
}

}  // namespace ostrel_core::script::lua_vm
