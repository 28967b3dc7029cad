#pragma once
// What the star functions of `game` share: the engine's catalog cache and the two lookups every
// star function starts from. The engine's own header: not for use outside core/src/script.

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "identity/identity.hpp"
#include "movement/sight.hpp"
#include "presentation/sky.hpp"
#include "script/slot.hpp"

namespace ostrel_core::script {

// The last catalog an engine built, with the seed it was built from.
struct StarCatalogue {
  std::uint64_t seed = 0;
  std::vector<sky::StarRecord> stars;
};

// The engine's catalog for its world seed, built on first use and kept until the seed changes.
// Null before the engine has a seed, or when the seed holder or the cache is poisoned.
std::shared_ptr<const StarCatalogue> catalog_of(Slot<const std::uint64_t>& seed,
                                                Slot<const StarCatalogue>& cache);

// A connected player's domain and look direction, asked of the sight service with its slot
// locked: none for an empty slot or a player the service has no gaze for; "the world lease is
// poisoned; the simulation thread panicked" for a poisoned slot.
std::expected<std::optional<sight::Gaze>, std::string> gaze_of(Slot<sight::Access>& slot,
                                                               const identity::PlayerUuid& player);

}  // namespace ostrel_core::script
