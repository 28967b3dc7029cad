#include "identity/keyset.hpp"

#include <algorithm>

#include <fmt/format.h>

namespace ostrel_core::identity::keyset {

namespace {

std::vector<std::uint8_t> request(std::string_view context, const PlayerUuid& uuid, const PublicKey& key,
                                  const std::optional<Commitment>& next) {
  std::vector<std::uint8_t> m(context.size() + 2 * kKeyBytes + (next ? next->size() : 0));
  auto out = std::copy(context.begin(), context.end(), m.begin());
  out = std::copy(uuid.bytes.begin(), uuid.bytes.end(), out);
  out = std::copy(key.bytes().begin(), key.bytes().end(), out);
  if (next) std::copy(next->begin(), next->end(), out);
  return m;
}

}  // namespace

std::string message(KeySetError e) {
  switch (e) {
    case KeySetError::NotAuthorised:
      return "the request is not signed by an authorised key for this identity";
    case KeySetError::Revoked:
      return "the signing key has been revoked";
    case KeySetError::BadSignature:
      return "signature verification failed";
    case KeySetError::AlreadyAuthorised:
      return "that key is already authorised for this identity";
    case KeySetError::SuccessorMismatch:
      return "the proposed key does not match this key's pre-committed successor. A stolen key cannot rotate "
             "an identity away from its owner \u2014 this is that protection working.";
    case KeySetError::NoSuccessor:
      return "this key has no pre-committed successor and therefore cannot be rotated. Add a new key signed by "
             "an existing one, or ask an admin for a rebind.";
    case KeySetError::NoRoot:
      return "that key is not part of this identity";
    case KeySetError::TooManyKeys:
      return fmt::format("this identity holds as many keys as it may ({} active, {} in all)", kMaxActiveKeys,
                         kMaxKeys);
  }
  return "that key is not part of this identity";
}

std::vector<std::uint8_t> add_key_message(const PlayerUuid& uuid, const PublicKey& key,
                                          const std::optional<Commitment>& next) {
  return request(kAddKeyContext, uuid, key, next);
}

std::vector<std::uint8_t> rotate_key_message(const PlayerUuid& uuid, const PublicKey& key,
                                             const std::optional<Commitment>& next) {
  return request(kRotateKeyContext, uuid, key, next);
}

KeySet KeySet::create(const PublicKey& root, std::optional<Commitment> next_key_hash, std::uint64_t now) {
  KeySet set(root, uuid_of_root(root.bytes()));
  set.keys_.insert_or_assign(root.bytes(), AuthorisedKey{std::nullopt, std::nullopt, root, now, next_key_hash});
  return set;
}

std::expected<KeySet, KeySetError> KeySet::from_stored(std::span<const AuthorisedKey> keys) {
  auto root = std::ranges::find_if(keys, [](const AuthorisedKey& k) { return !k.added_by.has_value(); });
  if (root == keys.end()) return std::unexpected(KeySetError::NoRoot);
  KeySet set(root->key, uuid_of_root(root->key.bytes()));
  for (const auto& k : keys) set.keys_.insert_or_assign(k.key.bytes(), k);
  return set;
}

std::size_t KeySet::active_count() const {
  return static_cast<std::size_t>(
      std::ranges::count_if(keys_, [](const auto& entry) { return !entry.second.revoked_at.has_value(); }));
}

std::expected<const AuthorisedKey*, KeySetError> KeySet::active(const PublicKey& key) const {
  auto it = keys_.find(key.bytes());
  if (it == keys_.end()) return std::unexpected(KeySetError::NotAuthorised);
  if (it->second.revoked_at) return std::unexpected(KeySetError::Revoked);
  return &it->second;
}

std::expected<void, KeySetError> KeySet::add_key(const PublicKey& signer, const PublicKey& key,
                                                 std::optional<Commitment> next_key_hash,
                                                 std::span<const std::uint8_t, kSignatureBytes> signature,
                                                 std::uint64_t now) {
  if (auto a = active(signer); !a) return std::unexpected(a.error());
  if (keys_.contains(key.bytes())) return std::unexpected(KeySetError::AlreadyAuthorised);
  if (keys_.size() >= kMaxKeys || active_count() >= kMaxActiveKeys) return std::unexpected(KeySetError::TooManyKeys);
  if (!verify_strict(signer.bytes(), add_key_message(uuid_, key, next_key_hash), signature)) {
    return std::unexpected(KeySetError::BadSignature);
  }
  keys_.insert_or_assign(key.bytes(), AuthorisedKey{signer, std::nullopt, key, now, next_key_hash});
  return {};
}

std::expected<Rotation, KeySetError> KeySet::rotate_key(const PublicKey& current, const PublicKey& key,
                                                        std::optional<Commitment> next_key_hash,
                                                        std::span<const std::uint8_t, kSignatureBytes> signature,
                                                        std::uint64_t now) {
  auto entry = active(current);
  if (!entry) return std::unexpected(entry.error());
  const auto& committed = (*entry)->next_key_hash;
  if (!committed) return std::unexpected(KeySetError::NoSuccessor);
  if (commitment_of(key.bytes()) != *committed) return std::unexpected(KeySetError::SuccessorMismatch);
  // A successor already in the set would be re-added under a new adder: the root would lose its
  // place as the one key without an adder, and a revoked key would come back.
  if (keys_.contains(key.bytes())) return std::unexpected(KeySetError::AlreadyAuthorised);
  if (keys_.size() >= kMaxKeys) return std::unexpected(KeySetError::TooManyKeys);
  if (!verify_strict(current.bytes(), rotate_key_message(uuid_, key, next_key_hash), signature)) {
    return std::unexpected(KeySetError::BadSignature);
  }
  keys_.at(current.bytes()).revoked_at = now;
  keys_.insert_or_assign(key.bytes(), AuthorisedKey{current, std::nullopt, key, now, next_key_hash});
  return Rotation{current, key, now, next_key_hash};
}

void KeySet::admin_rebind(const PublicKey& key, std::uint64_t now) {
  for (auto& [bytes, k] : keys_) {
    if (!k.revoked_at) k.revoked_at = now;
  }
  // Rebinding to the root's own bytes keeps it without an adder: a stored set must keep a root.
  std::optional<PublicKey> adder;
  if (key != root_) adder = root_;
  keys_.insert_or_assign(key.bytes(), AuthorisedKey{adder, std::nullopt, key, now, std::nullopt});
}

std::vector<AuthorisedKey> KeySet::all_keys() const {
  std::vector<AuthorisedKey> out;
  out.reserve(keys_.size());
  for (const auto& [bytes, k] : keys_) out.push_back(k);
  return out;
}

}  // namespace ostrel_core::identity::keyset
