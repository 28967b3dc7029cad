// The sound, font, picture, model and HUD script tables, the block model check, the theme, the
// cloud deck and the cue bindings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "start/tables.hpp"
#include "support/script_engine.hpp"
#include "support/temp_dir.hpp"
#include "support/write_file.hpp"

namespace ostrel_server::handle {
namespace {

namespace fs = std::filesystem;
namespace proto = ostrel_core::proto;
namespace media = ostrel_core::script::media;
namespace manifest = ostrel_core::modload::manifest;
using ostrel_core::content::ContentIndex;
using ostrel_core::test::LogCapture;
using ostrel_core::test::TempDir;
using ostrel_core::test::write_file;

// An index of mod `id` holding `files` (paths under its directory, each with its path as bytes).
void index_mod(ContentIndex& content, const TempDir& dir, const std::string& id,
               std::initializer_list<const char*> files) {
  for (const char* f : files) write_file(dir / id.c_str() / f, f);
  fs::create_directories(dir / id.c_str());
  ASSERT_TRUE(content.add_mod_with(id, dir / id.c_str(), {}).has_value());
}

TEST(MediaTables, MissingFilesAreReportedAndTheirEntriesKeptWithoutAHash) {
  LogCapture logs;
  TempDir dir;
  ContentIndex content;
  index_mod(content, dir, "m", {"ping.ogg", "serif.ttf", "logo.png", "lamp.glb", "lamp.png", "hud.json"});

  const std::vector<media::Sound> sounds = {{"m:ping", "ping.ogg", 0.5f, 0.1f, "m"},
                                            {"m:gone", "gone.ogg", 2.0f, 0.0f, "m"}};
  const auto st = sound_table(sounds, content);
  const std::vector<proto::SoundDef> want_sounds = {
      {"m:ping", "m", content.hash_of("m", "ping.ogg"), 0.5f, 0.1f},
      {"m:gone", "m", std::nullopt, 2.0f, 0.0f}};
  EXPECT_EQ(st.sounds, want_sounds);

  const std::vector<media::Font> fonts = {{"m:serif", "m", "serif.ttf"}, {"m:sans", "m", "sans.ttf"}};
  const auto ft = font_table(fonts, content);
  const std::vector<proto::PictureDef> want_fonts = {{"m:serif", "m", content.hash_of("m", "serif.ttf")},
                                                     {"m:sans", "m", std::nullopt}};
  EXPECT_EQ(ft.fonts, want_fonts);

  const std::vector<media::Picture> pictures = {{"m:logo", "m", "logo.png"}, {"m:bg", "m", "bg.png"}};
  const auto pt = picture_table(pictures, content);
  const std::vector<proto::PictureDef> want_pictures = {{"m:logo", "m", content.hash_of("m", "logo.png")},
                                                        {"m:bg", "m", std::nullopt}};
  EXPECT_EQ(pt.pictures, want_pictures);

  const std::vector<media::ModelFile> models = {
      {"m:lamp", "lamp.glb", 2.0f, "lamp.png", "m"},    // both found
      {"m:post", "lamp.glb", 1.0f, "post.png", "m"},    // texture missing: the file's hash stays
      {"m:bare", "lamp.glb", 1.0f, std::nullopt, "m"},  // no texture: no event
      {"m:ghost", "ghost.glb", 1.0f, std::nullopt, "m"}};
  const auto mt = model_table(models, content);
  const auto glb = content.hash_of("m", "lamp.glb");
  const std::vector<proto::ModelDef> want_models = {
      {"m:lamp", "m", glb, 2.0f, content.hash_of("m", "lamp.png")},
      {"m:post", "m", glb, 1.0f, std::nullopt},
      {"m:bare", "m", glb, 1.0f, std::nullopt},
      {"m:ghost", "m", std::nullopt, 1.0f, std::nullopt}};
  EXPECT_EQ(mt.models, want_models);

  const std::vector<media::ScriptFile> scripts = {{"hud.json", 40, "m"}, {"gone.json", 0, "n"}};
  const auto ht = hud_script_table(scripts, content);
  const std::vector<proto::HudScriptDef> want_scripts = {{"m", content.hash_of("m", "hud.json"), 40},
                                                         {"n", std::nullopt, 0}};
  EXPECT_EQ(ht.scripts, want_scripts);

  struct Line {
    const char* text;
  };
  const Line lines[] = {
      {"ERROR ostrel_server::handle: sound declares a file that is not in the mod directory; clients will "
       "play nothing mod_id=\"m\" path=\"gone.ogg\" sound=\"m:gone\""},
      {"INFO ostrel_server::handle: sound table built sounds=2"},
      {"ERROR ostrel_server::handle: font declares a file that is not in the mod directory; clients will "
       "draw in their own font mod_id=\"m\" path=\"sans.ttf\" font=\"m:sans\""},
      {"INFO ostrel_server::handle: font table built fonts=2"},
      {"ERROR ostrel_server::handle: picture declares a file that is not in the mod directory; clients will "
       "draw nothing mod_id=\"m\" path=\"bg.png\" picture=\"m:bg\""},
      {"INFO ostrel_server::handle: picture table built pictures=2"},
      {"WARN ostrel_server::handle: model declares a texture that is not in the mod directory; it will be "
       "drawn matte white mod_id=\"m\" path=\"post.png\" model=\"m:post\""},
      {"ERROR ostrel_server::handle: model declares a file that is not in the mod directory; clients will "
       "draw nothing for entities that name it mod_id=\"m\" path=\"ghost.glb\" model=\"m:ghost\""},
      {"INFO ostrel_server::handle: model table built models=4"},
      {"ERROR ostrel_server::handle: HUD script is not in the mod directory; clients will draw nothing for "
       "it mod_id=\"n\" path=\"gone.json\""},
      {"INFO ostrel_server::handle: HUD script table built hud_scripts=2"},
  };
  ASSERT_EQ(logs.lines().size(), std::size(lines));
  for (std::size_t i = 0; i < std::size(lines); ++i) {
    EXPECT_NE(logs.lines()[i].find(lines[i].text), std::string::npos) << logs.lines()[i];
  }
}

TEST(MediaTables, ABlockNamingAnUnregisteredModelIsReported) {
  LogCapture logs;
  proto::server::ModelTable models;
  models.models.push_back({"m:lamp", "m", std::nullopt, 1.0f, std::nullopt});
  std::vector<ostrel_core::script::records::BlockRules> rules(3);
  rules[0].block = "m:lantern";
  rules[0].model = "m:lamp";
  rules[1].block = "m:torch";
  rules[1].model = "m:Lamp";  // differs in case only
  rules[2].block = "m:stone";
  check_block_models(rules, models);
  const auto lines =
      logs.containing("block names a model nobody registered; clients will draw nothing for it");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("ERROR ostrel_server::handle: "), std::string::npos);
  EXPECT_NE(lines[0].find("block=\"m:torch\" model=\"m:Lamp\""), std::string::npos);
}

// A host over the given resolved mods, with the named ones failed; no mod runs.
Host host_of(std::vector<ostrel_core::modload::resolve::ResolvedMod> mods, std::vector<std::string> failed) {
  Host h{{std::move(mods), {}}, {}, {}, ostrel_core::test::make_engine()};
  for (auto& id : failed) {
    h.load_errors.push_back({id, ostrel_core::script::vm::ScriptError::runtime(id, "init.lua", "boom")});
  }
  return h;
}

ostrel_core::modload::resolve::ResolvedMod themed(const std::string& id,
                                                  std::optional<manifest::Theme> theme) {
  ostrel_core::modload::resolve::ResolvedMod m;
  m.id = id;
  m.theme = std::move(theme);
  return m;
}

manifest::Theme theme_with_font(const char* font) {
  manifest::Theme t;
  t.font = font;
  return t;
}

TEST(Theme, TheLastModThatLoadedWins) {
  TempDir dir;
  ContentIndex content;
  index_mod(content, dir, "a", {"a.ttf"});
  index_mod(content, dir, "b", {"b.ttf"});
  struct Case {
    const char* name;
    std::vector<std::string> failed;
    std::optional<std::string> winner;
  };
  const Case cases[] = {
      {"later_loaded", {}, "b"},
      {"later_failed", {"b"}, "a"},
      {"both_failed", {"a", "b"}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture logs;
    const auto host = host_of({themed("a", theme_with_font("a.ttf")), themed("b", theme_with_font("b.ttf")),
                               themed("c", std::nullopt)},
                              c.failed);
    proto::server::FontTable fonts;
    proto::server::PictureTable pictures;
    const auto theme = choose_theme(&host, content, fonts, pictures);
    if (!c.winner) {
      EXPECT_FALSE(theme.theme.has_value());
      EXPECT_TRUE(fonts.fonts.empty());
      EXPECT_EQ(logs.containing("INFO ostrel_server::handle: theme chosen theme=None").size(), 1u);
      continue;
    }
    ASSERT_TRUE(theme.theme.has_value());
    EXPECT_EQ(theme.theme->mod_id, *c.winner);
    EXPECT_EQ(theme.theme->font, "engine:theme_font");
    const std::vector<proto::PictureDef> want = {
        {"engine:theme_font", *c.winner, content.hash_of(*c.winner, *c.winner + ".ttf")}};
    EXPECT_EQ(fonts.fonts, want);
    EXPECT_EQ(
        logs.containing("INFO ostrel_server::handle: theme chosen theme=Some(\"" + *c.winner + "\")").size(),
        1u);
  }
}

TEST(Theme, PartsFoundAreListedAndAMissingOneIsLeftToTheClient) {
  LogCapture logs;
  TempDir dir;
  ContentIndex content;
  index_mod(content, dir, "t", {"fonts/head.ttf", "fonts/body.otf", "ui/button.png"});
  manifest::Theme theme;
  theme.font = "fonts/head.ttf";
  theme.text_font = "fonts/body.otf";
  theme.sheet = "ui/sheet.png";  // not shipped
  theme.button = "ui\\button.png";
  theme.colours.text = "#102030";
  theme.colours.heading = "#A0b0C080";
  theme.colours.accent = "#12345";  // refused by the manifest check; here simply no colour
  const auto host = host_of({themed("t", theme)}, {});
  proto::server::FontTable fonts;
  fonts.fonts.push_back({"t:mine", "t", std::nullopt});
  proto::server::PictureTable pictures;
  const auto got = choose_theme(&host, content, fonts, pictures);
  ASSERT_TRUE(got.theme.has_value());

  proto::ThemeDef want;
  want.mod_id = "t";
  want.font = "engine:theme_font";
  want.text_font = "engine:theme_text_font";
  want.button = content.hash_of("t", "ui/button.png");
  want.text_colour = proto::Colour{0x10, 0x20, 0x30, 0xFF};
  want.heading_colour = proto::Colour{0xA0, 0xB0, 0xC0, 0x80};
  EXPECT_EQ(*got.theme, want);
  EXPECT_TRUE(want.button.has_value());

  const std::vector<proto::PictureDef> want_fonts = {
      {"t:mine", "t", std::nullopt},
      {"engine:theme_font", "t", content.hash_of("t", "fonts/head.ttf")},
      {"engine:theme_text_font", "t", content.hash_of("t", "fonts/body.otf")}};
  EXPECT_EQ(fonts.fonts, want_fonts);
  const std::vector<proto::PictureDef> want_pictures = {{"engine:theme_button", "t", want.button}};
  EXPECT_EQ(pictures.pictures, want_pictures);

  const auto missing = logs.containing(
      "theme names a file that is not in the mod directory; that part of the look "
      "will be the client's own");
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_NE(missing[0].find("ERROR ostrel_server::handle: "), std::string::npos);
  EXPECT_NE(missing[0].find("mod_id=\"t\" path=\"ui/sheet.png\" what=\"sheet\""), std::string::npos);
}

TEST(MediaTables, WithoutModsEveryTableIsEmptyAndThereIsNoThemeOrDeck) {
  LogCapture logs;
  ostrel_core::material::Registry registry;
  ContentIndex content;
  const auto stage =
      build_tables(registry, ostrel_core::persist::idmap::MaterialMap::identity_map(), content, nullptr);
  const auto& t = stage.tables;
  EXPECT_TRUE(t.sounds.sounds.empty());
  EXPECT_TRUE(t.fonts.fonts.empty());
  EXPECT_TRUE(t.pictures.pictures.empty());
  EXPECT_TRUE(t.models.models.empty());
  EXPECT_FALSE(t.theme.theme.has_value());
  EXPECT_FALSE(t.cloud_deck.layer.has_value());
  EXPECT_TRUE(t.sound_bindings.bindings.empty());
  EXPECT_TRUE(t.hud_scripts.scripts.empty());
  EXPECT_EQ(logs.containing("theme chosen theme=None").size(), 1u);
  EXPECT_EQ(logs.containing("cloud deck built clouds=false").size(), 1u);
  EXPECT_EQ(logs.containing("cue bindings built bindings=0").size(), 1u);
}

TEST(MediaTables, TheDeckAndTheBindingsPassThrough) {
  LogCapture logs;
  ostrel_core::atmosphere::CloudLayer deck;
  deck.base = 300.0f;
  EXPECT_EQ(cloud_deck(deck).layer, deck);
  const std::vector<proto::SoundBinding> bindings = {{"m:dig", "m:crunch", "m"},
                                                     {"m:step", "x:nowhere", "m"}};
  EXPECT_EQ(cue_bindings(bindings).bindings, bindings);
  EXPECT_EQ(logs.containing("cloud deck built clouds=true").size(), 1u);
  EXPECT_EQ(logs.containing("cue bindings built bindings=2").size(), 1u);
}

}  // namespace
}  // namespace ostrel_server::handle
