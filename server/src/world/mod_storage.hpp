#pragma once
// Mods' key-value stores for the running server, with the keys changed since the last flush.
// Scripts reach it through storage::Shared (installed as the engine's storage access); the
// simulation loop flushes the changes through the world.

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "persist/rows/mod_rows.hpp"
#include "world/storage.hpp"
#include "world/storage_access.hpp"
#include "base/sync.hpp"

namespace ostrel_server::world {
class World;
}

namespace ostrel_server::storage {

using ostrel_core::persist::mod_rows::StorageChange;
using ostrel_core::storage::Value;

class ModStorage {
 public:
  // Replaces the mod's whole store; marks nothing.
  void load(std::string_view mod_id, std::map<std::string, Value> values);
  std::optional<Value> get(std::string_view mod_id, std::string_view key) const;
  // None deletes. An equal value, or deleting an absent key, marks nothing.
  void set(std::string_view mod_id, std::string_view key, std::optional<Value> value);
  std::vector<std::string> keys(std::string_view mod_id, std::string_view prefix) const;
  void mark_dirty(std::string_view mod_id, std::string_view key);
  // Per mod in ascending id, its changed keys in ascending order with their current value (none:
  // delete the row). Nothing is marked afterwards.
  std::vector<std::pair<std::string, std::vector<StorageChange>>> take_dirty();

 private:
  std::map<std::string, std::map<std::string, Value, std::less<>>, std::less<>> values_;
  std::map<std::string, std::set<std::string, std::less<>>, std::less<>> changed_;
};

// Shared by the simulation thread and the script engine. A poisoned lock answers none and
// empty lists and drops writes.
class Shared final : public ostrel_core::storage::Access {
 public:
  Shared() : inner_(std::make_shared<ostrel_core::sync::Mutex<ModStorage>>()) {}

  std::optional<Value> get(std::string_view mod_id, std::string_view key) override;
  void set(std::string_view mod_id, std::string_view key, std::optional<Value> value) override;
  std::vector<std::string> keys(std::string_view mod_id, std::string_view prefix) override;

  void load(std::string_view mod_id, std::map<std::string, Value> values);
  // Writes every mod's changes through the world, holding the lock throughout; a mod whose write
  // fails is logged and its keys marked again for the next flush.
  void flush(world::World& world);

  std::shared_ptr<ostrel_core::sync::Mutex<ModStorage>> inner() const { return inner_; }

 private:
  std::shared_ptr<ostrel_core::sync::Mutex<ModStorage>> inner_;  // shared with every clone of the handle
};

}  // namespace ostrel_server::storage
