// Skies and the cloud deck: refusal texts, which mod's registration wins, how keyframes and
// clocks are read back, the keyframe's wire layout and the deck's clamping.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "proto/codec.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "script/api/media.hpp"
#include "support/hex.hpp"
#include "support/mod_env.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script {
namespace {

using test::make_engine;
using test::run_in;

// One keyframe that passes every check.
constexpr const char* kFrame = "{time = 0.5, intensity = 1, sky = {0.4, 0.6, 1}, sun = {1, 1, 1}}";

std::string sky_with(const std::string& fields) {
  return "game.register_sky({day_length_ticks = 24000, " + fields + "})";
}
std::string frame_with(const std::string& fields) {
  return sky_with("keyframes = {{sky = {0, 0, 0}, sun = {1, 1, 1}, " + fields + "}}");
}

lua_vm::LuaVm engine_with(std::initializer_list<const char*> mods) {
  auto vm = make_engine();
  for (const char* m : mods) test::load_empty(vm, "mods", m);
  return vm;
}

struct Case {
  const char* name;
  std::string code;  // run in mod `m`
  const char* text;
};

TEST(RegisterSky, RefusalsHaveExactTexts) {
  const Case kCases[] = {
      {"unknown_field_first", "game.register_sky({colour = 1})",
       "register_sky: unknown field `colour`"},
      {"no_day_length", "game.register_sky({keyframes = {}})",
       "register_sky: missing required field `day_length_ticks`"},
      {"zero_day_length", "game.register_sky({day_length_ticks = 0})",
       "register_sky: day_length_ticks must be at least 1; a day of no ticks never advances"},
      {"no_keyframes", sky_with(""), "register_sky: missing required field `keyframes`"},
      {"empty_keyframes", sky_with("keyframes = {}"),
       "register_sky: `keyframes` is empty; a sky with no colours has nothing to draw"},
      {"only_index_2", sky_with(std::string("keyframes = {[2] = ") + kFrame + "}"),
       "register_sky: `keyframes` is empty; a sky with no colours has nothing to draw"},
      {"keyframe_not_table", sky_with("keyframes = {5}"),
       "register_sky: bad field `keyframes` (expected table, got integer)"},
      {"no_time", frame_with("intensity = 1"), "register_sky: every keyframe needs a `time`"},
      {"time_above_1", frame_with("time = 1.5, intensity = 1"),
       "register_sky: keyframe time must be 0..=1, got 1.5"},
      {"time_nan", frame_with("time = 0/0, intensity = 1"),
       "register_sky: keyframe time must be 0..=1, got NaN"},
      {"no_intensity", frame_with("time = 0"), "register_sky: every keyframe needs an `intensity`"},
      {"intensity_1_5", frame_with("time = 0, intensity = 1.5"),
       "register_sky: keyframe intensity must be 0..=1, got 1.5"},
      {"sky_of_two",
       sky_with("keyframes = {{time = 0, intensity = 1, sky = {0, 0}, sun = {1, 1, 1}}}"),
       "register_sky: `sky` must be three numbers, {r, g, b}"},
      {"no_sun", sky_with("keyframes = {{time = 0, intensity = 1, sky = {0, 0, 0}}}"),
       "register_sky: every keyframe needs a `sun` colour"},
      {"gamma_0", frame_with("time = 0, intensity = 1, grade = {gamma = 0}"),
       "register_sky: `grade.gamma` must be 0.1..=4, got 0"},
      {"exposure_inf", frame_with("time = 0, intensity = 1, grade = {exposure = 1/0}"),
       "register_sky: `grade.exposure` must be 0..=4, got inf"},
      {"offset_1_5", frame_with("time = 0, intensity = 1, grade = {offset = {0, 1.5, 0}}"),
       "register_sky: `grade.offset` must be -1..=1, got 1.5"},
      {"tint_of_two", frame_with("time = 0, intensity = 1, grade = {tint = {1, 1}}"),
       "register_sky: `grade.tint` must be three numbers, {r, g, b}"},
      {"grade_brightness", frame_with("time = 0, intensity = 1, grade = {brightness = 2}"),
       "register_sky: unknown `grade` field `brightness`"},
      {"stars_2", frame_with("time = 0, intensity = 1, stars = 2"),
       "register_sky: keyframe stars must be 0..=1, got 2"},
      {"start_time_nan", sky_with(std::string("keyframes = {") + kFrame + "}, start_time = 0/0"),
       "register_sky: start_time must be a number, 0..1"},
      {"cave_fog_of_two", sky_with(std::string("keyframes = {") + kFrame + "}, cave_fog = {1, 1}"),
       "register_sky: `cave_fog` must be three numbers, {r, g, b}; `b` is missing or not a number"},
      {"cave_fog_number", sky_with(std::string("keyframes = {") + kFrame + "}, cave_fog = 3"),
       "register_sky: `cave_fog` must be three numbers, {r, g, b}"},
      {"domain_129", sky_with(std::string("keyframes = {") + kFrame + "}, domain = ('x'):rep(129)"),
       "register_sky: `domain` must be a domain id, got \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
       "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
       "\""},
      {"domain_empty", sky_with(std::string("keyframes = {") + kFrame + "}, domain = ''"),
       "register_sky: `domain` must be a domain id, got \"\""},
      {"domain_space", sky_with(std::string("keyframes = {") + kFrame + "}, domain = 'a \"b'"),
       "register_sky: `domain` must be a domain id, got \"a \\\"b\""},
      {"domain_nbsp", sky_with(std::string("keyframes = {") + kFrame + "}, domain = 'a\\u{A0}b'"),
       "register_sky: `domain` must be a domain id, got \"a\\xa0b\""},
      {"not_a_table", "game.register_sky()",
       "bad argument #1 to 'register_sky' (expected table, got nil)"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    auto vm = engine_with({"m"});
    EXPECT_EQ(run_in(vm, "m", c.code), c.text);
    EXPECT_TRUE(media::registered_skies(vm).empty());
  }
}

TEST(RegisterSky, AcceptsEdgeValues) {
  const std::string kCases[] = {
      sky_with(std::string("keyframes = {") + kFrame + "}, domain = ('x'):rep(128)"),
      sky_with(std::string("keyframes = {") + kFrame + "}, start_time = 5, [1] = 'ignored'"),
      frame_with("time = -0.0, intensity = 0, grade = {gamma = 0.1, offset = {-1, 1, -0.0}}"),
      sky_with("keyframes = {{time = 0, intensity = 1, sky = {'a', 'b', 'c'}, sun = {1, 1, 1}}}"),
  };
  for (const auto& code : kCases) {
    SCOPED_TRACE(code);
    auto vm = engine_with({"m"});
    EXPECT_EQ(run_in(vm, "m", code), "");
  }
}

// The sky without a domain, as registered by one mod with the given extra fields.
std::optional<media::Sky> read_one(const std::string& fields) {
  auto vm = engine_with({"m"});
  EXPECT_EQ(run_in(vm, "m", sky_with(std::string("keyframes = {") + kFrame + "}" + fields)), "");
  return media::sky_for(vm, std::nullopt);
}

TEST(RegisterSky, StartTimeWrapsIntoTheDay) {
  struct Wrap {
    const char* given;
    float want;
  };
  const Wrap kWraps[] = {{"", 0.35f},       {"1", 0.0f},     {"1.25", 0.25f},
                         {"-0.25", 0.75f},  {"5", 0.0f},     {"0.5", 0.5f}};
  for (const auto& w : kWraps) {
    SCOPED_TRACE(w.given);
    const std::string field = *w.given ? std::string(", start_time = ") + w.given : "";
    auto sky = read_one(field);
    ASSERT_TRUE(sky.has_value());
    EXPECT_EQ(sky->start_time, w.want);
  }
}

TEST(RegisterSky, CaveFogIsClampedAndDefaults) {
  struct Fog {
    const char* given;
    media::Vec3f want;
  };
  const Fog kFogs[] = {{"", {0.05f, 0.05f, 0.06f}},
                       {", cave_fog = {r = 2, g = -1, b = 0.5}", {1.0f, 0.0f, 0.5f}},
                       {", cave_fog = {0.1, 0.2, 0.3}", {0.1f, 0.2f, 0.3f}},
                       {", cave_fog = {0.1, 0.2, 0.3, g = 0.9}", {0.1f, 0.9f, 0.3f}}};
  for (const auto& f : kFogs) {
    SCOPED_TRACE(f.given);
    auto sky = read_one(f.given);
    ASSERT_TRUE(sky.has_value());
    EXPECT_EQ(sky->cave_fog, f.want);
  }
}

TEST(RegisterSky, KeyframesSortStablyAndGradeDefaultsFill) {
  auto vm = engine_with({"m"});
  ASSERT_EQ(run_in(vm, "m", sky_with(R"(keyframes = {
      {time = 0.75, intensity = 1, sky = {3, 3, 3}, sun = {0, 0, 0}},
      {time = 0.25, intensity = 0.5, sky = {1, 1, 1}, sun = {0, 0, 0}, grade = {exposure = 2}},
      {time = 0.25, intensity = 0.5, sky = {2, 2, 2}, sun = {0, 0, 0}, stars = 0.5}})")),
            "");
  auto sky = media::sky_for(vm, std::nullopt);
  ASSERT_TRUE(sky.has_value());
  ASSERT_EQ(sky->keyframes.size(), 3u);
  EXPECT_EQ(sky->keyframes[0].sky[0], 1.0f);
  EXPECT_EQ(sky->keyframes[1].sky[0], 2.0f);
  EXPECT_EQ(sky->keyframes[2].sky[0], 3.0f);
  media::SkyGrade exposed;
  exposed.exposure = 2.0f;
  EXPECT_EQ(sky->keyframes[0].grade, exposed);
  EXPECT_EQ(sky->keyframes[1].grade, media::SkyGrade{});
  EXPECT_EQ(sky->keyframes[0].stars, 0.0f);
  EXPECT_EQ(sky->keyframes[1].stars, 0.5f);
  EXPECT_EQ(sky->day_length_ticks, 24000u);
  EXPECT_EQ(sky->mod_id, "m");
}

TEST(RegisterSky, KeyframesAreCopiedWhenRegistered) {
  auto vm = engine_with({"m"});
  ASSERT_EQ(run_in(vm, "m", R"(
      local frames = {{time = 0.5, intensity = 1, sky = {1, 1, 1}, sun = {1, 1, 1}}}
      game.register_sky({day_length_ticks = 10, keyframes = frames})
      frames[1].time = 0.9
      frames[1].sky[1] = 'gone'
      frames[2] = {time = 0.1, intensity = 1, sky = {0, 0, 0}, sun = {0, 0, 0}})"),
            "");
  auto sky = media::sky_for(vm, std::nullopt);
  ASSERT_TRUE(sky.has_value());
  ASSERT_EQ(sky->keyframes.size(), 1u);
  EXPECT_EQ(sky->keyframes[0].time, 0.5f);
  EXPECT_EQ(sky->keyframes[0].sky, (media::Vec3f{1.0f, 1.0f, 1.0f}));
}

TEST(RegisterSky, WhichModWinsEachDomain) {
  auto vm = engine_with({"beta", "alpha", "a_b", "ab"});
  const auto sky = [](const char* colour, const char* domain) {
    std::string d = domain ? std::string(", domain = '") + domain + "'" : "";
    return sky_with(std::string("keyframes = {{time = 0, intensity = 1, sky = {") + colour +
                    "}, sun = {0, 0, 0}}}" + d);
  };
  ASSERT_EQ(run_in(vm, "beta", sky("2, 2, 2", nullptr)), "");
  ASSERT_EQ(run_in(vm, "alpha", sky("1, 1, 1", nullptr)), "");
  ASSERT_EQ(run_in(vm, "alpha", sky("5, 5, 5", nullptr)), "");  // replaces alpha's first
  ASSERT_EQ(run_in(vm, "ab", sky("3, 3, 3", "zeta:x")), "");
  ASSERT_EQ(run_in(vm, "a_b", sky("4, 4, 4", "zeta:x")), "");
  ASSERT_EQ(run_in(vm, "beta", sky("6, 6, 6", "alpha:y")), "");

  auto skies = media::registered_skies(vm);
  ASSERT_EQ(skies.size(), 3u);
  EXPECT_EQ(skies[0].domain, std::nullopt);
  EXPECT_EQ(skies[0].mod_id, "alpha");
  EXPECT_EQ(skies[0].keyframes[0].sky[0], 5.0f);
  EXPECT_EQ(skies[1].domain, "alpha:y");
  EXPECT_EQ(skies[2].domain, "zeta:x");
  EXPECT_EQ(skies[2].mod_id, "a_b");  // "_" sorts below "b"

  vm.add_reference_mod("alpha");
  auto chosen = media::sky_for(vm, std::nullopt);
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(chosen->mod_id, "beta");
}

TEST(RegisterSky, AnUnreadableWinnerLeavesTheDomainWithoutASky) {
  auto vm = engine_with({"alpha", "beta"});
  // alpha's colours are texts: accepted (only the length is checked), dropped when read.
  ASSERT_EQ(run_in(vm, "alpha", sky_with("keyframes = {{time = 0, intensity = 1, sky = {'a', 'b', "
                                         "'c'}, sun = {1, 1, 1}}}")),
            "");
  ASSERT_EQ(run_in(vm, "beta", sky_with(std::string("keyframes = {") + kFrame + "}")), "");
  EXPECT_EQ(media::sky_for(vm, std::nullopt), std::nullopt);
  EXPECT_TRUE(media::registered_skies(vm).empty());
}

TEST(RegisterSky, NothingRegisteredAndClosedWindow) {
  auto vm = engine_with({"m"});
  EXPECT_TRUE(media::registered_skies(vm).empty());
  EXPECT_EQ(media::registered_clouds(vm), std::nullopt);
  ASSERT_TRUE(vm.freeze().has_value());
  EXPECT_EQ(run_in(vm, "m", sky_with(std::string("keyframes = {") + kFrame + "}")),
            "mod `m`: registration is closed");
  EXPECT_EQ(run_in(vm, "m", "game.register_clouds({})"), "mod `m`: registration is closed");
}

TEST(SkyFrame, IsNineteenLittleEndianFloatsInKeyframeOrder) {
  media::SkyKeyframe k;
  k.time = 1.0f;
  k.sky = {2.0f, 3.0f, 4.0f};
  k.sun = {5.0f, 6.0f, 7.0f};
  k.intensity = 8.0f;
  k.grade.exposure = 9.0f;
  k.grade.tint = {10.0f, 11.0f, 12.0f};
  k.grade.offset = {13.0f, 14.0f, 15.0f};
  k.grade.contrast = 16.0f;
  k.grade.saturation = 17.0f;
  k.grade.gamma = 18.0f;
  k.stars = 19.0f;
  const auto bytes = proto::encode(media::sky_frame(k));
  // 1.0f = 00 00 80 3f, 2.0f = 00 00 00 40, ... each float little-endian, in field order.
  EXPECT_EQ(bytes, test::from_hex(
            "0000803f" "00000040" "00004040" "00008040" "0000a040" "0000c040" "0000e040"
            "00000041" "00001041" "00002041" "00003041" "00004041" "00005041" "00006041"
            "00007041" "00008041" "00008841" "00009041" "00009841"));
}

// ---- Cloud deck ------------------------------------------------------------------------------

std::optional<atmosphere::CloudLayer> deck_of(const std::string& spec) {
  auto vm = engine_with({"m"});
  EXPECT_EQ(run_in(vm, "m", "game.register_clouds(" + spec + ")"), "");
  return media::registered_clouds(vm);
}

TEST(RegisterClouds, EmptySpecGivesTheDefaultDeck) {
  auto deck = deck_of("{}");
  ASSERT_TRUE(deck.has_value());
  EXPECT_EQ(deck->base, 256.0f);
  EXPECT_EQ(deck->thickness, 64.0f);
  EXPECT_EQ(deck->cell, 8.0f);
  EXPECT_EQ(deck->detail, 1);
  EXPECT_EQ(deck->frequency, 1.0f / 600.0f);
  EXPECT_EQ(deck->octaves, 3);
  EXPECT_EQ(deck->towers, 0.0f);
  EXPECT_EQ(deck->drift, (std::array<float, 2>{0.0f, 0.0f}));
  EXPECT_EQ(deck->evolve, 0.0f);
  EXPECT_EQ(deck->colour, (media::Vec3f{1.0f, 1.0f, 1.0f}));
  EXPECT_EQ(deck->shade, (media::Vec3f{0.42f, 0.44f, 0.58f}));
}

TEST(RegisterClouds, ValuesAreSanitised) {
  using Get = float (*)(const atmosphere::CloudLayer&);
  struct Clamp {
    const char* spec;
    Get get;
    float want;
  };
  const Clamp kClamps[] = {
      {"{detail = 0}", [](const auto& c) { return float(c.detail); }, 1.0f},
      {"{detail = 9}", [](const auto& c) { return float(c.detail); }, 4.0f},
      {"{octaves = 0}", [](const auto& c) { return float(c.octaves); }, 1.0f},
      {"{octaves = 10}", [](const auto& c) { return float(c.octaves); }, 6.0f},
      {"{cell = 0.5}", [](const auto& c) { return c.cell; }, 1.0f},
      {"{cell = 100}", [](const auto& c) { return c.cell; }, 64.0f},
      {"{cell = 0/0}", [](const auto& c) { return c.cell; }, 8.0f},
      {"{thickness = 5000}", [](const auto& c) { return c.thickness; }, 1024.0f},
      {"{frequency = 0}", [](const auto& c) { return c.frequency; }, 1.0f / 600.0f},
      {"{frequency = -3}", [](const auto& c) { return c.frequency; }, 1.0f / 600.0f},
      {"{frequency = 2}", [](const auto& c) { return c.frequency; }, 1.0f},
      {"{drift = {1.5, 0.4}}", [](const auto& c) { return c.drift[0]; }, 1.5f},
      {"{drift = {1.5, 0.4}}", [](const auto& c) { return c.drift[1]; }, 0.4f},
      {"{drift = {5, x = 1}}", [](const auto& c) { return c.drift[0]; }, 1.0f},
      {"{drift = {z = 100}}", [](const auto& c) { return c.drift[1]; }, 64.0f},
      {"{colour = {r = 0.5}}", [](const auto& c) { return c.colour[0]; }, 0.5f},
      {"{colour = {r = 0.5}}", [](const auto& c) { return c.colour[1]; }, 1.0f},
      {"{colour = {3, 1, 1}}", [](const auto& c) { return c.colour[0]; }, 2.0f},
      {"{shade = {b = 0.1}}", [](const auto& c) { return c.shade[0]; }, 0.42f},
      {"{shade = {b = 0.1}}", [](const auto& c) { return c.shade[2]; }, 0.1f},
      {"{base = 1/0}", [](const auto& c) { return c.base; }, 256.0f},
  };
  for (const auto& c : kClamps) {
    SCOPED_TRACE(c.spec);
    auto deck = deck_of(c.spec);
    ASSERT_TRUE(deck.has_value());
    EXPECT_EQ(c.get(*deck), c.want);
  }
}

TEST(RegisterClouds, RefusalsHaveExactTexts) {
  const Case kCases[] = {
      {"flat_name", "game.register_clouds({drift_x = 1})",
       "register_clouds: unknown field `drift_x`"},
      {"misspelt", "game.register_clouds({thicknes = 1})",
       "register_clouds: unknown field `thicknes`"},
      {"detail_300", "game.register_clouds({detail = 300})",
       "register_clouds: bad field `detail` (300 is out of range for an unsigned 8-bit integer)"},
      {"octaves_negative", "game.register_clouds({octaves = -1})",
       "register_clouds: bad field `octaves` (-1 is out of range for an unsigned 8-bit integer)"},
      {"base_text", "game.register_clouds({base = 'high'})",
       "register_clouds: bad field `base` (expected number, got string)"},
      {"drift_other_form_bad", "game.register_clouds({drift = {x = 1, 'fast'}})",
       "register_clouds: bad element 1 (expected number, got string)"},
      {"colour_not_table", "game.register_clouds({colour = 1})",
       "register_clouds: bad field `colour` (expected table, got integer)"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    auto vm = engine_with({"m"});
    EXPECT_EQ(run_in(vm, "m", c.code), c.text);
    EXPECT_EQ(media::registered_clouds(vm), std::nullopt);
  }
}

TEST(RegisterClouds, WhichModsDeckWins) {
  auto vm = engine_with({"beta", "alpha"});
  ASSERT_EQ(run_in(vm, "beta", "game.register_clouds({base = 100})"), "");
  ASSERT_EQ(run_in(vm, "alpha", "game.register_clouds({base = 200})"), "");
  ASSERT_EQ(run_in(vm, "alpha", "game.register_clouds({base = 300})"), "");
  auto deck = media::registered_clouds(vm);
  ASSERT_TRUE(deck.has_value());
  EXPECT_EQ(deck->base, 300.0f);
  vm.add_reference_mod("alpha");
  deck = media::registered_clouds(vm);
  ASSERT_TRUE(deck.has_value());
  EXPECT_EQ(deck->base, 100.0f);
}

}  // namespace
}  // namespace ostrel_core::script

namespace ostrel_core::script {
namespace {

// Runs domain_sky_of on the table `spec` (a Lua expression) for `game.set_domain_sky`.
std::expected<domain::DomainSky, std::string> domain_sky(const std::string& spec) {
  auto vm = make_engine();
  lua_State* L = vm.state();
  const std::string code = "return " + spec;
  if (luaL_dostring(L, code.c_str()) != LUA_OK) return std::unexpected("<syntax>");
  auto out = media::domain_sky_of(L, -1, "set_domain_sky");
  lua_pop(L, 1);
  return out;
}

TEST(DomainSkyOf, RefusalsNameTheCaller) {
  struct Refusal {
    std::string spec;
    const char* text;
  };
  const Refusal kCases[] = {
      {std::string("{domain = 'x', keyframes = {") + kFrame + "}}",
       "set_domain_sky: a sky table here has no `domain`; the domain is the call's own argument"},
      {"{colour = 1}", "set_domain_sky: unknown field `colour`"},
      {"{}", "set_domain_sky: missing required field `keyframes`"},
      {"{keyframes = {}, day_length_ticks = 'long'}",
       "set_domain_sky: `keyframes` is empty; a sky with no colours has nothing to draw"},
      {"{keyframes = {3}}", "set_domain_sky: `keyframes` is a list of keyframe tables"},
      {"{keyframes = {{time = 2, intensity = 1, sky = {0, 0, 0}, sun = {0, 0, 0}}}}",
       "set_domain_sky: keyframe time must be 0..=1, got 2"},
      {std::string("{keyframes = {") + kFrame + "}, cave_fog = {1}}",
       "set_domain_sky: `cave_fog` must be three numbers, {r, g, b}; `g` is missing or not a "
       "number"},
      {"{keyframes = {{time = 0, intensity = 1, sky = {'a', 'b', 'c'}, sun = {0, 0, 0}}}}",
       "set_domain_sky: the sky could not be read"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.spec);
    auto got = domain_sky(c.spec);
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error(), c.text);
  }
}

TEST(DomainSkyOf, GivesFramesInTimeOrderAndTheFog) {
  auto got = domain_sky(R"({start_time = 'ignored', cave_fog = {0.5, 2, 0},
      keyframes = {{time = 0.9, intensity = 1, sky = {1, 1, 1}, sun = {0, 0, 0}},
                   {time = 0.1, intensity = 0.5, sky = {2, 2, 2}, sun = {0, 0, 0}, stars = 1}}})");
  ASSERT_TRUE(got.has_value()) << got.error();
  ASSERT_EQ(got->keyframes.size(), 2u);
  EXPECT_EQ(got->keyframes[0].time, 0.1f);
  EXPECT_EQ(got->keyframes[0].stars, 1.0f);
  EXPECT_EQ(got->keyframes[0].gamma, 1.0f);
  EXPECT_EQ(got->keyframes[1].time, 0.9f);
  EXPECT_EQ(got->cave_fog, (std::array<float, 3>{0.5f, 1.0f, 0.0f}));
}

}  // namespace
}  // namespace ostrel_core::script
