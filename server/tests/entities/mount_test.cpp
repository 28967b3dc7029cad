#include "entities/mount.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <stdexcept>

#include "detgen/trig.hpp"
#include "entities/access.hpp"
#include "hub/records.hpp"
#include "support/voxel_world.hpp"

namespace ostrel_server::mount {
namespace {

using ostrel_core::coords::BlockPos;
using ostrel_core::ent::Entity;
using ostrel_core::ent::EntityId;
using ostrel_core::phys::Gait;
using ostrel_core::phys::Intent;
using ostrel_core::phys::Shape;
using ostrel_core::test::VoxelWorld;
using Reason = DismountReason;

constexpr ostrel_core::material::MaterialId kStone = 2;
const ostrel_core::phys::voxels::Terrain kRules;

PlayerUuid uuid(std::uint8_t n) {
  PlayerUuid p;
  p.bytes[0] = n;
  return p;
}

// Air over chunks -1..1 with a stone floor under y 0 (cell y 3 is the surface of block 0).
VoxelWorld floored() {
  VoxelWorld w;
  w.air({-1, -1, -1}, {1, 1, 1});
  w.blocks({-16, 0, -16}, {31, 0, 31}, kStone);
  return w;
}

Entity horse(float height = 2.4f) {
  Entity e;
  e.transform.local = {24.0f, 3.0f, 24.0f};
  e.collider = Shape{2.0f, height};
  e.source = "zoo";
  e.on_ground = true;
  return e;
}

class MountTest : public ::testing::Test {
 protected:
  MountTest() {
    for (std::uint8_t n : {1, 2}) players_.emplace(uuid(n), PlayerSim::at_spawn(BlockPos{8, 1, 8}, 0));
    mount_ = pop_.spawn(horse());
  }
  Boarding board_as(std::uint8_t n, EntityId m, MountOptions o = {}) {
    return board(pop_, players_, uuid(n), m, o);
  }
  PlayerSim& sim(std::uint8_t n) { return players_.at(uuid(n)); }
  RideStep step(std::uint8_t n, const Intent& intent) {
    const ent::DomainView view{world_, &world_, kRules};
    return ride(pop_, uuid(n), sim(n), intent, view);
  }

  VoxelWorld world_ = floored();
  ent::Population pop_;
  PlayerMap players_;
  EntityId mount_;
};

TEST_F(MountTest, BoardingAnswers) {
  Entity marker = horse();
  marker.collider.reset();
  Entity huge = horse();
  huge.collider = Shape{49.0f, 3.0f};
  Entity nan = horse();
  nan.collider = Shape{std::numeric_limits<float>::quiet_NaN(), 3.0f};
  Entity fake = horse();
  fake.source = "engine:player";
  const auto no_collider = pop_.spawn(marker);
  const auto too_big = pop_.spawn(huge);
  const auto not_a_number = pop_.spawn(nan);
  const auto posing = pop_.spawn(fake);
  const auto away = pop_.spawn(horse());
  pop_.set_domain(away, "dun");
  const auto other = pop_.spawn(horse());
  const auto body = pop_.sync_player(uuid(3), {}, {}, 0, {});
  const auto stale = EntityId::of(mount_.index(), mount_.generation() + 1);

  struct Case {
    const char* what;
    std::uint8_t rider;
    EntityId mount;
    Boarding answer;
  };
  const Case cases[] = {
      {"not connected", 9, mount_, Boarding::NotConnected},
      {"no such entity", 1, stale, Boarding::NoSuchEntity},
      {"an unused index", 1, EntityId::of(999, 0), Boarding::NoSuchEntity},
      {"a player's body", 1, body, Boarding::APlayer},
      {"a player's source", 1, posing, Boarding::APlayer},
      {"no collider", 1, no_collider, Boarding::NoCollider},
      {"wider than 16 blocks", 1, too_big, Boarding::NoCollider},
      {"a NaN collider", 1, not_a_number, Boarding::NoCollider},
      {"another domain", 1, away, Boarding::AnotherDomain},
      {"seated", 1, mount_, Boarding::Seated},
      {"a second boarder", 2, mount_, Boarding::Ridden},
      {"already riding", 1, other, Boarding::AlreadyRiding},
      {"the second boards another", 2, other, Boarding::Seated},
  };
  for (const auto& c : cases) EXPECT_EQ(board_as(c.rider, c.mount), c.answer) << c.what;

  // Another domain wins over ridden: player 1 rides `mount_`; player 2 moves to "dun".
  sim(2).riding.reset();
  sim(2).domain = "dun";
  EXPECT_EQ(board_as(2, mount_), Boarding::AnotherDomain);
}

TEST_F(MountTest, SeatsAndReboarding) {
  // No seat: on top of the box, 2.4 cells above the mount's feet.
  ASSERT_EQ(board_as(1, mount_), Boarding::Seated);
  EXPECT_EQ(sim(1).chunk, (ChunkPos{0, 0, 0}));
  EXPECT_EQ(sim(1).local, (std::array<float, 3>{24.0f, 5.4f, 24.0f}));
  EXPECT_TRUE(sim(1).on_ground);

  // Boarding again keeps the ride and its cooldown and moves the seat, turned with the mount.
  sim(1).riding->mount_jump_cooldown = 7;
  pop_.get_mut(mount_)->transform.yaw = ostrel_core::detgen::trig::kHalfPi;
  ASSERT_EQ(board_as(1, mount_, MountOptions{std::array<float, 3>{0, 0, 3}, false}), Boarding::Seated);
  EXPECT_EQ(sim(1).riding->mount_jump_cooldown, 7);
  EXPECT_FALSE(sim(1).riding->sneak_dismounts);
  EXPECT_NEAR(sim(1).local[0], 27.0f, 1e-4);
  EXPECT_NEAR(sim(1).local[1], 3.0f, 1e-6);
  EXPECT_NEAR(sim(1).local[2], 24.0f, 1e-4);

  // A seat past the chunk's side re-anchors the rider in the next chunk.
  ASSERT_EQ(board_as(1, mount_, MountOptions{std::array<float, 3>{0, 48, 0}, true}), Boarding::Seated);
  EXPECT_EQ(sim(1).chunk, (ChunkPos{0, 1, 0}));
  EXPECT_EQ(sim(1).local, (std::array<float, 3>{24.0f, 3.0f, 24.0f}));
}

TEST_F(MountTest, ADrivenMountMovesAtItsOwnSpeedFacingTheRider) {
  Entity slow = horse();
  slow.speed = 0.5f;
  const auto mule = pop_.spawn(slow);
  ASSERT_EQ(board_as(1, mount_), Boarding::Seated);
  ASSERT_EQ(board_as(2, mule), Boarding::Seated);
  sim(1).yaw = 0.25f;
  sim(2).yaw = 0.25f;
  const Intent forward{1.0f, 0.0f, Gait::Walk, false, true};  // fly is cleared for a mount
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(std::holds_alternative<Riding>(step(1, forward)));
    ASSERT_TRUE(std::holds_alternative<Riding>(step(2, forward)));
  }
  const auto* fast = pop_.get(mount_);
  const auto* half = pop_.get(mule);
  EXPECT_EQ(fast->transform.yaw, 0.25f * -6.2831855f);
  const float run = fast->transform.local[0] - 24.0f;
  const float walk = half->transform.local[0] - 24.0f;
  EXPECT_GT(run, 5.0f);
  EXPECT_NEAR(walk * 2.0f, run, run * 0.05f);
  EXPECT_EQ(fast->transform.local[1], 3.0f);  // never flew
  // The rider sits on the seat where the mount now is and carries its velocity.
  EXPECT_EQ(sim(1).local[0], fast->transform.local[0]);
  EXPECT_EQ(sim(1).velocity, fast->velocity);
  EXPECT_EQ(sim(1).riding->mount_local, fast->transform.local);
}

TEST_F(MountTest, RidesEnd) {
  const Intent sneak{0.0f, 0.0f, Gait::Sneak, false, false};
  ASSERT_EQ(board_as(1, mount_), Boarding::Seated);
  const auto sneaked = step(1, sneak);
  ASSERT_TRUE(std::holds_alternative<DismountEvent>(sneaked));
  const auto& e = std::get<DismountEvent>(sneaked);
  EXPECT_EQ(e.reason, Reason::Sneak);
  EXPECT_EQ(e.entity, mount_.value);
  EXPECT_EQ(e.domain, "overworld");
  EXPECT_EQ((std::array<double, 3>{e.x, e.y, e.z}), (std::array<double, 3>{8.0, 1.0, 8.0}));  // the feet
  EXPECT_FALSE(sim(1).riding.has_value());
  EXPECT_TRUE(std::holds_alternative<NotRiding>(step(1, sneak)));

  // Without sneak dismounts the mount creeps on.
  ASSERT_EQ(board_as(1, mount_, MountOptions{std::nullopt, false}), Boarding::Seated);
  EXPECT_TRUE(std::holds_alternative<Riding>(step(1, Intent{1.0f, 0.0f, Gait::Sneak, false, false})));

  // A drive refused (the mount lost its collider): "gone", at the mount's last feet.
  pop_.get_mut(mount_)->collider.reset();
  const auto refused = step(1, Intent{});
  ASSERT_TRUE(std::holds_alternative<DismountEvent>(refused));
  EXPECT_EQ(std::get<DismountEvent>(refused).reason, Reason::Gone);

  // The rider moved to another domain: "gone", keeping its place.
  pop_.get_mut(mount_)->collider = Shape{2.0f, 2.4f};
  ASSERT_EQ(board_as(1, mount_), Boarding::Seated);
  sim(1).domain = "dun";
  sim(1).local = {1.0f, 2.0f, 3.0f};
  const auto moved = step(1, Intent{});
  ASSERT_TRUE(std::holds_alternative<DismountEvent>(moved));
  EXPECT_EQ(std::get<DismountEvent>(moved).reason, Reason::Gone);
  EXPECT_EQ(std::get<DismountEvent>(moved).domain, "dun");
  EXPECT_EQ(sim(1).local, (std::array<float, 3>{1.0f, 2.0f, 3.0f}));
}

TEST_F(MountTest, ALeaverIsHeardOnceAtThePreviousTicksPlace) {
  ASSERT_EQ(board_as(1, mount_), Boarding::Seated);
  Rides rides;
  rides.note(players_);
  const auto at = position_in_blocks(sim(1));
  sim(1).local[0] += 3.0f;  // moved this tick, then left
  players_.erase(uuid(1));
  const auto left = rides.departed({uuid(2)});
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0], (DismountEvent{uuid(1), mount_.value, Reason::Leave, "overworld", at[0], at[1], at[2]}));
  rides.note(players_);
  EXPECT_TRUE(rides.departed({uuid(2)}).empty());
  EXPECT_TRUE(rides.departed({}).empty());  // player 2 rides nothing
}

}  // namespace
}  // namespace ostrel_server::mount
