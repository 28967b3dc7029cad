#include "support/chunks.hpp"

namespace ostrel_server::test {

ostrel_core::chunk::Chunk& Chunks::made(ChunkPos c) {
  auto it = chunks_.find(c);
  if (it == chunks_.end()) it = chunks_.emplace(c, ostrel_core::chunk::Chunk::filled(c, 0)).first;
  return it->second;
}

void Chunks::air(ChunkPos c) { made(c); }

void Chunks::air(ChunkPos lo, ChunkPos hi) {
  for (std::int64_t x = lo.x; x <= hi.x; ++x)
    for (std::int64_t y = lo.y; y <= hi.y; ++y)
      for (std::int64_t z = lo.z; z <= hi.z; ++z)
        made({static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), static_cast<std::int32_t>(z)});
}

void Chunks::fill(ChunkPos c, MaterialId m) { chunks_.insert_or_assign(c, ostrel_core::chunk::Chunk::filled(c, m)); }

void Chunks::set(BlockPos p, const BlockValue& v) { made(p.chunk()).set_block_local(p.local(), v); }

void Chunks::box(BlockPos lo, BlockPos hi, MaterialId m) {
  for (std::int64_t x = lo.x; x <= hi.x; ++x)
    for (std::int64_t y = lo.y; y <= hi.y; ++y)
      for (std::int64_t z = lo.z; z <= hi.z; ++z)
        set({static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), static_cast<std::int32_t>(z)},
            BlockValue::whole(m));
}

const ostrel_core::chunk::Chunk* Chunks::resident(ChunkPos pos) const {
  auto it = chunks_.find(pos);
  return it == chunks_.end() ? nullptr : &it->second;
}

}  // namespace ostrel_server::test
