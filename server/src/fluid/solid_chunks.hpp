#pragma once
// A domain's resident chunks in the server world, seen as the core's resident-chunk view that
// the fluid step and lighting read. Included by .cpp files only: it brings in the world.

#include "movement/phys/voxels.hpp"
#include "world/world.hpp"

namespace ostrel_server::fluid {

class SolidChunks final : public ostrel_core::phys::voxels::Resident {
 public:
  SolidChunks(const world::World& world, std::string_view domain) : solid_(world.solid(domain)) {}
  const ostrel_core::chunk::Chunk* resident(ostrel_core::coords::ChunkPos pos) const override {
    return solid_.resident(pos);
  }

 private:
  world::Solid solid_;
};

}  // namespace ostrel_server::fluid
