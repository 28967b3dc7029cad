// The field-reading vocabulary of the `game` functions: each kind's conversion, defaults, ranges,
// the three ways a wrong type is met, refusal texts and the order refusals come in.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include <lua5.4/lua.hpp>

#include "script/api/fields.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script {
namespace {

using test::make_engine;

// Evaluates `table` (a Lua expression) and runs `read` on it in a protected call; answers ""
// or the refusal raised.
std::string with_table(lua_vm::LuaVm& vm, const std::string& table,
                       const std::function<void(lua_State*)>& read) {
  lua_State* L = vm.state();
  const std::string chunk = "return " + table;
  if (luaL_loadstring(L, chunk.c_str()) != LUA_OK || lua_pcall(L, 0, 1, 0) != LUA_OK) {
    lua_pop(L, 1);
    return "<bad table>";
  }
  struct Call {
    const std::function<void(lua_State*)>* read;
  } call{&read};
  lua_pushcfunction(L, [](lua_State* s) -> int {
    auto* c = static_cast<Call*>(lua_touserdata(s, 2));
    lua_settop(s, 1);
    (*c->read)(s);
    return 0;
  });
  lua_insert(L, -2);
  lua_pushlightuserdata(L, &call);
  std::string out;
  if (lua_pcall(L, 2, 0, 0) != LUA_OK) {
    out = lua_tostring(L, -1);
    lua_pop(L, 1);
  }
  return out;
}

constexpr std::string_view kCtx = "register_thing(\"m:x\")";

TEST(Fields, EachKindConvertsOrTakesItsDefault) {
  static constexpr std::string_view kShapes[] = {"round", "square"};
  static constexpr fields::Field kFields[] = {
      fields::text("name").otherwise("nameless"),
      fields::number("weight").otherwise(2.5),
      fields::f32("scale").otherwise(1.0),
      fields::integer<std::uint8_t>("level").otherwise(3),
      fields::whole("count", 0, 100).otherwise(7),
      fields::boolean("solid").otherwise(true),
      fields::text("shape").otherwise("round").one_of(kShapes),
  };
  auto vm = make_engine();
  struct Case {
    const char* table;
    const char* want;  // name|weight|scale|level|count|solid|shape
  };
  const Case cases[] = {
      {"{}", "nameless|2.5|1|3|7|1|round"},
      {"{name = 7, weight = '0.5', scale = 0.1, level = 2.9, count = '12', solid = false}",
       "7|0.5|0.1|2|12|0|round"},
      {"{name = 'n', scale = 1e39, level = -0.5, count = 100.0, solid = 0, shape = 'square'}",
       "n|2.5|inf|0|100|1|square"},
      {"{weight = 0/0, scale = 0/0}", "nameless|NaN|NaN|3|7|1|round"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    std::string got;
    EXPECT_EQ(with_table(vm, c.table, [&](lua_State* L) {
                const auto v = fields::read(L, 1, kCtx, kFields);
                got = v.text("name") + "|" + num::format_number(v.number("weight")) + "|" +
                      num::format_number(v.f32("scale")) + "|" +
                      std::to_string(v.integer<std::uint8_t>("level")) + "|" +
                      std::to_string(v.integer<std::int64_t>("count")) + "|" +
                      (v.boolean("solid") ? "1" : "0") + "|" + v.text("shape");
              }),
              "");
    EXPECT_EQ(got, c.want);
  }
}

TEST(Fields, WrongTypesRangesAndRefusalTexts) {
  static constexpr std::string_view kShapes[] = {"round", "square"};
  auto vm = make_engine();
  struct Case {
    const char* name;
    fields::Field field;
    const char* table;
    const char* want;
  };
  const Case cases[] = {
      {"conversion_error", fields::number("weight"), "{weight = {}}",
       "register_thing(\"m:x\"): bad field `weight` (expected number, got table)"},
      {"conversion_error_of_the_type", fields::integer<std::uint8_t>("level"), "{level = 300}",
       "register_thing(\"m:x\"): bad field `level` (300 is out of range for an unsigned 8-bit "
       "integer)"},
      {"refused_like_out_of_range",
       fields::whole("count", 1, 9).mismatch_refused().refusal("{ctx}: count is {lo}..={hi}, got {got}"),
       "{count = 'many'}", "register_thing(\"m:x\"): count is 1..=9, got string"},
      {"fraction_is_not_whole", fields::whole("count", 1, 9).refusal("{field} {got}"),
       "{count = 2.5}", "count 2.5"},
      {"ignored_reads_as_default",
       fields::f32("scale").otherwise(4.0).mismatch_ignored().above(0.0).refusal("{got}"),
       "{scale = 'big'}", ""},
      {"open_lower_end", fields::f32("scale").above(0.0).refusal("{field} must be positive, got {got}"),
       "{scale = 0}", "scale must be positive, got 0"},
      {"f32_shows_the_rounded_value", fields::f32("scale").within(0.0, 0.1).refusal("{got}"),
       "{scale = 0.2}", "0.2"},
      {"infinity_is_outside_at_least", fields::f32("hard").at_least(0.0).refusal("{got}"),
       "{hard = 1/0}", "inf"},
      {"nan_is_outside_a_range", fields::number("w").within(0.0, 1.0).refusal("{got}"),
       "{w = 0/0}", "NaN"},
      {"integer_range", fields::integer<std::uint8_t>("level", 0, 15).refusal("{field} {got} > {hi}"),
       "{level = 16}", "level 16 > 15"},
      {"choices", fields::text("shape").one_of(kShapes).refusal("no shape `{got}`"),
       "{shape = 'cone'}", "no shape `cone`"},
      {"needed_without_text", fields::text("id").needed(), "{}",
       "register_thing(\"m:x\"): bad field `id` (expected string, got nil)"},
      {"needed_with_text", fields::text("id").needed().refusal("{ctx}: needs an `{field}`"), "{}",
       "register_thing(\"m:x\"): needs an `id`"},
      {"label_in_place_of_the_key",
       fields::number("depth").shown_as("flicker.depth").within(0.0, 1.0).refusal("{field}={got}"),
       "{depth = 2}", "flicker.depth=2"},
      {"colour_channel_range",
       fields::colour("color").whole_channels(0, 255).refusal("{field} is 0..={hi}, got {got}"),
       "{color = {r = 1, g = 256}}", "color.g is 0..=255, got 256"},
      {"colour_channel_of_the_wrong_type",
       fields::colour("color").whole_channels(0, 255).channel_mismatch_refused().refusal(
           "{field}: {got}"),
       "{color = {b = true}}", "color.b: boolean"},
      {"colour_itself_of_the_wrong_type", fields::colour("color").whole_channels(0, 255),
       "{color = 5}", "register_thing(\"m:x\"): bad field `color` (expected table, got integer)"},
      {"metamethods_do_not_run", fields::number("w").needed().refusal("absent"),
       "setmetatable({}, {__index = function() error('ran') end})", "absent"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(with_table(vm, c.table,
                         [&](lua_State* L) { (void)fields::read_one(L, 1, kCtx, c.field); }),
              c.want);
  }
}

TEST(Fields, ColoursByNameOrPositionAndTheirDefaults) {
  constexpr fields::Field kFog =
      fields::colour("fog").f32_channels(0.0, 1.0).otherwise(0.5).positions_too();
  auto vm = make_engine();
  struct Case {
    const char* table;
    const char* want;
  };
  const Case cases[] = {
      {"{}", "0.5 0.5 0.5 ---"},
      {"{fog = {r = 0.1, b = 0.3}}", "0.1 0.5 0.3 r-b"},
      {"{fog = {0.1, 0.2, 0.3}}", "0.1 0.2 0.3 rgb"},
      {"{fog = {0.1, g = 0.9, 0.3}}", "0.1 0.9 0.5 rg-"},  // 0.3 is element 2, not 3
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    std::string got;
    EXPECT_EQ(with_table(vm, c.table, [&](lua_State* L) {
                const auto values = fields::read_one(L, 1, kCtx, kFog);
                const auto& ch = values.colour("fog");
                for (std::size_t i = 0; i < 3; ++i) got += num::format_number(static_cast<float>(ch.value[i])) + " ";
                for (std::size_t i = 0; i < 3; ++i) got += ch.given[i] ? "rgb"[i] : '-';
              }),
              "");
    EXPECT_EQ(got, c.want);
  }
}

TEST(Fields, RefusalsComeInTableOrderOrTypesFirst) {
  constexpr fields::Field kPair[] = {
      fields::number("a").within(0.0, 1.0).refusal("a out of range"),
      fields::number("b").within(0.0, 1.0).refusal("b out of range"),
  };
  auto vm = make_engine();
  const char* table = "{a = 5, b = 'x'}";
  EXPECT_EQ(with_table(vm, table, [&](lua_State* L) { (void)fields::read(L, 1, kCtx, kPair); }),
            "a out of range");
  EXPECT_EQ(with_table(vm, table,
                       [&](lua_State* L) { (void)fields::read(L, 1, kCtx, kPair, true); }),
            "register_thing(\"m:x\"): bad field `b` (expected number, got string)");
}

TEST(Fields, ReadingBackNeverRaises) {
  auto vm = make_engine();
  EXPECT_EQ(with_table(vm, "{t = 'x', n = '2.5', i = 3.7, f = 1e300, s = 7, b = false}",
                       [&](lua_State* L) {
                         EXPECT_EQ(fields::get_text(L, 1, "t"), "x");
                         EXPECT_EQ(fields::get_text(L, 1, "s"), "7");
                         EXPECT_EQ(fields::get_string(L, 1, "s"), std::nullopt);
                         EXPECT_EQ(fields::get_number(L, 1, "n"), 2.5);
                         EXPECT_EQ(fields::get_f32(L, 1, "f"),
                                   std::numeric_limits<float>::infinity());
                         EXPECT_EQ(fields::get_integer<std::uint8_t>(L, 1, "i"), 3);
                         EXPECT_EQ(fields::get_integer<std::uint8_t>(L, 1, "f"), std::nullopt);
                         EXPECT_EQ(fields::get_integer<std::uint8_t>(L, 1, "none"), std::nullopt);
                         EXPECT_FALSE(fields::get_truth(L, 1, "b", true));
                         EXPECT_TRUE(fields::get_truth(L, 1, "none", true));
                         EXPECT_EQ(lua_gettop(L), 1);
                       }),
            "");
}

}  // namespace
}  // namespace ostrel_core::script
