#include "persist/world_db.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "persist/schema.hpp"
#include "support/hex.hpp"
#include "support/temp_dir.hpp"
#include "support/write_file.hpp"
#include "world/material.hpp"

namespace ostrel_core::persist {
namespace {

using test::file_bytes;
using test::from_hex;
using test::TempDir;

WorldDb open_world(const std::filesystem::path& file) {
  material::Registry registry;
  auto conn = sqlite::Connection::open(file);
  EXPECT_TRUE(conn.has_value());
  auto world = WorldDb::from_connection(std::move(*conn), file, registry);
  if (!world) ADD_FAILURE() << report(world.error());
  return std::move(*world);
}

// Opens `file` as a world that must be refused, on a read-write connection as the server does;
// answers the refusal.
WorldError refused_open(const std::filesystem::path& file) {
  material::Registry registry;
  auto db = sqlite::Connection::open(file);
  EXPECT_TRUE(db.has_value());
  auto world = WorldDb::from_connection(std::move(*db), file, registry);
  EXPECT_FALSE(world.has_value());
  return world ? WorldError{} : world.error();
}

std::vector<std::string> names_of(sqlite::Connection& db, const char* type) {
  auto stmt = db.prepare("SELECT name FROM sqlite_master WHERE type = ?1 AND name NOT LIKE 'sqlite_%' ORDER BY rowid");
  EXPECT_TRUE(stmt.has_value());
  EXPECT_TRUE(stmt->bind_text(1, type).has_value());
  std::vector<std::string> out;
  while (*stmt->step()) out.emplace_back(stmt->column_text(0));
  return out;
}

std::string text_of(const std::optional<std::vector<std::uint8_t>>& v) {
  return v ? std::string(v->begin(), v->end()) : "<absent>";
}

TEST(WorldDbOpen, NewWorldHasSchemaVersionsAndWal) {
  TempDir dir;
  auto world = open_world(dir / "world.sqlite");
  EXPECT_EQ(names_of(world.connection(), "table"),
            std::vector<std::string>(std::begin(schema::kTables), std::end(schema::kTables)));
  EXPECT_EQ(names_of(world.connection(), "index"),
            std::vector<std::string>(std::begin(schema::kIndexes), std::end(schema::kIndexes)));
  EXPECT_EQ(schema::kTables[13], "containers");  // the list itself is the one the schema promises
  EXPECT_EQ(std::size(schema::kTables), 14u);

  {
    auto mode = world.connection().prepare("PRAGMA journal_mode");
    ASSERT_TRUE(mode && *mode->step());
    EXPECT_EQ(mode->column_text(0), "wal");
  }

  EXPECT_EQ(*world.meta("schema_version"), from_hex("01 00 00 00 00 00 00 00"));
  EXPECT_EQ(text_of(*world.meta("engine_version")), "0.4.2");
  EXPECT_EQ(*world.meta("summary_rule"), from_hex("03 00 00 00 00 00 00 00"));
  EXPECT_EQ(world.summary_rows(), 0u);
  EXPECT_EQ(*world.materials().to_world(material::kAir), 0);
  EXPECT_EQ(*world.materials().to_world(material::kUnknown), 1);
  EXPECT_TRUE(world.wal_bytes().has_value());
  auto checkpoint = world.checkpoint();
  EXPECT_TRUE(checkpoint.has_value()) << report(checkpoint.error());
}

TEST(WorldDbOpen, OtherSchemaVersionIsRefusedAndFileLeftAlone) {
  TempDir dir;
  const auto file = dir / "world.sqlite";
  {
    auto db = sqlite::Connection::open(file);
    ASSERT_TRUE(db);
    ASSERT_TRUE(db->exec("CREATE TABLE meta (key TEXT PRIMARY KEY, value BLOB);"
                         "INSERT INTO meta VALUES ('schema_version', x'0200000000000000');"
                         "INSERT INTO meta VALUES ('engine_version', CAST('0.9.0' AS BLOB));"));
  }
  const auto before = file_bytes(file);
  ASSERT_FALSE(before.empty());
  const WorldError refusal = refused_open(file);
  EXPECT_EQ(refusal.kind, WorldErrorKind::SchemaVersion);
  EXPECT_EQ(refusal.message(),
            "world uses schema version 2, but this build understands 1 — the world was created by "
            "a different engine version");
  EXPECT_EQ(file_bytes(file), before);
  EXPECT_FALSE(std::filesystem::exists(dir / "world.sqlite-wal"));
}

TEST(WorldDbOpen, OtherSchemaVersionInAPendingLogIsRefusedAndEveryFileLeftAlone) {
  // A world whose engine stopped before checkpointing: its version 2 is only in the -wal file.
  TempDir live, dir;
  const auto file = dir / "world.sqlite";
  {
    auto db = sqlite::Connection::open(live / "world.sqlite");
    ASSERT_TRUE(db);
    ASSERT_TRUE(
        db->exec("PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0;"
                 "CREATE TABLE meta (key TEXT PRIMARY KEY, value BLOB);"
                 "INSERT INTO meta VALUES ('schema_version', x'0100000000000000');"
                 "PRAGMA wal_checkpoint(TRUNCATE);"
                 "UPDATE meta SET value = x'0200000000000000' WHERE key = 'schema_version';"));
    for (const char* suffix : {"", "-wal", "-shm"}) {
      std::filesystem::copy_file(live.path() / (std::string("world.sqlite") + suffix),
                                 dir.path() / (std::string("world.sqlite") + suffix));
    }
  }
  std::vector<std::vector<std::uint8_t>> before;
  for (const char* suffix : {"", "-wal", "-shm"}) {
    before.push_back(file_bytes(dir.path() / (std::string("world.sqlite") + suffix)));
  }
  ASSERT_FALSE(before[1].empty());  // the log holds the version
  const WorldError refusal = refused_open(file);
  EXPECT_EQ(refusal.kind, WorldErrorKind::SchemaVersion);
  EXPECT_EQ(refusal.found, 2);
  int i = 0;
  for (const char* suffix : {"", "-wal", "-shm"}) {
    SCOPED_TRACE(suffix);
    EXPECT_EQ(file_bytes(dir.path() / (std::string("world.sqlite") + suffix)), before[i++]);
  }
}

TEST(WorldDbOpen, MalformedSchemaVersionCountsAsAbsent) {
  TempDir dir;
  const auto file = dir / "world.sqlite";
  {
    auto world = open_world(file);
    ASSERT_TRUE(world.set_meta("schema_version", from_hex("01 00 00")));
  }
  auto world = open_world(file);
  EXPECT_EQ(*world.read_meta_i64("schema_version"), std::optional<std::int64_t>(1));
}

TEST(WorldDbOpen, OldSummaryRuleEmptiesSummariesOnce) {
  TempDir dir;
  const auto file = dir / "world.sqlite";
  {
    auto world = open_world(file);
    ASSERT_TRUE(world.connection().exec(
        "INSERT INTO chunk_summaries (domain, level, x, y, z, data) VALUES ('overworld', 1, 0, 0, 0, x'01');"
        "INSERT INTO chunk_summaries (domain, level, x, y, z, data) VALUES ('overworld', 2, 0, 0, 0, x'02');"));
    ASSERT_TRUE(world.write_meta_i64("summary_rule", 2));
  }
  {
    auto world = open_world(file);
    EXPECT_EQ(world.summary_rows(), 0u);
    EXPECT_EQ(*world.read_meta_i64("summary_rule"), std::optional<std::int64_t>(3));
    ASSERT_TRUE(world.connection().exec(
        "INSERT INTO chunk_summaries (domain, level, x, y, z, data) VALUES ('overworld', 1, 0, 0, 0, x'01');"));
  }
  auto world = open_world(file);
  EXPECT_EQ(world.summary_rows(), 1u);
  EXPECT_EQ(*world.load_summary("overworld", 1, {0, 0, 0}), from_hex("01"));
}

TEST(WorldDbMeta, I64ReadsOnlyEightBytes) {
  TempDir dir;
  auto world = open_world(dir / "world.sqlite");
  ASSERT_TRUE(world.write_meta_i64("time_of_day", -2));
  EXPECT_EQ(*world.meta("time_of_day"), from_hex("fe ff ff ff ff ff ff ff"));
  EXPECT_EQ(*world.read_meta_i64("time_of_day"), std::optional<std::int64_t>(-2));
  ASSERT_TRUE(world.set_meta("world_seed", from_hex("01 02 03 04 05 06 07")));
  EXPECT_EQ(*world.read_meta_i64("world_seed"), std::nullopt);
  ASSERT_TRUE(world.connection().exec("INSERT INTO meta VALUES ('nothing', NULL)"));
  EXPECT_EQ(*world.read_meta_i64("nothing"), std::nullopt);
  EXPECT_EQ(*world.read_meta_i64("absent"), std::nullopt);
  EXPECT_EQ(*world.meta("absent"), std::nullopt);
}

TEST(WorldOptions, ParseSkipsLinesWithoutIdOrTab) {
  struct Case {
    const char* name;
    const char* text;
    std::vector<WorldOption> want;
  };
  const Case cases[] = {
      {"four_lines", "a\t1\nb\n\tx\nc\t", {{"a", "1"}, {"c", ""}}},
      {"crlf", "a\t1\r\nb\t2\r", {{"a", "1"}, {"b", "2\r"}}},
      {"tab_in_value", "a\tx\ty", {{"a", "x\ty"}}},
      {"empty", "", {}},
      {"blank_lines", "\n\na\t \n", {{"a", " "}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parse_world_options(c.text), c.want);
  }
}

TEST(WorldOptions, WriteRoundTripsAndRefusesWhatWouldReadBackDifferently) {
  TempDir dir;
  auto world = open_world(dir / "world.sqlite");
  const std::vector<WorldOption> good{{"seed_text", "hello world"}, {"mode", ""}, {"x", "ü"}};
  ASSERT_TRUE(world.set_world_options(good));
  EXPECT_EQ(text_of(*world.meta("world_options")), "seed_text\thello world\nmode\t\nx\tü");
  EXPECT_EQ(*world.world_options(), good);

  const std::vector<WorldOption> bad[] = {
      {{"", "v"}}, {{"a\tb", "v"}}, {{"a\nb", "v"}}, {{"a\r", "v"}},
      {{"a", "x\ny"}}, {{"a", "x\r"}}, {{"a", "x\ty"}}};
  for (const auto& options : bad) {
    SCOPED_TRACE(options[0].first + "=" + options[0].second);
    auto r = world.set_world_options(options);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind, WorldErrorKind::WorldOption);
    EXPECT_EQ(*world.world_options(), good);  // nothing was written
  }
  EXPECT_EQ(world.set_world_options(bad[4]).error().message(),
            "world option `a`: its value: a line break would split it when read");

  ASSERT_TRUE(world.set_meta("world_options", from_hex("61 09 ff")));
  EXPECT_TRUE(world.world_options()->empty());
}

TEST(WorldOptions, PeekReadsWithoutCreatingAnything) {
  TempDir dir;
  EXPECT_EQ(*WorldDb::peek_world_options(dir / "missing.sqlite"), std::nullopt);
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.sqlite"));

  const auto empty = dir / "empty.sqlite";
  std::ofstream(empty).close();
  EXPECT_EQ(*WorldDb::peek_world_options(empty), std::nullopt);
  EXPECT_EQ(std::filesystem::file_size(empty), 0u);

  const auto file = dir / "world.sqlite";
  {
    auto world = open_world(file);
    EXPECT_EQ(*WorldDb::peek_world_options(file), std::nullopt);
    ASSERT_TRUE(world.set_world_options(std::vector<WorldOption>{{"a", "1"}}));
  }
  EXPECT_EQ(*WorldDb::peek_world_options(file), (std::vector<WorldOption>{{"a", "1"}}));

  const auto junk = dir / "junk.sqlite";
  std::ofstream(junk) << "this is not a database, only text that is long enough to be read";
  EXPECT_FALSE(WorldDb::peek_world_options(junk).has_value());
}

TEST(WorldDbOpen, WalBytesAbsentWithoutLog) {
  TempDir dir;
  auto conn = sqlite::Connection::open(dir / "world.sqlite");
  ASSERT_TRUE(conn);
  // The log is looked up beside the path the world was given.
  material::Registry registry;
  auto world = WorldDb::from_connection(std::move(*conn), dir / "elsewhere.sqlite", registry);
  ASSERT_TRUE(world);
  EXPECT_EQ(world->wal_bytes(), std::nullopt);
}

}  // namespace
}  // namespace ostrel_core::persist
