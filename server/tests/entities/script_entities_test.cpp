// The entity, player, mount, transfer and domain functions of `game` over the server's own
// entity and domain access: what a script asks, what the population, the players' records and
// the registry hold afterwards.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "entities/access.hpp"
#include "hub/records.hpp"
#include "script/lua_vm/lua_vm.hpp"
#include "script/terrain_lua.hpp"
#include "support/log_capture.hpp"
#include "support/lua_dump.hpp"
#include "support/mod_env.hpp"
#include "support/script_engine.hpp"
#include "world/domains.hpp"

namespace ostrel_server::ent {
namespace {

using ostrel_core::coords::BlockPos;
using ostrel_core::ent::component::Transform;
using ostrel_core::script::lua_vm::LuaVm;
using transport::endpoint::PlayerSim;

PlayerUuid uuid(std::uint8_t n) { return ostrel_core::test::player(n); }
std::string hex(std::uint8_t n) { return "'" + uuid(n).to_hex() + "'"; }

class ScriptEntities : public ::testing::Test {
 protected:
  ScriptEntities() {
    EXPECT_TRUE(ostrel_core::test::load(vm_, "m", ""));
    for (std::uint8_t n : {1, 2}) {
      (*players_->lock())->emplace(uuid(n), PlayerSim::at_spawn(BlockPos{8, 1, 8}, 0));
      (*population_->write())->sync_player(uuid(n), Transform::from_world(8.5, 1.0, 8.5), {}, 0, {});
    }
    {
      auto reg = registries_->write();
      EXPECT_TRUE((*reg)->register_domain("moon", {}).has_value());
      (*reg)->freeze();
    }
    {
      auto reg = templates_->lock();
      ostrel_core::domain::Spec tmpl;
      tmpl.instanced = true;
      EXPECT_TRUE((*reg)->register_domain("m:t", tmpl).has_value());
      EXPECT_TRUE((*reg)->register_domain("m:plain", {}).has_value());
      (*reg)->freeze();
    }
    vm_.set_entity_access(access_);
    vm_.set_domain_access(domains_);
  }

  // Dumps every result of `expr`, joined by " | ".
  std::string eval(std::string_view expr) { return ostrel_core::test::dump_results(vm_, "m", expr); }
  // Runs statements; "" when they finished.
  std::string exec(std::string_view code) { return ostrel_core::test::run_in(vm_, "m", std::string(code)); }
  std::size_t live() { return (*population_->read())->entities().live(); }
  PlayerSim sim(std::uint8_t n) { return (*players_->lock())->at(uuid(n)); }
  EntityId body(std::uint8_t n) { return *(*population_->read())->body_of(uuid(n)); }

  LuaVm vm_ = ostrel_core::test::make_engine();
  std::shared_ptr<Guarded> population_ = std::make_shared<Guarded>();
  std::shared_ptr<Shared::Domains> registries_ = std::make_shared<Shared::Domains>();
  std::shared_ptr<Shared::Players> players_ = std::make_shared<Shared::Players>();
  std::shared_ptr<Shared> access_ = std::make_shared<Shared>(population_, registries_, players_);
  std::shared_ptr<ostrel_core::sync::Mutex<ostrel_core::domain::Registry>> templates_ =
      std::make_shared<ostrel_core::sync::Mutex<ostrel_core::domain::Registry>>();
  std::shared_ptr<domains::Shared> domains_ = std::make_shared<domains::Shared>(templates_);
};

TEST_F(ScriptEntities, ASpawnReadsBackExactly) {
  ASSERT_EQ(exec("id = game.spawn_entity({ pos = { x = 10.5, y = 64, z = -3, domain = 'moon' } })"), "");
  EXPECT_EQ(eval("math.type(id)"), "integer");
  EXPECT_EQ(
      eval("game.entity(id)"),
      "{anim=0,facing={x=0.0,y=0.0,z=1.0},fell=0.0,on_ground=false,pitch=0.0,pos={x=10.5,y=64.0,z=-3.0},"
      "source=m,submerged=0.0,tint={b=1.0,g=1.0,r=1.0},velocity={x=0.0,y=0.0,z=0.0},yaw=0.0}");
  // A domain in `pos` is not read: it is in the overworld.
  EXPECT_EQ(eval("#game.entities_in_radius({ x = 10.5, y = 64, z = -3 }, 0)"), "1");

  // Everything a spawn spec sets; nametag_player wins over nametag and reads back in lower case.
  const std::string upper(64, 'C');
  ASSERT_EQ(exec("full = game.spawn_entity({ pos = { x = 0, y = 0, z = 0 }, model = 'm:pig', health = 20, "
                 "speed = 16,"
                 " nametag = 'Bob', nametag_player = '" +
                 upper + "', collider = { width = 48, height = 2.5 } })"),
            "");
  EXPECT_EQ(eval("game.entity(full).health .. ' ' .. game.entity(full).max_health .. ' ' .. "
                 "game.entity(full).model"),
            "20 20 m:pig");
  EXPECT_EQ(
      eval("game.entity(full).nametag_player == string.rep('c', 64) and game.entity(full).nametag == nil"),
      "true");
  EXPECT_EQ(eval("game.set_entity(full, { health = 500 }) and game.entity(full).health"), "20");
  EXPECT_EQ(eval("game.set_entity(id, { health = 500 })"), "false");  // no health to set
  const Entity full = *access_->get(EntityId{static_cast<std::uint64_t>(std::stoll(eval("full")))});
  EXPECT_EQ(full.speed, 16.0f);
  EXPECT_EQ(full.collider, (ostrel_core::phys::Shape{48.0f, 2.5f}));
}

TEST_F(ScriptEntities, RefusedSpecsRaiseTheirTextsAndSpawnNothing) {
  struct Case {
    const char* code;
    const char* want;
  };
  const Case cases[] = {
      {"game.spawn_entity({ pos = { x = 0, y = 0, z = 0 }, speed = 16.5 })",
       "spawn_entity: `speed` is a multiplier from 0 to 16, got 16.5"},
      {"game.spawn_entity({ pos = { x = 0, y = 0, z = 0 }, speed = -0.1 })",
       "spawn_entity: `speed` is a multiplier from 0 to 16, got -0.1"},
      {"game.spawn_entity({ pos = { x = 0, y = 0, z = 0 }, speed = 0/0 })",
       "spawn_entity: `speed` is a multiplier from 0 to 16, got NaN"},
      {"game.spawn_entity({ pos = { x = 0, y = 0, z = 0 }, speed = math.huge })",
       "spawn_entity: `speed` is a multiplier from 0 to 16, got inf"},
      {"game.spawn_entity({ pos = { x = 0, y = 0, z = 0 }, speed = -math.huge })",
       "spawn_entity: `speed` is a multiplier from 0 to 16, got -inf"},
      {"game.spawn_entity({ pos = { x = 0/0, y = 0, z = 0 } })",
       "spawn_entity was given a position that is not a number"},
      {"game.spawn_entity({ pos = { x = 0, y = math.huge, z = 0 } })",
       "spawn_entity was given a position that is not a number"},
      {"game.spawn_entity({ pos = { x = 0, y = 0 } })",
       "spawn_entity: bad field `pos.z` (expected number, got nil)"},
      {"game.spawn_entity({ pos = { x = 0, y = 0, z = 0 }, nametag_player = 'abc' })",
       "nametag_player takes a player UUID in hex, as `game.entity` reports one"},
      {"game.spawn_entity({ pos = { x = 0, y = 0, z = 0 }, collider = { width = 0, height = 1 } })",
       "spawn_entity: `collider` is { width, height } in cells, each above 0 and at most 48"},
      {"game.spawn_entity({ pos = { x = 0, y = 0, z = 0 }, collider = { width = 1, height = -1 } })",
       "spawn_entity: `collider` is { width, height } in cells, each above 0 and at most 48"},
      {"game.spawn_entity({ pos = { x = 0, y = 0, z = 0 }, collider = { width = 0/0, height = 1 } })",
       "spawn_entity: `collider` is { width, height } in cells, each above 0 and at most 48"},
      {"game.spawn_entity({ pos = { x = 0, y = 0, z = 0 }, collider = { width = 1, height = 48.5 } })",
       "spawn_entity: `collider` is { width, height } in cells, each above 0 and at most 48"},
      {"game.spawn_entity({ pos = { x = 0, y = 0, z = 0 }, collider = { width = 1e300, height = 1 } })",
       "spawn_entity: `collider` is { width, height } in cells, each above 0 and at most 48"},
      {"game.set_entity(first, { speed = 16.5 })",
       "set_entity: `speed` is a multiplier from 0 to 16, got 16.5"},
      {"game.set_entity(first, { tint = true })",
       "set_entity: `tint` is { r, g, b } in 0..=1, or false, not a boolean"},
      {"game.set_entity(first, { tint = 5 })",
       "set_entity: `tint` is { r, g, b } in 0..=1, or false, not a integer"},
      {"game.set_entity(first, { tint = { g = 1.5 } })", "set_entity: tint.g must be 0..=1, got 1.5"},
      {"game.set_entity(first, { drive = { gait = 'run' } })",
       "set_entity: unknown gait `run`; expected walk, sprint or sneak"},
      {"game.set_entity(2^64, {})", "an entity id must be an integer, not number"},
      {"game.set_entity(1.5, {})", "an entity id must be a whole number, not 1.5"},
      {"game.set_entity('x', { tint = true })",
       "set_entity: `tint` is { r, g, b } in 0..=1, or false, not a boolean"},
  };
  ASSERT_EQ(exec("first = game.spawn_entity({ pos = { x = 0, y = 0, z = 0 } })"), "");
  const std::size_t before = live();
  const Entity untouched = *access_->get(EntityId{static_cast<std::uint64_t>(std::stoll(eval("first")))});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(eval(c.code), std::string("error: ") + c.want);
  }
  EXPECT_EQ(live(), before);
  EXPECT_EQ(*access_->get(EntityId{static_cast<std::uint64_t>(std::stoll(eval("first")))}), untouched);
  // Exactly 16, and a spawn without speed, are taken.
  EXPECT_EQ(eval("math.type(game.spawn_entity({ pos = { x = 0, y = 0, z = 0 }, speed = 16 }))"), "integer");
}

TEST_F(ScriptEntities, TheWorldsEdgeAndPlayerBodies) {
  const std::size_t before = live();
  // Outside blocks -60000..=59999 nothing is spawned, moved or queued.
  EXPECT_EQ(eval("game.spawn_entity({ pos = { x = 60000, y = 0, z = 0 } })"), "nil");
  EXPECT_EQ(eval("game.spawn_entity({ pos = { x = 0, y = -60000.5, z = 0 } })"), "nil");
  EXPECT_EQ(live(), before);
  ASSERT_EQ(exec("id = game.spawn_entity({ pos = { x = 59999.5, y = -60000, z = 1 } })"), "");
  EXPECT_EQ(eval("game.entity(id).pos"), "{x=59999.5,y=-60000.0,z=1.0}");
  EXPECT_EQ(eval("game.set_entity(id, { pos = { x = 1, y = 1e9, z = 1 } })"), "false");
  EXPECT_EQ(eval("game.set_entity(id, { pos = { x = 0/0, y = 1, z = 1 } })"), "false");
  EXPECT_EQ(eval("game.entity(id).pos"), "{x=59999.5,y=-60000.0,z=1.0}");
  EXPECT_EQ(eval("game.set_entity(id, { pos = { x = 2, y = 3, z = 4 } })"), "true");
  EXPECT_EQ(eval("game.entity(id).pos"), "{x=2.0,y=3.0,z=4.0}");
  EXPECT_EQ(eval("game.transfer_entity(id, 'moon', { x = 0, y = 60000, z = 0 })"), "false");
  EXPECT_TRUE(access_->take_transfers().empty());
  EXPECT_EQ(eval("game.transfer_entity(id, 'moon', { x = 0, y = 59999, z = 0 })"), "true");
  EXPECT_EQ(access_->take_transfers().size(), 1u);

  // A player's body is the player's: despawning it answers false and it stays.
  const EntityId b = body(1);
  EXPECT_EQ(eval("game.player_entity(" + hex(1) + ")"), std::to_string(b.value));
  EXPECT_EQ(eval("game.despawn_entity(game.player_entity(" + hex(1) + "))"), "false");
  EXPECT_NE(access_->get(b), std::nullopt);
  EXPECT_EQ(eval("game.entity(game.player_entity(" + hex(1) + ")).source"), "engine:player");
}

TEST_F(ScriptEntities, DespawnAndSlotReuse) {
  ASSERT_EQ(exec("a = game.spawn_entity({ pos = { x = 1, y = 2, z = 3 } })"), "");
  EXPECT_EQ(eval("game.despawn_entity(a)"), "true");
  EXPECT_EQ(eval("game.despawn_entity(a)"), "false");
  EXPECT_EQ(eval("game.entity(a)"), "nil");
  // The freed slot is taken again under a new id; the old id still names nothing.
  ASSERT_EQ(exec("b = game.spawn_entity({ pos = { x = 1, y = 2, z = 3 } })"), "");
  EXPECT_EQ(eval("b ~= a and (b & 0xFFFFFFFF) == (a & 0xFFFFFFFF)"), "true");
  EXPECT_EQ(eval("game.entity(a)"), "nil");
  EXPECT_EQ(eval("game.set_entity(a, { yaw = 1 })"), "false");
}

TEST_F(ScriptEntities, SetSpecEntries) {
  ASSERT_EQ(exec("id = game.spawn_entity({ pos = { x = 1, y = 2, z = 3 } })"), "");
  const auto entity = [&] {
    return *access_->get(EntityId{static_cast<std::uint64_t>(std::stoll(eval("id")))});
  };
  EXPECT_EQ(eval("game.set_entity(id, {})"), "false");
  EXPECT_EQ(eval("game.set_entity(id, { yaw = 0 })"), "true");  // its own yaw still counts
  EXPECT_EQ(eval("game.set_entity(id, { tint = { r = 0, g = 0.5 } })"), "true");
  EXPECT_EQ(eval("game.entity(id).tint"), "{b=1.0,g=0.50196078431373,r=0.0}");
  EXPECT_EQ(eval("game.set_entity(id, { tint = { r = 1, g = 0, b = 0 }, tint_ticks = 6 })"), "true");
  EXPECT_EQ(eval("game.entity(id).tint"), "{b=1.0,g=0.50196078431373,r=0.0}");  // a flash leaves the base
  EXPECT_EQ(entity().flash->total, 6);
  EXPECT_EQ(eval("game.set_entity(id, { tint = { b = 0 }, tint_ticks = 100000 })"), "true");
  EXPECT_EQ(entity().flash->total, 65535);
  EXPECT_EQ(eval("game.set_entity(id, { tint_ticks = 5 })"), "false");  // ignored without a tint table
  EXPECT_EQ(eval("game.set_entity(id, { tint = false })"), "true");
  EXPECT_EQ(eval("game.entity(id).tint"), "{b=1.0,g=1.0,r=1.0}");
  EXPECT_EQ(eval("game.set_entity(id, { drive = {} })"), "true");
  EXPECT_EQ(entity().drive, ostrel_core::phys::Intent{});
  EXPECT_EQ(
      eval("game.set_entity(id, { drive = { walk = { x = 1, z = -1 }, gait = 'sneak', jump = true } })"),
      "true");
  EXPECT_EQ(entity().drive,
            (ostrel_core::phys::Intent{1.0f, -1.0f, ostrel_core::phys::Gait::Sneak, true, false}));
  EXPECT_EQ(eval("game.set_entity(id, { anim = 7, yaw = math.pi / 2 }) and game.entity(id).anim"), "7");
  EXPECT_EQ(eval("string.format('%.4f %.4f', game.entity(id).facing.x, game.entity(id).facing.y)"),
            "1.0000 0.0000");
}

TEST_F(ScriptEntities, EntitiesInRadius) {
  ASSERT_EQ(exec(R"(
    near = game.spawn_entity({ pos = { x = 1, y = 0, z = 0 } })
    far = game.spawn_entity({ pos = { x = 3, y = 0, z = 0 }, model = 'm:cow' })
    here = game.spawn_entity({ pos = { x = 0, y = 0, z = 0 } })
    away = game.spawn_entity({ pos = { x = 0.5, y = 0, z = 0 } })
  )"),
            "");
  (*population_->write())->set_domain(EntityId{static_cast<std::uint64_t>(std::stoll(eval("away")))}, "moon");
  const std::string at = "{ x = 0, y = 0, z = 0 }";
  EXPECT_EQ(eval("dump(game.entities_in_radius(" + at + ", 5)) == dump({ here, near, far })"), "true");
  EXPECT_EQ(eval("dump(game.entities_in_radius(" + at + ", -1)) == dump({ here, near })"), "true");
  EXPECT_EQ(eval("dump(game.entities_in_radius(" + at + ", 0)) == dump({ here })"), "true");
  EXPECT_EQ(eval("game.entities_in_radius(" + at + ", 0/0)"), "{}");
  EXPECT_EQ(eval("dump(game.entities_in_radius(" + at + ", '5', 'm')) == dump({ here, near, far })"), "true");
  EXPECT_EQ(eval("game.entities_in_radius(" + at + ", 5, 'other')"), "{}");
  // Only the domain the position names.
  EXPECT_EQ(
      eval("dump(game.entities_in_radius({ x = 0, y = 0, z = 0, domain = 'moon' }, 5)) == dump({ away })"),
      "true");
  EXPECT_EQ(eval("game.entities_in_radius(" + at + ", {})"),
            "error: bad argument #2 to 'entities_in_radius' (expected number, got table)");
}

TEST_F(ScriptEntities, Players) {
  EXPECT_EQ(eval("game.player_entity('abc')"),
            "error: player_entity takes a player UUID in hex, as a hook event reports one");
  EXPECT_EQ(eval("game.player_entity(" + hex(9) + ")"), "nil");
  // move_player: the world's last block, its edge, NaN.
  EXPECT_EQ(eval("game.move_player(" + hex(1) + ", { x = 59999.5, y = 3, z = 0 })"), "true");
  EXPECT_EQ(sim(1).chunk, (ChunkPos{3749, 0, 0}));
  EXPECT_EQ(eval("game.move_player(" + hex(1) + ", { x = 60000, y = 3, z = 0 })"), "false");
  EXPECT_EQ(sim(1).chunk, (ChunkPos{3749, 0, 0}));
  EXPECT_EQ(eval("game.move_player(" + hex(1) + ", { x = 0/0, y = 3, z = 0 })"),
            "error: game.move_player was given a position that is not a number");
  EXPECT_EQ(eval("game.move_player(" + hex(9) + ", { x = 1, y = 3, z = 0 })"), "false");
  // A rider moved is off.
  ASSERT_EQ(exec("horse = game.spawn_entity({ pos = { x = 8, y = 1, z = 8 }, collider = { width = 3, height "
                 "= 4 } })"),
            "");
  EXPECT_EQ(eval("game.mount(" + hex(1) + ", horse)"), "true");
  EXPECT_EQ(eval("game.mounted(" + hex(1) + ") == horse"), "true");
  EXPECT_EQ(eval("game.move_player(" + hex(1) + ", { x = 2, y = 3, z = 4 })"), "true");
  EXPECT_EQ(eval("game.mounted(" + hex(1) + ")"), "nil");
  EXPECT_EQ(sim(1).velocity, (std::array<float, 3>{}));

  // select_slot: the u16 range, a fraction cut toward zero.
  EXPECT_EQ(eval("game.select_slot(" + hex(1) + ", 65536)"),
            "error: game.select_slot: slot must be 0 or more and fit in a u16, got 65536");
  EXPECT_EQ(eval("game.select_slot(" + hex(1) + ", -1)"),
            "error: game.select_slot: slot must be 0 or more and fit in a u16, got -1");
  EXPECT_EQ(eval("game.select_slot(" + hex(1) + ", 65535)"), "true");
  EXPECT_EQ(eval("game.select_slot(" + hex(1) + ", 2.5)"), "true");
  EXPECT_EQ(eval("game.select_slot(" + hex(9) + ", 2)"), "false");
  const auto selections = access_->take_selections();
  ASSERT_EQ(selections.size(), 2u);
  EXPECT_EQ(selections[0].second, 65535);
  EXPECT_EQ(selections[1].second, 2);

  // push_player: an impulse beyond a float is not a number.
  EXPECT_EQ(eval("game.push_player(" + hex(1) + ", { x = 1e39, y = 0, z = 0 })"),
            "error: game.push_player was given an impulse that is not a number");
  EXPECT_EQ(eval("game.push_player(" + hex(1) + ", { x = 0, y = 0.9, z = 0 })"), "true");
  EXPECT_FALSE(sim(1).on_ground);
  EXPECT_EQ(sim(1).velocity[1], 0.9f);
}

TEST_F(ScriptEntities, Abilities) {
  const std::string p = hex(1);
  EXPECT_EQ(eval("game.set_player_abilities(" + p + ", { flying = true })"),
            "error: set_player_abilities: unknown field `flying`. The fields are [\"fly\", \"operator_fly\", "
            "\"speed\", "
            "\"sprint\", \"wind_sky\", \"gravity\"].");
  EXPECT_EQ(eval("game.set_player_abilities(" + p + ", { speed = -1 })"),
            "error: set_player_abilities: `speed` is a multiplier of 0 or more, got -1. 1 is unchanged and 0 "
            "is rooted.");
  EXPECT_EQ(eval("game.set_player_abilities(" + p + ", { speed = 0/0 })"),
            "error: set_player_abilities: `speed` is a multiplier of 0 or more, got NaN. 1 is unchanged and "
            "0 is rooted.");
  EXPECT_EQ(eval("game.set_player_abilities(" + p + ", { gravity = 'heavy' })"),
            "error: set_player_abilities: `gravity` must be a number: expected number, got string");
  EXPECT_EQ(eval("game.set_player_abilities(" + p + ", { gravity = -2 })"),
            "error: set_player_abilities: `gravity` is a multiplier of 0 or more, got -2. 1 is unchanged and "
            "0 floats.");
  EXPECT_FALSE(sim(1).abilities.has_value());

  EXPECT_EQ(eval("game.set_player_abilities(" + p + ", { speed = 20, gravity = 9, fly = 'yes', [1] = 5 })"),
            "true");
  EXPECT_EQ(sim(1).abilities, (ostrel_core::proto::AbilitiesDef{false, 16.0f, true, true, 4.0f}));
  EXPECT_FALSE(sim(1).abilities_sent);
  (*players_->lock())->at(uuid(1)).abilities_sent = true;  // the tick sent them
  // The same values again send nothing; the sky keys alone are kept, unsent.
  EXPECT_EQ(eval("game.set_player_abilities(" + p + ", { speed = 16, gravity = 4, sprint = true })"), "true");
  EXPECT_TRUE(sim(1).abilities_sent);
  EXPECT_EQ(eval("game.set_player_abilities(" + p + ", { speed = 16, gravity = 4, wind_sky = false })"),
            "true");
  EXPECT_TRUE(sim(1).abilities_sent);
  EXPECT_FALSE(sim(1).wind_sky);
  EXPECT_EQ(eval("game.set_player_abilities(" + p + ", { speed = 'fast', operator_fly = false })"), "true");
  EXPECT_EQ(sim(1).abilities, (ostrel_core::proto::AbilitiesDef{false, 1.0f, false, true, 1.0f}));
  EXPECT_TRUE(sim(1).wind_sky);
  EXPECT_EQ(eval("game.set_player_abilities(" + p + ", nil)"), "true");
  EXPECT_FALSE(sim(1).abilities.has_value());
  EXPECT_EQ(eval("game.set_player_abilities(" + hex(9) + ", nil)"), "false");
}

TEST_F(ScriptEntities, Mounts) {
  ASSERT_EQ(exec(R"(
    horse = game.spawn_entity({ pos = { x = 8, y = 1, z = 8 }, collider = { width = 3, height = 4 } })
    mule = game.spawn_entity({ pos = { x = 9, y = 1, z = 8 }, collider = { width = 3, height = 4 } })
    marker = game.spawn_entity({ pos = { x = 8, y = 1, z = 9 } })
    gone = game.spawn_entity({ pos = { x = 8, y = 1, z = 9 } })
    game.despawn_entity(gone)
    lunar = game.spawn_entity({ pos = { x = 8, y = 1, z = 8 }, collider = { width = 3, height = 4 } })
  )"),
            "");
  (*population_->write())
      ->set_domain(EntityId{static_cast<std::uint64_t>(std::stoll(eval("lunar")))}, "moon");
  ASSERT_EQ(eval("game.mount(" + hex(2) + ", mule)"), "true");
  struct Case {
    std::string code;
    const char* want;
  };
  const Case refusals[] = {
      {"game.mount(" + hex(9) + ", horse)", "nil | not connected"},
      {"game.mount(" + hex(1) + ", gone)", "nil | no such entity"},
      {"game.mount(" + hex(1) + ", game.player_entity(" + hex(1) + "))", "nil | a player"},
      {"game.mount(" + hex(1) + ", marker)", "nil | no collider"},
      {"game.mount(" + hex(1) + ", lunar)", "nil | another domain"},
      {"game.mount(" + hex(1) + ", mule)", "nil | ridden"},
      // Ridden comes before already riding.
      {"game.mount(" + hex(1) + ", horse), game.mount(" + hex(1) + ", mule)", "true | nil | ridden"},
  };
  for (const auto& c : refusals) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(eval(c.code), c.want);
  }
  // Riding the horse now: another mount is refused as already riding.
  ASSERT_EQ(eval("game.mounted(" + hex(1) + ") == horse"), "true");
  EXPECT_EQ(eval("game.mount(" + hex(1) + ", lunar)"), "nil | another domain");
  ASSERT_EQ(exec("free = game.spawn_entity({ pos = { x = 8, y = 1, z = 7 }, collider = { width = 3, height = "
                 "4 } })"),
            "");
  EXPECT_EQ(eval("game.mount(" + hex(1) + ", free)"), "nil | already riding");

  // Seats: 16 blocks taken, 17 refused; the same mount again moves the seat.
  EXPECT_EQ(eval("game.mount(" + hex(1) + ", horse, { seat = { y = 17 } })"),
            "error: game.mount: `seat` is { x, y, z } in blocks from the mount's feet, each a number no "
            "further than "
            "16 away, got [0, 17, 0] blocks");
  EXPECT_EQ(eval("game.mount(" + hex(1) + ", horse, { seat = { x = 0/0 } })"),
            "error: game.mount: `seat` is { x, y, z } in blocks from the mount's feet, each a number no "
            "further than "
            "16 away, got [NaN, 0, 0] blocks");
  EXPECT_EQ(eval("game.mount(" + hex(1) + ", horse, { seat = { y = 16 }, sneak_dismounts = false })"),
            "true");
  EXPECT_EQ(sim(1).riding->seat, (std::array<float, 3>{0.0f, 48.0f, 0.0f}));
  EXPECT_FALSE(sim(1).riding->sneak_dismounts);
  EXPECT_EQ(eval("game.mount(" + hex(1) + ", horse, { seat = { x = -0.5, y = 1 } })"), "true");
  EXPECT_EQ(sim(1).riding->seat, (std::array<float, 3>{-1.5f, 3.0f, 0.0f}));
  EXPECT_TRUE(sim(1).riding->sneak_dismounts);
  const char* kOptions = "`. The options are [\"seat\", \"sneak_dismounts\"].";
  EXPECT_EQ(eval("game.mount(" + hex(1) + ", horse, { saddle = true })"),
            std::string("error: game.mount: unknown option `saddle") + kOptions);
  EXPECT_EQ(eval("game.mount(" + hex(1) + ", horse, { true })"),
            std::string("error: game.mount: unknown option `1") + kOptions);
  EXPECT_EQ(eval("game.mount(" + hex(1) + ", 'x')"), "error: an entity id must be an integer, not string");

  EXPECT_EQ(eval("game.dismount(" + hex(1) + ")"), "true");
  EXPECT_EQ(eval("game.dismount(" + hex(1) + ")"), "false");
  EXPECT_EQ(eval("game.mounted(" + hex(1) + ")"), "nil");
  EXPECT_EQ(eval("game.dismount('abc')"),
            "error: game.dismount takes a player UUID in hex, as a hook event reports one");
}

TEST_F(ScriptEntities, Domains) {
  ostrel_core::test::LogCapture logs;
  EXPECT_EQ(eval("game.create_domain('m:t', 17, { position = { x = 1, y = 2.9, z = -3.9 } })"), "m:t/17");
  EXPECT_EQ(eval("game.create_domain('m:t', '17', { position = { x = 100, y = 0, z = 0 } })"), "m:t/17");
  EXPECT_EQ(domains_->position_of("m:t/17"), (ostrel_core::domain::UniversalPos{1, 2, -3}));
  for (const std::string key : {"''", "string.rep('k', 65)", "'a-b'"}) {
    SCOPED_TRACE(key);
    EXPECT_EQ(eval("game.create_domain('m:t', " + key + ")"), "nil");
  }
  EXPECT_EQ(eval("game.create_domain('m:plain', 'a')"), "nil");
  EXPECT_EQ(eval("game.create_domain('m:none', 'a')"), "nil");
  const auto warned = logs.containing("a mod could not make a domain");
  ASSERT_EQ(warned.size(), 5u);
  EXPECT_NE(warned[0].find("WARN"), std::string::npos);
  EXPECT_NE(warned[0].find("err="), std::string::npos);

  EXPECT_EQ(eval("game.create_domain('m:t', 'far', { position = { x = 4.1e18, y = 0, z = 0 } })"),
            "error: create_domain: `position.x` must be a finite number within 4e18 blocks, got "
            "4100000000000000000");
  EXPECT_EQ(eval("game.create_domain('m:t', 'far', { position = { x = 0, y = 0 } })"),
            "error: create_domain: `position` needs `z`, a number of blocks in the universe");
  EXPECT_EQ(eval("game.create_domain('m:t', 'far', { position = { x = 4e18, y = -4e18, z = 0 } })"),
            "m:t/far");
  EXPECT_EQ(eval("game.create_domain('m:t', 'sky', { sky = 'x' })"),
            "error: create_domain: `sky` must be a sky table");
  EXPECT_FALSE(domains_->exists("m:t/sky"));

  // A domain something stands in is still queued: the loop refuses the removal later.
  ASSERT_EQ(exec("guest = game.spawn_entity({ pos = { x = 1, y = 2, z = 3 } })"), "");
  (*population_->write())
      ->set_domain(EntityId{static_cast<std::uint64_t>(std::stoll(eval("guest")))}, "m:t/17");
  EXPECT_EQ(eval("game.destroy_domain('m:t/17')"), "true");
  EXPECT_EQ(eval("game.destroy_domain('overworld')"), "false");
  EXPECT_EQ(eval("game.destroy_domain('m:plain')"), "false");
  EXPECT_EQ(domains_->take_doomed(), (std::vector<std::string>{"m:t/17"}));
  EXPECT_EQ(eval("game.set_domain_sky('m:plain', nil)"), "true");
  EXPECT_EQ(eval("game.set_domain_sky('m:t', nil)"), "false");
  EXPECT_EQ(eval("game.set_domain_sky('nowhere', nil)"), "false");

  ASSERT_EQ(exec("id = game.spawn_entity({ pos = { x = 1, y = 2, z = 3 } })"), "");
  EXPECT_EQ(eval("game.transfer_entity(id, '', { x = 0, y = 0, z = 0 })"),
            "error: game.transfer_entity was given no domain to move into");
  EXPECT_EQ(eval("game.transfer_entity(id, '', { x = 0/0, y = 0, z = 0 })"),
            "error: game.transfer_entity was given a position that is not a number");
  EXPECT_EQ(eval("game.transfer_entity(id, 'nowhere', { x = 0, y = 0, z = 0 })"), "false");
  EXPECT_EQ(eval("game.transfer_entity(id + 1, 'moon', { x = 0, y = 0, z = 0 })"), "false");
  EXPECT_TRUE(access_->take_transfers().empty());
}

}  // namespace
}  // namespace ostrel_server::ent
