#pragma once
// A fixed terrain recipe that uses every fill of the chunk buffer: a noisy ground laid by a
// palette with cell detail, sampled caves' ceilings, layers, cover, scattered posts and a sea
// with terraced pools. The golden check and the benchmarks run it.

#include <cstdint>
#include <vector>

#include "detgen/buffer/chunk_buffer.hpp"

namespace ostrel_core::detgen::buffer::sample {

struct Recipe {
  density::Density ground;  // 14 - y plus noise: positive below the surface
  density::Density ledge;   // a 3D noise shelf, filled with sampled detail
  density::Density code;    // a slow 2D noise, rounded to 0 or 1
  density::Density level;   // pools: a plain height per column
  density::Density within;  // where the pools lie
  std::vector<PaletteBand> bands;
  std::vector<Layer> layers;
  Schematic post;
  Schematic slab;
};

inline constexpr std::uint16_t kStone = 2, kDirt = 3, kGrass = 4, kTurf = 5, kSand = 6, kFern = 7, kWood = 8,
                               kLeaf = 9, kLip = 10;

Recipe make_recipe();
// Runs every fill of the recipe over `b` with `seed`, in a generator's order.
void run(ChunkBuffer& b, const Recipe& r, std::uint64_t seed);
// Only the typical part: palette, layers, cover, scatter and the sea.
void run_typical(ChunkBuffer& b, const Recipe& r, std::uint64_t seed);

}  // namespace ostrel_core::detgen::buffer::sample
