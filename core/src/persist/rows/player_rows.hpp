#pragma once
// The `players` row: uuid (64 lowercase hex characters), version (the record version) and data
// (the version byte, then the player record of persist/playerdata.hpp). Readers take the
// version from data's first byte; the column is written and not read back. Each call prepares
// its statement anew and takes effect on its own.

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "building/inventory/slots.hpp"
#include "persist/records/playerdata.hpp"
#include "persist/world_error.hpp"

namespace ostrel_core::persist {
class WorldDb;
}

namespace ostrel_core::persist::player_rows {

// The row's data, or nothing when the player has no row.
std::expected<std::optional<std::vector<std::uint8_t>>, WorldError> load_player(WorldDb& db,
                                                                                std::string_view uuid);
// Inserts or replaces the player's row.
std::expected<void, WorldError> save_player(WorldDb& db, std::string_view uuid, std::uint8_t version,
                                            std::span<const std::uint8_t> data);

// The row's data for `slots`: the version byte then the current record, and the count of
// stacks left out because this world cannot name them.
playerdata::Encoded row_data(const inventory::slots::Slots& slots, const idmap::MaterialMap& map);
// The slots a row's data holds over `template_slots`; WorldError Player for an empty row or a
// record that does not decode.
std::expected<playerdata::Decoded, WorldError> slots_of_row(std::string_view uuid,
                                                            std::span<const std::uint8_t> data,
                                                            const inventory::slots::Slots& template_slots,
                                                            const idmap::MaterialMap& map);

}  // namespace ostrel_core::persist::player_rows
