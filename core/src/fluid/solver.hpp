#pragma once
// What a fluid step works with: the schedule of blocks waiting for an update (`Solver`), the
// per-fluid tunings, the records a step leaves (`Flow`, `Blocked`, `Absorbed`), the one move
// primitive (`transfer`) and the world as fluid sees it (`Neighbourhood`).
//
// Only woken blocks are ever looked at: an edit, a script write, a flow that moved through, a
// loaded chunk with unsettled fluid, or an open block that may evaporate. A settled world costs
// nothing.
//
// Sets and maps of positions order them by x, then y, then z, each as a signed 32-bit number.
// Neighbours are one block along an axis; a coordinate at the i32 limit stays put, so the block
// past the edge of the world is the block itself (callers skip a neighbour equal to its block).

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "fluid/fluid.hpp"
#include "world/coords.hpp"
#include "world/material.hpp"

namespace ostrel_core::fluid::step {
class Stepper;
}

namespace ostrel_core::fluid::solver {

using coords::BlockPos;
using material::MaterialId;
using PosSet = std::set<BlockPos>;

inline constexpr std::size_t kSlots = 16;       // one per FluidId; slot 0 is no fluid
inline constexpr std::size_t kMaxBlocked = 64;  // Blocked records a step may leave

// One fluid's simulation values.
struct Tuning {
  std::uint32_t waterlogs_at = 14;  // cells of terrain (of 27) at which a block is floor
  std::uint32_t evaporates = 0;     // one in how many fluid steps an open block loses a cell; 0 never
  std::uint8_t tick_rate = 1;       // updated on steps that are multiples of this; 0 counts as 1
  bool washes = true;               // its flow sweeps away blocks that wash away
  friend bool operator==(const Tuning&, const Tuning&) = default;
};

struct Tunings {
  std::array<Tuning, kSlots> slots{};  // by FluidId
  std::array<bool, kSlots> enabled{};  // slots that belong to a registered fluid

  // Sixteen copies of `t`, every slot enabled.
  static Tunings uniform(const Tuning& t);
  // The slot of `id` (ids past 15 read slot 0's values; states never hold them).
  const Tuning& of(FluidId id) const { return slots[id < kSlots ? id : 0]; }
};

// One change of one block.
struct Flow {
  BlockPos pos;
  Fluid old_state;
  Fluid new_state;
  friend bool operator==(const Flow&, const Flow&) = default;
};

// A flow that was stopped: at a wall, or at another fluid (`meets`).
struct Blocked {
  BlockPos from;             // the block holding the fluid
  BlockPos into;             // the block it failed to enter
  std::uint32_t volume = 0;  // the level of `from`
  FluidId fluid = 0;         // the fluid in `from`
  bool meets = false;        // `into` holds another fluid
  FluidId other = 0;         // that fluid (meaningful when `meets`)
  friend bool operator==(const Blocked&, const Blocked&) = default;
};

// Fluid taken up by an absorbing block.
struct Absorbed {
  BlockPos pos;              // the absorbing block
  std::uint32_t amount = 0;  // cells taken
  FluidId fluid = 0;
  friend bool operator==(const Absorbed&, const Absorbed&) = default;
};

// What one material drinks.
struct AbsorbRule {
  std::optional<MaterialId> becomes;  // the material it turns into, if any
  std::uint32_t rate = 0;             // cells taken per step
  std::optional<FluidId> fluid;       // the one fluid it takes up; none: any. 0 matches no fluid
  friend bool operator==(const AbsorbRule&, const AbsorbRule&) = default;
};

// By MaterialId; a material past the end has no rule.
using AbsorbTable = std::vector<std::optional<AbsorbRule>>;

// The world as the fluid step reads and writes it.
class Neighbourhood {
 public:
  virtual ~Neighbourhood() = default;
  // Cells per step the block takes out of `fluid`; 0 for none.
  virtual std::uint32_t absorbency(BlockPos pos, FluidId fluid) = 0;
  // Whether flowing fluid sweeps the block away.
  virtual bool washes_away(BlockPos pos) = 0;
  // The block's state; 0 where no layer holds it.
  virtual Fluid fluid(BlockPos pos) = 0;
  // The block's cells (of 27) that count as terrain; none when its chunk is not resident.
  virtual std::optional<std::uint32_t> occupancy(BlockPos pos) = 0;
  // Writes the block's state; answers whether it changed.
  virtual bool set_fluid(BlockPos pos, Fluid state) = 0;
};

// The neighbour one block along an axis (each delta -1, 0 or 1), saturating at the i32 limits.
BlockPos step(BlockPos p, int dx, int dy, int dz);
inline BlockPos below(BlockPos p) { return step(p, 0, -1, 0); }
inline BlockPos above(BlockPos p) { return step(p, 0, 1, 0); }
// The four horizontal neighbours: -x, +x, -z, +z.
inline std::array<BlockPos, 4> beside(BlockPos p) {
  return {step(p, -1, 0, 0), step(p, 1, 0, 0), step(p, 0, 0, -1), step(p, 0, 0, 1)};
}

// Cells a block offers a fluid that is floor at `waterlogs_at`: 27 - occupancy when the
// occupancy is below `waterlogs_at` and at most 26, else 0 (the block is floor).
std::uint32_t room(std::uint32_t occupancy, std::uint32_t waterlogs_at);
// What a block of `level` can still take: room - level, or 0 when the level is past the room.
std::uint32_t space(std::uint32_t room, std::uint32_t level);

// The work sets' sizes, read by the tick before each step.
struct WorkSets {
  std::size_t touched = 0;  // woken since the last step
  std::size_t queued = 0;   // carried in the queue from a step that stopped early
  std::size_t due = 0;      // deferred to a later step
  std::size_t exposed = 0;  // open blocks that may evaporate
  friend bool operator==(const WorkSets&, const WorkSets&) = default;
};

class Solver {
 public:
  // Wakes `p` and its six face neighbours for the next step, in the order (y-1), (y+1), (x-1),
  // (x+1), (z-1), (z+1).
  void touch(BlockPos p);
  // Wakes `p` alone.
  void wake(BlockPos p) { touched_.push_back(p); }
  // Puts `p` into the set of step `at`.
  void defer(std::uint64_t at, BlockPos p);
  // Removes every set deferred to a step at most `now`; answers them in ascending step order.
  std::vector<PosSet> take_due(std::uint64_t now);

  // Nothing is woken, queued, deferred or exposed.
  bool idle() const { return touched_.empty() && queued_ == 0 && due_count_ == 0 && exposed_.empty(); }
  WorkSets work_sets() const { return {touched().size(), queued_, due_count_, exposed_.size()}; }
  // The woken positions, each once.
  PosSet touched() const { return PosSet(touched_.begin(), touched_.end()); }
  const PosSet& exposed() const { return exposed_; }

  // Left by the steps; the caller empties them after each step.
  std::vector<Blocked>& blocked() { return blocked_; }
  std::vector<BlockPos>& washed() { return washed_; }
  std::vector<Absorbed>& absorbed() { return absorbed_; }
  // Appends `p` unless it is listed already.
  void note_washed(BlockPos p);

  // Empties the step's lists; what the caller uses after it took them.
  std::vector<Blocked> take_blocked();
  std::vector<BlockPos> take_washed();
  std::vector<Absorbed> take_absorbed();

 private:
  friend class step::Stepper;  // the fluid step runs the queue

  std::deque<PosSet> queue_;  // work carried from step to step, front first
  std::size_t queued_ = 0;    // positions held in queue_
  // Woken since the last step, in the order woken, repeats included: a set is made of them once
  // a step takes them, which costs less than keeping them ordered as they come.
  std::vector<BlockPos> touched_;
  std::map<std::uint64_t, PosSet> due_;  // step -> positions deferred to it
  std::size_t due_count_ = 0;            // positions held in due_
  PosSet exposed_;                       // wet, evaporating, open above
  std::vector<Blocked> blocked_;         // at most kMaxBlocked per step
  std::vector<BlockPos> washed_;         // no duplicates
  PosSet washed_set_;                    // the same positions, for the duplicate test
  std::vector<Absorbed> absorbed_;
};

// What `q` can still take of fluid `f` that is floor at `waterlogs_at`: 0 when its chunk is not
// resident or it holds another fluid.
std::uint32_t space_for(Neighbourhood& n, BlockPos q, FluidId f, std::uint32_t waterlogs_at);

// Moves `amount` cells of fluid `id` from `from` into `into` and records the two flows; when
// `washes` and `into` washes away, `into` is noted on the solver's washed list.
// REQUIRES: amount <= the level of `from`, and `into` holds `id` or nothing (stops otherwise).
void transfer(Neighbourhood& n, BlockPos from, BlockPos into, FluidId id, std::uint32_t amount, bool washes,
              std::vector<Flow>& flows, Solver& solver);

}  // namespace ostrel_core::fluid::solver
