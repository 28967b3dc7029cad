#include "movement/ent/replicate.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

namespace ostrel_core::ent::replicate {
namespace {

using coords::ChunkPos;

constexpr float kPi = std::numbers::pi_v<float>;

Entity at(ChunkPos chunk, float x, float y = 3.0f, float z = 5.0f) {
  Entity e;
  e.transform.chunk = chunk;
  e.transform.local = {x, y, z};
  return e;
}

const std::function<bool(EntityId)> kAll = [](EntityId) { return true; };
const View kNear{{0, 0, 0}, 8, 12, std::nullopt};

std::vector<EntityId> ids_of(const std::vector<Spawn>& spawns) {
  std::vector<EntityId> out;
  for (const Spawn& s : spawns) out.push_back(s.id);
  return out;
}

TEST(Quantise, YawBytes) {
  struct Case {
    float yaw;
    std::uint8_t want;
  };
  const Case cases[] = {{0.0f, 0},
                        {kPi, 128},
                        {-kPi / 2.0f, 192},
                        {2.0f * kPi, 0},
                        {-1e-7f, 255},
                        {kPi / 2.0f, 64},
                        {std::numeric_limits<float>::quiet_NaN(), 0},
                        {std::numeric_limits<float>::infinity(), 0}};
  for (const Case& c : cases) EXPECT_EQ(yaw_byte(c.yaw), c.want) << c.yaw;
}

TEST(Quantise, PitchBytes) {
  struct Case {
    float pitch;
    std::int8_t want;
  };
  const Case cases[] = {{kPi / 2.0f, 127},
                        {-kPi / 2.0f, -127},
                        {3.0f, 127},
                        {-100.0f, -127},
                        {0.0f, 0},
                        {kPi / 4.0f, 63},
                        {std::numeric_limits<float>::quiet_NaN(), 0}};
  for (const Case& c : cases) EXPECT_EQ(pitch_byte(c.pitch), c.want) << c.pitch;
}

TEST(Quantise, AFlashEasesBackToTheTint) {
  Entity e;
  e.tint = {255, 255, 255};
  const auto shown = [&](std::uint16_t left) {
    e.flash = component::TintFlash{{255, 0, 0}, 4, left};
    return shown_colour(e);
  };
  EXPECT_EQ(shown(4), (Rgb{255, 0, 0}));
  EXPECT_EQ(shown(2), (Rgb{255, 128, 128}));
  EXPECT_EQ(shown(0), (Rgb{255, 255, 255}));
  e.flash.reset();
  EXPECT_EQ(shown_colour(e), (Rgb{255, 255, 255}));
  e.flash = component::TintFlash{{0, 0, 0}, 0, 3};  // no total: the tint shows
  EXPECT_EQ(shown_colour(e), (Rgb{255, 255, 255}));
}

TEST(TrackerUpdate, InterestVolumeIsADiscOverLayers) {
  struct Case {
    const char* name;
    ChunkPos chunk;
    bool seen;
  };
  const Case cases[] = {
      {"8 east", {8, 0, 0}, true},
      {"(6, 0, 6): 72 > 64", {6, 0, 6}, false},
      {"12 layers up", {0, 12, 0}, true},
      {"13 layers up", {0, 13, 0}, false},
      {"12 layers down, 8 north", {0, -12, -8}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Entities store;
    store.spawn(at(c.chunk, 1.0f));
    Tracker t;
    EXPECT_EQ(t.update(store, kNear, kAll).spawns.size(), c.seen ? 1u : 0u);
  }
}

TEST(TrackerUpdate, SpawnCarriesTheFullStateAndThenOnlyChangesFlow) {
  Entities store;
  Entity e = at({0, 0, 0}, 10.0f);
  e.model = "engine:humanoid";
  e.collider = phys::Shape{1.8f, 5.4f};
  e.velocity = {0.5f, 0.0f, 0.0f};
  e.anim = 3;
  e.transform.yaw = kPi;
  e.nametag = component::NametagText{"bob"};
  e.hands.main = inventory::Stack{7, 27};
  const EntityId id = store.spawn(e);
  Tracker t;
  Update u = t.update(store, kNear, kAll);
  ASSERT_EQ(u.spawns.size(), 1u);
  EXPECT_EQ(u.spawns[0], (Spawn{e.model, std::nullopt, e.hands, e.nametag, id, e.transform, e.collider,
                                e.velocity, 3, Rgb{255, 255, 255}}));
  EXPECT_TRUE(u.armed.empty());
  EXPECT_TRUE(u.moves.empty());

  // Velocity, model and name changes alone are not followed.
  store.get_mut(id)->velocity = {0.0f, 1.0f, 0.0f};
  store.get_mut(id)->model = "other";
  EXPECT_TRUE(t.update(store, kNear, kAll).empty());

  // Hands are compared stack by stack.
  store.get_mut(id)->hands.main->units = 26;
  u = t.update(store, kNear, kAll);
  ASSERT_EQ(u.armed.size(), 1u);
  EXPECT_EQ(u.armed[0].hands.main->units, 26u);
  EXPECT_TRUE(u.moves.empty());

  // Turning by a byte, animation and colour each send a move.
  for (auto change : std::vector<std::function<void(Entity&)>>{
           [](Entity& x) { x.transform.yaw = kPi + 0.03f; }, [](Entity& x) { x.transform.pitch = 0.05f; },
           [](Entity& x) { x.anim = 4; },
           [](Entity& x) {
             x.tint = {1, 2, 3};
           }}) {
    change(*store.get_mut(id));
    u = t.update(store, kNear, kAll);
    ASSERT_EQ(u.moves.size(), 1u);
    EXPECT_TRUE(t.update(store, kNear, kAll).empty());
  }
  const Entity& now = *store.get(id);
  EXPECT_EQ(u.moves[0], (Delta{id,
                               {0, 0, 0},
                               now.transform.local,
                               now.velocity,
                               yaw_byte(now.transform.yaw),
                               pitch_byte(now.transform.pitch),
                               4,
                               Rgb{1, 2, 3}}));
}

TEST(TrackerUpdate, ComparesWithWhatWasLastSent) {
  Entities store;
  const EntityId id = store.spawn(at({0, 0, 0}, 10.0f));
  Tracker t;
  ASSERT_EQ(t.update(store, kNear, kAll).spawns.size(), 1u);
  std::vector<int> moved_at;
  for (int tick = 1; tick <= 8; ++tick) {
    store.get_mut(id)->transform.local[0] = 10.0f + 0.05f * static_cast<float>(tick);
    if (!t.update(store, kNear, kAll).moves.empty()) moved_at.push_back(tick);
  }
  // 0.05 a tick never reaches 1/12 in one tick, but does in two since the last one sent.
  EXPECT_EQ(moved_at, (std::vector<int>{2, 4, 6, 8}));
  EXPECT_EQ(t.sent(id)->local[0], 10.0f + 0.05f * 8.0f);
}

TEST(TrackerUpdate, AChunkCrossingIsAMoveHoweverShort) {
  Entities store;
  const EntityId id = store.spawn(at({0, 0, 0}, 47.99f));
  Tracker t;
  t.update(store, kNear, kAll);
  Entity& e = *store.get_mut(id);
  e.transform.chunk = {1, 0, 0};
  e.transform.local[0] = 0.01f;
  const Update u = t.update(store, kNear, kAll);
  ASSERT_EQ(u.moves.size(), 1u);
  EXPECT_EQ(u.moves[0].chunk, (ChunkPos{1, 0, 0}));
}

TEST(TrackerUpdate, NotANumberAlwaysCountsAsMoved) {
  Entities store;
  const EntityId id = store.spawn(at({0, 0, 0}, 10.0f));
  Tracker t;
  t.update(store, kNear, kAll);
  store.get_mut(id)->transform.local[1] = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(t.update(store, kNear, kAll).moves.size(), 1u);
  EXPECT_EQ(t.update(store, kNear, kAll).moves.size(), 1u);
}

TEST(TrackerUpdate, DeparturesAreAscendingAndASlotReusedIsGoneAndSpawned) {
  Entities store;
  const std::vector<EntityId> ids =
      store.spawn_all({at({0, 0, 0}, 1.0f), at({0, 0, 0}, 2.0f), at({0, 0, 0}, 3.0f)});
  Tracker t;
  EXPECT_EQ(ids_of(t.update(store, kNear, kAll).spawns), ids);
  store.despawn(ids[0]);
  const EntityId again = store.spawn(at({0, 0, 0}, 4.0f));
  ASSERT_EQ(again.index(), ids[0].index());
  store.get_mut(ids[2])->transform.chunk = {0, 20, 0};  // out of the volume
  Update u = t.update(store, kNear, kAll);
  EXPECT_EQ(ids_of(u.spawns), (std::vector<EntityId>{again}));
  EXPECT_EQ(u.gone, (std::vector<EntityId>{ids[0], ids[2]}));
  EXPECT_TRUE(u.moves.empty());
}

TEST(TrackerUpdate, TheViewersOwnBodyAndOtherDomainsAreNotShown) {
  Entities store;
  const std::vector<EntityId> ids =
      store.spawn_all({at({0, 0, 0}, 1.0f), at({0, 0, 0}, 2.0f), at({0, 0, 0}, 3.0f)});
  Tracker t;
  const View mine{{0, 0, 0}, 8, 12, ids[0]};
  const auto elsewhere = [&](EntityId id) { return id != ids[2]; };
  EXPECT_EQ(ids_of(t.update(store, mine, elsewhere).spawns), (std::vector<EntityId>{ids[1]}));
  // Becoming the viewer's body reads as a departure.
  const View now_second{{0, 0, 0}, 8, 12, ids[1]};
  EXPECT_EQ(t.update(store, now_second, elsewhere).gone, (std::vector<EntityId>{ids[1]}));
}

TEST(TrackerClear, ResendsInFullAndReportsMissedDepartures) {
  Entities store;
  const std::vector<EntityId> ids =
      store.spawn_all({at({0, 0, 0}, 1.0f), at({0, 0, 0}, 2.0f), at({0, 0, 0}, 3.0f)});
  Tracker t;
  t.update(store, kNear, kAll);
  // A departure goes into a batch the hub then throws away with everything queued.
  store.despawn(ids[0]);
  const Update lost = t.update(store, kNear, kAll);
  ASSERT_EQ(lost.gone, (std::vector<EntityId>{ids[0]}));
  t.clear(lost.gone);
  // Before the next update one more walks out of view.
  store.get_mut(ids[2])->transform.chunk = {0, 40, 0};
  const Update u = t.update(store, kNear, kAll);
  EXPECT_EQ(ids_of(u.spawns), (std::vector<EntityId>{ids[1]}));
  EXPECT_EQ(u.gone, (std::vector<EntityId>{ids[0], ids[2]}));
  // After that the tracker is back to plain comparisons.
  EXPECT_TRUE(t.update(store, kNear, kAll).empty());
  // A missed departure that is in view again is spawned, not reported gone.
  t.clear(std::vector<EntityId>{ids[1]});
  const Update back = t.update(store, kNear, kAll);
  EXPECT_EQ(ids_of(back.spawns), (std::vector<EntityId>{ids[1]}));
  EXPECT_TRUE(back.gone.empty());
}

}  // namespace
}  // namespace ostrel_core::ent::replicate
