#pragma once
// Lease: the shared handles the script-side sight and path services are built from: the world
// slot, the per-tick budget of path-search steps shared by every mod, and the sorted passable
// materials. The simulation thread makes one lease before the first tick; every service made
// from it holds clones of the same handles.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "world/coords.hpp"
#include "base/sync.hpp"
#include "world/world.hpp"

namespace ostrel_server::lease {

inline constexpr std::uint32_t kPathStepsPerTick = 8000;

// Path-search steps left in the current tick. The loop refills it at the start of every tick;
// a search runs only when steps are left, takes at most available() steps, then spends them.
class PathBudget {
 public:
  std::uint32_t available() const { return steps_.load(); }
  void refill() { steps_.store(kPathStepsPerTick); }
  // Lowers the budget by `steps`, never below 0, even when other searches spent meanwhile.
  void spend(std::uint32_t steps);

 private:
  std::atomic<std::uint32_t> steps_{kPathStepsPerTick};
};

// The world slot: empty while the simulation thread works on the world, and whenever no world
// is lent; a query that finds it empty sees no world.
using WorldSlot = ostrel_core::sync::Mutex<std::optional<world::World>>;

class Lease {
 public:
  Lease();

  // Sorts `terrain` ascending (repeats kept) and shares it.
  Lease with_terrain(std::vector<std::uint16_t> terrain) const;

  const std::shared_ptr<WorldSlot>& world() const { return world_; }
  const std::shared_ptr<PathBudget>& path_budget() const { return path_budget_; }
  std::span<const std::uint16_t> terrain() const { return *terrain_; }
  // Membership by bisection.
  bool passable(std::uint16_t material) const;

 private:
  std::shared_ptr<WorldSlot> world_;
  std::shared_ptr<PathBudget> path_budget_;
  std::shared_ptr<const std::vector<std::uint16_t>> terrain_;  // ascending
};

// The block holding a position given in blocks, split the way positions are split into chunk
// and cells elsewhere (single precision); none when a coordinate is not finite.
std::optional<ostrel_core::coords::BlockPos> block_of(double x, double y, double z);

}  // namespace ostrel_server::lease
