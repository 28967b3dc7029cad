#include "detgen/buffer/chunk_buffer.hpp"

#include <gtest/gtest.h>

#include <bit>

#include "detgen/buffer/buffer_fixture.hpp"
#include "world/block.hpp"

namespace ostrel_core::detgen::buffer {
namespace {

using buftest::uniform;

constexpr std::uint16_t kStone = 5;
constexpr std::uint16_t kDirt = 6;

TEST(ChunkBuffer, NewBufferIsOneEntryOfAir) {
  const ChunkBuffer b({1, -2, 3});
  EXPECT_FALSE(b.is_expanded());
  const chunk::Chunk c = b.to_chunk();
  EXPECT_EQ(c.live_count(), 1u);
  EXPECT_EQ(c.index_width(), 0u);
  EXPECT_EQ(c.get_block_local({7, 7, 7}).kind(), block::Kind::Whole);
  EXPECT_EQ(c.get_block_local({7, 7, 7}).material(), 0);
  EXPECT_EQ((c.position()), (coords::ChunkPos{1, -2, 3}));
}

TEST(ChunkBuffer, SetBlockWritesOneBlockAtEitherResolution) {
  for (bool expanded : {false, true}) {
    SCOPED_TRACE(expanded);
    ChunkBuffer b({0, 0, 0});
    if (expanded) b.expand();
    b.set_block(3, 4, 5, kStone);
    EXPECT_EQ(b.is_expanded(), expanded);
    const chunk::Chunk c = b.to_chunk();
    for (std::uint16_t i = 0; i < 4096; ++i) {
      const auto v = c.get_block_local(coords::LocalPos::from_index(i));
      EXPECT_EQ(v.material(), i == 1347 ? kStone : 0) << i;
    }
  }
  // Cells 9..11, 12..14, 15..17 are block (3, 4, 5): the cells just outside stay air.
  ChunkBuffer b({0, 0, 0});
  b.expand();
  b.set_block(3, 4, 5, kStone);
  b.set_cell(8, 12, 15, kDirt);   // block (2, 4, 5), cell 2
  b.set_cell(12, 12, 15, kDirt);  // block (4, 4, 5), cell 0
  EXPECT_EQ(uniform(b, 3, 4, 5), kStone);
  EXPECT_EQ(b.block_cells(2, 4, 5)[2], kDirt);
  EXPECT_EQ(b.filled_cells(2, 4, 5), 1u);
  EXPECT_EQ(b.block_cells(4, 4, 5)[0], kDirt);
  b.set_cell(11, 14, 17, 0);
  EXPECT_EQ(b.filled_cells(3, 4, 5), 26u);
}

TEST(ChunkBuffer, FilledCellsCountsNonEmptyCells) {
  ChunkBuffer b({0, 0, 0});
  b.set_block(1, 1, 1, kStone);
  EXPECT_EQ(b.filled_cells(0, 0, 0), 0u);
  EXPECT_EQ(b.filled_cells(1, 1, 1), 27u);
  b.set_cell(0, 0, 0, kStone);
  EXPECT_EQ(b.filled_cells(0, 0, 0), 1u);
  EXPECT_EQ(b.filled_cells(1, 1, 1), 27u);
}

TEST(ChunkBuffer, WorldCellsLandOnlyInTheirChunk) {
  struct Case {
    coords::ChunkPos chunk;
    std::int32_t x, y, z;
    bool lands;
    std::uint32_t block_x, cell;  // where it lands on x
  };
  const Case cases[] = {
      {{-1, 0, 0}, -1, 0, 0, true, 15, 2},   // local cell x 47
      {{0, 0, 0}, -1, 0, 0, false, 0, 0},    // the neighbour's
      {{0, 0, 0}, 47, 0, 0, true, 15, 2},    // last cell of chunk 0
      {{0, 0, 0}, 48, 0, 0, false, 0, 0},    // first of chunk 1
      {{-1, 0, 0}, -48, 0, 0, true, 0, 0},   // first cell of chunk -1
      {{-1, 0, 0}, -49, 0, 0, false, 0, 0},  // last of chunk -2
      {{0, -1, 0}, 0, -1, 0, true, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.x << " " << c.y << " in " << c.chunk.x << "," << c.chunk.y);
    ChunkBuffer b(c.chunk);
    EXPECT_EQ(b.set_subnode_world(c.x, c.y, c.z, kStone), c.lands);
    EXPECT_EQ(b.is_expanded(), c.lands);
    if (c.lands) {
      const std::uint32_t by = c.y < 0 ? 15 : 0;
      const std::uint32_t cy = c.y < 0 ? 2 : 0;
      EXPECT_EQ(b.block_cells(c.block_x, by, 0)[c.cell + 3 * cy], kStone);
      EXPECT_EQ(b.filled_cells(c.block_x, by, 0), 1u);
    }
  }
}

TEST(ChunkBuffer, ExpandKeepsContentFluidAndPosition) {
  ChunkBuffer b({2, -3, 4});
  for (std::uint32_t i = 0; i < 4096; i += 7)
    b.set_block(i % 16, (i / 16) % 16, i / 256, (i % 3) ? kStone : kDirt);
  b.set_fluid(1, 2, 3, fluid::Fluid::of(1, 27));
  const chunk::Chunk before = b.to_chunk();
  const auto fluid_before = b.fluid();
  b.expand();
  EXPECT_TRUE(b.is_expanded());
  EXPECT_EQ((b.pos()), (coords::ChunkPos{2, -3, 4}));
  EXPECT_EQ(b.fluid(), fluid_before);
  const chunk::Chunk after = b.to_chunk();
  for (std::uint16_t i = 0; i < 4096; ++i) {
    const auto l = coords::LocalPos::from_index(i);
    EXPECT_EQ(before.block_cells(l), after.block_cells(l)) << i;
    EXPECT_EQ(after.get_block_local(l).kind(), block::Kind::Whole) << i;
  }
}

TEST(ChunkBuffer, CellsBecomeCanonicalBlocks) {
  ChunkBuffer b({0, 0, 0});
  BlockCells stone26;
  stone26.fill(kStone);
  stone26[13] = 0;
  BlockCells mixed;
  mixed.fill(kStone);
  mixed[0] = kDirt;
  b.set_block_cells(0, 0, 0, stone26);
  b.set_block_cells(1, 0, 0, mixed);
  b.set_block_cells(2, 0, 0, BlockCells{});
  const chunk::Chunk c = b.to_chunk();
  const auto partial = c.get_block_local({0, 0, 0});
  EXPECT_EQ(partial.kind(), block::Kind::Partial);
  EXPECT_EQ(partial.material(), kStone);
  EXPECT_EQ(std::popcount(partial.mask()), 26);
  EXPECT_EQ(partial.mask() & (1u << 13), 0u);
  EXPECT_EQ(c.get_block_local({1, 0, 0}).kind(), block::Kind::Mixed);
  EXPECT_EQ(c.get_block_local({2, 0, 0}).kind(), block::Kind::Whole);
  EXPECT_EQ(c.get_block_local({2, 0, 0}).material(), 0);
}

TEST(ChunkBuffer, FillAllDropsCellsAndKeepsFluid) {
  ChunkBuffer b({0, 0, 0});
  b.set_fluid(0, 0, 0, fluid::Fluid::of(2, 10));
  b.set_cell(0, 0, 0, kStone);
  b.fill_all(kDirt);
  EXPECT_FALSE(b.is_expanded());
  EXPECT_EQ(b.fluid().get(0), fluid::Fluid::of(2, 10));
  EXPECT_EQ(b.to_chunk().live_count(), 1u);
}

TEST(ChunkBuffer, FinishedFluidFitsTheRoomLeft) {
  ChunkBuffer b({0, 0, 0});
  for (std::uint32_t x = 0; x < 3; ++x) b.set_fluid(x, 0, 0, fluid::Fluid::of(1, 27));
  BlockCells nine{};
  for (std::size_t i = 0; i < 9; ++i) nine[i] = kStone;
  b.set_block_cells(1, 0, 0, nine);  // 18 cells of room
  b.set_block(2, 0, 0, kStone);      // none
  const auto f = b.finished_fluid();
  EXPECT_EQ(f.get(0), fluid::Fluid::of(1, 27));
  EXPECT_EQ(f.get(1), fluid::Fluid::of(1, 18));
  EXPECT_EQ(f.get(2), fluid::Fluid{});
  EXPECT_EQ(f.wet(), 2u);
  // The buffer's own layer is left as poured.
  EXPECT_EQ(b.fluid().wet(), 3u);
}

TEST(ChunkBuffer, HeightmapFillsBelowEachColumn) {
  struct Case {
    std::int32_t height;
    std::uint32_t rows;
  };
  for (const Case c : {Case{40, 8}, Case{32, 0}, Case{20, 0}, Case{48, 16}, Case{1000, 16}}) {
    SCOPED_TRACE(c.height);
    ChunkBuffer b({0, 2, 0});
    std::vector<std::int32_t> h(256, c.height);
    ASSERT_TRUE(b.fill_below_heightmap(h, kStone));
    for (std::uint32_t y = 0; y < 16; ++y) EXPECT_EQ(uniform(b, 5, y, 9), y < c.rows ? kStone : 0) << y;
  }
  ChunkBuffer b({0, 0, 0});
  std::vector<std::int32_t> h(100, 5);
  const auto r = b.fill_below_heightmap(h, kStone);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(), "heightmap holds 100 columns but a chunk has 256");
  EXPECT_EQ(uniform(b, 0, 0, 0), 0);
}

}  // namespace
}  // namespace ostrel_core::detgen::buffer
