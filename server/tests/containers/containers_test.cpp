#include "containers/containers.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "base/log.hpp"
#include "hub/hub.hpp"
#include "support/hub_fixture.hpp"
#include "support/temp_dir.hpp"
#include "support/test_world.hpp"
#include "world/world.hpp"

namespace ostrel_server::containers {
namespace {

using ostrel_core::inventory::slots::Slots;
using test::player;
using transport::endpoint::kSpawn;

constexpr ostrel_core::material::MaterialId kStone = 2;

Stack stone(std::uint32_t units) { return Stack{.material = kStone, .units = units}; }

// A hub with players 1 and 2 present, a container handle whose reload answers `stored`, and the
// log lines of the test.
struct Fixture {
  std::shared_ptr<transport::endpoint::Shared> hub = test::make_hub();
  std::optional<View> stored;
  int reloads = 0;
  Shared shared{hub, [this](std::string_view) {
                  ++reloads;
                  return stored;
                }};
  test::LogLines log;

  Fixture() {
    ostrel_core::log::Options plain;
    plain.colour = false;
    ostrel_core::log::install(plain);
    for (std::uint8_t p : {1, 2}) {
      hub->add_player(player(p), kSpawn);
      hub->ensure_inventory(player(p));
    }
  }
  Pending pending() { return (*shared.state().lock())->take_pending(); }
  // The player's views, by name.
  std::vector<std::string> view_names(std::uint8_t p) {
    auto s = hub->slots_of(player(p));
    std::vector<std::string> out;
    for (const auto& v : s->views()) out.push_back(v.first);
    return out;
  }
  std::uint64_t units_in(std::string_view name) {
    auto s = shared.slots(name);
    std::uint64_t n = 0;
    for (const auto& slot : s.value_or(std::vector<std::optional<Stack>>{})) n += slot ? slot->units : 0;
    return n;
  }
};

TEST(Containers, EdgeCases) {
  struct Case {
    const char* name;
    std::function<void(Fixture&)> run;
  };
  const Case cases[] = {
      {"ensure twice keeps the first count",
       [](Fixture& f) {
         EXPECT_TRUE(f.shared.ensure("c", 3));
         EXPECT_FALSE(f.shared.ensure("c", 9));
         EXPECT_EQ(f.shared.slots("c")->size(), 3u);
       }},
      {"slot counts are brought into 1..256",
       [](Fixture& f) {
         EXPECT_TRUE(f.shared.ensure("none", 0));
         EXPECT_TRUE(f.shared.ensure("huge", std::size_t{1} << 40));
         EXPECT_EQ(f.shared.slots("none")->size(), 1u);
         EXPECT_EQ(f.shared.slots("huge")->size(), 256u);
       }},
      {"a second opener is refused; the holder may open again",
       [](Fixture& f) {
         f.shared.ensure("c", 2);
         EXPECT_TRUE(f.shared.open("c", player(1)));
         EXPECT_FALSE(f.shared.open("c", player(2)));
         EXPECT_TRUE(f.shared.open("c", player(1)));
         EXPECT_EQ(f.shared.holder("c"), player(1));
         EXPECT_FALSE(f.shared.open("missing", player(1)));
         EXPECT_FALSE(f.shared.open("c", player(9)));  // no slots in the hub
       }},
      {"close hands back what the holder left",
       [](Fixture& f) {
         f.shared.ensure("c", 2);
         ASSERT_TRUE(f.shared.open("c", player(1)));
         EXPECT_EQ(f.view_names(1).back(), "c");
         EXPECT_EQ(f.hub->give(player(1), "c", 1, stone(7)), 0u);
         EXPECT_FALSE(f.shared.close("c", player(2)));
         EXPECT_TRUE(f.shared.close("c", player(1)));
         EXPECT_EQ(f.view_names(1), (std::vector<std::string>{"player:main"}));
         EXPECT_EQ(f.shared.holder("c"), std::nullopt);
         auto slots = *f.shared.slots("c");
         EXPECT_EQ(slots[1], stone(7));
         EXPECT_EQ(f.pending().dirty, (std::vector<std::string>{"c"}));
       }},
      {"a held container removes nothing; an unheld one answers its stacks in slot order",
       [](Fixture& f) {
         f.shared.ensure("c", 3);
         f.shared.give("c", 2, stone(5));
         f.shared.give("c", 0, Stack{.material = 3, .units = 4});
         f.pending();
         ASSERT_TRUE(f.shared.open("c", player(1)));
         EXPECT_TRUE(f.shared.remove("c").empty());
         EXPECT_EQ(f.shared.names(""), (std::vector<std::string>{"c"}));
         ASSERT_TRUE(f.shared.close("c", player(1)));
         EXPECT_EQ(f.shared.remove("c"), (std::vector<Stack>{Stack{.material = 3, .units = 4}, stone(5)}));
         EXPECT_TRUE(f.shared.names("").empty());
         auto p = f.pending();
         EXPECT_TRUE(p.dirty.empty());
         EXPECT_EQ(p.deleted, (std::vector<std::string>{"c"}));
       }},
      {"ensure right after remove is pending dirty only",
       [](Fixture& f) {
         f.shared.ensure("c", 1);
         f.pending();
         f.shared.remove("c");
         EXPECT_TRUE(f.shared.ensure("c", 1));
         auto p = f.pending();
         EXPECT_EQ(p.dirty, (std::vector<std::string>{"c"}));
         EXPECT_TRUE(p.deleted.empty());
       }},
      {"40 loose stone into 2,420 takes 10",
       [](Fixture& f) {
         f.shared.ensure("c", 1);
         EXPECT_EQ(f.shared.give("c", std::nullopt, stone(2420)), 2420u);
         EXPECT_EQ(f.shared.give("c", std::nullopt, stone(40)), 10u);
         EXPECT_EQ(f.units_in("c"), 2430u);
       }},
      {"only a change marks a container to be written",
       [](Fixture& f) {
         f.shared.ensure("c", 1);
         f.shared.give("c", std::nullopt, stone(2430));
         f.pending();
         EXPECT_EQ(f.units_in("c"), 2430u);
         EXPECT_EQ(f.shared.give("c", std::nullopt, stone(1)), 0u);  // full
         EXPECT_EQ(f.shared.take("c", std::nullopt, Stack{.material = 3, .units = 1}, 5), 0u);
         EXPECT_EQ(f.shared.take("c", 4, stone(1), 5), 0u);
         EXPECT_TRUE(f.pending().dirty.empty());
         EXPECT_EQ(f.shared.take("c", 0, stone(1), 5), 5u);
         EXPECT_EQ(f.pending().dirty, (std::vector<std::string>{"c"}));
         EXPECT_EQ(f.shared.give("c", std::nullopt, stone(1)), 1u);
         EXPECT_EQ(f.pending().dirty, (std::vector<std::string>{"c"}));
       }},
      {"gives and takes that reach nothing",
       [](Fixture& f) {
         EXPECT_EQ(f.shared.give("missing", std::nullopt, stone(5)), 0u);
         EXPECT_EQ(f.shared.take("missing", std::nullopt, stone(1), 5), 0u);
         f.shared.ensure("c", 2);
         EXPECT_EQ(f.shared.give("c", 2, stone(5)), 0u);  // slot past the end
         EXPECT_EQ(f.shared.give("c", 1, stone(UINT32_MAX)), 2430u);
         EXPECT_EQ(f.shared.take("c", 7, stone(1), 5), 0u);
         EXPECT_EQ(f.shared.take("c", std::nullopt, stone(1), UINT32_MAX), 2430u);
         EXPECT_EQ(f.units_in("c"), 0u);
       }},
      {"names by byte prefix, in byte order",
       [](Fixture& f) {
         for (const char* n : {"b", "a:2", "ab", "a:1", "A", "a"}) f.shared.ensure(n, 1);
         EXPECT_EQ(f.shared.names("a:"), (std::vector<std::string>{"a:1", "a:2"}));
         EXPECT_EQ(f.shared.names("a"), (std::vector<std::string>{"a", "a:1", "a:2", "ab"}));
         EXPECT_EQ(f.shared.names(""), (std::vector<std::string>{"A", "a", "a:1", "a:2", "ab", "b"}));
       }},
      {"slots of an open container is the holder's view",
       [](Fixture& f) {
         f.shared.ensure("c", 2);
         f.shared.give("c", 0, stone(30));
         ASSERT_TRUE(f.shared.open("c", player(1)));
         // The holder picks the stack up and drops it in slot 1.
         ASSERT_TRUE(f.hub->click_slot(player(1), "c", 0, 0, std::nullopt));
         ASSERT_TRUE(f.hub->click_slot(player(1), "c", 1, 0, std::nullopt));
         EXPECT_EQ(*f.shared.slots("c"), (std::vector<std::optional<Stack>>{std::nullopt, stone(30)}));
         // Gives and takes reach the lent view and mark the holder's inventory changed.
         f.hub->take_inventory_dirty(player(1));
         EXPECT_EQ(f.shared.give("c", std::nullopt, stone(3)), 3u);
         EXPECT_TRUE(f.hub->take_inventory_dirty(player(1)));
         EXPECT_EQ(f.shared.take("c", 1, stone(1), 13), 13u);
         EXPECT_TRUE(f.hub->take_inventory_dirty(player(1)));
         EXPECT_EQ(f.units_in("c"), 20u);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    c.run(f);
  }
}

TEST(Containers, ReleasedWhenTheLentViewIsGone) {
  struct Case {
    const char* name;
    bool view_lost;  // else the holder's whole inventory is gone (a player who left)
    bool row_reads;
  };
  const Case cases[] = {
      {"view missing, row reads", true, true},
      {"view missing, row unreadable", true, false},
      {"holder left without slots, row reads", false, true},
      {"holder left without slots, row unreadable", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    f.shared.ensure("c", 2);
    f.shared.give("c", 0, stone(9));
    if (c.row_reads) f.stored = View{{stone(9), std::nullopt}};
    f.pending();
    ASSERT_TRUE(f.shared.open("c", player(1)));
    if (c.view_lost) {
      ASSERT_TRUE(f.hub->with_slots(player(1), [](Slots& s) { return s.close_view("c").has_value(); }));
    } else {
      f.hub->forget_inventory(player(1));
    }
    EXPECT_FALSE(f.shared.close("c", player(1)));
    EXPECT_EQ(f.reloads, 1);
    EXPECT_EQ(f.shared.holder("c"), std::nullopt);
    EXPECT_EQ(f.log.count("ERROR"), 1);
    EXPECT_EQ(f.log.count("container=\"c\""), 1) << f.log.lines().at(0);
    if (c.row_reads) {
      EXPECT_EQ(f.units_in("c"), 9u);
      EXPECT_TRUE(f.shared.open("c", player(2)));
    } else {
      // Kept out of every change and save: nothing can be written over its stored row.
      EXPECT_EQ(f.shared.slots("c"), std::nullopt);
      EXPECT_EQ(f.shared.give("c", std::nullopt, stone(1)), 0u);
      EXPECT_TRUE(f.shared.remove("c").empty());
      EXPECT_FALSE(f.shared.open("c", player(2)));
      (*f.shared.state().lock())->mark_all();
      EXPECT_TRUE(f.pending().dirty.empty());
      EXPECT_EQ(f.shared.names(""), (std::vector<std::string>{"c"}));
    }
  }
}

TEST(Containers, CloseAllHeldByAPlayer) {
  Fixture f;
  for (const char* n : {"a", "b", "c"}) f.shared.ensure(n, 1);
  ASSERT_TRUE(f.shared.open("a", player(1)));
  ASSERT_TRUE(f.shared.open("c", player(1)));
  ASSERT_TRUE(f.shared.open("b", player(2)));
  f.shared.close_all_held_by(player(1));
  EXPECT_EQ(f.shared.holder("a"), std::nullopt);
  EXPECT_EQ(f.shared.holder("c"), std::nullopt);
  EXPECT_EQ(f.shared.holder("b"), player(2));
  EXPECT_EQ(f.view_names(1), (std::vector<std::string>{"player:main"}));
}

TEST(Containers, RoundTripThroughTheWorldFileAcrossAReopen) {
  ostrel_core::test::TempDir dir;
  {
    auto w = test::open_test_world(dir.path(), {"test:stone"});
    Fixture f;
    f.shared.ensure("chest:1", 9);
    f.shared.ensure("chest:2", 2);
    f.shared.ensure("gone", 1);
    f.shared.give("chest:1", 4, stone(100));
    f.shared.give("chest:2", std::nullopt, stone(5));
    ASSERT_TRUE(flush(f.shared, w));
    f.shared.remove("gone");
    ASSERT_TRUE(f.shared.open("chest:2", player(1)));
    ASSERT_TRUE(f.hub->give(player(1), "chest:2", 1, stone(6)) == 0);
    (*f.shared.state().lock())->mark_all();  // chest:2 is open: written once it closes
    ASSERT_TRUE(flush(f.shared, w));
    ASSERT_TRUE(world::World::close(std::move(w)));
  }
  auto w = test::open_test_world(dir.path(), {"test:stone"});
  Fixture f;
  ASSERT_TRUE(restore_all(f.shared, w));
  EXPECT_EQ(f.shared.names(""), (std::vector<std::string>{"chest:1", "chest:2"}));
  auto one = *f.shared.slots("chest:1");
  ASSERT_EQ(one.size(), 9u);
  EXPECT_EQ(one[4], stone(100));
  // chest:2 was written before it was opened; its later change was never closed into it.
  EXPECT_EQ(*f.shared.slots("chest:2"), (std::vector<std::optional<Stack>>{stone(5), std::nullopt}));
  EXPECT_EQ(stored_view(w, "chest:1")->slots, one);
  EXPECT_EQ(stored_view(w, "gone"), std::nullopt);
  EXPECT_TRUE(f.pending().dirty.empty());  // reads wrote nothing back
}

TEST(Containers, DamagedRowsAreSkippedAtRestoreAndTheRestComesBack) {
  ostrel_core::test::TempDir dir;
  auto w = test::open_test_world(dir.path(), {"test:stone"});
  {
    Fixture f;
    f.shared.ensure("good", 2);
    f.shared.give("good", 1, stone(UINT32_MAX));
    ASSERT_TRUE(flush(f.shared, w));
  }
  const std::pair<const char*, std::vector<std::uint8_t>> rows[] = {
      {"future", {9, 1, 0}},
      {"truncated", {2, 5, 1}},
  };
  for (const auto& [name, data] : rows) {
    auto stmt =
        w.db().connection().prepare("INSERT INTO containers (name, version, data) VALUES (?1, 2, ?2)");
    ASSERT_TRUE(stmt->bind_text(1, name) && stmt->bind_blob(2, data) && stmt->run());
  }
  Fixture f;
  ASSERT_TRUE(restore_all(f.shared, w));
  EXPECT_EQ(f.shared.names(""), (std::vector<std::string>{"good"}));
  EXPECT_EQ(f.units_in("good"), 2430u);
  EXPECT_EQ(f.log.count("could not read a container"), 2);
  EXPECT_EQ(stored_view(w, "truncated"), std::nullopt);
}

}  // namespace
}  // namespace ostrel_server::containers
