#include "services/carried.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "containers/containers.hpp"
#include "hub/hub.hpp"
#include "support/hub_fixture.hpp"

namespace ostrel_server::handle {
namespace {

namespace slots = ostrel_core::inventory::slots;
using test::player;
using transport::endpoint::kSpawn;

constexpr ostrel_core::material::MaterialId kStone = 2, kGem = 5;
constexpr std::uint32_t kStairShape = 0x1FF | (0x7 << 9);  // 12 cells

Stack stone(std::uint32_t units) { return Stack{.material = kStone, .units = units}; }
Stack stairs(std::uint32_t units) { return Stack{.material = kStone, .units = units, .shape = kStairShape}; }

std::shared_ptr<transport::endpoint::Shared> make(std::optional<std::size_t> main) {
  transport::endpoint::HubInit init;
  init.views = {{"mod:bag", 4}};
  init.main_slots = main;
  init.item_materials = {kGem};
  return test::make_hub(std::move(init));
}

struct Fixture {
  std::shared_ptr<transport::endpoint::Shared> hub;
  Carried carried;

  explicit Fixture(std::optional<std::size_t> main = std::nullopt) : hub(make(main)), carried(hub) {
    hub->add_player(player(1), kSpawn);
  }
  // Player 1's "player:main" slot `i` holds `s`.
  void put(std::size_t i, Stack s) {
    hub->ensure_inventory(player(1));
    hub->with_slots(player(1), [&](slots::Slots& sl) {
      sl.find(slots::kMainView)->slots.at(i) = s;
      return true;
    });
  }
};

TEST(Carried, EdgeCases) {
  struct Case {
    const char* name;
    std::function<void(Fixture&)> run;
  };
  const Case cases[] = {
      {"a player not connected gets nothing",
       [](Fixture& f) {
         EXPECT_EQ(f.carried.give(player(3), slots::kMainView, std::nullopt, stone(7)), 7u);
         EXPECT_FALSE(f.hub->slots_of(player(3)));
       }},
      {"a give that fits answers 0 and the client is sent the new inventory",
       [](Fixture& f) {
         EXPECT_EQ(f.carried.give(player(1), slots::kMainView, std::nullopt, stone(7)), 0u);
         EXPECT_TRUE(f.hub->take_inventory_dirty(player(1)));
         EXPECT_EQ(f.carried.contents(player(1), slots::kMainView), (std::vector<Stack>{stone(7)}));
       }},
      {"40 units of an item material into an unfixed main: one whole item goes in",
       [](Fixture& f) {
         EXPECT_EQ(
             f.carried.give(player(1), slots::kMainView, std::nullopt, Stack{.material = kGem, .units = 40}),
             13u);
         EXPECT_EQ(f.carried.contents(player(1), slots::kMainView),
                   (std::vector<Stack>{Stack{.material = kGem, .units = 27}}));
       }},
      {"a give into an unlike stack's slot changes nothing",
       [](Fixture& f) {
         f.put(2, Stack{.material = 3, .units = 4});
         f.hub->take_inventory_dirty(player(1));
         EXPECT_EQ(f.carried.give(player(1), slots::kMainView, 2, stone(5)), 5u);
         EXPECT_FALSE(f.hub->take_inventory_dirty(player(1)));
         EXPECT_EQ(f.carried.slot(player(1), slots::kMainView, 2), (Stack{.material = 3, .units = 4}));
       }},
      {"loose stone is never taken from a cut or a detailed stack",
       [](Fixture& f) {
         f.put(0, stairs(24));
         f.put(1, Stack{.material = kStone, .units = 9, .detail = "worn"});
         f.put(2, stone(5));
         EXPECT_EQ(f.carried.take(player(1), slots::kMainView, std::nullopt, stone(1), 100), 5u);
         EXPECT_EQ(f.carried.take(player(1), slots::kMainView, 0, stone(1), 100), 0u);
         EXPECT_EQ(f.carried.slot(player(1), slots::kMainView, 0), stairs(24));
         EXPECT_EQ(f.carried.slot(player(1), slots::kMainView, 1)->units, 9u);
         EXPECT_EQ(f.carried.take(player(3), slots::kMainView, std::nullopt, stone(1), 100), 0u);
       }},
      {"slots past the end and empty hands answer nothing",
       [](Fixture& f) {
         f.put(0, stone(3));
         EXPECT_EQ(f.carried.slot(player(1), slots::kMainView, 28), std::nullopt);
         EXPECT_EQ(f.carried.slot(player(1), "mod:none", 0), std::nullopt);
         f.hub->select_slot(player(1), 4);
         EXPECT_EQ(f.carried.held(player(1)), std::nullopt);
         f.hub->select_slot(player(1), 0);
         EXPECT_EQ(f.carried.held(player(1)), stone(3));
         f.hub->select_slot(player(1), 4000);
         EXPECT_EQ(f.carried.held(player(1)), std::nullopt);
         EXPECT_EQ(f.carried.held(player(3)), std::nullopt);
       }},
      {"10 stairs in three slots are one entry",
       [](Fixture& f) {
         f.put(0, stairs(12 * 3));
         f.put(5, stairs(12 * 3));
         f.put(9, stairs(12 * 4));
         EXPECT_EQ(f.carried.contents(player(1), slots::kMainView), (std::vector<Stack>{stairs(120)}));
         EXPECT_TRUE(f.carried.contents(player(1), "mod:none").empty());
         EXPECT_TRUE(f.carried.contents(player(3), slots::kMainView).empty());
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    c.run(f);
  }
}

TEST(Carried, AGiveWithoutASlotNeverGrowsAViewPast256Slots) {
  Fixture f;
  EXPECT_EQ(f.carried.give(player(1), "mod:bag", std::nullopt, stone(UINT32_MAX)), UINT32_MAX - 256u * 2430u);
  EXPECT_EQ(f.hub->slots_of(player(1))->find("mod:bag")->slots.size(), 256u);

  // A container the player has open takes slots the same way, and keeps them when it closes.
  Fixture g;
  g.hub->ensure_inventory(player(1));
  containers::Shared boxes(g.hub, nullptr);
  ASSERT_TRUE(boxes.ensure("chest", 2));
  ASSERT_TRUE(boxes.open("chest", player(1)));
  EXPECT_EQ(g.carried.give(player(1), "chest", std::nullopt, stone(3 * 2430)), 0u);
  ASSERT_TRUE(boxes.close("chest", player(1)));
  EXPECT_EQ(boxes.slots("chest")->size(), 3u);
}

TEST(Carried, AFixedMainKeepsItsSize) {
  Fixture f(2);
  EXPECT_EQ(f.carried.give(player(1), slots::kMainView, std::nullopt, stone(5000)), 5000u - 2u * 2430u);
  EXPECT_EQ(f.hub->slots_of(player(1))->find(slots::kMainView)->slots.size(), 2u);
}

}  // namespace
}  // namespace ostrel_server::handle
