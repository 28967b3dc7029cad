#pragma once
// The `containers` row: name (the primary key), version (the record version) and data (the
// version byte, then the container record of persist/containers.hpp). Readers take the
// version from data's first byte. Each call prepares its statement anew and takes effect on
// its own.

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "building/inventory/slots.hpp"
#include "persist/idmap.hpp"
#include "persist/records/containers.hpp"
#include "persist/world_error.hpp"

namespace ostrel_core::persist {
class WorldDb;
}

namespace ostrel_core::persist::container_rows {

// Inserts or replaces the container's row.
std::expected<void, WorldError> save_container(WorldDb& db, std::string_view name, std::uint8_t version,
                                               std::span<const std::uint8_t> data);
// Every row as (name, data), in the order the database yields them. The first row that cannot
// be read fails the whole call.
std::expected<std::vector<std::pair<std::string, std::vector<std::uint8_t>>>, WorldError> load_containers(
    WorldDb& db);
// Deleting a name without a row succeeds and changes nothing.
std::expected<void, WorldError> delete_container(WorldDb& db, std::string_view name);

// The row's data for `view`: the version byte then the current record, and the count of stacks
// left out because this world cannot name them.
containers::Encoded row_data(const inventory::slots::View& view, const idmap::MaterialMap& map);

}  // namespace ostrel_core::persist::container_rows
