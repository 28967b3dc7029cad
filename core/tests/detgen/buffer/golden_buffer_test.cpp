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

// The recipe's terraced pour runs: its `within` reads no height, so the fill is never refused,
// and it pours tar over the sea in some chunk of the 27.
TEST(ChunkBufferGolden, RecipePoursTerracedPools) {
  const sample::Recipe recipe = sample::make_recipe();
  std::uint32_t poured = 0;
  for (const coords::ChunkPos pos : golden::positions()) {
    ChunkBuffer b(pos);
    sample::run_typical(b, recipe, 0);
    ChunkBuffer before = b;
    TerracedSpec t;
    t.level = &recipe.level;
    t.within = &recipe.within;
    t.lip = sample::kLip;
    t.fluid = 2;
    const auto r = b.fill_fluid_terraced(0, t);
    ASSERT_TRUE(r.has_value()) << r.error().message();
    const auto after = b.finished_fluid(), was = before.finished_fluid();
    for (std::uint16_t i = 0; i < 4096; ++i) poured += after.get(i).bits != was.get(i).bits ? 1 : 0;
  }
  EXPECT_GT(poured, 0u);
}

}  // namespace
}  // namespace ostrel_core::detgen::buffer
