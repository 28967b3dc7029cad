// Tools with their speed resolution, fluids, domains, generators and tick callbacks: defaults,
// refusals with exact texts, what a refusal leaves (nothing), and the readers' order.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/lua_vm/lua_vm.hpp"
#include "script/read/records.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script {
namespace {

using records::Brush;
using records::FluidRules;
using records::Tool;
using test::inspect;
using test::load;
using test::make_engine;

std::string refusal(lua_vm::LuaVm& vm, std::string_view code) {
  auto r = load(vm, "m", code);
  if (r) return "<accepted>";
  return r.error().detail();
}

struct Case {
  const char* name;
  const char* code;  // init.lua of mod `m`
  const char* text;
  const char* table;  // the registry table that must stay empty
};

const Case kRefusals[] = {
    {"tool_missing_id", "game.register_tool({})", "register_tool: missing required field `id`",
     "ostrel.tools"},
    {"tool_unknown_field", "game.register_tool({id = 'pick', colour = 1})",
     "register_tool(\"pick\"): unknown field `colour`", "ostrel.tools"},
    {"tool_foreign", "game.register_tool({id = 'o:pick'})",
     "mod `m` may not register into namespace `o`: a mod owns only its own id as a namespace",
     "ostrel.tools"},
    {"tool_brush", "game.register_tool({id = 'pick', brush = 'chisel'})",
     "register_tool(\"m:pick\"): unknown brush `chisel`. The engine implements `block` and "
     "`subnode`.",
     "ostrel.tools"},
    {"tool_speed_zero", "game.register_tool({id = 'pick', speed_multiplier = 0})",
     "register_tool(\"m:pick\"): speed_multiplier must be a positive number, got 0. A tool that "
     "digs at zero speed never finishes, which reads as a hung client rather than as a mistake "
     "in a mod.",
     "ostrel.tools"},
    {"tool_speeds_negative", "game.register_tool({id = 'pick', speeds = {dirt = -1}})",
     "register_tool(\"m:pick\"): speeds[\"dirt\"] must be a positive number, got -1",
     "ostrel.tools"},
    {"tool_speeds_single_precision", "game.register_tool({id = 'pick', speeds = {dirt = 1e-50}})",
     "register_tool(\"m:pick\"): speeds[\"dirt\"] must be a positive number, got 0",
     "ostrel.tools"},
    {"tool_speeds_collide", "game.register_tool({id = 'pick', speeds = {dirt = 1, ['m:dirt'] = 2}})",
     "register_tool(\"m:pick\"): speeds keys `dirt` and `m:dirt` both name `m:dirt`; name each "
     "block once",
     "ostrel.tools"},
    {"tool_speeds_not_a_table", "game.register_tool({id = 'pick', speeds = 3})",
     "register_tool(\"m:pick\"): bad field `speeds` (expected table, got integer)", "ostrel.tools"},
    {"fluid_missing_material", "game.register_fluid({id = 'water'})",
     "register_fluid(\"m:water\"): missing required field `material`. A fluid is drawn as a "
     "registered block; name the one it should look like.",
     "ostrel.fluids"},
    {"fluid_foreign_material", "game.register_fluid({id = 'water', material = 'o:water'})",
     "mod `m` may not register into namespace `o`: a mod owns only its own id as a namespace",
     "ostrel.fluids"},
    {"fluid_unknown_field", "game.register_fluid({id = 'water', material = 'w', colour = {}})",
     "register_fluid(\"water\"): unknown field `colour`", "ostrel.fluids"},
    {"fluid_waterlogs_zero", "game.register_fluid({id = 'w', material = 'w', waterlogs_at = 0})",
     "register_fluid(\"m:w\"): waterlogs_at must be 1..=27, got 0. It is how many of a block's "
     "27 cells must be filled before this fluid treats it as floor.",
     "ostrel.fluids"},
    {"fluid_waterlogs_28", "game.register_fluid({id = 'w', material = 'w', waterlogs_at = 28})",
     "register_fluid(\"m:w\"): waterlogs_at must be 1..=27, got 28. It is how many of a block's "
     "27 cells must be filled before this fluid treats it as floor.",
     "ostrel.fluids"},
    {"fluid_waterlogs_negative", "game.register_fluid({id = 'w', material = 'w', waterlogs_at = -1})",
     "register_fluid(\"m:w\"): waterlogs_at must be 1..=27, got -1. It is how many of a block's "
     "27 cells must be filled before this fluid treats it as floor.",
     "ostrel.fluids"},
    {"fluid_waterlogs_huge", "game.register_fluid({id = 'w', material = 'w', waterlogs_at = 1e20})",
     "register_fluid(\"m:w\"): waterlogs_at must be 1..=27, got 100000000000000000000. It is how "
     "many of a block's 27 cells must be filled before this fluid treats it as floor.",
     "ostrel.fluids"},
    {"fluid_waterlogs_fraction", "game.register_fluid({id = 'w', material = 'w', waterlogs_at = 1.5})",
     "register_fluid(\"m:w\"): waterlogs_at must be 1..=27, got 1.5. It is how many of a block's "
     "27 cells must be filled before this fluid treats it as floor.",
     "ostrel.fluids"},
    {"fluid_tick_rate_zero", "game.register_fluid({id = 'w', material = 'w', tick_rate = 0})",
     "register_fluid(\"m:w\"): tick_rate must be at least 1, got 0. A fluid that updates every "
     "zeroth tick never moves, which reads as the engine ignoring the mod.",
     "ostrel.fluids"},
    {"fluid_tick_rate_300", "game.register_fluid({id = 'w', material = 'w', tick_rate = 300})",
     "register_fluid(\"m:w\"): tick_rate must be 1..=255, got 300. It is how many simulation "
     "ticks pass between the fluid's updates.",
     "ostrel.fluids"},
    {"fluid_evaporates_text", "game.register_fluid({id = 'w', material = 'w', evaporates = 'often'})",
     "register_fluid(\"m:w\"): evaporates must be 0..=4294967295, got string. It is one in how "
     "many fluid ticks a block open to the air loses a cell; 0 never.",
     "ostrel.fluids"},
    {"fluid_color_g", "game.register_fluid({id = 'w', material = 'w', color = {g = 256}})",
     "register_fluid(\"m:w\"): color.g must be 0..=255, got 256", "ostrel.fluids"},
    {"fluid_color_b", "game.register_fluid({id = 'w', material = 'w', color = {b = -1}})",
     "register_fluid(\"m:w\"): color.b must be 0..=255, got -1", "ostrel.fluids"},
    {"fluid_opacity_high", "game.register_fluid({id = 'w', material = 'w', opacity = 1.5})",
     "register_fluid(\"m:w\"): opacity must be 0.0..=1.0, got 1.5. It is how much of what is "
     "behind a surface of this fluid it hides — 1.0 for lava, 0.72 for water.",
     "ostrel.fluids"},
    {"fluid_opacity_nan", "game.register_fluid({id = 'w', material = 'w', opacity = 0/0})",
     "register_fluid(\"m:w\"): opacity must be 0.0..=1.0, got NaN. It is how much of what is "
     "behind a surface of this fluid it hides — 1.0 for lava, 0.72 for water.",
     "ostrel.fluids"},
    {"fluid_light_falloff_16", "game.register_fluid({id = 'w', material = 'w', light_falloff = 16})",
     "register_fluid(\"m:w\"): light_falloff must be 0..=15, got 16. It is how many levels of "
     "light a block of this fluid takes out of what reaches it; 0 is like air and 15 is pitch "
     "dark one block down.",
     "ostrel.fluids"},
    {"fluid_light_falloff_300", "game.register_fluid({id = 'w', material = 'w', light_falloff = 300})",
     "register_fluid(\"m:w\"): light_falloff must be 0..=15, got 300. It is how many levels of "
     "light a block of this fluid takes out of what reaches it; 0 is like air and 15 is pitch "
     "dark one block down.",
     "ostrel.fluids"},
    {"fluid_twice",
     "game.register_fluid({id = 'w', material = 'w'}) game.register_fluid({id = 'w', material = 'x'})",
     "fluid `m:w` is already registered", nullptr},
    {"domain_missing_id", "game.register_domain({kind = 'voxel'})",
     "register_domain: missing required field `id`", "ostrel.domains"},
    {"domain_unknown_field", "game.register_domain({id = 'd', size = 3})",
     "register_domain(\"d\"): unknown field `size`", "ostrel.domains"},
    {"domain_overworld_foreign", "game.register_domain({id = 'other:overworld'})",
     "mod `m` may not register into namespace `other`: a mod owns only its own id as a namespace",
     "ostrel.domains"},
    {"domain_bad_id", "game.register_domain({id = 'a/b'})",
     "register_domain(\"m:a/b\"): `m:a/b` is not a usable domain id: a registered id may not "
     "contain `/`, which marks an instance",
     "ostrel.domains"},
    {"domain_kind", "game.register_domain({id = 'd', kind = 'Voxel'})",
     "register_domain(\"m:d\"): `kind` is \"voxel\" or \"sparse\", not \"Voxel\"", "ostrel.domains"},
    {"domain_scale_zero", "game.register_domain({id = 'd', scale = 0})",
     "register_domain(\"m:d\"): `scale` must be a positive number", "ostrel.domains"},
    {"domain_scale_negative", "game.register_domain({id = 'd', scale = -2})",
     "register_domain(\"m:d\"): `scale` must be a positive number", "ostrel.domains"},
    {"domain_scale_infinite", "game.register_domain({id = 'd', scale = math.huge})",
     "register_domain(\"m:d\"): `scale` must be a positive number", "ostrel.domains"},
    {"domain_sparse_generator",
     "game.register_domain({id = 'd', kind = 'sparse', generator = function() end})",
     "register_domain(\"m:d\"): a sparse domain holds no voxels, so a generator would never run",
     "ostrel.domains"},
    {"domain_generator_table", "game.register_domain({id = 'd', generator = {}})",
     "register_domain(\"m:d\"): `generator` is a function, not a table", "ostrel.domains"},
    {"domain_position_missing_axis", "game.register_domain({id = 'd', position = {x = 1, y = 2}})",
     "register_domain(\"m:d\"): `position` needs `z`, a number of blocks in the universe",
     "ostrel.domains"},
    {"domain_position_too_far", "game.register_domain({id = 'd', position = {x = 1, y = 5e18, z = 0}})",
     "register_domain(\"m:d\"): `position.y` must be a finite number within 4e18 "
     "blocks, got 5000000000000000000",
     "ostrel.domains"},
    {"generator_not_a_function", "game.register_on_generate(5)",
     "bad argument #1 to 'register_on_generate' (expected function, got integer)",
     "ostrel.generators"},
    {"tick_not_a_function", "game.register_on_tick('f')",
     "bad argument #1 to 'register_on_tick' (expected function, got string)", "ostrel.tickers"},
};

TEST(WorldContent, RefusalsHaveExactTextsAndWriteNothing) {
  for (const auto& c : kRefusals) {
    SCOPED_TRACE(c.name);
    auto vm = make_engine();
    EXPECT_EQ(refusal(vm, c.code), c.text);
    if (c.table != nullptr) {
      EXPECT_EQ(inspect(vm, std::string("return tostring(next(R['") + c.table + "']))"), "nil");
    }
    EXPECT_EQ(inspect(vm, "return tostring(next(R['ostrel.domain_generators']))"), "nil");
  }
}

TEST(WorldContent, ToolDefaultsAndStoredSpeeds) {
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "m", R"(
    game.register_tool({id = 'hand', default = true, [1] = 'ignored'})
    game.register_tool({id = 'm:pick', name = 'Pick', brush = 'subnode', speed_multiplier = 'fast',
                        speeds = {dirt = 2, ['other:stone'] = 3, ['#soil'] = 0.5}})
  )"));
  EXPECT_EQ(refusal(vm, "game.register_tool({id = 'hand'})"), "tool `m:hand` is already registered");
  const auto tools = records::registered_tools(vm);
  ASSERT_EQ(tools.size(), 2u);
  EXPECT_EQ(tools[0], (Tool{"m:hand", std::nullopt, Brush::Block, 1.0f, {}, true}));
  EXPECT_EQ(tools[1].id, "m:pick");
  EXPECT_EQ(tools[1].name, "Pick");
  EXPECT_EQ(tools[1].brush, Brush::Subnode);
  EXPECT_EQ(tools[1].speed, 1.0f);
  EXPECT_FALSE(tools[1].is_default);
  auto speeds = tools[1].speeds;
  std::sort(speeds.begin(), speeds.end());
  EXPECT_EQ(speeds, (std::vector<std::pair<std::string, float>>{
                        {"#soil", 0.5f}, {"m:dirt", 2.0f}, {"other:stone", 3.0f}}));
}

TEST(WorldContent, ToolSpeedsResolveTagsThenBlocks) {
  std::vector<records::BlockRules> rules(3);
  rules[0].block = "m:b";
  rules[0].tags = {"soil", "stone"};
  rules[1].block = "m:c";
  rules[1].tags = {"soil"};
  rules[2].block = "m:unlisted";  // carries the tag but has no material
  rules[2].tags = {"loose"};
  const std::map<std::string, material::MaterialId, std::less<>> materials = {{"m:b", 2},
                                                                              {"m:c", 3}};
  const std::vector<Tool> tools = {
      {"m:a", std::nullopt, Brush::Block, 1.0f, {{"#soil", 2.0f}, {"#stone", 3.0f}}, false},
      {"m:d", std::nullopt, Brush::Block, 1.0f, {{"m:b", 1.0f}, {"#soil", 2.0f}, {"#stone", 3.0f}}, false},
      {"m:e", std::nullopt, Brush::Block, 1.0f, {{"#nothing", 4.0f}, {"m:nowhere", 5.0f}}, false},
      {"m:f", std::nullopt, Brush::Block, 1.0f, {{"#loose", 4.0f}}, false},
      {"m:g", std::nullopt, Brush::Block, 1.0f, {}, false},
  };
  test::LogCapture log;
  const auto out = records::resolve_tool_speeds(tools, rules, materials);
  using Speeds = std::map<material::MaterialId, float>;
  EXPECT_EQ(out.at("m:a"), (Speeds{{2, 3.0f}, {3, 2.0f}}));
  EXPECT_EQ(out.at("m:d"), (Speeds{{2, 1.0f}, {3, 2.0f}}));
  EXPECT_EQ(out.at("m:e"), Speeds{});
  EXPECT_EQ(out.at("m:f"), Speeds{});
  EXPECT_EQ(out.at("m:g"), Speeds{});
  const auto warned = log.containing("speeds names a tag no block carries");
  ASSERT_EQ(warned.size(), 1u);
  EXPECT_NE(warned[0].find("WARN"), std::string::npos);
  EXPECT_NE(warned[0].find("ostrel_core::script::vm"), std::string::npos);
  EXPECT_NE(warned[0].find("tool=\"m:e\""), std::string::npos);
  EXPECT_NE(warned[0].find("tag=\"nothing\""), std::string::npos);
}

TEST(WorldContent, FluidDefaultsAndOrder) {
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "m", R"(
    game.register_fluid({id = 'zeta', material = 'water'})
    game.register_fluid({id = 'alpha', material = 'm:lava', washes = false, color = {r = 10},
                         opacity = 1.0, light_falloff = 15, waterlogs_at = 27, tick_rate = 255,
                         evaporates = 4294967295})
    game.register_fluid({id = 'mid', material = 'mud', opacity = -0.0, waterlogs_at = 1})
  )"));
  const auto fluids = records::registered_fluids(vm);
  ASSERT_EQ(fluids.size(), 3u);
  EXPECT_EQ(fluids[0], (FluidRules{"m:alpha", "m:lava", 27, 4294967295u, 1.0f, false, 255, 10,
                                   255, 255, 15}));
  EXPECT_EQ(fluids[1].id, "m:mid");
  EXPECT_EQ(fluids[1].waterlogs_at, 1u);
  EXPECT_EQ(fluids[2], (FluidRules{"m:zeta", "m:water", 14, 0, 0.72f, true, 1, 255, 255, 255, 0}));
}

TEST(WorldContent, DomainsGeneratorsAndTicks) {
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "m", R"(
    game.register_domain({id = 'b', generator = function() return 'first' end})
    game.register_domain({id = 'm:a', kind = 'sparse', scale = 'big', instanced = 1,
                          position = {x = 9007199254740993, y = -2.7, z = '4'}})
    game.register_on_tick(function() return 1 end)
    game.register_on_tick(function() return 2 end)
    game.register_on_generate(function() end)
    game.register_on_generate(function() end)
  )"));
  ASSERT_TRUE(load(vm, "n", "game.register_on_tick(function() end)"));
  EXPECT_EQ(refusal(vm, "game.register_domain({id = 'b', generator = function() return 'second' end})"),
            "register_domain(\"m:b\"): already registered; a second registration would silently "
            "replace the first");
  EXPECT_EQ(inspect(vm, "return R['ostrel.domain_generate.m:b']()"), "first");
  EXPECT_EQ(inspect(vm, "return R['ostrel.domain_generators']['m:b']"), "m");
  EXPECT_EQ(inspect(vm, "return tostring(R['ostrel.domain_generators']['m:a'])"), "nil");
  EXPECT_EQ(inspect(vm, "return R['ostrel.on_tick.m']()"), "2");
  EXPECT_EQ(vm.registry_strings("ostrel.tickers"), (std::vector<std::string>{"m", "n"}));
  EXPECT_EQ(vm.registry_strings("ostrel.generators"), (std::vector<std::string>{"m"}));

  const auto domains = records::registered_domains(vm);
  ASSERT_EQ(domains.size(), 2u);
  EXPECT_EQ(domains[0].first, "m:a");
  domain::Spec a;
  a.kind = domain::Kind::Sparse;
  a.scale = 1.0;
  a.instanced = true;
  a.position = domain::UniversalPos{9007199254740993, -2, 4};  // exact above 2^53
  EXPECT_EQ(domains[0].second, a);
  EXPECT_EQ(domains[1].first, "m:b");
  EXPECT_EQ(domains[1].second, domain::Spec{});
}

}  // namespace
}  // namespace ostrel_core::script
