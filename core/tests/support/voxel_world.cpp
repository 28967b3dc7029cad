#include "support/voxel_world.hpp"

#include <cstdlib>

namespace ostrel_core::test {

chunk::Chunk& VoxelWorld::made(coords::ChunkPos pos) {
  auto it = chunks_.find(pos);
  if (it == chunks_.end()) it = chunks_.emplace(pos, chunk::Chunk::filled(pos, material::kAir)).first;
  return it->second;
}

void VoxelWorld::air(coords::ChunkPos from, coords::ChunkPos to) {
  for (std::int32_t x = from.x; x <= to.x; ++x)
    for (std::int32_t y = from.y; y <= to.y; ++y)
      for (std::int32_t z = from.z; z <= to.z; ++z) made({x, y, z});
}

void VoxelWorld::blocks(coords::BlockPos from, coords::BlockPos to, material::MaterialId m) {
  for (std::int32_t x = from.x; x <= to.x; ++x)
    for (std::int32_t y = from.y; y <= to.y; ++y)
      for (std::int32_t z = from.z; z <= to.z; ++z) {
        const coords::BlockPos b{x, y, z};
        made(b.chunk()).set_block_local(b.local(), block::BlockValue::whole(m));
      }
}

void VoxelWorld::cells(coords::SubNodePos from, coords::SubNodePos to, material::MaterialId m) {
  for (std::int32_t x = from.x; x <= to.x; ++x)
    for (std::int32_t y = from.y; y <= to.y; ++y)
      for (std::int32_t z = from.z; z <= to.z; ++z) {
        const coords::SubNodePos at{x, y, z};
        // Cannot fail: the chunk was made for the cell.
        if (!made(at.chunk()).set_subnode(at, m)) std::abort();
      }
}

void VoxelWorld::pour(coords::BlockPos from, coords::BlockPos to, fluid::FluidId id, std::uint8_t level) {
  for (std::int32_t x = from.x; x <= to.x; ++x)
    for (std::int32_t y = from.y; y <= to.y; ++y)
      for (std::int32_t z = from.z; z <= to.z; ++z) {
        const coords::BlockPos b{x, y, z};
        const auto l = b.local();
        fluid_[b.chunk()].set(l.x, l.y, l.z, fluid::Fluid::of(id, level));
      }
}

const chunk::Chunk* VoxelWorld::resident(coords::ChunkPos pos) const {
  auto it = chunks_.find(pos);
  return it == chunks_.end() ? nullptr : &it->second;
}

fluid::Fluid VoxelWorld::at(coords::BlockPos pos) const {
  auto it = fluid_.find(pos.chunk());
  if (it == fluid_.end() || it->second.empty()) return {};
  const auto l = pos.local();
  return it->second.get(l.x, l.y, l.z);
}

}  // namespace ostrel_core::test
