#include "movement/interest.hpp"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <tuple>

#include "base/num.hpp"

namespace ostrel_core::interest {

namespace {

struct Keyed {
  std::int64_t distance;  // weighted squared distance
  std::int64_t layer;     // |dy|
  coords::ChunkPos pos;
};

}  // namespace

std::vector<coords::ChunkPos> chunks_around(coords::ChunkPos centre, std::uint8_t r, std::uint8_t v) {
  const std::int64_t rr = static_cast<std::int64_t>(r) * r;
  std::vector<Keyed> keyed;
  keyed.reserve(static_cast<std::size_t>(2 * r + 1) * (2 * r + 1) * (2 * v + 1));
  for (std::int64_t dy = -v; dy <= v; ++dy) {
    for (std::int64_t dz = -r; dz <= r; ++dz) {
      for (std::int64_t dx = -r; dx <= r; ++dx) {
        if (dx * dx + dz * dz > rr) continue;
        const coords::ChunkPos pos{num::clamp_i32(centre.x + dx), num::clamp_i32(centre.y + dy),
                                   num::clamp_i32(centre.z + dz)};
        // Offsets of the chunk as added, which differ from (dx, dy, dz) at a limit.
        const std::int64_t ox = static_cast<std::int64_t>(pos.x) - centre.x;
        const std::int64_t oy = static_cast<std::int64_t>(pos.y) - centre.y;
        const std::int64_t oz = static_cast<std::int64_t>(pos.z) - centre.z;
        const std::int64_t layer = std::abs(oy);
        const std::int64_t lift = 4 * std::max<std::int64_t>(layer, 2) - 8;
        keyed.push_back({ox * ox + oz * oz + lift * lift, layer, pos});
      }
    }
  }
  std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    return std::tie(a.distance, a.layer, a.pos) < std::tie(b.distance, b.layer, b.pos);
  });
  std::vector<coords::ChunkPos> out;
  out.reserve(keyed.size());
  for (const Keyed& k : keyed) out.push_back(k.pos);
  return out;
}

}  // namespace ostrel_core::interest
