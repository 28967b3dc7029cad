#include <gtest/gtest.h>

#include <array>

#include "hub/hub.hpp"
#include "presentation/sky.hpp"
#include "support/hub_fixture.hpp"

namespace ostrel_server::test {
namespace {

using transport::endpoint::DomainRegistry;
using transport::endpoint::HubInit;
using Position = std::array<std::int64_t, 3>;

constexpr std::uint64_t kSeed = 42;

Position world_place() {
  const auto p = ostrel_core::sky::world_position(kSeed);
  return {p.x, p.y, p.z};
}

std::shared_ptr<transport::endpoint::Shared> seeded_hub() {
  HubInit init;
  init.world_seed = kSeed;
  return make_hub(std::move(init));
}

ostrel_core::domain::DomainSky a_sky(float time) {
  ostrel_core::proto::SkyFrame frame;
  frame.time = time;
  return {{frame}, {0.1f, 0.2f, 0.3f}};
}

TEST(HubSkies, BeforeTheRegistryIsSetThereIsNoRuntimeSky) {
  auto hub = seeded_hub();
  EXPECT_EQ(hub->sky_revision(), 0u);
  EXPECT_FALSE(hub->has_runtime_sky("overworld"));
  const auto table = hub->sky_table_for("overworld");
  EXPECT_EQ(table.position, world_place());
  EXPECT_TRUE(table.frames.empty());
  // A login sees the registered sky at the same place.
  EXPECT_EQ(hub->login_sky().position, world_place());
  EXPECT_NE(world_place(), (Position{0, 0, 0}));
}

TEST(HubSkies, RuntimeSkiesAndPlacesComeFromTheRegistry) {
  auto hub = seeded_hub();
  auto registry = std::make_shared<DomainRegistry>();
  {
    auto w = registry->write();
    ASSERT_TRUE(w.has_value());
    ASSERT_TRUE(
        (*w)->register_domain("moon", {.position = ostrel_core::domain::UniversalPos{1, 2, 3}}).has_value());
    ASSERT_TRUE((*w)->set_sky("overworld", a_sky(0.25f)));
  }
  ASSERT_TRUE(hub->domains().set(registry));
  const std::uint64_t rev = hub->sky_revision();
  EXPECT_GT(rev, 0u);
  EXPECT_TRUE(hub->has_runtime_sky("overworld"));
  EXPECT_FALSE(hub->has_runtime_sky("moon"));
  EXPECT_FALSE(hub->has_runtime_sky("overworld/1"));  // exact ids only

  const auto overworld = hub->sky_table_for("overworld");
  ASSERT_EQ(overworld.frames.size(), 1u);
  EXPECT_EQ(overworld.frames[0].time, 0.25f);
  EXPECT_EQ(overworld.fog, (std::array<float, 3>{0.1f, 0.2f, 0.3f}));
  EXPECT_EQ(overworld.position, world_place());  // the overworld has no place of its own
  EXPECT_EQ(hub->sky_table_for("moon").position, (Position{1, 2, 3}));

  ASSERT_TRUE((*registry->write())->set_sky("overworld", a_sky(0.5f)));
  EXPECT_GT(hub->sky_revision(), rev);
}

}  // namespace
}  // namespace ostrel_server::test
