#pragma once
// A world lent the way the simulation lends it to sight and path queries: a server World over a
// fresh database in the lease's slot, with resident chunks made and written in place, and the
// lease handle over it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "support/temp_dir.hpp"
#include "world/block.hpp"
#include "world/coords.hpp"
#include "world/lease.hpp"
#include "world/lease_shared.hpp"

namespace ostrel_server::test {

using ostrel_core::block::BlockValue;
using ostrel_core::coords::BlockPos;
using ostrel_core::coords::ChunkPos;

// Materials 2 "test:stone", 3 "test:dirt", 4 "test:grass" (passable unless told otherwise).
inline constexpr std::uint16_t kStone = 2;
inline constexpr std::uint16_t kDirt = 3;
inline constexpr std::uint16_t kGrass = 4;

class LentWorld {
 public:
  explicit LentWorld(std::vector<std::uint16_t> passable = {kGrass});

  // The chunk made resident as air when it is not.
  void air(std::string_view domain, ChunkPos c);
  void air(std::string_view domain, ChunkPos lo, ChunkPos hi);
  // The chunk resident and `m` throughout.
  void fill(std::string_view domain, ChunkPos c, std::uint16_t m);
  // One block, its chunk made resident as air first.
  void set(std::string_view domain, BlockPos p, const BlockValue& v);
  // Whole blocks of `m` over a box, both corners included.
  void box(std::string_view domain, BlockPos lo, BlockPos hi, std::uint16_t m);
  void drop(std::string_view domain, ChunkPos c);
  // Takes the world out of the slot (as the tick does) and puts it back.
  void take();
  void put_back();

  // Set players, population and fluid on the lease before making a handle.
  lease::Lease& lease() { return lease_; }
  lease::Shared shared() const { return lease::Shared(lease_); }

 private:
  ostrel_core::test::TempDir dir_;
  lease::Lease lease_;
  std::optional<world::World> taken_;
};

}  // namespace ostrel_server::test
