// The same bits from every build: a digest of the chunks and fluid a fixed recipe makes.

#include "detgen/buffer/golden_buffer.hpp"

#include <gtest/gtest.h>

#include <iterator>

namespace ostrel_core::detgen::buffer {
namespace {

TEST(ChunkBufferGolden, RecipeDigests) {
  for (std::size_t i = 0; i < std::size(golden::kSeeds); ++i) {
    const golden::Digested d = golden::digest(golden::kSeeds[i]);
    EXPECT_EQ(d.hex, golden::kDigests[i]) << "seed " << golden::kSeeds[i];
    // The recipe reaches every path it is meant to: cut blocks and fluid.
    EXPECT_GT(d.cut, 0);
    EXPECT_GT(d.wet, 0u);
  }
}

}  // namespace
}  // namespace ostrel_core::detgen::buffer
