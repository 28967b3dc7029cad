#include "world/lod.hpp"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>
#include <zstd.h>

#include "world/block.hpp"
#include "world/chunk.hpp"
#include "world/coords.hpp"
#include "fluid/fluid.hpp"
#include "fluid/layer.hpp"

namespace ostrel_core::lod {
namespace {

using block::BlockValue;
using coords::LocalPos;
using fluid::Fluid;
using fluid::layer::FluidLayer;

constexpr MaterialId kStone = 3;
constexpr MaterialId kDirt = 4;
constexpr MaterialId kWaterBlock = 12;
constexpr coords::ChunkPos kPos{1, -2, 3};

// Fluid 1 draws as kWaterBlock, fluid 2 is a placeholder (air).
fluid::Fluids two_fluids() {
  fluid::Fluids fluids;
  fluid::Registered water;
  water.name = "m:water";
  water.material = kWaterBlock;
  EXPECT_EQ(fluids.register_fluid(water), fluid::FluidId{1});
  EXPECT_EQ(fluids.register_placeholder("gone:lava"), fluid::FluidId{2});
  return fluids;
}

// The first `n` cells filled.
std::uint32_t first_cells(unsigned n) { return (1u << n) - 1; }

// Throws (failing the test) when the cells do not fit the level.
Summary summary_of(std::uint8_t level, std::vector<MaterialId> cells) {
  return Summary::of_cells(level, std::move(cells)).value();
}

std::vector<std::uint8_t> decompress(std::span<const std::uint8_t> frame) {
  const auto size = ZSTD_getFrameContentSize(frame.data(), frame.size());
  EXPECT_NE(size, ZSTD_CONTENTSIZE_ERROR);
  EXPECT_NE(size, ZSTD_CONTENTSIZE_UNKNOWN);
  std::vector<std::uint8_t> out(size);
  const auto n = ZSTD_decompress(out.data(), out.size(), frame.data(), frame.size());
  EXPECT_FALSE(ZSTD_isError(n)) << ZSTD_getErrorName(n);
  out.resize(n);
  return out;
}

TEST(SolidMajority, CountsOnlySolidIdsAndBreaksTiesLow) {
  struct Case {
    const char* name;
    std::vector<MaterialId> ids;
    std::size_t min;
    MaterialId want;
  };
  const Case cases[] = {
      {"3_stone_5_air", {3, 3, 3, 0, 0, 0, 0, 0}, 4, 0},
      {"4_stone_4_air", {0, 3, 0, 3, 0, 3, 0, 3}, 4, 3},
      {"2_of_5_2_of_3_4_air", {5, 0, 5, 0, 3, 0, 3, 0}, 4, 3},
      {"tie_smaller_first_seen_last", {9, 9, 2, 2, 0, 0, 0, 0}, 4, 2},
      {"plurality_not_smallest", {2, 7, 7, 7, 1, 0, 0, 0}, 4, 7},
      {"all_air", {0, 0, 0, 0, 0, 0, 0, 0}, 4, 0},
      {"min_zero_all_air", {0, 0}, 0, 0},
      {"8_solid_of_27", {4, 4, 4, 4, 4, 4, 4, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 9, 0},
      {"9_solid_of_27", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4, 4, 4, 4}, 9, 4},
      {"high_ids", {0xFFFF, 0xFFFF, 0xFFFE, 0, 0, 0, 0, 0}, 2, 0xFFFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(solid_majority(c.ids, c.min), c.want);
  }
}

TEST(SolidMajority, LongListsAreCountedToo) {
  std::vector<MaterialId> ids(100, 0);
  for (int i = 0; i < 30; ++i) ids[i] = 8;
  for (int i = 30; i < 60; ++i) ids[i] = 6;
  ids[99] = 1;
  EXPECT_EQ(solid_majority(ids, 50), 6);
  EXPECT_EQ(solid_majority(ids, 62), 0);
}

TEST(Summary, OfCellsChecksLevelAndSize) {
  EXPECT_TRUE(Summary::of_cells(1, std::vector<MaterialId>(4096)).has_value());
  EXPECT_TRUE(Summary::of_cells(5, std::vector<MaterialId>(1)).has_value());
  EXPECT_FALSE(Summary::of_cells(0, std::vector<MaterialId>(8192)).has_value());
  EXPECT_FALSE(Summary::of_cells(6, std::vector<MaterialId>(1)).has_value());
  EXPECT_FALSE(Summary::of_cells(2, std::vector<MaterialId>(511)).has_value());
}

TEST(Summary, CoarserTakesChildrenInIndexOrder) {
  // Level 4 (side 2) to level 5: the one cell's children are the eight cells.
  struct Case {
    const char* name;
    std::vector<MaterialId> children;
    MaterialId want;
  };
  const Case cases[] = {
      {"3_stone_5_air", {3, 0, 3, 0, 3, 0, 0, 0}, 0},
      {"4_stone_4_air", {3, 0, 3, 0, 3, 0, 3, 0}, 3},
      {"2_of_5_2_of_3", {5, 5, 3, 3, 0, 0, 0, 0}, 3},
      {"all_solid", {7, 7, 7, 7, 7, 7, 7, 7}, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto up = summary_of(4, c.children).coarser();
    ASSERT_TRUE(up.has_value());
    EXPECT_EQ(up->level(), 5);
    ASSERT_EQ(up->cells().size(), 1u);
    EXPECT_EQ(up->cells()[0], c.want);
  }
  EXPECT_FALSE(summary_of(5, {kStone}).coarser().has_value());
}

TEST(Summary, CoarserGroupsTheRightChildren) {
  // Level 3 (side 4): each octant holds one material, so a wrong child offset mixes them.
  std::vector<MaterialId> cells(64);
  for (std::size_t z = 0; z < 4; ++z)
    for (std::size_t y = 0; y < 4; ++y)
      for (std::size_t x = 0; x < 4; ++x)
        cells[x + 4 * y + 16 * z] = static_cast<MaterialId>(10 + (x / 2) + 2 * (y / 2) + 4 * (z / 2));
  auto up = summary_of(3, cells).coarser();
  ASSERT_TRUE(up.has_value());
  EXPECT_EQ(up->level(), 4);
  const std::vector<MaterialId> want = {10, 11, 12, 13, 14, 15, 16, 17};
  EXPECT_TRUE(std::equal(up->cells().begin(), up->cells().end(), want.begin(), want.end()));
}

TEST(Rings, ClassifyBands) {
  const Rings rings{.width = 4, .margin = 1};
  struct Case {
    std::uint32_t distance;
    Detail want;
  };
  // Both edges of every band.
  const Case cases[] = {
      {0, Detail::full()},         {4, Detail::full()},          {5, Detail::summary(1)},
      {7, Detail::summary(1)},     {8, Detail::summary(2)},      {15, Detail::summary(2)},
      {16, Detail::summary(3)},    {31, Detail::summary(3)},     {32, Detail::summary(4)},
      {63, Detail::summary(4)},    {64, Detail::summary(5)},     {1000, Detail::summary(5)},
      {4294967295u, Detail::summary(5)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.distance);
    EXPECT_EQ(rings.classify(c.distance), c.want);
  }
}

TEST(Rings, StableLevelHoldsInsideTheMargin) {
  const Rings rings{.width = 4, .margin = 1};
  struct Case {
    const char* name;
    std::optional<Detail> previous;
    std::uint32_t distance;
    Detail want;
  };
  const Case cases[] = {
      {"not_held_takes_band", std::nullopt, 5, Detail::summary(1)},
      {"not_held_full", std::nullopt, 4, Detail::full()},
      {"full_stays_at_5", Detail::full(), 5, Detail::full()},
      {"full_to_level_1_at_6", Detail::full(), 6, Detail::summary(1)},
      {"level_1_stays_at_8", Detail::summary(1), 8, Detail::summary(1)},
      {"level_1_to_2_at_9", Detail::summary(1), 9, Detail::summary(2)},
      {"level_1_stays_back_at_4", Detail::summary(1), 4, Detail::summary(1)},
      {"level_1_to_full_at_3", Detail::summary(1), 3, Detail::full()},
      {"same_band_unchanged", Detail::summary(3), 20, Detail::summary(3)},
      {"far_jump", Detail::full(), 100, Detail::summary(5)},
      {"max_distance_no_overflow", Detail::summary(4), 4294967295u, Detail::summary(5)},
      {"zero_distance", Detail::summary(2), 0, Detail::full()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(rings.stable_level(c.previous, c.distance), c.want);
  }
}

TEST(Rings, ZeroWidthActsAsOne) {
  const Rings rings{.width = 0, .margin = 0};
  EXPECT_EQ(rings.classify(1), Detail::full());
  EXPECT_EQ(rings.classify(2), Detail::summary(2));
}

TEST(SummaryCodec, HeaderThenFrameOfLittleEndianCells) {
  struct Case {
    const char* name;
    std::uint8_t level;
    MaterialId fill;
  };
  const Case cases[] = {{"level_1_stone", 1, kStone}, {"level_3_high_id", 3, 0x1234}, {"level_5_stone", 5, kStone}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto s = summary_of(c.level, std::vector<MaterialId>(cells_of(c.level), c.fill));
    auto bytes = codec::encode(s);
    ASSERT_TRUE(bytes.has_value()) << bytes.error().message();
    ASSERT_GT(bytes->size(), codec::kHeaderSize);
    EXPECT_EQ((*bytes)[0], 0x01);
    EXPECT_EQ((*bytes)[1], c.level);
    const auto raw = decompress(std::span(*bytes).subspan(codec::kHeaderSize));
    ASSERT_EQ(raw.size(), 2 * cells_of(c.level));
    for (std::size_t i = 0; i < raw.size(); i += 2) {
      ASSERT_EQ(raw[i], c.fill & 0xFF) << i;
      ASSERT_EQ(raw[i + 1], c.fill >> 8) << i;
    }
  }
}

TEST(SummaryCodec, CellsKeepIndexOrder) {
  std::vector<MaterialId> cells(512);
  for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = static_cast<MaterialId>(i * 131);
  auto bytes = codec::encode(summary_of(2, cells));
  ASSERT_TRUE(bytes.has_value());
  const auto raw = decompress(std::span(*bytes).subspan(codec::kHeaderSize));
  ASSERT_EQ(raw.size(), 1024u);
  for (std::size_t i = 0; i < cells.size(); ++i) {
    ASSERT_EQ(raw[2 * i] | raw[2 * i + 1] << 8, cells[i]) << i;
  }
}

TEST(SummaryOfWet, UniformChunksGiveTheSameMaterialAtEveryLevel) {
  for (MaterialId m : {MaterialId{0}, kStone}) {
    SCOPED_TRACE(m);
    const auto chain = Summary::chain_wet(chunk::Chunk::filled(kPos, m), FluidLayer(), fluid::Fluids());
    ASSERT_EQ(chain.size(), 5u);
    const std::size_t want_cells[] = {4096, 512, 64, 8, 1};
    for (std::size_t i = 0; i < chain.size(); ++i) {
      EXPECT_EQ(chain[i].level(), i + 1);
      ASSERT_EQ(chain[i].cells().size(), want_cells[i]);
      EXPECT_EQ(std::count(chain[i].cells().begin(), chain[i].cells().end(), m),
                static_cast<std::ptrdiff_t>(want_cells[i]));
    }
  }
}

TEST(SummaryOfWet, BlockContentsAndFluid) {
  const auto fluids = two_fluids();
  struct Case {
    const char* name;
    BlockValue block;
    Fluid fluid;
    MaterialId want;
  };
  const BlockValue air = BlockValue::air();
  block::Cells nine_and_nine{};
  for (int i = 0; i < 9; ++i) nine_and_nine[i] = 5;
  for (int i = 9; i < 18; ++i) nine_and_nine[i] = kStone;
  block::Cells five_and_three{};
  for (int i = 0; i < 5; ++i) five_and_three[i] = kDirt;
  for (int i = 20; i < 23; ++i) five_and_three[i] = 6;
  block::Cells ten_of_two{};
  for (int i = 0; i < 6; ++i) ten_of_two[i] = 8;
  for (int i = 6; i < 10; ++i) ten_of_two[i] = 2;
  const Case cases[] = {
      {"whole_stone", BlockValue::whole(kStone), Fluid{}, kStone},
      {"air", air, Fluid{}, 0},
      {"partial_8_cells_is_air", BlockValue::partial(kStone, first_cells(8)), Fluid{}, 0},
      {"partial_9_cells_is_stone", BlockValue::partial(kStone, first_cells(9)), Fluid{}, kStone},
      {"mixed_tie_goes_to_smaller", BlockValue::mixed(nine_and_nine), Fluid{}, kStone},
      {"mixed_8_filled_is_air", BlockValue::mixed(five_and_three), Fluid{}, 0},
      {"mixed_majority", BlockValue::mixed(ten_of_two), Fluid{}, 8},
      {"fluid_level_13_stays_air", air, Fluid::of(1, 13), 0},
      {"fluid_level_14_shows", air, Fluid::of(1, 14), kWaterBlock},
      {"fluid_full_shows", air, Fluid::of(1, 27), kWaterBlock},
      {"placeholder_fluid_is_air", air, Fluid::of(2, 27), 0},
      {"fluid_beyond_registry_is_air", air, Fluid::of(9, 27), 0},
      {"fluid_in_thin_partial_shows", BlockValue::partial(kStone, first_cells(8)), Fluid::of(1, 20), kWaterBlock},
      {"solid_block_hides_fluid", BlockValue::whole(kDirt), Fluid::of(1, 27), kDirt},
  };
  const LocalPos at{5, 9, 14};
  const std::size_t index = at.index();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto ch = chunk::Chunk::filled(kPos, 0);
    ch.set_block_local(at, c.block);
    FluidLayer fl;
    fl.set(at.x, at.y, at.z, c.fluid);
    const auto s = Summary::of_wet(ch, fl, fluids);
    ASSERT_EQ(s.level(), 1);
    EXPECT_EQ(s.cells()[index], c.want);
    EXPECT_EQ(std::count(s.cells().begin(), s.cells().end(), 0), c.want == 0 ? 4096 : 4095);
  }
}

TEST(SummaryOfWet, CellsFollowBlockIndexOrder) {
  auto ch = chunk::Chunk::filled(kPos, 0);
  std::vector<MaterialId> want(4096, 0);
  // A column of distinct materials along each axis tells x, y and z apart.
  for (std::uint8_t i = 0; i < 16; ++i) {
    ch.set_block_local({i, 0, 0}, BlockValue::whole(static_cast<MaterialId>(100 + i)));
    ch.set_block_local({0, i, 15}, BlockValue::whole(static_cast<MaterialId>(200 + i)));
    ch.set_block_local({15, 15, i}, BlockValue::whole(static_cast<MaterialId>(300 + i)));
    want[LocalPos{i, 0, 0}.index()] = static_cast<MaterialId>(100 + i);
    want[LocalPos{0, i, 15}.index()] = static_cast<MaterialId>(200 + i);
    want[LocalPos{15, 15, i}.index()] = static_cast<MaterialId>(300 + i);
  }
  const auto s = Summary::of_wet(ch, FluidLayer(), fluid::Fluids());
  EXPECT_TRUE(std::equal(s.cells().begin(), s.cells().end(), want.begin(), want.end()));
}

TEST(SummaryOfWet, ChainHalvesEachLevel) {
  // Stone below y = 8 with a dirt slab at y = 0..1: the lower half stays solid at every level,
  // the upper half air. Water fills y = 8 to the top over x < 8.
  auto ch = chunk::Chunk::filled(kPos, 0);
  FluidLayer fl;
  for (std::uint8_t z = 0; z < 16; ++z)
    for (std::uint8_t y = 0; y < 16; ++y)
      for (std::uint8_t x = 0; x < 16; ++x) {
        if (y < 2) ch.set_block_local({x, y, z}, BlockValue::whole(kDirt));
        else if (y < 8) ch.set_block_local({x, y, z}, BlockValue::whole(kStone));
        else if (x < 8) fl.set(x, y, z, Fluid::of(1, 27));
      }
  const auto chain = Summary::chain_wet(ch, fl, two_fluids());
  ASSERT_EQ(chain.size(), 5u);
  // Level 4 (side 2): per octant, majority of its 8 level-3 children.
  const std::vector<MaterialId> level4 = {kStone, kStone, kWaterBlock, 0, kStone, kStone, kWaterBlock, 0};
  EXPECT_TRUE(std::equal(chain[3].cells().begin(), chain[3].cells().end(), level4.begin(), level4.end()));
  // Level 2 (side 8): y = 0 holds the dirt slab (2 of 2 block rows in each child), y = 1..3 stone.
  const auto& l2 = chain[1];
  EXPECT_EQ(l2.cells()[0 + 8 * 0 + 64 * 0], kDirt);
  EXPECT_EQ(l2.cells()[3 + 8 * 1 + 64 * 5], kStone);
  EXPECT_EQ(l2.cells()[2 + 8 * 6 + 64 * 7], kWaterBlock);
  EXPECT_EQ(l2.cells()[6 + 8 * 6 + 64 * 7], 0);
  // Level 5: four stone children, two water: stone.
  ASSERT_EQ(chain[4].cells().size(), 1u);
  EXPECT_EQ(chain[4].cells()[0], kStone);
}

TEST(SummaryCodec, ChainOfAChunkEncodesEveryLevel) {
  const auto chain = Summary::chain_wet(chunk::Chunk::filled(kPos, kStone), FluidLayer(), fluid::Fluids());
  for (const auto& s : chain) {
    SCOPED_TRACE(s.level());
    auto bytes = codec::encode(s);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ((*bytes)[0], 1);
    EXPECT_EQ((*bytes)[1], s.level());
    EXPECT_EQ(decompress(std::span(*bytes).subspan(codec::kHeaderSize)).size(), 2 * s.cells().size());
  }
}

}  // namespace
}  // namespace ostrel_core::lod
