#include "light/lighting.hpp"

#include <algorithm>
#include <limits>

#include "fluid/solid_chunks.hpp"
#include "light/propagate.hpp"

namespace ostrel_server::light {
namespace {

namespace propagate = ostrel_core::light::propagate;
using ostrel_core::block::Kind;
using propagate::Channel;
using propagate::FloodQueue;
using propagate::Region;

constexpr std::int64_t kMinBlock = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kMaxBlock = std::numeric_limits<std::int32_t>::max();
constexpr std::uint8_t kUpFace = propagate::face_bit(propagate::kUp);
constexpr std::uint8_t kDownFace = propagate::face_bit(propagate::kDown);
constexpr std::uint16_t kSky = 0xF000;

BlockPos origin_of(ChunkPos c) { return c.block({0, 0, 0}); }
BlockPos far_corner_of(ChunkPos c) { return c.block({15, 15, 15}); }

// Visits the blocks of [lo, hi] on each axis, clipped to the i32 range.
template <class F>
void clipped(std::int64_t x0, std::int64_t y0, std::int64_t z0, std::int64_t x1, std::int64_t y1,
             std::int64_t z1, F&& f) {
  x0 = std::max(x0, kMinBlock);
  y0 = std::max(y0, kMinBlock);
  z0 = std::max(z0, kMinBlock);
  x1 = std::min(x1, kMaxBlock);
  y1 = std::min(y1, kMaxBlock);
  z1 = std::min(z1, kMaxBlock);
  if (x0 > x1 || y0 > y1 || z0 > z1) return;
  auto b = [](std::int64_t v) { return static_cast<std::int32_t>(v); };
  Region{{b(x0), b(y0), b(z0)}, {b(x1), b(y1), b(z1)}}.blocks(f);
}

// The 1,736 blocks of the one-block shell around a chunk: two x slabs, two y slabs (corners
// and edges included), two z slabs, each block once.
template <class F>
void shell(ChunkPos c, F&& f) {
  const BlockPos o = origin_of(c);
  const std::int64_t x = o.x, y = o.y, z = o.z;
  for (std::int64_t sx : {x - 1, x + 16}) clipped(sx, y, z, sx, y + 15, z + 15, f);
  for (std::int64_t sy : {y - 1, y + 16}) clipped(x - 1, sy, z - 1, x + 16, sy, z + 16, f);
  for (std::int64_t sz : {z - 1, z + 16}) clipped(x - 1, y, sz, x + 16, y + 15, sz, f);
}

// Emitters in the six chunks that share a face with `c`, on the slab touching it, light c's
// blocks beside them again: a closed lamp never floods, so pushing it would not reach c.
void seed_bordering_emitters(Lit& lit, ChunkPos c, propagate::FloodQueue& queue) {
  const BlockPos o = origin_of(c);
  const std::int64_t x = o.x, y = o.y, z = o.z;
  auto slab = [&](ChunkPos n, std::int64_t x0, std::int64_t y0, std::int64_t z0, std::int64_t x1,
                  std::int64_t y1, std::int64_t z1) {
    if (!n.addressable() || !lit.may_emit(n)) return;
    clipped(x0, y0, z0, x1, y1, z1, [&](BlockPos b) {
      if (lit.emission(b) != 0) propagate::seed_emission(lit, b, queue);
    });
  };
  slab({c.x - 1, c.y, c.z}, x - 1, y, z, x - 1, y + 15, z + 15);
  slab({c.x + 1, c.y, c.z}, x + 16, y, z, x + 16, y + 15, z + 15);
  slab({c.x, c.y - 1, c.z}, x, y - 1, z, x + 15, y - 1, z + 15);
  slab({c.x, c.y + 1, c.z}, x, y + 16, z, x + 15, y + 16, z + 15);
  slab({c.x, c.y, c.z - 1}, x, y, z - 1, x + 15, y + 15, z - 1);
  slab({c.x, c.y, c.z + 1}, x, y, z + 16, x + 15, y + 15, z + 16);
}

}  // namespace

std::uint16_t Lighting::at(BlockPos pos) const {
  if (layers_.empty()) return 0;
  const LightLayer* l = layer(pos.chunk());
  if (!l) return 0;
  const auto local = pos.local();
  return l->get(local.x, local.y, local.z);
}

const LightLayer* Lighting::layer(ChunkPos pos) const {
  auto it = layers_.find(pos);
  return it == layers_.end() ? nullptr : &it->second;
}

void Lighting::compact(const Touched& chunks) {
  for (const ChunkPos& c : chunks) {
    auto it = layers_.find(c);
    if (it == layers_.end() || it->second.is_uniform()) continue;
    const auto values = it->second.values();
    if (std::all_of(values.begin(), values.end(), [&](std::uint16_t v) { return v == values[0]; })) {
      it->second = LightLayer::uniform(values[0]);
    }
  }
}

bool Lighting::solid_dark(const ostrel_core::chunk::Chunk* chunk) const {
  if (!chunk || chunk->live_count() != 1) return false;
  for (const auto& e : chunk->palette()) {
    if (e.refs == 0) continue;
    return e.kind() == Kind::Whole && e.material() != ostrel_core::material::kAir &&
           !tables_->passes_of(e.material()) && tables_->emission_of(e.material()) == 0;
  }
  return false;
}

Touched Lighting::chunk_loaded_with_fluid(ChunkPos c, const Resident& solid, const Glowing& fluid) {
  layers_.try_emplace(c);
  Touched touched{c};
  if (!c.addressable()) return touched;
  if (solid_dark(solid.resident(c))) {
    ++skipped_solid_;
    layers_[c] = LightLayer();  // dark, also when it held light before
    roof_over_below(c, solid, touched, fluid);
    compact(touched);
    return touched;
  }
  {
    Lit lit(layers_, *tables_, c, solid, fluid, touched);
    lit.cache_relit_faces();
    FloodQueue queue;
    *lit.relit_layer() = LightLayer();  // every block back to 0
    shell(c, [&](BlockPos p) {
      if (lit.light(p) != 0) queue.push_back(p);
    });
    seed_bordering_emitters(lit, c, queue);
    const Region inside{origin_of(c), far_corner_of(c)};
    if (lit.may_emit(c)) inside.blocks([&](BlockPos p) { propagate::seed_emission(lit, p, queue); });
    // Open sky: only the top row can lack a block above, and only when the chunk above is away.
    const BlockPos top = far_corner_of(c);
    if (lit.relit_chunk() &&
        !propagate::neighbour(top, propagate::kUp).and_then([&](BlockPos up) { return lit.faces(up); })) {
      Region{{origin_of(c).x, top.y, origin_of(c).z}, top}.blocks([&](BlockPos p) {
        const auto f = lit.faces(p);
        if (!f || !(*f & kUpFace)) return;
        lit.set_light(p, static_cast<std::uint16_t>(lit.light(p) | kSky));
        queue.push_back(p);
      });
    }
    propagate::flood(lit, queue);
  }
  roof_over_below(c, solid, touched, fluid);
  compact(touched);
  return touched;
}

void Lighting::roof_over_below(ChunkPos c, const Resident& solid, Touched& touched, const Glowing& fluid) {
  if (layers_.empty() || !c.addressable() || !ChunkPos{c.x, c.y - 1, c.z}.addressable()) return;
  const ChunkPos b{c.x, c.y - 1, c.z};
  if (!layers_.contains(b)) return;  // nothing below to darken
  Lit lit(layers_, *tables_, b, solid, fluid, touched);
  FloodQueue queue;
  const BlockPos o = origin_of(c);
  for (std::int32_t dz = 0; dz < 16; ++dz) {
    for (std::int32_t dx = 0; dx < 16; ++dx) {
      const BlockPos a{o.x + dx, o.y - 1, o.z + dz};  // top block of the chunk below
      const BlockPos above{o.x + dx, o.y, o.z + dz};  // bottom block of this chunk
      const std::uint16_t la = lit.light(a);
      if (propagate::level_of(la, Channel::Sky) < 15) continue;
      const auto fa = lit.faces(a);
      const bool a_up = fa && (*fa & kUpFace);
      const auto fb = lit.faces(above);
      const bool stays = fb ? (*fb & kDownFace) && a_up &&
                                  propagate::level_of(lit.light(above), Channel::Sky) == 15 &&
                                  lit.falloff(a) == 0
                            : a_up;
      if (stays) continue;
      lit.set_light(a, static_cast<std::uint16_t>(la & ~kSky));
      propagate::remove(lit, a, Channel::Sky, 15, queue);
      queue.push_back(above);
      for (unsigned i = 0; i < 6; ++i) {
        const auto n = propagate::neighbour(a, i);
        if (n && propagate::open_toward(lit, *n, i)) queue.push_back(*n);
      }
    }
  }
  std::erase_if(queue, [&](BlockPos p) { return lit.light(p) == 0; });
  propagate::flood(lit, queue);
}

Touched Lighting::edited_with_fluid(BlockPos p, const Resident& solid, const Glowing& fluid) {
  Touched touched;
  {
    Lit lit(layers_, *tables_, p.chunk(), solid, fluid, touched);
    FloodQueue queue;
    const std::uint16_t old = lit.light(p);
    std::uint16_t now = lit.emission(p);
    const auto up = propagate::neighbour(p, propagate::kUp);
    const auto own = lit.faces(p);
    if ((!up || !lit.faces(*up)) && own && (*own & kUpFace)) now |= kSky;
    lit.set_light(p, now);
    for (Channel ch : propagate::kChannels) {
      const auto was = propagate::level_of(old, ch);
      if (propagate::level_of(now, ch) < was) propagate::remove(lit, p, ch, was, queue);
    }
    for (unsigned i = 0; i < 6; ++i) {
      const auto m = propagate::neighbour(p, i);
      if (!m) continue;
      if (propagate::open_toward(lit, *m, i)) {
        queue.push_back(*m);
      } else if (lit.emission(*m) != 0) {
        propagate::seed_emission(lit, *m, queue);  // a closed lamp beside p lights it now it is open
      }
    }
    if (now != 0) propagate::seed_emission(lit, p, queue);
    if (lit.light(p) != 0) queue.push_back(p);
    propagate::flood(lit, queue);
  }
  compact(touched);
  return touched;
}

// The world overloads, for the tick.
Touched Lighting::chunk_loaded_with_fluid(std::string_view domain, const world::World& world, ChunkPos pos,
                                          const Glowing& fluid) {
  return chunk_loaded_with_fluid(pos, fluid::SolidChunks(world, domain), fluid);
}

Touched Lighting::edited_with_fluid(std::string_view domain, const world::World& world, BlockPos pos,
                                    const Glowing& fluid) {
  return edited_with_fluid(pos, fluid::SolidChunks(world, domain), fluid);
}

}  // namespace ostrel_server::light
