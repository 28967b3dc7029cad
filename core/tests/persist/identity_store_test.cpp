#include <functional>
#include <set>

#include <gtest/gtest.h>

#include "world/material.hpp"
#include "persist/rows/identity_rows.hpp"
#include "persist/world_db.hpp"
#include "session/registry.hpp"
#include "session/store.hpp"
#include "support/ed25519.hpp"
#include "support/temp_dir.hpp"

namespace ostrel_core::session {
namespace {

namespace rows = persist::identity_rows;
using identity::PlayerUuid;
using identity::keyset::Commitment;
using identity::keyset::KeySet;
using registry::IdentityRegistry;
using registry::RegistryErrorKind;
using test::TestKey;

std::vector<std::uint8_t> bytes_of(const std::array<std::uint8_t, 32>& a) { return {a.begin(), a.end()}; }

class IdentityStore : public ::testing::Test {
 protected:
  void SetUp() override {
    material::Registry materials;
    auto conn = persist::sqlite::Connection::open(dir_ / "world.sqlite");
    ASSERT_TRUE(conn);
    auto w = persist::WorldDb::from_connection(std::move(*conn), dir_ / "world.sqlite", materials);
    ASSERT_TRUE(w);
    world_.emplace(std::move(*w));
  }
  persist::WorldDb& db() { return *world_; }
  void exec(const char* sql) { ASSERT_TRUE(db().connection().exec(sql)); }

  test::TempDir dir_;
  std::optional<persist::WorldDb> world_;
};

TEST_F(IdentityStore, KeyRowsKeepTimeAndAdderOnReAdd) {
  const auto a = bytes_of(TestKey::from_seed(1).pk);
  const auto b = bytes_of(TestKey::from_seed(2).pk);
  const std::vector<std::uint8_t> h1(32, 1), h2(32, 2);
  ASSERT_TRUE(rows::add_player_key(db(), "u1", b, h1, 20, a));
  ASSERT_TRUE(rows::add_player_key(db(), "u1", a, std::nullopt, 10, std::nullopt));
  ASSERT_TRUE(rows::add_player_key(db(), "u2", a, std::nullopt, 5, std::nullopt));
  ASSERT_TRUE(rows::revoke_player_key(db(), "u1", b, 30));
  // Re-adding changes only the commitment: the revoked key stays revoked.
  ASSERT_TRUE(rows::add_player_key(db(), "u1", b, h2, 99, std::nullopt));
  ASSERT_TRUE(rows::revoke_player_key(db(), "u1", std::vector<std::uint8_t>(32, 7), 1));  // no row: no-op

  auto got = rows::all_player_keys(db(), "u1");
  ASSERT_TRUE(got);
  const std::vector<rows::StoredPlayerKey> want = {
      {a, std::nullopt, 10, std::nullopt, std::nullopt},
      {b, h2, 20, a, 30},
  };
  EXPECT_EQ(*got, want);
  EXPECT_TRUE(rows::all_player_keys(db(), "nobody")->empty());
  EXPECT_EQ(*rows::all_player_uuids(db()), (std::vector<std::string>{"u1", "u2"}));

  // The full write puts every column back, the revocation cleared.
  ASSERT_TRUE(rows::put_player_key(db(), "u1", {b, std::nullopt, 40, std::nullopt, std::nullopt}));
  EXPECT_EQ(rows::all_player_keys(db(), "u1")->back(), (rows::StoredPlayerKey{b, std::nullopt, 40, std::nullopt, std::nullopt}));
}

TEST_F(IdentityStore, NameRowsMoveAndRelease) {
  ASSERT_TRUE(rows::set_name(db(), "bob", "u1"));
  ASSERT_TRUE(rows::set_name(db(), "alice", "u2"));
  ASSERT_TRUE(rows::set_name(db(), "bob", "u3"));
  ASSERT_TRUE(rows::release_name(db(), "carol"));
  EXPECT_EQ(*rows::all_name_bindings(db()),
            (std::vector<rows::NameBinding>{{"alice", "u2"}, {"bob", "u3"}}));
  ASSERT_TRUE(rows::release_name(db(), "alice"));
  EXPECT_EQ(*rows::all_name_bindings(db()), (std::vector<rows::NameBinding>{{"bob", "u3"}}));
}

TEST(Registry, KeyIndexFollowsActiveKeys) {
  const auto root = TestKey::from_seed(1), next = TestKey::from_seed(2), other = TestKey::from_seed(3);
  IdentityRegistry reg;
  auto set = KeySet::create(root.key(), std::nullopt, 1);
  const Commitment c = identity::commitment_of(next.pk);
  ASSERT_TRUE(set.add_key(root.key(), other.key(), c,
                          root.sign(identity::keyset::add_key_message(set.uuid(), other.key(), c)), 2));
  const PlayerUuid id = set.uuid();
  reg.insert(set);
  EXPECT_EQ(reg.identity_of(other.key()), id);

  auto bad = reg.rotate_key(id, other.key(), root.key(), std::nullopt, std::array<std::uint8_t, 64>{}, 3);
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().kind(), RegistryErrorKind::KeySet);
  EXPECT_EQ(bad.error().message(), identity::keyset::message(identity::keyset::KeySetError::SuccessorMismatch));

  const auto sig = other.sign(identity::keyset::rotate_key_message(id, next.key(), std::nullopt));
  ASSERT_TRUE(reg.rotate_key(id, other.key(), next.key(), std::nullopt, sig, 3));
  EXPECT_FALSE(reg.identity_of(other.key()));
  EXPECT_EQ(reg.identity_of(next.key()), id);
  EXPECT_EQ(reg.identity_of(root.key()), id);

  PlayerUuid stranger;
  stranger.bytes[0] = 9;
  EXPECT_EQ(reg.admin_rebind(stranger, next.key(), 4).error().message(), "unknown identity");

  // A key active in two identities resolves to the one put in place last.
  auto second = KeySet::create(other.key(), std::nullopt, 5);
  second.admin_rebind(next.key(), 6);
  reg.insert_clean(second);
  EXPECT_EQ(reg.identity_of(next.key()), second.uuid());
}

TEST(Registry, BindNameReleasesTheEarlierNameAndKeepsHeldOnes) {
  PlayerUuid a, b;
  a.bytes[0] = 1;
  b.bytes[0] = 2;
  IdentityRegistry reg;
  ASSERT_TRUE(reg.bind_name("ann", a));
  ASSERT_TRUE(reg.bind_name("anna", a));
  EXPECT_FALSE(reg.names().contains("ann"));
  EXPECT_EQ(reg.dirty_names(), (std::set<std::string, std::less<>>{"ann", "anna"}));
  reg.clear_dirty();

  ASSERT_TRUE(reg.bind_name("anna", a));
  EXPECT_FALSE(reg.has_changes());
  auto taken = reg.bind_name("anna", b);
  ASSERT_FALSE(taken);
  EXPECT_EQ(taken.error().message(), "the name `anna` is held by another player");
  EXPECT_FALSE(reg.has_changes());
}

TEST(Registry, NameOfFollowsEveryWayANameMoves) {
  PlayerUuid a, b;
  a.bytes[0] = 1;
  b.bytes[0] = 2;
  IdentityRegistry reg;
  EXPECT_FALSE(reg.name_of(a));
  reg.put_name_clean("anna", a);
  EXPECT_EQ(reg.name_of(a), "anna");
  // A loaded row takes the name from its holder.
  reg.put_name_clean("anna", b);
  EXPECT_FALSE(reg.name_of(a));
  EXPECT_EQ(reg.name_of(b), "anna");
  reg.put_name_clean("zed", b);
  EXPECT_EQ(reg.name_of(b), "anna");
  // Binding releases the first held name only.
  ASSERT_TRUE(reg.bind_name("bob", b));
  EXPECT_EQ(reg.name_of(b), "bob");
  EXPECT_EQ(reg.names(), (std::map<std::string, PlayerUuid, std::less<>>{{"bob", b}, {"zed", b}}));
  ASSERT_TRUE(reg.bind_name("ann", a));
  EXPECT_EQ(reg.name_of(a), "ann");
}

TEST(Registry, BindNameOrNextWalksNumberedForms) {
  PlayerUuid me, other;
  me.bytes[0] = 1;
  other.bytes[0] = 2;
  const std::string thirty(30, 'n');

  struct Case {
    const char* name;
    std::string asked;
    std::vector<std::string> taken_by_other;
    std::vector<std::string> held_by_me;
    std::optional<std::string> want;  // none: NameTaken
  };
  std::vector<std::string> all_forms;
  for (int i = 2; i <= 9; ++i) all_forms.push_back(thirty + " " + std::to_string(i));
  auto with_plain = [&](std::vector<std::string> v) {
    v.insert(v.begin(), thirty);
    return v;
  };
  const Case cases[] = {
      {"free name", "sam", {}, {}, "sam"},
      {"first free number", "sam", {"sam", "sam 2", "sam 3"}, {}, "sam 4"},
      {"30 bytes, 2 to 8 taken", thirty, with_plain({all_forms.begin(), all_forms.end() - 1}), {}, thirty + " 9"},
      {"30 bytes, 2 to 9 taken: 10 is too long", thirty, with_plain(all_forms), {}, std::nullopt},
      {"held numbered form is kept", "sam", {}, {"sam 5"}, "sam 5"},
      {"held form with non-digits is not", "sam", {"sam"}, {"sam x"}, "sam 2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    IdentityRegistry reg;
    // One holder per taken name: binding a second name would release the first.
    PlayerUuid holder = other;
    for (const auto& n : c.taken_by_other) {
      ++holder.bytes[1];
      ASSERT_TRUE(reg.bind_name(n, holder));
    }
    for (const auto& n : c.held_by_me) ASSERT_TRUE(reg.bind_name(n, me));
    auto got = reg.bind_name_or_next(c.asked, me, 99);
    if (c.want) {
      ASSERT_TRUE(got) << got.error().message();
      EXPECT_EQ(*got, *c.want);
      EXPECT_EQ(reg.name_of(me), *c.want);
    } else {
      ASSERT_FALSE(got);
      EXPECT_EQ(got.error().kind(), RegistryErrorKind::NameTaken);
      EXPECT_EQ(got.error().name(), c.asked);
      EXPECT_FALSE(reg.name_of(me));
    }
  }
}

TEST_F(IdentityStore, LoadSkipsUnusableIdentitiesAndNames) {
  const auto good = TestKey::from_seed(1), bad = TestKey::from_seed(2);
  const std::string good_id = identity::uuid_of_root(good.pk).to_hex();
  const std::string bad_id = identity::uuid_of_root(bad.pk).to_hex();
  ASSERT_TRUE(rows::add_player_key(db(), good_id, bytes_of(good.pk), std::nullopt, 1, std::nullopt));
  ASSERT_TRUE(rows::add_player_key(db(), bad_id, bytes_of(bad.pk), std::vector<std::uint8_t>(31, 0), 1, std::nullopt));
  ASSERT_TRUE(rows::set_name(db(), "zed", good_id));
  ASSERT_TRUE(rows::set_name(db(), "amy", good_id));
  ASSERT_TRUE(rows::set_name(db(), "bad", bad_id));
  ASSERT_TRUE(rows::set_name(db(), "short", "abc"));

  auto report = store::load(db());
  ASSERT_TRUE(report);
  EXPECT_EQ(report->identity_count, 1u);
  EXPECT_EQ(report->name_count, 2u);
  EXPECT_FALSE(report->registry.has_changes());
  std::vector<std::string> skipped;
  for (const auto& e : report->skipped) skipped.push_back(e.message());
  const std::vector<std::string> want = {
      "stored identity `" + bad_id +
          "` has an unusable public key: pre-rotation commitment is 31 bytes, expected 32. The row is kept; the "
          "identity is skipped so the rest of the server can start.",
      "stored identity `" + bad_id + "` does not form a valid key set: holds the name `bad` but has no loadable key set",
      "stored identity `abc` has an unreadable UUID: `abc` is not a valid player UUID (expected 64 hex characters)",
  };
  EXPECT_EQ(skipped, want);
  // Two names of one identity both load; a new binding releases only the first.
  const PlayerUuid gid = *PlayerUuid::from_hex(good_id);
  EXPECT_EQ(report->registry.name_of(gid), "amy");
  ASSERT_TRUE(report->registry.bind_name("newer", gid));
  EXPECT_EQ(report->registry.names().size(), 2u);
  EXPECT_TRUE(report->registry.names().contains("zed"));
  EXPECT_EQ(report->registry.dirty_names(), (std::set<std::string, std::less<>>{"amy", "newer"}));
  // The row that was skipped is still stored.
  EXPECT_EQ(rows::all_player_keys(db(), bad_id)->size(), 1u);
}

TEST_F(IdentityStore, LoadReportsBadKeyRows) {
  const auto root = TestKey::from_seed(1);
  const std::string id = identity::uuid_of_root(root.pk).to_hex();
  struct Case {
    const char* name;
    std::vector<std::uint8_t> pubkey;
    std::optional<std::vector<std::uint8_t>> added_by;
    const char* reason;
  };
  const Case cases[] = {
      {"short key", std::vector<std::uint8_t>(31, 5), std::nullopt, "expected 32 bytes, found 31"},
      {"small-order key", bytes_of({1}), std::nullopt, "malformed public key"},
      {"bad adder", bytes_of(TestKey::from_seed(3).pk), std::vector<std::uint8_t>(33, 1), "expected 32 bytes, found 33"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    exec("DELETE FROM player_keys");
    ASSERT_TRUE(rows::add_player_key(db(), id, bytes_of(root.pk), std::nullopt, 1, std::nullopt));
    ASSERT_TRUE(rows::add_player_key(db(), id, c.pubkey, std::nullopt, 2, c.added_by));
    auto report = store::load(db());
    ASSERT_TRUE(report);
    EXPECT_EQ(report->identity_count, 0u);
    ASSERT_EQ(report->skipped.size(), 1u);
    EXPECT_EQ(report->skipped[0].kind(), store::StoreErrorKind::BadKey);
    EXPECT_EQ(report->skipped[0].reason(), c.reason);
  }
  exec("DROP TABLE player_names");
  auto failed = store::load(db());
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind(), store::StoreErrorKind::World);
}

TEST_F(IdentityStore, RebindSurvivesFlushAndReload) {
  const auto root = TestKey::from_seed(1), added = TestKey::from_seed(2), rebound = TestKey::from_seed(3);
  IdentityRegistry reg;
  auto set = KeySet::create(root.key(), std::nullopt, 100);
  const PlayerUuid id = set.uuid();
  reg.insert(set);
  ASSERT_TRUE(reg.add_key(id, root.key(), added.key(), std::nullopt,
                          root.sign(identity::keyset::add_key_message(id, added.key(), std::nullopt)), 110));
  ASSERT_TRUE(reg.bind_name("pat", id));
  ASSERT_TRUE(store::flush(db(), reg));
  EXPECT_FALSE(reg.has_changes());

  // Rebind to the revoked-then-restored root, then to the added key: the stored rows must end
  // up with the added key active, its adder and time rewritten, everything else revoked.
  ASSERT_TRUE(reg.admin_rebind(id, rebound.key(), 200));
  ASSERT_TRUE(store::flush(db(), reg));
  ASSERT_TRUE(reg.admin_rebind(id, added.key(), 300));
  ASSERT_TRUE(store::flush(db(), reg));

  auto report = store::load(db());
  ASSERT_TRUE(report);
  ASSERT_TRUE(report->skipped.empty());
  const KeySet* loaded = report->registry.find(id);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(*loaded, *reg.find(id));
  EXPECT_EQ(report->registry.identity_of(added.key()), id);
  EXPECT_FALSE(report->registry.identity_of(rebound.key()));
  EXPECT_FALSE(report->registry.identity_of(root.key()));
  EXPECT_EQ(report->registry.name_of(id), "pat");
  const auto& k = loaded->keys().at(added.pk);
  EXPECT_EQ(k.added_at, 300u);
  EXPECT_EQ(k.added_by, root.key());
}

TEST_F(IdentityStore, FailedFlushWritesNothingAndKeepsChanges) {
  const auto a = TestKey::from_seed(1), b = TestKey::from_seed(2);
  IdentityRegistry reg;
  reg.insert(KeySet::create(a.key(), std::nullopt, 1));
  reg.insert(KeySet::create(b.key(), std::nullopt, 1));
  const PlayerUuid ida = identity::uuid_of_root(a.pk), idb = identity::uuid_of_root(b.pk);
  ASSERT_TRUE(reg.bind_name("ann", ida));
  ASSERT_TRUE(reg.bind_name("boom", idb));
  exec("CREATE TRIGGER refuse_boom BEFORE INSERT ON player_names WHEN NEW.server_name = 'boom' "
       "BEGIN SELECT RAISE(ABORT, 'injected failure'); END;");

  auto failed = store::flush(db(), reg);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind(), store::StoreErrorKind::World);
  EXPECT_NE(report(failed.error()).find("injected failure"), std::string::npos);
  EXPECT_EQ(reg.dirty().size(), 2u);
  EXPECT_EQ(reg.dirty_names().size(), 2u);
  EXPECT_TRUE(rows::all_player_uuids(db())->empty());
  EXPECT_TRUE(rows::all_name_bindings(db())->empty());

  exec("DROP TRIGGER refuse_boom");
  ASSERT_TRUE(store::flush(db(), reg));
  EXPECT_FALSE(reg.has_changes());
  auto report = store::load(db());
  ASSERT_TRUE(report);
  EXPECT_EQ(report->identity_count, 2u);
  EXPECT_EQ(report->registry.name_of(idb), "boom");

  // Nothing dirty: the flush does not touch the database at all.
  exec("DROP TABLE player_keys");
  EXPECT_TRUE(store::flush(db(), reg));
}

TEST_F(IdentityStore, ReleasedNamesAreDeletedByTheFlush) {
  const auto a = TestKey::from_seed(1);
  IdentityRegistry reg;
  reg.insert(KeySet::create(a.key(), std::nullopt, 1));
  const PlayerUuid id = identity::uuid_of_root(a.pk);
  ASSERT_TRUE(reg.bind_name("old", id));
  ASSERT_TRUE(store::flush(db(), reg));
  ASSERT_TRUE(reg.bind_name("new", id));
  ASSERT_TRUE(store::flush(db(), reg));
  EXPECT_EQ(*rows::all_name_bindings(db()), (std::vector<rows::NameBinding>{{"new", id.to_hex()}}));
}


std::int64_t total_changes(persist::WorldDb& db) {
  auto st = db.connection().prepare("SELECT total_changes()");
  if (!st || !st->step().value_or(false)) return -1;
  return st->column_i64(0);
}

// Adds `key` to identity `id` with a signature of `signer`.
std::expected<void, registry::RegistryError> add(IdentityRegistry& reg, const PlayerUuid& id, const TestKey& signer,
                                                 const TestKey& key, std::optional<Commitment> next) {
  return reg.add_key(id, signer.key(), key.key(), next,
                     signer.sign(identity::keyset::add_key_message(id, key.key(), next)), 50);
}

std::expected<void, registry::RegistryError> rotate(IdentityRegistry& reg, const PlayerUuid& id,
                                                    const TestKey& current, const TestKey& next,
                                                    std::optional<Commitment> after) {
  return reg.rotate_key(id, current.key(), next.key(), after,
                        current.sign(identity::keyset::rotate_key_message(id, next.key(), after)), 60);
}

// An identity with 63 keys (two active) after a chain of rotations: one key short of the cap.
PlayerUuid one_short_of_the_cap(IdentityRegistry& reg, const TestKey& root) {
  reg.insert(KeySet::create(root.key(), std::nullopt, 1));
  const PlayerUuid id = identity::uuid_of_root(root.pk);
  std::uint8_t seed = 10;
  auto current = TestKey::from_seed(seed);
  auto next = TestKey::from_seed(++seed);
  if (!add(reg, id, root, current, identity::commitment_of(next.pk))) return id;
  while (reg.find(id)->keys().size() < identity::keyset::kMaxKeys - 1) {
    const auto after = TestKey::from_seed(++seed);
    if (!rotate(reg, id, current, next, identity::commitment_of(after.pk))) break;
    current = next;
    next = after;
  }
  return id;
}

// A flush writes the rows of the keys that changed: one new key on an identity of 63 is one row.
TEST_F(IdentityStore, FlushWritesOnlyTheRowsThatChanged) {
  const auto root = TestKey::from_seed(1), added = TestKey::from_seed(2);
  IdentityRegistry reg;
  const PlayerUuid id = one_short_of_the_cap(reg, root);
  ASSERT_EQ(reg.find(id)->keys().size(), identity::keyset::kMaxKeys - 1);
  ASSERT_TRUE(store::flush(db(), reg));

  const auto before = total_changes(db());
  ASSERT_TRUE(add(reg, id, root, added, std::nullopt));
  EXPECT_EQ(reg.dirty().at(id), (std::set<identity::KeyBytes>{added.pk}));
  ASSERT_TRUE(store::flush(db(), reg));
  EXPECT_EQ(total_changes(db()) - before, 1);

  // At the cap a further key is refused with its own text and nothing becomes dirty.
  auto refused = add(reg, id, root, TestKey::from_seed(3), std::nullopt);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().message(), "this identity holds as many keys as it may (16 active, 64 in all)");
  EXPECT_FALSE(reg.has_changes());

  auto report = store::load(db());
  ASSERT_TRUE(report);
  ASSERT_NE(report->registry.find(id), nullptr);
  EXPECT_EQ(*report->registry.find(id), *reg.find(id));
}

// Every way a key set changes, and the refusals, come back from the database as they were.
TEST_F(IdentityStore, EveryKeyChangeSurvivesFlushAndReload) {
  const auto r = TestKey::from_seed(1), k2 = TestKey::from_seed(2), k3 = TestKey::from_seed(3),
             k4 = TestKey::from_seed(4);
  const PlayerUuid id = identity::uuid_of_root(r.pk);
  struct Case {
    const char* name;
    std::function<void(IdentityRegistry&)> change;
  };
  const Case cases[] = {
      {"new identity", [](IdentityRegistry&) {}},
      {"added keys", [&](IdentityRegistry& reg) {
         ASSERT_TRUE(add(reg, id, r, k2, identity::commitment_of(k3.pk)));
         ASSERT_TRUE(add(reg, id, k2, k4, std::nullopt));
       }},
      {"rotation", [&](IdentityRegistry& reg) {
         ASSERT_TRUE(add(reg, id, r, k2, identity::commitment_of(k3.pk)));
         ASSERT_TRUE(rotate(reg, id, k2, k3, identity::commitment_of(k4.pk)));
       }},
      {"rotation to the root refused", [&](IdentityRegistry& reg) {
         ASSERT_TRUE(add(reg, id, r, k2, identity::commitment_of(r.pk)));
         auto refused = rotate(reg, id, k2, r, std::nullopt);
         ASSERT_FALSE(refused);
         EXPECT_EQ(refused.error().message(), "that key is already authorised for this identity");
       }},
      {"rebind", [&](IdentityRegistry& reg) {
         ASSERT_TRUE(add(reg, id, r, k2, std::nullopt));
         ASSERT_TRUE(reg.admin_rebind(id, k3.key(), 70));
       }},
      {"rebind to the root", [&](IdentityRegistry& reg) {
         ASSERT_TRUE(reg.admin_rebind(id, k3.key(), 70));
         ASSERT_TRUE(reg.admin_rebind(id, r.key(), 80));
       }},
      {"at the cap, then rebound", [&](IdentityRegistry& reg) {
         one_short_of_the_cap(reg, r);  // replaces the set of one key
         ASSERT_TRUE(add(reg, id, r, k2, std::nullopt));
         ASSERT_FALSE(add(reg, id, r, k3, std::nullopt));
         ASSERT_TRUE(reg.admin_rebind(id, k4.key(), 90));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    exec("DELETE FROM player_keys; DELETE FROM player_names");
    IdentityRegistry reg;
    reg.insert(KeySet::create(r.key(), std::nullopt, 1));
    ASSERT_TRUE(reg.bind_name("sam", id));
    ASSERT_TRUE(store::flush(db(), reg));  // the change is flushed on its own, as the tick would
    c.change(reg);
    ASSERT_TRUE(store::flush(db(), reg));
    auto report = store::load(db());
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->skipped.empty()) << report->skipped.front().message();
    EXPECT_EQ(report->identity_count, 1u);
    ASSERT_NE(report->registry.find(id), nullptr);
    EXPECT_EQ(*report->registry.find(id), *reg.find(id));
    for (const auto& [bytes, k] : reg.find(id)->keys()) {
      const auto key = *identity::public_key_from_bytes(bytes);
      EXPECT_EQ(report->registry.identity_of(key), reg.identity_of(key));
    }
    EXPECT_EQ(report->registry.name_of(id), reg.name_of(id));
  }
}

}  // namespace
}  // namespace ostrel_core::session
