#include "persist/rows/entity_rows.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <optional>
#include <string>

#include "world/material.hpp"
#include "persist/records/entity_record.hpp"
#include "persist/schema.hpp"
#include "persist/world_db.hpp"
#include "support/hex.hpp"
#include "support/temp_dir.hpp"

namespace ostrel_core::persist {
namespace {

using coords::ChunkPos;
using ent::Entity;
using entity_rows::ChunkEntities;
using test::from_hex;
using test::to_hex;

constexpr const char* kOver = "overworld";

// `n` zero bytes as hex.
std::string zeros(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += "00 ";
  return s;
}

// A world whose ids differ from this run's: runtime m:a = 2, m:b = 3, but world m:a = 5,
// m:b = 4. Runtime id 50 has no world id; world id 77 has no runtime id.
class EntityRows : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto file = dir_ / "world.sqlite";
    auto conn = sqlite::Connection::open(file);
    ASSERT_TRUE(conn);
    ASSERT_TRUE(conn->exec(schema::kSchemaScript));
    ASSERT_TRUE(conn->exec("INSERT INTO id_map (string_id, numeric_id) VALUES ('m:b', 4), ('m:a', 5)"));
    material::Registry registry;
    ASSERT_TRUE(registry.register_material("m:a"));
    ASSERT_TRUE(registry.register_material("m:b"));
    auto w = WorldDb::from_connection(std::move(*conn), file, registry);
    ASSERT_TRUE(w) << report(w.error());
    world_.emplace(std::move(*w));
    ASSERT_EQ(*world_->materials().to_world(2), 5);
  }
  WorldDb& world() { return *world_; }
  std::int64_t count(const std::string& sql) {
    auto stmt = world().connection().prepare(sql);
    EXPECT_TRUE(stmt && *stmt->step());
    return stmt->column_i64(0);
  }
  void insert_row(ChunkPos pos, std::int64_t version, const std::vector<std::uint8_t>& data) {
    auto stmt = world().connection().prepare(
        "INSERT INTO entities (domain, chunk_x, chunk_y, chunk_z, version, data) VALUES (?1, ?2, ?3, ?4, ?5, "
        "?6)");
    ASSERT_TRUE(stmt);
    ASSERT_TRUE(bind_chunk(*stmt, kOver, pos));
    ASSERT_TRUE(stmt->bind_i64(5, version));
    ASSERT_TRUE(stmt->bind_blob(6, data));
    ASSERT_TRUE(stmt->run());
  }
  // The (version, data) rows of a chunk, in id order.
  std::vector<std::string> rows_of(ChunkPos pos) {
    auto stmt = world().connection().prepare(
        "SELECT version, data FROM entities WHERE chunk_x = ?2 AND chunk_y = ?3 AND chunk_z = ?4 AND domain "
        "= ?1 "
        "ORDER BY id");
    EXPECT_TRUE(bind_chunk(*stmt, kOver, pos));
    std::vector<std::string> out;
    while (*stmt->step()) {
      auto blob = stmt->column_blob(1);
      out.push_back(std::to_string(stmt->column_i64(0)) + ": " +
                    to_hex(std::vector<std::uint8_t>(blob.begin(), blob.end())));
    }
    return out;
  }

  test::TempDir dir_;
  std::optional<WorldDb> world_;
};

ent::component::PlayerUuid owner_bytes() {
  ent::component::PlayerUuid id{};
  for (std::size_t i = 0; i < id.bytes.size(); ++i) id.bytes[i] = static_cast<std::uint8_t>(i * 7);
  return id;
}

Entity full_entity() {
  Entity e;
  e.transform.chunk = {-1, 2, 300};
  e.transform.local = {1.5f, 47.25f, 0.0f};
  e.transform.yaw = 3.0f;
  e.transform.pitch = -0.5f;
  e.velocity = {0.25f, -1.0f, 0.0f};
  e.speed = 2.5f;
  e.collider = phys::Shape{1.8f, 5.4f};
  e.model = "engine:humanoid";
  e.health = ent::component::Health{10, 30};
  e.nametag = ent::component::NametagText{"Bob"};
  ent::component::Owner owner;
  owner.uuid.bytes.fill(0xAB);
  e.owner = owner;
  e.source = "mobs";
  e.opaque = std::vector<std::uint8_t>{0, 1, 2, 255};
  return e;
}

// The same entity as it comes back from a load: run-time state empty.
Entity as_loaded(Entity e) {
  Entity fresh;
  fresh.transform = e.transform;
  fresh.velocity = e.velocity;
  fresh.speed = e.speed;
  fresh.collider = e.collider;
  fresh.model = e.model;
  fresh.item = e.item;
  fresh.health = e.health;
  fresh.nametag = e.nametag;
  fresh.owner = e.owner;
  fresh.source = e.source;
  fresh.opaque = e.opaque;
  return fresh;
}

TEST(EntityRecord, WritesTheDocumentedBytes) {
  Entity e;
  e.source = "m";
  EXPECT_EQ(to_hex(entity_record::encode(e)),
            to_hex(from_hex("00 00 00" + zeros(32) + "00 00 80 3f 00 00 00 00 00 00 01 6d 00")));

  inventory::Stack cut;
  cut.material = 2;
  cut.units = 3;
  cut.cells.emplace();
  cut.cells->fill(0);
  (*cut.cells)[0] = 2;
  (*cut.cells)[26] = 300;
  e.item = cut;
  e.speed = 0.0f;
  // item: 01, material 02, count 03, no occupancy, cells 02 then 25 zeros then AC 02, no text.
  EXPECT_EQ(to_hex(entity_record::encode(e)),
            to_hex(from_hex("00 00 00" + zeros(32) + "00 00 00 00 00 00 01 02 03 00 01 02" + zeros(25) +
                            "ac 02 00 00 00 00 01 6d 00")));
}

TEST_F(EntityRows, PlainEntityRoundTripsAndComesBackWithEmptyRunTimeState) {
  Entity e = full_entity();
  e.nametag = ent::component::NametagPlayer{owner_bytes()};
  e.hands.main = inventory::Stack{2, 27, {}, {}, {}};
  e.anim = 4;
  e.tint = {1, 2, 3};
  e.on_ground = true;
  e.flash = ent::component::TintFlash{{9, 9, 9}, 4, 2};
  Entity marker;
  marker.source = "engine:player";
  const ChunkEntities batch[] = {{{-1, 2, 300}, {e, marker}}};
  ASSERT_TRUE(entity_rows::save_chunk_entities_batch_in(world(), kOver, batch));
  auto back = entity_rows::load_chunk_entities_in(world(), kOver, {-1, 2, 300});
  ASSERT_TRUE(back) << report(back.error());
  ASSERT_EQ(back->size(), 2u);
  EXPECT_EQ((*back)[0], as_loaded(e));
  EXPECT_EQ((*back)[0].tint, (ent::component::Rgb{255, 255, 255}));
  EXPECT_EQ((*back)[1], marker);
  // Another domain and a neighbouring chunk hold nothing.
  EXPECT_TRUE(entity_rows::load_chunk_entities_in(world(), "nether", {-1, 2, 300})->empty());
  EXPECT_TRUE(entity_rows::load_chunk_entities_in(world(), kOver, {-1, 2, 301})->empty());
}

TEST_F(EntityRows, CutPieceItemRoundTripsItsCellsInWorldIds) {
  inventory::Cells cells{};
  for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = i < 9 ? 2 : (i < 18 ? 3 : 0);
  auto stack = inventory::Stack::of_cells(cells, 36);
  ASSERT_TRUE(stack);
  stack->detail = "chiselled";
  Entity e;
  e.source = "drops";
  e.item = *stack;
  const ChunkEntities batch[] = {{{0, 0, 0}, {e}}};
  ASSERT_TRUE(entity_rows::save_chunk_entities_batch_in(world(), kOver, batch));

  // On disk: world ids (m:a 5, m:b 4), 27 cell varints with no count.
  auto rows = rows_of({0, 0, 0});
  ASSERT_EQ(rows.size(), 1u);
  const std::string item_hex =
      to_hex(from_hex("01 05 24 01 ff ff 0f 01 05 05 05 05 05 05 05 05 05 04 04 04 04 04 04 "
                      "04 04 04 00 00 00 00 00 00 00 00 00 01 09"));
  EXPECT_NE(rows[0].find(item_hex), std::string::npos) << rows[0];
  EXPECT_EQ(rows[0].substr(0, 3), "4: ");

  auto back = entity_rows::load_chunk_entities_in(world(), kOver, {0, 0, 0});
  ASSERT_TRUE(back) << report(back.error());
  ASSERT_EQ(back->size(), 1u);
  EXPECT_EQ((*back)[0].item, stack);
}

struct StoredRow {
  const char* name;
  std::int64_t version;
  std::string hex;
  const char* want;  // the error's message, or nullptr when the row loads
};

// Hand-made rows. Transform and velocity are zero; v1 has health (10, 30) and source "m".
const std::string kV1 = "00 00 00" + zeros(32) + "00 00 01 0a 1e 00 00 01 6d 00";
const std::string kV2 =
    "00 00 00" + zeros(32) + "00 00 00 40 00 00 01 05 36 00 01 03 6f 72 65 00 00 00 01 6d 00";
const std::string kV4Bad = "00 00 00" + zeros(32) + "00 00 00 40 07";

TEST_F(EntityRows, OlderVersionsUpgradeAndOthersFailTheLoad) {
  const StoredRow rows[] = {
      {"version_1", 1, kV1, nullptr},
      {"version_2", 2, kV2, nullptr},
      {"version_3", 3, kV2, nullptr},
      {"version_0", 0, kV1,
       "entity in chunk (7, 0, 0) in domain `overworld`: no migration step from format version 0"},
      {"version_5", 5, kV1,
       "entity in chunk (7, 0, 0) in domain `overworld`: no migration step from format version 5"},
      {"version_300", 300, kV1,
       "entity in chunk (7, 0, 0) in domain `overworld`: stored in format version 300, this build writes 4"},
      {"version_minus_1", -1, kV1,
       "entity in chunk (7, 0, 0) in domain `overworld`: stored in format version -1, this build writes 4"},
      {"version_1_truncated", 1, "00 00 00" + zeros(10),
       "entity in chunk (7, 0, 0) in domain `overworld`: a blob does not decode as format version 1"},
      {"option_byte_7", 4, kV4Bad,
       "entity in chunk (7, 0, 0) in domain `overworld`: an option byte is not 0 or 1"},
      {"nametag_variant_2", 4, "00 00 00" + zeros(32) + "00 00 80 3f 00 00 00 00 01 02 00 00 01 6d 00",
       "entity in chunk (7, 0, 0) in domain `overworld`: a name tag variant is not 0 or 1"},
      {"item_world_id_77", 4,
       "00 00 00" + zeros(32) + "00 00 80 3f 00 00 01 4d 1b 00 00 00 00 00 00 01 6d 00",
       "entity in chunk (7, 0, 0) in domain `overworld`: the stack it is names no material of this world: "
       "world material id 77 is not in this world's id table"},
  };
  const ChunkPos pos{7, 0, 0};
  for (const auto& c : rows) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(world().connection().exec("DELETE FROM entities"));
    insert_row(pos, c.version, from_hex(c.hex));
    auto got = entity_rows::load_chunk_entities_in(world(), kOver, pos);
    if (c.want) {
      ASSERT_FALSE(got);
      EXPECT_EQ(got.error().kind, WorldErrorKind::Entity);
      EXPECT_EQ(got.error().message(), c.want);
      continue;
    }
    ASSERT_TRUE(got) << report(got.error());
    ASSERT_EQ(got->size(), 1u);
    const Entity& e = (*got)[0];
    EXPECT_EQ(e.source, "m");
    if (c.version == 1) {
      EXPECT_EQ(e.speed, 1.0f);
      EXPECT_FALSE(e.item);
      EXPECT_EQ(e.health, (ent::component::Health{10, 30}));
    } else {
      EXPECT_EQ(e.speed, 2.0f);
      ASSERT_TRUE(e.item);
      EXPECT_EQ(e.item->material, 2);  // world 5 is m:a
      EXPECT_EQ(e.item->units, 54u);
      EXPECT_EQ(e.item->detail, "ore");
      EXPECT_FALSE(e.item->cells);
    }
  }
}

TEST_F(EntityRows, OneBadRowFailsTheChunkAndLeavesItsRowsStored) {
  const ChunkPos pos{1, 1, 1};
  const ChunkEntities batch[] = {{pos, {full_entity(), full_entity()}}};
  ASSERT_TRUE(entity_rows::save_chunk_entities_batch_in(world(), kOver, batch));
  insert_row(pos, 4, from_hex(kV4Bad));
  const auto before = rows_of(pos);
  auto got = entity_rows::load_chunk_entities_in(world(), kOver, pos);
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().kind, WorldErrorKind::Entity);
  EXPECT_EQ(rows_of(pos), before);
}

TEST_F(EntityRows, MigrationErrorsNameTheirVersions) {
  auto none = entity_record::migrate_entity(4, from_hex(kV1));
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error().debug(), "MigrationError::NoStep { from: 4 }");
  auto bad = entity_record::migrate_entity(2, from_hex("00"));
  ASSERT_FALSE(bad);
  EXPECT_EQ(report(bad.error()),
            "a blob does not decode as format version 2\n  caused by: the record ends inside a field");
}

TEST_F(EntityRows, BatchWithAnUnnamedItemWritesNothing) {
  const ChunkPos a{0, 0, 0}, b{1, 0, 0};
  const ChunkEntities first[] = {{a, {full_entity()}}};
  ASSERT_TRUE(entity_rows::save_chunk_entities_batch_in(world(), kOver, first));
  const auto before = rows_of(a);

  Entity stray;
  stray.source = "drops";
  stray.item = inventory::Stack{50, 27, {}, {}, {}};
  Entity cut;
  cut.source = "drops";
  inventory::Cells cells{};
  cells.fill(2);
  cells[4] = 50;
  cut.item = inventory::Stack::of_cells(cells, 27);
  struct Case {
    const char* name;
    Entity bad;
    const char* want;
  };
  const Case cases[] = {
      {"material", stray,
       "entity in chunk (1, 0, 0) in domain `overworld`: the stack it is cannot be named on disk: runtime "
       "material "
       "id 50 was never reconciled against this world"},
      {"cell", cut,
       "entity in chunk (1, 0, 0) in domain `overworld`: a cell of the stack it is cannot be named on disk"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ChunkEntities batch[] = {{a, {}}, {b, {full_entity(), c.bad}}};
    auto r = entity_rows::save_chunk_entities_batch_in(world(), kOver, batch);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), c.want);
    EXPECT_EQ(rows_of(a), before);
    EXPECT_TRUE(rows_of(b).empty());
  }
}

TEST_F(EntityRows, StatementFailureMidBatchRollsBack) {
  const ChunkPos a{0, 0, 0}, b{9, 0, 0};
  const ChunkEntities first[] = {{a, {full_entity()}}, {b, {}}};
  ASSERT_TRUE(entity_rows::save_chunk_entities_batch_in(world(), kOver, first));
  const auto before = rows_of(a);
  ASSERT_TRUE(
      world().connection().exec("CREATE TRIGGER refuse_nine BEFORE INSERT ON entities WHEN NEW.chunk_x = 9 "
                                "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
  Entity other;
  other.source = "other";
  const ChunkEntities batch[] = {{a, {other, other}}, {b, {other}}};
  auto r = entity_rows::save_chunk_entities_batch_in(world(), kOver, batch);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().kind, WorldErrorKind::Sql);
  EXPECT_FALSE(world().connection().in_transaction());
  EXPECT_EQ(rows_of(a), before);
  EXPECT_TRUE(rows_of(b).empty());
}

TEST_F(EntityRows, EmptyListDeletesTheChunksRows) {
  const ChunkPos a{0, 0, 0};
  const ChunkEntities first[] = {{a, {full_entity(), full_entity()}}};
  ASSERT_TRUE(entity_rows::save_chunk_entities_batch_in(world(), kOver, first));
  ASSERT_EQ(rows_of(a).size(), 2u);
  const ChunkEntities none[] = {{a, {}}};
  ASSERT_TRUE(entity_rows::save_chunk_entities_batch_in(world(), kOver, none));
  EXPECT_TRUE(rows_of(a).empty());
}

int count_commit(void* n) {
  ++*static_cast<int*>(n);
  return 0;
}

TEST_F(EntityRows, ThirtyTwoChunksAreSavedInOneCommit) {
  std::vector<ChunkEntities> batch;
  for (int c = 0; c < 32; ++c) {
    ChunkEntities chunk{{c, -c, 0}, {}};
    for (int i = 0; i < 10; ++i) {
      Entity e = full_entity();
      e.transform.chunk = chunk.pos;
      e.health = ent::component::Health{static_cast<std::uint32_t>(i), 30};
      chunk.entities.push_back(e);
    }
    batch.push_back(std::move(chunk));
  }
  int commits = 0;
  sqlite3_commit_hook(world().connection().handle(), count_commit, &commits);
  ASSERT_TRUE(entity_rows::save_chunk_entities_batch_in(world(), kOver, batch));
  sqlite3_commit_hook(world().connection().handle(), nullptr, nullptr);
  EXPECT_EQ(commits, 1);
  EXPECT_EQ(count("SELECT COUNT(*) FROM entities"), 320);
  auto back = entity_rows::load_chunk_entities_in(world(), kOver, {31, -31, 0});
  ASSERT_TRUE(back);
  ASSERT_EQ(back->size(), 10u);
  for (std::uint32_t i = 0; i < 10; ++i) EXPECT_EQ((*back)[i].health->current, i);  // insertion order
}

}  // namespace
}  // namespace ostrel_core::persist
