#pragma once
// The world's stars: a catalog of 2,048 stars and the world's own position among them, both
// derived from the world seed in the universe frame, and the star a view points at.
//
// Clients derive the same catalog and position from the same seed, so every draw, its order
// and its float width are fixed: unit draws are (next_u64 >> 40) * 2^-24 in f32, and all
// arithmetic is f32 unless it says f64. Angles use the table trigonometry (detgen/trig.hpp).

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "world/domain.hpp"

namespace ostrel_core::detgen::rng {
class StreamRng;
}

namespace ostrel_core::sky {

using UniversalPos = domain::UniversalPos;

inline constexpr std::size_t kStarCount = 2048;
inline constexpr std::uint32_t kFirstStarId = 16;                    // ids 0..15 are never stars
inline constexpr std::uint64_t kStarRadius = 1'000'000'000'000'000;  // blocks
inline constexpr std::uint64_t kWorldRadius = 500'000'000'000'000;   // blocks
// Where the world sits when its draw lands on the centre.
inline constexpr UniversalPos kOffCentre{250'000'000'000'000, 0, 0};

struct StarRecord {
  UniversalPos position;
  std::uint32_t id = 0;    // catalog index + 16
  float magnitude = 0.0f;  // 0..1, the square of a unit draw
  float warmth = 0.0f;     // 0 coolest, 1 warmest
  friend bool operator==(const StarRecord&, const StarRecord&) = default;
};

// A point in the ball of `radius` blocks: three unit draws a, b, c become 2a - 1, 2b - 1,
// 2c - 1, drawn again while (x*x + y*y) + z*z is above 1; each coordinate is then widened to f64,
// times the radius, truncated toward zero.
UniversalPos sample_position(detgen::rng::StreamRng& rng, std::uint64_t radius);

// Stream "sky:stars" at key (0, 0, 0); per star: its position (radius 10^15), a draw m for the
// magnitude m * m, a draw for the warmth.
std::vector<StarRecord> star_catalog(std::uint64_t seed);

// Stream "sky:world-position" at key (0, 0, 0), radius 5 * 10^14; never the centre.
UniversalPos world_position(std::uint64_t seed);

// The cosine and sine of the sky's angle at a time of day (a fraction of a day, any value: only
// its fraction counts). 0.25 is angle 0.
std::array<float, 2> turn(float time_of_day);

struct Sighting {
  std::uint32_t id = 0;
  float alignment = 0.0f;  // the cosine between the turned view and the star, f32
  friend bool operator==(const Sighting&, const Sighting&) = default;
};

// The star best aligned with `direction` seen from `viewer` at `time_of_day`; ties keep the
// earlier star. None for a zero or non-finite direction, or when no star lies apart from the
// viewer.
std::optional<Sighting> star_in_view(std::span<const StarRecord> catalog, const UniversalPos& viewer,
                                     const std::array<float, 3>& direction, float time_of_day);

}  // namespace ostrel_core::sky
