#pragma once
// Star catalog goldens, computed independently of this code. Checked by the unit tests and by
// the golden program in every compiler and optimisation build (scripts/detgen_golden.sh).

#include <fmt/format.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "presentation/sky.hpp"

namespace ostrel_core::sky::golden {

inline constexpr std::uint64_t kSeed = 0x0123456789ABCDEFull;

struct StarGolden {
  std::size_t index;
  UniversalPos position;
  std::uint32_t magnitude_bits;  // 0 when not part of the golden
  std::uint32_t warmth_bits;
};
inline constexpr StarGolden kStars[] = {
    {0, {-737663865089416, 185517907142639, -188183784484863}, 0x3F4C8B66, 0x3F7D6679},
    {2047, {-502116084098815, 622565031051635, -563183546066284}, 0, 0},
};

struct WorldGolden {
  std::uint64_t seed;
  UniversalPos position;
};
inline constexpr WorldGolden kWorlds[] = {
    {42, {270014762878417, -64355432987213, -387370467185974}},
    {0, {65768361091613, -27943909168243, -222905576229095}},
};

// From the world position of kSeed at time 0.25, the view (0, 0, 1).
inline constexpr std::uint32_t kViewStar = 357;
inline constexpr std::uint32_t kViewAlignmentBits = 0x3F7FF39D;

inline std::string text(const UniversalPos& p) { return fmt::format("({}, {}, {})", p.x, p.y, p.z); }

// One line per value that differs; empty when every golden holds.
inline std::vector<std::string> mismatches() {
  std::vector<std::string> out;
  const std::vector<StarRecord> catalog = star_catalog(kSeed);
  if (catalog.size() != kStarCount) {
    out.push_back(fmt::format("catalog of {} stars", catalog.size()));
    return out;
  }
  for (const StarGolden& g : kStars) {
    const StarRecord& s = catalog[g.index];
    if (s.id != g.index + kFirstStarId) out.push_back(fmt::format("star {} has id {}", g.index, s.id));
    if (s.position != g.position) {
      out.push_back(fmt::format("star {} at {}, golden {}", s.id, text(s.position), text(g.position)));
    }
    if (g.magnitude_bits != 0 && std::bit_cast<std::uint32_t>(s.magnitude) != g.magnitude_bits) {
      out.push_back(fmt::format("star {} magnitude {:#x}", s.id, std::bit_cast<std::uint32_t>(s.magnitude)));
    }
    if (g.warmth_bits != 0 && std::bit_cast<std::uint32_t>(s.warmth) != g.warmth_bits) {
      out.push_back(fmt::format("star {} warmth {:#x}", s.id, std::bit_cast<std::uint32_t>(s.warmth)));
    }
  }
  for (const WorldGolden& g : kWorlds) {
    const UniversalPos p = world_position(g.seed);
    if (p != g.position)
      out.push_back(fmt::format("world {} at {}, golden {}", g.seed, text(p), text(g.position)));
  }
  const auto seen = star_in_view(catalog, world_position(kSeed), {0.0f, 0.0f, 1.0f}, 0.25f);
  if (!seen || seen->id != kViewStar || std::bit_cast<std::uint32_t>(seen->alignment) != kViewAlignmentBits) {
    out.push_back(seen ? fmt::format("view sees star {} at {:#x}", seen->id,
                                     std::bit_cast<std::uint32_t>(seen->alignment))
                       : std::string("view sees no star"));
  }
  return out;
}

}  // namespace ostrel_core::sky::golden
