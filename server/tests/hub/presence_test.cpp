#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "hub/hub.hpp"
#include "proto/server_message.hpp"
#include "support/hub_fixture.hpp"

namespace ostrel_server::transport::endpoint {
namespace {

using test::make_hub;
using test::player;
namespace proto = ostrel_core::proto;

TEST(HubPresence, ANewRecordStandsOnTheSpawnBlock) {
  HubInit init;
  init.control->set_ticks(5000);
  auto hub = make_hub(std::move(init));
  auto slot = PlayerSlot::claim(hub, player(1), "ann");
  auto g = hub->players()->lock();
  ASSERT_TRUE(g);
  const PlayerSim& p = (*g)->at(player(1));
  EXPECT_EQ(p.domain, "overworld");
  EXPECT_EQ(p.chunk, (ChunkPos{0, 0, 0}));
  EXPECT_EQ(p.local, (Vec3f{1.5f, 3.0f, 1.5f}));
  EXPECT_EQ(p.yaw, 0.0f);
  EXPECT_EQ(p.pitch, 0.0f);
  EXPECT_EQ(p.velocity, (Vec3f{0, 0, 0}));
  EXPECT_EQ(p.input.last_taken(), 5000u);
  EXPECT_EQ(p.input.last_input(), 5000u);
}

TEST(HubPresence, SpawnBlocksOfOtherChunksFloorDivide) {
  auto p = PlayerSim::at_spawn({-1, 17, 31}, 0);
  EXPECT_EQ(p.chunk, (ChunkPos{-1, 1, 1}));
  EXPECT_EQ(p.local, (Vec3f{46.5f, 3.0f, 46.5f}));
}

TEST(HubPresence, EyeStaysInTheFeetChunkPastItsTop) {
  auto hub = make_hub();
  hub->add_player(player(1), kSpawn);
  (*hub->players()->lock())->at(player(1)).local[1] = 45.0f;
  auto eye = hub->player_eye(player(1));
  ASSERT_TRUE(eye);
  EXPECT_EQ(eye->first, (ChunkPos{0, 0, 0}));
  EXPECT_FLOAT_EQ(eye->second[1], 49.86f);
  auto aim = hub->player_aim(player(1));
  ASSERT_TRUE(aim);
  EXPECT_FLOAT_EQ(aim->eye[1], 49.86f);
  EXPECT_EQ(aim->feet[1], 45.0f);
  EXPECT_FALSE(hub->player_eye(player(2)));
}

TEST(HubPresence, PlayersInCountsExactDomainMatchesOnly) {
  auto hub = make_hub();
  const char* domains[] = {"overworld", "overworld/x", "Overworld", "overworld"};
  for (std::uint8_t i = 0; i < 4; ++i) {
    hub->add_player(player(i), kSpawn);
    (*hub->players()->lock())->at(player(i)).domain = domains[i];
  }
  EXPECT_EQ(hub->players_in("overworld"), 2u);
  EXPECT_EQ(hub->players_in("overworld/x"), 1u);
  EXPECT_EQ(hub->players_in("nether"), 0u);
}

TEST(HubPresence, BodyBoxesInTwoDomainsAtOnePlace) {
  auto hub = make_hub();
  hub->add_player(player(1), kSpawn);
  hub->add_player(player(2), kSpawn);
  (*hub->players()->lock())->at(player(2)).domain = "moon";
  auto boxes = hub->body_boxes();
  ASSERT_EQ(boxes.size(), 2u);
  for (const auto& b : boxes) {
    EXPECT_EQ(b.chunk, (ChunkPos{0, 0, 0}));
    const Vec3f min{0.6f, 3.0f, 0.6f}, max{2.4f, 8.4f, 2.4f};
    for (int i = 0; i < 3; ++i) {
      EXPECT_FLOAT_EQ(b.box.min[i], min[i]);
      EXPECT_FLOAT_EQ(b.box.max[i], max[i]);
    }
  }
  EXPECT_EQ(boxes[0].domain + " " + boxes[1].domain, "overworld moon");
  auto centres = hub->player_centres();
  ASSERT_EQ(centres.size(), 2u);
  EXPECT_EQ(centres[1].first, "moon");
}

TEST(HubPresence, PlayerStateCarriesTheBody) {
  auto hub = make_hub();
  hub->add_player(player(1), kSpawn);
  {
    auto g = hub->players()->lock();
    auto& p = (*g)->at(player(1));
    p.velocity = {0.5f, -1.0f, 0.0f};
    p.on_ground = true;
    p.input.take(3);
  }
  auto m = hub->player_state(player(1));
  ASSERT_TRUE(m);
  const auto& s = *m;
  EXPECT_EQ(s.sequence, 3u);
  EXPECT_EQ(s.position, (Vec3f{1.5f, 3.0f, 1.5f}));
  EXPECT_EQ(s.velocity, (Vec3f{0.5f, -1.0f, 0.0f}));
  EXPECT_EQ(s.on_ground, 1);
  EXPECT_EQ(s.body_flag, 0);
  EXPECT_FALSE(s.riding);
}

TEST(HubPresence, OlderInputKeepsTheNewerFacingButIsStillOffered) {
  auto hub = make_hub();
  hub->add_player(player(1), kSpawn);
  ostrel_core::phys::Intent walk{.walk_x = 1.0f};
  EXPECT_TRUE(hub->queue_input(player(1), 7, walk, 0.25f, 0.1f));
  EXPECT_TRUE(hub->queue_input(player(1), 5, walk, 0.75f, -0.1f));
  auto aim = hub->player_aim(player(1));
  EXPECT_EQ(aim->yaw, 0.25f);
  EXPECT_EQ(aim->pitch, 0.1f);
  EXPECT_EQ((*hub->players()->lock())->at(player(1)).input.pending(), 2u);
  // Outside the window the intent is refused, the facing still taken.
  EXPECT_FALSE(hub->queue_input(player(1), 100, walk, 0.5f, 0.0f));
  EXPECT_EQ(hub->player_aim(player(1))->yaw, 0.5f);
  EXPECT_FALSE(hub->queue_input(player(9), 1, walk, 0, 0));
}

TEST(HubPresence, ChunksInFlightShrinkAsPlayersJoin) {
  auto hub = make_hub();
  const std::size_t want[] = {11, 11, 5, 3, 2, 2};
  for (std::uint8_t n = 0; n < 6; ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(hub->chunks_in_flight_per_client(), want[n]);
    hub->add_player(player(n), kSpawn);
  }
}

TEST(HubPresence, ASecondClaimSupersedesTheFirst) {
  auto hub = make_hub();
  auto first = std::make_unique<PlayerSlot>(PlayerSlot::claim(hub, player(1), "ann"));
  (*hub->players()->lock())->at(player(1)).local = {20, 20, 20};
  hub->select_slot(player(1), 4);
  auto second = std::make_unique<PlayerSlot>(PlayerSlot::claim(hub, player(1), "ann 2"));
  EXPECT_EQ(hub->online_count(), 2u);
  EXPECT_EQ(hub->online_players(), (std::vector<std::pair<PlayerUuid, std::string>>{{player(1), "ann 2"}}));
  EXPECT_EQ((*hub->players()->lock())->at(player(1)).local, (Vec3f{1.5f, 3.0f, 1.5f}));  // fresh record
  EXPECT_TRUE(first->superseded());
  EXPECT_FALSE(second->superseded());

  first.reset();  // removes neither the name nor the record nor what waits
  EXPECT_EQ(hub->online_count(), 1u);
  EXPECT_TRUE(hub->is_online(player(1)));
  EXPECT_TRUE(hub->player_chunk(player(1)));
  EXPECT_EQ(hub->selected_slot(player(1)), 4u);

  second.reset();
  EXPECT_EQ(hub->online_count(), 0u);
  EXPECT_FALSE(hub->is_online(player(1)));
  EXPECT_FALSE(hub->player_chunk(player(1)));
}

TEST(HubPresence, TheLastSlotTakesWhatWaitsForThePlayerWithIt) {
  auto hub = make_hub();
  {
    auto slot = PlayerSlot::claim(hub, player(1), "ann");
    EXPECT_TRUE(hub->tell(player(1), "hello"));
    EXPECT_TRUE(hub->queue_particles(player(1), {}));
    EXPECT_TRUE(hub->queue_badge(player(1), {.entity = 3}));
    EXPECT_FALSE(hub->push_entity_message(player(1), proto::server::SlotSelected{2}));
    EXPECT_FALSE(hub->push_entity_messages(player(1), {proto::server::EntityDespawn{{7}}}).overflow);
    hub->select_slot(player(1), 2);
  }
  EXPECT_TRUE(hub->take_notices(player(1)).empty());
  EXPECT_TRUE(hub->take_particles(player(1)).empty());
  EXPECT_TRUE(hub->take_badges(player(1)).empty());
  EXPECT_TRUE(hub->take_entity_messages(player(1)).empty());
  EXPECT_FALSE(hub->selected_slot(player(1)));
}

TEST(HubPresence, SupersededSlotSurvivesTheNewerSlotsDrop) {
  auto hub = make_hub();
  auto first = PlayerSlot::claim(hub, player(1), "ann");
  { auto second = PlayerSlot::claim(hub, player(1), "ann"); }
  EXPECT_TRUE(first.superseded());  // the owner left; this one reports itself superseded
  EXPECT_FALSE(hub->is_online(player(1)));
  EXPECT_EQ(hub->online_count(), 1u);
}

TEST(HubPresence, KickReachesSubscribersOnly) {
  auto hub = make_hub();
  EXPECT_FALSE(hub->kick(player(1), "bye"));
  auto rx = hub->subscribe_kicks();
  EXPECT_TRUE(hub->kick(player(1), "bye"));
  auto r = rx.try_recv();
  ASSERT_TRUE(r.value);
  EXPECT_EQ((*r.value)->player, player(1));
  EXPECT_EQ((*r.value)->reason, "bye");
}

TEST(HubPresence, NoticesAreTakenOnceAndOnlyForPlayersOnline) {
  auto hub = make_hub();
  EXPECT_FALSE(hub->tell(player(1), "nobody hears"));
  auto slot = PlayerSlot::claim(hub, player(1), "ann");
  for (std::size_t i = 0; i < kMaxNotices; ++i) ASSERT_TRUE(hub->tell(player(1), std::to_string(i)));
  EXPECT_FALSE(hub->tell(player(1), "one too many"));
  auto lines = hub->take_notices(player(1));
  ASSERT_EQ(lines.size(), kMaxNotices);
  EXPECT_EQ(lines.front(), "0");
  EXPECT_EQ(lines.back(), "255");
  EXPECT_TRUE(hub->take_notices(player(1)).empty());
}

TEST(HubPresence, ClockHeldByADayLengthOfZero) {
  HubInit init;
  init.time_of_day = 7;
  auto still = make_hub(std::move(init));
  still->advance_time_of_day();
  EXPECT_EQ(still->time_of_day(), 7u);
  EXPECT_EQ(still->day_fraction(), 0.0f);

  HubInit day;
  day.day_length = 4;
  day.time_of_day = 2;
  auto hub = make_hub(std::move(day));
  hub->advance_time_of_day();
  EXPECT_EQ(hub->day_fraction(), 0.75f);
  hub->advance_time_of_day();
  EXPECT_EQ(hub->time_of_day(), 0u);
}

TEST(HubPresence, TheDomainRegistryIsSetOnce) {
  auto hub = make_hub();
  EXPECT_EQ(hub->domains().get(), nullptr);
  auto registry = std::make_shared<DomainRegistry>();
  EXPECT_TRUE(hub->domains().set(registry));
  EXPECT_FALSE(hub->domains().set(std::make_shared<DomainRegistry>()));
  ASSERT_NE(hub->domains().get(), nullptr);
  EXPECT_EQ(hub->domains().get()->get(), registry.get());
}

// A material map where runtime 2 is world 5, runtime 1 has no world id and runtime 3 is past
// the end of the table.
ostrel_core::persist::idmap::MaterialMap partial_map() {
  ostrel_core::persist::idmap::MaterialMap m;
  m.forward = {0, ostrel_core::persist::idmap::kUnmapped, 5};
  return m;
}

TEST(HubBroadcast, BlockEditsReachClientsInWorldIds) {
  HubInit init;
  init.material_map = partial_map();
  auto hub = make_hub(std::move(init));
  auto rx = hub->subscribe_broadcasts();
  struct {
    std::uint16_t runtime;
    std::uint16_t world;
  } cases[] = {{2, 5}, {1, 1}, {3, 1}, {0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.runtime);
    hub->broadcast_in("overworld",
                      proto::server::BlockEdit{proto::edit::Set{{1, 2, 3}, c.runtime}, std::nullopt});
    auto r = rx.try_recv();
    ASSERT_TRUE(r.value);
    const Broadcast& b = **r.value;
    EXPECT_EQ(b.domain, "overworld");
    auto edit = proto::decode_server_as<proto::server::BlockEdit>(*b.frame);
    ASSERT_TRUE(edit);
    EXPECT_EQ(std::get<proto::edit::Set>(edit->edit).material, c.world);
    // The shared bytes are the translated record's encoding.
    EXPECT_EQ(*b.frame, proto::encode(proto::server::BlockEdit{proto::edit::Set{{1, 2, 3}, c.world}, std::nullopt}));
  }
}

TEST(HubBroadcast, OtherMessagesPassUnchangedAndAnIdentityMapChangesNothing) {
  auto hub = make_hub();  // identity map
  auto rx = hub->subscribe_broadcasts();
  hub->broadcast(proto::server::BlockEdit{proto::edit::Partial{{0, 0, 0}, 900, 0x1FF}, std::nullopt});
  hub->broadcast(proto::server::TimeOfDay{0.5f});
  auto edit = rx.try_recv();
  EXPECT_FALSE((*edit.value)->domain);
  auto decoded = proto::decode_server_as<proto::server::BlockEdit>(*(*edit.value)->frame);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(std::get<proto::edit::Partial>(decoded->edit).material, 900);
  auto time = rx.try_recv();
  auto fraction = proto::decode_server_as<proto::server::TimeOfDay>(*(*time.value)->frame);
  ASSERT_TRUE(fraction);
  EXPECT_EQ(fraction->fraction, 0.5f);
}

TEST(HubBroadcast, OneEncodingIsSharedByEveryReceiver) {
  auto hub = make_hub();
  auto a = hub->subscribe_broadcasts();
  auto b = hub->subscribe_broadcasts();
  hub->broadcast(proto::server::TimeOfDay{0.25f});
  EXPECT_EQ(a.try_recv().value->get(), b.try_recv().value->get());
}

}  // namespace
}  // namespace ostrel_server::transport::endpoint
