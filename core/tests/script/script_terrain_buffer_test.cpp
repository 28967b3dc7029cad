// The chunk buffer handle from Lua: its edge cases, its refusals and the registered-material
// check of every method that writes a material.

#include <gtest/gtest.h>

#include <string>

#include "script/api/terrain_buffer.hpp"
#include "script/terrain_lua.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

using test::run;

constexpr std::uint16_t kStone = 5, kDirt = 6, kSlab = 50;

// Puts a new handle for `pos` into the global `buf` of mod "m": materials 2 to 99 registered,
// material 50 shaped as the bottom nine cells, the fluid "m:water" with id 1.
BufferHandle* give(LuaVm& vm, coords::ChunkPos pos) {
  run(vm, "m", "return 0");
  lua_State* L = vm.state();
  const int top = lua_gettop(L);
  vm.push_environment("m");
  BufferHandle h{detgen::buffer::ChunkBuffer(pos)};
  BufferRules rules;
  rules.next_material = 100;
  rules.whole_shapes = {{kSlab, 0x1C0E07}};
  rules.fluid_ids = {{"m:water", 1}};
  h.rules = std::make_shared<const BufferRules>(std::move(rules));
  h.seed = 99;
  push_buffer_handle(L, std::move(h));
  lua_setfield(L, -2, "buf");
  lua_settop(L, top);
  return test::handle<BufferHandle>(vm, "m", "buf");
}

TEST(BufferHandleScript, EdgeCases) {
  struct Case {
    coords::ChunkPos pos;
    const char* code;
    const char* want;
  };
  const Case cases[] = {
      {{0, 0, 0}, "return buf:set_world(15, 0, 0, 5)", "true"},
      {{0, 0, 0}, "return buf:set_world(16, 0, 0, 5)", "false"},
      {{-1, 0, 0}, "return buf:set_world(-1, 0, 0, 5)", "true"},
      {{-1, 0, 0}, "return buf:set_world(-17, 0, 0, 5)", "false"},
      {{-1, 0, 0}, "return buf:set_subnode_world(-1, 0, 0, 5)", "true"},
      {{0, 0, 0},
       "return tostring(buf:set_subnode_world(-1, 0, 0, 5)) .. ' ' .. tostring(buf:is_expanded())",
       "false false"},
      {{0, 0, 0}, "buf:set_block(16, 0, 0, 5)", "error: block (16, 0, 0) is outside the chunk"},
      {{0, 0, 0},
       "buf:set_subnode(1, 2, 3, 3, 0, 0, 5)",
       "error: sub-node (3, 0, 0) is outside the 3x3x3 block"},
      {{0, 0, 0}, "buf:set_subnode(16, 0, 0, 3, 0, 0, 5)", "error: block (16, 0, 0) is outside the chunk"},
      {{0, 0, 0}, "buf:set_subnode(0, 0, 0, 1, 1, 1, 5) return buf:is_expanded()", "true"},
  };
  for (const Case& c : cases) {
    auto vm = test::make_engine();
    give(vm, c.pos);
    EXPECT_EQ(run(vm, "m", c.code), c.want) << c.code;
  }
  auto vm = test::make_engine();
  give(vm, {0, 0, 0});
  const std::string neg = run(vm, "m", "buf:set_block(-1, 0, 0, 5)");
  EXPECT_EQ(neg.rfind("error: bad argument #2 to 'BufferHandle.set_block'", 0), 0u) << neg;
  auto* h = give(vm, {-1, 0, 0});
  run(vm, "m", "buf:set_world(-1, 0, 0, 5) buf:set_subnode_world(-1, 3, 0, 6)");
  EXPECT_EQ(h->buffer.block_cells(15, 0, 0)[0], kStone);
  EXPECT_EQ(h->buffer.block_cells(15, 1, 0)[2], kDirt);  // cell x 47
}

TEST(BufferHandleScript, ShapedWritesAndFillAll) {
  auto vm = test::make_engine();
  auto* h = give(vm, {0, 0, 0});
  ASSERT_EQ(run(vm, "m", "buf:set_block(1, 1, 1, 5) buf:set_block(1, 1, 1, 50) return buf:is_expanded()"),
            "true");
  const auto cells = h->buffer.block_cells(1, 1, 1);
  for (std::size_t i = 0; i < 27; ++i) EXPECT_EQ(cells[i], (0x1C0E07u >> i) & 1u ? kSlab : 0) << i;
  run(vm, "m", "buf:set_block(1, 1, 1, 6)");
  EXPECT_EQ(h->buffer.filled_cells(1, 1, 1), 27u);
  ASSERT_EQ(run(vm, "m", "buf:fill_fluid_below(3, 'm:water') buf:fill_all(6) return buf:is_expanded()"),
            "false");
  EXPECT_EQ(h->buffer.fluid().wet(), 256u * 3 - 1);  // block (1, 1, 1) is whole dirt
  EXPECT_EQ(h->buffer.block_cells(9, 9, 9)[0], kDirt);
  // The heightmap fill writes a shaped material whole.
  auto* hm = give(vm, {0, 2, 0});
  ASSERT_EQ(run(vm, "m", "buf:fill_below_heightmap(game.flat_heightmap(40), 50) return buf:is_expanded()"),
            "false");
  EXPECT_EQ(hm->buffer.filled_cells(0, 7, 0), 27u);
  EXPECT_EQ(hm->buffer.filled_cells(0, 8, 0), 0u);
}

TEST(BufferHandleScript, Refusals) {
  struct Case {
    const char* code;
    const char* want;
  };
  const Case cases[] = {
      {"buf:fill_all(1)", "fill_all: material 1 is not registered"},
      {"buf:fill_all(100)", "fill_all: material 100 is not registered"},
      {"buf:set_block(0, 0, 0, 700)", "set_block: material 700 is not registered"},
      {"buf:set_subnode_world(0, 0, 0, 1)", "set_subnode_world: material 1 is not registered"},
      {"buf:fill_density(game.density({op = 'y'}), 5, {detail = 'fine'})",
       "fill_density: `detail` is 'sampled' or 'smooth', not `fine`"},
      {"buf:fill_palette(game.density({op = 'y'}), {{above = 0, material = 5}}, {detail = 'fine'})",
       "fill_density: `detail` is 'sampled' or 'smooth', not `fine`"},
      {"buf:fill_palette(game.density({op = 'y'}), {{above = 2, material = 5}, {above = 2, material = 6}})",
       "fill_palette: two palette bands share the threshold 2"},
      {"buf:fill_palette(game.density({op = 'y'}), {})", "fill_palette: a palette needs at least one band"},
      {"buf:fill_palette(game.density({op = 'y'}), {{above = 0/0, material = 5}})",
       "fill_palette: a palette threshold is not a number"},
      {"buf:fill_palette(game.density({op = 'y'}), {{above = 'x', material = 5}})",
       "fill_palette: every band is `{ above = <number>, material = <id> }`"},
      {"buf:fill_palette(game.density({op = 'y'}), {{above = 0, material = 1}})",
       "fill_palette: material 1 is not registered"},
      {"buf:fill_layers(game.density({op = 'y'}), game.density({op = 'y'}), {})", "fill_layers: no layers"},
      {"buf:fill_layers(game.density({op = 'y'}), game.flat_heightmap(1), {})",
       "fill_layers: `code` is not a density"},
      {"buf:fill_layers(game.density({op = 'y'}), game.density({op = 'y'}), {{code = 1, to = 1}})",
       "fill_layers: a layer needs a numeric `material`"},
      {"buf:fill_layers(game.density({op = 'y'}), game.density({op = 'y'}), {{material = 5, code = 'x', to = "
       "1}})",
       "fill_layers: a layer needs an integer `code`"},
      {"buf:fill_layers(game.density({op = 'y'}), game.density({op = 'y'}), {{material = 5, code = 1}})",
       "fill_layers: a layer needs a `to` depth"},
      {"buf:fill_cover(5, {cells = 0})", "fill_cover: `cells` is 1 to 9, not 0"},
      {"buf:fill_cover(5, {cells = 10})", "fill_cover: `cells` is 1 to 9, not 10"},
      {"buf:fill_cover(5, {cells = -1})",
       "fill_cover: bad field `cells` (-1 is out of range for an unsigned 32-bit integer)"},
      {"buf:fill_cover(5, {take = game.flat_heightmap(1)})", "fill_cover: `take` is not a density"},
      {"buf:scatter({depth = game.density({op = 'y'}), schematics = {}, cell = 65})",
       "scatter: `cell` is 1 to 64 blocks, not 65"},
      {"buf:scatter({depth = game.density({op = 'y'}), schematics = {game.density({op = 'y'})}})",
       "scatter: every schematic comes from game.schematic"},
      {"buf:scatter({depth = game.density({op = 'y'}), schematics = {game.schematic({{0, 0, 0, 1, 1}})}})",
       "scatter: material 1 is not registered"},
      {"buf:scatter({schematics = {}})", "scatter: `depth` is the terrain density"},
      {"buf:scatter({depth = game.flat_heightmap(1), schematics = {}})", "scatter: `depth` is not a density"},
      {"buf:scatter({depth = game.density({op = 'y'})})",
       "scatter: `schematics` is a list from game.schematic"},
      {"buf:fill_fluid_below(5, 'water')",
       "no fluid called `water` — register it with game.register_fluid, and name it in full, as "
       "\"your_mod:its_id\""},
      {"buf:fill_fluid_terraced({fluid = 'm:water'})",
       "fill_fluid_terraced: `level` is a density of world heights"},
      {"buf:fill_fluid_terraced({level = game.density({op = 'y'})})",
       "fill_fluid_terraced: `fluid` is a fluid's full id"},
      {"buf:fill_fluid_terraced({level = game.density({op = 'y'}), fluid = 'm:water', lip = 1})",
       "fill_fluid_terraced: material 1 is not registered"},
      {"buf:fill_fluid_terraced({level = game.density({op = 'y'}), fluid = 'm:water', "
       "within = game.density({op = 'sub', a = {op = 'y'}, b = {op = 'const', value = 1000}})})",
       "fill_fluid_terraced reads `within` on the world plane y = 0.5, and this field answers differently "
       "there "
       "than it does over the chunk at y = 1120 — so it reads height, and the fill would lay nothing "
       "anywhere. "
       "Give `within` a field that does not read y."},
  };
  for (const Case& c : cases) {
    auto vm = test::make_engine();
    auto* h = give(vm, {0, 70, 0});
    EXPECT_EQ(run(vm, "m", c.code), std::string("error: ") + c.want) << c.code;
    EXPECT_FALSE(h->buffer.is_expanded());
    EXPECT_EQ(h->buffer.filled_cells(0, 0, 0), 0u) << c.code;
    EXPECT_TRUE(h->buffer.fluid().empty());
  }
}

TEST(BufferHandleScript, FillsFromLua) {
  auto vm = test::make_engine();
  auto* h = give(vm, {0, 0, 0});
  ASSERT_EQ(run(vm, "m",
                "local d = game.density({op = 'sub', a = {op = 'const', value = 8}, b = {op = 'y'}}) "
                "buf:fill_palette(d, {{above = 4, material = 5}, {above = 0, material = 6}}) "
                "buf:fill_cover(7, {cells = 2}) "
                "buf:fill_fluid_below(12, 'm:water') "
                "local n = buf:scatter({depth = d, schematics = {game.schematic({{0, 1, 0, 8, 0x7FFFFFF}})}, "
                "cell = 8}) "
                "return n"),
            "4");
  EXPECT_EQ(h->buffer.block_cells(0, 2, 0)[0], kStone);
  EXPECT_EQ(h->buffer.block_cells(0, 6, 0)[0], kDirt);
  EXPECT_EQ(h->buffer.block_cells(0, 8, 0)[0], 7);
  EXPECT_EQ(h->buffer.fluid().get(0, 11, 0).level(), 27);
}

}  // namespace
}  // namespace ostrel_core::script::lua_vm
