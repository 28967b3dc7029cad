#pragma once
// Stamping plans and schematics into the running world, paced across ticks: each pump writes
// at most 256 units through the edit queue, a seed costing 1 and a merge the cells of its mask.
// An entry (a plan cell entry, a schematic block) is written whole in one call or waits for the
// next; a write the queue refuses for good skips its entry with a WARN, a full queue makes the
// entry wait. Waiting stamps live in memory only; at most 8 wait.
//
// Example: 300 whole blocks land in two pumps, 256 then 44; 20 merges of 14 cells write 18
// of them (252 units) in the first pump, the 19th waiting for a fresh budget.

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/sync.hpp"
#include "building/plan.hpp"
#include "detgen/schematic.hpp"
#include "hub/edit_queue.hpp"
#include "plans/names.hpp"
#include "world/coords.hpp"

namespace ostrel_server::plans {

inline constexpr std::size_t kMaxStamps = 8;
inline constexpr std::uint64_t kUnitsPerPump = 256;

using ostrel_core::coords::BlockPos;
using ostrel_core::detgen::buffer::StampBlock;

struct PlanSource {
  ostrel_core::plan::Plan plan;
  std::set<std::array<std::uint16_t, 3>> written;  // plan positions this stamp wrote
};
using Source = std::variant<PlanSource, std::vector<StampBlock>>;

struct Stamping {
  std::string domain;
  Source source;
  std::uint64_t done = 0;  // entries handled
  BlockPos at;             // where the source's origin goes
};

class Stamps {
 public:
  explicit Stamps(std::shared_ptr<const Names> names) : names_(std::move(names)) {}

  // False when 8 stamps wait or the lock is poisoned; the source is dropped then.
  bool enqueue(std::string_view domain, BlockPos at, Source source);
  // The units written in this call.
  std::uint64_t pump(EditQueue& queue);
  // 0 when the lock is poisoned.
  std::size_t waiting();

 private:
  friend struct StampsProbe;  // tests: poison the lock
  std::shared_ptr<const Names> names_;
  ostrel_core::sync::Mutex<std::deque<Stamping>> queue_;
};

}  // namespace ostrel_server::plans
