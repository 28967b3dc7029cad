// The weather, flash and lightning functions of `game` over a recording atmosphere service:
// their readers, refusals, clamps, defaults and empty answers.

#include <gtest/gtest.h>

#include <bit>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "presentation/atmosphere.hpp"
#include "script/lua_vm/slots.hpp"
#include "script/terrain_lua.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

using identity::PlayerUuid;
using test::run;

const std::string kA(64, 'a');
const std::string kB(64, 'b');

class FakeAtmosphere final : public atmosphere::Access {
 public:
  std::vector<std::string> calls;  // operation names in call order
  std::optional<atmosphere::SkyModifier> modifier;
  std::optional<atmosphere::Precipitation> precipitation;
  std::optional<atmosphere::Rainbow> rainbow;
  std::optional<atmosphere::Clouds> clouds;
  std::optional<atmosphere::CloudMap> map;
  std::optional<atmosphere::FlashRequest> flashed;
  std::optional<lightning::LightningRequest> bolt;
  std::vector<std::uint64_t> seeds;
  PlayerUuid online = test::player(0xAA);
  std::uint32_t reach = 3;

  bool set_sky_modifier(const PlayerUuid& p, std::optional<atmosphere::SkyModifier> v) override {
    calls.push_back("sky");
    modifier = v;
    return p == online;
  }
  std::uint32_t flash(const atmosphere::FlashRequest& r) override {
    calls.push_back("flash");
    flashed = r;
    return reach;
  }
  std::uint32_t lightning(const lightning::LightningRequest& r) override {
    calls.push_back("lightning");
    bolt = r;
    seeds.push_back(r.lightning.seed);
    return reach;
  }
  bool set_precipitation(const PlayerUuid& p, std::optional<atmosphere::Precipitation> v) override {
    calls.push_back("precipitation");
    precipitation = v;
    return p == online;
  }
  bool set_rainbow(const PlayerUuid& p, std::optional<atmosphere::Rainbow> v) override {
    calls.push_back("rainbow");
    rainbow = v;
    return p == online;
  }
  bool set_clouds(const PlayerUuid& p, std::optional<atmosphere::Clouds> v) override {
    calls.push_back("clouds");
    clouds = v;
    return p == online;
  }
  bool set_cloud_map(const PlayerUuid& p, std::optional<atmosphere::CloudMap> v) override {
    calls.push_back("map");
    map = std::move(v);
    return p == online;
  }
};

struct Fixture {
  LuaVm vm = test::make_engine();
  std::shared_ptr<FakeAtmosphere> sky = std::make_shared<FakeAtmosphere>();
  Fixture() {
    EXPECT_TRUE(test::load(vm, "m", ""));
    vm.set_atmosphere_access(sky);
  }
  // Runs `code` with A and B bound to two player ids.
  std::string call(std::string_view code) {
    return run(vm, "m", "local A, B = '" + kA + "', '" + kB + "'\nreturn " + std::string(code));
  }
};

TEST(SkyModifier, ReadersDefaultsAndClamps) {
  Fixture f;
  EXPECT_EQ(f.call("game.set_sky_modifier(A, { sky = { r = 0.2, 0.9, 0.9, 0.9 } })"), "true");
  ASSERT_TRUE(f.sky->modifier.has_value());
  EXPECT_EQ(f.sky->modifier->sky, (atmosphere::Vec3f{0.2f, 0.9f, 0.9f}));
  EXPECT_EQ(f.sky->modifier->sky_mix, 1.0f);  // `sky` given

  // An empty sky is black with sky_mix 1; without one sky_mix is 0.
  f.call("game.set_sky_modifier(A, { sky = {} })");
  EXPECT_EQ(f.sky->modifier->sky, (atmosphere::Vec3f{0, 0, 0}));
  EXPECT_EQ(f.sky->modifier->sky_mix, 1.0f);
  f.call("game.set_sky_modifier(A, {})");
  EXPECT_EQ(*f.sky->modifier, atmosphere::SkyModifier{});

  // The grade's saturation wins over the top level's; without a grade the top level counts.
  f.call("game.set_sky_modifier(A, { saturation = 3, grade = { saturation = 2 } })");
  EXPECT_EQ(f.sky->modifier->saturation, 2.0f);
  f.call("game.set_sky_modifier(A, { saturation = 3, grade = {} })");
  EXPECT_EQ(f.sky->modifier->saturation, 1.0f);
  f.call("game.set_sky_modifier(A, { saturation = 3 })");
  EXPECT_EQ(f.sky->modifier->saturation, 3.0f);

  // Clamped by the sanitiser: +inf takes the default, stars 7 is 1, NaN stars absent.
  f.call(
      "game.set_sky_modifier(A, { intensity = math.huge, fog_distance = 0.01, stars = 7, ease_ticks = 5000 "
      "})");
  EXPECT_EQ(f.sky->modifier->intensity, 1.0f);
  EXPECT_EQ(f.sky->modifier->fog_distance, 0.05f);
  EXPECT_EQ(f.sky->modifier->stars, 1.0f);
  EXPECT_EQ(f.sky->modifier->ease_ticks, 2400u);
  f.call("game.set_sky_modifier(A, { stars = 0/0 })");
  EXPECT_FALSE(f.sky->modifier->stars.has_value());

  // nil clears: the service gets an absent modifier.
  EXPECT_EQ(f.call("game.set_sky_modifier(A, nil)"), "true");
  EXPECT_FALSE(f.sky->modifier.has_value());
  EXPECT_EQ(f.call("game.set_sky_modifier(B)"), "false");
}

TEST(SkyModifier, LightFloorAndStarsRefusals) {
  Fixture f;
  const std::string floor_text =
      "error: game.set_sky_modifier: `light_floor` is a number from 0 to 1, the least the frame is lit at";
  struct Case {
    const char* value;
    std::optional<float> accepted;
  };
  const Case cases[] = {{"0", 0.0f},    {"1", 1.0f}, {"-0.0", -0.0f}, {"0.5", 0.5f}, {"-0.1", {}},
                        {"1.0001", {}}, {"0/0", {}}, {"'0.5'", {}},   {"{}", {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    const std::string got =
        f.call(std::string("game.set_sky_modifier(A, { light_floor = ") + c.value + " })");
    if (c.accepted) {
      EXPECT_EQ(got, "true");
      EXPECT_EQ(std::bit_cast<std::uint32_t>(*f.sky->modifier->light_floor),
                std::bit_cast<std::uint32_t>(*c.accepted));
    } else {
      EXPECT_EQ(got, floor_text);
    }
  }
  EXPECT_EQ(f.call("game.set_sky_modifier(A, { stars = 'x' })"),
            "error: game.set_sky_modifier: `stars` is a number from 0 to 1, the brightness of the stars");
  EXPECT_EQ(f.call("game.set_sky_modifier(A, { sky = { g = 'x' } })"),
            "error: set_sky_modifier: bad field `sky.g` (expected number, got string)");
  // Both forms of a channel are read: a bad position fails even beside a good name.
  EXPECT_EQ(f.call("game.set_sky_modifier(A, { sky = { r = 1, {} } })"),
            "error: set_sky_modifier: bad field `sky[1]` (expected number, got table)");
  EXPECT_EQ(f.call("game.set_sky_modifier('nobody', {})"),
            "error: set_sky_modifier takes a player UUID in hex, as a hook event reports one");
  EXPECT_EQ(f.call("game.set_sky_modifier(A, 5)").rfind("error: bad argument #2 to 'set_sky_modifier'", 0),
            0u);
  // Nothing reached the service from a refused call.
  EXPECT_EQ(f.sky->calls.size(), 4u);
}

TEST(Clouds, MapReadingAndClearing) {
  Fixture f;
  const std::string grid = "{" + std::string("0.5, -1, 3, 0/0, ") + "0,0,0,0, 0,0,0,0, 0,0,0,1 }";
  EXPECT_EQ(
      f.call("game.set_clouds(A, { cover = 0.3, map = { origin = { x = 10, z = -4 }, cell = 8, size = 4, "
             "cover = " +
             grid + ", darkness = " + grid + ", altocumulus = {} } })"),
      "error: set_clouds: `map.altocumulus` holds 0 values for a 4 x 4 grid, which wants 16");
  ASSERT_EQ(
      f.call("game.set_clouds(A, { cover = 0.3, map = { origin = { x = 10, z = -4 }, cell = 8, size = 4, "
             "cover = " +
             grid + ", darkness = " + grid + " } })"),
      "true");
  ASSERT_TRUE(f.sky->map.has_value());
  EXPECT_EQ(f.sky->map->size, 4);
  EXPECT_EQ(f.sky->map->origin, (std::array<float, 2>{10.0f, -4.0f}));
  EXPECT_EQ(std::vector<std::uint8_t>(f.sky->map->cover.begin(), f.sky->map->cover.begin() + 4),
            (std::vector<std::uint8_t>{128, 0, 255, 0}));
  EXPECT_EQ(f.sky->map->cover.back(), 255);
  EXPECT_TRUE(f.sky->map->stratocumulus.empty());
  EXPECT_EQ(f.sky->clouds->cover, 0.3f);
  // The map goes first, then the clouds.
  EXPECT_EQ(f.sky->calls, (std::vector<std::string>{"map", "clouds"}));

  // Only `cover`: the map is cleared.
  EXPECT_EQ(f.call("game.set_clouds(A, { cover = 0.3 })"), "true");
  EXPECT_FALSE(f.sky->map.has_value());
  EXPECT_TRUE(f.sky->clouds.has_value());

  // Origin x NaN passes the reader, the sanitiser drops the map, the clouds are still set.
  f.sky->map = atmosphere::CloudMap{};
  EXPECT_EQ(
      f.call("game.set_clouds(A, { darkness = 2, map = { origin = { x = 0/0, z = 0 }, cell = 8, size = 1, "
             "cover = { 1 }, darkness = { 1 } } })"),
      "true");
  EXPECT_FALSE(f.sky->map.has_value());
  EXPECT_EQ(f.sky->clouds->darkness, 1.0f);

  // nil clears both.
  EXPECT_EQ(f.call("game.set_clouds(A)"), "true");
  EXPECT_FALSE(f.sky->map.has_value());
  EXPECT_FALSE(f.sky->clouds.has_value());
  EXPECT_EQ(f.call("game.set_clouds(B, {})"), "false");
}

TEST(Clouds, Refusals) {
  Fixture f;
  const std::string ok_map = "origin = { x = 0, z = 0 }, cell = 8, size = 1, cover = { 1 }, darkness = { 1 }";
  struct Case {
    std::string spec;
    std::string want;
  };
  const Case cases[] = {
      {"{ map = { " + ok_map + ", wind = 1 } }",
       "error: set_clouds: unknown field `wind` in `map`. The fields are [\"origin\", \"cell\", \"size\", "
       "\"cover\", "
       "\"darkness\", \"stratocumulus\", \"altocumulus\", \"cumulonimbus\"]."},
      {"{ wind = 1, map = { " + ok_map + " } }",
       "error: set_clouds: unknown field `wind`. The fields are [\"cover\", \"darkness\", \"base\", "
       "\"ease_ticks\", "
       "\"map\", \"stratocumulus\", \"altocumulus\", \"cumulonimbus\"]."},
      // A bad map is reported before a bad top-level key.
      {"{ wind = 1, map = { origin = { x = 0, z = 0 }, cell = 0, size = 1 } }",
       "error: set_clouds: `map.cell` is how many blocks a cell covers, got 0"},
      {"{ map = { origin = { x = 0, z = 0 }, cell = 0/0, size = 1 } }",
       "error: set_clouds: `map.cell` is how many blocks a cell covers, got NaN"},
      {"{ map = { origin = { x = 0, z = 0 }, cell = 1, size = 17 } }",
       "error: set_clouds: `map.size` is 1..=16, got 17"},
      {"{ map = { origin = { x = 0, z = 0 }, cell = 1, size = 0 } }",
       "error: set_clouds: `map.size` is 1..=16, got 0"},
      {"{ map = { origin = { x = 0, z = 0 }, cell = 1, size = 4, cover = { 1,1,1,1,1,1,1,1,1,1 }, darkness = "
       "{} } }",
       "error: set_clouds: `map.cover` holds 10 values for a 4 x 4 grid, which wants 16"},
      {"{ map = { origin = { x = 0, z = 0 }, cell = 1, size = 1, cover = { 'x' }, darkness = { 1 } } }",
       "error: set_clouds: bad field `map.cover[1]` (expected number, got string)"},
      {"{ map = { cell = 1, size = 1 } }",
       "error: set_clouds: bad field `map.origin` (expected table, got nil)"},
      {"{ map = 5 }", "error: set_clouds: bad field `map` (expected table, got integer)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    EXPECT_EQ(f.call("game.set_clouds(A, " + c.spec + ")"), c.want);
  }
  // An integer key in the map, or at the top, is skipped.
  EXPECT_EQ(f.call("game.set_clouds(A, { 7, map = { " + ok_map + ", [3] = 1 } })"), "true");
  EXPECT_TRUE(f.sky->map.has_value());
  EXPECT_EQ(f.sky->calls.size(), 2u);
}

TEST(Clouds, AHugeLayerIsRefusedByItsLengthWithinTheBudget) {
  Fixture f;
  // The layer is built outside the call; the call itself must refuse it without walking it.
  EXPECT_EQ(f.call("(function() local t = {} for i = 1, 1000000 do t[i] = 0.5 end "
                   "return game.set_clouds(A, { map = { origin = { x = 0, z = 0 }, cell = 1, size = 16, "
                   "cover = t, darkness = t } }) end)()"),
            "error: set_clouds: `map.cover` holds 1000000 values for a 16 x 16 grid, which wants 256");
}

TEST(Rainbow, KeysTypesAndClamps) {
  Fixture f;
  struct Case {
    const char* args;
    const char* want;
  };
  const Case refused[] = {
      {"A, { 0.8 }", "error: set_rainbow takes named fields, `{ intensity = 0.8 }`, not a list"},
      {"A, 0.8", "error: set_rainbow takes { intensity, ease_ticks? }, or nil for none, not number"},
      {"42, { intensity = 1 }",
       "error: set_rainbow takes a player UUID in hex, as a hook event reports one, not integer"},
      {"'zz', { intensity = 1 }",
       "error: set_rainbow takes a player UUID in hex, as a hook event reports one"},
      {"A, { intensity = 1, colour = 2 }",
       "error: set_rainbow: unknown field `colour`. The fields are [\"intensity\", \"ease_ticks\"]."},
      {"A, { intensity = '1' }", "error: set_rainbow: `intensity` must be a number, not string"},
      {"A, { intensity = 1, ease_ticks = true }",
       "error: set_rainbow: `ease_ticks` must be a number, not boolean"},
      {"A, { ease_ticks = 5 }",
       "error: set_rainbow needs `intensity`, a number from 0 to 1 (nil for no rainbow)"},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.args);
    EXPECT_EQ(f.call(std::string("game.set_rainbow(") + c.args + ")"), c.want);
  }
  EXPECT_TRUE(f.sky->calls.empty());
  struct Built {
    const char* table;
    float intensity;
    std::uint32_t ease;
  };
  const Built built[] = {{"{ intensity = 2, ease_ticks = 5000 }", 1.0f, 2400},
                         {"{ intensity = 1.7 }", 1.0f, 0},
                         {"{ intensity = 1e39 }", 0.0f, 0},
                         {"{ intensity = 0.5, ease_ticks = 99.9 }", 0.5f, 99},
                         {"{ intensity = 0.5, ease_ticks = -5 }", 0.5f, 0},
                         {"{ intensity = 0.5, ease_ticks = 1e9 }", 0.5f, 2400}};
  for (const Built& b : built) {
    SCOPED_TRACE(b.table);
    EXPECT_EQ(f.call(std::string("game.set_rainbow(A, ") + b.table + ")"), "true");
    EXPECT_EQ(f.sky->rainbow, (atmosphere::Rainbow{b.intensity, b.ease}));
  }
  EXPECT_EQ(f.call("game.set_rainbow(B, nil)"), "false");
  EXPECT_FALSE(f.sky->rainbow.has_value());
}

TEST(Flash, ReadsClampsAndRefusals) {
  Fixture f;
  EXPECT_EQ(f.call("game.flash({ pos = { x = 1, y = 2, z = 3 } })"), "3");
  ASSERT_TRUE(f.sky->flashed.has_value());
  EXPECT_EQ(f.sky->flashed->domain, "overworld");
  EXPECT_EQ(f.sky->flashed->pos, (std::array<double, 3>{1, 2, 3}));
  EXPECT_EQ(f.sky->flashed->radius, 256.0f);
  EXPECT_EQ(f.sky->flashed->flash, atmosphere::Flash{});
  EXPECT_FALSE(f.sky->flashed->player.has_value());

  EXPECT_EQ(
      f.call("game.flash({ pos = { x = 1/0, y = 0/0, z = 5, domain = 'caves' }, colour = { r = -1, 3 }, "
             "intensity = 9, attack_ticks = 500, decay_ticks = 1000, radius = 5000, player = B })"),
      "3");
  const auto& r = *f.sky->flashed;
  EXPECT_EQ(r.domain, "caves");
  EXPECT_EQ(r.pos, (std::array<double, 3>{0, 0, 5}));
  EXPECT_EQ(r.flash.colour, (atmosphere::Vec3f{0.0f, 1.0f, 1.0f}));
  EXPECT_EQ(r.flash.intensity, 4.0f);
  EXPECT_EQ(r.flash.attack_ticks, 100u);
  EXPECT_EQ(r.flash.decay_ticks, 400u);
  EXPECT_EQ(r.radius, 1024.0f);
  EXPECT_EQ(r.player, test::player(0xBB));

  EXPECT_EQ(f.call("game.flash({})"), "error: flash needs a `pos` table");
  EXPECT_EQ(f.call("game.flash()").rfind("error: bad argument #1 to 'flash'", 0), 0u);
  EXPECT_EQ(f.call("game.flash({ pos = 1 })"), "error: flash: bad field `pos` (expected table, got integer)");
  EXPECT_EQ(f.call("game.flash({ pos = { x = 1, y = 2 } })"),
            "error: flash: bad field `pos.z` (expected number, got nil)");
  EXPECT_EQ(f.call("game.flash({ pos = { x = 1, y = 2, z = 3 }, player = 'me' })"),
            "error: flash: `player` is a player's UUID in hex, not `me`");
  EXPECT_EQ(f.sky->calls.size(), 2u);
}

TEST(Lightning, ReadsClampsSeedsAndRefusals) {
  Fixture f;
  const std::string example = "{ from = { x = 0, y = 200, z = 0 }, to = { x = 0, y = -10000, z = 0 } }";
  EXPECT_EQ(f.call("game.lightning(" + example + ")"), "3");
  EXPECT_EQ(f.call("game.lightning(" + example + ")"), "3");
  // A fresh mod's first two unseeded bolts of this example.
  EXPECT_EQ(f.sky->seeds, (std::vector<std::uint64_t>{0x7FEADE909F094989ull, 0x049B7DE809D53B16ull}));
  const auto& b = f.sky->bolt->lightning;
  EXPECT_EQ(b.to, (std::array<double, 3>{0, -3896, 0}));
  EXPECT_EQ(f.sky->bolt->domain, "overworld");
  EXPECT_EQ(f.sky->bolt->radius, 256.0f);
  EXPECT_EQ(b.colour, (std::array<float, 3>{0.85f, 0.8f, 1.0f}));
  EXPECT_EQ(b.width, 0.4f);
  EXPECT_EQ(b.branches, 3);
  EXPECT_EQ(b.ticks, 8);

  // Another mod counts its own calls from 0; a seeded call does not count.
  ASSERT_TRUE(test::load(f.vm, "other", ""));
  EXPECT_EQ(run(f.vm, "other",
                "return game.lightning({ seed = 5, from = { x = 0, y = 200, z = 0 }, "
                "to = { x = 0, y = -10000, z = 0 } })"),
            "3");
  EXPECT_EQ(run(f.vm, "other", "return game.lightning(" + example + ")"), "3");
  EXPECT_EQ(f.sky->seeds, (std::vector<std::uint64_t>{0x7FEADE909F094989ull, 0x049B7DE809D53B16ull, 5,
                                                      0x7FEADE909F094989ull}));

  EXPECT_EQ(
      f.call(
          "game.lightning({ seed = -1, from = { x = 1e9, y = 0, z = 0, domain = 'caves' }, to = { x = 0/0, y "
          "= "
          "0, z = 0, domain = '' }, ticks = 0, branches = 20, width = 20, colour = { r = 3 }, radius = 300, "
          "player = A })"),
      "3");
  const auto& r = *f.sky->bolt;
  EXPECT_EQ(r.lightning.seed, ~std::uint64_t{0});
  EXPECT_EQ(r.domain, "caves");
  EXPECT_EQ(r.lightning.from[0], 64096.0);
  EXPECT_EQ(r.lightning.to[0], 64096.0);
  EXPECT_EQ(r.lightning.ticks, 1);
  EXPECT_EQ(r.lightning.branches, 8);
  EXPECT_EQ(r.lightning.width, 8.0f);
  EXPECT_EQ(r.lightning.colour, (std::array<float, 3>{2.0f, 0.8f, 1.0f}));
  EXPECT_EQ(r.radius, 300.0f);
  EXPECT_EQ(r.player, test::player(0xAA));
  f.call(
      "game.lightning({ seed = 1, from = { x = 0, y = 0, z = 0 }, to = { x = 0, y = 0, z = 0 }, ticks = 500, "
      "branches = -2 })");
  EXPECT_EQ(f.sky->bolt->lightning.ticks, 200);
  EXPECT_EQ(f.sky->bolt->lightning.branches, 0);

  const std::size_t calls = f.sky->calls.size();
  struct Case {
    const char* spec;
    const char* want;
  };
  const Case refused[] = {
      {"{ to = { x = 0, y = 0, z = 0 } }", "error: lightning needs a `from` table"},
      {"{ from = { x = 0, y = 0, z = 0 } }", "error: lightning needs a `to` table"},
      {"{ from = { x = 0, y = 0, z = 0, domain = 'a' }, to = { x = 0, y = 0, z = 0, domain = 'b' } }",
       "error: lightning: `from` is in `a` and `to` in `b`; a bolt is in one domain"},
      {"{ from = { x = 0, y = 0, z = 0 }, to = { x = 0, y = 0, z = 0, domain = 'b' } }",
       "error: lightning: `from` is in `overworld` and `to` in `b`; a bolt is in one domain"},
      {"{ seed = 2.5, from = { x = 0, y = 0, z = 0 }, to = { x = 0, y = 0, z = 0 } }",
       "error: a seed must be a whole number, not 2.5"},
      {"{ seed = true, from = { x = 0, y = 0, z = 0 }, to = { x = 0, y = 0, z = 0 } }",
       "error: a seed must be an integer, not boolean"},
      {"{ from = { x = 0, y = 0, z = 0 }, to = { x = 0, y = 0, z = 0 }, branches = 'many' }",
       "error: lightning: bad field `branches` (expected integer, got string)"},
      {"{ from = { x = 0, y = 0, z = 0 }, to = { x = 0, y = 0 } }",
       "error: lightning: bad field `to.z` (expected number, got nil)"},
      {"{ from = 3, to = { x = 0, y = 0, z = 0 } }",
       "error: lightning: bad field `from` (expected table, got integer)"},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.spec);
    EXPECT_EQ(f.call(std::string("game.lightning(") + c.spec + ")"), c.want);
  }
  EXPECT_EQ(f.sky->calls.size(), calls);
  // `to` naming the domain of `from` is accepted.
  EXPECT_EQ(f.call("game.lightning({ from = { x = 0, y = 0, z = 0 }, to = { x = 0, y = 0, z = 0, domain = "
                   "'overworld' } })"),
            "3");
}

TEST(AtmosphereFunctions, EmptyOrPoisonedSlotAnswersFalseOrZero) {
  const char* calls[] = {
      "game.set_sky_modifier(A, {})",
      "game.set_clouds(A, { cover = 1 })",
      "game.set_rainbow(A, { intensity = 1 })",
      "game.flash({ pos = { x = 0, y = 0, z = 0 } })",
      "game.lightning({ from = { x = 0, y = 0, z = 0 }, to = { x = 0, y = 0, z = 0 } })",
  };
  const char* want[] = {"false", "false", "false", "0", "0"};
  for (bool poison : {false, true}) {
    Fixture f;
    if (poison) {
      f.vm.slots().atmosphere->poison();
    } else {
      f.vm.set_atmosphere_access(nullptr);
    }
    for (std::size_t i = 0; i < std::size(calls); ++i) {
      SCOPED_TRACE(calls[i]);
      EXPECT_EQ(f.call(calls[i]), want[i]);
    }
    EXPECT_TRUE(f.sky->calls.empty());
  }
  // At the top of init.lua the slot is still empty.
  auto vm = test::make_engine();
  ASSERT_TRUE(
      test::load(vm, "early",
                 "seen = { game.set_rainbow('" + kA +
                     "', nil), game.flash({ pos = { x = 0, y = 0, z = 0 } }), "
                     "game.lightning({ from = { x = 0, y = 0, z = 0 }, to = { x = 0, y = 0, z = 0 } }) }"));
  EXPECT_EQ(run(vm, "early", "return tostring(seen[1]) .. ',' .. seen[2] .. ',' .. seen[3]"), "false,0,0");
}

}  // namespace
}  // namespace ostrel_core::script::lua_vm
