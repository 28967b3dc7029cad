// The material, tool, action and setting tables.
#include "start/tables.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/script_engine.hpp"
#include "support/temp_dir.hpp"
#include "support/write_file.hpp"

namespace ostrel_server::handle {
namespace {

namespace proto = ostrel_core::proto;
namespace records = ostrel_core::script::records;
using ostrel_core::content::ContentIndex;
using ostrel_core::material::Registry;
using ostrel_core::persist::idmap::MaterialMap;
using ostrel_core::test::LogCapture;
using ostrel_core::test::TempDir;
using ostrel_core::test::write_file;

Registry registry_of(std::initializer_list<const char*> names) {
  Registry r;
  for (const char* n : names) EXPECT_TRUE(r.register_material(n).has_value());
  return r;
}

std::vector<std::pair<std::uint16_t, std::string>> ids_and_names(const proto::server::MaterialTable& t) {
  std::vector<std::pair<std::uint16_t, std::string>> out;
  for (const auto& m : t.materials) out.emplace_back(m.id, m.name);
  return out;
}

TEST(MaterialTable, WithoutModsHoldsTheEngineMaterialsAndTheExtras) {
  LogCapture logs;
  const auto registry = registry_of({"x:glass"});
  ContentIndex content;
  const auto stage = build_tables(registry, MaterialMap::identity_map(), content, nullptr);
  const auto& t = stage.tables;
  using Ids = std::vector<std::pair<std::uint16_t, std::string>>;
  EXPECT_EQ(ids_and_names(t.materials), (Ids{{0, "engine:air"}, {1, "engine:unknown"}, {2, "x:glass"}}));
  for (const auto& m : t.materials.materials) {
    SCOPED_TRACE(m.name);
    proto::MaterialDef plain;  // default rules, no texture
    plain.id = m.id;
    plain.name = m.name;
    plain.block = true;
    EXPECT_EQ(m, plain);
  }
  EXPECT_TRUE(t.tools.tools.empty());
  EXPECT_TRUE(t.actions.actions.empty());
  EXPECT_TRUE(t.settings.settings.empty());
  EXPECT_TRUE(stage.block_rules.empty());
  EXPECT_TRUE(stage.items.empty());
  EXPECT_EQ(logs.containing("action table built actions=0").size(), 1u);
  EXPECT_EQ(logs.containing("mod setting table built settings=0").size(), 1u);
  EXPECT_EQ(logs.containing("material table built materials=3 textured=0").size(), 1u);
}

TEST(MaterialTable, IsOrderedByTheWorldsIdsAndLeavesOutWhatHasNone) {
  LogCapture logs;
  // A world made before `m:a` was added: it knows m:b as 2, so m:a became 3, and `m:gone`
  // (runtime 4) has no world id at all.
  const auto registry = registry_of({"m:a", "m:b", "m:gone"});
  MaterialMap map;
  map.forward = {0, 1, 3, 2, ostrel_core::persist::idmap::kUnmapped};
  ContentIndex content;
  const auto t = material_table(registry, map, content, {}, {}, {});
  using Ids = std::vector<std::pair<std::uint16_t, std::string>>;
  EXPECT_EQ(ids_and_names(t), (Ids{{0, "engine:air"}, {1, "engine:unknown"}, {2, "m:b"}, {3, "m:a"}}));
  const auto warned = logs.containing("a material has no world id; clients will not be told of it");
  ASSERT_EQ(warned.size(), 1u);
  EXPECT_NE(warned[0].find(" WARN ostrel_server::handle: "), std::string::npos);
  EXPECT_NE(warned[0].find("material=\"m:gone\""), std::string::npos);

  // A table shorter than the registry leaves the rest out too.
  map.forward = {0, 1, 3};
  EXPECT_EQ(ids_and_names(material_table(registry, map, content, {}, {}, {})),
            (Ids{{0, "engine:air"}, {1, "engine:unknown"}, {3, "m:a"}}));
}

TEST(MaterialTable, TexturesComeFromTheIndexAndAMissingOneIsReported) {
  LogCapture logs;
  TempDir dir;
  write_file(dir / "m" / "textures" / "stone.png", "stone");
  ContentIndex content;
  ASSERT_TRUE(content.add_mod_with("m", dir / "m", {}).has_value());
  const auto registry = registry_of({"m:stone", "m:glass", "m:sand"});
  const std::vector<records::BlockTexture> textures = {
      {"m:stone", "m", "textures/old.png"},  // replaced by the later entry
      {"m:stone", "m", "textures/stone.png"},
      {"m:glass", "m", "textures/glass.png"},
  };
  const auto t = material_table(registry, MaterialMap::identity_map(), content, textures, {}, {});
  ASSERT_EQ(t.materials.size(), 5u);
  EXPECT_EQ(t.materials[2].texture, content.hash_of("m", "textures/stone.png"));
  EXPECT_TRUE(t.materials[2].texture.has_value());
  EXPECT_EQ(t.materials[3].name, "m:glass");
  EXPECT_FALSE(t.materials[3].texture.has_value());  // still listed
  EXPECT_FALSE(t.materials[4].texture.has_value());  // no texture declared: no event
  const auto errors = logs.containing(
      "block declares a texture that is not in the mod directory; clients will "
      "draw the missing-texture placeholder");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("ERROR ostrel_server::handle: "), std::string::npos);
  EXPECT_NE(errors[0].find("mod_id=\"m\" path=\"textures/glass.png\" block=\"m:glass\""), std::string::npos);
}

TEST(MaterialTable, RulesAreCopiedAndItemsAreNotBlocks) {
  records::BlockRules lamp;
  lamp.block = "m:lamp";
  lamp.step_sound = "m:clink";
  lamp.transparent = true;
  lamp.passable = true;
  lamp.sway = true;
  lamp.friction = 0.25f;
  lamp.tint = records::Tint{{1, 2, 3}, {4, 5, 6}, 77, 200};
  lamp.whole = true;
  lamp.model = "m:lamp";
  lamp.flicker = records::Flicker{12, 99};
  records::BlockRules leaf;
  leaf.block = "m:leaf";
  leaf.cutout = true;
  leaf.billboard = true;
  leaf.cross = true;
  records::BlockRules bush = leaf;
  bush.block = "m:bush";
  bush.cross = false;
  records::BlockRules stick;  // an item with rules
  stick.block = "m:stick";
  stick.passable = true;
  const std::vector<records::BlockRules> rules = {lamp, leaf, bush, stick};
  const std::vector<std::string> items = {"m:stick"};
  const auto registry = registry_of({"m:lamp", "m:leaf", "m:bush", "m:stick"});
  ContentIndex content;
  const auto t = material_table(registry, MaterialMap::identity_map(), content, {}, rules, items);
  ASSERT_EQ(t.materials.size(), 6u);

  proto::MaterialDef want_lamp;
  want_lamp.step_sound = "m:clink";
  want_lamp.id = 2;
  want_lamp.name = "m:lamp";
  want_lamp.block = true;
  want_lamp.transparent = true;
  want_lamp.passable = true;
  want_lamp.sway = true;
  want_lamp.friction = 0.25f;
  want_lamp.tint = proto::MaterialTint{200, 77, {1, 2, 3}, {4, 5, 6}};
  want_lamp.whole = true;
  want_lamp.model = "m:lamp";
  want_lamp.flicker = proto::MaterialFlicker{99, 12};
  EXPECT_EQ(t.materials[2], want_lamp);

  struct Flags {
    const char* name;
    bool billboard, cross, cutout, block;
  };
  const Flags flags[] = {{"m:leaf", true, true, true, true},
                         {"m:bush", true, false, true, true},
                         {"m:stick", false, false, false, false}};
  for (std::size_t i = 0; i < std::size(flags); ++i) {
    const auto& m = t.materials[3 + i];
    SCOPED_TRACE(flags[i].name);
    EXPECT_EQ(m.name, flags[i].name);
    EXPECT_EQ(m.billboard, flags[i].billboard);
    EXPECT_EQ(m.cross, flags[i].cross);
    EXPECT_EQ(m.cutout, flags[i].cutout);
    EXPECT_EQ(m.block, flags[i].block);
  }
  EXPECT_TRUE(t.materials[5].passable);  // an item keeps its rules
}

TEST(ToolTable, ListsToolsInOrderAndNamesANamelessOneByItsId) {
  std::vector<records::Tool> tools(2);
  tools[0].id = "m:chisel";
  tools[0].brush = records::Brush::Subnode;
  tools[1].id = "m:pick";
  tools[1].name = "Pickaxe";
  tools[1].is_default = true;
  const auto t = tool_table(tools);
  const std::vector<proto::ToolDef> want = {{"m:chisel", "m:chisel", "subnode", false},
                                            {"m:pick", "Pickaxe", "block", true}};
  EXPECT_EQ(t.tools, want);
}

TEST(ActionTable, KeepsTheRegistrationsInOrder) {
  LogCapture logs;
  const std::vector<ostrel_core::script::media::Action> actions = {{"m:jump", "Jump", "Space", "m"},
                                                                   {"m:act", "", "", "m"}};
  const auto t = action_table(actions);
  const std::vector<proto::ActionDef> want = {{"m:jump", "Jump", "m", "Space"}, {"m:act", "", "m", ""}};
  EXPECT_EQ(t.actions, want);
  EXPECT_EQ(logs.containing("INFO ostrel_server::handle: action table built actions=2").size(), 1u);
}

std::vector<ostrel_core::script::vm::Setting> settings_of(std::size_t n) {
  std::vector<ostrel_core::script::vm::Setting> out(n);
  for (std::size_t i = 0; i < n; ++i) {
    out[i].id = "m:s" + std::to_string(i + 1);
    out[i].mod_id = "m";
  }
  return out;
}

TEST(SettingTable, KeepsAtMostSixtyFourAndWarnsAboutTheRest) {
  struct Case {
    std::size_t declared;
    std::size_t kept;
    bool warns;
  };
  for (const Case c : {Case{0, 0, false}, Case{64, 64, false}, Case{65, 64, true}, Case{100, 64, true}}) {
    SCOPED_TRACE(c.declared);
    LogCapture logs;
    const auto t = setting_table(settings_of(c.declared));
    ASSERT_EQ(t.settings.size(), c.kept);
    if (c.kept) {
      EXPECT_EQ(t.settings.back().id, "m:s" + std::to_string(c.kept));  // the first ones, in order
    }
    const auto warned = logs.containing(
        " WARN ostrel_server::handle: more mod settings than a screen holds; the rest "
        "are dropped");
    if (c.warns) {
      ASSERT_EQ(warned.size(), 1u);
      EXPECT_NE(warned[0].find("declared=" + std::to_string(c.declared) + " cap=64"), std::string::npos);
    } else {
      EXPECT_TRUE(warned.empty());
    }
    EXPECT_EQ(logs.containing("mod setting table built settings=" + std::to_string(c.kept)).size(), 1u);
  }
}

TEST(SettingTable, AChoicesDefaultGoesOutOneBased) {
  std::vector<ostrel_core::script::vm::Setting> settings(3);
  settings[0] = {"m:fast", "m", "Fast", "Go fast", {}, 1};
  settings[1] = {"m:size", "m", "Size", "", {"small", "large"}, 0};
  settings[2] = {"m:mode", "m", "Mode", "", {"a", "b", "c"}, 2};
  const auto t = setting_table(settings);
  const std::vector<proto::SettingDef> want = {
      {"m", "m:fast", "Fast", "Go fast", false, {}, 1},
      {"m", "m:size", "Size", "", true, {"small", "large"}, 1},
      {"m", "m:mode", "Mode", "", true, {"a", "b", "c"}, 3},
  };
  EXPECT_EQ(t.settings, want);
}

}  // namespace
}  // namespace ostrel_server::handle
