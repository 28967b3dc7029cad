#pragma once
// IdentityRegistry: every known identity with its key set, an index from each active key to its
// identity, the display names (one holder per name) and what changed since the last flush, down
// to the key: a flush writes the rows of the keys that changed and no others.
// A plain single-threaded object: its owner keeps it behind one lock, held for a whole login
// step so that an identity's existence check, creation and name binding are one step.

#include <cstdint>
#include <expected>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "identity/identity.hpp"
#include "identity/keyset.hpp"

namespace ostrel_core::session::registry {

using identity::PlayerUuid;
using identity::PublicKey;
using identity::keyset::Commitment;
using identity::keyset::KeySet;
using identity::keyset::KeySetError;

// A numbered name is the asked name, a space and a number; none may be longer than this.
inline constexpr std::size_t kMaxNameBytes = 32;

enum class RegistryErrorKind : std::uint8_t {
  NameTaken,        // another identity holds the name
  UnknownIdentity,  // no key set is registered under the id
  KeySet,           // the key set refused the change; key_set_error() says why
};

class RegistryError {
 public:
  static RegistryError name_taken(std::string name) {
    RegistryError e(RegistryErrorKind::NameTaken);
    e.name_ = std::move(name);
    return e;
  }
  static RegistryError unknown_identity() { return RegistryError(RegistryErrorKind::UnknownIdentity); }
  static RegistryError key_set(KeySetError k) {
    RegistryError e(RegistryErrorKind::KeySet);
    e.key_set_ = k;
    return e;
  }

  RegistryErrorKind kind() const { return kind_; }
  const std::string& name() const { return name_; }
  KeySetError key_set_error() const { return key_set_; }
  std::string message() const;
  const ErrorSource* source() const { return nullptr; }

 private:
  explicit RegistryError(RegistryErrorKind kind) : kind_(kind) {}
  RegistryErrorKind kind_;
  std::string name_;                                  // NameTaken
  KeySetError key_set_ = KeySetError::NotAuthorised;  // KeySet
};

class IdentityRegistry final : public identity::KeyLookup {
 public:
  // Registers a new identity and marks every key of it for storing.
  void insert(KeySet set);
  // Puts a key set in place (replacing one of the same id) and re-indexes its active keys,
  // without marking anything for storing.
  void insert_clean(KeySet set);

  // Each fails with UnknownIdentity or the key set's error and then changes nothing. On success
  // the keys the change touched are re-indexed and marked for storing.
  std::expected<void, RegistryError> add_key(const PlayerUuid& uuid, const PublicKey& signer, const PublicKey& key,
                                             std::optional<Commitment> next_key_hash,
                                             std::span<const std::uint8_t, identity::kSignatureBytes> signature,
                                             std::uint64_t now);
  std::expected<void, RegistryError> rotate_key(const PlayerUuid& uuid, const PublicKey& current,
                                                const PublicKey& key, std::optional<Commitment> next_key_hash,
                                                std::span<const std::uint8_t, identity::kSignatureBytes> signature,
                                                std::uint64_t now);
  std::expected<void, RegistryError> admin_rebind(const PlayerUuid& uuid, const PublicKey& key, std::uint64_t now);

  // Binds `name` to `uuid`, releasing the identity's earlier name. The identity need not be
  // registered. A name the identity already holds changes nothing.
  std::expected<void, RegistryError> bind_name(std::string_view name, const PlayerUuid& uuid);
  // The asked name, or the first free "{name} {i}" for i in 2..=limit that fits kMaxNameBytes.
  // An identity holding the name or a numbered form of it keeps what it holds.
  std::expected<std::string, RegistryError> bind_name_or_next(std::string_view name, const PlayerUuid& uuid,
                                                              std::uint32_t limit);
  // The first name in name order held by `uuid`. Valid until the names change.
  std::optional<std::string_view> name_of(const PlayerUuid& uuid) const;

  std::optional<PlayerUuid> identity_of(const PublicKey& key) const override;

  const KeySet* find(const PlayerUuid& uuid) const;
  bool contains(const PlayerUuid& uuid) const { return identities_.contains(uuid); }

  // Direct name placement for the store's load; marks nothing.
  void put_name_clean(std::string name, const PlayerUuid& uuid);

  const std::map<PlayerUuid, KeySet>& identities() const { return identities_; }
  const std::map<std::string, PlayerUuid, std::less<>>& names() const { return names_; }
  // Per identity, the keys whose rows must be written.
  const std::map<PlayerUuid, std::set<identity::KeyBytes>>& dirty() const { return dirty_; }
  const std::set<std::string, std::less<>>& dirty_names() const { return dirty_names_; }
  bool has_changes() const { return !dirty_.empty() || !dirty_names_.empty(); }
  void clear_dirty();

 private:
  // The registered key set of `uuid`, changed in place by the key operations.
  std::expected<KeySet*, RegistryError> registered(const PlayerUuid& uuid);
  // `bytes` of `uuid`'s set changed: index it while active, drop it from the index when revoked,
  // and mark its row for storing.
  void touched(const PlayerUuid& uuid, const KeySet& set, const identity::KeyBytes& bytes);
  // REQUIRES: `name` is free. Gives it to `uuid` in both name maps; marks nothing.
  void place_name(std::string name, const PlayerUuid& uuid);
  // Takes the name at `it` from its holder in both name maps; marks nothing.
  void unplace_name(std::map<std::string, PlayerUuid, std::less<>>::iterator it);

  std::map<PlayerUuid, KeySet> identities_;
  std::map<identity::KeyBytes, PlayerUuid> key_index_;  // exactly the active keys
  std::map<std::string, PlayerUuid, std::less<>> names_;  // one holder per name
  std::map<PlayerUuid, std::set<std::string, std::less<>>> names_held_;  // names_ inverted; no empty sets
  std::map<PlayerUuid, std::set<identity::KeyBytes>> dirty_;  // key rows to write; no empty sets
  std::set<std::string, std::less<>> dirty_names_;      // bindings to write or delete
};

}  // namespace ostrel_core::session::registry
