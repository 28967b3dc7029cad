#pragma once
// The domain registry's run-time state in the world's meta table, and the deletion of a
// destroyed instance's rows. Formats are in domain.hpp.

#include <expected>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "world/domain.hpp"
#include "persist/world_error.hpp"

namespace ostrel_core::persist {
class WorldDb;
}

namespace ostrel_core::domain_store {

using persist::WorldDb;
using persist::WorldError;

// Each reader fails only when the meta table cannot be read; an absent value, one that is not
// UTF-8 (texts) or one that does not decode completely (skies) reads as an empty list.
std::expected<std::vector<std::pair<std::string, std::string>>, WorldError> domain_instances(WorldDb& db);
std::expected<void, WorldError> set_domain_instances(
    WorldDb& db, const std::vector<std::pair<std::string, std::string>>& v);
std::expected<std::vector<std::pair<std::string, domain::UniversalPos>>, WorldError> domain_positions(
    WorldDb& db);
std::expected<void, WorldError> set_domain_positions(
    WorldDb& db, const std::vector<std::pair<std::string, domain::UniversalPos>>& v);
std::expected<std::vector<std::pair<std::string, domain::DomainSky>>, WorldError> domain_skies(WorldDb& db);
std::expected<void, WorldError> set_domain_skies(
    WorldDb& db, const std::vector<std::pair<std::string, domain::DomainSky>>& v);

// Deletes the domain's rows from chunks, chunk_fluid, entities and chunk_summaries in one
// transaction (rolled back on failure); refuses "overworld" and touches nothing then.
std::expected<void, WorldError> remove_domain(WorldDb& db, std::string_view id);

}  // namespace ostrel_core::domain_store
