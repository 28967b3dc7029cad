#include "entities/population.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "support/voxel_world.hpp"

namespace ostrel_server::ent {
namespace {

using ostrel_core::coords::ChunkPos;
using ostrel_core::phys::Gait;
using ostrel_core::phys::Intent;
using ostrel_core::phys::Shape;
using ostrel_core::test::VoxelWorld;
namespace component = ostrel_core::ent::component;

constexpr ostrel_core::material::MaterialId kStone = 2;

// Air over chunks -1..1 with a stone floor (surface at cell y 3) under chunk row y 0.
VoxelWorld floored() {
  VoxelWorld w;
  w.air({-1, -1, -1}, {1, 1, 1});
  w.blocks({-16, 0, -16}, {31, 0, 31}, kStone);
  return w;
}

const ostrel_core::phys::voxels::Terrain kRules;

Entity mob(ChunkPos chunk, float x, float y, float z, std::string source = "zoo") {
  Entity e;
  e.transform.chunk = chunk;
  e.transform.local = {x, y, z};
  e.collider = Shape{1.2f, 2.7f};
  e.source = std::move(source);
  return e;
}

PlayerUuid player(std::uint8_t n) {
  PlayerUuid p;
  p.bytes[0] = n;
  return p;
}

component::Transform place(ChunkPos chunk, float x, float y, float z) {
  component::Transform t;
  t.chunk = chunk;
  t.local = {x, y, z};
  return t;
}

std::vector<ChunkKey> dirty_of(const Population& p, const std::vector<ChunkKey>& candidates) {
  std::vector<ChunkKey> out;
  for (const ChunkKey& k : candidates) {
    if (p.is_dirty(k.domain, k.chunk)) out.push_back(k);
  }
  return out;
}

struct Case {
  const char* name;
  std::function<void()> run;
};

TEST(Population, EdgeCases) {
  const VoxelWorld world = floored();
  const DomainView view{world, &world, kRules};
  const ChunkPos here{0, 0, 0};
  const ChunkPos east{1, 0, 0};
  const Case cases[] = {
      {"occupied domains name each domain once, overworld always",
       [] {
         Population p;
         EXPECT_EQ(p.occupied_domains(), (std::vector<std::string>{"overworld"}));
         const EntityId a = p.spawn(mob({0, 0, 0}, 1, 3, 1));
         const EntityId b = p.spawn(mob({0, 0, 0}, 2, 3, 1));
         const EntityId c = p.spawn(mob({0, 0, 0}, 3, 3, 1));
         p.set_domain(a, "zeta:moon");
         p.set_domain(b, "alpha:cave");
         p.set_domain(c, "zeta:moon");
         EXPECT_EQ(p.occupied_domains(), (std::vector<std::string>{"alpha:cave", "overworld", "zeta:moon"}));
         EXPECT_EQ(p.occupants("zeta:moon"), 2u);
         EXPECT_EQ(p.occupants("overworld"), 0u);
       }},
      {"set_domain marks the chunk in both domains, and nothing when unchanged",
       [] {
         Population p;
         p.chunk_loaded("overworld", {4, 0, 4}, {});
         const EntityId a = p.spawn(mob({4, 0, 4}, 1, 3, 1));
         (void)p.take_dirty();
         p.set_domain(a, "overworld");
         EXPECT_FALSE(p.is_dirty("overworld", {4, 0, 4}));
         p.set_domain(a, "moon");
         EXPECT_TRUE(p.is_dirty("overworld", {4, 0, 4}));
         EXPECT_TRUE(p.is_dirty("moon", {4, 0, 4}));
         EXPECT_EQ(p.domain_of(a), "moon");
         p.set_domain(a, "overworld");
         EXPECT_EQ(p.domain_of(a), "overworld");
         EXPECT_EQ(p.occupied_domains(), (std::vector<std::string>{"overworld"}));
       }},
      {"chunk_loaded twice spawns the stored entities once",
       [] {
         Population p;
         p.chunk_loaded("moon", {2, 0, 2}, {mob({2, 0, 2}, 1, 3, 1), mob({2, 0, 2}, 2, 3, 1)});
         p.chunk_loaded("moon", {2, 0, 2}, {mob({2, 0, 2}, 1, 3, 1), mob({2, 0, 2}, 2, 3, 1)});
         EXPECT_EQ(p.entities().live(), 2u);
         EXPECT_EQ(p.occupants("moon"), 2u);
         EXPECT_TRUE(p.is_dirty("moon", {2, 0, 2}));  // recording the domain marks it
       }},
      {"freeze where a player's body stands returns nothing and keeps every mark",
       [] {
         Population p;
         p.chunk_loaded("overworld", {0, 0, 0}, {mob({0, 0, 0}, 1, 3, 1)});
         p.dirty_chunk("overworld", {0, 0, 0});
         p.sync_player(player(1), place({0, 0, 0}, 5, 3, 5), {}, 0, {});
         EXPECT_EQ(p.freeze("overworld", {0, 0, 0}), std::nullopt);
         EXPECT_TRUE(p.is_loaded("overworld", {0, 0, 0}));
         EXPECT_TRUE(p.is_dirty("overworld", {0, 0, 0}));
         EXPECT_EQ(p.entities().live(), 2u);
         // The same chunk in another domain is not where the body stands.
         p.chunk_loaded("moon", {0, 0, 0}, {});
         EXPECT_EQ(p.freeze("moon", {0, 0, 0}), std::vector<Entity>{});
       }},
      {"freeze of a loaded chunk without entities is an empty list and clears its mark",
       [] {
         Population p;
         p.chunk_loaded("overworld", {3, 0, 3}, {});
         p.dirty_chunk("overworld", {3, 0, 3});
         EXPECT_EQ(p.freeze("overworld", {3, 0, 3}), std::vector<Entity>{});
         EXPECT_FALSE(p.is_dirty("overworld", {3, 0, 3}));
         EXPECT_FALSE(p.is_loaded("overworld", {3, 0, 3}));
       }},
      {"freeze of a never-loaded chunk without entities is nothing",
       [] {
         Population p;
         EXPECT_EQ(p.freeze("overworld", {3, 0, 3}), std::nullopt);
       }},
      {"a chunk walked out of is saved empty",
       [&view, here, east] {
         Population p;
         p.chunk_loaded("overworld", here, {mob(here, 47.6f, 3.0f, 10.0f)});
         p.chunk_loaded("overworld", east, {});
         const EntityId walker = p.entities().ids()[0];
         p.get_mut(walker)->velocity = {3.0f, 0.0f, 0.0f};
         (void)p.take_dirty();
         p.tick("overworld", view);
         ASSERT_EQ(p.get(walker)->transform.chunk, east);
         const auto saved = p.take_dirty();
         ASSERT_EQ(saved.size(), 2u);
         EXPECT_EQ(saved[0].chunk, here);
         EXPECT_TRUE(saved[0].entities.empty());
         EXPECT_EQ(saved[1].chunk, east);
         ASSERT_EQ(saved[1].entities.size(), 1u);
         EXPECT_EQ(saved[1].entities[0], *p.get(walker));
         EXPECT_TRUE(p.take_dirty().empty());
       }},
      {"markers never move",
       [&view, here] {
         Population p;
         Entity marker = mob(here, 10.0f, 20.0f, 10.0f);
         marker.collider.reset();
         marker.velocity = {1.0f, 1.0f, 1.0f};
         marker.drive = Intent{1.0f, 0.0f, Gait::Sprint, true};
         const EntityId id = p.spawn(marker);
         p.tick("overworld", view);
         EXPECT_EQ(*p.get(id), marker);
       }},
      {"speed 0 still falls but does not walk",
       [&view, here] {
         Population p;
         Entity rooted = mob(here, 10.0f, 20.0f, 10.0f);
         rooted.speed = 0.0f;
         rooted.drive = Intent{1.0f, 0.0f};
         const EntityId id = p.spawn(rooted);
         p.tick("overworld", view);
         const Entity& e = *p.get(id);
         EXPECT_EQ(e.transform.local, (std::array<float, 3>{10.0f, 20.0f - 0.24f, 10.0f}));
         EXPECT_EQ(e.velocity, (std::array<float, 3>{0.0f, -0.24f, 0.0f}));
       }},
      {"a mount 60 cells wide is not driven but walks by itself",
       [&view, here] {
         Population p;
         Entity wide = mob(here, 24.0f, 3.0f, 24.0f);
         wide.collider = Shape{60.0f, 3.0f};
         wide.on_ground = true;
         wide.drive = Intent{0.0f, 1.0f};
         const EntityId id = p.spawn(wide);
         EXPECT_EQ(p.drive(id, "overworld", view, Intent{1.0f, 0.0f}, 1.0f, 0), std::nullopt);
         EXPECT_EQ(p.get(id)->transform.local[0], 24.0f);
         p.tick("overworld", view);
         EXPECT_EQ(p.get(id)->transform.local[0], 24.0f);
         EXPECT_GT(p.get(id)->transform.local[2], 24.0f);
       }},
      {"a step past chunk 3749 keeps the chunk, stops and keeps the unreduced coordinate",
       [] {
         VoxelWorld edge;
         edge.air({3748, 0, 0}, {3750, 0, 0});
         const DomainView at_edge{edge, nullptr, kRules};
         Population p;
         Entity e = mob({3749, 0, 0}, 47.9f, 20.0f, 10.0f);
         e.velocity = {0.5f, 0.0f, 0.0f};
         const EntityId id = p.spawn(e);
         p.tick("overworld", at_edge);
         const Entity& got = *p.get(id);
         EXPECT_EQ(got.transform.chunk, (ChunkPos{3749, 0, 0}));
         EXPECT_EQ(got.transform.local, (std::array<float, 3>{47.9f + 0.91f * 0.5f, 20.0f - 0.24f, 10.0f}));
         EXPECT_EQ(got.velocity, (std::array<float, 3>{0.0f, 0.0f, 0.0f}));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.run();
  }
}

TEST(Population, StoredEntitiesAreNeverLostNorDuplicated) {
  const ChunkPos x{5, 0, 5};
  Population p;
  // E is spawned into X before X's stored entities were read.
  Entity e = mob(x, 10.0f, 3.0f, 10.0f, "e");
  const EntityId e_id = p.spawn(e);
  EXPECT_TRUE(p.take_dirty().empty());  // saving X now would delete A and B
  EXPECT_EQ(p.unloaded_dirty(), (std::vector<ChunkKey>{{"overworld", x}}));
  EXPECT_EQ(p.freeze("overworld", x), std::nullopt);
  ASSERT_NE(p.get(e_id), nullptr);

  // The saver takes the stored ones in; the live one stays.
  p.chunk_loaded("overworld", x, {mob(x, 1.0f, 3.0f, 1.0f, "a"), mob(x, 2.0f, 3.0f, 2.0f, "b")});
  EXPECT_TRUE(p.unloaded_dirty().empty());
  std::multiset<std::string> live;
  for (EntityId id : p.entities().ids()) live.insert(p.get(id)->source);
  EXPECT_EQ(live, (std::multiset<std::string>{"a", "b", "e"}));

  const auto saved = p.take_dirty();
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0].chunk, x);
  std::multiset<std::string> written;
  for (const Entity& s : saved[0].entities) written.insert(s.source);
  EXPECT_EQ(written, (std::multiset<std::string>{"a", "b", "e"}));

  // When X is served later its stored entities are not spawned again.
  p.chunk_loaded("overworld", x, {mob(x, 1.0f, 3.0f, 1.0f, "a"), mob(x, 2.0f, 3.0f, 2.0f, "b")});
  EXPECT_EQ(p.entities().live(), 3u);
}

TEST(Population, PlayerBodiesMirrorThePlayerAndAreNeverSaved) {
  Population p;
  component::Hands hands;
  hands.main = ostrel_core::inventory::Stack{9, 27};
  const Motion motion{{0.1f, 0.0f, 0.2f}, 0.5f, 2.0f, true};
  const EntityId body = p.sync_player(player(1), place({0, 0, 0}, 5, 3, 5), motion, 7, hands);
  const Entity& e = *p.get(body);
  EXPECT_EQ(e.source, "engine:player");
  EXPECT_EQ(e.model, "engine:humanoid");
  EXPECT_EQ(e.collider, (Shape{1.8f, 5.4f}));
  EXPECT_EQ(e.owner, (component::Owner{player(1)}));
  EXPECT_EQ(e.nametag, (component::Nametag{component::NametagPlayer{player(1)}}));
  EXPECT_EQ(e.speed, 1.0f);
  EXPECT_EQ(e.tint, (component::Rgb{255, 255, 255}));
  EXPECT_EQ(e.velocity, motion.velocity);
  EXPECT_EQ(e.submerged, 0.5f);
  EXPECT_EQ(e.fell, 2.0f);
  EXPECT_TRUE(e.on_ground);
  EXPECT_EQ(e.anim, 7);
  EXPECT_EQ(e.hands, hands);
  EXPECT_TRUE(p.is_body(body));
  EXPECT_EQ(p.body_of(player(1)), body);

  // A second sync overwrites in place and marks nothing.
  EXPECT_EQ(p.sync_player(player(1), place({1, 0, 0}, 6, 3, 6), {}, 0, {}), body);
  EXPECT_EQ(p.get(body)->transform.chunk, (ChunkPos{1, 0, 0}));
  EXPECT_FALSE(p.get(body)->hands.main);
  EXPECT_TRUE(p.unloaded_dirty().empty());

  // Bodies are left out of saves and of the population's own movement.
  p.chunk_loaded("overworld", {1, 0, 0}, {});
  p.dirty_chunk("overworld", {1, 0, 0});
  const auto saved = p.take_dirty();
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_TRUE(saved[0].entities.empty());
  EXPECT_EQ(p.owned_by_mod().at("engine:player"), (std::vector<EntityId>{body}));

  // A body despawned behind the population's back is made again.
  const EntityId other = p.sync_player(player(2), place({0, 0, 0}, 1, 3, 1), {}, 0, {});
  ASSERT_TRUE(p.despawn(other));
  const EntityId remade = p.sync_player(player(2), place({0, 0, 0}, 1, 3, 1), {}, 0, {});
  EXPECT_NE(remade, other);
  EXPECT_TRUE(p.is_body(remade));
  EXPECT_FALSE(p.is_body(other));

  p.retain_players({player(2)});
  EXPECT_EQ(p.get(body), nullptr);
  EXPECT_FALSE(p.is_body(body));
  EXPECT_EQ(p.body_of(player(1)), std::nullopt);
  EXPECT_EQ(p.players().size(), 1u);
  EXPECT_EQ(p.entities().live(), 1u);
}

TEST(Population, TickCountsDownFlashesAndSkipsBodiesAndDrivenEntities) {
  const VoxelWorld world = floored();
  const DomainView view{world, &world, kRules};
  Population p;
  Entity flashing = mob({0, 0, 0}, 10.0f, 3.0f, 10.0f);
  flashing.flash = component::TintFlash{{255, 0, 0}, 3, 2};
  const EntityId f = p.spawn(flashing);
  Entity elsewhere = flashing;
  const EntityId g = p.spawn(elsewhere);
  p.set_domain(g, "moon");
  const EntityId body = p.sync_player(player(1), place({0, 0, 0}, 20, 30, 20), {}, 0, {});
  const EntityId ridden = p.spawn(mob({0, 0, 0}, 30.0f, 3.0f, 30.0f));

  const auto driven = p.drive(ridden, "overworld", view, Intent{1.0f, 0.0f}, 2.5f, 0);
  ASSERT_TRUE(driven);
  const auto after_ride = p.get(ridden)->transform;
  EXPECT_EQ(after_ride.yaw, 2.5f);
  EXPECT_EQ(driven->local, after_ride.local);
  EXPECT_EQ(driven->width, 1.2f);
  EXPECT_EQ(driven->speed, 1.0f);

  p.tick("overworld", view);
  EXPECT_EQ(p.get(f)->flash->left, 1);
  EXPECT_EQ(p.get(g)->flash->left, 2);  // another domain's tick
  EXPECT_EQ(p.get(body)->transform.local[1], 30.0f);
  EXPECT_EQ(p.get(ridden)->transform, after_ride);
  p.tick("overworld", view);
  EXPECT_FALSE(p.get(f)->flash);

  // Once the body phase empties the driven set, the domain's tick moves it again.
  p.clear_driven();
  p.get_mut(ridden)->drive = Intent{1.0f, 0.0f};
  p.tick("overworld", view);
  EXPECT_GT(p.get(ridden)->transform.local[0], after_ride.local[0]);
}

TEST(Population, DriveRefusesWhatItMayNotMove) {
  const VoxelWorld world = floored();
  const DomainView view{world, &world, kRules};
  Population p;
  const EntityId body = p.sync_player(player(1), place({0, 0, 0}, 20, 3, 20), {}, 0, {});
  Entity marker = mob({0, 0, 0}, 5, 3, 5);
  marker.collider.reset();
  const EntityId m = p.spawn(marker);
  Entity flat = mob({0, 0, 0}, 5, 3, 5);
  flat.collider = Shape{1.0f, 0.0f};
  const EntityId z = p.spawn(flat);
  const EntityId moon = p.spawn(mob({0, 0, 0}, 5, 3, 5));
  p.set_domain(moon, "moon");
  const EntityId gone = p.spawn(mob({0, 0, 0}, 5, 3, 5));
  ASSERT_TRUE(p.despawn(gone));
  for (EntityId id : {body, m, z, moon, gone}) {
    EXPECT_EQ(p.drive(id, "overworld", view, Intent{1.0f, 0.0f}, 0.0f, 0), std::nullopt) << id.value;
  }
  EXPECT_TRUE(p.drive(moon, "moon", view, Intent{1.0f, 0.0f}, 0.0f, 0));
}

TEST(Population, CrowdPushesAddToVelocityWithoutMarking) {
  Population p;
  p.chunk_loaded("overworld", {1, 0, 1}, {});
  Entity e = mob({1, 0, 1}, 5, 3, 5);
  e.velocity = {0.25f, -1.0f, 0.5f};
  const EntityId a = p.spawn(e);
  (void)p.take_dirty();
  EXPECT_TRUE(p.push(a, 0.05f, -0.5f));
  EXPECT_EQ(p.get(a)->velocity, (std::array<float, 3>{0.25f + 0.05f, -1.0f, 0.0f}));
  EXPECT_FALSE(p.is_dirty("overworld", {1, 0, 1}));
  ASSERT_TRUE(p.despawn(a));
  EXPECT_FALSE(p.push(a, 1.0f, 1.0f));
}

TEST(Population, ChangesThroughTheStoreMarkTheirChunks) {
  Population p;
  const EntityId a = p.spawn(mob({1, 0, 1}, 5, 3, 5));
  p.chunk_loaded("overworld", {1, 0, 1}, {});
  p.chunk_loaded("overworld", {2, 0, 2}, {});
  (void)p.take_dirty();
  ASSERT_NE(p.get_mut(a), nullptr);
  EXPECT_TRUE(p.is_dirty("overworld", {1, 0, 1}));
  (void)p.take_dirty();
  p.get_mut(a)->transform.chunk = {2, 0, 2};
  p.dirty_chunk("overworld", {2, 0, 2});
  p.set_domain(a, "moon");
  ASSERT_TRUE(p.despawn(a));
  EXPECT_EQ(p.domain_of(a), "overworld");
  EXPECT_TRUE(p.is_dirty("moon", {2, 0, 2}));
  EXPECT_EQ(p.get_mut(a), nullptr);
  EXPECT_EQ(p.despawn(a), std::nullopt);
  const auto saved = p.take_dirty();
  const std::vector<ChunkKey> want{{"overworld", {1, 0, 1}}, {"overworld", {2, 0, 2}}};
  std::vector<ChunkKey> got;
  for (const auto& s : saved) got.push_back({s.domain, s.chunk});
  EXPECT_EQ(got, want);  // "moon" (2, 0, 2) was never taken in: it waits
  EXPECT_EQ(p.unloaded_dirty(), (std::vector<ChunkKey>{{"moon", {2, 0, 2}}}));
  EXPECT_TRUE(dirty_of(p, want).empty());
}

}  // namespace
}  // namespace ostrel_server::ent
