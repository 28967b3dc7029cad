#pragma once
// The generation functions of a mod's `game` table and the handles they return: density
// programs, maps, heightmaps, schematics and random streams. Installed by install_frozen_api
// (its step 15); they carry no phase check and work while mods load and afterwards, in every
// engine. Not for use outside core/src/script, but for the chunk buffer's fills, which take these
// handles.
//
// Every refusal is a Lua error whose text is the message alone. No refusal is raised while a
// map's lock is held, so a refused call never poisons a map; only an internal fault (an exception
// unwinding through the lock) does.

#include <array>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/sync.hpp"
#include "detgen/density.hpp"
#include "detgen/map.hpp"
#include "detgen/rng.hpp"
#include "detgen/schematic.hpp"
#include "script/lua_vm/userdata.hpp"

struct lua_State;

namespace ostrel_core::script::lua_vm {

struct Slots;

// A compiled density program; immutable.
struct DensityHandle {
  std::shared_ptr<const detgen::density::Density> program;
  userdata::NativeCharge charge;  // its operations and the map snapshots they hold
};

// A read-only copy of a map taken at one revision, with its lowest and highest sample.
struct MapSnapshot {
  std::uint64_t revision = 0;
  std::shared_ptr<const detgen::map::Map> map;
  float low = 0.0f;
  float high = 0.0f;
};

// What every handle fetched for one mod and name shares. Lock order: `map` before `cache`.
struct MapShared {
  explicit MapShared(detgen::map::Map m) : map(std::move(m)) {}
  sync::Mutex<detgen::map::Map> map;
  sync::Mutex<std::optional<MapSnapshot>> cache;
  userdata::NativeCharge charge;  // the samples, and room for one cached snapshot
};

struct MapHandle {
  std::shared_ptr<MapShared> shared;

  // The map, locked; "this map was poisoned by an earlier error" once a holder failed.
  std::expected<sync::Mutex<detgen::map::Map>::Guard, std::string> locked() const;
  // The snapshot at the map's current revision, copied only when the map changed since the last
  // one. Refuses a poisoned map or cache and a map without a finite lowest and highest sample.
  std::expected<MapSnapshot, std::string> snapshot() const;
};

// One chunk's column heights in world blocks, indexed x + 16 z.
struct Heightmap {
  std::array<std::int32_t, 256> heights{};
};

struct SchematicHandle {
  std::shared_ptr<const detgen::buffer::Schematic> schematic;
  userdata::NativeCharge charge;  // its entries
};

struct StreamHandle {
  detgen::rng::StreamRng stream;
};

namespace userdata {
template <>
const TypeInfo& type_of<DensityHandle>();
template <>
const TypeInfo& type_of<MapHandle>();
template <>
const TypeInfo& type_of<Heightmap>();
template <>
const TypeInfo& type_of<SchematicHandle>();
template <>
const TypeInfo& type_of<StreamHandle>();
}  // namespace userdata

// The options of game.stamp_schematic.
struct StampOptions {
  std::string domain;     // the domain the stamp goes into
  std::uint8_t turn = 0;  // quarter turns about the vertical, 0..=3
};
// Reads the options table at `options` (0: none given) with the position table at `pos`: unknown
// keys first (the first in text order named), then `domain` (absent: domain_of(pos)), then
// `turn` (absent: 0). A refusal is the whole text, "stamp_schematic: {reason}". A `domain` in
// `pos` that is not a text raises the conversion error.
std::expected<StampOptions, std::string> stamp_options(lua_State* L, int options, int pos);

// The registry key of a mod's named map: the mod id, U+001F, the name.
std::string map_key(std::string_view mod_id, std::string_view name);

// Sets, on the `game` table at `game_idx`, in this order: noise_heightmap, density, schematic,
// schematic_shapes, stamp_schematic, map, flat_heightmap, rng_stream; each made for `mod_id`.
// May raise (memory); install_frozen_api runs it protected.
void install_generation(lua_State* L, std::string_view mod_id, int game_idx, const Slots& slots);

// The installers of the step, for the step's order (install_generation calls them).
void push_noise_heightmap(lua_State* L);
void push_flat_heightmap(lua_State* L);
void push_rng_stream(lua_State* L);
void install_density(lua_State* L, int game_idx);
void install_schematic(lua_State* L, int game_idx, const Slots& slots);
void install_map(lua_State* L, std::string_view mod_id, int game_idx);

// Pushes a new map handle sharing `shared` (load_maps installs stored maps with it).
void push_map_handle(lua_State* L, std::shared_ptr<MapShared> shared);

}  // namespace ostrel_core::script::lua_vm
