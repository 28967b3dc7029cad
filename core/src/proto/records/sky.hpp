#pragma once
// Sky and fog records: the keyframes of a domain's sky and the mods' fog over one chunk. Each
// record declares its fields once, in wire order.

#include <cstdint>
#include <optional>
#include <tuple>

#include "proto/records/common.hpp"

namespace ostrel_core::proto {

// One sky keyframe: nineteen f32, 76 bytes.
struct SkyFrame {
  float time = 0.0f;
  Vec3f sky{};
  Vec3f sun{};
  float intensity = 0.0f;
  float exposure = 0.0f;
  Vec3f tint{};
  Vec3f offset{};
  float contrast = 0.0f;
  float saturation = 0.0f;
  float gamma = 0.0f;
  float stars = 0.0f;
  static constexpr auto fields() {
    return std::tuple{&SkyFrame::time,     &SkyFrame::sky,      &SkyFrame::sun,        &SkyFrame::intensity,
                      &SkyFrame::exposure, &SkyFrame::tint,     &SkyFrame::offset,     &SkyFrame::contrast,
                      &SkyFrame::saturation, &SkyFrame::gamma,  &SkyFrame::stars};
  }
  friend bool operator==(const SkyFrame&, const SkyFrame&) = default;
};

// The mods' fog for one chunk.
struct ChunkFog {
  Rgb colour{};
  std::uint16_t visibility = 0;       // blocks a player sees into the fog
  std::optional<std::int32_t> top;    // world height the fog lies under
  std::optional<std::int32_t> bottom; // world height the fog lies over
  static constexpr auto fields() {
    return std::tuple{&ChunkFog::colour, &ChunkFog::visibility, &ChunkFog::top, &ChunkFog::bottom};
  }
  friend bool operator==(const ChunkFog&, const ChunkFog&) = default;
};

}  // namespace ostrel_core::proto
