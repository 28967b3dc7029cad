// Item stack tables: reporting a Stack to scripts and reading a stack spec back.

#include <gtest/gtest.h>

#include <string>

#include <fmt/format.h>

#include "script/lua_vm/lua_vm.hpp"
#include "script/read/stack_table.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script {
namespace {

using inventory::Stack;
using lua_vm::LuaVm;
using stack_table::StackSpec;

// An engine with blocks a (material 2), b (3) and c (4).
LuaVm engine_with_blocks() {
  auto vm = test::make_engine();
  test::inspect(vm, "R['ostrel.blocks']['m:a'] = 2 R['ostrel.blocks']['m:b'] = 3 "
                    "R['ostrel.blocks']['m:c'] = 4");
  return vm;
}

// Reads the stack table that `expr` (Lua) evaluates to; the error text on failure.
std::expected<StackSpec, std::string> read_spec(LuaVm& vm, const std::string& expr) {
  lua_State* L = vm.state();
  const std::string code = "return " + expr;
  if (luaL_loadstring(L, code.c_str()) != LUA_OK || lua_pcall(L, 0, 1, 0) != LUA_OK) {
    std::string e = lua_tostring(L, -1);
    lua_pop(L, 1);
    return std::unexpected("<lua: " + e + ">");
  }
  StackSpec out;
  lua_pushcfunction(L, [](lua_State* s) -> int {
    auto* o = static_cast<StackSpec*>(lua_touserdata(s, 2));
    *o = stack_table::stack_spec_of(s, 1);
    return 0;
  });
  lua_insert(L, -2);
  lua_pushlightuserdata(L, &out);
  if (lua_pcall(L, 2, 0, 0) != LUA_OK) {
    std::string e = lua_tostring(L, -1);
    lua_pop(L, 1);
    return std::unexpected(e);
  }
  return out;
}

// The stack table of `stack` rendered as "k=v" pairs in a fixed key order.
std::string report(LuaVm& vm, const Stack& stack) {
  lua_State* L = vm.state();
  stack_table::push_stack_table(L, stack);
  lua_setglobal(L, "T");
  return test::inspect(vm, R"(
    local out = {}
    for _, k in ipairs({"material", "units", "blocks", "nodes", "count", "shape", "detail"}) do
      if T[k] ~= nil then out[#out + 1] = k .. "=" .. (math.type(T[k]) or type(T[k])) .. ":" .. tostring(T[k]) end
    end
    if T.cells then out[#out + 1] = "cells=" .. #T.cells end
    return table.concat(out, " ")
  )");
}

std::string cells_expr(const std::string& nine_of, const std::string& rest = "0") {
  std::string out = "{";
  for (int i = 0; i < 27; ++i) out += (i < 9 ? nine_of : rest) + ",";
  return out + "}";
}

TEST(StackTable, Reporting) {
  auto vm = engine_with_blocks();
  Stack loose{5, 100, std::nullopt, std::nullopt, std::nullopt};
  EXPECT_EQ(report(vm, loose),
            "material=integer:5 units=integer:100 blocks=integer:3 nodes=integer:19 "
            "count=integer:3");
  Stack cut{5, 40, 0x1FF, std::string("gem"), std::nullopt};
  EXPECT_EQ(report(vm, cut),
            "material=integer:5 units=integer:40 blocks=integer:1 nodes=integer:13 "
            "count=integer:4 shape=integer:511 detail=string:gem");
  inventory::Cells cells{};
  cells.fill(3);
  cells[0] = 2;
  auto mixed = Stack::of_cells(cells, 27);
  ASSERT_TRUE(mixed && mixed->cells && !mixed->shape);
  EXPECT_EQ(report(vm, *mixed),
            "material=integer:2 units=integer:27 blocks=integer:1 nodes=integer:0 count=integer:1 "
            "shape=integer:134217727 cells=27");
}

TEST(StackTable, SpecsThatRead) {
  auto vm = engine_with_blocks();
  struct Case {
    const char* name;
    std::string expr;
    std::uint16_t material;
    std::uint32_t units;
    std::optional<std::uint32_t> shape;
    bool cells;
  };
  const Case cases[] = {
      {"block_id", "{material = 'm:a'}", 2, 27, std::nullopt, false},
      {"count", "{material = 'm:a', count = 2}", 2, 54, std::nullopt, false},
      {"units_win", "{material = 3, units = 5, count = 9}", 3, 5, std::nullopt, false},
      {"shape_count", "{material = 2, shape = 0x1FF, count = 4}", 2, 36, 0x1FF, false},
      {"full_shape", "{material = 2, shape = 0x7FFFFFF}", 2, 27, std::nullopt, false},
      {"high_bits", "{material = 2, shape = 0xFFFFFFFF}", 2, 27, std::nullopt, false},
      {"cells_one_material", "{cells = " + cells_expr("'m:b'", "'m:b'") + "}", 3, 27, std::nullopt,
       false},
      {"cells_plain_cut", "{cells = " + cells_expr("3") + "}", 3, 9, 0x1FF, false},
      {"cells_two", "{cells = " + cells_expr("4", "2") + "}", 2, 27, std::nullopt, true},
      {"cut_of_two_units", "{units = 18, cells = {4,2,2,2,2,2,2,2,2,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0}}",
       2, 18, 0x1FF, true},
      {"cut_of_two_count", "{count = 3, cells = {4,2,2,2,2,2,2,2,2,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0}}",
       2, 27, 0x1FF, true},
      {"lowest_material_given", "{material = 2, cells = " + cells_expr("4", "2") + "}", 2, 27,
       std::nullopt, true},
      {"air", "{material = 0}", 0, 27, std::nullopt, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = read_spec(vm, c.expr);
    ASSERT_TRUE(got.has_value()) << got.error();
    EXPECT_EQ(got->material, c.material);
    EXPECT_EQ(got->units, c.units);
    EXPECT_EQ(got->shape, c.shape);
    EXPECT_EQ(got->cells.has_value(), c.cells);
  }
}

TEST(StackTable, SpecRefusals) {
  auto vm = engine_with_blocks();
  const std::string two = "{4,2,2,2,2,2,2,2,2,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0}";
  std::string cells26 = "{";
  for (int i = 0; i < 26; ++i) cells26 += "2,";
  cells26 += "}";
  std::string nil_entry = cells_expr("2");
  nil_entry.replace(nil_entry.find("0,"), 2, "nil,");
  struct Case {
    const char* name;
    std::string expr;
    std::string text;
  };
  const Case cases[] = {
      {"detail_257", "{material = 2, detail = string.rep('x', 257)}",
       "a stack's `detail` is at most 256 bytes, and this one is 257"},
      {"cells_26", "{cells = " + cells26 + "}",
       "`cells` has 26 entries; it is one per cell of a block, 27, entry i being cell i - 1 "
       "(x + 3*y + 9*z)"},
      {"cells_float", "{cells = " + cells_expr("2", "0.0") + "}",
       "`cells[10]`: material must be a block id or a numeric material, got number"},
      {"cells_nil", "{cells = " + nil_entry + "}",
       "`cells[10]`: material must be a block id or a numeric material, got nil"},
      {"cells_unknown", "{cells = " + cells_expr("'m:zz'") + "}",
       "`cells[1]`: no block registered with id `m:zz`"},
      {"cells_empty", "{cells = " + cells_expr("0") + "}",
       "a stack's `cells` are all empty, which is no stack"},
      {"material_disagrees", "{material = 4, cells = " + two + "}",
       "a stack's `material` is 4 but its cells make it 2: with `cells` the material is the "
       "lowest of them, and need not be given"},
      {"shape_disagrees", "{shape = 0x3, cells = " + two + "}",
       "a stack's `shape` is 0x3 but its cells fill 0x1ff: with `cells` the shape is theirs, "
       "and need not be given"},
      {"not_whole_items", "{units = 10, cells = " + two + "}",
       "10 units is not a whole number of a 9-cell cut of several materials, which moves in "
       "whole items"},
      {"too_many", "{material = 2, count = 4294967295}",
       "4294967295 items of 27 units each does not fit in a stack"},
      {"empty_shape", "{material = 2, shape = 0x8000000}",
       "shape is an occupancy mask over a block's 27 sub-nodes and cannot be empty"},
      {"no_material", "{count = 1}", "material must be a block id or a numeric material, got nil"},
      {"unknown_block", "{material = 'm:zz'}", "no block registered with id `m:zz`"},
      {"material_range", "{material = 70000}", "material id 70000 is out of range"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = read_spec(vm, c.expr);
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error(), c.text);
  }
  auto ok256 = read_spec(vm, "{material = 2, detail = string.rep('x', 256)}");
  ASSERT_TRUE(ok256.has_value());
  EXPECT_EQ(ok256->detail->size(), 256u);
  auto empty = read_spec(vm, "{material = 2, detail = ''}");
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(empty->detail, std::string());
}

TEST(StackTable, IntoStackAndRoundTrip) {
  auto vm = engine_with_blocks();
  for (const char* expr : {"{material = 0}", "{material = 2, units = 0}"}) {
    auto spec = read_spec(vm, expr);
    ASSERT_TRUE(spec.has_value()) << expr;
    EXPECT_FALSE(std::move(*spec).into_stack().has_value()) << expr;
  }

  inventory::Cells cells{};
  cells.fill(3);
  cells[4] = 2;
  const Stack stacks[] = {
      {5, 100, std::nullopt, std::nullopt, std::nullopt},
      {2, 40, 0x1FF, std::string("gem"), std::nullopt},
      {4, 0, std::nullopt, std::string(""), std::nullopt},
      *Stack::of_cells(cells, 54),
  };
  for (const auto& stack : stacks) {
    SCOPED_TRACE(stack.units);
    lua_State* L = vm.state();
    stack_table::push_stack_table(L, stack);
    lua_setglobal(L, "T");
    auto back = read_spec(vm, "T");
    ASSERT_TRUE(back.has_value()) << back.error();
    auto again = std::move(*back).into_stack();
    if (stack.units == 0) {
      EXPECT_FALSE(again.has_value());
    } else {
      ASSERT_TRUE(again.has_value());
      EXPECT_EQ(*again, stack);
    }
  }
}

TEST(StackTable, RefusalIsNilAndTheText) {
  auto vm = test::make_engine();
  lua_State* L = vm.state();
  const int top = lua_gettop(L);
  EXPECT_EQ(stack_table::refusal(L, "there is already something there"), 2);
  EXPECT_TRUE(lua_isnil(L, -2));
  EXPECT_STREQ(lua_tostring(L, -1), "there is already something there");
  lua_settop(L, top);
}

}  // namespace
}  // namespace ostrel_core::script
