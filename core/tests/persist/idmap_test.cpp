#include "persist/idmap.hpp"

#include <gtest/gtest.h>

#include "fluid/fluid.hpp"
#include "fluid/layer.hpp"
#include "persist/fluidmap.hpp"
#include "persist/records/cutcells.hpp"
#include "persist/schema.hpp"
#include "persist/world_db.hpp"
#include "support/temp_dir.hpp"
#include "support/write_file.hpp"
#include "world/material.hpp"

namespace ostrel_core::persist {
namespace {

using idmap::IdMapErrorKind;
using material::Registry;
using test::file_bytes;
using test::TempDir;

// Opens (creating) the world with `registry`, after running `setup` SQL on the bare file.
std::expected<WorldDb, WorldError> open_with(const TempDir& dir, Registry& registry, const char* setup = nullptr) {
  const auto file = dir / "world.sqlite";
  auto conn = sqlite::Connection::open(file);
  EXPECT_TRUE(conn);
  if (setup) {
    auto r = conn->exec(schema::kSchemaScript);
    EXPECT_TRUE(r);
    EXPECT_TRUE(conn->exec(setup)) << setup;
  }
  return WorldDb::from_connection(std::move(*conn), file, registry);
}

Registry registry_of(std::initializer_list<const char*> names) {
  Registry r;
  for (const char* n : names) EXPECT_TRUE(r.register_material(n));
  return r;
}

std::map<std::string, std::int64_t> rows_of(WorldDb& world, const char* table) {
  auto stmt = world.connection().prepare(std::string("SELECT string_id, numeric_id FROM ") + table);
  std::map<std::string, std::int64_t> out;
  while (*stmt->step()) out[std::string(stmt->column_text(0))] = stmt->column_i64(1);
  return out;
}

TEST(MaterialReconcile, NewWorldMapsEveryIdToItself) {
  TempDir dir;
  auto registry = registry_of({"m:a", "m:b"});
  auto world = open_with(dir, registry);
  ASSERT_TRUE(world) << report(world.error());
  EXPECT_EQ(rows_of(*world, "id_map"),
            (std::map<std::string, std::int64_t>{{"engine:air", 0}, {"engine:unknown", 1}, {"m:a", 2}, {"m:b", 3}}));
  const auto& map = world->materials();
  EXPECT_FALSE(map.identity);
  EXPECT_EQ(map.forward, (std::vector<idmap::WorldId>{0, 1, 2, 3}));
  for (idmap::WorldId id = 0; id < 4; ++id) EXPECT_EQ(*map.to_runtime(id), id);
  EXPECT_TRUE(map.placeholders.empty());
}

TEST(MaterialReconcile, WorldNamesWithoutModBecomePlaceholders) {
  TempDir dir;
  auto registry = registry_of({"m:b"});
  auto world = open_with(dir, registry, "INSERT INTO id_map VALUES ('m:a', 2), ('m:b', 3);");
  ASSERT_TRUE(world) << report(world.error());
  const auto& map = world->materials();
  EXPECT_EQ(registry.id_of("m:a"), std::optional<material::MaterialId>(3));
  EXPECT_EQ(map.placeholders, (std::set<material::MaterialId>{3}));
  EXPECT_EQ(*map.to_world(2), 3);
  EXPECT_EQ(*map.to_world(3), 2);
  EXPECT_EQ(*map.to_runtime(3), 2);
  EXPECT_EQ(*map.to_runtime(2), 3);
}

TEST(MaterialReconcile, NewNameTakesLowestFreeId) {
  TempDir dir;
  auto registry = registry_of({"m:a", "m:d"});
  auto world = open_with(dir, registry, "INSERT INTO id_map VALUES ('m:a', 2), ('m:c', 4);");
  ASSERT_TRUE(world) << report(world.error());
  auto rows = rows_of(*world, "id_map");
  EXPECT_EQ(rows["m:d"], 3);
  EXPECT_EQ(rows["m:c"], 4);
  EXPECT_EQ(*world->materials().to_world(*registry.id_of("m:c")), 4);
}

TEST(Reconcile, StoredIdsOutOfRangeFailOpen) {
  struct Case {
    const char* setup;
    WorldErrorKind kind;
    const char* text;
  };
  const Case cases[] = {
      {"INSERT INTO id_map VALUES ('m:big', 70000);", WorldErrorKind::Materials,
       "material id mapping failed\n  caused by: material `m:big` has stored numeric id 70000, which is out of range"},
      {"INSERT INTO id_map VALUES ('m:neg', -1);", WorldErrorKind::Materials,
       "material id mapping failed\n  caused by: material `m:neg` has stored numeric id -1, which is out of range"},
      {"INSERT INTO fluid_ids VALUES ('f:w', 0);", WorldErrorKind::Fluids,
       "fluid id mapping failed\n  caused by: the world stores fluid `f:w` as id 0, which is outside 1..=15"},
      {"INSERT INTO fluid_ids VALUES ('f:w', 16);", WorldErrorKind::Fluids,
       "fluid id mapping failed\n  caused by: the world stores fluid `f:w` as id 16, which is outside 1..=15"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setup);
    TempDir dir;
    Registry registry;
    auto world = open_with(dir, registry, c.setup);
    ASSERT_FALSE(world);
    EXPECT_EQ(world.error().kind, c.kind);
    EXPECT_EQ(report(world.error()), c.text);
  }
}

TEST(Reconcile, DamagedIdMapsRefuseTheOpenAndChangeNothing) {
  struct Case {
    const char* name;
    const char* rows;
    IdMapErrorKind kind;
    const char* text;
  };
  const Case cases[] = {
      {"another_name_at_0", "('m:stone', 0), ('engine:unknown', 1)", IdMapErrorKind::Reserved,
       "material id mapping failed\n  caused by: material `m:stone` has stored numeric id 0, which belongs "
       "to "
       "`engine:air`"},
      {"another_name_at_1", "('engine:air', 0), ('m:stone', 1)", IdMapErrorKind::Reserved,
       "material id mapping failed\n  caused by: material `m:stone` has stored numeric id 1, which belongs "
       "to "
       "`engine:unknown`"},
      {"world_id_65535", "('engine:air', 0), ('engine:unknown', 1), ('m:x', 65535)",
       IdMapErrorKind::IdOutOfRange,
       "material id mapping failed\n  caused by: material `m:x` has stored numeric id 65535, which is out of "
       "range"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const auto file = dir / "world.sqlite";
    {
      auto registry = registry_of({"m:stone", "m:x"});
      ASSERT_TRUE(open_with(dir, registry).has_value());  // a world this engine made, closed
      auto conn = sqlite::Connection::open(file);
      ASSERT_TRUE(conn->exec(std::string("DELETE FROM id_map; INSERT INTO id_map VALUES ") + c.rows + ";"));
    }
    const auto before = file_bytes(file);
    auto registry = registry_of({"m:stone", "m:x"});
    auto world = open_with(dir, registry);
    ASSERT_FALSE(world);
    EXPECT_EQ(world.error().kind, WorldErrorKind::Materials);
    EXPECT_EQ(report(world.error()), c.text);
    const auto* idmap_error = source_as<idmap::IdMapError>(world.error().source());
    ASSERT_NE(idmap_error, nullptr);
    EXPECT_EQ(idmap_error->kind, c.kind);
    EXPECT_EQ(file_bytes(file), before);
  }
}

TEST(MaterialReconcile, IdSpaceEndsBeforeTheUnmappedMarker) {
  // Ids 2..=65533 taken: the next name gets 65534, the one after finds none (65535 is never given).
  const char* fill =
      "WITH RECURSIVE n(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM n WHERE i < 65533) "
      "INSERT INTO id_map SELECT 'w:' || i, i FROM n;";
  {
    TempDir dir;
    auto registry = registry_of({"m:last"});
    auto world = open_with(dir, registry, fill);
    ASSERT_TRUE(world) << report(world.error());
    EXPECT_EQ(*world->materials().to_world(*registry.id_of("m:last")), 65534);
  }
  TempDir dir;
  auto registry = registry_of({"m:last", "m:one_more"});
  auto world = open_with(dir, registry, fill);
  ASSERT_FALSE(world);
  EXPECT_EQ(report(world.error()), "material id mapping failed\n  caused by: world material id space is exhausted");
}

TEST(MaterialMap, UnmappedIdsAreRefused) {
  idmap::MaterialMap map;
  map.forward = {0, 1, idmap::kUnmapped};
  map.reverse = {{0, 0}, {1, 1}};
  EXPECT_EQ(map.to_world(2).error().message(), "runtime material id 2 was never reconciled against this world");
  EXPECT_EQ(map.to_world(9).error().kind, IdMapErrorKind::UnmappedRuntimeId);
  EXPECT_EQ(map.to_runtime(5).error().message(), "world material id 5 is not in this world's id table");
  map.build_lookup();
  EXPECT_EQ(*map.to_runtime(1), 1);
  EXPECT_EQ(map.to_runtime(5).error().kind, IdMapErrorKind::UnmappedWorldId);
  EXPECT_EQ(map.to_runtime(0xFFFF).error().kind, IdMapErrorKind::UnmappedWorldId);
  auto identity = idmap::MaterialMap::identity_map();
  EXPECT_EQ(*identity.to_world(40000), 40000);
  EXPECT_EQ(*identity.to_runtime(7), 7);
}

fluid::Fluids fluids_of(std::initializer_list<const char*> names) {
  fluid::Fluids f;
  for (const char* n : names) {
    fluid::Registered r;
    r.name = n;
    EXPECT_TRUE(f.register_fluid(r));
  }
  return f;
}

TEST(FluidReconcile, PlaceholdersAndLowestFreeId) {
  TempDir dir;
  Registry registry;
  auto world = open_with(dir, registry, "INSERT INTO fluid_ids VALUES ('f:old', 1);");
  ASSERT_TRUE(world);
  auto fluids = fluids_of({"f:new"});
  ASSERT_TRUE(world->reconcile_fluids(fluids));
  EXPECT_EQ(fluids.id_of("f:old"), std::optional<fluid::FluidId>(2));
  EXPECT_TRUE(fluids.is_placeholder(2));
  EXPECT_EQ(rows_of(*world, "fluid_ids"), (std::map<std::string, std::int64_t>{{"f:new", 2}, {"f:old", 1}}));

  // Runtime 1 (f:new) is stored as world 2, runtime 2 (f:old) as world 1.
  std::vector<fluid::Fluid> states(fluid::layer::kBlocks);
  states[0] = fluid::Fluid::of(1, 27);
  states[1] = fluid::Fluid::of(2, 5);
  auto stored = world->to_world_ids({0, 0, 0}, fluid::layer::FluidLayer::from_blocks(states));
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->get(0), fluid::Fluid::of(2, 27));
  EXPECT_EQ(stored->get(1), fluid::Fluid::of(1, 5));
}

TEST(FluidReconcile, FifteenStoredFluidsRefuseASixteenth) {
  TempDir dir;
  Registry registry;
  auto world = open_with(
      dir, registry,
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 15) "
      "INSERT INTO fluid_ids SELECT 'f:' || i, i FROM n;");
  ASSERT_TRUE(world);
  auto fluids = fluids_of({"f:3", "f:sixteenth"});
  auto r = world->reconcile_fluids(fluids);
  ASSERT_FALSE(r);
  EXPECT_EQ(report(r.error()),
            "fluid id mapping failed\n  caused by: this world has already used all 15 fluid ids, so `f:sixteenth` "
            "cannot be given one. Fluid ids are four bits and a world's history shares them with the current mod "
            "set; an id already in use cannot be reassigned without changing what stored chunks mean.");
}

TEST(FluidToWorldIds, UnmappedSessionFluidIsRefused) {
  TempDir dir;
  Registry registry;
  auto world = open_with(dir, registry);
  ASSERT_TRUE(world);
  auto fluids = fluids_of({"f:a"});
  ASSERT_TRUE(world->reconcile_fluids(fluids));
  std::vector<fluid::Fluid> states(fluid::layer::kBlocks);
  states[7] = fluid::Fluid::of(3, 4);  // no fluid 3 in this run
  auto r = world->to_world_ids({1, 2, 3}, fluid::layer::FluidLayer::from_blocks(states));
  ASSERT_FALSE(r);
  EXPECT_EQ(report(r.error()),
            "fluid for chunk at (1, 2, 3)\n  caused by: session fluid id 3 has no counterpart in this world's fluid table");
  EXPECT_TRUE(world->to_world_ids({0, 0, 0}, fluid::layer::FluidLayer{})->empty());
}

TEST(CutCells, TranslatesStoredStacks) {
  idmap::MaterialMap map;
  map.forward = {0, 1, 10, 11};
  map.reverse = {{0, 0}, {1, 1}, {10, 2}, {11, 3}};
  std::vector<idmap::WorldId> world_cells(27, 0);
  world_cells[0] = 10;
  world_cells[5] = 11;
  EXPECT_EQ(cutcells::to_runtime(std::span(world_cells).first(26), map), std::nullopt);
  auto cells = cutcells::to_runtime(world_cells, map);
  ASSERT_TRUE(cells);
  EXPECT_EQ((*cells)[0], 2);
  EXPECT_EQ((*cells)[5], 3);
  EXPECT_EQ(cutcells::to_world(*cells, map), world_cells);
  inventory::Cells bad{};
  bad[3] = 9;
  EXPECT_EQ(cutcells::to_world(bad, map), std::nullopt);

  auto mixed = cutcells::thaw(10, 4, false, 0, world_cells, std::string("x"), map);
  ASSERT_TRUE(mixed);
  EXPECT_EQ(mixed->material, 2);
  EXPECT_EQ(mixed->detail, std::optional<std::string>("x"));
  EXPECT_TRUE(mixed->cells.has_value());

  struct Case {
    const char* name;
    idmap::WorldId material;
    std::uint32_t count;
    bool cut;
    std::uint32_t mask;
    std::optional<std::uint32_t> want_shape;
    bool want_stack;
  };
  const Case cases[] = {
      {"plain", 10, 27, false, 0, std::nullopt, true},
      {"cut", 10, 9, true, 0xF80001FF, 0x1FF, true},
      {"cut_full", 10, 27, true, 0x7FFFFFF, std::nullopt, true},
      {"cut_empty", 10, 27, true, 0, std::nullopt, true},
      {"zero_count", 10, 0, false, 0, std::nullopt, false},
      {"air", 0, 5, false, 0, std::nullopt, false},
      {"unknown_world_id", 99, 5, false, 0, std::nullopt, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto s = cutcells::thaw(c.material, c.count, c.cut, c.mask, std::nullopt, std::nullopt, map);
    ASSERT_EQ(s.has_value(), c.want_stack);
    if (s) {
      EXPECT_EQ(s->material, 2);
      EXPECT_EQ(s->shape, c.want_shape);
    }
  }
}

}  // namespace
}  // namespace ostrel_core::persist
