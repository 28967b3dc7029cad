#pragma once
// The records that client and server messages carry. Each declares its fields once, in wire
// order; proto/codec.hpp writes and reads them. Material ids here are the world's stored ids.
//
// Worked examples:
//   StackDef{material 12, count 5, no shape, detail or cells}  -> 0C 05 00 00 00
//   Edit Partial{(1, 0, -1), material 3, mask 0x1FF}           -> 02 02 00 01 03 FF 03
//   DialogEvent Closed                                         -> 06

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "world/block.hpp"
#include "world/coords.hpp"
#include "proto/codec.hpp"

namespace ostrel_core::proto {

using coords::BlockPos;
using coords::ChunkPos;
using coords::SubNodePos;

using Hash = std::array<std::uint8_t, 32>;    // a content hash, 32 raw bytes
using Colour = std::array<std::uint8_t, 4>;   // r, g, b, a
using Rgb = std::array<std::uint8_t, 3>;      // r, g, b
using Vec3f = std::array<float, 3>;

// Occupancy masks have one bit per cell of a block, cell index x + 3y + 9z.
inline constexpr std::uint32_t kFullMask = block::kOccupancyFull;
inline constexpr std::size_t kCellsPerBlock = block::kCells;

// One item stack as the client sees it.
struct StackDef {
  std::uint16_t material = 0;           // world id; 1 (engine:unknown) when the world cannot name it
  std::uint32_t count = 0;              // items
  std::uint32_t shape = 0;              // 27-bit occupancy of a cut stack, 0 when none
  std::optional<std::string> detail;
  std::vector<std::uint16_t> cells;     // empty, or 27 world ids (0 for an empty cell)

  static constexpr auto fields() {
    return std::tuple{&StackDef::material, &StackDef::count, &StackDef::shape, &StackDef::detail,
                      &StackDef::cells};
  }
  friend bool operator==(const StackDef&, const StackDef&) = default;
};

// One block edit.
namespace edit {
struct Set {  // the whole block becomes `material` (0 is air)
  BlockPos pos;
  std::uint16_t material = 0;
  static constexpr auto fields() { return std::tuple{&Set::pos, &Set::material}; }
  friend bool operator==(const Set&, const Set&) = default;
};
struct Cell {  // one sub-node cell becomes `material`
  SubNodePos pos;
  std::uint16_t material = 0;
  static constexpr auto fields() { return std::tuple{&Cell::pos, &Cell::material}; }
  friend bool operator==(const Cell&, const Cell&) = default;
};
struct Partial {  // the cells of `mask` become `material`; kFullMask makes it whole
  BlockPos pos;
  std::uint16_t material = 0;
  std::uint32_t mask = 0;
  static constexpr auto fields() { return std::tuple{&Partial::pos, &Partial::material, &Partial::mask}; }
  friend bool operator==(const Partial&, const Partial&) = default;
};
}  // namespace edit
using Edit = std::variant<edit::Set, edit::Cell, edit::Partial>;

enum class PressClick : std::uint8_t { Left, Right, Double };
constexpr std::uint32_t wire_variants(PressClick) { return 3; }
enum class SlotClick : std::uint8_t { Left, Right, ShiftLeft, ShiftRight };
constexpr std::uint32_t wire_variants(SlotClick) { return 4; }

// What the player did in an open dialog.
namespace dialog_event {
struct Pressed {
  std::string name;
  PressClick click = PressClick::Left;
  static constexpr auto fields() { return std::tuple{&Pressed::name, &Pressed::click}; }
  friend bool operator==(const Pressed&, const Pressed&) = default;
};
struct Submitted {
  std::string name;
  std::string text;
  static constexpr auto fields() { return std::tuple{&Submitted::name, &Submitted::text}; }
  friend bool operator==(const Submitted&, const Submitted&) = default;
};
struct Toggled {
  std::string name;
  bool checked = false;
  static constexpr auto fields() { return std::tuple{&Toggled::name, &Toggled::checked}; }
  friend bool operator==(const Toggled&, const Toggled&) = default;
};
struct Slid {
  std::string name;
  std::int32_t value = 0;
  static constexpr auto fields() { return std::tuple{&Slid::name, &Slid::value}; }
  friend bool operator==(const Slid&, const Slid&) = default;
};
struct Chose {
  std::string name;
  std::uint16_t index = 0;
  static constexpr auto fields() { return std::tuple{&Chose::name, &Chose::index}; }
  friend bool operator==(const Chose&, const Chose&) = default;
};
struct Clicked {
  std::string view;                  // a container view's name
  std::uint16_t index = 0;           // slot, zero-based
  SlotClick click = SlotClick::Left;
  static constexpr auto fields() { return std::tuple{&Clicked::view, &Clicked::index, &Clicked::click}; }
  friend bool operator==(const Clicked&, const Clicked&) = default;
};
struct Closed {
  static constexpr auto fields() { return std::tuple{}; }
  friend bool operator==(const Closed&, const Closed&) = default;
};
struct Chiselled {
  std::string name;
  std::vector<std::uint16_t> cells;  // empty or 27 world ids
  std::uint32_t shape = 0;           // 27-bit occupancy
  static constexpr auto fields() { return std::tuple{&Chiselled::name, &Chiselled::cells, &Chiselled::shape}; }
  friend bool operator==(const Chiselled&, const Chiselled&) = default;
};
struct Dropped {
  SlotClick click = SlotClick::Left;
  static constexpr auto fields() { return std::tuple{&Dropped::click}; }
  friend bool operator==(const Dropped&, const Dropped&) = default;
};
}  // namespace dialog_event
using DialogEvent = std::variant<dialog_event::Pressed, dialog_event::Submitted, dialog_event::Toggled,
                                 dialog_event::Slid, dialog_event::Chose, dialog_event::Clicked,
                                 dialog_event::Closed, dialog_event::Chiselled, dialog_event::Dropped>;

// ---- Content tables, sent once after login ----

struct ModEntry {
  std::string id;
  std::string version;  // semantic version as text
  Hash hash{};          // the mod's content hash
  static constexpr auto fields() { return std::tuple{&ModEntry::id, &ModEntry::version, &ModEntry::hash}; }
  friend bool operator==(const ModEntry&, const ModEntry&) = default;
};

struct MaterialTint {
  std::uint8_t strength = 0;
  std::uint16_t scale = 0;
  Rgb low{};
  Rgb high{};
  static constexpr auto fields() {
    return std::tuple{&MaterialTint::strength, &MaterialTint::scale, &MaterialTint::low, &MaterialTint::high};
  }
  friend bool operator==(const MaterialTint&, const MaterialTint&) = default;
};

struct MaterialFlicker {
  std::uint8_t depth = 0;
  std::uint8_t rate = 0;
  static constexpr auto fields() { return std::tuple{&MaterialFlicker::depth, &MaterialFlicker::rate}; }
  friend bool operator==(const MaterialFlicker&, const MaterialFlicker&) = default;
};

// The flags are one byte each, written 0 or 1.
struct MaterialDef {
  std::optional<std::string> step_sound;
  std::uint16_t id = 0;                   // world material id; the table is sorted by it
  std::string name;
  bool block = false;                     // false for a registered item
  std::optional<Hash> texture;
  bool transparent = false;
  bool cutout = false;
  bool passable = false;
  bool sway = false;
  bool billboard = false;
  bool cross = false;
  float friction = 1.0f;
  std::optional<MaterialTint> tint;
  bool whole = false;
  std::optional<std::string> model;
  std::optional<MaterialFlicker> flicker;

  static constexpr auto fields() {
    return std::tuple{&MaterialDef::step_sound, &MaterialDef::id,       &MaterialDef::name,
                      &MaterialDef::block,      &MaterialDef::texture,  &MaterialDef::transparent,
                      &MaterialDef::cutout,     &MaterialDef::passable, &MaterialDef::sway,
                      &MaterialDef::billboard,  &MaterialDef::cross,    &MaterialDef::friction,
                      &MaterialDef::tint,       &MaterialDef::whole,    &MaterialDef::model,
                      &MaterialDef::flicker};
  }
  friend bool operator==(const MaterialDef&, const MaterialDef&) = default;
};

struct ToolDef {
  std::string id;
  std::string name;
  std::string brush;  // "block", "subnode" or "whole"
  bool is_default = false;
  static constexpr auto fields() { return std::tuple{&ToolDef::id, &ToolDef::name, &ToolDef::brush, &ToolDef::is_default}; }
  friend bool operator==(const ToolDef&, const ToolDef&) = default;
};

struct FluidDef {
  std::uint8_t id = 0;         // fluid id
  std::string name;
  std::uint16_t material = 0;  // world id of the fluid's block material
  Rgb colour{};
  float opacity = 0.0f;
  static constexpr auto fields() {
    return std::tuple{&FluidDef::id, &FluidDef::name, &FluidDef::material, &FluidDef::colour, &FluidDef::opacity};
  }
  friend bool operator==(const FluidDef&, const FluidDef&) = default;
};

struct ActionDef {
  std::string id;
  std::string description;
  std::string mod_id;
  std::string default_key;
  static constexpr auto fields() {
    return std::tuple{&ActionDef::id, &ActionDef::description, &ActionDef::mod_id, &ActionDef::default_key};
  }
  friend bool operator==(const ActionDef&, const ActionDef&) = default;
};

struct SettingDef {
  std::string mod_id;
  std::string id;
  std::string name;
  std::string description;
  bool choice = false;               // the setting lists options
  std::vector<std::string> options;
  std::uint32_t default_value = 0;   // a toggle's 0 or 1, or a one-based index into options
  static constexpr auto fields() {
    return std::tuple{&SettingDef::mod_id, &SettingDef::id,      &SettingDef::name,         &SettingDef::description,
                      &SettingDef::choice, &SettingDef::options, &SettingDef::default_value};
  }
  friend bool operator==(const SettingDef&, const SettingDef&) = default;
};

struct SoundDef {
  std::string id;
  std::string mod_id;
  std::optional<Hash> file;
  float gain = 1.0f;
  float pitch_variance = 0.0f;
  static constexpr auto fields() {
    return std::tuple{&SoundDef::id, &SoundDef::mod_id, &SoundDef::file, &SoundDef::gain, &SoundDef::pitch_variance};
  }
  friend bool operator==(const SoundDef&, const SoundDef&) = default;
};

struct SoundBinding {
  std::string cue;
  std::string sound;
  std::string mod_id;
  static constexpr auto fields() { return std::tuple{&SoundBinding::cue, &SoundBinding::sound, &SoundBinding::mod_id}; }
  friend bool operator==(const SoundBinding&, const SoundBinding&) = default;
};

// Used by both the picture table and the font table.
struct PictureDef {
  std::string id;
  std::string mod_id;
  std::optional<Hash> file;
  static constexpr auto fields() { return std::tuple{&PictureDef::id, &PictureDef::mod_id, &PictureDef::file}; }
  friend bool operator==(const PictureDef&, const PictureDef&) = default;
};
using FontDef = PictureDef;

struct HudScriptDef {
  std::string mod_id;
  std::optional<Hash> file;
  std::uint16_t reserve = 0;
  static constexpr auto fields() { return std::tuple{&HudScriptDef::mod_id, &HudScriptDef::file, &HudScriptDef::reserve}; }
  friend bool operator==(const HudScriptDef&, const HudScriptDef&) = default;
};

struct ModelDef {
  std::string id;
  std::string mod_id;
  std::optional<Hash> file;
  float scale = 1.0f;
  std::optional<Hash> texture;
  static constexpr auto fields() {
    return std::tuple{&ModelDef::id, &ModelDef::mod_id, &ModelDef::file, &ModelDef::scale, &ModelDef::texture};
  }
  friend bool operator==(const ModelDef&, const ModelDef&) = default;
};

struct ThemeDef {
  std::string mod_id;
  std::optional<std::string> font;
  std::optional<std::string> text_font;
  std::optional<Hash> sheet;
  std::optional<Hash> button;
  std::optional<Colour> text_colour;
  std::optional<Colour> heading_colour;
  std::optional<Colour> background_colour;
  std::optional<Colour> button_colour;
  std::optional<Colour> accent_colour;
  static constexpr auto fields() {
    return std::tuple{&ThemeDef::mod_id,          &ThemeDef::font,           &ThemeDef::text_font,
                      &ThemeDef::sheet,           &ThemeDef::button,         &ThemeDef::text_colour,
                      &ThemeDef::heading_colour,  &ThemeDef::background_colour, &ThemeDef::button_colour,
                      &ThemeDef::accent_colour};
  }
  friend bool operator==(const ThemeDef&, const ThemeDef&) = default;
};

// One sky keyframe: nineteen f32, 76 bytes.
struct SkyFrame {
  float time = 0.0f;
  Vec3f sky{};
  Vec3f sun{};
  float intensity = 0.0f;
  float exposure = 0.0f;
  Vec3f tint{};
  Vec3f offset{};
  float contrast = 0.0f;
  float saturation = 0.0f;
  float gamma = 0.0f;
  float stars = 0.0f;
  static constexpr auto fields() {
    return std::tuple{&SkyFrame::time,     &SkyFrame::sky,      &SkyFrame::sun,        &SkyFrame::intensity,
                      &SkyFrame::exposure, &SkyFrame::tint,     &SkyFrame::offset,     &SkyFrame::contrast,
                      &SkyFrame::saturation, &SkyFrame::gamma,  &SkyFrame::stars};
  }
  friend bool operator==(const SkyFrame&, const SkyFrame&) = default;
};

// ---- Entity and player records ----

struct Collider {
  float width = 0.0f;
  float height = 0.0f;
  static constexpr auto fields() { return std::tuple{&Collider::width, &Collider::height}; }
  friend bool operator==(const Collider&, const Collider&) = default;
};

// What an entity holds: main hand, then off hand.
struct Hands {
  std::optional<StackDef> main;
  std::optional<StackDef> off;
  static constexpr auto fields() { return std::tuple{&Hands::main, &Hands::off}; }
  friend bool operator==(const Hands&, const Hands&) = default;
};

struct EntityDef {
  std::uint64_t id = 0;
  ChunkPos chunk;
  Vec3f local{};                    // cells within the chunk
  Vec3f velocity{};
  std::uint8_t yaw = 0;             // a full turn is 256
  std::int8_t pitch = 0;            // +-127 for +-90 degrees
  std::uint8_t anim = 0;
  std::optional<std::string> model;
  std::optional<Collider> collider;
  std::optional<StackDef> item;     // the stack an item entity is
  Hands hands;
  std::optional<std::string> name_tag;
  Rgb colour{};
  static constexpr auto fields() {
    return std::tuple{&EntityDef::id,    &EntityDef::chunk, &EntityDef::local,    &EntityDef::velocity,
                      &EntityDef::yaw,   &EntityDef::pitch, &EntityDef::anim,     &EntityDef::model,
                      &EntityDef::collider, &EntityDef::item, &EntityDef::hands, &EntityDef::name_tag,
                      &EntityDef::colour};
  }
  friend bool operator==(const EntityDef&, const EntityDef&) = default;
};

struct EntityDelta {
  std::uint64_t id = 0;
  ChunkPos chunk;
  Vec3f local{};
  Vec3f velocity{};
  std::uint8_t yaw = 0;
  std::int8_t pitch = 0;
  std::uint8_t anim = 0;
  Rgb colour{};
  static constexpr auto fields() {
    return std::tuple{&EntityDelta::id,  &EntityDelta::chunk, &EntityDelta::local, &EntityDelta::velocity,
                      &EntityDelta::yaw, &EntityDelta::pitch, &EntityDelta::anim,  &EntityDelta::colour};
  }
  friend bool operator==(const EntityDelta&, const EntityDelta&) = default;
};

struct EntityHands {
  std::uint64_t id = 0;
  Hands hands;
  static constexpr auto fields() { return std::tuple{&EntityHands::id, &EntityHands::hands}; }
  friend bool operator==(const EntityHands&, const EntityHands&) = default;
};

// What the player rides, as its own client sees it.
struct Riding {
  std::uint64_t mount = 0;
  ChunkPos chunk;                   // the mount's chunk
  Vec3f local{};                    // the mount's position in cells within that chunk
  Vec3f velocity{};                 // cells per tick
  bool on_ground = false;
  std::uint8_t jump_cooldown = 0;
  Vec3f seat{};                     // seat offset from the mount's feet, cells, at yaw 0
  float width = 0.0f;               // the mount's collider, cells
  float height = 0.0f;
  float speed = 0.0f;
  static constexpr auto fields() {
    return std::tuple{&Riding::mount,     &Riding::chunk, &Riding::local, &Riding::velocity,
                      &Riding::on_ground, &Riding::jump_cooldown, &Riding::seat, &Riding::width,
                      &Riding::height,    &Riding::speed};
  }
  friend bool operator==(const Riding&, const Riding&) = default;
};

// The mods' fog for one chunk.
struct ChunkFog {
  Rgb colour{};
  std::uint16_t visibility = 0;       // blocks a player sees into the fog
  std::optional<std::int32_t> top;    // world height the fog lies under
  std::optional<std::int32_t> bottom; // world height the fog lies over
  static constexpr auto fields() {
    return std::tuple{&ChunkFog::colour, &ChunkFog::visibility, &ChunkFog::top, &ChunkFog::bottom};
  }
  friend bool operator==(const ChunkFog&, const ChunkFog&) = default;
};

struct AbilitiesDef {
  bool fly = false;
  float speed = 1.0f;
  bool operator_fly = false;
  bool sprint = false;
  float gravity = 1.0f;
  static constexpr auto fields() {
    return std::tuple{&AbilitiesDef::fly, &AbilitiesDef::speed, &AbilitiesDef::operator_fly,
                      &AbilitiesDef::sprint, &AbilitiesDef::gravity};
  }
  friend bool operator==(const AbilitiesDef&, const AbilitiesDef&) = default;
};

}  // namespace ostrel_core::proto
