#include "persist/rows/mod_rows.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "base/log.hpp"
#include "persist/compress.hpp"
#include "persist/world_db.hpp"
#include "support/hex.hpp"
#include "support/temp_dir.hpp"
#include "world/material.hpp"

namespace ostrel_core::persist {
namespace {

using mod_rows::StorageChange;
using storage::Value;
using test::from_hex;

class ModRows : public ::testing::Test {
 protected:
  void SetUp() override {
    material::Registry registry;
    auto conn = sqlite::Connection::open(dir_ / "world.sqlite");
    ASSERT_TRUE(conn);
    auto w = WorldDb::from_connection(std::move(*conn), dir_ / "world.sqlite", registry);
    ASSERT_TRUE(w);
    world_.emplace(std::move(*w));
  }
  WorldDb& world() { return *world_; }

  void put_raw(const char* mod, const char* key, const std::vector<std::uint8_t>& value) {
    auto stmt = world().connection().prepare("INSERT OR REPLACE INTO mod_storage VALUES (?1, ?2, ?3)");
    ASSERT_TRUE(stmt->bind_text(1, mod) && stmt->bind_text(2, key) && stmt->bind_blob(3, value) && stmt->run());
  }

  test::TempDir dir_;
  std::optional<WorldDb> world_;
};

TEST_F(ModRows, StoredValuesDecodeOrFailTheWholeMod) {
  struct Case {
    const char* name;
    const char* hex;
    std::optional<Value> want;  // none: the load fails naming the key
  };
  const Case cases[] = {
      {"text", "00 02 68 69", Value::text("hi")},
      {"number", "01 00 00 00 00 00 00 f0 3f", Value::number(1.0)},
      {"false", "02 00", Value::boolean(false)},
      {"true_with_trailing_bytes", "02 01 ff ff", Value::boolean(true)},
      {"number_seven_bytes", "01 00 00 00 00 00 00 f0", std::nullopt},
      {"bool_two", "02 02", std::nullopt},
      {"tag_three", "03 00", std::nullopt},
      {"text_too_long", "00 05 68 69", std::nullopt},
      {"text_not_utf8", "00 01 ff", std::nullopt},
      {"empty", "", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(world().connection().exec("DELETE FROM mod_storage"));
    put_raw("m", "a_good", from_hex("02 01"));
    put_raw("m", "k", from_hex(c.hex));
    put_raw("other", "k", from_hex("02 01"));
    auto got = mod_rows::load_mod_storage(world(), "m");
    if (c.want) {
      ASSERT_TRUE(got) << report(got.error());
      EXPECT_EQ(got->size(), 2u);
      EXPECT_EQ(got->at("k"), *c.want);
    } else {
      ASSERT_FALSE(got);
      EXPECT_EQ(got.error().kind, WorldErrorKind::ModStorage);
      EXPECT_EQ(got.error().mod_id, "m");
      EXPECT_EQ(got.error().key, "k");
      EXPECT_TRUE(got.error().message().starts_with("mod `m` storage key `k`: ")) << got.error().message();
    }
    EXPECT_TRUE(mod_rows::load_mod_storage(world(), "other"));  // one mod's bad value is its own
  }
  ASSERT_TRUE(world().connection().exec("DELETE FROM mod_storage"));
  put_raw("m", "k", from_hex("02 02"));
  EXPECT_EQ(mod_rows::load_mod_storage(world(), "m").error().message(),
            "mod `m` storage key `k`: boolean byte is 2, not 0 or 1");
}

TEST_F(ModRows, StorageChangesApplyInOrderAndAllOrNothing) {
  const StorageChange first[] = {{"a", Value::text("x")}, {"b", Value::number(-0.5)}, {"a", std::nullopt},
                                 {"c", Value::boolean(true)}};
  ASSERT_TRUE(mod_rows::save_mod_storage_changes(world(), "m", first));
  auto got = mod_rows::load_mod_storage(world(), "m");
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, (std::map<std::string, Value>{{"b", Value::number(-0.5)}, {"c", Value::boolean(true)}}));
  EXPECT_TRUE(mod_rows::load_mod_storage(world(), "n")->empty());

  ASSERT_TRUE(world().connection().exec(
      "CREATE TRIGGER refuse_boom BEFORE INSERT ON mod_storage WHEN NEW.key = 'boom' "
      "BEGIN SELECT RAISE(ABORT, 'injected failure'); END;"));
  const StorageChange second[] = {{"b", std::nullopt}, {"d", Value::text("new")}, {"boom", Value::text("!")}};
  auto r = mod_rows::save_mod_storage_changes(world(), "m", second);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind, WorldErrorKind::Sql);
  EXPECT_EQ(*mod_rows::load_mod_storage(world(), "m"), *got);
  EXPECT_FALSE(world().connection().in_transaction());
}

detgen::map::Map map_of(std::uint32_t side, std::vector<float> samples) {
  auto m = detgen::map::Map::create(side, 4, -100, 7);
  EXPECT_TRUE(m);
  m->samples = std::move(samples);
  return *m;
}

std::vector<std::uint32_t> bits_of(const std::vector<float>& v) {
  std::vector<std::uint32_t> out;
  for (float f : v) out.push_back(std::bit_cast<std::uint32_t>(f));
  return out;
}

TEST_F(ModRows, MapRoundTripsBitForBit) {
  const float quiet_nan = std::bit_cast<float>(0x7FC00001u);
  const float odd_nan = std::bit_cast<float>(0xFFA12345u);
  const auto m = map_of(3, {0.0f, -0.0f, 1.5f, quiet_nan, odd_nan, std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::denorm_min(), -3e38f, 42.0f});
  ASSERT_TRUE(mod_rows::save_map(world(), "m", "height", m));
  auto all = mod_rows::all_maps(world());
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 1u);
  const auto& got = (*all)[0];
  EXPECT_EQ(got.mod_id, "m");
  EXPECT_EQ(got.name, "height");
  EXPECT_EQ(got.map.side, 3u);
  EXPECT_EQ(got.map.scale, 4u);
  EXPECT_EQ(got.map.origin_x, -100);
  EXPECT_EQ(got.map.origin_z, 7);
  EXPECT_EQ(bits_of(got.map.samples), bits_of(m.samples));
}

// Collects log lines, uncoloured, while it lives.
struct Captured {
  Captured() {
    log::Options plain;
    plain.colour = false;
    log::install(plain);
    log::set_sink(&Captured::sink, this);
  }
  ~Captured() { log::set_sink(nullptr, nullptr); }
  std::vector<std::string> lines;
  static void sink(std::string_view line, void* self) { static_cast<Captured*>(self)->lines.emplace_back(line); }
};

TEST_F(ModRows, BadMapsAreSkippedWithTheirWarning) {
  ASSERT_TRUE(mod_rows::save_map(world(), "m", "good", map_of(2, {1, 2, 3, 4})));
  auto frame = compress(from_hex("00 00 80 3f 00 00 80 3f"));  // two samples
  ASSERT_TRUE(frame);
  struct Bad {
    const char* name;
    std::int64_t side, scale, origin_x;
    std::vector<std::uint8_t> samples;
    const char* warning;
  };
  const Bad bad[] = {
      {"origin_too_far", 1, 1, std::int64_t{1} << 40, *frame, "skipping a map whose shape will not fit"},
      {"side_too_wide", std::int64_t{1} << 33, 1, 0, *frame, "skipping a map whose shape will not fit"},
      {"side_0", 0, 1, 0, *frame, "skipping a map with an impossible shape"},
      {"side_1025", 1025, 1, 0, *frame, "skipping a map with an impossible shape"},
      {"scale_0", 1, 0, 0, *frame, "skipping a map with an impossible shape"},
      {"not_zstd", 1, 1, 0, from_hex("01 02 03 04"), "skipping a map that will not decompress"},
      {"wrong_length", 1, 1, 0, *frame, "skipping a map of the wrong length"},
  };
  for (const auto& b : bad) {
    auto stmt = world().connection().prepare("INSERT INTO mod_maps VALUES ('m', ?1, ?2, ?3, ?4, 0, ?5)");
    ASSERT_TRUE(stmt->bind_text(1, b.name) && stmt->bind_i64(2, b.side) && stmt->bind_i64(3, b.scale) &&
                stmt->bind_i64(4, b.origin_x) && stmt->bind_blob(5, b.samples) && stmt->run());
  }
  Captured log;
  auto all = mod_rows::all_maps(world());
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 1u);
  EXPECT_EQ((*all)[0].name, "good");
  ASSERT_EQ(log.lines.size(), std::size(bad));
  for (const auto& b : bad) {
    SCOPED_TRACE(b.name);
    const std::string fields = std::string("mod_id=\"m\" name=\"") + b.name + "\"";
    bool found = false;
    for (const auto& line : log.lines) {
      found |= line.find(b.warning) != std::string::npos && line.find(fields) != std::string::npos &&
               line.find("WARN") != std::string::npos;
    }
    EXPECT_TRUE(found);
  }
}

TEST_F(ModRows, MapTooLargeToDecompressIsSkipped) {
  // A frame of 4 MiB + 1 KiB + 4 bytes: over the bound even though it is well formed.
  std::vector<std::uint8_t> raw(4'195'332, 0);
  auto frame = compress(raw);
  ASSERT_TRUE(frame);
  auto stmt = world().connection().prepare("INSERT INTO mod_maps VALUES ('m', 'huge', 1024, 1, 0, 0, ?1)");
  ASSERT_TRUE(stmt->bind_blob(1, *frame) && stmt->run());
  Captured log;
  auto all = mod_rows::all_maps(world());
  ASSERT_TRUE(all);
  EXPECT_TRUE(all->empty());
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_NE(log.lines[0].find("skipping a map that will not decompress"), std::string::npos);
}

plan::Plan sample_plan() {
  plan::Plan p;
  p.w = 2;
  p.h = 1;
  p.d = 3;
  p.palette = {"m:stone", "m:glass"};
  p.cells = {{0, 0, 0x7FFFFFF}, {5, 0, 0x1FF}, {5, 1, 0x3E00}};
  return p;
}

TEST_F(ModRows, PlansRoundTripReplaceAndDelete) {
  ASSERT_TRUE(mod_rows::save_plan(world(), "m", "house", sample_plan()));
  EXPECT_EQ(*mod_rows::load_plan(world(), "m", "house"), sample_plan());
  EXPECT_EQ(*mod_rows::load_plan(world(), "other", "house"), std::nullopt);

  plan::Plan smaller = sample_plan();
  smaller.cells.pop_back();
  ASSERT_TRUE(mod_rows::save_plan(world(), "m", "house", smaller));
  EXPECT_EQ(*mod_rows::load_plan(world(), "m", "house"), smaller);

  ASSERT_TRUE(mod_rows::save_plan(world(), "m", "barn", smaller));
  EXPECT_EQ(*mod_rows::plan_names(world(), "m"), (std::vector<std::string>{"barn", "house"}));
  EXPECT_EQ(mod_rows::delete_plan(world(), "m", "barn"), true);
  EXPECT_EQ(mod_rows::delete_plan(world(), "m", "never_saved"), false);
  EXPECT_EQ(*mod_rows::plan_names(world(), "m"), (std::vector<std::string>{"house"}));
}

TEST_F(ModRows, DamagedPlansReadAsAbsent) {
  auto truncated_record = compress(from_hex("02 01 03 02 07"));
  auto bad_utf8 = compress(from_hex("01 01 01 01 01 ff 00"));
  auto over_bound = compress(std::vector<std::uint8_t>(1'114'113, 1));
  ASSERT_TRUE(truncated_record && bad_utf8 && over_bound);
  const std::pair<const char*, std::vector<std::uint8_t>> rows[] = {
      {"not_zstd", from_hex("de ad be ef")},
      {"truncated_record", *truncated_record},
      {"bad_utf8", *bad_utf8},
      {"over_bound", *over_bound},
  };
  for (const auto& [name, data] : rows) {
    auto stmt = world().connection().prepare("INSERT INTO mod_plans VALUES ('m', ?1, ?2)");
    ASSERT_TRUE(stmt->bind_text(1, name) && stmt->bind_blob(2, data) && stmt->run());
  }
  for (const auto& [name, data] : rows) {
    SCOPED_TRACE(name);
    auto got = mod_rows::load_plan(world(), "m", name);
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, std::nullopt);
  }
  EXPECT_EQ(mod_rows::plan_names(world(), "m")->size(), std::size(rows));
}

}  // namespace
}  // namespace ostrel_core::persist
