#include "fluid/solver.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <limits>
#include <utility>

#include "base/error.hpp"

namespace ostrel_core::fluid::solver {
namespace {

constexpr std::string_view kTarget = "ostrel_core::fluid::solver";

std::int32_t saturating(std::int32_t v, int d) {
  if (d > 0 && v == std::numeric_limits<std::int32_t>::max()) return v;
  if (d < 0 && v == std::numeric_limits<std::int32_t>::min()) return v;
  return v + d;
}

}  // namespace

Tunings Tunings::uniform(const Tuning& t) {
  Tunings out;
  out.slots.fill(t);
  out.enabled.fill(true);
  return out;
}

BlockPos step(BlockPos p, int dx, int dy, int dz) {
  return {saturating(p.x, dx), saturating(p.y, dy), saturating(p.z, dz)};
}

std::uint32_t room(std::uint32_t occupancy, std::uint32_t waterlogs_at) {
  return occupancy < waterlogs_at && occupancy <= 26 ? 27 - occupancy : 0;
}

std::uint32_t space(std::uint32_t room, std::uint32_t level) { return level <= room ? room - level : 0; }

std::uint32_t space_for(Neighbourhood& n, BlockPos q, FluidId f, std::uint32_t waterlogs_at) {
  const auto occupancy = n.occupancy(q);
  if (!occupancy) return 0;
  const Fluid held = n.fluid(q);
  if (held.is_wet() && held.id() != f) return 0;
  return space(room(*occupancy, waterlogs_at), held.level());
}

void Solver::touch(BlockPos p) {
  for (const BlockPos& q : {p, step(p, 0, -1, 0), step(p, 0, 1, 0), step(p, -1, 0, 0), step(p, 1, 0, 0),
                            step(p, 0, 0, -1), step(p, 0, 0, 1)}) {
    touched_.push_back(q);
  }
}

void Solver::defer(std::uint64_t at, BlockPos p) {
  if (due_[at].insert(p).second) ++due_count_;
}

std::vector<PosSet> Solver::take_due(std::uint64_t now) {
  std::vector<PosSet> out;
  auto it = due_.begin();
  while (it != due_.end() && it->first <= now) {
    due_count_ -= it->second.size();
    out.push_back(std::move(it->second));
    it = due_.erase(it);
  }
  return out;
}

void Solver::note_washed(BlockPos p) {
  if (washed_set_.insert(p).second) washed_.push_back(p);
}

std::vector<Blocked> Solver::take_blocked() { return std::exchange(blocked_, {}); }

std::vector<BlockPos> Solver::take_washed() {
  washed_set_.clear();
  return std::exchange(washed_, {});
}

std::vector<Absorbed> Solver::take_absorbed() { return std::exchange(absorbed_, {}); }

void transfer(Neighbourhood& n, BlockPos from, BlockPos into, FluidId id, std::uint32_t amount, bool washes,
              std::vector<Flow>& flows, Solver& solver) {
  if (amount == 0) return;
  if (washes && n.washes_away(into)) solver.note_washed(into);
  const Fluid s = n.fluid(from);
  const Fluid t = n.fluid(into);
  if (amount > s.level()) {
    contract_stop(kTarget,
                  fmt::format("transfer of {} cells from {} which holds {}", amount, from, s.level()));
  }
  if (t.is_wet() && t.id() != id) {
    contract_stop(kTarget,
                  fmt::format("transfer of fluid {} into {} which holds fluid {}", id, into, t.id()));
  }
  const Fluid new_from = amount == s.level() || s.id() == 0
                             ? Fluid{}
                             : Fluid::of(s.id(), static_cast<std::uint8_t>(s.level() - amount));
  const auto level = std::min<std::uint32_t>(t.level() + amount, kFullLevel);
  const Fluid new_into = Fluid::of(id, static_cast<std::uint8_t>(level));
  n.set_fluid(from, new_from);
  n.set_fluid(into, new_into);
  flows.push_back({from, s, new_from});
  flows.push_back({into, t, new_into});
}

}  // namespace ostrel_core::fluid::solver
