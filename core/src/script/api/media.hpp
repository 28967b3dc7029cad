#pragma once
// What mods hand to clients beyond blocks and tools: inventory views and key actions, HUD
// scripts, skies, the cloud deck, models, sounds with their cue bindings, fonts and pictures.
//
// install_media() puts the registration functions into a mod's `game` table; the readers below
// turn the registry tables they write into owned records once registration has closed. Readers
// never fail and never log: a missing table gives an empty result, an unreadable entry is
// passed over, an unreadable optional field takes its default.
//
// REQUIRES for every function taking a LuaVm or a lua_State: called on the thread that owns
// the engine.

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "presentation/atmosphere.hpp"
#include "base/blake3.hpp"
#include "world/domain.hpp"
#include "building/inventory/slots.hpp"
#include "proto/records/content.hpp"
#include "proto/records/sky.hpp"
#include "script/vm.hpp"

struct lua_State;

namespace ostrel_core::script::lua_vm { class LuaVm; }

namespace ostrel_core::script::media {

inline constexpr std::size_t kMaxViewSlots = 256;
inline constexpr std::uint32_t kMaxSlotGrain = 27;
inline constexpr std::int64_t kMaxHudReserve = 540;  // half the 1080-pixel HUD canvas
inline constexpr std::size_t kMaxModels = 64;
inline constexpr std::size_t kMaxFonts = 8;
inline constexpr std::size_t kMaxPictures = 512;

// A key action a player binds; empty texts where none was given.
struct Action {
  std::string id;
  std::string description;
  std::string default_key;
  std::string mod_id;
  friend bool operator==(const Action&, const Action&) = default;
};

// One mod's HUD script.
struct ScriptFile {
  std::string file;           // relative to the mod's directory, as given
  std::uint16_t reserve = 0;  // HUD canvas pixels kept clear at the bottom, 0..=540
  std::string mod_id;
  friend bool operator==(const ScriptFile&, const ScriptFile&) = default;
};

using Vec3f = std::array<float, 3>;

// A keyframe's colour grade; every default leaves the picture as it is.
struct SkyGrade {
  float exposure = 1.0f;            // 0..=4
  Vec3f tint{1.0f, 1.0f, 1.0f};     // each 0..=4
  Vec3f offset{0.0f, 0.0f, 0.0f};   // each -1..=1
  float contrast = 1.0f;            // 0..=4
  float saturation = 1.0f;          // 0..=4
  float gamma = 1.0f;               // 0.1..=4
  friend bool operator==(const SkyGrade&, const SkyGrade&) = default;
};

struct SkyKeyframe {
  float time = 0.0f;  // share of the day, 0 midnight, 0.5 noon
  Vec3f sky{};        // r, g, b
  Vec3f sun{};        // r, g, b
  float intensity = 0.0f;
  SkyGrade grade;
  float stars = 0.0f;  // 0..=1
  friend bool operator==(const SkyKeyframe&, const SkyKeyframe&) = default;
};

struct Sky {
  std::optional<std::string> domain;  // absent: every domain not named
  std::string mod_id;                 // the mod whose registration was chosen
  std::vector<SkyKeyframe> keyframes; // at least one, ascending by time (stable)
  std::uint32_t day_length_ticks = 1; // at least 1
  float start_time = 0.35f;           // [0, 1)
  Vec3f cave_fog{0.05f, 0.05f, 0.06f};
  friend bool operator==(const Sky&, const Sky&) = default;
};

// The wire keyframe, field for field.
proto::SkyFrame sky_frame(const SkyKeyframe& k);

struct ModelFile {
  std::string id;
  std::string file;
  float scale = 1.0f;                  // 0.01..=64
  std::optional<std::string> texture;  // path of the skin image, as given
  std::string mod_id;
  friend bool operator==(const ModelFile&, const ModelFile&) = default;
};

struct Sound {
  std::string id;
  std::string file;
  float gain = 1.0f;
  float pitch_variance = 0.0f;
  std::string mod_id;
  friend bool operator==(const Sound&, const Sound&) = default;
};

// Fonts and pictures share one shape.
struct Font {
  std::string id;
  std::string mod_id;
  std::string file;  // as registered
  friend bool operator==(const Font&, const Font&) = default;
};
using Picture = Font;

// Sets register_view, set_main_slots, set_slot_grain, register_action, register_hud_script,
// register_sky, register_clouds, register_model, register_sound, bind_sound, register_font,
// register_picture and content_hash on the `game` table at `game_idx`, each made for `mod_id`.
std::expected<void, vm::ScriptError> install_media(lua_State* L, std::string_view mod_id,
                                                   int game_idx);

// ---- Readers ---------------------------------------------------------------------------

// Sorted by id in byte order.
std::vector<inventory::slots::ViewDef> registered_views(const lua_vm::LuaVm& vm);
std::optional<std::size_t> registered_main_slots(const lua_vm::LuaVm& vm);
std::optional<std::uint32_t> registered_slot_grain(const lua_vm::LuaVm& vm);
// In registration order.
std::vector<Action> registered_actions(const lua_vm::LuaVm& vm);
// One per mod, in the order of each mod's first registration.
std::vector<ScriptFile> registered_hud_scripts(const lua_vm::LuaVm& vm);

// The sky without a domain first (when there is one), then one per named domain in byte order.
std::vector<Sky> registered_skies(const lua_vm::LuaVm& vm);
// The chosen sky of exactly this domain value: mods that are not reference mods first, then
// the lowest mod id; only that first candidate is read.
std::optional<Sky> sky_for(const lua_vm::LuaVm& vm, const std::optional<std::string>& domain);
// The sky table a run-time call hands (`game.create_domain`'s `sky`, `game.set_domain_sky`)
// as the domain's keyframes in time order and its cave fog; or the refusal, naming `what`.
// `day_length_ticks` and `start_time` are allowed and not read; `domain` is refused. Writes
// nothing into the registry. REQUIRES: `table` is a stack index holding a table.
std::expected<domain::DomainSky, std::string> domain_sky_of(lua_State* L, int table,
                                                           std::string_view what);

// The chosen deck by the same rule as sky_for.
std::optional<atmosphere::CloudLayer> registered_clouds(const lua_vm::LuaVm& vm);

// In registration order, duplicates kept.
std::vector<ModelFile> registered_models(const lua_vm::LuaVm& vm);
std::vector<Sound> registered_sounds(const lua_vm::LuaVm& vm);
std::vector<proto::SoundBinding> registered_bindings(const lua_vm::LuaVm& vm);
std::vector<Font> registered_fonts(const lua_vm::LuaVm& vm);        // at most kMaxFonts
std::vector<Picture> registered_pictures(const lua_vm::LuaVm& vm);  // at most kMaxPictures

// The content hash of a file in the mod's directory that clients may be sent, or the refusal
// text naming `what` (the calling function). Only a regular file inside the directory is read
// (a FIFO or device behind a link is refused without opening it for a blocking read), and at
// most the file-size limit of it.
std::expected<blake3::Digest, std::string> hash_mod_file(lua_State* L,
                                                               std::string_view mod_id,
                                                               std::string_view what,
                                                               std::string_view path);

}  // namespace ostrel_core::script::media
