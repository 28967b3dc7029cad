#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "containers/containers.hpp"
#include "hub/hub.hpp"
#include "support/hub_fixture.hpp"

namespace ostrel_server::containers {
namespace {

using test::player;

constexpr ostrel_core::material::MaterialId kStone = 2;

// The holder clicks in the lent view and its own slots under the hub's inventories lock while
// the tick gives into and takes out of the same container through the handle; every unit given
// or taken is counted, so the holder's slots (the lent view among them) must hold the tally.
TEST(ContainersStress, ClicksBesideGivesAndTakesKeepEveryUnit) {
  auto hub = test::make_hub();
  hub->add_player(player(1), transport::endpoint::kSpawn);
  hub->ensure_inventory(player(1));
  Shared shared(hub, nullptr);
  ASSERT_TRUE(shared.ensure("chest", 6));
  ASSERT_EQ(shared.give("chest", std::nullopt, Stack{.material = kStone, .units = 3000}), 3000u);
  ASSERT_TRUE(shared.open("chest", player(1)));
  const std::uint64_t start = hub->slots_of(player(1))->total_units();
  ASSERT_EQ(start, 3000u);

  std::atomic<bool> done{false};
  std::thread clicker([&] {
    std::mt19937 rng(1);
    while (!done.load()) {
      const bool in_chest = rng() % 2 == 0;
      hub->click_slot(player(1), in_chest ? "chest" : "player:main", rng() % 8,
                      static_cast<std::uint8_t>(rng() % 4),
                      rng() % 3 == 0 ? std::optional<std::string_view>(in_chest ? "player:main" : "chest")
                                     : std::nullopt);
    }
  });
  std::int64_t net = 0;
  std::mt19937 rng(2);
  for (int i = 0; i < 20'000; ++i) {
    const std::optional<std::size_t> slot = rng() % 2 ? std::optional<std::size_t>(rng() % 8) : std::nullopt;
    if (rng() % 2) {
      net += shared.give("chest", slot,
                         Stack{.material = kStone, .units = 1 + static_cast<std::uint32_t>(rng() % 60)});
    } else {
      net -= shared.take("chest", slot, Stack{.material = kStone, .units = 1},
                         1 + static_cast<std::uint32_t>(rng() % 60));
    }
  }
  done.store(true);
  clicker.join();
  EXPECT_EQ(static_cast<std::int64_t>(hub->slots_of(player(1))->total_units()),
            static_cast<std::int64_t>(start) + net);
  ASSERT_TRUE(shared.close("chest", player(1)));
}

}  // namespace
}  // namespace ostrel_server::containers
