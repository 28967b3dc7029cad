#pragma once
// The identity registry's store: reads the registry from the world database once at start-up
// and writes back what changed. A flush runs in one transaction: either every change lands or
// none does, and on failure the registry keeps its changes for the next flush.

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "persist/world_error.hpp"
#include "session/registry.hpp"

namespace ostrel_core::persist {
class WorldDb;
}

namespace ostrel_core::session::store {

enum class StoreErrorKind : std::uint8_t {
  World,      // a database read or write failed; source: the WorldError's source
  BadUuid,    // a name row's uuid text is not a player id
  BadKey,     // a key row holds an unusable key or commitment; the identity is skipped
  BadKeySet,  // the rows form no key set, or a name's holder was skipped
};

class StoreError {
 public:
  static StoreError world(persist::WorldError e);
  static StoreError bad_uuid(std::string uuid, std::string reason) {
    return {StoreErrorKind::BadUuid, std::move(uuid), std::move(reason)};
  }
  static StoreError bad_key(std::string uuid, std::string reason) {
    return {StoreErrorKind::BadKey, std::move(uuid), std::move(reason)};
  }
  static StoreError bad_key_set(std::string uuid, std::string reason) {
    return {StoreErrorKind::BadKeySet, std::move(uuid), std::move(reason)};
  }

  StoreErrorKind kind() const { return kind_; }
  const std::string& uuid() const { return uuid_; }
  const std::string& reason() const { return reason_; }
  std::string message() const;
  const ErrorSource* source() const { return world_source_.get(); }

 private:
  StoreError(StoreErrorKind kind, std::string uuid, std::string reason)
      : kind_(kind), uuid_(std::move(uuid)), reason_(std::move(reason)) {}
  StoreErrorKind kind_;
  std::string uuid_;          // the stored uuid text
  std::string reason_;        // what was wrong; World: the database error's text
  SourcePtr world_source_;    // World: the database error's own source
};

struct LoadReport {
  registry::IdentityRegistry registry;
  std::size_t identity_count = 0;
  std::size_t name_count = 0;
  std::vector<StoreError> skipped;  // one per identity or name left out, in the order met
};

// Nothing is dirty after a load; unusable identities and names are reported in `skipped`.
[[nodiscard]] std::expected<LoadReport, StoreError> load(persist::WorldDb& db);

// Writes the changed key rows (every column of each) and names in one transaction, then clears
// the dirty sets. Nothing to write touches no database.
[[nodiscard]] std::expected<void, StoreError> flush(persist::WorldDb& db, registry::IdentityRegistry& registry);

}  // namespace ostrel_core::session::store
