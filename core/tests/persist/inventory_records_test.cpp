#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "world/material.hpp"
#include "persist/rows/container_rows.hpp"
#include "persist/records/containers.hpp"
#include "persist/rows/player_rows.hpp"
#include "persist/records/playerdata.hpp"
#include "persist/world_db.hpp"
#include "support/hex.hpp"
#include "support/temp_dir.hpp"

namespace ostrel_core::persist {
namespace {

using inventory::Stack;
using inventory::slots::Slots;
using inventory::slots::View;
using inventory::slots::ViewDef;
using test::from_hex;
using test::to_hex;

// Runtime 2 is world 5 and runtime 3 is world 4; runtime 9 and world 77 have no counterpart.
idmap::MaterialMap swapped_map() {
  idmap::MaterialMap m;
  m.forward = {0, 1, 5, 4};
  m.reverse = {{0, 0}, {1, 1}, {5, 2}, {4, 3}};
  return m;
}

Stack plain(material::MaterialId m, std::uint32_t units, std::optional<std::uint32_t> shape = {},
            std::optional<std::string> detail = {}) {
  return Stack{m, units, shape, std::move(detail), {}};
}

Stack mixed_cut() {
  inventory::Cells cells{};
  for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = i < 13 ? 2 : 3;
  return *Stack::of_cells(cells, 27);
}

std::string hex_of(std::string_view text) {
  std::string out;
  for (char c : text) out += fmt::format("{:02x} ", static_cast<unsigned char>(c));
  return out;
}

const std::string kMainName = "0b " + hex_of("player:main");
const std::string kMixedCells =
    "01 1b 05 05 05 05 05 05 05 05 05 05 05 05 05 04 04 04 04 04 04 04 04 04 04 04 04 04 04";

struct PlayerRecord {
  const char* name;
  std::uint8_t version;
  std::string hex;
  std::optional<Stack> slot0, slot2, held;
};

TEST(PlayerData, DecodesEveryVersionIntoTheSameSlots) {
  // One view "player:main" of three slots: 12 units of a partial cut of world 5, empty, a
  // whole block of world 4 (version 3: a cut of both); the hand holds 2 units of world 5.
  const PlayerRecord records[] = {
      {"version_1", 1, "01" + kMainName + "03 01 05 0c 01 ff 03 00 01 04 1b 00 01 05 02 00",
       plain(2, 12, 0x1FF), plain(3, 27), plain(2, 2)},
      {"version_2", 2,
       "01" + kMainName + "03 01 05 0c 01 ff 03 01 03 6f 72 65 00 01 04 1b 00 00 01 05 02 00 00 ff ff",
       plain(2, 12, 0x1FF, "ore"), plain(3, 27), plain(2, 2)},
      {"version_3", 3,
       "01" + kMainName + "03 01 05 0c 01 ff 03 01 03 6f 72 65 00 00 01 05 1b 00 00" + kMixedCells +
           " 01 05 02 00 00 00",
       plain(2, 12, 0x1FF, "ore"), mixed_cut(), plain(2, 2)},
  };
  const Slots tmpl = Slots::for_player_sized(std::nullopt, {});
  for (const auto& r : records) {
    SCOPED_TRACE(r.name);
    auto got = playerdata::decode(r.version, from_hex(r.hex), tmpl, swapped_map());
    ASSERT_TRUE(got) << got.error().message();
    EXPECT_EQ(got->dropped, 0u);
    const View* main = got->slots.find("player:main");
    ASSERT_NE(main, nullptr);
    ASSERT_EQ(main->slots.size(), 28u);
    EXPECT_EQ(main->slots[0], r.slot0);
    EXPECT_EQ(main->slots[1], std::nullopt);
    EXPECT_EQ(main->slots[2], r.slot2);
    EXPECT_EQ(got->slots.held(), r.held);
  }
}

TEST(PlayerData, RefusesUnknownVersionsAndBrokenRecords) {
  struct Bad {
    const char* name;
    std::uint8_t version;
    std::string hex;
    const char* want;
  };
  const Bad bad[] = {
      {"version_0", 0, "00 00", "player data is version 0; this build writes 3"},
      {"version_4", 4, "00 00", "player data is version 4; this build writes 3"},
      {"truncated", 3, "01" + kMainName + "03 01 05 0c", "player data version 3 did not decode"},
      {"option_byte_2", 1, "01" + kMainName + "01 02", "player data version 1 did not decode"},
      {"view_count_past_the_end", 2, "ff ff ff ff 0f", "player data version 2 did not decode"},
  };
  for (const auto& b : bad) {
    SCOPED_TRACE(b.name);
    auto got = playerdata::decode(b.version, from_hex(b.hex), Slots::for_player_sized({}, {}), swapped_map());
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error().message(), b.want);
  }
}

TEST(PlayerData, StoredViewsMeetTheTemplate) {
  const ViewDef defs[] = {{"mod:bag", 2}, {"mod:belt", 1}};
  Slots stored = Slots::for_player_sized(std::nullopt, defs);
  auto& views = stored.views();
  views[0].second.slots.resize(30);
  views[0].second.slots[29] = plain(2, 5);
  views[1].second.slots = {plain(3, 1), std::nullopt, plain(2, 7), std::nullopt, plain(2, 8)};
  stored.close_view("mod:belt");
  stored.open_view("mod:new", View{{std::nullopt, plain(3, 4)}});
  auto encoded = playerdata::encode(stored, swapped_map());
  ASSERT_EQ(encoded.dropped, 0u);

  Slots tmpl = Slots::for_player_sized(std::nullopt, defs);
  tmpl.find("mod:bag")->slots[1] = plain(3, 99);
  tmpl.find("mod:belt")->slots[0] = plain(3, 42);
  tmpl.set_grain(27);
  auto got = playerdata::decode(3, encoded.bytes, tmpl, swapped_map());
  ASSERT_TRUE(got);
  // "player:main" grows to the stored length; the bag keeps its two slots (the stored empty
  // slot empties the template's) and loses two stacks; the belt was not stored and keeps its
  // content; the unknown view comes last.
  EXPECT_EQ(got->dropped, 2u);
  ASSERT_EQ(got->slots.views().size(), 4u);
  EXPECT_EQ(got->slots.find("player:main")->slots.size(), 30u);
  EXPECT_EQ(got->slots.find("player:main")->slots[29], plain(2, 5));
  EXPECT_EQ(got->slots.find("mod:bag")->slots,
            (std::vector<std::optional<Stack>>{plain(3, 1), std::nullopt}));
  EXPECT_EQ(got->slots.find("mod:belt")->slots[0], plain(3, 42));
  EXPECT_EQ(got->slots.views()[3].first, "mod:new");
  EXPECT_EQ(got->slots.views()[3].second.slots[1], plain(3, 4));
  EXPECT_EQ(got->slots.grain(), 27u);
}

TEST(PlayerData, StacksThatCannotBeNamedOrRestoredAreCounted) {
  Slots slots = Slots::for_player_sized(3, {});
  auto& main = slots.find("player:main")->slots;
  inventory::Cells cells{};
  cells.fill(2);
  cells[3] = 9;
  main = {plain(9, 1), Stack::of_cells(cells, 27), plain(3, 6, std::nullopt, "x")};
  slots.held() = plain(9, 2);
  auto encoded = playerdata::encode(slots, swapped_map());
  EXPECT_EQ(encoded.dropped, 3u);
  // Dropped stacks leave empty slots in place: [-, -, 6 of world 4 "x"], nothing held.
  EXPECT_EQ(to_hex(encoded.bytes),
            to_hex(from_hex("01" + kMainName + "03 00 00 01 04 06 00 01 01 78 00 00")));

  // A stored world id this world lacks and a zero count restore as empty slots.
  const std::string hex = "01" + kMainName + "03 01 4d 01 00 00 00 01 05 00 00 00 00 00 01 4d 01 00 00 00";
  auto got = playerdata::decode(3, from_hex(hex), Slots::for_player_sized(3, {}), swapped_map());
  ASSERT_TRUE(got);
  EXPECT_EQ(got->dropped, 3u);
  EXPECT_EQ(got->slots.find("player:main")->slots, std::vector<std::optional<Stack>>(3));
  EXPECT_FALSE(got->slots.held());
}

TEST(Containers, DecodesBothVersionsIntoTheSlotCount) {
  struct Case {
    const char* name;
    std::uint8_t version;
    std::string hex;
    std::size_t slot_count;
    std::vector<std::optional<Stack>> want;
    std::size_t dropped;
  };
  const Case cases[] = {
      {"version_1_keeps_text",
       1,
       "02 00 01 05 03 00 01 01 78",
       3,
       {std::nullopt, plain(2, 3, {}, "x"), std::nullopt},
       0},
      {"version_2_cells", 2, "01 01 05 1b 00 00" + kMixedCells, 1, {mixed_cut()}, 0},
      {"more_stored_than_taken",
       2,
       "04 01 05 01 00 00 00 01 04 02 00 00 00 00 01 05 03 00 00 00 ",
       2,
       {plain(2, 1), plain(3, 2)},
       1},
      {"unknown_world_id_counted",
       2,
       "02 01 4d 01 00 00 00 01 04 02 00 00 00",
       2,
       {std::nullopt, plain(3, 2)},
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = containers::decode(c.version, from_hex(c.hex), "chest:1", c.slot_count, swapped_map());
    ASSERT_TRUE(got) << got.error().message();
    EXPECT_EQ(got->name, "chest:1");
    EXPECT_EQ(got->view.slots, c.want);
    EXPECT_EQ(got->dropped, c.dropped);
  }
}

TEST(Containers, RefusesUnknownVersionsAndBrokenRecords) {
  struct Bad {
    std::uint8_t version;
    const char* hex;
    versioned::MigrationErrorKind kind;
    const char* want;
  };
  const Bad bad[] = {
      {3, "00", versioned::MigrationErrorKind::NoStep, "container data is version 3; this build writes 2"},
      {0, "00", versioned::MigrationErrorKind::NoStep, "container data is version 0; this build writes 2"},
      {2, "02 01 05", versioned::MigrationErrorKind::Decode, "container data version 2 did not decode"},
      {1, "01 01 05 01 00 01 02 ff", versioned::MigrationErrorKind::Decode,
       "container data version 1 did not decode"},
  };
  for (const auto& b : bad) {
    SCOPED_TRACE(b.hex);
    auto got = containers::decode(b.version, from_hex(b.hex), "c", 4, swapped_map());
    ASSERT_FALSE(got);
    EXPECT_EQ(got.error().kind, b.kind);
    EXPECT_EQ(got.error().message(), b.want);
  }
}

TEST(Containers, EncodeRoundTripsAndCountsWhatCannotBeNamed) {
  View view{{std::nullopt, plain(3, 3, {}, "x"), plain(9, 1), mixed_cut(), plain(2, 4, 0x7)}};
  auto encoded = containers::encode(view, swapped_map());
  EXPECT_EQ(encoded.dropped, 1u);
  EXPECT_EQ(to_hex(std::vector<std::uint8_t>(encoded.bytes.begin(), encoded.bytes.begin() + 10)),
            "05 00 01 04 03 00 01 01 78 00");
  auto back = containers::decode(2, encoded.bytes, "c", 5, swapped_map());
  ASSERT_TRUE(back);
  view.slots[2].reset();
  EXPECT_EQ(back->view, view);
}

class InventoryRows : public ::testing::Test {
 protected:
  void SetUp() override {
    material::Registry registry;
    ASSERT_TRUE(registry.register_material("m:a"));
    auto conn = sqlite::Connection::open(dir_ / "world.sqlite");
    ASSERT_TRUE(conn);
    auto w = WorldDb::from_connection(std::move(*conn), dir_ / "world.sqlite", registry);
    ASSERT_TRUE(w) << report(w.error());
    world_.emplace(std::move(*w));
  }
  test::TempDir dir_;
  std::optional<WorldDb> world_;
};

TEST_F(InventoryRows, PlayerRowsHoldTheLastSaveAndRestoreTheSlots) {
  const std::string uuid(64, 'a');
  EXPECT_EQ(*player_rows::load_player(*world_, uuid), std::nullopt);

  Slots slots = Slots::for_player_sized(std::nullopt, {});
  slots.find("player:main")->slots[3] = plain(2, 40);
  auto first = player_rows::row_data(Slots::for_player_sized(std::nullopt, {}), world_->materials());
  auto second = player_rows::row_data(slots, world_->materials());
  ASSERT_TRUE(player_rows::save_player(*world_, uuid, playerdata::kPlayerVersion, first.bytes));
  ASSERT_TRUE(player_rows::save_player(*world_, uuid, playerdata::kPlayerVersion, second.bytes));
  auto stmt = world_->connection().prepare("SELECT COUNT(*), MIN(version) FROM players");
  ASSERT_TRUE(stmt && *stmt->step());
  EXPECT_EQ(stmt->column_i64(0), 1);
  EXPECT_EQ(stmt->column_i64(1), 3);

  auto data = player_rows::load_player(*world_, uuid);
  ASSERT_TRUE(data && *data);
  EXPECT_EQ((**data)[0], 3);
  auto back =
      player_rows::slots_of_row(uuid, **data, Slots::for_player_sized(std::nullopt, {}), world_->materials());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->slots, slots);

  auto empty = player_rows::slots_of_row(uuid, {}, slots, world_->materials());
  ASSERT_FALSE(empty);
  EXPECT_EQ(empty.error().message(), "player `" + uuid + "`: the stored row is empty");
  auto future = player_rows::slots_of_row(uuid, from_hex("04 00"), slots, world_->materials());
  ASSERT_FALSE(future);
  EXPECT_EQ(future.error().message(), "player `" + uuid + "`: player data is version 4; this build writes 3");
}

TEST_F(InventoryRows, ContainerRowsReplaceAndDelete) {
  const auto one = from_hex("02 01 00");
  const auto two = from_hex("02 02 00 00");
  ASSERT_TRUE(container_rows::save_container(*world_, "chest:a", 2, one));
  ASSERT_TRUE(container_rows::save_container(*world_, "chest:b", 2, one));
  ASSERT_TRUE(container_rows::save_container(*world_, "chest:a", 2, two));
  ASSERT_TRUE(container_rows::delete_container(*world_, "chest:b"));
  ASSERT_TRUE(container_rows::delete_container(*world_, "never"));
  auto rows = container_rows::load_containers(*world_);
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), 1u);
  EXPECT_EQ((*rows)[0].first, "chest:a");
  EXPECT_EQ((*rows)[0].second, two);
}

}  // namespace
}  // namespace ostrel_core::persist
