// The presentation functions of `game` over fake services: bursts and badges, sounds and cues,
// loops and the clock, HUD values and chat; their clamps, refusals and empty answers.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "base/text.hpp"
#include "script/lua_vm/slots.hpp"
#include "script/presentation_fakes.hpp"
#include "script/terrain_lua.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

using test::run;

const std::string kPlayer = test::player(0xAB).to_hex();
const std::string kHash = std::string(64, 'c');

struct Engine {
  LuaVm vm = test::make_engine();
  std::shared_ptr<test::FakeParticles> particles = std::make_shared<test::FakeParticles>();
  std::shared_ptr<test::FakeSound> sound = std::make_shared<test::FakeSound>();
  std::shared_ptr<test::FakeHud> hud = std::make_shared<test::FakeHud>();

  explicit Engine(std::string_view init = "") {
    EXPECT_TRUE(test::load(vm, "m", init));
    vm.set_particle_access(particles);
    vm.set_sound_access(sound);
    vm.set_hud_access(hud);
  }
  std::string eval(std::string_view code) { return run(vm, "m", "return " + std::string(code)); }
};

// ---- Bursts -------------------------------------------------------------------------------------

TEST(EmitParticles, ClampsAndRefusals) {
  struct Case {
    std::string spec;
    std::string want;  // the answer, or the error
    std::string burst = "";  // count size lifetime radius domain colour, when one was sent
  };
  const std::string at = "pos = { x = 1, y = 2, z = 3 }";
  const Case cases[] = {
      {"{}", "error: emit_particles needs a `pos` table"},
      {"{ pos = 5 }", "error: emit_particles needs a `pos` table"},
      {"{ " + at + " }", "1", "8 0.1 1 32 overworld 255,255,255,255"},
      {"{ " + at + ", count = 1000 }", "1", "256 0.1 1 32 overworld 255,255,255,255"},
      {"{ " + at + ", count = -3 }", "1", "0 0.1 1 32 overworld 255,255,255,255"},
      {"{ " + at + ", count = 'many' }", "error: emit_particles: bad field `count` (expected integer, got string)"},
      {"{ " + at + ", size = 0/0, lifetime = 1/0, radius = 1/0 }", "1", "8 0.1 1 32 overworld 255,255,255,255"},
      {"{ " + at + ", lifetime = 99, radius = -1 }", "1", "8 0.1 30 0 overworld 255,255,255,255"},
      {"{ " + at + ", radius = 1000 }", "1", "8 0.1 1 128 overworld 255,255,255,255"},
      {"{ " + at + ", colour = { r = 0.5, g = 2, b = -1, a = 0/0 } }", "1", "8 0.1 1 32 overworld 127,255,0,255"},
      {"{ pos = { x = 1, y = 2, z = 3, domain = '' } }", "1", "8 0.1 1 32 overworld 255,255,255,255"},
      {"{ pos = { x = 1, y = 2, z = 3, domain = 'dun' } }", "1", "8 0.1 1 32 dun 255,255,255,255"},
      {"{ " + at + ", velocity = 5 }", "error: emit_particles: `velocity` is a table { x, y, z }"},
      {"{ " + at + ", texture = '" + kHash.substr(1) + "' }",
       "error: `texture` must be a content hash: 64 hex characters, as game.content_hash answers"},
      {"{ " + at + ", texture = { 1, 2, 3 } }", "error: `texture` must be 32 bytes of content hash"},
      {"{ pos = { x = 1, z = 3 } }", "error: emit_particles: bad field `pos.y` (expected number, got nil)"},
      {"{ " + at + ", player = 'abc' }", "error: emit_particles: `player` is a player's UUID in hex, not `abc`"},
      {"{ pos = { x = 0/0, y = 1/0, z = 3 } }", "1", "8 0.1 1 32 overworld 255,255,255,255"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.spec);
    Engine e;
    EXPECT_EQ(e.eval("game.emit_particles(" + c.spec + ")"), c.want);
    if (c.burst.empty()) {
      EXPECT_TRUE(e.particles->bursts.empty());
      continue;
    }
    ASSERT_EQ(e.particles->bursts.size(), 1u);
    const auto& r = e.particles->bursts[0];
    EXPECT_EQ(fmt::format("{} {} {} {} {} {},{},{},{}", r.burst.count, r.burst.size, r.burst.lifetime, r.radius,
                          r.domain, r.burst.colour[0], r.burst.colour[1], r.burst.colour[2], r.burst.colour[3]),
              c.burst);
    for (double p : r.burst.pos) EXPECT_TRUE(std::isfinite(p));
  }
}

TEST(EmitParticles, PlayerAndTextureReachTheService) {
  Engine e;
  EXPECT_EQ(e.eval("game.emit_particles({ pos = { x = 1, y = 2, z = 3 }, texture = '" + kHash + "', player = '" +
                   kPlayer + "', velocity = { y = 100 }, collide = 0 })"),
            "1");
  ASSERT_EQ(e.particles->bursts.size(), 1u);
  const auto& r = e.particles->bursts[0];
  EXPECT_EQ(r.player, test::player(0xAB));
  ASSERT_TRUE(r.burst.texture);
  EXPECT_EQ(text::hex_bytes(*r.burst.texture), kHash);
  EXPECT_EQ(r.burst.velocity, (particle::Vec3f{0.0f, 64.0f, 0.0f}));
  EXPECT_TRUE(r.burst.collide);
  EXPECT_EQ(r.burst.pos, (std::array<double, 3>{1.0, 2.0, 3.0}));
  // The service's count is the answer.
  e.particles->answer = 0;
  EXPECT_EQ(e.eval("game.emit_particles({ pos = { x = 0, y = 0, z = 0 } })"), "0");
}

TEST(ShowOver, ClampsAndRefusals) {
  struct Case {
    std::string call;
    std::string want;
    std::string badge = "";  // entity count seconds size radius
  };
  const std::string pic = "picture = '" + kHash + "'";
  const Case cases[] = {
      {"game.show_over(5, { " + pic + " })", "1", "5 1 2 0.4 32"},
      {"game.show_over(5, { " + pic + ", count = 40, seconds = 99, size = 9, radius = 999 })", "1", "5 16 30 4 128"},
      {"game.show_over(-1, { " + pic + ", count = 0, seconds = 0/0, size = -1/0, radius = -3 })", "1",
       "18446744073709551615 0 2 0.4 0"},
      {"game.show_over(5, { " + pic + ", count = -2 })", "1", "5 0 2 0.4 32"},
      {"game.show_over(5, {})",
       "error: `picture` must be a content hash: 64 hex characters, as game.content_hash answers"},
      {"game.show_over(5, { " + pic + ", colour = 'red' })", "error: show_over: `colour` is a table { r, g, b, a }"},
      {"game.show_over(1.5, { " + pic + " })", "error: an entity id must be a whole number, not 1.5"},
      {"game.show_over('x', { " + pic + " })", "error: an entity id must be an integer, not string"},
      {"game.show_over(5, { " + pic + ", player = 'nope' })",
       "error: show_over: `player` is a player's UUID in hex, not `nope`"},
      {"game.show_over(5)", "error: bad argument #2 to 'show_over' (expected table, got nil)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    Engine e;
    EXPECT_EQ(e.eval(c.call), c.want);
    if (c.badge.empty()) {
      EXPECT_TRUE(e.particles->badges.empty());
      continue;
    }
    ASSERT_EQ(e.particles->badges.size(), 1u);
    const auto& r = e.particles->badges[0];
    EXPECT_EQ(fmt::format("{} {} {} {} {}", r.badge.entity, r.badge.count, r.badge.seconds, r.badge.size, r.radius),
              c.badge);
    EXPECT_EQ(text::hex_bytes(r.badge.picture), kHash);
  }
}

// ---- Sounds and cues ----------------------------------------------------------------------------

TEST(PlaySound, NamesClampsAndFields) {
  struct Case {
    std::string spec;
    std::string want;
    std::string play = "";  // sound domain radius gain entity player
  };
  const std::string at = "pos = { x = 1, y = 2, z = 3 }";
  const Case cases[] = {
      {"{ sound = 'thud', " + at + " }", "1", "m:thud overworld 16 1 - -"},
      {"{ sound = 'other:thud', " + at + " }", "1", "other:thud overworld 16 1 - -"},
      {"{ sound = 'thud', " + at + ", radius = 1000, gain = 20 }", "1", "m:thud overworld 512 8 - -"},
      {"{ sound = 'thud', " + at + ", radius = 0/0, gain = 0/0 }", "1", "m:thud overworld 16 1 - -"},
      {"{ sound = 'thud', " + at + ", radius = -5, gain = -1 }", "1", "m:thud overworld 0 0 - -"},
      {"{ sound = 'thud', pos = { x = 1, y = 2, z = 3, domain = 'dun' }, entity = 7, player = '" + kPlayer + "' }",
       "1", "m:thud dun 16 1 7 " + kPlayer},
      {"{ " + at + " }", "error: play_sound: bad field `sound` (expected string, got nil)"},
      {"{ sound = 'a\\xff', " + at + " }",
       "error: play_sound: bad field `sound` (expected UTF-8 text, got bytes that are not)"},
      {"{ sound = 'thud' }", "error: play_sound: bad field `pos` (expected table, got nil)"},
      {"{ sound = 'thud', pos = { x = 1, y = 2 } }", "error: play_sound: bad field `pos.z` (expected number, got nil)"},
      {"{ sound = 'thud', " + at + ", entity = 1.5 }", "error: an entity id must be a whole number, not 1.5"},
      {"{ sound = 'thud', " + at + ", player = 'x' }", "error: play_sound: `player` is a player's UUID in hex, not `x`"},
      {"{ sound = 'thud', " + at + ", radius = 'far' }",
       "error: play_sound: bad field `radius` (expected number, got string)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.spec);
    Engine e;
    EXPECT_EQ(e.eval("game.play_sound(" + c.spec + ")"), c.want);
    if (c.play.empty()) {
      EXPECT_TRUE(e.sound->plays.empty());
      continue;
    }
    ASSERT_EQ(e.sound->plays.size(), 1u);
    const auto& r = e.sound->plays[0];
    EXPECT_EQ(fmt::format("{} {} {} {} {} {}", r.sound, r.domain, r.radius, r.gain,
                          r.entity ? std::to_string(*r.entity) : "-", r.player ? r.player->to_hex() : "-"),
              c.play);
  }
}

TEST(Cue, BindingsDecideWhatPlays) {
  Engine e(R"(
    game.bind_sound("door", "creak")
    game.bind_sound("engine:jump", "grunt")
    game.bind_sound("bell", "ding")
    game.bind_sound("bell", "dong")           -- the later binding plays
    game.bind_sound("other:door", "other:slam")
  )");
  const std::string at = "pos = { x = 0, y = 0, z = 0 }";
  struct Case {
    std::string spec;
    std::string want;
    std::string sound = "";
  };
  const Case cases[] = {
      {"{ cue = 'door', " + at + " }", "1", "m:creak"},
      {"{ cue = 'm:door', " + at + " }", "1", "m:creak"},
      {"{ cue = 'bell', " + at + " }", "1", "m:dong"},
      {"{ cue = 'other:door', " + at + " }", "1", "other:slam"},
      {"{ cue = 'engine:jump', " + at + " }",
       "error: `engine:jump` is the engine's to emit; a mod may bind a sound to it but not raise it"},
      {"{ cue = 'nobody' }", "0"},  // no pos: nothing bound, nothing read
      {"{ cue = 'door' }", "error: cue: bad field `pos` (expected table, got nil)"},
      {"{ cue = 'door', " + at + ", player = 'z' }", "error: cue: `player` is a player's UUID in hex, not `z`"},
      {"{ " + at + " }", "error: cue: bad field `cue` (expected string, got nil)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.spec);
    e.sound->plays.clear();
    EXPECT_EQ(e.eval("game.cue(" + c.spec + ")"), c.want);
    if (c.sound.empty()) {
      EXPECT_TRUE(e.sound->plays.empty());
    } else {
      ASSERT_EQ(e.sound->plays.size(), 1u);
      EXPECT_EQ(e.sound->plays[0].sound, c.sound);
    }
  }
  EXPECT_EQ(test::inspect(e.vm, "local b = R['ostrel.bindings'][2] return b.cue .. ' ' .. b.sound .. ' ' .. b.mod_id"),
            "engine:jump m:grunt m");
}

TEST(Cue, BindSoundClosesWithRegistrationAndRefusesTextsClientsCannotRead) {
  Engine e;
  EXPECT_EQ(e.eval("game.bind_sound('a\\xff', 'x')"),
            "error: bad argument #1 to 'bind_sound' (expected UTF-8 text, got bytes that are not)");
  EXPECT_EQ(e.eval("game.bind_sound('a', '\\xc0\\x80')"),
            "error: bad argument #2 to 'bind_sound' (expected UTF-8 text, got bytes that are not)");
  ASSERT_TRUE(e.vm.freeze());
  EXPECT_EQ(e.eval("game.bind_sound('door', 'creak')"), "error: mod `m`: registration is closed");
}

// ---- Loops and the clock ------------------------------------------------------------------------

TEST(Loops, IdsFieldsAndRefusals) {
  struct Case {
    std::string call;
    std::string want;
    std::string sent = "";  // the loop or stop as sent
  };
  const Case cases[] = {
      {"game.play_loop({ id = 'night', sound = 'crickets' })", "1", "start m:night m:crickets overworld 0,0,0 16 1 0 false -"},
      {"game.play_loop({ id = 'm:night', sound = 'other:rain', everywhere = 0, fade_ticks = 5000, player = '" +
           kPlayer + "' })",
       "1", "start m:night other:rain overworld 0,0,0 16 1 1200 true " + kPlayer},
      {"game.play_loop({ id = 'cave', sound = 'drip', pos = { x = 1, y = 2, z = 3, domain = 'dun' }, radius = 1e9 })",
       "1", "start m:cave m:drip dun 1,2,3 512 1 0 false -"},
      {"game.play_loop({ id = 'other:night', sound = 'x' })",
       "error: mod `m` may not register into namespace `other`: a mod owns only its own id as a namespace"},
      {"game.play_loop({ id = 'night' })", "error: play_loop: bad field `sound` (expected string, got nil)"},
      {"game.play_loop({ id = 'night', sound = 'x', fade_ticks = -1 })",
       "error: play_loop: bad field `fade_ticks` (-1 is out of range for an unsigned 32-bit integer)"},
      {"game.play_loop({ id = 'night', sound = 'x', pos = 3 })",
       "error: play_loop: bad field `pos` (expected table, got integer)"},
      {"game.play_loop({ id = 'night', sound = 'x', player = 'q' })",
       "error: play_loop: `player` is a player's UUID in hex, not `q`"},
      {"game.stop_loop('night')", "1", "stop m:night 0 -"},
      {"game.stop_loop({ id = 'night', fade_ticks = 5000, player = '" + kPlayer + "' })", "1",
       "stop m:night 1200 " + kPlayer},
      {"game.stop_loop('other:night')",
       "error: mod `m` may not register into namespace `other`: a mod owns only its own id as a namespace"},
      {"game.stop_loop({ id = 'other:night' })",
       "error: mod `m` may not register into namespace `other`: a mod owns only its own id as a namespace"},
      {"game.stop_loop(5)", "error: stop_loop takes the loop's id, or a table with `id`, `fade_ticks` and `player`"},
      {"game.stop_loop()", "error: stop_loop takes the loop's id, or a table with `id`, `fade_ticks` and `player`"},
      {"game.stop_loop({})", "error: stop_loop: bad field `id` (expected string, got nil)"},
      {"game.stop_loop({ id = 'n', player = 'q' })", "error: stop_loop: `player` is a player's UUID in hex, not `q`"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    Engine e;
    EXPECT_EQ(e.eval(c.call), c.want);
    std::string sent;
    for (const auto& l : e.sound->loops) {
      sent = fmt::format("start {} {} {} {},{},{} {} {} {} {} {}", l.id, l.sound, l.domain, l.pos[0], l.pos[1],
                         l.pos[2], l.radius, l.gain, l.fade_ticks, l.everywhere, l.player ? l.player->to_hex() : "-");
    }
    for (const auto& s : e.sound->stops) {
      sent = fmt::format("stop {} {} {}", s.id, s.fade_ticks, s.player ? s.player->to_hex() : "-");
    }
    EXPECT_EQ(sent, c.sent);
    EXPECT_LE(e.sound->loops.size() + e.sound->stops.size(), 1u);
  }
}

TEST(Clock, ReadsAndWindsThroughTheService) {
  Engine e;
  e.sound->fraction = 0.25f;
  EXPECT_EQ(e.eval("game.time_of_day()"), "0.25");
  EXPECT_EQ(e.eval("game.set_time_of_day(1.25)"), "true");
  EXPECT_EQ(e.eval("game.set_time_of_day(-0.0)"), "true");
  ASSERT_EQ(e.sound->times.size(), 2u);
  EXPECT_EQ(e.sound->times[0], 1.25f);
  EXPECT_TRUE(std::signbit(e.sound->times[1]));
  const std::string refusal = "error: set_time_of_day: the time is 0..1, midnight to midnight, and not a NaN";
  EXPECT_EQ(e.eval("game.set_time_of_day(0/0)"), refusal);
  EXPECT_EQ(e.eval("game.set_time_of_day(-1/0)"), refusal);
  EXPECT_EQ(e.eval("game.set_time_of_day(1e300)"), refusal);  // infinite as a 32-bit float
  EXPECT_EQ(e.eval("game.set_time_of_day('noon')"),
            "error: bad argument #1 to 'set_time_of_day' (expected number, got string)");
  EXPECT_EQ(e.sound->times.size(), 2u);
}

// ---- HUD values and chat ------------------------------------------------------------------------

TEST(SetHud, ValuesLimitsAndRefusals) {
  std::string values32;
  for (int i = 0; i < 32; ++i) values32 += fmt::format("v{} = {}, ", i, i);
  const std::string name32(32, 'n');
  const std::string text64(64, 't');
  const std::string p = "'" + kPlayer + "'";
  struct Case {
    std::string values;
    std::string want;
  };
  const Case cases[] = {
      {"{ " + values32 + "}", "true"},
      {"{ " + values32 + "extra = 1 }", "error: game.set_hud takes at most 32 values"},
      {"{ " + name32 + " = 1 }", "true"},
      {"{ " + name32 + "x = 1 }", "error: game.set_hud value names are at most 32 bytes, and `" + name32 + "x` is longer"},
      {"{ t = '" + text64 + "' }", "true"},
      {"{ t = '" + text64 + "x' }", "error: game.set_hud text is at most 64 bytes, and `t`'s is longer"},
      {"{ x = 0/0 }", "error: game.set_hud was given `x` as a number that is not one"},
      {"{ x = -1/0 }", "error: game.set_hud was given `x` as a number that is not one"},
      {"{ x = {} }", "error: game.set_hud takes numbers, strings and booleans; `x` is a table"},
      {"{ x = print }", "error: game.set_hud takes numbers, strings and booleans; `x` is a function"},
      {"{ x = 'a\\xff' }", "error: game.set_hud: bad value `x` (expected UTF-8 text, got bytes that are not)"},
      {"{ ['a\\xff'] = 1 }", "error: game.set_hud: bad value name (expected UTF-8 text, got bytes that are not)"},
      {"{ [true] = 1 }", "error: game.set_hud: bad value name (expected string, got boolean)"},
      {"{}", "true"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.values.substr(0, 60));
    Engine e;
    EXPECT_EQ(e.eval("game.set_hud(" + p + ", " + c.values + ")"), c.want);
    EXPECT_EQ(e.hud->sets.size(), c.want == "true" ? 1u : 0u);
  }
  EXPECT_EQ(Engine().eval("game.set_hud('x', {})"), "error: set_hud takes a player UUID in hex, as a hook event reports one");
  EXPECT_EQ(Engine().eval("game.set_hud(" + p + ", 5)"),
            "error: bad argument #2 to 'set_hud' (expected table, got integer)");
}

TEST(SetHud, KindsOfValueAndTheMod) {
  Engine e;
  EXPECT_EQ(e.eval("game.set_hud('" + kPlayer + "', { hp = 3, speed = 1.5, name = 'ann', alive = true, [7] = false })"),
            "true");
  ASSERT_EQ(e.hud->sets.size(), 1u);
  const auto& set = e.hud->sets[0];
  EXPECT_EQ(set.mod_id, "m");
  EXPECT_EQ(set.player, test::player(0xAB));
  const hud::state::ValueSet want{{"7", hud::state::Bool{false}},
                                  {"alive", hud::state::Bool{true}},
                                  {"hp", hud::state::Number{3.0}},
                                  {"name", hud::state::Text{"ann"}},
                                  {"speed", hud::state::Number{1.5}}};
  EXPECT_EQ(set.values, want);
  e.hud->online = false;
  EXPECT_EQ(e.eval("game.set_hud('" + kPlayer + "', {})"), "false");
}

TEST(HudService, OperatorsAndChat) {
  Engine e;
  e.hud->operator_id = test::player(0xAB);
  EXPECT_EQ(e.eval("game.is_operator('" + kPlayer + "')"), "true");
  EXPECT_EQ(e.eval("game.is_operator('" + test::player(1).to_hex() + "')"), "false");
  EXPECT_EQ(e.eval("game.is_operator('me')"), "error: is_operator takes a player UUID in hex, as a hook event reports one");
  const std::string line512(512, 'l');
  EXPECT_EQ(e.eval("game.chat_to('" + kPlayer + "', '" + line512 + "')"), "true");
  EXPECT_EQ(e.eval("game.chat_to('" + kPlayer + "', '" + line512 + "x')"), "error: chat_to: a line is at most 512 bytes");
  EXPECT_EQ(e.eval("game.chat_to('" + kPlayer + "', 'a\\xff')"),
            "error: bad argument #2 to 'chat_to' (expected UTF-8 text, got bytes that are not)");
  EXPECT_EQ(e.eval("game.chat_to('nobody', 'hi')"), "error: chat_to takes a player UUID in hex, as a hook event reports one");
  e.hud->online = false;
  EXPECT_EQ(e.eval("game.chat_to('" + kPlayer + "', 'hi')"), "false");
  ASSERT_EQ(e.hud->lines.size(), 2u);
  EXPECT_EQ(e.hud->lines[0], line512);
}

// ---- Empty and poisoned slots -------------------------------------------------------------------

const std::string kEveryCall = R"(
  local p = ')" + kPlayer + R"('
  local at = { x = 0, y = 0, z = 0 }
  return table.concat({
    tostring(game.emit_particles({ pos = at })),
    tostring(game.show_over(1, { picture = ')" + kHash + R"(' })),
    tostring(game.play_sound({ sound = 's', pos = at })),
    tostring(game.cue({ cue = 'c', pos = at })),
    tostring(game.play_loop({ id = 'l', sound = 's' })),
    tostring(game.stop_loop('l')),
    tostring(game.time_of_day()),
    tostring(game.set_time_of_day(0.5)),
    tostring(game.set_hud(p, { a = 1 })),
    tostring(game.is_operator(p)),
    tostring(game.chat_to(p, 'hi')),
  }, ' ')
)";

TEST(PresentationSlots, EmptyAtTheTopOfInitAndPoisonedLater) {
  auto vm = test::make_engine();
  ASSERT_TRUE(test::load(vm, "m", "game.bind_sound('c', 's')\nseen = (function() " + kEveryCall + " end)()"));
  const std::string empty = "0 0 0 0 0 0 0.0 false false false false";
  EXPECT_EQ(run(vm, "m", "return seen"), empty);
  // Poisoned slots answer as empty ones.
  vm.slots().particles->poison();
  vm.slots().sound->poison();
  vm.slots().hud->poison();
  vm.set_particle_access(std::make_shared<test::FakeParticles>());
  vm.set_sound_access(std::make_shared<test::FakeSound>());
  vm.set_hud_access(std::make_shared<test::FakeHud>());
  EXPECT_EQ(run(vm, "m", kEveryCall), empty);
  // The clock's check holds with an empty slot too.
  EXPECT_EQ(run(vm, "m", "return game.set_time_of_day(0/0)"),
            "error: set_time_of_day: the time is 0..1, midnight to midnight, and not a NaN");
}

}  // namespace
}  // namespace ostrel_core::script::lua_vm
