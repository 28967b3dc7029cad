#include "world/world.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "support/temp_dir.hpp"
#include "support/test_world.hpp"

namespace ostrel_server::world {
namespace {

namespace block = ostrel_core::block;
namespace edit = ostrel_core::proto::edit;
using ostrel_core::coords::BlockPos;
using ostrel_core::coords::SubNodePos;
using ostrel_core::test::TempDir;
using std::chrono::milliseconds;

constexpr std::uint16_t kStone = 2;
constexpr std::uint16_t kDirt = 3;

// Every chunk whole stone, counting the calls; while `failing`, the air stand-in of a failed
// generation instead.
class StoneSource final : public ChunkSource {
 public:
  Chunk generate(std::string_view d, ChunkPos p, std::uint64_t s) override {
    return std::move(generate_with_fluid(d, p, s).chunk);
  }
  Generated generate_with_fluid(std::string_view, ChunkPos pos, std::uint64_t) override {
    ++generated;
    if (failing) return air_stand_in(pos);
    return Generated{Chunk::filled(pos, kStone), {}, false};
  }
  Tint tint(std::string_view, ChunkPos, std::uint64_t) override { return kDefaultTint; }
  std::optional<ostrel_core::proto::ChunkFog> fog(std::string_view, ChunkPos, std::uint64_t) override {
    return std::nullopt;
  }
  void fault(std::string_view) override {}
  std::vector<std::string> faulted() override { return {}; }
  int generated = 0;
  bool failing = false;
};

class WorldTest : public ::testing::Test {
 protected:
  WorldDb open_db() { return test::open_test_db(dir_.path(), {"test:stone", "test:dirt"}); }
  World open_world(std::uint64_t seed = 7) {
    return test::open_test_world(dir_.path(), {"test:stone", "test:dirt"}, seed);
  }
  static std::int64_t chunk_rows(World& w, const char* domain) { return test::chunk_rows(w, domain); }
  // Makes `n` generated (dirty) chunks along x in `domain`.
  static void dirty_chunks(World& w, StoneSource& src, const char* domain, int n) {
    for (int x = 0; x < n; ++x) ASSERT_TRUE(w.chunk(domain, ChunkPos{x, 0, 0}, src).has_value());
  }
  TempDir dir_;
  StoneSource src_;
};

TEST_F(WorldTest, StoredSeedWinsOnlyWhenEightBytes) {
  {
    auto db = open_db();
    const std::uint8_t seven[] = {1, 2, 3, 4, 5, 6, 7};
    ASSERT_TRUE(db.set_meta("world_seed", seven).has_value());
  }
  {
    auto w = open_world(0xABCDEF);
    EXPECT_EQ(w.seed(), 0xABCDEFu);
    auto stored = w.db().meta("world_seed");
    ASSERT_TRUE(stored.has_value() && stored->has_value());
    EXPECT_EQ(**stored, (std::vector<std::uint8_t>{0xEF, 0xCD, 0xAB, 0, 0, 0, 0, 0}));
  }
  auto w = open_world(99);
  EXPECT_EQ(w.seed(), 0xABCDEFu);
}

TEST_F(WorldTest, EditsApplyAndReportRemovedStacks) {
  auto w = open_world();
  ASSERT_TRUE(w.chunk("overworld", ChunkPos{0, 0, 0}, src_).has_value());
  ASSERT_TRUE(w.chunk("overworld", ChunkPos{-1, 0, 0}, src_).has_value());
  ASSERT_EQ(w.save_dirty_within(milliseconds(100)).written, 2u);

  struct Case {
    const char* name;
    ostrel_core::proto::Edit edit;
    ChunkPos chunk;
    std::vector<std::pair<std::uint16_t, std::uint32_t>> removed;  // material, units
    BlockPos block;
    block::Cells want;  // the block's cells afterwards
  };
  block::Cells stone;
  stone.fill(kStone);
  block::Cells air{};
  block::Cells dirt;
  dirt.fill(kDirt);
  block::Cells low_dirt = stone;  // cells 0 and 1 dirt, the rest stone
  low_dirt[0] = low_dirt[1] = kDirt;
  block::Cells one_air = stone;
  one_air[2] = 0;  // sub-node x -1 is cell x 2 of block x -1
  const Case cases[] = {
      {"air_over_stone", edit::Set{{1, 1, 1}, 0}, {0, 0, 0}, {{kStone, 27}}, {1, 1, 1}, air},
      {"same_material", edit::Set{{2, 2, 2}, kStone}, {0, 0, 0}, {}, {2, 2, 2}, stone},
      {"dirt_over_stone", edit::Set{{3, 3, 3}, kDirt}, {0, 0, 0}, {{kStone, 27}}, {3, 3, 3}, dirt},
      {"full_mask", edit::Partial{{4, 4, 4}, kDirt, 0x7FFFFFF}, {0, 0, 0}, {{kStone, 27}}, {4, 4, 4}, dirt},
      {"mask_zero", edit::Partial{{5, 5, 5}, kDirt, 0}, {0, 0, 0}, {{kStone, 27}}, {5, 5, 5}, air},
      {"cell_at_minus_one", edit::Cell{{-1, 0, 0}, 0}, {-1, 0, 0}, {{kStone, 1}}, {-1, 0, 0}, one_air},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = w.apply("overworld", c.edit, src_);
    ASSERT_TRUE(got.has_value()) << got.error().message();
    EXPECT_EQ(got->chunk, c.chunk);
    std::vector<std::pair<std::uint16_t, std::uint32_t>> removed;
    for (const auto& s : got->removed) removed.emplace_back(s.material, s.units);
    EXPECT_EQ(removed, c.removed);
    EXPECT_EQ(*w.block_cells("overworld", c.block, src_), c.want);
    EXPECT_TRUE(w.space_of("overworld").is_dirty(c.chunk));
  }
  const auto* full = w.resident("overworld", ChunkPos{0, 0, 0});
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(full->get_block(BlockPos{4, 4, 4})->kind(), block::Kind::Whole);
  // A cell edit keeps the other cells of its block.
  ASSERT_TRUE(w.apply("overworld", edit::Partial{{6, 6, 6}, kDirt, 0b11}, src_).has_value());
  EXPECT_EQ(*w.block_cells("overworld", BlockPos{6, 6, 6}, src_), (block::Cells{kDirt, kDirt}));
  ASSERT_TRUE(w.apply("overworld", edit::Set{{7, 7, 7}, kStone}, src_).has_value());
  ASSERT_TRUE(w.apply("overworld", edit::Cell{{21, 21, 21}, kDirt}, src_).has_value());
  ASSERT_TRUE(w.apply("overworld", edit::Cell{{22, 21, 21}, kDirt}, src_).has_value());
  EXPECT_EQ(*w.block_cells("overworld", BlockPos{7, 7, 7}, src_), low_dirt);
}

TEST_F(WorldTest, RefusedEditsChangeNothing) {
  auto w = open_world();
  w.set_sparse({"void"});
  auto unknown = w.apply("overworld", edit::Set{{0, 0, 0}, 999}, src_);
  ASSERT_FALSE(unknown.has_value());
  EXPECT_EQ(unknown.error().kind, EditErrorKind::UnknownMaterial);
  EXPECT_EQ(unknown.error().message(), "material id 999 is not registered on this server");
  EXPECT_EQ(src_.generated, 0);
  EXPECT_TRUE(w.resident_domains().empty());

  auto sparse = w.apply("void", edit::Set{{17, -1, 3}, kStone}, src_);
  ASSERT_FALSE(sparse.has_value());
  EXPECT_EQ(sparse.error().kind, EditErrorKind::Unreachable);
  EXPECT_EQ(ostrel_core::report(sparse.error()),
            "could not reach the chunk holding ChunkPos { x: 1, y: -1, z: 0 }\n"
            "  caused by: domain `void` holds no voxels; it takes entities and nothing else");
  auto chunk = w.chunk("void", ChunkPos{}, src_);
  ASSERT_FALSE(chunk.has_value());
  EXPECT_EQ(chunk.error().kind, ostrel_core::persist::WorldErrorKind::NoVoxels);
  EXPECT_EQ(src_.generated, 0);
}

TEST_F(WorldTest, SummaryLevelsOutsideOneToFiveAreRefused) {
  auto w = open_world();
  for (std::uint8_t level : {0, 6}) {
    auto got = w.summary_stored("overworld", level, ChunkPos{});
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().message(), fmt::format("there is no LOD level {}; levels run 1..=5", level));
  }
  EXPECT_EQ(*w.summary_stored("overworld", 1, ChunkPos{}), std::nullopt);  // never stored
  ASSERT_TRUE(w.chunk("overworld", ChunkPos{}, src_).has_value());
  // Dirty: built from the resident chunk and not stored.
  ASSERT_TRUE(w.summary_stored("overworld", 1, ChunkPos{})->has_value());
  EXPECT_EQ(w.db().summary_rows(), 0u);
  w.save_dirty_within(milliseconds(100));
  ASSERT_TRUE(w.summary_stored("overworld", 2, ChunkPos{})->has_value());
  EXPECT_EQ(w.db().summary_rows(), 5u);
  // The next write of the chunk takes its summaries with it.
  ASSERT_TRUE(w.apply("overworld", edit::Set{{0, 0, 0}, 0}, src_).has_value());
  w.save_dirty_within(milliseconds(100));
  EXPECT_EQ(w.db().summary_rows(), 0u);
}

TEST_F(WorldTest, SummaryOfANeverStoredChunkIsStoredWithoutMakingItResident) {
  auto w = open_world();
  auto first = w.summary("overworld", 3, ChunkPos{4, 0, -4}, src_);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(src_.generated, 1);
  EXPECT_EQ(w.resident("overworld", ChunkPos{4, 0, -4}), nullptr);
  EXPECT_TRUE(w.space_of("overworld").dirty.empty());
  EXPECT_EQ(w.db().summary_rows(), 5u);
  auto again = w.summary("overworld", 3, ChunkPos{4, 0, -4}, src_);
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(*again, *first);
  EXPECT_EQ(src_.generated, 1);  // read back from storage
}

TEST_F(WorldTest, ResidentListingsAreSorted) {
  auto w = open_world();
  for (ChunkPos p : {ChunkPos{1, 0, 0}, ChunkPos{-1, 5, 0}, ChunkPos{-1, -5, 2}, ChunkPos{0, 0, 0}}) {
    ASSERT_TRUE(w.chunk("b", p, src_).has_value());
  }
  w.space_of("a");
  EXPECT_EQ(w.resident_positions("b"),
            (std::vector<ChunkPos>{{-1, -5, 2}, {-1, 5, 0}, {0, 0, 0}, {1, 0, 0}}));
  EXPECT_TRUE(w.resident_positions("none").empty());
  EXPECT_EQ(w.resident_domains(), (std::vector<std::string>{"a", "b"}));
}

TEST_F(WorldTest, UnloadKeepsDirtyChunksAndForgetDeletesRows) {
  auto w = open_world();
  ASSERT_TRUE(w.chunk("overworld", ChunkPos{1, 2, 3}, src_).has_value());
  EXPECT_FALSE(w.unload("overworld", ChunkPos{1, 2, 3}));
  EXPECT_EQ(w.save_dirty_within(milliseconds(100)).written, 1u);
  EXPECT_TRUE(w.unload("overworld", ChunkPos{1, 2, 3}));
  EXPECT_TRUE(w.take_arrived("overworld").empty());
  EXPECT_EQ(*w.load_stored("overworld", ChunkPos{1, 2, 3}), true);
  EXPECT_EQ(*w.load_stored("overworld", ChunkPos{9, 9, 9}), false);
  EXPECT_EQ(src_.generated, 1);  // loaded back, not generated again

  ASSERT_TRUE(w.chunk("t/a", ChunkPos{}, src_).has_value());
  w.save_dirty_within(milliseconds(100));
  EXPECT_EQ(chunk_rows(w, "t/a"), 1);
  ASSERT_TRUE(w.forget_domain("t/a").has_value());
  EXPECT_EQ(chunk_rows(w, "t/a"), 0);
  EXPECT_EQ(w.resident_domains(), (std::vector<std::string>{"overworld"}));
  EXPECT_FALSE(w.forget_domain("overworld").has_value());
  EXPECT_TRUE(w.resident("overworld", ChunkPos{1, 2, 3}) != nullptr);  // kept: the delete failed
}

TEST_F(WorldTest, AdoptingKeepsAChunkThatBecameResident) {
  auto w = open_world();
  ASSERT_TRUE(w.chunk("overworld", ChunkPos{}, src_).has_value());
  ASSERT_TRUE(w.adopt_generated("overworld", ChunkPos{}, Chunk::filled(ChunkPos{}, kDirt), {}).has_value());
  EXPECT_EQ(w.resident("overworld", ChunkPos{})->get_block(BlockPos{})->material(), kStone);
  ASSERT_TRUE(w.adopt_generated("overworld", ChunkPos{0, 1, 0}, Chunk::filled(ChunkPos{0, 1, 0}, kDirt), {})
                  .has_value());
  EXPECT_EQ(w.space_of("overworld").dirty, (std::vector<ChunkPos>{{0, 0, 0}, {0, 1, 0}}));
  EXPECT_EQ(w.take_arrived("overworld"), (std::vector<ChunkPos>{{0, 0, 0}, {0, 1, 0}}));
}

// A host whose generator always raises.
class FailingHost final : public ScriptHost {
 public:
  std::expected<Chunk, ScriptError> generate_chunk(std::string_view, std::uint64_t, ChunkPos) override {
    ++calls;
    return std::unexpected(ScriptError::runtime("m", "generate", "boom"));
  }
  std::expected<Tint, ScriptError> chunk_tint(std::string_view, std::uint64_t, ChunkPos) override {
    return std::unexpected(ScriptError::runtime("m", "tint", "boom"));
  }
  std::expected<std::optional<ostrel_core::proto::ChunkFog>, ScriptError> chunk_fog(std::string_view,
                                                                                    std::uint64_t,
                                                                                    ChunkPos) override {
    return std::unexpected(ScriptError::runtime("m", "fog", "boom"));
  }
  void fault(std::string_view) override {}
  std::vector<std::string> faulted_mods() const override { return {"m"}; }
  std::expected<std::vector<ScriptError>, ScriptError> tick(std::uint64_t) override {
    return std::unexpected(ScriptError::vm("lua", "state lost"));
  }
  std::vector<std::string> entity_steppers() const override { return {"b", "a", "c"}; }
  std::expected<std::optional<ScriptError>, ScriptError> entity_step(std::string_view mod_id,
                                                                     std::span<const std::uint64_t> entities,
                                                                     std::uint32_t) override {
    stepped.emplace_back(mod_id);
    stepped_entities += entities.size();
    if (mod_id == "a") return std::unexpected(ScriptError::vm("lua", "state lost"));
    if (mod_id == "b") return ScriptError::runtime("b", "entity step", "boom");
    return std::nullopt;
  }
  int calls = 0;
  std::vector<std::string> stepped;
  std::size_t stepped_entities = 0;
};

TEST_F(WorldTest, FailedGenerationIsNeverStoredAndIsRetriedOnTheNextLoad) {
  auto w = open_world();
  auto host = std::make_unique<FailingHost>();
  FailingHost* h = host.get();
  Generator gen(std::move(host));
  test::LogLines logs;
  auto got = w.chunk("overworld", ChunkPos{2, 0, 0}, gen);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ((*got)->get_block(BlockPos{32, 0, 0})->material(), 0);
  EXPECT_TRUE(w.space_of("overworld").dirty.empty());
  EXPECT_EQ(logs.count("ERROR"), 2);
  EXPECT_EQ(logs.count("chunk generation failed, falling back to air"), 1);
  EXPECT_EQ(w.save_dirty_within(milliseconds(100)).written, 0u);
  EXPECT_EQ(chunk_rows(w, "overworld"), 0);
  ASSERT_TRUE(w.unload("overworld", ChunkPos{2, 0, 0}));
  ASSERT_TRUE(w.chunk("overworld", ChunkPos{2, 0, 0}, gen).has_value());
  EXPECT_EQ(h->calls, 2);
  EXPECT_EQ(gen.tint("overworld", ChunkPos{}, 1), kDefaultTint);
  EXPECT_EQ(gen.fog("overworld", ChunkPos{}, 1), std::nullopt);
}

std::int64_t summary_rows(World& w) {
  auto stmt = w.db().connection().prepare("SELECT COUNT(*) FROM chunk_summaries");
  EXPECT_TRUE(stmt && *stmt->step());
  return stmt->column_i64(0);
}

TEST_F(WorldTest, AStandInRefusesEditsAndNothingOfItIsEverStored) {
  auto w = open_world();
  StoneSource flaky;
  flaky.failing = true;
  const ChunkPos at{2, 0, 0};
  ASSERT_TRUE(w.chunk("overworld", at, flaky).has_value());
  EXPECT_TRUE(w.is_stand_in("overworld", at));

  auto edit = w.apply("overworld", edit::Set{BlockPos{33, 5, 0}, kDirt}, flaky);
  ASSERT_FALSE(edit.has_value());
  EXPECT_EQ(edit.error().kind, EditErrorKind::StandIn);
  EXPECT_EQ(edit.error().message(), "this chunk could not be generated; it cannot be changed until it is");
  EXPECT_EQ(w.resident("overworld", at)->get_block(BlockPos{33, 5, 0})->material(), 0);
  EXPECT_TRUE(w.space_of("overworld").dirty.empty());

  // Summaries of the stand-in are answered, never stored.
  EXPECT_EQ(*w.summary_stored("overworld", 1, at), std::nullopt);
  EXPECT_TRUE(w.summary("overworld", 1, at, flaky).has_value());
  const Chain chain = *World::encode_chain(*w.resident("overworld", at), {}, {}, w.db().materials());
  EXPECT_TRUE(w.adopt_summaries("overworld", 1, at, chain).has_value());
  EXPECT_EQ(w.save_dirty_within(milliseconds(100)).written, 0u);
  EXPECT_EQ(chunk_rows(w, "overworld"), 0);
  EXPECT_EQ(summary_rows(w), 0);

  // Generation works again: the next load generates the chunk, which takes edits and is saved.
  flaky.failing = false;
  ASSERT_TRUE(w.unload("overworld", at));
  ASSERT_TRUE(w.chunk("overworld", at, flaky).has_value());
  EXPECT_FALSE(w.is_stand_in("overworld", at));
  EXPECT_EQ(w.resident("overworld", at)->get_block(BlockPos{33, 5, 0})->material(), kStone);
  ASSERT_TRUE(w.apply("overworld", edit::Set{BlockPos{33, 5, 0}, kDirt}, flaky).has_value());
  EXPECT_EQ(w.save_dirty_within(milliseconds(100)).written, 1u);
  EXPECT_EQ(chunk_rows(w, "overworld"), 1);
}

TEST_F(WorldTest, AdoptingKnowsStandInsAndReplacesThemWithRealChunks) {
  auto w = open_world();
  const ChunkPos at{0, 3, 0};
  auto stand_in = air_stand_in(at);
  ASSERT_TRUE(w.adopt_generated("overworld", at, std::move(stand_in.chunk), {}, true).has_value());
  EXPECT_TRUE(w.is_stand_in("overworld", at));
  EXPECT_TRUE(w.space_of("overworld").dirty.empty());
  // Another stand-in changes nothing; a real chunk takes its place and is dirty.
  ASSERT_TRUE(w.adopt_generated("overworld", at, Chunk::filled(at, kDirt), {}, true).has_value());
  EXPECT_EQ(w.resident("overworld", at)->get_block(BlockPos{0, 48, 0})->material(), 0);
  ASSERT_TRUE(w.adopt_generated("overworld", at, Chunk::filled(at, kStone), {}).has_value());
  EXPECT_FALSE(w.is_stand_in("overworld", at));
  EXPECT_EQ(w.resident("overworld", at)->get_block(BlockPos{0, 48, 0})->material(), kStone);
  EXPECT_EQ(w.space_of("overworld").dirty, (std::vector<ChunkPos>{at}));
}

TEST(Generator, EntityStepsRunOnlyModsWithEntriesInEngineOrder) {
  auto host = std::make_unique<FailingHost>();
  FailingHost* h = host.get();
  Generator gen(std::move(host));
  EXPECT_TRUE(gen.entity_step({}, 1).empty());
  EXPECT_TRUE(h->stepped.empty());
  test::LogLines logs;
  auto failed = gen.entity_step({{"a", {1}}, {"b", {2, 3}}, {"z", {4}}}, 1);
  EXPECT_EQ(h->stepped, (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(h->stepped_entities, 3u);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0], ScriptError::runtime("b", "entity step", "boom"));
  EXPECT_EQ(logs.count("script VM failed during an entity step"), 1);
  EXPECT_TRUE(gen.tick(5).empty());
  EXPECT_EQ(logs.count("script VM failed during tick"), 1);
}

TEST(Generator, WithoutHostAnswersDefaults) {
  Generator gen;
  auto g = gen.generate_with_fluid("overworld", ChunkPos{1, 1, 1}, 5);
  EXPECT_FALSE(g.stand_in);
  EXPECT_TRUE(g.fluid.empty());
  EXPECT_EQ(g.chunk, Chunk::filled(ChunkPos{1, 1, 1}, 0));
  EXPECT_EQ(gen.tint("overworld", ChunkPos{}, 5), (Tint{128, 128, 128}));
  EXPECT_EQ(gen.fog("overworld", ChunkPos{}, 5), std::nullopt);
  EXPECT_TRUE(gen.faulted().empty());
  EXPECT_TRUE(gen.tick(1).empty());
}

TEST_F(WorldTest, SaveWritesOneBatchOf32PerDomainInOrder) {
  auto w = open_world();
  dirty_chunks(w, src_, "overworld", 100);
  auto first = w.save_dirty_within(milliseconds(1000));
  EXPECT_EQ(first.written, 32u);
  EXPECT_EQ(first.left, 68u);
  EXPECT_EQ(chunk_rows(w, "overworld"), 32);
  const auto& dirty = w.space_of("overworld").dirty;
  ASSERT_EQ(dirty.size(), 68u);
  for (int i = 0; i < 68; ++i) EXPECT_EQ(dirty[i], (ChunkPos{32 + i, 0, 0}));
  // The first 32 are clean: they unload.
  EXPECT_TRUE(w.unload("overworld", ChunkPos{31, 0, 0}));
  EXPECT_FALSE(w.unload("overworld", ChunkPos{32, 0, 0}));
  auto calls = w.calls().take().calls;
  EXPECT_EQ(
      std::count_if(calls.begin(), calls.end(), [](const auto& c) { return c.label == "save chunk batch"; }),
      1);
}

TEST_F(WorldTest, SpentBudgetCountsLaterDomainsAsLeft) {
  auto w = open_world();
  dirty_chunks(w, src_, "a", 3);
  dirty_chunks(w, src_, "b", 5);
  auto got = w.save_dirty_within(std::chrono::nanoseconds(0));
  EXPECT_EQ(got.written, 3u);
  EXPECT_EQ(got.left, 5u);
  EXPECT_EQ(chunk_rows(w, "b"), 0);
  EXPECT_EQ(w.space_of("b").dirty.size(), 5u);
}

TEST_F(WorldTest, EvictedDirtyChunkIsWarnedAndDropped) {
  auto w = open_world();
  dirty_chunks(w, src_, "overworld", 3);
  w.space_of("overworld").chunks.erase(ChunkPos{1, 0, 0});
  test::LogLines logs;
  auto got = w.save_dirty_within(milliseconds(100));
  EXPECT_EQ(got.written, 2u);
  EXPECT_EQ(got.left, 0u);
  EXPECT_TRUE(w.space_of("overworld").dirty.empty());
  EXPECT_EQ(logs.count("a dirty chunk was evicted before it could be saved"), 1);
}

int refuse_commits(void* remaining) {
  auto* n = static_cast<int*>(remaining);
  if (*n == 0) return 0;
  --*n;
  return 1;  // non-zero turns the commit into a rollback
}

TEST_F(WorldTest, FailedCommitPutsTheBatchBackAtTheEnd) {
  auto w = open_world();
  dirty_chunks(w, src_, "overworld", 34);
  int refusals = 1;
  sqlite3_commit_hook(w.db().connection().handle(), &refuse_commits, &refusals);
  test::LogLines logs;
  auto got = w.save_dirty_within(milliseconds(100));
  EXPECT_EQ(got.written, 0u);
  EXPECT_EQ(got.left, 34u);
  EXPECT_EQ(logs.count("could not save 32 chunks"), 1);
  EXPECT_EQ(chunk_rows(w, "overworld"), 0);
  const auto& dirty = w.space_of("overworld").dirty;
  ASSERT_EQ(dirty.size(), 34u);
  EXPECT_EQ(dirty[0], (ChunkPos{32, 0, 0}));
  EXPECT_EQ(dirty[1], (ChunkPos{33, 0, 0}));
  EXPECT_EQ(dirty[2], (ChunkPos{0, 0, 0}));
  EXPECT_EQ(dirty[33], (ChunkPos{31, 0, 0}));
  EXPECT_FALSE(w.db().connection().in_transaction());
  // The next save starts with the positions that were behind the failed batch.
  EXPECT_EQ(w.save_dirty_within(milliseconds(100)).written, 32u);
  EXPECT_TRUE(w.resident("overworld", ChunkPos{33, 0, 0}) != nullptr);
  EXPECT_FALSE(w.space_of("overworld").is_dirty(ChunkPos{33, 0, 0}));
  sqlite3_commit_hook(w.db().connection().handle(), nullptr, nullptr);
}

TEST_F(WorldTest, AChunkThatCannotBeEncodedStaysDirtyAndTheRestOfItsBatchIsWritten) {
  auto w = open_world();
  dirty_chunks(w, src_, "overworld", 32);
  // Runtime material 900 has no world id: this chunk cannot be encoded.
  w.space_of("overworld")
      .chunks.at(ChunkPos{5, 0, 0})
      .set_block_local(ostrel_core::coords::LocalPos{1, 2, 3}, block::BlockValue::whole(900));
  test::LogLines logs;
  auto got = w.save_dirty_within(milliseconds(100));
  EXPECT_EQ(got.written, 31u);
  EXPECT_EQ(got.left, 1u);
  EXPECT_EQ(chunk_rows(w, "overworld"), 31);
  EXPECT_EQ(w.space_of("overworld").dirty, (std::vector<ChunkPos>{{5, 0, 0}}));
  EXPECT_EQ(
      logs.count("a chunk could not be encoded and stays unsaved: chunk at (5, 0, 0) in domain `overworld`"),
      1);

  auto closed = World::close(std::move(w));
  ASSERT_FALSE(closed.has_value());
  EXPECT_EQ(closed.error().unsaved, 1u);
  ASSERT_NE(closed.error().source(), nullptr);
  EXPECT_EQ(closed.error().source()->message(), "chunk at (5, 0, 0) in domain `overworld`");
}

TEST_F(WorldTest, CloseWritesEveryDirtyChunkAndCheckpoints) {
  {
    auto w = open_world();
    dirty_chunks(w, src_, "overworld", 70);
    ASSERT_TRUE(World::close(std::move(w)).has_value());
  }
  auto w = open_world();
  EXPECT_EQ(chunk_rows(w, "overworld"), 70);
  for (int x = 0; x < 70; ++x) EXPECT_EQ(*w.load_stored("overworld", ChunkPos{x, 0, 0}), true);
}

TEST_F(WorldTest, CloseOverAFailingDatabaseNamesTheUnwrittenChunks) {
  auto w = open_world();
  dirty_chunks(w, src_, "overworld", 40);
  ASSERT_TRUE(
      w.db()
          .connection()
          .exec(
              "CREATE TRIGGER refuse BEFORE INSERT ON chunks BEGIN SELECT RAISE(ABORT, 'disk says no'); END;")
          .has_value());
  auto closed = World::close(std::move(w));
  ASSERT_FALSE(closed.has_value());
  EXPECT_EQ(closed.error().unsaved, 40u);
  EXPECT_EQ(closed.error().message(), "40 chunks were not written when the world closed");
  ASSERT_NE(closed.error().source(), nullptr);
}

}  // namespace
}  // namespace ostrel_server::world
