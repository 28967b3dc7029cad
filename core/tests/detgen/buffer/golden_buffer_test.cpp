// The same bits from every build: a digest of the chunks and fluid a fixed recipe makes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/blake3.hpp"
#include "detgen/buffer/sample_recipe.hpp"
#include "support/hex.hpp"

namespace ostrel_core::detgen::buffer {
namespace {

std::string digest(std::uint64_t seed) {
  const sample::Recipe recipe = sample::make_recipe();
  blake3::Hasher h;
  int expanded = 0;
  std::uint32_t wet = 0;
  for (std::int32_t z = -1; z <= 1; ++z) {
    for (std::int32_t y = -1; y <= 1; ++y) {
      for (std::int32_t x = -1; x <= 1; ++x) {
        ChunkBuffer b({x, y + 1, z});  // chunk y 0..2 holds the surface, the sea and the pools
        sample::run(b, recipe, seed);
        const chunk::Chunk c = b.to_chunk();
        const auto fluid = b.finished_fluid();
        std::vector<std::uint8_t> bytes;
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
        expanded += b.is_expanded();
        wet += fluid.wet();
      }
    }
  }
  // The recipe reaches every path it is meant to: cell storage and fluid.
  EXPECT_GT(expanded, 0);
  EXPECT_GT(wet, 0u);
  const auto d = h.finalize();
  return test::to_hex(std::vector<std::uint8_t>(d.begin(), d.end()));
}

TEST(ChunkBufferGolden, RecipeDigests) {
  EXPECT_EQ(
      digest(0),
      "93 f6 6f 8a f7 1a ee 0a a1 e0 bb 67 b8 f3 0f 72 4b 64 80 89 b1 48 23 79 5a bc 13 e8 df f0 16 80");
  EXPECT_EQ(
      digest(42),
      "84 5c 8a 4b 55 08 6a b8 91 e6 39 16 ce e1 4d f4 9f c5 8e 96 8e 1d 88 f4 87 c7 d3 f9 5e 06 50 99");
  EXPECT_EQ(
      digest(0xDEADBEEFCAFEF00Dull),
      "9c 4b 81 fd 0f 87 3a a0 31 ef 54 6e a0 ca b5 2d b7 51 e3 1f 47 1d 47 61 76 3b 9e 02 e3 ac c0 a3");
}

}  // namespace
}  // namespace ostrel_core::detgen::buffer
