#include "fluid/step.hpp"

#include <algorithm>
#include <array>
#include <optional>

#include "detgen/rng.hpp"

namespace ostrel_core::fluid::step {
namespace {

using solver::Flow;
using solver::Neighbourhood;
using solver::PosSet;
using solver::Tuning;
using solver::Tunings;

// How far ahead a dry position looks for a step at which every enabled fluid is due.
constexpr std::uint64_t kDryLookahead = 4096;

std::uint64_t rate_of(const Tuning& t) { return t.tick_rate == 0 ? 1 : t.tick_rate; }

// The four horizontal neighbours of `p` in its turn order.
std::array<BlockPos, 4> turn_order(BlockPos p) {
  const std::array<BlockPos, 4> sides = solver::beside(p);
  const unsigned k = turn_start(p);
  return {sides[k], sides[(k + 1) & 3], sides[(k + 2) & 3], sides[(k + 3) & 3]};
}

}  // namespace

unsigned turn_start(BlockPos p) {
  const std::uint32_t sum =
      static_cast<std::uint32_t>(p.x) + static_cast<std::uint32_t>(p.y) + static_cast<std::uint32_t>(p.z);
  return sum & 3;
}

std::uint64_t evaporation_hash(std::uint64_t s, BlockPos p, std::uint64_t seed) {
  auto wide = [](std::int32_t v) { return static_cast<std::uint64_t>(static_cast<std::int64_t>(v)); };
  const std::uint64_t h = (s * 0xd6e8feb86659fd93ull) ^ (wide(p.x) * 0x9e3779b97f4a7c15ull) ^
                          (wide(p.y) * 0xc2b2ae3d27d4eb4full) ^ (wide(p.z) * 0x165667b19e3779f9ull) ^ seed;
  return ostrel_core::detgen::rng::mix(h + 0x9e3779b97f4a7c15ull);
}

// One step's run over the solver's queue.
class Stepper {
 public:
  Stepper(solver::Solver& solver, const Tunings& tunings, Neighbourhood& n, std::uint64_t s,
          std::uint64_t seed, std::vector<Flow>& flows)
      : solver_(solver), tunings_(tunings), n_(n), step_(s), seed_(seed), flows_(flows) {}

  void run() {
    if (solver_.idle()) return;
    if (any_enabled() && !any_enabled_due()) return;
    PosSet wake = sweep_exposed();
    enqueue(std::move(wake));
    const bool all_due = all_enabled_due(step_);
    work(all_due);
    std::sort(woken_.begin(), woken_.end());
    woken_.erase(std::unique(woken_.begin(), woken_.end()), woken_.end());
    for (const BlockPos& p : woken_) solver_.touch(p);
  }

 private:
  // --- schedule -------------------------------------------------------------------------------
  bool due(const Tuning& t, std::uint64_t at) const { return at % rate_of(t) == 0; }
  bool any_enabled() const {
    return std::any_of(tunings_.enabled.begin(), tunings_.enabled.end(), [](bool e) { return e; });
  }
  bool any_enabled_due() const {
    for (std::size_t i = 0; i < solver::kSlots; ++i) {
      if (tunings_.enabled[i] && due(tunings_.slots[i], step_)) return true;
    }
    return false;
  }
  bool all_enabled_due(std::uint64_t at) const {
    for (std::size_t i = 0; i < solver::kSlots; ++i) {
      if (tunings_.enabled[i] && !due(tunings_.slots[i], at)) return false;
    }
    return true;
  }
  // The first step after this one at which every enabled fluid is due, within the lookahead;
  // else the next step.
  std::uint64_t dry_wake_step() {
    if (dry_wake_) return *dry_wake_;
    dry_wake_ = step_ + 1;
    for (std::uint64_t t = step_ + 1; t <= step_ + kDryLookahead; ++t) {
      if (all_enabled_due(t)) {
        dry_wake_ = t;
        break;
      }
    }
    return *dry_wake_;
  }

  // Open blocks due to evaporate this step; dry ones leave `exposed`.
  PosSet sweep_exposed() {
    PosSet wake;
    std::vector<BlockPos> dried;
    for (const BlockPos& p : solver_.exposed_) {
      const Fluid s = n_.fluid(p);
      if (!s.is_wet()) {
        dried.push_back(p);
        continue;
      }
      const std::uint32_t e = tunings_.of(s.id()).evaporates;
      if (e != 0 && evaporation_hash(step_, p, seed_) % e == 0) wake.insert(p);
    }
    for (const BlockPos& p : dried) solver_.exposed_.erase(p);
    return wake;
  }

  static PosSet sorted_set(std::vector<BlockPos> positions) {
    std::sort(positions.begin(), positions.end());
    return PosSet(positions.begin(), std::unique(positions.begin(), positions.end()));
  }

  void push_back(PosSet set) {
    if (set.empty()) return;
    solver_.queued_ += set.size();
    solver_.queue_.push_back(std::move(set));
  }

  void enqueue(PosSet wake) {
    for (PosSet& set : solver_.take_due(step_)) push_back(std::move(set));
    push_back(sorted_set(std::exchange(solver_.touched_, {})));
    push_back(std::move(wake));
  }

  void drop_empty_front() {
    while (!solver_.queue_.empty() && solver_.queue_.front().empty()) solver_.queue_.pop_front();
  }

  void work(bool all_due) {
    std::size_t taken = 0;
    std::size_t processed = 0;
    for (;;) {
      drop_empty_front();
      if (solver_.queue_.empty()) break;
      PosSet& front = solver_.queue_.front();
      const BlockPos p = *front.begin();
      front.erase(front.begin());
      --solver_.queued_;
      ++taken;
      const Fluid s = n_.fluid(p);
      if (s.is_wet() && !due(tunings_.of(s.id()), step_)) {
        const std::uint64_t rate = rate_of(tunings_.of(s.id()));
        solver_.defer((step_ / rate + 1) * rate, p);
      } else if (!s.is_wet() && !all_due) {
        solver_.defer(dry_wake_step(), p);
      } else {
        process(p);
        ++processed;
      }
      if (taken == kMaxTaken || processed == kMaxProcessed) break;
    }
    drop_empty_front();
  }

  // --- the world --------------------------------------------------------------------------------
  std::uint32_t level(BlockPos p) { return n_.fluid(p).level(); }
  bool wet(BlockPos p) { return n_.fluid(p).is_wet(); }
  // What `q` can still take of `f` under `t`; 0 when it is away or holds another fluid. A move
  // of 0 cells changes nothing, so callers need not test it first.
  std::uint32_t space_for(BlockPos q, FluidId f, const Tuning& t) {
    return solver::space_for(n_, q, f, t.waterlogs_at);
  }
  void move(BlockPos from, BlockPos into, FluidId f, std::uint32_t amount, const Tuning& t) {
    solver::transfer(n_, from, into, f, amount, t.washes, flows_, solver_);
  }
  // Writes `p`'s new level of `f` (0 dries it) as one flow.
  void relevel(BlockPos p, FluidId f, std::uint32_t new_level) {
    const Fluid old = n_.fluid(p);
    const Fluid now = new_level == 0 ? Fluid{} : Fluid::of(f, static_cast<std::uint8_t>(new_level));
    n_.set_fluid(p, now);
    flows_.push_back({p, old, now});
  }

  // --- one position -----------------------------------------------------------------------------
  void process(BlockPos p) {
    const auto occupancy = n_.occupancy(p);
    if (!occupancy) return;  // its chunk is away: overflow would throw its fluid away
    const std::size_t mark = flows_.size();
    const Fluid s = n_.fluid(p);
    if (s.is_wet()) {
      const Tuning& t = tunings_.of(s.id());
      note_blocked(p, s, t);
      move_fluid(p, s.id(), t, *occupancy);
    }
    update_exposure(p);
    for (std::size_t i = mark; i < flows_.size(); ++i) {
      woken_.push_back(flows_[i].pos);
      woken_.push_back(solver::above(flows_[i].pos));
    }
  }

  void note_blocked(BlockPos p, Fluid s, const Tuning& t) {
    auto& blocked = solver_.blocked_;
    if (blocked.size() >= solver::kMaxBlocked || s.level() < 2) return;
    auto look = [&](BlockPos m, bool beside) {
      if (m == p || blocked.size() >= solver::kMaxBlocked) return;
      const auto occ = n_.occupancy(m);
      if (!occ) return;
      const Fluid other = n_.fluid(m);
      if (other.is_wet() && other.id() != s.id()) {
        blocked.push_back({p, m, s.level(), s.id(), true, other.id()});
      } else if (beside && !other.is_wet() && (*occ >= t.waterlogs_at || *occ > 26)) {
        blocked.push_back({p, m, s.level(), s.id(), false, 0});
      }
    };
    for (const BlockPos& m : solver::beside(p)) look(m, true);
    look(solver::below(p), false);
  }

  // Overflow, fall, spread, creep, soak and evaporation, each stopping once `p` is dry.
  void move_fluid(BlockPos p, FluidId f, const Tuning& t, std::uint32_t occupancy) {
    const std::array<BlockPos, 4> turns = turn_order(p);
    const BlockPos down = solver::below(p);
    overflow(p, f, t, occupancy, down, turns);
    if (!wet(p)) return;
    fall(p, f, t, down);
    if (!wet(p)) return;
    spread(p, f, t, turns);
    if (creep(p, f, t, turns)) return;
    soak(p, f, down, turns);
    evaporate(p, f, t);
  }

  void overflow(BlockPos p, FluidId f, const Tuning& t, std::uint32_t occupancy, BlockPos down,
                const std::array<BlockPos, 4>& turns) {
    const std::uint32_t own_room = solver::room(occupancy, t.waterlogs_at);
    const std::uint32_t l = level(p);
    if (l <= own_room) return;
    std::uint32_t excess = l - own_room;
    auto offer = [&](BlockPos q) {
      if (excess == 0 || q == p) return;
      const std::uint32_t amount = std::min(space_for(q, f, t), excess);
      move(p, q, f, amount, t);
      excess -= amount;
    };
    offer(down);
    for (const BlockPos& q : turns) offer(q);
    if (excess > 0) relevel(p, f, own_room);
  }

  void fall(BlockPos p, FluidId f, const Tuning& t, BlockPos down) {
    if (down == p) return;
    move(p, down, f, std::min(space_for(down, f, t), level(p)), t);
  }

  void spread(BlockPos p, FluidId f, const Tuning& t, const std::array<BlockPos, 4>& turns) {
    std::array<std::pair<std::uint32_t, BlockPos>, 4> order;
    for (std::size_t i = 0; i < 4; ++i) order[i] = {level(turns[i]), turns[i]};
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& entry : order) {
      const BlockPos q = entry.second;
      if (q == p) continue;
      const std::uint32_t lp = level(p);
      const std::uint32_t lq = level(q);
      if (lq >= lp) continue;
      move(p, q, f, std::min((lp - lq) / 2, space_for(q, f, t)), t);
    }
  }

  // Answers true when `p` crept over an edge (and is dry).
  bool creep(BlockPos p, FluidId f, const Tuning& t, const std::array<BlockPos, 4>& turns) {
    const std::uint32_t lp = level(p);
    if (lp != 1 && lp != 2) return false;
    for (const BlockPos& q : turns) {
      if (q == p) continue;
      const auto occ = n_.occupancy(q);
      if (!occ || wet(q) || solver::room(*occ, t.waterlogs_at) < lp) continue;
      const BlockPos under = solver::below(q);
      if (under == q || space_for(under, f, t) == 0) continue;
      move(p, q, f, lp, t);
      return true;
    }
    return false;
  }

  void soak(BlockPos p, FluidId f, BlockPos down, const std::array<BlockPos, 4>& turns) {
    auto drink = [&](BlockPos q) {
      if (q == p || !wet(p) || !n_.occupancy(q)) return;
      const std::uint32_t r = n_.absorbency(q, f);
      if (r == 0) return;
      const std::uint32_t lp = level(p);
      const std::uint32_t amount = std::min(r, lp);
      relevel(p, f, lp - amount);
      solver_.absorbed_.push_back({q, amount, f});
    };
    drink(down);
    for (const BlockPos& q : turns) drink(q);
  }

  bool open_above(BlockPos p) {
    const BlockPos up = solver::above(p);
    if (up == p || wet(up)) return false;
    const auto occ = n_.occupancy(up);
    return occ && *occ == 0;
  }

  // A position can be queued twice in one step (carried, deferred, woken); it still loses at
  // most one cell a step.
  void evaporate(BlockPos p, FluidId f, const Tuning& t) {
    if (!wet(p) || t.evaporates == 0 || !open_above(p)) return;
    if (evaporation_hash(step_, p, seed_) % t.evaporates != 0 || !evaporated_.insert(p).second) return;
    relevel(p, f, level(p) - 1);
  }

  void update_exposure(BlockPos p) {
    const Fluid s = n_.fluid(p);
    if (s.is_wet() && tunings_.of(s.id()).evaporates != 0 && open_above(p)) {
      solver_.exposed_.insert(p);
    } else {
      solver_.exposed_.erase(p);
    }
  }

  solver::Solver& solver_;
  const Tunings& tunings_;
  Neighbourhood& n_;
  const std::uint64_t step_;
  const std::uint64_t seed_;
  std::vector<Flow>& flows_;
  std::vector<BlockPos> woken_;            // positions to touch for the next step, repeats included
  PosSet evaporated_;                      // positions that lost a cell to the air this step
  std::optional<std::uint64_t> dry_wake_;  // computed on first need
};

void advance(solver::Solver& solver, const solver::Tunings& tunings, solver::Neighbourhood& n,
             std::uint64_t s, std::uint64_t seed, std::vector<solver::Flow>& flows) {
  Stepper(solver, tunings, n, s, seed, flows).run();
}

}  // namespace ostrel_core::fluid::step
