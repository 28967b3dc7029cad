#include "entities/access.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "entities/mount.hpp"
#include "hub/records.hpp"
#include "movement/phys/step.hpp"
#include "support/voxel_world.hpp"

namespace ostrel_server::ent {
namespace {

using ostrel_core::coords::BlockPos;
using ostrel_core::ent::access::Patch;
using ostrel_core::ent::mount::Boarding;
using ostrel_core::phys::Intent;
using ostrel_core::phys::Shape;
using ostrel_core::ent::access::Abilities;
using ostrel_core::proto::AbilitiesDef;
using ostrel_core::test::VoxelWorld;
using transport::endpoint::PlayerSim;
using Reason = ostrel_core::script::vm::DismountReason;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

PlayerUuid uuid(std::uint8_t n) {
  PlayerUuid p;
  p.bytes[0] = n;
  return p;
}

Entity mob(std::array<float, 3> local, std::string source = "zoo") {
  Entity e;
  e.transform.local = local;
  e.collider = Shape{2.0f, 2.4f};
  e.source = std::move(source);
  return e;
}

template <class Lock>
void poison_write(Lock& lock) {
  try {
    auto guard = lock.write();
    throw std::runtime_error("tick failed");
  } catch (const std::runtime_error&) {
  }
}

class AccessTest : public ::testing::Test {
 protected:
  AccessTest() {
    (*players_->lock())->emplace(uuid(1), PlayerSim::at_spawn(BlockPos{8, 1, 8}, 0));
    auto reg = domains_->write();
    ostrel_core::domain::Spec tmpl;
    tmpl.instanced = true;
    EXPECT_TRUE((*reg)->register_domain("dun", tmpl).has_value());
    EXPECT_TRUE((*reg)->register_domain("moon", {}).has_value());
    (*reg)->freeze();
    instance_ = (*reg)->create_at("dun", "a", std::nullopt).value();
  }
  PlayerSim sim(std::uint8_t n) { return (*players_->lock())->at(uuid(n)); }
  template <class F>
  void edit(std::uint8_t n, F&& f) {
    f((*players_->lock())->at(uuid(n)));
  }

  std::shared_ptr<Guarded> population_ = std::make_shared<Guarded>();
  std::shared_ptr<Shared::Domains> domains_ = std::make_shared<Shared::Domains>();
  std::shared_ptr<Shared::Players> players_ = std::make_shared<Shared::Players>();
  Shared access_{population_, domains_, players_};
  std::string instance_;
};

TEST_F(AccessTest, SpawnGetPatchAndDespawn) {
  const auto id = access_.spawn(mob({1, 2, 3}));
  ASSERT_TRUE(id.has_value());
  EXPECT_EQ((*population_->read())->domain_of(*id), "overworld");
  EXPECT_TRUE((*population_->read())->is_dirty("overworld", ChunkPos{0, 0, 0}));
  EXPECT_EQ(access_.get(*id)->transform.local, (std::array<float, 3>{1, 2, 3}));

  (*population_->write())->take_dirty();
  Patch p;
  p.pos = std::array<double, 3>{40.0, 0.0, 0.0};  // into chunk (2, 0, 0)
  EXPECT_TRUE(access_.patch(*id, p));
  EXPECT_EQ(access_.get(*id)->transform.chunk, (ChunkPos{2, 0, 0}));
  EXPECT_TRUE((*population_->read())->is_dirty("overworld", ChunkPos{2, 0, 0}));

  EXPECT_TRUE(access_.despawn(*id));
  EXPECT_FALSE(access_.despawn(*id));
  EXPECT_EQ(access_.get(*id), std::nullopt);
  EXPECT_FALSE(access_.patch(*id, p));
}

TEST_F(AccessTest, EdgeCases) {
  // move_player: the world's edge.
  EXPECT_FALSE(access_.move_player(uuid(1), {60000.0, 5.0, 5.0}));
  EXPECT_FALSE(access_.move_player(uuid(1), {5.0, -60000.1, 5.0}));
  EXPECT_TRUE(access_.move_player(uuid(1), {59999.9, 5.0, 5.0}));
  EXPECT_EQ(sim(1).chunk, (ChunkPos{3749, 0, 0}));
  EXPECT_NEAR(sim(1).local[0], 47.7f, 0.01f);
  EXPECT_FALSE(access_.move_player(uuid(9), {1.0, 1.0, 1.0}));  // not connected

  // A moved rider: true, at the new point, "dismount" queued rather than heard in the call.
  const auto horse = *access_.spawn(mob({24, 3, 24}));
  ASSERT_EQ(access_.mount(uuid(1), horse, {}), Boarding::Seated);
  EXPECT_EQ(access_.mounted(uuid(1)), horse);
  EXPECT_TRUE(access_.move_player(uuid(1), {2.0, 3.0, 4.0}));
  EXPECT_EQ(access_.mounted(uuid(1)), std::nullopt);
  EXPECT_EQ(sim(1).local, (std::array<float, 3>{6.0f, 9.0f, 12.0f}));
  const auto heard = access_.take_dismounts();
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].reason, Reason::Dismount);
  EXPECT_EQ((std::array<double, 3>{heard[0].x, heard[0].y, heard[0].z}),
            (std::array<double, 3>{2.0, 3.0, 4.0}));
  EXPECT_TRUE(access_.take_dismounts().empty());

  // transfer: a template and an unknown name are refused, an instance and a domain accepted.
  EXPECT_FALSE(access_.transfer(horse, "dun", {0, 0, 0}));
  EXPECT_FALSE(access_.transfer(horse, "nowhere", {0, 0, 0}));
  EXPECT_TRUE(access_.transfer(horse, instance_, {1, 2, 3}));
  EXPECT_TRUE(access_.transfer(horse, "moon", {0, 0, 0}));
  EXPECT_FALSE(access_.transfer(EntityId::of(77, 0), "moon", {0, 0, 0}));
  EXPECT_FALSE(access_.transfer(horse, "moon", {kInf, 0, 0}));
  const auto transfers = access_.take_transfers();
  ASSERT_EQ(transfers.size(), 2u);
  EXPECT_EQ(transfers[0], (TransferRequest{instance_, horse, {1, 2, 3}}));
  EXPECT_EQ(transfers[1].domain, "moon");

  // set_abilities: equal twice marks one message; speed 20 is 16, a NaN gravity 1.
  EXPECT_TRUE(access_.set_abilities(uuid(1), Abilities{AbilitiesDef{false, 20.0f, false, true, kNaN}}));
  EXPECT_EQ(sim(1).abilities, (AbilitiesDef{false, 16.0f, false, true, 1.0f}));
  EXPECT_FALSE(sim(1).abilities_sent);
  edit(1, [](PlayerSim& s) { s.abilities_sent = true; });  // the tick sent them
  EXPECT_TRUE(access_.set_abilities(uuid(1), Abilities{AbilitiesDef{false, 16.0f, false, true, 1.0f}}));
  EXPECT_TRUE(sim(1).abilities_sent);
  // The sky keys are kept beside the record; alone they change nothing a client is sent.
  EXPECT_TRUE(sim(1).wind_sky);
  EXPECT_TRUE(access_.set_abilities(uuid(1), Abilities{AbilitiesDef{false, 16.0f, false, true, 1.0f}, false}));
  EXPECT_FALSE(sim(1).wind_sky);
  EXPECT_TRUE(sim(1).abilities_sent);
  EXPECT_TRUE(access_.set_abilities(uuid(1), Abilities{AbilitiesDef{false, -3.0f, false, true, 9.0f}}));
  EXPECT_EQ(sim(1).abilities, (AbilitiesDef{false, 0.0f, false, true, 4.0f}));
  EXPECT_FALSE(sim(1).abilities_sent);
  edit(1, [](PlayerSim& s) { s.abilities_sent = true; });
  EXPECT_TRUE(access_.set_abilities(uuid(1), std::nullopt));
  EXPECT_FALSE(sim(1).abilities_sent);
  EXPECT_TRUE(sim(1).wind_sky);
  edit(1, [](PlayerSim& s) { s.abilities_sent = true; });
  EXPECT_TRUE(access_.set_abilities(uuid(1), std::nullopt));  // none already: nothing to send
  EXPECT_TRUE(sim(1).abilities_sent);
  EXPECT_FALSE(access_.set_abilities(uuid(9), std::nullopt));

  // select_slot queues for connected players only.
  EXPECT_TRUE(access_.select_slot(uuid(1), 3));
  EXPECT_FALSE(access_.select_slot(uuid(9), 3));
  EXPECT_EQ(access_.take_selections(), (std::vector<std::pair<PlayerUuid, std::uint16_t>>{{uuid(1), 3}}));
}

TEST_F(AccessTest, Within) {
  const auto a = *access_.spawn(mob({3, 3, 3}));           // block (1, 1, 1)
  const auto b = *access_.spawn(mob({6, 3, 3}, "other"));  // one block away
  const auto far = *access_.spawn(mob({30, 3, 3}));        // nine
  const auto away = *access_.spawn(mob({3, 3, 3}));
  (*population_->write())->set_domain(away, "moon");
  ostrel_core::ent::component::Transform at;
  at.local = {3.0f, 3.0f, 3.0f};
  const auto body = (*population_->write())->sync_player(uuid(1), at, {}, 0, {});
  using Ids = std::vector<EntityId>;
  struct Case {
    const char* what;
    std::string_view domain;
    double radius;
    std::optional<std::string_view> source;
    Ids ids;
  };
  const Case cases[] = {
      {"radius 0: exactly at the centre", "overworld", 0.0, std::nullopt, Ids{a, body}},
      {"one block", "overworld", 1.0, std::nullopt, Ids{a, body, b}},
      {"everything near, nearest first", "overworld", 100.0, std::nullopt, Ids{a, body, b, far}},
      {"a mod's source", "overworld", 100.0, "other", Ids{b}},
      {"player bodies", "overworld", 100.0, "engine:player", Ids{body}},
      {"another domain", "moon", 100.0, std::nullopt, Ids{away}},
      {"an infinite radius", "overworld", kInf, "other", Ids{b}},
      {"a negative radius", "overworld", -1.0, std::nullopt, Ids{}},
      {"a NaN radius", "overworld", std::nan(""), std::nullopt, Ids{}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(access_.within(c.domain, {1.0, 1.0, 1.0}, c.radius, c.source), c.ids) << c.what;
  EXPECT_EQ(access_.within("overworld", {kInf, 1.0, 1.0}, 5.0, std::nullopt), Ids{});
  EXPECT_EQ(access_.player(uuid(1)), body);
  EXPECT_EQ(access_.player(uuid(9)), std::nullopt);
}

TEST_F(AccessTest, ShoveLiftsABodyOrMovesItsMount) {
  VoxelWorld world;
  world.air({-1, -1, -1}, {1, 1, 1});
  world.blocks({-16, 0, -16}, {31, 0, 31}, 2);
  const ostrel_core::phys::voxels::Terrain rules;
  edit(1, [](PlayerSim& s) { s.on_ground = true; });
  EXPECT_TRUE(access_.shove_player(uuid(1), {0.0f, 0.9f, 0.0f}));
  const auto shoved = sim(1);
  EXPECT_FALSE(shoved.on_ground);
  EXPECT_EQ(shoved.velocity, (std::array<float, 3>{0.0f, 0.9f, 0.0f}));
  // The next step of the body leaves the ground.
  const ostrel_core::phys::voxels::Voxels view(world, rules, nullptr, shoved.chunk);
  const auto stepped = ostrel_core::phys::step_shaped(
      view, ostrel_core::phys::Body{shoved.local, shoved.velocity, 0, shoved.on_ground}, Intent{}, {}, 1.8f,
      5.4f);
  EXPECT_GT(stepped.position[1], shoved.local[1]);
  EXPECT_FALSE(stepped.on_ground);

  // Refusals change nothing: non-finite or overflowing impulses, a player not connected.
  EXPECT_FALSE(access_.shove_player(uuid(1), {kNaN, 0.0f, 0.0f}));
  EXPECT_FALSE(access_.shove_player(uuid(1), {0.0f, std::numeric_limits<float>::infinity(), 0.0f}));
  edit(1, [](PlayerSim& s) { s.velocity = {3e38f, 0.0f, 0.0f}; });
  EXPECT_FALSE(access_.shove_player(uuid(1), {3e38f, 0.0f, 0.0f}));
  EXPECT_EQ(sim(1).velocity, (std::array<float, 3>{3e38f, 0.0f, 0.0f}));
  EXPECT_FALSE(access_.shove_player(uuid(9), {0.0f, 0.9f, 0.0f}));
  EXPECT_FALSE(access_.move_player(uuid(1), {std::nan(""), 0.0, 0.0}));
  EXPECT_EQ(sim(1).chunk, shoved.chunk);
  EXPECT_EQ(sim(1).local, shoved.local);

  // A rider: the mount takes the push and the rider stays on.
  Entity horse = mob({24, 3, 24});
  horse.on_ground = true;
  const auto id = *access_.spawn(horse);
  ASSERT_EQ(access_.mount(uuid(1), id, {}), Boarding::Seated);
  EXPECT_TRUE(access_.shove_player(uuid(1), {0.0f, 0.9f, 0.0f}));
  EXPECT_EQ(access_.get(id)->velocity, (std::array<float, 3>{0.0f, 0.9f, 0.0f}));
  EXPECT_FALSE(access_.get(id)->on_ground);
  EXPECT_EQ(access_.mounted(uuid(1)), id);
  const DomainView domain{world, &world, rules};
  const auto driven = (*population_->write())->drive(id, "overworld", domain, Intent{}, 0.0f, 0);
  ASSERT_TRUE(driven.has_value());
  EXPECT_GT(driven->local[1], 3.0f);
  EXPECT_FALSE(driven->on_ground);
}

TEST_F(AccessTest, DespawnedMountDropsItsRiderWithOneGone) {
  const auto id = *access_.spawn(mob({24, 3, 24}));
  ASSERT_EQ(access_.mount(uuid(1), id, {}), Boarding::Seated);
  (*population_->write())->get_mut(id)->transform.local = {30.0f, 3.0f, 20.0f};
  EXPECT_TRUE(access_.despawn(id));
  EXPECT_EQ(access_.mounted(uuid(1)), std::nullopt);
  EXPECT_EQ(sim(1).local, (std::array<float, 3>{30.0f, 3.0f, 20.0f}));
  const auto heard = access_.take_dismounts();
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0], (DismountEvent{uuid(1), id.value, Reason::Gone, "overworld", 10.0, 1.0, 20.0 / 3.0}));
  EXPECT_FALSE(access_.dismount(uuid(1)));  // no longer riding
  EXPECT_TRUE(access_.take_dismounts().empty());

  const auto again = *access_.spawn(mob({24, 3, 24}));
  ASSERT_EQ(access_.mount(uuid(1), again, {}), Boarding::Seated);
  EXPECT_TRUE(access_.dismount(uuid(1)));
  ASSERT_EQ(access_.take_dismounts().size(), 1u);
}

TEST_F(AccessTest, PoisonedLocksGiveTheRefusals) {
  const auto id = *access_.spawn(mob({24, 3, 24}));
  EXPECT_TRUE(access_.select_slot(uuid(1), 1));
  poison_write(*population_);
  EXPECT_EQ(access_.spawn(mob({1, 1, 1})), std::nullopt);
  EXPECT_FALSE(access_.despawn(id));
  EXPECT_EQ(access_.get(id), std::nullopt);
  EXPECT_EQ(access_.within("overworld", {8, 1, 8}, 100.0, std::nullopt), std::vector<EntityId>{});
  EXPECT_EQ(access_.mount(uuid(1), id, {}), Boarding::NotConnected);
  EXPECT_FALSE(access_.transfer(id, "moon", {0, 0, 0}));
  try {
    auto guard = players_->lock();
    throw std::runtime_error("tick failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(access_.move_player(uuid(1), {1, 1, 1}));
  EXPECT_FALSE(access_.shove_player(uuid(1), {0, 1, 0}));
  EXPECT_FALSE(access_.set_abilities(uuid(1), std::nullopt));
  EXPECT_FALSE(access_.dismount(uuid(1)));
  EXPECT_EQ(access_.mounted(uuid(1)), std::nullopt);
  EXPECT_FALSE(access_.select_slot(uuid(1), 2));
  EXPECT_EQ(access_.take_selections().size(), 1u);  // the queue itself is fine
}

}  // namespace
}  // namespace ostrel_server::ent

#include <thread>

namespace ostrel_server::ent {
namespace {

// Script calls from several threads while the tick takes the queues: every queued item is taken
// exactly once, and the population and players stay consistent.
TEST(EntityAccessStress, QueuesAndLocksUnderConcurrentCallers) {
  auto population = std::make_shared<Guarded>();
  auto domains = std::make_shared<Shared::Domains>();
  auto players = std::make_shared<Shared::Players>();
  for (std::uint8_t n = 1; n <= 4; ++n)
    (*players->lock())->emplace(uuid(n), PlayerSim::at_spawn(BlockPos{8, 1, 8}, 0));
  Shared access(population, domains, players);
  constexpr int kRounds = 300;
  std::atomic<int> running{4};
  std::vector<std::thread> callers;
  for (std::uint8_t n = 1; n <= 4; ++n) {
    callers.emplace_back([&, n] {
      for (int i = 0; i < kRounds; ++i) {
        EXPECT_TRUE(access.select_slot(uuid(n), static_cast<std::uint16_t>(i)));
        const auto id = access.spawn(mob({24, 3, 24}));
        ASSERT_TRUE(id.has_value());
        EXPECT_EQ(access.mount(uuid(n), *id, {}), ostrel_core::ent::mount::Boarding::Seated);
        EXPECT_TRUE(access.shove_player(uuid(n), {0.0f, 0.1f, 0.0f}));
        EXPECT_TRUE(access.despawn(*id));  // a "gone" for the rider
      }
      --running;
    });
  }
  std::size_t selections = 0;
  std::size_t dismounts = 0;
  while (running.load() > 0) {
    selections += access.take_selections().size();
    dismounts += access.take_dismounts().size();
  }
  for (auto& t : callers) t.join();
  selections += access.take_selections().size();
  dismounts += access.take_dismounts().size();
  EXPECT_EQ(selections, 4u * kRounds);
  EXPECT_EQ(dismounts, 4u * kRounds);
  EXPECT_EQ((*population->read())->entities().ids().size(), 0u);
}

}  // namespace
}  // namespace ostrel_server::ent
