#pragma once
// The interest order: the chunks around a centre chunk, nearest first, that a player's chunk
// streamer walks to decide which chunks the player needs.

#include <cstdint>
#include <vector>

#include "world/coords.hpp"

namespace ostrel_core::interest {

// Every chunk with |dy| <= v and dx^2 + dz^2 <= r^2 around `centre` (coordinates added with
// saturation at the 32-bit limits, so near a limit the limit repeats), sorted stably by
// (dx^2 + dz^2 + (4 * max(|dy|, 2) - 8)^2, |dy|, x, y, z). Layers up to two above or below the
// centre count as level; each layer beyond weighs like four more chunks of horizontal distance.
// Around (0, 0, 0) with r 1, v 0: (0, 0, 0), (-1, 0, 0), (0, 0, -1), (0, 0, 1), (1, 0, 0).
std::vector<coords::ChunkPos> chunks_around(coords::ChunkPos centre, std::uint8_t r, std::uint8_t v);

}  // namespace ostrel_core::interest
