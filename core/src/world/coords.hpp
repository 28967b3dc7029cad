#pragma once
// The three integer grids of a world: whole blocks, chunks of 16^3 blocks, and sub-nodes
// (thirds of a block, called cells inside a block). Every division here rounds toward negative
// infinity and every remainder is Euclidean, on each axis separately:
//   block -1  -> chunk -1, local 15        block -17 -> chunk -2, local 15
//   block 16  -> chunk 1,  local 0
//   sub-node -1  -> chunk -1, block -1 (local 15), cell 2
//   sub-node -48 -> chunk -1, block -16 (local 0), cell 0
//   sub-node 47  -> chunk 0,  block 15, cell 2
// In the record encoding each position is its x, y, z as zigzag i32 varints, no tag or length.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <tuple>

#include <fmt/core.h>

#include "base/assert.hpp"

namespace ostrel_core::coords {

inline constexpr int kChunkSize = 16;                     // blocks along each axis of a chunk
inline constexpr int kBlocksPerChunk = 16 * 16 * 16;      // 4096
inline constexpr int kCellsPerAxis = 3;                   // cells along each axis of a block
inline constexpr int kCellsPerBlock = 3 * 3 * 3;          // 27
inline constexpr int kSubNodesPerChunkAxis = 16 * 3;      // 48

// floor(a / b) for b > 0, exact for every a including INT32_MIN.
constexpr std::int32_t floor_div(std::int32_t a, std::int32_t b) {
  std::int32_t q = a / b;
  if (a % b != 0 && a < 0) --q;
  return q;
}
// a mod b in 0..b-1 for b > 0.
constexpr std::int32_t floor_mod(std::int32_t a, std::int32_t b) {
  std::int32_t r = a % b;
  return r < 0 ? r + b : r;
}

// A block within its chunk: each coordinate 0..15.
struct LocalPos {
  std::uint8_t x = 0;
  std::uint8_t y = 0;
  std::uint8_t z = 0;

  // Local block index x + 16y + 256z, 0..4095.
  constexpr std::uint16_t index() const {
    return static_cast<std::uint16_t>(x + 16 * y + 256 * z);
  }
  // REQUIRES: i < 4096.
  static constexpr LocalPos from_index(std::uint16_t i) {
    OSTREL_ASSERT(i < 4096);
    return {static_cast<std::uint8_t>(i & 15), static_cast<std::uint8_t>((i >> 4) & 15),
            static_cast<std::uint8_t>((i >> 8) & 15)};
  }
  friend constexpr bool operator==(const LocalPos&, const LocalPos&) = default;
};

// A cell within its block: each coordinate 0..2.
struct CellPos {
  std::uint8_t x = 0;
  std::uint8_t y = 0;
  std::uint8_t z = 0;

  // Cell index x + 3y + 9z, 0..26.
  constexpr std::uint8_t index() const { return static_cast<std::uint8_t>(x + 3 * y + 9 * z); }
  // REQUIRES: i < 27.
  static constexpr CellPos from_index(std::uint8_t i) {
    OSTREL_ASSERT(i < 27);
    return {static_cast<std::uint8_t>(i % 3), static_cast<std::uint8_t>(i / 3 % 3),
            static_cast<std::uint8_t>(i / 9)};
  }
  friend constexpr bool operator==(const CellPos&, const CellPos&) = default;
};

struct BlockPos;

// A chunk; chunk c covers blocks 16c .. 16c + 15 on each axis.
struct ChunkPos {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t z = 0;

  static constexpr auto fields() { return std::tuple{&ChunkPos::x, &ChunkPos::y, &ChunkPos::z}; }
  friend constexpr bool operator==(const ChunkPos&, const ChunkPos&) = default;
  friend constexpr auto operator<=>(const ChunkPos&, const ChunkPos&) = default;

  // The block at `local` in this chunk. Wraps like two's complement beyond the i32 range.
  constexpr BlockPos block(LocalPos local) const;
  // Every block of the chunk has an i32 position: -2^27 <= each coordinate < 2^27.
  constexpr bool addressable() const {
    constexpr std::int32_t lo = -(1 << 27), hi = (1 << 27) - 1;
    return x >= lo && x <= hi && y >= lo && y <= hi && z >= lo && z <= hi;
  }
  constexpr bool contains(const BlockPos& b) const;
  constexpr bool contains(const struct SubNodePos& s) const;
};

// A block in whole-block coordinates.
struct BlockPos {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t z = 0;

  static constexpr auto fields() { return std::tuple{&BlockPos::x, &BlockPos::y, &BlockPos::z}; }
  friend constexpr bool operator==(const BlockPos&, const BlockPos&) = default;
  friend constexpr auto operator<=>(const BlockPos&, const BlockPos&) = default;

  // floor(b / 16): an arithmetic shift right by 4.
  constexpr ChunkPos chunk() const { return {x >> 4, y >> 4, z >> 4}; }
  // b mod 16: b & 15.
  constexpr LocalPos local() const {
    return {static_cast<std::uint8_t>(x & 15), static_cast<std::uint8_t>(y & 15),
            static_cast<std::uint8_t>(z & 15)};
  }
  constexpr std::uint16_t local_index() const { return local().index(); }
  // The sub-node of `cell` in this block. Wraps like two's complement beyond the i32 range.
  constexpr struct SubNodePos sub_node(CellPos cell) const;
};

// A sub-node in thirds of a block; sub-node s lies in block floor(s / 3).
struct SubNodePos {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t z = 0;

  static constexpr auto fields() {
    return std::tuple{&SubNodePos::x, &SubNodePos::y, &SubNodePos::z};
  }
  friend constexpr bool operator==(const SubNodePos&, const SubNodePos&) = default;

  constexpr BlockPos block() const {
    return {floor_div(x, 3), floor_div(y, 3), floor_div(z, 3)};
  }
  // floor(s / 48), the same as the chunk of block().
  constexpr ChunkPos chunk() const {
    return {floor_div(x, kSubNodesPerChunkAxis), floor_div(y, kSubNodesPerChunkAxis),
            floor_div(z, kSubNodesPerChunkAxis)};
  }
  constexpr CellPos cell() const {
    return {static_cast<std::uint8_t>(floor_mod(x, 3)), static_cast<std::uint8_t>(floor_mod(y, 3)),
            static_cast<std::uint8_t>(floor_mod(z, 3))};
  }
  constexpr std::uint8_t cell_index() const { return cell().index(); }
};

constexpr BlockPos ChunkPos::block(LocalPos local) const {
  auto axis = [](std::int32_t c, std::uint8_t l) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(c) * 16u + l);
  };
  return {axis(x, local.x), axis(y, local.y), axis(z, local.z)};
}
constexpr SubNodePos BlockPos::sub_node(CellPos cell) const {
  auto axis = [](std::int32_t b, std::uint8_t c) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(b) * 3u + c);
  };
  return {axis(x, cell.x), axis(y, cell.y), axis(z, cell.z)};
}
constexpr bool ChunkPos::contains(const BlockPos& b) const { return b.chunk() == *this; }
constexpr bool ChunkPos::contains(const SubNodePos& s) const { return s.chunk() == *this; }

// Structured debugging forms, as written in log fields: "ChunkPos { x: 1, y: -2, z: 3 }".
std::string debug_string(const ChunkPos& p);
std::string debug_string(const BlockPos& p);
std::string debug_string(const SubNodePos& p);

}  // namespace ostrel_core::coords

namespace ostrel_core::coords::detail {
constexpr std::size_t hash3(std::int32_t x, std::int32_t y, std::int32_t z) {
  // Mixes the three axes so neighbouring positions land in different buckets.
  std::uint64_t h = static_cast<std::uint32_t>(x);
  h = h * 0x9E3779B97F4A7C15ull ^ static_cast<std::uint32_t>(y);
  h = h * 0x9E3779B97F4A7C15ull ^ static_cast<std::uint32_t>(z);
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  return static_cast<std::size_t>(h);
}
}  // namespace ostrel_core::coords::detail

template <>
struct std::hash<ostrel_core::coords::BlockPos> {
  std::size_t operator()(const ostrel_core::coords::BlockPos& p) const noexcept {
    return ostrel_core::coords::detail::hash3(p.x, p.y, p.z);
  }
};
template <>
struct std::hash<ostrel_core::coords::ChunkPos> {
  std::size_t operator()(const ostrel_core::coords::ChunkPos& p) const noexcept {
    return ostrel_core::coords::detail::hash3(p.x, p.y, p.z);
  }
};
template <>
struct std::hash<ostrel_core::coords::SubNodePos> {
  std::size_t operator()(const ostrel_core::coords::SubNodePos& p) const noexcept {
    return ostrel_core::coords::detail::hash3(p.x, p.y, p.z);
  }
};

// fmt prints the debugging form, so `fmt::format("{}", pos)` works in messages and log fields.
namespace ostrel_core::coords::detail {
struct DebugFormatter {
  constexpr auto parse(fmt::format_parse_context& ctx) { return ctx.begin(); }
  template <class P>
  auto format(const P& p, fmt::format_context& ctx) const {
    return fmt::format_to(ctx.out(), "{}", ostrel_core::coords::debug_string(p));
  }
};
}  // namespace ostrel_core::coords::detail

template <>
struct fmt::formatter<ostrel_core::coords::ChunkPos> : ostrel_core::coords::detail::DebugFormatter {};
template <>
struct fmt::formatter<ostrel_core::coords::BlockPos> : ostrel_core::coords::detail::DebugFormatter {};
template <>
struct fmt::formatter<ostrel_core::coords::SubNodePos>
    : ostrel_core::coords::detail::DebugFormatter {};
