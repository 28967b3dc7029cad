#include "detgen/cells.hpp"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <limits>
#include <vector>

#include "detgen/buffer_error.hpp"

namespace ostrel_core::detgen::buffer {
namespace {

std::vector<float> lattice_of(float (*f)(std::size_t x, std::size_t y, std::size_t z)) {
  std::vector<float> l(kLatticeSamples);
  for (std::size_t z = 0; z < 18; ++z) {
    for (std::size_t y = 0; y < 18; ++y) {
      for (std::size_t x = 0; x < 18; ++x) l[x + 18 * y + 324 * z] = f(x, y, z);
    }
  }
  return l;
}

std::array<float, 27> cells(const std::vector<float>& l, std::uint32_t bx, std::uint32_t by,
                            std::uint32_t bz) {
  std::array<float, 27> out;
  trilinear_cells(std::span<const float, kLatticeSamples>(l.data(), kLatticeSamples), bx, by, bz, out);
  return out;
}

TEST(TrilinearCells, ConstantLatticeGivesConstantCells) {
  const auto l = lattice_of([](std::size_t, std::size_t, std::size_t) { return -3.25f; });
  for (std::uint32_t b : {0u, 7u, 16u}) {
    for (float v : cells(l, b, 16 - b, b)) ASSERT_EQ(v, -3.25f);
  }
}

TEST(TrilinearCells, CellCentresAlongEachAxis) {
  const float f[3] = {std::bit_cast<float>(0x3E2AAAABu), 0.5f, std::bit_cast<float>(0x3F555555u)};
  const auto along_x = cells(
      lattice_of([](std::size_t x, std::size_t, std::size_t) { return static_cast<float>(x); }), 0, 0, 0);
  const auto along_z = cells(
      lattice_of([](std::size_t, std::size_t, std::size_t z) { return static_cast<float>(z); }), 0, 5, 2);
  for (int c = 0; c < 27; ++c) {
    EXPECT_EQ(along_x[c], f[c % 3]) << c;
    EXPECT_EQ(along_z[c], 2.0f + f[c / 9]) << c;
  }
}

TEST(TrilinearCells, CornersThatAgreeInSignGiveCellsOfThatSign) {
  // A lattice of positive values from 0.001 to 1000: every cell is a convex mix, so positive.
  const auto l = lattice_of([](std::size_t x, std::size_t y, std::size_t z) {
    return 0.001f + static_cast<float>((x * 7 + y * 13 + z * 29) % 1000);
  });
  for (std::uint32_t b = 0; b <= 16; ++b) {
    for (float v : cells(l, b, (b * 3) % 17, (b * 5) % 17)) ASSERT_GT(v, 0.0f);
  }
}

TEST(BufferErrors, Texts) {
  density::DensityError stack{density::DensityErrorKind::StackUnderflow};
  stack.wanted = 2;
  struct Case {
    std::string got;
    const char* want;
  };
  const Case cases[] = {
      {BufferError{BufferErrorKind::Density, stack}.message(),
       "operation 0 wanted 2 values and the stack held 0"},
      {BufferError{BufferErrorKind::HeightmapColumns, {}, 255}.message(),
       "heightmap holds 255 columns but a chunk has 256"},
      {BufferError{BufferErrorKind::Size, {}, 0, {10, 4096}}.message(),
       "buffer holds 10 samples but the region needs 4096"},
      {BufferError{BufferErrorKind::TerracedReadsY, {}, 0, {}, -48}.message(),
       "fill_fluid_terraced reads `within` on the world plane y = 0.5, and this field answers differently "
       "there than "
       "it does over the chunk at y = -48 — so it reads height, and the fill would lay nothing anywhere. "
       "Give "
       "`within` a field that does not read y."},
      {PaletteError{PaletteErrorKind::NoBands}.message(), "a palette needs at least one band"},
      {PaletteError{PaletteErrorKind::TooManyBands, 17}.message(),
       "a palette may hold at most 16 bands, not 17"},
      {PaletteError{PaletteErrorKind::ThresholdNaN}.message(), "a palette threshold is not a number"},
      {PaletteError{PaletteErrorKind::SharedThreshold, 0, 0.1f}.message(),
       "two palette bands share the threshold 0.1"},
      {PaletteError{PaletteErrorKind::SharedThreshold, 0, -std::numeric_limits<float>::infinity()}.message(),
       "two palette bands share the threshold -inf"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

}  // namespace
}  // namespace ostrel_core::detgen::buffer
