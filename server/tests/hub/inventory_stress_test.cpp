#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "hub/hub.hpp"
#include "support/hub_fixture.hpp"

namespace ostrel_server::transport::endpoint {
namespace {

using test::make_hub;
using test::player;

constexpr int kPlayers = 50;
constexpr MaterialId kStone = 2;
constexpr MaterialId kOre = 3;
constexpr MaterialId kGem = 4;

Stack stack(MaterialId m, std::uint32_t units) { return Stack{.material = m, .units = units}; }

std::uint64_t units_held(Shared& hub) {
  std::uint64_t total = 0;
  for (const auto& [id, slots] : hub.all_inventories()) total += slots.total_units();
  return total;
}

// Connection threads click, swap and return the cursor while the tick credits, debits and digs
// for the same players; every unit that went in or out is counted, so the inventories must hold
// exactly what the tally says.
TEST(HubInventoryStress, ClicksAndTickWorkConserveUnits) {
  HubInit init;
  init.views = {{"mod:bag", 6}};
  init.main_slots = 12;  // fixed: credits can overflow and hand units back
  init.slot_grain = 3;
  init.item_materials = {kGem};
  init.tools = {{"hand", Tool{.id = "hand"}}};
  init.default_tool = "hand";
  init.drops = {{kOre, {{kGem, 27}}}};
  auto hub = make_hub(std::move(init));
  for (int p = 0; p < kPlayers; ++p) {
    hub->add_player(player(p), kSpawn);
    hub->credit(player(p), {stack(kStone, 500), stack(kGem, 54)});
  }
  const std::uint64_t start = units_held(*hub);

  std::atomic<bool> done{false};
  std::vector<std::thread> connections;
  for (int t = 0; t < 4; ++t) {
    connections.emplace_back([&, t] {
      std::mt19937 rng(t);
      while (!done.load()) {
        auto p = player(static_cast<std::uint8_t>(rng() % kPlayers));
        switch (rng() % 4) {
          case 0:
            hub->click_slot(p, rng() % 2 ? "player:main" : "mod:bag", rng() % 14, rng() % 5,
                            rng() % 3 == 0 ? std::optional<std::string_view>("mod:bag") : std::nullopt);
            break;
          case 1:
            hub->swap_offhand(p, rng() % 12);
            break;
          case 2:
            hub->return_held(p);
            break;
          default:
            hub->take_inventory_dirty(p);
            (void)hub->view_updates(p);
            break;
        }
      }
    });
  }

  std::int64_t in = 0, out = 0;
  for (int round = 0; round < 200; ++round) {
    for (int i = 0; i < kPlayers; ++i) {
      auto p = player(static_cast<std::uint8_t>(i));
      std::vector<Stack> lot{stack(kStone, 40)};
      in += 40;
      for (const auto& rest : hub->credit(p, lot)) out += rest.units;
      out += hub->debit(p, stack(kStone, 0), 35);
      // A dig bite: 27 units of ore earn one gem item of 27 units, which is credited.
      hub->set_dig(p, SubNodePos{i, round, 0});
      hub->advance_dig(p, 1, kOre, 0.05f);
      for (const auto& earned : hub->yield_of(p, {stack(kOre, 27)})) {
        in += earned.units;
        for (const auto& rest : hub->credit(p, {earned})) out += rest.units;
      }
      if (auto held = hub->take_held(p, 2)) {
        if (auto lost = hub->untake_held(p, *held)) out += lost->units;
      }
    }
  }
  done = true;
  for (auto& t : connections) t.join();
  EXPECT_EQ(static_cast<std::int64_t>(units_held(*hub)), static_cast<std::int64_t>(start) + in - out);
  EXPECT_GT(in, 0);
  EXPECT_GT(out, 0);
}

}  // namespace
}  // namespace ostrel_server::transport::endpoint
