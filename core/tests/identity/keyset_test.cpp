#include "identity/keyset.hpp"

#include <gtest/gtest.h>

#include "support/ed25519.hpp"

namespace ostrel_core::identity::keyset {
namespace {

using test::TestKey;

// Signs the request to add `key` to `set` with `signer`.
std::array<std::uint8_t, 64> add_sig(const KeySet& set, const TestKey& signer, const TestKey& key,
                                     const std::optional<Commitment>& next) {
  return signer.sign(add_key_message(set.uuid(), key.key(), next));
}

std::array<std::uint8_t, 64> rotate_sig(const KeySet& set, const TestKey& current, const TestKey& key,
                                        const std::optional<Commitment>& next) {
  return current.sign(rotate_key_message(set.uuid(), key.key(), next));
}

std::size_t active_count(const KeySet& set) {
  std::size_t n = 0;
  for (const auto& k : set.all_keys()) n += !k.revoked_at.has_value();
  return n;
}

struct Keys {
  TestKey root = TestKey::from_seed(1);
  TestKey second = TestKey::from_seed(2);
  TestKey third = TestKey::from_seed(3);
  TestKey fourth = TestKey::from_seed(4);
};

TEST(KeySet, RootSetHasTheDerivedIdAndOneActiveKey) {
  const Keys k;
  const auto set = KeySet::create(k.root.key(), std::nullopt, 100);
  EXPECT_EQ(set.uuid(), uuid_of_root(k.root.pk));
  const auto all = set.all_keys();
  ASSERT_EQ(all.size(), 1u);
  const auto& root = all[0];
  EXPECT_EQ(root.key, k.root.key());
  EXPECT_FALSE(root.added_by);
  EXPECT_FALSE(root.revoked_at);
  EXPECT_EQ(root.added_at, 100u);
}

TEST(KeySet, SignedMessagesHaveTheirLengths) {
  const Keys k;
  const PlayerUuid id = uuid_of_root(k.root.pk);
  const Commitment c = commitment_of(k.third.pk);
  EXPECT_EQ(add_key_message(id, k.second.key(), std::nullopt).size(), 81u);
  EXPECT_EQ(add_key_message(id, k.second.key(), c).size(), 113u);
  EXPECT_EQ(rotate_key_message(id, k.second.key(), std::nullopt).size(), 84u);
  EXPECT_EQ(rotate_key_message(id, k.second.key(), c).size(), 116u);
}

TEST(KeySet, AddKeyChecksInOrderAndFailuresChangeNothing) {
  const Keys k;
  auto set = KeySet::create(k.root.key(), std::nullopt, 100);
  ASSERT_TRUE(set.add_key(k.root.key(), k.second.key(), std::nullopt, add_sig(set, k.root, k.second, std::nullopt), 110));
  // A set in which second is revoked.
  const std::vector<AuthorisedKey> stored = {
      {std::nullopt, std::nullopt, k.root.key(), 100, std::nullopt},
      {k.root.key(), 120, k.second.key(), 110, std::nullopt},
  };
  auto with_revoked = KeySet::from_stored(stored);
  ASSERT_TRUE(with_revoked);

  struct Case {
    const char* name;
    KeySet set;
    const TestKey* signer;
    const TestKey* key;
    bool good_signature;
    KeySetError want;
  };
  const Case cases[] = {
      {"unknown signer", set, &k.fourth, &k.third, true, KeySetError::NotAuthorised},
      {"revoked signer with a valid signature", *with_revoked, &k.second, &k.third, true, KeySetError::Revoked},
      {"key already active", set, &k.root, &k.second, true, KeySetError::AlreadyAuthorised},
      {"re-adding a revoked key", *with_revoked, &k.root, &k.second, true, KeySetError::AlreadyAuthorised},
      {"signature by another key", set, &k.root, &k.third, false, KeySetError::BadSignature},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    KeySet s = c.set;
    const auto sig = c.good_signature ? add_sig(s, *c.signer, *c.key, std::nullopt)
                                      : add_sig(s, k.fourth, *c.key, std::nullopt);
    auto r = s.add_key(c.signer->key(), c.key->key(), std::nullopt, sig, 200);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), c.want);
    EXPECT_EQ(s, c.set);
  }
}

TEST(KeySet, AddedKeySignsFurtherAdditions) {
  const Keys k;
  auto set = KeySet::create(k.root.key(), std::nullopt, 100);
  const Commitment c = commitment_of(k.fourth.pk);
  ASSERT_TRUE(set.add_key(k.root.key(), k.second.key(), c, add_sig(set, k.root, k.second, c), 110));
  // The commitment is signed: a signature over the request without it fails.
  EXPECT_EQ(set.add_key(k.second.key(), k.third.key(), c, add_sig(set, k.second, k.third, std::nullopt), 120).error(),
            KeySetError::BadSignature);
  ASSERT_TRUE(set.add_key(k.second.key(), k.third.key(), std::nullopt, add_sig(set, k.second, k.third, std::nullopt), 120));
  const auto& second = set.keys().at(k.second.pk);
  EXPECT_EQ(second.added_by, k.root.key());
  EXPECT_EQ(second.next_key_hash, c);
  EXPECT_EQ(second.added_at, 110u);
  EXPECT_EQ(set.keys().at(k.third.pk).added_by, k.second.key());
  EXPECT_EQ(active_count(set), 3u);
}

TEST(KeySet, RotationFollowsTheCommitment) {
  const Keys k;
  auto set = KeySet::create(k.root.key(), std::nullopt, 100);
  const Commitment to_third = commitment_of(k.third.pk);
  ASSERT_TRUE(set.add_key(k.root.key(), k.second.key(), to_third, add_sig(set, k.root, k.second, to_third), 110));

  // The root has no commitment: refused before any signature is looked at (this one is garbage).
  const std::array<std::uint8_t, 64> garbage{};
  auto none = set.rotate_key(k.root.key(), k.third.key(), std::nullopt, garbage, 120);
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error(), KeySetError::NoSuccessor);
  EXPECT_EQ(message(none.error()),
            "this key has no pre-committed successor and therefore cannot be rotated. Add a new key signed by an "
            "existing one, or ask an admin for a rebind.");

  // A thief holding second's private key cannot rotate to a key of their own.
  const KeySet before = set;
  auto thief = set.rotate_key(k.second.key(), k.fourth.key(), std::nullopt,
                              rotate_sig(set, k.second, k.fourth, std::nullopt), 120);
  ASSERT_FALSE(thief);
  EXPECT_EQ(thief.error(), KeySetError::SuccessorMismatch);
  EXPECT_EQ(message(thief.error()),
            "the proposed key does not match this key's pre-committed successor. A stolen key cannot rotate an "
            "identity away from its owner \u2014 this is that protection working.");
  EXPECT_EQ(set, before);

  auto forged = set.rotate_key(k.second.key(), k.third.key(), std::nullopt,
                               rotate_sig(set, k.root, k.third, std::nullopt), 120);
  EXPECT_EQ(forged.error(), KeySetError::BadSignature);
  EXPECT_EQ(set, before);

  const Commitment to_fourth = commitment_of(k.fourth.pk);
  auto done = set.rotate_key(k.second.key(), k.third.key(), to_fourth, rotate_sig(set, k.second, k.third, to_fourth), 130);
  ASSERT_TRUE(done);
  EXPECT_EQ(done->current, k.second.key());
  EXPECT_EQ(done->next, k.third.key());
  EXPECT_EQ(set.keys().at(k.second.pk).revoked_at, 130u);
  const auto& third = set.keys().at(k.third.pk);
  EXPECT_EQ(third.added_by, k.second.key());
  EXPECT_EQ(third.next_key_hash, to_fourth);
  EXPECT_FALSE(third.revoked_at);

  // A second rotation signed with the now revoked key.
  auto again = set.rotate_key(k.second.key(), k.third.key(), std::nullopt,
                              rotate_sig(set, k.second, k.third, std::nullopt), 140);
  ASSERT_FALSE(again);
  EXPECT_EQ(again.error(), KeySetError::Revoked);
  EXPECT_EQ(message(again.error()), "the signing key has been revoked");
  // The new key rotates on along its own commitment.
  EXPECT_TRUE(set.rotate_key(k.third.key(), k.fourth.key(), std::nullopt,
                             rotate_sig(set, k.third, k.fourth, std::nullopt), 150));
  EXPECT_EQ(set.rotate_key(k.fourth.key(), k.root.key(), std::nullopt, garbage, 160).error(), KeySetError::NoSuccessor);
  EXPECT_EQ(set.rotate_key(TestKey::from_seed(9).key(), k.root.key(), std::nullopt, garbage, 160).error(),
            KeySetError::NotAuthorised);
}

TEST(KeySet, RebindLeavesOneActiveKeyAndKeepsTheId) {
  const Keys k;
  auto set = KeySet::create(k.root.key(), std::nullopt, 100);
  ASSERT_TRUE(set.add_key(k.root.key(), k.second.key(), std::nullopt, add_sig(set, k.root, k.second, std::nullopt), 110));
  const PlayerUuid id = set.uuid();

  set.admin_rebind(k.third.key(), 200);
  EXPECT_EQ(set.uuid(), id);
  EXPECT_EQ(set.root(), k.root.key());
  EXPECT_EQ(active_count(set), 1u);
  EXPECT_EQ(set.keys().at(k.root.pk).revoked_at, 200u);
  EXPECT_EQ(set.keys().at(k.second.pk).revoked_at, 200u);
  const auto& third = set.keys().at(k.third.pk);
  EXPECT_FALSE(third.revoked_at);
  EXPECT_EQ(third.added_by, k.root.key());

  // Rebinding to a revoked key brings it back as the one active key, revocation time kept elsewhere.
  set.admin_rebind(k.second.key(), 300);
  EXPECT_EQ(active_count(set), 1u);
  EXPECT_FALSE(set.keys().at(k.second.pk).revoked_at);
  EXPECT_EQ(set.keys().at(k.second.pk).added_at, 300u);
  EXPECT_EQ(set.keys().at(k.third.pk).revoked_at, 300u);
}

TEST(KeySet, RebindToTheRootItselfKeepsAStorableRoot) {
  const Keys k;
  auto set = KeySet::create(k.root.key(), std::nullopt, 100);
  set.admin_rebind(k.second.key(), 200);
  set.admin_rebind(k.root.key(), 300);
  EXPECT_FALSE(set.keys().at(k.root.pk).added_by);
  EXPECT_FALSE(set.keys().at(k.root.pk).revoked_at);
  auto back = KeySet::from_stored(set.all_keys());
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, set);
}

TEST(KeySet, FromStoredFindsTheRootAndLetsLaterEntriesWin) {
  const Keys k;
  const std::vector<AuthorisedKey> only_added = {{k.root.key(), std::nullopt, k.second.key(), 5, std::nullopt}};
  auto none = KeySet::from_stored(only_added);
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error(), KeySetError::NoRoot);
  EXPECT_EQ(message(none.error()), "that key is not part of this identity");

  const std::vector<AuthorisedKey> rows = {
      {k.root.key(), std::nullopt, k.second.key(), 1, std::nullopt},
      {std::nullopt, std::nullopt, k.third.key(), 2, std::nullopt},
      {std::nullopt, 9, k.root.key(), 3, std::nullopt},
      {k.third.key(), 7, k.second.key(), 4, std::nullopt},
  };
  auto set = KeySet::from_stored(rows);
  ASSERT_TRUE(set);
  EXPECT_EQ(set->root(), k.third.key());
  EXPECT_EQ(set->uuid(), uuid_of_root(k.third.pk));
  ASSERT_EQ(set->all_keys().size(), 3u);
  EXPECT_EQ(set->keys().at(k.second.pk).revoked_at, 7u);
  const auto all = set->all_keys();
  EXPECT_TRUE(std::is_sorted(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.key < b.key; }));
}


// Root R adds K2 committing to R's own bytes, then K2 rotates to R: taking R in again would give
// the root an adder and leave a stored set without a root. Any key the set holds is refused.
TEST(KeySet, RotationToAKeyTheSetHoldsIsRefused) {
  const Keys k;
  auto set = KeySet::create(k.root.key(), std::nullopt, 100);
  const Commitment to_root = commitment_of(k.root.pk);
  ASSERT_TRUE(set.add_key(k.root.key(), k.second.key(), to_root, add_sig(set, k.root, k.second, to_root), 110));
  const Commitment to_second = commitment_of(k.second.pk);
  ASSERT_TRUE(set.add_key(k.root.key(), k.third.key(), to_second, add_sig(set, k.root, k.third, to_second), 120));
  const KeySet before = set;
  struct Case { const char* name; const TestKey* current; const TestKey* next; };
  const Case cases[] = {{"to the root", &k.second, &k.root}, {"to another active key", &k.third, &k.second}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = set.rotate_key(c.current->key(), c.next->key(), std::nullopt,
                            rotate_sig(set, *c.current, *c.next, std::nullopt), 130);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), KeySetError::AlreadyAuthorised);
    EXPECT_EQ(message(r.error()), "that key is already authorised for this identity");
    EXPECT_EQ(set, before);
  }
  auto back = KeySet::from_stored(set.all_keys());
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, set);
}

// A player's own requests stop at 16 active keys and 64 in all; the cap is checked after the
// duplicate check and before any signature is verified. An operator's rebind goes past it and
// such a set still loads.
TEST(KeySet, PlayerRequestsStopAtTheKeyCaps) {
  const Keys k;
  const std::array<std::uint8_t, 64> garbage{};
  const std::string cap_text = "this identity holds as many keys as it may (16 active, 64 in all)";

  // Active: the root adds 15 keys.
  auto wide = KeySet::create(k.root.key(), std::nullopt, 100);
  for (std::uint8_t seed = 100; wide.active_count() < kMaxActiveKeys; ++seed) {
    const auto key = TestKey::from_seed(seed);
    ASSERT_TRUE(wide.add_key(k.root.key(), key.key(), std::nullopt, add_sig(wide, k.root, key, std::nullopt), 110));
  }
  const KeySet full = wide;
  auto one_more = wide.add_key(k.root.key(), k.third.key(), std::nullopt, garbage, 120);
  ASSERT_FALSE(one_more);
  EXPECT_EQ(one_more.error(), KeySetError::TooManyKeys);
  EXPECT_EQ(message(one_more.error()), cap_text);
  EXPECT_EQ(wide.add_key(k.root.key(), TestKey::from_seed(100).key(), std::nullopt, garbage, 120).error(),
            KeySetError::AlreadyAuthorised);
  EXPECT_EQ(wide, full);

  // In all: a chain of rotations, each adding one key and revoking one.
  auto deep = KeySet::create(k.root.key(), std::nullopt, 100);
  std::uint8_t seed = 10;
  auto current = TestKey::from_seed(seed);
  auto next = TestKey::from_seed(++seed);
  Commitment c = commitment_of(next.pk);
  ASSERT_TRUE(deep.add_key(k.root.key(), current.key(), c, add_sig(deep, k.root, current, c), 110));
  while (deep.keys().size() < kMaxKeys) {
    const auto after = TestKey::from_seed(++seed);
    c = commitment_of(after.pk);
    ASSERT_TRUE(deep.rotate_key(current.key(), next.key(), c, rotate_sig(deep, current, next, c), 120));
    current = next;
    next = after;
  }
  EXPECT_EQ(deep.active_count(), 2u);
  const KeySet at_cap = deep;
  auto rotation = deep.rotate_key(current.key(), next.key(), std::nullopt,
                                  rotate_sig(deep, current, next, std::nullopt), 130);
  ASSERT_FALSE(rotation);
  EXPECT_EQ(rotation.error(), KeySetError::TooManyKeys);
  EXPECT_EQ(deep.add_key(k.root.key(), k.third.key(), std::nullopt, garbage, 130).error(), KeySetError::TooManyKeys);
  EXPECT_EQ(deep, at_cap);

  deep.admin_rebind(k.fourth.key(), 140);
  EXPECT_EQ(deep.keys().size(), kMaxKeys + 1);
  EXPECT_EQ(deep.active_count(), 1u);
  auto back = KeySet::from_stored(deep.all_keys());
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, deep);
}

}  // namespace
}  // namespace ostrel_core::identity::keyset
