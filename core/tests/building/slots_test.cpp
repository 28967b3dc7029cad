#include "building/inventory/slots.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>

namespace ostrel_core::inventory::slots {
namespace {

constexpr MaterialId kStone = 2;  // loose material
constexpr MaterialId kGem = 5;    // registered as an item
constexpr std::string_view kMain = kMainView;

Stack stack(MaterialId m, std::uint32_t units) { return Stack{m, units, {}, {}, {}}; }

Stack several(std::uint32_t units) {
  Cells cells{};
  for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = i % 2 ? 3 : 4;
  return *Stack::of_cells(cells, units);
}

Slots player(std::optional<std::size_t> main = std::nullopt) {
  const ViewDef defs[] = {{"mod:bag", 4}, {"player:main", 99}};
  Slots s = Slots::for_player_sized(main, defs);
  s.set_items({kGem});
  return s;
}

std::string show(const std::optional<Stack>& s) {
  if (!s) return "-";
  return fmt::format("{}{}x{}", s->cells ? "cut" : "", s->material, s->units);
}

// "0:2x4860 3:5x27 | held -": the occupied slots of a view and the hand.
std::string render(const Slots& s, std::string_view view = kMain) {
  std::string out;
  const View* v = s.find(view);
  for (std::size_t i = 0; v && i < v->slots.size(); ++i) {
    if (v->slots[i]) out += fmt::format("{}:{} ", i, show(v->slots[i]));
  }
  return out + "| held " + show(s.held());
}

struct Edge {
  const char* name;
  std::function<Slots()> setup;
  std::function<std::string(Slots&)> act;  // the answers, then render()
  const char* want;
};

Slots with(std::optional<std::size_t> main, std::initializer_list<std::pair<std::size_t, Stack>> slots,
           std::optional<Stack> held = std::nullopt) {
  Slots s = player(main);
  for (const auto& [i, st] : slots) s.find(kMain)->slots[i] = st;
  s.held() = held;
  return s;
}

std::string b(bool v) { return v ? "true" : "false"; }

// Builds a text left to right: each operand is evaluated after the ones before it, so an
// answer can be followed by the state it left.
struct Say {
  std::string text;
  Say& operator<<(const std::string& v) {
    text += v;
    return *this;
  }
  operator std::string() const { return text; }
};

const Edge kEdges[] = {
    {"left click merges past the capacity",
     [] {
       return with({}, {{0, stack(kStone, 2430)}}, stack(kStone, 2430));
     },
     [](Slots& s) { return Say{} << b(s.left_click(kMain, 0)) << " " << render(s); },
     "true 0:2x4860 | held -"},
    {"insert_within spills at the capacity instead",
     [] {
       return with({}, {{0, stack(kStone, 2430)}});
     },
     [](Slots& s) { return Say{} << show(s.insert_within(kMain, stack(kStone, 2430))) << " " << render(s); },
     "- 0:2x2430 1:2x2430 | held -"},
    {"left click swaps unlike stacks",
     [] {
       return with({}, {{0, stack(kStone, 7)}}, stack(kGem, 27));
     },
     [](Slots& s) { return Say{} << b(s.left_click(kMain, 0)) << " " << render(s); },
     "true 0:5x27 | held 2x7"},
    {"left click on nothing", [] { return with({}, {}); },
     [](Slots& s) { return Say{} << b(s.left_click(kMain, 0)) << " " << render(s); }, "false | held -"},
    {"right click takes the larger half, then puts one unit back",
     [] {
       return with({}, {{0, stack(kStone, 5)}});
     },
     [](Slots& s) {
       const bool a = s.split_or_place(kMain, 0, false);
       const std::string mid = render(s);
       return Say{} << b(a) << " " << mid << " / " << b(s.split_or_place(kMain, 1, false)) << " "
                    << render(s);
     },
     "true 0:2x2 | held 2x3 / true 0:2x2 1:2x1 | held 2x2"},
    {"right click on three items",
     [] {
       return with({}, {{0, stack(kGem, 81)}});
     },
     [](Slots& s) { return Say{} << b(s.split_or_place(kMain, 0, false)) << " " << render(s); },
     "true 0:5x27 | held 5x54"},
    {"right click with slot grain 27",
     [] {
       Slots s = with({}, {{0, stack(kStone, 100)}});
       s.set_grain(27);
       return s;
     },
     [](Slots& s) { return Say{} << b(s.split_or_place(kMain, 0, false)) << " " << render(s); },
     "true 0:2x46 | held 2x54"},
    {"unit gesture moves one unit despite the grain",
     [] {
       Slots s = with({}, {}, stack(kStone, 100));
       s.set_grain(27);
       return s;
     },
     [](Slots& s) { return Say{} << b(s.split_or_place(kMain, 4, true)) << " " << render(s); },
     "true 4:2x1 | held 2x99"},
    {"right click holding a stack onto an unlike one",
     [] {
       return with({}, {{0, stack(kStone, 10)}}, stack(kGem, 27));
     },
     [](Slots& s) { return Say{} << b(s.split_or_place(kMain, 0, false)) << " " << render(s); },
     "true 0:2x10 | held 5x27"},
    {"stow from slot 12 looks only at the hotbar, past the capacity",
     [] {
       return with({}, {{12, stack(kStone, 10)}, {20, stack(kStone, 5)}, {3, stack(kStone, 2428)}});
     },
     [](Slots& s) { return Say{} << b(s.stow(kMain, 12, kHotbarBoundary)) << " " << render(s); },
     "true 3:2x2438 20:2x5 | held -"},
    {"stow from slot 3 looks only at slots 9 to 27",
     [] {
       return with({}, {{3, stack(kStone, 10)}, {0, stack(kStone, 5)}});
     },
     [](Slots& s) { return Say{} << b(s.stow(kMain, 3, kHotbarBoundary)) << " " << render(s); },
     "true 0:2x5 9:2x10 | held -"},
    {"stow merges whole items only, the rest stays",
     [] {
       return with({}, {{12, stack(kGem, 81)}, {0, stack(kGem, 4294967295u - 40)}, {1, stack(kStone, 1)}});
     },
     [](Slots& s) { return Say{} << b(s.stow(kMain, 12, kHotbarBoundary)) << " " << render(s); },
     "true 0:5x4294967282 1:2x1 2:5x54 | held -"},
    {"swap_offhand needs 28 slots and another slot",
     [] {
       return with(27, {{0, stack(kStone, 1)}});
     },
     [](Slots& s) {
       Slots full = with({}, {{0, stack(kStone, 1)}});
       return Say{} << b(s.swap_offhand(kMain, 0)) << " " << b(full.swap_offhand(kMain, 27))
                    << " " + b(full.swap_offhand(kMain, 0)) << " " << render(full);
     },
     "false false true 27:2x1 | held -"},
    {"insert_within into a fixed, full main places nothing",
     [] {
       return with(2, {{0, stack(kStone, 1)}, {1, stack(kStone, 1)}});
     },
     [](Slots& s) { return Say{} << show(s.insert_within(kMain, stack(kGem, 40))) << " " << render(s); },
     "5x40 0:2x1 1:2x1 | held -"},
    {"insert_within into an unfixed, full main grows it by whole items",
     [] {
       Slots s = player();
       for (auto& slot : s.find(kMain)->slots) slot = stack(kStone, 1);
       return s;
     },
     [](Slots& s) {
       const auto rest = s.insert_within(kMain, stack(kGem, 40));
       return Say{} << show(rest) << " " << std::to_string(s.find(kMain)->slots.size()) << " "
                    << show(s.find(kMain)->slots[28]);
     },
     "5x13 29 5x27"},
    {"insert_within grows a registered view too", [] { return with({}, {}); },
     [](Slots& s) {
       return Say{} << show(s.insert_within("mod:bag", stack(kStone, 5 * 2430 + 1))) << " "
                    << render(s, "mod:bag");
     },
     "- 0:2x2430 1:2x2430 2:2x2430 3:2x2430 4:2x2430 5:2x1 | held -"},
    {"insert_within of 3000 loose units", [] { return with({}, {}); },
     [](Slots& s) { return Say{} << show(s.insert_within(kMain, stack(kStone, 3000))) << " " << render(s); },
     "- 0:2x2430 1:2x570 | held -"},
    {"give_into refuses part of an item and more than a slot",
     [] {
       return with({}, {{1, stack(kStone, 2000)}});
     },
     [](Slots& s) {
       return Say{} << b(s.give_into(kMain, 0, stack(kGem, 13))) << " "
                    << b(s.give_into(kMain, 0, stack(kStone, 2431)))
                    << " " + b(s.give_into(kMain, 1, stack(kStone, 431))) << " "
                    << b(s.give_into(kMain, 1, stack(kStone, 430))) + " "
                    << b(s.give_into(kMain, 99, stack(kStone, 1))) << " " << render(s);
     },
     "false false false true false 1:2x2430 | held -"},
    {"take draws whole items per slot",
     [] {
       return with({}, {{0, stack(kGem, 27)}, {1, stack(kGem, 27)}});
     },
     [](Slots& s) { return Say{} << std::to_string(s.take(kMain, stack(kGem, 0), 30)) << " " << render(s); },
     "27 1:5x27 | held -"},
    {"take_from an unlike or empty slot takes nothing",
     [] {
       return with({}, {{0, stack(kGem, 27)}});
     },
     [](Slots& s) {
       return Say{} << std::to_string(s.take_from(kMain, 0, stack(kStone, 0), 5))
                    << " " + std::to_string(s.take_from(kMain, 1, stack(kGem, 0), 5))
                    << " " + std::to_string(s.take_from(kMain, 0, stack(kGem, 0), 60)) << " " << render(s);
     },
     "0 0 27 | held -"},
    {"take_held mode 2 takes one whole item of a cut, one unit of loose material",
     [] { return with({}, {}, several(54)); },
     [](Slots& s) {
       const std::string cut = Say{} << show(s.take_held(2)) << " " << render(s);
       s.held() = stack(kStone, 10);
       return Say{} << cut << " / " << show(s.take_held(2)) << " " << show(s.take_held(1)) << " "
                    << show(s.take_held(0)) << " " + render(s);
     },
     "cut3x27 | held cut3x27 / 2x1 2x1 2x8 | held -"},
    {"return_held puts back what fits and keeps the rest",
     [] {
       return with(1, {{0, stack(kStone, 2420)}}, stack(kStone, 50));
     },
     [](Slots& s) {
       const bool first = s.return_held(kMain);
       return Say{} << b(first) << " " << render(s) << " / " << b(s.return_held(kMain)) << " " << render(s);
     },
     "true 0:2x2430 | held 2x40 / false 0:2x2430 | held 2x40"},
    {"untake_held merges into a like hand, else inserts", [] { return with({}, {}, stack(kStone, 3)); },
     [](Slots& s) {
       return Say{} << show(s.untake_held(kMain, stack(kStone, 4))) << " "
                    << show(s.untake_held(kMain, stack(kGem, 27))) << " " + render(s);
     },
     "- - 0:5x27 | held 2x7"},
    {"transfer fills another view and keeps the rest",
     [] {
       Slots s = with({}, {{5, stack(kStone, 2430 * 5)}});
       s.find("mod:bag")->slots[0] = stack(kStone, 2000);
       return s;
     },
     [](Slots& s) {
       return Say{} << b(s.transfer(kMain, 5, "mod:bag")) << " " << render(s) << " / " << render(s, "mod:bag")
                    << " / " + b(s.transfer(kMain, 5, "mod:bag")) << " " << b(s.transfer(kMain, 5, kMain));
     },
     "true 5:2x4430 | held - / 0:2x2430 1:2x2430 2:2x2430 3:2x2430 | held - / false false"},
    {"missing views and slots are no-ops",
     [] {
       return with({}, {{0, stack(kStone, 5)}}, stack(kStone, 1));
     },
     [](Slots& s) {
       return Say{} << b(s.left_click("nope", 0)) << b(s.left_click(kMain, 28))
                    << b(s.split_or_place(kMain, 28, false)) + b(s.stow("nope", 0, 9))
                    << b(s.transfer(kMain, 0, "nope"))
                    << std::to_string(s.take("nope", stack(kStone, 0), 5)) +
                           show(s.insert_within("nope", stack(kStone, 9)))
                    << std::to_string(s.consolidated("nope").size()) +
                           b(s.fits("nope", std::vector<Stack>{stack(kStone, 1'000'000)}))
                    << " " << render(s);
     },
     "falsefalsefalsefalsefalse02x90true 0:2x5 | held 2x1"},
    {"a stored shape without cells still splits, by single units",
     [] {
       return with({}, {{0, Stack{kStone, 5, 1u << 27, {}, {}}}});
     },
     [](Slots& s) { return Say{} << b(s.split_or_place(kMain, 0, false)) << " " << render(s); },
     "true 0:2x2 | held 2x3"},
    {"fits a fixed main only when every stack goes in",
     [] {
       return with(2, {{0, stack(kStone, 2400)}});
     },
     [](Slots& s) {
       const std::vector<Stack> two{stack(kStone, 30), stack(kGem, 2430)};
       const std::vector<Stack> three{stack(kStone, 30), stack(kGem, 2430), stack(kStone, 1)};
       return Say{} << b(s.fits(kMain, two)) << " " << b(s.fits(kMain, three)) << " " << render(s);
     },
     "true false 0:2x2400 | held -"},
};

TEST(Slots, EdgeCases) {
  for (const Edge& e : kEdges) {
    SCOPED_TRACE(e.name);
    Slots s = e.setup();
    EXPECT_EQ(e.act(s), e.want);
    EXPECT_TRUE(s.check_invariants());
  }
}

TEST(Slots, InsertWithinGrowsAViewTo256SlotsAndHandsBackTheRest) {
  struct Case {
    const char* name;
    std::string_view view;
    std::size_t start;  // slots before the give
  };
  const Case cases[] = {
      {"registered view", "mod:bag", 4},
      {"unfixed main", kMain, kMainSlots},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Slots s = player();
    auto rest = s.insert_within(c.view, stack(kStone, 0xFFFF'FFFFu));
    const View* v = s.find(c.view);
    ASSERT_EQ(v->slots.size(), kMaxGrownSlots);
    ASSERT_TRUE(rest.has_value());
    EXPECT_EQ(rest->units, 0xFFFF'FFFFu - 2430u * kMaxGrownSlots);
    EXPECT_TRUE(std::all_of(v->slots.begin(), v->slots.end(),
                            [](const auto& slot) { return slot && slot->units == 2430; }));
    // Full at the cap: nothing more goes in, and fits says so.
    EXPECT_EQ(s.insert_within(c.view, stack(kStone, 7))->units, 7u);
    EXPECT_FALSE(s.fits(c.view, std::vector<Stack>{stack(kStone, 1)}));
    EXPECT_TRUE(s.check_invariants());
  }
  // A view already past the cap (stored before the cap existed) keeps its slots and grows no more.
  Slots big = player();
  big.find("mod:bag")->slots.resize(300);
  EXPECT_EQ(big.insert_within("mod:bag", stack(kStone, 2430 * 301))->units, 2430u);
  EXPECT_EQ(big.find("mod:bag")->slots.size(), 300u);
}

TEST(Slots, ForPlayerSizedBuildsTheDefaultViews) {
  const ViewDef defs[] = {{"a:bag", 3}, {"player:main", 5}, {"b:belt", 1}};
  const Slots free = Slots::for_player_sized(std::nullopt, defs);
  ASSERT_EQ(free.views().size(), 3u);
  EXPECT_EQ(free.views()[0].first, "player:main");
  EXPECT_EQ(free.views()[0].second.slots.size(), 28u);
  EXPECT_EQ(free.views()[1].first, "a:bag");
  EXPECT_EQ(free.views()[2].second.slots.size(), 1u);
  EXPECT_FALSE(free.main_fixed());
  EXPECT_EQ(free.grain(), 1u);
  const Slots fixed = Slots::for_player_sized(40, {});
  EXPECT_EQ(fixed.find(kMain)->slots.size(), 40u);
  EXPECT_TRUE(fixed.main_fixed());
}

TEST(View, FillAndDrawWorkWithoutItems) {
  View v{std::vector<std::optional<Stack>>(3)};
  v.slots[1] = stack(kGem, 20);
  // Without an item set a gem is loose material: it merges unit by unit.
  EXPECT_EQ(v.fill(std::nullopt, stack(kGem, 8000)), stack(kGem, 730));  // 8000 - 2410 - 2 x 2430
  EXPECT_EQ(v.slots[1]->units, 2430u);
  EXPECT_EQ(v.fill(7, stack(kGem, 3)), stack(kGem, 3));
  EXPECT_EQ(v.fill(std::nullopt, stack(kGem, 0)), std::nullopt);
  EXPECT_EQ(v.draw(1, stack(kGem, 0), 100), 100u);
  EXPECT_EQ(v.draw(std::nullopt, stack(kStone, 0), 100), 0u);

  // A cut of several materials moves in whole items even so.
  View w{std::vector<std::optional<Stack>>(1)};
  w.slots[0] = several(54);
  EXPECT_EQ(w.draw(std::nullopt, several(1), 40), 27u);
  EXPECT_EQ(w.fill(0, several(40)), several(13));
  EXPECT_EQ(w.slots[0]->units, 27u + 27u);
}

// Random clicks over three views and the hand never create or lose a unit, and items only
// ever move whole.
TEST(Slots, RandomClicksConserveUnits) {
  Slots s = player();
  s.set_grain(9);
  s.open_view("chest", View{std::vector<std::optional<Stack>>(9)});
  Stack partial = stack(7, 90);
  partial.shape = 0x1FF;  // 9 cells an item
  const Stack seeds[] = {stack(kStone, 3000), stack(kStone, 77), stack(kGem, 27 * 40), partial,
                         several(27 * 5)};
  for (const Stack& seed : seeds) ASSERT_FALSE(s.insert_within(kMain, seed));
  ASSERT_FALSE(s.insert_within("chest", stack(kStone, 500)));
  const std::uint64_t total = s.total_units();
  const std::string_view names[] = {kMain, "mod:bag", "chest"};

  std::mt19937 rng(20261210);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  for (int click = 0; click < 10'000; ++click) {
    const std::string_view view = names[pick(3)];
    const std::size_t slot = pick(s.find(view)->slots.size() + 1);  // sometimes one past the end
    switch (pick(7)) {
      case 0:
        s.left_click(view, slot);
        break;
      case 1:
        s.split_or_place(view, slot, pick(2) == 0);
        break;
      case 2:
        s.stow(view, slot, kHotbarBoundary);
        break;
      case 3:
        s.transfer(view, slot, names[pick(3)]);
        break;
      case 4:
        s.swap_offhand(view, slot);
        break;
      case 5:
        if (auto taken = s.take_held(static_cast<std::uint32_t>(pick(3)))) {
          // What the view does not take goes back to the hand, which it came from.
          if (auto rest = s.insert_within(view, *taken)) {
            ASSERT_FALSE(s.untake_held(view, *rest));
          }
        }
        break;
      case 6:
        s.return_held(view);
        break;
    }
    ASSERT_EQ(s.total_units(), total) << "click " << click;
    ASSERT_TRUE(s.check_invariants()) << "click " << click;
  }
  for (const auto& [name, v] : s.views()) {
    for (const auto& st : v.slots) {
      if (st && (st->cells || st->material == kGem)) {
        EXPECT_EQ(st->units % st->item_size(), 0u) << name;
      }
    }
  }
}

}  // namespace
}  // namespace ostrel_core::inventory::slots
