#include "session/store.hpp"

#include <span>
#include <string_view>

#include <fmt/format.h>

#include "identity/keyset.hpp"
#include "persist/rows/identity_rows.hpp"
#include "persist/sqlite.hpp"
#include "persist/world_db.hpp"

namespace ostrel_core::session::store {

namespace rows = persist::identity_rows;
using identity::keyset::AuthorisedKey;
using identity::keyset::KeySet;

namespace {

std::unexpected<StoreError> world_error(persist::WorldError e) { return std::unexpected(StoreError::world(std::move(e))); }

// Stored times are signed columns; the registry's are unsigned seconds, stored unchanged.
std::int64_t to_column(std::uint64_t t) { return static_cast<std::int64_t>(t); }
std::uint64_t from_column(std::int64_t t) { return static_cast<std::uint64_t>(t); }

rows::StoredPlayerKey to_row(const AuthorisedKey& k) {
  rows::StoredPlayerKey row;
  row.pubkey.assign(k.key.bytes().begin(), k.key.bytes().end());
  if (k.next_key_hash) row.next_key_hash.emplace(k.next_key_hash->begin(), k.next_key_hash->end());
  row.added_at = to_column(k.added_at);
  if (k.added_by) row.added_by_pubkey.emplace(k.added_by->bytes().begin(), k.added_by->bytes().end());
  if (k.revoked_at) row.revoked_at = to_column(*k.revoked_at);
  return row;
}

std::expected<void, persist::WorldError> write_changes(persist::WorldDb& db,
                                                       const registry::IdentityRegistry& registry) {
  for (const auto& [uuid, changed] : registry.dirty()) {
    const KeySet* set = registry.find(uuid);
    if (set == nullptr) continue;
    const std::string text = uuid.to_hex();
    for (const auto& bytes : changed) {
      auto k = set->keys().find(bytes);
      if (k == set->keys().end()) continue;
      if (auto r = rows::put_player_key(db, text, to_row(k->second)); !r) return r;
    }
  }
  for (const auto& name : registry.dirty_names()) {
    auto it = registry.names().find(name);
    auto r = it != registry.names().end() ? rows::set_name(db, name, it->second.to_hex())
                                          : rows::release_name(db, name);
    if (!r) return r;
  }
  return {};
}

std::expected<identity::PublicKey, StoreError> to_key(std::string_view uuid, std::span<const std::uint8_t> bytes) {
  if (bytes.size() != identity::kKeyBytes) {
    return std::unexpected(StoreError::bad_key(std::string(uuid), fmt::format("expected 32 bytes, found {}", bytes.size())));
  }
  auto key = identity::public_key_from_bytes(bytes);
  if (!key) return std::unexpected(StoreError::bad_key(std::string(uuid), key.error().message()));
  return *key;
}

std::expected<std::vector<AuthorisedKey>, StoreError> to_authorised_keys(
    std::string_view uuid, std::span<const rows::StoredPlayerKey> stored) {
  std::vector<AuthorisedKey> out;
  out.reserve(stored.size());
  for (const auto& row : stored) {
    auto key = to_key(uuid, row.pubkey);
    if (!key) return std::unexpected(key.error());
    std::optional<identity::keyset::Commitment> next;
    if (row.next_key_hash) {
      if (row.next_key_hash->size() != 32) {
        return std::unexpected(StoreError::bad_key(
            std::string(uuid),
            fmt::format("pre-rotation commitment is {} bytes, expected {}", row.next_key_hash->size(), 32)));
      }
      next.emplace();
      std::copy(row.next_key_hash->begin(), row.next_key_hash->end(), next->begin());
    }
    std::optional<identity::PublicKey> added_by;
    if (row.added_by_pubkey) {
      auto adder = to_key(uuid, *row.added_by_pubkey);
      if (!adder) return std::unexpected(adder.error());
      added_by = *adder;
    }
    std::optional<std::uint64_t> revoked_at;
    if (row.revoked_at) revoked_at = from_column(*row.revoked_at);
    out.push_back(AuthorisedKey{added_by, revoked_at, *key, from_column(row.added_at), next});
  }
  return out;
}

// One identity's rows as a key set, or the reason it is skipped.
std::expected<KeySet, StoreError> load_identity(const std::string& uuid,
                                                std::span<const rows::StoredPlayerKey> stored) {
  auto keys = to_authorised_keys(uuid, stored);
  if (!keys) return std::unexpected(keys.error());
  auto set = KeySet::from_stored(*keys);
  if (!set) return std::unexpected(StoreError::bad_key_set(uuid, identity::keyset::message(set.error())));
  return std::move(*set);
}

}  // namespace

StoreError StoreError::world(persist::WorldError e) {
  StoreError s(StoreErrorKind::World, {}, e.message());
  s.world_source_ = e.cause;
  return s;
}

std::string StoreError::message() const {
  switch (kind_) {
    case StoreErrorKind::World:
      return reason_;
    case StoreErrorKind::BadUuid:
      return fmt::format("stored identity `{}` has an unreadable UUID: {}", uuid_, reason_);
    case StoreErrorKind::BadKey:
      return fmt::format(
          "stored identity `{}` has an unusable public key: {}. The row is kept; the identity is skipped so the "
          "rest of the server can start.",
          uuid_, reason_);
    case StoreErrorKind::BadKeySet:
      return fmt::format("stored identity `{}` does not form a valid key set: {}", uuid_, reason_);
  }
  return reason_;
}

std::expected<LoadReport, StoreError> load(persist::WorldDb& db) {
  LoadReport report;
  auto uuids = rows::all_player_uuids(db);
  if (!uuids) return world_error(std::move(uuids.error()));
  for (const auto& uuid : *uuids) {
    auto stored = rows::all_player_keys(db, uuid);
    if (!stored) return world_error(std::move(stored.error()));
    auto set = load_identity(uuid, *stored);
    if (!set) {
      report.skipped.push_back(std::move(set.error()));
      continue;
    }
    report.registry.insert_clean(std::move(*set));
    ++report.identity_count;
  }
  auto names = rows::all_name_bindings(db);
  if (!names) return world_error(std::move(names.error()));
  for (auto& [name, text] : *names) {
    auto id = identity::PlayerUuid::from_hex(text);
    if (!id) {
      report.skipped.push_back(StoreError::bad_uuid(text, id.error().message()));
    } else if (report.registry.contains(*id)) {
      report.registry.put_name_clean(std::move(name), *id);
      ++report.name_count;
    } else {
      report.skipped.push_back(
          StoreError::bad_key_set(text, fmt::format("holds the name `{}` but has no loadable key set", name)));
    }
  }
  return report;
}

std::expected<void, StoreError> flush(persist::WorldDb& db, registry::IdentityRegistry& registry) {
  if (!registry.has_changes()) return {};
  auto& conn = db.connection();
  if (auto b = conn.begin(); !b) return world_error(persist::WorldError::sql(b.error()));
  if (auto w = write_changes(db, registry); !w) {
    conn.rollback();
    return world_error(std::move(w.error()));
  }
  if (auto c = conn.commit(); !c) {
    conn.rollback();
    return world_error(persist::WorldError::sql(c.error()));
  }
  registry.clear_dirty();
  return {};
}

}  // namespace ostrel_core::session::store
