#pragma once
// Content records: what the mods registered, as the engine's readers hand it over once
// registration has closed (registered_* below). Plain owned values; nothing refers back into
// the script engine. The tool speed resolver turns tool speeds into speeds per material.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "world/domain.hpp"
#include "world/material.hpp"

namespace ostrel_core::script::lua_vm { class LuaVm; }

namespace ostrel_core::script::records {

using material::MaterialId;

// What a block drinks. `rate` 0: nothing.
struct AbsorbsRule {
  std::optional<std::string> fluid;    // absent: any fluid
  std::optional<std::string> becomes;  // absent: never changes
  std::uint32_t rate = 0;              // cells a fluid tick, at most 27
  friend bool operator==(const AbsorbsRule&, const AbsorbsRule&) = default;
};

// Channels are multipliers: 128 stands for 1.
struct Tint {
  std::array<std::uint8_t, 3> low{128, 128, 128};
  std::array<std::uint8_t, 3> high{128, 128, 128};
  std::uint16_t scale = 32;    // blocks a period, 1..=65535
  std::uint8_t strength = 0;   // 0..=255 standing for 0..1
  friend bool operator==(const Tint&, const Tint&) = default;
};

struct Flicker {
  std::uint8_t rate = 8;    // steps a second, 1..=30
  std::uint8_t depth = 77;  // 0..=255 standing for 0..1 of the light
  friend bool operator==(const Flicker&, const Flicker&) = default;
};

inline constexpr std::uint32_t kFullShape = 0x7FFFFFF;  // all 27 cells

// The rules of one block (or item); each field at its default when nothing was registered.
struct BlockRules {
  std::string block;  // the qualified id
  float hardness = 0.75f;
  float dominance = 1.0f;
  std::optional<std::vector<std::pair<std::string, std::uint32_t>>> drops;  // sorted
  std::array<std::uint8_t, 3> light_emit{0, 0, 0};  // each 0..=15
  AbsorbsRule absorbs;
  std::optional<std::string> step_sound;
  std::vector<std::string> tags;
  std::optional<Tint> tint;
  std::optional<Flicker> flicker;
  bool transparent = false;
  bool cutout = false;
  bool passable = false;
  bool washes_away = false;
  std::uint8_t light_falloff = 0;
  bool sway = false;
  bool billboard = false;
  bool cross = false;
  float friction = 1.0f;
  bool whole = false;
  std::uint32_t shape = kFullShape;  // bit x + 3y + 9z
  bool sweeps = true;
  std::optional<std::string> model;
  friend bool operator==(const BlockRules&, const BlockRules&) = default;
};

struct BlockTexture {
  std::string block;  // qualified block id
  std::string mod;    // the mod whose directory `path` is relative to
  std::string path;
  friend bool operator==(const BlockTexture&, const BlockTexture&) = default;
};

enum class Brush : std::uint8_t {
  Block,    // a dig removes whole blocks
  Subnode,  // a dig removes one of the 27 cells
};

struct Tool {
  std::string id;
  std::optional<std::string> name;
  Brush brush = Brush::Block;
  float speed = 1.0f;
  // A qualified block id, or "#" and a tag, with its speed; in the registry's order.
  std::vector<std::pair<std::string, float>> speeds;
  bool is_default = false;  // digs for a player holding nothing
  friend bool operator==(const Tool&, const Tool&) = default;
};

struct FluidRules {
  std::string id;
  std::string material;  // qualified block id the fluid is drawn as
  std::uint32_t waterlogs_at = 14;
  std::uint32_t evaporates = 0;
  float opacity = 0.72f;
  bool washes = true;
  std::uint8_t tick_rate = 1;
  std::uint8_t color_r = 255;
  std::uint8_t color_g = 255;
  std::uint8_t color_b = 255;
  std::uint8_t light_falloff = 0;
  friend bool operator==(const FluidRules&, const FluidRules&) = default;
};

// Tool id -> material -> speed; a material missing from a tool's map is dug at its `speed`.
using ToolSpeeds = std::map<std::string, std::map<MaterialId, float>>;

// Tag entries first (the highest speed of the tags that reach a material), then block entries,
// which replace what a tag gave. A tag no record carries logs one WARN line per tool and entry.
ToolSpeeds resolve_tool_speeds(const std::vector<Tool>& tools, const std::vector<BlockRules>& rules,
                               const std::map<std::string, MaterialId, std::less<>>& materials);

// ---- Read-back ------------------------------------------------------------------------------
// Each reads the engine's registry table afresh and never fails: a missing table gives an empty
// result, an entry that does not convert is skipped, a field that does not convert takes its
// default. REQUIRES: called on the engine's thread.

// (id, material), ascending by material.
std::vector<std::pair<std::string, MaterialId>> registered_blocks(const lua_vm::LuaVm& vm);
// The same pairs by id text.
std::map<std::string, MaterialId, std::less<>> block_ids(const lua_vm::LuaVm& vm);
// One record for each entry of registered_blocks(), in the same order.
std::vector<BlockRules> registered_block_rules(const lua_vm::LuaVm& vm);
// Ascending by the block's material; entries for ids no block holds are dropped.
std::vector<BlockTexture> registered_block_textures(const lua_vm::LuaVm& vm);
// Ascending by text.
std::vector<std::string> registered_items(const lua_vm::LuaVm& vm);
// Ascending by id.
std::vector<Tool> registered_tools(const lua_vm::LuaVm& vm);
std::vector<FluidRules> registered_fluids(const lua_vm::LuaVm& vm);
std::vector<std::pair<std::string, domain::Spec>> registered_domains(const lua_vm::LuaVm& vm);

}  // namespace ostrel_core::script::records
