// The presentation services over a real hub: who a burst, badge, sound or loop reaches, what the
// counts mean, the world clock, HUD values, operators and chat.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "base/num.hpp"
#include "hub/hub.hpp"
#include "hub/player_slot.hpp"
#include "proto/server_message.hpp"
#include "services/earshot.hpp"
#include "services/hud.hpp"
#include "services/sprayer.hpp"
#include "support/hub_fixture.hpp"
#include "support/hub_probe.hpp"

namespace ostrel_server::handle {
namespace {

using test::player;
using transport::endpoint::HubProbe;
using transport::endpoint::Shared;
namespace proto = ostrel_core::proto;
namespace particle = ostrel_core::particle;
namespace sound = ostrel_core::sound;

// Stands the player's feet at (x, y, z) blocks in `domain`; adds the player first when absent.
void stand(Shared& hub, std::uint8_t who, std::string domain, double x, double y, double z) {
  auto players = hub.players()->lock();
  auto it = (*players)->find(player(who));
  if (it == (*players)->end()) {
    it = (*players)->emplace(player(who), transport::endpoint::PlayerSim::at_spawn(transport::endpoint::kSpawn, 0)).first;
  }
  auto& sim = it->second;
  sim.domain = std::move(domain);
  const double at[3] = {x, y, z};
  std::int32_t chunk[3];
  for (int a = 0; a < 3; ++a) {
    chunk[a] = ostrel_core::num::saturate_floor<std::int32_t>(at[a] / 16.0);
    sim.local[a] = static_cast<float>((at[a] - 16.0 * chunk[a]) * 3.0);
  }
  sim.chunk = {chunk[0], chunk[1], chunk[2]};
}

// The names of the single messages waiting for the player, taken.
std::vector<std::string> taken(Shared& hub, std::uint8_t who) {
  std::vector<std::string> out;
  for (const auto& f : hub.take_entity_messages(player(who))) out.emplace_back(f.name());
  return out;
}

particle::ParticleRequest burst_at(double x, float radius) {
  particle::ParticleRequest r;
  r.domain = "overworld";
  r.burst.pos = {x, 0.0, 0.0};
  r.radius = radius;
  return r;
}

// ---- Reach: the domain, the radius, the player narrowing -----------------------------------------

TEST(PresentationReach, DomainRadiusAndPlayerForBurstsSoundsAndLoops) {
  auto hub = test::make_hub();
  auto population = std::make_shared<ent::Guarded>();
  Sprayer sprayer(hub, population);
  Earshot earshot(hub);
  stand(*hub, 1, "overworld", 10.0, 0.0, 0.0);  // exactly at a radius of 10
  stand(*hub, 2, "overworld", 10.001, 0.0, 0.0);
  stand(*hub, 3, "dun", 0.0, 0.0, 0.0);  // at the very point, in another domain
  stand(*hub, 4, "overworld", 0.0, -3.0, 4.0);  // 5 away

  EXPECT_EQ(sprayer.emit(burst_at(0.0, 10.0f)), 2u);
  EXPECT_EQ(hub->take_particles(player(1)).size(), 1u);
  EXPECT_TRUE(hub->take_particles(player(2)).empty());
  EXPECT_TRUE(hub->take_particles(player(3)).empty());
  EXPECT_EQ(hub->take_particles(player(4)).size(), 1u);

  sound::PlayRequest play;
  play.sound = "m:thud";
  play.radius = 10.0f;
  EXPECT_EQ(earshot.play(play), 2u);
  EXPECT_EQ(taken(*hub, 1), std::vector<std::string>{"PlaySound"});
  EXPECT_TRUE(taken(*hub, 2).empty());
  EXPECT_TRUE(taken(*hub, 3).empty());
  EXPECT_EQ(taken(*hub, 4), std::vector<std::string>{"PlaySound"});

  sound::LoopRequest loop;
  loop.id = "m:cave";
  loop.domain = "dun";
  loop.radius = 1.0f;
  EXPECT_EQ(earshot.start_loop(loop), 1u);
  EXPECT_EQ(taken(*hub, 3), std::vector<std::string>{"StartSoundLoop"});
  EXPECT_TRUE(taken(*hub, 4).empty());

  // A radius of 0 reaches only a player standing exactly at the point.
  stand(*hub, 5, "overworld", 0.0, 0.0, 0.0);
  EXPECT_EQ(sprayer.emit(burst_at(0.0, 0.0f)), 1u);
  EXPECT_EQ(hub->take_particles(player(5)).size(), 1u);

  // Narrowed to one player: out of reach is 0, in reach 1, never another player.
  auto narrowed = burst_at(0.0, 10.0f);
  narrowed.player = player(2);
  EXPECT_EQ(sprayer.emit(narrowed), 0u);
  narrowed.player = player(4);
  EXPECT_EQ(sprayer.emit(narrowed), 1u);
  EXPECT_TRUE(hub->take_particles(player(1)).empty());
  play.player = player(3);  // in reach of the coordinates but in another domain
  EXPECT_EQ(earshot.play(play), 0u);
  play.player = player(9);  // not in the world
  EXPECT_EQ(earshot.play(play), 0u);
}

TEST(PresentationReach, EverywhereLoopsStopsAndTellAllIgnorePlace) {
  auto hub = test::make_hub();
  Earshot earshot(hub);
  stand(*hub, 1, "overworld", 0.0, 0.0, 0.0);
  stand(*hub, 2, "dun", 5000.0, 0.0, 0.0);
  sound::LoopRequest loop;
  loop.id = "m:rain";
  loop.everywhere = true;
  loop.radius = 0.0f;
  EXPECT_EQ(earshot.start_loop(loop), 2u);
  loop.player = player(2);
  EXPECT_EQ(earshot.start_loop(loop), 1u);
  EXPECT_EQ(taken(*hub, 1), std::vector<std::string>{"StartSoundLoop"});
  EXPECT_EQ(taken(*hub, 2), (std::vector<std::string>{"StartSoundLoop", "StartSoundLoop"}));
  EXPECT_EQ(earshot.stop_loop({.id = "m:rain", .fade_ticks = 20, .player = std::nullopt}), 2u);
  EXPECT_EQ(earshot.stop_loop({.id = "m:rain", .fade_ticks = 0, .player = player(7)}), 0u);
  auto stop = hub->take_entity_messages(player(2));
  ASSERT_EQ(stop.size(), 1u);
  auto decoded = proto::decode_server_as<proto::server::StopSoundLoop>(stop[0]);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->id, "m:rain");
  EXPECT_EQ(decoded->fade_ticks, 20u);
}

// ---- What the counts mean ------------------------------------------------------------------------

TEST(PresentationCounts, OnlyWhatTheHubTookIsCounted) {
  auto hub = test::make_hub();
  auto population = std::make_shared<ent::Guarded>();
  Sprayer sprayer(hub, population);
  Earshot earshot(hub);
  stand(*hub, 1, "overworld", 0.0, 0.0, 0.0);
  stand(*hub, 2, "overworld", 1.0, 0.0, 0.0);
  const auto burst = burst_at(0.0, 32.0f);
  for (std::size_t i = 0; i < transport::endpoint::kMaxBursts - 1; ++i) ASSERT_TRUE(hub->queue_particles(player(1), {}));
  EXPECT_EQ(sprayer.emit(burst), 2u);  // the 256th for player 1
  EXPECT_EQ(sprayer.emit(burst), 1u);  // the 257th is refused
  EXPECT_EQ(hub->take_particles(player(1)).size(), transport::endpoint::kMaxBursts);
  EXPECT_EQ(sprayer.emit(burst), 2u);  // taken: queued again

  sound::PlayRequest play;
  play.sound = "m:thud";
  for (std::size_t i = 0; i < transport::endpoint::kMaxSingleMessages; ++i) {
    ASSERT_EQ(earshot.play(play), 2u) << i;
  }
  EXPECT_EQ(earshot.play(play), 0u);  // the 257th waiting for each
  EXPECT_EQ(earshot.tell_all(proto::server::TimeOfDay{0.5f}, std::nullopt), 0u);
  EXPECT_EQ(hub->take_entity_messages(player(1)).size(), transport::endpoint::kMaxSingleMessages);
  EXPECT_EQ(earshot.play(play), 1u);  // player 1 emptied, player 2 still full
}

TEST(PresentationCounts, PoisonedLocksGiveZero) {
  for (auto lock : {HubProbe::Lock::Players, HubProbe::Lock::EntityMessages, HubProbe::Lock::Particles}) {
    SCOPED_TRACE(static_cast<int>(lock));
    auto hub = test::make_hub();
    Sprayer sprayer(hub, std::make_shared<ent::Guarded>());
    Earshot earshot(hub);
    stand(*hub, 1, "overworld", 0.0, 0.0, 0.0);
    HubProbe::poison(*hub, lock);
    sound::PlayRequest play;
    EXPECT_EQ(sprayer.emit(burst_at(0.0, 32.0f)), lock == HubProbe::Lock::EntityMessages ? 1u : 0u);
    EXPECT_EQ(earshot.play(play), lock == HubProbe::Lock::Particles ? 1u : 0u);
  }
}

// ---- Badges --------------------------------------------------------------------------------------

TEST(Badges, OverLiveEntitiesOnlyTheLatestPerEntityAndAtMost64) {
  auto hub = test::make_hub();
  auto population = std::make_shared<ent::Guarded>();
  Sprayer sprayer(hub, population);
  stand(*hub, 1, "overworld", 0.0, 0.0, 0.0);
  stand(*hub, 2, "dun", 0.0, 0.0, 0.0);
  auto spawn_at = [&](double x, std::string_view domain = "overworld") {
    ent::Entity e;
    e.transform = ostrel_core::ent::component::Transform::from_world(x, 0.0, 0.0);
    auto pop = population->write();
    const auto id = (*pop)->spawn(e);
    if (domain != "overworld") (*pop)->set_domain(id, domain);
    return id.value;
  };
  auto badge = [](std::uint64_t entity, std::uint8_t count) {
    particle::BadgeRequest r;
    r.badge.entity = entity;
    r.badge.count = count;
    return r;
  };
  const auto near = spawn_at(3.0);
  EXPECT_EQ(sprayer.show_over(badge(near, 1)), 1u);
  EXPECT_EQ(sprayer.show_over(badge(near, 5)), 1u);
  auto waiting = hub->take_badges(player(1));
  ASSERT_EQ(waiting.size(), 1u);  // one ShowBadge, the later
  EXPECT_EQ(waiting[0].count, 5);
  EXPECT_TRUE(hub->take_badges(player(2)).empty());

  // Out of the radius, in another domain, gone, or a reused slot: nobody.
  const auto far = spawn_at(40.0);
  EXPECT_EQ(sprayer.show_over(badge(far, 1)), 0u);
  const auto below = spawn_at(1.0, "dun");
  EXPECT_EQ(sprayer.show_over(badge(below, 1)), 1u);
  EXPECT_EQ(hub->take_badges(player(2)).size(), 1u);
  { (*population->write())->despawn(ent::EntityId{near}); }
  EXPECT_EQ(sprayer.show_over(badge(near, 1)), 0u);
  const auto reused = spawn_at(3.0);
  EXPECT_EQ(ent::EntityId{reused}.index(), ent::EntityId{near}.index());
  EXPECT_EQ(sprayer.show_over(badge(near, 1)), 0u);
  EXPECT_EQ(sprayer.show_over(badge(reused, 1)), 1u);
  EXPECT_EQ(sprayer.show_over(badge(1ull << 40, 1)), 0u);  // never existed

  // 64 entities wait at most per player; the latest for one of them still replaces its badge.
  hub->take_badges(player(1));
  std::vector<std::uint64_t> crowd;
  for (int i = 0; i < 65; ++i) crowd.push_back(spawn_at(0.5));
  for (int i = 0; i < 64; ++i) ASSERT_EQ(sprayer.show_over(badge(crowd[i], 1)), 1u) << i;
  EXPECT_EQ(sprayer.show_over(badge(crowd[64], 1)), 0u);
  EXPECT_EQ(sprayer.show_over(badge(crowd[0], 2)), 1u);
  EXPECT_EQ(hub->take_badges(player(1)).size(), 64u);
}

// ---- The world clock ----------------------------------------------------------------------------

TEST(WorldClock, WrapsIntoTheDayAndTellsEveryPlayerAtOnce) {
  transport::endpoint::HubInit init;
  init.day_length = 24000;
  auto hub = test::make_hub(std::move(init));
  Earshot earshot(hub);
  stand(*hub, 1, "overworld", 0.0, 0.0, 0.0);
  stand(*hub, 2, "dun", 900.0, 0.0, 0.0);
  const float kNaN = std::numeric_limits<float>::quiet_NaN();
  const float kInf = std::numeric_limits<float>::infinity();
  struct Case {
    float t;
    bool answer;
    std::uint64_t counter;
  };
  const Case cases[] = {{0.25f, true, 6000},  {1.25f, true, 6000}, {-0.25f, true, 18000}, {-0.0f, true, 0},
                        {1.0f, true, 0},      {0.5f, true, 12000}, {-1.75f, true, 6000},  {kNaN, false, 6000},
                        {kInf, false, 6000},  {3e9f, true, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.t);
    EXPECT_EQ(earshot.set_time_of_day(c.t), c.answer);
    EXPECT_EQ(hub->time_of_day(), c.counter);
    for (std::uint8_t who : {1, 2}) {
      auto sent = hub->take_entity_messages(player(who));
      ASSERT_EQ(sent.size(), c.answer ? 1u : 0u);
      if (c.answer) {
        auto fraction = proto::decode_server_as<proto::server::TimeOfDay>(sent[0]);
        ASSERT_TRUE(fraction);
        EXPECT_EQ(fraction->fraction, static_cast<float>(c.counter) / 24000.0f);
      }
    }
  }
  earshot.set_time_of_day(0.25f);
  EXPECT_EQ(earshot.time_of_day(), 0.25f);

  auto dayless = test::make_hub();
  Earshot none(dayless);
  stand(*dayless, 1, "overworld", 0.0, 0.0, 0.0);
  EXPECT_FALSE(none.set_time_of_day(0.5f));
  EXPECT_EQ(none.time_of_day(), 0.0f);
  EXPECT_TRUE(dayless->take_entity_messages(player(1)).empty());
}

// ---- HUD values, operators, chat ------------------------------------------------------------------

TEST(HudShared, ValuesOperatorsAndChatThroughTheHub) {
  transport::endpoint::HubInit init;
  init.operators = {player(9)};
  auto hub = test::make_hub(std::move(init));
  hud::Shared service(hub);
  using ostrel_core::hud::state::Number;
  const ostrel_core::hud::state::ValueSet set{{"hp", Number{3.0}}};

  EXPECT_FALSE(service.set_hud("m", player(1), set));  // offline: dropped
  EXPECT_FALSE(service.chat_to(player(1), "hi"));
  auto slot = transport::endpoint::PlayerSlot::claim(hub, player(1), "ann");
  EXPECT_TRUE(hub->unsent_hud_values(player(1)).empty());

  EXPECT_TRUE(service.set_hud("m", player(1), set));
  EXPECT_TRUE(service.set_hud("m", player(1), set));
  EXPECT_TRUE(service.set_hud("n", player(1), {}));
  auto sent = hub->unsent_hud_values(player(1));
  ASSERT_EQ(sent.size(), 2u);  // equal sets: one HudValues; each mod its own slot
  EXPECT_EQ(sent[0].slot, "m");
  EXPECT_EQ(sent[1].slot, "n");
  EXPECT_TRUE(service.set_hud("m", player(1), set));
  EXPECT_TRUE(hub->unsent_hud_values(player(1)).empty());

  EXPECT_TRUE(service.is_operator(player(9)));  // away, still an operator
  EXPECT_FALSE(service.is_operator(player(1)));

  EXPECT_TRUE(service.chat_to(player(1), "hello"));
  EXPECT_EQ(hub->take_notices(player(1)), std::vector<std::string>{"hello"});
  for (std::size_t i = 0; i < transport::endpoint::kMaxNotices; ++i) ASSERT_TRUE(service.chat_to(player(1), "x"));
  EXPECT_FALSE(service.chat_to(player(1), "one too many"));
}

}  // namespace
}  // namespace ostrel_server::handle
