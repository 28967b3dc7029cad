#pragma once
// The identity rows of the world database: each player's authorised keys (`player_keys`) and
// the display-name claims (`player_names`). Every statement is prepared per call and opens no
// transaction of its own; each failure is WorldError Sql. No row counts are checked: revoking a
// key without a row or releasing an unheld name succeeds and changes nothing.
//
// player_keys: uuid (64 lowercase hex), pubkey (32 bytes), next_key_hash (bytes or NULL),
//              added_at (INT), added_by_pubkey (bytes or NULL; NULL for the root), revoked_at
//              (INT or NULL while the key is in force)
// player_names: server_name (primary key), uuid

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "persist/world_error.hpp"

namespace ostrel_core::persist {
class WorldDb;
}

namespace ostrel_core::persist::identity_rows {

// One player_keys row as read back; the uuid is the query's.
struct StoredPlayerKey {
  std::vector<std::uint8_t> pubkey;
  std::optional<std::vector<std::uint8_t>> next_key_hash;
  std::int64_t added_at = 0;
  std::optional<std::vector<std::uint8_t>> added_by_pubkey;
  std::optional<std::int64_t> revoked_at;

  friend bool operator==(const StoredPlayerKey&, const StoredPlayerKey&) = default;
};

// (server_name, uuid text)
using NameBinding = std::pair<std::string, std::string>;

// Inserts the row; on an existing (uuid, pubkey) only next_key_hash changes.
std::expected<void, WorldError> add_player_key(WorldDb& db, std::string_view uuid, std::span<const std::uint8_t> pubkey,
                                               std::optional<std::span<const std::uint8_t>> next_key_hash,
                                               std::int64_t added_at,
                                               std::optional<std::span<const std::uint8_t>> added_by_pubkey);
// Inserts the row or rewrites every column of an existing one, revoked_at included: the stored
// row then equals `key` (an operator's rebind can re-activate a revoked key or change its adder).
std::expected<void, WorldError> put_player_key(WorldDb& db, std::string_view uuid, const StoredPlayerKey& key);
std::expected<void, WorldError> revoke_player_key(WorldDb& db, std::string_view uuid,
                                                  std::span<const std::uint8_t> pubkey, std::int64_t revoked_at);
// Ordered by added_at, then pubkey; revoked keys included; empty for an unknown uuid.
std::expected<std::vector<StoredPlayerKey>, WorldError> all_player_keys(WorldDb& db, std::string_view uuid);
// Every distinct uuid of player_keys, ascending.
std::expected<std::vector<std::string>, WorldError> all_player_uuids(WorldDb& db);
// Ascending by name.
std::expected<std::vector<NameBinding>, WorldError> all_name_bindings(WorldDb& db);
// Inserts the binding or moves the name to `uuid`.
std::expected<void, WorldError> set_name(WorldDb& db, std::string_view server_name, std::string_view uuid);
std::expected<void, WorldError> release_name(WorldDb& db, std::string_view server_name);

}  // namespace ostrel_core::persist::identity_rows
