#pragma once
// KeySet: every public key ever authorised for one identity, revoked ones included.
//
// Signed requests (the commitment is appended only when present):
//   add key:    "ostrel:add-key:v1"    || uuid (32) || new key (32) [|| commitment (32)]  81 or 113 bytes
//   rotate key: "ostrel:rotate-key:v1" || uuid (32) || new key (32) [|| commitment (32)]  84 or 116 bytes
//
// A key is active while revoked_at is absent; only active keys sign. The root key and the uuid
// never change, not even by an operator's rebind.
//
// A player's own requests cannot grow a set past kMaxActiveKeys active keys or kMaxKeys keys in
// all (a rotation adds one key and revokes one). An operator's rebind is never refused, and a
// stored set of any size loads.

#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "identity/identity.hpp"

namespace ostrel_core::identity::keyset {

using Commitment = Digest32;

inline constexpr std::size_t kMaxActiveKeys = 16;
inline constexpr std::size_t kMaxKeys = 64;  // revoked ones included

struct AuthorisedKey {
  std::optional<PublicKey> added_by;      // the key that signed this one; absent for the root
  std::optional<std::uint64_t> revoked_at;  // seconds since the epoch; absent while active
  PublicKey key;
  std::uint64_t added_at = 0;             // seconds since the epoch
  std::optional<Commitment> next_key_hash;  // commitment to this key's successor

  friend bool operator==(const AuthorisedKey&, const AuthorisedKey&) = default;
};

// Display texts reach players ("key addition refused: {}") and operators ("error: {}").
enum class KeySetError : std::uint8_t {
  NotAuthorised = 0,      // the signing or current key is not in the set
  Revoked = 1,            // the signing or current key is revoked
  BadSignature = 2,       // strict verification failed
  AlreadyAuthorised = 3,  // the new key is in the set, revoked or not
  SuccessorMismatch = 4,  // the new key is not the committed successor
  NoSuccessor = 5,        // the current key has no commitment
  NoRoot = 6,             // stored keys without a root
  TooManyKeys = 7,        // the set holds kMaxActiveKeys active keys, or kMaxKeys in all
};

std::string message(KeySetError e);

struct Rotation {
  PublicKey current;
  PublicKey next;
  std::uint64_t at = 0;
  std::optional<Commitment> next_key_hash;
};

class KeySet {
 public:
  // A new identity rooted at `root`.
  static KeySet create(const PublicKey& root, std::optional<Commitment> next_key_hash, std::uint64_t now);
  // Rebuilds a stored identity: the root is the first key without an adder; of two entries with
  // the same bytes the later wins.
  [[nodiscard]] static std::expected<KeySet, KeySetError> from_stored(std::span<const AuthorisedKey> keys);

  // Every failure leaves the set as it was.
  [[nodiscard]] std::expected<void, KeySetError> add_key(const PublicKey& signer, const PublicKey& key,
                                                         std::optional<Commitment> next_key_hash,
                                                         std::span<const std::uint8_t, kSignatureBytes> signature,
                                                         std::uint64_t now);
  [[nodiscard]] std::expected<Rotation, KeySetError> rotate_key(
      const PublicKey& current, const PublicKey& key, std::optional<Commitment> next_key_hash,
      std::span<const std::uint8_t, kSignatureBytes> signature, std::uint64_t now);
  // Revokes every active key and makes `key` the one active key, added by the root.
  void admin_rebind(const PublicKey& key, std::uint64_t now);

  const PublicKey& root() const { return root_; }
  const PlayerUuid& uuid() const { return uuid_; }
  // In key-byte order, revoked keys included.
  std::vector<AuthorisedKey> all_keys() const;
  const std::map<KeyBytes, AuthorisedKey>& keys() const { return keys_; }
  std::size_t active_count() const;  // keys without revoked_at

  friend bool operator==(const KeySet&, const KeySet&) = default;

 private:
  KeySet(const PublicKey& root, PlayerUuid uuid) : root_(root), uuid_(uuid) {}
  // The active entry for `key`, or the error for a missing or revoked one.
  std::expected<const AuthorisedKey*, KeySetError> active(const PublicKey& key) const;

  PublicKey root_;
  PlayerUuid uuid_;
  std::map<KeyBytes, AuthorisedKey> keys_;
};

// The bytes a client signs to add or rotate a key (exposed for clients and tests).
std::vector<std::uint8_t> add_key_message(const PlayerUuid& uuid, const PublicKey& key,
                                          const std::optional<Commitment>& next);
std::vector<std::uint8_t> rotate_key_message(const PlayerUuid& uuid, const PublicKey& key,
                                             const std::optional<Commitment>& next);

}  // namespace ostrel_core::identity::keyset
