// Block and item registration: numbering, the refusals with their exact texts, what a refusal
// leaves behind (nothing), the rule fields as written, and the block readers.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/lua_vm/lua_vm.hpp"
#include "script/read/records.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script {
namespace {

using test::inspect;
using test::load;
using test::make_engine;

// Number of ids in "ostrel.blocks", the counter, and the rules and texture entries.
constexpr const char* kState =
    "local function n(t) local c = 0 for _ in pairs(t) do c = c + 1 end return c end "
    "return n(R['ostrel.blocks']) .. ',' .. R['ostrel.next_material'] .. ',' .. "
    "n(R['ostrel.block_rules']) .. ',' .. n(R['ostrel.block_textures']) .. ',' .. "
    "n(R['ostrel.items'])";

std::string refusal(lua_vm::LuaVm& vm, std::string_view mod, std::string_view code) {
  auto r = load(vm, mod, code);
  if (r) return "<accepted>";
  return r.error().detail();
}

struct Case {
  const char* name;
  const char* code;   // init.lua of mod `m`
  const char* text;   // the refusal, exactly
  const char* state;  // kState afterwards
};

const Case kBlockRefusals[] = {
    {"id_missing", "game.register_block({})", "register_block: missing required field `id`",
     "0,2,0,0,0"},
    {"id_table", "game.register_block({id = {}})", "register_block: missing required field `id`",
     "0,2,0,0,0"},
    {"id_boolean", "game.register_block({id = true})",
     "register_block: missing required field `id`", "0,2,0,0,0"},
    {"not_a_table", "game.register_block('stone')",
     "bad argument #1 to 'register_block' (expected table, got string)", "0,2,0,0,0"},
    {"unknown_field", "game.register_block({id = 'stone', washes = true})",
     "register_block(\"stone\"): unknown field `washes`", "0,2,0,0,0"},
    {"transparent_and_cutout_before_namespace",
     "game.register_block({id = 'other:x', transparent = 1, cutout = true})",
     "register_block(\"other:x\"): `transparent` is see-through everywhere and `cutout` is "
     "see-through in places; a block is one or the other",
     "0,2,0,0,0"},
    {"billboard_with_cutout", "game.register_block({id = 'g', billboard = 'cross', cutout = true})",
     "register_block(\"g\"): a `billboard` is drawn as a sprite and has no faces for `cutout` to "
     "apply to; declare the billboard alone (it alpha-tests already)",
     "0,2,0,0,0"},
    {"model_with_sway", "game.register_block({id = 'g', model = 'lamp', sway = true})",
     "register_block(\"g\"): a block with a `model` is drawn as the model and has no faces for "
     "`sway` to apply to",
     "0,2,0,0,0"},
    {"model_with_billboard", "game.register_block({id = 'g', model = 'lamp', billboard = true})",
     "register_block(\"g\"): a block is drawn as a `model` or as a `billboard`, not both",
     "0,2,0,0,0"},
    {"shape_without_whole", "game.register_block({id = 'g', shape = {}})",
     "register_block(\"g\"): `shape` needs `whole = true` (or a `model`, which implies it): a "
     "shape a chisel could take apart is a cut, and a cut is carried, not registered",
     "0,2,0,0,0"},
    {"shape_whole_false", "game.register_block({id = 'g', shape = {}, whole = false})",
     "register_block(\"g\"): `shape` needs `whole = true` (or a `model`, which implies it): a "
     "shape a chisel could take apart is a cut, and a cut is carried, not registered",
     "0,2,0,0,0"},
    {"foreign_namespace", "game.register_block({id = 'other:stone'})",
     "mod `m` may not register into namespace `other`: a mod owns only its own id as a namespace",
     "0,2,0,0,0"},
    {"texture_second_key", "game.register_block({id = 's', textures = {all = 'a.png', side = 'b.png'}})",
     "register_block(\"m:s\"): unknown texture key `side`. Only `all` is supported; per-face "
     "textures are not implemented yet.",
     "0,2,0,0,0"},
    {"texture_without_all", "game.register_block({id = 's', textures = {}})",
     "register_block(\"m:s\"): `textures` must have an `all` key naming a file, e.g. textures = { "
     "all = \"white.png\" }",
     "0,2,0,0,0"},
    {"texture_escapes", "game.register_block({id = 's', textures = {all = 'a/../../x.png'}})",
     "register_block(\"m:s\"): texture path `a/../../x.png` escapes the mod directory. Paths are "
     "relative to your mod's own directory.",
     "0,2,0,0,0"},
    {"texture_absolute", "game.register_block({id = 's', textures = {all = '/x.png'}})",
     "register_block(\"m:s\"): texture path `/x.png` is absolute. Paths are relative to your "
     "mod's own directory.",
     "0,2,0,0,0"},
    {"texture_drive_letter", "game.register_block({id = 's', textures = {all = 'C:\\\\x.png'}})",
     "register_block(\"m:s\"): texture path `C:\\x.png` is absolute. Paths are relative to your "
     "mod's own directory.",
     "0,2,0,0,0"},
    {"texture_spaces", "game.register_block({id = 's', textures = {all = '   '}})",
     "register_block(\"m:s\"): texture path `   ` is empty. Paths are relative to your mod's own "
     "directory.",
     "0,2,0,0,0"},
    {"textures_not_a_table", "game.register_block({id = 's', textures = 'a.png'})",
     "register_block(\"s\"): bad field `textures` (expected table, got string)", "0,2,0,0,0"},
    {"block_twice", "game.register_block({id = 'stone'}) game.register_block({id = 'm:stone'})",
     "block `m:stone` is already registered", "1,3,1,0,0"},
    {"item_then_block", "game.register_item({id = 'stone'}) game.register_block({id = 'stone'})",
     "block `m:stone` is already registered", "1,3,0,0,1"},
    {"block_then_item", "game.register_block({id = 'stone'}) game.register_item({id = 'stone'})",
     "`m:stone` is already registered", "1,3,1,0,0"},
    {"hardness_negative", "game.register_block({id = 'stone', hardness = -1})",
     "register_block(\"stone\"): hardness must be a non-negative number of seconds, got -1",
     "0,2,0,0,0"},
    {"hardness_huge_negative", "game.register_block({id = 'stone', hardness = -1e20})",
     "register_block(\"stone\"): hardness must be a non-negative number of seconds, got "
     "-100000000000000000000",
     "0,2,0,0,0"},
    {"hardness_nan", "game.register_block({id = 'stone', hardness = 0/0})",
     "register_block(\"stone\"): hardness must be a non-negative number of seconds, got NaN",
     "0,2,0,0,0"},
    {"hardness_infinite", "game.register_block({id = 'stone', hardness = math.huge})",
     "register_block(\"stone\"): hardness must be a non-negative number of seconds, got inf",
     "0,2,0,0,0"},
    {"dominance_zero", "game.register_block({id = 'stone', dominance = 0})",
     "register_block(\"stone\"): dominance must be a positive number, got 0", "0,2,0,0,0"},
    {"friction_above_one", "game.register_block({id = 'ice', friction = 1.5})",
     "register_block(\"ice\"): friction is a share of the ordinary grip from 0 (ice with nothing "
     "to push against) to 1 (the default), got 1.5",
     "0,2,0,0,0"},
    {"friction_single_precision", "game.register_block({id = 'ice', friction = -0.1})",
     "register_block(\"ice\"): friction is a share of the ordinary grip from 0 (ice with nothing "
     "to push against) to 1 (the default), got -0.1",
     "0,2,0,0,0"},
    {"light_falloff_16", "game.register_block({id = 'g', light_falloff = 16})",
     "register_block(\"g\"): light_falloff is levels lost per block, 0..=15, got 16", "0,2,0,0,0"},
    {"light_falloff_negative", "game.register_block({id = 'g', light_falloff = -1})",
     "register_block(\"g\"): bad field `light_falloff` (-1 is out of range for an unsigned 8-bit "
     "integer)",
     "0,2,0,0,0"},
    {"drops_not_a_table", "game.register_block({id = 'g', drops = 5})",
     "register_block(\"g\"): bad field `drops` (expected table, got integer)", "0,2,0,0,0"},
    {"light_emit_16", "game.register_block({id = 'g', light_emit = {r = 16}})",
     "register_block(\"g\"): light_emit.r must be 0..=15, got 16", "0,2,0,0,0"},
    {"light_emit_negative", "game.register_block({id = 'g', light_emit = {g = -1}})",
     "register_block(\"g\"): light_emit.g must be 0..=15, got -1", "0,2,0,0,0"},
    {"flicker_without_light", "game.register_block({id = 'g', flicker = {}})",
     "register_block(\"g\"): `flicker` needs `light_emit`; there is no light to flicker",
     "0,2,0,0,0"},
    {"flicker_rate", "game.register_block({id = 'g', light_emit = {r = 1}, flicker = {rate = 0.5}})",
     "register_block(\"g\"): flicker.rate must be 1..=30 steps a second, got 0.5", "0,2,0,0,0"},
    {"flicker_depth",
     "game.register_block({id = 'g', light_emit = {r = 1}, flicker = {depth = 1.5}})",
     "register_block(\"g\"): flicker.depth must be 0..=1, got 1.5", "0,2,0,0,0"},
    {"billboard_capital", "game.register_block({id = 'g', billboard = 'Cross'})",
     "register_block: `billboard` is true, false or \"cross\", not \"Cross\"", "0,2,0,0,0"},
    {"billboard_integer", "game.register_block({id = 'g', billboard = 1})",
     "register_block: `billboard` is true, false or \"cross\", not a integer", "0,2,0,0,0"},
    {"billboard_float", "game.register_block({id = 'g', billboard = 1.5})",
     "register_block: `billboard` is true, false or \"cross\", not a number", "0,2,0,0,0"},
    {"model_empty", "game.register_block({id = 'g', model = ''})",
     "register_block(\"g\"): `model` names a registered model; it is empty", "0,2,0,0,0"},
    {"model_number", "game.register_block({id = 'g', model = 5})",
     "register_block(\"g\"): `model` is a model id (a string), not a integer", "0,2,0,0,0"},
    {"sweeps_not_whole", "game.register_block({id = 'g', sweeps = false})",
     "register_block(\"g\"): `sweeps` is for a `whole` block (Sub-Node Contract §7.6)",
     "0,2,0,0,0"},
    {"shape_not_a_table", "game.register_block({id = 'g', whole = true, shape = 'abc'})",
     "register_block(\"g\"): `shape` is a table of three strings, one layer of nine cells each, "
     "bottom first",
     "0,2,0,0,0"},
    {"shape_eight_cells",
     "game.register_block({id = 'g', whole = true, shape = {'#########', '########', '.........'}})",
     "register_block(\"g\"): `shape` layer 2 has 8 cells, not nine", "0,2,0,0,0"},
    {"shape_bad_cell",
     "game.register_block({id = 'g', whole = true, shape = {'####x####', '.........', '.........'}})",
     "register_block(\"g\"): `shape` cells are `#` or `.`, not `x`", "0,2,0,0,0"},
    {"shape_two_layers", "game.register_block({id = 'g', whole = true, shape = {'#########', '.........'}})",
     "register_block(\"g\"): `shape` has 2 layers, not three (bottom first)", "0,2,0,0,0"},
    {"shape_four_layers",
     "game.register_block({id = 'g', whole = true, shape = {'#########', '.........', "
     "'.........', '.........'}})",
     "register_block(\"g\"): `shape` has more than three layers; a block is three cells tall",
     "0,2,0,0,0"},
    {"shape_empty",
     "game.register_block({id = 'g', whole = true, shape = {'.........', '.........', '.........'}})",
     "register_block(\"g\"): `shape` occupies no cell; a block of nothing is air", "0,2,0,0,0"},
    {"absorbs_without_rate", "game.register_block({id = 'g', absorbs = {}})",
     "register_block(\"g\"): absorbs.rate must be 1..=27, got 0. It is how many of a block's 27 "
     "cells this drinks per fluid tick; zero is a block that does not absorb, which is what "
     "leaving `absorbs` out says.",
     "0,2,0,0,0"},
    {"absorbs_unknown", "game.register_block({id = 'g', absorbs = {rate = 1, speed = 2}})",
     "register_block(\"g\"): unknown absorbs field `speed`", "0,2,0,0,0"},
    {"drops_keys_collide", "game.register_block({id = 'g', drops = {gem = 1, ['m:gem'] = 2}})",
     "register_block(\"g\"): drops keys `gem` and `m:gem` both name `m:gem`; name each block once",
     "0,2,0,0,0"},
    {"drops_negative_units", "game.register_block({id = 'g', drops = {gem = -1}})",
     "register_block(\"g\"): bad field `drops` (-1 is out of range for an unsigned 32-bit "
     "integer)",
     "0,2,0,0,0"},
    {"tags_holding_a_table", "game.register_block({id = 'g', tags = {'ore', {}}})",
     "register_block(\"g\"): bad field `tags[2]` (expected string, got table)", "0,2,0,0,0"},
    // A rule field refused after the texture was checked leaves no texture either.
    {"late_refusal_with_texture",
     "game.register_block({id = 'g', textures = {all = 'g.png'}, tags = {{}}})",
     "register_block(\"g\"): bad field `tags[1]` (expected string, got table)", "0,2,0,0,0"},
    {"item_unknown_field", "game.register_item({id = 'sword', hardness = 1})",
     "register_item(\"sword\"): unknown field `hardness`. An item is not a block: it has no "
     "hardness, no drops and no light, because it is never in the world.",
     "0,2,0,0,0"},
    {"item_missing_id", "game.register_item({name = 'x'})",
     "register_item: missing required field `id`", "0,2,0,0,0"},
    {"item_texture_escapes", "game.register_item({id = 'sword', texture = '../x.png'})",
     "register_block(\"m:sword\"): texture path `../x.png` escapes the mod directory. Paths are "
     "relative to your mod's own directory.",
     "0,2,0,0,0"},
    {"item_name_not_text", "game.register_item({id = 'sword', name = {}, texture = 's.png'})",
     "register_item(\"m:sword\"): bad field `name` (expected string, got table)", "0,2,0,0,0"},
    {"item_foreign_namespace", "game.register_item({id = 'o:sword'})",
     "mod `m` may not register into namespace `o`: a mod owns only its own id as a namespace",
     "0,2,0,0,0"},
};

TEST(BlockRegistration, RefusalsHaveExactTextsAndLeaveNothing) {
  for (const auto& c : kBlockRefusals) {
    SCOPED_TRACE(c.name);
    auto vm = make_engine();
    EXPECT_EQ(refusal(vm, "m", c.code), c.text);
    EXPECT_EQ(inspect(vm, kState), c.state);
  }
}

TEST(BlockRegistration, NumbersBlocksAndItemsInOneSequence) {
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "m", R"(
    assert(game.register_block({id = 'stone'}) == 2)
    assert(game.register_item({id = 'sword'}) == 3)
    assert(game.register_block({id = 5}) == 4)
    assert(game.register_block({id = 'm:dirt', [1] = 'ignored'}) == 5)
  )"));
  EXPECT_EQ(records::registered_blocks(vm),
            (std::vector<std::pair<std::string, material::MaterialId>>{
                {"m:stone", 2}, {"m:sword", 3}, {"m:5", 4}, {"m:dirt", 5}}));
  EXPECT_EQ(records::registered_items(vm), std::vector<std::string>{"m:sword"});
}

TEST(BlockRegistration, ARefusedCallLeavesTheNextNumberAndTheIdFree) {
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "m", "game.register_block({id = 'a', hardness = 2, tags = {'ore'}})"));
  const auto before = records::registered_block_rules(vm);
  EXPECT_NE(refusal(vm, "n", "game.register_block({id = 'stone', hardness = -1})"), "<accepted>");
  EXPECT_EQ(records::registered_block_rules(vm), before);
  ASSERT_TRUE(load(vm, "n", "assert(game.register_block({id = 'stone', hardness = 1}) == 3)"));
  ASSERT_EQ(records::registered_block_rules(vm).size(), 2u);
  EXPECT_EQ(records::registered_block_rules(vm)[1].hardness, 1.0f);
}

TEST(BlockRegistration, MaterialNumbersStopBefore65535) {
  auto vm = make_engine();
  ASSERT_EQ(inspect(vm, "R['ostrel.next_material'] = 65534 return 1"), "1");
  ASSERT_TRUE(load(vm, "m", "assert(game.register_block({id = 'last'}) == 65534)"));
  EXPECT_EQ(refusal(vm, "m", "game.register_item({id = 'more'})"),
            "register_item(\"more\"): every material number from 2 to 65534 is taken; no further "
            "block or item can be registered");
  EXPECT_EQ(refusal(vm, "m", "game.register_block({id = 'more'})"),
            "register_block(\"more\"): every material number from 2 to 65534 is taken; no "
            "further block or item can be registered");
  EXPECT_EQ(inspect(vm, kState), "1,65535,1,0,0");
}

TEST(BlockRegistration, TheEngineNamespaceIsReserved) {
  auto vm = make_engine();
  for (const char* code : {"game.register_block({id = 'air'})",
                           "game.register_item({id = 'engine:unknown'})"}) {
    SCOPED_TRACE(code);
    EXPECT_EQ(refusal(vm, "engine", code),
              "mod `engine` may not register into namespace `engine`: it holds the engine's own "
              "materials");
  }
  EXPECT_EQ(refusal(vm, "m", "game.register_block({id = 'engine:air'})"),
            "mod `m` may not register into namespace `engine`: a mod owns only its own id as a "
            "namespace");
  EXPECT_EQ(inspect(vm, kState), "0,2,0,0,0");
}

TEST(BlockRegistration, EveryCallIsRefusedAfterTheFreeze) {
  auto vm = make_engine();
  ASSERT_TRUE(vm.freeze());
  for (const char* code :
       {"game.register_block({id = 'a'})", "game.register_block({washes = 1})",
        "game.register_item({id = 'a'})", "game.register_tool({id = 't'})",
        "game.register_fluid({id = 'w', material = 'w'})", "game.register_domain({id = 'd'})",
        "game.register_on_generate(function() end)", "game.register_on_tick(function() end)"}) {
    SCOPED_TRACE(code);
    EXPECT_EQ(refusal(vm, "late", code), "mod `late`: registration is closed");
  }
  EXPECT_EQ(inspect(vm, kState), "0,2,0,0,0");
}

// The rules table a registration writes, as Lua sees it.
struct Written {
  const char* name;
  const char* spec;    // the block spec, id 'b' in mod m
  const char* expr;    // evaluated with `r` the rules table
  const char* result;
};

const Written kWritten[] = {
    {"light_emit_one_channel", "{light_emit = {r = 15}}",
     "local n = 0 for _ in pairs(r.light_emit) do n = n + 1 end return n .. ',' .. r.light_emit.r",
     "1,15"},
    {"flicker_defaults", "{light_emit = {r = 1}, flicker = {}}",
     "return r.flicker.depth .. ',' .. r.flicker.rate", "0.3,8.0"},
    {"model_own", "{model = 'lamp'}", "return r.model .. ',' .. tostring(r.whole)", "m:lamp,true"},
    {"model_other", "{model = 'other:lamp'}", "return r.model", "other:lamp"},
    {"whole_default", "{}", "return tostring(r.whole) .. ',' .. tostring(r.sweeps)", "false,nil"},
    {"sweeps_on_whole", "{whole = true, sweeps = false}", "return tostring(r.sweeps)", "false"},
    {"shape_first_cell", "{whole = true, shape = {'#........', '.........', '.........'}}",
     "return r.shape", "1"},
    {"shape_last_cell", "{whole = true, shape = {'.........', '.........', '........#'}}",
     "return r.shape", "67108864"},
    {"shape_with_spaces",
     "{model = 'x', shape = {'### ### ###', '#.#\\t#.#\\n#.#', '\\u{3000}.........'}}",
     "return r.shape", "12344879"},
    {"absorbs_rate_only", "{absorbs = {rate = 27}}",
     "return r.absorbs.rate .. ',' .. tostring(r.absorbs.becomes) .. ',' .. tostring(r.absorbs.fluid)",
     "27,nil,nil"},
    {"absorbs_references", "{absorbs = {rate = 2, becomes = 'damp_dirt', fluid = 'o:water'}}",
     "return r.absorbs.becomes .. ',' .. r.absorbs.fluid", "m:damp_dirt,o:water"},
    {"drops_empty", "{drops = {}}", "return type(r.drops) .. ',' .. tostring(next(r.drops))",
     "table,nil"},
    {"drops_foreign", "{drops = {['m2:gem'] = 3, coal = 1.0}}",
     "return r.drops['m2:gem'] .. ',' .. r.drops['m:coal']", "3,1"},
    {"tags_in_order", "{tags = {'ore', 'hard', x = 'skip'}}",
     "return table.concat(r.tags, ',') .. ',' .. #r.tags", "ore,hard,2"},
    {"step_sound", "{sounds = {step = 'crunch', other = 1}}", "return r.step_sound", "m:crunch"},
    {"flags_truth", "{transparent = 1, passable = false, billboard = false, cutout = nil}",
     "return tostring(r.transparent) .. ',' .. tostring(r.passable) .. ',' .. "
     "tostring(r.billboard) .. ',' .. tostring(r.cutout)",
     "true,false,false,nil"},
    {"billboard_cross_with_cutout_false", "{billboard = 'cross', cutout = false}",
     "return r.billboard", "cross"},
    {"hardness_zero_and_friction_ends", "{hardness = -0.0, friction = 0, dominance = 0.5}",
     "return r.hardness .. ',' .. r.friction .. ',' .. r.dominance", "-0.0,0.0,0.5"},
    {"hardness_single_precision", "{hardness = 0.1}", "return r.hardness == 0.1",
     "false"},
    {"tint_unchanged", "{tint = 'anything'}", "return r.tint", "anything"},
};

TEST(BlockRegistration, RuleFieldsAreWrittenNormalised) {
  for (const auto& c : kWritten) {
    SCOPED_TRACE(c.name);
    auto vm = make_engine();
    ASSERT_TRUE(load(vm, "m", std::string("local s = ") + c.spec +
                                  " s.id = 'b' game.register_block(s)"));
    EXPECT_EQ(inspect(vm, std::string("local r = R['ostrel.block_rules']['m:b'] ") + c.expr),
              c.result);
  }
}

}  // namespace
}  // namespace ostrel_core::script
