#include "world/domain.hpp"

#include <gtest/gtest.h>

#include "world/domain_store.hpp"
#include "world/material.hpp"
#include "persist/world_db.hpp"
#include "support/temp_dir.hpp"

namespace ostrel_core::domain {
namespace {

using persist::WorldDb;
using test::TempDir;

Spec tmpl(std::optional<UniversalPos> pos = std::nullopt) {
  Spec s;
  s.instanced = true;
  s.position = pos;
  return s;
}

DomainSky sky(float t, float fog) {
  DomainSky s;
  proto::SkyFrame f;
  f.time = t;
  f.sky = {0.25f, 0.5f, 1.0f};
  s.keyframes.push_back(f);
  s.cave_fog = {fog, 0.0f, 0.5f};
  return s;
}

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

TEST(DomainRegistry, RefusalsCarryTheirKindsAndTexts) {
  Registry r;
  ASSERT_TRUE(r.register_domain("t", tmpl()).has_value());
  ASSERT_TRUE(r.register_domain("plain", Spec{}).has_value());
  ASSERT_TRUE(r.create_at("t", "a", std::nullopt).has_value());

  struct Case {
    const char* name;
    std::expected<void, DomainError> got;
    DomainErrorKind kind;
    std::string text;
  };
  auto create = [&](std::string_view t, std::string_view key) -> std::expected<void, DomainError> {
    auto got = r.create_at(t, key, std::nullopt);
    if (!got) return std::unexpected(got.error());
    return {};
  };
  const Case cases[] = {
      {"overworld_again", r.register_domain("overworld", Spec{}), DomainErrorKind::Duplicate,
       "domain `overworld` is already registered; a second registration would silently replace the first"},
      {"empty", r.register_domain("", Spec{}), DomainErrorKind::BadId,
       "`` is not a usable domain id: a domain needs a name"},
      {"slash", r.register_domain("a/b", Spec{}), DomainErrorKind::BadId,
       "`a/b` is not a usable domain id: a registered id may not contain `/`, which marks an instance"},
      {"65_bytes", r.register_domain(repeat('a', 65), Spec{}), DomainErrorKind::BadId,
       "`" + repeat('a', 65) + "` is not a usable domain id: longer than a domain id may be"},
      {"hyphen_id", r.register_domain("my-room", Spec{}), DomainErrorKind::BadId,
       "`my-room` is not a usable domain id: a domain id is ASCII letters, digits, `_` and `:`"},
      {"no_template", create("nothing", "k"), DomainErrorKind::NoSuchDomain, "there is no domain `nothing`"},
      {"not_instanced", create("plain", "k"), DomainErrorKind::NotInstanced,
       "`plain` is not an instanced template, so it has no instances to create"},
      {"empty_key", create("t", ""), DomainErrorKind::BadId,
       "`` is not a usable domain id: an instance needs a key"},
      {"long_key", create("t", repeat('k', 65)), DomainErrorKind::BadId,
       "`" + repeat('k', 65) + "` is not a usable domain id: longer than an instance key may be"},
      {"hyphen_key", create("t", "room-1"), DomainErrorKind::BadId,
       "`room-1` is not a usable domain id: an instance key is ASCII letters, digits and `_`"},
      {"colon_key", create("t", "a:b"), DomainErrorKind::BadId,
       "`a:b` is not a usable domain id: an instance key is ASCII letters, digits and `_`"},
      {"occupied", r.destroy("t/a", 1), DomainErrorKind::Occupied,
       "domain `t/a` still holds 1 thing(s); taking a room out from under somebody is the same defect as "
       "breaking a container they have open"},
      {"destroy_overworld", r.destroy("overworld", 0), DomainErrorKind::NotCreated,
       "`overworld` was registered rather than created, so it cannot be destroyed"},
      {"destroy_nothing", r.destroy("t/zz", 0), DomainErrorKind::NoSuchDomain, "there is no domain `t/zz`"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.got.has_value());
    EXPECT_EQ(c.got.error().kind, c.kind);
    EXPECT_EQ(c.got.error().message(), c.text);
  }
  EXPECT_TRUE(r.is_instance("t/a"));  // the occupied refusal changed nothing

  r.freeze();
  auto late = r.register_domain("fresh", Spec{});
  ASSERT_FALSE(late.has_value());
  EXPECT_EQ(late.error().message(),
            "domain `fresh` was registered after the registries froze (charter rule 9)");
  EXPECT_TRUE(r.create_at("t", "b", std::nullopt).has_value());  // instances are still made
}

TEST(DomainRegistry, AcceptsColonIdsAndExactly64Bytes) {
  Registry r;
  EXPECT_TRUE(r.register_domain("Mod9:cave_2", Spec{}).has_value());
  EXPECT_TRUE(r.register_domain(repeat('x', 64), Spec{}).has_value());
  EXPECT_TRUE(r.register_domain("t", tmpl()).has_value());
  EXPECT_TRUE(r.create_at("t", repeat('k', 64), std::nullopt).has_value());
}

TEST(DomainRegistry, InstancesKeepTheirFirstPositionAndLeaveOnDestroy) {
  Registry r;
  ASSERT_TRUE(r.register_domain("t", tmpl(UniversalPos{100, 0, 100})).has_value());
  auto id = r.create_at("t", "room_1", UniversalPos{1, 2, 3});
  ASSERT_TRUE(id.has_value());
  EXPECT_EQ(*id, "t/room_1");
  EXPECT_EQ(*r.create_at("t", "room_1", UniversalPos{9, 9, 9}), "t/room_1");
  EXPECT_EQ(r.position_of("t/room_1"), (UniversalPos{1, 2, 3}));
  ASSERT_TRUE(r.create_at("t", "bare", std::nullopt).has_value());
  EXPECT_EQ(r.position_of("t/bare"), (UniversalPos{100, 0, 100}));  // the template's
  EXPECT_EQ(r.position_of("t"), (UniversalPos{100, 0, 100}));
  EXPECT_EQ(r.position_of("overworld"), std::nullopt);
  EXPECT_FALSE(r.spec("t").has_value());
  EXPECT_TRUE(r.spec("t/bare").has_value());
  EXPECT_EQ(r.live(), (std::vector<std::string>{"overworld", "t/bare", "t/room_1"}));

  ASSERT_TRUE(r.set_sky("t/room_1", sky(0.5f, 0.1f)));
  const auto rev = r.sky_revision();
  ASSERT_TRUE(r.destroy("t/room_1", 0).has_value());
  EXPECT_GT(r.sky_revision(), rev);
  EXPECT_FALSE(r.is_instance("t/room_1"));
  EXPECT_EQ(r.instance_positions().size(), 0u);
  EXPECT_TRUE(r.sky_overrides().empty());
}

TEST(DomainRegistry, SkyRevisionRisesOnlyOnChange) {
  Registry r;
  const auto r0 = r.sky_revision();
  EXPECT_FALSE(r.set_sky("nowhere", sky(0, 0)));
  EXPECT_EQ(r.sky_revision(), r0);
  EXPECT_TRUE(r.set_sky("overworld", sky(0.5f, 0.2f)));
  EXPECT_EQ(r.sky_revision(), r0 + 1);
  EXPECT_TRUE(r.set_sky("overworld", sky(0.5f, 0.2f)));
  EXPECT_EQ(r.sky_revision(), r0 + 1);
  EXPECT_TRUE(r.set_sky("overworld", sky(0.5f, 0.3f)));
  EXPECT_EQ(r.sky_revision(), r0 + 2);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_TRUE(r.set_sky("overworld", sky(nan, 0.3f)));
  EXPECT_TRUE(r.set_sky("overworld", sky(nan, 0.3f)));  // NaN never equals itself
  EXPECT_EQ(r.sky_revision(), r0 + 4);
  EXPECT_TRUE(r.set_sky("overworld", std::nullopt));
  EXPECT_TRUE(r.set_sky("overworld", std::nullopt));
  EXPECT_EQ(r.sky_revision(), r0 + 5);
}

TEST(DomainRegistry, RestoreMakesOrphansOfUnknownTemplates) {
  Registry r;
  ASSERT_TRUE(r.register_domain("t", tmpl()).has_value());
  r.restore({{"t/a", "t"}, {"gone/b", "gone"}});
  r.restore_positions({{"t/a", {1, 2, 3}}, {"gone/b", {4, 5, 6}}});
  r.restore_skies({{"gone/b", sky(1, 1)}, {"t", sky(2, 2)}, {"t/a", sky(3, 3)}});
  EXPECT_EQ(r.live(), (std::vector<std::string>{"gone/b", "overworld", "t/a"}));
  EXPECT_FALSE(r.spec("gone/b").has_value());
  EXPECT_EQ(r.position_of("gone/b"), std::nullopt);
  EXPECT_EQ(r.position_of("t/a"), (UniversalPos{1, 2, 3}));
  ASSERT_EQ(r.sky_overrides().size(), 1u);
  EXPECT_EQ(r.sky_overrides()[0].first, "t/a");
  auto d = r.destroy("gone/b", 0);
  ASSERT_FALSE(d.has_value());
  EXPECT_EQ(d.error().kind, DomainErrorKind::NoSuchDomain);
}

TEST(DomainStoredForms, PositionsLinesThatDoNotParseAreSkipped) {
  const auto got = parse_positions(
      "a\t-5\t0\t+7\n"
      "short\t1\t2\n"
      "word\t1\tx\t3\n"
      "\t1\t2\t3\n"
      "plusminus\t+-1\t2\t3\n"
      "big\t9223372036854775808\t0\t0\n"
      "extra\t1\t2\t3\tmore\r\n"
      "sign\t-\t2\t3");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].first, "a");
  EXPECT_EQ(got[0].second, (UniversalPos{-5, 0, 7}));
  EXPECT_EQ(got[1].first, "extra");
  EXPECT_EQ(got[1].second, (UniversalPos{1, 2, 3}));
}

TEST(DomainStoredForms, InstanceLinesAndSkiesRoundTripOrDropWhole) {
  EXPECT_EQ(format_instances({{"t/a", "t"}, {"t/b", "t"}}), "t/a\tt\nt/b\tt");
  const auto inst = parse_instances("t/a\tt\r\nnotab\n\tt\nt/c\t\nt/b\tt\textra");
  ASSERT_EQ(inst.size(), 2u);
  EXPECT_EQ(inst[1], (std::pair<std::string, std::string>{"t/b", "t\textra"}));

  std::vector<std::pair<std::string, DomainSky>> skies{{"overworld", sky(0.25f, 0.5f)}};
  auto bytes = encode_skies(skies);
  // count, id "overworld", one keyframe of 76 bytes, three fog floats.
  EXPECT_EQ(bytes.size(), 1u + 1 + 9 + 1 + 76 + 12);
  EXPECT_EQ(decode_skies(bytes), skies);
  bytes.pop_back();
  EXPECT_TRUE(decode_skies(bytes).empty());
}

class DomainStore : public ::testing::Test {
 protected:
  WorldDb open() {
    material::Registry registry;
    auto conn = persist::sqlite::Connection::open(dir_ / "world.sqlite");
    EXPECT_TRUE(conn.has_value());
    auto db = WorldDb::from_connection(std::move(*conn), dir_ / "world.sqlite", registry);
    if (!db) ADD_FAILURE() << report(db.error());
    return std::move(*db);
  }
  static std::int64_t rows(WorldDb& db, const char* table, const char* domain) {
    auto stmt = db.connection().prepare(std::string("SELECT count(*) FROM ") + table + " WHERE domain = ?1");
    EXPECT_TRUE(stmt.has_value());
    EXPECT_TRUE(stmt->bind_text(1, domain).has_value());
    EXPECT_TRUE(*stmt->step());
    return stmt->column_i64(0);
  }
  static void fill(WorldDb& db, const char* domain) {
    const std::string d = domain;
    ASSERT_TRUE(
        db.connection()
            .exec("INSERT INTO chunks VALUES ('" + d +
                  "', 0, 0, 0, 1, x'00');"
                  "INSERT INTO chunk_fluid VALUES ('" +
                  d +
                  "', 0, 0, 0, x'00');"
                  "INSERT INTO entities (domain, chunk_x, chunk_y, chunk_z, version, data) VALUES ('" +
                  d +
                  "', 0, 0, 0, 4, x'00');"
                  "INSERT INTO chunk_summaries VALUES ('" +
                  d +
                  "', 1, 0, 0, 0, x'00');"
                  "INSERT INTO chunk_summaries VALUES ('" +
                  d + "', 2, 0, 0, 0, x'00');")
            .has_value());
  }
  TempDir dir_;
};

TEST_F(DomainStore, InstancesPositionsAndSkiesSurviveAReopen) {
  {
    auto db = open();
    Registry r;
    ASSERT_TRUE(r.register_domain("t", tmpl()).has_value());
    ASSERT_TRUE(r.create_at("t", "a", UniversalPos{-5, 0, 7}).has_value());
    ASSERT_TRUE(r.create_at("t", "b", std::nullopt).has_value());
    ASSERT_TRUE(r.set_sky("t/b", sky(0.75f, 0.125f)));
    ASSERT_TRUE(domain_store::set_domain_instances(db, r.instances()).has_value());
    ASSERT_TRUE(domain_store::set_domain_positions(db, r.instance_positions()).has_value());
    ASSERT_TRUE(domain_store::set_domain_skies(db, r.sky_overrides()).has_value());
  }
  auto db = open();
  Registry r;
  ASSERT_TRUE(r.register_domain("t", tmpl()).has_value());
  r.restore(*domain_store::domain_instances(db));
  r.restore_positions(*domain_store::domain_positions(db));
  r.restore_skies(*domain_store::domain_skies(db));
  EXPECT_EQ(r.live(), (std::vector<std::string>{"overworld", "t/a", "t/b"}));
  EXPECT_EQ(r.position_of("t/a"), (UniversalPos{-5, 0, 7}));
  ASSERT_NE(r.sky_of("t/b"), nullptr);
  EXPECT_EQ(*r.sky_of("t/b"), sky(0.75f, 0.125f));
}

TEST_F(DomainStore, UnreadableValuesReadAsEmpty) {
  auto db = open();
  const std::uint8_t bad[] = {0xff, 0xfe, '\t', 'x'};
  ASSERT_TRUE(db.set_meta("domain_instances", bad).has_value());
  ASSERT_TRUE(db.set_meta("domain_skies", bad).has_value());
  EXPECT_TRUE(domain_store::domain_instances(db)->empty());
  EXPECT_TRUE(domain_store::domain_positions(db)->empty());
  EXPECT_TRUE(domain_store::domain_skies(db)->empty());
}

TEST_F(DomainStore, OverworldCannotBeRemoved) {
  auto db = open();
  fill(db, "overworld");
  auto r = domain_store::remove_domain(db, "overworld");
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind, persist::WorldErrorKind::OverworldIsNotDestroyable);
  EXPECT_EQ(
      r.error().message(),
      "`overworld` cannot be destroyed: it is the domain every chunk written before domains existed belongs "
      "to, so deleting it means deleting the world");
  EXPECT_EQ(rows(db, "chunks", "overworld"), 1);
}

TEST_F(DomainStore, InstanceRowsLeaveAllFourTablesInOneTransaction) {
  auto db = open();
  fill(db, "t/a");
  fill(db, "t/b");
  // A refused delete of the last table must keep the first three tables' rows too.
  ASSERT_TRUE(db.connection()
                  .exec("CREATE TRIGGER keep_b BEFORE DELETE ON chunk_summaries WHEN OLD.domain = 't/b' "
                        "BEGIN SELECT RAISE(ABORT, 'kept'); END;")
                  .has_value());
  ASSERT_FALSE(domain_store::remove_domain(db, "t/b").has_value());
  for (const char* table : {"chunks", "chunk_fluid", "entities"})
    EXPECT_EQ(rows(db, table, "t/b"), 1) << table;
  EXPECT_FALSE(db.connection().in_transaction());

  ASSERT_TRUE(domain_store::remove_domain(db, "t/a").has_value());
  for (const char* table : {"chunks", "chunk_fluid", "entities", "chunk_summaries"}) {
    EXPECT_EQ(rows(db, table, "t/a"), 0) << table;
    EXPECT_EQ(rows(db, table, "t/b"), table == std::string("chunk_summaries") ? 2 : 1) << table;
  }
}

}  // namespace
}  // namespace ostrel_core::domain
