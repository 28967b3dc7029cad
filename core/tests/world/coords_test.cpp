#include "world/coords.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <unordered_set>
#include <vector>

#include "proto/codec.hpp"
#include "support/hex.hpp"

namespace ostrel_core::coords {
namespace {

using test::from_hex;
using test::to_hex;

struct BlockAxisCase {
  std::int32_t block;
  std::int32_t chunk;
  std::uint8_t local;
};

TEST(Coords, BlockToChunkAndLocalRoundsDown) {
  constexpr BlockAxisCase kCases[] = {
      {-1, -1, 15}, {-17, -2, 15}, {16, 1, 0},   {0, 0, 0},       {-16, -1, 0},
      {15, 0, 15},  {-15, -1, 1},  {17, 1, 1},   {INT32_MIN, -134217728, 0},
      {INT32_MAX, 134217727, 15},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.block);
    // The same rule holds on every axis, separately.
    BlockPos b{c.block, 7, 0};
    EXPECT_EQ(b.chunk().x, c.chunk);
    EXPECT_EQ(b.local().x, c.local);
    BlockPos on_y{3, c.block, 0};
    EXPECT_EQ(on_y.chunk().y, c.chunk);
    EXPECT_EQ(on_y.local().y, c.local);
    BlockPos on_z{3, 0, c.block};
    EXPECT_EQ(on_z.chunk().z, c.chunk);
    EXPECT_EQ(on_z.local().z, c.local);
    // The block's chunk maps its local coordinate back to the block.
    EXPECT_EQ(b.chunk().block(b.local()), b);
  }
  for (std::int32_t v = -16; v <= -1; ++v) {
    BlockPos b{v, v, v};
    EXPECT_EQ(b.chunk(), (ChunkPos{-1, -1, -1}));
    EXPECT_EQ(b.local().x, v + 16);
  }
}

struct SubNodeAxisCase {
  std::int32_t sub;
  std::int32_t chunk;
  std::int32_t block;
  std::uint8_t local;
  std::uint8_t cell;
};

TEST(Coords, SubNodeToChunkBlockAndCell) {
  constexpr SubNodeAxisCase kCases[] = {
      {-1, -1, -1, 15, 2}, {-48, -1, -16, 0, 0},  {47, 0, 15, 15, 2},   {-3, -1, -1, 15, 0},
      {-2, -1, -1, 15, 1}, {0, 0, 0, 0, 0},       {48, 1, 16, 0, 0},    {-49, -2, -17, 15, 2},
      {2, 0, 0, 0, 2},     {3, 0, 1, 1, 0},       {INT32_MIN, -44739243, -715827883, 5, 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.sub);
    SubNodePos s{c.sub, c.sub, c.sub};
    EXPECT_EQ(s.chunk(), (ChunkPos{c.chunk, c.chunk, c.chunk}));
    EXPECT_EQ(s.block(), (BlockPos{c.block, c.block, c.block}));
    EXPECT_EQ(s.block().local(), (LocalPos{c.local, c.local, c.local}));
    EXPECT_EQ(s.cell(), (CellPos{c.cell, c.cell, c.cell}));
    // Rule 3 agrees with rule 1 applied to the sub-node's block.
    EXPECT_EQ(s.chunk(), s.block().chunk());
    EXPECT_TRUE(s.chunk().contains(s));
  }
}

TEST(Coords, SubNodeOfABlocksCell) {
  for (std::uint8_t i = 0; i < kCellsPerBlock; ++i) {
    SCOPED_TRACE(int{i});
    for (const BlockPos b : {BlockPos{0, 0, 0}, BlockPos{-1, 5, -17}, BlockPos{100, -100, 7}}) {
      const SubNodePos s = b.sub_node(CellPos::from_index(i));
      EXPECT_EQ(s.block(), b);
      EXPECT_EQ(s.cell_index(), i);
    }
  }
  EXPECT_EQ((BlockPos{-1, 2, -3}.sub_node(CellPos{2, 0, 1})), (SubNodePos{-1, 6, -8}));
  // Beyond the i32 range of sub-nodes the position wraps like two's complement.
  EXPECT_EQ((BlockPos{INT32_MAX, INT32_MIN, 715827882}.sub_node(CellPos{1, 0, 2})),
            (SubNodePos{INT32_MAX - 1, INT32_MIN, INT32_MIN}));
}

TEST(Coords, IndicesOfBlocksAndCells) {
  EXPECT_EQ((BlockPos{-1, -1, -1}).local_index(), 4095);
  EXPECT_EQ((BlockPos{16, 0, 0}).local_index(), 0);
  EXPECT_EQ((BlockPos{16, 0, 0}).chunk(), (ChunkPos{1, 0, 0}));
  EXPECT_EQ((BlockPos{1, 2, 3}).local_index(), 1 + 32 + 768);
  for (std::uint16_t i = 0; i < 4096; ++i) ASSERT_EQ(LocalPos::from_index(i).index(), i);
  for (std::uint8_t i = 0; i < 27; ++i) ASSERT_EQ(CellPos::from_index(i).index(), i);
  EXPECT_EQ((CellPos{2, 1, 0}).index(), 5);
  EXPECT_EQ((CellPos{0, 0, 2}).index(), 18);
  // Mixed signs: cell index of sub-node (-1, 0, -2) is 2 + 0 + 9*1.
  EXPECT_EQ((SubNodePos{-1, 0, -2}).cell_index(), 11);
}

TEST(Coords, ContainsComparesEveryAxis) {
  ChunkPos c{-1, 0, 2};
  EXPECT_TRUE(c.contains(BlockPos{-16, 0, 32}));
  EXPECT_TRUE(c.contains(BlockPos{-1, 15, 47}));
  EXPECT_FALSE(c.contains(BlockPos{0, 0, 32}));
  EXPECT_FALSE(c.contains(BlockPos{-1, -1, 32}));
  EXPECT_FALSE(c.contains(BlockPos{-1, 0, 48}));
  EXPECT_TRUE(c.contains(SubNodePos{-48, 47, 96}));
  EXPECT_FALSE(c.contains(SubNodePos{-49, 47, 96}));
  EXPECT_FALSE(c.contains(SubNodePos{-48, 48, 96}));
}

TEST(Coords, ChunkPositionsSortByXThenYThenZ) {
  std::vector<ChunkPos> v{{1, -9, 2}, {1, -9, 0}, {0, 5, 0}, {-1, 100, 100}};
  std::sort(v.begin(), v.end());
  EXPECT_EQ(v, (std::vector<ChunkPos>{{-1, 100, 100}, {0, 5, 0}, {1, -9, 0}, {1, -9, 2}}));
  EXPECT_LT((BlockPos{0, -1, 0}), (BlockPos{0, 0, -5}));
}

TEST(Coords, HashingDistinguishesPositions) {
  std::unordered_set<ChunkPos> set;
  for (int x = -2; x <= 2; ++x)
    for (int y = -2; y <= 2; ++y)
      for (int z = -2; z <= 2; ++z) set.insert({x, y, z});
  EXPECT_EQ(set.size(), 125u);
  EXPECT_TRUE(set.contains(ChunkPos{-2, 1, 0}));
  EXPECT_FALSE(set.contains(ChunkPos{3, 0, 0}));
}

TEST(Coords, RecordEncoding) {
  EXPECT_EQ(to_hex(proto::encode(ChunkPos{-1, 1, 0})), "01 02 00");
  EXPECT_EQ(to_hex(proto::encode(BlockPos{INT32_MIN, 0, -2})), "ff ff ff ff 0f 00 03");
  EXPECT_EQ(proto::decode_exact<BlockPos>(from_hex("ff ff ff ff 0f 00 03")).value(),
            (BlockPos{INT32_MIN, 0, -2}));
  EXPECT_EQ(proto::decode_exact<SubNodePos>(from_hex("01 02 03")).value(), (SubNodePos{-1, 1, -2}));
  // Input ending inside a coordinate, and a fifth varint byte above 15, are decoding errors.
  EXPECT_FALSE(proto::decode_exact<ChunkPos>(from_hex("01 02")).has_value());
  EXPECT_FALSE(proto::decode_exact<ChunkPos>(from_hex("01 02 80")).has_value());
  EXPECT_FALSE(proto::decode_exact<ChunkPos>(from_hex("00 00 ff ff ff ff 10")).has_value());
}

TEST(Coords, DebugForm) {
  EXPECT_EQ(fmt::format("{}", ChunkPos{1, -2, 3}), "ChunkPos { x: 1, y: -2, z: 3 }");
  EXPECT_EQ(debug_string(BlockPos{0, 0, -7}), "BlockPos { x: 0, y: 0, z: -7 }");
}

}  // namespace
}  // namespace ostrel_core::coords
