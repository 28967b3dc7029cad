#include <gtest/gtest.h>

#include <limits>

#include "detgen/buffer/buffer_fixture.hpp"
#include "detgen/buffer/chunk_buffer.hpp"

namespace ostrel_core::detgen::buffer {
namespace {

using buftest::below;
using buftest::constant;
using buftest::program;
using buftest::uniform;
using density::Op;

constexpr std::uint16_t kStone = 5, kDirt = 6, kTurf = 7, kGrass = 8, kFlower = 9;
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(ChunkBufferLayers, DepthBandsAreHalfOpen) {
  const Layer layers[] = {{1, 0.0f, 0.001f, kTurf}, {1, 0.001f, 0.003f, kDirt}};
  struct Case {
    float depth;
    int want;
  };
  for (const Case c :
       {Case{0.0005f, kTurf}, Case{0.002f, kDirt}, Case{0.003f, 0}, Case{0.0f, 0}, Case{-1.0f, 0}}) {
    SCOPED_TRACE(c.depth);
    ChunkBuffer b({0, 0, 0});
    // A field that is the depth everywhere but bounds wider than it, so it is evaluated.
    const auto depth = program({Op::Const{c.depth}, Op::Coord{1}, Op::Const{1000.0f}, Op::Sub{}, Op::Max{}});
    ASSERT_TRUE(b.fill_layers(depth, constant(1.0f), 0, layers));
    EXPECT_EQ(uniform(b, 3, 3, 3), c.want);
  }
}

TEST(ChunkBufferLayers, CodesRoundHalfUp) {
  struct Case {
    float v;
    std::int32_t code;
  };
  for (const Case c : {Case{1.49f, 1}, Case{1.5f, 2}, Case{-0.5f, 0}, Case{-0.51f, -1},
                       Case{std::numeric_limits<float>::quiet_NaN(), 0}, Case{3e9f, INT32_MAX}}) {
    EXPECT_EQ(round_code(c.v), c.code) << c.v;
  }
  const Layer layers[] = {{1, 0.0f, kInf, kStone}};
  for (const Case c : {Case{1.49f, kStone}, Case{1.5f, 0}}) {
    ChunkBuffer b({0, 0, 0});
    const auto code = program({Op::Const{c.v}, Op::Coord{1}, Op::Const{1000.0f}, Op::Sub{}, Op::Max{}});
    ASSERT_TRUE(b.fill_layers(constant(1.0f), code, 0, layers));
    EXPECT_EQ(uniform(b, 0, 0, 0), c.code) << c.v;
  }
}

TEST(ChunkBufferLayers, ChunksNoLayerReachesCostNoDepthEvaluation) {
  const Layer layers[] = {{1, 0.0f, kInf, kStone}};
  ChunkBuffer air({0, 0, 0});
  ASSERT_TRUE(air.fill_layers(constant(-2.0f), constant(1.0f), 0, layers));  // nowhere underground
  EXPECT_EQ(air.evaluations(), 0u);
  ChunkBuffer other({0, 0, 0});
  ASSERT_TRUE(other.fill_layers(below(1, 8.0f), constant(4.0f), 0, layers));  // code 4 only
  EXPECT_EQ(other.evaluations(), 0u);
  EXPECT_EQ(uniform(other, 0, 0, 0), 0);
  // x - x bounds loosely (-17..17 reaches code 1) but every sample rounds to 0: the code is
  // evaluated, the depth is not.
  ChunkBuffer loose({0, 0, 0});
  const auto zero = program({Op::Coord{0}, Op::Coord{0}, Op::Sub{}, Op::Const{0.2f}, Op::Add{}});
  ASSERT_TRUE(loose.fill_layers(below(1, 8.0f), zero, 0, layers));
  EXPECT_EQ(loose.evaluations(), 1u);
  EXPECT_EQ(uniform(loose, 0, 0, 0), 0);
  ChunkBuffer hit({0, 0, 0});
  ASSERT_TRUE(hit.fill_layers(below(1, 8.0f), constant(1.0f), 0, layers));
  EXPECT_EQ(hit.evaluations(), 2u);  // the code, then the depth
  EXPECT_EQ(uniform(hit, 0, 7, 0), kStone);
  EXPECT_EQ(uniform(hit, 0, 8, 0), 0);
}

TEST(ChunkBufferLayers, LatticeAnEarlierFillEvaluatedIsReused) {
  // Depth 8 - y: the palette lays stone below y = 8, the layer turns depth 0..2 to dirt.
  const PaletteBand bands[] = {{0.0f, kStone}};
  const Layer layers[] = {{-1, 0.0f, 2.0f, kDirt}};
  const auto ground = below(1, 8.0f);
  struct Case {
    const char* name;
    density::Density depth;
    std::uint64_t layer_seed;
    std::uint64_t evaluations;  // after both fills
    int at_7, at_8;             // blocks (0, 7, 0) and (0, 8, 0)
  };
  const Case cases[] = {
      {"the same program", below(1, 8.0f), 0, 2, kDirt, 0},  // only the code is evaluated
      {"another program", below(1, 9.0f), 0, 3, kStone, kDirt},
      {"another seed", below(1, 8.0f), 1, 3, kDirt, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ChunkBuffer b({0, 0, 0});
    ASSERT_TRUE(b.fill_palette_detail(ground, 0, bands, true));
    ASSERT_TRUE(b.fill_layers(c.depth, constant(0.0f), c.layer_seed, layers));
    EXPECT_EQ(b.evaluations(), c.evaluations);
    EXPECT_EQ(uniform(b, 0, 6, 0), kStone);
    EXPECT_EQ(uniform(b, 0, 7, 0), c.at_7);
    EXPECT_EQ(uniform(b, 0, 8, 0), c.at_8);
  }
}

TEST(ChunkBufferLayers, LastCatchAllTakesWhatIsLeftAndCodesCutAtBlockEdges) {
  // Code 1 for x <= 7, 2 from x = 8; depth positive below y = 5.
  const auto code = program({Op::Coord{0}, Op::Const{7.5f}, Op::Sub{}, Op::Const{100.0f}, Op::Mul{},
                             Op::Clamp{0.0f, 1.0f}, Op::Const{1.0f}, Op::Add{}});
  const Layer layers[] = {{1, 0.0f, 2.0f, kTurf}, {-1, 0.0f, kInf, kStone}};
  ChunkBuffer b({0, 0, 0});
  ASSERT_TRUE(b.fill_layers(below(1, 5.0f), code, 0, layers));
  EXPECT_TRUE(b.is_expanded());
  EXPECT_EQ(uniform(b, 3, 4, 0), kTurf);    // depth 1
  EXPECT_EQ(uniform(b, 3, 1, 0), kStone);   // depth 4: past the turf
  EXPECT_EQ(uniform(b, 12, 4, 0), kStone);  // code 2: only the catch-all
  // Block 7 borders code 2 so it is filled cell by cell, with its own code.
  EXPECT_EQ(uniform(b, 7, 4, 0), kTurf);
  EXPECT_EQ(uniform(b, 8, 4, 0), kStone);
  EXPECT_EQ(uniform(b, 3, 5, 0), 0);
}

// Stone whole up to block row `rows` - 1 in every column.
ChunkBuffer ground(std::uint32_t rows) {
  ChunkBuffer b({0, 0, 0});
  std::vector<std::int32_t> h(256, static_cast<std::int32_t>(rows));
  EXPECT_TRUE(b.fill_below_heightmap(h, kStone));
  return b;
}

// Column (sx, sz) = (0, 0) of block (x, y, z), bottom to top.
std::array<std::uint16_t, 3> column(const ChunkBuffer& b, std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  const BlockCells c = b.block_cells(x, y, z);
  return {c[0], c[3], c[6]};
}

using Col = std::array<std::uint16_t, 3>;

TEST(ChunkBufferCover, RunsStartOnTheGroundsTopCell) {
  ChunkBuffer b = ground(8);
  BlockCells low{}, mid{};
  for (std::size_t i = 0; i < 27; ++i) {
    if ((i / 3) % 3 == 0) low[i] = kStone;
    if ((i / 3) % 3 <= 1) mid[i] = kStone;
  }
  b.set_block_cells(2, 8, 2, low);  // top cell sy = 0
  b.set_block_cells(4, 8, 4, mid);  // top cell sy = 1
  ASSERT_TRUE(b.fill_cover(kGrass, 2, nullptr, 0, {}));
  EXPECT_EQ(column(b, 0, 8, 0), (Col{kGrass, kGrass, 0}));
  EXPECT_EQ(column(b, 0, 7, 0), (Col{kStone, kStone, kStone}));
  EXPECT_EQ(column(b, 2, 8, 2), (Col{kStone, kGrass, kGrass}));
  EXPECT_EQ(column(b, 2, 9, 2), (Col{0, 0, 0}));
  EXPECT_EQ(column(b, 4, 8, 4), (Col{kStone, kStone, kGrass}));
}

TEST(ChunkBufferCover, LongRunsCarryUpAndAreCutAtTheCeiling) {
  ChunkBuffer b = ground(8);
  BlockCells two{};
  for (std::size_t i = 0; i < 27; ++i) two[i] = (i / 3) % 3 <= 1 ? kStone : 0;
  b.set_block_cells(5, 8, 5, two);
  b.set_block(7, 10, 7, kDirt);  // in the way of the run from (7, 8, 7)
  ASSERT_TRUE(b.fill_cover(kGrass, 6, nullptr, 0, {}));
  EXPECT_EQ(column(b, 5, 8, 5), (Col{kStone, kStone, kGrass}));
  EXPECT_EQ(column(b, 5, 9, 5), (Col{kGrass, kGrass, kGrass}));
  EXPECT_EQ(column(b, 5, 10, 5), (Col{kGrass, kGrass, 0}));
  EXPECT_EQ(column(b, 7, 9, 7), (Col{kGrass, kGrass, kGrass}));
  EXPECT_EQ(column(b, 7, 10, 7), (Col{kDirt, kDirt, kDirt}));

  ChunkBuffer top = ground(15);
  ASSERT_TRUE(top.fill_cover(kGrass, 9, nullptr, 0, {}));
  EXPECT_EQ(column(top, 0, 15, 0), (Col{kGrass, kGrass, kGrass}));
}

TEST(ChunkBufferCover, NeverOnPassableAndTakeDecides) {
  ChunkBuffer b = ground(4);
  ASSERT_TRUE(b.fill_cover(kGrass, 1, nullptr, 0, {}));
  EXPECT_EQ(column(b, 0, 4, 0), (Col{kGrass, 0, 0}));
  const std::uint16_t passable[] = {kGrass};
  ASSERT_TRUE(b.fill_cover(kFlower, 1, nullptr, 0, passable));
  EXPECT_EQ(column(b, 0, 4, 0), (Col{kGrass, 0, 0}));
  ASSERT_TRUE(b.fill_cover(kFlower, 1, nullptr, 0, {}));  // grass collides now
  EXPECT_EQ(column(b, 0, 4, 0), (Col{kGrass, kFlower, 0}));

  ChunkBuffer t = ground(4);
  const auto half = program({Op::Coord{0}, Op::Const{8.0f}, Op::Sub{}});  // x >= 9 only
  ASSERT_TRUE(t.fill_cover(kGrass, 1, &half, 0, {}));
  EXPECT_EQ(column(t, 3, 4, 3), (Col{0, 0, 0}));
  EXPECT_EQ(column(t, 12, 4, 3), (Col{kGrass, 0, 0}));
}

TEST(ChunkBufferCover, UniformChunksAreLeftAlone) {
  ChunkBuffer b({0, 0, 0});
  b.fill_all(kStone);
  ASSERT_TRUE(b.fill_cover(kGrass, 3, nullptr, 0, {}));
  EXPECT_FALSE(b.is_expanded());
  EXPECT_EQ(uniform(b, 15, 15, 15), kStone);
}

}  // namespace
}  // namespace ostrel_core::detgen::buffer
