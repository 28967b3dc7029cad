#pragma once
// ChunkBuffer: the chunk a terrain generator fills, then turned into the world's Chunk.
//
// Storage is one of two resolutions:
//   Blocks  4096 material ids, block (x, y, z) at x + 16y + 256z (the default, 8 KB)
//   Cells   110,592 cell materials (48 a side), cell (cx, cy, cz) at cx + 48cy + 2304cz; cell
//           (sx, sy, sz) of block (x, y, z) is cell (3x + sx, 3y + sy, 3z + sz); 0 is empty
// Worked example: block (3, 4, 5) is block index 1347, cells (9..11, 12..14, 15..17).
// The first cell-level write expands to Cells; a fill that proves one material everywhere (and
// fill_all) goes back to Blocks. Ids are stored as given: callers decide which are allowed.

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <vector>

#include "detgen/buffer_error.hpp"
#include "detgen/density.hpp"
#include "detgen/schematic.hpp"
#include "fluid/fluid.hpp"
#include "fluid/layer.hpp"
#include "world/chunk.hpp"
#include "world/coords.hpp"

namespace ostrel_core::detgen::buffer {

inline constexpr std::size_t kBufferBlocks = 4096;
inline constexpr std::size_t kCellSide = 48;
inline constexpr std::size_t kBufferCells = kCellSide * kCellSide * kCellSide;  // 110,592

using BlockCells = std::array<std::uint16_t, 27>;  // cell order sx + 3sy + 9sz

// One band of a palette: values strictly above `above` (and at or below the next band's
// threshold) take `material`.
struct PaletteBand {
  float above = 0.0f;
  std::uint16_t material = 0;
  friend bool operator==(const PaletteBand&, const PaletteBand&) = default;
};

// The bands checked (1 to 16, no NaN threshold) and sorted by ascending threshold (stable),
// refused when two share a threshold.
std::expected<std::vector<PaletteBand>, PaletteError> checked_palette(std::vector<PaletteBand> bands);

// One layer of fill_layers: blocks of code `code` (-1: every code) whose depth d has
// from <= d < to, and d > 0, take `material`.
struct Layer {
  std::int32_t code = -1;
  float from = 0.0f;
  float to = 0.0f;
  std::uint16_t material = 0;
};

// A block's code: floor(v + 0.5) saturated to 32 bits; NaN gives 0.
std::int32_t round_code(float v);

struct ScatterSpec {
  const density::Density* depth = nullptr;   // positive in the ground; required
  std::vector<const Schematic*> schematics;  // drawn uniformly; repeats weigh
  const density::Density* stand = nullptr;   // positive where a structure may stand
  std::int64_t salt = 0;                     // XORed into the seed
  std::uint32_t cell = 4;                    // square side, blocks, 1..64
  float chance = 1.0f;                       // 0..1; NaN places nothing
  std::int32_t sink = 1;                     // root below the block over the surface
};

// The squares (qx, qz), inclusive, whose structures can reach chunk (px, pz): side `cell` (> 0),
// greatest reaches reach_x and reach_z (>= 0).
struct SquareRange {
  std::int64_t qx0, qx1, qz0, qz1;
};
SquareRange scatter_squares(std::int32_t px, std::int32_t pz, std::int64_t reach_x, std::int64_t reach_z,
                            std::uint32_t cell);

struct TerracedSpec {
  const density::Density* level = nullptr;   // a world height per column; required
  const density::Density* within = nullptr;  // columns where it is not positive hold nothing
  std::optional<std::uint16_t> lip;          // the material of the steps
  fluid::FluidId fluid = 0;
};

class ChunkBuffer {
 public:
  // All air at block resolution, no fluid.
  explicit ChunkBuffer(coords::ChunkPos pos);

  coords::ChunkPos pos() const { return pos_; }
  bool is_expanded() const { return !cells_.empty(); }
  const fluid::layer::FluidLayer& fluid() const { return fluid_; }
  // Density evaluations (whole regions and single points) the fills have made so far.
  std::uint64_t evaluations() const { return evaluations_; }

  // REQUIRES for every local block argument: x, y, z each 0..15.
  // The block becomes `m` whole (all 27 cells when expanded). Never expands.
  void set_block(std::uint32_t x, std::uint32_t y, std::uint32_t z, std::uint16_t m);
  // Expands, then writes the block's 27 cells.
  void set_block_cells(std::uint32_t x, std::uint32_t y, std::uint32_t z, const BlockCells& cells);
  // The block's 27 cells (its id 27 times at block resolution).
  BlockCells block_cells(std::uint32_t x, std::uint32_t y, std::uint32_t z) const {
    BlockCells out;
    if (!is_expanded()) {
      out.fill(blocks_[block_index(x, y, z)]);
      return out;
    }
    std::uint16_t* o = out.data();
    for (std::uint32_t sz = 0; sz < 3; ++sz) {
      for (std::uint32_t sy = 0; sy < 3; ++sy, o += 3) {
        const std::uint16_t* row = &cells_[cell_index(3 * x, 3 * y + sy, 3 * z + sz)];
        o[0] = row[0];
        o[1] = row[1];
        o[2] = row[2];
      }
    }
    return out;
  }
  // Non-empty cells of the block, 0..27.
  std::uint32_t filled_cells(std::uint32_t x, std::uint32_t y, std::uint32_t z) const {
    if (!is_expanded()) return blocks_[block_index(x, y, z)] != 0 ? 27 : 0;
    const BlockCells c = block_cells(x, y, z);
    std::uint32_t n = 0;
    for (const std::uint16_t m : c) n += m != 0 ? 1 : 0;
    return n;
  }
  // Expands, then sets one cell. REQUIRES: cx, cy, cz each 0..47.
  void set_cell(std::uint32_t cx, std::uint32_t cy, std::uint32_t cz, std::uint16_t m);
  // Sets the world cell when it lies in this chunk (expanding) and answers whether it did;
  // a miss writes nothing and does not expand.
  bool set_subnode_world(std::int32_t x, std::int32_t y, std::int32_t z, std::uint16_t m);
  // Makes the storage Cells, each block's id in its 27 cells; nothing when already expanded.
  void expand();
  // Replaces the storage with 4096 ids `m`, dropping any cells; the fluid stays.
  void fill_all(std::uint16_t m);
  // Writes the fluid state of one block. REQUIRES: local coordinates.
  void set_fluid(std::uint32_t x, std::uint32_t y, std::uint32_t z, fluid::Fluid state);

  // The world chunk of the storage; the buffer is unchanged.
  chunk::Chunk to_chunk() const;
  // The fluid layer as the world keeps it: each wet level cut to its block's room, dry in a
  // whole block, so no fluid sits inside solid.
  fluid::layer::FluidLayer finished_fluid() const;

  // Whole-buffer fills (detail: Smooth when `smooth`, Sampled otherwise). Each adds: what it
  // does not claim keeps what earlier writes left. A failure part way keeps earlier writes.
  std::expected<void, BufferError> fill_density(const density::Density& d, std::uint64_t seed,
                                                std::uint16_t m);
  std::expected<void, BufferError> fill_density_detail(const density::Density& d, std::uint64_t seed,
                                                       std::uint16_t m, bool smooth);
  // REQUIRES: `bands` as checked_palette returns them.
  std::expected<void, BufferError> fill_palette(const density::Density& d, std::uint64_t seed,
                                                std::span<const PaletteBand> bands);
  std::expected<void, BufferError> fill_palette_detail(const density::Density& d, std::uint64_t seed,
                                                       std::span<const PaletteBand> bands, bool smooth);
  // Every block below its column's height (exclusive, world y; index x + 16z) becomes `m`
  // whole. Refused, writing nothing, unless there are 256 heights.
  std::expected<void, BufferError> fill_below_heightmap(std::span<const std::int32_t> heights,
                                                        std::uint16_t m);

  // REQUIRES: `layers` not empty.
  std::expected<void, BufferError> fill_layers(const density::Density& depth, const density::Density& code,
                                               std::uint64_t seed, std::span<const Layer> layers);
  // `cells`: 0 counts as 1, above 9 as 9. `passable` sorted ascending.
  std::expected<void, BufferError> fill_cover(std::uint16_t m, std::uint32_t cells,
                                              const density::Density* take, std::uint64_t seed,
                                              std::span<const std::uint16_t> passable);

  // Structures placed that wrote at least one block into this chunk.
  std::expected<std::uint32_t, BufferError> scatter(std::uint64_t seed, const ScatterSpec& spec);

  // Every block below world height `level` takes (fluid, its room); whole blocks keep theirs.
  void fill_fluid_below(std::int32_t level, fluid::FluidId fluid);
  // Lip blocks written.
  std::expected<std::uint32_t, BufferError> fill_fluid_terraced(std::uint64_t seed, const TerracedSpec& spec);

 private:
  static std::size_t block_index(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    return x + 16 * y + 256 * z;
  }
  static std::size_t cell_index(std::uint32_t cx, std::uint32_t cy, std::uint32_t cz) {
    return cx + kCellSide * cy + kCellSide * kCellSide * cz;
  }
  void pour(std::uint32_t x, std::uint32_t y, std::uint32_t z, fluid::FluidId fluid);
  std::expected<void, BufferError> detail_cells(const density::Density& d, std::uint64_t seed,
                                                std::span<const float> lattice, bool smooth, std::uint32_t x,
                                                std::uint32_t y, std::uint32_t z, density::Scratch& scratch,
                                                std::array<float, 27>& out) const;
  std::expected<void, BufferError> evaluate(const density::Density& d, std::uint64_t seed,
                                            const noise::Grid3& grid, std::span<float> out,
                                            density::Scratch& scratch) const;
  // `d` over the detail lattice into `out` (one slot per sample): copied when an earlier fill
  // evaluated the same program with the same seed there, else evaluated and kept.
  std::expected<void, BufferError> detail_lattice(const density::Density& d, std::uint64_t seed,
                                                  std::span<float> out, density::Scratch& scratch);
  void place(const Schematic& s, std::int32_t rx, std::int32_t ry, std::int32_t rz, bool& landed);

  // A detail lattice a fill evaluated. The grid is the chunk's, so program and seed decide every
  // sample; the copy of the program keeps its map snapshots, so no other map can match it.
  struct KeptLattice {
    density::Density program;
    std::uint64_t seed = 0;
    std::vector<float> values;  // one per lattice sample
  };
  static constexpr std::size_t kKeptLattices = 2;  // a layer fill's code and depth

  coords::ChunkPos pos_;                   // constant after construction
  std::vector<std::uint16_t> blocks_;      // Blocks: 4096 ids; empty when expanded
  std::vector<std::uint16_t> cells_;       // Cells: 110,592 cell materials; empty at block resolution
  fluid::layer::FluidLayer fluid_;         // written only by the fluid fills
  mutable std::uint64_t evaluations_ = 0;  // counted by evaluate()
  std::vector<KeptLattice> lattices_;      // the latest kKeptLattices, oldest first
};

}  // namespace ostrel_core::detgen::buffer
