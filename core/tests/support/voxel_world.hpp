#pragma once
// A synthetic world for movement tests: chunks made on demand as air, whole blocks or single
// cells set in world coordinates, and fluid per block. A chunk never made is absent.

#include <cstdint>
#include <map>

#include "fluid/fluid.hpp"
#include "fluid/layer.hpp"
#include "movement/phys/voxels.hpp"
#include "world/chunk.hpp"
#include "world/coords.hpp"

namespace ostrel_core::test {

class VoxelWorld final : public phys::voxels::Resident, public phys::voxels::FluidSource {
 public:
  // Every chunk from `from` to `to` (inclusive) made resident as air.
  void air(coords::ChunkPos from, coords::ChunkPos to);
  // Blocks from `from` to `to` (inclusive, world block coordinates) set whole; their chunks are
  // made resident as air first.
  void blocks(coords::BlockPos from, coords::BlockPos to, material::MaterialId m);
  // Sub-node cells from `from` to `to` (inclusive, world cell coordinates).
  void cells(coords::SubNodePos from, coords::SubNodePos to, material::MaterialId m);
  // Fluid of `level` (1..=27) and `id` over a box of blocks, inclusive.
  void pour(coords::BlockPos from, coords::BlockPos to, fluid::FluidId id, std::uint8_t level);
  void drop(coords::ChunkPos pos) { chunks_.erase(pos); }

  const chunk::Chunk* resident(coords::ChunkPos pos) const override;
  fluid::Fluid at(coords::BlockPos pos) const override;

 private:
  chunk::Chunk& made(coords::ChunkPos pos);

  std::map<coords::ChunkPos, chunk::Chunk> chunks_;
  std::map<coords::ChunkPos, fluid::layer::FluidLayer> fluid_;
};

}  // namespace ostrel_core::test
