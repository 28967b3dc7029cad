#pragma once
// The same bits from every build: a digest of the chunks and fluid a fixed recipe makes, over
// 27 chunks around the origin. Shared by the unit tests and the detgen_golden program.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/blake3.hpp"
#include "base/text.hpp"
#include "detgen/buffer/sample_recipe.hpp"

namespace ostrel_core::detgen::buffer::golden {

struct Digested {
  std::string hex;        // BLAKE3 over every block's 27 cell materials and fluid state, little-endian
  int cut = 0;            // chunks holding a block whose cells differ
  std::uint32_t wet = 0;  // fluid cells made
};

// The committed digests of seeds 0, 42 and 0xDEADBEEFCAFEF00D.
inline constexpr std::uint64_t kSeeds[] = {0, 42, 0xDEADBEEFCAFEF00Dull};
inline constexpr const char* kDigests[] = {
    "5cd4e6d082a9db0cd32402a7234ba6de83a454e962096bb57729ea6d6e27e9a8",
    "66b4a86b62202d42c82fa3b53e80f62c4721d74d87636099556998da50ca433e",
    "892076b3a8e0a0d4b509c62279cf5fb106e9ecac243395ec2aac5f0d904b86d9",
};

// The 27 chunks, in hashing order: chunk y 0..2 holds the surface, the sea and the pools.
inline std::vector<coords::ChunkPos> positions() {
  std::vector<coords::ChunkPos> out;
  for (std::int32_t z = -1; z <= 1; ++z) {
    for (std::int32_t y = -1; y <= 1; ++y) {
      for (std::int32_t x = -1; x <= 1; ++x) out.push_back({x, y + 1, z});
    }
  }
  return out;
}

// Folds one chunk and its fluid into `out`.
inline void add(Digested& out, blake3::Hasher& h, const chunk::Chunk& c, const fluid::layer::FluidLayer& fluid) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(4096 * 56);
  bool cut = false;
  for (std::uint16_t i = 0; i < 4096; ++i) {
    const auto cells = c.block_cells(coords::LocalPos::from_index(i));
    cut = cut || std::adjacent_find(cells.begin(), cells.end(), std::not_equal_to<>()) != cells.end();
    for (const std::uint16_t m : cells) {
      bytes.push_back(static_cast<std::uint8_t>(m));
      bytes.push_back(static_cast<std::uint8_t>(m >> 8));
    }
    const std::uint16_t f = fluid.get(i).bits;
    bytes.push_back(static_cast<std::uint8_t>(f));
    bytes.push_back(static_cast<std::uint8_t>(f >> 8));
  }
  h.update(bytes);
  out.cut += cut ? 1 : 0;
  out.wet += fluid.wet();
}

// The digest of the chunks `make(pos)` gives for positions(), in that order; `make` answers a
// chunk and its fluid.
template <class Make>
Digested digest_of(Make&& make) {
  blake3::Hasher h;
  Digested out;
  for (const coords::ChunkPos pos : positions()) {
    const auto [c, fluid] = make(pos);
    add(out, h, c, fluid);
  }
  out.hex = text::hex_bytes(h.finalize());
  return out;
}

inline Digested digest(std::uint64_t seed) {
  const sample::Recipe recipe = sample::make_recipe();
  return digest_of([&](coords::ChunkPos pos) {
    ChunkBuffer b(pos);
    sample::run(b, recipe, seed);
    return std::pair{b.to_chunk(), b.finished_fluid()};
  });
}

}  // namespace ostrel_core::detgen::buffer::golden
