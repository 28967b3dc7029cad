#pragma once
// The content tables every client receives at login, built once by ServerHandle::start from
// what the mods registered: materials, tools, actions, settings, sounds, fonts, pictures,
// models, the theme, the cloud deck, the cue bindings and the HUD scripts. Each is the record
// of the message that carries it; the connection task encodes it.
//
// Nothing here fails: a registration that names a file the content index does not hold is
// reported and kept without its hash, so a client degrades (draws a placeholder, plays
// nothing) instead of failing. Every table logs one INFO line with its count, in the order of
// build_tables() below; all lines have the target `ostrel_server::handle`.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "modload/content.hpp"
#include "persist/idmap.hpp"
#include "proto/server.hpp"
#include "script/api/media.hpp"
#include "script/read/records.hpp"
#include "script/vm.hpp"
#include "start/stage_mods.hpp"
#include "world/material.hpp"

namespace ostrel_server::handle {

inline constexpr std::size_t kMaxSettings = 64;  // what a client's settings screen holds

struct ContentTables {
  ostrel_core::proto::server::MaterialTable materials;  // ascending world id
  ostrel_core::proto::server::ToolTable tools;          // ascending tool id
  ostrel_core::proto::server::ActionTable actions;      // registration order
  ostrel_core::proto::server::SettingTable settings;    // registration order, at most kMaxSettings
  ostrel_core::proto::server::SoundTable sounds;
  ostrel_core::proto::server::FontTable fonts;        // the theme's fonts last
  ostrel_core::proto::server::PictureTable pictures;  // the theme's pictures last
  ostrel_core::proto::server::ModelTable models;
  ostrel_core::proto::server::SetTheme theme;
  ostrel_core::proto::server::CloudDeck cloud_deck;
  ostrel_core::proto::server::SoundBindingTable sound_bindings;
  ostrel_core::proto::server::HudScriptTable hud_scripts;
};

// What the table stage hands on: the tables, and the registrations the world tables read again.
struct TableStage {
  ContentTables tables;
  std::vector<ostrel_core::script::records::BlockRules> block_rules;  // ascending material
  std::vector<std::string> items;                                     // the item names
};

// The whole stage, in order: the reads, the material, tool, action and setting tables, the
// media tables with the block model check, the theme, the cloud deck, the cue bindings and
// the HUD scripts, then "material table built". A null `host` registered nothing.
TableStage build_tables(const ostrel_core::material::Registry& registry,
                        const ostrel_core::persist::idmap::MaterialMap& map,
                        const ostrel_core::content::ContentIndex& content, const Host* host);

// ---- Materials, tools, actions, settings ---------------------------------------------------

// One MaterialDef per registry entry, under the world's id and sorted by it. A material the
// map gives no world id is left out with a warning; a texture the index does not hold is
// logged and left empty. Names listed more than once in `textures` or `rules`: the later wins.
ostrel_core::proto::server::MaterialTable material_table(
    const ostrel_core::material::Registry& registry, const ostrel_core::persist::idmap::MaterialMap& map,
    const ostrel_core::content::ContentIndex& content,
    std::span<const ostrel_core::script::records::BlockTexture> textures,
    std::span<const ostrel_core::script::records::BlockRules> rules, std::span<const std::string> items);

// A tool without a name is listed by its id. Logs nothing.
ostrel_core::proto::server::ToolTable tool_table(std::span<const ostrel_core::script::records::Tool> tools);

// Logs "action table built".
ostrel_core::proto::server::ActionTable action_table(
    std::span<const ostrel_core::script::media::Action> actions);

// Keeps the first kMaxSettings (warning when there were more) and logs "mod setting table
// built". A choice's default goes out one-based (the engine keeps it zero-based); a
// checkbox's stays 0 or 1.
ostrel_core::proto::server::SettingTable setting_table(
    std::span<const ostrel_core::script::vm::Setting> settings);

// ---- Media, theme, bindings (tables_media.cpp) ----------------------------------------------

// Each logs the missing files of its entries, then its count.
ostrel_core::proto::server::SoundTable sound_table(std::span<const ostrel_core::script::media::Sound> sounds,
                                                   const ostrel_core::content::ContentIndex& content);
ostrel_core::proto::server::FontTable font_table(std::span<const ostrel_core::script::media::Font> fonts,
                                                 const ostrel_core::content::ContentIndex& content);
ostrel_core::proto::server::PictureTable picture_table(
    std::span<const ostrel_core::script::media::Picture> pictures,
    const ostrel_core::content::ContentIndex& content);
ostrel_core::proto::server::ModelTable model_table(
    std::span<const ostrel_core::script::media::ModelFile> models,
    const ostrel_core::content::ContentIndex& content);

// Logs every block rule naming a model that no ModelDef has, compared byte for byte.
void check_block_models(std::span<const ostrel_core::script::records::BlockRules> rules,
                        const ostrel_core::proto::server::ModelTable& models);

// The theme of the last mod in load order that loaded and declares one; its files go to the
// end of `fonts` and `pictures`. Logs "theme chosen". A null `host` has no theme.
ostrel_core::proto::server::SetTheme choose_theme(const Host* host,
                                                  const ostrel_core::content::ContentIndex& content,
                                                  ostrel_core::proto::server::FontTable& fonts,
                                                  ostrel_core::proto::server::PictureTable& pictures);

// The deck as the engine chose it; logs "cloud deck built".
ostrel_core::proto::server::CloudDeck cloud_deck(std::optional<ostrel_core::atmosphere::CloudLayer> deck);
// The bindings as registered; logs "cue bindings built".
ostrel_core::proto::server::SoundBindingTable cue_bindings(
    std::vector<ostrel_core::proto::SoundBinding> bindings);
// Logs the missing scripts, then "HUD script table built".
ostrel_core::proto::server::HudScriptTable hud_script_table(
    std::span<const ostrel_core::script::media::ScriptFile> scripts,
    const ostrel_core::content::ContentIndex& content);

}  // namespace ostrel_server::handle
