// The star functions of `game`: the catalog and the world's position from the seed, a player's
// look direction and the star in view, their nil answers and refusals.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "presentation/sky.hpp"
#include "presentation/star_goldens.hpp"
#include "script/api/stars.hpp"
#include "script/lua_vm/slots.hpp"
#include "script/presentation_fakes.hpp"
#include "script/runtime_fakes.hpp"
#include "script/terrain_lua.hpp"
#include "support/script_engine.hpp"

namespace ostrel_core::script::lua_vm {
namespace {

using test::run;

const std::string kA(64, 'a');

struct Fixture {
  LuaVm vm = test::make_engine();
  std::shared_ptr<test::FakeSight> sight = std::make_shared<test::FakeSight>();
  std::shared_ptr<test::FakeDomains> domains = std::make_shared<test::FakeDomains>();
  Fixture() {
    EXPECT_TRUE(test::load(vm, "m", ""));
    vm.set_sight_access(sight);
    vm.set_domain_access(domains);
    vm.set_world_seed(sky::golden::kSeed);
  }
  std::string call(std::string_view code) {
    return run(vm, "m", "local A = '" + kA + "'\nreturn " + std::string(code));
  }
};

TEST(StarFunctions, CatalogAndWorldPositionFromTheSeed) {
  Fixture f;
  EXPECT_EQ(f.call("#game.stars()"), "2048");
  const auto& first = sky::golden::kStars[0];
  EXPECT_EQ(
      f.call("(function() local s = game.stars()[1] return string.format('%d %d %d %d %s %s', s.id, s.x, "
             "s.y, s.z, math.type(s.x), math.type(s.magnitude)) end)()"),
      fmt::format("16 {} {} {} integer float", first.position.x, first.position.y, first.position.z));
  // The f32 magnitude and warmth cross unchanged.
  EXPECT_EQ(f.call("(function() local s = game.stars()[1] return string.format('%08X %08X', "
                   "string.unpack('<I4', string.pack('<f', s.magnitude)), "
                   "string.unpack('<I4', string.pack('<f', s.warmth))) end)()"),
            "3F4C8B66 3F7D6679");
  EXPECT_EQ(f.call("game.stars()[2048].id"), "2063");
  // Each call builds a new list.
  EXPECT_EQ(f.call("game.stars() ~= game.stars()"), "true");
  const auto world = sky::world_position(sky::golden::kSeed);
  EXPECT_EQ(
      f.call("(function() local p = game.world_position() return p.x .. ' ' .. p.y .. ' ' .. p.z end)()"),
      fmt::format("{} {} {}", world.x, world.y, world.z));
  // The cache keeps the catalog for the seed and rebuilds it for another.
  const auto cached = catalog_of(*f.vm.slots().seed, *f.vm.slots().stars);
  ASSERT_NE(cached, nullptr);
  EXPECT_EQ(catalog_of(*f.vm.slots().seed, *f.vm.slots().stars), cached);
  f.vm.set_world_seed(42);
  const auto rebuilt = catalog_of(*f.vm.slots().seed, *f.vm.slots().stars);
  ASSERT_NE(rebuilt, nullptr);
  EXPECT_EQ(rebuilt->seed, 42u);
  EXPECT_EQ(rebuilt->stars, sky::star_catalog(42));
}

TEST(StarFunctions, LookDirectionAndStarInView) {
  Fixture f;
  f.sight->gazes[test::player(0xAA)] = sight::Gaze{"overworld", {0.0f, 0.0f, 1.0f}};
  EXPECT_EQ(
      f.call("(function() local g = game.look_direction(A) return g.x .. ' ' .. g.y .. ' ' .. g.z .. ' ' .. "
             "g.domain end)()"),
      "0.0 0.0 1.0 overworld");
  // From the world position at time 0 (no clock) the star is the one the catalog gives.
  const auto catalog = sky::star_catalog(sky::golden::kSeed);
  const auto want = sky::star_in_view(catalog, sky::world_position(sky::golden::kSeed), {0, 0, 1}, 0.0f);
  ASSERT_TRUE(want.has_value());
  EXPECT_EQ(
      f.call(
          "(function() local s = game.star_in_view(A) return s.id .. ' ' .. math.type(s.alignment) end)()"),
      fmt::format("{} float", want->id));
  // A domain with a position of its own is seen from there.
  f.sight->gazes[test::player(0xAA)] = sight::Gaze{"far", {0.0f, 0.0f, 1.0f}};
  f.domains->positions["far"] = catalog[100].position;
  const auto there = sky::star_in_view(catalog, catalog[100].position, {0, 0, 1}, 0.0f);
  EXPECT_EQ(f.call("game.star_in_view(A).id"), std::to_string(there->id));
  // A poisoned domain slot counts as empty: the world position again.
  f.vm.slots().domains->poison();
  EXPECT_EQ(f.call("game.star_in_view(A).id"), std::to_string(want->id));
  // The sky turns with the world clock: a quarter day on, a view across the axis sees another star.
  auto clock = std::make_shared<test::FakeSound>();
  clock->fraction = 0.25f;
  f.vm.set_sound_access(clock);
  f.sight->gazes[test::player(0xAA)] = sight::Gaze{"overworld", {1.0f, 0.0f, 0.0f}};
  const auto home = sky::world_position(sky::golden::kSeed);
  const auto early = sky::star_in_view(catalog, home, {1, 0, 0}, 0.0f);
  const auto later = sky::star_in_view(catalog, home, {1, 0, 0}, 0.25f);
  ASSERT_TRUE(early.has_value() && later.has_value());
  ASSERT_NE(later->id, early->id);
  EXPECT_EQ(f.call("game.star_in_view(A).id"), std::to_string(later->id));
  // A zero view sees nothing.
  f.sight->gazes[test::player(0xAA)] = sight::Gaze{"overworld", {0.0f, 0.0f, 0.0f}};
  EXPECT_EQ(f.call("game.star_in_view(A)"), "nil");
}

TEST(StarFunctions, NilAnswersAndRefusals) {
  Fixture f;
  // Not connected.
  EXPECT_EQ(f.call("game.look_direction(A)"), "nil");
  EXPECT_EQ(f.call("game.star_in_view(A)"), "nil");
  EXPECT_EQ(f.call("game.look_direction('x')"),
            "error: look_direction takes a player UUID in hex, as a hook event reports one");
  EXPECT_EQ(f.call("game.star_in_view(string.rep('g', 64))"),
            "error: star_in_view takes a player UUID in hex, as a hook event reports one");
  EXPECT_EQ(f.call("game.look_direction()").rfind("error: bad argument #1 to 'look_direction'", 0), 0u);
  f.vm.slots().sight->poison();
  EXPECT_EQ(f.call("game.look_direction(A)"),
            "error: the world lease is poisoned; the simulation thread panicked");
  EXPECT_EQ(f.call("game.star_in_view(A)"),
            "error: the world lease is poisoned; the simulation thread panicked");

  // Before the seed, and at the top of init.lua.
  auto vm = test::make_engine();
  ASSERT_TRUE(test::load(vm, "early",
                         "seen = { game.stars(), game.world_position(), game.look_direction('" + kA +
                             "'), game.star_in_view('" + kA + "') }"));
  EXPECT_EQ(run(vm, "early", "return #seen .. ' ' .. tostring(next(seen))"), "0 nil");
  auto sight = std::make_shared<test::FakeSight>();
  sight->gazes[test::player(0xAA)] = sight::Gaze{"overworld", {0.0f, 0.0f, 1.0f}};
  vm.set_sight_access(sight);
  EXPECT_EQ(run(vm, "early", "return tostring(game.star_in_view('" + kA + "'))"), "nil");
  EXPECT_EQ(run(vm, "early", "return tostring(game.stars())"), "nil");
  EXPECT_EQ(run(vm, "early", "return tostring(game.look_direction('" + kA + "') ~= nil)"), "true");
  // A poisoned cache or seed holder answers nil.
  vm.set_world_seed(1);
  vm.slots().stars->poison();
  EXPECT_EQ(run(vm, "early", "return tostring(game.stars())"), "nil");
  EXPECT_EQ(run(vm, "early", "return tostring(game.world_position() ~= nil)"), "true");
  vm.slots().seed->poison();
  EXPECT_EQ(run(vm, "early", "return tostring(game.world_position())"), "nil");
}

}  // namespace
}  // namespace ostrel_core::script::lua_vm
