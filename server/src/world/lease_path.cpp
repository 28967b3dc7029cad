// The path queries of the lease handle: the search on the lent world, charged to the tick's
// shared budget.

#include <algorithm>
#include <cstdlib>

#include "fluid/solid_chunks.hpp"
#include "world/lease_shared.hpp"

namespace ostrel_server::lease {

namespace path = ostrel_core::path;

path::Found Shared::find_path(std::string_view domain, const path::Vec3d& from, const path::Vec3d& to,
                              const path::PathOptions& options) {
  auto slot = lease_.world()->lock();
  if (!slot || !(*slot)->has_value()) return std::unexpected(path::PathFailure::NoWorld);
  const world::World& world = ***slot;
  const auto start = block_of(from[0], from[1], from[2]);
  const auto goal = block_of(to[0], to[1], to[2]);
  if (!start || !goal) return std::unexpected(path::PathFailure::Unreachable);
  PathBudget& pool = *lease_.path_budget();
  const std::uint32_t left = pool.available();
  if (left == 0) return std::unexpected(path::PathFailure::OverBudget);
  const std::uint32_t budget = std::min(left, path::search_budget(options.budget));
  const auto apart = [](std::int32_t a, std::int32_t b) {
    return std::abs(std::int64_t{a} - b) > path::kMaxSpan;
  };
  if (!path::in_world(*start) || !path::in_world(*goal) || apart(start->x, goal->x) ||
      apart(start->y, goal->y) || apart(start->z, goal->z)) {
    return std::unexpected(path::PathFailure::Unreachable);
  }
  if (*start == *goal) return std::vector<BlockPos>{*start};

  const fluid::SolidChunks chunks(world, domain);
  // A poisoned scratch holds nothing of worth: this search then starts from an empty one.
  auto kept = lease_.path_scratch()->lock();
  path::Scratch fresh;
  path::Terrain terrain(&chunks, lease_.terrain(), options.height, kept ? **kept : fresh);
  if (!terrain.standable(*goal)) return std::unexpected(path::PathFailure::Unreachable);
  auto searched = path::search(terrain, *start, *goal, budget, options.step_up, options.max_drop);
  pool.spend(searched.charge);
  return std::move(searched.found);
}

std::optional<path::Steering> Shared::steer(std::string_view domain, const path::Vec3d& from,
                                            const path::Vec3d& to, std::int32_t height) {
  auto slot = lease_.world()->lock();
  if (!slot || !(*slot)->has_value()) return std::nullopt;
  const world::World& world = ***slot;
  const fluid::SolidChunks chunks(world, domain);
  return path::steer(&chunks, lease_.terrain(), from, to, height);
}

}  // namespace ostrel_server::lease
