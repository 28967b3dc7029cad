#include <gtest/gtest.h>

#include "fluid/codec.hpp"
#include "fluid/fluid.hpp"
#include "world/material.hpp"
#include "persist/world_db.hpp"
#include "support/hex.hpp"
#include "support/temp_dir.hpp"

namespace ostrel_core::persist {
namespace {

using coords::ChunkPos;
using fluid::Fluid;
using fluid::layer::FluidLayer;
using test::from_hex;
using Levels = std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>>;

class ChunkRows : public ::testing::Test {
 protected:
  void SetUp() override { reopen(); }
  void reopen() {
    world_.reset();
    material::Registry registry;
    auto conn = sqlite::Connection::open(dir_ / "world.sqlite");
    ASSERT_TRUE(conn);
    auto w = WorldDb::from_connection(std::move(*conn), dir_ / "world.sqlite", registry);
    ASSERT_TRUE(w) << report(w.error());
    world_.emplace(std::move(*w));
  }
  WorldDb& world() { return *world_; }
  // Writes a chunk_fluid row in the overworld as given, bypassing the layer's checks.
  void put_fluid(ChunkPos pos, const std::vector<std::uint8_t>& data) {
    auto stmt = world().connection().prepare(
        "INSERT OR REPLACE INTO chunk_fluid VALUES ('overworld', ?1, ?2, ?3, ?4)");
    ASSERT_TRUE(stmt->bind_i64(1, pos.x) && stmt->bind_i64(2, pos.y) && stmt->bind_i64(3, pos.z) &&
                stmt->bind_blob(4, data) && stmt->run());
  }
  std::vector<std::uint8_t> fluid_row(ChunkPos pos) {
    auto stmt = world().connection().prepare(
        "SELECT data FROM chunk_fluid WHERE domain = 'overworld' AND x = ?1 AND y = ?2 AND z = ?3");
    EXPECT_TRUE(stmt->bind_i64(1, pos.x) && stmt->bind_i64(2, pos.y) && stmt->bind_i64(3, pos.z));
    if (!*stmt->step()) return {};
    auto blob = stmt->column_blob(0);
    return {blob.begin(), blob.end()};
  }
  std::int64_t count(const char* sql) {
    auto stmt = world().connection().prepare(sql);
    EXPECT_TRUE(stmt && *stmt->step());
    return stmt->column_i64(0);
  }

  test::TempDir dir_;
  std::optional<WorldDb> world_;
};

const Levels kThree{{1, from_hex("01")}, {2, from_hex("02")}, {3, from_hex("03")}};

TEST_F(ChunkRows, SummaryCountFollowsSavesAndForgets) {
  const ChunkPos a{1, 2, 3}, b{-1, 0, 0};
  ASSERT_TRUE(world().save_summaries("overworld", a, kThree));
  EXPECT_EQ(world().summary_rows(), 3u);
  ASSERT_TRUE(world().save_summaries("overworld", a, kThree));  // same levels again
  EXPECT_EQ(world().summary_rows(), 3u);
  ASSERT_TRUE(world().save_summaries("nether", a, Levels{{1, from_hex("aa")}}));
  ASSERT_TRUE(world().save_summaries("overworld", b, Levels{{1, from_hex("bb")}}));
  EXPECT_EQ(world().summary_rows(), 5u);

  EXPECT_EQ(*world().load_summary("overworld", 2, a), from_hex("02"));
  EXPECT_EQ(*world().load_summary("overworld", 4, a), std::nullopt);
  EXPECT_EQ(*world().load_summary("nether", 1, a), from_hex("aa"));

  ASSERT_TRUE(world().forget_summaries("overworld", a));
  EXPECT_EQ(world().summary_rows(), 2u);
  ASSERT_TRUE(world().forget_summaries("overworld", a));
  EXPECT_EQ(world().summary_rows(), 2u);
  EXPECT_EQ(*world().load_summary("nether", 1, a), from_hex("aa"));
  EXPECT_EQ(count("SELECT COUNT(*) FROM chunk_summaries"), 2);
  reopen();
  EXPECT_EQ(world().summary_rows(), 2u);
}

TEST_F(ChunkRows, SummaryCountNeverGoesBelowZero) {
  const ChunkPos a{0, 0, 0};
  // Rows the count never saw (written behind its back) are deleted: the count stops at 0.
  ASSERT_TRUE(world().connection().exec(
      "INSERT INTO chunk_summaries (domain, level, x, y, z, data) VALUES "
      "('overworld', 1, 0, 0, 0, x'01'), ('overworld', 2, 0, 0, 0, x'02');"));
  EXPECT_EQ(world().summary_rows(), 0u);
  ASSERT_TRUE(world().forget_summaries("overworld", a));
  EXPECT_EQ(world().summary_rows(), 0u);
  ASSERT_TRUE(world().save_summaries("overworld", a, Levels{{1, from_hex("01")}}));
  EXPECT_EQ(world().summary_rows(), 1u);
}

TEST_F(ChunkRows, FailedSummarySaveChangesNothing) {
  const ChunkPos a{5, 5, 5};
  ASSERT_TRUE(world().save_summaries("overworld", {0, 0, 0}, Levels{{1, from_hex("01")}}));
  ASSERT_TRUE(world().connection().exec(
      "CREATE TRIGGER refuse_level_3 BEFORE INSERT ON chunk_summaries WHEN NEW.level = 3 "
      "BEGIN SELECT RAISE(ABORT, 'injected failure'); END;"));
  auto r = world().save_summaries("overworld", a, kThree);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind, WorldErrorKind::Sql);
  EXPECT_NE(report(r.error()).find("injected failure"), std::string::npos);
  EXPECT_EQ(world().summary_rows(), 1u);
  EXPECT_EQ(count("SELECT COUNT(*) FROM chunk_summaries"), 1);
  EXPECT_FALSE(world().connection().in_transaction());
}

FluidLayer layer_with(std::initializer_list<std::pair<std::size_t, Fluid>> states) {
  std::vector<Fluid> all(fluid::layer::kBlocks);
  for (auto [i, s] : states) all[i] = s;
  return FluidLayer::from_blocks(all);
}

TEST_F(ChunkRows, FluidLayerRoundTripsAndEmptyDeletesRow) {
  const ChunkPos a{3, -4, 5};
  const auto water = layer_with({{0, Fluid::of(1, 27)}, {4095, Fluid::of(2, 3)}});
  ASSERT_TRUE(world().save_summaries("overworld", a, kThree));
  ASSERT_TRUE(world().save_chunk_fluid_in("overworld", a, water));
  EXPECT_EQ(world().summary_rows(), 0u);  // the write forgot the chunk's summaries
  EXPECT_EQ(*world().load_chunk_fluid_in("overworld", a), water);
  EXPECT_EQ(*world().load_chunk_fluid_in("nether", a), std::nullopt);

  ASSERT_TRUE(world().save_chunk_fluid_in("overworld", a, FluidLayer{}));
  EXPECT_EQ(*world().load_chunk_fluid_in("overworld", a), std::nullopt);
  EXPECT_EQ(count("SELECT COUNT(*) FROM chunk_fluid"), 0);
}

TEST_F(ChunkRows, StoredFluidIdsTranslateOrFail) {
  auto put = [&](ChunkPos pos, const std::vector<std::uint8_t>& data) { put_fluid(pos, data); };
  const ChunkPos a{0, 0, 0};
  // Before reconciliation stored ids load unchanged.
  put(a, fluid::codec::encode(layer_with({{7, Fluid::of(4, 9)}})));
  EXPECT_EQ(*world().load_chunk_fluid_in("overworld", a), layer_with({{7, Fluid::of(4, 9)}}));

  ASSERT_TRUE(world().connection().exec("INSERT INTO fluid_ids VALUES ('f:water', 4);"));
  reopen();
  fluid::Fluids fluids;
  fluid::Registered lava;
  lava.name = "f:lava";
  ASSERT_TRUE(fluids.register_fluid(lava));
  ASSERT_TRUE(world().reconcile_fluids(fluids));  // f:lava gets world 1, f:water runtime 2
  EXPECT_EQ(*world().load_chunk_fluid_in("overworld", a), layer_with({{7, Fluid::of(2, 9)}}));

  put(a, fluid::codec::encode(layer_with({{7, Fluid::of(9, 9)}})));
  auto unmapped = world().load_chunk_fluid_in("overworld", a);
  ASSERT_FALSE(unmapped);
  EXPECT_EQ(unmapped.error().kind, WorldErrorKind::FluidId);
  EXPECT_EQ(report(unmapped.error()),
            "fluid for chunk at (0, 0, 0)\n  caused by: world fluid id 9 has no counterpart in this world's fluid table");

  // A word with a bit above the four id bits is not a state: refused, never loaded.
  put(a, from_hex("01 00 10 25 02"));
  auto not_state = world().load_chunk_fluid_in("overworld", a);
  ASSERT_FALSE(not_state);
  EXPECT_EQ(not_state.error().kind, WorldErrorKind::Fluid);
  EXPECT_EQ(not_state.error().message(), "fluid for chunk at (0, 0, 0) in domain `overworld`");
}

TEST_F(ChunkRows, StoredLevelsAboveFullLoadAsFull) {
  struct Case {
    const char* name;
    const char* hex;  // two runs of 2048 blocks
    Fluid low;        // blocks 0..2047 once loaded
    Fluid high;       // blocks 2048..4095
  };
  const Case cases[] = {
      {"level_31", "01 00 08 3f 00 00 08 3f 00", Fluid::of(1, 27), Fluid::of(1, 27)},
      {"levels_28_and_29", "01 00 08 3c 00 00 08 5d 00", Fluid::of(1, 27), Fluid::of(2, 27)},
      {"level_27_and_dry", "01 00 08 3b 00 00 08 00 00", Fluid::of(1, 27), Fluid{}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    put_fluid(ChunkPos{}, from_hex(c.hex));
    auto got = world().load_chunk_fluid_in("overworld", ChunkPos{});
    ASSERT_TRUE(got) << report(got.error());
    std::vector<Fluid> want(fluid::layer::kBlocks, c.low);
    std::fill(want.begin() + 2048, want.end(), c.high);
    EXPECT_EQ(*got, FluidLayer::from_blocks(want));
  }
}

TEST_F(ChunkRows, AFluidRowThatFailedToLoadIsNeverOverwritten) {
  const ChunkPos bad{1, 0, 0}, good{2, 0, 0};
  const auto damaged = from_hex("01 00 10 25 02");  // bit 9 set: not a state
  put_fluid(bad, damaged);
  ASSERT_EQ(world().load_chunk_fluid_in("overworld", bad).error().kind, WorldErrorKind::Fluid);
  EXPECT_TRUE(world().fluid_kept("overworld", bad));

  const auto water = layer_with({{1, Fluid::of(1, 5)}});
  auto single = world().save_chunk_fluid_in("overworld", bad, FluidLayer{});
  ASSERT_FALSE(single);
  EXPECT_EQ(single.error().kind, WorldErrorKind::FluidKept);
  EXPECT_EQ(single.error().message(),
            "fluid for chunk at (1, 0, 0) in domain `overworld` could not be read; the stored layer is kept "
            "and not "
            "overwritten");
  const std::pair<ChunkPos, const FluidLayer*> batch[] = {{bad, &water}, {good, &water}};
  auto left_out = world().save_chunk_fluids_in("overworld", batch);
  ASSERT_TRUE(left_out) << report(left_out.error());
  EXPECT_EQ(*left_out, 1u);
  EXPECT_EQ(fluid_row(bad), damaged);
  EXPECT_EQ(*world().load_chunk_fluid_in("overworld", good), water);
  EXPECT_FALSE(world().fluid_kept("nether", bad));  // kept per domain
}

TEST_F(ChunkRows, BatchFluidSaveIsOneTransaction) {
  const ChunkPos a{0, 0, 0}, b{1, 0, 0}, c{2, 0, 0};
  const auto water = layer_with({{1, Fluid::of(1, 5)}});
  const FluidLayer dry;
  ASSERT_TRUE(world().save_chunk_fluid_in("overworld", c, water));
  ASSERT_TRUE(world().save_summaries("overworld", a, kThree));
  ASSERT_TRUE(world().save_summaries("overworld", c, Levels{{1, from_hex("01")}}));
  const std::pair<ChunkPos, const FluidLayer*> batch[] = {{a, &water}, {b, &water}, {c, &dry}};
  ASSERT_TRUE(world().save_chunk_fluids_in("overworld", batch));
  EXPECT_EQ(world().summary_rows(), 0u);
  EXPECT_EQ(*world().load_chunk_fluid_in("overworld", b), water);
  EXPECT_EQ(*world().load_chunk_fluid_in("overworld", c), std::nullopt);

  // A failing write in the middle leaves every row and the count as they were.
  ASSERT_TRUE(world().save_summaries("overworld", a, kThree));
  ASSERT_TRUE(world().connection().exec(
      "CREATE TRIGGER refuse_x1 BEFORE UPDATE ON chunk_fluid WHEN NEW.x = 1 "
      "BEGIN SELECT RAISE(ABORT, 'injected failure'); END;"));
  const auto more = layer_with({{2, Fluid::of(1, 27)}});
  const std::pair<ChunkPos, const FluidLayer*> failing[] = {{a, &more}, {b, &more}};
  auto r = world().save_chunk_fluids_in("overworld", failing);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind, WorldErrorKind::Sql);
  EXPECT_EQ(world().summary_rows(), 3u);
  EXPECT_EQ(count("SELECT COUNT(*) FROM chunk_summaries"), 3);
  EXPECT_EQ(*world().load_chunk_fluid_in("overworld", a), water);
  EXPECT_FALSE(world().connection().in_transaction());
}

}  // namespace
}  // namespace ostrel_core::persist
