#pragma once
// One player's dig in progress: how many ticks it takes and how many cells come off on each.
// A plain value kept in the player hub's record and touched under its lock only.
//
// Ticks needed T(time, speed), q = time x 20 / speed in single precision:
//   q <= 1                     1 tick
//   q infinite or NaN          2,147,483,647 ticks (too hard to dig never comes off at once)
//   otherwise                  ceil(q), at most 2,147,483,647
// Cells due after n ticks: floor(cells x n / T) while n < T, then all of them. Example: 27
// cells, hardness 0.75 s at speed 1 under the block brush: T 15; 1 cell on tick 1, 3 by tick 2,
// the last ones on tick 15.

#include <cstdint>

#include "world/coords.hpp"

namespace ostrel_core::dig {

// What a dig removes; also the names dig hooks see.
inline constexpr std::uint8_t kBrushBlock = 0;    // "block": the whole block, cell by cell
inline constexpr std::uint8_t kBrushSubnode = 1;  // "subnode": the target cell only
inline constexpr std::uint8_t kBrushWhole = 2;    // "whole": a whole material in one piece

inline constexpr std::uint32_t kMaxTicks = 2'147'483'647;
inline constexpr float kTicksPerSecond = 20.0f;

// T(time, speed) as above.
std::uint32_t ticks_needed(float time, float speed);

struct Dig {
  coords::SubNodePos target;       // the cell aimed at; its block is the floor of each / 3
  std::uint32_t elapsed = 0;       // ticks counted
  std::uint32_t removed = 0;       // cells taken off; never above cells
  std::uint32_t cells = 0;         // cells the dig takes in all; 0 until an advance names them
  std::uint32_t ticks_needed = 1;  // recomputed by every advance
  std::uint8_t brush = kBrushBlock;

  // A fresh dig at `target`: nothing elapsed, removed or counted, one tick needed.
  static Dig start(coords::SubNodePos target, std::uint8_t brush) {
    return Dig{.target = target, .brush = brush};
  }

  // Counts one tick and answers the cells that come off now. `cells` 0 only recomputes the
  // ticks needed (with `time` unscaled); the first non-zero `cells` stays for the whole dig.
  // `time` is the seconds the whole block takes at speed 1; the block brush scales it by
  // cells / 27.
  std::uint32_t advance(std::uint32_t cells, float time, float speed);
  // Points the dig at `target` with `brush`; true when progress was discarded. The same target
  // and brush, or (under the whole brush) any cell of the same block, change nothing.
  bool retarget(coords::SubNodePos target, std::uint8_t brush);
  // elapsed / ticks needed, 1.0 once elapsed reaches it; never above 1.
  float progress() const;
  // Neither a tick counted nor a cell removed yet.
  bool untouched() const { return elapsed == 0 && removed == 0; }

  friend bool operator==(const Dig&, const Dig&) = default;
};

}  // namespace ostrel_core::dig
