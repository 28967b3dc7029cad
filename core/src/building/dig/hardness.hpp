#pragma once
// How hard a block is to dig: per material a hardness (seconds at speed 1) and a dominance (its
// weight in a block of several materials). A mixed block's hardness is the dominance-weighted
// harmonic mean of its cells'.
//
//   material 0 (air)                 0
//   no entry                         0.75
//   hardness not finite or <= 0.0001 0.0001
//   dominance absent, not finite or <= 0: 1
// Example: two cells, hardness 1.0 and 3.0, dominance 1 each: 2 / (1/1 + 1/3) = 1.5.

#include <map>

#include "world/block.hpp"
#include "world/material.hpp"

namespace ostrel_core::dig::hardness {

using material::MaterialId;

struct Resistance {
  float hardness = 0.75f;
  float dominance = 1.0f;
  friend bool operator==(const Resistance&, const Resistance&) = default;
};

using Table = std::map<MaterialId, Resistance>;

inline constexpr float kDefaultHardness = 0.75f;
inline constexpr float kLeastHardness = 0.0001f;

float of_material(const Table& table, MaterialId material);
// Over the non-empty cells; 0 when every cell is empty.
float of_cells(const Table& table, const block::Cells& cells);

}  // namespace ostrel_core::dig::hardness
