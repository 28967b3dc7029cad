#pragma once
// Breadth-first light: `seed_emission` starts the light of an emitting block, `flood` spreads
// light outward from queued blocks, and `remove` takes away, on one channel, the light a
// changed block no longer gives, queueing the brighter blocks around the dark patch for a new
// flood. They see the world only through a Neighbourhood.
//
// Directions, in the order every loop visits them (face bits as in permeability.hpp):
//   INDEX  DIRECTION  OFFSET       FACE BIT
//   0      -x         (-1, 0, 0)   0x01
//   1      +x         (+1, 0, 0)   0x02
//   2      -y (down)  (0, -1, 0)   0x04
//   3      +y (up)    (0, +1, 0)   0x08
//   4      -z         (0, 0, -1)   0x10
//   5      +z         (0, 0, +1)   0x20
// The face of the neighbour that looks back is direction i ^ 1. A neighbour past the i32 range
// does not exist.
//
// Step rule: light entering a block of falloff f loses max(f, 1) levels (not below 0); sky
// light 15 moving down into a block of falloff 0 stays 15. A flood only raises channels.
// Example: a red 15 lamp in air lights its neighbours 14, the next ring 13, and nothing 15
// blocks away; sky 15 above a block of falloff 2 gives it 13.

#include <algorithm>
#include <array>
#include <concepts>
#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "world/coords.hpp"

namespace ostrel_core::light::propagate {

using coords::BlockPos;

enum class Channel : std::uint8_t { Sky = 0, Red = 1, Green = 2, Blue = 3 };
inline constexpr std::array<Channel, 4> kChannels = {Channel::Sky, Channel::Red, Channel::Green,
                                                     Channel::Blue};

inline constexpr std::uint8_t kDown = 2;
inline constexpr std::uint8_t kUp = 3;
inline constexpr std::array<std::array<int, 3>, 6> kOffsets = {
    {{-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}}};

constexpr std::uint8_t face_bit(unsigned direction) { return static_cast<std::uint8_t>(1u << direction); }
constexpr unsigned shift_of(Channel c) { return 12 - 4 * static_cast<unsigned>(c); }
constexpr std::uint8_t level_of(std::uint16_t value, Channel c) { return (value >> shift_of(c)) & 15; }
constexpr std::uint16_t with_level(std::uint16_t value, Channel c, std::uint8_t level) {
  const unsigned s = shift_of(c);
  return static_cast<std::uint16_t>((value & ~(15u << s)) | (unsigned{level} << s));
}

// The larger of `a` and `b` on each channel.
constexpr std::uint16_t brighter(std::uint16_t a, std::uint16_t b) {
  for (Channel c : kChannels) {
    if (level_of(b, c) > level_of(a, c)) a = with_level(a, c, level_of(b, c));
  }
  return a;
}

// The block one step in `direction`, or none past the i32 range.
inline std::optional<BlockPos> neighbour(BlockPos p, unsigned direction) {
  const auto& d = kOffsets[direction];
  const std::int64_t x = std::int64_t{p.x} + d[0];
  const std::int64_t y = std::int64_t{p.y} + d[1];
  const std::int64_t z = std::int64_t{p.z} + d[2];
  constexpr std::int64_t lo = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t hi = std::numeric_limits<std::int32_t>::max();
  if (x < lo || x > hi || y < lo || y > hi || z < lo || z > hi) return std::nullopt;
  return BlockPos{static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), static_cast<std::int32_t>(z)};
}

// `current` raised channel by channel by what `source` gives through a face into a block of
// `falloff`, moving in `direction`. The four levels are worked on at once, one per byte.
constexpr std::uint16_t lit_through(std::uint16_t source, unsigned direction, std::uint8_t falloff,
                                    std::uint16_t current) {
  constexpr std::uint32_t kLow = 0x01010101u;
  auto spread = [](std::uint16_t v) {  // nibble i to byte i
    const std::uint32_t w = v;
    return (w & 0xF) | (w & 0xF0) << 4 | (w & 0xF00) << 8 | (w & 0xF000) << 12;
  };
  const std::uint32_t loss = falloff > 16 ? 16 : falloff > 1 ? falloff : 1;  // 16 darkens every level
  // Each byte is 16 + level - loss, 0..30: bit 4 says the level was at least the loss.
  const std::uint32_t biased = (spread(source) | 0x10 * kLow) - loss * kLow;
  const std::uint32_t kept = ((biased >> 4) & kLow) * 0xF;
  std::uint32_t lit = biased & kept & 0x0F * kLow;
  if (direction == kDown && falloff == 0 && (source >> 12) == 15) lit |= 0x0F000000u;  // sky falls
  // Channel by channel maximum with `current`: the same borrow trick on 16 + lit - cur.
  const std::uint32_t cur = spread(current);
  const std::uint32_t higher = (((lit | 0x10 * kLow) - cur) >> 4) & kLow;  // lit >= cur
  const std::uint32_t pick = higher * 0xF;
  const std::uint32_t out = (lit & pick) | (cur & ~pick & 0x0F * kLow);
  return static_cast<std::uint16_t>((out & 0xF) | (out >> 4 & 0xF0) | (out >> 8 & 0xF00) |
                                    (out >> 12 & 0xF000));
}

// What the algorithms ask of the world.
template <class N>
concept Neighbourhood = requires(N& n, BlockPos p, std::uint16_t v) {
  { n.light(p) } -> std::same_as<std::uint16_t>;                // current light value
  { n.faces(p) } -> std::same_as<std::optional<std::uint8_t>>;  // permeability; none: not resident
  { n.falloff(p) } -> std::same_as<std::uint8_t>;               // levels lost entering the block
  { n.emission(p) } -> std::same_as<std::uint16_t>;             // light the block gives off
  n.set_light(p, v);
};

using FloodQueue = std::deque<BlockPos>;

// A box of blocks, both corners included.
struct Region {
  BlockPos low;
  BlockPos high;

  // Every block: y outermost from low to high, then z, then x innermost.
  template <class F>
  void blocks(F&& f) const {
    for (std::int64_t y = low.y; y <= high.y; ++y)
      for (std::int64_t z = low.z; z <= high.z; ++z)
        for (std::int64_t x = low.x; x <= high.x; ++x)
          f(BlockPos{static_cast<std::int32_t>(x), static_cast<std::int32_t>(y),
                     static_cast<std::int32_t>(z)});
  }
};

// Whether light moving in `direction` may enter `m`: resident, open on the face looking back.
template <Neighbourhood N>
bool open_toward(N& n, BlockPos m, unsigned direction) {
  const auto f = n.faces(m);
  return f && (*f & face_bit(direction ^ 1));
}

// Lights an emitting block and those of its neighbours open toward it, and queues them. The
// block's own faces are not consulted: a closed lamp still lights its open neighbours.
template <Neighbourhood N>
void seed_emission(N& n, BlockPos pos, FloodQueue& queue) {
  const std::uint16_t e = n.emission(pos);
  if (e == 0) return;
  n.set_light(pos, brighter(n.light(pos), e));
  queue.push_back(pos);
  for (unsigned i = 0; i < 6; ++i) {
    const auto m = neighbour(pos, i);
    if (!m || !open_toward(n, *m, i)) continue;
    const std::uint16_t current = n.light(*m);
    const std::uint16_t lit = lit_through(e, i, n.falloff(*m), current);
    if (lit != current) {
      n.set_light(*m, lit);
      queue.push_back(*m);
    }
  }
}

// Spreads light from the queued blocks until the queue is empty. Light crosses a face only when
// both blocks are open on it.
template <Neighbourhood N>
void flood(N& n, FloodQueue& queue) {
  while (!queue.empty()) {
    const BlockPos p = queue.front();
    queue.pop_front();
    const std::uint16_t lp = n.light(p);
    if (lp == 0) continue;
    const auto fp = n.faces(p);
    if (!fp) continue;
    for (unsigned i = 0; i < 6; ++i) {
      if (!(*fp & face_bit(i))) continue;
      const auto m = neighbour(p, i);
      if (!m || !open_toward(n, *m, i)) continue;
      const std::uint16_t current = n.light(*m);
      const std::uint16_t lit = lit_through(lp, i, n.falloff(*m), current);
      if (lit != current) {
        n.set_light(*m, lit);
        queue.push_back(*m);
      }
    }
  }
}

// Darkens, on `channel`, what the `level` that `pos` used to hold could have lit, and pushes
// onto `queue` the blocks lit from elsewhere. `pos` itself is the caller's to write; the caller
// floods `queue` afterwards. Emitters in or beside the dark patch are seeded again, so a closed
// lamp lights its neighbours as it did when they were first lit, whatever was removed near it.
template <Neighbourhood N>
void remove(N& n, BlockPos pos, Channel channel, std::uint8_t level, FloodQueue& queue) {
  std::deque<std::pair<BlockPos, std::uint8_t>> dark;
  std::vector<BlockPos> emitters;
  auto note_emitter = [&](BlockPos e) {
    if (channel != Channel::Sky && level_of(n.emission(e), channel) != 0) emitters.push_back(e);
  };
  dark.emplace_back(pos, level);
  while (!dark.empty()) {
    const auto [p, j] = dark.front();
    dark.pop_front();
    for (unsigned i = 0; i < 6; ++i) {
      const auto m = neighbour(p, i);
      if (!m) continue;
      if (!open_toward(n, *m, i)) {
        note_emitter(*m);
        continue;
      }
      const std::uint8_t l = level_of(n.light(*m), channel);
      if (l == 0) continue;
      const std::uint8_t f = n.falloff(*m);
      const bool column = channel == Channel::Sky && j == 15 && i == kDown && f == 0;
      if (!column) {
        const std::uint8_t loss = std::max<std::uint8_t>(f, 1);
        const std::uint8_t reach = j > loss ? static_cast<std::uint8_t>(j - loss) : 0;
        if (reach < l) {
          queue.push_back(*m);  // lit from elsewhere
          continue;
        }
      }
      n.set_light(*m, with_level(n.light(*m), channel, 0));
      note_emitter(*m);
      dark.emplace_back(*m, l);
    }
  }
  for (const BlockPos& e : emitters) seed_emission(n, e, queue);
}

}  // namespace ostrel_core::light::propagate
