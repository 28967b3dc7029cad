#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "hub/hub.hpp"
#include "support/hub_fixture.hpp"
#include "support/hub_probe.hpp"
#include "support/log_capture.hpp"

namespace ostrel_server::transport::endpoint {
namespace {

using test::make_hub;
using test::player;
namespace proto = ostrel_core::proto;
namespace slots = ostrel_core::inventory::slots;

constexpr MaterialId kStone = 2;
constexpr MaterialId kGem = 5;  // an item

Stack stone(std::uint32_t units) { return Stack{.material = kStone, .units = units}; }

HubInit inventory_init(std::optional<std::size_t> main = std::nullopt) {
  HubInit init;
  init.views = {{"mod:bag", 4}};
  init.main_slots = main;
  init.slot_grain = 3;
  init.item_materials = {kGem};
  return init;
}

// A hub with player 1 present and holding `in_main` (slot, stack) in "player:main".
std::shared_ptr<Shared> hub_holding(std::initializer_list<std::pair<std::size_t, Stack>> in_main,
                                    std::optional<std::size_t> main = std::nullopt) {
  auto hub = make_hub(inventory_init(main));
  hub->add_player(player(1), kSpawn);
  Slots s = hub->fresh_slots();
  for (const auto& [i, st] : in_main) s.find(slots::kMainView)->slots.at(i) = st;
  hub->restore_inventory(player(1), std::move(s));
  hub->take_inventory_dirty(player(1));
  return hub;
}

TEST(HubInventory, FreshSlotsCarryTheHubsViewsItemsAndGrain) {
  auto hub = make_hub(inventory_init());
  Slots s = hub->fresh_slots();
  ASSERT_NE(s.find("player:main"), nullptr);
  EXPECT_EQ(s.find("player:main")->slots.size(), 28u);
  ASSERT_NE(s.find("mod:bag"), nullptr);
  EXPECT_EQ(s.items(), (std::set<MaterialId>{kGem}));
  EXPECT_EQ(s.grain(), 3u);
  EXPECT_FALSE(s.main_fixed());
  EXPECT_TRUE(make_hub(inventory_init(10))->fresh_slots().main_fixed());
}

TEST(HubInventory, RestoreSetsItemsAndGrainAndMarksDirty) {
  auto hub = make_hub(inventory_init());
  hub->restore_inventory(player(1), Slots::for_player_sized(std::nullopt, {}));
  auto s = hub->slots_of(player(1));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->grain(), 3u);
  EXPECT_EQ(s->items(), (std::set<MaterialId>{kGem}));
  EXPECT_TRUE(hub->take_inventory_dirty(player(1)));
  EXPECT_FALSE(hub->take_inventory_dirty(player(1)));
  hub->ensure_inventory(player(1));  // an existing inventory stays
  EXPECT_EQ(hub->all_inventories().size(), 1u);
  hub->forget_inventory(player(1));
  EXPECT_FALSE(hub->slots_of(player(1)));
  hub->ensure_inventory(player(1));
  EXPECT_EQ(*hub->slots_of(player(1)), hub->fresh_slots());
}

TEST(HubInventory, ClicksDispatchToTheirSlotOperations) {
  struct Case {
    const char* name;
    std::string view;
    std::size_t slot;
    std::uint8_t click;
    std::optional<std::string> other;
    std::function<bool(Slots&)> direct;  // the same click done on the slots themselves
  };
  const Case cases[] = {
      {"0 left", "player:main", 0, 0, std::nullopt, [](Slots& s) { return s.left_click("player:main", 0); }},
      {"1 right", "player:main", 0, 1, std::nullopt,
       [](Slots& s) { return s.split_or_place("player:main", 0, false); }},
      {"2 with another view", "player:main", 0, 2, "mod:bag",
       [](Slots& s) { return s.transfer("player:main", 0, "mod:bag"); }},
      {"2 with the clicked view", "mod:bag", 1, 2, "mod:bag",
       [](Slots& s) { return s.transfer("mod:bag", 1, "player:main"); }},
      {"2 alone stows by 9", "player:main", 0, 2, std::nullopt,
       [](Slots& s) { return s.stow("player:main", 0, 9); }},
      {"3 shift-right", "player:main", 0, 3, std::nullopt,
       [](Slots& s) { return s.split_or_place("player:main", 0, true); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto hub = hub_holding({{0, stone(100)}});
    {
      Slots bag = *hub->slots_of(player(1));
      bag.find("mod:bag")->slots[1] = stone(40);
      hub->restore_inventory(player(1), bag);
      hub->take_inventory_dirty(player(1));
    }
    Slots want = *hub->slots_of(player(1));
    bool want_changed = c.direct(want);
    ASSERT_TRUE(want_changed);
    std::optional<std::string_view> other;
    if (c.other) other = *c.other;
    EXPECT_TRUE(hub->click_slot(player(1), c.view, c.slot, c.click, other));
    EXPECT_EQ(*hub->slots_of(player(1)), want);
    EXPECT_TRUE(hub->take_inventory_dirty(player(1)));
  }
}

TEST(HubInventory, ClicksThatNameNothingMoveNothing) {
  auto hub = hub_holding({{0, stone(100)}});
  const Slots before = *hub->slots_of(player(1));
  EXPECT_FALSE(hub->click_slot(player(1), "player:main", 0, 4, std::nullopt));    // no such click
  EXPECT_FALSE(hub->click_slot(player(1), "player:main", 999, 0, std::nullopt));  // no such slot
  EXPECT_FALSE(hub->click_slot(player(1), "nowhere", 0, 0, std::nullopt));        // no such view
  EXPECT_FALSE(hub->click_slot(player(1), "player:main", 5, 0, std::nullopt));    // empty slot, empty hand
  EXPECT_FALSE(hub->click_slot(player(2), "player:main", 0, 0, std::nullopt));    // no inventory
  EXPECT_EQ(*hub->slots_of(player(1)), before);
  EXPECT_FALSE(hub->take_inventory_dirty(player(1)));
}

TEST(HubInventory, GiveAnswersWhatDidNotGoIn) {
  auto hub = hub_holding({{0, stone(2430)}, {1, stone(2400)}}, 2);
  EXPECT_EQ(hub->give(player(9), "player:main", std::nullopt, stone(10)), 10u);  // not in the world
  EXPECT_EQ(hub->give(player(1), "player:main", 1, stone(60)), 60u);             // the slot cannot take all
  EXPECT_EQ(hub->slots_of(player(1))->find("player:main")->slots[1]->units, 2400u);
  EXPECT_FALSE(hub->take_inventory_dirty(player(1)));
  EXPECT_EQ(hub->give(player(1), "player:main", std::nullopt, stone(60)), 30u);  // the rest
  EXPECT_TRUE(hub->take_inventory_dirty(player(1)));
  EXPECT_EQ(hub->give(player(1), "player:main", 1, stone(1)), 1u);  // full slot
}

TEST(HubInventory, GiveToAPlayerWithoutAnInventoryMakesOne) {
  auto hub = make_hub(inventory_init());
  hub->add_player(player(1), kSpawn);
  EXPECT_EQ(hub->give(player(1), "mod:bag", 2, stone(9)), 0u);
  EXPECT_EQ(hub->contents_of(player(1), "mod:bag"), (std::vector<Stack>{stone(9)}));
}

TEST(HubInventory, DebitTakesWhatThereIsAndMarksOnlyAChange) {
  auto hub = hub_holding({{3, stone(3)}});
  EXPECT_EQ(hub->debit(player(1), stone(0), 5), 3u);
  EXPECT_TRUE(hub->take_inventory_dirty(player(1)));
  EXPECT_EQ(hub->debit(player(1), stone(0), 5), 0u);
  EXPECT_FALSE(hub->take_inventory_dirty(player(1)));
  EXPECT_EQ(hub->debit(player(7), stone(0), 5), 0u);
}

TEST(HubInventory, CreditHandsBackWhatDoesNotFit) {
  auto hub = hub_holding({{0, stone(2430)}}, 2);
  std::vector<Stack> lot{stone(2000), stone(1000)};
  EXPECT_FALSE(hub->can_carry(player(1), lot));
  auto rest = hub->credit(player(1), lot);
  EXPECT_EQ(rest, (std::vector<Stack>{stone(570)}));
  EXPECT_EQ(hub->inventory_of(player(1)), (std::vector<Stack>{stone(4860)}));
  EXPECT_TRUE(hub->take_inventory_dirty(player(1)));
  EXPECT_TRUE(hub->can_carry(player(1), {}));
  EXPECT_TRUE(hub->can_carry(player(8), {stone(1)}));  // a credit would make an inventory
  EXPECT_TRUE(hub->credit(player(8), {stone(5)}).empty());
  EXPECT_EQ(hub->inventory_of(player(8)), (std::vector<Stack>{stone(5)}));
}

TEST(HubInventory, TakeFromASlotOrAnywhere) {
  auto hub = hub_holding({{0, stone(10)}, {4, stone(10)}});
  EXPECT_EQ(hub->take(player(1), "player:main", 4, stone(0), 15), 10u);
  EXPECT_EQ(hub->take(player(1), "player:main", std::nullopt, stone(0), 15), 10u);
  EXPECT_EQ(hub->take(player(1), "player:main", std::nullopt, stone(0), 1), 0u);
  EXPECT_TRUE(hub->take_inventory_dirty(player(1)));
}

TEST(HubInventory, HandsAreTheSelectedSlotAndTheOffHand) {
  auto hub = hub_holding({{2, stone(7)}, {27, stone(8)}});
  EXPECT_EQ(hub->hands_of(player(1)),
            (std::pair<std::optional<Stack>, std::optional<Stack>>{std::nullopt, stone(8)}));
  hub->select_slot(player(1), 2);
  EXPECT_EQ(hub->hands_of(player(1)).first, stone(7));
  hub->select_slot(player(1), 40);  // past the end of "player:main"
  EXPECT_EQ(hub->hands_of(player(1)),
            (std::pair<std::optional<Stack>, std::optional<Stack>>{std::nullopt, stone(8)}));
  EXPECT_EQ(hub->hands_of(player(2)), (std::pair<std::optional<Stack>, std::optional<Stack>>{}));
}

TEST(HubInventory, CursorOperations) {
  auto hub = hub_holding({{0, stone(30)}});
  EXPECT_TRUE(hub->click_slot(player(1), "player:main", 0, 0, std::nullopt));  // all on the cursor
  auto part = hub->take_held(player(1), 1);
  ASSERT_TRUE(part);
  EXPECT_EQ(part->units, 3u);  // one move grain
  EXPECT_TRUE(hub->return_held(player(1)));
  EXPECT_EQ(hub->inventory_of(player(1)), (std::vector<Stack>{stone(27)}));
  EXPECT_FALSE(hub->untake_held(player(1), *part));  // back onto the empty cursor
  EXPECT_EQ(hub->slots_of(player(1))->held(), stone(3));
  EXPECT_TRUE(hub->return_held(player(1)));
  EXPECT_EQ(hub->inventory_of(player(1)), (std::vector<Stack>{stone(30)}));
  EXPECT_TRUE(hub->swap_offhand(player(1), 0));
  EXPECT_EQ(hub->slots_of(player(1))->find("player:main")->slots[27], stone(30));
}

TEST(HubInventory, AnUnclaimedDropThatFitsNowhereIsHandedBackAndLogged) {
  auto hub = hub_holding({{0, stone(2430)}, {1, stone(2430)}}, 2);
  Slots s = *hub->slots_of(player(1));
  s.held() = Stack{.material = kGem, .units = 27};  // the cursor holds something else
  hub->restore_inventory(player(1), s);
  ostrel_core::test::LogCapture log;
  auto lost = hub->untake_held(player(1), stone(50));
  EXPECT_EQ(lost, stone(50));
  auto lines = log.containing("an unclaimed drop fitted nowhere and is lost");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("units=50"), std::string::npos);
  EXPECT_NE(lines[0].find("player=" + player(1).to_hex()), std::string::npos);
}

TEST(HubInventory, WireStacksSpeakTheWorldsIds) {
  HubInit init;
  init.material_map.identity = false;
  init.material_map.forward = {0, 1, 40};  // runtime 2 is world 40; 3 and above unnamed
  auto hub = make_hub(std::move(init));
  ostrel_core::block::Cells cells{};
  cells[0] = 2;
  cells[1] = 3;
  Stack cut{.material = 2, .units = 4, .shape = 3, .detail = "carved", .cells = cells};
  auto def = hub->wire_stack(cut);
  EXPECT_EQ(def.material, 40);
  EXPECT_EQ(def.count, 4u);
  EXPECT_EQ(def.shape, 3u);
  EXPECT_EQ(def.detail, "carved");
  ASSERT_EQ(def.cells.size(), 27u);
  EXPECT_EQ(def.cells[0], 40);
  EXPECT_EQ(def.cells[1], 1);  // unmapped
  EXPECT_EQ(def.cells[2], 0);
  EXPECT_EQ(hub->wire_stack(Stack{.material = 9, .units = 1}).material, 1);

  auto same = make_hub();  // identity
  auto plain = same->wire_stack(Stack{.material = 900, .units = 2});
  EXPECT_EQ(plain, (proto::StackDef{.material = 900, .count = 2}));
}

TEST(HubInventory, ViewUpdatesOnePerViewWithTheCursor) {
  auto hub = hub_holding({{1, stone(4)}});
  hub->click_slot(player(1), "player:main", 1, 1, std::nullopt);  // half on the cursor
  auto updates = hub->view_updates(player(1));
  ASSERT_EQ(updates.size(), 2u);
  const auto& main = updates[0];
  const auto& bag = updates[1];
  EXPECT_EQ(main.view, "player:main");
  EXPECT_EQ(bag.view, "mod:bag");
  EXPECT_EQ(main.slots.size(), 28u);
  EXPECT_EQ(bag.slots.size(), 4u);
  ASSERT_TRUE(main.held);
  EXPECT_EQ(main.held, bag.held);
  EXPECT_EQ(main.slots[1]->count + main.held->count, 4u);
  EXPECT_TRUE(hub->view_updates(player(2)).empty());
}

TEST(HubInventory, APoisonedLockReadsAsNothing) {
  auto hub = hub_holding({{0, stone(10)}});
  HubProbe::poison(*hub, HubProbe::Lock::Inventories);
  EXPECT_FALSE(hub->can_carry(player(1), {stone(1)}));
  EXPECT_EQ(hub->give(player(1), "player:main", std::nullopt, stone(5)), 5u);
  EXPECT_EQ(hub->credit(player(1), {stone(5)}), (std::vector<Stack>{stone(5)}));
  EXPECT_TRUE(hub->take_inventory_dirty(player(1)));  // credit still marks
  EXPECT_EQ(hub->debit(player(1), stone(0), 5), 0u);
  EXPECT_FALSE(hub->slots_of(player(1)));
  EXPECT_TRUE(hub->inventory_of(player(1)).empty());
  EXPECT_FALSE(hub->click_slot(player(1), "player:main", 0, 0, std::nullopt));
  EXPECT_EQ(hub->untake_held(player(1), stone(3)), stone(3));
}

}  // namespace
}  // namespace ostrel_server::transport::endpoint
