#pragma once
// Crowd separation: bodies do not collide with each other in the movement step; once a tick,
// before the bodies move, every overlapping pair gets a small horizontal push that grows with
// the overlap, so a crowd spreads out over a second or so instead of stacking.

#include <cstdint>
#include <span>
#include <vector>

#include "movement/phys.hpp"
#include "world/coords.hpp"

namespace ostrel_core::phys::crowd {

// Per pair at most kPairPush cells per tick; per body at most kMaxPush in all.
inline constexpr float kPairPush = 0.05f;
inline constexpr float kMaxPush = 0.12f;

struct Occupant {
  coords::ChunkPos chunk;    // the chunk `local` is measured from
  Vec3 local{};              // feet centre, cells
  float height = 0.0f;       // cells
  float width = 0.0f;        // cells
  bool pushable = false;     // separation may move this body
  std::uint32_t domain = 0;  // the caller's number for the body's domain; other domains never push
};

// One push (x, 0, z) per occupant, in the same order. Every pair (i, j), i < j, in one domain is
// measured in i's chunk frame; the sums come out bit for bit as if the pairs were visited with
// i ascending and, for each i, j ascending, whatever the crowd's layout.
std::vector<Vec3> separate(std::span<const Occupant> occupants);

}  // namespace ostrel_core::phys::crowd
