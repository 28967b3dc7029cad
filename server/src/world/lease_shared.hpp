#pragma once
// lease::Shared: the script engine's sight and path access over the world lease. Every answer
// is computed on the calling thread from whatever world the slot holds at that moment; nothing
// is kept between calls and nothing in the world changes. An empty slot or a poisoned world
// mutex is no world; an unknown domain has no resident chunks.
//
// Lock order: the players mutex only long enough to copy a record, released before the world
// mutex; inside the world mutex, a read lock on the population or on the fluid stores.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "identity/identity.hpp"
#include "movement/path.hpp"
#include "movement/phys/voxels.hpp"
#include "movement/sight.hpp"
#include "world/lease.hpp"

namespace ostrel_server::lease {

using ostrel_core::coords::BlockPos;
using ostrel_core::coords::ChunkPos;
using ostrel_core::sight::Looked;

// The viewer's place for an aim: chunk, feet and eye in cells of that chunk, look in turns.
struct Viewer {
  std::string_view domain;
  ChunkPos chunk;
  std::array<float, 3> feet{};
  std::array<float, 3> eye{};
  float yaw = 0.0f;    // turns
  float pitch = 0.0f;  // turns
  std::optional<ostrel_core::identity::PlayerUuid> player;  // skips what this player owns
};

// What a viewer's crosshair is on within 13.5 cells: the nearer of the first solid cell and the
// nearest entity box (a tie goes to the entity, between entities to the lower id). The caller
// holds the world and, when it passes one, a read lock on the population. TRACE events "aim",
// "aim candidate" and "aim candidate's box" tell how it decided.
std::optional<Looked> aim(const world::World& world, const ent::Population* population,
                          const ostrel_core::phys::voxels::Terrain& terrain, const Viewer& viewer);

class Shared final : public ostrel_core::sight::Access, public ostrel_core::path::Access {
 public:
  explicit Shared(Lease lease);

  // Sight.
  std::optional<bool> line_of_sight(std::string_view domain, const ostrel_core::sight::Vec3d& from,
                                    const ostrel_core::sight::Vec3d& to) override;
  ostrel_core::sight::Reading block_at(std::string_view domain, BlockPos pos) override;
  std::optional<ostrel_core::sight::Surface> surface_at(std::string_view domain,
                                                        const ostrel_core::sight::SurfaceQuery& query) override;
  std::optional<Looked> looking_at(const ostrel_core::identity::PlayerUuid& player) override;
  std::optional<ostrel_core::sight::Gaze> gaze(const ostrel_core::identity::PlayerUuid& player) override;

  // Paths.
  ostrel_core::path::Found find_path(std::string_view domain, const ostrel_core::path::Vec3d& from,
                                     const ostrel_core::path::Vec3d& to,
                                     const ostrel_core::path::PathOptions& options) override;
  std::optional<ostrel_core::path::Steering> steer(std::string_view domain, const ostrel_core::path::Vec3d& from,
                                                   const ostrel_core::path::Vec3d& to,
                                                   std::int32_t height) override;

  const Lease& lease() const { return lease_; }

 private:
  Lease lease_;
  // The passable list as the movement view reads it; built once from the lease's terrain.
  std::shared_ptr<const ostrel_core::phys::voxels::Terrain> terrain_;
};

}  // namespace ostrel_server::lease
