#pragma once
// Seeds: the block writes mods and plan stamping ask for, queued in the player hub and applied
// by the next tick's edits phase. A seed writes a block whole, one of its cells, or the cells
// of a mask; a merge fills the cells of a mask while keeping the block's other cells. Seeds and
// merges share one queue. Materials are this run's ids.

#include <cstdint>
#include <variant>

#include "world/coords.hpp"
#include "world/material.hpp"

namespace ostrel_server::transport::endpoint {

using ostrel_core::coords::BlockPos;
using ostrel_core::coords::SubNodePos;
using ostrel_core::material::MaterialId;

namespace seed {
struct Whole {  // the whole block becomes the material
  MaterialId material = 0;
  BlockPos pos;
  friend bool operator==(const Whole&, const Whole&) = default;
};
struct Cell {  // one cell becomes the material
  MaterialId material = 0;
  SubNodePos pos;
  friend bool operator==(const Cell&, const Cell&) = default;
};
struct Masked {  // the block is written with the material in the cells of `mask`
  MaterialId material = 0;
  BlockPos pos;
  std::uint32_t mask = 0;  // 27-bit occupancy, bit x + 3y + 9z
  friend bool operator==(const Masked&, const Masked&) = default;
};
struct Merge {  // the cells of `mask` are filled with the material; the rest of the block stays
  MaterialId material = 0;
  BlockPos pos;
  std::uint32_t mask = 0;
  friend bool operator==(const Merge&, const Merge&) = default;
};
}  // namespace seed

using Seed = std::variant<seed::Whole, seed::Cell, seed::Masked, seed::Merge>;

}  // namespace ostrel_server::transport::endpoint
