#pragma once
// Lease: the shared handles the script-side sight and path services are built from: the world
// slot, the per-tick budget of path-search steps shared by every mod, the sorted passable
// materials, and optional handles on the fluid stores, the connected players' records and the
// entity population. The simulation thread makes one lease before the first tick; every
// service made from it holds clones of the same handles.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "base/sync.hpp"
#include "identity/identity.hpp"
#include "world/coords.hpp"
#include "world/world.hpp"

namespace ostrel_core::path { class Scratch; }
namespace ostrel_server::fluid { class Ponds; }
namespace ostrel_server::ent { class Population; }
namespace ostrel_server::transport::endpoint { struct PlayerSim; }

namespace ostrel_server::lease {

// The owners' locks, named here without their headers.
using PondsLock = ostrel_core::sync::RwLock<fluid::Ponds>;
using PopulationLock = ostrel_core::sync::RwLock<ent::Population>;
// Path searches run one at a time under the world slot; this lock is taken inside it.
using PathScratchLock = ostrel_core::sync::Mutex<ostrel_core::path::Scratch>;
using PlayersLock =
    ostrel_core::sync::Mutex<std::map<ostrel_core::identity::PlayerUuid, transport::endpoint::PlayerSim>>;

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

  // Sorts `terrain` ascending (repeats kept) and shares it; `ponds` replaces the fluid handle.
  Lease with_terrain(std::vector<std::uint16_t> terrain, std::shared_ptr<PondsLock> ponds = nullptr) const;
  void set_players(std::shared_ptr<PlayersLock> players) { players_ = std::move(players); }
  void set_population(std::shared_ptr<PopulationLock> population) { population_ = std::move(population); }

  const std::shared_ptr<WorldSlot>& world() const { return world_; }
  const std::shared_ptr<PathBudget>& path_budget() const { return path_budget_; }
  // The search state reused from one path search to the next.
  const std::shared_ptr<PathScratchLock>& path_scratch() const { return path_scratch_; }
  std::span<const std::uint16_t> terrain() const { return *terrain_; }
  // Membership by bisection.
  bool passable(std::uint16_t material) const;
  // Each null until set.
  const std::shared_ptr<PondsLock>& ponds() const { return ponds_; }
  const std::shared_ptr<PlayersLock>& players() const { return players_; }
  const std::shared_ptr<PopulationLock>& population() const { return population_; }

 private:
  std::shared_ptr<WorldSlot> world_;
  std::shared_ptr<PathBudget> path_budget_;
  std::shared_ptr<PathScratchLock> path_scratch_;
  std::shared_ptr<const std::vector<std::uint16_t>> terrain_;  // ascending
  std::shared_ptr<PondsLock> ponds_;
  std::shared_ptr<PlayersLock> players_;
  std::shared_ptr<PopulationLock> population_;
};

// The block holding a position given in blocks, split the way positions are split into chunk
// and cells elsewhere (single precision); none when a coordinate is not finite.
std::optional<ostrel_core::coords::BlockPos> block_of(double x, double y, double z);

}  // namespace ostrel_server::lease
