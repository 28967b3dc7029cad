// The block readers (defaults, tint and flicker conversions, textures, order) and the material
// lookups of `game`.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/lua_vm/lua_vm.hpp"
#include "script/read/records.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script {
namespace {

using records::BlockRules;
using test::inspect;
using test::load;
using test::make_engine;

// The record of one block whose rules table is set by hand to `rules` (a Lua expression).
BlockRules read_back(const std::string& rules) {
  auto vm = make_engine();
  EXPECT_EQ(inspect(vm, "R['ostrel.blocks']['m:b'] = 2 R['ostrel.block_rules']['m:b'] = " + rules +
                            " return 1"),
            "1");
  auto all = records::registered_block_rules(vm);
  EXPECT_EQ(all.size(), 1u);
  return all.empty() ? BlockRules{} : all[0];
}

TEST(BlockReaders, NothingRegisteredGivesEmptyResults) {
  auto vm = make_engine();
  EXPECT_TRUE(records::registered_blocks(vm).empty());
  EXPECT_TRUE(records::block_ids(vm).empty());
  EXPECT_TRUE(records::registered_block_rules(vm).empty());
  EXPECT_TRUE(records::registered_block_textures(vm).empty());
  EXPECT_TRUE(records::registered_items(vm).empty());
  EXPECT_TRUE(records::registered_tools(vm).empty());
  EXPECT_TRUE(records::registered_fluids(vm).empty());
  EXPECT_TRUE(records::registered_domains(vm).empty());
}

TEST(BlockReaders, ABlockWithoutRulesGetsEveryDefault) {
  auto vm = make_engine();
  ASSERT_EQ(inspect(vm, "R['ostrel.blocks']['m:b'] = 2 R['ostrel.next_material'] = 3 return 1"), "1");
  ASSERT_TRUE(load(vm, "m", "game.register_item({id = 'named', name = 'Named'})"));
  const auto rules = records::registered_block_rules(vm);
  ASSERT_EQ(rules.size(), 2u);
  BlockRules expected;
  expected.block = "m:b";
  EXPECT_EQ(rules[0], expected);
  EXPECT_EQ(rules[0].hardness, 0.75f);
  EXPECT_EQ(rules[0].shape, 0x7FFFFFFu);
  EXPECT_TRUE(rules[0].sweeps);
  EXPECT_FALSE(rules[0].drops.has_value());
  expected.block = "m:named";  // a rules table holding only `name`
  EXPECT_EQ(rules[1], expected);
}

struct TintCase {
  const char* name;
  const char* tint;
  std::optional<records::Tint> want;
};

TEST(BlockReaders, TintConversions) {
  const TintCase cases[] = {
      {"strength_zero_no_colours", "{strength = 0}", std::nullopt},
      {"scale_zero", "{strength = 0.2, scale = 0}", std::nullopt},
      {"scale_nan", "{strength = 0.2, scale = 0/0}", std::nullopt},
      {"half_strength_small_scale", "{strength = 0.5, scale = 0.25}",
       records::Tint{{128, 128, 128}, {128, 128, 128}, 1, 128}},
      {"low_channel", "{low = {1.5, 1, 1}, strength = 0}",
       records::Tint{{192, 128, 128}, {128, 128, 128}, 32, 0}},
      {"clamped", "{high = {-1, 3, 0/0}, strength = 7, scale = 1e9}",
       records::Tint{{128, 128, 128}, {0, 255, 128}, 65535, 255}},
      {"not_a_table", "'red'", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_back(std::string("{tint = ") + c.tint + "}").tint, c.want);
  }
}

TEST(BlockReaders, FlickerAndChannelConversions) {
  EXPECT_EQ(read_back("{flicker = {depth = 0.3}}").flicker, std::nullopt);
  EXPECT_EQ(read_back("{flicker = {depth = 0.3, rate = 8}}").flicker, (records::Flicker{8, 77}));
  EXPECT_EQ(read_back("{flicker = {depth = 2, rate = 50}}").flicker, (records::Flicker{30, 255}));
  EXPECT_EQ(read_back("{light_emit = {r = 40, g = 300, b = 3}}").light_emit,
            (std::array<std::uint8_t, 3>{15, 0, 3}));
  const auto absorbs = read_back("{absorbs = {rate = 99}}").absorbs;
  EXPECT_EQ(absorbs, (records::AbsorbsRule{std::nullopt, std::nullopt, 27}));
  EXPECT_FALSE(read_back("{sweeps = false}").sweeps);
  EXPECT_EQ(read_back("{drops = {}}").drops, (std::vector<std::pair<std::string, std::uint32_t>>{}));
  EXPECT_EQ(read_back("{drops = {['m:z'] = 1, ['m:a'] = 4, ['m:q'] = 'x'}}").drops,
            (std::vector<std::pair<std::string, std::uint32_t>>{{"m:a", 4}, {"m:z", 1}}));
  EXPECT_EQ(read_back("{tags = {'ore', 5, true, 'x'}}").tags,
            (std::vector<std::string>{"ore", "5", "x"}));
}

TEST(BlockReaders, BillboardFlags) {
  const std::pair<const char*, std::pair<bool, bool>> cases[] = {
      {"'cross'", {true, true}}, {"'Cross'", {false, false}}, {"true", {true, false}},
      {"false", {false, false}}, {"1", {false, false}}};
  for (const auto& [value, want] : cases) {
    SCOPED_TRACE(value);
    const auto r = read_back(std::string("{billboard = ") + value + "}");
    EXPECT_EQ(std::make_pair(r.billboard, r.cross), want);
  }
}

TEST(BlockReaders, OrderIsByMaterialAndTexturesNeedABlock) {
  auto vm = make_engine();
  ASSERT_EQ(inspect(vm, "R['ostrel.next_material'] = 5 return 1"), "1");
  ASSERT_TRUE(load(vm, "m", R"(
    game.register_block({id = 'c', textures = {all = 'dir\\c.png'}})
    game.register_block({id = 'a', textures = {all = '.../a.png'}})
    game.register_block({id = 'b', textures = {all = 'b.png'}})
    game.register_item({id = 'z'})
    game.register_item({id = 'y'})
  )"));
  ASSERT_EQ(inspect(vm, "R['ostrel.block_textures']['m:ghost'] = {mod = 'm', path = 'g.png'} "
                        "R['ostrel.block_textures']['m:b'].path = nil return 1"),
            "1");
  EXPECT_EQ(records::registered_blocks(vm),
            (std::vector<std::pair<std::string, material::MaterialId>>{
                {"m:c", 5}, {"m:a", 6}, {"m:b", 7}, {"m:z", 8}, {"m:y", 9}}));
  std::vector<std::string> order;
  for (const auto& r : records::registered_block_rules(vm)) order.push_back(r.block);
  EXPECT_EQ(order, (std::vector<std::string>{"m:c", "m:a", "m:b", "m:z", "m:y"}));
  EXPECT_EQ(records::registered_block_textures(vm),
            (std::vector<records::BlockTexture>{{"m:c", "m", "dir/c.png"}, {"m:a", "m", ".../a.png"}}));
  EXPECT_EQ(records::registered_items(vm), (std::vector<std::string>{"m:y", "m:z"}));
  EXPECT_EQ(records::block_ids(vm).begin()->first, "m:a");
}

// ---- Lookups --------------------------------------------------------------------------------

struct Lookup {
  const char* expr;  // run in mod `q` after the fixture registered
  const char* want;  // tostring of the result, or the refusal text
};

TEST(Lookups, ByNameAndNumber) {
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "m", R"(
    game.register_block({id = 'stone', tags = {'ore', 'hard'}})   -- 2
    game.register_item({id = 'sword', name = 'Sword'})             -- 3
    game.register_block({id = 'gold', tags = {'ore'}, hardness = 0.1}) -- 4
    game.register_block({id = 'dirt', hardness = 0})               -- 5
  )"));
  const Lookup cases[] = {
      {"game.get_block_id('m:stone')", "2"},
      {"game.get_block_id('stone')", "no block registered with id `stone`"},
      {"game.get_block_id('m:sword')", "3"},
      {"game.block_of(0)", "nil"},
      {"game.block_of(1)", "nil"},
      {"game.block_of(3)", "m:sword"},
      {"game.block_of(-1)",
       "bad argument #1 to 'block_of' (-1 is out of range for an unsigned 16-bit integer)"},
      {"game.block_of(65536)",
       "bad argument #1 to 'block_of' (65536 is out of range for an unsigned 16-bit integer)"},
      {"game.hardness(2)", "0.75"},
      {"game.hardness(5)", "0.0"},
      {"game.hardness(3)", "0.75"},
      {"game.hardness(9)", "nil"},
      {"game.hardness(4) == 0.1", "false"},
      {"string.format('%.9g', game.hardness(4))", "0.100000001"},
      {"table.concat(game.tags(2), ',')", "ore,hard"},
      {"#game.tags(5) .. ',' .. #game.tags(3)", "0,0"},
      {"game.tags(9)", "nil"},
      {"table.concat(game.tagged('ore'), ',')", "m:stone,m:gold"},
      {"#game.tagged('Ore')", "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expr);
    auto r = load(vm, "q", std::string("error(tostring(") + c.expr + "), 0)");
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().detail(), c.want);
  }
}

TEST(Lookups, TaggedSeesOnlyWhatIsRegisteredSoFar) {
  auto vm = make_engine();
  ASSERT_TRUE(load(vm, "a", "game.register_block({id = 'x', tags = {'soil'}})"));
  ASSERT_TRUE(load(vm, "b", R"(
    assert(#game.tagged('soil') == 1)
    game.register_block({id = 'y', tags = {'soil'}})
    assert(table.concat(game.tagged('soil'), ',') == 'a:x,b:y')
  )"));
  ASSERT_TRUE(vm.freeze());
  ASSERT_TRUE(load(vm, "c", "assert(#game.tagged('soil') == 2)"));
}

}  // namespace
}  // namespace ostrel_core::script
