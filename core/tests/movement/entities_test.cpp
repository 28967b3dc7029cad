#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "movement/ent.hpp"

namespace ostrel_core::ent {
namespace {

using component::Transform;

Entity at(coords::ChunkPos chunk, float x, float y, float z) {
  Entity e;
  e.transform.chunk = chunk;
  e.transform.local = {x, y, z};
  return e;
}

Entity tagged(const char* source) {
  Entity e;
  e.source = source;
  return e;
}

TEST(Entities, SpawnsIntoFreshSlotsWithGenerationZero) {
  Entities store;
  EXPECT_TRUE(store.ids().empty());
  EXPECT_EQ(store.spawn(tagged("a")).value, 0u);
  EXPECT_EQ(store.spawn(tagged("b")).value, 1u);
  EXPECT_EQ(store.spawn(tagged("c")).value, 2u);
  EXPECT_EQ(store.live(), 3u);
  ASSERT_NE(store.get(EntityId{1}), nullptr);
  EXPECT_EQ(store.get(EntityId{1})->source, "b");
  EXPECT_TRUE(store.check_invariants());
}

TEST(Entities, ReuseRaisesTheGenerationAndStaleIdsStopResolving) {
  Entities store;
  store.spawn_all({tagged("a"), tagged("b"), tagged("c")});
  auto gone = store.despawn(EntityId{1});
  ASSERT_TRUE(gone);
  EXPECT_EQ(gone->source, "b");
  const EntityId again = store.spawn(tagged("d"));
  EXPECT_EQ(again.value, 4'294'967'297u);
  EXPECT_EQ(again.index(), 1u);
  EXPECT_EQ(again.generation(), 1u);
  EXPECT_EQ(store.get(EntityId{1}), nullptr);
  EXPECT_EQ(store.get_mut(EntityId{1}), nullptr);
  EXPECT_EQ(store.get(again)->source, "d");
  // The stale id neither despawns nor changes anything.
  EXPECT_FALSE(store.despawn(EntityId{1}));
  EXPECT_EQ(store.live(), 3u);
  EXPECT_TRUE(store.check_invariants());
}

TEST(Entities, LowestFreedSlotIsTakenFirst) {
  Entities store;
  std::vector<Entity> six(6);
  auto ids = store.spawn_all(std::move(six));
  ASSERT_TRUE(store.despawn(ids[5]));
  ASSERT_TRUE(store.despawn(ids[2]));
  EXPECT_EQ(store.spawn(Entity{}).index(), 2u);
  EXPECT_EQ(store.spawn(Entity{}).index(), 5u);
  EXPECT_EQ(store.spawn(Entity{}).index(), 6u);
  EXPECT_TRUE(store.check_invariants());
}

TEST(Entities, DoubleDespawnAndMadeUpIdsChangeNothing) {
  Entities store;
  auto ids = store.spawn_all({tagged("a"), tagged("b")});
  ASSERT_TRUE(store.despawn(ids[0]));
  const auto before = store.ids();
  const EntityId unknown[] = {ids[0], EntityId{7}, EntityId::of(1, 1), EntityId::of(1, 9)};
  for (EntityId id : unknown) {
    SCOPED_TRACE(id.debug());
    EXPECT_FALSE(store.despawn(id));
    EXPECT_EQ(store.get(id), nullptr);
  }
  EXPECT_EQ(store.ids(), before);
  EXPECT_EQ(store.live(), 1u);
  EXPECT_TRUE(store.check_invariants());
}

TEST(Entities, SlotAtTheLastGenerationIsRetiredNeverReused) {
  Entities store;
  store.spawn_all({tagged("a"), tagged("b")});
  store.set_generation_for_test(0, kLastGeneration);
  const EntityId last = EntityId::of(0, kLastGeneration);
  ASSERT_NE(store.get(last), nullptr);
  ASSERT_TRUE(store.despawn(last));
  EXPECT_EQ(store.live(), 1u);
  EXPECT_TRUE(store.check_invariants());
  // Neither the new entity nor any later one lands in slot 0.
  EXPECT_EQ(store.spawn(tagged("c")).index(), 2u);
  ASSERT_TRUE(store.despawn(EntityId{1}));
  EXPECT_EQ(store.spawn(tagged("d")).index(), 1u);
  EXPECT_EQ(store.get(last), nullptr);
  EXPECT_TRUE(store.check_invariants());
}

TEST(Entities, RandomSpawnsAndDespawnsKeepTheInvariants) {
  Entities store;
  std::vector<EntityId> alive;
  std::vector<EntityId> dead;
  std::uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  for (int i = 0; i < 5000; ++i) {
    if (alive.empty() || next() % 3 != 0) {
      const EntityId id = store.spawn(Entity{});
      for (EntityId d : dead) ASSERT_NE(id, d);  // an id never names anything twice
      alive.push_back(id);
    } else {
      const std::size_t k = next() % alive.size();
      ASSERT_TRUE(store.despawn(alive[k]));
      dead.push_back(alive[k]);
      alive.erase(alive.begin() + static_cast<std::ptrdiff_t>(k));
    }
  }
  EXPECT_EQ(store.live(), alive.size());
  for (EntityId d : dead) EXPECT_EQ(store.get(d), nullptr);
  EXPECT_TRUE(store.check_invariants());
}

TEST(Entities, WithinSortsByDistanceThenId) {
  Entities store;
  const EntityId far = store.spawn(at({0, 0, 0}, 10, 0, 0));
  const EntityId centre = store.spawn(at({0, 0, 0}, 0, 0, 0));
  const EntityId a = store.spawn(at({-1, 0, 0}, 45, 0, 0));  // 3 cells away across the border
  const EntityId b = store.spawn(at({0, 0, 0}, 0, 3, 0));
  store.spawn(at({0, 0, 0}, std::numeric_limits<float>::quiet_NaN(), 0, 0));
  store.spawn(at({0, 0, 0}, std::numeric_limits<float>::infinity(), 0, 0));
  Transform c;

  using Hits = std::vector<std::pair<EntityId, float>>;
  EXPECT_EQ(store.within(c, 0.0f), (Hits{{centre, 0.0f}}));
  EXPECT_EQ(store.within(c, 3.0f), (Hits{{centre, 0.0f}, {a, 9.0f}, {b, 9.0f}}));
  EXPECT_EQ(store.within(c, -10.0f), (Hits{{centre, 0.0f}, {a, 9.0f}, {b, 9.0f}, {far, 100.0f}}));
  EXPECT_TRUE(store.within(c, std::numeric_limits<float>::quiet_NaN()).empty());
}

TEST(Entities, WithinNeverWrapsAcrossTheChunkRange) {
  Entities store;
  store.spawn(at({std::numeric_limits<std::int32_t>::max(), 0, 0}, 0, 0, 0));
  Transform c;
  c.chunk = {std::numeric_limits<std::int32_t>::min(), 0, 0};
  EXPECT_TRUE(store.within(c, 1000.0f).empty());
}

TEST(Entities, ByChunkOrdersChunksAsSignedIntegers) {
  Entities store;
  EXPECT_TRUE(store.by_chunk().empty());
  const EntityId p = store.spawn(at({0, -5, 0}, 1, 1, 1));
  const EntityId q = store.spawn(at({-1, 0, 0}, 1, 1, 1));
  const EntityId r = store.spawn(at({0, -5, 0}, 2, 2, 2));
  const auto map = store.by_chunk();
  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map.begin()->first, (coords::ChunkPos{-1, 0, 0}));
  EXPECT_EQ(map.begin()->second, std::vector<EntityId>{q});
  EXPECT_EQ(std::next(map.begin())->second, (std::vector<EntityId>{p, r}));
}

TEST(Transform, FromWorldAnchorsToTheChunk) {
  struct Case {
    double x, y, z;
    coords::ChunkPos chunk;
    std::array<float, 3> local;
  };
  const Case cases[] = {
      {0, 0, 0, {0, 0, 0}, {0, 0, 0}},
      {-0.5, 20.25, 47.9, {-1, 1, 2}, {46.5f, 12.75f, 47.7f}},
      {16, -16, 32, {1, -1, 2}, {0, 0, 0}},
      {1e30,
       -1e30,
       5,
       {std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::min(), 0},
       {static_cast<float>((1e30 - 16.0 * std::numeric_limits<std::int32_t>::max()) * 3),
        static_cast<float>((-1e30 + 16.0 * 2147483648.0) * 3), 15}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << ", " << c.y << ", " << c.z);
    const Transform t = Transform::from_world(c.x, c.y, c.z);
    EXPECT_EQ(t.chunk, c.chunk);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(t.local[i], c.local[i], std::abs(c.local[i]) * 1e-6 + 1e-4);
    EXPECT_EQ(t.yaw, 0.0f);
    EXPECT_EQ(t.pitch, 0.0f);
  }
  EXPECT_EQ(Transform::from_world(16, 0, 0).debug(),
            "Transform { chunk: (1, 0, 0), local: [0, 0, 0], yaw: 0, pitch: 0 }");
  EXPECT_EQ(EntityId{4'294'967'297u}.debug(), "EntityId(4294967297)");
}

TEST(Entities, CopiesAreDeep) {
  Entity e;
  inventory::Stack s;
  s.material = 3;
  s.units = 27;
  s.detail = "ore";
  e.hands.main = s;
  e.opaque = std::vector<std::uint8_t>{1, 2};
  Entity copy = e;
  copy.hands.main->detail->append("!");
  copy.opaque->push_back(3);
  EXPECT_EQ(*e.hands.main->detail, "ore");
  EXPECT_EQ(e.opaque->size(), 2u);
}

}  // namespace
}  // namespace ostrel_core::ent
