// The tables of files clients download from the mods, the block model check, the theme, the
// cloud deck, the cue bindings and the HUD scripts.
#include <fmt/format.h>

#include <set>
#include <string_view>
#include <utility>

#include "base/log.hpp"
#include "modload/manifest.hpp"
#include "start/tables.hpp"

namespace ostrel_server::handle {

namespace log = ostrel_core::log;
namespace proto = ostrel_core::proto;
namespace records = ostrel_core::script::records;
namespace media = ostrel_core::script::media;
using ostrel_core::content::ContentIndex;

namespace {

// The hash of a registered file; `missing` reports it when the index does not hold it.
template <class Missing>
std::optional<proto::Hash> file_hash(const ContentIndex& content, const std::string& mod_id,
                                     const std::string& path, Missing missing) {
  auto hash = content.hash_of(mod_id, path);
  if (!hash) missing();
  return hash;
}

// Fonts and pictures: one PictureDef each, a missing file reported with `message` under the
// entry field `what`.
std::vector<proto::PictureDef> picture_defs(std::span<const media::Picture> entries,
                                            const ContentIndex& content, std::string_view message,
                                            std::string_view what) {
  std::vector<proto::PictureDef> out;
  out.reserve(entries.size());
  for (const auto& e : entries) {
    auto hash = file_hash(content, e.mod_id, e.file, [&] {
      OSTREL_ERROR(kTarget, message, log::text("mod_id", e.mod_id), log::text("path", e.file),
                   log::text(what, e.id));
    });
    out.push_back(proto::PictureDef{e.id, e.mod_id, hash});
  }
  return out;
}

}  // namespace

proto::server::SoundTable sound_table(std::span<const media::Sound> sounds, const ContentIndex& content) {
  proto::server::SoundTable table;
  table.sounds.reserve(sounds.size());
  for (const auto& s : sounds) {
    auto hash = file_hash(content, s.mod_id, s.file, [&] {
      OSTREL_ERROR(kTarget,
                   "sound declares a file that is not in the mod directory; clients will play nothing",
                   log::text("mod_id", s.mod_id), log::text("path", s.file), log::text("sound", s.id));
    });
    table.sounds.push_back(proto::SoundDef{s.id, s.mod_id, hash, s.gain, s.pitch_variance});
  }
  OSTREL_INFO(kTarget, "sound table built", log::value("sounds", table.sounds.size()));
  return table;
}

proto::server::FontTable font_table(std::span<const media::Font> fonts, const ContentIndex& content) {
  proto::server::FontTable table{picture_defs(
      fonts, content,
      "font declares a file that is not in the mod directory; clients will draw in their own font", "font")};
  OSTREL_INFO(kTarget, "font table built", log::value("fonts", table.fonts.size()));
  return table;
}

proto::server::PictureTable picture_table(std::span<const media::Picture> pictures,
                                          const ContentIndex& content) {
  proto::server::PictureTable table{picture_defs(
      pictures, content,
      "picture declares a file that is not in the mod directory; clients will draw nothing", "picture")};
  OSTREL_INFO(kTarget, "picture table built", log::value("pictures", table.pictures.size()));
  return table;
}

proto::server::ModelTable model_table(std::span<const media::ModelFile> models, const ContentIndex& content) {
  proto::server::ModelTable table;
  table.models.reserve(models.size());
  for (const auto& m : models) {
    auto file = file_hash(content, m.mod_id, m.file, [&] {
      OSTREL_ERROR(kTarget,
                   "model declares a file that is not in the mod directory; clients will draw nothing for "
                   "entities that name it",
                   log::text("mod_id", m.mod_id), log::text("path", m.file), log::text("model", m.id));
    });
    std::optional<proto::Hash> texture;
    if (m.texture) {
      texture = file_hash(content, m.mod_id, *m.texture, [&] {
        OSTREL_WARN(kTarget,
                    "model declares a texture that is not in the mod directory; it will be drawn matte white",
                    log::text("mod_id", m.mod_id), log::text("path", *m.texture), log::text("model", m.id));
      });
    }
    table.models.push_back(proto::ModelDef{m.id, m.mod_id, file, m.scale, texture});
  }
  OSTREL_INFO(kTarget, "model table built", log::value("models", table.models.size()));
  return table;
}

void check_block_models(std::span<const records::BlockRules> rules, const proto::server::ModelTable& models) {
  std::set<std::string_view> ids;
  for (const auto& m : models.models) ids.insert(m.id);
  for (const auto& r : rules) {
    if (r.model && !ids.contains(*r.model)) {
      OSTREL_ERROR(kTarget, "block names a model nobody registered; clients will draw nothing for it",
                   log::text("block", r.block), log::text("model", *r.model));
    }
  }
}

proto::server::SetTheme choose_theme(const Host* host, const ContentIndex& content,
                                     proto::server::FontTable& fonts, proto::server::PictureTable& pictures) {
  const ostrel_core::modload::resolve::ResolvedMod* chosen = nullptr;
  if (host) {
    std::set<std::string_view> failed;
    for (const auto& e : host->load_errors) failed.insert(e.mod_id);
    const auto& mods = host->resolved.mods;
    for (auto it = mods.rbegin(); it != mods.rend() && !chosen; ++it) {
      if (!failed.contains(it->id) && it->theme) chosen = &*it;
    }
  }
  if (!chosen) {
    OSTREL_INFO(kTarget, "theme chosen", log::value("theme", "None"));
    return {};
  }

  const auto& theme = *chosen->theme;
  proto::ThemeDef def;
  def.mod_id = chosen->id;
  // A file part found in the index is listed as "engine:theme_{part}"; one that is not is left
  // to the client.
  auto part = [&](std::string_view what,
                  const std::optional<std::string>& path) -> std::optional<proto::Hash> {
    if (!path) return std::nullopt;
    return file_hash(content, chosen->id, *path, [&] {
      OSTREL_ERROR(kTarget,
                   "theme names a file that is not in the mod directory; that part of the look will be the "
                   "client's own",
                   log::text("mod_id", chosen->id), log::text("path", *path), log::text("what", what));
    });
  };
  auto font = [&](std::string_view what, const std::optional<std::string>& path,
                  std::optional<std::string>& field) {
    if (auto hash = part(what, path)) {
      field = fmt::format("engine:theme_{}", what);
      fonts.fonts.push_back(proto::PictureDef{*field, chosen->id, hash});
    }
  };
  auto picture = [&](std::string_view what, const std::optional<std::string>& path,
                     std::optional<proto::Hash>& field) {
    if (auto hash = part(what, path)) {
      field = hash;
      pictures.pictures.push_back(proto::PictureDef{fmt::format("engine:theme_{}", what), chosen->id, hash});
    }
  };
  font("font", theme.font, def.font);
  font("text_font", theme.text_font, def.text_font);
  picture("sheet", theme.sheet, def.sheet);
  picture("button", theme.button, def.button);

  auto colour = [](const std::optional<std::string>& text) -> std::optional<proto::Colour> {
    if (!text) return std::nullopt;
    return ostrel_core::modload::manifest::parse_colour(*text);
  };
  def.text_colour = colour(theme.colours.text);
  def.heading_colour = colour(theme.colours.heading);
  def.background_colour = colour(theme.colours.background);
  def.button_colour = colour(theme.colours.button);
  def.accent_colour = colour(theme.colours.accent);

  OSTREL_INFO(kTarget, "theme chosen", log::value("theme", fmt::format("Some({:?})", chosen->id)));
  return proto::server::SetTheme{std::move(def)};
}

proto::server::CloudDeck cloud_deck(std::optional<ostrel_core::atmosphere::CloudLayer> deck) {
  OSTREL_INFO(kTarget, "cloud deck built", log::value("clouds", deck.has_value()));
  return proto::server::CloudDeck{std::move(deck)};
}

proto::server::SoundBindingTable cue_bindings(std::vector<proto::SoundBinding> bindings) {
  OSTREL_INFO(kTarget, "cue bindings built", log::value("bindings", bindings.size()));
  return proto::server::SoundBindingTable{std::move(bindings)};
}

proto::server::HudScriptTable hud_script_table(std::span<const media::ScriptFile> scripts,
                                               const ContentIndex& content) {
  proto::server::HudScriptTable table;
  table.scripts.reserve(scripts.size());
  for (const auto& s : scripts) {
    auto hash = file_hash(content, s.mod_id, s.file, [&] {
      OSTREL_ERROR(kTarget, "HUD script is not in the mod directory; clients will draw nothing for it",
                   log::text("mod_id", s.mod_id), log::text("path", s.file));
    });
    table.scripts.push_back(proto::HudScriptDef{s.mod_id, hash, s.reserve});
  }
  OSTREL_INFO(kTarget, "HUD script table built", log::value("hud_scripts", table.scripts.size()));
  return table;
}

}  // namespace ostrel_server::handle
