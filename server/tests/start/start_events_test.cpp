// The first stage and the tables together, on mods loaded from a directory: what reaches the
// tables and the order of the start's events.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "start/stage_mods.hpp"
#include "start/tables.hpp"
#include "support/mod_files.hpp"
#include "support/script_engine.hpp"
#include "support/temp_dir.hpp"
#include "support/write_file.hpp"

namespace ostrel_server::handle {
namespace {

namespace fs = std::filesystem;
using ostrel_core::test::LogCapture;
using ostrel_core::test::TempDir;
using ostrel_core::test::write_file;
using ostrel_core::test::write_mod;

constexpr const char* kAlphaInit = R"(
game.register_block{ id = "stone", textures = { all = "textures/stone.png" } }
game.register_block{ id = "glass", textures = { all = "textures/glass.png" } }
game.register_item{ id = "stick" }
game.register_tool{ id = "pick", default = true }
game.register_action{ id = "jump", description = "Jump", default_key = "Space" }
game.register_setting{ id = "fast", name = "Fast" }
game.register_sound{ id = "ping", file = "sounds/ping.ogg" }
game.register_font{ id = "serif", file = "fonts/serif.ttf" }
game.register_picture{ id = "logo", file = "pics/logo.png" }
game.register_model{ id = "lamp", file = "models/lamp.glb", texture = "models/lamp.png" }
game.register_block{ id = "lantern", model = "Lamp" }
game.bind_sound("dig", "ping")
game.register_clouds{ base = 200 }
game.register_hud_script{ file = "hud.lua", reserve = 12 }
)";

constexpr const char* kAlphaTheme = R"(
[theme]
font = "fonts/title.ttf"
sheet = "ui/sheet.png"
button = "ui/button.png"
[theme.colours]
text = "#112233"
)";

void write_fixture(const fs::path& mods) {
  write_mod(mods, "alpha", kAlphaInit, kAlphaTheme);
  for (const char* f : {"textures/stone.png", "sounds/ping.ogg", "fonts/serif.ttf", "fonts/title.ttf",
                        "pics/logo.png", "models/lamp.glb", "models/lamp.png", "hud.lua", "ui/button.png"}) {
    write_file(mods / "alpha" / f, f);
  }
  write_mod(mods, "broken", "game.register_block{ id = 'rock' }\nerror('boom')");
}

// "LEVEL message" of each event of `ostrel_server::handle`, the fields cut off at `fields`.
std::vector<std::string> handle_events(const LogCapture& logs) {
  constexpr std::string_view kTargetColon = " ostrel_server::handle: ";
  std::vector<std::string> out;
  for (const auto& line : logs.lines()) {
    const auto at = line.find(kTargetColon);
    if (at == std::string::npos) continue;
    std::string_view before(line.data(), at);
    const std::string_view level = before.substr(before.find_last_of(' ') + 1);
    out.push_back(std::string(level) + " " + line.substr(at + kTargetColon.size()));
  }
  return out;
}

TEST(StartEvents, ComeInStageOrder) {
  LogCapture logs;
  TempDir dir;
  write_fixture(dir / "mods");
  Settings s;
  s.world_path = dir / "world";
  s.mods_path = dir / "mods";
  s.extra_materials = {"engine:air", "x:extra"};
  auto stage = load_mods_and_world(s);
  ASSERT_TRUE(stage.has_value()) << ostrel_core::report(stage.error());
  const auto tables = build_tables(stage->registry, stage->world.materials(), stage->content, &*stage->host);

  const std::vector<std::string> want = {
      "ERROR mod failed to load and is disabled: mod `broken` errored in init.lua",
      "INFO mods loaded and registries frozen mods=2 disabled=1 blocks=5 content_items=11 ",
      "ERROR could not register material `engine:air`: `engine:air` is reserved by the engine",
      "ERROR block declares a texture that is not in the mod directory; clients will draw the "
      "missing-texture placeholder mod_id=\"alpha\" path=\"textures/glass.png\" block=\"alpha:glass\"",
      "INFO action table built actions=1",
      "INFO mod setting table built settings=1",
      "INFO sound table built sounds=1",
      "INFO font table built fonts=1",
      "INFO picture table built pictures=1",
      "INFO model table built models=1",
      "ERROR block names a model nobody registered; clients will draw nothing for it block=\"alpha:lantern\" "
      "model=\"alpha:Lamp\"",
      "ERROR theme names a file that is not in the mod directory; that part of the look will be the client's "
      "own mod_id=\"alpha\" path=\"ui/sheet.png\" what=\"sheet\"",
      "INFO theme chosen theme=Some(\"alpha\")",
      "INFO cloud deck built clouds=true",
      "INFO cue bindings built bindings=1",
      "INFO HUD script table built hud_scripts=1",
      "INFO material table built materials=8 textured=1",
  };
  const auto got = handle_events(logs);
  ASSERT_EQ(got.size(), want.size()) << testing::PrintToString(got);
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].substr(0, want[i].size()), want[i]) << "event " << i;
  }

  // What the tables hold.
  const auto& t = tables.tables;
  // The theme's files come after the counts were logged.
  ASSERT_EQ(t.fonts.fonts.size(), 2u);
  EXPECT_EQ(t.fonts.fonts[1].id, "engine:theme_font");
  ASSERT_EQ(t.pictures.pictures.size(), 2u);
  EXPECT_EQ(t.pictures.pictures[1].id, "engine:theme_button");
  EXPECT_TRUE(t.sounds.sounds[0].file.has_value());
  EXPECT_TRUE(t.models.models[0].texture.has_value());
  EXPECT_EQ(t.hud_scripts.scripts[0].reserve, 12u);
  EXPECT_TRUE(t.hud_scripts.scripts[0].file.has_value());  // indexed as the mod's extra file
  EXPECT_EQ(t.tools.tools.at(0).name, "alpha:pick");
  EXPECT_EQ(stage->mods.size(), 2u);
  EXPECT_EQ(tables.items, std::vector<std::string>{"alpha:stick"});
  bool stick_is_item = false;
  for (const auto& m : t.materials.materials) stick_is_item |= m.name == "alpha:stick" && !m.block;
  EXPECT_TRUE(stick_is_item);
}

TEST(StartEvents, TheMaterialTableOfAWorldMadeBeforeAModWasAddedFollowsTheWorldsIds) {
  TempDir dir;
  Settings s;
  s.world_path = dir / "world";
  s.mods_path = dir / "mods";
  write_mod(dir / "mods", "m", "game.register_block{ id = 'b' }");
  { ASSERT_TRUE(load_mods_and_world(s).has_value()); }  // the world knows m:b as 2

  write_mod(dir / "mods", "m", "game.register_block{ id = 'a' }\ngame.register_block{ id = 'b' }");
  auto stage = load_mods_and_world(s);
  ASSERT_TRUE(stage.has_value()) << ostrel_core::report(stage.error());
  EXPECT_EQ(stage->registry.id_of("m:a"), 2);  // this run's ids follow registration
  const auto t = build_tables(stage->registry, stage->world.materials(), stage->content, &*stage->host);
  std::vector<std::pair<std::uint16_t, std::string>> got;
  for (const auto& m : t.tables.materials.materials) got.emplace_back(m.id, m.name);
  using Ids = std::vector<std::pair<std::uint16_t, std::string>>;
  EXPECT_EQ(got, (Ids{{0, "engine:air"}, {1, "engine:unknown"}, {2, "m:b"}, {3, "m:a"}}));
}

}  // namespace
}  // namespace ostrel_server::handle
