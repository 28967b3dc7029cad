#pragma once
// The same bits from every build: a digest of the chunks and fluid a fixed recipe makes, over
// 27 chunks around the origin. Shared by the unit tests and the detgen_golden program.

#include <cstdint>
#include <string>
#include <vector>

#include "base/blake3.hpp"
#include "base/text.hpp"
#include "detgen/buffer/sample_recipe.hpp"

namespace ostrel_core::detgen::buffer::golden {

struct Digested {
  std::string hex;        // BLAKE3 over every block's 27 cell materials and fluid state, little-endian
  int expanded = 0;       // chunks that needed cell storage
  std::uint32_t wet = 0;  // fluid cells made
};

// The committed digests of seeds 0, 42 and 0xDEADBEEFCAFEF00D.
inline constexpr std::uint64_t kSeeds[] = {0, 42, 0xDEADBEEFCAFEF00Dull};
inline constexpr const char* kDigests[] = {
    "93f66f8af71aee0aa1e0bb67b8f30f724b648089b14823795abc13e8dff01680",
    "845c8a4b55086ab891e63916cee14df49fc58e968e1d88f487c7d3f95e065099",
    "9c4b81fd0f873aa031ef546ea0cab52db751e31f471d4761763b9e02e3acc0a3",
};

inline Digested digest(std::uint64_t seed) {
  const sample::Recipe recipe = sample::make_recipe();
  blake3::Hasher h;
  Digested out;
  std::vector<std::uint8_t> bytes;
  for (std::int32_t z = -1; z <= 1; ++z) {
    for (std::int32_t y = -1; y <= 1; ++y) {
      for (std::int32_t x = -1; x <= 1; ++x) {
        ChunkBuffer b({x, y + 1, z});  // chunk y 0..2 holds the surface, the sea and the pools
        sample::run(b, recipe, seed);
        const chunk::Chunk c = b.to_chunk();
        const auto fluid = b.finished_fluid();
        bytes.clear();
        for (std::uint16_t i = 0; i < 4096; ++i) {
          for (const std::uint16_t m : c.block_cells(coords::LocalPos::from_index(i))) {
            bytes.push_back(static_cast<std::uint8_t>(m));
            bytes.push_back(static_cast<std::uint8_t>(m >> 8));
          }
          const std::uint16_t f = fluid.get(i).bits;
          bytes.push_back(static_cast<std::uint8_t>(f));
          bytes.push_back(static_cast<std::uint8_t>(f >> 8));
        }
        h.update(bytes);
        out.expanded += b.is_expanded();
        out.wet += fluid.wet();
      }
    }
  }
  out.hex = text::hex_bytes(h.finalize());
  return out;
}

}  // namespace ostrel_core::detgen::buffer::golden
