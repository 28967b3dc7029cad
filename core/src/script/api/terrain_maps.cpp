// game.map and the map handle: a mod's named maps in the engine's registry ("ostrel.maps"), each
// shared by every handle fetched for it, with ten whole-map methods; and the heightmap handle.

#include <fmt/format.h>

#include <cmath>
#include <limits>
#include <lua.hpp>

#include "base/num.hpp"
#include "detgen/fp.hpp"
#include "script/api/registration.hpp"
#include "script/api/terrain.hpp"
#include "script/api/terrain_read.hpp"
#include "script/lua_vm/convert.hpp"
#include "script/lua_vm/generation.hpp"

namespace ostrel_core::script::lua_vm {

using detgen::map::Map;

namespace {

constexpr const char* kPoisoned = "this map was poisoned by an earlier error";

// Native bytes a map keeps: its samples and room for one cached snapshot of them.
std::size_t map_bytes(std::uint32_t side) {
  return 2 * static_cast<std::size_t>(side) * side * sizeof(float);
}

// Runs `fn(map)` under the map's lock and returns what it returns; a poisoned map raises. The
// lock is released before anything is raised, so refusals never poison the map.
template <class F>
auto with_map(lua_State* L, const MapHandle& h, F&& fn) {
  std::optional<decltype(fn(std::declval<Map&>()))> out;
  {
    auto map = h.locked();
    if (map) out.emplace(fn(**map));
  }
  if (!out) convert::raise(L, kPoisoned);
  return std::move(*out);
}

// As with_map for an operation whose refusal is a MapError.
void map_operation(lua_State* L, const MapHandle& h,
                   const std::function<std::expected<void, detgen::map::MapError>(Map&)>& fn) {
  const auto r = with_map(L, h, fn);
  if (!r) convert::raise(L, r.error().message());
}

float number_arg(lua_State* L, int arg, std::string_view fn) {
  const auto v = convert::to_number(L, arg);
  if (!v) convert::arg_error(L, arg, fn, v.error().text);
  return static_cast<float>(*v);
}

Heightmap& push_heightmap(lua_State* L) { return userdata::push<Heightmap>(L); }

int map_side(lua_State* L) {
  const MapHandle& h = userdata::self<MapHandle>(L, "side");
  lua_pushinteger(L, with_map(L, h, [](Map& m) { return m.side; }));
  return 1;
}

int map_scale(lua_State* L) {
  const MapHandle& h = userdata::self<MapHandle>(L, "scale");
  lua_pushinteger(L, with_map(L, h, [](Map& m) { return m.scale; }));
  return 1;
}

int map_noise(lua_State* L) {
  const MapHandle& h = userdata::self<MapHandle>(L, "noise");
  refuse_map_change_while_generating(L);
  convert::arg_table(L, 2, "noise");
  const auto options = terrain_read::noise_options(L, 2);
  const float amplitude = terrain_read::f32_or(L, 2, "amplitude", 1.0f);
  const auto seed = convert::seed_in(L, 2, "seed");
  if (!seed) convert::raise(L, seed.error());
  with_map(L, h, [&](Map& m) {
    m.noise(*seed, options, amplitude);
    return true;
  });
  return 0;
}

int map_fill(lua_State* L) {
  const MapHandle& h = userdata::self<MapHandle>(L, "fill");
  refuse_map_change_while_generating(L);
  const DensityHandle* d = userdata::test<DensityHandle>(L, 2);
  if (d == nullptr) convert::raise(L, "map:fill wants a density, from game.density");
  float y = 0.0f;
  std::uint64_t seed = 0;
  if (convert::arg_optional_table(L, 3, "fill")) {
    lua_pushliteral(L, "y");
    if (lua_rawget(L, 3) != LUA_TNIL) {
      lua_pop(L, 1);
      y = terrain_read::f32_field(L, 3, "y", "fill");
    } else {
      lua_pop(L, 1);
    }
    const auto s = convert::seed_in(L, 3, "seed");
    if (!s) convert::raise(L, s.error());
    seed = *s;
  }
  const auto r = with_map(L, h, [&](Map& m) {
    // The revision rises first: a failed evaluation still leaves the cached snapshot stale.
    ++m.revision;
    const float step = static_cast<float>(m.scale);
    const detgen::noise::Grid3 grid{
        m.side, 1, m.side, static_cast<float>(m.origin_x), y, static_cast<float>(m.origin_z), step};
    detgen::density::Scratch scratch;
    return d->program->evaluate_with(seed, grid, m.samples, scratch);
  });
  if (!r) convert::raise(L, r.error().message());
  return 0;
}

// A pass of one number over every sample: offset or scale_by.
int map_pass(lua_State* L, const char* name, void (Map::*pass)(float)) {
  const MapHandle& h = userdata::self<MapHandle>(L, name);
  refuse_map_change_while_generating(L);
  const float by = number_arg(L, 2, name);
  with_map(L, h, [&](Map& m) {
    (m.*pass)(by);
    return true;
  });
  return 0;
}

int map_offset(lua_State* L) { return map_pass(L, "offset", &Map::offset); }
int map_scale_by(lua_State* L) { return map_pass(L, "scale_by", &Map::scale_by); }

int map_clamp(lua_State* L) {
  const MapHandle& h = userdata::self<MapHandle>(L, "clamp");
  refuse_map_change_while_generating(L);
  const float low = number_arg(L, 2, "clamp");
  const float high = number_arg(L, 3, "clamp");
  // A reversed or NaN bound is refused after the poison check and changes nothing.
  const bool done = with_map(L, h, [&](Map& m) {
    if (!(low <= high)) return false;
    m.clamp(low, high);
    return true;
  });
  if (!done) {
    convert::raise(L, fmt::format("min > max, or either was NaN. min = {}, max = {}", num::format_number(low),
                                  num::format_number(high)));
  }
  return 0;
}

int map_blur(lua_State* L) {
  const MapHandle& h = userdata::self<MapHandle>(L, "blur");
  refuse_map_change_while_generating(L);
  const auto radius = convert::arg_integer<std::uint32_t>(L, 2, "blur");
  map_operation(L, h, [&](Map& m) { return m.blur(radius); });
  return 0;
}

int map_combine(lua_State* L) {
  const MapHandle& h = userdata::self<MapHandle>(L, "combine");
  refuse_map_change_while_generating(L);
  // The way first, before `other` is looked at.
  const std::string how = convert::arg_text(L, 3, "combine");
  detgen::map::CombineWay way;
  if (how == "add") {
    way = detgen::map::CombineWay::Add;
  } else if (how == "mul") {
    way = detgen::map::CombineWay::Mul;
  } else if (how == "min") {
    way = detgen::map::CombineWay::Min;
  } else if (how == "max") {
    way = detgen::map::CombineWay::Max;
  } else {
    convert::raise(
        L, fmt::format("`{}` is not a way to combine two maps. The list is: add, mul, min, max.", how));
  }
  const MapHandle* other = userdata::test<MapHandle>(L, 2);
  if (other == nullptr) convert::arg_error(L, 2, "combine", convert::mismatch(L, 2, "Ostrel.Map").text);
  if (other->shared == h.shared)
    convert::raise(L, "a map cannot be combined with itself; use scale_by or offset");
  // Never two maps' locks at once: copy the other, release it, then change this one.
  const Map copy = with_map(L, *other, [](Map& m) { return m; });
  map_operation(L, h, [&](Map& m) { return m.combine(copy, way); });
  return 0;
}

int map_heightmap(lua_State* L) {
  const MapHandle& h = userdata::self<MapHandle>(L, "heightmap");
  convert::arg_table(L, 2, "heightmap");
  const std::int32_t x = terrain_read::i32_field(L, 2, "x", "heightmap");
  const std::int32_t z = terrain_read::i32_field(L, 2, "z", "heightmap");
  const auto heights = with_map(L, h, [&](Map& m) { return m.heightmap(x, z); });
  push_heightmap(L).heights = heights;
  return 1;
}

int heightmap_len(lua_State* L) {
  lua_pushinteger(L, static_cast<lua_Integer>(userdata::self<Heightmap>(L, "len").heights.size()));
  return 1;
}

// game.map, for the mod in upvalue 1.
int map(lua_State* L) {
  const std::string_view mod_id = upvalue_text(L, 1);
  convert::arg_table(L, 1, "map");
  lua_pushliteral(L, "name");
  const auto name = lua_rawget(L, 1) == LUA_TNIL ? std::nullopt : std::optional(convert::to_text(L, -1));
  lua_pop(L, 1);
  if (!name || !*name) convert::raise(L, "game.map: missing required field `name`");
  const std::uint32_t side = terrain_read::u32_or(L, 1, "side", 256);
  const std::uint32_t scale = terrain_read::u32_or(L, 1, "scale", 16);
  const std::int32_t ox = terrain_read::i32_or(L, 1, "origin_x", 0);
  const std::int32_t oz = terrain_read::i32_or(L, 1, "origin_z", 0);
  const std::string key = map_key(mod_id, **name);

  push_registry_table(L, "ostrel.maps");
  const int maps = lua_gettop(L);
  lua_pushlstring(L, key.data(), key.size());
  lua_rawget(L, maps);
  if (const MapHandle* stored = userdata::test<MapHandle>(L, -1)) {
    const bool same = with_map(L, *stored, [&](Map& m) {
      return m.side == side && m.scale == scale && m.origin_x == ox && m.origin_z == oz;
    });
    if (same) {
      push_map_handle(L, stored->shared);
      return 1;
    }
  }
  lua_pop(L, 1);

  // A new blank map replaces whatever the key held; handles taken before keep the old one.
  refuse_map_change_while_generating(L);
  if (side == 0 || side > detgen::map::kMaxSide) {
    convert::raise(L, detgen::map::MapError{detgen::map::MapErrorKind::SideOutOfRange, side}.message());
  }
  auto charge = userdata::NativeCharge::take(L, map_bytes(side));
  auto made = Map::create(side, scale, ox, oz);
  if (!made) convert::raise(L, made.error().message());
  auto shared = std::make_shared<MapShared>(std::move(*made));
  shared->charge = std::move(charge);
  lua_pushlstring(L, key.data(), key.size());
  push_map_handle(L, shared);
  lua_rawset(L, maps);
  push_map_handle(L, std::move(shared));
  return 1;
}

constexpr userdata::Method kMapMethods[] = {
    {"side", map_side},       {"scale", map_scale},        {"noise", map_noise}, {"fill", map_fill},
    {"offset", map_offset},   {"scale_by", map_scale_by},  {"clamp", map_clamp}, {"blur", map_blur},
    {"combine", map_combine}, {"heightmap", map_heightmap}};
constexpr userdata::Method kHeightmapMethods[] = {{"len", heightmap_len}};

// game.noise_heightmap: 2D fractal noise over one chunk's columns, truncated toward zero.
int noise_heightmap(lua_State* L) {
  convert::arg_table(L, 1, "noise_heightmap");
  convert::arg_table(L, 2, "noise_heightmap");
  const std::int32_t x = terrain_read::i32_field(L, 1, "x", "noise_heightmap");
  terrain_read::i32_field(L, 1, "y", "noise_heightmap");  // required, though it changes nothing
  const std::int32_t z = terrain_read::i32_field(L, 1, "z", "noise_heightmap");
  const auto seed = convert::seed_in(L, 1, "seed");
  if (!seed) convert::raise(L, seed.error());
  const auto options = terrain_read::noise_options(L, 2);
  const float amplitude = terrain_read::f32_or(L, 2, "amplitude", 6.0f);
  const std::int32_t base = terrain_read::i32_or(L, 2, "base", 0);
  push_heightmap(L).heights = detgen::noise::column_heights(*seed, x, z, options, amplitude, base);
  return 1;
}

int flat_heightmap(lua_State* L) {
  const auto height = convert::arg_integer<std::int32_t>(L, 1, "flat_heightmap");
  push_heightmap(L).heights.fill(height);
  return 1;
}

}  // namespace

namespace userdata {
template <>
const TypeInfo& type_of<MapHandle>() {
  static const TypeInfo info{"Ostrel.Map", kMapMethods, destroy_box<MapHandle>, box_alive<MapHandle>};
  return info;
}
template <>
const TypeInfo& type_of<Heightmap>() {
  static const TypeInfo info{"Ostrel.Heightmap", kHeightmapMethods, destroy_box<Heightmap>,
                             box_alive<Heightmap>};
  return info;
}
}  // namespace userdata

std::string map_key(std::string_view mod_id, std::string_view name) {
  std::string key(mod_id);
  key += '\x1f';
  key += name;
  return key;
}

std::expected<sync::Mutex<Map>::Guard, std::string> MapHandle::locked() const {
  auto g = shared->map.lock();
  if (!g) return std::unexpected(kPoisoned);
  return std::move(*g);
}

std::expected<MapSnapshot, std::string> MapHandle::snapshot() const {
  auto map = locked();
  if (!map) return std::unexpected(map.error());
  auto cache = shared->cache.lock();
  if (!cache) return std::unexpected("this map's snapshot was poisoned");
  const Map& m = **map;
  if (**cache && (**cache)->revision == m.revision) return ***cache;
  float low = std::numeric_limits<float>::infinity();
  float high = -low;
  for (float v : m.samples) {
    low = detgen::fp::min_num(low, v);
    high = detgen::fp::max_num(high, v);
  }
  if (!std::isfinite(low) || !std::isfinite(high)) {
    return std::unexpected("a `map` node's map holds no finite values to read");
  }
  MapSnapshot s{m.revision, std::make_shared<const Map>(m), low, high};
  **cache = s;
  return s;
}

void push_map_handle(lua_State* L, std::shared_ptr<MapShared> shared) {
  userdata::push<MapHandle>(L, MapHandle{std::move(shared)});
}

void install_map(lua_State* L, std::string_view mod_id, int game_idx) {
  set_function(L, lua_absindex(L, game_idx), "map", map, mod_id);
}

void push_noise_heightmap(lua_State* L) { lua_pushcfunction(L, noise_heightmap); }
void push_flat_heightmap(lua_State* L) { lua_pushcfunction(L, flat_heightmap); }

}  // namespace ostrel_core::script::lua_vm
