#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hub/hub.hpp"
#include "support/hub_fixture.hpp"
#include "support/hub_probe.hpp"

namespace ostrel_server::transport::endpoint {
namespace {

using test::make_hub;
using test::player;
namespace proto = ostrel_core::proto;
using Lock = HubProbe::Lock;

std::shared_ptr<Shared> stress_hub() {
  HubInit init;
  init.tables.actions.push_back({.id = "m:go"});
  return make_hub(std::move(init));
}

// What the pushers got accepted and the drainer took, per road.
struct Tally {
  std::atomic<std::uint64_t> accepted{0};
  std::uint64_t drained = 0;
};

TEST(HubStress, EightPushersOneDrainerNothingLostNothingInvented) {
  auto hub = stress_hub();
  enum Road {
    Edits,
    Punches,
    Uses,
    Actions,
    Settings,
    Chat,
    Dialogs,
    Seeds,
    Placements,
    Particles,
    Badges,
    Entity,
    Singles,
    Notices,
    Chunks,
    kRoads
  };
  std::vector<Tally> tally(kRoads);
  constexpr int kPushers = 8;
  constexpr int kRounds = 1000;
  std::vector<std::unique_ptr<PlayerSlot>> slots;
  for (int t = 0; t < kPushers; ++t) {
    slots.push_back(std::make_unique<PlayerSlot>(PlayerSlot::claim(hub, player(t), "p" + std::to_string(t))));
  }
  std::atomic<int> pushers_done{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kPushers; ++t) {
    threads.emplace_back([&, t] {
      auto p = player(t);
      std::vector<ServedReceiver> replies;
      auto count = [&](Road r, bool ok) {
        if (ok) ++tally[r].accepted;
      };
      for (int i = 0; i < kRounds; ++i) {
        count(Edits, hub->queue_edit(p, proto::edit::Set{{i, 0, 0}, 1}));
        count(Punches, hub->queue_punch(p, i));
        count(Uses, hub->queue_use(p, std::nullopt));
        count(Actions, hub->queue_action(p, "m:go", true));
        count(Settings, hub->queue_setting_change(p, "s", i));
        count(Chat, hub->queue_chat(p, "hi"));
        count(Dialogs, hub->queue_dialog_event(p, "f", proto::dialog_event::Closed{}));
        count(Seeds, hub->queue_seed("overworld", seed::Whole{1, {i, t, 0}}) == plans::Queued::Queued);
        count(Placements, hub->queue_placement({.player = p}));
        count(Particles, hub->queue_particles(p, {}));
        count(Badges, hub->queue_badge(p, {.entity = static_cast<std::uint64_t>(i % 8)}));
        auto push = hub->push_entity_messages(p, {proto::server::EntityMoves{}});
        if (!push.overflow) ++tally[Entity].accepted;
        count(Singles, !hub->push_entity_message(p, proto::server::SlotSelected{1}));
        count(Notices, hub->tell(p, "n"));
        if (auto r = hub->request_chunk_at("overworld", {i, t, 0}, std::nullopt)) {
          ++tally[Chunks].accepted;
          replies.push_back(std::move(*r));
        }
        ostrel_core::phys::Intent walk;
        hub->queue_input(p, i % 70, walk, 0.1f, 0.2f);
      }
      ++pushers_done;
    });
  }

  // The connection-side takes run on the drainer too, as one more taker; entity overflows make
  // the accepted count of that road an upper bound, so it is checked apart.
  std::uint64_t entity_taken = 0;
  std::uint64_t badge_entities_taken = 0;
  auto drain_all = [&] {
    tally[Edits].drained += hub->drain_edits().size();
    tally[Punches].drained += hub->drain_punches().size();
    tally[Uses].drained += hub->drain_uses().size();
    tally[Actions].drained += hub->drain_actions().size();
    tally[Settings].drained += hub->drain_setting_changes().size();
    tally[Chat].drained += hub->drain_chat().size();
    tally[Dialogs].drained += hub->drain_dialog_events().size();
    tally[Seeds].drained += hub->drain_seeds().size();
    tally[Placements].drained += hub->drain_placements().size();
    tally[Chunks].drained += hub->take_chunk_requests().size();
    for (int t = 0; t < kPushers; ++t) {
      tally[Particles].drained += hub->take_particles(player(t)).size();
      badge_entities_taken += hub->take_badges(player(t)).size();
      tally[Notices].drained += hub->take_notices(player(t)).size();
      for (const auto& m : hub->take_entity_messages(player(t))) {
        if (m.name() == "SlotSelected") {
          ++tally[Singles].drained;
        } else {
          ++entity_taken;
        }
      }
    }
  };
  for (int d = 0; d < 1000; ++d) drain_all();
  for (auto& t : threads) t.join();
  while (hub->queued_chunk_requests() > 0) drain_all();
  drain_all();

  const char* names[] = {"edits",  "punches", "uses",    "actions",    "settings",
                         "chat",   "dialogs", "seeds",   "placements", "particles",
                         "badges", "entity",  "singles", "notices",    "chunks"};
  for (int r = 0; r < kRoads; ++r) {
    if (r == Badges || r == Entity) continue;
    SCOPED_TRACE(names[r]);
    EXPECT_EQ(tally[r].accepted.load(), tally[r].drained);
    EXPECT_GT(tally[r].drained, 0u);
  }
  // Badges collapse per entity and replication may overflow: never more out than in.
  EXPECT_LE(badge_entities_taken, tally[Badges].accepted.load());
  EXPECT_GT(badge_entities_taken, 0u);
  EXPECT_LE(entity_taken, tally[Entity].accepted.load());
  slots.clear();
  EXPECT_EQ(hub->online_count(), 0u);
}

TEST(HubStress, ClaimsAndDropsOfOnePlayerLeaveNothingBehind) {
  auto hub = make_hub();
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 500; ++i) {
        auto slot = PlayerSlot::claim(hub, player(1), "ann");
        hub->is_online(player(1));
        hub->player_chunk(player(1));
        (void)slot.superseded();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(hub->online_count(), 0u);
  EXPECT_FALSE(hub->is_online(player(1)));
  EXPECT_FALSE(hub->player_chunk(player(1)));
}

// Claims for one player landing in any order: the newest owns the name and the record alike, so
// dropping every older slot leaves the player online and in the world.
TEST(HubStress, RacingClaimsLeaveTheNewestOwningBothMaps) {
  for (int round = 0; round < 50; ++round) {
    auto hub = make_hub();
    std::vector<std::optional<PlayerSlot>> slots(8);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&, t] {
        ++ready;
        while (ready.load() < 8) std::this_thread::yield();
        slots[t].emplace(PlayerSlot::claim(hub, player(1), "ann" + std::to_string(t)));
      });
    }
    for (auto& t : threads) t.join();
    std::optional<PlayerSlot>* owner = nullptr;
    for (auto& s : slots) {
      if (!s->superseded()) {
        ASSERT_EQ(owner, nullptr) << "two slots own the player";
        owner = &s;
      }
    }
    ASSERT_NE(owner, nullptr);
    for (auto& s : slots) {
      if (&s != owner) s.reset();
    }
    EXPECT_EQ(hub->online_count(), 1u);
    EXPECT_TRUE(hub->is_online(player(1)));
    EXPECT_TRUE(hub->player_chunk(player(1)));
    owner->reset();
    EXPECT_FALSE(hub->is_online(player(1)));
    EXPECT_FALSE(hub->player_chunk(player(1)));
  }
}

TEST(HubPoisoned, AFailureUnderAHubLockNeverFailsTwice) {
  struct Case {
    Lock lock;
    std::function<void(Shared&)> check;  // pushes refuse, reads answer empty, nothing throws
  };
  auto p = player(1);
  const Case cases[] = {
      {Lock::Players,
       [p](Shared& h) {
         EXPECT_FALSE(h.player_chunk(p));
         EXPECT_FALSE(h.player_state(p));
         EXPECT_FALSE(h.queue_input(p, 1, {}, 0, 0));
         EXPECT_EQ(h.players_in("overworld"), 0u);
         EXPECT_TRUE(h.body_boxes().empty());
         EXPECT_EQ(h.chunks_in_flight_per_client(), 11u);
         h.add_player(p, kSpawn);
         h.remove_player(p);
       }},
      {Lock::Online,
       [p](Shared& h) {
         EXPECT_TRUE(h.online_players().empty());
         EXPECT_FALSE(h.is_online(p));
         EXPECT_FALSE(h.tell(p, "x"));
       }},
      {Lock::Edits,
       [p](Shared& h) {
         EXPECT_FALSE(h.queue_edit(p, ostrel_core::proto::edit::Set{}));
         EXPECT_TRUE(h.drain_edits().empty());
       }},
      {Lock::Punches,
       [p](Shared& h) {
         EXPECT_FALSE(h.queue_punch(p, 1));
         EXPECT_TRUE(h.drain_punches().empty());
       }},
      {Lock::Uses,
       [p](Shared& h) {
         EXPECT_FALSE(h.queue_use(p, std::nullopt));
         EXPECT_TRUE(h.drain_uses().empty());
       }},
      {Lock::Actions,
       [p](Shared& h) {
         EXPECT_FALSE(h.queue_action(p, "m:go", true));
         EXPECT_TRUE(h.drain_actions().empty());
       }},
      {Lock::SettingChanges,
       [p](Shared& h) {
         EXPECT_FALSE(h.queue_setting_change(p, "s", 1));
         EXPECT_TRUE(h.drain_setting_changes().empty());
       }},
      {Lock::DialogEvents,
       [p](Shared& h) {
         EXPECT_FALSE(h.queue_dialog_event(p, "f", ostrel_core::proto::dialog_event::Closed{}));
         EXPECT_TRUE(h.drain_dialog_events().empty());
       }},
      {Lock::Placements,
       [p](Shared& h) {
         EXPECT_FALSE(h.queue_placement({.player = p}));
         EXPECT_TRUE(h.drain_placements().empty());
       }},
      {Lock::InventoryDirty,
       [p](Shared& h) {
         h.mark_inventory_dirty(p);
         EXPECT_FALSE(h.take_inventory_dirty(p));
       }},
      {Lock::SkyModifiers,
       [p](Shared& h) {
         h.set_sky_modifier(p, ostrel_core::atmosphere::SkyModifier{});
         EXPECT_FALSE(h.unsent_sky_modifier(p));
         h.forget_sky_modifier(p);
       }},
      {Lock::Chat,
       [p](Shared& h) {
         EXPECT_FALSE(h.queue_chat(p, "x"));
         EXPECT_TRUE(h.drain_chat().empty());
       }},
      {Lock::Seeds,
       [](Shared& h) {
         EXPECT_EQ(h.queue_seed("o", seed::Whole{1, {}}), plans::Queued::Refused);
         EXPECT_EQ(h.queue_merge("o", {}, 1, 1), plans::Queued::Refused);
         EXPECT_TRUE(h.drain_seeds().empty());
       }},
      {Lock::ChunkRequests,
       [](Shared& h) {
         EXPECT_FALSE(h.request_chunk_at("o", {}, std::nullopt));
         EXPECT_EQ(h.queued_chunk_requests(), 0u);
         EXPECT_TRUE(h.take_chunk_requests().empty());
         auto [tx, rx] = ostrel_core::sync::oneshot::channel<std::optional<Served>>();
         std::vector<ChunkRequest> back;
         back.push_back({"o", {}, std::nullopt, std::move(tx)});
         h.requeue_chunk_requests(std::move(back));
         EXPECT_EQ(rx.poll().kind, ostrel_core::sync::oneshot::Poll<std::optional<Served>>::Kind::Closed);
       }},
      {Lock::EntityMessages,
       [p](Shared& h) {
         EXPECT_FALSE(h.push_entity_messages(p, {ostrel_core::proto::server::EntityMoves{}}).overflow);
         EXPECT_FALSE(h.push_entity_message(p, ostrel_core::proto::server::SlotSelected{}));
         EXPECT_TRUE(h.take_entity_messages(p).empty());
       }},
      {Lock::Particles,
       [p](Shared& h) {
         EXPECT_FALSE(h.queue_particles(p, {}));
         EXPECT_TRUE(h.take_particles(p).empty());
       }},
      {Lock::Badges,
       [p](Shared& h) {
         EXPECT_FALSE(h.queue_badge(p, {}));
         EXPECT_TRUE(h.take_badges(p).empty());
       }},
      {Lock::Notices,
       [p](Shared& h) {
         EXPECT_FALSE(h.tell(p, "x"));
         EXPECT_TRUE(h.take_notices(p).empty());
       }},
      {Lock::SelectedSlots,
       [p](Shared& h) {
         h.select_slot(p, 3);
         EXPECT_FALSE(h.selected_slot(p));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.lock));
    auto hub = stress_hub();
    // A player is present before the failure, so reads have something they could have found.
    auto slot = std::make_unique<PlayerSlot>(PlayerSlot::claim(hub, p, "ann"));
    hub->tell(p, "before");
    HubProbe::poison(*hub, c.lock);
    EXPECT_NO_THROW(c.check(*hub));
    EXPECT_NO_THROW(c.check(*hub));
    EXPECT_NO_THROW(slot.reset());
  }
}

}  // namespace
}  // namespace ostrel_server::transport::endpoint
