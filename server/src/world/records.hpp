#pragma once
// The stored records of the world that are not chunks: players' slots, containers, mod storage
// and plans. Each operation reads or writes its rows (persist/rows) through the world's
// database and times the call into the world's call log under its label ("load player"...).

#include <cstddef>
#include <expected>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "building/inventory/slots.hpp"
#include "building/plan.hpp"
#include "identity/identity.hpp"
#include "persist/records/containers.hpp"
#include "persist/records/playerdata.hpp"
#include "persist/rows/mod_rows.hpp"
#include "persist/world_error.hpp"
#include "world/storage.hpp"

namespace ostrel_server::world {

class World;
using ostrel_core::persist::WorldError;

// --- players and containers ------------------------------------------------------------------
// The stored slots merged over `template_slots`, with the count of stacks not restored; none
// when the player has no row.
std::expected<std::optional<ostrel_core::persist::playerdata::Decoded>, WorldError> load_player_slots(
    World& world, const ostrel_core::identity::PlayerUuid& player,
    const ostrel_core::inventory::slots::Slots& template_slots);
std::expected<void, WorldError> save_player_slots(World& world,
                                                  const ostrel_core::identity::PlayerUuid& player,
                                                  const ostrel_core::inventory::slots::Slots& slots);

struct Containers {
  std::vector<ostrel_core::persist::containers::Decoded> containers;  // in the order read
  std::size_t dropped = 0;  // stacks not restored, over all containers
};
// Rows that are empty or do not decode are skipped with a warning; `slot_count` answers a
// container's number of slots (none: 256).
std::expected<Containers, WorldError> load_containers(
    World& world, const std::function<std::optional<std::size_t>(std::string_view)>& slot_count);
std::expected<void, WorldError> save_container(World& world, std::string_view name,
                                               const ostrel_core::inventory::slots::View& view);
std::expected<void, WorldError> delete_container(World& world, std::string_view name);

// --- mod storage and plans: the rows' results, unchanged ---------------------------------------
std::expected<std::map<std::string, ostrel_core::storage::Value>, WorldError> load_mod_storage(
    World& world, std::string_view mod_id);
std::expected<void, WorldError> save_mod_storage_changes(
    World& world, std::string_view mod_id,
    std::span<const ostrel_core::persist::mod_rows::StorageChange> changes);
std::expected<std::vector<std::string>, WorldError> plan_names(World& world, std::string_view mod_id);
std::expected<std::optional<ostrel_core::plan::Plan>, WorldError> load_plan(World& world,
                                                                            std::string_view mod_id,
                                                                            std::string_view name);
std::expected<void, WorldError> save_plan(World& world, std::string_view mod_id, std::string_view name,
                                          const ostrel_core::plan::Plan& plan);
std::expected<bool, WorldError> delete_plan(World& world, std::string_view mod_id, std::string_view name);

}  // namespace ostrel_server::world
