#pragma once
// Resident chunks for fluid and light tests: made on demand as air, filled whole, or written
// block by block in world coordinates (the whole i32 range, corners included).

#include <cstdint>
#include <unordered_map>

#include "movement/phys/voxels.hpp"
#include "world/block.hpp"
#include "world/chunk.hpp"
#include "world/coords.hpp"

namespace ostrel_server::test {

using ostrel_core::block::BlockValue;
using ostrel_core::coords::BlockPos;
using ostrel_core::coords::ChunkPos;
using ostrel_core::material::MaterialId;

class Chunks final : public ostrel_core::phys::voxels::Resident {
 public:
  // The chunk made resident as air when it is not.
  void air(ChunkPos c);
  // Every chunk of the box made resident as air.
  void air(ChunkPos lo, ChunkPos hi);
  // The chunk replaced by one of `m` throughout.
  void fill(ChunkPos c, MaterialId m);
  // One block, its chunk made resident first.
  void set(BlockPos p, const BlockValue& v);
  // Whole blocks of `m` over a box, both corners included.
  void box(BlockPos lo, BlockPos hi, MaterialId m);
  void drop(ChunkPos c) { chunks_.erase(c); }

  const ostrel_core::chunk::Chunk* resident(ChunkPos pos) const override;

 private:
  ostrel_core::chunk::Chunk& made(ChunkPos c);
  std::unordered_map<ChunkPos, ostrel_core::chunk::Chunk> chunks_;
};

}  // namespace ostrel_server::test
