#include "world/records.hpp"

#include <gtest/gtest.h>

#include "building/inventory/slots.hpp"
#include "persist/rows/container_rows.hpp"
#include "persist/rows/player_rows.hpp"
#include "support/temp_dir.hpp"
#include "support/test_world.hpp"
#include "world/world.hpp"

namespace ostrel_server::world {
namespace {

namespace slots = ostrel_core::inventory::slots;
using ostrel_core::identity::PlayerUuid;
using ostrel_core::inventory::Stack;
using ostrel_core::test::TempDir;

constexpr std::uint16_t kStone = 2;

Stack stone(std::uint32_t units) {
  Stack s;
  s.material = kStone;
  s.units = units;
  return s;
}

class WorldRecords : public ::testing::Test {
 protected:
  World open_world() { return test::open_test_world(dir_.path(), {"test:stone"}); }
  TempDir dir_;
};

TEST_F(WorldRecords, PlayerSlotsRoundTripAndAnEmptyRowIsRefused) {
  auto w = open_world();
  PlayerUuid someone;
  someone.bytes[0] = 0xAB;
  const auto tmpl = slots::Slots::for_player_sized(4, {});
  EXPECT_EQ(*load_player_slots(w, someone, tmpl), std::nullopt);

  auto mine = tmpl;
  ASSERT_TRUE(mine.give_into("player:main", 2, stone(5)));
  ASSERT_TRUE(save_player_slots(w, someone, mine).has_value());
  auto back = load_player_slots(w, someone, tmpl);
  ASSERT_TRUE(back.has_value() && back->has_value());
  EXPECT_EQ((*back)->dropped, 0u);
  EXPECT_EQ((*back)->slots.total_units(), 5u);

  const std::uint8_t none[] = {0};
  ASSERT_TRUE(ostrel_core::persist::player_rows::save_player(w.db(), someone.to_hex(), 3, std::span(none, 0))
                  .has_value());
  auto empty = load_player_slots(w, someone, tmpl);
  ASSERT_FALSE(empty.has_value());
  EXPECT_EQ(empty.error().message(), fmt::format("player `{}`: the stored row is empty", someone.to_hex()));
  auto labels = w.calls().take().calls;
  ASSERT_FALSE(labels.empty());
  EXPECT_EQ(labels.back().label, "load player");
}

TEST_F(WorldRecords, EmptyOrUnreadableContainerRowsAreSkipped) {
  auto w = open_world();
  slots::View chest;
  chest.slots.resize(3);
  chest.slots[1] = stone(7);
  ASSERT_TRUE(save_container(w, "chest", chest).has_value());
  ASSERT_TRUE(save_container(w, "barrel", chest).has_value());
  const std::uint8_t bad[] = {9, 1, 2};
  ASSERT_TRUE(ostrel_core::persist::container_rows::save_container(w.db(), "empty", 2, std::span(bad, 0))
                  .has_value());
  ASSERT_TRUE(ostrel_core::persist::container_rows::save_container(w.db(), "future", 9, bad).has_value());
  ASSERT_TRUE(delete_container(w, "barrel").has_value());

  test::LogLines logs;
  auto got = load_containers(w, [](std::string_view name) -> std::optional<std::size_t> {
    return name == "chest" ? std::optional<std::size_t>(3) : std::nullopt;
  });
  ASSERT_TRUE(got.has_value());
  ASSERT_EQ(got->containers.size(), 1u);
  EXPECT_EQ(got->containers[0].name, "chest");
  EXPECT_EQ(got->containers[0].view.slots.size(), 3u);
  ASSERT_TRUE(got->containers[0].view.slots[1].has_value());
  EXPECT_EQ(got->containers[0].view.slots[1]->units, 7u);
  EXPECT_EQ(logs.count("a container row is empty and was skipped"), 1);
  EXPECT_EQ(logs.count("could not read a container"), 1);
}

}  // namespace
}  // namespace ostrel_server::world
