#include "support/lent_world.hpp"

#include <gtest/gtest.h>

#include "support/test_world.hpp"

namespace ostrel_server::test {

LentWorld::LentWorld(std::vector<std::uint16_t> passable) : lease_(lease::Lease().with_terrain(std::move(passable))) {
  auto slot = lease_.world()->lock();
  (*slot)->emplace(open_test_world(dir_.path(), {"test:stone", "test:dirt", "test:grass"}));
}

namespace {

template <class F>
void with_world(lease::Lease& lease, F&& f) {
  auto slot = lease.world()->lock();
  ASSERT_TRUE(slot && (*slot)->has_value());
  f(***slot);
}

ostrel_core::chunk::Chunk& made(world::World& w, std::string_view domain, ChunkPos c) {
  auto& chunks = w.space_of(domain).chunks;
  return chunks.try_emplace(c, ostrel_core::chunk::Chunk::filled(c, 0)).first->second;
}

}  // namespace

void LentWorld::air(std::string_view domain, ChunkPos c) {
  with_world(lease_, [&](world::World& w) { made(w, domain, c); });
}

void LentWorld::air(std::string_view domain, ChunkPos lo, ChunkPos hi) {
  for (int x = lo.x; x <= hi.x; ++x)
    for (int y = lo.y; y <= hi.y; ++y)
      for (int z = lo.z; z <= hi.z; ++z) air(domain, ChunkPos{x, y, z});
}

void LentWorld::fill(std::string_view domain, ChunkPos c, std::uint16_t m) {
  with_world(lease_, [&](world::World& w) {
    w.space_of(domain).chunks.insert_or_assign(c, ostrel_core::chunk::Chunk::filled(c, m));
  });
}

void LentWorld::set(std::string_view domain, BlockPos p, const BlockValue& v) {
  with_world(lease_, [&](world::World& w) { made(w, domain, p.chunk()).set_block_local(p.local(), v); });
}

void LentWorld::box(std::string_view domain, BlockPos lo, BlockPos hi, std::uint16_t m) {
  for (int x = lo.x; x <= hi.x; ++x)
    for (int y = lo.y; y <= hi.y; ++y)
      for (int z = lo.z; z <= hi.z; ++z) set(domain, BlockPos{x, y, z}, BlockValue::whole(m));
}

void LentWorld::drop(std::string_view domain, ChunkPos c) {
  with_world(lease_, [&](world::World& w) { w.space_of(domain).chunks.erase(c); });
}

void LentWorld::take() {
  auto slot = lease_.world()->lock();
  taken_.emplace(std::move(***slot));
  (*slot)->reset();
}

void LentWorld::put_back() {
  auto slot = lease_.world()->lock();
  (*slot)->emplace(std::move(*taken_));
  taken_.reset();
}

}  // namespace ostrel_server::test
