// Player settings: manifest declarations, register_setting, game.setting, answers.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/lua_vm/lua_vm.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script {
namespace {

using lua_vm::LuaVm;
using modload::manifest::ManifestSetting;
using test::inspect;
using test::load;
using test::make_engine;
using test::player;

// game.setting(who, id) as text, asked from a throwaway mod.
std::string ask(LuaVm& vm, const std::string& who, const std::string& id) {
  static int n = 0;
  const std::string mod = "ask" + std::to_string(n++);
  auto r = load(vm, mod, "answer = tostring(game.setting('" + who + "', '" + id + "'))");
  if (!r) return r.error().debug();
  vm.push_environment(mod);
  lua_getfield(vm.state(), -1, "answer");
  std::string out = lua_tostring(vm.state(), -1);
  lua_pop(vm.state(), 2);
  return out;
}

TEST(Settings, ManifestDefaultsAndReadBack) {
  auto vm = make_engine();
  const std::vector<ManifestSetting> manifest = {
      {"level", "Level", "How hard", {"gentle", "ordinary", "unfair"}, 2},
      {"off", "Off", "", {}, 0},
      {"on", "On", "", {}, 5},
  };
  vm.declare_manifest_settings("m", manifest);
  ASSERT_TRUE(load(vm, "m", R"(
    game.register_setting({id = "d", options = {"a", "b"}, default = 9})
    game.register_setting({id = "c", default = 3})
    game.register_setting({id = "bare"})
    game.register_setting({id = "m:e", options = {}, name = "E", description = "about e"})
  )"));
  const auto got = vm.registered_settings();
  const std::vector<vm::Setting> want = {
      {"m:level", "m", "Level", "How hard", {"gentle", "ordinary", "unfair"}, 1},
      {"m:off", "m", "Off", "", {}, 0},
      {"m:on", "m", "On", "", {}, 1},
      {"m:d", "m", "d", "", {"a", "b"}, 1},
      {"m:c", "m", "c", "", {}, 1},
      {"m:bare", "m", "bare", "", {}, 0},
      {"m:e", "m", "E", "about e", {}, 0},
  };
  EXPECT_EQ(got, want);
  const auto nobody = std::string(64, '0');
  EXPECT_EQ(ask(vm, nobody, "m:level"), "ordinary");
  EXPECT_EQ(ask(vm, nobody, "m:off"), "false");
  EXPECT_EQ(ask(vm, nobody, "m:on"), "true");
  EXPECT_EQ(ask(vm, nobody, "m:none"), "nil");
  EXPECT_EQ(inspect(vm, "return R['ostrel.settings'][1].manifest"), "true");
  EXPECT_EQ(inspect(vm, "return R['ostrel.settings'][4].manifest"), "nil");
}

TEST(Settings, RegisterSettingRefusals) {
  struct Case {
    const char* name;
    const char* code;
    const char* detail;
  };
  const Case cases[] = {
      {"one_option", "game.register_setting({id = 'x', options = {'only'}})",
       "register_setting(\"x\"): a choice of one is not a choice. Leave `options` out for a "
       "checkbox, or give at least two"},
      {"foreign", "game.register_setting({id = 'other:x'})",
       "mod `m` may not register into namespace `other`: a mod owns only its own id as a "
       "namespace"},
      {"manifest_twice", "game.register_setting({id = 'level'})",
       "m:level is declared in mod.toml; declare a setting once"},
      {"registered_twice", "game.register_setting({id = 'x'}) game.register_setting({id = 'm:x'})",
       "register_setting(\"m:x\"): already registered"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto vm = make_engine();
    const std::vector<ManifestSetting> manifest = {{"level", "Level", "", {}, 1}};
    vm.declare_manifest_settings("m", manifest);
    auto r = load(vm, "m", c.code);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().detail(), c.detail);
    // A refused call writes nothing (the first `x` of registered_twice was accepted).
    EXPECT_EQ(vm.registered_settings().size(), std::string_view(c.name) == "registered_twice" ? 2u : 1u);
  }
  auto vm = make_engine();
  ASSERT_TRUE(vm.freeze());
  auto late = load(vm, "m", "game.register_setting({id = 'x'})");
  ASSERT_FALSE(late.has_value());
  EXPECT_EQ(late.error().detail(), "mod `m`: registration is closed");
}

TEST(Settings, AnswersAreCheckedStoredAndDroppedWhenThePlayerLeaves) {
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "m", R"(
    game.register_setting({id = "mode", options = {"gentle", "ordinary", "unfair"}, default = 1})
    game.register_setting({id = "flag"})
  )"));
  ASSERT_TRUE(load(vm, "n", "game.register_setting({id = 'other', options = {'p', 'q'}})"));
  const auto p = player(0xab);
  const auto hex = p.to_hex();
  EXPECT_TRUE(vm.set_player_setting(p, "m:mode", 2));
  EXPECT_TRUE(vm.set_player_setting(p, "m:flag", 1));
  EXPECT_TRUE(vm.set_player_setting(p, "n:other", 1));
  // Refused: an id nobody declared, values past the range, a checkbox above 1.
  EXPECT_FALSE(vm.set_player_setting(p, "m:nothing", 0));
  EXPECT_FALSE(vm.set_player_setting(p, "m:mode", 3));
  EXPECT_FALSE(vm.set_player_setting(p, "m:flag", 2));
  EXPECT_EQ(inspect(vm, "local n = 0 for _ in pairs(R['ostrel.answers']['" + hex +
                            "']) do n = n + 1 end return n"),
            "3");
  EXPECT_EQ(ask(vm, hex, "m:mode"), "unfair");
  EXPECT_EQ(ask(vm, hex, "m:flag"), "true");
  EXPECT_EQ(ask(vm, hex, "n:other"), "q");
  std::string upper = hex;
  for (auto& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  EXPECT_EQ(ask(vm, upper, "m:mode"), "ordinary");

  // An out-of-range answer already stored (by a mod writing the table) reads as the last option.
  inspect(vm, "R['ostrel.answers']['" + hex + "']['m:mode'] = 7");
  EXPECT_EQ(ask(vm, hex, "m:mode"), "unfair");

  vm.player_leave({p, "ann"});
  EXPECT_EQ(inspect(vm, "return R['ostrel.answers']['" + hex + "']"), "nil");
  EXPECT_EQ(ask(vm, hex, "m:mode"), "ordinary");
}

TEST(Settings, ManifestSettingsOfAFaultedModAreNotOffered) {
  auto vm = make_engine();
  const std::vector<ManifestSetting> manifest = {{"level", "Level", "", {}, 1}};
  vm.declare_manifest_settings("m", manifest);
  ASSERT_FALSE(load(vm, "m", "game.register_setting({id = 'late'}) error('x')").has_value());
  vm.fault("m");
  const auto got = vm.registered_settings();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].id, "m:late");
}

}  // namespace
}  // namespace ostrel_core::script
