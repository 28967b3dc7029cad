#pragma once
// Shape rasterisation: paths with a radius, ellipsoids and named cells of single blocks, cut to
// the sub-node cell into a schematic. Positions are in blocks from the root, as doubles; cell
// coordinates are thirds of a block, so cell c lies in block floor(c / 3) at c mod 3 (both
// towards minus infinity) and its centre is at (c + 0.5) / 3 blocks.
//
// A cell takes the material of the highest-priority shape covering it; at equal priority the
// later shape wins. Every distance test is in doubles with no square root, in the order written
// in shapes.cpp.

#include <array>
#include <cstdint>
#include <span>
#include <unordered_map>
#include <variant>
#include <vector>

#include "detgen/schematic.hpp"
#include "world/coords.hpp"

namespace ostrel_core::detgen::shapes {

// Consecutive points (x, y, z, r) joined by segments whose radius runs linearly from one end's
// r to the other's.
struct Path {
  std::vector<std::array<double, 4>> points;  // at least two
  double rough = 0.0;
};

struct Ellipsoid {
  std::array<double, 3> centre{};
  std::array<double, 3> radii{};
  double rough = 0.0;
};

// Named cells of one block: bit k of the mask is cell k (low 27 bits read).
struct Cells {
  std::array<std::int32_t, 3> at{};
  std::uint32_t mask = 0;
};

struct Shape {
  std::variant<Path, Ellipsoid, Cells> kind;
  std::uint16_t material = 0;  // 0, air, carves
  std::int32_t priority = 0;
};

// The cells a shape's distance tests visit, summed over its boxes (saturating), and the block
// box those boxes span; callers bound the work of untrusted shapes with them before rasterising.
struct Extent {
  std::uint64_t cells = 0;
  std::int64_t low[3] = {0, 0, 0};   // least block on each axis
  std::int64_t high[3] = {0, 0, 0};  // greatest block on each axis
  bool empty = true;                 // no box visits a cell
};
Extent extent(const Shape& shape);

// Block position -> its 27 cells, each empty or (material, priority).
class Raster {
 public:
  // Claims a cell when it is empty or `priority` is at least the stored one.
  void put(std::int64_t cx, std::int64_t cy, std::int64_t cz, std::uint16_t material, std::int32_t priority);
  // The claimed cells as schematic entries: blocks ascending by (x, y, z); in each, one entry per
  // material in the order of its lowest cell, with the mask of the cells it holds.
  buffer::Schematic schematic() const;

 private:
  struct Block {
    std::uint32_t occupied = 0;  // bit per cell
    std::array<std::uint16_t, 27> material{};
    std::array<std::int32_t, 27> priority{};
  };
  std::unordered_map<coords::BlockPos, Block> blocks_;
};

// Every shape written in list order into one raster; an empty schematic is the caller's to
// refuse. Never fails.
buffer::Schematic rasterise(std::span<const Shape> shapes);

}  // namespace ostrel_core::detgen::shapes
