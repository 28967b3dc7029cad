#include <gtest/gtest.h>

#include <vector>

#include "hub/hub.hpp"
#include "support/hub_fixture.hpp"

namespace ostrel_server::transport::endpoint {
namespace {

using test::make_hub;
using test::player;
namespace proto = ostrel_core::proto;
using ostrel_core::particle::Badge;
using ostrel_core::particle::Burst;

TEST(HubParticles, At256BurstsTheNextIsRefusedUntilTheyAreTaken) {
  auto hub = make_hub();
  for (std::uint16_t i = 0; i < kMaxBursts; ++i)
    ASSERT_TRUE(hub->queue_particles(player(1), Burst{.count = i}));
  EXPECT_FALSE(hub->queue_particles(player(1), Burst{.count = 999}));
  auto taken = hub->take_particles(player(1));
  ASSERT_EQ(taken.size(), kMaxBursts);
  EXPECT_EQ(taken.front().count, 0);
  EXPECT_EQ(taken.back().count, 255);
  EXPECT_TRUE(hub->queue_particles(player(1), Burst{}));
  EXPECT_TRUE(hub->take_particles(player(2)).empty());
}

TEST(HubBadges, LatestPerEntityAtMost64EntitiesTakenInEntityOrder) {
  auto hub = make_hub();
  for (std::uint64_t e : {9, 3, 5}) ASSERT_TRUE(hub->queue_badge(player(1), {.entity = e}));
  ASSERT_TRUE(hub->queue_badge(player(1), {.entity = 3, .count = 7}));  // replaces the pending one
  auto taken = hub->take_badges(player(1));
  ASSERT_EQ(taken.size(), 3u);
  EXPECT_EQ(taken[0].entity, 3u);
  EXPECT_EQ(taken[0].count, 7);
  EXPECT_EQ(taken[1].entity, 5u);
  EXPECT_EQ(taken[2].entity, 9u);

  for (std::uint64_t e = 0; e < kMaxBadgeEntities; ++e)
    ASSERT_TRUE(hub->queue_badge(player(1), {.entity = e}));
  EXPECT_FALSE(hub->queue_badge(player(1), {.entity = 64}));
  EXPECT_TRUE(hub->queue_badge(player(1), {.entity = 63, .count = 2}));
  auto full = hub->take_badges(player(1));
  ASSERT_EQ(full.size(), kMaxBadgeEntities);
  EXPECT_EQ(full.back().count, 2);
  EXPECT_TRUE(hub->take_badges(player(1)).empty());
}

proto::server::EntityMoves moves(std::uint64_t tick) { return {tick, {}}; }

TEST(HubEntityMessages, SixtyReplicationMessagesStayTheSixtyFirstDropsThem) {
  auto hub = make_hub();
  std::vector<EntityMessage> sixty;
  for (std::uint64_t i = 0; i < 59; ++i) sixty.push_back(moves(i));
  sixty.push_back(proto::server::EntityDespawn{{41, 42}});
  EXPECT_FALSE(hub->push_entity_messages(player(1), sixty).overflow);
  auto kept = hub->take_entity_messages(player(1));
  ASSERT_EQ(kept.size(), 60u);
  EXPECT_EQ(kept.front(), proto::encode(moves(0)));

  EXPECT_FALSE(hub->push_entity_messages(player(1), sixty).overflow);
  auto pushed = hub->push_entity_messages(player(1), {proto::server::EntityDespawn{{43}}});
  EXPECT_TRUE(pushed.overflow);
  EXPECT_EQ(pushed.discarded_despawns, (std::vector<std::uint64_t>{41, 42, 43}));
  EXPECT_TRUE(hub->take_entity_messages(player(1)).empty());
}

TEST(HubEntityMessages, SingleMessagesOutliveAReplicationOverflowInOrder) {
  auto hub = make_hub();
  EXPECT_FALSE(hub->push_entity_message(player(1), proto::server::SlotSelected{1}));
  hub->push_entity_messages(player(1), {moves(1)});
  EXPECT_FALSE(hub->push_entity_message(player(1), proto::server::CloseDialog{"f"}));
  std::vector<EntityMessage> many(60, moves(2));
  EXPECT_TRUE(hub->push_entity_messages(player(1), many).overflow);
  auto left = hub->take_entity_messages(player(1));
  EXPECT_EQ(left, (std::vector<proto::Frame>{proto::encode(proto::server::SlotSelected{1}),
                                             proto::encode(proto::server::CloseDialog{"f"})}));
}

TEST(HubEntityMessages, The257thSingleMessageIsRefused) {
  auto hub = make_hub();
  for (int i = 0; i < 256; ++i)
    ASSERT_FALSE(hub->push_entity_message(player(1), proto::server::SlotSelected{1}));
  EXPECT_TRUE(hub->push_entity_message(player(1), proto::server::SlotSelected{2}));
  // Replication still has its own room.
  EXPECT_FALSE(hub->push_entity_messages(player(1), {moves(1)}).overflow);
  EXPECT_EQ(hub->take_entity_messages(player(1)).size(), 257u);
  EXPECT_TRUE(hub->take_entity_messages(player(1)).empty());
}

}  // namespace
}  // namespace ostrel_server::transport::endpoint
