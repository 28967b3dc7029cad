// The readers the presentation functions share: a burst's shape, colours, content hashes and
// texts bound for a client.

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include <lua5.4/lua.hpp>
#include <string>

#include "base/text.hpp"
#include "script/api/presentation_readers.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script::readers {
namespace {

// Globals over the readers, each answering its result as text.
void install_probes(lua_State* L) {
  lua_pushcfunction(L, [](lua_State* s) -> int {
    const particle::Burst b = burst_of(s, 1, "emit_particles");
    const std::string tex = b.texture ? text::hex_bytes(*b.texture).substr(0, 4) : "none";
    const std::string out =
        fmt::format("{} {} {} {} {} {} {} {} {} {}", fmt::join(b.colour, ","), b.size, b.lifetime,
                    fmt::join(b.velocity, ","), b.spread, fmt::join(b.area, ","), b.gravity, b.collide,
                    tex, b.count);
    lua_pushlstring(s, out.data(), out.size());
    return 1;
  });
  lua_setglobal(L, "burst");
  lua_pushcfunction(L, [](lua_State* s) -> int {
    const particle::Hash h = content_hash(s, 1, "picture", "show_over");
    const std::string out = text::hex_bytes(h);
    lua_pushlstring(s, out.data(), out.size());
    return 1;
  });
  lua_setglobal(L, "hash");
  lua_pushcfunction(L, [](lua_State* s) -> int {
    const std::string out = client_text(s, 1, "play_sound", "sound");
    lua_pushlstring(s, out.data(), out.size());
    return 1;
  });
  lua_setglobal(L, "client_text");
  lua_pushcfunction(L, [](lua_State* s) -> int {
    const auto p = point_of(s, 1, "play_loop");
    const std::string out = fmt::format("{}", fmt::join(p, ","));
    lua_pushlstring(s, out.data(), out.size());
    return 1;
  });
  lua_setglobal(L, "point");
}

std::string run(script::lua_vm::LuaVm& vm, const std::string& call) {
  return test::inspect(vm, "local ok, v = pcall(function() return " + call + " end)\n"
                           "return ok and v or ('error: ' .. tostring(v))");
}

const std::string kHex = "00" + std::string(62, 'A');
const std::string kLowerHex = "00" + std::string(62, 'a');

TEST(PresentationReaders, BurstShapeDefaultsConversionsAndRefusals) {
  auto vm = test::make_engine();
  install_probes(vm.state());
  const std::string white = "255,255,255,255";
  struct Case {
    std::string spec;
    std::string want;
  };
  const Case cases[] = {
      {"{}", white + " 0.1 1 0,0,0 0 0,0,0 0 true none 0"},
      {"{ colour = {} }", white + " 0.1 1 0,0,0 0 0,0,0 0 true none 0"},
      {"{ colour = { r = 0.5, g = 2, b = -1, a = 0/0 } }", "127,255,0,255 0.1 1 0,0,0 0 0,0,0 0 true none 0"},
      {"{ colour = { r = 1/0, g = -1/0, b = '0.5' } }", "255,0,127,255 0.1 1 0,0,0 0 0,0,0 0 true none 0"},
      // No clamping here: the sanitiser does it.
      {"{ size = 9, lifetime = 1/0, velocity = { y = 100 }, spread = -2, area = { x = 1, z = 3 },"
       " gravity = 1e300, collide = 0 }",
       white + " 9 inf 0,100,0 -2 1,0,3 inf true none 0"},
      {"{ collide = false }", white + " 0.1 1 0,0,0 0 0,0,0 0 false none 0"},
      {"{ texture = '" + kHex + "' }", white + " 0.1 1 0,0,0 0 0,0,0 0 true 00aa 0"},
      {"{ colour = 5 }", "error: emit_particles: `colour` is a table { r, g, b, a }"},
      {"{ colour = { g = {} } }", "error: emit_particles: bad field `colour.g` (expected number, got table)"},
      {"{ velocity = 5 }", "error: emit_particles: `velocity` is a table { x, y, z }"},
      {"{ area = 'x' }", "error: emit_particles: `area` is a table { x, y, z }"},
      {"{ area = { z = 'x' } }", "error: emit_particles: bad field `area.z` (expected number, got string)"},
      {"{ size = true }", "error: emit_particles: bad field `size` (expected number, got boolean)"},
      {"{ texture = '" + kHex.substr(1) + "' }",
       "error: `texture` must be a content hash: 64 hex characters, as game.content_hash answers"},
      {"{ texture = {} }", "error: `texture` must be 32 bytes of content hash"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.spec);
    EXPECT_EQ(run(vm, "burst(" + c.spec + ")"), c.want);
  }
}

TEST(PresentationReaders, ContentHashFromHexOrBytes) {
  auto vm = test::make_engine();
  install_probes(vm.state());
  const std::string hex_refusal =
      "error: `picture` must be a content hash: 64 hex characters, as game.content_hash answers";
  const std::string bytes_refusal = "error: `picture` must be 32 bytes of content hash";
  std::string bytes32 = "{";
  for (int i = 0; i < 32; ++i) bytes32 += std::to_string(i == 0 ? 171 : 0) + ",";
  struct Case {
    std::string value;
    std::string want;
  };
  const Case cases[] = {
      {"'" + kHex + "'", kLowerHex},
      {"'" + kLowerHex + "'", kLowerHex},
      {"'" + kHex.substr(1) + "'", hex_refusal},  // 63 digits
      {"'" + kHex + "0'", hex_refusal},            // 65
      {"'" + kHex.substr(0, 63) + "g'", hex_refusal},
      {"nil", hex_refusal},
      {"5", hex_refusal},
      {"true", hex_refusal},
      {"'\\xff" + std::string(63, 'a') + "'", "error: show_over: bad field `picture` (expected UTF-8 text, got bytes that are not)"},
      {bytes32 + "}", "ab" + std::string(62, '0')},
      {"{}", bytes_refusal},
      {bytes32 + "7}", bytes_refusal},                 // 33 elements
      {bytes32 + "7, 8, 9}", bytes_refusal},           // more, not walked past the 33rd
      {bytes32 + "nil, 5}", "ab" + std::string(62, '0')},  // stops at the first nil
      {"{256}", "error: show_over: bad field `picture[1]` (256 is out of range for an unsigned 8-bit integer)"},
      {"{-1}", "error: show_over: bad field `picture[1]` (-1 is out of range for an unsigned 8-bit integer)"},
      {"{'x'}", "error: show_over: bad field `picture[1]` (expected integer, got string)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(run(vm, "hash({ picture = " + c.value + " })"), c.want);
  }
  // 31 bytes.
  std::string bytes = "{";
  for (int i = 0; i < 31; ++i) bytes += "1,";
  EXPECT_EQ(run(vm, "hash({ picture = " + bytes + "} })"), bytes_refusal);
}

TEST(PresentationReaders, ClientTextsMustBeUtf8) {
  auto vm = test::make_engine();
  install_probes(vm.state());
  EXPECT_EQ(run(vm, "client_text('m:thud')"), "m:thud");
  EXPECT_EQ(run(vm, "client_text('caf\\u{e9}')"), "caf\xc3\xa9");
  EXPECT_EQ(run(vm, "client_text(5)"), "5");
  const std::string refusal = "error: play_sound: bad field `sound` (expected UTF-8 text, got bytes that are not)";
  EXPECT_EQ(run(vm, "client_text('a\\xff')"), refusal);
  EXPECT_EQ(run(vm, "client_text('\\xed\\xa0\\x80')"), refusal);  // a surrogate
  EXPECT_EQ(run(vm, "client_text({})"), "error: play_sound: bad field `sound` (expected string, got table)");
}

TEST(PresentationReaders, PointNeedsThreeNumbers) {
  auto vm = test::make_engine();
  install_probes(vm.state());
  EXPECT_EQ(run(vm, "point({ x = 1.5, y = -2, z = '3' })"), "1.5,-2,3");
  EXPECT_EQ(run(vm, "point({ x = 1, z = 3 })"), "error: play_loop: bad field `pos.y` (expected number, got nil)");
  EXPECT_EQ(run(vm, "point({ x = {}, y = 1, z = 3 })"),
            "error: play_loop: bad field `pos.x` (expected number, got table)");
}

}  // namespace
}  // namespace ostrel_core::script::readers
