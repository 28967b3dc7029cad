#pragma once
// Who a presentation effect reaches: the players of one domain within a radius of a point, in
// player id order, under the hub's player map.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "hub/hub.hpp"

namespace ostrel_server::handle::reach {

using transport::endpoint::PlayerUuid;

// A player's feet in blocks: chunk * 16 + local cells / 3, per axis.
inline std::array<double, 3> feet_in_blocks(const ostrel_core::coords::ChunkPos& chunk,
                                            const std::array<float, 3>& local) {
  return {static_cast<double>(chunk.x) * 16.0 + static_cast<double>(local[0]) / 3.0,
          static_cast<double>(chunk.y) * 16.0 + static_cast<double>(local[1]) / 3.0,
          static_cast<double>(chunk.z) * 16.0 + static_cast<double>(local[2]) / 3.0};
}

// Whether `at` lies within `radius` of `centre` (exactly at the radius is within).
inline bool within(const std::array<double, 3>& at, const std::array<double, 3>& centre, float radius) {
  const double dx = at[0] - centre[0];
  const double dy = at[1] - centre[1];
  const double dz = at[2] - centre[2];
  const double r = static_cast<double>(radius);
  return dx * dx + dy * dy + dz * dz <= r * r;
}

// Calls `queue(player)` for each player in `domain` within `radius` of `centre` (only `only`
// when given) under the player map, and counts the true answers; 0 on a poisoned map.
template <class F>
std::uint32_t tell_within(transport::endpoint::Shared& hub, std::string_view domain,
                          const std::array<double, 3>& centre, float radius,
                          const std::optional<PlayerUuid>& only, F&& queue) {
  auto players = hub.players()->lock();
  if (!players) return 0;
  std::uint32_t told = 0;
  auto consider = [&](const PlayerUuid& id, const transport::endpoint::PlayerSim& sim) {
    if (sim.domain != domain || !within(feet_in_blocks(sim.chunk, sim.local), centre, radius)) return;
    if (queue(id)) ++told;
  };
  if (only) {
    auto it = (*players)->find(*only);
    if (it != (*players)->end()) consider(it->first, it->second);
    return told;
  }
  for (const auto& [id, sim] : **players) consider(id, sim);
  return told;
}

}  // namespace ostrel_server::handle::reach
