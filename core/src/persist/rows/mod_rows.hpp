#pragma once
// The mod data rows: `mod_storage` (a mod's key-value store), `mod_maps` and `mod_plans`, each
// keyed by the owning mod's id. Each call prepares its statements anew.

#include <expected>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "building/plan.hpp"
#include "detgen/map.hpp"
#include "persist/world_error.hpp"
#include "world/storage.hpp"

namespace ostrel_core::persist {
class WorldDb;
}

namespace ostrel_core::persist::mod_rows {

// One change of a mod's storage: a value to write, or none to delete the key.
struct StorageChange {
  std::string key;
  std::optional<storage::Value> value;
};

// A map of a mod as stored in `mod_maps`.
struct StoredMap {
  std::string mod_id;
  std::string name;
  detgen::map::Map map;
};

// The mod's stored values by key. One value that does not decode fails the whole load.
std::expected<std::map<std::string, storage::Value>, WorldError> load_mod_storage(WorldDb& db,
                                                                                  std::string_view mod_id);
// All changes in one transaction: either every change lands or none does.
std::expected<void, WorldError> save_mod_storage_changes(WorldDb& db, std::string_view mod_id,
                                                         std::span<const StorageChange> changes);
// Every well-formed map; malformed rows are skipped with a warning.
std::expected<std::vector<StoredMap>, WorldError> all_maps(WorldDb& db);
std::expected<void, WorldError> save_map(WorldDb& db, std::string_view mod_id, std::string_view name,
                                         const detgen::map::Map& map);
std::expected<std::vector<std::string>, WorldError> plan_names(WorldDb& db, std::string_view mod_id);
// Nothing when there is no such plan or its row is damaged (does not decompress or decode, or
// fails Plan::damage); a damaged row is logged at ERROR with the mod and the plan name.
std::expected<std::optional<plan::Plan>, WorldError> load_plan(WorldDb& db, std::string_view mod_id,
                                                               std::string_view name);
std::expected<void, WorldError> save_plan(WorldDb& db, std::string_view mod_id, std::string_view name,
                                          const plan::Plan& plan);
// Whether a row was deleted.
std::expected<bool, WorldError> delete_plan(WorldDb& db, std::string_view mod_id, std::string_view name);

}  // namespace ostrel_core::persist::mod_rows
