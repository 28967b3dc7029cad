#include "world/chunk.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace ostrel_core::chunk {
namespace {

using block::BlockValue;
using block::Kind;
using coords::BlockPos;
using coords::ChunkPos;
using coords::SubNodePos;

constexpr MaterialId kStone = 2;
constexpr MaterialId kDirt = 3;
constexpr MaterialId kSand = 4;

LocalPos at(int i) { return LocalPos::from_index(static_cast<std::uint16_t>(i)); }

Cells two_materials(MaterialId a, MaterialId b) {
  Cells c{};
  c[0] = a;
  c[26] = b;
  return c;
}

// Everything a write can change, for before/after comparisons.
struct Snapshot {
  ChunkParts parts;
  std::vector<std::uint16_t> free;
  std::uint32_t live;
  std::size_t mixed_live;
  friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

Snapshot snapshot(const Chunk& c) {
  return {c.to_parts(), {c.free_slots().begin(), c.free_slots().end()}, c.live_count(),
          c.mixed().live_count()};
}

TEST(Chunk, NewChunkIsOneWholeEntry) {
  for (MaterialId m : {MaterialId{0}, kStone}) {
    SCOPED_TRACE(m);
    Chunk c = Chunk::filled({1, -2, 3}, m);
    ASSERT_EQ(c.palette().size(), 1u);
    EXPECT_EQ(c.palette()[0].content, block::whole_word(m));
    EXPECT_EQ(c.palette()[0].refs, 4096u);
    EXPECT_EQ(c.palette()[0].permeability, m == 0 ? 0x3F : 0);
    EXPECT_EQ(c.live_count(), 1u);
    EXPECT_EQ(c.index_width(), 0);
    EXPECT_TRUE(c.indices().words().empty());
    EXPECT_TRUE(c.free_slots().empty());
    EXPECT_EQ(c.mixed().size(), 0u);
    EXPECT_EQ(c.get_block_local(at(4095)).material(), m);
    EXPECT_TRUE(c.check_invariants());
  }
}

TEST(Chunk, AirStoneAirWidths) {
  Chunk c = Chunk::filled({}, 0);
  c.set_block_local(at(100), BlockValue::whole(kStone));
  EXPECT_EQ(c.index_width(), 1);
  ASSERT_EQ(c.palette().size(), 2u);
  EXPECT_EQ(c.palette()[1].content, block::whole_word(kStone));
  EXPECT_EQ(c.palette()[1].permeability, 0);
  EXPECT_EQ(c.palette()[0].refs, 4095u);
  EXPECT_EQ(c.indices().get(100), 1u);
  EXPECT_TRUE(c.check_invariants());

  c.set_block_local(at(100), BlockValue::air());
  EXPECT_EQ(c.index_width(), 0);
  EXPECT_EQ(c.palette().size(), 1u);
  EXPECT_EQ(c.live_count(), 1u);
  EXPECT_TRUE(c.free_slots().empty());
  EXPECT_EQ(c.palette()[0].refs, 4096u);
  EXPECT_TRUE(c.check_invariants());
}

TEST(Chunk, ReleasingRepacksOnlyWhenFewerBitsDo) {
  Chunk c = Chunk::filled({}, 0);
  c.set_block_local(at(1), BlockValue::whole(kStone));
  c.set_block_local(at(2), BlockValue::whole(kDirt));
  c.set_block_local(at(3), BlockValue::whole(kSand));
  ASSERT_EQ(c.index_width(), 2);
  ASSERT_EQ(c.palette().size(), 4u);

  c.set_block_local(at(3), BlockValue::air());  // releases slot 3; three live entries need 2 bits
  EXPECT_EQ(c.index_width(), 2);
  EXPECT_EQ(c.palette().size(), 4u);
  EXPECT_EQ(std::vector<std::uint16_t>(c.free_slots().begin(), c.free_slots().end()),
            std::vector<std::uint16_t>{3});
  EXPECT_EQ(c.palette()[3].refs, 0u);
  EXPECT_EQ(c.live_count(), 3u);
  EXPECT_TRUE(c.check_invariants());

  c.set_block_local(at(1), BlockValue::air());  // two live entries: 1 bit
  EXPECT_EQ(c.index_width(), 1);
  ASSERT_EQ(c.palette().size(), 2u);
  EXPECT_TRUE(c.free_slots().empty());
  EXPECT_EQ(c.palette()[0].content, block::whole_word(0));
  EXPECT_EQ(c.palette()[1].content, block::whole_word(kDirt));
  EXPECT_EQ(c.indices().get(2), 1u);
  EXPECT_EQ(c.get_block_local(at(2)).material(), kDirt);
  EXPECT_TRUE(c.check_invariants());
}

TEST(Chunk, FreedSlotsAreReusedLastFreedFirst) {
  Chunk c = Chunk::filled({}, 0);
  for (int m = 1; m <= 7; ++m) c.set_block_local(at(m), BlockValue::whole(static_cast<MaterialId>(10 + m)));
  ASSERT_EQ(c.palette().size(), 8u);
  ASSERT_EQ(c.index_width(), 3);
  c.set_block_local(at(2), BlockValue::air());  // frees slot 2
  c.set_block_local(at(5), BlockValue::air());  // frees slot 5; six live entries still need 3 bits
  ASSERT_EQ(c.index_width(), 3);
  EXPECT_EQ(std::vector<std::uint16_t>(c.free_slots().begin(), c.free_slots().end()),
            (std::vector<std::uint16_t>{2, 5}));

  c.set_block_local(at(40), BlockValue::whole(50));
  EXPECT_EQ(c.indices().get(40), 5u);
  c.set_block_local(at(41), BlockValue::whole(51));
  EXPECT_EQ(c.indices().get(41), 2u);
  c.set_block_local(at(42), BlockValue::whole(52));  // nothing free: appends slot 8, 4 bits
  EXPECT_EQ(c.indices().get(42), 8u);
  EXPECT_EQ(c.index_width(), 4);
  EXPECT_TRUE(c.check_invariants());

  // A slot freed by a write is taken by the very next write.
  c.set_block_local(at(7), BlockValue::whole(kStone));  // frees slot 7 (material 17), makes slot 9
  EXPECT_EQ(c.free_slots().back(), 7);
  c.set_block_local(at(43), BlockValue::whole(53));
  EXPECT_EQ(c.indices().get(43), 7u);
  EXPECT_TRUE(c.check_invariants());
}

TEST(Chunk, WritingTheSameContentChangesNothing) {
  Chunk c = Chunk::filled({}, 0);
  c.set_block_local(at(1), BlockValue::whole(kStone));
  c.set_block_local(at(2), BlockValue::partial(kDirt, 0x1FF));
  c.set_block_local(at(3), BlockValue::mixed(two_materials(kStone, kDirt)));
  c.set_block_local(at(9), BlockValue::whole(kSand));
  c.set_block_local(at(9), BlockValue::air());  // leaves a free slot
  const Snapshot before = snapshot(c);
  c.set_block_local(at(1), BlockValue::whole(kStone));
  c.set_block_local(at(2), BlockValue::partial(kDirt, 0x1FF | 0x8000000));  // same once canonical
  c.set_block_local(at(3), BlockValue::mixed(two_materials(kStone, kDirt)));
  c.set_block_local(at(4), BlockValue::partial(0, 0x1FF));  // air over air
  EXPECT_EQ(snapshot(c), before);
  EXPECT_TRUE(c.check_invariants());
}

TEST(Chunk, ContentsAreCanonicalisedBeforeTheyAreMatched) {
  Chunk c = Chunk::filled({}, 0);
  c.set_block_local(at(1), BlockValue::whole(kStone));
  c.set_block_local(at(2), BlockValue::partial(kStone, block::kOccupancyFull));
  Cells all_stone;
  all_stone.fill(kStone);
  c.set_block_local(at(3), BlockValue::mixed(all_stone));
  ASSERT_EQ(c.palette().size(), 2u);
  EXPECT_EQ(c.palette()[1].refs, 3u);
  EXPECT_EQ(c.mixed().size(), 0u);

  Cells one_short = all_stone;
  one_short[0] = 0;
  c.set_block_local(at(4), BlockValue::mixed(one_short));
  EXPECT_EQ(c.get_block_local(at(4)).kind(), Kind::Partial);
  EXPECT_EQ(c.get_block_local(at(4)).mask(), 0x7FFFFFEu);
  EXPECT_EQ(c.palette()[2].permeability, 0x15);
  EXPECT_EQ(c.mixed().size(), 0u);
  EXPECT_TRUE(c.check_invariants());
}

TEST(Chunk, EqualMixedArraysShareOneSlot) {
  Chunk c = Chunk::filled({}, 0);
  c.set_block_local(at(1), BlockValue::whole(kStone));
  c.set_block_local(at(2), BlockValue::whole(kDirt));
  const Cells mixed = two_materials(kStone, kDirt);
  c.set_block_local(at(10), BlockValue::mixed(mixed));
  c.set_block_local(at(11), BlockValue::mixed(mixed));
  ASSERT_EQ(c.palette().size(), 4u);
  EXPECT_EQ(c.palette()[3].content, block::mixed_word(0));
  EXPECT_EQ(c.palette()[3].refs, 2u);
  EXPECT_EQ(c.mixed().size(), 1u);
  EXPECT_EQ(c.mixed().live_count(), 1u);
  EXPECT_EQ(c.mixed().find(mixed), std::optional<std::uint16_t>{0});
  EXPECT_EQ(&c.get_block_local(at(10)).mixed_cells(), &c.get_block_local(at(11)).mixed_cells());
  EXPECT_EQ(c.block_cells(at(11)), mixed);

  c.set_block_local(at(10), BlockValue::air());
  EXPECT_EQ(c.palette()[3].refs, 1u);
  EXPECT_EQ(c.mixed().live_count(), 1u);
  EXPECT_EQ(c.block_cells(at(11)), mixed);

  c.set_block_local(at(11), BlockValue::air());  // three live entries: no repack
  EXPECT_EQ(c.palette()[3].refs, 0u);
  EXPECT_EQ(c.free_slots().back(), 3);
  EXPECT_EQ(c.mixed().live_count(), 0u);
  EXPECT_EQ(std::vector<std::uint16_t>(c.mixed().free_slots().begin(), c.mixed().free_slots().end()),
            std::vector<std::uint16_t>{0});
  EXPECT_EQ(c.mixed().find(mixed), std::nullopt);
  EXPECT_TRUE(c.check_invariants());

  // The next mixed array takes the freed mixed slot and the freed palette slot.
  const Cells other = two_materials(kSand, kDirt);
  c.set_block_local(at(12), BlockValue::mixed(other));
  EXPECT_EQ(c.palette()[3].content, block::mixed_word(0));
  EXPECT_EQ(c.mixed().size(), 1u);
  EXPECT_EQ(c.block_cells(at(12)), other);
  EXPECT_TRUE(c.check_invariants());
}

TEST(Chunk, FourThousandNinetySevenContentsRepackToTwelveBits) {
  Chunk c = Chunk::filled({}, 0);
  for (int i = 1; i < 4096; ++i) c.set_block_local(at(i), BlockValue::whole(static_cast<MaterialId>(i)));
  ASSERT_EQ(c.palette().size(), 4096u);
  ASSERT_EQ(c.index_width(), 12);
  ASSERT_EQ(c.indices().words().size(), 768u);
  ASSERT_TRUE(c.check_invariants());

  // The 4097th content is appended as slot 4096 (13 bits), the entry block 7 left is
  // released, and the chunk repacks to 12 bits with the new content in the last slot.
  c.set_block_local(at(7), BlockValue::whole(5000));
  EXPECT_EQ(c.index_width(), 12);
  EXPECT_EQ(c.palette().size(), 4096u);
  EXPECT_TRUE(c.free_slots().empty());
  EXPECT_EQ(c.live_count(), 4096u);
  EXPECT_EQ(c.palette().back().content, block::whole_word(5000));
  EXPECT_EQ(c.indices().get(7), 4095u);
  EXPECT_EQ(c.get_block_local(at(7)).material(), 5000);
  EXPECT_EQ(c.get_block_local(at(6)).material(), 6);
  EXPECT_EQ(c.get_block_local(at(8)).material(), 8);
  EXPECT_EQ(c.get_block_local(at(4095)).material(), 4095);
  EXPECT_TRUE(c.check_invariants());
}

TEST(Chunk, ReadsOutsideTheChunkAreAbsent) {
  Chunk c = Chunk::filled({-1, 0, 2}, kStone);
  c.set_block_local({15, 0, 0}, BlockValue::partial(kDirt, 0b101));
  EXPECT_TRUE(c.get_block(BlockPos{-1, 0, 32}).has_value());
  EXPECT_EQ(c.get_block(BlockPos{-1, 0, 32})->kind(), Kind::Partial);
  EXPECT_EQ(c.get_block(BlockPos{-16, 15, 47})->material(), kStone);
  EXPECT_FALSE(c.get_block(BlockPos{0, 0, 32}).has_value());
  EXPECT_FALSE(c.get_block(BlockPos{-1, 16, 32}).has_value());
  EXPECT_FALSE(c.get_block(BlockPos{-1, 0, 31}).has_value());

  // Block x = -1 holds sub-nodes -3..-1; z = 32 holds 96..98.
  EXPECT_EQ(c.get_subnode(SubNodePos{-3, 0, 96}), std::optional<MaterialId>{kDirt});  // cell 0
  EXPECT_EQ(c.get_subnode(SubNodePos{-2, 0, 96}), std::optional<MaterialId>{0});      // cell 1
  EXPECT_EQ(c.get_subnode(SubNodePos{-1, 0, 96}), std::optional<MaterialId>{kDirt});  // cell 2
  EXPECT_EQ(c.get_subnode(SubNodePos{-4, 0, 96}), std::optional<MaterialId>{kStone});
  EXPECT_EQ(c.get_subnode(SubNodePos{0, 0, 96}), std::nullopt);
  EXPECT_EQ(c.get_subnode(SubNodePos{-3, 0, 95}), std::nullopt);
}

TEST(Chunk, SetSubnode) {
  Chunk c = Chunk::filled({0, 0, 0}, 0);
  const Snapshot empty = snapshot(c);
  auto outside = c.set_subnode(SubNodePos{48, 0, 0}, kStone);
  ASSERT_FALSE(outside.has_value());
  EXPECT_EQ(outside.error(), (ChunkPos{0, 0, 0}));
  EXPECT_FALSE(c.set_subnode(SubNodePos{0, -1, 0}, kStone).has_value());
  EXPECT_EQ(snapshot(c), empty);

  // Cell index 1 + 3*0 + 9*2 = 19 of block (1, 0, 0).
  ASSERT_TRUE(c.set_subnode(SubNodePos{4, 0, 2}, kStone).has_value());
  EXPECT_EQ(c.get_block_local({1, 0, 0}).kind(), Kind::Partial);
  EXPECT_EQ(c.get_block_local({1, 0, 0}).mask(), 1u << 19);
  EXPECT_EQ(c.get_subnode(SubNodePos{4, 0, 2}), std::optional<MaterialId>{kStone});
  EXPECT_EQ(c.get_subnode(SubNodePos{3, 0, 2}), std::optional<MaterialId>{0});

  // Writing what a cell holds changes nothing.
  const Snapshot one = snapshot(c);
  ASSERT_TRUE(c.set_subnode(SubNodePos{4, 0, 2}, kStone).has_value());
  ASSERT_TRUE(c.set_subnode(SubNodePos{5, 0, 2}, 0).has_value());
  EXPECT_EQ(snapshot(c), one);

  // A second material makes it mixed; clearing it again makes it Partial.
  ASSERT_TRUE(c.set_subnode(SubNodePos{3, 0, 0}, kDirt).has_value());
  EXPECT_EQ(c.get_block_local({1, 0, 0}).kind(), Kind::Mixed);
  EXPECT_EQ(c.mixed().live_count(), 1u);
  ASSERT_TRUE(c.set_subnode(SubNodePos{3, 0, 0}, 0).has_value());
  EXPECT_EQ(c.get_block_local({1, 0, 0}).kind(), Kind::Partial);

  // Clearing the last filled cell makes air, and the chunk goes back to one entry.
  ASSERT_TRUE(c.set_subnode(SubNodePos{4, 0, 2}, 0).has_value());
  EXPECT_EQ(c.get_block_local({1, 0, 0}).kind(), Kind::Whole);
  EXPECT_EQ(c.get_block_local({1, 0, 0}).material(), 0);
  EXPECT_EQ(c.palette().size(), 1u);
  EXPECT_EQ(c.index_width(), 0);
  EXPECT_TRUE(c.check_invariants());
}

TEST(Chunk, PermeabilityIsCachedPerEntry) {
  Chunk c = Chunk::filled({}, kStone);
  Cells open_top;
  open_top.fill(kStone);
  open_top[26] = 0;
  open_top[0] = kDirt;
  c.set_block_local(at(5), BlockValue::mixed(open_top));
  c.set_block_local(at(6), BlockValue::air());
  EXPECT_EQ(c.permeability_local(at(5)), 0x2A);
  EXPECT_EQ(c.permeability_local(at(6)), 0x3F);
  EXPECT_EQ(c.permeability_local(at(7)), 0);
}

// One pass over every block gives the chunk that writing them one by one gives, slot for slot:
// with the base kept, with the base gone (and then repacked or left as a free slot), with
// repeated mixed arrays, partial values and non-canonical forms.
TEST(Chunk, FilledInOrderIsTheChunkOfTheWritesInOrder) {
  struct Case {
    const char* name;
    MaterialId base;
    std::function<BlockValue(int)> value;
  };
  const Case cases[] = {
      {"all base", kStone, [](int) { return BlockValue::whole(kStone); }},
      {"base kept", 0, [](int i) { return BlockValue::whole(i % 5 == 0 ? 0 : static_cast<MaterialId>(2 + i % 3)); }},
      // Two other contents: the base freed at the last block, then repacked (live 2 fits 1 bit).
      {"base gone, repacked", 0, [](int i) { return BlockValue::whole(i < 100 ? kStone : kDirt); }},
      // Three other contents: live 3 needs the 2 bits slot 3 did, so the freed base slot stays.
      {"base gone, slot kept", 0,
       [](int i) { return BlockValue::whole(static_cast<MaterialId>(2 + i % 3)); }},
      {"base only at the end", kSand, [](int i) { return BlockValue::whole(i == 4095 ? kSand : kDirt); }},
      {"mixed arrays repeat", 0,
       [](int i) {
         return i % 7 == 0 ? BlockValue::mixed(two_materials(kStone, kDirt))
                : i % 7 == 1 ? BlockValue::mixed(two_materials(kDirt, kSand))
                             : BlockValue::whole(kStone);
       }},
      {"mixed everywhere, base gone", 0,
       [](int i) {
         return BlockValue::mixed(two_materials(static_cast<MaterialId>(2 + i % 11), kDirt));
       }},
      {"partial and non-canonical", 0,
       [](int i) {
         Cells one{};
         one[i % 27] = kSand;  // a mixed form of a one-cell partial
         return i % 3 == 0   ? BlockValue::partial(kStone, 0x1FF)
                : i % 3 == 1 ? BlockValue::mixed(one)
                             : BlockValue::partial(kDirt, block::kOccupancyFull);  // whole dirt
       }},
      {"every block its own content", 0,
       [](int i) { return BlockValue::whole(static_cast<MaterialId>(2 + i)); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ChunkPos pos{3, -1, 7};
    Chunk want = Chunk::filled(pos, c.base);
    for (int i = 0; i < 4096; ++i) want.set_block_local(at(i), c.value(i));
    const Chunk got = Chunk::filled_in_order(
        pos, c.base, [&](std::uint16_t i, Cells& out) { out = c.value(i).cells(); });
    EXPECT_TRUE(got.check_invariants());
    EXPECT_EQ(got.to_parts(), want.to_parts());
    EXPECT_EQ(got, want);
    std::vector<MaterialId> whole(4096);
    bool all_whole = true;
    for (int i = 0; i < 4096; ++i) {
      const BlockValue v = c.value(i).canonical();
      all_whole = all_whole && v.kind() == Kind::Whole;
      whole[static_cast<std::size_t>(i)] = v.material();
    }
    if (!all_whole) continue;
    // Whole materials alone: the base is the first block's.
    Chunk from_first = Chunk::filled(pos, whole[0]);
    for (int i = 0; i < 4096; ++i) from_first.set_block_local(at(i), BlockValue::whole(whole[static_cast<std::size_t>(i)]));
    EXPECT_EQ(Chunk::filled_in_order(pos, whole), from_first);
  }
}

TEST(MixedTable, HashIsFnv1aOverLowThenHighBytes) {
  // FNV-1a 64 of 54 zero bytes, and of 01 02 followed by 52 zero bytes.
  std::uint64_t zeros = 0xcbf29ce484222325ull;
  for (int i = 0; i < 54; ++i) zeros *= 0x100000001b3ull;
  EXPECT_EQ(mixed_hash(Cells{}), zeros);
  std::uint64_t h = 0xcbf29ce484222325ull;
  h = (h ^ 0x01) * 0x100000001b3ull;
  h = (h ^ 0x02) * 0x100000001b3ull;
  for (int i = 0; i < 52; ++i) h *= 0x100000001b3ull;
  Cells c{};
  c[0] = 0x0201;
  EXPECT_EQ(mixed_hash(c), h);
  Cells swapped{};
  swapped[0] = 0x0102;
  EXPECT_NE(mixed_hash(swapped), h);
}

TEST(MixedTable, InsertFindRelease) {
  MixedTable t;
  const Cells a = two_materials(2, 3);
  const Cells b = two_materials(3, 2);
  EXPECT_EQ(t.insert(a), 0);
  EXPECT_EQ(t.insert(b), 1);
  EXPECT_EQ(t.insert(a), 0);
  EXPECT_EQ(t.live_count(), 2u);
  t.release(0);
  t.release(1);
  EXPECT_EQ(t.find(a), std::nullopt);
  EXPECT_EQ(t.cells(0), a);  // a freed slot keeps its cells
  const Cells c = two_materials(4, 5);
  EXPECT_EQ(t.insert(c), 1);  // last freed first
  EXPECT_EQ(t.insert(a), 0);
  EXPECT_EQ(t.size(), 2u);
  EXPECT_TRUE(t.check_invariants());
}

}  // namespace
}  // namespace ostrel_core::chunk

namespace ostrel_core::chunk {
namespace {

TEST(ChunkDeathTest, ContractStops) {
  Chunk c = Chunk::filled({}, 0);
  EXPECT_DEATH((void)c.get_block_local({16, 0, 0}), "local block position \\(16, 0, 0\\) is outside 0..=15");
  EXPECT_DEATH(c.set_block_local({0, 0, 200}, block::BlockValue::whole(2)),
               "local block position \\(0, 0, 200\\) is outside 0..=15");
  // A table that has handed out every 16-bit slot, none of them freed.
  EXPECT_DEATH(
      {
        MixedTable t;
        Cells cells{};
        for (std::uint32_t s = 0; s <= 65536; ++s) {
          cells[0] = static_cast<MaterialId>(s);
          cells[1] = static_cast<MaterialId>(s >> 16);
          t.insert(cells);
        }
      },
      "a chunk has 4096 blocks, so it cannot need more mixed slots than that");
}

}  // namespace
}  // namespace ostrel_core::chunk
