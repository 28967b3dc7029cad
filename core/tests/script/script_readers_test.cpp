// The argument readers the runtime functions share, and the hexadecimal form of 32-byte ids.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <lua5.4/lua.hpp>
#include <string>
#include <variant>

#include "base/text.hpp"
#include "script/api/readers.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script::readers {
namespace {

// Pushes the value of the Lua expression `expr`.
void push(lua_State* L, const std::string& expr) {
  const std::string code = "return " + expr;
  ASSERT_EQ(luaL_loadstring(L, code.c_str()), LUA_OK) << expr;
  ASSERT_EQ(lua_pcall(L, 0, 1, 0), LUA_OK) << expr;
}

const std::string kUpper = std::string(63, 'A') + "b";

TEST(Readers, OneTableOfEveryReader) {
  auto vm = test::make_engine();
  lua_State* L = vm.state();
  // What each reader answers, as text: the value, "none" or the error.
  struct Case {
    const char* reader;
    std::string arg;
    std::string want;
  };
  const Case cases[] = {
      {"entity", "{ entity = -1 }", "18446744073709551615"},
      {"entity", "{ entity = 2.0 }", "2"},
      {"entity", "{ entity = 2^63 }", "9223372036854775808"},
      {"entity", "{ entity = 1.5 }", "an entity id must be a whole number, not 1.5"},
      {"entity", "{ entity = -0.0 }", "an entity id must be a whole number, not -0"},
      {"entity", "{ entity = -1.0 }", "an entity id must be an integer, not number"},
      {"entity", "{ entity = 2^64 }", "an entity id must be an integer, not number"},
      {"entity", "{ entity = 0/0 }", "an entity id must be an integer, not number"},
      {"entity", "{ entity = '5' }", "an entity id must be an integer, not string"},
      {"entity", "{ entity = true }", "an entity id must be an integer, not boolean"},
      {"entity", "{}", "none"},
      {"looking_at", "'" + std::string(63, 'a') + "'",
       "looking_at takes a player UUID in hex, as a hook event reports one"},
      {"looking_at", "'" + std::string(65, 'a') + "'",
       "looking_at takes a player UUID in hex, as a hook event reports one"},
      {"looking_at", "'" + std::string(63, 'a') + "g'",
       "looking_at takes a player UUID in hex, as a hook event reports one"},
      {"game.mount", "'g'", "game.mount takes a player UUID in hex, as a hook event reports one"},
      {"looking_at", "'" + kUpper + "'", std::string(62, 'a') + "ab"},
      {"domain", "{}", "overworld"},
      {"domain", "{ domain = '' }", "overworld"},
      {"domain", "{ domain = 'dun/a' }", "dun/a"},
      {"tint", "{}", "255 255 255"},
      {"tint", "{ r = 0.5, g = 0, b = 1 }", "128 0 255"},
      {"tint", "{ g = 1.5 }", "set_entity: tint.g must be 0..=1, got 1.5"},
      {"tint", "{ r = 0/0 }", "set_entity: tint.r must be 0..=1, got NaN"},
      {"tint", "{ b = -0.001 }", "set_entity: tint.b must be 0..=1, got -0.001"},
      {"tint", "{ b = '1' }", "set_entity: tint.b must be 0..=1, got string"},
      {"player", "{ player = 'abc' }", "play_sound: `player` is a player's UUID in hex, not `abc`"},
      {"player", "{ player = {} }", "play_sound: bad field `player` (expected string, got table)"},
      {"player", "{ player = '" + kUpper + "' }", std::string(62, 'a') + "ab"},
      {"player", "{}", "none"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.reader) + " " + c.arg);
    const int top = lua_gettop(L);
    push(L, c.arg);
    const std::string reader = c.reader;
    std::string got;
    if (reader == "entity") {
      auto v = entity_id_in(L, -1);
      got = !v ? v.error() : *v ? std::to_string(**v) : "none";
    } else if (reader == "domain") {
      got = convert::domain_of(L, -1);
    } else if (reader == "tint") {
      auto v = tint_bytes(L, -1);
      got = !v ? v.error() : fmt::format("{} {} {}", (*v)[0], (*v)[1], (*v)[2]);
    } else if (reader == "player") {
      auto v = player_field(L, -1, "play_sound");
      got = !v ? v.error() : *v ? (*v)->to_hex() : "none";
    } else {
      auto v = player_of(lua_tostring(L, -1), reader);
      got = !v ? v.error() : v->to_hex();
    }
    EXPECT_EQ(got, c.want);
    lua_settop(L, top);
  }
}

TEST(Readers, TintTableSpreadsThePackedBytes) {
  auto vm = test::make_engine();
  lua_State* L = vm.state();
  tint_table(L, 0xFF8000);  // r 0, g 128, b 255
  const std::pair<const char*, double> want[] = {{"r", 0.0}, {"g", 128.0 / 255.0}, {"b", 1.0}};
  for (const auto& [key, value] : want) {
    lua_getfield(L, -1, key);
    EXPECT_EQ(lua_tonumber(L, -1), value) << key;
    lua_pop(L, 1);
  }
  lua_pop(L, 1);
}

TEST(HexBytes, TwoLowerCaseDigitsPerByteHighFirst) {
  std::array<std::uint8_t, 32> bytes{};
  EXPECT_EQ(text::hex_bytes(bytes), std::string(64, '0'));
  bytes[0] = 0xAB;
  bytes[31] = 0x0F;
  const std::string hex = text::hex_bytes(bytes);
  EXPECT_EQ(hex.substr(0, 2), "ab");
  EXPECT_EQ(hex.substr(62), "0f");
  // Player ids read back from their text.
  identity::PlayerUuid id{bytes};
  EXPECT_EQ(id.to_hex(), hex);
  EXPECT_EQ(identity::PlayerUuid::from_hex(hex)->bytes, bytes);
}

}  // namespace
}  // namespace ostrel_core::script::readers
