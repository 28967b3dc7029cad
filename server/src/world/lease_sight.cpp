// The sight queries of the lease handle, and the aim the tick shares with them.

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/log.hpp"
#include "base/num.hpp"
#include "entities/population.hpp"
#include "fluid/ponds.hpp"
#include "fluid/solid_chunks.hpp"
#include "hub/records.hpp"
#include "movement/phys/ray.hpp"
#include "world/lease_shared.hpp"

namespace ostrel_server::lease {
namespace {

namespace sight = ostrel_core::sight;
namespace phys = ostrel_core::phys;
namespace block = ostrel_core::block;
using ostrel_core::identity::PlayerUuid;

constexpr std::string_view kTarget = "ostrel_server::lease";

using phys::ray::enter;

std::string chunk_text(ChunkPos c) { return fmt::format("({}, {}, {})", c.x, c.y, c.z); }

}  // namespace

Shared::Shared(Lease lease)
    : lease_(std::move(lease)),
      terrain_(std::make_shared<const phys::voxels::Terrain>(phys::voxels::Terrain::of(
          std::vector<ostrel_core::material::MaterialId>(lease_.terrain().begin(), lease_.terrain().end()),
          {}))) {}

std::optional<bool> Shared::line_of_sight(std::string_view domain, const sight::Vec3d& from,
                                          const sight::Vec3d& to) {
  auto slot = lease_.world()->lock();
  if (!slot || !(*slot)->has_value()) return std::nullopt;
  const world::World& world = ***slot;
  const auto f = sight::frame(from, to);
  if (!f) return true;
  const phys::Vec3 d{f->to[0] - f->from[0], f->to[1] - f->from[1], f->to[2] - f->from[2]};
  const float length = std::sqrt((d[0] * d[0] + d[1] * d[1]) + d[2] * d[2]);
  if (length <= sight::kShortestLine) return false;
  // Past the float range the cells are infinite: only identical points get this far.
  if (!std::isfinite(length)) return from != to;
  const fluid::SolidChunks chunks(world, domain);
  const phys::voxels::Voxels view(chunks, *terrain_, nullptr, f->chunk);
  return phys::ray::cast(view, f->from, d, length).has_value();
}

sight::Reading Shared::block_at(std::string_view domain, BlockPos pos) {
  auto slot = lease_.world()->lock();
  if (!slot || !(*slot)->has_value()) return sight::NoWorld{};
  const world::World& world = ***slot;
  const auto* chunk = world.resident(domain, pos.chunk());
  if (chunk == nullptr) return sight::NotLoaded{};
  const auto view = chunk->get_block(pos);
  if (!view) return sight::NotLoaded{};
  switch (view->kind()) {
    case block::Kind::Whole:
      return sight::Block{view->material(), view->material() == 0 ? 0u : block::kOccupancyFull};
    case block::Kind::Partial:
      return sight::Block{view->material(), view->mask() & block::kOccupancyFull};
    case block::Kind::Mixed:
      return sight::Mixed{view->mixed_cells()};
  }
  return sight::NotLoaded{};
}

std::optional<sight::Surface> Shared::surface_at(std::string_view domain, const sight::SurfaceQuery& q) {
  auto slot = lease_.world()->lock();
  if (!slot || !(*slot)->has_value()) return std::nullopt;
  const world::World& world = ***slot;
  const std::uint32_t steps = std::min(q.depth, sight::kMaxSurfaceDepth);
  if (steps == 0) return std::nullopt;

  const auto ponds = [&]() -> std::optional<PondsLock::ReadGuard> {
    if (q.skip_fluid || !lease_.ponds()) return std::nullopt;
    return lease_.ponds()->read();
  }();
  const fluid::Fluidics* wet = ponds ? (*ponds)->find(domain) : nullptr;

  const std::int64_t bottom =
      std::max<std::int64_t>(std::int64_t{q.from} - (steps - 1), std::numeric_limits<std::int32_t>::min());
  const ostrel_core::chunk::Chunk* chunk = nullptr;
  std::optional<std::int32_t> chunk_y;
  for (std::int64_t y64 = q.from; y64 >= bottom; --y64) {
    const BlockPos at{q.x, static_cast<std::int32_t>(y64), q.z};
    if (chunk_y != at.chunk().y) {
      chunk_y = at.chunk().y;
      chunk = world.resident(domain, at.chunk());
    }
    if (chunk == nullptr) return std::nullopt;
    const auto view = chunk->get_block_local(at.local());
    std::uint32_t occupied = 0;
    ostrel_core::material::MaterialId material = view.material();
    switch (view.kind()) {
      case block::Kind::Whole:
        occupied = material == 0 ? 0u : block::kOccupancyFull;
        break;
      case block::Kind::Partial:
        occupied = material == 0 ? 0u : view.mask() & block::kOccupancyFull;
        break;
      case block::Kind::Mixed: {
        const auto& cells = view.mixed_cells();
        std::optional<ostrel_core::material::MaterialId> first, solid;
        for (std::size_t i = 0; i < cells.size(); ++i) {
          if (cells[i] == 0) continue;
          occupied |= 1u << i;
          if (!first) first = cells[i];
          if (!solid && !lease_.passable(cells[i])) solid = cells[i];
        }
        material = solid.value_or(first.value_or(0));
        break;
      }
    }
    if (occupied != 0) {
      if (q.skip_passable && lease_.passable(material)) continue;
      return sight::SurfaceBlock{at.y, occupied, material};
    }
    if (wet != nullptr) {
      const auto state = wet->at(at);
      if (state.level() != 0 && state.id() != 0) return sight::SurfaceFluid{at.y, state.bits};
    }
  }
  return std::nullopt;
}

std::optional<sight::Gaze> Shared::gaze(const PlayerUuid& player) {
  if (!lease_.players()) return std::nullopt;
  auto players = lease_.players()->lock();
  if (!players) return std::nullopt;
  const auto it = (*players)->find(player);
  if (it == (*players)->end()) return std::nullopt;
  return sight::Gaze{it->second.domain, sight::look_direction(it->second.yaw, it->second.pitch)};
}

std::optional<Looked> Shared::looking_at(const PlayerUuid& player) {
  if (!lease_.players()) return std::nullopt;
  std::string domain;
  Viewer viewer;
  {
    auto players = lease_.players()->lock();
    if (!players) return std::nullopt;
    const auto it = (*players)->find(player);
    if (it == (*players)->end()) return std::nullopt;
    const auto& rec = it->second;
    domain = rec.domain;
    viewer.chunk = rec.chunk;
    viewer.feet = rec.local;
    viewer.eye = rec.eye();
    viewer.yaw = rec.yaw;
    viewer.pitch = rec.pitch;
  }
  viewer.domain = domain;
  viewer.player = player;
  auto slot = lease_.world()->lock();
  if (!slot || !(*slot)->has_value()) return std::nullopt;
  const world::World& world = ***slot;
  if (!lease_.population()) return aim(world, nullptr, *terrain_, viewer);
  auto population = lease_.population()->read();
  if (!population) return std::nullopt;
  return aim(world, &**population, *terrain_, viewer);
}

std::optional<Looked> aim(const world::World& world, const ent::Population* population,
                          const phys::voxels::Terrain& terrain, const Viewer& viewer) {
  const phys::Vec3 dir = sight::look_direction(viewer.yaw, viewer.pitch);
  const fluid::SolidChunks chunks(world, viewer.domain);
  const phys::voxels::Voxels view(chunks, terrain, nullptr, viewer.chunk);
  const auto hit = phys::ray::cast(view, viewer.eye, dir, sight::kReach);
  float block_distance = 0.0f;
  if (hit) {
    const phys::Vec3 lo{static_cast<float>(hit->cell[0]), static_cast<float>(hit->cell[1]),
                        static_cast<float>(hit->cell[2])};
    const phys::Aabb cell{lo, {lo[0] + 1.0f, lo[1] + 1.0f, lo[2] + 1.0f}};
    block_distance = enter(viewer.eye, dir, cell).value_or(0.0f);
  }
  const bool trace = ostrel_core::log::enabled(ostrel_core::log::Level::Trace, kTarget);
  using ostrel_core::log::value;
  if (trace) {
    ostrel_core::log::emit(
        ostrel_core::log::Level::Trace, kTarget, "aim",
        {ostrel_core::log::text("domain", viewer.domain), value("origin", chunk_text(viewer.chunk)),
         value("feet", phys::debug_vec(viewer.feet)), value("eye", phys::debug_vec(viewer.eye)),
         value("direction", phys::debug_vec(dir))});
  }

  struct Candidate {
    ostrel_core::ent::EntityId id;
    float distance;
  };
  std::optional<Candidate> best;
  if (population != nullptr) {
    const auto& store = population->entities();
    for (const auto id : store.ids()) {
      const auto* e = store.get(id);
      if (e == nullptr) continue;
      const bool in_domain = population->domain_of(id) == viewer.domain;
      const bool owned = viewer.player && e->owner && e->owner->uuid == *viewer.player;
      if (trace) {
        ostrel_core::log::emit(ostrel_core::log::Level::Trace, kTarget, "aim candidate",
                               {value("id", id.value), value("in_domain", in_domain), value("owned", owned),
                                value("collider", e->collider ? e->collider->debug() : std::string("None")),
                                value("transform", e->transform.debug())});
      }
      if (!in_domain || owned || !e->collider) continue;
      const float width = e->collider->width;
      const float height = e->collider->height;
      if (!std::isfinite(width) || !std::isfinite(height)) continue;
      phys::Vec3 p{};
      const std::array<std::int64_t, 3> dc{std::int64_t{e->transform.chunk.x} - viewer.chunk.x,
                                           std::int64_t{e->transform.chunk.y} - viewer.chunk.y,
                                           std::int64_t{e->transform.chunk.z} - viewer.chunk.z};
      for (int a = 0; a < 3; ++a) {
        const float raw = e->transform.local[a] + static_cast<float>(48 * dc[a]);
        p[a] = viewer.feet[a] + (raw - viewer.feet[a]);
      }
      const float half = width / 2.0f;
      const phys::Aabb box{{p[0] - half, p[1], p[2] - half}, {p[0] + half, p[1] + height, p[2] + half}};
      const auto distance = enter(viewer.eye, dir, box);
      if (trace) {
        ostrel_core::log::emit(
            ostrel_core::log::Level::Trace, kTarget, "aim candidate's box",
            {value("id", id.value), value("aabb", box.debug()),
             value("distance", distance ? ostrel_core::num::format_number(*distance) : std::string("None"))});
      }
      if (!distance || !(*distance <= sight::kReach)) continue;
      if (!best || *distance < best->distance || (*distance == best->distance && id < best->id)) {
        best = Candidate{id, *distance};
      }
    }
  }

  if (best && (!hit || best->distance <= block_distance)) {
    const auto* e = population->get(best->id);
    std::optional<PlayerUuid> owner;
    if (e->owner) owner = e->owner->uuid;
    return sight::LookedEntity{std::string(viewer.domain), best->id, owner};
  }
  if (!hit) return std::nullopt;
  const std::array<std::int64_t, 3> abs{std::int64_t{viewer.chunk.x} * 48 + hit->cell[0],
                                        std::int64_t{viewer.chunk.y} * 48 + hit->cell[1],
                                        std::int64_t{viewer.chunk.z} * 48 + hit->cell[2]};
  for (const auto v : abs) {
    if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()) {
      return std::nullopt;
    }
  }
  const ostrel_core::coords::SubNodePos cell{static_cast<std::int32_t>(abs[0]),
                                             static_cast<std::int32_t>(abs[1]),
                                             static_cast<std::int32_t>(abs[2])};
  const auto* chunk = world.resident(viewer.domain, cell.chunk());
  if (chunk == nullptr) return std::nullopt;
  const auto material = chunk->get_subnode(cell);
  if (!material) return std::nullopt;
  return sight::LookedCell{std::string(viewer.domain), cell, hit->normal, *material};
}

}  // namespace ostrel_server::lease
