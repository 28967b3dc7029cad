#pragma once
// The content tables a client receives once after login: mods, materials, tools, fluids,
// actions, settings, sounds, pictures, fonts, HUD scripts, models and the theme. Material ids
// are the world's stored ids. Each record declares its fields once, in wire order.
//
// Worked example: ModEntry{"a", "1", hash of 32 x 07} -> 01 61 01 31 07 07 ... 07

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "proto/records/common.hpp"

namespace ostrel_core::proto {

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

}  // namespace ostrel_core::proto
