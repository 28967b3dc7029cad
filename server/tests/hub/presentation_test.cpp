#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "hub/hub.hpp"
#include "support/hub_fixture.hpp"
#include "support/hub_probe.hpp"

namespace ostrel_server::transport::endpoint {
namespace {

using test::make_hub;
using test::player;
namespace proto = ostrel_core::proto;
namespace atmosphere = ostrel_core::atmosphere;
using ostrel_core::hud::state::Bool;
using ostrel_core::hud::state::Number;
using ostrel_core::hud::state::Text;

atmosphere::Rainbow bow(float intensity) { return {.intensity = intensity}; }

// The rainbow each poll hands out, or "-" for no message.
std::optional<std::optional<atmosphere::Rainbow>> poll(Shared& hub) {
  auto m = hub.unsent_rainbow(player(1));
  if (!m) return std::nullopt;
  return m->rainbow;
}

TEST(HubPresentation, TheLatestValueOnceAndOnlyWhenChanged) {
  using Steps = std::vector<std::optional<atmosphere::Rainbow>>;  // sets, then one poll
  struct Case {
    const char* name;
    std::vector<Steps> rounds;
    std::optional<std::optional<atmosphere::Rainbow>> last_poll;
  };
  const Case cases[] = {
      {"A, B: B", {{bow(0.1f), bow(0.2f)}}, bow(0.2f)},
      {"A twice: once", {{bow(0.1f), bow(0.1f)}}, bow(0.1f)},
      {"A, poll, A: nothing", {{bow(0.1f)}, {bow(0.1f)}}, std::nullopt},
      {"A, poll, B, A, poll: A", {{bow(0.1f)}, {bow(0.2f), bow(0.1f)}}, bow(0.1f)},
      {"absent, poll: absent", {{std::nullopt}}, std::optional<atmosphere::Rainbow>()},
      {"absent, poll, absent: nothing", {{std::nullopt}, {std::nullopt}}, std::nullopt},
      {"0.0 then -0.0 after a poll: equal", {{bow(0.0f)}, {bow(-0.0f)}}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto hub = make_hub();
    std::optional<std::optional<atmosphere::Rainbow>> got;
    for (const auto& round : c.rounds) {
      for (const auto& v : round) hub->set_rainbow(player(1), v);
      got = poll(*hub);
    }
    EXPECT_EQ(got, c.last_poll);
    EXPECT_FALSE(poll(*hub));  // handed out once
  }
}

TEST(HubPresentation, ARecordHoldingANaNAlwaysCountsAsChanged) {
  auto hub = make_hub();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (int i = 0; i < 2; ++i) {
    hub->set_rainbow(player(1), bow(nan));
    auto got = poll(*hub);
    ASSERT_TRUE(got);
    EXPECT_TRUE(std::isnan((*got)->intensity));
  }
}

TEST(HubPresentation, NoValueNoMessageAndForgetStartsAfresh) {
  auto hub = make_hub();
  EXPECT_FALSE(hub->unsent_sky_modifier(player(1)));
  hub->set_sky_modifier(player(1), atmosphere::SkyModifier{});
  EXPECT_TRUE(hub->unsent_sky_modifier(player(1)));
  hub->forget_sky_modifier(player(1));
  EXPECT_FALSE(hub->unsent_sky_modifier(player(1)));
  hub->set_sky_modifier(player(1), atmosphere::SkyModifier{});
  EXPECT_TRUE(hub->unsent_sky_modifier(player(1)));  // a fresh slot is delivered once
}

TEST(HubPresentation, ForgettingCloudsTakesTheMapAndNothingElse) {
  auto hub = make_hub();
  hub->set_clouds(player(1), atmosphere::Clouds{});
  hub->set_cloud_map(player(1), atmosphere::CloudMap{.size = 1, .cover = {9}, .darkness = {0}});
  hub->set_rainbow(player(1), bow(1));
  hub->set_precipitation(player(1), atmosphere::Precipitation{});
  hub->set_sky_modifier(player(1), atmosphere::SkyModifier{});
  hub->forget_clouds(player(1));
  EXPECT_FALSE(hub->unsent_clouds(player(1)));
  EXPECT_FALSE(hub->unsent_cloud_map(player(1)));
  EXPECT_TRUE(hub->unsent_rainbow(player(1)));
  EXPECT_TRUE(hub->unsent_precipitation(player(1)));
  EXPECT_TRUE(hub->unsent_sky_modifier(player(1)));
}

TEST(HubPresentation, CloudMapsCompareByEveryByte) {
  auto hub = make_hub();
  atmosphere::CloudMap map{
      .origin = {1, 2}, .cell = 8, .size = 2, .cover = {1, 2, 3, 4}, .darkness = {0, 0, 0, 0}};
  hub->set_cloud_map(player(1), map);
  auto first = hub->unsent_cloud_map(player(1));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->map, map);  // a full copy
  hub->set_cloud_map(player(1), map);
  EXPECT_FALSE(hub->unsent_cloud_map(player(1)));
  map.darkness[3] = 1;
  hub->set_cloud_map(player(1), map);
  auto changed = hub->unsent_cloud_map(player(1));
  ASSERT_TRUE(changed);
  EXPECT_EQ(changed->map->darkness[3], 1);
}

std::vector<std::pair<std::string, std::vector<std::string>>> hud_polls(Shared& hub) {
  std::vector<std::pair<std::string, std::vector<std::string>>> out;
  for (const auto& v : hub.unsent_hud_values(player(1))) {
    std::vector<std::string> names;
    for (const auto& [name, value] : v.values) names.push_back(name);
    out.emplace_back(v.slot, names);
  }
  return out;
}

using HudPolls = std::vector<std::pair<std::string, std::vector<std::string>>>;

TEST(HubPresentation, HudSlotsAndValuesComeOutInNameOrder) {
  auto hub = make_hub();
  hub->set_hud_values(player(1), "b", {{"z", Number{1}}, {"a", Text{"t"}}});
  hub->set_hud_values(player(1), "a", {{"m", Bool{true}}});
  EXPECT_EQ(hud_polls(*hub), (HudPolls{{"a", {"m"}}, {"b", {"a", "z"}}}));
  EXPECT_TRUE(hud_polls(*hub).empty());
  hub->set_hud_values(player(1), "b", {{"z", Number{1}}, {"a", Text{"t"}}});  // unchanged
  hub->set_hud_values(player(1), "a", {{"m", Bool{false}}});
  EXPECT_EQ(hud_polls(*hub), (HudPolls{{"a", {"m"}}}));  // the other slot stays sent
}

TEST(HubPresentation, HudEmptyListsAndFewerEntries) {
  auto hub = make_hub();
  hub->set_hud_values(player(1), "m", {});
  EXPECT_EQ(hud_polls(*hub), (HudPolls{{"m", {}}}));
  hub->set_hud_values(player(1), "m", {});
  EXPECT_TRUE(hud_polls(*hub).empty());
  hub->set_hud_values(player(1), "m", {{"x", Number{1}}, {"y", Bool{true}}});
  hud_polls(*hub);
  hub->set_hud_values(player(1), "m", {{"x", Number{1}}});
  EXPECT_EQ(hud_polls(*hub), (HudPolls{{"m", {"x"}}}));
  hub->set_hud_values(player(1), "m", {{"x", Number{0.0}}});
  hud_polls(*hub);
  hub->set_hud_values(player(1), "m", {{"x", Number{-0.0}}});  // numbers compare as numbers
  EXPECT_TRUE(hud_polls(*hub).empty());
  hub->set_hud_values(player(1), "m", {{"x", Text{"0"}}});  // another kind
  EXPECT_EQ(hud_polls(*hub).size(), 1u);
  hub->forget_hud_values(player(1));
  EXPECT_TRUE(hud_polls(*hub).empty());
}

TEST(HubPresentation, RemovingAPlayerForgetsEveryKind) {
  auto hub = make_hub();
  hub->add_player(player(1), kSpawn);
  hub->set_hud_values(player(1), "m", {});
  hub->set_rainbow(player(1), bow(1));
  hub->set_clouds(player(1), atmosphere::Clouds{});
  hub->remove_player(player(1));
  EXPECT_TRUE(hud_polls(*hub).empty());
  EXPECT_FALSE(hub->unsent_rainbow(player(1)));
  EXPECT_FALSE(hub->unsent_clouds(player(1)));
}

TEST(HubPresentation, APoisonedKindDropsAndAnswersNothingWhileOthersWork) {
  auto hub = make_hub();
  HubProbe::poison(*hub, HubProbe::Lock::Clouds);
  hub->set_clouds(player(1), atmosphere::Clouds{});
  EXPECT_FALSE(hub->unsent_clouds(player(1)));
  hub->forget_clouds(player(1));
  hub->set_rainbow(player(1), bow(1));
  EXPECT_TRUE(hub->unsent_rainbow(player(1)));
  HubProbe::poison(*hub, HubProbe::Lock::Hud);
  hub->set_hud_values(player(1), "m", {});
  EXPECT_TRUE(hud_polls(*hub).empty());
}

}  // namespace
}  // namespace ostrel_server::transport::endpoint
