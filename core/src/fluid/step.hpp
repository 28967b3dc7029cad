#pragma once
// One fluid step: the woken blocks overflow, fall, spread, creep over edges, soak into
// absorbent blocks and evaporate; every change is a Flow, and the blocks around each change
// wake for the next step. Fluid moves only between blocks: apart from overflow that finds no
// room, absorption and evaporation, no step makes or destroys volume.
//
// A step takes at most kMaxTaken positions from the queue and processes at most kMaxProcessed
// of them; what is left waits at the front of the queue for the next step. Positions whose
// fluid is not due are deferred to the step when it is, so a slow fluid costs in proportion
// to its rate. A position whose own chunk is not resident is left as it is.
//
// Turn order of a position (x, y, z): the horizontal directions (-x, +x, -z, +z) starting at
// index (x + y + z) mod 4, the sum taken on unsigned 32-bit words. (0, 1, 0) turns +x, -z, +z, -x.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fluid/solver.hpp"

namespace ostrel_core::fluid::step {

using solver::BlockPos;

inline constexpr std::size_t kMaxTaken = 4096;
inline constexpr std::size_t kMaxProcessed = 512;

// Index of the first horizontal direction of `p`'s turn order, 0..3.
unsigned turn_start(BlockPos p);

// The evaporation hash of step `s` at `p` under `seed`, all modulo 2^64 with the coordinates
// sign-extended. A block of a fluid with `evaporates` e loses a cell at step s when h % e == 0.
std::uint64_t evaporation_hash(std::uint64_t s, BlockPos p, std::uint64_t seed);

// Runs step `s` over the solver's woken blocks and appends its flows to `flows`, in the order
// they happened; Blocked, washed and Absorbed records go to the solver's lists.
void advance(solver::Solver& solver, const solver::Tunings& tunings, solver::Neighbourhood& n, std::uint64_t s,
             std::uint64_t seed, std::vector<solver::Flow>& flows);

}  // namespace ostrel_core::fluid::step
