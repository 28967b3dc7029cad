// The server's atmosphere service over a real hub: standing values for online players only, and
// who a flash or a bolt reaches.

#include "sky/atmosphere.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hub/player_slot.hpp"
#include "proto/server_message.hpp"
#include "support/hub_fixture.hpp"
#include "support/hub_probe.hpp"

namespace ostrel_server::atmosphere {
namespace {

using test::make_hub;
using test::player;
using transport::endpoint::HubProbe;
using transport::endpoint::PlayerSlot;
namespace proto = ostrel_core::proto;

// Puts the player's feet at a block position in `domain`: chunk and cells within it.
void place(Hub& hub, const PlayerUuid& who, std::string domain, ostrel_core::coords::ChunkPos chunk,
           std::array<float, 3> local) {
  auto g = hub.players()->lock();
  ASSERT_TRUE(g);
  auto& sim = (**g).at(who);
  sim.domain = std::move(domain);
  sim.chunk = chunk;
  sim.local = local;
}

core::FlashRequest flash_at(std::array<double, 3> pos, std::string domain = "overworld") {
  core::FlashRequest r;
  r.domain = std::move(domain);
  r.pos = pos;
  return r;
}

struct World {
  std::shared_ptr<Hub> hub = make_hub();
  Shared sky{hub};
  std::vector<PlayerSlot> slots;
  void join(std::uint8_t n) { slots.push_back(PlayerSlot::claim(hub, player(n), "p")); }
};

TEST(AtmosphereService, StandingValuesForOnlinePlayersOnly) {
  World w;
  w.join(1);
  EXPECT_TRUE(w.sky.set_sky_modifier(player(1), std::nullopt));
  const auto sent = w.hub->unsent_sky_modifier(player(1));
  ASSERT_TRUE(sent.has_value());
  EXPECT_FALSE(sent->modifier.has_value());

  EXPECT_FALSE(w.sky.set_sky_modifier(player(2), core::SkyModifier{}));
  EXPECT_FALSE(w.hub->unsent_sky_modifier(player(2)).has_value());

  // A, B, A before the connection task's pass: A, once.
  core::SkyModifier a, b;
  a.intensity = 0.5f;
  b.intensity = 1.5f;
  for (const auto& m : {a, b, a}) EXPECT_TRUE(w.sky.set_sky_modifier(player(1), m));
  EXPECT_EQ(w.hub->unsent_sky_modifier(player(1))->modifier, a);
  EXPECT_FALSE(w.hub->unsent_sky_modifier(player(1)).has_value());

  // Every setter reaches its own value, and none for a player who is not there.
  EXPECT_TRUE(w.sky.set_precipitation(player(1), core::Precipitation{}));
  EXPECT_TRUE(w.sky.set_rainbow(player(1), core::Rainbow{0.5f, 10}));
  EXPECT_TRUE(w.sky.set_clouds(player(1), core::Clouds{.cover = 0.3f}));
  EXPECT_TRUE(w.sky.set_cloud_map(player(1), std::nullopt));
  EXPECT_EQ(w.hub->unsent_precipitation(player(1))->precipitation, core::Precipitation{});
  EXPECT_EQ(w.hub->unsent_rainbow(player(1))->rainbow, (core::Rainbow{0.5f, 10}));
  EXPECT_EQ(w.hub->unsent_clouds(player(1))->clouds->cover, 0.3f);
  EXPECT_FALSE(w.hub->unsent_cloud_map(player(1))->map.has_value());
  EXPECT_FALSE(w.sky.set_precipitation(player(3), std::nullopt));
  EXPECT_FALSE(w.sky.set_rainbow(player(3), std::nullopt));
  EXPECT_FALSE(w.sky.set_clouds(player(3), std::nullopt));
  EXPECT_FALSE(w.sky.set_cloud_map(player(3), std::nullopt));
  EXPECT_FALSE(w.hub->unsent_rainbow(player(3)).has_value());
}

TEST(AtmosphereService, FlashReachDomainAndPlayerFilter) {
  World w;
  w.join(1);
  w.join(2);
  // Player 1 256 blocks along x; player 2 in another domain at the origin.
  place(*w.hub, player(1), "overworld", {16, 0, 0}, {0, 0, 0});
  place(*w.hub, player(2), "caves", {0, 0, 0}, {0, 0, 0});
  EXPECT_EQ(w.sky.flash(flash_at({0, 0, 0})), 1u);
  const auto frames = w.hub->take_entity_messages(player(1));
  ASSERT_EQ(frames.size(), 1u);
  const auto flash = proto::decode_server_as<proto::server::SkyFlash>(frames[0]);
  ASSERT_TRUE(flash.has_value());
  EXPECT_EQ(flash->flash, core::Flash{});
  EXPECT_TRUE(w.hub->take_entity_messages(player(2)).empty());

  // 256.001 blocks is out of reach.
  place(*w.hub, player(1), "overworld", {16, 0, 0}, {0.003f, 0, 0});
  EXPECT_EQ(w.sky.flash(flash_at({0, 0, 0})), 0u);
  // The other domain by name; a player filter narrows.
  EXPECT_EQ(w.sky.flash(flash_at({0, 0, 0}, "caves")), 1u);
  auto only = flash_at({0, 0, 0}, "caves");
  only.player = player(1);
  EXPECT_EQ(w.sky.flash(only), 0u);
  only.player = player(2);
  EXPECT_EQ(w.sky.flash(only), 1u);
}

TEST(AtmosphereService, BoltReachIsMeasuredFromItsTop) {
  World w;
  w.join(1);
  place(*w.hub, player(1), "overworld", {0, 0, 0}, {0, 0, 0});
  ostrel_core::lightning::LightningRequest r;
  r.lightning.from = {0, 300, 0};
  r.lightning.to = {0, 0, 0};
  r.lightning.seed = 99;
  EXPECT_EQ(w.sky.lightning(r), 0u);
  r.radius = 300.0f;
  EXPECT_EQ(w.sky.lightning(r), 1u);
  const auto frames = w.hub->take_entity_messages(player(1));
  ASSERT_EQ(frames.size(), 1u);
  const auto bolt = proto::decode_server_as<proto::server::LightningStrike>(frames[0]);
  ASSERT_TRUE(bolt.has_value());
  EXPECT_EQ(bolt->bolt, r.lightning);
}

TEST(AtmosphereService, CountsOnlyPlayersWhoseOutboxTookTheMessage) {
  World w;
  w.join(1);
  w.join(2);
  place(*w.hub, player(1), "overworld", {0, 0, 0}, {0, 0, 0});
  place(*w.hub, player(2), "overworld", {0, 0, 0}, {0, 0, 0});
  // Player 1's single messages are full.
  for (std::size_t i = 0; i < transport::endpoint::kMaxSingleMessages; ++i) {
    ASSERT_TRUE(w.hub->offer_entity_message(player(1), proto::server::SkyFlash{}));
  }
  EXPECT_EQ(w.sky.flash(flash_at({0, 0, 0})), 1u);
  EXPECT_EQ(w.hub->take_entity_messages(player(2)).size(), 1u);

  HubProbe::poison(*w.hub, HubProbe::Lock::EntityMessages);
  EXPECT_EQ(w.sky.flash(flash_at({0, 0, 0})), 0u);

  World v;
  v.join(1);
  HubProbe::poison(*v.hub, HubProbe::Lock::Players);
  EXPECT_EQ(v.sky.flash(flash_at({0, 0, 0})), 0u);
}

}  // namespace
}  // namespace ostrel_server::atmosphere

namespace ostrel_server::atmosphere {
namespace {

// The simulation thread flashes and sets weather while connection tasks take what waits and
// another player comes and goes: every flash counted was taken by an outbox, and no more.
TEST(AtmosphereStress, FlashesAndWeatherAgainstTakersAndLeavers) {
  auto hub = make_hub();
  Shared sky(hub);
  constexpr int kPlayers = 4;
  constexpr int kRounds = 2000;
  std::vector<PlayerSlot> stay;
  for (std::uint8_t n = 1; n <= kPlayers; ++n) stay.push_back(PlayerSlot::claim(hub, player(n), "p"));
  std::atomic<bool> done{false};
  std::atomic<std::uint64_t> taken{0};
  std::vector<std::thread> takers;
  for (std::uint8_t n = 1; n <= kPlayers; ++n) {
    takers.emplace_back([&, n] {
      while (!done.load()) {
        taken += hub->take_entity_messages(player(n)).size();
        (void)hub->unsent_sky_modifier(player(n));
        (void)hub->unsent_clouds(player(n));
      }
      taken += hub->take_entity_messages(player(n)).size();
    });
  }
  std::thread leaver([&] {
    for (int i = 0; i < kRounds / 4 && !done.load(); ++i) {
      auto slot = PlayerSlot::claim(hub, player(9), "q");
    }
  });
  std::uint64_t told = 0;
  for (int i = 0; i < kRounds; ++i) {
    core::FlashRequest r;
    r.pos = {0, 0, 0};
    r.player = player(static_cast<std::uint8_t>(1 + i % kPlayers));
    told += sky.flash(r);
    core::SkyModifier m;
    m.intensity = static_cast<float>(i % 3) * 0.5f;
    sky.set_sky_modifier(player(static_cast<std::uint8_t>(1 + i % kPlayers)), m);
    sky.set_clouds(player(9), core::Clouds{});
  }
  leaver.join();
  done = true;
  for (auto& t : takers) t.join();
  // Each flash names one staying player: every one counted was taken, and a full outbox (a slow
  // taker) is the only way one goes uncounted.
  EXPECT_EQ(taken.load(), told);
  EXPECT_LE(told, static_cast<std::uint64_t>(kRounds));
  EXPECT_GT(told, 0u);
}

}  // namespace
}  // namespace ostrel_server::atmosphere
